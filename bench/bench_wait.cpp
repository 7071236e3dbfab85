// What the driver's 1 ms wait lasts: plat::SleepMs(1) timed many times. Builds for Linux and
// for Windows (run under wine by scripts/bench). Prints "wait_ms <mean> <p50> <p99>".
// Usage: bench_wait [count]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "platform/platform.h"

int main(int argc, char** argv) {
    const long count = argc > 1 ? std::max(10L, std::strtol(argv[1], nullptr, 10)) : 500;
    std::vector<double> ms;
    ms.reserve(static_cast<size_t>(count));
    for (long i = 0; i < count; ++i) {
        const auto a = std::chrono::steady_clock::now();
        zelk::plat::SleepMs(1);
        ms.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - a).count());
    }
    double sum = 0;
    for (double x : ms) sum += x;
    std::sort(ms.begin(), ms.end());
    std::printf("wait_ms %.3f %.3f %.3f\n", sum / double(count), ms[ms.size() / 2], ms[ms.size() * 99 / 100]);
    return 0;
}
