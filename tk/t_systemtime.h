// Calendar fields of a date and time, to the microsecond.
#pragma once

struct t_systemtime {
    // A year before year 1 is negative, as Oracle counts it: -1 is 1 BC,
    // -4712 is 4712 BC; there is no year 0 (0 means no date at all).
    int year = 0;
    int month = 0;
    int day_of_week = 0;  // always 0: nothing reads it
    int day = 0;
    int hour = 0;
    int minute = 0;
    int second = 0;
    int microsecond = 0;

    bool operator==(const t_systemtime&) const = default;
};

// The local time of the machine, now.
t_systemtime tk_get_local_time();

// The days of a month (1 to 12) of the proleptic Gregorian calendar that
// PostgreSQL checks dates by; before year 1 (-1 is 1 BC), 1 BC, 5 BC ...
// are leap years.
int tk_days_in_month(int year, int month);
