// Version, Check, GetDriverInfo, MakeDriver, DisposeDriver, Init and Done.
#include <thread>
#include <vector>

#include "config/log.h"
#include "config/numtext.h"
#include "config/param_file.h"
#include "config/status_texts.h"
#include "config/text.h"
#include "core/channel_map.h"
#include "host/host_internal.h"
#include "usb/Vorna_FTD201.h"
#include "window/window_api.h"

namespace zelk::host {
namespace {

constexpr const char* kTagInit = "RQ_I   ";
constexpr const char* kTagDone = "RQ_D   ";

// Longest wait for the acquisition thread to leave its loop: one pass can hold three
// exchanges of up to UsbTimeout each plus a re-open of the module.
uint32_t AcqStopLimitMs(const TData& d) {
    int32_t t = d.Cfg.UsbTimeout;
    if (t < 1) t = 1;
    if (t > 10000) t = 10000;
    return 4u * static_cast<uint32_t>(t) + 1000u;
}

bool CallbackIsCurrent(const TData& d) { return d.CallbackThread && d.CallbackThread->IsCurrentThread(); }

void TerminateConversionThreads(TData* d) {
    plat::LockGuard g(d->DataLock);
    for (auto& t : d->ConvThreads)
        if (t) t->Terminate();
}

// Joins and frees every conversion thread; new ones can come only from the acquisition
// thread, which has ended or is being joined when this runs.
void JoinConversionThreads(TData* d) {
    std::vector<std::unique_ptr<TThreadKonverze>> threads;
    {
        plat::LockGuard g(d->DataLock);
        threads.swap(d->ConvThreads);
    }
    for (auto& t : threads)
        if (t) t->Terminate();
    threads.clear();  // each destructor joins
}

// Joins what an earlier Done could not wait for (it ran on the notification thread, or a
// thread outlasted its bound) and closes a module left open. Blocks until they have ended.
void ReapThreads(TData* d) {
    if (d->CallbackThread) {
        d->CallbackThread->Terminate();
        d->CallbackThread.reset();
    }
    if (d->AcqThread) {
        d->StopRequested = 1;
        d->AcqThread->Terminate();
        d->AcqThread.reset();
    }
    JoinConversionThreads(d);
    if (d->Device.HandleValid) CloseModule(d);
}

bool IsRunning(const TData& d) {
    return d.AcqThread || d.CallbackThread || d.Window || !d.ConvThreads.empty();
}

// Init steps 6 and 7: the module settings and the output channels from Cfg.
void TakeSettingsFromConfig(TData* d) {
    const TCFG& cfg = d->Cfg;
    const char sep = plat::DecimalSeparator();
    plat::LockGuard g(d->DataLock);
    ModuleSettings& s = d->Device.Settings;
    for (int i = 0; i < kAnalogCount; ++i) {
        s.PhysInput[i] = cfg.ChannelInput[i];
        s.RangeCode[i] = cfg.ChannelRange[i];
    }
    s.TimerChannelCount = static_cast<uint32_t>(cfg.TimerChannels);
    s.TimerPeriodUs = cfg.TimerPeriod;
    s.Cnt0Preset = cfg.TimerCnt0Preset;
    s.Cnt0Enable = cfg.TimerCnt0Enable;
    s.Cnt1Preset = cfg.TimerCnt1Preset;
    s.Cnt1Enable = cfg.TimerCnt1Enable;
    s.DinDoutEnable = cfg.TimerDioEnable;
    for (int i = 0; i < kSettleCount; ++i) s.SettleTime[i] = static_cast<uint8_t>(cfg.TimerSettle[i] & 0xFF);
    d->Device.RecordFilePath = "Data";

    TKanal& ch = d->Channels;
    for (int i = 0; i < kAnalogCount; ++i) {
        uint32_t code = s.RangeCode[i];
        ch[100 + i].LongValue = code;
        ch[100 + i].TextValue = text::Decimal(code) + "   (rozsah " + RangeName(code) + ")";
        uint32_t p = s.PhysInput[i];
        ch[132 + i].LongValue = p;
        ch[132 + i].TextValue = text::Decimal(p) + "   (vstup AIN" + text::Decimal(p) + ")";
    }
    ch[164].LongValue = s.TimerChannelCount;
    ch[164].TextValue = text::Decimal(s.TimerChannelCount);
    ch[165].RealValue = s.TimerPeriodUs;
    ch[165].TextValue = text::FormatFixed(s.TimerPeriodUs, 3, 10, sep);
    const uint32_t ints[5] = {s.Cnt0Preset, static_cast<uint32_t>(s.Cnt0Enable), s.Cnt1Preset,
                              static_cast<uint32_t>(s.Cnt1Enable), static_cast<uint32_t>(s.DinDoutEnable)};
    const int32_t intTexts[5] = {s.Cnt0Preset, s.Cnt0Enable, s.Cnt1Preset, s.Cnt1Enable, s.DinDoutEnable};
    for (int k = 0; k < 5; ++k) {
        ch[166 + k].LongValue = ints[k];
        ch[166 + k].TextValue = text::Decimal(intTexts[k]);
    }
    for (int k = 0; k < kSettleCount; ++k) {
        ch[171 + k].LongValue = static_cast<uint32_t>(cfg.TimerSettle[k]);
        ch[171 + k].TextValue = text::Decimal(cfg.TimerSettle[k]);
    }
}

bool InitInstance(TData* d, const char* paramFile, int32_t msgMax, char* msgBuf, uint32_t userValue,
                  ZelkCallback callback) {
    // The notification thread cannot replace itself.
    if (CallbackIsCurrent(*d)) {
        CopyBounded(StatusTexts[1], msgBuf, msgMax);
        return false;
    }
    // A second Init without Done first stops what runs.
    if (IsRunning(*d)) StopInstance(d);
    ReapThreads(d);

    // Steps 1 and 2: the parameter file into a working copy, committed only on success.
    TCFG work = d->Cfg;
    std::string message;
    if (!ReadParameterFile(paramFile, work, message)) {
        OpenLog(d);
        WriteLog(d, message, 0);
        CopyBounded(message, msgBuf, msgMax);
        return false;
    }
    d->Cfg = work;
    OpenLog(d);
    Log(d, kTagInit, std::string("(0) Par=") + paramFile, 2);

    // Steps 4 to 7.
    ResetDeviceBlock(*d, false);
    BuildChannelTable(*d);
    d->HostCallback = callback;
    d->HostUserValue = userValue;
    d->Window.reset();
    d->WindowCreated = 0;
    TakeSettingsFromConfig(d);

    // Step 8: a failure only sets the device status; the acquisition thread retries.
    Log(d, kTagInit, "(1) ", 3);
    OpenModule(d);

    // Step 9.
    Log(d, kTagInit, "(2) ", 3);
    TForm1* w = CreateDriverWindow(d);
    if (w == nullptr) {
        d->WindowCreated = 0;
        WriteLog(d, StatusTexts[8], 0);
        CopyBounded(StatusTexts[8], msgBuf, msgMax);
        return false;
    }
    d->Window.reset(w);
    d->WindowCreated = 1;

    // Steps 10 and 11.
    Log(d, kTagInit, "(3) ", 3);
    d->StopRequested = 0;
    d->AcqThreadEnded = 0;
    d->InputBatchComplete = 0;
    d->OutputBatchComplete = 0;
    d->AcqThread = std::make_unique<TThreadZELK>(d);
    d->AcqThread->Start();
    Log(d, kTagInit, "(4) ", 3);
    d->CallbackThread = std::make_unique<TThreadCallBack>(d);
    d->CallbackThread->Start();

    WriteLog(d, "Ovladač inicializován"_cp, 0);
    Log(d, kTagInit, "(99) ", 2);
    CopyBounded("Ok", msgBuf, msgMax);
    return true;
}

}  // namespace

void StopInstance(TData* d) {
    const uint32_t limit = AcqStopLimitMs(*d);
    Log(d, kTagDone, "(0)", 2);

    // The notification thread ends within one pass; it is joined below, before the log
    // closes, so that no call of the host outlives Done.
    if (d->CallbackThread) d->CallbackThread->Terminate();

    Log(d, kTagDone, "(1) ", 3);
    bool anyConversion;
    {
        plat::LockGuard g(d->DataLock);
        anyConversion = !d->ConvThreads.empty();
    }
    if (anyConversion) {
        TerminateConversionThreads(d);
        plat::SleepMs(200);
    }

    Log(d, kTagDone, "(2) ", 3);
    bool acqEnded = true;
    if (d->AcqThread) {
        d->StopRequested = 1;
        d->AcqThread->Terminate();
        const uint32_t start = plat::TickCount();
        uint32_t elapsed = 0;
        // At least 200 ms, then until the thread has left its loop (a module command in
        // progress runs to its end), bounded by what one pass can take.
        for (;;) {
            plat::SleepMs(1);
            elapsed = plat::TickCount() - start;
            bool ended = d->AcqThreadEnded.load() != 0 || d->AcqThread->Finished();
            if (elapsed >= 200 && ended) break;
            if (elapsed >= limit) break;
        }
        d->LastStopWaitMs = static_cast<int32_t>(elapsed);
        acqEnded = d->AcqThreadEnded.load() != 0 || d->AcqThread->Finished();
        if (acqEnded) {
            d->AcqThread->Join();
            d->AcqThread.reset();
        } else {
            // Closing the module under a running command would pull the handle away from
            // it: the module stays open until the thread is joined (next Init, DisposeDriver).
            Log(d, kTagDone, "(2a) Vlákno TUD neukončeno, USB modul zůstává otevřen"_cp, 1);
        }
    }
    if (acqEnded) JoinConversionThreads(d);

    Log(d, kTagDone, "(3) ", 3);
    if (acqEnded) CloseModule(d);

    Log(d, kTagDone, "(4) ", 3);
    if (d->WindowCreated && d->Window) d->Window.reset();
    d->WindowCreated = 0;

    // Done called by the host from inside its notification function runs on that thread:
    // it cannot wait for itself; the object is joined by the next Init or DisposeDriver.
    if (d->CallbackThread && !d->CallbackThread->IsCurrentThread()) {
        if (d->CallbackThread->WaitFor(limit)) {
            d->CallbackThread->Join();
            d->CallbackThread.reset();
        }
    }

    Log(d, kTagDone, "(99) ", 2);
    WriteLog(d, "Ovladač odinstalován"_cp, 0);
    CloseLog(d);
}

}  // namespace zelk::host

using namespace zelk;
using namespace zelk::host;

extern "C" {

int32_t Version(void) { return 0x30000; }

uint8_t Check(void) { return 1; }

void GetDriverInfo(int32_t maxLen, char* text) {
    try {
        CopyBounded(DriverInfoText(), text, maxLen);
    } catch (...) {
    }
}

void* MakeDriver(void) {
    try {
        auto d = std::make_unique<TData>();
        SetConfigDefaults(d->Cfg);
        ResetDeviceBlock(*d, false);
        BuildChannelTable(*d);
        d->StopRequested = 0;
        d->AcqThreadEnded = 0;
        d->InputBatchComplete = 0;
        d->OutputBatchComplete = 0;
        d->LastStopWaitMs = 0;
        d->HostCallback = nullptr;
        d->HostUserValue = 0;
        d->WindowCreated = 0;
        d->ConversionPending = 0;
        return d.release();
    } catch (...) {
        return nullptr;
    }
}

void DisposeDriver(void* instance) {
    TData* d = Instance(instance);
    if (d == nullptr) return;
    try {
        if (CallbackIsCurrent(*d)) {
            // Freed from inside the host's notification function: the notification thread
            // still runs on the instance, so a helper thread joins it and then frees.
            d->CallbackThread->Terminate();
            std::thread([d] {
                try {
                    ReapThreads(d);
                    delete d;
                } catch (...) {
                }
            }).detach();
            return;
        }
        ReapThreads(d);
        delete d;
    } catch (...) {
    }
}

uint8_t Init(void* instance, uint32_t, const char* paramFile, int32_t msgMax, char* msgBuf, uint32_t, uint32_t,
             uint32_t userValue, ZelkCallback callback) {
    TData* d = Instance(instance);
    try {
        if (d == nullptr) {
            CopyBounded(StatusTexts[2], msgBuf, msgMax);
            return 0;
        }
        return InitInstance(d, paramFile, msgMax, msgBuf, userValue, callback) ? 1 : 0;
    } catch (...) {
        try {
            CopyBounded(StatusTexts[1], msgBuf, msgMax);
        } catch (...) {
        }
        return 0;
    }
}

void Done(void* instance) {
    TData* d = Instance(instance);
    if (d == nullptr) return;
    try {
        StopInstance(d);
    } catch (...) {
    }
}

}  // extern "C"
