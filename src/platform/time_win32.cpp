#include "platform/platform.h"
#include "platform/precise_wait_win32.h"

#include <windows.h>

namespace zelk::plat {

uint32_t TickCount() { return GetTickCount(); }

void SleepMs(uint32_t ms) { PreciseWait(nullptr, ms); }

LocalTime Now() {
    SYSTEMTIME st{};
    GetLocalTime(&st);
    LocalTime t;
    t.year = st.wYear;
    t.month = st.wMonth;
    t.day = st.wDay;
    t.hour = st.wHour;
    t.minute = st.wMinute;
    t.second = st.wSecond;
    t.millisecond = st.wMilliseconds;
    return t;
}

std::string FormatRegionalDateTime(const LocalTime& t) {
    SYSTEMTIME st{};
    st.wYear = static_cast<WORD>(t.year);
    st.wMonth = static_cast<WORD>(t.month);
    st.wDay = static_cast<WORD>(t.day);
    st.wHour = static_cast<WORD>(t.hour);
    st.wMinute = static_cast<WORD>(t.minute);
    st.wSecond = static_cast<WORD>(t.second);
    char date[128] = {0};
    char time[128] = {0};
    if (GetDateFormatA(LOCALE_USER_DEFAULT, DATE_SHORTDATE, &st, nullptr, date, sizeof date) == 0) date[0] = 0;
    if (GetTimeFormatA(LOCALE_USER_DEFAULT, 0, &st, nullptr, time, sizeof time) == 0) time[0] = 0;
    return std::string(date) + " " + time;
}

char DecimalSeparator() {
    char sep[8] = {0};
    if (GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_SDECIMAL, sep, sizeof sep) > 0 && sep[0] != 0) return sep[0];
    return '.';
}

}  // namespace zelk::plat
