// Finding, opening and configuring the module named by its serial number. The outcome is
// only the device status and the log ("OZ " lines); nothing is retried here.
#include "config/log.h"
#include "config/status_texts.h"
#include "config/text.h"
#include "core/Pomocny.h"
#include "platform/platform.h"
#include "usb/Vorna_FTD201.h"
#include "usb/d2xx_calls.h"

namespace zelk {

namespace {

using namespace usb;

constexpr uint32_t kStopPauseMs = 300;

void Log(TData* d, const std::string& text, uint8_t level) { WriteLog(d, "OZ " + text, level); }

void Fail(TData* d, uint8_t code, const std::string& statusText, const std::string& logLine) {
    SetDeviceStatus(*d, code, statusText);
    Log(d, logLine, 1);
}

// A failure of a module command after the open: the status carries the link text, the log the text alone.
void FailCommand(TData* d, const char* marker, const std::string& linkErr) {
    Fail(d, 13, StatusText(13, linkErr), marker + linkErr);
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
        Fail(d, 17, StatusTexts[17], std::string("(0a) ") + StatusTexts[17]);
        return;
    }

    // A library that lacks one of the nine functions cannot run the module at all.
    const std::string missing = call::MissingText(api);
    DWORD count = 0;
    if (!missing.empty()) {
        Fail(d, 10, StatusTexts[10], std::string("(0c) ") + StatusTexts[10] + " - " + missing);
        return;
    }
    if (call::ListDevices(api, &count, nullptr, FT_LIST_NUMBER_ONLY) != FT_OK) {
        Fail(d, 10, StatusTexts[10], std::string("(0c) ") + StatusTexts[10]);
        return;
    }
    if (count == 0) {
        Fail(d, 9, StatusTexts[9], std::string("(0b) ") + StatusTexts[9]);
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
        Fail(d, 5, "Nenalezen požadovaný USB modul."_cp, "(1a)");
        return;
    }

    Log(d, "(2)", 3);
    std::string again;
    if (call::ListTextByIndex(api, z.DeviceIndex, FT_OPEN_BY_SERIAL_NUMBER, again) != FT_OK) {
        Fail(d, 10, StatusTexts[10], std::string("(2a) ") + StatusTexts[10]);
        return;
    }
    FT_HANDLE h = InvalidHandle();
    if (call::Open(api, z.DeviceIndex, &h) != FT_OK) {
        Fail(d, 10, StatusTexts[10], std::string("(2b) ") + StatusTexts[10]);
        return;
    }
    if (h == InvalidHandle()) {
        Fail(d, 11, StatusTexts[11], std::string("(2c) ") + StatusTexts[11]);
        return;
    }
    z.Handle = h;
    z.HandleValid = 1;
    std::string err;
    if (!ResetLink(api, h, err)) {
        const std::string text = StatusText(12, err);
        Fail(d, 12, text, "(2d) " + text);
        return;
    }

    Log(d, "(3)", 3);
    const uint32_t start = d->Clock->NowMs();
    while (d->Clock->NowMs() - start <= kStopPauseMs) d->Clock->SleepMs(1);
    if (!ModuleReset(api, h, err)) return FailCommand(d, "(3a) ", err);
    if (!ModuleWriteLong(api, h, 0, err)) return FailCommand(d, "(3b) ", err);

    Log(d, "(4)", 3);
    std::string ident;
    if (!ModuleIdentify(api, h, *d->Clock, timeout, ident, err)) return FailCommand(d, "(4a) ", err);
    {
        plat::LockGuard g(d->DataLock);
        z.ModuleType += "  (" + ident + ")";
        z.ControllerText = "0";
    }

    Log(d, "(5)", 3);
    TimerConfigBlock block{};
    if (!ModuleReadConfig(api, h, *d->Clock, timeout, block, err)) return FailCommand(d, "(5a) ", err);
    {
        plat::LockGuard g(d->DataLock);
        physInput = z.Settings.PhysInput;
        rangeCode = z.Settings.RangeCode;
    }
    block = StandardConfig(physInput, rangeCode);

    Log(d, "(6)", 3);
    if (!ModuleWriteConfig(api, h, block, err)) return FailCommand(d, "(6a) ", err);

    SetDeviceStatus(*d, 0, StatusTexts[0]);
    z.ModuleReady = 1;
    z.MeasurementRunning = 0;
    Log(d, "(99)", 2);
}

}  // namespace zelk
