// The timer configuration block: the one encoder of the module settings, and the standard
// configuration the driver writes on open and before every input read.
#include <cmath>

#include "domain/timer_settings.h"
#include "domain/record_layout.h"
#include "usb/Vorna_FTD201.h"
#include "usb/protocol.h"

namespace zelk::usb {

namespace {

void PutWord(TimerConfigBlock& b, int offset, uint16_t v) {
    b[offset] = static_cast<uint8_t>(v);
    b[offset + 1] = static_cast<uint8_t>(v >> 8);
}

}  // namespace

uint8_t ScanEntry(uint8_t rangeCode, uint8_t physInput) {
    return static_cast<uint8_t>(((rangeCode & kScanRangeMask) << kScanRangeShift) + physInput);
}

uint16_t PeriodTicks(double periodUs) {
    const double t = std::nearbyint(periodUs / kPeriodTickUs);
    if (!(t >= kPeriodMinTicks)) return kPeriodMinTicks;
    if (t > kPeriodMaxTicks) return kPeriodMaxTicks;
    return static_cast<uint16_t>(t);
}

TimerConfigBlock EncodeTimerConfig(const ModuleSettings& s) {
    TimerConfigBlock b{};
    b[cfgblock::kChannelCount] = static_cast<uint8_t>(s.TimerChannelCount);
    for (int i = 0; i < cfgblock::kScanCount; ++i) b[cfgblock::kScan + i] = ScanEntry(s.RangeCode[i], s.PhysInput[i]);
    PutWord(b, cfgblock::kPeriod, PeriodTicks(s.TimerPeriodUs));
    b[cfgblock::kCnt0Enable] = EnableByte(s.Cnt0Enable);
    PutWord(b, cfgblock::kCnt0Preset, s.Cnt0Preset);
    b[cfgblock::kCnt1Enable] = EnableByte(s.Cnt1Enable);
    PutWord(b, cfgblock::kCnt1Preset, s.Cnt1Preset);
    b[cfgblock::kDinDoutEnable] = EnableByte(s.DinDoutEnable);
    for (int r = 0; r < cfgblock::kSettleCount; ++r) b[cfgblock::kSettle + r] = static_cast<uint8_t>(s.SettleTime[r]);
    return b;
}

TimerConfigBlock StandardConfig(const std::array<uint8_t, cfgblock::kScanCount>& physInput,
                                const std::array<uint8_t, cfgblock::kScanCount>& rangeCode) {
    ModuleSettings s;
    s.PhysInput = physInput;
    s.RangeCode = rangeCode;
    return EncodeTimerConfig(s);
}

}  // namespace zelk::usb
