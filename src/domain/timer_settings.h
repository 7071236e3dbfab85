// The timer measurement's settings: one record for what the parameter file gives
// (TCFG::Timer), what the host changes (TZarizeni::Settings) and what a measurement copies
// at its start (MeasurementSnapshot::Settings), with one encoder to the module's
// configuration block (usb::EncodeTimerConfig).
#pragma once
#include <array>
#include <cstdint>

#include "domain/ranges.h"
#include "usb/protocol.h"
#include "zelk2716e.h"

namespace zelk {

constexpr int kAnalogCount = ZELK_CH_AIN_LAST - ZELK_CH_AIN0 + 1;
constexpr int kSettleCount = ZELK_CH_SETTLE_LAST - ZELK_CH_SETTLE0 + 1;  // one settle time per range
static_assert(kSettleCount == static_cast<int>(kRangeCount));
static_assert(kAnalogCount == usb::cfgblock::kScanCount && kSettleCount == usb::cfgblock::kSettleCount);

constexpr std::array<int32_t, kSettleCount> StandardSettleTimes() {
    std::array<int32_t, kSettleCount> t{};
    for (int r = 0; r < kSettleCount; ++r) t[r] = usb::kStandardSettleUs[r];
    return t;
}

// The [Měření časovačem] values. In TCFG they are as the parameter file gives them; in the
// module settings and the snapshot the settle times are the bytes the module is sent.
struct TimerSettings {
    uint32_t TimerChannelCount = usb::kStandardChannelCount;
    double TimerPeriodUs = usb::kStandardPeriodUs;
    uint16_t Cnt0Preset = 0;
    int32_t Cnt0Enable = 1;
    uint16_t Cnt1Preset = 0;
    int32_t Cnt1Enable = 1;
    int32_t DinDoutEnable = 1;
    // Microseconds per range code (10V .. 200mV).
    std::array<int32_t, kSettleCount> SettleTime = StandardSettleTimes();
};

// The module settings: the scan of the analog channels (physical input and range code of each)
// and the timer settings. The host can change them; a measurement copies them at its start.
struct ModuleSettings : TimerSettings {
    std::array<uint8_t, kAnalogCount> PhysInput{};
    std::array<uint8_t, kAnalogCount> RangeCode{};
};

// The module settings as MakeDriver leaves them: the standard configuration, channel n
// reading physical input n on the 10 V range.
void ResetModuleSettings(ModuleSettings& s);

// The settle times of the measured channels' ranges, summed (microseconds).
double SettleTimesUs(const ModuleSettings& s);
// The shortest period the settings allow: the settle times of the measured channels' ranges
// plus 10 us per measured item (each channel, each recorded counter, DIN/DOUT), at least 25 us.
double ShortestPeriodUs(const ModuleSettings& s);
// The limits a measurement puts on the settings: the channel count to 1..16, the period raised
// to the shortest, lowered to 32767.5 us and put on the 0.5 us grid.
void AdjustTimerSettings(ModuleSettings& s);

}  // namespace zelk
