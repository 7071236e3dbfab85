#include <chrono>
#include <condition_variable>
#include <mutex>

#include "platform/platform.h"

namespace zelk::plat {

struct WakeUp::Impl {
    std::mutex m;
    std::condition_variable cv;
    bool raised = false;
};

WakeUp::WakeUp() : impl_(std::make_unique<Impl>()) {}
WakeUp::~WakeUp() = default;

void WakeUp::Raise() {
    {
        std::lock_guard<std::mutex> g(impl_->m);
        impl_->raised = true;
    }
    impl_->cv.notify_all();
}

bool WakeUp::Wait(uint32_t ms) {
    std::unique_lock<std::mutex> g(impl_->m);
    const bool raised = impl_->cv.wait_for(g, std::chrono::milliseconds(ms), [this] { return impl_->raised; });
    impl_->raised = false;
    return raised;
}

// POSIX sleeps and condition waits already last what they say.
void PreciseTimingHold::Acquire() { held_ = true; }
void PreciseTimingHold::Release() { held_ = false; }
void AllowHighResolutionTimer(bool) {}
bool HighResolutionTimerInUse() { return false; }
int TimerPeriodHolders() { return 0; }

}  // namespace zelk::plat
