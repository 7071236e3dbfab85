// What a console program needs of the operating system beyond the rest of this layer: the
// calling thread's message loop, the console's code page, Ctrl+C, and the local calendar time.
// Used by the host tool; the driver itself links none of it.
#pragma once
#include <ctime>
#include <filesystem>
#include <string>

namespace zelk::plat {

// Runs the calling thread's message loop (a window made on it lives on it) for about `ms`
// milliseconds; where there is no window system it only sleeps.
void PumpMessages(int ms);

// Whether the desktop shows windows that the driver makes (Windows); elsewhere a driver
// window exists only as its text.
bool DesktopWindows();

// Whether standard output is a terminal (live tables and progress lines) or a pipe or file.
bool StdoutIsTerminal();

// The local calendar time of a moment.
std::tm CalendarTime(std::time_t t);

// Texts are UTF-8. On Windows a console is told so (its code page set to UTF-8 while the
// program runs); pipes and files get the bytes as they are. On Windows it also makes narrow
// file names (the command line's) read in the ANSI code page, as the system gives them.
void PrepareConsole();

// A path in the narrow form the system's narrow file functions take (the ANSI code page on
// Windows, where the C++ library's own narrow form of a path is UTF-8; the bytes on POSIX).
std::string SystemNarrow(const std::filesystem::path& p);

// Ctrl+C (and SIGTERM) only set a flag that the program polls.
void InstallInterruptHandler();
bool Interrupted();

}  // namespace zelk::plat
