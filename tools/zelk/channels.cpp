#include "channels.h"

#include <cmath>

#include <cstdio>
#include <cstdlib>

#include "config/param_file.h"
#include "domain/channel_map.h"
#include "domain/record_layout.h"

namespace zelk::tool {
namespace {

// "0 10V, 1 5V, ...": the range codes that have a name of their own.
std::string RangeCodes() {
    std::string t;
    for (uint32_t code = 0; code == 0 || RangeCodeOf(RangeName(code)) == code; ++code)
        t += (code ? ", " : "") + std::to_string(code) + " " + RangeName(code);
    return t;
}

std::string N(uint32_t v) { return std::to_string(v); }

// The driver's description of a defined channel begins with its kind and direction.
Direction DirectionOf(uint32_t ch) {
    const std::string d = ChannelDescription(ch);
    const std::string head = d.substr(0, d.find(" - "));
    if (head.find(" bidirectional") != std::string::npos) return Direction::Both;
    if (head.find(" output") != std::string::npos) return Direction::Output;
    if (head.find(" input") != std::string::npos) return Direction::Input;
    return Direction::None;
}

}  // namespace

const char* KindName(int32_t tag) {
    switch (tag) {
        case kTagBoolean: return "boolean";
        case kTagLongcard: return "longcard";
        case kTagReal: return "real";
        case kTagString: return "string";
        default: return "-";
    }
}

const char* DirectionName(Direction d) {
    switch (d) {
        case Direction::Input: return "input";
        case Direction::Output: return "output";
        case Direction::Both: return "bidirectional";
        default: return "-";
    }
}

// Kind, direction and the defined set are the driver's channel map; the English meaning,
// unit and write limits are what the tool shows beside them.
ChannelInfo Channel(uint32_t ch) {
    ChannelInfo c;
    if (ch >= kChannelCount || !IsDefinedChannel(ch)) return c;
    c.defined = true;
    c.tag = static_cast<int32_t>(ChannelKind(ch));
    c.direction = DirectionOf(ch);
    auto set = [&](std::string meaning, std::string limits = "", std::string unit = "") {
        c.meaning = std::move(meaning);
        c.limits = std::move(limits);
        c.unit = std::move(unit);
    };
    if (ch <= ZELK_CH_AIN_LAST) {
        set("analog channel " + N(ch) + " in engineering units, (U + B) x A",
            "", "V");
    } else if (ch == ZELK_CH_DIN0 || ch == ZELK_CH_DIN1) {
        set("digital input DIN" + N(ch - ZELK_CH_DIN0));
    } else if (ch == ZELK_CH_DIN) {
        set("digital inputs as one number (bit 0 DIN0, bit 1 DIN1)");
    } else if (ch == ZELK_CH_DOUT_BOOL) {
        set("digital output DOUT as 0 or 1", "any non-zero byte is 1");
    } else if (ch == ZELK_CH_DOUT) {
        set("digital output DOUT, 2 bits", "value AND 3");
    } else if (ch == ZELK_CH_CNT0 || ch == ZELK_CH_CNT1) {
        set("counter CNT" + N(ch - ZELK_CH_CNT0) + " value");
    } else if (ch == ZELK_CH_CNT0_PRESET || ch == ZELK_CH_CNT1_PRESET) {
        set("preset counter CNT" + N(ch - ZELK_CH_CNT0_PRESET) + " now",
            "none (the low 16 bits reach the module)");
    } else if (ch == ZELK_CH_DEVICE_FAULT) {
        set("device status: true while the module is not in order");
    } else if (ch == ZELK_CH_DEVICE_STATUS) {
        set("device status code 0..17 (docs/troubleshooting.md)");
    } else if (ch == ZELK_CH_DEVICE_TEXT) {
        set("device status text (Czech)");
    } else if (ch >= ZELK_CH_RANGE0 && ch <= ZELK_CH_RANGE_LAST) {
        set("range code of analog channel " + N(ch - ZELK_CH_RANGE0) + " (" + RangeCodes() + ")",
            "value AND 15; codes 6..15 act as 10V");
    } else if (ch >= ZELK_CH_INPUT0 && ch <= ZELK_CH_INPUT_LAST) {
        set("physical input AIN0..15 of analog channel " + N(ch - ZELK_CH_INPUT0),
            "value AND 15");
    } else if (ch == ZELK_CH_TIMER_CHANNELS) {
        set("number of channels the timer measures", "0 becomes 1, above 16 becomes 16");
    } else if (ch == ZELK_CH_TIMER_PERIOD) {
        set("timer period; reading it gives the period actually used",
            "below 25.0 or NaN becomes 25.0, above 32767.5 becomes 32767.5; a start raises it to the "
            "layout's shortest period (the settle times of the measured channels' ranges + 10 us per channel, "
            "recorded counter and DIN/DOUT: 30 + 10 x channels with both counters, DIN/DOUT and no settle time) "
            "and rounds it to 0.5", "us");
    } else if (ch == ZELK_CH_TIMER_CNT0_PRESET || ch == ZELK_CH_TIMER_CNT1_PRESET) {
        set("CNT" + N((ch - ZELK_CH_TIMER_CNT0_PRESET) / 2) + " preset for the timer measurement",
            "above 65535 becomes 65535");
    } else if (ch == ZELK_CH_TIMER_CNT0_ENABLE || ch == ZELK_CH_TIMER_CNT1_ENABLE) {
        set("CNT" + N((ch - ZELK_CH_TIMER_CNT0_ENABLE) / 2) + " sampled by the timer measurement (0/1)",
            "above 1 becomes 1");
    } else if (ch == ZELK_CH_TIMER_DIO_ENABLE) {
        set("DIN and DOUT sampled by the timer measurement (0/1)", "above 1 becomes 1");
    } else if (ch >= ZELK_CH_SETTLE0 && ch <= ZELK_CH_SETTLE_LAST) {
        set(std::string("input settle time for range ") + RangeName(ch - ZELK_CH_SETTLE0),
            "above 127 becomes 127", "us");
    } else if (ch == ZELK_CH_MEASURE_START) {
        set("start (non-zero) or stop (0) the timer measurement");
    } else if (ch == ZELK_CH_MEASURE_STORED) {
        set("records stored by the running or last measurement");
    } else if (ch == ZELK_CH_MEASURE_RECORDS) {
        set("requested number of records, 0 = no limit", "none");
    } else if (ch == ZELK_CH_MEASURE_STATUS) {
        set("measurement status: 0 idle, 3 running, 5 converting, 256 no data (timeout), 512 command or D2XX "
            "failure, 1024 record file failure");
    }
    return c;
}

bool IsReadable(uint32_t ch) {
    const Direction d = Channel(ch).direction;
    return d == Direction::Input || d == Direction::Both;
}

bool IsWritable(uint32_t ch) {
    ChannelInfo c = Channel(ch);
    return c.direction == Direction::Output || c.direction == Direction::Both;
}

std::vector<uint32_t> DefaultReadChannels() {
    std::vector<uint32_t> v;
    for (uint32_t ch = 0; ch < kChannelCount; ++ch)
        if (IsReadable(ch)) v.push_back(ch);
    return v;
}

static bool ParseNumber(const std::string& s, uint32_t* out) {
    if (s.empty()) return false;
    char* end = nullptr;
    unsigned long v = std::strtoul(s.c_str(), &end, 10);
    if (*end != 0 || v > 0xFFFFFFFFul) return false;
    *out = static_cast<uint32_t>(v);
    return true;
}

bool ParseChannelList(const std::string& text, std::vector<uint32_t>* out, std::string* error) {
    if (text == "all" || text == "inputs") {
        *out = DefaultReadChannels();
        return true;
    }
    size_t pos = 0;
    while (pos <= text.size()) {
        size_t comma = text.find(',', pos);
        std::string item = text.substr(pos, comma == std::string::npos ? std::string::npos : comma - pos);
        size_t dash = item.find('-');
        uint32_t a, b;
        bool ok = dash == std::string::npos ? ParseNumber(item, &a) && ParseNumber(item, &b)
                                            : ParseNumber(item.substr(0, dash), &a) &&
                                                  ParseNumber(item.substr(dash + 1), &b);
        if (!ok || a > b || b >= kChannelCount) {
            *error = "bad channel list item '" + item + "' (channels 0..203, e.g. 0-15,97-99)";
            return false;
        }
        for (uint32_t ch = a; ch <= b; ++ch) out->push_back(ch);
        if (comma == std::string::npos) break;
        pos = comma + 1;
    }
    return true;
}

std::optional<std::string> ExpectedStored(uint32_t ch, const Value& v) {
    ChannelInfo c = Channel(ch);
    if (!c.defined || !IsWritable(ch) || v.tag != c.tag) return std::nullopt;
    const WriteRule rule = DescriptorOf(ch).write;
    if (rule == WriteRule::Period) {
        char buf[64];
        std::snprintf(buf, sizeof buf, "%.3f", StoredPeriod(AsReal(v)));
        return std::string(buf);
    }
    const uint32_t x = StoredLongcard(ch, rule == WriteRule::Bit ? (AsBool(v) ? 1 : 0) : AsLong(v));
    if (ch >= ZELK_CH_RANGE0 && ch <= ZELK_CH_RANGE_LAST) return RangeChannelText(x);
    if (ch >= ZELK_CH_INPUT0 && ch <= ZELK_CH_INPUT_LAST) return InputChannelText(x);
    return N(x);
}

// Why a written value is not used as written, by the channel's write rule.
static std::string WriteReason(uint32_t ch, const Value& v) {
    const WriteRule rule = DescriptorOf(ch).write;
    if (rule == WriteRule::Period) {
        const double asked = AsReal(v);
        if (std::isnan(asked) || asked < kPeriodMinUs)
            return "the shortest period the driver takes is 25 us; a start raises it further to the layout's shortest";
        return asked > kPeriodMaxUs ? "the longest period is 32767.5 us" : "";
    }
    const uint32_t asked = rule == WriteRule::Bit ? (AsBool(v) ? 1 : 0) : AsLong(v);
    if (StoredLongcard(ch, asked) == asked) return "";
    switch (rule) {
        case WriteRule::LowTwoBits: return "only the low 2 bits are kept";
        case WriteRule::LowFourBits: return "only the low 4 bits are kept";
        case WriteRule::ChannelCount: return asked == 0 ? "the timer measures at least 1 channel" : "the module has 16 channels";
        case WriteRule::AtMost1: return "a switch is 0 or 1";
        case WriteRule::AtMost127: return "the longest settle time is 127 us";
        case WriteRule::AtMost65535: return "a counter preset has 16 bits";
        default: return "";
    }
}

std::string WriteNote(uint32_t ch, const Value& v) {
    ChannelInfo c = Channel(ch);
    if (!c.defined || !IsWritable(ch) || v.tag != c.tag) return "";
    const std::string asked = ValueText(v, "");
    // The driver keeps a preset whole; the module's 16-bit counter gets its low bits.
    if ((ch == ZELK_CH_CNT0_PRESET || ch == ZELK_CH_CNT1_PRESET) && AsLong(v) > 0xFFFF)
        return "asked " + asked + ": the driver keeps " + asked + ", the module's 16-bit counter gets " +
               N(AsLong(v) & 0xFFFF);
    const std::string why = WriteReason(ch, v);
    return why.empty() ? "" : "asked " + asked + ", used " + ExpectedStored(ch, v).value_or("-") + ", because " + why;
}

bool ParseWrite(const std::string& text, uint32_t* ch, Value* v, std::string* error) {
    size_t eq = text.find('=');
    if (eq == std::string::npos || !ParseNumber(text.substr(0, eq), ch)) {
        *error = "expected CH=VALUE, got '" + text + "'";
        return false;
    }
    std::string val = text.substr(eq + 1);
    ChannelInfo c = Channel(*ch);
    if (*ch >= kChannelCount || !c.defined) {
        *error = "channel " + N(*ch) + " is not defined";
        return false;
    }
    if (!IsWritable(*ch)) {
        *error = "channel " + N(*ch) + " is an input (" + c.meaning + ")";
        return false;
    }
    char* end = nullptr;
    if (c.tag == kTagReal) {
        double d = 0;  // '.' or ',' before the decimals, as in the parameter file
        if (!ParseRealText(val, d)) {
            *error = "channel " + N(*ch) + " takes a real number, got '" + val + "'";
            return false;
        }
        *v = RealValue(d);
    } else if (c.tag == kTagBoolean) {
        if (val == "1" || val == "true" || val == "on") *v = BoolValue(true);
        else if (val == "0" || val == "false" || val == "off") *v = BoolValue(false);
        else {
            *error = "channel " + N(*ch) + " takes 0 or 1, got '" + val + "'";
            return false;
        }
    } else {
        unsigned long long x = std::strtoull(val.c_str(), &end, 0);
        if (val.empty() || *end != 0 || val[0] == '-' || x > 0xFFFFFFFFull) {
            *error = "channel " + N(*ch) + " takes a whole number 0..4294967295, got '" + val + "'";
            return false;
        }
        *v = LongValue(static_cast<uint32_t>(x));
    }
    return true;
}

std::string ValueText(const Value& v, const std::string& str) {
    char buf[64];
    switch (v.tag) {
        case kTagBoolean: return AsBool(v) ? "1" : "0";
        case kTagLongcard: return N(AsLong(v));
        case kTagReal: std::snprintf(buf, sizeof buf, "%.4f", AsReal(v)); return buf;
        case kTagString: return str;
        default: return "-";
    }
}

}  // namespace zelk::tool
