// The driver library as a host sees it: its 18 exports loaded at run time, and one driver
// instance per module with the read and write cycles of the host contract.
#pragma once
#include <atomic>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "host_platform.h"

#if defined(__i386__)
#define ZK_CDECL __attribute__((cdecl))
#else
#define ZK_CDECL
#endif

namespace zelk::tool {

// The host's 12-byte value record: tag, then 8 payload bytes.
struct Value {
    int32_t tag = 0;
    uint8_t payload[8] = {};
};
static_assert(sizeof(Value) == 12 && alignof(Value) == 4, "the host value record is 12 bytes, alignment 4");

enum Tag : int32_t { kTagBoolean = 2, kTagLongcard = 5, kTagReal = 10, kTagString = 11 };

Value BoolValue(bool b);
Value LongValue(uint32_t v);
Value RealValue(double d);
uint32_t AsLong(const Value& v);
double AsReal(const Value& v);
bool AsBool(const Value& v);

extern "C" {
using Callback = int32_t(ZK_CDECL*)(uint32_t userValue, int32_t kind, void* instance);
using FnVersion = int32_t(ZK_CDECL*)();
using FnCheck = uint8_t(ZK_CDECL*)();
using FnGetDriverInfo = void(ZK_CDECL*)(int32_t maxLen, char* text);
using FnMakeDriver = void*(ZK_CDECL*)();
using FnInstance = void(ZK_CDECL*)(void* inst);
using FnInit = uint8_t(ZK_CDECL*)(void* inst, uint32_t reserved1, const char* paramFile, int32_t msgMax, char* msgBuf,
                                  uint32_t reserved2, uint32_t reserved3, uint32_t userValue, Callback callback);
using FnBufferInfo = int32_t(ZK_CDECL*)(void* inst, uint32_t ch);
using FnChannel = void(ZK_CDECL*)(void* inst, uint32_t ch);
using FnFinalized = uint8_t(ZK_CDECL*)(void* inst, uint32_t ch, int32_t* err);
using FnGetInput = void(ZK_CDECL*)(void* inst, uint32_t ch, Value* value);
using FnOutputRequest = void(ZK_CDECL*)(void* inst, uint32_t ch, Value value);
using FnDriverProc = void(ZK_CDECL*)(void* inst, uint32_t function, int32_t left, int32_t top, int32_t width,
                                     int32_t height);
using FnQueryProc = void(ZK_CDECL*)(void* inst, int32_t kind, const char* name, int32_t reserved, Value* value);
}

// The exports of one loaded driver library.
class DriverLibrary {
public:
    // False with a message naming the file or the missing export.
    bool Load(const std::string& path, std::string* error);
    const std::string& Path() const { return path_; }

    FnVersion Version = nullptr;
    FnCheck Check = nullptr;
    FnGetDriverInfo GetDriverInfo = nullptr;
    FnMakeDriver MakeDriver = nullptr;
    FnInstance DisposeDriver = nullptr;
    FnInit Init = nullptr;
    FnInstance Done = nullptr;
    FnBufferInfo BufferInfo = nullptr;
    FnChannel SetBufferAddr = nullptr;
    FnChannel InputRequest = nullptr;
    FnInstance InputRequestCompleted = nullptr;
    FnFinalized InputFinalized = nullptr;
    FnGetInput GetInput = nullptr;
    FnOutputRequest OutputRequest = nullptr;
    FnInstance OutputRequestCompleted = nullptr;
    FnFinalized OutputFinalized = nullptr;
    FnDriverProc DriverProc = nullptr;
    FnQueryProc QueryProc = nullptr;

    // GetDriverInfo with a buffer large enough for the text (cp1250).
    std::string DriverInfo() const;
    // QueryProc "GetVersion" needs an instance; this makes and frees one.
    std::string QueryVersion() const;

private:
    Library lib_;
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
    Value value;
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
    static int32_t ZK_CDECL OnNotify(uint32_t userValue, int32_t kind, void* instance);
    bool WaitFinished(std::vector<uint32_t>& waiting, FnFinalized finalized, int kind, int timeoutMs);

    const DriverLibrary& lib_;
    void* inst_ = nullptr;
    bool started_ = false;
    uint32_t userValue_ = 0;
    std::atomic<uint32_t> notified_[2] = {0, 0};
};

}  // namespace zelk::tool
