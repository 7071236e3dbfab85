#include "channel_labels.h"

#include <cctype>
#include <cstdio>
#include <filesystem>

#include "channels.h"
#include "config/ini_reader.h"
#include "domain/text.h"
#include "param_file.h"

namespace zelk::tool {
namespace {

std::string Compose(const std::string& id, const ChannelLabel& l) {
    if (!l.described) return id;
    std::string h = id;
    if (!l.name.empty()) h += " " + l.name;
    if (!l.unit.empty()) h += " [" + l.unit + "]";
    return h;
}

std::string Constant(double v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%g", v);
    return buf;
}

ChannelLabel Volts() { return {"", "V", "V"}; }

}  // namespace

std::string UnitOf(const std::optional<std::string>& unitKey, double constA, double constB) {
    if (unitKey) return *unitKey;
    return constA == 1.0 && constB == 0.0 ? "V" : "";
}

ChannelLabels::ChannelLabels() { analog_.fill(Volts()); }

ChannelLabels ChannelLabels::Unknown() {
    ChannelLabels l;
    l.analog_.fill({"", "", "engineering units (constants A, B not known)"});
    return l;
}

ChannelLabels ChannelLabels::FromConfig(const TCFG& cfg, const std::string& path) {
    ChannelLabels l;
    // The driver's reader takes every encoding of the file to cp1250; the keys are looked
    // up as the driver looks up its own.
    ini::IniFile file;
    ini::IniFile::Load(std::filesystem::absolute(path).string(), file);
    for (int n = 0; n < kAnalogCount; ++n) {
        const std::string section = text::Utf8ToCp1250("Analogový kanál " + std::to_string(n));
        ChannelLabel& c = l.analog_[static_cast<size_t>(n)];
        const bool named = file.Find(section, text::Utf8ToCp1250("Název")).has_value();
        if (named) c.name = text::Cp1250ToUtf8(cfg.ChannelName[n]);
        std::optional<std::string> unit = file.Find(section, kUnitKey);
        if (unit) unit = text::Cp1250ToUtf8(*unit);
        c.described = named || unit.has_value();
        const double a = cfg.ChannelConstA[n], b = cfg.ChannelConstB[n];
        c.unit = UnitOf(unit, a, b);
        c.axis = !c.unit.empty() ? c.unit : "(U + B) x A, A = " + Constant(a) + ", B = " + Constant(b);
    }
    return l;
}

ChannelLabels ChannelLabels::FromParamFile(const std::string& path) {
    TCFG cfg;
    std::string message;
    if (!ReadParam(path, &cfg, &message)) return ChannelLabels();
    return FromConfig(cfg, path);
}

ChannelLabel ChannelLabels::Of(uint32_t ch) const {
    if (ch <= ZELK_CH_AIN_LAST) return Analog(static_cast<int>(ch));
    const std::string unit = Channel(ch).unit;
    return {"", unit, unit};
}

int ChannelLabels::AnalogOfField(const std::string& field) {
    if (field.size() < 4 || field.size() > 5) return -1;
    for (size_t i = 0; i < 3; ++i)
        if (std::toupper(static_cast<unsigned char>(field[i])) != "AIN"[i]) return -1;
    int n = 0;
    for (size_t i = 3; i < field.size(); ++i) {
        if (!std::isdigit(static_cast<unsigned char>(field[i]))) return -1;
        n = n * 10 + (field[i] - '0');
    }
    if (field.size() == 5 && field[3] == '0') return -1;
    return n < kAnalogCount ? n : -1;
}

std::string ChannelLabels::Heading(const std::string& field) const {
    const int n = AnalogOfField(field);
    return n < 0 ? field : Compose(field, Analog(n));
}

std::string ChannelLabels::Heading(const std::string& id, uint32_t ch) const { return Compose(id, Of(ch)); }

}  // namespace zelk::tool
