// The bench's D2XX behaviour: listing, handles, unplugging, injected faults, configuration.
#include <gtest/gtest.h>

#include <cstring>
#include <thread>

#include "sim_test_util.h"

namespace zelk::sim::test {
namespace {

using namespace zelk::usb;

std::string ListText(Bench& b, DWORD index, DWORD what, FT_STATUS* status = nullptr) {
    char buf[kD2xxTextBufferSize];
    std::memset(buf, 'x', sizeof buf);
    const FT_STATUS st = b.ListDevices(reinterpret_cast<void*>(uintptr_t(index)), buf, FT_LIST_BY_INDEX | what);
    if (status) *status = st;
    return st == FT_OK ? std::string(buf) : std::string();
}

DWORD Count(Bench& b) {
    DWORD n = 99;
    EXPECT_EQ(b.ListDevices(&n, nullptr, FT_LIST_NUMBER_ONLY), FT_OK);
    return n;
}

TEST(BenchDevices, DefaultModulesAreListedBySerialAndDescription) {
    Bench b;
    EXPECT_EQ(Count(b), 2u);
    EXPECT_EQ(ListText(b, 0, FT_OPEN_BY_SERIAL_NUMBER), "12000001");
    EXPECT_EQ(ListText(b, 1, FT_OPEN_BY_SERIAL_NUMBER), "12100002");
    EXPECT_EQ(ListText(b, 1, FT_OPEN_BY_DESCRIPTION), "ZELK-2716E");
    FT_STATUS st = FT_OK;
    ListText(b, 2, FT_OPEN_BY_SERIAL_NUMBER, &st);
    EXPECT_EQ(st, FT_DEVICE_NOT_FOUND);
    EXPECT_EQ(b.ListDevices(nullptr, nullptr, FT_LIST_NUMBER_ONLY), FT_INVALID_PARAMETER);
    EXPECT_EQ(b.ListDevices(nullptr, nullptr, FT_LIST_BY_INDEX | FT_OPEN_BY_SERIAL_NUMBER), FT_INVALID_PARAMETER);
    // A long serial is cut to what the 65-byte buffer holds.
    b.ClearDevices();
    b.AddDevice(std::string(100, '7'), "d");
    EXPECT_EQ(ListText(b, 0, FT_OPEN_BY_SERIAL_NUMBER), std::string(64, '7'));
}

TEST(BenchDevices, ListingAndOpeningCountOnlyPluggedDevices) {
    Bench b;
    b.SetPlugged(0, false);
    EXPECT_EQ(Count(b), 1u);
    EXPECT_EQ(ListText(b, 0, FT_OPEN_BY_SERIAL_NUMBER), "12100002");
    FT_HANDLE h = nullptr;
    ASSERT_EQ(b.Open(0, &h), FT_OK);
    EXPECT_EQ(b.State(1).open_handles, 1);
    EXPECT_EQ(b.Open(1, &h), FT_DEVICE_NOT_FOUND);
    b.ClearDevices();
    EXPECT_EQ(Count(b), 0u);
    EXPECT_EQ(b.AddDevice("12000009"), 0);
    EXPECT_EQ(Count(b), 1u);
}

TEST(BenchHandles, OneDistinctNonNullHandlePerOpen) {
    Bench b;
    FT_HANDLE h0 = nullptr, h1 = nullptr, again = nullptr;
    ASSERT_EQ(b.Open(0, &h0), FT_OK);
    ASSERT_EQ(b.Open(1, &h1), FT_OK);
    EXPECT_NE(h0, nullptr);
    EXPECT_NE(h0, h1);
    EXPECT_NE(h0, InvalidHandle());
    EXPECT_EQ(b.Open(0, &again), FT_DEVICE_NOT_OPENED);  // already open
    EXPECT_EQ(b.Close(h0), FT_OK);
    ASSERT_EQ(b.Open(0, &again), FT_OK);
    EXPECT_NE(again, h0);  // never reused
    EXPECT_EQ(b.Close(h0), FT_INVALID_HANDLE);
    DWORD q = 0;
    EXPECT_EQ(b.GetQueueStatus(h0, &q), FT_INVALID_HANDLE);
    EXPECT_EQ(b.GetQueueStatus(reinterpret_cast<FT_HANDLE>(uintptr_t(0x1234)), &q), FT_INVALID_HANDLE);
    EXPECT_EQ(b.GetQueueStatus(again, nullptr), FT_INVALID_PARAMETER);
    EXPECT_EQ(b.Open(0, nullptr), FT_INVALID_PARAMETER);
}

TEST(BenchHandles, UnplugKillsTheHandleAndReplugPowersUpAfresh) {
    Bench b;
    b.UseManualClock(true);
    FT_HANDLE h = nullptr;
    ASSERT_EQ(b.Open(0, &h), FT_OK);
    Bytes p = Frame(0x92, {0, 1});
    DWORD n = 0;
    ASSERT_EQ(b.Write(h, p.data(), DWORD(p.size()), &n), FT_OK);
    EXPECT_EQ(b.State(0).dout, 1);
    b.SetPlugged(0, false);
    EXPECT_FALSE(b.IsPlugged(0));
    uint8_t buf[8];
    EXPECT_EQ(b.Write(h, p.data(), DWORD(p.size()), &n), FT_IO_ERROR);
    EXPECT_EQ(b.Read(h, buf, 8, &n), FT_IO_ERROR);
    EXPECT_EQ(b.GetQueueStatus(h, &n), FT_IO_ERROR);
    EXPECT_EQ(b.Purge(h, 3), FT_IO_ERROR);
    EXPECT_EQ(b.ResetDevice(h), FT_IO_ERROR);
    EXPECT_EQ(b.SetLatencyTimer(h, 2), FT_IO_ERROR);
    b.SetPlugged(0, true);
    EXPECT_EQ(b.GetQueueStatus(h, &n), FT_IO_ERROR);  // the old handle stays dead
    EXPECT_EQ(b.State(0).dout, 0);
    FT_HANDLE fresh = nullptr;
    EXPECT_EQ(b.Open(0, &fresh), FT_OK);
    EXPECT_EQ(b.Close(h), FT_OK);
    EXPECT_EQ(b.GetQueueStatus(fresh, &n), FT_OK);
    b.Reset();
    EXPECT_EQ(b.GetQueueStatus(fresh, &n), FT_IO_ERROR);
}

TEST(BenchFaults, D2xxCallsFailOnceOrAlways) {
    Bench b;
    FT_HANDLE h = nullptr;
    b.FailD2xx(D2xxCall::Open, FT_DEVICE_NOT_OPENED, 1);
    EXPECT_EQ(b.Open(0, &h), FT_DEVICE_NOT_OPENED);
    ASSERT_EQ(b.Open(0, &h), FT_OK);
    b.FailD2xx(D2xxCall::GetQueueStatus, FT_IO_ERROR);
    DWORD n = 0;
    for (int i = 0; i < 3; ++i) EXPECT_EQ(b.GetQueueStatus(h, &n), FT_IO_ERROR);
    EXPECT_EQ(b.D2xxCallCount(D2xxCall::GetQueueStatus), 3u);
    EXPECT_EQ(b.D2xxCallCount(D2xxCall::Open), 2u);
    b.ClearFaults();
    EXPECT_EQ(b.GetQueueStatus(h, &n), FT_OK);
    b.FailD2xx(D2xxCall::ListDevices, FT_OTHER_ERROR, 2);
    EXPECT_EQ(b.ListDevices(&n, nullptr, FT_LIST_NUMBER_ONLY), FT_OTHER_ERROR);
    EXPECT_EQ(b.ListDevices(&n, nullptr, FT_LIST_NUMBER_ONLY), FT_OTHER_ERROR);
    EXPECT_EQ(b.ListDevices(&n, nullptr, FT_LIST_NUMBER_ONLY), FT_OK);
}

TEST(BenchFaults, OpenCanReportTheInvalidHandleAndWritesCanBeCut) {
    Bench b;
    FT_HANDLE h = nullptr;
    b.SetOpenReturnsInvalidHandle(1);
    EXPECT_EQ(b.Open(0, &h), FT_OK);
    EXPECT_EQ(h, InvalidHandle());
    EXPECT_EQ(b.State(0).open_handles, 0);
    ASSERT_EQ(b.Open(0, &h), FT_OK);
    EXPECT_NE(h, InvalidHandle());
    b.LimitWrite(5, 1);
    Bytes p = Frame(0x92, {0, 1});
    DWORD n = 0;
    EXPECT_EQ(b.Write(h, p.data(), DWORD(p.size()), &n), FT_OK);
    EXPECT_EQ(n, 5u);
    EXPECT_EQ(b.State(0).dout, 0);  // only half a packet arrived
    EXPECT_EQ(b.Write(h, p.data(), DWORD(p.size()), &n), FT_OK);
    EXPECT_EQ(n, 9u);
    EXPECT_EQ(b.State(0).dout, 1);
}

// Short reads deliver the cycle of limits, zero and a few bytes included; what is not read
// stays queued in order.
TEST_F(BenchTest, ShortReadsLeaveTheRestQueued) {
    bench.SetReplyLatencyMs(0);
    bench.SetBandwidth(0);
    Send(Frame(0x84));  // a 69-byte reply
    AdvanceMs(1);
    const Bytes whole = ReadAll();
    ASSERT_EQ(whole.size(), 69u);
    Send(Frame(0x84));
    AdvanceMs(1);
    bench.LimitRead({0, 3, 40}, 5);
    Bytes got;
    const size_t expect[] = {0, 3, 40, 0, 3, 23};
    for (size_t want : expect) {
        uint8_t buf[100];
        DWORD n = 99;
        ASSERT_EQ(bench.Read(h, buf, 100, &n), FT_OK);
        EXPECT_EQ(n, want);
        got.insert(got.end(), buf, buf + n);
    }
    EXPECT_EQ(got, whole);
    EXPECT_EQ(Queued(), 0u);
    bench.LimitRead({0}, kAlways);
    Send(Frame(0x84));
    AdvanceMs(1);
    EXPECT_EQ(ReadAll().size(), 0u);
    EXPECT_EQ(Queued(), 69u);
    bench.ClearFaults();
    EXPECT_EQ(ReadAll().size(), 69u);
}

class CommandFaults : public BenchTest {};

TEST_F(CommandFaults, ReplyFaultsShapeTheReply) {
    struct Case {
        ReplyFault fault;
        uint32_t amount;
        size_t size;
        uint8_t first;
    };
    const Case cases[] = {
        {ReplyFault::None, 0, 21, 0x81},       {ReplyFault::NoReply, 0, 0, 0},
        {ReplyFault::ShortReply, 0, 20, 0x81}, {ReplyFault::ShortReply, 6, 15, 0x81},
        {ReplyFault::LongReply, 3, 24, 0x81},  {ReplyFault::WrongEcho, 0, 21, 0x91},
        {ReplyFault::ExtraByte, 0, 22, 0x81},  {ReplyFault::LateReply, 100, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(int(c.fault));
        bench.SetCommandFault(0, 0x81, c.fault, c.amount, 1);
        const Bytes reply = Exchange(Frame(0x81));
        ASSERT_EQ(reply.size(), c.size);
        if (c.size) {
            EXPECT_EQ(reply[0], c.first);
        }
        AdvanceMs(200);
        ReadAll();  // a late reply lands here
    }
    EXPECT_EQ(Exchange(Frame(0x81)).size(), 21u);  // every fault was for one command
}

TEST_F(CommandFaults, LateAndSplitRepliesArriveWhenDue) {
    bench.SetCommandFault(0, 0x90, ReplyFault::LateReply, 600);
    Send(Frame(0x90));
    AdvanceMs(601);
    EXPECT_EQ(Queued(), 0u);
    AdvanceMs(2);
    EXPECT_EQ(Queued(), 79u);
    ReadAll();
    bench.SetCommandFault(0, 0x90, ReplyFault::SplitReply, 10);
    Send(Frame(0x90));
    AdvanceMs(3);
    EXPECT_EQ(Queued(), 39u);
    AdvanceMs(10);
    EXPECT_EQ(Queued(), 79u);
}

TEST_F(CommandFaults, ExtraByteAfterACommandWithoutReplyMisalignsTheStream) {
    bench.SetCommandFault(0, 0x92, ReplyFault::ExtraByte, 0, 1);
    EXPECT_EQ(Exchange(Frame(0x92, {0, 1})), (Bytes{0x00}));
    EXPECT_TRUE(Exchange(Frame(0x92, {0, 0})).empty());
}

TEST_F(CommandFaults, FaultsApplyPerDeviceAndClearFaultsEndsThem) {
    FT_HANDLE other = nullptr;
    ASSERT_EQ(bench.Open(1, &other), usb::FT_OK);
    bench.SetCommandFault(1, 0x81, ReplyFault::NoReply);
    EXPECT_EQ(Exchange(Frame(0x81)).size(), 21u);
    std::swap(h, other);
    EXPECT_TRUE(Exchange(Frame(0x81)).empty());
    bench.ClearFaults();
    EXPECT_EQ(Exchange(Frame(0x81)).size(), 21u);
}

TEST(BenchThreads, CallsFromTwoThreadsWhileTheBenchChanges) {
    Bench b;
    b.SetReplyLatencyMs(0);
    FT_HANDLE h = nullptr;
    ASSERT_EQ(b.Open(0, &h), FT_OK);
    std::atomic<bool> stop{false};
    std::atomic<int> rounds{0};
    std::thread host([&] {
        const Bytes p = Frame(0x90);
        uint8_t buf[512];
        DWORD n = 0;
        while (!stop) {
            b.Write(h, const_cast<uint8_t*>(p.data()), DWORD(p.size()), &n);
            b.GetQueueStatus(h, &n);
            b.Read(h, buf, sizeof buf, &n);
            ++rounds;
        }
    });
    for (int i = 0; i < 200 || rounds < 200; ++i) {
        b.SetPlugged(1, i % 2 == 0);
        b.SetBandwidth(uint32_t(1000 + i));
        b.SetInputVolts(0, i % 16, i * 0.01);
        (void)b.State(0);
    }
    stop = true;
    host.join();
    EXPECT_GT(b.State(0).packets_by_code[0x90], 0u);
}

TEST(BenchConfig, IniSetsDevicesLinkAndFaults) {
    Bench b;
    std::string error;
    const char* ini =
        "; bench for a test\n"
        "[bench]\nbandwidth = 20000\nlatency = 7\n"
        "[device]\nserial = 12000005\ndescription = ZELK-2716E B\n"
        "[device]\nserial = 12000006\nplugged = no\nsignals = sequence\n"
        "[Command_Fault]   ; one lost identification\ndevice = 0\ncommand = 0x81\n"
        "fault = No-Reply ; executed, never answered\ntimes = 1\n"
        "[d2xx fault]\nfunction = FT_Open\ninvalid handle = yes\ntimes = 1\n"
        "[D2XX Fault]\nfunction = ft_purge\nstatus = 4\n"
        "[d2xx fault]\nfunction = FT_Read\nread limit = 0, 5\ntimes = 2\n";
    ASSERT_TRUE(ConfigureBench(b, ini, &error)) << error;
    EXPECT_EQ(b.DeviceCount(), 2);
    EXPECT_EQ(Count(b), 1u);
    EXPECT_EQ(ListText(b, 0, FT_OPEN_BY_DESCRIPTION), "ZELK-2716E B");
    EXPECT_FALSE(b.IsPlugged(1));
    EXPECT_EQ(b.Bandwidth(), 20000u);
    EXPECT_EQ(b.ReplyLatencyMs(), 7u);
    FT_HANDLE h = nullptr;
    EXPECT_EQ(b.Open(0, &h), FT_OK);
    EXPECT_EQ(h, InvalidHandle());
    ASSERT_EQ(b.Open(0, &h), FT_OK);
    EXPECT_EQ(b.Purge(h, 3), FT_IO_ERROR);
    b.SetReplyLatencyMs(0);
    b.SetBandwidth(0);
    Bytes p = Frame(0x81);
    DWORD n = 0;
    for (int round = 0; round < 2; ++round) {
        ASSERT_EQ(b.Write(h, p.data(), DWORD(p.size()), &n), FT_OK);
        ASSERT_EQ(b.GetQueueStatus(h, &n), FT_OK);
        EXPECT_EQ(n, round == 0 ? 0u : 21u);  // only the first identification is lost
    }
    uint8_t buf[21];
    for (DWORD expect : {0u, 5u, 16u}) {
        ASSERT_EQ(b.Read(h, buf, 21, &n), FT_OK);
        EXPECT_EQ(n, expect);
    }
}

TEST(BenchConfig, BadFilesChangeNothingAndNameTheLine) {
    const std::pair<const char*, const char*> bad[] = {
        {"[bench]\nbandwidth = fast\n", "line 2"},
        {"[bench]\nspeed = 1\n", "line 2"},
        {"bandwidth = 1\n", "line 1"},
        {"[device]\nplugged = yes\n", "line 1"},
        {"[command fault]\ncommand = 0x90\nfault = slow\n", "line 3"},
        {"[command fault]\nfault = no reply\n", "line 1"},
        {"[d2xx fault]\nfunction = FT_Frobnicate\n", "line 2"},
        {"[d2xx fault]\nfunction = FT_Read\ninvalid handle = yes\n", "line 1"},
        {"[d2xx fault]\nfunction = FT_Read\n", "line 1"},
        {"[d2xx fault]\nfunction = FT_Read\nread limit = 3, x\n", "line 3"},
        {"[d2xx fault]\nfunction = FT_Write\nread limit = 3\n", "line 1"},
        {"[d2xx fault]\nfunction = FT_Read\nread limit = 3\nstatus = 4\n", "line 1"},
        {"[bench]\nlatency = 5\n[robots]\n", "line 3"},
        {"[bench\n", "line 1"},
    };
    for (const auto& [text, where] : bad) {
        Bench b;
        std::string error;
        EXPECT_FALSE(ConfigureBench(b, text, &error)) << text;
        EXPECT_NE(error.find(where), std::string::npos) << text << " -> " << error;
        EXPECT_EQ(b.ReplyLatencyMs(), kDefaultLatencyMs);
        EXPECT_EQ(b.DeviceCount(), 2);
    }
    Bench b;
    std::string error;
    EXPECT_FALSE(ConfigureBenchFromFile(b, "/nonexistent/sim.ini", &error));
}

TEST(InProcessTable, AllNineFunctionsServeTheGlobalBench) {
    const D2xxApi& api = InProcessD2xx();
    ASSERT_TRUE(api.ListDevices && api.Open && api.Close && api.ResetDevice && api.SetLatencyTimer && api.Purge &&
                api.Write && api.Read && api.GetQueueStatus);
    EXPECT_EQ(api.missing, nullptr);
    GlobalBench().Reset();
    GlobalBench().SetReplyLatencyMs(0);
    DWORD n = 0;
    ASSERT_EQ(api.ListDevices(&n, nullptr, FT_LIST_NUMBER_ONLY), FT_OK);
    EXPECT_EQ(n, 2u);
    FT_HANDLE h = nullptr;
    ASSERT_EQ(api.Open(1, &h), FT_OK);
    EXPECT_EQ(api.ResetDevice(h), FT_OK);
    EXPECT_EQ(api.SetLatencyTimer(h, 2), FT_OK);
    EXPECT_EQ(GlobalBench().State(1).latency_timer, 2);
    EXPECT_EQ(api.Purge(h, 3), FT_OK);
    Bytes p = Frame(0x81);
    ASSERT_EQ(api.Write(h, p.data(), DWORD(p.size()), &n), FT_OK);
    EXPECT_EQ(n, 5u);
    uint8_t buf[64];
    DWORD got = 0;
    for (int i = 0; i < 1000 && got == 0; ++i) {
        ASSERT_EQ(api.GetQueueStatus(h, &n), FT_OK);
        if (n >= 21) ASSERT_EQ(api.Read(h, buf, n, &got), FT_OK);
        else std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ASSERT_EQ(got, 21u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buf) + 5, 16), "ZELK-2716E  1.03");
    EXPECT_EQ(api.Close(h), FT_OK);
    GlobalBench().Reset();
}

}  // namespace
}  // namespace zelk::sim::test
