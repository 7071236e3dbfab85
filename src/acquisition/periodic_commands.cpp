// The periodic module commands: the input read and the three output commands.
#include <string>

#include "acquisition/acquisition.h"
#include "core/log.h"
#include "domain/status_texts.h"
#include "core/Pomocny.h"
#include "usb/Vorna_FTD201.h"

namespace zelk {
namespace {

bool ModuleUsable(const TData& d) { return d.Device.ModuleReady != 0 && d.Device.HandleValid != 0; }

void Log(TData* d, const char* tag, const std::string& marker, uint8_t level) {
    WriteLog(d, std::string(tag) + marker, level);
}

// A failed command: the status with the link text, and the marker with the link text.
void CommandFailed(TData* d, const char* tag, const char* marker, const usb::LinkError& e) {
    const usb::LinkReport r = usb::Describe(e);
    SetDeviceStatus(*d, r.status, r.statusText);
    Log(d, tag, marker + r.detail, 1);
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
    if (const usb::LinkResult r = send(); !r.ok()) {
        CommandFailed(d, tag, "(1a) ", r.error());
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

    Log(d, tag, "(1)", 3);
    usb::TimerConfigBlock current{};
    if (const usb::LinkResult r = usb::ModuleReadConfig(api, h, *d->Clock, timeout, current); !r.ok()) {
        CommandFailed(d, tag, "(1a) ", r.error());
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
    if (const usb::LinkResult r = usb::ModuleWriteConfig(api, h, usb::StandardConfig(physInput, rangeCode)); !r.ok()) {
        CommandFailed(d, tag, "(2a) ", r.error());
        return;
    }

    Log(d, tag, "(3)", 3);
    usb::InputBlock block{};
    if (const usb::LinkResult r = usb::ModuleReadInputs(api, h, *d->Clock, timeout, block); !r.ok()) {
        CommandFailed(d, tag, "(3a) ", r.error());
        return;
    }

    Log(d, tag, "(4)", 3);
    // The ranges that were sent, not the current ones: the host may have changed a range
    // since, and the block was measured with these.
    DecodeInputBlock(d, block.data(), rangeCode);

    Log(d, tag, "(99)", 2);
    SetDeviceStatus(*d, Status::Ok);
}

void WriteDigitalOutput(TData* d) {
    if (d == nullptr) return;
    RunOutputCommand(d, "Z_DO ", d->Device.ReqDigitalOut, [d] {
        const auto bit = static_cast<uint8_t>(d->Device.DoutValue & 1u);
        return usb::ModuleWriteOutput(*d->D2xx, d->Device.Handle, 0, bit);
    });
}

void PresetCounter0(TData* d) {
    if (d == nullptr) return;
    RunOutputCommand(d, "Z_P_CN0 ", d->Device.ReqCnt0Preset, [d] {
        return usb::ModuleWriteCounter(*d->D2xx, d->Device.Handle, 0, PresetOf(d, 82));
    });
}

void PresetCounter1(TData* d) {
    if (d == nullptr) return;
    RunOutputCommand(d, "Z_P_CN1 ", d->Device.ReqCnt1Preset, [d] {
        return usb::ModuleWriteCounter(*d->D2xx, d->Device.Handle, 1, PresetOf(d, 83));
    });
}

}  // namespace zelk
