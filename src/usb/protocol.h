// The module's wire protocol, written once for the driver and its host tool: command codes,
// packet and reply lengths, the layouts of the configuration block, the input block and the
// identity, the standard configuration and the timer's limits.
//
// The simulator (sim/) reads the protocol on its own on purpose and does not include this
// header: a misreading here then fails a test instead of agreeing with itself.
#pragma once
#include <array>
#include <cstdint>

namespace zelk::usb {

// Command codes. The module answers only the read commands (see ReplyLengthOf).
inline constexpr uint8_t kCmdReset = 0x80;         // stop, clear the queues
inline constexpr uint8_t kCmdIdentify = 0x81;      // reply: the identity, raw bytes
inline constexpr uint8_t kCmdReadLong = 0x82;      // reply: four bytes
inline constexpr uint8_t kCmdWriteLong = 0x83;     // four bytes, low byte first
inline constexpr uint8_t kCmdReadConfig = 0x84;    // reply: the configuration block
inline constexpr uint8_t kCmdWriteConfig = 0x85;   // the configuration block
inline constexpr uint8_t kCmdReadInputs = 0x90;    // reply: the input block
inline constexpr uint8_t kCmdStart = 0x91;         // start the timer measurement
inline constexpr uint8_t kCmdWriteOutput = 0x92;   // output number, value
inline constexpr uint8_t kCmdWriteCounter = 0x93;  // counter number, preset low byte first

// Packets: the code, four nibbles of the data nibble count (low first), then two nibbles per
// data byte (low first). A reply has the same header; raw replies carry one byte per byte.
inline constexpr int kPacketHeaderSize = 5;
inline constexpr int kReplyHeaderSize = kPacketHeaderSize;
inline constexpr int kCountNibbles = 4;
constexpr int PacketLength(uint8_t count) { return kPacketHeaderSize + 2 * count; }

// The identity (kCmdIdentify): the module's name, then its version, as characters.
inline constexpr int kIdentNameSize = 12;
inline constexpr int kIdentVersionSize = 4;
inline constexpr int kIdentSize = kIdentNameSize + kIdentVersionSize;
inline constexpr int kLongSize = 4;

// The timer configuration block (kCmdReadConfig, kCmdWriteConfig), byte offsets.
namespace cfgblock {
inline constexpr int kChannelCount = 0;   // measured channels, 1..16
inline constexpr int kScan = 1;           // one scan entry per channel (ScanEntry)
inline constexpr int kScanCount = 16;
inline constexpr int kPeriod = 17;        // period in half microseconds, 16 bits, low byte first
inline constexpr int kCnt0Enable = 19;    // low byte of the enable; not 0: recorded
inline constexpr int kCnt0Preset = 20;    // 16 bits, low byte first
inline constexpr int kCnt1Enable = 22;
inline constexpr int kCnt1Preset = 23;
inline constexpr int kDinDoutEnable = 25;
inline constexpr int kSettle = 26;        // settle time in microseconds per range code 0..5
inline constexpr int kSettleCount = 6;
inline constexpr int kSize = kSettle + kSettleCount;
}  // namespace cfgblock
inline constexpr int kTimerConfigSize = cfgblock::kSize;

// The input block (kCmdReadInputs): every analog input's sample as 16 bits, both counters,
// the digital inputs, the digital outputs; byte offsets.
namespace inblock {
inline constexpr int kAnalog = 0;  // 16 samples, 16 bits each, low byte first
inline constexpr int kCnt0 = kAnalog + 2 * cfgblock::kScanCount;
inline constexpr int kCnt1 = kCnt0 + 2;
inline constexpr int kDin = kCnt1 + 2;
inline constexpr int kSize = kDin + 1;
}  // namespace inblock
inline constexpr int kInputBlockSize = inblock::kSize;

// The total length of the reply to `code`; the header alone for a code without a checked
// length (the module answers the write commands with none).
constexpr int ReplyLengthOf(uint8_t code) {
    switch (code) {
        case kCmdIdentify: return kReplyHeaderSize + kIdentSize;  // raw
        case kCmdReadLong: return kReplyHeaderSize + 2 * kLongSize;
        case kCmdReadConfig: return kReplyHeaderSize + 2 * kTimerConfigSize;
        case kCmdReadInputs: return kReplyHeaderSize + 2 * kInputBlockSize;
        default: return kReplyHeaderSize;
    }
}

// Scan entry: range code in bits 4..6 (only its low three bits are measured), physical
// input in bits 0..3.
inline constexpr uint8_t kScanRangeMask = 7;
inline constexpr int kScanRangeShift = 4;

// The timer period on the wire: 16 bits of half microseconds, at least 50.
inline constexpr double kPeriodTickUs = 0.5;
inline constexpr uint16_t kPeriodMinTicks = 50;
inline constexpr uint16_t kPeriodMaxTicks = 0xFFFF;

// The standard configuration: all 16 channels, 1000 us, both counters and DIN/DOUT recorded
// with presets 0, and these settle times per range code (10V, 5V, 2V, 1V, 500mV, 200mV).
inline constexpr uint32_t kStandardChannelCount = cfgblock::kScanCount;
inline constexpr double kStandardPeriodUs = 1000.0;
inline constexpr std::array<uint8_t, cfgblock::kSettleCount> kStandardSettleUs{0, 0, 0, 0, 3, 8};

}  // namespace zelk::usb
