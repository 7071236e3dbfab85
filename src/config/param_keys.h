// The keys of the parameter file that the driver reads: their sections, names, kinds and the
// values it takes as written. The reader takes its names from here, and the tool's check of a
// parameter file takes this table and the reader's own result, so the two cannot disagree.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace zelk {

struct TCFG;

namespace param {

enum class KeyId : uint8_t {
    Serial,
    UsbTimeout,
    LogLevel,
    LogFile,
    LogSize,
    ChannelName,
    ChannelInput,
    ChannelRange,
    ChannelConstA,
    ChannelConstB,
    TimerChannels,
    TimerPeriod,
    Cnt0Preset,
    Cnt0Enable,
    Cnt1Preset,
    Cnt1Enable,
    DinDoutEnable,
    Settle10V,
    Settle5V,
    Settle2V,
    Settle1V,
    Settle500mV,
    Settle200mV,
    FileType,
    Directory,
};

enum class Kind : uint8_t {
    Text,       // taken as it is
    Integer,    // decimal, or hexadecimal after 0x or $; anything else keeps the default
    Real,       // '.' or ',' before the decimals
    RangeName,  // one of the range table's names, exact case; anything else is 10V
    FileType,   // BIN or DBF, any case
};

struct Key {
    KeyId id;
    const char* section;  // cp1250; for a key of each analog channel: the section name up to the number
    const char* name;     // cp1250, as the reader looks it up
    Kind kind;
    bool perAnalogChannel;
    // Integer keys: the values used as written. Outside them Init fails (`failsInit`) or the
    // module gets another value (the value the driver uses says which).
    int64_t min = 0, max = 0;
    bool failsInit = false;  // a value out of its limits or unreadable fails Init
    bool required = false;   // Init fails without it
};

// Every key the driver reads, in the order of the file the driver's documentation shows.
const std::vector<Key>& Keys();
const Key& KeyOf(KeyId id);
// The key's name and section as the reader looks them up (cp1250); `channel` for the keys of
// each analog channel.
const char* NameOf(KeyId id);
std::string SectionOf(KeyId id, int channel = 0);
// "Section / Key" as the reader's messages name a key: "Volba modulu / USB timeout".
std::string WhereOf(KeyId id, int channel = 0);

// The section names, cp1250: "Analogový kanál 0" .. "Analogový kanál 15" for the channels.
std::string SectionOf(const Key& key, int channel);
// Every section the driver reads.
std::vector<std::string> Sections();

// The value a configuration read by the driver holds for a key (channel: 0..15 for the keys
// of each channel), as the module, the log or the files get it after the driver's own limits
// (a channel count limited to 1..16, a preset cut to 16 bits, ...). cp1250.
std::string ValueUsed(KeyId id, const TCFG& cfg, int channel);

}  // namespace param
}  // namespace zelk
