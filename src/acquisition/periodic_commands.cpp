// The periodic module commands: the input read and the three output commands.
#include <string>

#include "acquisition/acquisition.h"
#include "config/log.h"
#include "config/status_texts.h"
#include "core/Pomocny.h"
#include "usb/Vorna_FTD201.h"

namespace zelk {
namespace {

constexpr uint8_t kCommandError = 13;

bool ModuleUsable(const TData& d) { return d.Device.ModuleReady != 0 && d.Device.HandleValid != 0; }

void Log(TData* d, const char* tag, const std::string& marker, uint8_t level) {
    WriteLog(d, std::string(tag) + marker, level);
}

// A failed command: status 13 with the link text, and the marker with the link text.
void CommandFailed(TData* d, const char* tag, const char* marker, const std::string& linkError) {
    SetDeviceStatus(*d, kCommandError, StatusText(kCommandError, linkError));
    Log(d, tag, std::string(marker) + linkError, 1);
}

// One of the output family: flag check, readiness check, one command.
template <typename Send>
void RunOutputCommand(TData* d, const char* tag, std::atomic<uint8_t>& flag, Send send) {
    if (d == nullptr) return;
    if (flag.exchange(0) == 0) return;
    Log(d, tag, "(0)", 2);
    if (!ModuleUsable(*d)) {
        Log(d, tag, "(0a)", 2);
        return;
    }
    Log(d, tag, "(1)", 3);
    std::string err;
    if (!send(err)) {
        CommandFailed(d, tag, "(1a) ", err);
        return;
    }
    Log(d, tag, "(99)", 2);
}

uint16_t PresetOf(TData* d, int channel) {
    plat::LockGuard g(d->DataLock);
    return static_cast<uint16_t>(d->Channels[channel].LongValue & 0xFFFFu);
}

}  // namespace

void ReadInputs(TData* d) {
    if (d == nullptr) return;
    static const char* const tag = "P_IN ";
    // One read refreshes analog, counter and digital channels alike, so any of the three
    // input requests starts it; otherwise a batch of only counters or digital inputs would
    // finish with status 0 and values that were never read.
    const bool analog = d->Device.ReqAnalogIn.exchange(0) != 0;
    const bool digital = d->Device.ReqDigitalIn.exchange(0) != 0;
    const bool counter = d->Device.ReqCounterIn.exchange(0) != 0;
    if (!analog && !digital && !counter) return;
    Log(d, tag, "(0)", 2);
    if (!ModuleUsable(*d)) {
        Log(d, tag, "(0a)", 2);
        return;
    }
    const usb::D2xxApi& api = *d->D2xx;
    const usb::FT_HANDLE h = d->Device.Handle;
    const auto timeout = static_cast<uint32_t>(d->Cfg.UsbTimeout);
    std::string err;

    Log(d, tag, "(1)", 3);
    usb::TimerConfigBlock current{};
    if (!usb::ModuleReadConfig(api, h, *d->Clock, timeout, current, err)) {
        CommandFailed(d, tag, "(1a) ", err);
        return;
    }

    Log(d, tag, "(2)", 3);
    std::array<uint8_t, kAnalogCount> physInput{};
    std::array<uint8_t, kAnalogCount> rangeCode{};
    {
        plat::LockGuard g(d->DataLock);
        physInput = d->Device.Settings.PhysInput;
        rangeCode = d->Device.Settings.RangeCode;
    }
    if (!usb::ModuleWriteConfig(api, h, usb::StandardConfig(physInput, rangeCode), err)) {
        CommandFailed(d, tag, "(2a) ", err);
        return;
    }

    Log(d, tag, "(3)", 3);
    usb::InputBlock block{};
    if (!usb::ModuleReadInputs(api, h, *d->Clock, timeout, block, err)) {
        CommandFailed(d, tag, "(3a) ", err);
        return;
    }

    Log(d, tag, "(4)", 3);
    // The ranges that were sent, not the current ones: the host may have changed a range
    // since, and the block was measured with these.
    DecodeInputBlock(d, block.data(), rangeCode);

    Log(d, tag, "(99)", 2);
    SetDeviceStatus(*d, 0, StatusTexts[0]);
}

void WriteDigitalOutput(TData* d) {
    if (d == nullptr) return;
    RunOutputCommand(d, "Z_DO ", d->Device.ReqDigitalOut, [d](std::string& err) {
        const auto bit = static_cast<uint8_t>(d->Device.DoutValue & 1u);
        return usb::ModuleWriteOutput(*d->D2xx, d->Device.Handle, 0, bit, err);
    });
}

void PresetCounter0(TData* d) {
    if (d == nullptr) return;
    RunOutputCommand(d, "Z_P_CN0 ", d->Device.ReqCnt0Preset, [d](std::string& err) {
        return usb::ModuleWriteCounter(*d->D2xx, d->Device.Handle, 0, PresetOf(d, 82), err);
    });
}

void PresetCounter1(TData* d) {
    if (d == nullptr) return;
    RunOutputCommand(d, "Z_P_CN1 ", d->Device.ReqCnt1Preset, [d](std::string& err) {
        return usb::ModuleWriteCounter(*d->D2xx, d->Device.Handle, 1, PresetOf(d, 83), err);
    });
}

}  // namespace zelk
