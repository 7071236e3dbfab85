// Finishing of channel requests and the status channels, shared by every pass.
#include "acquisition/acquisition.h"
#include "domain/numtext.h"
#include "domain/status_texts.h"
#include "core/Pomocny.h"
#include "zelk2716e.h"

namespace zelk {

void MarkRequestsProcessed(TData* d) {
    if (d == nullptr) return;
    plat::LockGuard g(d->DataLock);
    for (TJedenKanal& ch : d->Channels) {
        if (ch.Pending == 0) continue;
        ch.Pending = 0;
        ch.Processed = 1;
    }
}

namespace {

void Complete(TData* d, bool passOnly) {
    if (d == nullptr) return;
    // One read of the pair, so that every channel of the pass carries the same status.
    const StatusPair status = GetDeviceStatus(*d);
    const uint32_t now = d->Clock->NowMs();
    bool awaited = false;
    plat::LockGuard g(d->DataLock);
    for (TJedenKanal& ch : d->Channels) {
        if (ch.Processed == 0 || (passOnly && ch.InPass == 0)) continue;
        awaited = awaited || ch.NotifyWanted != 0;
        ch.InPass = 0;
        ch.Pending = 0;
        ch.Processed = 0;
        ch.RequestCount += 1;
        ch.RequestTick = now;
        ch.Status = status.code;
        ch.StatusText = status.text;
        ch.Finished = 1;
    }
    // The host waits for one of them: the notification thread calls it now.
    if (awaited) d->NotifyWake.Raise();
}

}  // namespace

void CompleteRequests(TData* d) { Complete(d, false); }

void CompletePassRequests(TData* d) { Complete(d, true); }

void TakeBatchIntoPass(TData* d, uint8_t batch) {
    if (d == nullptr) return;
    plat::LockGuard g(d->DataLock);
    for (TJedenKanal& ch : d->Channels)
        if ((ch.Pending != 0 || ch.Processed != 0) && ch.RequestBatch == batch) ch.InPass = 1;
}

void SetStatusChannelValue(uint32_t ch, TJedenKanal& c, const StatusPair& status) {
    const uint8_t failed = status.code != Code(Status::Ok) ? 1 : 0;
    if (ch == ZELK_CH_DEVICE_FAULT) {
        c.LongValue = failed;
        c.RealValue = failed;
        c.BoolValue = failed;
        c.TextValue = failed ? "1" : "0";
    } else if (ch == ZELK_CH_DEVICE_STATUS || ch == ZELK_CH_DEVICE_TEXT) {
        c.LongValue = status.code;
        c.RealValue = status.code;
        c.BoolValue = 0;
        c.TextValue = ch == ZELK_CH_DEVICE_STATUS ? text::Decimal(static_cast<uint32_t>(status.code)) : status.text;
    }
}

void RefreshStatusChannels(TData* d) {
    if (d == nullptr) return;
    const StatusPair status = GetDeviceStatus(*d);
    plat::LockGuard g(d->DataLock);
    for (uint32_t ch = ZELK_CH_DEVICE_FAULT; ch <= ZELK_CH_DEVICE_TEXT; ++ch) SetStatusChannelValue(ch, d->Channels[ch], status);
}

}  // namespace zelk
