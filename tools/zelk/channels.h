// The 204 host channels as the tool presents them: the driver's kind, direction and defined
// set, with an English meaning, and the limits the driver applies to a written value.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "driver.h"

namespace zelk::tool {

constexpr uint32_t kChannelCount = ZELK_CHANNEL_COUNT;

enum class Direction { None, Input, Output, Both };

struct ChannelInfo {
    bool defined = false;
    int32_t tag = 0;  // kTagBoolean, kTagLongcard, kTagReal, kTagString
    Direction direction = Direction::None;
    std::string meaning;  // English
    std::string limits;   // what the driver does to a written value
    std::string unit;
};

ChannelInfo Channel(uint32_t ch);
const char* KindName(int32_t tag);
const char* DirectionName(Direction d);
bool IsReadable(uint32_t ch);  // GetInput fills a value for it
bool IsWritable(uint32_t ch);

// "0-15,97,99" or "all" / "inputs"; false with a message for a bad list.
bool ParseChannelList(const std::string& text, std::vector<uint32_t>* out, std::string* error);
// The channels `read` shows when none are named.
std::vector<uint32_t> DefaultReadChannels();

// The value the driver stores for a written value, by the driver's own write rules (masks
// and clamps); nullopt when the driver takes no value from this channel and tag.
std::optional<std::string> ExpectedStored(uint32_t ch, const Value& v);

// "asked X, used Y, because ..." when what the driver stores, or what the module gets,
// differs from a written value; empty when the value is used as written.
std::string WriteNote(uint32_t ch, const Value& v);

// Builds the value record for "CH=VALUE"; false with a message.
bool ParseWrite(const std::string& text, uint32_t* ch, Value* v, std::string* error);

std::string ValueText(const Value& v, const std::string& str);

}  // namespace zelk::tool
