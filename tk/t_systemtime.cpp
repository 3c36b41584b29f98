#include "t_systemtime.h"

#include <ctime>

t_systemtime tk_get_local_time()
{
    t_systemtime t;
    timespec ts{};
    if (clock_gettime(CLOCK_REALTIME, &ts) != 0)
        return t;
    std::tm tm{};
    if (!localtime_r(&ts.tv_sec, &tm))
        return t;
    t.year = tm.tm_year + 1900;
    t.month = tm.tm_mon + 1;
    t.day = tm.tm_mday;
    t.hour = tm.tm_hour;
    t.minute = tm.tm_min;
    t.second = tm.tm_sec;
    t.microsecond = static_cast<int>(ts.tv_nsec / 1000);
    return t;
}

int tk_days_in_month(int year, int month)
{
    static const int days[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month != 2)
        return days[month - 1];
    const int y = year < 0 ? year + 1 : year;
    const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
    return leap ? 29 : 28;
}
