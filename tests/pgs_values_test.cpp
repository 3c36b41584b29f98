#include "pgs_values.h"

#include "tk_exception.h"
#include "tk_unicode.h"

#include <gtest/gtest.h>

#include "test_support.h"

#include <cmath>
#include <limits>
#include <string>
#include <vector>

namespace {

std::string u8(const std::wstring& s) { return tk_wide_to_utf8(s); }

struct text_case {
    const char* what;
    std::wstring text;
    VARTYPE vt;
    std::uint32_t reserved;
    std::wstring copy_form;
    std::wstring sql_form;
};

TEST(PgsValues, ValueTextsInBothForms)
{
    const std::vector<text_case> cases = {
        {"apostrophe", L"O'Neil", VT_BSTR, 0, L"O'Neil", L"'O''Neil'"},
        {"integer", L"42", VT_I4, 0, L"42", L"42"},
        {"tab and backslash", L"a\tb\\c", VT_BSTR, 0, L"a\\\tb\\\\c", L"'a\tb\\c'"},
        {"carriage return kept", L"a\tb\nc\r", VT_BSTR, 0, L"a\\\tb\nc\r", L"'a\tb\nc\r'"},
        {"empty text", L"", VT_BSTR, 0, L"", L"''"},
        {"empty integer", L"", VT_I4, 0, L"\\N", L"NULL"},
        {"null type", L"x", VT_NULL, 0, L"\\N", L"NULL"},
        {"bool", L"1", VT_BOOL, 0, L"1", L"'1'"},
        {"hex bytes", L"0x00FF", VT_BYTE_ARRAY, 0, L"\\\\x00FF", L"DECODE('00FF','hex')"},
        {"blob hex bytes", L"0xab", VT_BLOB, 0, L"\\\\xab", L"DECODE('ab','hex')"},
        {"not hex", L"0y12", VT_BYTE_ARRAY, 0, L"", L"''"},
        {"hex without leading zero", L"1x00", VT_BYTE_ARRAY, 0, L"", L"''"},
        {"decimal digits are no byte text", L"1234", VT_BYTE_ARRAY, 0, L"", L"''"},
        {"zero date", L"0000-00-00", VT_DATE, 1, L"\\N", L"NULL"},
        {"zero date with a time", L"0000-00-00 10:00:00", VT_DATE, 1, L"\\N", L"NULL"},
        {"date only", L"2024-01-02 10:11:12", VT_DATE, 2, L"2024-01-02", L"'2024-01-02'"},
        {"time only", L"2024-01-02 10:11:12", VT_DATE, 3, L"10:11:12", L"'10:11:12'"},
        {"microseconds", L"2022-06-02 08:45:40.346906", VT_DATE, 1, L"2022-06-02 08:45:40.346906",
         L"'2022-06-02 08:45:40.346906'"},
        {"first day of year 1", L"0001-01-01 00:00:00", VT_DATE, 1, L"0001-01-01", L"'0001-01-01'"},
        // Before year 1, with the era the server reads.
        {"BC date and time", L"0044-03-15 12:30:00 BC", VT_DATE, 1, L"0044-03-15 12:30:00 BC",
         L"'0044-03-15 12:30:00 BC'"},
        {"last second of 1 BC", L"0001-12-31 23:59:59 BC", VT_DATE, 1, L"0001-12-31 23:59:59 BC",
         L"'0001-12-31 23:59:59 BC'"},
        {"BC at midnight", L"4712-01-01 00:00:00 BC", VT_DATE, 1, L"4712-01-01 BC", L"'4712-01-01 BC'"},
        {"BC date only", L"0044-03-15 12:30:00 BC", VT_DATE, 2, L"0044-03-15 BC", L"'0044-03-15 BC'"},
        {"BC time only", L"0044-03-15 12:30:00 BC", VT_DATE, 3, L"12:30:00", L"'12:30:00'"},
        // An instant: its UTC time and the zone, midnight included, whatever
        // zone the session reading it is in.
        {"instant", L"2024-03-10 07:30:00", VT_DATE, t_ftd::date_time_utc, L"2024-03-10 07:30:00+00",
         L"'2024-03-10 07:30:00+00'"},
        {"instant at midnight", L"2000-01-01 00:00:00", VT_DATE, t_ftd::date_time_utc, L"2000-01-01 00:00:00+00",
         L"'2000-01-01 00:00:00+00'"},
        {"instant of a date alone", L"2000-01-01", VT_DATE, t_ftd::date_time_utc, L"2000-01-01 00:00:00+00",
         L"'2000-01-01 00:00:00+00'"},
        {"instant with a fraction", L"2022-06-02 08:45:40.346906", VT_DATE, t_ftd::date_time_utc,
         L"2022-06-02 08:45:40.346906+00", L"'2022-06-02 08:45:40.346906+00'"},
        {"instant before year 1", L"0044-03-15 12:30:00 BC", VT_DATE, t_ftd::date_time_utc,
         L"0044-03-15 12:30:00+00 BC", L"'0044-03-15 12:30:00+00 BC'"},
        {"instant at midnight before year 1", L"0001-01-01 BC", VT_DATE, t_ftd::date_time_utc,
         L"0001-01-01 00:00:00+00 BC", L"'0001-01-01 00:00:00+00 BC'"},
        {"zero instant", L"0000-00-00", VT_DATE, t_ftd::date_time_utc, L"\\N", L"NULL"},
        {"infinity", L"Infinity", VT_R8, 0, L"Infinity", L"'Infinity'"},
        {"minus infinity", L"-Infinity", VT_R4, 0, L"-Infinity", L"'-Infinity'"},
        {"nan", L"NaN", VT_R8, 0, L"NaN", L"'NaN'"},
        {"float", L"1.5e+000", VT_R8, 0, L"1.5e+000", L"1.5e+000"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(u8(to_pgs_str(c.text, c.vt, c.reserved, pgs_copy_form)), u8(c.copy_form)) << c.what;
        EXPECT_EQ(u8(to_pgs_str(c.text, c.vt, c.reserved, pgs_sql_form)), u8(c.sql_form)) << c.what;
    }
}

TEST(PgsValues, InvalidDatesRaiseAtLevelZero)
{
    for (const std::wstring text : {L"2024-02-30", L"2024-01-02 24:00:00", L"not a date", L"0000-01-01 BC",
                                    L"10:20:30 BC"}) {
        for (pgs_form form : {pgs_copy_form, pgs_sql_form}) {
            try {
                to_pgs_str(text, VT_DATE, 1, form);
                ADD_FAILURE() << u8(text);
            } catch (const tk_exception& e) {
                EXPECT_EQ(e.level, 0);
                EXPECT_EQ(std::string(e.what()), "Invalid date value: '" + u8(text) + "'");
            }
        }
    }
}

t_ftd column(VARTYPE vt, const ole_variant& def, std::uint32_t size = 0, std::uint32_t reserved = 0)
{
    return t_ftd(size, L"c", vt, false, false, def, reserved);
}

TEST(PgsValues, DefaultValues)
{
    struct def_case {
        const char* what;
        t_ftd col;
        std::wstring expected;
    };
    const std::vector<def_case> cases = {
        {"leading zeros", column(VT_I4, L"007"), L""},
        {"plain integer", column(VT_I4, L"7"), L"7"},
        {"negative", column(VT_I4, L"-7"), L"-7"},
        {"plus sign", column(VT_I4, L"+7"), L""},
        {"blank", column(VT_I4, L" 7"), L""},
        {"beyond smallint", column(VT_I2, L"40000"), L""},
        {"beyond integer", column(VT_I4, L"3000000000"), L""},
        {"bigint of VT_UI4", column(VT_UI4, L"3000000000"), L"3000000000"},
        {"hostile integer", column(VT_I4, L"1); DROP TABLE t; --"), L""},
        {"bool 1", column(VT_BOOL, L"1"), L"'1'"},
        {"bool 5", column(VT_BOOL, L"5"), L""},
        {"64-bit column", column(VT_I8, L"5"), L""},
        {"real 0.0", column(VT_R8, L"0.0"), L"0.0"},
        {"real 0", column(VT_R8, L"0"), L"0"},
        {"real 1e3", column(VT_R8, L"1e3"), L"1e3"},
        {"real trimmed", column(VT_R4, L" 2.5 "), L"2.5"},
        {"decimal", column(VT_DECIMAL, L"-12.50"), L"-12.50"},
        {"hex float", column(VT_R8, L"0x1"), L""},
        {"trailing letters", column(VT_R8, L"1abc"), L""},
        {"hostile float", column(VT_R8, L"1); DROP TABLE t; --"), L""},
        {"identity sequence", column(VT_I4, L"\"SCOTT\".\"ISEQ$$_73512\".nextval"), L""},
        {"identity sequence of a number", column(VT_DECIMAL, L"\"SCOTT\".\"ISEQ$$_73512\".nextval"), L""},
        {"comma", column(VT_CY, L"0,0"), L""},
        {"lone exponent", column(VT_DECIMAL, L"e"), L""},
        {"inf", column(VT_R8, L"inf"), L""},
        {"nan", column(VT_R8, L"nan"), L""},
        {"text", column(VT_BSTR, L"O'Neil", 40), L"'O''Neil'"},
        {"text cut to size", column(VT_BSTR, L"O'Neil", 3), L"'O''N'"},
        {"hostile text", column(VT_BSTR, L"x'); DROP TABLE t; --", 40), L"'x''); DROP TABLE t; --'"},
        {"text keeps CR", column(VT_BSTR, L"a\rb", 10), L"'a\rb'"},
        {"current_timestamp", column(VT_DATE, L"current_timestamp"), L"current_timestamp"},
        {"date", column(VT_DATE, L"2024-01-02", 0, 2), L"'2024-01-02'"},
        {"BC date", column(VT_DATE, L"0044-03-15 BC", 0, 2), L"'0044-03-15 BC'"},
        {"BC timestamp", column(VT_DATE, L"0001-12-31 23:59:59 BC", 0, 1), L"'0001-12-31 23:59:59 BC'"},
        {"instant", column(VT_DATE, L"2024-03-10 07:30:00", 0, t_ftd::date_time_utc), L"'2024-03-10 07:30:00+00'"},
        {"instant at midnight", column(VT_DATE, L"2000-01-01 00:00:00", 0, t_ftd::date_time_utc),
         L"'2000-01-01 00:00:00+00'"},
        {"BC instant", column(VT_DATE, L"4712-01-01 BC", 0, t_ftd::date_time_utc), L"'4712-01-01 00:00:00+00 BC'"},
        {"invalid date", column(VT_DATE, L"2024-02-30"), L""},
        {"zero date", column(VT_DATE, L"0000-00-00"), L"NULL"},
        {"no default", column(VT_I4, ole_variant()), L""},
        {"binary", column(VT_BLOB, L"0x00"), L""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(u8(make_pgs_def_val(c.col)), u8(c.expected)) << c.what;
}

TEST(PgsValues, NativeTypes)
{
    struct type_case {
        VARTYPE vt;
        std::uint32_t size;
        std::uint32_t reserved;
        bool autoinc;
        std::wstring expected;
    };
    const std::vector<type_case> cases = {
        {VT_BSTR, 40, 0, false, L"VARCHAR(40) "},
        {VT_BSTR, 0, 0, false, L"TEXT"},
        {VT_BSTR, 40000, 0, false, L"TEXT"},
        {VT_BSTR, 32672, 0, false, L"VARCHAR(32672) "},
        {VT_LPWSTR, 10, 0, false, L"VARCHAR(10) "},
        {VT_I4, 0, 0, true, L"SERIAL"},
        {VT_BSTR, 10, 0, true, L"SERIAL"},
        {VT_I2, 0, 0, false, L"SMALLINT"},
        {VT_UI1, 0, 0, false, L"SMALLINT"},
        {VT_I4, 0, 0, false, L"INTEGER"},
        {VT_UI2, 0, 0, false, L"INTEGER"},
        {VT_UI4, 0, 0, false, L"BIGINT"},
        {VT_I8, 0, 0, false, L"BIGINT"},
        {VT_R4, 0, 0, false, L"REAL"},
        {VT_R8, 0, 0, false, L"DOUBLE PRECISION"},
        {VT_CY, 0, 0, false, L"DECIMAL(19, 4)"},
        {VT_DATE, 0, 1, false, L"TIMESTAMP"},
        {VT_DATE, 0, 2, false, L"DATE"},
        {VT_DATE, 0, 3, false, L"TIME"},
        {VT_BOOL, 0, 0, false, L"BOOLEAN"},
        {VT_BLOB, 0, 0, false, L"BYTEA"},
        {VT_DECIMAL, 0, 2562, false, L"DECIMAL(10,2)"},
        {VT_DECIMAL, 0, 0, false, L"NUMERIC"},
        {VT_DECIMAL, 0, 38u << 8, false, L"DECIMAL(38,0)"},
        {VT_DECIMAL, 0, (2u << 8) | 5u, false, L"DECIMAL(2,5)"},
        {VT_DECIMAL, 0, (10u << 8) | 0xFEu, false, L"DECIMAL(10,-2)"},
        {VT_DECIMAL, 0, t_ftd::encode_decimal(5, -84), false, L"DECIMAL(5,-84)"},
    };
    for (const auto& c : cases) {
        t_ftd col(c.size, L"c", c.vt, false, c.autoinc, ole_variant(), c.reserved);
        EXPECT_EQ(u8(pgs_get_native_type(col)), u8(c.expected)) << c.vt << " " << c.reserved;
    }
    try {
        pgs_get_native_type(t_ftd(0, L"odd", VT_NULL));
        ADD_FAILURE();
    } catch (const tk_exception& e) {
        EXPECT_EQ(e.level, 0);
        EXPECT_STREQ(e.what(), "Unsupported column type 1 for column 'odd'");
    }
}

TEST(PgsValues, CatalogueTypeNames)
{
    const std::vector<std::pair<const char*, VARTYPE>> cases = {
        {"bool", VT_BOOL}, {"boolean", VT_BOOL}, {"timestamp without time zone", VT_DATE}, {"date", VT_DATE},
        {"time without time zone", VT_DATE}, {"character varying", VT_BSTR}, {"\"char\"", VT_BSTR},
        {"character", VT_BSTR}, {"text", VT_BSTR}, {"bigint", VT_I8}, {"integer", VT_I4}, {"Integer", VT_BSTR},
        {"smallint", VT_I2}, {"float4", VT_R4}, {"real", VT_R8}, {"money", VT_R8}, {"double precision", VT_R8},
        {"numeric", VT_DECIMAL}, {"bytea", VT_BLOB}, {"uuid", VT_BSTR}, {"interval", VT_BSTR},
    };
    for (const auto& [name, vt] : cases)
        EXPECT_EQ(pgs_get_vartype(name), vt) << name;

    EXPECT_EQ(pgs_get_variant(VT_I4, nullptr).get_vt(), VT_EMPTY);
    EXPECT_EQ(pgs_get_variant(VT_BOOL, "false").get_bool(), -1);  // any text is true
    EXPECT_EQ(pgs_get_variant(VT_BOOL, "").get_bool(), 0);
    EXPECT_EQ(pgs_get_variant(VT_I4, "12").get_i4(), 12);
}

// The COPY field as the value text and the writer's own step make it: the
// reference the fast path must match byte for byte.
std::string reference_field(const udb_field& f, const t_ftd& col)
{
    const std::wstring v = to_pgs_str(f.to_wstring(), col.vartype, col.reserved, pgs_copy_form);
    if (col.vartype == VT_BSTR && col.b_not_null && v.empty())
        return "";
    if (f.get_vt() == VT_EMPTY || f.get_vt() == VT_NULL)
        return "\\N";
    std::wstring escaped;
    for (wchar_t c : v) {
        if (c == L'\r')
            escaped += L"\\r";
        else if (c == L'\n')
            escaped += L"\\n";
        else
            escaped.push_back(c);
    }
    return u8(escaped);
}

t_systemtime when(int y, int mo, int d, int h, int mi, int s, int us)
{
    return tk_test::systemtime(y, mo, d, h, mi, s, us);
}

TEST(PgsValues, FastCopyFieldsMatchTheReference)
{
    ole_decimal big;
    ASSERT_EQ(ole_decimal::parse("12345678901234567890123456789012345678", big), ole_number_status::ok);
    ole_decimal small;
    ASSERT_EQ(ole_decimal::parse("-0.00012", small), ole_number_status::ok);
    struct fast_case {
        const char* what;
        ole_variant value;
        VARTYPE col_vt;
        std::uint32_t reserved;
        bool not_null;
    };
    const std::vector<fast_case> cases = {
        {"text", ole_variant(L"O'Neil \u0436\u4e2d"), VT_BSTR, 0, false},
        {"escapes", ole_variant(L"a\tb\nc\r\\"), VT_BSTR, 0, false},
        {"lone surrogate", ole_variant(std::wstring(1, static_cast<wchar_t>(0xD800))), VT_BSTR, 0, false},
        {"empty text nullable", ole_variant(L""), VT_BSTR, 0, false},
        {"empty text not null", ole_variant(L""), VT_BSTR, 0, true},
        {"null in nullable text", ole_variant(), VT_BSTR, 0, false},
        {"null in not-null text", ole_variant(), VT_BSTR, 0, true},
        {"null in not-null integer", ole_variant(), VT_I4, 0, true},
        {"integer", ole_variant(-42), VT_I4, 0, false},
        {"int64", ole_variant(static_cast<long long>(-9000000000000000000LL)), VT_I8, 0, false},
        {"small", ole_variant(static_cast<short>(7)), VT_I2, 0, false},
        {"real 0.1", ole_variant(0.1f), VT_R4, 0, false},
        {"double 0.1", ole_variant(0.1), VT_R8, 0, false},
        {"double 1e300", ole_variant(1e300), VT_R8, 0, false},
        {"denormal", ole_variant(std::numeric_limits<double>::denorm_min()), VT_R8, 0, false},
        {"infinity", ole_variant(-std::numeric_limits<double>::infinity()), VT_R8, 0, false},
        {"nan", ole_variant(std::nan("")), VT_R8, 0, false},
        {"decimal", ole_variant(big), VT_DECIMAL, 0, false},
        {"small decimal", ole_variant(small), VT_DECIMAL, 0, false},
        {"currency", ole_variant(ole_cy::from_units(123456)), VT_CY, 0, false},
        {"true", ole_variant(true), VT_BOOL, 0, false},
        {"false", ole_variant(false), VT_BOOL, 0, false},
        {"datetime", ole_variant(when(2022, 6, 2, 8, 45, 40, 346906)), VT_DATE, 1, false},
        {"milliseconds", ole_variant(when(2022, 6, 2, 8, 45, 40, 346000)), VT_DATE, 1, false},
        {"midnight", ole_variant(when(2022, 6, 2, 0, 0, 0, 0)), VT_DATE, 1, false},
        {"date only", ole_variant(when(2022, 6, 2, 8, 45, 40, 0)), VT_DATE, 2, false},
        {"time only", ole_variant(when(2022, 6, 2, 8, 45, 40, 5)), VT_DATE, 3, false},
        {"time alone", ole_variant(when(0, 0, 0, 8, 45, 40, 0)), VT_DATE, 3, false},
        {"time alone in a timestamp", ole_variant(when(0, 0, 0, 8, 45, 40, 0)), VT_DATE, 1, false},
        {"zero date", ole_variant(when(0, 0, 0, 0, 0, 0, 0)), VT_DATE, 1, false},
        {"no kind", ole_variant(when(1999, 12, 31, 23, 59, 59, 0)), VT_DATE, 0, false},
        {"BC datetime", ole_variant(when(-44, 3, 15, 12, 30, 0, 0)), VT_DATE, 1, false},
        {"BC at midnight", ole_variant(when(-4712, 1, 1, 0, 0, 0, 0)), VT_DATE, 1, false},
        {"BC date only", ole_variant(when(-1, 12, 31, 23, 59, 59, 0)), VT_DATE, 2, false},
        {"instant", ole_variant(when(2024, 3, 10, 7, 30, 0, 0)), VT_DATE, t_ftd::date_time_utc, false},
        {"instant at midnight", ole_variant(when(2000, 1, 1, 0, 0, 0, 0)), VT_DATE, t_ftd::date_time_utc, false},
        {"instant with a fraction", ole_variant(when(2022, 6, 2, 8, 45, 40, 346906)), VT_DATE, t_ftd::date_time_utc,
         false},
        {"BC instant at midnight", ole_variant(when(-1, 1, 1, 0, 0, 0, 0)), VT_DATE, t_ftd::date_time_utc, false},
        {"text into an instant", ole_variant(L"2000-01-01 00:00:00"), VT_DATE, t_ftd::date_time_utc, false},
        {"BC text into a timestamp", ole_variant(L"0044-03-15 12:30:00 BC"), VT_DATE, 1, false},
        {"bytes", ole_variant(std::vector<std::uint8_t>{0x00, 0xFF, 0x1A}), VT_BLOB, 0, false},
    };
    for (const auto& c : cases) {
        udb_field f(L"c", 0, c.value);
        t_ftd col(0, L"c", c.col_vt, c.not_null, false, ole_variant(), c.reserved);
        std::string fast = "prefix|";
        pgs_append_copy_field(fast, f, col);
        EXPECT_EQ(fast, "prefix|" + reference_field(f, col)) << c.what;
    }
    // Only the empty byte array differs: the empty bytea, not NULL.
    udb_field empty_bytes(L"c", 0, ole_variant(std::vector<std::uint8_t>{}));
    t_ftd blob(0, L"c", VT_BLOB);
    std::string line;
    pgs_append_copy_field(line, empty_bytes, blob);
    EXPECT_EQ(line, "\\\\x");
    EXPECT_EQ(reference_field(empty_bytes, blob), "\\N");
    EXPECT_EQ(u8(to_pgs_str(empty_bytes)), "DECODE('','hex')");
}

// The COPY fields of dates as the server must read them: an instant says
// it is UTC, before the era of a date before year 1, also at midnight and
// when the value arrives as text.
TEST(PgsValues, CopyFieldsOfInstantsAndEarlyDates)
{
    struct copy_case {
        const char* what;
        ole_variant value;
        std::uint32_t reserved;
        const char* field;
    };
    const std::vector<copy_case> cases = {
        {"instant", ole_variant(when(2024, 3, 10, 7, 30, 0, 0)), t_ftd::date_time_utc, "2024-03-10 07:30:00+00"},
        {"instant at midnight", ole_variant(when(2000, 1, 1, 0, 0, 0, 0)), t_ftd::date_time_utc,
         "2000-01-01 00:00:00+00"},
        {"instant with a fraction", ole_variant(when(2022, 6, 2, 8, 45, 40, 346906)), t_ftd::date_time_utc,
         "2022-06-02 08:45:40.346906+00"},
        {"text of an instant", ole_variant(L"2024-07-01 20:00:00"), t_ftd::date_time_utc, "2024-07-01 20:00:00+00"},
        {"text of an instant at midnight", ole_variant(L"2000-01-01"), t_ftd::date_time_utc,
         "2000-01-01 00:00:00+00"},
        {"BC instant", ole_variant(when(-44, 3, 15, 12, 30, 0, 0)), t_ftd::date_time_utc,
         "0044-03-15 12:30:00+00 BC"},
        {"BC timestamp", ole_variant(when(-44, 3, 15, 12, 30, 0, 0)), t_ftd::date_and_time, "0044-03-15 12:30:00 BC"},
        {"BC midnight", ole_variant(when(-4712, 1, 1, 0, 0, 0, 0)), t_ftd::date_and_time, "4712-01-01 BC"},
        {"last second of 1 BC", ole_variant(when(-1, 12, 31, 23, 59, 59, 0)), t_ftd::date_and_time,
         "0001-12-31 23:59:59 BC"},
        {"BC date", ole_variant(when(-1, 12, 31, 23, 59, 59, 0)), t_ftd::date_only, "0001-12-31 BC"},
        {"first day of year 1", ole_variant(when(1, 1, 1, 0, 0, 0, 0)), t_ftd::date_and_time, "0001-01-01"},
        {"BC text", ole_variant(L"0001-01-01 BC"), t_ftd::date_only, "0001-01-01 BC"},
    };
    for (const copy_case& c : cases) {
        udb_field f(L"c", 0, c.value);
        t_ftd col(0, L"c", VT_DATE, false, false, ole_variant(), c.reserved);
        std::string line;
        pgs_append_copy_field(line, f, col);
        EXPECT_EQ(line, c.field) << c.what;
    }
}

TEST(PgsValues, FastCopyFieldRefusesInvalidDates)
{
    t_ftd col(0, L"c", VT_DATE, false, false, ole_variant(), 1);
    for (const t_systemtime& t : {when(2024, 2, 30, 0, 0, 0, 0), when(2024, 1, 2, 24, 0, 0, 0),
                                  when(-101, 2, 29, 0, 0, 0, 0), when(-4714, 1, 1, 0, 0, 0, 0)}) {
        udb_field f(L"c", 0, ole_variant(t));
        std::string line;
        try {
            pgs_append_copy_field(line, f, col);
            ADD_FAILURE() << line;
        } catch (const tk_exception& e) {
            EXPECT_EQ(e.level, 0);
            EXPECT_EQ(std::string(e.what()).rfind("Invalid date value: '", 0), 0u) << e.what();
        }
    }
}

// A text kept as UTF-8 gives the COPY bytes of the same text in wide
// characters, in one line and in pieces, for text columns and the others.
TEST(PgsValues, CompactTextCopiesAsWideText)
{
    const std::string mixed = "caf\xC3\xA9 \\ tab\t cr\r lf\n \xE2\x82\xAC \xF0\x9F\x98\x80;";
    std::string long_text;
    while (long_text.size() < 200000)
        long_text += mixed;
    const std::string texts[] = {"", "plain", mixed, long_text, std::string("before\0after", 12),
                                 "2024-03-10 07:30:00"};
    struct column_case {
        const char* what;
        VARTYPE vt;
        bool not_null;
        std::uint32_t reserved;
    };
    const column_case columns[] = {
        {"text", VT_BSTR, false, 0},
        {"text not null", VT_BSTR, true, 0},
        {"number", VT_I4, false, 0},
        {"date", VT_DATE, false, 1},
        {"bytea", VT_BLOB, false, 0},
    };
    // The line with every large value written in pieces where it stands.
    auto line_of = [](const udb_field& f, const t_ftd& col, bool in_pieces) {
        std::string line = "1\t";
        std::vector<pgs_copy_large_value> large;
        pgs_append_copy_field(line, f, col, in_pieces ? &large : nullptr);
        line += "\t2";
        std::string out;
        std::size_t sent = 0;
        for (const pgs_copy_large_value& v : large) {
            out.append(line, sent, v.at - sent);
            sent = v.at;
            std::string piece;
            pgs_write_copy_value(*v.field, 1000, piece, [&](std::string& p) {
                EXPECT_LE(p.size(), 1002u);
                out += p;
                p.clear();
            });
        }
        out.append(line, sent, std::string::npos);
        return out;
    };
    for (const std::string& t : texts) {
        ole_variant compact;
        compact.attach_utf8(std::string(t));
        const std::wstring wide_text = tk_utf8_to_wide(t);
        const udb_field small(L"c", 0, compact);
        const udb_field wide(L"c", 0, ole_variant(wide_text));
        ASSERT_TRUE(small.is_compact_text());
        for (const column_case& c : columns) {
            SCOPED_TRACE(std::string(c.what) + ", " + std::to_string(t.size()) + " bytes");
            t_ftd col(0, L"c", c.vt, c.not_null, false, ole_variant(), c.reserved);
            for (bool in_pieces : {false, true}) {
                std::string want;
                try {
                    want = line_of(wide, col, in_pieces);
                } catch (const tk_exception& e) {
                    want = std::string("raised ") + e.what();
                }
                std::string got;
                try {
                    got = line_of(small, col, in_pieces);
                } catch (const tk_exception& e) {
                    got = std::string("raised ") + e.what();
                }
                EXPECT_EQ(got, want) << in_pieces;
            }
        }
    }
}

}  // namespace
