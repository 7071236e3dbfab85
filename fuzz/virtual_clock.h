// A virtual clock for single-threaded fuzz targets, put in an instance's place of the system
// clock: a sleep or a timed wait advances the ticks at once, so that the link's poll loops and
// timeouts run their full course without costing wall time.
#pragma once
#include <atomic>
#include <cstdint>

#include "platform/clock.h"

namespace zelk::fuzz {

class VirtualClock final : public plat::Clock {
public:
    uint32_t NowMs() const override { return ticks_.load(); }
    void SleepMs(uint32_t ms) const override { ticks_.fetch_add(ms == 0 ? 1 : ms); }
    void SleepDispatching(uint32_t ms) const override { SleepMs(ms); }
    bool WaitFor(plat::WakeUp& wake, uint32_t ms) const override {
        if (wake.Wait(0)) return true;
        SleepMs(ms);
        return false;
    }

private:
    mutable std::atomic<uint32_t> ticks_{0};
};

}  // namespace zelk::fuzz
