// The driver library as a host sees it: its 18 exports loaded at run time, and one driver
// instance per module with the read and write cycles of the host contract.
#pragma once
#include <atomic>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include <type_traits>

#define ZELK2716E_NO_PROTOTYPES
#include "zelk2716e.h"

#include "host_platform.h"
#include "platform/platform.h"

namespace zelk::tool {

// The host's 12-byte value record of the public header; declare it as `Value v{}`.
using Value = ZelkValue;

enum Tag : int32_t {
    kTagBoolean = ZELK_TAG_BOOLEAN,
    kTagLongcard = ZELK_TAG_LONGCARD,
    kTagReal = ZELK_TAG_REAL,
    kTagString = ZELK_TAG_STRING
};

Value BoolValue(bool b);
Value LongValue(uint32_t v);
Value RealValue(double d);
uint32_t AsLong(const Value& v);
double AsReal(const Value& v);
bool AsBool(const Value& v);

using Callback = ZelkCallback;
using FnFinalized = ZelkInputFinalizedFn;
static_assert(std::is_same_v<ZelkInputFinalizedFn, ZelkOutputFinalizedFn>);

// The exports of one loaded driver library.
class DriverLibrary {
public:
    // False with a message naming the file or the missing export.
    bool Load(const std::string& path, std::string* error);
    const std::string& Path() const { return path_; }

    ZelkVersionFn Version = nullptr;
    ZelkCheckFn Check = nullptr;
    ZelkGetDriverInfoFn GetDriverInfo = nullptr;
    ZelkMakeDriverFn MakeDriver = nullptr;
    ZelkDisposeDriverFn DisposeDriver = nullptr;
    ZelkInitFn Init = nullptr;
    ZelkDoneFn Done = nullptr;
    ZelkBufferInfoFn BufferInfo = nullptr;
    ZelkSetBufferAddrFn SetBufferAddr = nullptr;
    ZelkInputRequestFn InputRequest = nullptr;
    ZelkInputRequestCompletedFn InputRequestCompleted = nullptr;
    ZelkInputFinalizedFn InputFinalized = nullptr;
    ZelkGetInputFn GetInput = nullptr;
    ZelkOutputRequestFn OutputRequest = nullptr;
    ZelkOutputRequestCompletedFn OutputRequestCompleted = nullptr;
    ZelkOutputFinalizedFn OutputFinalized = nullptr;
    ZelkDriverProcFn DriverProc = nullptr;
    ZelkQueryProcFn QueryProc = nullptr;

    // GetDriverInfo with a buffer large enough for the text (cp1250).
    std::string DriverInfo() const;
    // QueryProc "GetVersion" needs an instance; this makes and frees one.
    std::string QueryVersion() const;

private:
    plat::DynamicLibrary lib_;
    std::string path_;
};

// The driver library a command uses: `--driver` when given, else the simulated-module
// variant beside the tool (or in ../sim, the build tree's layout).
std::string DefaultDriverPath();
std::string ResolveDriverPath(const std::string& option);

// One value read in a read cycle.
struct Reading {
    uint32_t channel = 0;
    bool finished = false;
    Value value{};
    std::string text;  // the string payload of a string channel (cp1250)
};

// One driver instance, started by Init with a parameter file and stopped by Done.
class Session {
public:
    explicit Session(const DriverLibrary& lib);
    ~Session();  // Done (after a successful Init) and DisposeDriver
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // Init with an absolute path; false with the driver's message (cp1250).
    bool Start(const std::string& paramFile, std::string* message);
    void* Instance() const { return inst_; }

    // One read cycle: request every channel, end the batch, finalize, wait for the
    // notifications of the unfinished ones (at most timeoutMs), fetch.
    std::vector<Reading> Read(const std::vector<uint32_t>& channels, int timeoutMs);
    // One write cycle; true when every channel finished within timeoutMs.
    bool Write(const std::vector<std::pair<uint32_t, Value>>& values, int timeoutMs);

    // Device status through channels 98 and 99: code, text (cp1250); -1 if unreadable.
    int DeviceStatus(std::string* text, int timeoutMs = 5000);

    // The window: DriverProc, and the headless queries of the driver.
    void WindowProc(uint32_t function, int32_t left = 0, int32_t top = 0, int32_t width = 0, int32_t height = 0);
    std::string WindowText();  // cp1250
    void WindowKey(char key);
    void WindowPage(int page);
    // Types the channel number and Enter into the diagnostics page's channel field.
    void WindowMonitor(uint32_t channel);

    // Notifications received so far, by kind.
    uint32_t Notifications(int kind) const { return notified_[kind & 1].load(); }

private:
    static int32_t ZELK_CDECL OnNotify(uint32_t userValue, int32_t kind, void* instance);
    bool WaitFinished(std::vector<uint32_t>& waiting, FnFinalized finalized, int kind, int timeoutMs);

    const DriverLibrary& lib_;
    void* inst_ = nullptr;
    bool started_ = false;
    uint32_t userValue_ = 0;
    std::atomic<uint32_t> notified_[2] = {0, 0};
};

}  // namespace zelk::tool
