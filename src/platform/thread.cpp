// Threads on std::thread: the mingw posix-threads toolchain and POSIX both provide it.
#include "platform/platform.h"

#include <thread>

namespace zelk::plat {

struct Thread::Impl {
    std::thread thread;
    Event ended;
    bool started = false;
};

Thread::Thread(Body body) : impl_(std::make_unique<Impl>()), body_(std::move(body)) {}

Thread::~Thread() {
    RequestTerminate();
    if (impl_->thread.joinable()) {
        if (impl_->thread.get_id() == std::this_thread::get_id())
            impl_->thread.detach();  // a body that drops its own thread object
        else
            impl_->thread.join();
    }
}

void Thread::Start() {
    if (impl_->started) return;
    impl_->thread = std::thread([this] {
        // An exception leaving a thread would end the host's process; the bodies catch
        // their own, this is the last line.
        try {
            body_(*this);
        } catch (...) {
        }
        finished_.store(true);
        impl_->ended.Set();
    });
    impl_->started = true;
}

bool Thread::IsCurrentThread() const {
    return impl_->thread.joinable() && impl_->thread.get_id() == std::this_thread::get_id();
}

void Thread::Join() {
    if (!impl_->thread.joinable() || IsCurrentThread()) return;
    impl_->thread.join();
}

bool Thread::WaitFor(uint32_t ms) {
    if (!impl_->started) return true;
    if (IsCurrentThread()) return false;
    return impl_->ended.Wait(ms);
}

bool Thread::WaitForDispatching(uint32_t ms) {
    if (!impl_->started) return true;
    if (IsCurrentThread()) return false;
    return impl_->ended.WaitDispatching(ms);
}

}  // namespace zelk::plat
