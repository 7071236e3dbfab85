// The notification thread TThreadCallBack, DriverProc and QueryProc.
#include <bitset>
#include <exception>
#include <string>

#include "config/log.h"
#include "config/numtext.h"
#include "core/channel_map.h"
#include "host/host_internal.h"
#include "window/window_api.h"

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

namespace zelk::host {
namespace {

constexpr const char* kTagDP = "RQ_DP  ";
constexpr const char* kTagQP = "RQ_QP  ";

// Queries for hosts without a window system; `capacity` is QueryProc's fourth argument.
void WindowQuery(TData* d, int32_t kind, const std::string& name, int32_t capacity, ZelkValue* value) {
    TForm1* w = d->Window.get();
    if (w == nullptr) return;
    const int32_t tag = TagOf(*value);
    if (name == "WindowText" && kind == ZELK_TAG_STRING && tag == ZELK_TAG_STRING) {
        char* buf = PayloadPointer(*value);
        if (buf != nullptr && capacity > 0) CopyBounded(WindowContentsText(w), buf, capacity - 1);
    } else if (name == "WindowKey" && kind == ZELK_TAG_LONGCARD && tag == ZELK_TAG_LONGCARD) {
        WindowTypeKey(w, static_cast<char>(PayloadLong(*value) & 0xFF));
    } else if (name == "WindowPage" && kind == ZELK_TAG_LONGCARD && tag == ZELK_TAG_LONGCARD) {
        const uint32_t page = PayloadLong(*value);
        if (page <= 1) WindowSelectPage(w, static_cast<int>(page));
    }
}

void DoQuery(TData* d, int32_t kind, const char* name, int32_t reserved, ZelkValue* value) {
    Log(d, kTagQP, "(0)", 2);
    if (name != nullptr && value != nullptr) {
        const std::string n(name);
        if (n == "GetVersion") {
            char* buf = PayloadPointer(*value);
            if (kind == ZELK_TAG_STRING && TagOf(*value) == ZELK_TAG_STRING && buf != nullptr) {
                const char* t = DriverInfoText();
                std::memcpy(buf, t, std::strlen(t) + 1);
            }
        } else {
            WindowQuery(d, kind, n, reserved, value);
        }
    }
    Log(d, kTagQP, "(99)", 2);
}

}  // namespace
}  // namespace zelk::host

using namespace zelk;
using namespace zelk::host;

extern "C" {

void DriverProc(void* instance, uint32_t function, int32_t left, int32_t top, int32_t width, int32_t height) {
    InstanceCall call(instance);
    TData* d = call.get();
    if (d == nullptr) return;
    try {
        Log(d, kTagDP, "(0) F=" + text::Decimal(function), 2);
        TForm1* w = d->Window.get();
        if (w == nullptr) return;
        if (function <= 5) WindowDriverProc(w, function, left, top, width, height);
        Log(d, kTagDP, "(99)", 2);
    } catch (...) {
    }
}

void QueryProc(void* instance, int32_t kind, const char* name, int32_t reserved, ZelkValue* value) {
    InstanceCall call(instance);
    TData* d = call.get();
    if (d == nullptr) return;
    try {
        DoQuery(d, kind, name, reserved, value);
    } catch (...) {
    }
}

}  // extern "C"
