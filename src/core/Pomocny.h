// The driver core: the instance record TData and its parts (configuration TCFG, device
// block TZarizeni, channel table TKanal of TJedenKanal), the measurement snapshot and
// the thread classes. Every subsystem works on these records.
//
// Guarding (see docs/threads.md): the channel records, the module settings of the device
// block, the strings of the device block and the snapshot are guarded by DataLock; the
// device status code and text by StatusLock; byte flags that cross threads are atomics.
// No lock is held while calling D2XX, the host's callback or the log. Neither lock is
// re-entrant: the fields of TData carry GUARDED_BY and the functions REQUIRES / EXCLUDES
// (platform/thread_annotations.h), which clang checks. The fields of TZarizeni are guarded
// by the locks of the TData that holds them, which the analysis cannot name from inside
// TZarizeni: for those the comments below are the rule.
#pragma once
#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "domain/record_layout.h"
#include "config/TCFG.h"
#include "domain/timer_settings.h"
#include "platform/clock.h"
#include "platform/file_io.h"
#include "platform/platform.h"
#include "usb/d2xx.h"
#include "zelk2716e.h"

namespace zelk {

enum class Status : uint8_t;

// The record file's flush interval while a measurement runs (see TData::RecordFileSyncMs).
constexpr uint32_t kRecordFileSyncMs = 1000;

// Host notification function: callback(userValue, kind, instance), cdecl.
using HostCallbackFn = int32_t (*)(uint32_t userValue, int32_t kind, void* instance);

// Settings of the running timer measurement, copied at its start.
struct MeasurementSnapshot {
    // As the module is sent them: the channel count 1..16, the enables as their low byte, so
    // that everything reading the snapshot agrees with the records the module makes.
    ModuleSettings Settings;
    int32_t RecordBytes = kMaxRecordBytes;
    int32_t RecordLimit = 0;
};

void ResetSnapshot(MeasurementSnapshot& s);

// The device block: identity, state and current settings of the module.
struct TZarizeni {
    // Guarded by TData::DataLock.
    std::string SerialNumber;
    std::string ModuleType;
    std::string ControllerText;
    std::string RecordFilePath;
    ModuleSettings Settings;  // PhysInput, RangeCode, Timer*, Cnt*, DinDoutEnable, SettleTime

    // Acquisition thread (or Init / Done while that thread does not run): no lock, the owner
    // of the module alone touches them.
    int32_t DeviceIndex = 9999;
    usb::FT_HANDLE Handle = nullptr;
    std::atomic<uint8_t> HandleValid{0};
    std::atomic<uint8_t> ModuleReady{0};
    std::atomic<int32_t> MeasurementRunning{0};
    std::atomic<uint32_t> MeasurementStartTick{0};
    // 64 bits: a days-long run passes 2^32 records; channel 201 shows the low 32 bits.
    std::atomic<uint64_t> StoredRecordCount{0};
    std::atomic<int32_t> RequestedRecordCount{0};
    std::atomic<int32_t> MeasurementStatus{0};
    std::atomic<uint8_t> RecordFileOk{0};
    // The record file of the running measurement, open from its start to its end.
    plat::File RecordFile;
    // When the record file was last flushed to stable storage (acquisition thread).
    uint32_t RecordFileSyncTick = 0;
    // The first bytes of a record that a short FT_Read tore; the next upload completes it.
    std::array<uint8_t, kMaxRecordBytes> PartialRecord{};
    uint32_t PartialBytes = 0;

    // Request flags: raised by the host services, cleared by the module commands.
    std::atomic<uint8_t> ReqAnalogIn{0};
    std::atomic<uint8_t> ReqCounterIn{0};
    std::atomic<uint8_t> ReqCnt0Preset{0};
    std::atomic<uint8_t> ReqCnt1Preset{0};
    std::atomic<uint8_t> ReqDigitalIn{0};
    std::atomic<uint8_t> ReqDigitalOut{0};
    std::atomic<uint8_t> ReqStartStop{0};
    std::atomic<uint8_t> DinValue{0};
    std::atomic<uint8_t> DoutValue{0};

    // Guarded by TData::StatusLock: read and written as one pair, only by the functions
    // below.
    uint8_t DeviceStatus = 0;
    std::string DeviceStatusText;
};

// One host channel. Guarded by DataLock: copy, change and store it under the lock.
struct TJedenKanal {
    int32_t Number = 0;
    std::string Description;
    std::string Name;
    std::string RangeName;
    int32_t PhysicalInput = 0;
    int32_t Range = 0;
    uint8_t Defined = 0;
    uint8_t NotifyWanted = 0;
    uint8_t Pending = 0;
    uint8_t Processed = 0;
    uint8_t Finished = 1;
    // Which kind of batch raised the running request (1 input, 2 output), and whether the
    // acquisition thread has taken it into the pass it is running. A pass finishes only the
    // requests of its own kind that were there when it began.
    uint8_t RequestBatch = 0;
    uint8_t InPass = 0;
    int32_t RequestCount = 0;
    uint32_t RequestTick = 0;
    uint32_t LongValue = 0;
    double RealValue = 0.0;
    uint8_t BoolValue = 0;
    std::string TextValue;
    int32_t Status = 0;
    std::string StatusText;
};

using TKanal = std::array<TJedenKanal, kChannelCount>;

struct TData;

// Base of the three thread classes: created suspended, asked to terminate, joined by
// the instance that owns it.
class TDriverThread {
public:
    explicit TDriverThread(TData* data);
    virtual ~TDriverThread();
    void Start() { thread_.Start(); }
    // Asks the thread to end and raises the instance's wake-ups, so that a waiting thread sees it.
    void Terminate();
    bool Terminated() const { return thread_.TerminateRequested(); }
    bool Finished() const { return thread_.Finished(); }
    bool IsCurrentThread() const { return thread_.IsCurrentThread(); }
    bool WaitFor(uint32_t ms) { return thread_.WaitFor(ms); }
    bool WaitForDispatching(uint32_t ms) { return thread_.WaitForDispatching(ms); }
    void Join() { thread_.Join(); }
    TData* Data() const { return data_; }

protected:
    virtual void Execute() = 0;
    // The thread's log tag ("TUD ", "TCB ", "TKS "), for the line of an unexpected failure.
    virtual const char* LogTag() const = 0;

private:
    // Execute with everything caught: an exception leaving a thread would end the host's
    // process. It is logged at level 1 and the thread ends.
    void RunGuarded();

    TData* data_;
    plat::Thread thread_;
};

// Acquisition thread: owns the module while the instance runs.
class TThreadZELK : public TDriverThread {
public:
    using TDriverThread::TDriverThread;
    ~TThreadZELK() override;

protected:
    void Execute() override;
    const char* LogTag() const override { return "TUD "; }
};

// Notification thread: calls the host back for finished channels it waits for.
class TThreadCallBack : public TDriverThread {
public:
    using TDriverThread::TDriverThread;
    ~TThreadCallBack() override;

protected:
    void Execute() override;
    const char* LogTag() const override { return "TCB "; }
};

// What one conversion works on, copied from the instance when the thread is made, so that
// a measurement started meanwhile cannot change it.
struct ConversionJob {
    uint64_t RowCount = 0;        // StoredRecordCount at the hand-over
    // Rows of one table: its row count field has 32 bits; more records go on in further tables.
    uint32_t RowsPerTable = 0xFFFFFFFFu;
    std::string BasePath;         // RecordFilePath: the record file without ".bin"
    MeasurementSnapshot Snap;     // layout and ranges of the records
    std::array<double, kAnalogCount> ConstA{};
    std::array<double, kAnalogCount> ConstB{};
    int32_t ConvFileType = 1;     // 1: the record file is deleted after a full conversion
};

// Conversion thread: turns a record file into a dBASE table.
class TThreadKonverze : public TDriverThread {
public:
    using TDriverThread::TDriverThread;
    ~TThreadKonverze() override;
    ConversionJob Job;  // filled before Start, read only by the thread afterwards
    // Rows written to the table by the last run (for the log and the tests).
    std::atomic<uint64_t> RowsWritten{0};

protected:
    void Execute() override;
    const char* LogTag() const override { return "TKS "; }
};

class TForm1;      // the driver window, src/window
struct LogState;   // the open log file and its lock, src/config

// Deletes the window; defined by the window subsystem.
void DestroyWindowObject(TForm1* w);
struct WindowDeleter {
    void operator()(TForm1* w) const { DestroyWindowObject(w); }
};
struct LogStateDeleter {
    void operator()(LogState* s) const;
};

// The life of an instance. Init, Done and DisposeDriver each take a step by one
// compare-and-swap of the state they read; whoever loses reads the state again and returns,
// refuses or hands the rest over (docs/threads.md, "Lifetime").
enum class Lifetime : uint8_t {
    Made,              // MakeDriver, Done or a failed Init: no thread asked to run
    Running,           // Init succeeded
    Busy,              // Init or Done under way on a thread other than the notification thread
    BusyInCallback,    // Done under way inside the host's notification function
    BusyDisposeAsked,  // Busy, and DisposeDriver came meanwhile: the busy call carries the
                       // disposal out when it is done
    ReaperWaits,       // BusyInCallback, and DisposeDriver came meanwhile: a reaper carries
                       // the disposal out once that Done has ended
    Disposed,          // DisposeDriver has it: freed now, or by a reaper
};

// The driver instance.
struct TData {
    TData();
    ~TData();
    TData(const TData&) = delete;
    TData& operator=(const TData&) = delete;

    // Written by MakeDriver and Init before any thread of the instance runs, read freely.
    TCFG Cfg;
    // Mixed: see the groups of TZarizeni.
    TZarizeni Device;
    TKanal Channels GUARDED_BY(DataLock);

    // Run-time block.
    // 1 once the acquisition thread has returned, else 0 (also while no thread is there):
    // read from the thread object, which alone knows it, by the thread that owns AcqThread.
    struct ThreadEndedFlag {
        const TData& d;
        operator int() const;
    };
    const ThreadEndedFlag AcqThreadEnded{*this};
    std::atomic<uint8_t> InputBatchComplete{0};
    std::atomic<uint8_t> OutputBatchComplete{0};
    int32_t LastStopWaitMs = 0;  // host's thread (Done)
    // How often a running measurement's record file is flushed to stable storage: a crash or
    // a power cut loses at most the records of this interval. 0 flushes after every block.
    uint32_t RecordFileSyncMs = kRecordFileSyncMs;
    MeasurementSnapshot Snapshot GUARDED_BY(DataLock);
    std::unique_ptr<LogState, LogStateDeleter> Log;  // LogFile and LogLock
    // The thread objects belong to the host's thread (Init, Done, DisposeDriver) or, once
    // the instance is handed over, to its reaper: no lock.
    std::unique_ptr<TThreadZELK> AcqThread;
    // Every conversion thread started and not yet joined; the last one is the current one.
    // The acquisition thread adds to it, the host's thread joins from it.
    std::vector<std::unique_ptr<TThreadKonverze>> ConvThreads GUARDED_BY(DataLock);
    std::unique_ptr<TThreadCallBack> CallbackThread;
    // Threads asked to end that outlived the wait of Done or Init (a host callback that has
    // not returned yet); DisposeDriver or its reaper joins them before the instance goes.
    std::vector<std::unique_ptr<TDriverThread>> RetiredThreads;
    // Written by Init before the notification thread starts.
    HostCallbackFn HostCallback = nullptr;
    uint32_t HostUserValue = 0;
    std::unique_ptr<TForm1, WindowDeleter> Window;
    std::atomic<uint8_t> ConversionPending{0};
    // Where the instance is in its life; changed only by compare-and-swap (src/host/teardown.cpp).
    std::atomic<Lifetime> Life{Lifetime::Made};
    // References that keep the memory: one for the host's handle (held by the registry of live
    // instances, then by whoever carries out DisposeDriver) and one per export call under way.
    // The last one released frees the instance.
    std::atomic<uint32_t> Refs{1};
    // Set when a Done inside the host's notification function ends and a reaper waits for it
    // (Lifetime::ReaperWaits).
    plat::Event BusyCallEnded;
    // The threads wait for work instead of polling for it. AcqWake: a batch ended, a stop or
    // Done; NotifyWake: a channel finished, or Done.
    plat::WakeUp AcqWake;
    plat::WakeUp NotifyWake;
    // Precise short waits while the instance runs (Init to Done).
    plat::PreciseTimingHold Timing;

    // The D2XX provider of this instance (the build's own; tests may replace it).
    const usb::D2xxApi* D2xx = nullptr;
    // Ticks, sleeps and timed waits of this instance: the system clock; tests may put their
    // own in place before the instance's threads start.
    const plat::Clock* Clock = &plat::SystemClock();

    mutable plat::Mutex DataLock;
    mutable plat::Mutex StatusLock;
};

// Device status: code and text set and read as one pair.
struct StatusPair {
    uint8_t code = 0;
    std::string text;
};
// The two locks are never nested: these are called without DataLock, so that whoever
// finishes channels reads the pair once, then locks the table.
void SetDeviceStatus(TData& d, uint8_t code, const std::string& text) EXCLUDES(d.StatusLock, d.DataLock);
// The code with the given text, or with its table text (domain/status_texts.h).
void SetDeviceStatus(TData& d, Status code, const std::string& text) EXCLUDES(d.StatusLock, d.DataLock);
void SetDeviceStatus(TData& d, Status code) EXCLUDES(d.StatusLock, d.DataLock);
StatusPair GetDeviceStatus(const TData& d) EXCLUDES(d.StatusLock, d.DataLock);
uint8_t DeviceStatusCode(const TData& d) EXCLUDES(d.StatusLock, d.DataLock);

// What a reset of the device block keeps besides the identity it takes from the configuration.
enum class DeviceReset : uint8_t {
    // MakeDriver and Init: the built-in settings, no measurement outcome.
    Everything,
    // Done's close: the analog and timer settings in effect stay (a reconnect measures with
    // what the host set); the outcome of the last measurement goes with the instance's run.
    KeepSettings,
    // The retry's close: the settings and the outcome of the last measurement (its status,
    // stored count and record-file path) stay, so that a measurement that failed is still
    // reported as failed once the module is back, until the host starts the next one.
    KeepSettingsAndOutcome,
};
void ResetDeviceBlock(TData& d, DeviceReset what) EXCLUDES(d.DataLock);
// The same, called with DataLock held (the module close resets the channels in the same step).
void ResetDeviceBlockLocked(TData& d, DeviceReset what) REQUIRES(d.DataLock);

// ResetFinishState (core/channel_map.h) with DataLock held, ending running requests with `status`.
void ResetFinishStateLocked(TData& d, const StatusPair& status) REQUIRES(d.DataLock);

// MeasurementStatus and channel 203, which shows it, written together.
void SetMeasurementStatus(TData& d, int32_t status) EXCLUDES(d.DataLock);
void SetMeasurementStatusLocked(TData& d, int32_t status) REQUIRES(d.DataLock);
// Ends the hand-over of a measurement to its conversion: the status "being converted" becomes
// "no measurement" unless the conversion has already reported a failure in its place.
void EndConversionHandOver(TData& d) EXCLUDES(d.DataLock);

// Sets every field of every channel to its built value (names and ranges from Cfg).
void BuildChannelTable(TData& d);
// Pending 0, Processed 0, Finished 1 everywhere; values back to zero but the measurement status.
void ResetFinishState(TData& d);

}  // namespace zelk
