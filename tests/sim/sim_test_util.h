// Helpers of the simulator tests: a bench on a manual clock with one open device.
#pragma once
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <set>
#include <vector>

#include "sim/sim.h"

namespace zelk::sim::test {

using Bytes = std::vector<uint8_t>;

// Frames a command the way the host does (code, length nibbles, data nibbles).
inline Bytes Frame(uint8_t code, const Bytes& data = {}) {
    Bytes p{code};
    const size_t nibbles = 2 * data.size();
    for (int k = 0; k < 4; ++k) p.push_back(uint8_t((nibbles >> (4 * k)) & 0x0F));
    for (uint8_t b : data) {
        p.push_back(b & 0x0F);
        p.push_back(b >> 4);
    }
    return p;
}

inline Bytes Denibble(const Bytes& reply) {
    Bytes d;
    for (size_t i = 5; i + 1 < reply.size(); i += 2) d.push_back(uint8_t(reply[i] | reply[i + 1] << 4));
    return d;
}

class BenchTest : public ::testing::Test {
protected:
    void SetUp() override {
        bench.UseManualClock(true);
        ASSERT_EQ(bench.Open(0, &h), usb::FT_OK);
    }

    void Send(const Bytes& bytes) {
        usb::DWORD written = 0;
        ASSERT_EQ(bench.Write(h, const_cast<uint8_t*>(bytes.data()), usb::DWORD(bytes.size()), &written), usb::FT_OK);
        ASSERT_EQ(written, bytes.size());
    }

    size_t Queued() {
        usb::DWORD n = 0;
        EXPECT_EQ(bench.GetQueueStatus(h, &n), usb::FT_OK);
        return n;
    }

    Bytes ReadAll() {
        Bytes b(Queued());
        usb::DWORD got = 0;
        EXPECT_EQ(bench.Read(h, b.data(), usb::DWORD(b.size()), &got), usb::FT_OK);
        b.resize(got);
        return b;
    }

    void AdvanceMs(double ms) { bench.AdvanceClock(std::chrono::nanoseconds(std::llround(ms * 1e6))); }

    // Sends a command and returns what has arrived once the reply latency has passed.
    Bytes Exchange(const Bytes& packet) {
        Send(packet);
        AdvanceMs(bench.ReplyLatencyMs() + 1);
        return ReadAll();
    }

    static std::array<uint8_t, 32> Block(uint8_t n, uint16_t ticks, bool cnt0, bool cnt1, bool dio) {
        std::array<uint8_t, 32> b{};
        b[0] = n;
        for (int k = 0; k < 16; ++k) b[size_t(1 + k)] = uint8_t(k);
        b[17] = uint8_t(ticks & 0xFF);
        b[18] = uint8_t(ticks >> 8);
        b[19] = cnt0;
        b[22] = cnt1;
        b[25] = dio;
        return b;
    }

    void WriteBlock(const std::array<uint8_t, 32>& b) { Send(Frame(0x85, Bytes(b.begin(), b.end()))); }

    Bench bench;
    usb::FT_HANDLE h = nullptr;
};

}  // namespace zelk::sim::test
