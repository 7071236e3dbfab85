#include "window/window_gate_win32.h"

#include <windows.h>

#include "platform/dispatching_wait_win32.h"

namespace zelk::window {

namespace {

// A mutex object rather than a critical section: only a handle can be waited for while sent
// messages are dispatched. It lives as long as the process (one handle).
HANDLE GateMutex() {
    static const HANDLE h = CreateMutexW(nullptr, FALSE, nullptr);
    return h;
}

}  // namespace

WindowGate::WindowGate() {
    if (HANDLE h = GateMutex()) held_ = plat::WaitHandleDispatching(h, kWaitMs);
}

WindowGate::~WindowGate() {
    if (held_) ReleaseMutex(GateMutex());
}

}  // namespace zelk::window
