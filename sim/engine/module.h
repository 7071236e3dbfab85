// One simulated ZELK-2716E: command execution, signal sources, the timed measurement
// engine and the module-to-host link (latency, bandwidth cap, module buffer, D2XX
// receive queue). Not locked: the bench calls it under its own lock.
#pragma once
#include <array>
#include <chrono>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "sim/engine/wire.h"
#include "sim/sim.h"

namespace zelk::sim {

using Nanos = std::chrono::nanoseconds;

// Link settings shared by all devices of a bench.
struct LinkSettings {
    uint32_t bandwidth = kDefaultBandwidth;  // bytes/s, 0 = unlimited
    Nanos latency = std::chrono::milliseconds(kDefaultLatencyMs);
    size_t module_buffer = kDefaultModuleBuffer;
    size_t host_queue = kDefaultHostQueue;
};

struct CommandFault {
    ReplyFault fault = ReplyFault::None;
    uint32_t amount = 0;
    int times = 0;  // kAlways, or calls left
};

// Data counts the module accepts per command; a packet with another count is ignored.
std::optional<size_t> ExpectedDataCount(uint8_t code);

// The converter's value for `volts` on range code `range` (0..7), clipped to 0..65534.
uint16_t SampleFromVolts(double volts, unsigned range);
double FullScale(unsigned range);

class Module {
public:
    static constexpr size_t kHistory = 4096;

    // Power-on state at time `now`: standard block, outputs 0, counters 0, queues empty.
    void PowerOn(Nanos now);

    // Host bytes written at `now`. Due records are produced first.
    void HostWrite(const uint8_t* bytes, size_t count, Nanos now, const LinkSettings& link);
    // Produces the records due by `now` and moves bytes over the link into the host queue.
    void Advance(Nanos now, const LinkSettings& link);

    size_t Readable() const { return host_queue_.size(); }
    size_t ReadHost(uint8_t* out, size_t count);
    void PurgeRx() { host_queue_.clear(); }
    void PurgeTx() { parser_.Clear(); }

    // Signals.
    SignalMode signal_mode = SignalMode::Waveform;
    std::array<std::optional<double>, 16> input_volts{};
    std::optional<uint8_t> din_override;
    // Identification: 12 name characters and 4 version characters.
    std::string identity = "ZELK-2716E  1.03";

    std::array<CommandFault, 256> faults{};
    uint8_t latency_timer = 16;

    // Values at `now` of the physical input on a range, and of counters and inputs.
    uint16_t Sample(unsigned entry, Nanos now) const;
    uint16_t Counter(int which, Nanos now) const;
    uint8_t DigitalInputs(Nanos now) const;

    const std::array<uint8_t, 32>& Config() const { return config_; }
    bool Measuring() const { return measuring_; }
    uint8_t Dout() const { return dout_; }
    uint32_t LongValue() const { return long_value_; }
    uint64_t RecordsProduced() const { return records_produced_; }
    uint64_t RecordsDropped() const { return records_dropped_; }
    uint64_t RecordsInRun() const { return run_records_; }
    uint64_t StartsRejected() const { return starts_rejected_; }
    uint64_t InvalidPackets() const { return parser_.Rejected() + length_rejected_; }
    uint64_t BytesReadByHost() const { return bytes_read_; }
    size_t PendingBytes() const;
    const std::deque<Packet>& History() const { return history_; }
    void ClearHistory() { history_.clear(); }
    const std::array<uint64_t, 256>& PacketsByCode() const { return packets_by_code_; }
    const std::array<uint64_t, 256>& BytesByCode() const { return bytes_by_code_; }

    // Bytes of one measurement record for a block (2 per entry, 2 per counter, 2 DIN/DOUT).
    static size_t RecordBytes(const std::array<uint8_t, 32>& block);

private:
    struct Chunk {
        std::vector<uint8_t> bytes;
        Nanos due{};
        size_t sent = 0;
        bool record = false;
    };

    void Execute(const Packet& p, Nanos now, const LinkSettings& link);
    void SendReply(uint8_t code, std::vector<uint8_t> reply, Nanos now, const LinkSettings& link);
    void Queue(Chunk c);
    void Transfer(Nanos until, const LinkSettings& link);
    void ProduceRecord(Nanos due, const LinkSettings& link);
    void StopMeasurement();
    Nanos RecordDue(uint64_t r) const { return run_start_ + period_ * int64_t(r + 1); }

    wire::PacketParser parser_;
    std::array<uint8_t, 32> config_{};
    uint8_t dout_ = 0;
    uint32_t long_value_ = 0;
    Nanos power_on_{};
    // Counter k reads preset_[k] at preset_time_[k] and counts up from there.
    std::array<uint16_t, 2> preset_{};
    std::array<Nanos, 2> preset_time_{};
    uint64_t inputs_served_ = 0;  // 0x90 replies, the sequence number of the input block

    bool measuring_ = false;
    std::array<uint8_t, 32> run_block_{};
    Nanos run_start_{};
    Nanos period_{};
    size_t record_bytes_ = 0;
    uint64_t run_records_ = 0;  // records due so far in this run (produced or dropped)

    std::deque<Chunk> outbox_;      // module to host, in due order
    size_t outbox_record_bytes_ = 0;
    std::deque<uint8_t> host_queue_;
    Nanos link_free_{};  // when the link finishes the bytes moved so far

    uint64_t records_produced_ = 0;
    uint64_t records_dropped_ = 0;
    uint64_t starts_rejected_ = 0;
    uint64_t length_rejected_ = 0;
    uint64_t bytes_read_ = 0;
    std::deque<Packet> history_;
    std::array<uint64_t, 256> packets_by_code_{};
    std::array<uint64_t, 256> bytes_by_code_{};
};

}  // namespace zelk::sim
