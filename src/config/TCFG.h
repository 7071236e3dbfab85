// TCFG: the settings read from the parameter file, its defaults, and the module settings it
// gives. Pure, so that a host tool reading a parameter file uses what the driver uses.
#pragma once
#include <array>
#include <cstdint>
#include <string>

#include "domain/channel_map.h"
#include "domain/timer_settings.h"

namespace zelk {

// Settings read from the parameter file.
struct TCFG {
    std::string ModuleSerial;
    int32_t UsbTimeout = 500;
    int32_t LogLevel = 0;
    std::string LogFileName;
    // Bytes the log file may reach before it is renamed to name.1 and a new one is started;
    // 0: no bound. The parameter file gives it in MB.
    uint64_t LogSizeLimit = 100ull << 20;
    std::array<std::string, kChannelCount> ChannelName;
    std::array<std::string, kChannelCount> ChannelRangeName;
    std::array<uint8_t, kChannelCount> ChannelInput{};
    std::array<uint8_t, kChannelCount> ChannelRange{};
    std::array<double, kChannelCount> ChannelConstA{};
    std::array<double, kChannelCount> ChannelConstB{};
    // The timer period as written; Timer.TimerPeriodUs is its value.
    std::string TimerPeriodText;
    TimerSettings Timer{.TimerChannelCount = 8};
    std::string ConvFileTypeName;
    int32_t ConvFileType = 1;  // 0 = BIN, 1 = DBF
    std::string ConvDirectory;
};

// The configuration as MakeDriver leaves it.
void SetConfigDefaults(TCFG& cfg);

// The settings a configuration read from a parameter file gives the module.
ModuleSettings SettingsOfConfig(const TCFG& cfg);

}  // namespace zelk
