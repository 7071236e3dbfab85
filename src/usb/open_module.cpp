// Finding, opening and configuring the module named by its serial number. The outcome is
// only the device status and the log ("OZ " lines); nothing is retried here.
#include "core/log.h"
#include "domain/status_texts.h"
#include "domain/text.h"
#include "core/Pomocny.h"
#include "platform/platform.h"
#include "usb/Vorna_FTD201.h"
#include "usb/d2xx_calls.h"

namespace zelk {

namespace {

using namespace usb;

constexpr uint32_t kStopPauseMs = 300;

void Log(TData* d, const std::string& text, uint8_t level) { WriteLog(d, "OZ " + text, level); }

void Fail(TData* d, Status code, const std::string& statusText, const std::string& logLine) {
    SetDeviceStatus(*d, code, statusText);
    Log(d, logLine, 1);
}

// A step that failed with the table text alone: the log shows the marker and that text.
void Fail(TData* d, Status code, const char* marker) {
    Fail(d, code, StatusText(code), std::string(marker) + StatusText(code));
}

// A failure of a module command after the open: the status carries the link text, the log the text alone.
void FailCommand(TData* d, const char* marker, const LinkError& e) {
    const LinkReport r = Describe(e);
    Fail(d, r.status, r.statusText, marker + r.detail);
}

bool SupportedSerial(const std::string& serial) {
    return serial.size() >= 3 && (serial.compare(0, 3, "120") == 0 || serial.compare(0, 3, "121") == 0);
}

const D2xxApi& ApiOf(const TData* d) {
    static const D2xxApi empty{};
    return d->D2xx ? *d->D2xx : empty;
}

}  // namespace

void OpenModule(TData* d) {
    if (!d) return;
    const D2xxApi& api = ApiOf(d);
    TZarizeni& z = d->Device;
    Log(d, "(0)", 2);

    // A module left open but not configured by an earlier attempt is closed first, so that
    // this attempt can open it again.
    if (z.HandleValid) {
        z.ModuleReady = 0;
        call::Close(api, z.Handle);
        z.HandleValid = 0;
        z.Handle = nullptr;
    }

    std::string serial;
    std::array<uint8_t, kAnalogCount> physInput{};
    std::array<uint8_t, kAnalogCount> rangeCode{};
    {
        plat::LockGuard g(d->DataLock);
        serial = z.SerialNumber;
    }
    const uint32_t timeout = d->Cfg.UsbTimeout > 0 ? static_cast<uint32_t>(d->Cfg.UsbTimeout) : 0u;

    if (!SupportedSerial(serial)) {
        Fail(d, Status::UnsupportedModule, "(0a) ");
        return;
    }

    // A library that lacks one of the nine functions cannot run the module at all.
    const std::string missing = call::MissingText(api);
    DWORD count = 0;
    if (!missing.empty()) {
        const std::string text = StatusText(Status::D2xxCall);
        Fail(d, Status::D2xxCall, text, "(0c) " + text + " - " + missing);
        return;
    }
    if (call::ListDevices(api, &count, nullptr, FT_LIST_NUMBER_ONLY) != FT_OK) {
        Fail(d, Status::D2xxCall, "(0c) ");
        return;
    }
    if (count == 0) {
        Fail(d, Status::NoUsbModule, "(0b) ");
        return;
    }

    Log(d, "(1)", 3);
    // A stale index of an earlier attempt must not stand for a module that is gone now.
    z.DeviceIndex = 9999;
    for (DWORD i = 0; i < count; ++i) {
        std::string found;
        call::ListTextByIndex(api, static_cast<int>(i), FT_OPEN_BY_SERIAL_NUMBER, found);
        if (found != serial) continue;
        std::string description;
        call::ListTextByIndex(api, static_cast<int>(i), FT_OPEN_BY_DESCRIPTION, description);
        {
            plat::LockGuard g(d->DataLock);
            z.ModuleType = description;
        }
        z.DeviceIndex = static_cast<int32_t>(i);
        break;
    }
    if (z.DeviceIndex == 9999) {
        Fail(d, Status::ModuleNotFound, StatusText(Status::ModuleNotFound), "(1a)");
        return;
    }

    Log(d, "(2)", 3);
    std::string again;
    if (call::ListTextByIndex(api, z.DeviceIndex, FT_OPEN_BY_SERIAL_NUMBER, again) != FT_OK) {
        Fail(d, Status::D2xxCall, "(2a) ");
        return;
    }
    FT_HANDLE h = InvalidHandle();
    if (call::Open(api, z.DeviceIndex, &h) != FT_OK) {
        Fail(d, Status::D2xxCall, "(2b) ");
        return;
    }
    if (h == InvalidHandle()) {
        Fail(d, Status::Open, "(2c) ");
        return;
    }
    z.Handle = h;
    z.HandleValid = 1;
    if (const LinkResult r = ResetLink(api, h); !r.ok()) {
        const LinkReport report = Describe(r.error());
        Fail(d, report.status, report.statusText, "(2d) " + report.statusText);
        return;
    }

    Log(d, "(3)", 3);
    const uint32_t start = d->Clock->NowMs();
    while (d->Clock->NowMs() - start <= kStopPauseMs) d->Clock->SleepMs(1);
    if (const LinkResult r = ModuleReset(api, h); !r.ok()) return FailCommand(d, "(3a) ", r.error());
    if (const LinkResult r = ModuleWriteLong(api, h, 0); !r.ok()) return FailCommand(d, "(3b) ", r.error());

    Log(d, "(4)", 3);
    std::string ident;
    if (const LinkResult r = ModuleIdentify(api, h, *d->Clock, timeout, ident); !r.ok()) return FailCommand(d, "(4a) ", r.error());
    {
        plat::LockGuard g(d->DataLock);
        z.ModuleType += "  (" + ident + ")";
        z.ControllerText = "0";
    }

    Log(d, "(5)", 3);
    TimerConfigBlock block{};
    if (const LinkResult r = ModuleReadConfig(api, h, *d->Clock, timeout, block); !r.ok()) return FailCommand(d, "(5a) ", r.error());
    {
        plat::LockGuard g(d->DataLock);
        physInput = z.Settings.PhysInput;
        rangeCode = z.Settings.RangeCode;
    }
    block = StandardConfig(physInput, rangeCode);

    Log(d, "(6)", 3);
    if (const LinkResult r = ModuleWriteConfig(api, h, block); !r.ok()) return FailCommand(d, "(6a) ", r.error());

    SetDeviceStatus(*d, Status::Ok);
    z.ModuleReady = 1;
    z.MeasurementRunning = 0;
    Log(d, "(99)", 2);
}

}  // namespace zelk
