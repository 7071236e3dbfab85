// A wait for a handle (or only for the time, with a null handle) that dispatches the
// messages other threads send to the waiting thread, so that a thread blocked here never
// blocks a SendMessage() aimed at one of its windows.
#pragma once
#include <windows.h>

#include <cstdint>

namespace zelk::plat {
// True when `h` was signalled (a mutex: acquired, also when its last owner ended without
// releasing it) within `ms`.
bool WaitHandleDispatching(HANDLE h, uint32_t ms);
}
