#include "platform/platform.h"

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace zelk::plat {

struct Event::Impl {
    mutable std::mutex m;
    std::condition_variable cv;
    bool set = false;
};

Event::Event() : impl_(std::make_unique<Impl>()) {}
Event::~Event() = default;

void Event::Set() {
    {
        std::lock_guard<std::mutex> g(impl_->m);
        impl_->set = true;
    }
    impl_->cv.notify_all();
}

bool Event::IsSet() const {
    std::lock_guard<std::mutex> g(impl_->m);
    return impl_->set;
}

bool Event::Wait(uint32_t ms) {
    std::unique_lock<std::mutex> g(impl_->m);
    return impl_->cv.wait_for(g, std::chrono::milliseconds(ms), [this] { return impl_->set; });
}

// No window system to serve: there are no sent messages to dispatch.
bool Event::WaitDispatching(uint32_t ms) { return Wait(ms); }

void SleepDispatching(uint32_t ms) { SleepMs(ms); }

}  // namespace zelk::plat
