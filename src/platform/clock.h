// Where a driver instance takes its time from: its ticks, sleeps and timed waits. The
// instance holds the system clock; a test puts a clock of its own in its place, one that it
// can move forward, so that the instance's timeouts and retry intervals pass without the
// test waiting them out.
#pragma once
#include <cstdint>

#include "platform/platform.h"

namespace zelk::plat {

class Clock {
public:
    virtual ~Clock() = default;
    // Milliseconds, 32 bits, wrapping, as TickCount.
    virtual uint32_t NowMs() const = 0;
    virtual void SleepMs(uint32_t ms) const = 0;
    // SleepMs that dispatches sent messages on Windows (SleepDispatching).
    virtual void SleepDispatching(uint32_t ms) const = 0;
    // Waits until `wake` is raised or `ms` have passed on this clock; true when it was raised.
    virtual bool WaitFor(WakeUp& wake, uint32_t ms) const = 0;
};

// TickCount, SleepMs, SleepDispatching and WakeUp::Wait.
const Clock& SystemClock();

}  // namespace zelk::plat
