#include "acquisition/acquisition.h"
#include "domain/numtext.h"

namespace zelk {

double ConvertSample(uint16_t sample, uint32_t rangeCode, double constA, double constB) {
    // Offset and divisor are both 32767: 32767 is 0 V, 0 is minus full scale.
    const double volts = (static_cast<double>(sample) - 32767.0) * FullScaleOf(rangeCode) / 32767.0;
    return (volts + constB) * constA;
}

std::string SampleValueText(double v, char separator) { return text::FormatFixed(v, 4, 9, separator) + " V"; }

}  // namespace zelk
