// OutputRequest, OutputRequestCompleted, OutputFinalized.
#include "acquisition/acquisition.h"
#include "domain/numtext.h"
#include "domain/status_texts.h"
#include "domain/channel_map.h"
#include "host/host_internal.h"

namespace zelk::host {
namespace {

constexpr const char* kTagOR = "RQ_OR  ";
constexpr const char* kTagORC = "RQ_ORC ";
constexpr const char* kTagOF = "RQ_OF  ";

void SetLong(TJedenKanal& c, uint32_t v) {
    c.LongValue = v;
    c.TextValue = text::Decimal(v);
}

// Takes the host's value into the channel and the device block (step 5), with the
// channel's working copy.
void TakeValue(TData* d, uint32_t ch, TJedenKanal& c, const ZelkValue& value) REQUIRES(d->DataLock) {
    TZarizeni& z = d->Device;
    ModuleSettings& s = z.Settings;
    const int32_t tag = TagOf(value);
    const uint32_t v = PayloadLong(value);

    if (ch == ZELK_CH_TIMER_PERIOD) {
        if (tag != ZELK_TAG_REAL) return;
        const double p = StoredPeriod(PayloadReal(value));
        c.RealValue = p;
        c.TextValue = text::FormatFixed(p, 3, 15, plat::DecimalSeparator());
        s.TimerPeriodUs = p;
        return;
    }
    if (ch == ZELK_CH_DOUT_BOOL) {
        if (tag != ZELK_TAG_BOOLEAN) return;
        const uint8_t b = value.payload[0];
        const uint32_t bit = StoredLongcard(ch, b);
        c.BoolValue = b;
        SetLong(c, bit);
        z.DoutValue = static_cast<uint8_t>(bit);
        z.ReqDigitalOut = 1;
        return;
    }
    if (tag != ZELK_TAG_LONGCARD) return;
    // The value as the channel's write rule stores it.
    const uint32_t x = StoredLongcard(ch, v);
    if (ch == ZELK_CH_DOUT) {
        SetLong(c, x);
        z.DoutValue = static_cast<uint8_t>(x);
        z.ReqDigitalOut = 1;
    } else if (ch == ZELK_CH_CNT0_PRESET || ch == ZELK_CH_CNT1_PRESET) {
        SetLong(c, x);
        (ch == ZELK_CH_CNT0_PRESET ? z.ReqCnt0Preset : z.ReqCnt1Preset) = 1;
    } else if (ch >= ZELK_CH_RANGE0 && ch <= ZELK_CH_RANGE_LAST) {
        const char* name = RangeName(x);
        c.LongValue = x;
        c.Range = static_cast<int32_t>(x);
        c.RangeName = name;
        c.TextValue = RangeChannelText(x);
        s.RangeCode[ch - ZELK_CH_RANGE0] = static_cast<uint8_t>(x);
        TJedenKanal& analog = d->Channels[ch - ZELK_CH_RANGE0 + ZELK_CH_AIN0];
        analog.Range = static_cast<int32_t>(x);
        analog.RangeName = name;
    } else if (ch >= ZELK_CH_INPUT0 && ch <= ZELK_CH_INPUT_LAST) {
        c.LongValue = x;
        c.PhysicalInput = static_cast<int32_t>(x);
        c.TextValue = InputChannelText(x);
        s.PhysInput[ch - ZELK_CH_INPUT0] = static_cast<uint8_t>(x);
        d->Channels[ch - ZELK_CH_INPUT0 + ZELK_CH_AIN0].PhysicalInput = static_cast<int32_t>(x);
    } else if (ch == ZELK_CH_TIMER_CHANNELS) {
        SetLong(c, x);
        s.TimerChannelCount = x;
    } else if (ch == ZELK_CH_TIMER_CNT0_PRESET || ch == ZELK_CH_TIMER_CNT1_PRESET) {
        SetLong(c, x);
        (ch == ZELK_CH_TIMER_CNT0_PRESET ? s.Cnt0Preset : s.Cnt1Preset) = static_cast<uint16_t>(x);
    } else if (ch == ZELK_CH_TIMER_CNT0_ENABLE || ch == ZELK_CH_TIMER_CNT1_ENABLE || ch == ZELK_CH_TIMER_DIO_ENABLE) {
        SetLong(c, x);
        (ch == ZELK_CH_TIMER_CNT0_ENABLE   ? s.Cnt0Enable
         : ch == ZELK_CH_TIMER_CNT1_ENABLE ? s.Cnt1Enable
                                           : s.DinDoutEnable) = static_cast<int32_t>(x);
    } else if (ch >= ZELK_CH_SETTLE0 && ch <= ZELK_CH_SETTLE_LAST) {
        SetLong(c, x);
        s.SettleTime[ch - ZELK_CH_SETTLE0] = static_cast<uint8_t>(x);
    } else if (ch == ZELK_CH_MEASURE_START) {
        SetLong(c, x);
        z.ReqStartStop = 1;
    } else if (ch == ZELK_CH_MEASURE_RECORDS) {
        SetLong(c, x);
        z.RequestedRecordCount = static_cast<int32_t>(x);
    }
    // Any other defined channel is an input: no value changes.
}

void DoOutputRequest(TData* d, uint32_t ch, const ZelkValue& value) {
    Log(d, kTagOR, "(0) Ch=" + text::Decimal(ch), 2);
    if (ch >= kChannelCount) {
        Log(d, kTagOR, "(98)", 2);
        return;
    }
    if (!ChannelDefined(d, ch)) {
        Log(d, kTagOR, "(97)", 2);
        return;
    }
    Log(d, kTagOR, "(1) ", 3);

    const StatusPair status = GetDeviceStatus(*d);
    if (status.code != Code(Status::Ok)) {
        // Module missing or in error: the value is dropped, the request finished at once.
        Log(d, kTagOR, "(3) ", 3);
        {
            plat::LockGuard g(d->DataLock);
            FinishNow(d->Channels[ch], status, d->Clock->NowMs());
            TKanal& t = d->Channels;
            for (uint32_t k = ZELK_CH_DEVICE_FAULT; k <= ZELK_CH_DEVICE_TEXT; ++k) {
                SetStatusChannelValue(k, t[k], status);
                t[k].Status = status.code;
                t[k].StatusText = status.text;
            }
        }
        Log(d, kTagOR, "(99)", 2);
        return;
    }

    Log(d, kTagOR, "(2) ", 3);
    std::string shown;
    {
        plat::LockGuard g(d->DataLock);
        TJedenKanal c = d->Channels[ch];
        TakeValue(d, ch, c, value);
        c.Pending = 1;
        c.Processed = 1;
        c.Finished = 0;
        c.NotifyWanted = 0;
        c.RequestBatch = kOutputBatch;
        c.InPass = 0;
        shown = c.TextValue;
        d->Channels[ch] = std::move(c);
    }
    Log(d, kTagOR, "(99) H=" + shown, 2);
}

}  // namespace
}  // namespace zelk::host

using namespace zelk;
using namespace zelk::host;

extern "C" {

void OutputRequest(void* instance, uint32_t ch, ZelkValue value) {
    InstanceCall call(instance);
    TData* d = call.get();
    if (d == nullptr) return;
    try {
        DoOutputRequest(d, ch, value);
    } catch (...) {
    }
}

void OutputRequestCompleted(void* instance) {
    InstanceCall call(instance);
    TData* d = call.get();
    if (d == nullptr) return;
    try {
        Log(d, kTagORC, "(0)", 2);
        d->OutputBatchComplete = 1;
        d->AcqWake.Raise();  // the acquisition thread serves the batch now
        Log(d, kTagORC, "(99)", 2);
    } catch (...) {
    }
}

uint8_t OutputFinalized(void* instance, uint32_t ch, int32_t* err) {
    InstanceCall call(instance);
    TData* d = call.get();
    if (err != nullptr) *err = 0;
    if (d == nullptr) return 1;
    try {
        return Finalize(d, kTagOF, ch, err);
    } catch (...) {
        return 1;
    }
}

}  // extern "C"
