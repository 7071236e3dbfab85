// The 204 host channels: one descriptor each (kind, notification classes, what a write
// stores, what a close keeps), and descriptions.
#pragma once
#include <cstdint>
#include <string>

#include "domain/ranges.h"
#include "zelk2716e.h"

namespace zelk {

constexpr int kChannelCount = ZELK_CHANNEL_COUNT;

// Value kinds as the host's type tags name them.
enum class ValueKind : int32_t {
    None = 0,
    Boolean = ZELK_TAG_BOOLEAN,
    Longcard = ZELK_TAG_LONGCARD,
    Real = ZELK_TAG_REAL,
    String = ZELK_TAG_STRING
};

// What a host's write on the channel stores.
enum class WriteRule : uint8_t {
    None,          // an input: a write changes nothing
    AsWritten,     // the longcard as written
    Bit,           // any non-zero byte is 1
    LowTwoBits,    // value AND 3
    LowFourBits,   // value AND 15
    ChannelCount,  // 0 becomes 1, above 16 becomes 16
    AtMost1,
    AtMost127,
    AtMost65535,
    Period,        // below 25.0 or NaN becomes 25.0, above 32767.5 becomes 32767.5
};

struct ChannelDescriptor {
    bool defined = false;
    ValueKind kind = ValueKind::None;
    bool inputClass = false;   // notified with kind 0
    bool outputClass = false;  // notified with kind 1
    WriteRule write = WriteRule::None;
    bool keepsOnClose = false;  // a setting of the host: its value outlives a close of the module
};

// The descriptor of any number; numbers past the last channel are undefined.
const ChannelDescriptor& DescriptorOf(uint32_t ch);

// The longcard the driver stores for a value written to the channel; the value as written
// where the channel's rule is not one for longcards (None, Period).
uint32_t StoredLongcard(uint32_t ch, uint32_t written);
// The timer period the driver stores for a written one.
double StoredPeriod(double written);

// Texts of the range and physical-input channels: "3   (rozsah 1V)", "7   (vstup AIN7)".
std::string RangeChannelText(uint32_t code);
std::string InputChannelText(uint32_t input);

bool IsDefinedChannel(uint32_t ch);
bool InInputClass(uint32_t ch);   // notified with kind 0
bool InOutputClass(uint32_t ch);  // notified with kind 1
// Fixed description (cp1250); "Kanál nedefinován" for every undefined number.
std::string ChannelDescription(uint32_t ch);
// Kind of the value the host reads or writes on the channel.
ValueKind ChannelKind(uint32_t ch);

}  // namespace zelk
