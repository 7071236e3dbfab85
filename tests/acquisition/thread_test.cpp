// The acquisition thread against the simulated module: batches, failures, retries.
#include <gtest/gtest.h>

#include "acquisition/acquisition.h"
#include "acq_test_util.h"
#include "domain/status_texts.h"
#include "domain/text.h"

namespace zelk::acqtest {
namespace {

using AcquisitionThreadTest = AcqSimTest;

void ExpectInOrder(const std::vector<std::string>& log, const std::vector<std::string>& texts) {
    int at = 0;
    for (const std::string& t : texts) {
        const int found = FindLog(log, t, at);
        ASSERT_GE(found, 0) << "missing after line " << at << ": " << t;
        at = found + 1;
    }
}

int CountLog(const std::vector<std::string>& log, const std::string& text, int from = 0, int to = -1) {
    int n = 0;
    if (to < 0) to = static_cast<int>(log.size());
    for (int i = from; i < to; ++i) n += log[i] == text ? 1 : 0;
    return n;
}


bool WaitStatus(const Instance& in, uint8_t code) {
    return WaitUntil([&] { return DeviceStatusCode(*in.d) == code; });
}

TEST_F(AcquisitionThreadTest, InputBatchReadsTheModuleAndFinishesTheRequests) {
    sim::GlobalBench().SetInputVolts(0, 7, -4.0);
    Instance in;
    in.Open();
    ASSERT_EQ(DeviceStatusCode(*in.d), 0);
    in.Start();
    in.RequestInput({5});
    ASSERT_TRUE(in.WaitFinished({5}));

    const TJedenKanal c5 = in.Channel(5);
    EXPECT_EQ(c5.Status, 0);
    EXPECT_EQ(c5.StatusText, "V pořádku"_cp);
    EXPECT_EQ(c5.RequestCount, 1);
    EXPECT_EQ(c5.Pending, 0);
    EXPECT_EQ(c5.Processed, 0);
    // One read updates all analog channels, not only the requested one.
    EXPECT_NEAR(in.Channel(7).RealValue, -4.0, 1e-3);
    EXPECT_EQ(in.Channel(7).RequestCount, 0);
    EXPECT_EQ(PacketsOf(0, 0x90).size(), 1u);

    ASSERT_TRUE(WaitUntil([&] { return in.Channel(99).TextValue == "V pořádku"_cp; }));
    EXPECT_EQ(in.Channel(97).TextValue, "0");
    EXPECT_EQ(in.Channel(98).TextValue, "0");

    in.Stop();
    EXPECT_EQ(in.d->AcqThreadEnded, 1);
    ExpectInOrder(in.LogTexts(), {"TUD 1", "TUD 2b", "P_IN (0)", "P_IN (99)", "TUD 2b1", "TUD 2b3", "TUD 99"});
}

TEST_F(AcquisitionThreadTest, OutputBatchRunsTheCommandsInOrder) {
    Instance in;
    in.Open();
    in.Start();
    sim::GlobalBench().ClearHistory(0);
    in.d->Device.DoutValue = 3;
    {
        plat::LockGuard g(in.d->DataLock);
        in.d->Channels[83].LongValue = 65536 + 5;
    }
    in.d->Device.ReqDigitalOut = 1;
    in.d->Device.ReqCnt1Preset = 1;
    in.MarkRequested(78);
    in.MarkRequested(83);
    in.d->OutputBatchComplete = 1;
    ASSERT_TRUE(in.WaitFinished({78, 83}));

    const auto packets = sim::GlobalBench().ReceivedPackets(0);
    ASSERT_EQ(packets.size(), 2u);
    EXPECT_EQ(packets[0].code, 0x92);
    EXPECT_EQ(packets[0].data, (std::vector<uint8_t>{0, 1}));
    EXPECT_EQ(packets[1].code, 0x93);
    EXPECT_EQ(packets[1].data, (std::vector<uint8_t>{1, 5, 0}));
    EXPECT_EQ(in.Channel(78).Status, 0);
    EXPECT_EQ(in.Channel(83).RequestCount, 1);
    in.Stop();
    ExpectInOrder(in.LogTexts(), {"TUD 2c", "Z_DO (99)", "Z_P_CN1 (99)"});
}

TEST_F(AcquisitionThreadTest, FailingOutputCommandSkipsTheOnesAfterIt) {
    Instance in;
    in.Open();
    in.Start();
    sim::GlobalBench().ClearHistory(0);
    sim::GlobalBench().FailD2xx(sim::D2xxCall::Write, usb::FT_IO_ERROR, 1);
    in.d->Device.ReqDigitalOut = 1;
    in.d->Device.ReqCnt0Preset = 1;
    in.MarkRequested(70);
    in.MarkRequested(82);
    in.d->OutputBatchComplete = 1;
    ASSERT_TRUE(in.WaitFinished({70, 82}));

    EXPECT_EQ(in.Channel(70).Status, 13);
    EXPECT_EQ(in.Channel(82).Status, 13);
    EXPECT_EQ(in.Channel(82).StatusText, GetDeviceStatus(*in.d).text);
    EXPECT_TRUE(PacketsOf(0, 0x93).empty());
    EXPECT_EQ(in.d->Device.ReqCnt0Preset, 1);  // not run, so not consumed
}

TEST_F(AcquisitionThreadTest, UnpluggedModuleFinishesEveryRequestAtOnceWithItsStatus) {
    sim::GlobalBench().SetPlugged(0, false);
    sim::GlobalBench().SetPlugged(1, false);
    Instance in;
    in.Open();
    ASSERT_EQ(DeviceStatusCode(*in.d), 9);
    in.Start();
    in.RequestInput({3, 50, 80});
    ASSERT_TRUE(in.WaitFinished({3, 50, 80}));
    for (int ch : {3, 50, 80}) {
        EXPECT_EQ(in.Channel(ch).Status, 9) << ch;
        EXPECT_EQ(in.Channel(ch).StatusText, "Nenalezen USB modul"_cp) << ch;
        EXPECT_EQ(in.Channel(ch).LongValue, 0u) << ch;
    }
    ASSERT_TRUE(WaitUntil([&] { return in.Channel(99).TextValue == "Nenalezen USB modul"_cp; }));
    EXPECT_EQ(in.Channel(97).BoolValue, 1);
    EXPECT_EQ(in.Channel(97).TextValue, "1");
    EXPECT_EQ(in.Channel(98).LongValue, 9u);

    // An output batch runs no command but is finished too.
    in.d->Device.ReqDigitalOut = 1;
    in.MarkRequested(78);
    in.d->OutputBatchComplete = 1;
    ASSERT_TRUE(in.WaitFinished({78}));
    EXPECT_EQ(in.Channel(78).Status, 9);
    in.Stop();
    const auto log = in.LogTexts();
    ExpectInOrder(log, {"TUD 2b", "TUD 2b2", "TUD 2b3", "TUD 2c"});
    EXPECT_EQ(FindLog(log, "Z_DO (0)"), -1);
    EXPECT_EQ(FindLog(log, "P_IN (0)"), -1);
}

TEST_F(AcquisitionThreadTest, WhileAMeasurementRunsRequestsFinishEveryPassAndTheInputPassWaits) {
    sim::GlobalBench().SetPlugged(0, false);
    sim::GlobalBench().SetPlugged(1, false);
    Instance in;
    in.Open();  // status 9: the upload pass only finishes requests
    in.d->Device.MeasurementRunning = 1;
    in.Start();
    in.MarkRequested(3);
    in.d->InputBatchComplete = 1;
    ASSERT_TRUE(WaitUntil([&] { return in.Channel(3).Finished == 1; }));
    in.MarkRequested(4);
    ASSERT_TRUE(WaitUntil([&] { return in.Channel(4).Finished == 1; }));
    EXPECT_EQ(in.Channel(4).Status, 9);
    EXPECT_EQ(in.d->InputBatchComplete, 1);

    in.d->Device.MeasurementRunning = 0;
    ASSERT_TRUE(WaitUntil([&] { return in.d->InputBatchComplete == 0; }));
    // The flag is taken when the input pass begins; the status refresh at the end of that
    // pass puts channel 98's text back, so the pass is over once it reads "9" again.
    {
        plat::LockGuard g(in.d->DataLock);
        in.d->Channels[98].TextValue = "x";
    }
    ASSERT_TRUE(WaitUntil([&] { return in.Channel(98).TextValue == "9"; }));
    in.Stop();
    const auto log = in.LogTexts();
    ExpectInOrder(log, {"TUD 2a", "TUD 2a2", "TUD 2a3", "TUD 2b", "TUD 2b2", "TUD 2b3"});
    EXPECT_EQ(FindLog(log, "TUD 2b"), FindLog(log, "TUD 2b3") - 2);
    EXPECT_EQ(CountLog(log, "TUD 2b"), 1);
}

TEST_F(AcquisitionThreadTest, FirstRetryComesAfter3000MsAndFindsTheRepluggedModule) {
    sim::GlobalBench().SetPlugged(0, false);
    sim::GlobalBench().SetPlugged(1, false);
    Instance in;
    in.Open();
    ASSERT_EQ(DeviceStatusCode(*in.d), 9);
    const uint32_t before = in.clock.NowMs();
    in.Start();
    sim::GlobalBench().SetPlugged(0, true);
    ASSERT_TRUE(WaitUntil([&] { return in.clock.Waiters() > 0; }));
    // Well before the interval has passed the thread has looked round and not retried.
    in.clock.Skip(kRetryIntervalMs - 1000);
    ASSERT_TRUE(WaitUntil([&] { return in.clock.Settled(); }));
    EXPECT_EQ(DeviceStatusCode(*in.d), 9);
    in.clock.Skip(1000);
    ASSERT_TRUE(WaitStatus(in, 0));
    // The retry is counted from the thread's start, which is after `before`.
    EXPECT_GE(in.clock.NowMs() - before, 3000u);
    EXPECT_EQ(in.d->Device.ModuleReady, 1);
    ASSERT_TRUE(WaitUntil([&] { return in.Channel(97).TextValue == "0"; }));

    in.RequestInput({0});
    ASSERT_TRUE(in.WaitFinished({0}));
    EXPECT_EQ(in.Channel(0).Status, 0);
    in.Stop();
    const auto log = in.LogTexts();
    ExpectInOrder(log, {"TUD 1", "TUD 2d", "OZ (0)", "OZ (99)", "Nalezen USB modul", "TUD 2b1"});
    const int found = FindLog(log, "Nalezen USB modul");
    EXPECT_EQ(CountLog(log, "TUD 2d", 0, found), 1);
    EXPECT_EQ(CountLog(log, "ZZ (0)", 0, found), 0);  // nothing to close: the module was never ready
}

TEST_F(AcquisitionThreadTest, ModuleUnpluggedWhileRunningIsClosedAndReopenedAfterReplug) {
    Instance in;
    in.Open();
    in.Start();
    sim::GlobalBench().SetPlugged(0, false);
    in.RequestInput({0});
    ASSERT_TRUE(in.WaitFinished({0}));
    EXPECT_EQ(in.Channel(0).Status, 13);
    EXPECT_EQ(in.Channel(0).StatusText.rfind("Chyba povelu - "_cp, 0), 0u);

    // The first retry closes the ready module and finds the other device only.
    in.clock.Skip(kRetryIntervalMs);
    ASSERT_TRUE(WaitStatus(in, 5));
    ASSERT_TRUE(WaitUntil([&] { return in.clock.Settled(); }));
    EXPECT_EQ(in.d->Device.ModuleReady, 0);
    sim::GlobalBench().SetPlugged(0, true);
    in.clock.Skip(kRetryIntervalMs);
    ASSERT_TRUE(WaitStatus(in, 0));
    in.RequestInput({0});
    ASSERT_TRUE(in.WaitFinished({0}));
    EXPECT_EQ(in.Channel(0).Status, 0);
    EXPECT_EQ(sim::GlobalBench().State(0).open_handles, 1);

    in.Stop();
    const auto log = in.LogTexts();
    ExpectInOrder(log, {"TUD 2b1", "TUD 2d", "ZZ (0)", "ZZ (99)", "OZ (0)", "TUD 2d", "OZ (0)", "OZ (99)",
                        "Nalezen USB modul"});
}

TEST_F(AcquisitionThreadTest, ModuleLeftOpenButNotConfiguredIsRecoveredByTheRetry) {
    sim::GlobalBench().SetCommandFault(0, 0x81, sim::ReplyFault::NoReply, 0, 1);
    Instance in;
    in.d->Cfg.UsbTimeout = 50;
    in.Open();
    ASSERT_EQ(DeviceStatusCode(*in.d), 13);
    ASSERT_EQ(in.d->Device.HandleValid, 1);
    ASSERT_EQ(in.d->Device.ModuleReady, 0);
    in.Start();
    ASSERT_TRUE(WaitUntil([&] { return in.clock.Waiters() > 0; }));
    in.clock.Skip(kRetryIntervalMs);
    ASSERT_TRUE(WaitStatus(in, 0));
    EXPECT_EQ(in.d->Device.ModuleReady, 1);
    EXPECT_EQ(sim::GlobalBench().State(0).open_handles, 1);
}

TEST_F(AcquisitionThreadTest, StopRequestEndsTheThreadWithAcqThreadEnded) {
    Instance in;
    in.Start();
    ASSERT_TRUE(WaitUntil([&] { return in.Channel(99).TextValue != "0"; }));
    EXPECT_EQ(in.d->AcqThreadEnded, 0);
    in.d->AcqThread->Terminate();
    ASSERT_TRUE(WaitUntil([&] { return in.d->AcqThreadEnded == 1; }));
    in.Stop();
    const auto log = in.LogTexts();
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log[0], "TUD 1");
    EXPECT_GE(FindLog(log, "TUD 99"), 0);
}

}  // namespace
}  // namespace zelk::acqtest
