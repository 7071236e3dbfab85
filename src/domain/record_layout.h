// What the module records and how its samples scale: the one place that answers "is this
// item recorded", "how long is a record" and "what full scale does this range code have",
// for the measurement, the live channels, the record file and the dBASE table alike.
#pragma once
#include <cstdint>

#include "domain/ranges.h"
#include "usb/protocol.h"

namespace zelk {

// The timer period the module accepts, in microseconds (0.5 us steps).
inline constexpr double kPeriodMinUs = usb::kPeriodMinTicks * usb::kPeriodTickUs;
inline constexpr double kPeriodMaxUs = usb::kPeriodMaxTicks * usb::kPeriodTickUs;

// The module is sent the low byte of an enable and records the item when that byte is not 0.
constexpr uint8_t EnableByte(int32_t enable) { return static_cast<uint8_t>(enable & 0xFF); }
constexpr bool IsRecorded(int32_t enable) { return EnableByte(enable) != 0; }

// 2 x channel count, plus 2 for each recorded counter and 2 when DIN/DOUT is recorded.
constexpr int32_t RecordBytesOf(int32_t channelCount, int32_t cnt0Enable, int32_t cnt1Enable, int32_t dinDoutEnable) {
    return 2 * channelCount + (IsRecorded(cnt0Enable) ? 2 : 0) + (IsRecorded(cnt1Enable) ? 2 : 0) +
           (IsRecorded(dinDoutEnable) ? 2 : 0);
}

// The longest record: every channel, both counters and DIN/DOUT.
inline constexpr int32_t kMaxRecordBytes = RecordBytesOf(usb::cfgblock::kScanCount, 1, 1, 1);

// The module measures with the low three bits of a range code (the host may write 0..15).
constexpr uint32_t MeasuredRange(uint32_t rangeCode) { return rangeCode & usb::kScanRangeMask; }

// Full scale in volts of the range the module measures with; the measured codes 6 and 7
// have no range of their own and measure as 10 V.
constexpr double FullScaleOf(uint32_t rangeCode) { return RangeOf(MeasuredRange(rangeCode)).fullScale; }

}  // namespace zelk
