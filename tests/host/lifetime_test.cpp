// The instance pointer as the host passes it: only a live instance is served, and Init,
// Done and DisposeDriver racing on two threads leave exactly one of them to act.
#include <thread>

#include "domain/status_texts.h"
#include "host/host_internal.h"
#include "host_test_util.h"

namespace zelk::hosttest {
namespace {

int CountLines(const std::vector<std::string>& lines, const std::string& text) {
    return static_cast<int>(std::count(lines.begin(), lines.end(), text));
}

// Every export given `p` answers as for a null instance and writes nothing.
void ExpectTreatedAsNull(void* p) {
    char msg[80] = "unchanged";
    EXPECT_EQ(Init(p, 0, "x.ini", 79, msg, 0, 0, 0, nullptr), 0);
    EXPECT_EQ(std::string(msg), std::string(StatusTexts[2]));
    int32_t err = 7;
    ZelkValue v = Long(5);
    char version[64] = "unchanged";
    ZelkValue s = Str(version);
    Done(p);
    SetBufferAddr(p, 0);
    InputRequest(p, 98);
    InputRequestCompleted(p);
    GetInput(p, 98, &v);
    OutputRequest(p, 78, v);
    OutputRequestCompleted(p);
    DriverProc(p, 1, 0, 0, 0, 0);
    QueryProc(p, ZELK_TAG_STRING, "GetVersion", 0, &s);
    EXPECT_EQ(BufferInfo(p, 0), 0);
    EXPECT_EQ(InputFinalized(p, 98, &err) + OutputFinalized(p, 78, &err), 2);
    EXPECT_EQ(err, 0);
    EXPECT_EQ(LongOf(v), 5u);
    EXPECT_EQ(std::string(version), "unchanged");
    DisposeDriver(p);
    DisposeDriver(p);
}

class Registry : public BenchTest {};

TEST_F(Registry, APointerThatIsNotALiveInstanceIsTreatedAsNull) {
    void* live = MakeDriver();
    void* disposed = MakeDriver();
    DisposeDriver(disposed);
    static int notAnInstance = 0;
    for (void* p : {disposed, static_cast<void*>(&notAnInstance), static_cast<void*>(static_cast<char*>(live) + 16)}) {
        SCOPED_TRACE(p == disposed ? "disposed" : p == &notAnInstance ? "never made" : "inside a live instance");
        ExpectTreatedAsNull(p);
    }
    // The live instance was not touched by any of it.
    char version[64] = {0};
    ZelkValue s = Str(version);
    QueryProc(live, ZELK_TAG_STRING, "GetVersion", 0, &s);
    EXPECT_EQ(std::string(version), std::string(host::DriverInfoText()));
    DisposeDriver(live);
}

TEST_F(Registry, AFreedAddressIsNotHandedOutByTheNextMakeDriver) {
    ASSERT_TRUE(WaitUntil([] { return host::LiveReaperCount() == 0; }));
    void* stale = MakeDriver();
    DisposeDriver(stale);
    for (size_t i = 0; i < host::kHeldBackAddresses; ++i) {
        void* fresh = MakeDriver();
        EXPECT_NE(fresh, stale) << "instance " << i;
        DisposeDriver(fresh);
    }
}

// Two threads reach a lifetime step of one instance: the notification thread calls Done
// inside the host's function, the host's thread calls Done, DisposeDriver or Init. The
// hook holds each side between reading the state and acting on it until the other side has
// read it too, and lets the loser go on only once the winner has acted.
enum class Side { Host, Callback };
enum class HostCall { Done, Dispose, Init };

struct Race {
    std::atomic<TData*> d{nullptr};
    std::thread::id hostThread;
    Side winner = Side::Host;
    std::atomic<bool> read[2] = {false, false};
    std::atomic<bool> taken{false};
    std::atomic<int> callbackDone{0};
    std::atomic<int> callbackReturned{0};
};
Race* gRace = nullptr;

void HoldAtTheStep(TData* d, host::LifeStep step) {
    Race& r = *gRace;
    if (d != r.d.load()) return;
    const Side me = std::this_thread::get_id() == r.hostThread ? Side::Host : Side::Callback;
    if (step == host::LifeStep::Taken) {
        if (me == r.winner) r.taken = true;
        return;
    }
    if (r.read[static_cast<int>(me)].exchange(true)) return;  // only the first read is held
    const Side other = me == Side::Host ? Side::Callback : Side::Host;
    if (me == r.winner)
        WaitUntil([&] { return r.read[static_cast<int>(other)].load(); });
    else
        WaitUntil([&] { return r.taken.load(); });
}

int32_t CallDoneOnce(uint32_t, int32_t, void* inst) {
    if (gRace->callbackDone.exchange(1) == 0) {
        Done(inst);
        gRace->callbackReturned = 1;
    }
    return 0;
}

class LifetimeRace : public BenchTest {
protected:
    void TearDown() override {
        host::gLifeHook = nullptr;
        gRace = nullptr;
        BenchTest::TearDown();
    }
};

TEST_F(LifetimeRace, OnlyTheWinnerOfTheStepActs) {
    const struct {
        const char* what;
        Side winner;
        HostCall call;
        int teardowns;       // "RQ_D   (0)" lines: the Done bodies that ran
        bool reaper;         // DisposeDriver left the instance to a reaper
        uint8_t initResult;  // HostCall::Init only
    } cases[] = {
        {"callback's Done first, then the host's Done returns", Side::Callback, HostCall::Done, 1, false, 0},
        {"callback's Done first, the host's DisposeDriver hands over", Side::Callback, HostCall::Dispose, 1, true, 0},
        {"callback's Done first, the host's Init is refused", Side::Callback, HostCall::Init, 1, false, 0},
        {"host's Done first, the callback's Done returns", Side::Host, HostCall::Done, 1, false, 0},
        {"host's DisposeDriver first, the callback's Done returns", Side::Host, HostCall::Dispose, 0, false, 0},
        {"host's Init first, the callback's Done returns", Side::Host, HostCall::Init, 1, false, 1},
    };
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        sim::GlobalBench().Reset();
        const std::string log = dir.File("race" + std::to_string(n) + ".log");
        const std::string ini = WriteParamFile(dir, "12000001", log, "", "race" + std::to_string(n++) + ".ini");
        Race race;
        race.hostThread = std::this_thread::get_id();
        race.winner = c.winner;
        gRace = &race;
        void* inst = MakeDriver();
        char msg[100] = {0};
        ASSERT_EQ(Init(inst, 0, ini.c_str(), 99, msg, 0, 0, 7, &CallDoneOnce), 1) << msg;
        race.d = D(inst);
        host::gLifeHook = &HoldAtTheStep;

        // A read finalized before it finished: the notification calls Done.
        InputRequest(inst, 0);
        EXPECT_EQ(InputFinalized(inst, 0, nullptr), 0);
        InputRequestCompleted(inst);
        ASSERT_TRUE(WaitUntil([&] { return race.read[static_cast<int>(Side::Callback)].load(); }));

        switch (c.call) {
            case HostCall::Done:
                Done(inst);
                break;
            case HostCall::Dispose:
                DisposeDriver(inst);
                EXPECT_EQ(host::LiveReaperCount(), c.reaper ? 1 : 0);
                break;
            case HostCall::Init:
                std::memset(msg, 0, sizeof msg);
                EXPECT_EQ(Init(inst, 0, ini.c_str(), 99, msg, 0, 0, 7, &CallDoneOnce), c.initResult);
                EXPECT_EQ(std::string(msg), c.initResult ? std::string("Ok") : std::string(StatusTexts[1]));
                break;
        }
        EXPECT_TRUE(WaitUntil([&] { return race.callbackReturned.load() == 1; }));
        host::gLifeHook = nullptr;
        if (c.call != HostCall::Dispose) DisposeDriver(inst);
        EXPECT_TRUE(WaitUntil([] { return host::LiveReaperCount() == 0; }));
        EXPECT_EQ(sim::GlobalBench().State(0).open_handles, 0);
        EXPECT_EQ(CountLines(LogTexts(log), "RQ_D   (0)"), c.teardowns);
    }
}

}  // namespace
}  // namespace zelk::hosttest
