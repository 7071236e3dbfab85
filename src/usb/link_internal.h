// Helpers shared by the link files of src/usb; not part of the link's interface.
#pragma once
#include <cstdint>

#include "usb/protocol.h"

namespace zelk::usb {

// Large enough for any data count a byte can hold, so no count can overrun it.
constexpr int kMaxPacketSize = PacketLength(255);

// Total reply length the exchange waits for; 5 (the header) for a code without a checked length.
int ExpectedReplyLength(uint8_t code);
// Reply data in raw or nibble form into `out` (room for length - 5 bytes); returns the data count.
uint8_t DecodeReply(const uint8_t* reply, int length, bool raw, uint8_t* out);

}  // namespace zelk::usb
