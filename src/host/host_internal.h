// Helpers shared by the exported functions of the host interface.
#pragma once
#include <atomic>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "core/Pomocny.h"
#include "host/exports.h"
#include "host/instance_registry.h"

static_assert(sizeof(ZelkValue) == 12, "the host value record is 12 bytes");
static_assert(alignof(ZelkValue) == 4, "the host value record has alignment 4");

namespace zelk::host {

// The driver text of GetDriverInfo and QueryProc "GetVersion".
const char* DriverInfoText();

// One log line: the 7-character tag of the export, then the marker and its value.
void Log(TData* d, const char* tag, std::string_view text, uint8_t level);

// Copies at most `capacity` characters and a terminating zero (capacity + 1 bytes).
// A null buffer or a negative capacity writes nothing.
void CopyBounded(const std::string& text, char* buf, int32_t capacity);

// The channel's Defined flag; ch must be below 204.
bool ChannelDefined(TData* d, uint32_t ch) EXCLUDES(d->DataLock);

// Finishes a channel's request at once with the device status at tick `now` (under DataLock).
void FinishNow(TJedenKanal& c, const StatusPair& status, uint32_t now);

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
uint32_t AcqStopLimitMs(const TData& d);

// The calling thread is a notification thread of `d` (inside the host's function).
bool CallbackIsCurrent(const TData& d);
// Marks the calling thread as the notification thread of `d`, for the rest of its life.
void MarkNotificationThread(const TData& d);
// Threads, window or conversions of a started instance are there.
bool IsRunning(const TData& d) EXCLUDES(d.DataLock);

// Init and Done: takes the instance from Made or Running into `mine` (Busy, or
// BusyInCallback on a notification thread) by one compare-and-swap. False when another call
// has it busy or DisposeDriver has it: the caller then returns or refuses.
bool TakeBusy(TData* d, Lifetime mine);
// Ends a busy call: into `next` (Made or Running), or, when DisposeDriver came meanwhile,
// carries the disposal out or hands it to the reaper that waits for this call. False when
// the instance is disposed: the caller must not touch it beyond its own export call.
bool FinishBusy(TData* d, Lifetime mine, Lifetime next);

// Stops the threads of a running instance, closes the module and the window, closes the
// log: the body of Done, also used by a second Init. Returns within the bounds above.
void StopInstance(TData* d);
// Joins what an earlier Done left (a thread that outlived its bound), within the bounds,
// and closes a module left open. False when a thread still runs.
bool ClearLeftovers(TData* d);
// The body of DisposeDriver, for an instance taken from the live ones: disposes of it now,
// or leaves it to the busy call or to a reaper (docs/threads.md, "Lifetime").
void DisposeInstance(TData* d);
// Reapers still waiting for an instance's threads (for tests and hosts that unload).
int LiveReaperCount();

// Test seam: when set, Init, Done and DisposeDriver call it after reading the lifetime state
// and before the compare-and-swap that acts on what they read (Read), and after a swap they
// won (Taken). Null unless a test sets it.
enum class LifeStep : uint8_t { Read, Taken };
using LifeHookFn = void (*)(TData* d, LifeStep step);
extern std::atomic<LifeHookFn> gLifeHook;

}  // namespace zelk::host
