// The 204 host channels: descriptions, the defined set, the two notification classes,
// range names, and the build and reset of the channel table.
#pragma once
#include <cstdint>
#include <string>

#include "core/ranges.h"

namespace zelk {

struct TData;

// Value kinds as the host's type tags name them.
enum class ValueKind : int32_t { None = 0, Boolean = 2, Longcard = 5, Real = 10, String = 11 };

bool IsDefinedChannel(uint32_t ch);
bool InInputClass(uint32_t ch);   // notified with kind 0
bool InOutputClass(uint32_t ch);  // notified with kind 1
// Fixed description (cp1250); "Kanál nedefinován" for every undefined number.
std::string ChannelDescription(uint32_t ch);
// Kind of the value the host reads or writes on the channel.
ValueKind ChannelKind(uint32_t ch);

// Sets every field of every channel to its built value (names and ranges from Cfg).
void BuildChannelTable(TData& d);
// Pending 0, Processed 0, Finished 1 everywhere; values of 0..202 back to zero.
void ResetFinishState(TData& d);

}  // namespace zelk
