// The timer measurement against the simulated module: period adjustment, start and stop,
// upload, the ends of a measurement, record-file failures and the lossless path.
#include <gtest/gtest.h>

#include <cmath>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <regex>
#include <iterator>
#include <string>
#ifndef _WIN32
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include "acquisition/acquisition.h"
#include "acquisition/measurement.h"
#include "core/log.h"
#include "domain/status_texts.h"
#include "domain/text.h"
#include "core/Pomocny.h"
#include "domain/channel_map.h"
#include "platform/file_io.h"
#include "platform/platform.h"
#include "records/conversion.h"
#include "dbf/dbase.h"
#include "dbf/dbase_file.h"
#include "sim/sim.h"
#include "usb/Vorna_FTD201.h"

using namespace zelk;
using namespace std::chrono_literals;

namespace {

// A fresh folder under the system's temporary directory, ending in the path separator.
std::string TempDir() {
    static int serial = 0;
    const auto base = std::filesystem::temp_directory_path();
    for (;;) {
        auto p = base / ("zelk_meas_" + std::to_string(std::random_device{}()) + "_" + std::to_string(serial++));
        if (std::filesystem::create_directory(p)) return p.string() + zelk::plat::PathSeparator();
    }
}

std::string ReadAll(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), {});
}

uint16_t Word(const std::string& s, size_t at) {
    return static_cast<uint16_t>(static_cast<uint8_t>(s[at]) | (static_cast<uint8_t>(s[at + 1]) << 8));
}

// Index of the first record of a sequence-coded file (n channels; both counters and
// DIN/DOUT when `extras`) that does not carry record number k; the record count when all do.
size_t FirstBrokenSequenceRecord(const std::string& bin, int n = 16, bool extras = true) {
    const size_t r = 2 * n + (extras ? 6 : 0);
    const size_t count = bin.size() / r;
    for (size_t k = 0; k < count; ++k) {
        const size_t at = k * r;
        for (int j = 0; j < n; ++j)
            if (Word(bin, at + 2 * j) != static_cast<uint16_t>(k * 16 + j)) return k;
        if (extras && (Word(bin, at + 2 * n) != static_cast<uint16_t>(k) ||
                       Word(bin, at + 2 * n + 2) != static_cast<uint16_t>(k >> 16) ||
                       static_cast<uint8_t>(bin[at + 2 * n + 4]) != (k & 3)))
            return k;
    }
    return count;
}

class MeasurementTest : public ::testing::Test {
protected:
    void SetUp() override {
        sim::GlobalBench().Reset();
        dir = TempDir();
        ASSERT_FALSE(dir.empty());
        SetConfigDefaults(d.Cfg);
        d.Cfg.ModuleSerial = "12000001";
        d.Cfg.ConvDirectory = dir + "data/";
        d.Cfg.LogLevel = 3;
        d.Cfg.LogFileName = dir + "driver.log";
        OpenLog(&d);
        ResetDeviceBlock(d, DeviceReset::Everything);
        BuildChannelTable(d);
        d.D2xx = &sim::InProcessD2xx();
        OpenModule(&d);
        ASSERT_EQ(DeviceStatusCode(d), 0) << GetDeviceStatus(d).text;
    }
    void TearDown() override {
        d.AcqThread.reset();
        DropConversions();
        if (d.Device.HandleValid) CloseModule(&d);
        CloseLog(&d);
    }

    // What the host's output request for channel 200 leaves for the acquisition thread.
    void Request(uint32_t startStop) {
        {
            plat::LockGuard g(d.DataLock);
            d.Channels[200].LongValue = startStop;
        }
        d.Device.ReqStartStop = 1;
    }
    void StartStop(uint32_t v) {
        Request(v);
        StartStopMeasurement(&d);
    }
    // Runs upload passes as the acquisition thread does, until `done` or `ms` have passed.
    template <class Pred>
    bool UploadUntil(Pred done, uint32_t ms = 5000) {
        const uint32_t t0 = plat::TickCount();
        while (!done()) {
            if (plat::TickCount() - t0 > ms) return false;
            if (d.Device.MeasurementRunning != 0 && DeviceStatusCode(d) == 0) UploadRecords(&d);
            plat::SleepMs(1);
        }
        return true;
    }
    void UploadFor(uint32_t ms) {
        UploadUntil([] { return false; }, ms);
    }
    int32_t Status() {
        const int32_t s = d.Device.MeasurementStatus;
        plat::LockGuard g(d.DataLock);
        EXPECT_EQ(d.Channels[203].LongValue, static_cast<uint32_t>(s));
        EXPECT_EQ(d.Channels[203].TextValue, std::to_string(s));
        return s;
    }
    std::string Base() {
        plat::LockGuard g(d.DataLock);
        return d.Device.RecordFilePath;
    }
    // The log is buffered: close it to read what it holds, then go on appending.
    std::string Log() {
        CloseLog(&d);
        std::string text = ReadAll(d.Cfg.LogFileName);
        OpenLog(&d);
        return text;
    }
    // The conversion threads, waited for and joined without DataLock: a conversion that
    // fails takes it.
    std::vector<TThreadKonverze*> Conversions() {
        plat::LockGuard g(d.DataLock);
        std::vector<TThreadKonverze*> v;
        for (auto& t : d.ConvThreads) v.push_back(t.get());
        return v;
    }
    void WaitConversions() {
        for (TThreadKonverze* t : Conversions()) ASSERT_TRUE(t->WaitFor(20000));
    }
    void DropConversions() {
        std::vector<std::unique_ptr<TThreadKonverze>> v;
        {
            plat::LockGuard g(d.DataLock);
            v.swap(d.ConvThreads);
        }
    }
    ConversionJob LastConversionJob() {
        plat::LockGuard g(d.DataLock);
        return d.ConvThreads.back()->Job;
    }
    // The log lines of one tag written since `from`, markers only.
    std::string Markers(const std::string& tag, size_t from) {
        const std::string log = Log().substr(from);
        std::string out;
        size_t pos = 0;
        while ((pos = log.find(" - " + tag, pos)) != std::string::npos) {
            pos += 3 + tag.size();
            out += log.substr(pos, log.find('\r', pos) - pos) + "|";
        }
        return out;
    }

    TData d;
    std::string dir;
};

TEST_F(MeasurementTest, AdjustPeriodRaisesRoundsAndLimits) {
    struct Case {
        uint32_t n;
        int32_t c0, c1, dio;
        double period, expect;
        uint32_t expectN;
    } cases[] = {
        {16, 1, 1, 1, 100.0, 190.0, 16},   {16, 1, 1, 1, 1000.25, 1000.0, 16}, {16, 1, 1, 1, 1000.75, 1001.0, 16},
        {1, 0, 0, 0, 1.0, 25.0, 1},        {0, 0, 0, 0, 1.0, 25.0, 1},         {40, 0, 0, 0, 100.0, 160.0, 16},
        {2, 0, 0, 0, 40000.0, 32767.5, 2}, {3, 1, 0, 0, 12.3, 40.0, 3},        {1, 0, 0, 0, 30.25, 30.0, 1},
        {1, 0, 0, 0, 30.75, 31.0, 1},      {1, 0, 0, 0, std::nan(""), 25.0, 1},
    };
    for (const Case& c : cases) {
        {
            plat::LockGuard g(d.DataLock);
            ModuleSettings& s = d.Device.Settings;
            s.SettleTime.fill(0);
            s.TimerChannelCount = c.n;
            s.Cnt0Enable = c.c0;
            s.Cnt1Enable = c.c1;
            s.DinDoutEnable = c.dio;
            s.TimerPeriodUs = c.period;
        }
        AdjustPeriod(&d);
        EXPECT_DOUBLE_EQ(d.Device.Settings.TimerPeriodUs, c.expect) << c.n << " " << c.period;
        EXPECT_EQ(d.Device.Settings.TimerChannelCount, c.expectN);
    }
    // Settle times count per channel by its range; codes above 5 take the 200 mV one.
    {
        plat::LockGuard g(d.DataLock);
        ModuleSettings& s = d.Device.Settings;
        s.SettleTime = {1, 2, 3, 4, 5, 100};
        s.TimerChannelCount = 3;
        s.RangeCode = {};
        s.RangeCode[1] = 5;
        s.RangeCode[2] = 12;
        s.Cnt0Enable = s.Cnt1Enable = s.DinDoutEnable = 0;
        s.TimerPeriodUs = 10.0;
    }
    AdjustPeriod(&d);
    EXPECT_DOUBLE_EQ(d.Device.Settings.TimerPeriodUs, 1.0 + 100 + 100 + 30);
    // Without an open module nothing changes.
    d.Device.ModuleReady = 0;
    d.Device.Settings.TimerPeriodUs = 1.0;
    AdjustPeriod(&d);
    EXPECT_DOUBLE_EQ(d.Device.Settings.TimerPeriodUs, 1.0);
}

TEST_F(MeasurementTest, StartConfiguresTheModuleAndTheHostStops) {
    {
        plat::LockGuard g(d.DataLock);
        ModuleSettings& s = d.Device.Settings;
        s.SettleTime = {0, 0, 0, 0, 0, 0};
        s.TimerPeriodUs = 100.0;
        s.RangeCode[0] = 2;
        s.PhysInput[0] = 7;
        s.RangeCode[15] = 9;  // kept to three bits in the scan entry
        s.Cnt0Preset = 0x1234;
        s.Cnt1Preset = 0xABCD;
    }
    const size_t logFrom = Log().size();
    StartStop(1);
    ASSERT_EQ(Status(), 3);
    EXPECT_EQ(d.Device.MeasurementRunning.load(), 1);
    EXPECT_EQ(d.ConversionPending.load(), 1);
    EXPECT_EQ(Markers("Z_SS ", logFrom), "(0)|(1)|(2)|(3)|(4)|(5)|(6)|(7)|(8)|(99)|");
    const sim::ModuleState st = sim::GlobalBench().State(0);
    EXPECT_TRUE(st.measuring);
    EXPECT_EQ(st.config[0], 16);
    EXPECT_EQ(st.config[1], 2 * 16 + 7);
    EXPECT_EQ(st.config[16], 1 * 16 + 15);
    EXPECT_EQ(st.config[17] | st.config[18] << 8, 380);
    EXPECT_EQ(st.config[20] | st.config[21] << 8, 0x1234);
    EXPECT_EQ(st.config[23] | st.config[24] << 8, 0xABCD);
    EXPECT_EQ(st.config[19], 1);
    EXPECT_EQ(st.config[22], 1);
    EXPECT_EQ(st.config[25], 1);
    {
        plat::LockGuard g(d.DataLock);
        EXPECT_DOUBLE_EQ(d.Snapshot.Settings.TimerPeriodUs, 190.0);
    }
    const std::string base = Base();
    EXPECT_EQ(base.rfind(dir + "data/Zelk2716e_12000001_", 0), 0u) << base;
    EXPECT_TRUE(plat::FileExists(base + ".bin"));

    UploadFor(200);
    const uint32_t stored = d.Device.StoredRecordCount;
    EXPECT_GT(stored, 100u);
    EXPECT_EQ(ReadAll(base + ".bin").size(), stored * 38u);

    StartStop(0);
    EXPECT_EQ(Status(), 0);
    EXPECT_EQ(d.Device.MeasurementRunning.load(), 0);
    EXPECT_EQ(d.ConversionPending.load(), 0);
    EXPECT_FALSE(sim::GlobalBench().State(0).measuring);
    WaitConversions();
    const std::string table = ReadAll(base + ".dbf");
    ASSERT_EQ(table.size(), 737u + stored * 184u + 1u);
    EXPECT_EQ(table.compare(4, 4, std::string(reinterpret_cast<const char*>(dbf::RowCountBytes(stored).data()), 4)), 0);
    EXPECT_FALSE(plat::FileExists(base + ".bin"));
    EXPECT_NE(Log().find("TKS 99"), std::string::npos);
}

TEST_F(MeasurementTest, RequestedCountCutsTheLastBlockAndStopsInTheSameCall) {
    sim::Bench& b = sim::GlobalBench();
    b.SetBandwidth(0);
    b.SetReplyLatencyMs(0);
    b.UseManualClock(true);
    d.Device.RequestedRecordCount = 100;
    d.Cfg.ConvFileType = 0;
    StartStop(1);
    ASSERT_EQ(Status(), 3);
    b.AdvanceClock(60ms);
    UploadRecords(&d);
    const uint32_t first = d.Device.StoredRecordCount;
    ASSERT_GT(first, 0u);
    ASSERT_LT(first, 100u);
    b.AdvanceClock(100ms);
    const size_t queued = b.State(0).readable_bytes;
    ASSERT_GT(queued, (100 - first) * 38u);
    const size_t logFrom = Log().size();
    UploadRecords(&d);
    EXPECT_EQ(d.Device.StoredRecordCount.load(), 100u);
    EXPECT_EQ(d.Device.MeasurementRunning.load(), 0);
    EXPECT_EQ(Status(), 0);
    const std::string q = std::to_string(queued / 38 * 38);
    EXPECT_EQ(Markers("UD ", logFrom), "(0)|(1)|(1a) P=" + std::to_string(queued) + "|(1b) P=" + q + "|(1c) P=" + q +
                                           "|(1e) U=100|(2)|(99)|");
    EXPECT_EQ(ReadAll(Base() + ".bin").size(), 3800u);
    {
        plat::LockGuard g(d.DataLock);
        EXPECT_TRUE(d.ConvThreads.empty());  // BIN mode
    }
    EXPECT_FALSE(b.State(0).measuring);
}

TEST_F(MeasurementTest, NoDataWithinTheTimeoutEndsWith256AndTheStopConverts) {
    d.Cfg.UsbTimeout = 100;
    StartStop(1);
    UploadFor(50);
    const uint32_t stored = d.Device.StoredRecordCount;
    sim::GlobalBench().UseManualClock(true);  // the module falls silent
    const size_t logFrom = Log().size();
    ASSERT_TRUE(UploadUntil([&] { return d.Device.MeasurementRunning == 0; }));
    EXPECT_EQ(Status(), 256);
    EXPECT_EQ(DeviceStatusCode(d), 0);
    // The last call finds less than one record queued (a part of one may be in flight when
    // the module falls silent), resets the module and ends.
    std::smatch m;
    const std::string markers = Markers("UD ", logFrom);
    ASSERT_TRUE(std::regex_search(markers, m, std::regex(R"(\(1a\) P=(\d+)\|\(10\)\|\(99\)\|$)"))) << markers;
    EXPECT_LT(std::stoul(m[1].str()), 38u);
    EXPECT_EQ(d.ConversionPending.load(), 1);
    {
        plat::LockGuard g(d.DataLock);
        EXPECT_TRUE(d.ConvThreads.empty());
    }
    const uint32_t kept = d.Device.StoredRecordCount;
    EXPECT_GE(kept, stored);
    EXPECT_EQ(ReadAll(Base() + ".bin").size(), kept * 38u);

    sim::GlobalBench().UseManualClock(false);
    StartStop(0);
    EXPECT_EQ(Status(), 0);
    WaitConversions();
    EXPECT_EQ(ReadAll(Base() + ".dbf").size(), 737u + kept * 184u + 1u);
}

TEST_F(MeasurementTest, UnpluggedModuleEndsWith512AndKeepsTheRecords) {
    StartStop(1);
    UploadFor(100);
    sim::GlobalBench().SetPlugged(0, false);
    UploadRecords(&d);
    EXPECT_EQ(Status(), 512);
    EXPECT_EQ(d.Device.MeasurementRunning.load(), 0);
    const StatusPair st = GetDeviceStatus(d);
    EXPECT_EQ(st.code, 10);
    EXPECT_EQ(st.text, "Chyba volání funkce knihovny FTDI  - Chyba FT_GetQueueStatus (ftStatus=00000004)"_cp);
    EXPECT_NE(Log().find("UD (20) Chyba FT_GetQueueStatus (ftStatus=00000004)"), std::string::npos);
    const uint32_t stored = d.Device.StoredRecordCount;
    EXPECT_GT(stored, 0u);
    EXPECT_EQ(ReadAll(Base() + ".bin").size(), stored * 38u);
    {
        plat::LockGuard g(d.DataLock);
        EXPECT_TRUE(d.ConvThreads.empty());
    }
}

TEST_F(MeasurementTest, AStartDuringAMeasurementChangesOnlyTheStatus) {
    StartStop(1);
    const std::string base = Base();
    UploadFor(20);
    const size_t logFrom = Log().size();
    StartStop(1);
    EXPECT_EQ(Markers("Z_SS ", logFrom), "(0)|(1)|(2)|(99)|");
    EXPECT_EQ(Status(), 0);
    EXPECT_EQ(d.Device.MeasurementRunning.load(), 1);
    EXPECT_EQ(Base(), base);
    const uint32_t before = d.Device.StoredRecordCount;
    UploadFor(50);
    EXPECT_GT(d.Device.StoredRecordCount.load(), before);
}

TEST_F(MeasurementTest, SettingsWrittenDuringAMeasurementApplyFromTheNextStart) {
    sim::GlobalBench().SetSignalMode(0, sim::SignalMode::Sequence);
    StartStop(1);
    {
        plat::LockGuard g(d.DataLock);
        d.Device.Settings.TimerChannelCount = 2;
        d.Device.Settings.Cnt0Enable = 0;
        d.Device.Settings.RangeCode.fill(3);
    }
    d.Device.RequestedRecordCount = 3;
    UploadFor(100);
    EXPECT_EQ(d.Device.MeasurementRunning.load(), 1);
    const uint32_t stored = d.Device.StoredRecordCount;
    EXPECT_GT(stored, 3u);
    const std::string bin = ReadAll(Base() + ".bin");
    EXPECT_EQ(bin.size(), stored * 38u);
    EXPECT_EQ(FirstBrokenSequenceRecord(bin), stored);
    {
        plat::LockGuard g(d.DataLock);
        EXPECT_EQ(d.Snapshot.Settings.TimerChannelCount, 16u);
        EXPECT_EQ(d.Snapshot.RecordLimit, 0);
    }

    StartStop(0);
    WaitConversions();
    DropConversions();
    StartStop(1);
    {
        plat::LockGuard g(d.DataLock);
        EXPECT_EQ(d.Snapshot.RecordBytes, 2 * 2 + 2 + 2);
        EXPECT_EQ(d.Snapshot.RecordLimit, 3);
    }
    ASSERT_TRUE(UploadUntil([&] { return d.Device.MeasurementRunning == 0; }));
    EXPECT_EQ(d.Device.StoredRecordCount.load(), 3u);
}

TEST_F(MeasurementTest, BinModeKeepsTheRecordFileAndStartsNoConversion) {
    d.Cfg.ConvFileType = 0;
    StartStop(1);
    UploadFor(50);
    StartStop(0);
    EXPECT_EQ(Status(), 0);
    {
        plat::LockGuard g(d.DataLock);
        EXPECT_TRUE(d.ConvThreads.empty());
    }
    EXPECT_TRUE(plat::FileExists(Base() + ".bin"));
    EXPECT_FALSE(plat::FileExists(Base() + ".dbf"));
    EXPECT_EQ(Log().find("TKS "), std::string::npos);
}

TEST_F(MeasurementTest, ABlockedDirectoryFailsTheStartWith1024) {
    std::ofstream(dir + "blocked") << "a plain file";
    d.Cfg.ConvDirectory = dir + "blocked/";
    const size_t logFrom = Log().size();
    StartStop(1);
    EXPECT_EQ(Status(), 1024);
    EXPECT_EQ(d.Device.MeasurementRunning.load(), 0);
    EXPECT_EQ(d.Device.RecordFileOk.load(), 0);
    const StatusPair st = GetDeviceStatus(d);
    EXPECT_EQ(st.code, 16);
    EXPECT_EQ(st.text, "Chyba přístupu na disk - Chyba ukládání naměřených dat"_cp);
    EXPECT_EQ(Markers("Z_SS ", logFrom), "(0)|(1)|(2)|(3)|(4)|(5)|(6)|(7)|(7a) Chyba ukládání naměřených dat|"_cp);
    EXPECT_FALSE(sim::GlobalBench().State(0).measuring);
}

TEST_F(MeasurementTest, ACommandFailureAtTheStartGives512) {
    sim::GlobalBench().SetCommandFault(0, 0x84, sim::ReplyFault::NoReply);
    d.Cfg.UsbTimeout = 50;
    StartStop(1);
    EXPECT_EQ(Status(), 512);
    const StatusPair st = GetDeviceStatus(d);
    EXPECT_EQ(st.code, 13);
    EXPECT_EQ(st.text.rfind("Chyba povelu - "_cp, 0), 0u) << st.text;
    EXPECT_NE(Log().find("Z_SS (5a) " + st.text.substr(std::string("Chyba povelu - "_cp).size())), std::string::npos);
    EXPECT_EQ(d.Device.MeasurementRunning.load(), 0);
    EXPECT_TRUE(Base().empty());
}

// The file size limit of a child process makes an append fail after some blocks.
// The file size limit of a child process is a POSIX facility.
#ifndef _WIN32
TEST_F(MeasurementTest, AFailingAppendGives1024AndKeepsTheEarlierBlocks) {
    sim::GlobalBench().SetSignalMode(0, sim::SignalMode::Sequence);
    CloseLog(&d);  // the log must not be what hits the limit
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit lim{};
        lim.rlim_cur = lim.rlim_max = 38 * 200 + 19;
        setrlimit(RLIMIT_FSIZE, &lim);
        StartStop(1);
        if (Status() != 3) _exit(10);
        const uint32_t t0 = plat::TickCount();
        while (d.Device.MeasurementRunning != 0 && plat::TickCount() - t0 < 10000) {
            UploadRecords(&d);
            plat::SleepMs(1);
        }
        const std::string bin = ReadAll(Base() + ".bin");
        const uint32_t stored = d.Device.StoredRecordCount;
        int rc = 0;
        if (d.Device.MeasurementStatus != 1024) rc = 11;
        else if (GetDeviceStatus(d).text != "Chyba přístupu na disk - Chyba ukládání naměřených dat"_cp) rc = 12;
        else if (stored == 0 || stored > 200) rc = 13;
        else if (bin.size() != stored * 38u) rc = 14;
        else if (FirstBrokenSequenceRecord(bin) != stored) rc = 15;
        _exit(rc);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

// With the acquisition thread running: every record produced from the start to the
// requested count reaches the record file and the table, in order.
#endif

TEST_F(MeasurementTest, TenSecondsAtOneHundredMicrosecondsLoseNothing) {
    sim::Bench& b = sim::GlobalBench();
    b.SetSignalMode(0, sim::SignalMode::Sequence);
    constexpr uint32_t kRecords = 100000;
    constexpr int kChannels = 7;  // 7 channels and three extras: 100 us is the shortest period
    constexpr size_t kR = 2 * kChannels + 6;
    d.Cfg.ConvFileType = 0;
    d.Cfg.LogLevel = 0;  // the log would dominate a 10 s run
    OpenLog(&d);
    {
        plat::LockGuard g(d.DataLock);
        d.Device.Settings.SettleTime.fill(0);
        d.Device.Settings.TimerPeriodUs = 100.0;
        d.Device.Settings.TimerChannelCount = kChannels;
    }
    d.Device.RequestedRecordCount = kRecords;
    d.AcqThread = std::make_unique<TThreadZELK>(&d);
    d.AcqThread->Start();
    Request(1);
    d.OutputBatchComplete = 1;
    const uint32_t t0 = plat::TickCount();
    while (d.Device.MeasurementRunning == 0 && plat::TickCount() - t0 < 5000) plat::SleepMs(1);
    ASSERT_EQ(d.Device.MeasurementRunning.load(), 1);
    {
        plat::LockGuard g(d.DataLock);
        EXPECT_DOUBLE_EQ(d.Snapshot.Settings.TimerPeriodUs, 100.0);
    }
    while (d.Device.MeasurementRunning != 0 && plat::TickCount() - t0 < 120000) plat::SleepMs(10);
    ASSERT_EQ(d.Device.MeasurementRunning.load(), 0);
    d.AcqThread.reset();

    const sim::ModuleState st = b.State(0);
    EXPECT_EQ(st.records_dropped, 0u);
    EXPECT_GE(st.records_in_run, kRecords);
    EXPECT_EQ(d.Device.StoredRecordCount.load(), kRecords);
    const std::string bin = ReadAll(Base() + ".bin");
    ASSERT_EQ(bin.size(), kRecords * kR);
    EXPECT_EQ(FirstBrokenSequenceRecord(bin, kChannels), kRecords);

    TThreadKonverze* t = StartConversionThread(&d);
    ASSERT_TRUE(t->WaitFor(60000));
    dbf::RecordLayout l;
    l.ChannelCount = kChannels;
    l.ConstA.fill(1.0);
    const size_t header = static_cast<size_t>(l.HeaderLength()), rowLength = static_cast<size_t>(l.RowLength());
    const std::string table = ReadAll(Base() + ".dbf");
    ASSERT_EQ(table.size(), header + kRecords * rowLength + 1u);
    for (uint32_t k = 0; k < kRecords; ++k) {
        const std::string row = table.substr(header + k * rowLength, rowLength);
        ASSERT_EQ(row, dbf::RowText(l, k, reinterpret_cast<const uint8_t*>(bin.data()) + k * kR)) << k;
    }
    EXPECT_EQ(table.substr(header + 99999u * rowLength, 11), "      99999");
}

// The module measures a range code with its low three bits: code 13 is the 200 mV range for
// the input read, the live values of a measurement and the table.
TEST_F(MeasurementTest, RangeCode13ReadsAs200MilliVolts) {
    sim::Bench& b = sim::GlobalBench();
    b.SetInputVolts(0, 0, 0.1);
    const char sep = plat::DecimalSeparator();
    {
        plat::LockGuard g(d.DataLock);
        d.Device.Settings.RangeCode[0] = 13;
        d.Device.Settings.TimerChannelCount = 1;
    }
    d.Device.ReqAnalogIn = 1;
    ReadInputs(&d);
    {
        plat::LockGuard g(d.DataLock);
        EXPECT_NEAR(d.Channels[0].RealValue, 0.1, 1e-4);
        EXPECT_EQ(d.Channels[0].TextValue, std::string("0") + sep + "1000 V");
    }
    StartStop(1);
    ASSERT_EQ(Status(), 3);
    EXPECT_EQ(b.State(0).config[1], 5 * 16 + 0);
    ASSERT_TRUE(UploadUntil([&] { return d.Device.StoredRecordCount.load() >= 10; }));
    {
        plat::LockGuard g(d.DataLock);
        EXPECT_NEAR(d.Channels[0].RealValue, 0.1, 1e-4);
        EXPECT_EQ(d.Channels[0].TextValue, std::string("0") + sep + "1000 V");
    }
    const std::string base = Base();
    StartStop(0);
    WaitConversions();
    const size_t header = size_t(LayoutOf(LastConversionJob()).HeaderLength());
    const std::string table = ReadAll(base + ".dbf");
    ASSERT_GT(table.size(), header + 21);
    EXPECT_EQ(table.substr(header + 11, 10), "    0.1000");
}

// Reads that deliver less than the queue holds (nothing, a few bytes, a torn record) shift
// nothing: every record reaches the file once and in order, and the table matches it.
TEST_F(MeasurementTest, ShortReadsStoreEveryRecordOnceInOrder) {
    sim::Bench& b = sim::GlobalBench();
    b.SetSignalMode(0, sim::SignalMode::Sequence);
    constexpr uint32_t kRecords = 20000;
    d.Cfg.LogLevel = 1;
    OpenLog(&d);
    d.Device.RequestedRecordCount = kRecords;
    StartStop(1);
    ASSERT_EQ(Status(), 3);
    b.UseManualClock(true);
    const std::vector<uint32_t> pieces{0, 3, 1000, 37, 0, 5000, 1, 38, 77};
    b.LimitRead(pieces);
    int resumeAt = -1;
    for (int pass = 0; pass < 100000 && d.Device.MeasurementRunning != 0; ++pass) {
        // Once, while a torn record is kept: 600 reads in a row that deliver nothing.
        if (resumeAt < 0 && pass > 3000 && d.Device.PartialBytes != 0) {
            b.LimitRead({0}, 600);
            resumeAt = pass + 600;
        }
        if (pass == resumeAt) b.LimitRead(pieces);
        b.AdvanceClock(2ms);  // two records a pass at the default period, read in pieces
        UploadRecords(&d);
    }
    EXPECT_GT(resumeAt, 0);
    ASSERT_EQ(d.Device.MeasurementRunning.load(), 0);
    EXPECT_EQ(DeviceStatusCode(d), 0);
    EXPECT_EQ(b.State(0).records_dropped, 0u);
    EXPECT_EQ(d.Device.StoredRecordCount.load(), kRecords);
    EXPECT_FALSE(d.Device.RecordFile.IsOpen());
    WaitConversions();
    const std::string base = Base();
    dbf::RecordLayout l = LayoutOf(LastConversionJob());
    const std::string table = ReadAll(base + ".dbf");
    const size_t header = size_t(l.HeaderLength()), row = size_t(l.RowLength());
    ASSERT_EQ(table.size(), header + kRecords * row + 1);
    std::vector<uint8_t> record(38);
    for (uint32_t r = 0; r < kRecords; ++r) {
        for (int j = 0; j < 16; ++j) {
            record[2 * j] = static_cast<uint8_t>(r * 16 + j);
            record[2 * j + 1] = static_cast<uint8_t>((r * 16 + j) >> 8);
        }
        record[32] = static_cast<uint8_t>(r), record[33] = static_cast<uint8_t>(r >> 8);
        record[34] = static_cast<uint8_t>(r >> 16), record[35] = static_cast<uint8_t>(r >> 24);
        record[36] = static_cast<uint8_t>(r & 3), record[37] = 0;
        ASSERT_EQ(table.compare(header + r * row, row, dbf::RowText(l, r, record.data())), 0) << r;
    }
}

// A link whose reads go on delivering nothing fails the measurement as a failed read does,
// once no record has come within the USB timeout; the records before stay.
TEST_F(MeasurementTest, AReadThatNeverDeliversFailsLikeAFailedRead) {
    sim::Bench& b = sim::GlobalBench();
    b.SetSignalMode(0, sim::SignalMode::Sequence);
    d.Cfg.UsbTimeout = 100;
    d.Cfg.ConvFileType = 0;
    StartStop(1);
    ASSERT_TRUE(UploadUntil([&] { return d.Device.StoredRecordCount.load() >= 20; }));
    b.LimitRead({0});
    const size_t logFrom = Log().size();
    ASSERT_TRUE(UploadUntil([&] { return d.Device.MeasurementRunning == 0; }));
    EXPECT_EQ(Status(), 512);
    const StatusPair st = GetDeviceStatus(d);
    EXPECT_EQ(st.code, 10);
    EXPECT_EQ(st.text, "Chyba volání funkce knihovny FTDI  - Chyba FT_Read (ftStatus=00000000)"_cp);
    const std::string markers = Markers("UD ", logFrom);
    EXPECT_NE(markers.find("|(1f) Chyba FT_Read (ftStatus=00000000)|(99)|"), std::string::npos) << markers;
    EXPECT_FALSE(d.Device.RecordFile.IsOpen());
    const uint64_t stored = d.Device.StoredRecordCount;
    const std::string bin = ReadAll(Base() + ".bin");
    ASSERT_EQ(bin.size(), stored * 38u);
    EXPECT_EQ(FirstBrokenSequenceRecord(bin), stored);
}

// The record file is closed at every end of a measurement: stop, requested count, no-data
// timeout, a failed call, the module closed.
TEST_F(MeasurementTest, EveryEndClosesTheRecordFile) {
    sim::Bench& b = sim::GlobalBench();
    d.Cfg.ConvFileType = 0;
    d.Cfg.UsbTimeout = 50;
    auto started = [&] {
        StartStop(1);
        EXPECT_EQ(Status(), 3);
        EXPECT_TRUE(d.Device.RecordFile.IsOpen());
        UploadFor(20);
    };
    started();
    StartStop(0);
    EXPECT_FALSE(d.Device.RecordFile.IsOpen()) << "stop";
    d.Device.RequestedRecordCount = 5;
    started();
    ASSERT_TRUE(UploadUntil([&] { return d.Device.MeasurementRunning == 0; }));
    EXPECT_FALSE(d.Device.RecordFile.IsOpen()) << "count";
    d.Device.RequestedRecordCount = 0;
    started();
    b.UseManualClock(true);
    ASSERT_TRUE(UploadUntil([&] { return d.Device.MeasurementRunning == 0; }));
    EXPECT_EQ(Status(), 256);
    EXPECT_FALSE(d.Device.RecordFile.IsOpen()) << "timeout";
    b.UseManualClock(false);
    started();
    b.FailD2xx(sim::D2xxCall::Read, usb::FT_IO_ERROR, 1);
    ASSERT_TRUE(UploadUntil([&] { return d.Device.MeasurementRunning == 0; }));
    EXPECT_EQ(Status(), 512);
    EXPECT_FALSE(d.Device.RecordFile.IsOpen()) << "failed read";
    SetDeviceStatus(d, 0, "V pořádku"_cp);
    started();
    CloseModule(&d);
    EXPECT_FALSE(d.Device.RecordFile.IsOpen()) << "module closed";
}

// The count does not wrap at 2^32: it goes on in 64 bits, the log shows it whole, and the
// file keeps growing by whole records.
TEST_F(MeasurementTest, TheStoredCountGoesOnPast32Bits) {
    sim::GlobalBench().SetSignalMode(0, sim::SignalMode::Sequence);
    d.Cfg.ConvFileType = 0;
    StartStop(1);
    constexpr uint64_t kFrom = (uint64_t{1} << 32) - 3;
    d.Device.StoredRecordCount = kFrom;
    ASSERT_TRUE(UploadUntil([&] { return d.Device.StoredRecordCount.load() >= kFrom + 10; }));
    const uint64_t stored = d.Device.StoredRecordCount;
    StartStop(0);
    const std::string bin = ReadAll(Base() + ".bin");
    EXPECT_EQ(bin.size(), (stored - kFrom) * 38u);
    EXPECT_EQ(FirstBrokenSequenceRecord(bin), stored - kFrom);
    EXPECT_NE(Log().find("UD (1e) U=" + std::to_string(stored)), std::string::npos);
}

// A record file grows past 4 GiB while the measurement runs (a hole, no disk space): blocks
// go on after the hole, records above 4 GiB read back and convert, and an append that the
// file system refuses at its largest file size is cut back to whole records.
TEST_F(MeasurementTest, ARecordFileGrowsPastFourGibibytes) {
    sim::GlobalBench().SetSignalMode(0, sim::SignalMode::Sequence);
    d.Cfg.ConvFileType = 0;
    StartStop(1);
    ASSERT_EQ(Status(), 3);
    const std::string path = Base() + ".bin";
    constexpr uint64_t kHole = ((uint64_t{1} << 32) / 38 + 1) * 38;
    ASSERT_TRUE(d.Device.RecordFile.Resize(kHole));
    ASSERT_TRUE(UploadUntil([&] { return d.Device.StoredRecordCount.load() >= 50; }));
    const uint64_t stored = d.Device.StoredRecordCount;

    plat::File f;
    ASSERT_TRUE(f.OpenRead(path));
    uint64_t size = 0;
    ASSERT_TRUE(f.Size(size));
    EXPECT_EQ(size, kHole + stored * 38);
    std::string above(static_cast<size_t>(stored * 38), '\0');
    ASSERT_TRUE(f.Seek(kHole));
    ASSERT_TRUE(f.ReadExactly(above.data(), above.size()));
    EXPECT_EQ(FirstBrokenSequenceRecord(above), stored);
    f.Close();

    dbf::RecordLayout l;
    l.ConstA.fill(1.0);
    const std::string table = dir + "above.dbf";
    const dbf::TableResult t =
        dbf::WriteTable(path, table, l, static_cast<uint32_t>(stored), dbf::Date{2026, 12, 8}, {}, kHole / 38);
    EXPECT_TRUE(t.complete);
    const std::string rows = ReadAll(table);
    const size_t header = size_t(l.HeaderLength()), row = size_t(l.RowLength());
    ASSERT_EQ(rows.size(), header + stored * row + 1);
    for (uint64_t r = 0; r < stored; ++r)
        ASSERT_EQ(rows.compare(header + r * row, row,
                               dbf::RowText(l, static_cast<uint32_t>(r), reinterpret_cast<const uint8_t*>(above.data()) + r * 38)),
                  0)
            << r;

    // The file system's largest file size: ext4's 16 TiB - 4 KiB where the tests usually run.
    constexpr uint64_t kLargest = (uint64_t{1} << 44) - 4096;
    plat::File& rf = d.Device.RecordFile;
    const bool reachesLargest = rf.Resize(kLargest - 4096);  // wine's extension needs a byte more
    const bool passesLargest = rf.Resize(kLargest + 4096);
    if (!reachesLargest || passesLargest) {
        StartStop(0);
        plat::DeleteFileAt(path);
        GTEST_SKIP() << "the file system of " << path << " has no largest file size of 16 TiB - 4 KiB ("
                     << (reachesLargest ? "a larger file was made" : "that size was refused") << ")";
    }
    const uint64_t top = kLargest / 38 * 38;  // room for part of a record only
    ASSERT_GT(kLargest - top, 0u);
    ASSERT_TRUE(rf.Resize(top));
    ASSERT_TRUE(UploadUntil([&] { return d.Device.MeasurementRunning == 0; }));
    EXPECT_EQ(Status(), 1024);
    EXPECT_EQ(GetDeviceStatus(d).text, "Chyba přístupu na disk - Chyba ukládání naměřených dat"_cp);
    ASSERT_TRUE(f.OpenRead(path));
    ASSERT_TRUE(f.Size(size));
    EXPECT_EQ(size, top);
    f.Close();
    plat::DeleteFileAt(path);
}

}  // namespace
