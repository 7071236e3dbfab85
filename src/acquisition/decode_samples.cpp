// One set of module samples into the analog, counter and digital-input channels.
#include <algorithm>

#include "acquisition/acquisition.h"
#include "domain/numtext.h"
#include "core/Pomocny.h"
#include "zelk2716e.h"

namespace zelk {
namespace {

uint16_t Word(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

// Where each field sits in the buffer; a negative offset means the field is absent.
struct Layout {
    int analogCount = kAnalogCount;
    int cnt0 = usb::inblock::kCnt0;
    int cnt1 = usb::inblock::kCnt1;
    int din = usb::inblock::kDin;
    std::array<uint8_t, kAnalogCount> range{};
};

// Caller holds DataLock.
void StoreCounter(TData& d, int channel, uint16_t value) REQUIRES(d.DataLock) {
    TJedenKanal& c = d.Channels[channel];
    c.LongValue = value;
    c.TextValue = text::Decimal(static_cast<uint32_t>(value));
}

// Caller holds DataLock.
void StoreDigitalBit(TJedenKanal& c, uint8_t bit) {
    c.LongValue = bit;
    c.BoolValue = bit;
    c.TextValue = bit ? "1" : "0";
}

void Decode(TData& d, const uint8_t* buf, const Layout& l, char separator) REQUIRES(d.DataLock) {
    for (int k = 0; k < l.analogCount; ++k) {
        const uint16_t s = Word(buf + 2 * k);
        TJedenKanal& c = d.Channels[k];
        const double v = ConvertSample(s, l.range[k], d.Cfg.ChannelConstA[k], d.Cfg.ChannelConstB[k]);
        c.LongValue = s;
        c.RealValue = v;
        c.TextValue = SampleValueText(v, separator);
    }
    if (l.cnt0 >= 0) StoreCounter(d, ZELK_CH_CNT0, Word(buf + l.cnt0));
    if (l.cnt1 >= 0) StoreCounter(d, ZELK_CH_CNT1, Word(buf + l.cnt1));
    if (l.din >= 0) {
        const uint8_t din = buf[l.din];
        d.Device.DinValue = din;
        StoreDigitalBit(d.Channels[ZELK_CH_DIN0], din & 1u);
        StoreDigitalBit(d.Channels[ZELK_CH_DIN1], (din >> 1) & 1u);
        TJedenKanal& c58 = d.Channels[ZELK_CH_DIN];
        c58.LongValue = din;
        c58.TextValue = text::Decimal(static_cast<uint32_t>(din));
    }
}

// Caller holds DataLock. Fields follow each other without gaps, in the order of the record.
Layout RecordLayout(const MeasurementSnapshot& s) {
    Layout l;
    // A count outside 0..16 would read past the record and write beyond the analog channels.
    const ModuleSettings& m = s.Settings;
    l.analogCount = std::clamp<int32_t>(static_cast<int32_t>(m.TimerChannelCount), 0, kAnalogCount);
    l.range = m.RangeCode;
    int offset = 2 * l.analogCount;
    l.cnt0 = IsRecorded(m.Cnt0Enable) ? offset : -1;
    if (l.cnt0 >= 0) offset += 2;
    l.cnt1 = IsRecorded(m.Cnt1Enable) ? offset : -1;
    if (l.cnt1 >= 0) offset += 2;
    l.din = IsRecorded(m.DinDoutEnable) ? offset : -1;
    return l;
}

}  // namespace

void DecodeInputBlock(TData* d, const uint8_t* block, const std::array<uint8_t, kAnalogCount>& rangeCodes) {
    if (d == nullptr || block == nullptr) return;
    const char separator = plat::DecimalSeparator();
    Layout l;
    l.range = rangeCodes;
    plat::LockGuard g(d->DataLock);
    Decode(*d, block, l, separator);
}

void DecodeSamples(TData* d, const uint8_t* samples) {
    if (d == nullptr || samples == nullptr) return;
    const char separator = plat::DecimalSeparator();
    plat::LockGuard g(d->DataLock);
    Layout l;
    if (d->Device.MeasurementRunning != 0) {
        l = RecordLayout(d->Snapshot);
    } else {
        l.range = d->Device.Settings.RangeCode;
    }
    Decode(*d, samples, l, separator);
}

}  // namespace zelk
