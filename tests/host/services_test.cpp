// Input and output services on an instance without running threads: what each call stores,
// limits and finishes at once.
#include <cmath>
#include <limits>

#include "acquisition/acquisition.h"
#include "domain/status_texts.h"
#include "domain/channel_map.h"
#include "host_test_util.h"

namespace zelk::hosttest {
namespace {

class Services : public ::testing::Test {
protected:
    void SetUp() override {
        inst = MakeDriver();
        ASSERT_NE(inst, nullptr);
        d = D(inst);
        SetDeviceStatus(*d, 0, "V pořádku"_cp);
    }
    void TearDown() override { DisposeDriver(inst); }
    TJedenKanal Ch(int n) {
        plat::LockGuard g(d->DataLock);
        return d->Channels[n];
    }
    ModuleSettings Settings() {
        plat::LockGuard g(d->DataLock);
        return d->Device.Settings;
    }
    void* inst = nullptr;
    TData* d = nullptr;
};

TEST_F(Services, OutputLimitsMasksAndTexts) {
    OutputRequest(inst, 78, Long(7));
    EXPECT_EQ(d->Device.DoutValue, 3);
    EXPECT_EQ(Ch(78).TextValue, "3");
    EXPECT_EQ(d->Device.ReqDigitalOut, 1);

    OutputRequest(inst, 164, Long(0));
    EXPECT_EQ(Settings().TimerChannelCount, 1u);
    EXPECT_EQ(Ch(164).TextValue, "1");
    OutputRequest(inst, 164, Long(40));
    EXPECT_EQ(Settings().TimerChannelCount, 16u);

    const char sep = plat::DecimalSeparator();
    OutputRequest(inst, 165, Real(10.0));
    EXPECT_DOUBLE_EQ(Settings().TimerPeriodUs, 25.0);
    EXPECT_EQ(Ch(165).TextValue, std::string("25") + sep + "000");
    OutputRequest(inst, 165, Real(1e9));
    EXPECT_DOUBLE_EQ(Settings().TimerPeriodUs, 32767.5);
    EXPECT_EQ(Ch(165).TextValue, std::string("32767") + sep + "500");
    OutputRequest(inst, 165, Real(std::numeric_limits<double>::quiet_NaN()));
    EXPECT_DOUBLE_EQ(Settings().TimerPeriodUs, 25.0);
    OutputRequest(inst, 165, Real(-std::numeric_limits<double>::infinity()));
    EXPECT_DOUBLE_EQ(Ch(165).RealValue, 25.0);
    EXPECT_EQ(Ch(165).LongValue, 0u);  // 165 keeps its LongValue

    OutputRequest(inst, 173, Long(300));
    EXPECT_EQ(Settings().SettleTime[2], 127);
    EXPECT_EQ(Ch(173).TextValue, "127");

    OutputRequest(inst, 103, Long(2));
    EXPECT_EQ(Settings().RangeCode[3], 2);
    EXPECT_EQ(Ch(3).RangeName, "2V");
    EXPECT_EQ(Ch(3).Range, 2);
    EXPECT_EQ(Ch(103).TextValue, "2   (rozsah 2V)");
    // 6..15 pass the mask and are named 10V; 0x17 is masked to 7.
    OutputRequest(inst, 104, Long(0x17));
    EXPECT_EQ(Settings().RangeCode[4], 7);
    EXPECT_EQ(Ch(104).TextValue, "7   (rozsah 10V)");

    OutputRequest(inst, 140, Long(0x1C));
    EXPECT_EQ(Settings().PhysInput[8], 12);
    EXPECT_EQ(Ch(8).PhysicalInput, 12);
    EXPECT_EQ(Ch(140).TextValue, "12   (vstup AIN12)");

    OutputRequest(inst, 166, Long(70000));
    EXPECT_EQ(Settings().Cnt0Preset, 65535);
    OutputRequest(inst, 169, Long(5));
    EXPECT_EQ(Settings().Cnt1Enable, 1);
    OutputRequest(inst, 170, Long(0));
    EXPECT_EQ(Settings().DinDoutEnable, 0);
    OutputRequest(inst, 202, Long(123456));
    EXPECT_EQ(d->Device.RequestedRecordCount, 123456);
    OutputRequest(inst, 200, Long(1));
    EXPECT_EQ(d->Device.ReqStartStop, 1);
    OutputRequest(inst, 82, Long(99999));
    EXPECT_EQ(d->Device.ReqCnt0Preset, 1);
    EXPECT_EQ(Ch(82).LongValue, 99999u);

    OutputRequest(inst, 70, Bool(5));
    EXPECT_EQ(d->Device.DoutValue, 1);
    EXPECT_EQ(Ch(70).LongValue, 1u);
    EXPECT_EQ(Ch(70).TextValue, "1");
}

TEST_F(Services, WrongTagOrInputChannelChangesNoValueButStaysRequested) {
    OutputRequest(inst, 70, Long(1));
    TJedenKanal c = Ch(70);
    EXPECT_EQ(c.LongValue, 0u);
    EXPECT_EQ(d->Device.ReqDigitalOut, 0);
    EXPECT_EQ(c.Pending, 1);
    EXPECT_EQ(c.Finished, 0);
    int32_t err = 5;
    EXPECT_EQ(OutputFinalized(inst, 70, &err), 0);
    EXPECT_EQ(err, 0);
    EXPECT_EQ(Ch(70).NotifyWanted, 1);
    // The next output pass finishes it.
    CompleteRequests(d);
    EXPECT_EQ(OutputFinalized(inst, 70, &err), 1);

    OutputRequest(inst, 165, Long(1000));
    EXPECT_DOUBLE_EQ(Settings().TimerPeriodUs, 1000.0);
    OutputRequest(inst, 5, Real(3.0));  // an input channel
    EXPECT_DOUBLE_EQ(Ch(5).RealValue, 0.0);
    EXPECT_EQ(Ch(5).Pending, 1);
}

TEST_F(Services, OutputWithModuleInErrorFinishesAtOnceWithTheStatus) {
    SetDeviceStatus(*d, 9, StatusTexts[9]);
    OutputRequest(inst, 78, Long(2));
    EXPECT_EQ(d->Device.DoutValue, 0);
    EXPECT_EQ(d->Device.ReqDigitalOut, 0);
    EXPECT_EQ(OutputFinalized(inst, 78, nullptr), 1);
    TJedenKanal c = Ch(78);
    EXPECT_EQ(c.Status, 9);
    EXPECT_EQ(c.StatusText, "Nenalezen USB modul");
    EXPECT_EQ(c.RequestCount, 1);
    EXPECT_EQ(Ch(97).BoolValue, 1);
    EXPECT_EQ(Ch(98).TextValue, "9");
    EXPECT_EQ(Ch(99).TextValue, "Nenalezen USB modul");
    EXPECT_EQ(Ch(99).Status, 9);
}

TEST_F(Services, NumbersBeyondTheTableAndUndefinedChannelsTouchNothing) {
    EXPECT_EQ(BufferInfo(inst, 0), 0);
    EXPECT_EQ(BufferInfo(inst, 500), 0);
    OutputRequest(inst, 16, Long(1));
    EXPECT_EQ(Ch(16).Pending, 0);
    OutputRequest(inst, 204, Long(1));
    InputRequest(inst, 204);
    InputRequest(inst, 16);
    EXPECT_EQ(Ch(16).Pending, 0);
    EXPECT_EQ(InputFinalized(inst, 204, nullptr), 1);
    EXPECT_EQ(OutputFinalized(inst, 0xFFFFFFFFu, nullptr), 1);
    ZelkValue v = Long(77);
    GetInput(inst, 204, &v);
    GetInput(inst, 16, &v);
    EXPECT_EQ(LongOf(v), 77u);
    GetInput(inst, 98, nullptr);
    // An output channel requested as an input changes nothing.
    InputRequest(inst, 70);
    EXPECT_EQ(Ch(70).Pending, 0);
    EXPECT_EQ(Ch(70).RequestCount, 0);
}

TEST_F(Services, StatusAndHeldChannelsFinishAtOnce) {
    SetDeviceStatus(*d, 13, "Chyba povelu - x"_cp);
    InputRequest(inst, 98);
    EXPECT_EQ(InputFinalized(inst, 98, nullptr), 1);
    ZelkValue v = Long(0);
    GetInput(inst, 98, &v);
    EXPECT_EQ(LongOf(v), 13u);

    InputRequest(inst, 97);
    ZelkValue b = Bool(0);
    GetInput(inst, 97, &b);
    EXPECT_EQ(b.payload[0], 1);

    InputRequest(inst, 99);
    char buf[128];
    std::memset(buf, 'x', sizeof buf);
    ZelkValue s = Str(buf);
    GetInput(inst, 99, &s);
    EXPECT_EQ(std::string(buf), "Chyba povelu - x");
    // A tag that does not match leaves the record untouched.
    ZelkValue wrong = Long(4242);
    GetInput(inst, 99, &wrong);
    EXPECT_EQ(LongOf(wrong), 4242u);
    ZelkValue nullText = Str(nullptr);
    GetInput(inst, 99, &nullText);

    d->Device.StoredRecordCount = 17;
    InputRequest(inst, 201);
    EXPECT_EQ(InputFinalized(inst, 201, nullptr), 1);
    TJedenKanal c = Ch(201);
    EXPECT_EQ(c.LongValue, 17u);
    EXPECT_EQ(c.BoolValue, 1);
    EXPECT_EQ(c.Status, 13);

    InputRequest(inst, 165);
    ZelkValue p = Real(0);
    GetInput(inst, 165, &p);
    EXPECT_DOUBLE_EQ(RealOf(p), Settings().TimerPeriodUs);
    EXPECT_EQ(Ch(165).LongValue, static_cast<uint32_t>(Settings().TimerPeriodUs));
}

TEST_F(Services, InputFinalizedBeforeAndAfterTheBatchIsRead) {
    InputRequest(inst, 5);
    EXPECT_EQ(d->Device.ReqAnalogIn, 1);
    int32_t err = -1;
    EXPECT_EQ(InputFinalized(inst, 5, &err), 0);
    EXPECT_EQ(err, 0);
    EXPECT_EQ(Ch(5).NotifyWanted, 1);
    InputRequestCompleted(inst);
    EXPECT_EQ(d->InputBatchComplete, 1);
    CompleteRequests(d);  // what the acquisition pass does after reading
    EXPECT_EQ(InputFinalized(inst, 5, &err), 1);
    EXPECT_EQ(Ch(5).RequestCount, 1);
}

TEST_F(Services, DigitalOrCounterOnlyBatchStillReadsTheModule) {
    InputRequest(inst, 50);
    EXPECT_EQ(d->Device.ReqDigitalIn, 1);
    EXPECT_EQ(d->Device.ReqAnalogIn, 1);
    d->Device.ReqAnalogIn = 0;
    InputRequest(inst, 81);
    EXPECT_EQ(d->Device.ReqCounterIn, 1);
    EXPECT_EQ(d->Device.ReqAnalogIn, 1);
}

TEST_F(Services, DuringAMeasurementRequestsAreCountedAtOnceWithoutFlags) {
    d->Device.MeasurementRunning = 1;
    InputRequest(inst, 3);
    EXPECT_EQ(d->Device.ReqAnalogIn, 0);
    TJedenKanal c = Ch(3);
    EXPECT_EQ(c.RequestCount, 1);
    EXPECT_EQ(c.Status, 0);
    EXPECT_EQ(c.Pending, 1);
    EXPECT_EQ(c.Finished, 0);
}

TEST_F(Services, InfiniteAnalogValueIsFetchedAsZero) {
    {
        plat::LockGuard g(d->DataLock);
        d->Channels[2].RealValue = -std::numeric_limits<double>::infinity();
        d->Channels[2].TextValue = "-INF";
        d->Channels[4].RealValue = std::numeric_limits<double>::quiet_NaN();
    }
    ZelkValue v = Real(1.0);
    GetInput(inst, 2, &v);
    EXPECT_EQ(RealOf(v), 0.0);
    EXPECT_EQ(Ch(2).TextValue, "0");
    GetInput(inst, 4, &v);
    EXPECT_TRUE(std::isnan(RealOf(v)));
    ZelkValue asLong = Long(9);
    GetInput(inst, 2, &asLong);
    EXPECT_EQ(LongOf(asLong), 9u);
}

}  // namespace
}  // namespace zelk::hosttest
