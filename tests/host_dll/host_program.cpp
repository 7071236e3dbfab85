// A host application in miniature: loads the built driver library at run time, resolves
// the 18 exports by name and runs an instance through Init, a read cycle, a write cycle
// with notifications, Done and DisposeDriver. On 32-bit Windows OutputRequest is called
// as a function of five 32-bit words, which proves the by-value layout of the record.
// With "no-d2xx" after the driver, it checks instead that the plain driver did not find its
// D2XX library (the library-search tests place one where it must not be taken from).
// Exit code 0 when every check holds.
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <random>
#include <string>

#include "host_check.h"

#if defined(_WIN32)
#include <windows.h>
#define HOST_CDECL __cdecl
#else
#include <dlfcn.h>
#include <unistd.h>
#define HOST_CDECL
#endif

namespace {

using hostcheck::failures;

struct Value {
    int32_t tag;
    uint8_t payload[8];
};
static_assert(sizeof(Value) == 12, "12-byte value record");

using Callback = int32_t(HOST_CDECL*)(uint32_t, int32_t, void*);
using FnVersion = int32_t(HOST_CDECL*)();
using FnCheck = uint8_t(HOST_CDECL*)();
using FnInfo = void(HOST_CDECL*)(int32_t, char*);
using FnMake = void*(HOST_CDECL*)();
using FnInst = void(HOST_CDECL*)(void*);
using FnInit = uint8_t(HOST_CDECL*)(void*, uint32_t, const char*, int32_t, char*, uint32_t, uint32_t, uint32_t,
                                    Callback);
using FnCh = void(HOST_CDECL*)(void*, uint32_t);
using FnBufInfo = int32_t(HOST_CDECL*)(void*, uint32_t);
using FnFinal = uint8_t(HOST_CDECL*)(void*, uint32_t, int32_t*);
using FnGet = void(HOST_CDECL*)(void*, uint32_t, Value*);
#if defined(_WIN32) && defined(__i386__)
// The record by value is three stack words: tag, payload low word, payload high word.
using FnOut = void(HOST_CDECL*)(void*, uint32_t, int32_t, uint32_t, uint32_t);
#else
using FnOut = void(HOST_CDECL*)(void*, uint32_t, Value);
#endif
using FnDP = void(HOST_CDECL*)(void*, uint32_t, int32_t, int32_t, int32_t, int32_t);
using FnQP = void(HOST_CDECL*)(void*, int32_t, const char*, int32_t, Value*);

#if defined(_WIN32)
void* OpenLibrary(const char* path) { return reinterpret_cast<void*>(LoadLibraryA(path ? path : "rq_zelk2716e_sim.dll")); }
void* Symbol(void* lib, const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(lib), name));
}
void CloseLibrary(void* lib) { FreeLibrary(static_cast<HMODULE>(lib)); }
std::string CurrentDirectory() {
    char buf[MAX_PATH];
    DWORD n = GetCurrentDirectoryA(sizeof buf, buf);
    return std::string(buf, n) + "\\";
}
int ProcessId() { return static_cast<int>(GetCurrentProcessId()); }
char DecimalSeparator() {
    char buf[8] = {0};
    GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_SDECIMAL, buf, sizeof buf);
    return buf[0] != 0 ? buf[0] : '.';
}
void SleepMs(unsigned ms) { Sleep(ms); }
const char* const kD2xxName = "ftd2xx.dll";
#else
void* OpenLibrary(const char* path) { return dlopen(path ? path : ZELK_SIM_DRIVER_PATH, RTLD_NOW | RTLD_LOCAL); }
void* Symbol(void* lib, const char* name) { return dlsym(lib, name); }
void CloseLibrary(void* lib) { dlclose(lib); }
std::string CurrentDirectory() {
    char buf[4096];
    return std::string(getcwd(buf, sizeof buf) ? buf : ".") + "/";
}
int ProcessId() { return static_cast<int>(getpid()); }
char DecimalSeparator() { return '.'; }
void SleepMs(unsigned ms) { usleep(ms * 1000); }
const char* const kD2xxName = "libftd2xx.so";
#endif

std::atomic<int> calls[2];
std::atomic<uint32_t> lastUser{0};
void* expectedInstance = nullptr;
std::atomic<int> wrongInstance{0};

int32_t HOST_CDECL Notify(uint32_t user, int32_t kind, void* instance) {
    if (kind == 0 || kind == 1) calls[kind]++;
    lastUser = user;
    if (instance != expectedInstance) wrongInstance++;
    return 0;
}

bool WaitFor(const std::atomic<int>& counter, int atLeast) {
    for (int i = 0; i < 20000 && counter.load() < atLeast; ++i) SleepMs(1);
    return counter.load() >= atLeast;
}

Value LongValue(uint32_t v) {
    Value r{5, {}};
    std::memcpy(r.payload, &v, 4);
    return r;
}

std::string ReadFile(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

}  // namespace

// Argument: the driver library to load (default: the simulated-module variant). The plain
// driver finds the simulator's drop-in D2XX library through the ordinary library search.
int main(int argc, char** argv) {
    void* lib = OpenLibrary(argc > 1 ? argv[1] : nullptr);
    if (lib == nullptr) {
        std::fprintf(stderr, "driver library not loaded\n");
        return 2;
    }
#define RESOLVE(type, name)                                        \
    auto name = reinterpret_cast<type>(Symbol(lib, #name));        \
    if (name == nullptr) {                                         \
        std::fprintf(stderr, "export %s missing\n", #name);        \
        return 2;                                                  \
    }
    RESOLVE(FnVersion, Version)
    RESOLVE(FnCheck, Check)
    RESOLVE(FnInfo, GetDriverInfo)
    RESOLVE(FnMake, MakeDriver)
    RESOLVE(FnInst, DisposeDriver)
    RESOLVE(FnInit, Init)
    RESOLVE(FnInst, Done)
    RESOLVE(FnBufInfo, BufferInfo)
    RESOLVE(FnCh, SetBufferAddr)
    RESOLVE(FnCh, InputRequest)
    RESOLVE(FnInst, InputRequestCompleted)
    RESOLVE(FnFinal, InputFinalized)
    RESOLVE(FnGet, GetInput)
    RESOLVE(FnOut, OutputRequest)
    RESOLVE(FnInst, OutputRequestCompleted)
    RESOLVE(FnFinal, OutputFinalized)
    RESOLVE(FnDP, DriverProc)
    RESOLVE(FnQP, QueryProc)

    CHECK(Version() == 0x30000);
    CHECK(Check() == 1);
    char info[64];
    std::memset(info, 'x', sizeof info);
    GetDriverInfo(7, info);
    CHECK(std::strcmp(info, "Ovlada\xE8") == 0);

    // Parameter file in code page 1250 for the first simulated module, log at level 3.
    // Runs in the two locales use separate wine prefixes whose process ids can coincide.
    const std::string base = CurrentDirectory() + "host_dll_" + std::to_string(ProcessId()) + "_" +
                             std::to_string(std::random_device{}());
    const std::string ini = base + ".ini";
    const std::string log = base + ".log";
    {
        std::ofstream f(ini, std::ios::binary);
        f << "[Volba modulu]\r\nV\xFDrobn\xED \xE8\xEDslo=12000001\r\n"
          << "[Logovac\xED soubor]\r\n\xDArove\xF2=3\r\nN\xE1zev souboru=" << log << "\r\n";
    }

    void* inst = MakeDriver();
    CHECK(inst != nullptr);
    expectedInstance = inst;
    char msg[100];
    if (Init(inst, 0, ini.c_str(), 99, msg, 0, 0, 0x1234, &Notify) != 1) {
        std::fprintf(stderr, "Init failed: %s\n", msg);
        return 1;
    }
    CHECK(std::strcmp(msg, "Ok") == 0);

    if (argc > 2 && std::strcmp(argv[2], "no-d2xx") == 0) {
        // Device status 10, and the log names the library that was not found.
        InputRequest(inst, 98);
        InputRequestCompleted(inst);
        int32_t e = 0;
        for (int i = 0; i < 20000 && InputFinalized(inst, 98, &e) == 0; ++i) SleepMs(1);
        Value st = LongValue(77);
        GetInput(inst, 98, &st);
        uint32_t device = 77;
        std::memcpy(&device, st.payload, 4);
        Done(inst);
        DisposeDriver(inst);
        CHECK(device == 10);
        CHECK(ReadFile(log).find(std::string(" - ") + kD2xxName + " nenalezena") != std::string::npos);
        std::remove(ini.c_str());
        std::remove(log.c_str());
        CloseLibrary(lib);
        if (failures == 0) std::printf("host program: the D2XX library was not loaded, as expected\n");
        return failures == 0 ? 0 : 1;
    }

    CHECK(BufferInfo(inst, 3) == 0);
    SetBufferAddr(inst, 3);

    // Read cycle: channel 0 finalized before the batch ends is notified with kind 0.
    for (uint32_t ch = 0; ch < 16; ++ch) InputRequest(inst, ch);
    InputRequest(inst, 98);
    InputRequest(inst, 99);
    int32_t err = -1;
    CHECK(InputFinalized(inst, 0, &err) == 0);
    CHECK(err == 0);
    InputRequestCompleted(inst);
    CHECK(WaitFor(calls[0], 1));
    CHECK(lastUser.load() == 0x1234);
    for (uint32_t ch = 0; ch < 16; ++ch) {
        CHECK(InputFinalized(inst, ch, &err) == 1);
        Value v{10, {}};
        double x = -1000.0;
        std::memcpy(v.payload, &x, 8);
        GetInput(inst, ch, &v);
        std::memcpy(&x, v.payload, 8);
        CHECK(x >= -10.5 && x <= 10.5);
    }
    CHECK(InputFinalized(inst, 98, &err) == 1);
    Value status = LongValue(77);
    GetInput(inst, 98, &status);
    uint32_t code = 77;
    std::memcpy(&code, status.payload, 4);
    CHECK(code == 0);
    char text[256];
    std::memset(text, 'x', sizeof text);
    Value s{11, {}};
    char* p = text;
    std::memcpy(s.payload, &p, sizeof p);
    GetInput(inst, 99, &s);
    CHECK(std::strcmp(text, "V po\xF8\xE1" "dku") == 0);

    // Write cycle: the period as a double split into two words, and the digital output.
    const double period = 1234.5;
#if defined(_WIN32) && defined(__i386__)
    uint32_t words[2];
    std::memcpy(words, &period, 8);
    OutputRequest(inst, 165, 10, words[0], words[1]);
    OutputRequest(inst, 78, 5, 1, 0);
#else
    Value pv{10, {}};
    std::memcpy(pv.payload, &period, 8);
    OutputRequest(inst, 165, pv);
    OutputRequest(inst, 78, LongValue(1));
#endif
    CHECK(OutputFinalized(inst, 78, &err) == 0);
    CHECK(OutputFinalized(inst, 165, &err) == 0);
    OutputRequestCompleted(inst);
    CHECK(WaitFor(calls[1], 2));
    CHECK(OutputFinalized(inst, 78, &err) == 1);
    CHECK(OutputFinalized(inst, 165, &err) == 1);

    InputRequest(inst, 165);
    CHECK(InputFinalized(inst, 165, &err) == 1);
    Value back{10, {}};
    GetInput(inst, 165, &back);
    double got = 0;
    std::memcpy(&got, back.payload, 8);
    CHECK(got == period);

    char version[64];
    std::memset(version, 'x', sizeof version);
    Value q{11, {}};
    p = version;
    std::memcpy(q.payload, &p, sizeof p);
    QueryProc(inst, 11, "GetVersion", 0, &q);
    CHECK(std::strcmp(version, "Ovlada\xE8 ZELK-2716E v.1.0.0") == 0);
    DriverProc(inst, 0, 0, 0, 0, 0);

    Done(inst);
    DisposeDriver(inst);
    CHECK(wrongInstance.load() == 0);
    CHECK(calls[0].load() == 1);

    // The period text follows the user's decimal separator.
    const std::string logText = ReadFile(log);
    CHECK(logText.find(std::string("RQ_OR  (99) H=1234") + DecimalSeparator() + "500") != std::string::npos);
    CHECK(logText.find("Ovlada\xE8 odinstalov\xE1n") != std::string::npos);
    std::remove(ini.c_str());
    std::remove(log.c_str());

    CloseLibrary(lib);
    if (failures == 0) std::printf("host program: all checks passed\n");
    return failures == 0 ? 0 : 1;
}
