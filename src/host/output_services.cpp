// OutputRequest, OutputRequestCompleted, OutputFinalized.
#include <cmath>

#include "acquisition/acquisition.h"
#include "config/numtext.h"
#include "core/channel_map.h"
#include "host/host_internal.h"

namespace zelk::host {
namespace {

constexpr const char* kTagOR = "RQ_OR  ";
constexpr const char* kTagORC = "RQ_ORC ";
constexpr const char* kTagOF = "RQ_OF  ";

uint32_t AtMost(uint32_t v, uint32_t limit) { return v > limit ? limit : v; }

void SetLong(TJedenKanal& c, uint32_t v) {
    c.LongValue = v;
    c.TextValue = text::Decimal(v);
}

// Takes the host's value into the channel and the device block (step 5). Called under
// DataLock with the channel's working copy.
void TakeValue(TData* d, uint32_t ch, TJedenKanal& c, const ZelkValue& value) {
    TZarizeni& z = d->Device;
    ModuleSettings& s = z.Settings;
    const int32_t tag = TagOf(value);
    const uint32_t v = PayloadLong(value);

    if (ch == 165) {
        if (tag != ZELK_TAG_REAL) return;
        double p = PayloadReal(value);
        if (std::isnan(p) || p < 25.0) p = 25.0;
        if (p > 32767.5) p = 32767.5;
        c.RealValue = p;
        c.TextValue = text::FormatFixed(p, 3, 15, plat::DecimalSeparator());
        s.TimerPeriodUs = p;
        return;
    }
    if (ch == 70) {
        if (tag != ZELK_TAG_BOOLEAN) return;
        const uint8_t b = value.payload[0];
        c.BoolValue = b;
        SetLong(c, b != 0 ? 1 : 0);
        z.DoutValue = b != 0 ? 1 : 0;
        z.ReqDigitalOut = 1;
        return;
    }
    if (tag != ZELK_TAG_LONGCARD) return;
    if (ch == 78) {
        SetLong(c, v & 3);
        z.DoutValue = static_cast<uint8_t>(v & 3);
        z.ReqDigitalOut = 1;
    } else if (ch == 82 || ch == 83) {
        SetLong(c, v);
        (ch == 82 ? z.ReqCnt0Preset : z.ReqCnt1Preset) = 1;
    } else if (ch >= 100 && ch <= 115) {
        const uint32_t code = v & 15;
        const char* name = RangeName(code);
        c.LongValue = code;
        c.Range = static_cast<int32_t>(code);
        c.RangeName = name;
        c.TextValue = text::Decimal(code) + "   (rozsah " + name + ")";
        s.RangeCode[ch - 100] = static_cast<uint8_t>(code);
        TJedenKanal& analog = d->Channels[ch - 100];
        analog.Range = static_cast<int32_t>(code);
        analog.RangeName = name;
    } else if (ch >= 132 && ch <= 147) {
        const uint32_t p = v & 15;
        c.LongValue = p;
        c.PhysicalInput = static_cast<int32_t>(p);
        c.TextValue = text::Decimal(p) + "   (vstup AIN" + text::Decimal(p) + ")";
        s.PhysInput[ch - 132] = static_cast<uint8_t>(p);
        d->Channels[ch - 132].PhysicalInput = static_cast<int32_t>(p);
    } else if (ch == 164) {
        const uint32_t n = v == 0 ? 1 : AtMost(v, 16);
        SetLong(c, n);
        s.TimerChannelCount = n;
    } else if (ch == 166 || ch == 168) {
        const uint32_t p = AtMost(v, 65535);
        SetLong(c, p);
        (ch == 166 ? s.Cnt0Preset : s.Cnt1Preset) = static_cast<uint16_t>(p);
    } else if (ch == 167 || ch == 169 || ch == 170) {
        const uint32_t e = AtMost(v, 1);
        SetLong(c, e);
        (ch == 167 ? s.Cnt0Enable : ch == 169 ? s.Cnt1Enable : s.DinDoutEnable) = static_cast<int32_t>(e);
    } else if (ch >= 171 && ch <= 176) {
        const uint32_t t = AtMost(v, 127);
        SetLong(c, t);
        s.SettleTime[ch - 171] = static_cast<uint8_t>(t);
    } else if (ch == 200) {
        SetLong(c, v);
        z.ReqStartStop = 1;
    } else if (ch == 202) {
        SetLong(c, v);
        z.RequestedRecordCount = static_cast<int32_t>(v);
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
    if (status.code != 0) {
        // Module missing or in error: the value is dropped, the request finished at once.
        Log(d, kTagOR, "(3) ", 3);
        {
            plat::LockGuard g(d->DataLock);
            FinishNow(d->Channels[ch], status);
            TKanal& t = d->Channels;
            for (uint32_t k = 97; k <= 99; ++k) {
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
    TData* d = Instance(instance);
    if (d == nullptr) return;
    try {
        DoOutputRequest(d, ch, value);
    } catch (...) {
    }
}

void OutputRequestCompleted(void* instance) {
    TData* d = Instance(instance);
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
    TData* d = Instance(instance);
    if (err != nullptr) *err = 0;
    if (d == nullptr) return 1;
    try {
        return Finalize(d, kTagOF, ch, err);
    } catch (...) {
        return 1;
    }
}

}  // extern "C"
