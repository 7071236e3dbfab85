#include "platform/platform.h"
#include "platform/dispatching_wait_win32.h"

#include <windows.h>

#include <new>

namespace zelk::plat {

// PeekMessage with PM_QS_SENDMESSAGE delivers exactly the sent messages and leaves posted
// ones (timers, input) queued for the host's own loop.
bool WaitHandleDispatching(HANDLE h, uint32_t ms) {
    const DWORD start = GetTickCount();
    const DWORD count = h ? 1 : 0;
    for (;;) {
        const DWORD elapsed = GetTickCount() - start;
        const DWORD left = elapsed >= ms ? 0 : ms - elapsed;
        const DWORD r = MsgWaitForMultipleObjectsEx(count, h ? &h : nullptr, left, QS_SENDMESSAGE, 0);
        if (h && (r == WAIT_OBJECT_0 || r == WAIT_ABANDONED_0)) return true;
        if (r == WAIT_OBJECT_0 + count) {
            MSG msg;
            PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
            if (left == 0) break;
            continue;
        }
        break;  // timed out or failed
    }
    if (!h) return false;
    const DWORD last = WaitForSingleObject(h, 0);
    return last == WAIT_OBJECT_0 || last == WAIT_ABANDONED_0;
}

struct Event::Impl {
    HANDLE h = nullptr;
};

Event::Event() : impl_(std::make_unique<Impl>()) {
    impl_->h = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!impl_->h) throw std::bad_alloc();
}

Event::~Event() { CloseHandle(impl_->h); }

void Event::Set() { SetEvent(impl_->h); }

bool Event::IsSet() const { return WaitForSingleObject(impl_->h, 0) == WAIT_OBJECT_0; }

bool Event::Wait(uint32_t ms) { return WaitForSingleObject(impl_->h, ms) == WAIT_OBJECT_0; }

bool Event::WaitDispatching(uint32_t ms) { return WaitHandleDispatching(impl_->h, ms); }

void SleepDispatching(uint32_t ms) { WaitHandleDispatching(nullptr, ms); }

}  // namespace zelk::plat
