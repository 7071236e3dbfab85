#include "domain/channel_map.h"

#include <cmath>

#include "domain/numtext.h"
#include "domain/status_texts.h"
#include "domain/record_layout.h"
#include "domain/text.h"
#include "domain/timer_settings.h"

namespace zelk {

namespace {

enum Class : uint8_t { kIn = 1, kOut = 2, kInOut = 3 };
constexpr bool kKeep = true;

struct DescriptorTable {
    ChannelDescriptor row[ZELK_CHANNEL_COUNT + 1];  // the last row: every undefined number

    constexpr void Set(uint32_t first, uint32_t last, ValueKind kind, Class cls, WriteRule write = WriteRule::None,
                       bool keep = false) {
        for (uint32_t ch = first; ch <= last; ++ch)
            row[ch] = {true, kind, (cls & kIn) != 0, (cls & kOut) != 0, write, keep};
    }
    constexpr void Set(uint32_t ch, ValueKind kind, Class cls, WriteRule write = WriteRule::None, bool keep = false) {
        Set(ch, ch, kind, cls, write, keep);
    }

    constexpr DescriptorTable() : row{} {
        using K = ValueKind;
        using W = WriteRule;
        Set(ZELK_CH_AIN0, ZELK_CH_AIN_LAST, K::Real, kIn);
        Set(ZELK_CH_DIN0, ZELK_CH_DIN1, K::Boolean, kIn);
        Set(ZELK_CH_DIN, K::Longcard, kIn);
        Set(ZELK_CH_DOUT_BOOL, K::Boolean, kOut, W::Bit);
        Set(ZELK_CH_DOUT, K::Longcard, kOut, W::LowTwoBits);
        Set(ZELK_CH_CNT0, ZELK_CH_CNT1, K::Longcard, kIn);
        Set(ZELK_CH_CNT0_PRESET, ZELK_CH_CNT1_PRESET, K::Longcard, kOut, W::AsWritten);
        Set(ZELK_CH_DEVICE_FAULT, K::Boolean, kIn);
        Set(ZELK_CH_DEVICE_STATUS, K::Longcard, kIn);
        Set(ZELK_CH_DEVICE_TEXT, K::String, kIn);
        Set(ZELK_CH_RANGE0, ZELK_CH_RANGE_LAST, K::Longcard, kOut, W::LowFourBits, kKeep);
        Set(ZELK_CH_INPUT0, ZELK_CH_INPUT_LAST, K::Longcard, kOut, W::LowFourBits, kKeep);
        Set(ZELK_CH_TIMER_CHANNELS, K::Longcard, kOut, W::ChannelCount, kKeep);
        Set(ZELK_CH_TIMER_PERIOD, K::Real, kOut, W::Period, kKeep);
        Set(ZELK_CH_TIMER_CNT0_PRESET, K::Longcard, kOut, W::AtMost65535, kKeep);
        Set(ZELK_CH_TIMER_CNT0_ENABLE, K::Longcard, kOut, W::AtMost1, kKeep);
        Set(ZELK_CH_TIMER_CNT1_PRESET, K::Longcard, kOut, W::AtMost65535, kKeep);
        Set(ZELK_CH_TIMER_CNT1_ENABLE, K::Longcard, kOut, W::AtMost1, kKeep);
        Set(ZELK_CH_TIMER_DIO_ENABLE, K::Longcard, kOut, W::AtMost1, kKeep);
        Set(ZELK_CH_SETTLE0, ZELK_CH_SETTLE_LAST, K::Longcard, kOut, W::AtMost127, kKeep);
        Set(ZELK_CH_MEASURE_START, K::Longcard, kInOut, W::AsWritten);
        Set(ZELK_CH_MEASURE_STORED, K::Longcard, kIn);
        Set(ZELK_CH_MEASURE_RECORDS, K::Longcard, kInOut, W::AsWritten);
        Set(ZELK_CH_MEASURE_STATUS, K::Longcard, kIn);
    }
};

constexpr DescriptorTable kDescriptors;

constexpr uint32_t AtMost(uint32_t v, uint32_t limit) { return v > limit ? limit : v; }

}  // namespace

const ChannelDescriptor& DescriptorOf(uint32_t ch) {
    constexpr uint32_t kUndefined = ZELK_CHANNEL_COUNT;
    return kDescriptors.row[ch < kUndefined ? ch : kUndefined];
}

uint32_t StoredLongcard(uint32_t ch, uint32_t written) {
    switch (DescriptorOf(ch).write) {
        case WriteRule::Bit: return written != 0 ? 1 : 0;
        case WriteRule::LowTwoBits: return written & 3;
        case WriteRule::LowFourBits: return written & 15;
        case WriteRule::ChannelCount: return written == 0 ? 1 : AtMost(written, kAnalogCount);
        case WriteRule::AtMost1: return AtMost(written, 1);
        case WriteRule::AtMost127: return AtMost(written, 127);
        case WriteRule::AtMost65535: return AtMost(written, 65535);
        default: return written;
    }
}

double StoredPeriod(double written) {
    if (std::isnan(written) || written < kPeriodMinUs) return kPeriodMinUs;
    return written > kPeriodMaxUs ? kPeriodMaxUs : written;
}

std::string RangeChannelText(uint32_t code) { return text::Decimal(code) + "   (rozsah " + RangeName(code) + ")"; }

std::string InputChannelText(uint32_t input) {
    return text::Decimal(input) + "   (vstup AIN" + text::Decimal(input) + ")";
}

bool IsDefinedChannel(uint32_t ch) { return DescriptorOf(ch).defined; }
bool InInputClass(uint32_t ch) { return DescriptorOf(ch).inputClass; }
bool InOutputClass(uint32_t ch) { return DescriptorOf(ch).outputClass; }

std::string ChannelDescription(uint32_t ch) {
    auto n = [](uint32_t v) { return std::to_string(v); };
    if (ch <= ZELK_CH_AIN_LAST) return "real input - analogový kanál "_cp + n(ch);
    if (ch == ZELK_CH_DIN0 || ch == ZELK_CH_DIN1) return "boolean input - digitální vstup "_cp + n(ch - ZELK_CH_DIN0);
    if (ch == ZELK_CH_DIN) return "longcard input - digitální vstup"_cp;
    if (ch == ZELK_CH_DOUT_BOOL) return "boolean output - digitální výstup"_cp;
    if (ch == ZELK_CH_DOUT) return "longcard output - digitální výstup"_cp;
    if (ch == ZELK_CH_CNT0 || ch == ZELK_CH_CNT1) return "longcard input - hodnota čítače "_cp + n(ch - ZELK_CH_CNT0);
    if (ch == ZELK_CH_CNT0_PRESET || ch == ZELK_CH_CNT1_PRESET)
        return "longcard output - přednastavení čítače "_cp + n(ch - ZELK_CH_CNT0_PRESET);
    if (ch == ZELK_CH_DEVICE_FAULT) return "boolean input - status zařízení"_cp;
    if (ch == ZELK_CH_DEVICE_STATUS) return "longcard input - status zařízení"_cp;
    if (ch == ZELK_CH_DEVICE_TEXT) return "string input - status zařízení"_cp;
    if (ch >= ZELK_CH_RANGE0 && ch <= ZELK_CH_RANGE_LAST)
        return "longcard output - rozsah analogového kanálu "_cp + n(ch - ZELK_CH_RANGE0);
    if (ch >= ZELK_CH_INPUT0 && ch <= ZELK_CH_INPUT_LAST)
        return "longcard output - fyzický vstup analogového kanálu "_cp + n(ch - ZELK_CH_INPUT0);
    switch (ch) {
        case ZELK_CH_TIMER_CHANNELS: return "longcard output - počet kanálů měřených časovačem"_cp;
        case ZELK_CH_TIMER_PERIOD: return "real bidirectional - perioda měření časovačem [us]"_cp;
        case ZELK_CH_TIMER_CNT0_PRESET: return "longcard output - přednastavení čítače CNT0"_cp;
        case ZELK_CH_TIMER_CNT0_ENABLE: return "longcard output - povolení snímání čítače CNT0"_cp;
        case ZELK_CH_TIMER_CNT1_PRESET: return "longcard output - přednastavení čítače CNT1"_cp;
        case ZELK_CH_TIMER_CNT1_ENABLE: return "longcard output - povolení snímání čítače CNT1"_cp;
        case ZELK_CH_TIMER_DIO_ENABLE: return "longcard output - povolení snímání DIN a DOUT"_cp;
        case ZELK_CH_MEASURE_START: return "longcard output - start/stop měření časovačem"_cp;
        case ZELK_CH_MEASURE_STORED: return "longcard input - počet uložených záznamů"_cp;
        case ZELK_CH_MEASURE_RECORDS: return "longcard output - zadaný počet záznamů"_cp;
        case ZELK_CH_MEASURE_STATUS: return "longcard input - status měření časovačem"_cp;
        default: break;
    }
    if (ch >= ZELK_CH_SETTLE0 && ch <= ZELK_CH_SETTLE_LAST)
        return "longcard output - doba ustálení vstupu [us] - rozsah "_cp + std::string(RangeName(ch - ZELK_CH_SETTLE0));
    return "Kanál nedefinován"_cp;
}

ValueKind ChannelKind(uint32_t ch) { return DescriptorOf(ch).kind; }

}  // namespace zelk
