// A virtual clock for single-threaded fuzz targets, put in place of the platform's ticks
// and sleep at link time (--wrap): a sleep advances the ticks at once, so the link's poll
// loops and timeouts run their full course without costing wall time.
#include <atomic>
#include <cstdint>

namespace {
std::atomic<uint32_t> g_ticks{0};
}

extern "C" uint32_t __wrap__ZN4zelk4plat9TickCountEv() { return g_ticks.load(); }
extern "C" void __wrap__ZN4zelk4plat7SleepMsEj(uint32_t ms) { g_ticks.fetch_add(ms == 0 ? 1 : ms); }
