// The only place that knows the operating system: ticks, sleep, threads, lock, local clock
// and regional formats, files and directories, the executable's directory, library loading.
// Texts are 8-bit strings in code page 1250 on every platform; names of files and folders
// reach the system in its own form (native_path.h).
#pragma once
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>

#include "platform/thread_annotations.h"

namespace zelk::plat {

// Milliseconds since an arbitrary start, 32 bits, wrapping; compare as unsigned differences.
uint32_t TickCount();
void SleepMs(uint32_t ms);

// A manual-reset event: set once, waited for by any number of threads.
class Event {
public:
    Event();
    ~Event();
    Event(const Event&) = delete;
    Event& operator=(const Event&) = delete;
    void Set();
    bool IsSet() const;
    // Waits at most `ms` for Set; true if it is set.
    bool Wait(uint32_t ms);
    // The same, but on Windows the waiting thread dispatches the messages that other threads
    // send to it meanwhile: a driver thread blocked in the host's SendMessage() to this
    // thread can then finish. Posted messages stay queued. Elsewhere it is Wait.
    bool WaitDispatching(uint32_t ms);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// An auto-reset wake-up: a thread that waits for work blocks on it, whoever gives the work
// raises it. A raise with nobody waiting is kept for the next wait; several raises before a
// wait count as one.
class WakeUp {
public:
    WakeUp();
    ~WakeUp();
    WakeUp(const WakeUp&) = delete;
    WakeUp& operator=(const WakeUp&) = delete;
    void Raise();
    // Waits until raised or until `ms` have passed (as precisely as SleepMs); true when it was
    // raised. Either way the raise is used up.
    bool Wait(uint32_t ms);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// Short waits that last what they say. On Windows a plain 1 ms wait lasts a scheduler tick
// (about 15.6 ms) unless the process asks for a finer timer: SleepMs and WakeUp::Wait use a
// high-resolution waitable timer where the system has one, and otherwise rely on a 1 ms
// timer period that running instances hold through this object (the first holder sets it,
// the last one to release restores it). Elsewhere it does nothing.
class PreciseTimingHold {
public:
    PreciseTimingHold() = default;
    ~PreciseTimingHold() { Release(); }
    PreciseTimingHold(const PreciseTimingHold&) = delete;
    PreciseTimingHold& operator=(const PreciseTimingHold&) = delete;
    void Acquire();
    void Release();

private:
    bool held_ = false;
};
// Test and benchmark hook: false makes every wait take the timer-period path even where a
// high-resolution timer exists. Set it while no instance runs.
void AllowHighResolutionTimer(bool allowed);
// The high-resolution timer path is in use (always false outside Windows).
bool HighResolutionTimerInUse();
// Holders of the 1 ms timer period that are in effect (0 outside Windows or on the
// high-resolution path).
int TimerPeriodHolders();

// Sleeps `ms`, dispatching sent messages on Windows as Event::WaitDispatching does.
void SleepDispatching(uint32_t ms);

// Runs `body` on a detached thread that keeps this library loaded until the body has
// returned, even if the host unloads it meanwhile (Windows: a module reference released by
// FreeLibraryAndExitThread; POSIX: the library is marked never to be unloaded). Exceptions
// of the body are swallowed. False if no thread could be made.
bool RunDetachedPinned(std::function<void()> body);

// A thread created suspended. Its body gets the thread so that it can poll
// TerminateRequested() between steps. The owner joins it; the destructor joins too.
class Thread {
public:
    using Body = std::function<void(Thread&)>;
    explicit Thread(Body body);
    ~Thread();
    Thread(const Thread&) = delete;
    Thread& operator=(const Thread&) = delete;

    void Start();                 // resumes the suspended thread (once)
    void RequestTerminate() { terminate_.store(true); }
    bool TerminateRequested() const { return terminate_.load(); }
    bool Finished() const { return finished_.load(); }  // the body has returned
    bool IsCurrentThread() const;  // true when called from inside the body
    void Join();                   // waits for the body; no-op if not started or on itself
    // Waits at most `ms` for the body to return; true if it has (or it never started).
    bool WaitFor(uint32_t ms);
    // The same, dispatching sent messages on Windows (see Event::WaitDispatching).
    bool WaitForDispatching(uint32_t ms);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
    Body body_;
    std::atomic<bool> terminate_{false};
    std::atomic<bool> finished_{false};
};

// An in-process lock (a critical section). Not re-entrant: a thread that takes it while
// holding it deadlocks; code that runs with it held calls the `...Locked` variants, which
// REQUIRE it, instead of the functions that take it.
class CAPABILITY("mutex") Mutex {
public:
    Mutex();
    ~Mutex();
    Mutex(const Mutex&) = delete;
    Mutex& operator=(const Mutex&) = delete;
    void Lock() ACQUIRE();
    void Unlock() RELEASE();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// Holds a Mutex for its own lifetime.
class SCOPED_CAPABILITY LockGuard {
public:
    explicit LockGuard(Mutex& l) ACQUIRE(l) : l_(l) { l_.Lock(); }
    ~LockGuard() RELEASE() { l_.Unlock(); }
    LockGuard(const LockGuard&) = delete;
    LockGuard& operator=(const LockGuard&) = delete;

private:
    Mutex& l_;
};

struct LocalTime {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, millisecond = 0;
};
LocalTime Now();
// Date and time in the user's regional short date and long time formats, to the second.
// POSIX has no such settings: a fixed d.m.yyyy h:mm:ss.
std::string FormatRegionalDateTime(const LocalTime& t);
// The user's decimal separator ('.' on POSIX).
char DecimalSeparator();

// std::fopen of a name held as cp1250 text.
std::FILE* OpenFileStream(const std::string& path, const char* mode);
bool FileExists(const std::string& path);
bool DirectoryExists(const std::string& path);
// Creates the directory and every missing parent; true if it exists afterwards.
bool CreateDirectories(const std::string& path);
bool DeleteFileAt(const std::string& path);
// Gives the file `from` the name `to`, replacing a file of that name; false when it could not.
bool RenameFile(const std::string& from, const std::string& to);
// The directory of the host's executable, ending in the path separator.
std::string ExecutableDirectory();
// True if the path names a directory part ('\\', '/' or a drive colon on Windows; '/' on POSIX).
bool HasDirectoryPart(const std::string& path);
char PathSeparator();

// Run-time library loading.
class DynamicLibrary {
public:
    DynamicLibrary() = default;
    ~DynamicLibrary();
    DynamicLibrary(const DynamicLibrary&) = delete;
    DynamicLibrary& operator=(const DynamicLibrary&) = delete;
    // A bare name goes through the platform's library search; a path with a folder loads that
    // file, and on Windows the libraries it needs are looked for in its folder first. False
    // with the loader's own message in `error` (when given).
    bool Open(const std::string& name, std::string* error = nullptr);
    // A library that ships beside the host or the driver, by file name. Windows tries the
    // host's folder, then the folder of the module holding this code (the driver's DLL), then
    // the system folder, and never the current directory or PATH. POSIX: Open(fileName).
    bool OpenFromTrustedFolders(const std::string& fileName, std::string* error = nullptr);
    void* Symbol(const char* name) const;
    bool IsOpen() const { return handle_ != nullptr; }
    void Close();

private:
    void* handle_ = nullptr;
};

// The file name of a shared library or an executable built under `base` on this platform
// ("ftd2xx" -> "ftd2xx.dll" or "libftd2xx.so"; "zelk" -> "zelk.exe" or "zelk").
std::string SharedLibraryFileName(const std::string& base);
std::string ExecutableFileName(const std::string& base);

}  // namespace zelk::plat
