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
