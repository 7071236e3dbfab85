// The analog input ranges: name, code and full scale, one row each. Range names in the
// parameter file, the range channels' texts and the scaling of samples all come from here.
#pragma once
#include <cstdint>
#include <string_view>

namespace zelk {

struct RangeInfo {
    const char* name;
    uint8_t code;
    double fullScale;  // volts
};

inline constexpr RangeInfo kRanges[] = {
    {"10V", 0, 10.0}, {"5V", 1, 5.0}, {"2V", 2, 2.0}, {"1V", 3, 1.0}, {"500mV", 4, 0.5}, {"200mV", 5, 0.2},
};
inline constexpr uint32_t kRangeCount = sizeof(kRanges) / sizeof(kRanges[0]);

// Codes without a row of their own are the widest range.
constexpr const RangeInfo& RangeOf(uint32_t code) { return code < kRangeCount ? kRanges[code] : kRanges[0]; }

// "10V" .. "200mV"; any other code is "10V".
constexpr const char* RangeName(uint32_t code) { return RangeOf(code).name; }

// The code of a range name, matched exactly; anything else is 0.
constexpr uint8_t RangeCodeOfName(std::string_view name) {
    for (const RangeInfo& r : kRanges)
        if (name == r.name) return r.code;
    return 0;
}

}  // namespace zelk
