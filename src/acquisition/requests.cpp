// Finishing of channel requests and the status channels, shared by every pass.
#include "acquisition/acquisition.h"
#include "config/numtext.h"
#include "core/Pomocny.h"

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
    const uint32_t now = plat::TickCount();
    plat::LockGuard g(d->DataLock);
    for (TJedenKanal& ch : d->Channels) {
        if (ch.Processed == 0 || (passOnly && ch.InPass == 0)) continue;
        ch.InPass = 0;
        ch.Pending = 0;
        ch.Processed = 0;
        ch.RequestCount += 1;
        ch.RequestTick = now;
        ch.Status = status.code;
        ch.StatusText = status.text;
        ch.Finished = 1;
    }
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

void RefreshStatusChannels(TData* d) {
    if (d == nullptr) return;
    const StatusPair status = GetDeviceStatus(*d);
    const uint8_t failed = status.code != 0 ? 1 : 0;
    plat::LockGuard g(d->DataLock);
    TJedenKanal& c97 = d->Channels[97];
    c97.LongValue = failed;
    c97.RealValue = failed;
    c97.BoolValue = failed;
    c97.TextValue = failed ? "1" : "0";
    TJedenKanal& c98 = d->Channels[98];
    c98.LongValue = status.code;
    c98.RealValue = status.code;
    c98.BoolValue = 0;
    c98.TextValue = text::Decimal(static_cast<uint32_t>(status.code));
    TJedenKanal& c99 = d->Channels[99];
    c99.LongValue = status.code;
    c99.RealValue = status.code;
    c99.BoolValue = 0;
    c99.TextValue = status.text;
}

}  // namespace zelk
