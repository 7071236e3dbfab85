// Version, Check, GetDriverInfo, MakeDriver, DisposeDriver, Init and Done.
#include <vector>

#include "core/log.h"
#include "domain/numtext.h"
#include "config/param_file.h"
#include "domain/status_texts.h"
#include "domain/text.h"
#include "domain/channel_map.h"
#include "host/host_internal.h"
#include "usb/Vorna_FTD201.h"
#include "window/window_api.h"

namespace zelk::host {
namespace {

constexpr const char* kTagInit = "RQ_I   ";

// Init steps 6 and 7: the module settings and the output channels from Cfg.
void TakeSettingsFromConfig(TData* d) {
    const TCFG& cfg = d->Cfg;
    const char sep = plat::DecimalSeparator();
    plat::LockGuard g(d->DataLock);
    ModuleSettings& s = d->Device.Settings;
    s = SettingsOfConfig(cfg);
    d->Device.RecordFilePath = "Data";

    TKanal& ch = d->Channels;
    for (int i = 0; i < kAnalogCount; ++i) {
        uint32_t code = s.RangeCode[i];
        ch[ZELK_CH_RANGE0 + i].LongValue = code;
        ch[ZELK_CH_RANGE0 + i].TextValue = RangeChannelText(code);
        uint32_t p = s.PhysInput[i];
        ch[ZELK_CH_INPUT0 + i].LongValue = p;
        ch[ZELK_CH_INPUT0 + i].TextValue = InputChannelText(p);
    }
    ch[ZELK_CH_TIMER_CHANNELS].LongValue = s.TimerChannelCount;
    ch[ZELK_CH_TIMER_CHANNELS].TextValue = text::Decimal(s.TimerChannelCount);
    ch[ZELK_CH_TIMER_PERIOD].RealValue = s.TimerPeriodUs;
    ch[ZELK_CH_TIMER_PERIOD].TextValue = text::FormatFixed(s.TimerPeriodUs, 3, 10, sep);
    const uint32_t ints[5] = {s.Cnt0Preset, static_cast<uint32_t>(s.Cnt0Enable), s.Cnt1Preset,
                              static_cast<uint32_t>(s.Cnt1Enable), static_cast<uint32_t>(s.DinDoutEnable)};
    const int32_t intTexts[5] = {s.Cnt0Preset, s.Cnt0Enable, s.Cnt1Preset, s.Cnt1Enable, s.DinDoutEnable};
    for (int k = 0; k < 5; ++k) {
        ch[ZELK_CH_TIMER_CNT0_PRESET + k].LongValue = ints[k];
        ch[ZELK_CH_TIMER_CNT0_PRESET + k].TextValue = text::Decimal(intTexts[k]);
    }
    for (int k = 0; k < kSettleCount; ++k) {
        ch[ZELK_CH_SETTLE0 + k].LongValue = static_cast<uint32_t>(cfg.Timer.SettleTime[k]);
        ch[ZELK_CH_SETTLE0 + k].TextValue = text::Decimal(cfg.Timer.SettleTime[k]);
    }
}

// Runs while the instance is Busy for this call.
bool InitInstance(TData* d, const char* paramFile, int32_t msgMax, char* msgBuf, uint32_t userValue,
                  ZelkCallback callback) {
    // A second Init without Done first stops what runs; what an earlier Done left running
    // is waited for within its bound. An acquisition thread still inside the module cannot
    // be replaced: the module is its own until it has ended.
    if (IsRunning(*d)) StopInstance(d);
    ClearLeftovers(d);
    if (d->AcqThread) {
        CopyBounded(StatusText(Status::LibraryAlloc), msgBuf, msgMax);
        return false;
    }

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
    ResetDeviceBlock(*d, DeviceReset::Everything);
    BuildChannelTable(*d);
    d->HostCallback = callback;
    d->HostUserValue = userValue;
    d->Window.reset();
    TakeSettingsFromConfig(d);

    // Step 8: a failure only sets the device status; the acquisition thread retries.
    Log(d, kTagInit, "(1) ", 3);
    OpenModule(d);

    // Step 9.
    Log(d, kTagInit, "(2) ", 3);
    TForm1* w = CreateDriverWindow(d);
    if (w == nullptr) {
        WriteLog(d, StatusText(Status::Window), 0);
        CopyBounded(StatusText(Status::Window), msgBuf, msgMax);
        return false;
    }
    d->Window.reset(w);

    // Steps 10 and 11.
    Log(d, kTagInit, "(3) ", 3);
    d->InputBatchComplete = 0;
    d->OutputBatchComplete = 0;
    d->Timing.Acquire();
    try {
        d->AcqThread = std::make_unique<TThreadZELK>(d);
        d->AcqThread->Start();
        Log(d, kTagInit, "(4) ", 3);
        d->CallbackThread = std::make_unique<TThreadCallBack>(d);
        d->CallbackThread->Start();
    } catch (...) {
        // No memory or no thread left in the host's process: stop the thread that did start,
        // so a failed Init leaves none running.
        ClearLeftovers(d);
        d->Timing.Release();
        CopyBounded(StatusText(Status::LibraryAlloc), msgBuf, msgMax);
        return false;
    }

    WriteLog(d, "Ovladač inicializován"_cp, 0);
    Log(d, kTagInit, "(99) ", 2);
    CopyBounded("Ok", msgBuf, msgMax);
    return true;
}

}  // namespace

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
    TData* d = ConstructInstance();
    if (d == nullptr) return nullptr;
    try {
        SetConfigDefaults(d->Cfg);
        ResetDeviceBlock(*d, DeviceReset::Everything);
        BuildChannelTable(*d);
        d->InputBatchComplete = 0;
        d->OutputBatchComplete = 0;
        d->LastStopWaitMs = 0;
        d->HostCallback = nullptr;
        d->HostUserValue = 0;
        d->ConversionPending = 0;
        if (RegisterInstance(d)) return d;
    } catch (...) {
    }
    DiscardInstance(d);
    return nullptr;
}

void DisposeDriver(void* instance) {
    // Only the first DisposeDriver of a live instance gets it; any other pointer does nothing.
    TData* d = TakeInstance(instance);
    if (d == nullptr) return;
    try {
        DisposeInstance(d);
    } catch (...) {
    }
}

uint8_t Init(void* instance, uint32_t, const char* paramFile, int32_t msgMax, char* msgBuf, uint32_t, uint32_t,
             uint32_t userValue, ZelkCallback callback) {
    InstanceCall call(instance);
    TData* d = call.get();
    try {
        if (d == nullptr) {
            CopyBounded(StatusText(Status::LibraryPointer), msgBuf, msgMax);
            return 0;
        }
        // The notification thread cannot replace itself; nor can a call that meets another
        // Init or Done under way (the host's window procedure while Done waits on this thread).
        if (CallbackIsCurrent(*d) || !TakeBusy(d, Lifetime::Busy)) {
            CopyBounded(StatusText(Status::LibraryAlloc), msgBuf, msgMax);
            return 0;
        }
    } catch (...) {
        return 0;
    }
    bool ok = false;
    try {
        ok = InitInstance(d, paramFile, msgMax, msgBuf, userValue, callback);
    } catch (...) {
        try {
            CopyBounded(StatusText(Status::LibraryAlloc), msgBuf, msgMax);
        } catch (...) {
        }
    }
    try {
        if (!FinishBusy(d, Lifetime::Busy, ok ? Lifetime::Running : Lifetime::Made)) {
            // DisposeDriver came while Init ran (from the host's window procedure): the
            // instance is gone.
            CopyBounded(StatusText(Status::LibraryPointer), msgBuf, msgMax);
            return 0;
        }
    } catch (...) {
        return 0;
    }
    return ok ? 1 : 0;
}

void Done(void* instance) {
    InstanceCall call(instance);
    TData* d = call.get();
    if (d == nullptr) return;
    try {
        // Whoever finds another Init, Done or DisposeDriver under way leaves the instance to it.
        const Lifetime mine = CallbackIsCurrent(*d) ? Lifetime::BusyInCallback : Lifetime::Busy;
        if (!TakeBusy(d, mine)) return;
        try {
            StopInstance(d);
        } catch (...) {
        }
        FinishBusy(d, mine, Lifetime::Made);
    } catch (...) {
    }
}

}  // extern "C"
