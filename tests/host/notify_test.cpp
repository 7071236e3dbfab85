// Notifications, DriverProc and QueryProc.
#include "acquisition/acquisition.h"
#include "core/log.h"
#include "domain/channel_map.h"
#include "host/host_internal.h"
#include "host_test_util.h"
#include "window/window_api.h"

namespace zelk::hosttest {
namespace {

CallRecorder* gRecorder = nullptr;

int32_t Record(uint32_t user, int32_t kind, void*) {
    gRecorder->Add(user, kind);
    return gRecorder->result;
}

// The notification thread alone, on an instance without module and acquisition thread.
class Notifications : public ::testing::Test {
protected:
    void SetUp() override {
        gRecorder = &rec;
        inst = MakeDriver();
        d = D(inst);
        d->HostCallback = &Record;
        d->HostUserValue = 0xCAFE;
    }
    void TearDown() override {
        DisposeDriver(inst);
        gRecorder = nullptr;
    }
    // Channels waiting and finished, then one thread run until `calls` have come.
    std::vector<int32_t> Notify(std::initializer_list<int> channels, int calls) {
        {
            plat::LockGuard g(d->DataLock);
            for (int ch : channels) {
                d->Channels[ch].NotifyWanted = 1;
                d->Channels[ch].Finished = 1;
            }
        }
        TThreadCallBack t(d);
        t.Start();
        EXPECT_TRUE(WaitUntil([&] { return rec.count.load() >= calls; }));
        // Let a wrong extra call show up before the thread stops.
        EXPECT_TRUE(WaitUntil([&] {
            plat::LockGuard g(d->DataLock);
            for (int ch : channels)
                if (d->Channels[ch].NotifyWanted) return false;
            return true;
        }));
        plat::SleepMs(20);
        t.Terminate();
        t.Join();
        return rec.Kinds();
    }
    CallRecorder rec;
    void* inst = nullptr;
    TData* d = nullptr;
};

TEST_F(Notifications, AResultOfOneEarnsExactlyOneMoreCallPerKind) {
    rec.result = 1;
    EXPECT_EQ(Notify({202}, 4), (std::vector<int32_t>{0, 0, 1, 1}));
    EXPECT_EQ(rec.users, (std::vector<uint32_t>(4, 0xCAFE)));
}

TEST_F(Notifications, ClassesDecideTheKinds) {
    EXPECT_EQ(Notify({202}, 2), (std::vector<int32_t>{0, 1}));
    rec.kinds.clear();
    rec.count = 0;
    EXPECT_EQ(Notify({165}, 1), (std::vector<int32_t>{1}));
}

TEST_F(Notifications, ChannelsAreNotifiedInAscendingOrderOnce) {
    // 70 (output class) before 80 (input class), each once: NotifyWanted is cleared first.
    EXPECT_EQ(Notify({80, 70}, 2), (std::vector<int32_t>{1, 0}));
}

TEST_F(Notifications, AnUnfinishedOrUnawaitedChannelIsNotNotified) {
    {
        plat::LockGuard g(d->DataLock);
        d->Channels[5].NotifyWanted = 1;
        d->Channels[5].Finished = 0;
    }
    // Channel 6 is finished but nobody waits for it; only 7 is due.
    EXPECT_EQ(Notify({7}, 1), (std::vector<int32_t>{0}));
    plat::LockGuard g(d->DataLock);
    EXPECT_EQ(d->Channels[5].NotifyWanted, 1);
}

// With the acquisition thread and the simulated module.
class Cycles : public BenchTest {
protected:
    void SetUp() override {
        BenchTest::SetUp();
        gRecorder = &rec;
        log = dir.File("cycles.log");
        ini = WriteParamFile(dir, "12000001", log);
        inst = MakeDriver();
    }
    void TearDown() override {
        if (inst) {
            Done(inst);
            DisposeDriver(inst);
        }
        gRecorder = nullptr;
        BenchTest::TearDown();
    }
    bool Start(ZelkCallback cb = &Record) {
        char msg[100];
        return Init(inst, 0, ini.c_str(), 99, msg, 0, 0, 7, cb) == 1;
    }
    CallRecorder rec;
    std::string log, ini;
    void* inst = nullptr;
};

TEST_F(Cycles, ReadFinalizedEarlyIsNotifiedWithKindZero) {
    ASSERT_TRUE(Start());
    InputRequest(inst, 5);
    InputRequest(inst, 98);
    EXPECT_EQ(InputFinalized(inst, 5, nullptr), 0);
    EXPECT_EQ(InputFinalized(inst, 98, nullptr), 1);
    InputRequestCompleted(inst);
    ASSERT_TRUE(WaitUntil([&] { return rec.count.load() >= 1; }));
    EXPECT_EQ(InputFinalized(inst, 5, nullptr), 1);
    ZelkValue v = Real(-1000.0);
    GetInput(inst, 5, &v);
    EXPECT_GE(RealOf(v), -10.5);
    EXPECT_LE(RealOf(v), 10.5);
    EXPECT_EQ(rec.Kinds(), (std::vector<int32_t>{0}));
    EXPECT_EQ(rec.users[0], 7u);
}

TEST_F(Cycles, WriteFinalizedEarlyIsNotifiedWithKindOne) {
    ASSERT_TRUE(Start());
    OutputRequest(inst, 78, Long(5));  // masked to 1, the module's output bit
    EXPECT_EQ(OutputFinalized(inst, 78, nullptr), 0);
    OutputRequestCompleted(inst);
    ASSERT_TRUE(WaitUntil([&] { return rec.count.load() >= 1; }));
    EXPECT_EQ(OutputFinalized(inst, 78, nullptr), 1);
    EXPECT_EQ(sim::GlobalBench().State(0).dout, 1);
    EXPECT_EQ(rec.Kinds(), (std::vector<int32_t>{1}));
}

// A read that finishes at once still leaves its batch to the thread; the write that follows
// must be finished by its own pass, after its command ran, not by that read's pass.
TEST_F(Cycles, AWriteIsFinishedByItsOwnPassNotByAnEarlierRead) {
    ini = WriteParamFile(dir, "12000001", log,
                         "[Konverze souboru]\r\nTyp souboru=BIN\r\nAdresář=" + dir.File("records") + "\r\n", "bin.ini");
    ASSERT_TRUE(Start());
    ASSERT_TRUE(WaitUntil([&] { return DeviceStatusCode(*D(inst)) == 0; }));
    for (int round = 0; round < 5; ++round) {
        InputRequest(inst, 98);
        InputRequestCompleted(inst);
        OutputRequest(inst, 200, Long(round % 2 == 0 ? 1 : 0));
        OutputRequestCompleted(inst);
        ASSERT_TRUE(WaitUntil([&] { return OutputFinalized(inst, 200, nullptr) == 1; }));
        InputRequest(inst, 203);
        ZelkValue v = Long(77);
        GetInput(inst, 203, &v);
        EXPECT_EQ(LongOf(v), round % 2 == 0 ? 3u : 0u) << "round " << round;
    }
}

TEST_F(Cycles, ModuleMissingFinishesTheBatchWithItsStatus) {
    sim::GlobalBench().ClearDevices();
    ASSERT_TRUE(Start());
    InputRequest(inst, 3);
    EXPECT_EQ(InputFinalized(inst, 3, nullptr), 0);
    InputRequestCompleted(inst);
    ASSERT_TRUE(WaitUntil([&] { return rec.count.load() >= 1; }));
    TData* d = D(inst);
    plat::LockGuard g(d->DataLock);
    EXPECT_EQ(d->Channels[3].Status, 9);
}

std::atomic<int> gDoneInside{0};
void* gInstance = nullptr;

int32_t CallDone(uint32_t, int32_t, void* instance) {
    EXPECT_EQ(instance, gInstance);
    Done(instance);
    gDoneInside = 1;
    return 1;  // the thread must not call again once Done has run
}

TEST_F(Cycles, DoneFromInsideTheCallbackDoesNotWaitOnItself) {
    gDoneInside = 0;
    gInstance = inst;
    ASSERT_TRUE(Start(&CallDone));
    InputRequest(inst, 5);
    EXPECT_EQ(InputFinalized(inst, 5, nullptr), 0);
    InputRequestCompleted(inst);
    ASSERT_TRUE(WaitUntil([&] { return gDoneInside.load() == 1; }));
    EXPECT_FALSE(D(inst)->AcqThread);
    EXPECT_EQ(sim::GlobalBench().State(0).open_handles, 0);
    // The notification thread object stays until DisposeDriver joins it.
    DisposeDriver(inst);
    inst = nullptr;
}

int32_t CallDoneAndDispose(uint32_t, int32_t, void* instance) {
    Done(instance);
    DisposeDriver(instance);  // freed once this thread has left the instance
    gDoneInside = 1;
    return 1;
}

TEST_F(Cycles, DisposeFromInsideTheCallbackFreesAfterTheThreadHasLeft) {
    gDoneInside = 0;
    ASSERT_TRUE(Start(&CallDoneAndDispose));
    InputRequest(inst, 5);
    EXPECT_EQ(InputFinalized(inst, 5, nullptr), 0);
    InputRequestCompleted(inst);
    inst = nullptr;  // owned by the callback from here on
    ASSERT_TRUE(WaitUntil([&] { return gDoneInside.load() == 1; }));
    EXPECT_EQ(sim::GlobalBench().State(0).open_handles, 0);
    // The freeing helper finishes before the bench is reset.
    EXPECT_TRUE(WaitUntil([] { return host::LiveReaperCount() == 0; }));
}

TEST_F(Cycles, DriverProcAndQueryProc) {
    ASSERT_TRUE(Start());
    DriverProc(inst, 9, 0, 0, 0, 0);
    DriverProc(inst, 1, 0, 0, 0, 0);

    char buf[64];
    std::memset(buf, 'x', sizeof buf);
    ZelkValue v = Str(buf);
    QueryProc(inst, 11, "getversion", 0, &v);
    EXPECT_EQ(buf[0], 'x');
    QueryProc(inst, 5, "GetVersion", 0, &v);
    EXPECT_EQ(buf[0], 'x');
    ZelkValue wrongTag = v;
    wrongTag.tag = 5;
    QueryProc(inst, 11, "GetVersion", 0, &wrongTag);
    EXPECT_EQ(buf[0], 'x');
    QueryProc(inst, 11, nullptr, 0, &v);
    QueryProc(inst, 11, "GetVersion", 0, nullptr);
    QueryProc(inst, 11, "GetVersion", 0, &v);
    EXPECT_EQ(std::string(buf), "Ovladač ZELK-2716E v.1.0.0"_cp);
    EXPECT_EQ(buf[27], 'x');

    // The window as text, bounded by the fourth argument.
    std::memset(buf, 'x', sizeof buf);
    QueryProc(inst, 11, "WindowText", 11, &v);
    EXPECT_EQ(std::strlen(buf), 10u);
    EXPECT_EQ(buf[11], 'x');
    const std::string whole = WindowContentsText(D(inst)->Window.get());
    EXPECT_EQ(std::string(buf), whole.substr(0, 10));
    std::memset(buf, 'x', sizeof buf);
    QueryProc(inst, 11, "WindowText", 0, &v);
    EXPECT_EQ(buf[0], 'x');

    QueryProc(inst, 5, "WindowPage", 0, &(v = Long(1)));
    const std::string page1 = WindowContentsText(D(inst)->Window.get());
    EXPECT_NE(page1, whole);
    QueryProc(inst, 5, "WindowKey", 0, &(v = Long('9')));
    QueryProc(inst, 5, "WindowKey", 0, &(v = Long('8')));
    EXPECT_NE(WindowContentsText(D(inst)->Window.get()), page1);

    Done(inst);
    const auto lines = LogTexts(log);
    int f9 = FindLine(lines, "RQ_DP  (0) F=9");
    ASSERT_GE(f9, 0);
    EXPECT_EQ(NextHostCallLine(lines, f9), "RQ_DP  (99)");
    EXPECT_GE(FindLine(lines, "RQ_QP  (99)"), 0);
}

TEST_F(Cycles, DriverProcWithoutWindowLogsOnlyItsFirstLine) {
    TData* d = D(inst);
    d->Cfg.LogLevel = 3;
    d->Cfg.LogFileName = log;
    OpenLog(d);
    DriverProc(inst, 1, 0, 0, 0, 0);
    InputRequestCompleted(inst);
    CloseLog(d);
    const auto lines = LogTexts(log);
    int f = FindLine(lines, "RQ_DP  (0) F=1");
    ASSERT_GE(f, 0);
    EXPECT_EQ(lines[f + 1], "RQ_IRC (0)");
}

}  // namespace
}  // namespace zelk::hosttest
