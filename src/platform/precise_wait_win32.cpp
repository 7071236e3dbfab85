// Precise short waits on Windows. A high-resolution waitable timer (one per thread, made on
// first use) ends a wait within well under a millisecond; where the system has none, waits
// use the plain timeouts and the running instances hold a 1 ms timer period instead.
#include <windows.h>

#include <atomic>
#include <mutex>
#include <new>

#include "platform/platform.h"
#include "platform/precise_wait_win32.h"

#ifndef CREATE_WAITABLE_TIMER_HIGH_RESOLUTION
#define CREATE_WAITABLE_TIMER_HIGH_RESOLUTION 0x00000002
#endif

namespace zelk::plat {

namespace {

std::atomic<bool> allowHighResolution{true};

HANDLE MakeHighResolutionTimer() {
    return CreateWaitableTimerExW(nullptr, nullptr, CREATE_WAITABLE_TIMER_HIGH_RESOLUTION, TIMER_ALL_ACCESS);
}

// Whether this system makes high-resolution timers at all, asked once.
bool SystemHasHighResolutionTimer() {
    static const bool has = [] {
        HANDLE h = MakeHighResolutionTimer();
        if (!h) return false;
        CloseHandle(h);
        return true;
    }();
    return has;
}

// A timer of our own is closed again by its owner; a per-thread timer would need a
// thread_local with a destructor, which keeps the DLL loaded for as long as the thread lives.
struct OwnTimer {
    HANDLE h = nullptr;
    explicit OwnTimer(bool make) : h(make ? MakeHighResolutionTimer() : nullptr) {}
    ~OwnTimer() {
        if (h) CloseHandle(h);
    }
    OwnTimer(const OwnTimer&) = delete;
    OwnTimer& operator=(const OwnTimer&) = delete;
};

// The 1 ms timer period of the fallback, through winmm.dll loaded on first use (from the
// system folder only) so that the driver's import table stays the system's core DLLs.
using PeriodFn = UINT(WINAPI*)(UINT);
struct TimerPeriod {
    std::mutex m;
    int holders = 0;
    bool set = false;
    PeriodFn begin = nullptr;
    PeriodFn end = nullptr;
    bool Load() {
        if (begin && end) return true;
        HMODULE w = LoadLibraryExW(L"winmm.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
        if (!w) return false;
        begin = reinterpret_cast<PeriodFn>(reinterpret_cast<void*>(GetProcAddress(w, "timeBeginPeriod")));
        end = reinterpret_cast<PeriodFn>(reinterpret_cast<void*>(GetProcAddress(w, "timeEndPeriod")));
        return begin && end;
    }
};
TimerPeriod& Period() {
    static TimerPeriod p;
    return p;
}

}  // namespace

bool HighResolutionTimerInUse() { return allowHighResolution.load() && SystemHasHighResolutionTimer(); }

void AllowHighResolutionTimer(bool allowed) { allowHighResolution = allowed; }

int TimerPeriodHolders() {
    TimerPeriod& p = Period();
    std::lock_guard<std::mutex> g(p.m);
    return p.set ? p.holders : 0;
}

void PreciseTimingHold::Acquire() {
    if (held_) return;
    held_ = true;
    TimerPeriod& p = Period();
    std::lock_guard<std::mutex> g(p.m);
    if (p.holders++ == 0 && !HighResolutionTimerInUse() && p.Load()) p.set = p.begin(1) == 0;
}

void PreciseTimingHold::Release() {
    if (!held_) return;
    held_ = false;
    TimerPeriod& p = Period();
    std::lock_guard<std::mutex> g(p.m);
    if (--p.holders == 0 && p.set) {
        p.end(1);
        p.set = false;
    }
}

bool PreciseWait(HANDLE event, uint32_t ms, HANDLE timer) {
    if (ms == 0) return event && WaitForSingleObject(event, 0) == WAIT_OBJECT_0;
    if (!HighResolutionTimerInUse()) timer = nullptr;
    OwnTimer own(timer == nullptr && HighResolutionTimerInUse());
    if (!timer) timer = own.h;
    LARGE_INTEGER due;
    due.QuadPart = -static_cast<LONGLONG>(ms) * 10000;  // relative, in 100 ns units
    if (timer && SetWaitableTimer(timer, &due, 0, nullptr, nullptr, FALSE)) {
        HANDLE handles[2] = {event, timer};
        HANDLE* first = event ? handles : handles + 1;
        const DWORD count = event ? 2 : 1;
        // The plain timeout behind the timer is only a guard against a timer that never fires.
        const DWORD r = WaitForMultipleObjects(count, first, FALSE, ms + 100);
        if (event && r == WAIT_OBJECT_0) {
            CancelWaitableTimer(timer);
            return true;
        }
        return false;
    }
    if (event) return WaitForSingleObject(event, ms) == WAIT_OBJECT_0;
    Sleep(ms);
    return false;
}

// One waiting thread at a time, so the wake-up keeps one timer for all its waits.
struct WakeUp::Impl {
    HANDLE h = nullptr;
    OwnTimer timer{SystemHasHighResolutionTimer()};
};

WakeUp::WakeUp() : impl_(std::make_unique<Impl>()) {
    impl_->h = CreateEventW(nullptr, FALSE, FALSE, nullptr);  // auto-reset
    if (!impl_->h) throw std::bad_alloc();
}

WakeUp::~WakeUp() { CloseHandle(impl_->h); }

void WakeUp::Raise() { SetEvent(impl_->h); }

bool WakeUp::Wait(uint32_t ms) { return PreciseWait(impl_->h, ms, impl_->timer.h); }

}  // namespace zelk::plat
