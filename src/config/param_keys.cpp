#include "config/param_keys.h"

#include <algorithm>
#include <cstdint>

#include "domain/numtext.h"
#include "config/param_file.h"
#include "domain/text.h"
#include "config/TCFG.h"
#include "domain/ranges.h"
#include "domain/record_layout.h"

namespace zelk::param {

namespace {

constexpr const char* kModule = "Volba modulu";
constexpr const char* kLog = "Logovací soubor"_cp;
constexpr const char* kChannel = "Analogový kanál "_cp;
constexpr const char* kTimer = "Měření časovačem"_cp;
constexpr const char* kConversion = "Konverze souboru";

std::vector<Key> MakeKeys() {
    using K = Kind;
    return {
        {KeyId::Serial, kModule, "Výrobní číslo"_cp, K::Text, false, 0, 0, false, true},
        {KeyId::UsbTimeout, kModule, "USB timeout", K::Integer, false, 1, 10000, true},
        {KeyId::LogLevel, kLog, "Úroveň"_cp, K::Integer, false, 0, 3, true},
        {KeyId::LogFile, kLog, "Název souboru"_cp, K::Text, false},
        {KeyId::LogSize, kLog, "Maximální velikost [MB]"_cp, K::Integer, false, 0, INT32_MAX, true},
        {KeyId::ChannelName, kChannel, "Název "_cp, K::Text, true},
        {KeyId::ChannelInput, kChannel, "Vstup ", K::Integer, true, 0, 15},
        {KeyId::ChannelRange, kChannel, "Rozsah ", K::RangeName, true},
        {KeyId::ChannelConstA, kChannel, "Konstanta A", K::Real, true, 0, 0, true},
        {KeyId::ChannelConstB, kChannel, "Konstanta B", K::Real, true, 0, 0, true},
        {KeyId::TimerChannels, kTimer, "Počet kanálů"_cp, K::Integer, false, 1, 16},
        {KeyId::TimerPeriod, kTimer, "Perioda [us]", K::Real, false, 0, 0, true},
        {KeyId::Cnt0Preset, kTimer, "Přednastavení CNT0"_cp, K::Integer, false, 0, 65535},
        {KeyId::Cnt0Enable, kTimer, "Povolení CNT0"_cp, K::Integer, false, 0, 1},
        {KeyId::Cnt1Preset, kTimer, "Přednastavení CNT1"_cp, K::Integer, false, 0, 65535},
        {KeyId::Cnt1Enable, kTimer, "Povolení CNT1"_cp, K::Integer, false, 0, 1},
        {KeyId::DinDoutEnable, kTimer, "Povolení DIN a DOUT"_cp, K::Integer, false, 0, 1},
        {KeyId::Settle10V, kTimer, "Ustálení 10V [us]"_cp, K::Integer, false, 0, 255},
        {KeyId::Settle5V, kTimer, "Ustálení 5V [us]"_cp, K::Integer, false, 0, 255},
        {KeyId::Settle2V, kTimer, "Ustálení 2V [us]"_cp, K::Integer, false, 0, 255},
        {KeyId::Settle1V, kTimer, "Ustálení 1V [us]"_cp, K::Integer, false, 0, 255},
        {KeyId::Settle500mV, kTimer, "Ustálení 500mV [us]"_cp, K::Integer, false, 0, 255},
        {KeyId::Settle200mV, kTimer, "Ustálení 200mV [us]"_cp, K::Integer, false, 0, 255},
        {KeyId::FileType, kConversion, "Typ souboru", K::FileType, false, 0, 0, true},
        {KeyId::Directory, kConversion, "Adresář"_cp, K::Text, false},
    };
}

std::string Enabled(int32_t enable) { return IsRecorded(enable) ? "1 (recorded)" : "0 (not recorded)"; }

}  // namespace

const std::vector<Key>& Keys() {
    static const std::vector<Key> keys = MakeKeys();
    return keys;
}

const Key& KeyOf(KeyId id) {
    for (const Key& k : Keys())
        if (k.id == id) return k;
    return Keys().front();
}

std::string SectionOf(const Key& key, int channel) {
    return key.perAnalogChannel ? key.section + std::to_string(channel) : key.section;
}

const char* NameOf(KeyId id) { return KeyOf(id).name; }

std::string SectionOf(KeyId id, int channel) { return SectionOf(KeyOf(id), channel); }

// Names are trimmed for messages: the reader compares them trimmed, some are written with a blank.
std::string WhereOf(KeyId id, int channel) {
    std::string name = NameOf(id);
    while (!name.empty() && name.back() == ' ') name.pop_back();
    return SectionOf(id, channel) + " / " + name;
}

std::vector<std::string> Sections() {
    std::vector<std::string> out;
    for (const Key& k : Keys()) {
        if (k.perAnalogChannel) continue;
        if (std::find(out.begin(), out.end(), k.section) == out.end()) out.push_back(k.section);
    }
    for (int n = 0; n < kAnalogCount; ++n) out.push_back(kChannel + std::to_string(n));
    return out;
}

std::string ValueUsed(KeyId id, const TCFG& cfg, int channel) {
    const int n = std::clamp(channel, 0, kAnalogCount - 1);
    // As a measurement takes them: the channel count and the period within their limits.
    ModuleSettings s = SettingsOfConfig(cfg);
    AdjustTimerSettings(s);
    switch (id) {
        case KeyId::Serial: return cfg.ModuleSerial;
        case KeyId::UsbTimeout: return text::Decimal(cfg.UsbTimeout);
        case KeyId::LogLevel: return text::Decimal(cfg.LogLevel);
        case KeyId::LogFile: return cfg.LogFileName;
        case KeyId::LogSize: return text::Decimal(static_cast<int64_t>(cfg.LogSizeLimit >> 20));
        case KeyId::ChannelName: return cfg.ChannelName[n];
        case KeyId::ChannelInput: return text::Decimal(static_cast<int32_t>(s.PhysInput[n]));
        case KeyId::ChannelRange: return RangeName(RangeCodeOf(cfg.ChannelRangeName[n]));
        case KeyId::ChannelConstA: return text::FormatFixed(cfg.ChannelConstA[n], 15, 15, '.');
        case KeyId::ChannelConstB: return text::FormatFixed(cfg.ChannelConstB[n], 15, 15, '.');
        case KeyId::TimerChannels: return text::Decimal(s.TimerChannelCount);
        case KeyId::TimerPeriod: return text::FormatFixed(s.TimerPeriodUs, 1, 15, '.');
        case KeyId::Cnt0Preset: return text::Decimal(static_cast<uint32_t>(s.Cnt0Preset));
        case KeyId::Cnt0Enable: return Enabled(s.Cnt0Enable);
        case KeyId::Cnt1Preset: return text::Decimal(static_cast<uint32_t>(s.Cnt1Preset));
        case KeyId::Cnt1Enable: return Enabled(s.Cnt1Enable);
        case KeyId::DinDoutEnable: return Enabled(s.DinDoutEnable);
        case KeyId::Settle10V:
        case KeyId::Settle5V:
        case KeyId::Settle2V:
        case KeyId::Settle1V:
        case KeyId::Settle500mV:
        case KeyId::Settle200mV:
            return text::Decimal(static_cast<uint32_t>(
                s.SettleTime[static_cast<int>(id) - static_cast<int>(KeyId::Settle10V)]));
        case KeyId::FileType: return cfg.ConvFileTypeName;
        case KeyId::Directory: return cfg.ConvDirectory;
    }
    return {};
}

}  // namespace zelk::param
