// Helpers shared by the exported functions of the host interface.
#pragma once
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "core/Pomocny.h"
#include "host/exports.h"

static_assert(sizeof(ZelkValue) == 12, "the host value record is 12 bytes");
static_assert(alignof(ZelkValue) == 4, "the host value record has alignment 4");

namespace zelk::host {

// The driver text of GetDriverInfo and QueryProc "GetVersion".
const char* DriverInfoText();

inline TData* Instance(void* p) { return static_cast<TData*>(p); }

// One log line: the 7-character tag of the export, then the marker and its value.
void Log(TData* d, const char* tag, std::string_view text, uint8_t level);

// Copies at most `capacity` characters and a terminating zero (capacity + 1 bytes).
// A null buffer or a negative capacity writes nothing.
void CopyBounded(const std::string& text, char* buf, int32_t capacity);

// The channel's Defined flag; ch must be below 204.
bool ChannelDefined(TData* d, uint32_t ch);

// Finishes a channel's request at once with the device status (under DataLock).
void FinishNow(TJedenKanal& c, const StatusPair& status);

inline int32_t TagOf(const ZelkValue& v) { return v.tag; }
inline uint32_t PayloadLong(const ZelkValue& v) {
    uint32_t x;
    std::memcpy(&x, v.payload, sizeof x);
    return x;
}
inline double PayloadReal(const ZelkValue& v) {
    double x;
    std::memcpy(&x, v.payload, sizeof x);
    return x;
}
inline char* PayloadPointer(const ZelkValue& v) {
    char* p;
    std::memcpy(&p, v.payload, sizeof p);
    return p;
}

// InputFinalized and OutputFinalized under their own tags.
uint8_t Finalize(TData* d, const char* tag, uint32_t ch, int32_t* err);

// A double truncated towards zero into 0..4294967295 (NaN gives 0).
uint32_t TruncateToLong(double v);

// Bounds of the host's waits in Done, DisposeDriver and Init (docs/threads.md): the
// acquisition thread gets AcqStopLimitMs (one pass: three exchanges of up to UsbTimeout and a
// re-open), the notification thread kNotifyStopLimitMs for the host's function to return,
// the conversion threads kConversionStopLimitMs together.
constexpr uint32_t kNotifyStopLimitMs = 1000;
constexpr uint32_t kConversionStopLimitMs = 1000;
// The reaper waits in slices of this length, as long as it takes.
constexpr uint32_t kReaperSliceMs = 1000;
// A reaper that must let a Done on another thread finish first looks this often (only when
// the host disposes of an instance whose own notification function is inside Done).
constexpr uint32_t kTeardownPollMs = 10;
uint32_t AcqStopLimitMs(const TData& d);

bool CallbackIsCurrent(const TData& d);
// Threads, window or conversions of a started instance are there.
bool IsRunning(const TData& d);

// Stops the threads of a running instance, closes the module and the window, closes the
// log: the body of Done, also used by a second Init. Returns within the bounds above.
void StopInstance(TData* d);
// Joins what an earlier Done left (a thread that outlived its bound), within the bounds,
// and closes a module left open. False when a thread still runs.
bool ClearLeftovers(TData* d);
// The body of DisposeDriver: frees the instance now, or hands it to a reaper thread when a
// thread of it is still running after the bounded wait.
void DisposeInstance(TData* d);
// Reapers still waiting for an instance's threads (for tests and hosts that unload).
int LiveReaperCount();

}  // namespace zelk::host
