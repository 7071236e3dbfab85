// What the driver's 1 ms wait lasts: plat::SleepMs(1) timed many times while the 1 ms timing
// is held as a running instance holds it. Builds for Linux and for Windows (run under wine by
// scripts/bench). Prints "wait_ms <mean> <p50> <p99> <high-resolution timer 0/1>" and, on
// Windows, "wait_fallback_ms ..." for the path without the high-resolution timer.
// Usage: bench_wait [count]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "platform/platform.h"

namespace {

void Measure(const char* key, long count) {
    zelk::plat::PreciseTimingHold hold;
    hold.Acquire();
    std::vector<double> ms;
    ms.reserve(static_cast<size_t>(count));
    for (long i = 0; i < count; ++i) {
        const auto a = std::chrono::steady_clock::now();
        zelk::plat::SleepMs(1);
        ms.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - a).count());
    }
    const bool highResolution = zelk::plat::HighResolutionTimerInUse();
    hold.Release();
    double sum = 0;
    for (double x : ms) sum += x;
    std::sort(ms.begin(), ms.end());
    std::printf("%s %.3f %.3f %.3f %d\n", key, sum / double(count), ms[ms.size() / 2], ms[ms.size() * 99 / 100],
                highResolution ? 1 : 0);
}

}  // namespace

int main(int argc, char** argv) {
    const long count = argc > 1 ? std::max(10L, std::strtol(argv[1], nullptr, 10)) : 500;
    Measure("wait_ms", count);
#ifdef _WIN32
    zelk::plat::AllowHighResolutionTimer(false);
    Measure("wait_fallback_ms", count);
    zelk::plat::AllowHighResolutionTimer(true);
#endif
    return 0;
}
