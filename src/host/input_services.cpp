// BufferInfo, SetBufferAddr, InputRequest, InputRequestCompleted, InputFinalized, GetInput.
#include <cmath>

#include "acquisition/acquisition.h"
#include "acquisition/measurement.h"
#include "domain/numtext.h"
#include "domain/channel_map.h"
#include "host/host_internal.h"

namespace zelk::host {
namespace {

constexpr const char* kTagBI = "RQ_BI  ";
constexpr const char* kTagSBA = "RQ_SBA ";
constexpr const char* kTagIR = "RQ_IR  ";
constexpr const char* kTagIRC = "RQ_IRC ";
constexpr const char* kTagIF = "RQ_IF  ";
constexpr const char* kTagGI = "RQ_GI  ";

std::string ChText(uint32_t ch) { return "(0) Ch=" + text::Decimal(ch); }

// The channels the module's input block answers: analog inputs, digital inputs, counters.
bool IsFirstGroup(uint32_t ch) {
    return ch <= ZELK_CH_AIN_LAST || ch == ZELK_CH_DIN0 || ch == ZELK_CH_DIN1 || ch == ZELK_CH_DIN ||
           ch == ZELK_CH_CNT0 || ch == ZELK_CH_CNT1;
}

void DoInputRequest(TData* d, uint32_t ch) {
    Log(d, kTagIR, ChText(ch), 2);
    if (ch >= kChannelCount) {
        Log(d, kTagIR, "(98)", 2);
        return;
    }
    if (!ChannelDefined(d, ch)) {
        Log(d, kTagIR, "(97)", 2);
        return;
    }
    Log(d, kTagIR, "(1) ", 3);
    Log(d, kTagIR, "(2) ", 3);

    // The period is brought into its allowed range here, on the host's thread.
    if (ch == ZELK_CH_TIMER_PERIOD) AdjustPeriod(d);
    const StatusPair status = GetDeviceStatus(*d);
    const bool measuring = d->Device.MeasurementRunning.load() != 0;
    {
        plat::LockGuard g(d->DataLock);
        TJedenKanal c = d->Channels[ch];
        bool store = true;
        bool finishNow = false;
        if (IsFirstGroup(ch)) {
            if (!measuring) {
                if (ch <= ZELK_CH_AIN_LAST) {
                    d->Device.ReqAnalogIn = 1;
                } else {
                    if (ch == ZELK_CH_CNT0 || ch == ZELK_CH_CNT1) d->Device.ReqCounterIn = 1;
                    else d->Device.ReqDigitalIn = 1;
                    // Digital and counter values come with the input block: without this a
                    // batch of only these channels would finish with stale values.
                    d->Device.ReqAnalogIn = 1;
                }
            } else {
                c.RequestCount++;
                c.RequestTick = d->Clock->NowMs();
                c.Status = status.code;
                c.StatusText = status.text;
            }
            c.Pending = 1;
            c.Processed = 1;
            c.Finished = 0;
            c.NotifyWanted = 0;
            c.RequestBatch = kInputBatch;
            c.InPass = 0;
        } else if (ch >= ZELK_CH_DEVICE_FAULT && ch <= ZELK_CH_DEVICE_TEXT) {
            SetStatusChannelValue(ch, c, status);
            finishNow = true;
        } else if (ch == ZELK_CH_TIMER_PERIOD) {
            const double p = d->Device.Settings.TimerPeriodUs;
            c.LongValue = TruncateToLong(p);
            c.RealValue = p;
            c.BoolValue = 0;
            c.TextValue = text::FormatFixed(p, 1, 15, plat::DecimalSeparator());
            finishNow = true;
        } else if (ch == ZELK_CH_MEASURE_STORED || ch == ZELK_CH_MEASURE_STATUS) {
            // The count is kept in 64 bits; the longcard shows its low 32.
            const bool stored = ch == ZELK_CH_MEASURE_STORED;
            const uint32_t n = stored ? static_cast<uint32_t>(d->Device.StoredRecordCount.load())
                                      : static_cast<uint32_t>(d->Device.MeasurementStatus.load());
            c.LongValue = n;
            c.RealValue = stored ? static_cast<double>(n) : static_cast<double>(static_cast<int32_t>(n));
            c.BoolValue = n != 0 ? 1 : 0;
            c.TextValue = stored ? text::Decimal(n) : text::Decimal(static_cast<int32_t>(n));
            finishNow = true;
        } else {
            store = false;  // an output channel: nothing changes
        }
        if (finishNow) FinishNow(c, status, d->Clock->NowMs());
        if (store) d->Channels[ch] = std::move(c);
    }
    Log(d, kTagIR, "(3) ", 3);
    Log(d, kTagIR, "(99) ", 2);
}

void DoGetInput(TData* d, uint32_t ch, ZelkValue* value) {
    Log(d, kTagGI, ChText(ch), 2);
    if (ch >= kChannelCount) {
        Log(d, kTagGI, "(98)", 2);
        return;
    }
    if (!ChannelDefined(d, ch)) {
        Log(d, kTagGI, "(97)", 2);
        return;
    }
    std::string textValue;
    std::string copyText;
    char* copyTo = nullptr;
    {
        plat::LockGuard g(d->DataLock);
        TJedenKanal& c = d->Channels[ch];
        if (value != nullptr) {
            const int32_t tag = TagOf(*value);
            if (ch <= ZELK_CH_AIN_LAST && tag == ZELK_TAG_REAL) {
                if (std::isinf(c.RealValue)) {
                    c.RealValue = 0.0;
                    c.TextValue = "0";
                }
                std::memcpy(value->payload, &c.RealValue, sizeof(double));
            } else if ((ch == ZELK_CH_DIN0 || ch == ZELK_CH_DIN1 || ch == ZELK_CH_DEVICE_FAULT) &&
                       tag == ZELK_TAG_BOOLEAN) {
                value->payload[0] = c.BoolValue;
            } else if ((ch == ZELK_CH_DIN || ch == ZELK_CH_CNT0 || ch == ZELK_CH_CNT1 || ch == ZELK_CH_DEVICE_STATUS ||
                        ch == ZELK_CH_MEASURE_STORED || ch == ZELK_CH_MEASURE_STATUS) &&
                       tag == ZELK_TAG_LONGCARD) {
                std::memcpy(value->payload, &c.LongValue, sizeof(uint32_t));
            } else if (ch == ZELK_CH_DEVICE_TEXT && tag == ZELK_TAG_STRING) {
                copyTo = PayloadPointer(*value);
                if (copyTo != nullptr) copyText = c.TextValue;
            } else if (ch == ZELK_CH_TIMER_PERIOD && tag == ZELK_TAG_REAL) {
                std::memcpy(value->payload, &c.RealValue, sizeof(double));
            }
        }
        textValue = c.TextValue;
    }
    // The host's buffer must hold the longest status text: the copy is whole.
    if (copyTo != nullptr) std::memcpy(copyTo, copyText.c_str(), copyText.size() + 1);
    Log(d, kTagGI, "(99) H=" + textValue, 2);
}

}  // namespace

// Shared by InputFinalized and OutputFinalized.
uint8_t Finalize(TData* d, const char* tag, uint32_t ch, int32_t* err) {
    Log(d, tag, ChText(ch), 2);
    if (err != nullptr) *err = 0;
    bool finished = true;  // a number beyond the table has nothing to wait for
    if (ch < kChannelCount) {
        plat::LockGuard g(d->DataLock);
        TJedenKanal& c = d->Channels[ch];
        if (c.Finished == 1) {
            finished = true;
        } else {
            c.NotifyWanted = 1;
            finished = false;
        }
    }
    Log(d, tag, std::string("(99) Err=0 R=") + (finished ? "1" : "0"), 2);
    return finished ? 1 : 0;
}

}  // namespace zelk::host

using namespace zelk;
using namespace zelk::host;

extern "C" {

int32_t BufferInfo(void* instance, uint32_t ch) {
    InstanceCall call(instance);
    TData* d = call.get();
    if (d == nullptr) return 0;
    try {
        Log(d, kTagBI, ChText(ch), 2);
        Log(d, kTagBI, "(99) ", 2);
    } catch (...) {
    }
    return 0;
}

void SetBufferAddr(void* instance, uint32_t ch) {
    InstanceCall call(instance);
    TData* d = call.get();
    if (d == nullptr) return;
    try {
        Log(d, kTagSBA, ChText(ch), 2);
        Log(d, kTagSBA, "(99) ", 2);
    } catch (...) {
    }
}

void InputRequest(void* instance, uint32_t ch) {
    InstanceCall call(instance);
    TData* d = call.get();
    if (d == nullptr) return;
    try {
        DoInputRequest(d, ch);
    } catch (...) {
    }
}

void InputRequestCompleted(void* instance) {
    InstanceCall call(instance);
    TData* d = call.get();
    if (d == nullptr) return;
    try {
        Log(d, kTagIRC, "(0)", 2);
        d->InputBatchComplete = 1;
        d->AcqWake.Raise();  // the acquisition thread serves the batch now
        Log(d, kTagIRC, "(99) ", 2);
    } catch (...) {
    }
}

uint8_t InputFinalized(void* instance, uint32_t ch, int32_t* err) {
    InstanceCall call(instance);
    TData* d = call.get();
    if (err != nullptr) *err = 0;
    if (d == nullptr) return 1;
    try {
        return Finalize(d, kTagIF, ch, err);
    } catch (...) {
        return 1;
    }
}

void GetInput(void* instance, uint32_t ch, ZelkValue* value) {
    InstanceCall call(instance);
    TData* d = call.get();
    if (d == nullptr) return;
    try {
        DoGetInput(d, ch, value);
    } catch (...) {
    }
}

}  // extern "C"
