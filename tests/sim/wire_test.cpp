// The module's packet parser and reply builders, over hand-written byte streams.
#include <gtest/gtest.h>

#include "sim/engine/wire.h"

namespace zelk::sim::wire {
namespace {

using Bytes = std::vector<uint8_t>;

std::vector<Packet> Parse(PacketParser& p, const Bytes& b) {
    std::vector<Packet> out;
    p.Feed(b.data(), b.size(), out);
    return out;
}

TEST(PacketParser, DecodesCodeAndLowNibbleFirstData) {
    PacketParser p;
    auto out = Parse(p, {0x92, 0x04, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00});
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].code, 0x92);
    EXPECT_EQ(out[0].data, (Bytes{0x00, 0x01}));
    EXPECT_EQ(out[0].bytes.size(), 9u);
    out = Parse(p, {0x93, 0x06, 0x00, 0x00, 0x00, 0x01, 0x00, 0x04, 0x03, 0x02, 0x01});
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].data, (Bytes{0x01, 0x34, 0x12}));
    EXPECT_EQ(p.Rejected(), 0u);
}

TEST(PacketParser, CommandWithoutDataIsFiveBytesAndLengthUsesAllFourNibbles) {
    PacketParser p;
    auto out = Parse(p, {0x80, 0, 0, 0, 0});
    ASSERT_EQ(out.size(), 1u);
    EXPECT_TRUE(out[0].data.empty());
    // 64 nibbles: 0, 4, 0, 0; the packet is complete only with the last data nibble.
    Bytes p85{0x85, 0x00, 0x04, 0x00, 0x00};
    for (int k = 0; k < 32; ++k) p85.insert(p85.end(), {uint8_t(k & 0x0F), uint8_t(k >> 4)});
    out = Parse(p, Bytes(p85.begin(), p85.end() - 1));
    EXPECT_TRUE(out.empty());
    out = Parse(p, {p85.back()});
    ASSERT_EQ(out.size(), 1u);
    ASSERT_EQ(out[0].data.size(), 32u);
    EXPECT_EQ(out[0].data[31], 31);
}

TEST(PacketParser, PacketsSplitAcrossWritesAndBackToBack) {
    PacketParser p;
    const Bytes stream{0x81, 0, 0, 0, 0, 0x83, 0x08, 0, 0, 0, 1, 0, 2, 0, 3, 0, 4, 0, 0x90, 0, 0, 0, 0};
    std::vector<Packet> out;
    for (uint8_t b : stream) p.Feed(&b, 1, out);
    ASSERT_EQ(out.size(), 3u);
    EXPECT_EQ(out[1].data, (Bytes{1, 2, 3, 4}));
    EXPECT_EQ(out[2].code, 0x90);
}

TEST(PacketParser, FaultyPacketsAreDroppedAndTheNextCodeResynchronises) {
    struct Case {
        const char* what;
        Bytes bytes;
    };
    const Case cases[] = {
        {"byte above 0x0F in the length", {0x92, 0x04, 0x10, 0x00, 0x00, 0, 0, 1, 0}},
        {"byte above 0x0F in the data", {0x92, 0x04, 0x00, 0x00, 0x00, 0x00, 0x20, 0x01, 0x00}},
        {"odd nibble count", {0x92, 0x03, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01}},
        {"more than 126 data bytes", {0x85, 0x0E, 0x0F, 0x00, 0x00}},
        {"cut short by the next code", {0x92, 0x04, 0x00, 0x00, 0x00, 0x00}},
        {"stray bytes before a code", {0x01, 0x02, 0x03}},
    };
    for (const Case& c : cases) {
        PacketParser p;
        Bytes b = c.bytes;
        b.insert(b.end(), {0x81, 0, 0, 0, 0});
        auto out = Parse(p, b);
        ASSERT_EQ(out.size(), 1u) << c.what;
        EXPECT_EQ(out[0].code, 0x81) << c.what;
        EXPECT_EQ(p.Rejected(), 1u) << c.what;
    }
}

TEST(Replies, RawAndNibbleFormsWithLengthHeader) {
    const uint8_t id[16] = {'Z', 'E', 'L', 'K', '-', '2', '7', '1', '6', 'E', ' ', ' ', '1', '.', '0', '3'};
    Bytes raw = RawReply(0x81, id, 16);
    ASSERT_EQ(raw.size(), 21u);
    EXPECT_EQ(Bytes(raw.begin(), raw.begin() + 5), (Bytes{0x81, 0x00, 0x01, 0x00, 0x00}));
    EXPECT_EQ(raw[5], 'Z');
    EXPECT_EQ(raw[20], '3');

    const uint8_t v[4] = {0xA5, 0x00, 0xFF, 0x3C};
    EXPECT_EQ(NibbleReply(0x82, v, 4),
              (Bytes{0x82, 0x08, 0x00, 0x00, 0x00, 0x05, 0x0A, 0x00, 0x00, 0x0F, 0x0F, 0x0C, 0x03}));
    uint8_t block[37] = {};
    EXPECT_EQ(NibbleReply(0x90, block, 37).size(), 79u);
    EXPECT_EQ(NibbleReply(0x90, block, 37)[1], 0x0A);  // 74 nibbles = 0x4A
    EXPECT_EQ(NibbleReply(0x90, block, 37)[2], 0x04);
}

}  // namespace
}  // namespace zelk::sim::wire
