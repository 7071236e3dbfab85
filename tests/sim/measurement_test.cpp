// The timed measurement engine on a manual clock: record layout, timing, bandwidth cap,
// module buffer overflow, stop by reset.
#include <gtest/gtest.h>

#include "sim_test_util.h"

namespace zelk::sim::test {
namespace {

class Measurement : public BenchTest {
protected:
    void SetUp() override {
        BenchTest::SetUp();
        bench.SetBandwidth(0);
        bench.SetSignalMode(0, SignalMode::Sequence);
    }

    void Start(const std::array<uint8_t, 32>& block) {
        WriteBlock(block);
        Send(Frame(0x91));
    }

    static int U16(const Bytes& b, size_t at) { return b[at] | b[at + 1] << 8; }

    // Checks that `bytes` are the sequence-coded records first, first+1, ... of a block.
    static void ExpectRecords(const Bytes& bytes, const std::array<uint8_t, 32>& block, uint64_t first,
                              uint8_t dout = 0) {
        const size_t n = block[0], rb = 2 * n + (block[19] ? 2 : 0) + (block[22] ? 2 : 0) + (block[25] ? 2 : 0);
        ASSERT_EQ(bytes.size() % rb, 0u);
        for (size_t i = 0; i < bytes.size() / rb; ++i) {
            const uint64_t r = first + i;
            size_t p = i * rb;
            for (size_t k = 0; k < n; ++k, p += 2) ASSERT_EQ(U16(bytes, p), int((r * 16 + k) & 0xFFFF)) << r;
            if (block[19]) {
                ASSERT_EQ(U16(bytes, p), int(r & 0xFFFF));
                p += 2;
            }
            if (block[22]) {
                ASSERT_EQ(U16(bytes, p), int(r >> 16));
                p += 2;
            }
            if (block[25]) {
                ASSERT_EQ(bytes[p], r & 3);
                ASSERT_EQ(bytes[p + 1], dout);
            }
        }
    }
};

TEST_F(Measurement, RecordLayoutFollowsTheEnables) {
    struct Case {
        uint8_t n;
        bool cnt0, cnt1, dio;
        size_t record_bytes;
    };
    const Case cases[] = {{1, false, false, false, 2}, {16, true, true, true, 38}, {3, true, false, true, 10},
                          {2, false, true, false, 6}};
    Send({0x92, 0x04, 0, 0, 0, 0, 0, 1, 0});
    for (const Case& c : cases) {
        SCOPED_TRACE(int(c.n));
        Send(Frame(0x80));
        ReadAll();
        const auto block = Block(c.n, 2000, c.cnt0, c.cnt1, c.dio);  // 1 ms
        Start(block);
        AdvanceMs(5.5);
        const Bytes got = ReadAll();
        EXPECT_EQ(got.size(), 5 * c.record_bytes);
        ExpectRecords(got, block, 0, 1);
        EXPECT_EQ(bench.State(0).records_in_run, 5u);
    }
}

TEST_F(Measurement, RecordsComeAtTheConfiguredPeriod) {
    const auto block = Block(1, 50, false, false, false);  // 25 us, the shortest period
    Start(block);
    AdvanceMs(0.999);
    EXPECT_EQ(Queued(), 39u * 2);
    AdvanceMs(0.001);
    EXPECT_EQ(Queued(), 40u * 2);
    AdvanceMs(99);
    const Bytes got = ReadAll();
    EXPECT_EQ(got.size(), 4000u * 2);
    ExpectRecords(got, block, 0);
    EXPECT_EQ(bench.State(0).records_produced, 4000u);
    EXPECT_EQ(bench.State(0).records_dropped, 0u);
}

TEST_F(Measurement, WaveformRecordsCarryPresetsHeldInputsAndDout) {
    bench.SetSignalMode(0, SignalMode::Waveform);
    bench.SetInputVolts(0, 7, 1.0);
    auto block = Block(1, 2000, true, true, true);
    block[1] = 0x37;  // input 7 on 1 V
    block[20] = 0xE8, block[21] = 0x03;  // CNT0 preset 1000
    block[23] = 5;                       // CNT1 preset 5
    bench.SetDigitalInputs(0, 1);
    Send({0x92, 0x04, 0, 0, 0, 0, 0, 1, 0});
    Start(block);
    AdvanceMs(1);
    EXPECT_EQ(ReadAll(), (Bytes{0xFE, 0xFF, 0xE9, 0x03, 0x05, 0x00, 0x01, 0x01}));
}

TEST_F(Measurement, BandwidthCapLimitsWhatBecomesReadable) {
    bench.SetBandwidth(10000);                            // 10 kB/s
    const auto block = Block(16, 2000, true, true, true);  // 38 kB/s
    Start(block);
    AdvanceMs(100);
    // The link has been busy since the first record, at 1 ms.
    const size_t queued = Queued();
    EXPECT_GE(queued, 985u);
    EXPECT_LE(queued, 990u);
    EXPECT_EQ(bench.State(0).records_produced, 100u);
    EXPECT_EQ(bench.State(0).records_dropped, 0u);
    const Bytes got = ReadAll();
    ExpectRecords(Bytes(got.begin(), got.begin() + 38 * 25), block, 0);
}

TEST_F(Measurement, FullModuleBufferDropsRecordsAndTheGapShows) {
    bench.SetModuleBufferBytes(380);  // 10 records of 38 bytes
    bench.SetHostQueueBytes(380);
    const auto block = Block(16, 2000, true, true, true);
    Start(block);
    AdvanceMs(100);
    ModuleState s = bench.State(0);
    EXPECT_EQ(s.records_produced, 100u);
    EXPECT_EQ(s.records_dropped, 80u);
    const Bytes queued = ReadAll();
    const Bytes buffered = ReadAll();  // the module buffer moves into the emptied queue
    EXPECT_TRUE(ReadAll().empty());
    AdvanceMs(1);
    const Bytes next = ReadAll();
    ASSERT_EQ(queued.size(), 380u);
    ASSERT_EQ(buffered.size(), 380u);
    ASSERT_EQ(next.size(), 38u);
    ExpectRecords(queued, block, 0);
    ExpectRecords(buffered, block, 10);
    ExpectRecords(next, block, 100);  // records 20..99 were lost
}

TEST_F(Measurement, ResetStopsTheEngineAndEmptiesItsQueue) {
    bench.SetBandwidth(1000);
    const auto block = Block(16, 2000, true, true, true);
    Start(block);
    AdvanceMs(50);
    EXPECT_TRUE(bench.State(0).measuring);
    EXPECT_GT(bench.State(0).module_buffer_bytes, 0u);
    // The chip's reset alone leaves the module measuring.
    EXPECT_EQ(bench.ResetDevice(h), usb::FT_OK);
    EXPECT_TRUE(bench.State(0).measuring);
    Send(Frame(0x80));
    EXPECT_EQ(bench.ResetDevice(h), usb::FT_OK);
    const ModuleState s = bench.State(0);
    EXPECT_FALSE(s.measuring);
    EXPECT_EQ(s.module_buffer_bytes, 0u);
    AdvanceMs(100);
    EXPECT_EQ(Queued(), 0u);
    EXPECT_EQ(bench.State(0).records_in_run, 50u);
}

TEST_F(Measurement, UnusableBlockDoesNotStart) {
    const std::array<uint8_t, 32> bad[] = {Block(0, 2000, false, false, false), Block(17, 2000, false, false, false),
                                           Block(4, 49, false, false, false)};
    for (const auto& b : bad) Start(b);
    AdvanceMs(100);
    EXPECT_EQ(Queued(), 0u);
    EXPECT_FALSE(bench.State(0).measuring);
    EXPECT_EQ(bench.State(0).starts_rejected, 3u);
}

TEST_F(Measurement, OutputCommandsDuringAMeasurementAddNoBytesToTheStream) {
    const auto block = Block(2, 2000, false, false, true);
    Start(block);
    AdvanceMs(2);
    Send({0x92, 0x04, 0, 0, 0, 0, 0, 1, 0});
    Send({0x93, 0x06, 0, 0, 0, 0, 0, 0, 0, 0, 0});
    AdvanceMs(2);
    const Bytes got = ReadAll();
    ASSERT_EQ(got.size(), 4u * 6);
    ExpectRecords(Bytes(got.begin(), got.begin() + 12), block, 0, 0);
    ExpectRecords(Bytes(got.begin() + 12, got.end()), block, 2, 1);
}

}  // namespace
}  // namespace zelk::sim::test
