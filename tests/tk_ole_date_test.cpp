#include "ole_date.h"
#include "ole_variant.h"
#include "test_support.h"
#include "tk_logger.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using tk_test::systemtime;

t_systemtime fields(int y, int mo, int d, int h = 0, int mi = 0, int s = 0, int us = 0)
{
    return systemtime(y, mo, d, h, mi, s, us);
}

std::wstring wide(const std::string& ascii) { return std::wstring(ascii.begin(), ascii.end()); }

struct parse_case {
    const char* text;
    int kind;                 // 0: invalid
    const char* narrow;       // to_string(true)
    const char* narrow_plain; // to_string(false)
    const char* wide_text;    // to_wstring(true)
};

void expect_parse(const parse_case& c)
{
    SCOPED_TRACE(c.text);
    ole_date d{std::string(c.text)};
    EXPECT_EQ(d.get_kind(), c.kind);
    EXPECT_EQ(d.is_valid(), c.kind != 0);
    EXPECT_EQ(d.to_string(true), c.narrow);
    EXPECT_EQ(d.to_string(false), c.narrow_plain);
    EXPECT_EQ(d.to_wstring(true), wide(c.wide_text));
}

}  // namespace

TEST(OleDate, ParsesTheKnownForms)
{
    const parse_case cases[] = {
        {"20240131102030", 1, "2024-01-31 10:20:30", "2024-01-31 10:20:30", "2024-01-31 10:20:30"},
        {"20240131", 2, "2024-01-31", "2024-01-31", "2024-01-31"},
        {"2024-01-31 10:20:30.25", 1, "2024-01-31 10:20:30.250", "2024-01-31 10:20:30",
         "2024-01-31 10:20:30.250"},
        {"2024-01-31 00:00:00", 2, "2024-01-31", "2024-01-31", "2024-01-31"},
        {"2024/01/31 10:20:30", 1, "2024-01-31 10:20:30", "2024-01-31 10:20:30", "2024-01-31 10:20:30"},
        {"   2024-01-31  ", 2, "2024-01-31", "2024-01-31", "2024-01-31"},
        // Day first: the first number is read as the year, then swapped.
        {"31.01.2024 10:20:30", 1, "2024-01-31 10:20:30", "2024-01-31 10:20:30",
         "2024-01-31 10:20:30"},
        {"31.01.2024", 2, "2024-01-31", "2024-01-31", "2024-01-31"},
        // No swap when the day fits: the two-digit first number is the year.
        {"31.01.24", 2, "2031-01-24", "2031-01-24", "2031-01-24"},
        {"10:20", 3, "0000-00-00 10:20:00", "0000-00-00 10:20:00", "10:20:00"},
        {"10:20:30 PM", 3, "0000-00-00 22:20:30", "0000-00-00 22:20:30", "22:20:30"},
        {"12:05 PM", 3, "0000-00-00 12:05:00", "0000-00-00 12:05:00", "12:05:00"},
        {"10:20 am", 3, "0000-00-00 10:20:00", "0000-00-00 10:20:00", "10:20:00"},
        // Was 12:05: twelve AM is the first hour of the day.
        {"12:05 AM", 3, "0000-00-00 00:05:00", "0000-00-00 00:05:00", "00:05:00"},
        {"2024-01-31 12:00:00 AM", 1, "2024-01-31", "2024-01-31", "2024-01-31"},
        {"1:2", 0, "", "", ""},
        {"12:05 PM x", 3, "0000-00-00 12:05:00", "0000-00-00 12:05:00", "12:05:00"},
        {"1:2 PM", 0, "", "", ""},
        // Was valid as 2024-02-30: February has no 30th.
        {"24-02-30", 0, "", "", ""},
        {"99-12-01", 2, "1999-12-01", "1999-12-01", "1999-12-01"},
        {"24-01-30", 2, "2024-01-30", "2024-01-30", "2024-01-30"},
        {"49-01-30", 2, "2049-01-30", "2049-01-30", "2049-01-30"},
        {"50-01-30", 2, "1950-01-30", "1950-01-30", "1950-01-30"},
        // Four digits are the year as written.
        {"0024-01-30", 2, "0024-01-30", "0024-01-30", "0024-01-30"},
        {"00-01-01", 0, "", "", ""},
        {"10:61", 0, "", "", ""},
        // Was valid: there is no hour 60.
        {"60:00", 0, "", "", ""},
        // Was 1 ms: the fraction is read as text.
        {"10:20:30.002", 3, "0000-00-00 10:20:30.002", "0000-00-00 10:20:30.002", "10:20:30.002"},
        {"10:20:30.123456", 3, "0000-00-00 10:20:30.123456", "0000-00-00 10:20:30.123456",
         "10:20:30.123456"},
        {"10:20:30.1234567", 3, "0000-00-00 10:20:30.123456", "0000-00-00 10:20:30.123456",
         "10:20:30.123456"},
        {"2024-01-31 10:20:30.000001", 1, "2024-01-31 10:20:30.000001", "2024-01-31 10:20:30",
         "2024-01-31 10:20:30.000001"},
        {"10:20:3e1", 3, "0000-00-00 10:20:30", "0000-00-00 10:20:30", "10:20:30"},
        {"", 0, "", "", ""},
        {"not a date", 0, "", "", ""},
        {"2024-13-01", 0, "", "", ""},
        // The era as the server prints it: BC is a year before year 1, whose
        // two digits are not abbreviated; AD changes nothing.
        {"0044-03-15 12:30:00 BC", 1, "0044-03-15 12:30:00 BC", "0044-03-15 12:30:00 BC",
         "0044-03-15 12:30:00 BC"},
        {"0044-03-15 BC", 2, "0044-03-15 BC", "0044-03-15 BC", "0044-03-15 BC"},
        {"44-03-15 bc", 2, "0044-03-15 BC", "0044-03-15 BC", "0044-03-15 BC"},
        {"0001-12-31 23:59:59.5 BC", 1, "0001-12-31 23:59:59.500 BC", "0001-12-31 23:59:59 BC",
         "0001-12-31 23:59:59.500 BC"},
        {"4713-01-01 00:00:00 BC", 2, "4713-01-01 BC", "4713-01-01 BC", "4713-01-01 BC"},
        {"0044-03-15 10:20:30 PM BC", 1, "0044-03-15 22:20:30 BC", "0044-03-15 22:20:30 BC",
         "0044-03-15 22:20:30 BC"},
        {"2024-01-31 10:20:30 AD", 1, "2024-01-31 10:20:30", "2024-01-31 10:20:30", "2024-01-31 10:20:30"},
        {"0001-02-29 BC", 2, "0001-02-29 BC", "0001-02-29 BC", "0001-02-29 BC"},
        {"0101-02-29 BC", 0, "", "", ""},
        {"4714-12-31 BC", 0, "", "", ""},
        {"0000-01-01 BC", 0, "", "", ""},
        {"10:20:30 BC", 0, "", "", ""},
        {"-0044-03-15", 0, "", "", ""},
        {"-0044-03-15 BC", 0, "", "", ""},
        {"0044-03-15BC", 2, "0044-03-15 BC", "0044-03-15 BC", "0044-03-15 BC"},
        {"0044-03-15 ABC", 2, "0044-03-15", "0044-03-15", "0044-03-15"},
    };
    for (const parse_case& c : cases)
        expect_parse(c);
}

TEST(OleDate, MillisecondsAreExact)
{
    ole_date d{std::string("10:20:30.002")};
    EXPECT_EQ(d.get_time().second, 30);
    EXPECT_EQ(d.get_time().microsecond, 2000);

    ole_date e{std::string("2024-01-31 10:20:30.25")};
    EXPECT_EQ(e.get_time().microsecond, 250000);
}

TEST(OleDate, RoundTripsThroughText)
{
    const char* narrow_texts[] = {
        "2024-01-31 10:20:30",        "2024-01-31 10:20:30.250",   "2024-01-31 10:20:30.005",
        "2024-01-31 10:20:30.123456", "1999-12-31 23:59:59.999999", "2024-01-31 00:00:00.500",
        "0001-01-01 00:00:01",        "2024-01-31",                 "0001-01-01",
        "9999-12-31",                 "0000-00-00 10:20:30",        "0000-00-00 10:20:30.123",
        "0000-00-00 00:00:00.000001", "0044-03-15 12:30:00 BC",    "0001-12-31 23:59:59.999999 BC",
        "4712-01-01 BC",
    };
    for (const char* text : narrow_texts) {
        SCOPED_TRACE(text);
        ole_date d{std::string(text)};
        ASSERT_TRUE(d.is_valid());
        EXPECT_EQ(d.to_string(true), text);
        // The fields survive the trip as well.
        ole_date again(d.get_time());
        EXPECT_EQ(again.to_string(true), text);
        EXPECT_EQ(ole_date(again.to_string(true)).get_time(), d.get_time());
    }

    const char* wide_times[] = {"10:20:30", "10:20:30.123", "10:20:30.123456", "23:59:60"};
    for (const char* text : wide_times) {
        SCOPED_TRACE(text);
        ole_date d{wide(text)};
        EXPECT_EQ(d.get_kind(), 3);
        EXPECT_EQ(d.to_wstring(true), wide(text));
    }
}

TEST(OleDate, FallbackFormsAndRefusals)
{
    const parse_case accepted[] = {
        {"2024-01-31 10:20", 1, "2024-01-31 10:20:00", "2024-01-31 10:20:00", "2024-01-31 10:20:00"},
        {"2024/01/31 10:20", 1, "2024-01-31 10:20:00", "2024-01-31 10:20:00", "2024-01-31 10:20:00"},
        {"31.01.2024 10:20", 1, "2024-01-31 10:20:00", "2024-01-31 10:20:00", "2024-01-31 10:20:00"},
        {"2024-01-31 00:00", 2, "2024-01-31", "2024-01-31", "2024-01-31"},
        {"31-JAN-2024", 2, "2024-01-31", "2024-01-31", "2024-01-31"},
        {"31-jan-24 10:20:30.5", 1, "2024-01-31 10:20:30.500", "2024-01-31 10:20:30",
         "2024-01-31 10:20:30.500"},
        {"5-September-1999 7:05", 1, "1999-09-05 07:05:00", "1999-09-05 07:05:00",
         "1999-09-05 07:05:00"},
        {"01-May-60", 2, "1960-05-01", "1960-05-01", "1960-05-01"},
        {"31-Dec-2024 11:59:59 PM", 1, "2024-12-31 23:59:59", "2024-12-31 23:59:59",
         "2024-12-31 23:59:59"},
    };
    for (const parse_case& c : accepted)
        expect_parse(c);

    const char* refused[] = {
        "01/31/2024",            // month first: a locale's reading, not ours
        "31 January 2024",       "January 31, 2024", "31-JANU-2024", "31-JAN-024",
        "31-JAN-2024 10",        "31-JAN-2024T10:20", "29-FEB-2023", "2024-01-31 10:20:",
        "2024-01-31 10:20 x",    "tomorrow",
        "31-J\xC3\x84N-2024",
    };
    for (const char* text : refused) {
        SCOPED_TRACE(text);
        ole_date d{std::string(text)};
        EXPECT_EQ(d.get_kind(), 0);
        EXPECT_FALSE(d.is_valid());
        EXPECT_EQ(d.to_string(true), "");
    }
}

TEST(OleDate, WideTextIsParsedAsUtf8)
{
    EXPECT_EQ(ole_date(std::wstring(L"31-JAN-2024")).to_string(true), "2024-01-31");
    EXPECT_EQ(ole_date(std::wstring(L"2024-01-31 10:20:30.123456")).to_string(true),
              "2024-01-31 10:20:30.123456");
    EXPECT_FALSE(ole_date(std::wstring(L"31-J\u00c4N-2024")).is_valid());
}

TEST(OleDate, EarlyYearsFromFieldsPrintAsWritten)
{
    ole_date one(fields(1, 1, 1));
    EXPECT_EQ(one.get_kind(), 2);
    EXPECT_EQ(one.to_string(true), "0001-01-01");
    EXPECT_EQ(one.to_wstring(true), L"0001-01-01");
    EXPECT_EQ(one.get_time().year, 1);  // printing leaves the year alone

    ole_date fifty(fields(50, 6, 15));
    EXPECT_EQ(fifty.to_string(true), "0050-06-15");
    EXPECT_EQ(fifty.to_wstring(false), L"0050-06-15");
    EXPECT_EQ(fifty.get_time().year, 50);

    EXPECT_EQ(ole_date(fields(1, 1, 1, 10, 20, 30)).to_string(true), "0001-01-01 10:20:30");

    // Before year 1 the year counts back from 1 BC.
    ole_date caesar(fields(-44, 3, 15, 12, 30));
    EXPECT_EQ(caesar.get_kind(), 1);
    EXPECT_EQ(caesar.to_string(false), "0044-03-15 12:30:00 BC");
    EXPECT_EQ(caesar.to_wstring(true), L"0044-03-15 12:30:00 BC");
    EXPECT_EQ(caesar.get_time().year, -44);
    ole_date first(fields(-4712, 1, 1));
    EXPECT_EQ(first.get_kind(), 2);
    EXPECT_EQ(first.to_string(true), "4712-01-01 BC");
    first.kind = 1;
    first.omit_midnight = false;
    EXPECT_EQ(first.to_string(true), "4712-01-01 00:00:00 BC");
    first.kind = 3;
    EXPECT_EQ(first.to_wstring(true), L"00:00:00");
}

TEST(OleDate, KindsFromFieldsAndPrinting)
{
    // A time alone prints its fraction whatever with_milliseconds says.
    ole_date time_only(fields(0, 0, 0, 10, 20, 30, 5000));
    EXPECT_EQ(time_only.get_kind(), 3);
    EXPECT_EQ(time_only.to_string(false), "0000-00-00 10:20:30.005");
    EXPECT_EQ(time_only.to_wstring(false), L"10:20:30.005");

    // A fraction at midnight keeps the value a date and time.
    ole_date nearly_midnight(fields(2024, 1, 31, 0, 0, 0, 500000));
    EXPECT_EQ(nearly_midnight.get_kind(), 1);
    EXPECT_EQ(nearly_midnight.to_string(true), "2024-01-31 00:00:00.500");
    EXPECT_EQ(nearly_midnight.to_string(false), "2024-01-31 00:00:00");

    ole_date midnight(fields(2024, 1, 31));
    EXPECT_EQ(midnight.get_kind(), 2);
    midnight.kind = 1;
    EXPECT_EQ(midnight.to_string(true), "2024-01-31");
    midnight.omit_midnight = false;
    EXPECT_EQ(midnight.to_string(true), "2024-01-31 00:00:00");

    // Callers may force the kind of a parsed value.
    ole_date forced{std::string("2024-01-31 10:20:30.5")};
    forced.kind = 2;
    EXPECT_EQ(forced.to_wstring(true), L"2024-01-31");
    forced.kind = 3;
    EXPECT_EQ(forced.to_wstring(true), L"10:20:30.500");
    forced.kind = 0;
    EXPECT_EQ(forced.to_string(true), "");
    EXPECT_FALSE(forced.is_valid());
}

TEST(OleDate, StrictValidity)
{
    struct validity_case {
        const char* name;
        t_systemtime t;
        bool valid;
    };
    const validity_case cases[] = {
        {"leap 2024", fields(2024, 2, 29), true},
        {"leap 2000", fields(2000, 2, 29), true},
        {"not leap 2023", fields(2023, 2, 29), false},
        {"not leap 1900", fields(1900, 2, 29), false},
        {"30 February", fields(2024, 2, 30), false},
        {"31 April", fields(2024, 4, 31), false},
        {"31 December", fields(2024, 12, 31, 23, 59, 59, 999999), true},
        {"month 13", fields(2024, 13, 1), false},
        {"month 0", fields(2024, 0, 1), false},
        {"day 0", fields(2024, 1, 0), false},
        {"year 0", fields(0, 1, 1), false},
        {"year 1", fields(1, 1, 1), true},
        {"year 9999", fields(9999, 12, 31), true},
        {"year 10000", fields(10000, 1, 1), false},
        {"1 BC", fields(-1, 1, 1), true},
        {"leap 1 BC", fields(-1, 2, 29), true},
        {"leap 5 BC", fields(-5, 2, 29), true},
        {"not leap 2 BC", fields(-2, 2, 29), false},
        {"not leap 101 BC", fields(-101, 2, 29), false},
        {"4713 BC", fields(-4713, 12, 31), true},
        {"4714 BC", fields(-4714, 12, 31), false},
        {"negative day", fields(2024, 1, -1), false},
        {"hour 23", fields(2024, 1, 1, 23, 0, 0), true},
        {"hour 24", fields(2024, 1, 1, 24, 0, 0), false},
        {"hour 60", fields(0, 0, 0, 60, 0, 0), false},
        {"minute 60", fields(0, 0, 0, 10, 60, 0), false},
        {"leap second", fields(0, 0, 0, 23, 59, 60), true},
        {"second 61", fields(0, 0, 0, 23, 59, 61), false},
        {"microsecond 1000000", fields(0, 0, 0, 10, 0, 0, 1000000), false},
        {"negative hour", fields(0, 0, 0, -1, 0, 0), false},
        {"negative minute", fields(2024, 1, 1, 1, -1, 0), false},
        {"negative second", fields(2024, 1, 1, 1, 1, -1), false},
        {"negative microsecond", fields(0, 0, 0, 1, 0, 0, -1), false},
        {"pure midnight", fields(0, 0, 0), true},
    };
    for (const validity_case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(ole_date(c.t).is_valid(), c.valid);
    }

    const std::pair<const char*, bool> texts[] = {
        {"2024-02-29", true},  {"2000-02-29", true},  {"2023-02-29", false},
        {"1900-02-29", false}, {"2024-02-30", false}, {"60:00", false},
        {"10:61", false},      {"24:00:00", false},   {"23:59:60", true},
        {"10:20:61", false},   {"31.01.2024", true},  {"2024-01-31 24:00:00", false},
    };
    for (const auto& [text, valid] : texts) {
        SCOPED_TRACE(text);
        EXPECT_EQ(ole_date(std::string(text)).is_valid(), valid);
    }
    EXPECT_EQ(ole_date(std::string("31.01.2024")).to_string(true), "2024-01-31");
}

TEST(OleDate, HostileTextsGiveADefinedResult)
{
    const std::string long_seconds(1000, '9');
    const std::string invalid[] = {
        "10:20:" + long_seconds,
        "2024-01-31 10:20:" + long_seconds,
        "70000-01-01",
        "32768-01-01",
        "99999999999999999999-01-01",
        "2024-01-31 99999999999:00:00",
        "10:20:1e999999999999",
        std::string(5000, '1'),
        std::string(5000, ':'),
        std::string(5000, '-'),
    };
    for (const std::string& text : invalid) {
        SCOPED_TRACE(text.substr(0, 40));
        ole_date d(text);
        EXPECT_EQ(d.get_kind(), 0);
        EXPECT_FALSE(d.is_valid());
        EXPECT_EQ(d.to_string(true), "");
    }

    // A long fraction is cut to microseconds, not refused.
    ole_date long_fraction("10:20:30." + std::string(991, '1'));
    EXPECT_TRUE(long_fraction.is_valid());
    EXPECT_EQ(long_fraction.to_wstring(true), L"10:20:30.111111");
}

TEST(OleDate, SecondsText)
{
    struct seconds_case {
        const char* text;
        bool ok;
        int second;
        int microsecond;
    };
    const seconds_case cases[] = {
        {"30", true, 30, 0},
        {"30.25", true, 30, 250000},
        {"30.002", true, 30, 2000},
        {"30.123456789", true, 30, 123456},
        {"5.", true, 5, 0},
        {".5", true, 0, 500000},
        {"30xyz", true, 30, 0},
        {"1.5e1", true, 15, 0},
        {"15e-1", true, 1, 500000},
        {"0e999999", true, 0, 0},
        {"", true, 0, 0},
        {"abc", true, 0, 0},
        {"-1.5", true, -1, -500000},
        {"1234567890", false, 7, 7},
    };
    for (const seconds_case& c : cases) {
        SCOPED_TRACE(c.text);
        ole_date d(fields(0, 0, 0, 10, 20, 7, 7));
        EXPECT_EQ(d.process_milliseconds(c.text), c.ok);
        EXPECT_EQ(d.get_time().second, c.second);
        EXPECT_EQ(d.get_time().microsecond, c.microsecond);
    }
}

// Every trace of the parser and the printer is formatted, also for a long
// hostile text, without a failure or a sanitizer report.
TEST(OleDate, TracesOfEveryStepAreWritten)
{
    tk_test::temp_dir dir;
    const std::string log = dir.file("dates.log");
    {
        tk_logger logger(log.c_str(), true, 1, false);
        const std::string texts[] = {
            "20240131102030", "20240131", "10:20:30.25 PM", "31.01.2024 10:20:30",
            "31-jan-24 10:20:30.5", "1:2", "24-02-30", "10:20:" + std::string(1000, '9'),
        };
        for (const std::string& text : texts) {
            ole_date d(text);
            (void)d.to_string(true);
            (void)d.to_wstring(true);
        }
        (void)ole_date(fields(2024, 1, 31)).to_string(true);
    }
    const std::string written = tk_test::read_file(log);
    EXPECT_FALSE(written.empty());
    EXPECT_NE(written.find(std::string(1000, '9')), std::string::npos);
}

TEST(OleDate, ToVariantCarriesTheFields)
{
    const t_systemtime t = fields(1, 1, 1, 10, 20, 30, 123456);
    ole_variant v = ole_date(t).to_variant();
    EXPECT_EQ(v.get_vt(), VT_DATE);
    EXPECT_EQ(v.get_time(), t);

    ole_variant parsed = ole_date(std::string("31-jan-24 10:20:30.5")).to_variant();
    EXPECT_EQ(parsed.get_vt(), VT_DATE);
    EXPECT_EQ(parsed.get_time(), fields(2024, 1, 31, 10, 20, 30, 500000));
}

// The programs log at threshold 3, and dates are parsed and printed for
// every value of a row: below the threshold their traces must cost nothing,
// so nothing is written and no argument of the trace macros is evaluated.
class OleDateLog : public tk_test::logger_fixture {};

TEST_F(OleDateLog, TracesBelowTheThresholdAreNotEvaluated)
{
    tk_trace(3, "start");  // the first use empties the log; later calls test the level
    const std::string texts[] = {
        "20240131102030", "2024-01-31 10:20:30.25 PM", "31-jan-24 10:20:30.5", "1:2",
        "24-02-30",       "10:20:" + std::string(10000, '9'), std::string(10000, '-'),
    };
    for (const std::string& text : texts) {
        ole_date d(text);
        (void)d.is_valid();
        (void)d.to_string(true);
        (void)d.to_wstring(true);
        (void)ole_date(std::wstring(text.begin(), text.end())).to_variant();
    }
    (void)ole_date(fields(1, 1, 1, 10, 20, 30, 5)).to_string(true);

    int evaluated = 0;
    auto argument = [&] {
        ++evaluated;
        return std::string("argument");
    };
    TK_TRACE(1, "Got row sec: '%s'", argument());
    TK_TRACE(2, "Invalid date/time format: '%s'", argument());
    EXPECT_EQ(evaluated, 0);
    EXPECT_EQ(log_text(), "start\r\n");

    TK_TRACE(3, "%s", argument());
    EXPECT_EQ(evaluated, 1);
    EXPECT_EQ(log_text(), "start\r\nargument\r\n");
}
