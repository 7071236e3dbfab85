// The driver's protocol (usb/protocol.h, its framing and its configuration-block encoder)
// against the simulator, which reads the wire protocol on its own: a code, length or offset
// that one side has wrong shows up here.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <vector>

#include "core/Pomocny.h"
#include "sim/sim.h"
#include "usb/Vorna_FTD201.h"
#include "usb/link_internal.h"
#include "usb/protocol.h"

using namespace zelk;

namespace {

class ProtocolAgreement : public ::testing::Test {
protected:
    void SetUp() override {
        bench.UseManualClock(true);
        bench.SetBandwidth(0);
        ASSERT_EQ(bench.Open(0, &h), usb::FT_OK);
    }

    void Send(uint8_t code, const std::vector<uint8_t>& data = {}) {
        std::vector<uint8_t> packet(static_cast<size_t>(usb::PacketLength(static_cast<uint8_t>(data.size()))));
        const int length = usb::BuildPacket(code, static_cast<uint8_t>(data.size()), data.data(), packet.data(),
                                            static_cast<int>(packet.size()));
        ASSERT_EQ(length, static_cast<int>(packet.size()));
        usb::DWORD written = 0;
        ASSERT_EQ(bench.Write(h, packet.data(), static_cast<usb::DWORD>(length), &written), usb::FT_OK);
    }

    void AdvanceMs(double ms) { bench.AdvanceClock(std::chrono::nanoseconds(std::llround(ms * 1e6))); }

    std::vector<uint8_t> ReadAll() {
        usb::DWORD n = 0;
        EXPECT_EQ(bench.GetQueueStatus(h, &n), usb::FT_OK);
        std::vector<uint8_t> b(n);
        usb::DWORD got = 0;
        EXPECT_EQ(bench.Read(h, b.data(), n, &got), usb::FT_OK);
        b.resize(got);
        return b;
    }

    std::vector<uint8_t> Exchange(uint8_t code) {
        Send(code);
        AdvanceMs(bench.ReplyLatencyMs() + 1);
        return ReadAll();
    }

    sim::Bench bench;
    usb::FT_HANDLE h = nullptr;
};

TEST_F(ProtocolAgreement, EveryReadCommandIsAnsweredWithTheLengthTheDriverWaitsFor) {
    for (uint8_t code : {usb::kCmdIdentify, usb::kCmdReadLong, usb::kCmdReadConfig, usb::kCmdReadInputs}) {
        SCOPED_TRACE(static_cast<int>(code));
        const std::vector<uint8_t> reply = Exchange(code);
        ASSERT_EQ(static_cast<int>(reply.size()), usb::ReplyLengthOf(code));
        EXPECT_EQ(reply[0], code);
    }
}

TEST_F(ProtocolAgreement, InputBlockFieldsSitWhereTheDriverReadsThem) {
    bench.SetDigitalInputs(0, 2);
    Send(usb::kCmdWriteCounter, {0, 0x34, 0x12});
    Send(usb::kCmdWriteCounter, {1, 0xCD, 0xAB});
    const std::vector<uint8_t> reply = Exchange(usb::kCmdReadInputs);
    ASSERT_EQ(static_cast<int>(reply.size()), usb::ReplyLengthOf(usb::kCmdReadInputs));
    usb::InputBlock block{};
    ASSERT_EQ(usb::DecodeReply(reply.data(), static_cast<int>(reply.size()), false, block.data()),
              usb::kInputBlockSize);
    EXPECT_EQ(block[usb::inblock::kCnt0] | block[usb::inblock::kCnt0 + 1] << 8, 0x1234);
    EXPECT_EQ(block[usb::inblock::kCnt1] | block[usb::inblock::kCnt1 + 1] << 8, 0xABCD);
    EXPECT_EQ(block[usb::inblock::kDin], 2);
}

// The block the driver encodes makes the module measure the channels, items and period the
// driver's record layout expects.
TEST_F(ProtocolAgreement, EncodedSettingsMeasureTheLayoutAndPeriodTheDriverExpects) {
    struct Case {
        uint32_t channels;
        double periodUs;
        int32_t cnt0, cnt1, dio;
    };
    const Case cases[] = {
        {16, 1000.0, 1, 1, 1}, {1, 25.0, 0, 0, 0}, {3, 250.5, 256, 1, 0}, {8, 500.0, 0, 1, 1}, {5, 32767.5, 1, 0, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.channels << " channels, " << c.periodUs << " us");
        Send(usb::kCmdReset);
        AdvanceMs(1);
        ReadAll();
        ModuleSettings s;
        ResetModuleSettings(s);
        s.SettleTime.fill(0);
        s.TimerChannelCount = c.channels;
        s.TimerPeriodUs = c.periodUs;
        s.Cnt0Enable = c.cnt0;
        s.Cnt1Enable = c.cnt1;
        s.DinDoutEnable = c.dio;
        const usb::TimerConfigBlock block = usb::EncodeTimerConfig(s);
        Send(usb::kCmdWriteConfig, std::vector<uint8_t>(block.begin(), block.end()));
        Send(usb::kCmdStart);
        constexpr int kRecords = 5;
        AdvanceMs(kRecords * c.periodUs / 1000.0 + c.periodUs / 2000.0);
        const size_t bytes = ReadAll().size();
        EXPECT_EQ(bench.State(0).records_in_run, static_cast<uint64_t>(kRecords));
        EXPECT_EQ(bytes, static_cast<size_t>(kRecords * RecordBytesOf(static_cast<int32_t>(c.channels), c.cnt0,
                                                                       c.cnt1, c.dio)));
    }
}

}  // namespace
