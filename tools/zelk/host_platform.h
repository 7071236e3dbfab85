// What the tool needs of the operating system: loading a library, the executable's folder,
// the window's message loop and Ctrl+C. Each platform has its own file.
#pragma once
#include <ctime>
#include <string>

namespace zelk::tool {

class Library {
public:
    Library() = default;
    ~Library();
    Library(const Library&) = delete;
    Library& operator=(const Library&) = delete;
    // False with the loader's own message in `error`.
    bool Open(const std::string& path, std::string* error);
    void* Symbol(const char* name) const;
    bool IsOpen() const { return handle_ != nullptr; }

private:
    void* handle_ = nullptr;
};

// File names of the artifacts on this platform.
extern const char* const kDriverFileName;     // the driver on real D2XX
extern const char* const kSimDriverFileName;  // the driver with the simulated module
extern const char* const kD2xxFileName;       // FTDI's D2XX library
extern const char* const kToolFileName;

// Folder of the running executable, with a trailing separator.
std::string ExecutableDirectory();

// Runs the calling thread's message loop (the driver window lives on it) for about `ms`
// milliseconds; where there is no window system it only sleeps.
void PumpMessages(int ms);

// Whether standard output is a terminal (live tables and progress lines) or a pipe or file.
bool StdoutIsTerminal();

// The local time of a moment.
std::tm LocalTime(std::time_t t);

// Texts are UTF-8. On Windows a console is told so (its code page set to UTF-8 while the
// tool runs); pipes and files get the bytes as they are.
void PrepareConsole();

// Ctrl+C (and SIGTERM) only set a flag that the commands poll.
void InstallInterruptHandler();
bool Interrupted();

}  // namespace zelk::tool
