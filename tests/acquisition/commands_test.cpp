// The periodic commands against the simulated module, called directly as the acquisition
// thread calls them.
#include <gtest/gtest.h>

#include "acq_test_util.h"
#include "domain/status_texts.h"
#include "domain/text.h"

namespace zelk::acqtest {
namespace {

using CommandsTest = AcqSimTest;

TEST_F(CommandsTest, InputReadRefreshesEveryInputAndSendsTheStandardConfiguration) {
    sim::Bench& bench = sim::GlobalBench();
    bench.SetInputVolts(0, 3, 1.0);
    bench.SetInputVolts(0, 9, 0.25);
    bench.SetDigitalInputs(0, 0x02);
    Instance in;
    {
        plat::LockGuard g(in.d->DataLock);
        in.d->Device.Settings.RangeCode[5] = 3;  // analog channel 5 reads AIN 9 on the 1 V range
        in.d->Device.Settings.PhysInput[5] = 9;
    }
    in.Open();
    ASSERT_EQ(DeviceStatusCode(*in.d), 0) << GetDeviceStatus(*in.d).text;
    bench.ClearHistory(0);

    in.d->Device.ReqAnalogIn = 1;
    ReadInputs(in.d.get());

    EXPECT_EQ(in.d->Device.ReqAnalogIn, 0);
    EXPECT_EQ(GetDeviceStatus(*in.d).text, "V pořádku"_cp);
    auto packets = bench.ReceivedPackets(0);
    ASSERT_EQ(packets.size(), 3u);
    EXPECT_EQ(packets[0].code, 0x84);
    EXPECT_EQ(packets[1].code, 0x85);
    EXPECT_EQ(packets[2].code, 0x90);
    std::array<uint8_t, 16> phys{}, range{};
    for (int i = 0; i < 16; ++i) phys[i] = static_cast<uint8_t>(i);
    phys[5] = 9;
    range[5] = 3;
    const auto expected = usb::StandardConfig(phys, range);
    EXPECT_EQ(packets[1].data, std::vector<uint8_t>(expected.begin(), expected.end()));

    EXPECT_NEAR(in.Channel(3).RealValue, 1.0, 1e-3);
    EXPECT_NEAR(in.Channel(5).RealValue, 0.25, 1e-4);
    // Every analog channel got a reading, not only the two held ones.
    for (int k = 0; k < 16; ++k) EXPECT_NE(in.Channel(k).TextValue, "0") << k;
    const sim::ModuleState st = bench.State(0);
    EXPECT_EQ(in.Channel(51).BoolValue, 1);
    EXPECT_EQ(in.Channel(50).BoolValue, 0);
    EXPECT_EQ(in.Channel(58).LongValue, st.din);
    EXPECT_EQ(in.d->Device.DinValue, 2);
    EXPECT_EQ(in.Channel(80).TextValue, std::to_string(in.Channel(80).LongValue));
    EXPECT_EQ(in.Channel(81).TextValue, std::to_string(in.Channel(81).LongValue));
}

TEST_F(CommandsTest, DigitalOrCounterRequestAloneAlsoReadsTheModule) {
    sim::GlobalBench().SetDigitalInputs(0, 0x01);
    Instance in;
    in.Open();
    sim::GlobalBench().ClearHistory(0);
    in.d->Device.ReqDigitalIn = 1;
    ReadInputs(in.d.get());
    EXPECT_EQ(PacketsOf(0, 0x90).size(), 1u);
    EXPECT_EQ(in.Channel(50).BoolValue, 1);
    EXPECT_EQ(in.d->Device.ReqDigitalIn, 0);

    in.d->Device.ReqCounterIn = 1;
    ReadInputs(in.d.get());
    EXPECT_EQ(PacketsOf(0, 0x90).size(), 2u);
    // No request raised: nothing is sent.
    ReadInputs(in.d.get());
    EXPECT_EQ(PacketsOf(0, 0x90).size(), 2u);
}

TEST_F(CommandsTest, FailedExchangeSetsStatus13WithTheLinkTextAndTheNextReadClearsIt) {
    Instance in;
    in.d->Cfg.UsbTimeout = 50;
    in.Open();
    ASSERT_EQ(DeviceStatusCode(*in.d), 0);
    sim::GlobalBench().SetInputVolts(0, 2, 2.0);
    in.d->Device.ReqAnalogIn = 1;
    ReadInputs(in.d.get());
    const TJedenKanal before = in.Channel(2);

    sim::GlobalBench().SetInputVolts(0, 2, -3.0);
    sim::GlobalBench().SetCommandFault(0, 0x90, sim::ReplyFault::NoReply, 0, 1);
    in.d->Device.ReqAnalogIn = 1;
    ReadInputs(in.d.get());
    const std::string timeout = "Nepřišla odpověď (USB timeout = 50ms)"_cp;
    EXPECT_EQ(DeviceStatusCode(*in.d), 13);
    EXPECT_EQ(GetDeviceStatus(*in.d).text, "Chyba povelu - "_cp + timeout);
    EXPECT_EQ(in.Channel(2).LongValue, before.LongValue);
    EXPECT_EQ(in.Channel(2).TextValue, before.TextValue);

    in.d->Device.ReqAnalogIn = 1;
    ReadInputs(in.d.get());
    EXPECT_EQ(DeviceStatusCode(*in.d), 0);
    EXPECT_EQ(GetDeviceStatus(*in.d).text, "V pořádku"_cp);
    EXPECT_NEAR(in.Channel(2).RealValue, -3.0, 1e-3);

    in.Stop();
    const auto log = in.LogTexts();
    EXPECT_GE(FindLog(log, "P_IN (3a) " + timeout), 0);
    const int fail = FindLog(log, "P_IN (3a) " + timeout);
    EXPECT_GE(FindLog(log, "P_IN (99)", fail), 0);
}

TEST_F(CommandsTest, OutputCommandsSendTheirDataBytes) {
    Instance in;
    in.Open();
    sim::GlobalBench().ClearHistory(0);
    in.d->Device.DoutValue = 3;
    {
        plat::LockGuard g(in.d->DataLock);
        in.d->Channels[82].LongValue = 70000;  // 0x11170: the low 16 bits are 0x1170
        in.d->Channels[83].LongValue = 0x1234;
    }
    in.d->Device.ReqDigitalOut = 1;
    in.d->Device.ReqCnt0Preset = 1;
    in.d->Device.ReqCnt1Preset = 1;
    WriteDigitalOutput(in.d.get());
    PresetCounter0(in.d.get());
    PresetCounter1(in.d.get());

    const auto packets = sim::GlobalBench().ReceivedPackets(0);
    ASSERT_EQ(packets.size(), 3u);
    EXPECT_EQ(packets[0].code, 0x92);
    EXPECT_EQ(packets[0].data, (std::vector<uint8_t>{0, 1}));
    EXPECT_EQ(packets[1].code, 0x93);
    EXPECT_EQ(packets[1].data, (std::vector<uint8_t>{0, 0x70, 0x11}));
    EXPECT_EQ(packets[2].code, 0x93);
    EXPECT_EQ(packets[2].data, (std::vector<uint8_t>{1, 0x34, 0x12}));
    EXPECT_EQ(sim::GlobalBench().State(0).dout, 1);
    EXPECT_EQ(in.d->Device.ReqDigitalOut, 0);
    EXPECT_EQ(in.d->Device.ReqCnt0Preset, 0);
    EXPECT_EQ(in.d->Device.ReqCnt1Preset, 0);
    EXPECT_EQ(DeviceStatusCode(*in.d), 0);

    // Without its flag a command sends nothing.
    WriteDigitalOutput(in.d.get());
    EXPECT_EQ(sim::GlobalBench().ReceivedPackets(0).size(), 3u);

    in.Stop();
    const auto log = in.LogTexts();
    int at = FindLog(log, "Z_DO (0)");
    ASSERT_GE(at, 0);
    EXPECT_EQ(log[at + 1], "Z_DO (1)");
    EXPECT_EQ(log[at + 2], "Z_DO (99)");
    EXPECT_GE(FindLog(log, "Z_P_CN0 (99)", at), 0);
    EXPECT_GE(FindLog(log, "Z_P_CN1 (99)", at), 0);
}

TEST_F(CommandsTest, NotReadyModuleLogsAndSendsNothing) {
    Instance in;  // never opened
    in.d->Device.ReqDigitalOut = 1;
    in.d->Device.ReqCnt0Preset = 1;
    in.d->Device.ReqAnalogIn = 1;
    WriteDigitalOutput(in.d.get());
    PresetCounter0(in.d.get());
    PresetCounter1(in.d.get());  // flag not raised: not even "(0)"
    ReadInputs(in.d.get());
    EXPECT_EQ(in.d->Device.ReqDigitalOut, 0);
    EXPECT_EQ(in.d->Device.ReqAnalogIn, 0);
    EXPECT_EQ(sim::GlobalBench().D2xxCallCount(sim::D2xxCall::Write), 0u);
    in.Stop();
    const auto log = in.LogTexts();
    const std::vector<std::string> expected = {"Z_DO (0)", "Z_DO (0a)", "Z_P_CN0 (0)", "Z_P_CN0 (0a)", "P_IN (0)",
                                               "P_IN (0a)"};
    ASSERT_GE(log.size(), expected.size());
    EXPECT_EQ(std::vector<std::string>(log.begin(), log.begin() + 6), expected);
}

TEST_F(CommandsTest, FailedOutputCommandSetsStatus13) {
    Instance in;
    in.Open();
    sim::GlobalBench().FailD2xx(sim::D2xxCall::Write, usb::FT_IO_ERROR, 1);
    in.d->Device.DoutValue = 1;
    in.d->Device.ReqDigitalOut = 1;
    WriteDigitalOutput(in.d.get());
    const StatusPair st = GetDeviceStatus(*in.d);
    EXPECT_EQ(st.code, 13);
    EXPECT_EQ(st.text.rfind("Chyba povelu - "_cp, 0), 0u) << st.text;
    EXPECT_GT(st.text.size(), std::string("Chyba povelu - "_cp).size());
    in.Stop();
    const auto log = in.LogTexts();
    const std::string detail = st.text.substr(std::string("Chyba povelu - "_cp).size());
    EXPECT_GE(FindLog(log, "Z_DO (1a) " + detail), 0);
}

}  // namespace
}  // namespace zelk::acqtest
