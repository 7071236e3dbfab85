// Threads on std::thread: the mingw posix-threads toolchain and POSIX both provide it.
#include "platform/platform.h"

#include <condition_variable>
#include <mutex>
#include <thread>

namespace zelk::plat {

struct Thread::Impl {
    std::thread thread;
    std::mutex mutex;
    std::condition_variable done;
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
    impl_->started = true;
    impl_->thread = std::thread([this] {
        body_(*this);
        std::lock_guard<std::mutex> g(impl_->mutex);
        finished_.store(true);
        impl_->done.notify_all();
    });
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
    std::unique_lock<std::mutex> g(impl_->mutex);
    return impl_->done.wait_for(g, std::chrono::milliseconds(ms), [this] { return finished_.load(); });
}

}  // namespace zelk::plat
