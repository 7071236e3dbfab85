// The channel table of an instance: built from the channel map and the configuration, and
// its finish state reset when the module closes.
#include "domain/status_texts.h"
#include "core/Pomocny.h"
#include "domain/channel_map.h"

namespace zelk {

void BuildChannelTable(TData& d) {
    plat::LockGuard g(d.DataLock);
    for (int i = 0; i < kChannelCount; ++i) {
        TJedenKanal& c = d.Channels[i];
        const auto ch = static_cast<uint32_t>(i);
        c = TJedenKanal{};
        c.Number = i;
        c.Description = ChannelDescription(ch);
        c.Name = d.Cfg.ChannelName[i];
        c.RangeName = d.Cfg.ChannelRangeName[i];
        c.PhysicalInput = d.Cfg.ChannelInput[i];
        c.Range = d.Cfg.ChannelRange[i];
        c.Defined = IsDefinedChannel(ch) ? 1 : 0;
        c.Finished = 1;
        c.TextValue = "0";
        const Status s = c.Defined ? Status::ChannelUnused : Status::ChannelUndefined;
        c.Status = Code(s);
        c.StatusText = StatusText(s);
    }
}

void ResetFinishState(TData& d) {
    // A request still running is ended here; it carries the device status of that moment,
    // so that the host does not take its reset value for a good reading.
    const StatusPair status = GetDeviceStatus(d);
    plat::LockGuard g(d.DataLock);
    ResetFinishStateLocked(d, status);
}

void ResetFinishStateLocked(TData& d, const StatusPair& status) {
    const uint32_t now = d.Clock->NowMs();
    bool awaited = false;
    for (int i = 0; i < kChannelCount; ++i) {
        TJedenKanal& c = d.Channels[i];
        if (c.Finished == 0) {
            if (c.NotifyWanted != 0) awaited = true;
            c.RequestCount += 1;
            c.RequestTick = now;
            c.Status = status.code;
            c.StatusText = status.text;
        }
        c.Pending = 0;
        c.Processed = 0;
        c.InPass = 0;
        c.Finished = 1;
        // The measurement status keeps its value.
        if (i != ZELK_CH_MEASURE_STATUS) {
            c.LongValue = 0;
            c.RealValue = 0.0;
            c.BoolValue = 0;
            c.TextValue = "0";
        }
    }
    if (awaited) d.NotifyWake.Raise();
}

}  // namespace zelk
