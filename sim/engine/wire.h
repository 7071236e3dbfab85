// The module's side of the wire: a parser for the host's packet stream and the builders of
// the module's replies. Written from the module's view, independent of the driver's framing.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "sim/sim.h"

namespace zelk::sim::wire {

// Largest data count a packet can carry (the host frames packets in 257 bytes).
constexpr size_t kMaxPacketData = 126;

// Splits the host's byte stream into packets. A byte with bit 7 set always starts a new
// packet, so the parser resynchronises on the next command code after any fault; a
// started packet that is cut short, carries a byte above 0x0F after the code, or an odd
// or oversize length is dropped and counted.
class PacketParser {
public:
    // Appends every packet completed by these bytes to `out`.
    void Feed(const uint8_t* bytes, size_t count, std::vector<Packet>& out);
    void Clear();
    bool Idle() const { return state_ == State::Hunt; }
    uint64_t Rejected() const { return rejected_; }

private:
    enum class State { Hunt, Length, Data };
    void Start(uint8_t code);
    void Reject();

    State state_ = State::Hunt;
    Packet current_;
    unsigned length_nibbles_ = 0;  // nibbles of the length field received
    unsigned length_ = 0;          // data nibbles announced
    unsigned data_nibbles_ = 0;    // data nibbles received
    bool in_stray_run_ = false;
    uint64_t rejected_ = 0;
};

// Reply header: the echoed code and the count of the bytes that follow, as four nibbles
// (least significant first), the same way the host frames its lengths.
std::vector<uint8_t> RawReply(uint8_t code, const uint8_t* data, size_t count);
std::vector<uint8_t> NibbleReply(uint8_t code, const uint8_t* data, size_t count);

}  // namespace zelk::sim::wire
