// The 18 standard status texts (cp1250), indexed by status code, and the channel statuses.
#pragma once
#include <cstdint>
#include <string>

namespace zelk {

constexpr int kStatusTextCount = 18;
extern const char* const StatusTexts[kStatusTextCount];

constexpr int32_t kChannelStatusUnused = 99;     // defined, no request finished yet
constexpr int32_t kChannelStatusUndefined = 100;  // the index names no channel

// The table text of a code, or the text, " - " and the detail of the failing step.
std::string StatusText(uint8_t code);
std::string StatusText(uint8_t code, const std::string& detail);

}  // namespace zelk
