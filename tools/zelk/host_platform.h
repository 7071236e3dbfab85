// What the tool takes from the platform layer: the artifacts' file names in this platform's
// form, and the console services (message loop, Ctrl+C, code page, local time, desktop).
#pragma once
#include <string>

#include "platform/console.h"
#include "platform/platform.h"

namespace zelk::tool {

using plat::InstallInterruptHandler;
using plat::DesktopWindows;
using plat::Interrupted;
using plat::PrepareConsole;
using plat::PumpMessages;
using plat::StdoutIsTerminal;
using plat::SystemNarrow;

inline std::tm LocalTime(std::time_t t) { return plat::CalendarTime(t); }

// File names of the artifacts on this platform.
inline std::string SimDriverFileName() { return plat::SharedLibraryFileName("rq_zelk2716e_sim"); }
inline std::string D2xxFileName() { return plat::SharedLibraryFileName("ftd2xx"); }

}  // namespace zelk::tool
