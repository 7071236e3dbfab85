// Shutdown against hosts that misbehave in their notification function, and instances
// freed without Done: every call comes back within its bound and nothing is touched after
// it has been freed (ASan and TSan run these too).
#include <chrono>
#include <condition_variable>
#include <stdexcept>

#include "host/host_internal.h"
#include "host_test_util.h"

namespace zelk::hosttest {
namespace {

// Only "did it come back at all": the documented bound with the default USB timeout is
// 5.2 s, the rest is margin for a loaded machine.
constexpr long kReturnBoundMs = 15000;

long MsSince(std::chrono::steady_clock::time_point t) {
    return static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t).count());
}

std::string WindowText(void* inst) {
    char buf[4096] = {0};
    ZelkValue v = Str(buf);
    QueryProc(inst, ZELK_TAG_STRING, "WindowText", sizeof buf, &v);
    return buf;
}

// A host condition the callback blocks on until the test releases it.
struct Gate {
    std::mutex m;
    std::condition_variable cv;
    bool open = false;
    std::atomic<int> entered{0};
    std::atomic<int> left{0};
    void Release() {
        {
            std::lock_guard<std::mutex> g(m);
            open = true;
        }
        cv.notify_all();
    }
};
Gate* gGate = nullptr;
std::atomic<int> gPlainCalls{0};
std::atomic<int> gThrows{0};

int32_t BlockUntilReleased(uint32_t, int32_t, void*) {
    Gate& g = *gGate;
    g.entered++;
    std::unique_lock<std::mutex> l(g.m);
    g.cv.wait_for(l, std::chrono::seconds(120), [&] { return g.open; });
    g.left++;
    return 0;
}

int32_t Plain(uint32_t, int32_t, void*) {
    gPlainCalls++;
    return 0;
}

// A C++ host whose function throws the first time.
int32_t ThrowOnce(uint32_t, int32_t, void*) {
    if (gThrows++ == 0) throw std::runtime_error("host failure");
    gPlainCalls++;
    return 0;
}

class Shutdown : public BenchTest {
protected:
    void SetUp() override {
        BenchTest::SetUp();
        gPlainCalls = 0;
        gThrows = 0;
        log = dir.File("shutdown.log");
        ini = WriteParamFile(dir, "12000001", log);
    }
    void* Start(ZelkCallback cb) {
        void* inst = MakeDriver();
        char msg[100];
        EXPECT_EQ(Init(inst, 0, ini.c_str(), 99, msg, 0, 0, 7, cb), 1);
        return inst;
    }
    static void ReadUnfinished(void* inst, uint32_t ch = 0) {
        InputRequest(inst, ch);
        EXPECT_EQ(InputFinalized(inst, ch, nullptr), 0);
        InputRequestCompleted(inst);
    }
    // An instance whose notification function is blocked on `gate` in a read's notification.
    void* StartBlocked(Gate& gate) {
        gGate = &gate;
        void* inst = Start(&BlockUntilReleased);
        ReadUnfinished(inst);
        EXPECT_TRUE(WaitUntil([&] { return gate.entered.load() == 1; }));
        return inst;
    }
    // Runs `call` and checks that it came back within the bound.
    template <class F>
    static void Bounded(F call) {
        const auto t = std::chrono::steady_clock::now();
        call();
        EXPECT_LT(MsSince(t), kReturnBoundMs);
    }
    std::string log, ini;
};

TEST_F(Shutdown, ACallbackBlockedPastDisposeLeavesTheHostRunning) {
    Gate gate;
    void* stuck = StartBlocked(gate);
    Bounded([&] { Done(stuck); });
    Bounded([&] { DisposeDriver(stuck); });
    EXPECT_NE(FindLine(LogTexts(log), "RQ_D   (4a) Vlákno TCB neukončeno"_cp), -1);
    // The instance waits with a reaper for its callback to return.
    EXPECT_EQ(host::LiveReaperCount(), 1);
    EXPECT_EQ(gate.left.load(), 0);

    // A new instance in the same process works meanwhile.
    void* fresh = Start(&Plain);
    ReadUnfinished(fresh, 3);
    EXPECT_TRUE(WaitUntil([] { return gPlainCalls.load() == 1; }));
    Done(fresh);
    DisposeDriver(fresh);

    gate.Release();
    EXPECT_TRUE(WaitUntil([] { return host::LiveReaperCount() == 0; }));
    EXPECT_EQ(gate.left.load(), 1);
    gGate = nullptr;
}

TEST_F(Shutdown, DisposeWithoutDoneAndABlockedCallbackComesBack) {
    Gate gate;
    void* stuck = StartBlocked(gate);
    Bounded([&] { DisposeDriver(stuck); });
    // The acquisition thread ended and the module was closed on the host's thread.
    EXPECT_EQ(sim::GlobalBench().State(0).open_handles, 0);
    gate.Release();
    EXPECT_TRUE(WaitUntil([] { return host::LiveReaperCount() == 0; }));
    gGate = nullptr;
}

TEST_F(Shutdown, DisposeWithoutDoneWithTheWindowShown) {
    void* inst = Start(&Plain);
    DriverProc(inst, 1, 0, 0, 0, 0);
    // Let the window's refresh run on its timer while the instance is freed.
    ASSERT_TRUE(WaitUntil([&] { return !WindowText(inst).empty(); }));
    plat::SleepMs(250);
    Bounded([&] { DisposeDriver(inst); });
    EXPECT_EQ(host::LiveReaperCount(), 0);
    EXPECT_EQ(sim::GlobalBench().State(0).open_handles, 0);
}

TEST_F(Shutdown, AnExceptionFromTheHostsFunctionIsLoggedAndNotificationsGoOn) {
    void* inst = Start(&ThrowOnce);
    ReadUnfinished(inst, 1);
    ASSERT_TRUE(WaitUntil([] { return gThrows.load() == 1; }));
    ReadUnfinished(inst, 2);
    EXPECT_TRUE(WaitUntil([] { return gPlainCalls.load() == 1; }));
    Done(inst);
    DisposeDriver(inst);
    EXPECT_NE(FindLine(LogTexts(log), std::string("TCB 97 Vnitřní chyba ovladače: host failure"_cp)), -1);
}

}  // namespace
}  // namespace zelk::hosttest
