// Stopping the module and closing its handle ("ZZ " lines). Failures are ignored: the
// device block is reset whatever the module answers.
#include <array>

#include "core/log.h"
#include "core/Pomocny.h"
#include "domain/channel_map.h"
#include "usb/Vorna_FTD201.h"
#include "usb/d2xx_calls.h"

namespace zelk {

namespace {

struct ChannelValue {
    uint32_t LongValue = 0;
    double RealValue = 0.0;
    uint8_t BoolValue = 0;
    std::string TextValue;
};

// The output channels that hold the host's analog and timer settings: their values stay in
// effect across a close, as the settings in the device block do.
bool KeepsValue(int ch) { return DescriptorOf(static_cast<uint32_t>(ch)).keepsOnClose; }

}  // namespace

void CloseModule(TData* d, DeviceReset what) {
    if (!d) return;
    static const usb::D2xxApi empty{};
    const usb::D2xxApi& api = d->D2xx ? *d->D2xx : empty;
    TZarizeni& z = d->Device;

    WriteLog(d, "ZZ (0)", 2);
    z.ModuleReady = 0;

    WriteLog(d, "ZZ (1)", 3);
    static_cast<void>(usb::ModuleReset(api, z.Handle));  // the block is reset whatever the module answers

    WriteLog(d, "ZZ (2)", 3);
    if (z.HandleValid) usb::call::Close(api, z.Handle);

    {
        // Requests still running end with the device status of this moment.
        const StatusPair status = GetDeviceStatus(*d);
        plat::LockGuard g(d->DataLock);
        std::array<ChannelValue, kChannelCount> saved;
        for (int ch = 0; ch < kChannelCount; ++ch) {
            if (!KeepsValue(ch)) continue;
            const TJedenKanal& c = d->Channels[ch];
            saved[ch] = ChannelValue{c.LongValue, c.RealValue, c.BoolValue, c.TextValue};
        }
        ResetDeviceBlockLocked(*d, what);
        ResetFinishStateLocked(*d, status);
        for (int ch = 0; ch < kChannelCount; ++ch) {
            if (!KeepsValue(ch)) continue;
            TJedenKanal& c = d->Channels[ch];
            c.LongValue = saved[ch].LongValue;
            c.RealValue = saved[ch].RealValue;
            c.BoolValue = saved[ch].BoolValue;
            c.TextValue = std::move(saved[ch].TextValue);
        }
    }

    WriteLog(d, "ZZ (99)", 2);
}

void CloseModule(TData* d) { CloseModule(d, DeviceReset::KeepSettings); }

}  // namespace zelk
