// Stopping and freeing an instance: the bodies of Done and DisposeDriver, the lifetime steps
// that decide which of two racing calls acts, and the reaper that frees an instance whose
// threads outlive every bounded wait of the host's thread.
//
// The host's thread never waits without a bound here: a host notification function may
// block, may SendMessage() to the very thread that is inside Done, or may never return.
// While it waits, the host's thread dispatches sent messages (Windows), so the usual GUI
// host, whose callback hands the notification to its UI with SendMessage(), finishes.
#include <atomic>
#include <vector>

#include "core/log.h"
#include "domain/text.h"
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
    const uint32_t start = d->Clock->NowMs();
    std::vector<std::unique_ptr<TThreadKonverze>> left;
    for (auto& t : threads) {
        if (!t) continue;
        t->Terminate();
        const uint32_t spent = d->Clock->NowMs() - start;
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
    const uint32_t start = d->Clock->NowMs();
    auto& v = d->RetiredThreads;
    for (auto it = v.begin(); it != v.end();) {
        const uint32_t spent = d->Clock->NowMs() - start;
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
// return much later), then drops the host's reference.
void ReapAndFree(TData* d) {
    while (!StopAndJoinThreads(d, kReaperSliceMs, false)) {
    }
    ReleaseInstance(d);
}

// Hands the host's reference to a reaper thread that keeps the library loaded until it is
// done. Without a thread the instance is left allocated: a leak is better than freeing
// memory that a running thread still uses. `afterBusyCall`: a Done inside the host's
// notification function is under way; the reaper touches nothing before it has ended.
void HandToReaper(TData* d, bool afterBusyCall) {
    ++liveReapers;
    const bool started = plat::RunDetachedPinned([d, afterBusyCall] {
        try {
            if (afterBusyCall)
                while (!d->BusyCallEnded.Wait(kReaperSliceMs)) {
                }
            ReapAndFree(d);
        } catch (...) {
        }
        --liveReapers;
    });
    if (!started) --liveReapers;
}

void Hook(TData* d, LifeStep step) {
    if (const LifeHookFn f = gLifeHook.load(std::memory_order_acquire)) f(d, step);
}

thread_local const TData* notifyingFor = nullptr;

}  // namespace

std::atomic<LifeHookFn> gLifeHook{nullptr};

uint32_t AcqStopLimitMs(const TData& d) {
    int32_t t = d.Cfg.UsbTimeout;
    if (t < 1) t = 1;
    if (t > 10000) t = 10000;
    return 4u * static_cast<uint32_t>(t) + 1000u;
}

bool CallbackIsCurrent(const TData& d) { return notifyingFor == &d; }

void MarkNotificationThread(const TData& d) { notifyingFor = &d; }

bool IsRunning(const TData& d) {
    if (d.AcqThread || d.CallbackThread || d.Window) return true;
    plat::LockGuard g(d.DataLock);
    return !d.ConvThreads.empty();
}

int LiveReaperCount() { return liveReapers.load(); }

bool ClearLeftovers(TData* d) {
    RetireCallbackThread(d);
    return StopAndJoinThreads(d, AcqStopLimitMs(*d), true);
}

void StopInstance(TData* d) {
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
        d->Clock->SleepDispatching(200);
    }

    Log(d, kTagDone, "(2) ", 3);
    bool acqEnded = true;
    if (d->AcqThread) {
        d->AcqThread->Terminate();
        const uint32_t start = d->Clock->NowMs();
        // At least 200 ms, then until the thread has left its loop (a module command in
        // progress runs to its end), bounded by what one pass can take.
        d->Clock->SleepDispatching(200);
        uint32_t elapsed = d->Clock->NowMs() - start;
        acqEnded = d->AcqThread->WaitForDispatching(elapsed >= limit ? 0 : limit - elapsed);
        elapsed = d->Clock->NowMs() - start;
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
    d->Window.reset();

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

namespace {

// Carries DisposeDriver out, on the one thread that got Lifetime::Disposed: frees the
// instance now or hands it to a reaper.
void DisposeNow(TData* d) {
    if (CallbackIsCurrent(*d)) {
        // Freed from inside the host's notification function: that thread still runs on the
        // instance and returns into it; the reaper frees it once it has ended. The window
        // is left to the reaper, which has it destroyed by its owner.
        if (d->CallbackThread) d->CallbackThread->Terminate();
        HandToReaper(d, false);
        return;
    }
    // A window belongs to the host's thread and goes there, before anything else.
    d->Window.reset();
    if (StopAndJoinThreads(d, AcqStopLimitMs(*d), true))
        ReleaseInstance(d);
    else
        HandToReaper(d, false);
}

}  // namespace

bool TakeBusy(TData* d, Lifetime mine) {
    Lifetime seen = d->Life.load();
    for (;;) {
        Hook(d, LifeStep::Read);
        if (seen != Lifetime::Made && seen != Lifetime::Running) return false;
        // A failed swap leaves what another thread made of the state in `seen`: decide again.
        if (d->Life.compare_exchange_strong(seen, mine)) break;
    }
    Hook(d, LifeStep::Taken);
    return true;
}

bool FinishBusy(TData* d, Lifetime mine, Lifetime next) {
    Lifetime seen = mine;
    if (d->Life.compare_exchange_strong(seen, next)) return true;
    // Only DisposeDriver changes the state of a busy instance.
    d->Life.store(Lifetime::Disposed);
    if (seen == Lifetime::BusyDisposeAsked) {
        DisposeNow(d);
    } else {
        // ReaperWaits: the reaper joins this thread before it frees anything.
        d->BusyCallEnded.Set();
    }
    return false;
}

void DisposeInstance(TData* d) {
    Lifetime seen = d->Life.load();
    Lifetime next;
    for (;;) {
        Hook(d, LifeStep::Read);
        switch (seen) {
            case Lifetime::Made:
            case Lifetime::Running:
                next = Lifetime::Disposed;
                break;
            case Lifetime::Busy:
                // Init or Done waits on another thread or, dispatching, further out on this
                // one (the host's window procedure called in): it disposes when it is done.
                next = Lifetime::BusyDisposeAsked;
                break;
            case Lifetime::BusyInCallback:
                // Done runs inside the host's notification function, and the host may unload
                // the library as soon as this returns: a reaper, which keeps the library
                // loaded, disposes of the instance once that Done has ended.
                next = Lifetime::ReaperWaits;
                break;
            default:
                return;  // one DisposeDriver per instance gets past the registry
        }
        if (d->Life.compare_exchange_strong(seen, next)) break;
    }
    Hook(d, LifeStep::Taken);
    if (next == Lifetime::Disposed)
        DisposeNow(d);
    else if (next == Lifetime::ReaperWaits)
        HandToReaper(d, true);
}

}  // namespace zelk::host
