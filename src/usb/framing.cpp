// Command packets and reply decoding: every byte after the command code carries one nibble.
#include "usb/Vorna_FTD201.h"
#include "usb/link_internal.h"
#include "usb/protocol.h"

namespace zelk::usb {

int BuildPacket(uint8_t code, uint8_t count, const uint8_t* data, uint8_t* packet, int capacity) {
    const int length = PacketLength(count);
    if (!packet || capacity < length || (count > 0 && !data)) return -1;
    const unsigned nibbles = 2u * count;
    packet[0] = code;
    for (int i = 0; i < kCountNibbles; ++i) packet[1 + i] = static_cast<uint8_t>((nibbles >> (4 * i)) & 0x0F);
    for (int k = 0; k < count; ++k) {
        packet[kPacketHeaderSize + 2 * k] = static_cast<uint8_t>(data[k] & 0x0F);
        packet[kPacketHeaderSize + 1 + 2 * k] = static_cast<uint8_t>(data[k] >> 4);
    }
    return length;
}

int ExpectedReplyLength(uint8_t code) {
    return ReplyLengthOf(code);
}

uint8_t DecodeReply(const uint8_t* reply, int length, bool raw, uint8_t* out) {
    if (length <= kReplyHeaderSize) return 0;
    const int payload = length - kReplyHeaderSize;
    if (raw) {
        for (int k = 0; k < payload; ++k) out[k] = reply[kReplyHeaderSize + k];
        return static_cast<uint8_t>(payload);
    }
    const int n = payload / 2;
    for (int k = 0; k < n; ++k) {
        const uint8_t low = reply[kReplyHeaderSize + 2 * k];
        const uint8_t high = reply[kReplyHeaderSize + 2 * k + 1];
        out[k] = static_cast<uint8_t>(high * 16 + low);
    }
    return static_cast<uint8_t>(n);
}

}  // namespace zelk::usb
