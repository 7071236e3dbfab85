// Command packets and reply decoding: every byte after the command code carries one nibble.
#include "usb/Vorna_FTD201.h"
#include "usb/link_internal.h"

namespace zelk::usb {

int BuildPacket(uint8_t code, uint8_t count, const uint8_t* data, uint8_t* packet, int capacity) {
    const int length = PacketLength(count);
    if (!packet || capacity < length || (count > 0 && !data)) return -1;
    const unsigned nibbles = 2u * count;
    packet[0] = code;
    for (int i = 0; i < 4; ++i) packet[1 + i] = static_cast<uint8_t>((nibbles >> (4 * i)) & 0x0F);
    for (int k = 0; k < count; ++k) {
        packet[5 + 2 * k] = static_cast<uint8_t>(data[k] & 0x0F);
        packet[6 + 2 * k] = static_cast<uint8_t>(data[k] >> 4);
    }
    return length;
}

int ExpectedReplyLength(uint8_t code) {
    switch (code) {
        case 0x81: return 21;
        case 0x82: return 13;
        case 0x84: return 69;
        case 0x90: return 79;
        default: return kReplyHeaderSize;
    }
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
