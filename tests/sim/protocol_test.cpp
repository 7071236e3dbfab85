// The module's answers to hand-written packets, byte for byte, through the D2XX calls.
#include <gtest/gtest.h>

#include "sim_test_util.h"

namespace zelk::sim::test {
namespace {

using Protocol = BenchTest;

TEST_F(Protocol, IdentificationIsRawTwentyOneBytes) {
    const Bytes reply = Exchange({0x81, 0, 0, 0, 0});
    Bytes expected{0x81, 0x00, 0x01, 0x00, 0x00};
    for (char c : std::string("ZELK-2716E  1.03")) expected.push_back(uint8_t(c));
    EXPECT_EQ(reply, expected);
}

TEST_F(Protocol, ConfigurationBlockReadsPowerOnValuesThenWhatWasWritten) {
    Bytes expected{0x84, 0x00, 0x04, 0x00, 0x00};
    const Bytes block{16, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 0xD0, 0x07,
                      1,  0, 0, 1, 0, 0, 1, 0, 0, 0, 0, 3, 8};
    for (uint8_t b : block) expected.insert(expected.end(), {uint8_t(b & 0x0F), uint8_t(b >> 4)});
    EXPECT_EQ(Exchange({0x84, 0, 0, 0, 0}), expected);

    Bytes written(32);
    for (size_t i = 0; i < 32; ++i) written[i] = uint8_t(0xF0 - i * 3);
    EXPECT_TRUE(Exchange(Frame(0x85, written)).empty());  // no reply to a write
    const Bytes reply = Exchange(Frame(0x84));
    ASSERT_EQ(reply.size(), 69u);
    EXPECT_EQ(Denibble(reply), written);
    EXPECT_EQ(bench.State(0).config[17], 0xF0 - 17 * 3);
}

TEST_F(Protocol, LongValueRoundTripsThroughWriteAndReadLong) {
    EXPECT_TRUE(Exchange({0x83, 0x08, 0, 0, 0, 0x8, 0x7, 0x6, 0x5, 0x4, 0x3, 0x2, 0x1}).empty());
    EXPECT_EQ(bench.State(0).long_value, 0x12345678u);
    EXPECT_EQ(Exchange(Frame(0x82)), (Bytes{0x82, 0x08, 0, 0, 0, 0x8, 0x7, 0x6, 0x5, 0x4, 0x3, 0x2, 0x1}));
}

TEST_F(Protocol, InputBlockConvertsHeldVoltagesPerRangeAndClips) {
    // Entries: input 0 on 10 V, input 1 on 200 mV, input 2 on range 6 (10 V), input 3 on 5 V.
    std::array<uint8_t, 32> b = Block(16, 2000, true, true, true);
    b[1] = 0x00;
    b[2] = 0x51;
    b[3] = 0x62;
    b[4] = 0x13;
    b[5] = 0x54;  // input 4 on 200 mV, driven beyond full scale
    b[6] = 0x45;  // input 5 on 500 mV, minus full scale
    WriteBlock(b);
    bench.SetInputVolts(0, 0, 0.0);
    bench.SetInputVolts(0, 1, 0.2);
    bench.SetInputVolts(0, 2, -5.0);
    bench.SetInputVolts(0, 3, 2.5);
    bench.SetInputVolts(0, 4, 3.0);
    bench.SetInputVolts(0, 5, -0.5);
    bench.SetDigitalInputs(0, 2);
    Send({0x93, 0x06, 0, 0, 0, 0x0, 0x0, 0x4, 0x3, 0x2, 0x1});  // CNT0 = 0x1234
    const Bytes reply = Exchange(Frame(0x90));
    ASSERT_EQ(reply.size(), 79u);
    EXPECT_EQ(reply[0], 0x90);
    const Bytes d = Denibble(reply);
    ASSERT_EQ(d.size(), 37u);
    auto sample = [&](int k) { return int(d[size_t(2 * k)] | d[size_t(2 * k + 1)] << 8); };
    EXPECT_EQ(sample(0), 32767);
    EXPECT_EQ(sample(1), 65534);
    EXPECT_EQ(sample(2), 16384);  // -5 V of 10 V: 32767 - 16383.5, rounded away from zero
    EXPECT_EQ(sample(3), 49151);
    EXPECT_EQ(sample(4), 65534);
    EXPECT_EQ(sample(5), 0);
    // The counter preset was applied at the same clock instant as the read.
    EXPECT_EQ(d[32] | d[33] << 8, 0x1234);
    EXPECT_EQ(d[36], 2);
}

TEST_F(Protocol, WaveformInputsDifferAndCountersCount) {
    AdvanceMs(1234);
    const Bytes d = Denibble(Exchange(Frame(0x90)));
    ASSERT_EQ(d.size(), 37u);
    std::set<int> samples;
    for (int k = 0; k < 16; ++k) samples.insert(d[size_t(2 * k)] | d[size_t(2 * k + 1)] << 8);
    EXPECT_EQ(samples.size(), 16u);
    // CNT0 counts 1000 per second from power-on, CNT1 10 per second.
    EXPECT_EQ(d[32] | d[33] << 8, 1234);
    EXPECT_EQ(d[34] | d[35] << 8, 12);
}

TEST_F(Protocol, SequenceModeNumbersEveryInputBlock) {
    bench.SetSignalMode(0, SignalMode::Sequence);
    for (int q = 0; q < 3; ++q) {
        const Bytes d = Denibble(Exchange(Frame(0x90)));
        ASSERT_EQ(d.size(), 37u);
        for (int k = 0; k < 16; ++k) EXPECT_EQ(d[size_t(2 * k)] | d[size_t(2 * k + 1)] << 8, q * 16 + k);
        EXPECT_EQ(d[32] | d[33] << 8, q);
        EXPECT_EQ(d[36], q & 3);
    }
}

TEST_F(Protocol, DigitalOutputAndCounterPresetHaveNoReply) {
    EXPECT_TRUE(Exchange({0x92, 0x04, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00}).empty());
    EXPECT_EQ(bench.State(0).dout, 1);
    EXPECT_TRUE(Exchange({0x93, 0x06, 0, 0, 0, 0x1, 0x0, 0x4, 0x3, 0x2, 0x1}).empty());
    EXPECT_EQ(bench.State(0).cnt1, 0x1234);
    const ModuleState s = bench.State(0);
    EXPECT_EQ(s.packets_by_code[0x92], 1u);
    EXPECT_EQ(s.bytes_written_by_code[0x93], 11u);
    ASSERT_TRUE(s.last_packet);
    EXPECT_EQ(s.last_packet->code, 0x93);
    EXPECT_EQ(s.last_packet->data, (Bytes{0x01, 0x34, 0x12}));
}

TEST_F(Protocol, InvalidPacketsGetNoReplyAndChangeNothing) {
    const Bytes bad[] = {
        {0x92, 0x02, 0x00, 0x00, 0x00, 0x01, 0x00},        // 0x92 with one data byte
        {0x81, 0x02, 0x00, 0x00, 0x00, 0x01, 0x00},        // 0x81 with data
        {0x92, 0x04, 0x00, 0x00, 0x00, 0x00, 0x00, 0x11},  // bad nibble
        {0xA0, 0x00, 0x00, 0x00, 0x00},                    // unknown code
        {0x90, 0x00, 0x00, 0x00},                          // cut short
    };
    uint64_t invalid = 0;
    for (const Bytes& p : bad) {
        Send(p);
        Send({0x10});  // ends a cut-short packet the way a stray byte would
        AdvanceMs(10);
        EXPECT_EQ(Queued(), 0u);
        EXPECT_GT(bench.State(0).invalid_packets, invalid);
        invalid = bench.State(0).invalid_packets;
    }
    EXPECT_EQ(bench.State(0).dout, 0);
    // The module still answers the next good packet.
    EXPECT_EQ(Exchange({0x81, 0, 0, 0, 0}).size(), 21u);
}

TEST_F(Protocol, ReplyWaitsForTheLatencyAndTheBandwidth) {
    bench.SetReplyLatencyMs(5);
    bench.SetBandwidth(10000);  // 79 bytes take 7.9 ms
    Send(Frame(0x90));
    AdvanceMs(4.9);
    EXPECT_EQ(Queued(), 0u);
    AdvanceMs(0.1 + 4.0);
    EXPECT_EQ(Queued(), 40u);  // the reply arrives in pieces
    AdvanceMs(4.0);
    EXPECT_EQ(Queued(), 79u);
}

TEST_F(Protocol, PurgeAndResetDeviceEmptyTheReceiveQueue) {
    Exchange(Frame(0x84));
    Send(Frame(0x81));
    AdvanceMs(5);
    EXPECT_EQ(Queued(), 21u);
    EXPECT_EQ(bench.Purge(h, usb::FT_PURGE_TX), usb::FT_OK);
    EXPECT_EQ(Queued(), 21u);
    EXPECT_EQ(bench.Purge(h, usb::FT_PURGE_RX | usb::FT_PURGE_TX), usb::FT_OK);
    EXPECT_EQ(Queued(), 0u);
    Send(Frame(0x81));
    AdvanceMs(5);
    EXPECT_EQ(bench.ResetDevice(h), usb::FT_OK);
    EXPECT_EQ(Queued(), 0u);
    // A half-sent packet is dropped by a transmit purge: the rest alone is no packet.
    Send({0x81, 0x00});
    EXPECT_EQ(bench.Purge(h, usb::FT_PURGE_TX), usb::FT_OK);
    Send({0x00, 0x00, 0x00});
    AdvanceMs(5);
    EXPECT_EQ(Queued(), 0u);
}

TEST_F(Protocol, ReadTakesAtMostWhatIsReadable) {
    Send(Frame(0x81));
    AdvanceMs(5);
    uint8_t buf[64];
    usb::DWORD got = 0;
    ASSERT_EQ(bench.Read(h, buf, 10, &got), usb::FT_OK);
    EXPECT_EQ(got, 10u);
    ASSERT_EQ(bench.Read(h, buf, 64, &got), usb::FT_OK);
    EXPECT_EQ(got, 11u);
    ASSERT_EQ(bench.Read(h, buf, 64, &got), usb::FT_OK);
    EXPECT_EQ(got, 0u);
    EXPECT_EQ(bench.State(0).bytes_read_by_host, 21u);
}

}  // namespace
}  // namespace zelk::sim::test
