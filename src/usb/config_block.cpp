// The standard configuration the driver writes on open and before every input read.
#include "usb/Vorna_FTD201.h"

namespace zelk::usb {

uint8_t ScanEntry(uint8_t rangeCode, uint8_t physInput) {
    return static_cast<uint8_t>((rangeCode & 7) * 16 + physInput);
}

TimerConfigBlock StandardConfig(const std::array<uint8_t, 16>& physInput, const std::array<uint8_t, 16>& rangeCode) {
    TimerConfigBlock b{};
    b[0] = 16;
    for (int k = 0; k < 16; ++k) b[1 + k] = ScanEntry(rangeCode[k], physInput[k]);
    b[17] = 0xD0;  // period 2000 half-microseconds (1000 us), low byte first
    b[18] = 0x07;
    b[19] = 1;  // CNT0 sampled, preset 0
    b[22] = 1;  // CNT1 sampled, preset 0
    b[25] = 1;  // DIN and DOUT sampled
    b[30] = 3;  // settling time of 500mV
    b[31] = 8;  // settling time of 200mV
    return b;
}

}  // namespace zelk::usb
