// Stopping and freeing an instance: the bodies of Done and DisposeDriver, and the reaper
// that frees an instance whose threads outlive every bounded wait of the host's thread.
//
// The host's thread never waits without a bound here: a host notification function may
// block, may SendMessage() to the very thread that is inside Done, or may never return.
// While it waits, the host's thread dispatches sent messages (Windows), so the usual GUI
// host, whose callback hands the notification to its UI with SendMessage(), finishes.
#include <atomic>
#include <vector>

#include "config/log.h"
#include "config/text.h"
#include "host/host_internal.h"
#include "usb/Vorna_FTD201.h"

namespace zelk::host {
namespace {

constexpr const char* kTagDone = "RQ_D   ";

std::atomic<int> liveReapers{0};

void TerminateConversionThreads(TData* d) {
    plat::LockGuard g(d->DataLock);
    for (auto& t : d->ConvThreads)
        if (t) t->Terminate();
}

// Waits for one thread up to `ms`; a thread that never started counts as ended.
bool Ended(TDriverThread* t, uint32_t ms, bool dispatching) {
    if (t == nullptr) return true;
    return dispatching ? t->WaitForDispatching(ms) : t->WaitFor(ms);
}

// Joins and frees the conversion threads that have ended within `ms` (shared by all of
// them); the others stay in the list. True when none is left.
bool JoinConversionThreads(TData* d, uint32_t ms, bool dispatching) {
    std::vector<std::unique_ptr<TThreadKonverze>> threads;
    {
        plat::LockGuard g(d->DataLock);
        threads.swap(d->ConvThreads);
    }
    const uint32_t start = plat::TickCount();
    std::vector<std::unique_ptr<TThreadKonverze>> left;
    for (auto& t : threads) {
        if (!t) continue;
        t->Terminate();
        const uint32_t spent = plat::TickCount() - start;
        if (Ended(t.get(), spent >= ms ? 0 : ms - spent, dispatching))
            t.reset();  // joins a thread that has returned
        else
            left.push_back(std::move(t));
    }
    if (left.empty()) return true;
    plat::LockGuard g(d->DataLock);
    for (auto& t : left) d->ConvThreads.push_back(std::move(t));
    return false;
}

void RetireCallbackThread(TData* d) {
    if (d->CallbackThread) d->RetiredThreads.push_back(std::move(d->CallbackThread));
}

// Joins the retired threads that have ended within `ms`; true when none is left.
bool JoinRetiredThreads(TData* d, uint32_t ms, bool dispatching) {
    const uint32_t start = plat::TickCount();
    auto& v = d->RetiredThreads;
    for (auto it = v.begin(); it != v.end();) {
        const uint32_t spent = plat::TickCount() - start;
        if (Ended(it->get(), spent >= ms ? 0 : ms - spent, dispatching))
            it = v.erase(it);
        else
            ++it;
    }
    return v.empty();
}

// Asks every thread of the instance to end, then waits for each within its bound and
// joins those that ended; closes a module that an ended acquisition thread left open.
// True when no thread of the instance is left.
bool StopAndJoinThreads(TData* d, uint32_t acqMs, bool dispatching) {
    d->StopRequested = 1;
    if (d->CallbackThread) d->CallbackThread->Terminate();
    if (d->AcqThread) d->AcqThread->Terminate();
    TerminateConversionThreads(d);
    for (auto& t : d->RetiredThreads) t->Terminate();

    if (d->AcqThread && Ended(d->AcqThread.get(), acqMs, dispatching)) d->AcqThread.reset();
    const bool acqEnded = !d->AcqThread;
    // Conversions can only be started by the acquisition thread: wait for them once it is gone.
    const bool convEnded = acqEnded && JoinConversionThreads(d, kConversionStopLimitMs, dispatching);
    if (d->CallbackThread && Ended(d->CallbackThread.get(), kNotifyStopLimitMs, dispatching))
        d->CallbackThread.reset();
    const bool retiredEnded = JoinRetiredThreads(d, kNotifyStopLimitMs, dispatching);
    if (acqEnded && d->Device.HandleValid) CloseModule(d);
    return acqEnded && convEnded && !d->CallbackThread && retiredEnded;
}

// Runs on the reaper's own thread: waits as long as the threads take (a host callback may
// return much later), then frees the instance.
void ReapAndFree(TData* d) {
    while (!StopAndJoinThreads(d, kReaperSliceMs, false)) {
    }
    delete d;
}

// Hands the last release of the instance to a reaper thread that keeps the library loaded
// until it is done. Without a thread the instance is left allocated: a leak is better than
// freeing memory that a running thread still uses. `afterTeardown`: a Done under way on
// another thread ends first (it stops the threads itself; the reaper only joins them).
void HandToReaper(TData* d, bool afterTeardown = false) {
    ++liveReapers;
    const bool started = plat::RunDetachedPinned([d, afterTeardown] {
        try {
            while (afterTeardown && d->InTeardown) plat::SleepMs(kTeardownPollMs);
            ReapAndFree(d);
        } catch (...) {
        }
        --liveReapers;
    });
    if (!started) --liveReapers;
}

// Marks the host's thread as waiting inside Done or DisposeDriver (nested calls check it).
class TeardownScope {
public:
    explicit TeardownScope(TData* d) : d_(d), outer_(Enter(d)) {}
    ~TeardownScope() {
        if (outer_) d_->InTeardown = 0;
    }
    bool Outer() const { return outer_; }
    // The instance is freed or handed to the reaper: the scope must not touch it any more.
    void Release() { outer_ = false; }

private:
    static bool Enter(TData* d) {
        uint8_t none = 0;
        const uint8_t where = CallbackIsCurrent(*d) ? TData::kTeardownInCallback : TData::kTeardownOnHostThread;
        return d->InTeardown.compare_exchange_strong(none, where);
    }
    TData* d_;
    bool outer_;
};

}  // namespace

uint32_t AcqStopLimitMs(const TData& d) {
    int32_t t = d.Cfg.UsbTimeout;
    if (t < 1) t = 1;
    if (t > 10000) t = 10000;
    return 4u * static_cast<uint32_t>(t) + 1000u;
}

bool CallbackIsCurrent(const TData& d) { return d.CallbackThread && d.CallbackThread->IsCurrentThread(); }

bool IsRunning(const TData& d) {
    return d.AcqThread || d.CallbackThread || d.Window || !d.ConvThreads.empty();
}

int LiveReaperCount() { return liveReapers.load(); }

bool ClearLeftovers(TData* d) {
    RetireCallbackThread(d);
    return StopAndJoinThreads(d, AcqStopLimitMs(*d), true);
}

void StopInstance(TData* d) {
    TeardownScope scope(d);
    const uint32_t limit = AcqStopLimitMs(*d);
    Log(d, kTagDone, "(0)", 2);

    // The notification thread ends within one pass, or when the host's function returns.
    if (d->CallbackThread) d->CallbackThread->Terminate();

    Log(d, kTagDone, "(1) ", 3);
    bool anyConversion;
    {
        plat::LockGuard g(d->DataLock);
        anyConversion = !d->ConvThreads.empty();
    }
    if (anyConversion) {
        TerminateConversionThreads(d);
        plat::SleepDispatching(200);
    }

    Log(d, kTagDone, "(2) ", 3);
    bool acqEnded = true;
    if (d->AcqThread) {
        d->StopRequested = 1;
        d->AcqThread->Terminate();
        const uint32_t start = plat::TickCount();
        // At least 200 ms, then until the thread has left its loop (a module command in
        // progress runs to its end), bounded by what one pass can take.
        plat::SleepDispatching(200);
        uint32_t elapsed = plat::TickCount() - start;
        acqEnded = d->AcqThread->WaitForDispatching(elapsed >= limit ? 0 : limit - elapsed);
        elapsed = plat::TickCount() - start;
        d->LastStopWaitMs = static_cast<int32_t>(elapsed);
        if (acqEnded) {
            d->AcqThread.reset();
        } else {
            // Closing the module under a running command would pull the handle away from
            // it: the module stays open until the thread is joined (next Init, DisposeDriver).
            Log(d, kTagDone, "(2a) Vlákno TUD neukončeno, USB modul zůstává otevřen"_cp, 1);
        }
    }
    if (acqEnded) JoinConversionThreads(d, kConversionStopLimitMs, true);

    Log(d, kTagDone, "(3) ", 3);
    if (acqEnded) CloseModule(d);

    Log(d, kTagDone, "(4) ", 3);
    if (d->WindowCreated && d->Window) d->Window.reset();
    d->WindowCreated = 0;

    // The host's function may still run. Done called from inside it cannot wait for its own
    // thread; otherwise wait a bounded time, then leave the thread to DisposeDriver.
    if (d->CallbackThread && !d->CallbackThread->IsCurrentThread()) {
        if (d->CallbackThread->WaitForDispatching(kNotifyStopLimitMs)) {
            d->CallbackThread.reset();
        } else {
            Log(d, kTagDone, "(4a) Vlákno TCB neukončeno"_cp, 1);
            RetireCallbackThread(d);
        }
    }

    d->Timing.Release();
    Log(d, kTagDone, "(99) ", 2);
    WriteLog(d, "Ovladač odinstalován"_cp, 0);
    CloseLog(d);
}

void DisposeInstance(TData* d) {
    const uint8_t teardown = d->InTeardown;
    if (teardown == TData::kTeardownInCallback && !CallbackIsCurrent(*d)) {
        // Done runs inside the host's notification function, on the notification thread,
        // and the host may unload the library as soon as this returns: a reaper, which keeps
        // the library loaded, frees the instance once that Done and the thread have ended.
        HandToReaper(d, true);
        return;
    }
    if (teardown != 0) {
        // Called by the host's window procedure while Done or DisposeDriver waits on this
        // thread: the outer call frees the instance when it is done with it.
        d->DisposeDeferred = 1;
        return;
    }
    TeardownScope scope(d);
    const bool fromCallback = CallbackIsCurrent(*d);
    // A window belongs to the host's thread and goes there, before anything else; from the
    // notification thread it is left to the reaper, which has it destroyed by its owner.
    if (!fromCallback) {
        d->Window.reset();
        d->WindowCreated = 0;
    }
    if (fromCallback) {
        // Freed from inside the host's notification function: that thread still runs on the
        // instance and returns into it; the reaper frees it once it has ended.
        d->StopRequested = 1;
        d->CallbackThread->Terminate();
        scope.Release();
        HandToReaper(d);
        return;
    }
    const bool joined = StopAndJoinThreads(d, AcqStopLimitMs(*d), true);
    scope.Release();
    if (joined)
        delete d;
    else
        HandToReaper(d);
}

}  // namespace zelk::host
