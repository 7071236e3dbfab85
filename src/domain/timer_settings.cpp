// The standard module settings and the limits a measurement puts on them: pure, so that the
// tool's check of a parameter file reports what the driver will use.
#include <algorithm>
#include <cmath>

#include "domain/timer_settings.h"

#include "domain/record_layout.h"

namespace zelk {

void ResetModuleSettings(ModuleSettings& s) {
    s = ModuleSettings{};
    for (int i = 0; i < kAnalogCount; ++i) s.PhysInput[i] = static_cast<uint8_t>(i);
}

double SettleTimesUs(const ModuleSettings& s) {
    const uint32_t n = std::clamp<uint32_t>(s.TimerChannelCount, 1, kAnalogCount);
    double sum = 0.0;
    for (uint32_t i = 0; i < n; ++i) sum += s.SettleTime[std::min<uint8_t>(s.RangeCode[i], 5)];
    return sum;
}

double ShortestPeriodUs(const ModuleSettings& s) {
    const uint32_t n = std::clamp<uint32_t>(s.TimerChannelCount, 1, kAnalogCount);
    const double items = n + IsRecorded(s.Cnt0Enable) + IsRecorded(s.Cnt1Enable) + IsRecorded(s.DinDoutEnable);
    return std::max(kPeriodMinUs, SettleTimesUs(s) + 10.0 * items);
}

void AdjustTimerSettings(ModuleSettings& s) {
    s.TimerChannelCount = std::clamp<uint32_t>(s.TimerChannelCount, 1, kAnalogCount);
    const double shortest = ShortestPeriodUs(s);
    double p = s.TimerPeriodUs;
    if (!(p >= shortest)) p = shortest;  // also a period that is not a number
    if (p > kPeriodMaxUs) p = kPeriodMaxUs;
    s.TimerPeriodUs = std::nearbyint(p * 2.0) / 2.0;
}

}  // namespace zelk
