#include "platform/clock.h"

namespace zelk::plat {

namespace {

class SystemClockImpl final : public Clock {
public:
    uint32_t NowMs() const override { return TickCount(); }
    void SleepMs(uint32_t ms) const override { plat::SleepMs(ms); }
    void SleepDispatching(uint32_t ms) const override { plat::SleepDispatching(ms); }
    bool WaitFor(WakeUp& wake, uint32_t ms) const override { return wake.Wait(ms); }
};

}  // namespace

const Clock& SystemClock() {
    // Never destroyed: a detached reaper thread may still use it while the process exits.
    static const Clock* const clock = new SystemClockImpl;
    return *clock;
}

}  // namespace zelk::plat
