// A host whose notification function misbehaves while the host shuts the driver down.
//  1. (Windows) A GUI host: the callback hands the notification to the UI thread with
//     SendMessage() while that thread is inside Done. Done must dispatch the sent message,
//     so the callback returns and Done ends cleanly, without leaving a thread behind.
//  2. A callback that does not return until after DisposeDriver: Done and DisposeDriver
//     come back within their bound, a new instance works in the same process, and the host
//     may even unload the library before the callback returns into it.
//  3. A callback that calls Done itself while the host ends the instance too, at once, and
//     unloads the library: the callback's Done still runs in the library, which must stay.
//  4. (Windows) A callback that calls Done itself, so that the driver window must go from the
//     notification thread; the host unloads the library before its UI thread reads its queue
//     again, and then reads it: the window goes without any code of the library.
// Exit code 0 when every check holds.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <thread>

#include "host_check.h"

#define ZELK2716E_NO_PROTOTYPES  // the exports are looked up at run time
#include "zelk2716e.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#include <unistd.h>
#endif

namespace {

using hostcheck::failures;

// What the host allows for Done and for DisposeDriver with the default USB timeout: the
// documented bound is 5.2 s; the margin is for a loaded machine, not a target.
constexpr long kReturnBoundMs = 15000;

#if defined(_WIN32)
constexpr const char* kLibraryName = "rq_zelk2716e_sim.dll";
void* OpenLibrary() { return reinterpret_cast<void*>(LoadLibraryA(kLibraryName)); }
void* Symbol(void* lib, const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(lib), name));
}
void CloseLibrary(void* lib) { FreeLibrary(static_cast<HMODULE>(lib)); }
bool LibraryStillLoaded() { return GetModuleHandleA(kLibraryName) != nullptr; }
std::string TempBase() {
    char dir[MAX_PATH];
    DWORD n = GetCurrentDirectoryA(sizeof dir, dir);
    return std::string(dir, n) + "\\shutdown_" + std::to_string(GetCurrentProcessId());
}
void SleepMs(unsigned ms) { Sleep(ms); }
#else
void* OpenLibrary() { return dlopen(ZELK_SIM_DRIVER_PATH, RTLD_NOW | RTLD_LOCAL); }
void* Symbol(void* lib, const char* name) { return dlsym(lib, name); }
void CloseLibrary(void* lib) { dlclose(lib); }
std::string TempBase() {
    char dir[4096];
    return std::string(getcwd(dir, sizeof dir) ? dir : ".") + "/shutdown_" + std::to_string(getpid());
}
void SleepMs(unsigned ms) { usleep(ms * 1000); }
#endif

struct Exports {
    ZelkMakeDriverFn MakeDriver;
    ZelkDisposeDriverFn DisposeDriver;
    ZelkDoneFn Done;
    ZelkInputRequestCompletedFn InputRequestCompleted;
    ZelkInitFn Init;
    ZelkInputRequestFn InputRequest;
    ZelkInputFinalizedFn InputFinalized;
};

long MsSince(std::chrono::steady_clock::time_point t) {
    return static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t).count());
}

template <class F>
bool WaitUntil(F cond, int ms = 20000) {
    for (int i = 0; i < ms && !cond(); ++i) SleepMs(1);
    return cond();
}

std::string ReadFile(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

// The behaviour of the notification function, chosen per instance.
// Cases 3 and 4: the callback ends its own instance with Done, once.
std::atomic<void*> selfEndingInstance{nullptr};
std::atomic<ZelkDoneFn> selfEndingDone{nullptr};
std::atomic<int> selfEndingEntered{0};
std::atomic<int> selfEndingReturned{0};
std::atomic<void*> blockingInstance{nullptr};
std::atomic<int> entered{0};
std::atomic<int> returned{0};
std::atomic<bool> release{false};
std::atomic<int> otherCalls{0};

#if defined(_WIN32)
constexpr UINT kNotifyMessage = WM_APP + 1;
HWND uiWindow = nullptr;
std::atomic<void*> sendingInstance{nullptr};
std::atomic<bool> uiInDone{false};
std::atomic<int> dispatched{0};

void PumpFor(unsigned ms) {
    const DWORD start = GetTickCount();
    while (GetTickCount() - start < ms) {
        MSG m;
        while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&m);
            DispatchMessageW(&m);
        }
        Sleep(5);
    }
}

LRESULT CALLBACK UiProc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == kNotifyMessage) {
        dispatched++;
        return 0;
    }
    return DefWindowProcW(h, msg, wp, lp);
}
#endif

int32_t ZELK_CDECL Notify(uint32_t, int32_t, void* instance) {
    if (instance == selfEndingInstance.load()) {
        if (selfEndingEntered.exchange(1) == 0) {
            selfEndingDone.load()(instance);
            selfEndingReturned++;
        }
        return 0;
    }
#if defined(_WIN32)
    if (instance == sendingInstance.load()) {
        entered++;
        // Hand the notification to the UI thread once it is inside Done, as a GUI host does.
        WaitUntil([] { return uiInDone.load(); });
        SleepMs(50);
        SendMessageW(uiWindow, kNotifyMessage, 0, 0);
        returned++;
        return 0;
    }
#endif
    if (instance == blockingInstance.load()) {
        entered++;
        // Blocks until the host lets it go, after DisposeDriver; the bound only keeps a broken
        // build from hanging the test run.
        WaitUntil([] { return release.load(); }, 120000);
        returned++;
        return 0;
    }
    otherCalls++;
    return 0;
}

bool BindExports(void* lib, Exports& x) {
    x.MakeDriver = reinterpret_cast<ZelkMakeDriverFn>(Symbol(lib, "MakeDriver"));
    x.DisposeDriver = reinterpret_cast<ZelkDisposeDriverFn>(Symbol(lib, "DisposeDriver"));
    x.Done = reinterpret_cast<ZelkDoneFn>(Symbol(lib, "Done"));
    x.InputRequestCompleted = reinterpret_cast<ZelkInputRequestCompletedFn>(Symbol(lib, "InputRequestCompleted"));
    x.Init = reinterpret_cast<ZelkInitFn>(Symbol(lib, "Init"));
    x.InputRequest = reinterpret_cast<ZelkInputRequestFn>(Symbol(lib, "InputRequest"));
    x.InputFinalized = reinterpret_cast<ZelkInputFinalizedFn>(Symbol(lib, "InputFinalized"));
    return x.MakeDriver && x.DisposeDriver && x.Done && x.InputRequestCompleted && x.Init && x.InputRequest &&
           x.InputFinalized;
}

void* StartInstance(const Exports& x, const std::string& ini) {
    void* inst = x.MakeDriver();
    char msg[128] = {0};
    CHECK(inst != nullptr);
    CHECK(x.Init(inst, 0, ini.c_str(), 127, msg, 0, 0, 7, &Notify) == 1);
    return inst;
}

// A read of analog channel 0 finalized before it finished: the driver notifies the host.
void ReadUnfinished(const Exports& x, void* inst) {
    int32_t err = 0;
    x.InputRequest(inst, 0);
    CHECK(x.InputFinalized(inst, 0, &err) == 0);
    x.InputRequestCompleted(inst);
}

#if defined(__linux__)
// Threads of the process before it loaded the library (a sanitizer's own among them).
size_t baselineThreads = 0;
size_t ThreadCount() {
    std::error_code ec;
    size_t n = 0;
    for (std::filesystem::directory_iterator it("/proc/self/task", ec), end; !ec && it != end; it.increment(ec)) ++n;
    return n;
}
#endif

// After the host has unloaded the library: once the reaper has freed the instance it lets
// the library go (Windows); on POSIX the library stays mapped, and on Linux the reaper's end
// shows in the process's threads (none of the library's is left); elsewhere it is given time.
void WaitForTheReaperToLetGo() {
#if defined(_WIN32)
    CHECK(WaitUntil([] { return !LibraryStillLoaded(); }, 30000));
#elif defined(__linux__)
    CHECK(WaitUntil([] { return ThreadCount() <= baselineThreads; }, 30000));
#else
    SleepMs(1500);
#endif
}

// Loads the library afresh and starts an instance whose callback calls Done on it; returns
// once the first notification has entered the callback (null when the library is missing).
void* StartSelfEnding(const std::string& ini, void*& lib, Exports& x) {
    lib = OpenLibrary();
    CHECK(lib != nullptr && BindExports(lib, x));
    if (lib == nullptr) return nullptr;
    void* inst = x.MakeDriver();
    selfEndingEntered = 0;
    selfEndingReturned = 0;
    selfEndingDone = x.Done;
    selfEndingInstance = inst;
    char msg[128] = {0};
    CHECK(x.Init(inst, 0, ini.c_str(), 127, msg, 0, 0, 7, &Notify) == 1);
    ReadUnfinished(x, inst);
    CHECK(WaitUntil([] { return selfEndingEntered.load() == 1; }));
    return inst;
}

#if defined(_WIN32)
void SendMessageDuringDone(const Exports& x, const std::string& ini, const std::string& log) {
    WNDCLASSW wc{};
    wc.lpfnWndProc = UiProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"ShutdownHostUi";
    RegisterClassW(&wc);
    uiWindow = CreateWindowW(L"ShutdownHostUi", L"host", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, nullptr, nullptr,
                             wc.hInstance, nullptr);
    CHECK(uiWindow != nullptr);

    void* inst = x.MakeDriver();
    sendingInstance = inst;
    char msg[128] = {0};
    CHECK(x.Init(inst, 0, ini.c_str(), 127, msg, 0, 0, 7, &Notify) == 1);
    ReadUnfinished(x, inst);
    CHECK(WaitUntil([] { return entered.load() == 1; }));

    uiInDone = true;
    auto t = std::chrono::steady_clock::now();
    x.Done(inst);
    const long doneMs = MsSince(t);
    std::printf("GUI host: Done returned after %ld ms\n", doneMs);
    CHECK(doneMs < kReturnBoundMs);
    // The sent message was dispatched while Done waited, so the callback had returned and the
    // notification thread had ended before Done came back.
    CHECK(dispatched.load() == 1);
    CHECK(returned.load() == 1);
    CHECK(ReadFile(log).find("RQ_D   (4a)") == std::string::npos);

    t = std::chrono::steady_clock::now();
    x.DisposeDriver(inst);
    CHECK(MsSince(t) < kReturnBoundMs);
    sendingInstance = nullptr;
    entered = 0;
    returned = 0;
    DestroyWindow(uiWindow);
}

void UnloadBeforeTheWindowGoes(const std::string& ini) {
    void* lib = nullptr;
    Exports x{};
    void* inst = StartSelfEnding(ini, lib, x);
    if (inst == nullptr) return;
    CHECK(FindWindowW(L"TZelkForm1", nullptr) != nullptr);
    CHECK(WaitUntil([] { return selfEndingReturned.load() == 1; }));
    x.DisposeDriver(inst);
    CloseLibrary(lib);
    CHECK(WaitUntil([] { return !LibraryStillLoaded(); }, 30000));
    // The window is still there: this thread has not read its queue since.
    CHECK(FindWindowW(L"TZelkForm1", nullptr) != nullptr);
    PumpFor(500);
    CHECK(FindWindowW(L"TZelkForm1", nullptr) == nullptr);
    std::printf("Done in the callback, library unloaded: the window went on the next read of the queue\n");
}
#endif

// Case 3. Done from the host returns at once while its callback's Done is under way, and
// DisposeDriver leaves the freeing to a reaper that keeps the library loaded until then.
void DisposeWhileTheCallbackIsInDone(const std::string& ini) {
    void* lib = nullptr;
    Exports x{};
    void* inst = StartSelfEnding(ini, lib, x);
    if (inst == nullptr) return;
    SleepMs(20);  // the callback's Done waits at least 200 ms for the acquisition thread
    const auto t = std::chrono::steady_clock::now();
    x.Done(inst);
    x.DisposeDriver(inst);
    const long ms = MsSince(t);
    CloseLibrary(lib);
    CHECK(ms < kReturnBoundMs);
    CHECK(WaitUntil([] { return selfEndingReturned.load() == 1; }));
    WaitForTheReaperToLetGo();
    std::printf("Done inside the callback, DisposeDriver and unload meanwhile: %ld ms, the callback returned\n", ms);
}

}  // namespace

int main() {
#if defined(__linux__)
    // A sanitizer may start a thread of its own with the first thread of the process: one
    // thread made and joined first leaves it running before the count is taken.
    std::thread([] {}).join();
    baselineThreads = ThreadCount();
#endif
    void* lib = OpenLibrary();
    if (lib == nullptr) {
        std::fprintf(stderr, "driver library not loaded\n");
        return 2;
    }
    Exports x{};
    if (!BindExports(lib, x)) {
        std::fprintf(stderr, "exports missing\n");
        return 2;
    }

    const std::string base = TempBase() + "_" + std::to_string(std::random_device{}());
    const std::string ini = base + ".ini";
    const std::string log = base + ".log";
    {
        std::ofstream f(ini, std::ios::binary);
        f << "[Volba modulu]\r\nV\xFDrobn\xED \xE8\xEDslo=12000001\r\n"
          << "[Logovac\xED soubor]\r\n\xDArove\xF2=3\r\nN\xE1zev souboru=" << log << "\r\n";
    }

#if defined(_WIN32)
    SendMessageDuringDone(x, ini, log);
#endif

    // A callback that returns only after DisposeDriver.
    void* stuck = x.MakeDriver();
    blockingInstance = stuck;
    char msg[128] = {0};
    CHECK(x.Init(stuck, 0, ini.c_str(), 127, msg, 0, 0, 7, &Notify) == 1);
    ReadUnfinished(x, stuck);
    CHECK(WaitUntil([] { return entered.load() == 1; }));
    auto t = std::chrono::steady_clock::now();
    x.Done(stuck);
    const long doneMs = MsSince(t);
    t = std::chrono::steady_clock::now();
    x.DisposeDriver(stuck);
    const long disposeMs = MsSince(t);
    std::printf("blocked callback: Done %ld ms, DisposeDriver %ld ms\n", doneMs, disposeMs);
    CHECK(doneMs < kReturnBoundMs);
    CHECK(disposeMs < kReturnBoundMs);
    CHECK(returned.load() == 0);
    CHECK(ReadFile(log).find("RQ_D   (4a)") != std::string::npos);

    // The process goes on: a new instance reads and notifies as usual.
    void* fresh = StartInstance(x, ini);
    ReadUnfinished(x, fresh);
    CHECK(WaitUntil([] { return otherCalls.load() >= 1; }));
    x.Done(fresh);
    x.DisposeDriver(fresh);

    // The host unloads the library while the old callback still runs; the callback then
    // returns into the library, which must still be there.
    CloseLibrary(lib);
    release = true;
    CHECK(WaitUntil([] { return returned.load() == 1; }));
    WaitForTheReaperToLetGo();
    DisposeWhileTheCallbackIsInDone(ini);
#if defined(_WIN32)
    UnloadBeforeTheWindowGoes(ini);
#endif
    std::remove(ini.c_str());
    std::remove(log.c_str());
    if (failures == 0) std::printf("shutdown host: all checks passed\n");
    return failures == 0 ? 0 : 1;
}
