// The simulated ZELK-2716E: a bench of FTDI devices, each carrying one module that speaks
// the module's wire protocol, served to the driver through a D2XX function table.
//
// Every Bench method takes the bench's one lock, so a test thread may change the bench
// while the driver's acquisition thread is inside a D2XX call. Time is lazy: whatever has
// become due (replies after the latency, measurement records, transfer over the capped
// link) is computed at each D2XX call or query from the bench clock.
//
// The simulator reads the wire protocol on its own (command codes, lengths, block layouts,
// standard configuration) and does not include the driver's src/usb/protocol.h on purpose:
// a misreading of the protocol on either side then fails a test instead of agreeing with itself.
#pragma once
#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "usb/d2xx.h"

namespace zelk::sim {

class Module;

// How a module's analog inputs, counters and digital inputs behave.
enum class SignalMode {
    Waveform,  // a distinct sine per physical input, counters counting, DIN toggling
    Sequence,  // every sample and counter carries a running record number (docs/simulator.md)
};

// Fault applied to the reply of one command code.
enum class ReplyFault {
    None,
    NoReply,     // the command is executed, its reply is never sent
    LateReply,   // the reply comes `amount` ms later than the latency says
    ShortReply,  // the last `amount` bytes (at least 1) of the reply are missing
    LongReply,   // `amount` extra bytes (at least 1) follow the reply
    WrongEcho,   // the first reply byte is not the command code
    ExtraByte,   // one stray byte follows the reply (also for commands without a reply)
    SplitReply,  // the reply arrives in two halves, the second `amount` ms after the first
};

// The nine D2XX functions, for per-function faults and call counts.
enum class D2xxCall {
    ListDevices,
    Open,
    Close,
    ResetDevice,
    SetLatencyTimer,
    Purge,
    Write,
    Read,
    GetQueueStatus,
};
constexpr int kD2xxCallCount = 9;

// `times` argument of the fault setters: apply on every call until cleared.
constexpr int kAlways = -1;

constexpr uint32_t kDefaultBandwidth = 1000000;  // bytes per second, a full-speed USB link
constexpr uint32_t kDefaultLatencyMs = 2;
constexpr size_t kDefaultModuleBuffer = 64 * 1024;  // bytes of records the module can hold
constexpr size_t kDefaultHostQueue = 64 * 1024;     // bytes the D2XX receive queue can hold

// One packet as the module received it.
struct Packet {
    uint8_t code = 0;
    std::vector<uint8_t> data;   // decoded data bytes
    std::vector<uint8_t> bytes;  // the packet as written, header included
};

// A copy of a module's state and counters, taken under the bench lock.
struct ModuleState {
    std::array<uint8_t, 32> config{};  // the TimerConfigBlock as last written (0x85)
    bool measuring = false;
    uint8_t dout = 0;     // last value of 0x92
    uint16_t cnt0 = 0;    // counters and digital inputs now
    uint16_t cnt1 = 0;
    uint8_t din = 0;
    uint32_t long_value = 0;  // last value of 0x83 (read back by 0x82)
    uint64_t records_produced = 0;  // since power-on, by every measurement
    uint64_t records_dropped = 0;   // lost to a full module buffer
    uint64_t records_in_run = 0;    // records produced by the current (or last) measurement
    uint64_t starts_rejected = 0;   // 0x91 refused for an unusable block
    size_t module_buffer_bytes = 0; // bytes waiting in the module (records and replies)
    size_t readable_bytes = 0;      // bytes the host could read now
    uint64_t invalid_packets = 0;   // packets ignored for framing or length faults
    uint64_t bytes_read_by_host = 0;
    std::array<uint64_t, 256> packets_by_code{};
    std::array<uint64_t, 256> bytes_written_by_code{};  // whole packets, header included
    std::optional<Packet> last_packet;
    uint8_t latency_timer = 0;  // last FT_SetLatencyTimer value
    int open_handles = 0;
};

class Bench {
public:
    Bench();
    ~Bench();
    Bench(const Bench&) = delete;
    Bench& operator=(const Bench&) = delete;

    // Two plugged modules "12000001" and "12100002" described "ZELK-2716E", default
    // settings, no faults, the steady clock, zeroed counters. Open handles become dead.
    void Reset();
    void ClearDevices();
    // Returns the bench index of the new device (plugged, power-on state).
    int AddDevice(const std::string& serial, const std::string& description = "ZELK-2716E");
    int DeviceCount() const;
    // Unplugging kills the open handles of the device (their calls fail with FT_IO_ERROR);
    // replugging powers the module up afresh.
    void SetPlugged(int index, bool plugged);
    bool IsPlugged(int index) const;

    // Runs `fn` on the device's module engine under the bench lock; false for a bad index.
    bool WithModule(int index, const std::function<void(Module&)>& fn);
    ModuleState State(int index);  // default state for a bad index

    // Signals.
    void SetSignalMode(int index, SignalMode mode);
    // Holds a physical input (0..15) at a fixed voltage; nullopt returns it to its signal.
    void SetInputVolts(int index, int input, std::optional<double> volts);
    // Holds DIN0/DIN1 (bits 0, 1) at a value; nullopt lets them toggle again.
    void SetDigitalInputs(int index, std::optional<uint8_t> din);

    // Link.
    void SetBandwidth(uint32_t bytes_per_second);  // 0 = unlimited
    uint32_t Bandwidth() const;
    void SetReplyLatencyMs(uint32_t ms);
    uint32_t ReplyLatencyMs() const;
    void SetModuleBufferBytes(size_t bytes);
    void SetHostQueueBytes(size_t bytes);

    // Clock: the steady clock by default; a manual clock starts where the bench clock is
    // and moves only with AdvanceClock.
    void UseManualClock(bool manual);
    void AdvanceClock(std::chrono::nanoseconds step);
    std::chrono::nanoseconds Now() const;

    // Faults of one device's replies, keyed by command code; `times` = kAlways or a count.
    void SetCommandFault(int index, uint8_t code, ReplyFault fault, uint32_t amount = 0,
                         int times = kAlways);
    // A D2XX function returns `status` (without doing anything) for `times` calls.
    void FailD2xx(D2xxCall call, usb::FT_STATUS status, int times = kAlways);
    // FT_Open reports FT_OK with the handle 0xFFFFFFFF for `times` calls.
    void SetOpenReturnsInvalidHandle(int times = kAlways);
    // FT_Write accepts at most `bytes` of a write (and reports that count) for `times` calls.
    void LimitWrite(uint32_t bytes, int times = kAlways);
    // FT_Read delivers fewer bytes than asked for `times` calls: call k delivers at most
    // limits[k mod size] bytes (0 allowed) and the rest stays queued. An empty list clears it.
    void LimitRead(std::vector<uint32_t> limits, int times = kAlways);
    void ClearFaults();

    uint64_t D2xxCallCount(D2xxCall call) const;
    // Packets received by the device since power-on or ClearHistory (the last 4096).
    std::vector<Packet> ReceivedPackets(int index) const;
    void ClearHistory(int index);

    // The D2XX functions served by this bench (the front ends call these).
    usb::FT_STATUS ListDevices(void* arg1, void* arg2, usb::DWORD flags);
    usb::FT_STATUS Open(int device_index, usb::FT_HANDLE* handle);
    usb::FT_STATUS Close(usb::FT_HANDLE handle);
    usb::FT_STATUS ResetDevice(usb::FT_HANDLE handle);
    usb::FT_STATUS SetLatencyTimer(usb::FT_HANDLE handle, usb::UCHAR ms);
    usb::FT_STATUS Purge(usb::FT_HANDLE handle, usb::ULONG mask);
    usb::FT_STATUS Write(usb::FT_HANDLE handle, const void* buffer, usb::DWORD bytes, usb::DWORD* written);
    usb::FT_STATUS Read(usb::FT_HANDLE handle, void* buffer, usb::DWORD bytes, usb::DWORD* read);
    usb::FT_STATUS GetQueueStatus(usb::FT_HANDLE handle, usb::DWORD* queued);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// The process-wide bench that the D2XX front ends serve.
Bench& GlobalBench();

// The nine D2XX functions backed by GlobalBench().
const usb::D2xxApi& InProcessD2xx();

// Simulator configuration (INI text, docs/simulator.md). On failure `error` names the line.
bool ConfigureBench(Bench& bench, const std::string& ini_text, std::string* error = nullptr);
bool ConfigureBenchFromFile(Bench& bench, const std::string& path, std::string* error = nullptr);
// Applies the file named by ZELK_SIM_CONFIG to GlobalBench() once per process (no-op
// when the variable is unset or empty; a bad file leaves the defaults).
void ConfigureGlobalBenchFromEnvironment();

}  // namespace zelk::sim
