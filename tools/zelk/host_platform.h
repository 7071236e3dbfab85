// What the tool needs of the operating system beyond the driver's platform layer (which loads
// libraries and knows the executable's folder): the artifacts' file names, the window's
// message loop and Ctrl+C. Each platform has its own file.
#pragma once
#include <ctime>
#include <filesystem>
#include <string>

namespace zelk::tool {

// File names of the artifacts on this platform.
extern const char* const kDriverFileName;     // the driver on real D2XX
extern const char* const kSimDriverFileName;  // the driver with the simulated module
extern const char* const kD2xxFileName;       // FTDI's D2XX library
extern const char* const kToolFileName;

// Runs the calling thread's message loop (the driver window lives on it) for about `ms`
// milliseconds; where there is no window system it only sleeps.
void PumpMessages(int ms);

// Whether standard output is a terminal (live tables and progress lines) or a pipe or file.
bool StdoutIsTerminal();

// The local time of a moment.
std::tm LocalTime(std::time_t t);

// Texts are UTF-8. On Windows a console is told so (its code page set to UTF-8 while the
// tool runs); pipes and files get the bytes as they are. On Windows it also makes narrow
// file names (the command line's) read in the ANSI code page, as the system gives them.
void PrepareConsole();

// A path in the narrow form the system's narrow file functions take (the ANSI code page on
// Windows, where the C++ library's own narrow form of a path is UTF-8; the bytes on POSIX).
std::string SystemNarrow(const std::filesystem::path& p);

// Ctrl+C (and SIGTERM) only set a flag that the commands poll.
void InstallInterruptHandler();
bool Interrupted();

}  // namespace zelk::tool
