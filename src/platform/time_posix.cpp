#include "platform/platform.h"

#include <cstdio>
#include <ctime>
#include <sys/time.h>

namespace zelk::plat {

uint32_t TickCount() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<uint32_t>(static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u);
}

void SleepMs(uint32_t ms) {
    timespec ts{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
    while (nanosleep(&ts, &ts) != 0) {
    }
}

LocalTime Now() {
    timeval tv{};
    gettimeofday(&tv, nullptr);
    time_t secs = tv.tv_sec;
    tm parts{};
    localtime_r(&secs, &parts);
    LocalTime t;
    t.year = parts.tm_year + 1900;
    t.month = parts.tm_mon + 1;
    t.day = parts.tm_mday;
    t.hour = parts.tm_hour;
    t.minute = parts.tm_min;
    t.second = parts.tm_sec;
    t.millisecond = static_cast<int>(tv.tv_usec / 1000);
    return t;
}

std::string FormatRegionalDateTime(const LocalTime& t) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%d.%d.%d %d:%02d:%02d", t.day, t.month, t.year, t.hour, t.minute, t.second);
    return buf;
}

char DecimalSeparator() { return '.'; }

}  // namespace zelk::plat
