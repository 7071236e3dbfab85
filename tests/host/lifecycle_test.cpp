// Lifecycle exports driven as a host drives them, with the simulated bench.
#include "domain/status_texts.h"
#include "domain/channel_map.h"
#include "host_test_util.h"

namespace zelk::hosttest {
namespace {

TEST(DriverText, GetDriverInfoCutsToTheCapacityPlusZero) {
    char buf[64];
    std::memset(buf, 'x', sizeof buf);
    GetDriverInfo(7, buf);
    EXPECT_EQ(std::string(buf), "Ovladač"_cp);
    EXPECT_EQ(static_cast<unsigned char>(buf[6]), 0xE8);  // cp1250 'č'
    EXPECT_EQ(buf[8], 'x');

    GetDriverInfo(63, buf);
    EXPECT_EQ(std::string(buf), "Ovladač ZELK-2716E v.1.0.0"_cp);
    EXPECT_EQ(std::strlen(buf), 26u);

    std::memset(buf, 'x', sizeof buf);
    GetDriverInfo(0, buf);
    EXPECT_EQ(buf[0], 0);
    EXPECT_EQ(buf[1], 'x');
    std::memset(buf, 'x', sizeof buf);
    GetDriverInfo(-1, buf);
    EXPECT_EQ(buf[0], 'x');
    GetDriverInfo(10, nullptr);

    EXPECT_EQ(Version(), 196608);
    EXPECT_EQ(Check(), 1);
}

TEST(NullInstance, EveryExportIgnoresIt) {
    char msg[80] = "unchanged";
    EXPECT_EQ(Init(nullptr, 0, "x.ini", 79, msg, 0, 0, 0, nullptr), 0);
    EXPECT_EQ(std::string(msg), "Chyba knihovny (neplatný pointer)"_cp);
    Done(nullptr);
    DisposeDriver(nullptr);
    EXPECT_EQ(BufferInfo(nullptr, 0), 0);
    SetBufferAddr(nullptr, 0);
    InputRequest(nullptr, 0);
    InputRequestCompleted(nullptr);
    int32_t err = 7;
    EXPECT_EQ(InputFinalized(nullptr, 0, &err), 1);
    EXPECT_EQ(err, 0);
    ZelkValue v = Long(5);
    GetInput(nullptr, 98, &v);
    EXPECT_EQ(LongOf(v), 5u);
    OutputRequest(nullptr, 78, v);
    OutputRequestCompleted(nullptr);
    EXPECT_EQ(OutputFinalized(nullptr, 78, nullptr), 1);
    DriverProc(nullptr, 1, 0, 0, 0, 0);
    QueryProc(nullptr, 11, "GetVersion", 0, &v);
}

class Lifecycle : public BenchTest {};

TEST_F(Lifecycle, MissingParameterFileFailsAndDoneStillLogsEveryStep) {
    void* inst = MakeDriver();
    ASSERT_NE(inst, nullptr);
    const std::string log = dir.File("fail.log");
    // The log settings stay those the instance had, since the file gives none.
    D(inst)->Cfg.LogLevel = 3;
    D(inst)->Cfg.LogFileName = log;

    char msg[100];
    std::memset(msg, 'x', sizeof msg);
    EXPECT_EQ(Init(inst, 0, dir.File("missing.ini").c_str(), 99, msg, 0, 0, 0, nullptr), 0);
    EXPECT_EQ(std::string(msg), "Chybný parametrický soubor"_cp);
    EXPECT_FALSE(D(inst)->AcqThread);
    EXPECT_FALSE(D(inst)->CallbackThread);
    EXPECT_FALSE(D(inst)->Window);

    // A null path is a missing file.
    EXPECT_EQ(Init(inst, 0, nullptr, 99, msg, 0, 0, 0, nullptr), 0);
    EXPECT_EQ(std::string(msg), "Chybný parametrický soubor"_cp);

    Done(inst);
    EXPECT_EQ(D(inst)->LastStopWaitMs, 0);  // no acquisition thread to wait for
    const auto lines = LogTexts(log);
    int at = FindLine(lines, "Chybný parametrický soubor"_cp);
    EXPECT_GE(at, 0);
    for (const char* step : {"RQ_D   (0)", "RQ_D   (1) ", "RQ_D   (2) ", "RQ_D   (3) ", "RQ_D   (4) ",
                             "RQ_D   (99) "}) {
        int next = FindLine(lines, step, at);
        EXPECT_GT(next, at) << step;
        at = next;
    }
    EXPECT_GT(FindLine(lines, "Ovladač odinstalován"_cp, at), at);
    DisposeDriver(inst);
}

TEST_F(Lifecycle, InitWithoutModuleAnswersOkAndDoneWaitsForTheThread) {
    sim::GlobalBench().ClearDevices();
    const std::string log = dir.File("nomodule.log");
    const std::string ini = WriteParamFile(dir, "12000001", log);
    void* inst = MakeDriver();

    char msg[8];
    std::memset(msg, 'x', sizeof msg);
    ASSERT_EQ(Init(inst, 0, ini.c_str(), 1, msg, 0, 0, 42, nullptr), 1);
    EXPECT_EQ(std::string(msg), "O");  // cut to the capacity of one character
    EXPECT_EQ(DeviceStatusCode(*D(inst)), 9);
    EXPECT_TRUE(D(inst)->AcqThread);
    EXPECT_TRUE(D(inst)->CallbackThread);
    EXPECT_EQ(D(inst)->HostUserValue, 42u);

    Done(inst);
    EXPECT_GE(D(inst)->LastStopWaitMs, 200);
    EXPECT_FALSE(D(inst)->AcqThread);
    EXPECT_FALSE(D(inst)->CallbackThread);
    EXPECT_FALSE(D(inst)->Window);

    const auto lines = LogTexts(log);
    int at = FindLine(lines, "RQ_I   (0) Par=" + ini);
    ASSERT_GE(at, 0);
    for (const std::string& step : std::vector<std::string>{"RQ_I   (1) ", "RQ_I   (2) ", "RQ_I   (3) ", "RQ_I   (4) ",
                                   "Ovladač inicializován"_cp, "RQ_I   (99) ", "RQ_D   (0)",
                                   "RQ_D   (3) ", "Ovladač odinstalován"_cp}) {
        int next = FindLine(lines, step, at);
        EXPECT_GT(next, at) << step;
        at = next;
    }
    // Both threads logged their end before the log closed.
    EXPECT_GE(FindLine(lines, "TUD 99"), 0);
    EXPECT_GE(FindLine(lines, "TCB 3"), 0);
    DisposeDriver(inst);
}

TEST_F(Lifecycle, InitGivesTheOutputChannelsTheConfiguredValues) {
    const std::string ini = WriteParamFile(dir, "12000001", dir.File("values.log"),
                                           U8(u8"[Analogový kanál 3]\r\nRozsah=2V\r\nVstup=7\r\n"
                                              u8"[Měření časovačem]\r\nPočet kanálů=4\r\nPerioda [us]=1234,5\r\n"
                                              u8"Přednastavení CNT1=65537\r\nUstálení 1V [us]=300\r\n"));
    void* inst = MakeDriver();
    char msg[40];
    ASSERT_EQ(Init(inst, 0, ini.c_str(), 39, msg, 0, 0, 0, nullptr), 1) << msg;
    EXPECT_EQ(std::string(msg), "Ok");
    {
        TData* d = D(inst);
        plat::LockGuard g(d->DataLock);
        EXPECT_EQ(d->Channels[103].LongValue, 2u);
        EXPECT_EQ(d->Channels[103].TextValue, "2   (rozsah 2V)");
        EXPECT_EQ(d->Channels[100].TextValue, "0   (rozsah 10V)");
        EXPECT_EQ(d->Channels[135].LongValue, 7u);
        EXPECT_EQ(d->Channels[135].TextValue, "7   (vstup AIN7)");
        EXPECT_EQ(d->Channels[164].TextValue, "4");
        EXPECT_DOUBLE_EQ(d->Channels[165].RealValue, 1234.5);
        EXPECT_EQ(d->Channels[165].TextValue, std::string("1234") + plat::DecimalSeparator() + "500");
        EXPECT_EQ(d->Channels[168].TextValue, "1");
        EXPECT_EQ(d->Channels[167].TextValue, "1");
        // The channel shows the full configured settle time; the module gets its low byte.
        EXPECT_EQ(d->Channels[174].TextValue, "300");
        EXPECT_EQ(d->Device.Settings.SettleTime[3], 300 & 0xFF);
        EXPECT_EQ(d->Device.Settings.RangeCode[3], 2);
        EXPECT_EQ(d->Device.Settings.PhysInput[3], 7);
        EXPECT_EQ(d->Device.RecordFilePath, "Data");
    }
    Done(inst);
    DisposeDriver(inst);
}

TEST_F(Lifecycle, SecondInitWithoutDoneStopsTheFirstRun) {
    const std::string log = dir.File("twice.log");
    const std::string ini = WriteParamFile(dir, "12000001", log);
    void* inst = MakeDriver();
    char msg[40];
    ASSERT_EQ(Init(inst, 0, ini.c_str(), 39, msg, 0, 0, 0, nullptr), 1);
    ASSERT_EQ(Init(inst, 0, ini.c_str(), 39, msg, 0, 0, 0, nullptr), 1);
    EXPECT_NE(D(inst)->AcqThread.get(), nullptr);
    EXPECT_EQ(DeviceStatusCode(*D(inst)), 0);  // the module was closed and opened again
    Done(inst);
    DisposeDriver(inst);

    const auto lines = LogTexts(log);
    int firstDone = FindLine(lines, "RQ_D   (99) ");
    ASSERT_GE(firstDone, 0);
    EXPECT_GT(FindLine(lines, "RQ_I   (99) ", firstDone), firstDone);
}

TEST_F(Lifecycle, DisposeWithoutDoneStopsTheThreadsAndClosesTheModule) {
    const std::string ini = WriteParamFile(dir, "12000001", dir.File("dispose.log"));
    void* inst = MakeDriver();
    char msg[40];
    ASSERT_EQ(Init(inst, 0, ini.c_str(), 39, msg, 0, 0, 0, nullptr), 1);
    ASSERT_EQ(sim::GlobalBench().State(0).open_handles, 1);
    DisposeDriver(inst);
    EXPECT_EQ(sim::GlobalBench().State(0).open_handles, 0);
}

TEST_F(Lifecycle, TwoInstancesShareNothing) {
    const std::string iniA = WriteParamFile(dir, "12000001", dir.File("a.log"), "", "a.ini");
    const std::string iniB = WriteParamFile(dir, "12100002", dir.File("b.log"), "", "b.ini");
    void* a = MakeDriver();
    void* b = MakeDriver();
    ASSERT_NE(a, b);
    char msg[40];
    ASSERT_EQ(Init(a, 0, iniA.c_str(), 39, msg, 0, 0, 1, nullptr), 1);
    ASSERT_EQ(Init(b, 0, iniB.c_str(), 39, msg, 0, 0, 2, nullptr), 1);
    OutputRequest(a, 78, Long(2));
    {
        plat::LockGuard g(D(b)->DataLock);
        EXPECT_EQ(D(b)->Channels[78].Pending, 0);
        EXPECT_EQ(D(b)->Device.DoutValue, 0);
    }
    EXPECT_EQ(D(a)->Device.DoutValue, 2);
    EXPECT_EQ(D(a)->Cfg.ModuleSerial, "12000001");
    EXPECT_EQ(D(b)->Cfg.ModuleSerial, "12100002");
    Done(a);
    // b still runs on its own module after a has stopped.
    EXPECT_TRUE(D(b)->AcqThread);
    EXPECT_EQ(DeviceStatusCode(*D(b)), 0);
    Done(b);
    DisposeDriver(a);
    DisposeDriver(b);
    EXPECT_NE(ReadAll(dir.File("a.log")).find("12000001"), std::string::npos);
    EXPECT_EQ(ReadAll(dir.File("a.log")).find("12100002"), std::string::npos);
    EXPECT_EQ(ReadAll(dir.File("b.log")).find("12000001"), std::string::npos);
}

}  // namespace
}  // namespace zelk::hosttest
