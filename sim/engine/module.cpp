#include "sim/engine/module.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace zelk::sim {

namespace {

constexpr uint8_t kReset = 0x80, kIdentify = 0x81, kReadLong = 0x82, kWriteLong = 0x83,
                  kReadConfig = 0x84, kWriteConfig = 0x85, kReadInputs = 0x90, kStart = 0x91,
                  kWriteOutput = 0x92, kWriteCounter = 0x93;

// The block the module powers up with: 16 entries on inputs 0..15, range 10 V, 1000 us,
// counters and digital port enabled, settle times 0, 0, 0, 0, 3, 8.
constexpr std::array<uint8_t, 32> kPowerOnBlock = {
    16, 0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0A, 0x0B, 0x0C, 0x0D, 0x0E,
    0x0F, 0xD0, 0x07, 1, 0, 0, 1, 0, 0, 1, 0, 0, 0, 0, 3, 8};

constexpr uint16_t kSmallestPeriodTicks = 50;  // 25 us
// Waveform mode: CNT0 counts 1000 per second, CNT1 10 per second (integer time, so that
// every platform counts alike).
constexpr Nanos kCnt0Step = std::chrono::milliseconds(1);
constexpr Nanos kCnt1Step = std::chrono::milliseconds(100);

double Seconds(Nanos t) { return std::chrono::duration<double>(t).count(); }

void Put16(std::vector<uint8_t>& v, uint16_t x) {
    v.push_back(uint8_t(x & 0xFF));
    v.push_back(uint8_t(x >> 8));
}

}  // namespace

std::optional<size_t> ExpectedDataCount(uint8_t code) {
    switch (code) {
        case kReset: case kIdentify: case kReadLong: case kReadConfig: case kReadInputs: case kStart:
            return 0;
        case kWriteLong: return 4;
        case kWriteConfig: return 32;
        case kWriteOutput: return 2;
        case kWriteCounter: return 3;
        default: return std::nullopt;
    }
}

double FullScale(unsigned range) {
    static constexpr double kFull[8] = {10.0, 5.0, 2.0, 1.0, 0.5, 0.2, 10.0, 10.0};
    return kFull[range & 7];
}

uint16_t SampleFromVolts(double volts, unsigned range) {
    if (std::isnan(volts)) return 32767;
    const double code = std::round(32767.0 + volts / FullScale(range) * 32767.0);
    return uint16_t(std::clamp(code, 0.0, 65534.0));
}

size_t Module::RecordBytes(const std::array<uint8_t, 32>& block) {
    return 2 * size_t(block[0]) + (block[19] ? 2 : 0) + (block[22] ? 2 : 0) + (block[25] ? 2 : 0);
}

void Module::PowerOn(Nanos now) {
    parser_.Clear();
    config_ = kPowerOnBlock;
    dout_ = 0;
    long_value_ = 0;
    power_on_ = now;
    preset_ = {0, 0};
    preset_time_ = {now, now};
    inputs_served_ = 0;
    measuring_ = false;
    run_records_ = 0;
    outbox_.clear();
    outbox_record_bytes_ = 0;
    host_queue_.clear();
    link_free_ = now;
}

// Waveform mode: input p is a sine of amplitude 0.15 + 0.65 p volts and frequency
// 0.1 (p + 1) Hz, so every range from 200 mV up shows a different, recognisable signal.
uint16_t Module::Sample(unsigned entry, Nanos now) const {
    const unsigned input = entry & 0x0F, range = (entry >> 4) & 7;
    if (input_volts[input]) return SampleFromVolts(*input_volts[input], range);
    const double t = Seconds(now - power_on_);
    const double amplitude = 0.15 + 0.65 * input, frequency = 0.1 * (input + 1);
    return SampleFromVolts(amplitude * std::sin(2 * std::numbers::pi * frequency * t), range);
}

uint16_t Module::Counter(int which, Nanos now) const {
    const Nanos since = now - preset_time_[which];
    if (since.count() <= 0) return preset_[which];
    return uint16_t(preset_[which] + uint64_t(since / (which == 0 ? kCnt0Step : kCnt1Step)));
}

// DIN0 toggles every second, DIN1 every 2.5 s.
uint8_t Module::DigitalInputs(Nanos now) const {
    if (din_override) return *din_override & 3;
    const int64_t ms = std::chrono::duration_cast<std::chrono::milliseconds>(now - power_on_).count();
    if (ms < 0) return 0;
    return uint8_t(((ms / 1000) & 1) | (((ms / 2500) & 1) << 1));
}

size_t Module::PendingBytes() const {
    size_t n = 0;
    for (const Chunk& c : outbox_) n += c.bytes.size() - c.sent;
    return n;
}

size_t Module::ReadHost(uint8_t* out, size_t count) {
    const size_t n = std::min(count, host_queue_.size());
    std::copy_n(host_queue_.begin(), n, out);
    host_queue_.erase(host_queue_.begin(), host_queue_.begin() + std::ptrdiff_t(n));
    bytes_read_ += n;
    return n;
}

void Module::HostWrite(const uint8_t* bytes, size_t count, Nanos now, const LinkSettings& link) {
    Advance(now, link);
    std::vector<Packet> packets;
    parser_.Feed(bytes, count, packets);
    for (const Packet& p : packets) {
        packets_by_code_[p.code]++;
        bytes_by_code_[p.code] += p.bytes.size();
        history_.push_back(p);
        if (history_.size() > kHistory) history_.pop_front();
        const auto expected = ExpectedDataCount(p.code);
        if (!expected || *expected != p.data.size()) {
            ++length_rejected_;
            continue;
        }
        Execute(p, now, link);
    }
}

// Stops the engine and empties its record queue; replies on their way stay.
void Module::StopMeasurement() {
    measuring_ = false;
    std::erase_if(outbox_, [](const Chunk& c) { return c.record; });
    outbox_record_bytes_ = 0;
}

void Module::Execute(const Packet& p, Nanos now, const LinkSettings& link) {
    const std::vector<uint8_t>& d = p.data;
    switch (p.code) {
        case kReset:
            StopMeasurement();
            SendReply(p.code, {}, now, link);
            break;
        case kIdentify: {
            uint8_t id[16];
            for (size_t i = 0; i < 16; ++i) id[i] = i < identity.size() ? uint8_t(identity[i]) : ' ';
            SendReply(p.code, wire::RawReply(p.code, id, 16), now, link);
            break;
        }
        case kReadLong: {
            const uint8_t v[4] = {uint8_t(long_value_), uint8_t(long_value_ >> 8), uint8_t(long_value_ >> 16),
                                  uint8_t(long_value_ >> 24)};
            SendReply(p.code, wire::NibbleReply(p.code, v, 4), now, link);
            break;
        }
        case kWriteLong:
            long_value_ = uint32_t(d[0]) | uint32_t(d[1]) << 8 | uint32_t(d[2]) << 16 | uint32_t(d[3]) << 24;
            SendReply(p.code, {}, now, link);
            break;
        case kReadConfig:
            SendReply(p.code, wire::NibbleReply(p.code, config_.data(), 32), now, link);
            break;
        case kWriteConfig:
            std::copy(d.begin(), d.end(), config_.begin());
            SendReply(p.code, {}, now, link);
            break;
        case kReadInputs: {
            std::vector<uint8_t> block;
            block.reserve(37);
            const uint64_t q = inputs_served_++;
            const bool seq = signal_mode == SignalMode::Sequence;
            for (unsigned k = 0; k < 16; ++k) {
                const unsigned input = config_[1 + k] & 0x0F;
                const bool held = input_volts[input].has_value();
                Put16(block, seq && !held ? uint16_t(q * 16 + k) : Sample(config_[1 + k], now));
            }
            Put16(block, seq ? uint16_t(q) : Counter(0, now));
            Put16(block, seq ? uint16_t(q >> 16) : Counter(1, now));
            block.push_back(seq && !din_override ? uint8_t(q & 3) : DigitalInputs(now));
            SendReply(p.code, wire::NibbleReply(p.code, block.data(), block.size()), now, link);
            break;
        }
        case kStart: {
            const unsigned n = config_[0];
            const unsigned ticks = unsigned(config_[17]) | unsigned(config_[18]) << 8;
            if (n < 1 || n > 16 || ticks < kSmallestPeriodTicks) {
                ++starts_rejected_;
                break;
            }
            StopMeasurement();
            measuring_ = true;
            run_block_ = config_;
            run_start_ = now;
            period_ = Nanos(int64_t(ticks) * 500);
            record_bytes_ = RecordBytes(run_block_);
            run_records_ = 0;
            for (int c = 0; c < 2; ++c) {
                const size_t at = c == 0 ? 20 : 23;
                preset_[c] = uint16_t(config_[at] | config_[at + 1] << 8);
                preset_time_[c] = now;
            }
            SendReply(p.code, {}, now, link);
            break;
        }
        case kWriteOutput:
            dout_ = d[1];
            SendReply(p.code, {}, now, link);
            break;
        case kWriteCounter:
            if (d[0] <= 1) {
                preset_[d[0]] = uint16_t(d[1] | d[2] << 8);
                preset_time_[d[0]] = now;
            }
            SendReply(p.code, {}, now, link);
            break;
        default:
            break;
    }
}

// Commands without a reply pass an empty one, so that the faults that add bytes apply too.
void Module::SendReply(uint8_t code, std::vector<uint8_t> reply, Nanos now, const LinkSettings& link) {
    Nanos due = now + link.latency;
    CommandFault& f = faults[code];
    ReplyFault fault = f.times != 0 ? f.fault : ReplyFault::None;
    if (fault != ReplyFault::None && f.times > 0) --f.times;
    const uint32_t amount = f.amount;
    const auto ms = [](uint32_t v) { return Nanos(std::chrono::milliseconds(v)); };
    switch (fault) {
        case ReplyFault::None: break;
        case ReplyFault::NoReply: return;
        case ReplyFault::LateReply: due += ms(amount); break;
        case ReplyFault::ShortReply:
            reply.resize(reply.size() - std::min<size_t>(reply.size(), std::max<uint32_t>(amount, 1)));
            break;
        case ReplyFault::LongReply: reply.insert(reply.end(), std::max<uint32_t>(amount, 1), 0x0F); break;
        case ReplyFault::WrongEcho:
            if (!reply.empty()) reply[0] ^= 0x10;
            break;
        case ReplyFault::ExtraByte: reply.push_back(0x00); break;
        case ReplyFault::SplitReply: {
            const size_t half = reply.size() / 2;
            Queue({std::vector<uint8_t>(reply.begin(), reply.begin() + std::ptrdiff_t(half)), due});
            Queue({std::vector<uint8_t>(reply.begin() + std::ptrdiff_t(half), reply.end()), due + ms(amount)});
            return;
        }
    }
    if (!reply.empty()) Queue({std::move(reply), due});
}

// Keeps the outbox in due order; a chunk already partly on the link stays first.
void Module::Queue(Chunk c) {
    auto at = outbox_.end();
    while (at != outbox_.begin()) {
        auto prev = std::prev(at);
        if (prev->due <= c.due || prev->sent > 0) break;
        at = prev;
    }
    if (c.record) outbox_record_bytes_ += c.bytes.size();
    outbox_.insert(at, std::move(c));
}

void Module::ProduceRecord(Nanos due, const LinkSettings& link) {
    const uint64_t r = run_records_++;
    ++records_produced_;
    if (outbox_record_bytes_ + record_bytes_ > link.module_buffer) {
        ++records_dropped_;
        return;
    }
    const bool seq = signal_mode == SignalMode::Sequence;
    std::vector<uint8_t> rec;
    rec.reserve(record_bytes_);
    const unsigned n = run_block_[0];
    for (unsigned k = 0; k < n; ++k) {
        const unsigned input = run_block_[1 + k] & 0x0F;
        const bool held = input_volts[input].has_value();
        Put16(rec, seq && !held ? uint16_t(r * 16 + k) : Sample(run_block_[1 + k], due));
    }
    if (run_block_[19]) Put16(rec, seq ? uint16_t(r) : Counter(0, due));
    if (run_block_[22]) Put16(rec, seq ? uint16_t(r >> 16) : Counter(1, due));
    if (run_block_[25]) {
        rec.push_back(seq && !din_override ? uint8_t(r & 3) : DigitalInputs(due));
        rec.push_back(dout_ & 1);
    }
    Queue({std::move(rec), due, 0, true});
}

void Module::Advance(Nanos now, const LinkSettings& link) {
    while (measuring_) {
        const Nanos due = RecordDue(run_records_);
        if (due > now) break;
        Transfer(due, link);
        // With the link stalled by a full host queue and the module buffer full, every
        // record due until the host reads again is lost: count them at once.
        if (host_queue_.size() >= link.host_queue && outbox_record_bytes_ + record_bytes_ > link.module_buffer) {
            const uint64_t lost = uint64_t((now - due) / period_) + 1;
            run_records_ += lost;
            records_produced_ += lost;
            records_dropped_ += lost;
            continue;
        }
        ProduceRecord(due, link);
    }
    Transfer(now, link);
}

// Moves bytes whose time has come over the link, no faster than the bandwidth cap and
// no further than the host queue has room.
void Module::Transfer(Nanos until, const LinkSettings& link) {
    while (!outbox_.empty()) {
        Chunk& c = outbox_.front();
        const Nanos start = std::max(link_free_, c.due);
        if (start > until) break;
        const size_t room = link.host_queue > host_queue_.size() ? link.host_queue - host_queue_.size() : 0;
        if (room == 0) {
            link_free_ = std::max(link_free_, until);  // a stalled link earns no credit
            break;
        }
        size_t n = std::min(c.bytes.size() - c.sent, room);
        if (link.bandwidth != 0) {
            const auto fit = size_t(double((until - start).count()) * link.bandwidth / 1e9);
            n = std::min(n, fit);
            if (n == 0) break;
            link_free_ = start + Nanos(int64_t(double(n) * 1e9 / link.bandwidth));
        } else {
            link_free_ = start;
        }
        host_queue_.insert(host_queue_.end(), c.bytes.begin() + std::ptrdiff_t(c.sent),
                           c.bytes.begin() + std::ptrdiff_t(c.sent + n));
        c.sent += n;
        if (c.record) outbox_record_bytes_ -= n;
        if (c.sent == c.bytes.size()) outbox_.pop_front();
    }
}

}  // namespace zelk::sim
