// The notification thread TThreadCallBack: calls the host for each channel it waits for
// once that channel's request has finished.
#include <bitset>
#include <exception>
#include <string>

#include "core/log.h"
#include "domain/numtext.h"
#include "domain/channel_map.h"
#include "host/host_internal.h"

namespace zelk {

namespace {
constexpr uint32_t kNotifySafetyWakeMs = 250;

void ScanFailed(TData* d, const char* what) {
    try {
        WriteLog(d, std::string("TCB 97 ") + InternalErrorText() + what, 1);
    } catch (...) {
    }
}
}  // namespace

// Scans the table when woken and calls the host for each finished channel it had
// found unfinished, in ascending channel order. The host is called without any lock held.
void TThreadCallBack::Execute() {
    TData* d = Data();
    if (d == nullptr) return;
    // Init, Done and DisposeDriver called from the host's function know where they run.
    host::MarkNotificationThread(*d);
    WriteLog(d, "TCB 1", 3);
    std::bitset<kChannelCount> due;
    // One scan and its calls; false when termination was asked.
    auto scan = [&]() -> bool {
        {
            // Two byte reads per channel that nobody waits for.
            plat::LockGuard g(d->DataLock);
            for (int ch = 0; ch < kChannelCount; ++ch)
                due[ch] = d->Channels[ch].NotifyWanted == 1 && d->Channels[ch].Finished == 1;
        }
        if (due.none()) return true;
        for (uint32_t ch = 0; ch < kChannelCount; ++ch) {
            if (Terminated()) return false;
            if (!due[ch]) continue;
            WriteLog(d, "TCB 2 Ch=" + text::Decimal(ch), 3);
            if (Terminated()) return false;
            {
                // Check and clear in one step: the host's finalize may have started a new
                // request on the channel since the scan.
                plat::LockGuard g(d->DataLock);
                TJedenKanal& c = d->Channels[ch];
                if (c.NotifyWanted != 1 || c.Finished != 1) continue;
                c.NotifyWanted = 0;
            }
            const HostCallbackFn fn = d->HostCallback;
            const uint32_t user = d->HostUserValue;
            for (int32_t kind = 0; kind <= 1; ++kind) {
                const bool inClass = kind == 0 ? InInputClass(ch) : InOutputClass(ch);
                if (!inClass) continue;
                if (Terminated()) return false;
                if (fn == nullptr) continue;
                // A result of 1 earns exactly one more call; a second 1 is not honoured.
                // No second call once Done has begun.
                if (fn(user, kind, d) == 1 && !Terminated()) fn(user, kind, d);
            }
            if (Terminated()) return false;
        }
        return true;
    };
    for (;;) {
        // Whoever finishes a channel the host waits for raises the wake-up; Done does too.
        // The timeout is only a safety net against a missed one.
        d->Clock->WaitFor(d->NotifyWake, kNotifySafetyWakeMs);
        if (Terminated()) break;
        // A failure inside one scan (no memory for a log line, say) is logged and the
        // scans go on: the host keeps getting its notifications.
        try {
            if (!scan()) break;
        } catch (const std::exception& e) {
            ScanFailed(d, e.what());
        } catch (...) {
            ScanFailed(d, "?");
        }
    }
    WriteLog(d, "TCB 3", 3);
}

}  // namespace zelk
