#include "sim/engine/wire.h"

namespace zelk::sim::wire {

void PacketParser::Start(uint8_t code) {
    state_ = State::Length;
    current_ = Packet{};
    current_.code = code;
    current_.bytes.push_back(code);
    length_nibbles_ = 0;
    length_ = 0;
    data_nibbles_ = 0;
    in_stray_run_ = false;
}

void PacketParser::Reject() {
    ++rejected_;
    state_ = State::Hunt;
    current_ = Packet{};
}

void PacketParser::Clear() {
    state_ = State::Hunt;
    current_ = Packet{};
    in_stray_run_ = false;
}

void PacketParser::Feed(const uint8_t* bytes, size_t count, std::vector<Packet>& out) {
    for (size_t i = 0; i < count; ++i) {
        const uint8_t b = bytes[i];
        if (b & 0x80) {
            if (state_ != State::Hunt) Reject();
            Start(b);
        } else if (state_ == State::Hunt) {
            // Bytes outside a packet: one rejection per run of them.
            if (!in_stray_run_) ++rejected_;
            in_stray_run_ = true;
            continue;
        } else if (b > 0x0F) {
            Reject();
            in_stray_run_ = true;  // the rest of the broken packet is one fault
            continue;
        } else if (state_ == State::Length) {
            current_.bytes.push_back(b);
            length_ |= unsigned(b) << (4 * length_nibbles_);
            if (++length_nibbles_ < 4) continue;
            if ((length_ & 1) || length_ > 2 * kMaxPacketData) {
                Reject();
                in_stray_run_ = true;
                continue;
            }
            state_ = State::Data;
        } else {
            current_.bytes.push_back(b);
            if (data_nibbles_ & 1)
                current_.data.back() = uint8_t(current_.data.back() | (b << 4));
            else
                current_.data.push_back(b);
            ++data_nibbles_;
        }
        if (state_ == State::Data && data_nibbles_ == length_) {
            out.push_back(std::move(current_));
            current_ = Packet{};
            state_ = State::Hunt;
        }
    }
}

namespace {

std::vector<uint8_t> Header(uint8_t code, size_t following) {
    std::vector<uint8_t> r;
    r.reserve(5 + following);
    r.push_back(code);
    for (int k = 0; k < 4; ++k) r.push_back(uint8_t((following >> (4 * k)) & 0x0F));
    return r;
}

}  // namespace

std::vector<uint8_t> RawReply(uint8_t code, const uint8_t* data, size_t count) {
    std::vector<uint8_t> r = Header(code, count);
    r.insert(r.end(), data, data + count);
    return r;
}

std::vector<uint8_t> NibbleReply(uint8_t code, const uint8_t* data, size_t count) {
    std::vector<uint8_t> r = Header(code, 2 * count);
    for (size_t k = 0; k < count; ++k) {
        r.push_back(data[k] & 0x0F);
        r.push_back(data[k] >> 4);
    }
    return r;
}

}  // namespace zelk::sim::wire
