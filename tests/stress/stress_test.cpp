// Two instances driven through the exports by two host threads, read and write cycles on
// every channel, while the acquisition and notification threads run and the modules are
// unplugged and replugged. Meant for the TSan build; every cycle must still finish.
#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "acquisition/acquisition.h"
#include "domain/text.h"
#include "core/Pomocny.h"
#include "domain/channel_map.h"
#include "host/exports.h"
#include "sim/sim.h"
#include "test_clock.h"

namespace zelk {
namespace {

constexpr uint32_t kDeadlineMs = 30000;


bool WaitUntil(const std::function<bool()>& cond, uint32_t deadlineMs = kDeadlineMs) {
    return test::WaitUntil(cond, deadlineMs);
}

ZelkValue Long(uint32_t v) {
    ZelkValue r{ZELK_TAG_LONGCARD, {}};
    std::memcpy(r.payload, &v, sizeof v);
    return r;
}
ZelkValue Bool(uint8_t b) {
    ZelkValue r{ZELK_TAG_BOOLEAN, {}};
    r.payload[0] = b;
    return r;
}
ZelkValue Real(double v) {
    ZelkValue r{ZELK_TAG_REAL, {}};
    std::memcpy(r.payload, &v, sizeof v);
    return r;
}

std::atomic<int> g_notifications{0};
int32_t ZELK_CDECL CountNotification(uint32_t, int32_t, void*) {
    g_notifications.fetch_add(1);
    return 0;
}

// One host: its instance, its parameter file, its thread of calls.
class Host {
public:
    Host(const std::string& serial, int logLevel, const std::filesystem::path& dir) : serial_(serial) {
        const std::string log = (dir / (serial + ".log")).string();
        const std::string ini = "[Volba modulu]\r\nVýrobní číslo=" + serial + "\r\nUSB timeout=100\r\n" +
                                "[Logovací soubor]\r\nÚroveň=" + std::to_string(logLevel) +
                                "\r\nNázev souboru=" + log + "\r\n";
        param_ = (dir / (serial + ".ini")).string();
        std::ofstream(param_, std::ios::binary) << text::Utf8ToCp1250(ini);
    }

    void Init() {
        instance_ = MakeDriver();
        static_cast<TData*>(instance_)->Clock = &clock;
        char msg[256] = {};
        ASSERT_EQ(::Init(instance_, 0, param_.c_str(), 255, msg, 0, 0, 7, CountNotification), 1) << msg;
    }
    void Done() {
        ::Done(instance_);
        DisposeDriver(instance_);
        instance_ = nullptr;
    }
    void* instance() const { return instance_; }

    // Cycles until `stop`; records failures instead of asserting on this thread.
    void Run(const std::atomic<bool>& stop) {
        std::mt19937 rng(std::hash<std::string>{}(serial_));
        while (!stop.load()) {
            ReadCycle();
            WriteCycle(rng);
            ++cycles;
        }
    }

    // Status code as the host reads it from channel 98.
    uint32_t ReadStatus() {
        ::InputRequest(instance_, 98);
        ::InputRequestCompleted(instance_);
        ZelkValue v = Long(0);
        ::GetInput(instance_, 98, &v);
        uint32_t code;
        std::memcpy(&code, v.payload, sizeof code);
        return code;
    }

    std::atomic<int> unfinished{0};
    std::atomic<int> cycles{0};
    // The instance's clock: the test makes the retry interval pass instead of waiting it out.
    test::SkipClock clock;

private:
    bool AwaitFinished(uint8_t (*finalized)(void*, uint32_t, int32_t*), const std::vector<uint32_t>& channels) {
        return WaitUntil([&] {
            for (uint32_t ch : channels) {
                int32_t err = -1;
                if (finalized(instance_, ch, &err) == 0) return false;
            }
            return true;
        });
    }

    void ReadCycle() {
        std::vector<uint32_t> channels;
        for (uint32_t ch = 0; ch < kChannelCount; ++ch)
            if (InInputClass(ch) && ch != 200 && ch != 202) channels.push_back(ch);
        for (uint32_t ch : channels) ::InputRequest(instance_, ch);
        ::InputRequestCompleted(instance_);
        if (!AwaitFinished(::InputFinalized, channels)) unfinished.fetch_add(1);
        std::array<char, 1024> text{};
        for (uint32_t ch : channels) {
            ZelkValue v{};
            switch (ChannelKind(ch)) {
                case ValueKind::Real: v = Real(0); break;
                case ValueKind::Boolean: v = Bool(0); break;
                case ValueKind::String: {
                    v.tag = ZELK_TAG_STRING;
                    char* p = text.data();
                    std::memcpy(v.payload, &p, sizeof p);
                    break;
                }
                default: v = Long(0); break;
            }
            ::GetInput(instance_, ch, &v);
        }
    }

    void WriteCycle(std::mt19937& rng) {
        std::vector<uint32_t> channels;
        auto write = [&](uint32_t ch, ZelkValue v) {
            ::OutputRequest(instance_, ch, v);
            channels.push_back(ch);
        };
        write(70, Bool(static_cast<uint8_t>(rng() & 1)));
        write(78, Long(rng() & 7));
        write(82, Long(rng()));
        write(83, Long(rng()));
        for (uint32_t ch = 100; ch <= 115; ++ch) write(ch, Long(rng() % 6));
        for (uint32_t ch = 132; ch <= 147; ++ch) write(ch, Long(rng() % 16));
        for (uint32_t ch = 164; ch <= 176; ++ch) write(ch, ch == 165 ? Real(100.0 + rng() % 1000) : Long(rng() % 20));
        write(202, Long(rng() % 100));
        ::OutputRequestCompleted(instance_);
        if (!AwaitFinished(::OutputFinalized, channels)) unfinished.fetch_add(1);
    }

    std::string serial_;
    std::string param_;
    void* instance_ = nullptr;
};

TEST(Stress, TwoInstancesSurviveHammeringAndUnplugReplug) {
    sim::Bench& bench = sim::GlobalBench();
    bench.Reset();
    const auto dir = std::filesystem::temp_directory_path() / ("zelk_stress_" + std::to_string(std::random_device{}()));
    std::filesystem::create_directories(dir);
    {
        Host a("12000001", 3, dir);
        Host b("12100002", 0, dir);
        a.Init();
        b.Init();
        ASSERT_NE(a.instance(), nullptr);
        ASSERT_NE(b.instance(), nullptr);

        std::atomic<bool> stop{false};
        // No ASSERT while the host threads run: they must be joined on every path.
        std::thread ta([&] { a.Run(stop); });
        std::thread tb([&] { b.Run(stop); });

        // Both modules go away at different moments and come back; the instances must
        // fail over to an error status and recover through the retry.
        EXPECT_TRUE(WaitUntil([&] { return a.cycles >= 3 && b.cycles >= 3; }));
        auto* da = static_cast<TData*>(a.instance());
        auto* db = static_cast<TData*>(b.instance());
        bench.SetPlugged(0, false);
        EXPECT_TRUE(WaitUntil([&] { return DeviceStatusCode(*da) != 0; }));
        bench.SetPlugged(1, false);
        EXPECT_TRUE(WaitUntil([&] { return DeviceStatusCode(*db) != 0; }));
        // A retry while the modules are away fails again; then they come back one after the
        // other, and the next retry of each finds its module.
        a.clock.Skip(kRetryIntervalMs);
        b.clock.Skip(kRetryIntervalMs);
        EXPECT_TRUE(WaitUntil([&] { return a.clock.Settled() && b.clock.Settled(); }));
        bench.SetPlugged(0, true);
        a.clock.Skip(kRetryIntervalMs);
        bench.SetPlugged(1, true);
        b.clock.Skip(kRetryIntervalMs);

        // A retry every 3000 ms: give them a few rounds.
        const bool recovered =
            WaitUntil([&] { return DeviceStatusCode(*da) == 0 && DeviceStatusCode(*db) == 0; }, 20000);
        const int cyclesAtRecovery = a.cycles + b.cycles;
        EXPECT_TRUE(WaitUntil([&] { return a.cycles + b.cycles >= cyclesAtRecovery + 4; }));
        stop = true;
        ta.join();
        tb.join();

        EXPECT_TRUE(recovered) << int(DeviceStatusCode(*da)) << " " << int(DeviceStatusCode(*db));
        EXPECT_EQ(a.unfinished, 0);
        EXPECT_EQ(b.unfinished, 0);
        EXPECT_GT(g_notifications.load(), 0);
        EXPECT_EQ(a.ReadStatus(), 0u);
        EXPECT_EQ(b.ReadStatus(), 0u);
        a.Done();
        b.Done();
    }
    EXPECT_EQ(bench.State(0).open_handles, 0);
    EXPECT_EQ(bench.State(1).open_handles, 0);
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
}

}  // namespace
}  // namespace zelk
