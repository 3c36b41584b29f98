// The value carrier: the texts the writer sends to the server, reading
// values back from text, and the changes of type.
#include "ole_variant.h"
#include "test_support.h"
#include "tk_exception.h"
#include "tk_logger.h"

#include <gtest/gtest.h>

#include <bit>
#include <cfloat>
#include <clocale>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

namespace {

const std::string forty_digits = "1234567890123456789012345678901234567890";

using tk_test::systemtime;

t_systemtime fields(int y, int mo, int d, int h = 0, int mi = 0, int s = 0, int us = 0)
{
    return systemtime(y, mo, d, h, mi, s, us);
}

ole_variant cy(std::int64_t units) { return ole_variant(ole_cy::from_units(units)); }

ole_variant dec(const std::string& text)
{
    ole_decimal d;
    EXPECT_EQ(ole_decimal::parse(text, d), ole_number_status::ok) << text;
    return ole_variant(d);
}

ole_variant i8(long long v) { return ole_variant(v); }
ole_variant ui8(unsigned long long v) { return ole_variant(v); }
ole_variant bytes(std::vector<std::uint8_t> b) { return ole_variant(std::move(b)); }
ole_variant text(const std::string& utf8) { return ole_variant(utf8); }
ole_variant typed(const std::string& t, VARTYPE type) { return ole_variant::from_string(t, type); }

ole_variant null_value()
{
    ole_variant v;
    v.set_null();
    return v;
}

// The printed text, except for VT_INT and VT_UINT, which print nothing and
// are shown by their value.
std::string describe(const ole_variant& v)
{
    if (v.get_vt() == VT_INT)
        return std::to_string(v.get_int());
    if (v.get_vt() == VT_UINT)
        return std::to_string(v.get_uint());
    return v.to_string();
}

template <typename F>
auto bits(F v)
{
    if constexpr (sizeof(F) == 4)
        return std::bit_cast<std::uint32_t>(v);
    else
        return std::bit_cast<std::uint64_t>(v);
}

}  // namespace

TEST(OleVariant, ToStringTexts)
{
    struct row {
        const char* name;
        ole_variant value;
        std::string expected;
    };
    const row rows[] = {
        {"empty", ole_variant(), ""},
        {"null", null_value(), ""},
        {"int 42", ole_variant(42), "42"},
        {"int64 -5", i8(-5), "-5"},
        {"I1 min", ole_variant(static_cast<signed char>(-128)), "-128"},
        {"UI1 max", ole_variant(static_cast<unsigned char>(255)), "255"},
        {"I2 min", ole_variant(static_cast<short>(-32768)), "-32768"},
        {"UI2 max", ole_variant(static_cast<unsigned short>(65535)), "65535"},
        {"I4 min", ole_variant(std::numeric_limits<int>::min()), "-2147483648"},
        {"UI4 max", ole_variant(4294967295u), "4294967295"},
        {"I8 min", i8(std::numeric_limits<long long>::min()), "-9223372036854775808"},
        {"UI8 max", ui8(std::numeric_limits<unsigned long long>::max()), "18446744073709551615"},
        // Shortest round-trip digits; the old "%.16e" and "%.6e" texts were
        // 1.0000000000000001e-001, 1.5000000000000000e+000 and 1.500000e+000.
        {"R8 0.1", ole_variant(0.1), "1e-001"},
        {"R8 1.5", ole_variant(1.5), "1.5e+000"},
        {"R4 1.5", ole_variant(1.5f), "1.5e+000"},
        {"R4 16777215", ole_variant(16777215.0f), "1.6777215e+007"},  // was 1.677722e+007
        {"R8 1e300", ole_variant(1e300), "1e+300"},
        {"R8 123.456", ole_variant(123.456), "1.23456e+002"},
        {"R8 5e-324", ole_variant(5e-324), "5e-324"},
        {"R8 -0", ole_variant(-0.0), "-0e+000"},
        // PostgreSQL's spellings, not the platform's 1.#INF texts.
        {"R8 inf", ole_variant(HUGE_VAL), "Infinity"},
        {"R8 -inf", ole_variant(-HUGE_VAL), "-Infinity"},
        {"R8 NaN", ole_variant(std::nan("")), "NaN"},
        {"R4 -inf", ole_variant(-HUGE_VALF), "-Infinity"},
        {"R4 NaN", ole_variant(std::nanf("")), "NaN"},
        {"BOOL true", ole_variant(true), "1"},
        {"BOOL false", ole_variant(false), "0"},
        {"CY 5.0000", cy(50000), "5"},
        {"CY 12.34", cy(123400), "12.34"},
        {"CY -0.0005", cy(-5), "-0.0005"},
        {"DECIMAL 12.34", dec("12.34"), "12.34"},
        {"DECIMAL -0.5", dec("-0.50"), "-0.5"},
        {"DECIMAL 1E-130", dec("1E-130"), "0." + std::string(129, '0') + "1"},
        {"DECIMAL 40 digits", dec(forty_digits), forty_digits},
        {"DECIMAL 0", dec("-0.000"), "0"},
        {"bytes", bytes({0x01, 0xAB}), "0x01AB"},
        {"empty bytes", bytes({}), ""},
        {"BSTR", text("abc"), "abc"},
        {"BSTR to its NUL", ole_variant(std::wstring(L"ab\0c", 4)), "ab"},
        {"BSTR non-ASCII", ole_variant(std::wstring(L"\u00e9\u20ac\U0001F600")),
         "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"},
        {"date and time", ole_variant(fields(2024, 1, 31, 10, 20, 30, 250000)), "2024-01-31 10:20:30.250"},
        {"date at midnight", ole_variant(fields(2024, 1, 31)), "2024-01-31"},
        {"time alone", ole_variant(fields(0, 0, 0, 10, 20, 30)), "0000-00-00 10:20:30"},
        {"microseconds", ole_variant(fields(2024, 1, 31, 10, 20, 30, 123456)), "2024-01-31 10:20:30.123456"},
        {"year 1", ole_variant(fields(1, 1, 1)), "0001-01-01"},
        {"year 9999", ole_variant(fields(9999, 12, 31, 23, 59, 59, 999999)), "9999-12-31 23:59:59.999999"},
        {"VT_INT", typed("5", VT_INT), ""},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.name);
        EXPECT_EQ(r.value.to_string(), r.expected);
        std::string appended = "x";
        r.value.append_string(appended);
        EXPECT_EQ(appended, "x" + r.expected);
    }

    EXPECT_EQ(ole_variant(std::wstring(L"ab\0c", 4)).to_wstring(), L"ab");
    EXPECT_EQ(ole_variant(std::wstring(L"\u00e9")).to_wstring(), L"\u00e9");
    EXPECT_EQ(ole_variant(42).to_wstring(), L"42");
    EXPECT_EQ(dec("-1.5").to_wstring(), L"-1.5");
    EXPECT_EQ(ole_variant(fields(0, 0, 0, 10, 20, 30)).to_wstring(), L"0000-00-00 10:20:30");
}

// The numbers' texts come from std::to_chars, which no locale reaches. The
// test needs a locale with a decimal comma installed on the machine.
TEST(OleVariant, TextsIgnoreTheProcessLocale)
{
    const char* candidates[] = {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "fr_FR.utf8", "ru_RU.UTF-8", "nl_NL.UTF-8"};
    const char* chosen = nullptr;
    for (const char* name : candidates)
        if (std::setlocale(LC_ALL, name)) {
            chosen = name;
            break;
        }
    if (!chosen)
        GTEST_SKIP() << "no locale with a decimal comma is installed";
    const bool comma = std::localeconv()->decimal_point[0] == ',';
    const std::string texts[] = {cy(123400).to_string(), dec("12.34").to_string(), ole_variant(1.5).to_string(),
                                 typed("1,5", VT_R8).to_string(), typed("12,34", VT_CY).to_string()};
    std::setlocale(LC_ALL, "C");
    EXPECT_TRUE(comma) << chosen;
    EXPECT_EQ(texts[0], "12.34");
    EXPECT_EQ(texts[1], "12.34");
    EXPECT_EQ(texts[2], "1.5e+000");
    EXPECT_EQ(texts[3], "1.5e+000");
    EXPECT_EQ(texts[4], "12.34");
}

TEST(OleVariant, FromStringReadsEachType)
{
    struct row {
        std::string text;
        VARTYPE type;
        VARTYPE vt;
        std::string expected;
    };
    const row rows[] = {
        // Byte arrays from hexadecimal text.
        {"0x01ab", VT_BYTE_ARRAY, VT_BYTE_ARRAY, "0x01AB"},
        {"01ab", VT_BYTE_ARRAY, VT_BYTE_ARRAY, "0x01AB"},
        {"0X01AB", VT_BLOB, VT_BYTE_ARRAY, "0x01AB"},
        {"0x", VT_BYTE_ARRAY, VT_BYTE_ARRAY, ""},
        {"0x1", VT_BYTE_ARRAY, VT_EMPTY, ""},  // odd length
        {"", VT_BYTE_ARRAY, VT_EMPTY, ""},
        // A pair that is not two hexadecimal digits used to give 0 or half a
        // byte; now the value is refused.
        {"0x0G", VT_BYTE_ARRAY, VT_EMPTY, ""},
        {"zz", VT_BYTE_ARRAY, VT_EMPTY, ""},
        {"1x00", VT_BYTE_ARRAY, VT_EMPTY, ""},
        {"0xG0", VT_BLOB, VT_EMPTY, ""},
        // Booleans.
        {"TRUE", VT_BOOL, VT_BOOL, "1"},
        {"yes", VT_BOOL, VT_BOOL, "1"},
        {"No", VT_BOOL, VT_BOOL, "0"},
        {"FALSE", VT_BOOL, VT_BOOL, "0"},
        {"2", VT_BOOL, VT_BOOL, "1"},
        {"-1", VT_BOOL, VT_BOOL, "1"},
        {"0", VT_BOOL, VT_BOOL, "0"},
        {"abc", VT_BOOL, VT_BOOL, "0"},
        {"99999999999999999999", VT_BOOL, VT_BOOL, "1"},
        // Floating values, read as strtod reads them in the C locale.
        {"1,5", VT_R8, VT_R8, "1.5e+000"},
        {" -2.5e3xyz", VT_R8, VT_R8, "-2.5e+003"},
        {"abc", VT_R8, VT_R8, "0e+000"},
        {"1e-400", VT_R8, VT_R8, "0e+000"},  // below the range: zero
        {"Infinity", VT_R8, VT_R8, "Infinity"},
        {"-Infinity", VT_R8, VT_R8, "-Infinity"},
        {"NaN", VT_R8, VT_R8, "NaN"},
        {"inf", VT_R4, VT_R4, "Infinity"},
        {"16777215", VT_R4, VT_R4, "1.6777215e+007"},
        {"3.4028235e38", VT_R4, VT_R4, "3.4028235e+038"},
        // Currency and decimal.
        {"12,34", VT_CY, VT_CY, "12.34"},
        {" -0,5 ", VT_CY, VT_CY, "-0.5"},
        {"2.00005", VT_CY, VT_CY, "2"},  // half to even at four places
        {"1e2", VT_CY, VT_CY, "100"},
        {"abc", VT_CY, VT_EMPTY, ""},
        {"922337203685477.5808", VT_CY, VT_EMPTY, ""},
        {"1,5", VT_DECIMAL, VT_DECIMAL, "1.5"},
        {"-1.50E-3", VT_DECIMAL, VT_DECIMAL, "-0.0015"},
        {"abc", VT_DECIMAL, VT_EMPTY, ""},
        // Integers, read as strtoll reads them.
        {"", VT_I4, VT_EMPTY, ""},
        {" 42abc", VT_I4, VT_I4, "42"},
        {"abc", VT_I4, VT_I4, "0"},
        {"+7", VT_I2, VT_I2, "7"},
        {"-0", VT_UI4, VT_UI4, "0"},
        {"255", VT_UI1, VT_UI1, "255"},
        {"-5", VT_I8, VT_I8, "-5"},
        {"18446744073709551615", VT_UI8, VT_UI8, "18446744073709551615"},
        {std::string("12\0" "99", 5), VT_I4, VT_I4, "12"},  // the text ends at its NUL
        // VT_INT and VT_UINT go through the change of type.
        {"12", VT_INT, VT_INT, "12"},
        {" 4294967295 ", VT_UINT, VT_UINT, "4294967295"},
        // Dates.
        {"2024-01-31 10:20:30.25", VT_DATE, VT_DATE, "2024-01-31 10:20:30.250"},
        {"31-JAN-2024", VT_DATE, VT_DATE, "2024-01-31"},
        {"10:20", VT_DATE, VT_DATE, "0000-00-00 10:20:00"},
        {"24-02-30", VT_DATE, VT_EMPTY, ""},
        {"0001-01-01 00:00:00.000001", VT_DATE, VT_DATE, "0001-01-01 00:00:00.000001"},
        {"9999-12-31 23:59:59.999999", VT_DATE, VT_DATE, "9999-12-31 23:59:59.999999"},
        {"10000-01-01", VT_DATE, VT_EMPTY, ""},
        {"0044-03-15 12:30:00.000001 BC", VT_DATE, VT_DATE, "0044-03-15 12:30:00.000001 BC"},
        {"4712-01-01 BC", VT_DATE, VT_DATE, "4712-01-01 BC"},
        {"-0044-03-15", VT_DATE, VT_EMPTY, ""},
        // Text.
        {"", VT_BSTR, VT_BSTR, ""},
        {"hello", VT_BSTR, VT_BSTR, "hello"},
        {"\xC3\xA9", VT_BSTR, VT_BSTR, "\xC3\xA9"},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.text + " as " + std::to_string(r.type));
        const ole_variant v = ole_variant::from_string(r.text, r.type);
        EXPECT_EQ(v.get_vt(), r.vt);
        EXPECT_EQ(describe(v), r.expected);
    }

    EXPECT_EQ(typed("0x01ab", VT_BYTE_ARRAY).get_bytes(), (std::vector<std::uint8_t>{0x01, 0xAB}));
    EXPECT_EQ(typed("", VT_BSTR).get_bstr(), L"");

    // Types that only a change of type reaches raise the type failure.
    EXPECT_THROW(typed("abc", VT_INT), ole_type_exception);
    EXPECT_THROW(typed("12", VT_NULL), ole_type_exception);
    EXPECT_THROW(typed("12", VT_ERROR), ole_type_exception);
}

TEST(OleVariant, FromWstring)
{
    const ole_variant s = ole_variant::from_wstring(std::wstring(L"\u00e9a\0b", 4), VT_BSTR);
    EXPECT_EQ(s.get_vt(), VT_BSTR);
    EXPECT_EQ(s.get_bstr(), L"\u00e9a");
    EXPECT_EQ(ole_variant::from_wstring(L"", VT_BSTR).get_vt(), VT_BSTR);
    EXPECT_EQ(ole_variant::from_wstring(L"1,5", VT_R8).get_r8(), 1.5);
    EXPECT_EQ(ole_variant::from_wstring(L"-12", VT_I4).get_i4(), -12);
    EXPECT_EQ(ole_variant::from_wstring(L"", VT_I4).get_vt(), VT_EMPTY);
    EXPECT_EQ(ole_variant::from_wstring(L"31-jan-24 10:20:30.5", VT_DATE).to_string(), "2024-01-31 10:20:30.500");
}

// Values that do not fit their type used to be narrowed to their low bits
// ("70000" as I2 gave 4464) or wrapped ("-1" as UI4).
TEST(OleVariant, IntegerRangeIsChecked)
{
    struct row {
        std::string text;
        VARTYPE type;
        bool fits;
    };
    const row rows[] = {
        {"70000", VT_I2, false},
        {"99999999999", VT_I4, false},
        {"-1", VT_UI4, false},
        {"-1", VT_UI8, false},
        {"128", VT_I1, false},
        {"-129", VT_I1, false},
        {"256", VT_UI1, false},
        {"-32769", VT_I2, false},
        {"65536", VT_UI2, false},
        {"4294967296", VT_UI4, false},
        {"9223372036854775808", VT_I8, false},
        {"-9223372036854775809", VT_I8, false},
        {"18446744073709551616", VT_UI8, false},
        {"127", VT_I1, true},
        {"-128", VT_I1, true},
        {"255", VT_UI1, true},
        {"32767", VT_I2, true},
        {"-32768", VT_I2, true},
        {"65535", VT_UI2, true},
        {"2147483647", VT_I4, true},
        {"-2147483648", VT_I4, true},
        {"4294967295", VT_UI4, true},
        {"9223372036854775807", VT_I8, true},
        {"-9223372036854775808", VT_I8, true},
        {"18446744073709551615", VT_UI8, true},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.text + " as " + std::to_string(r.type));
        if (r.fits) {
            const ole_variant v = typed(r.text, r.type);
            EXPECT_EQ(v.get_vt(), r.type);
            EXPECT_EQ(v.to_string(), r.text);
        } else {
            EXPECT_THROW(typed(r.text, r.type), ole_cast_exception);
        }
    }
}

// Each change either gives the expected value or raises the cast failure
// and leaves the value as it was.
struct change_row {
    const char* name;
    ole_variant source;
    VARTYPE target;
    bool ok;
    VARTYPE vt;  // the resulting type
    std::string text;
};

void expect_changes(const std::vector<change_row>& rows)
{
    for (const change_row& r : rows) {
        SCOPED_TRACE(r.name);
        ole_variant v = r.source;
        if (r.ok) {
            ASSERT_NO_THROW(v.change_type(r.target));
            EXPECT_EQ(v.get_vt(), r.vt);
            EXPECT_EQ(describe(v), r.text);
        } else {
            const std::string before = describe(v);
            EXPECT_THROW(v.change_type(r.target), ole_cast_exception);
            EXPECT_EQ(v.get_vt(), r.source.get_vt());
            EXPECT_EQ(describe(v), before);
        }
    }
}

// Out-of-range conversions from floating values used to be undefined (x86
// gave INT64_MIN), and I8 times 10000 wrapped into the currency.
TEST(OleVariant, ChangeTypeChecksTheRange)
{
    const double nan = std::nan("");
    expect_changes({
        {"I8 5000000000 -> I4", i8(5000000000LL), VT_I4, false, 0, ""},
        {"I8 2147483647 -> I4", i8(2147483647LL), VT_I4, true, VT_I4, "2147483647"},
        {"I8 -2147483648 -> I4", i8(-2147483648LL), VT_I4, true, VT_I4, "-2147483648"},
        {"I8 -129 -> I1", i8(-129), VT_I1, false, 0, ""},
        {"I8 -1 -> UINT", i8(-1), VT_UINT, false, 0, ""},
        {"UI8 65535 -> UI2", ui8(65535), VT_UI2, true, VT_UI2, "65535"},
        {"R8 40000.4 -> I2", ole_variant(40000.4), VT_I2, false, 0, ""},
        {"R8 32767.4 -> I2", ole_variant(32767.4), VT_I2, true, VT_I2, "32767"},
        {"R8 32767.5 -> I2", ole_variant(32767.5), VT_I2, false, 0, ""},
        {"R8 -32768.4 -> I2", ole_variant(-32768.4), VT_I2, true, VT_I2, "-32768"},
        {"R8 4294967295.4 -> UI4", ole_variant(4294967295.4), VT_UI4, true, VT_UI4, "4294967295"},
        {"R8 -0.6 -> UI2", ole_variant(-0.6), VT_UI2, false, 0, ""},
        {"R8 NaN -> I4", ole_variant(nan), VT_I4, false, 0, ""},
        {"R8 1e19 -> I8", ole_variant(1e19), VT_I8, false, 0, ""},
        {"R8 -1e19 -> I8", ole_variant(-1e19), VT_I8, false, 0, ""},
        {"R8 NaN -> I8", ole_variant(nan), VT_I8, false, 0, ""},
        {"R8 inf -> UI8", ole_variant(HUGE_VAL), VT_UI8, false, 0, ""},
        {"R8 2^63 -> I8", ole_variant(9223372036854775808.0), VT_I8, false, 0, ""},
        {"R8 -2^63 -> I8", ole_variant(-9223372036854775808.0), VT_I8, true, VT_I8, "-9223372036854775808"},
        {"R8 9.2e18 -> I8", ole_variant(9.2e18), VT_I8, true, VT_I8, "9200000000000000000"},
        {"R8 1.8e19 -> UI8", ole_variant(1.8e19), VT_UI8, true, VT_UI8, "18000000000000000000"},
        {"I8 max -> CY", i8(std::numeric_limits<long long>::max()), VT_CY, false, 0, ""},
        {"UI8 max -> CY", ui8(std::numeric_limits<unsigned long long>::max()), VT_CY, false, 0, ""},
        {"I8 922337203685477 -> CY", i8(922337203685477LL), VT_CY, true, VT_CY, "922337203685477"},
        {"I8 -922337203685477 -> CY", i8(-922337203685477LL), VT_CY, true, VT_CY, "-922337203685477"},
        {"I8 -922337203685478 -> CY", i8(-922337203685478LL), VT_CY, false, 0, ""},
        {"R8 9.3e14 -> CY", ole_variant(9.3e14), VT_CY, false, 0, ""},
        {"R8 922337203685477.5 -> CY", ole_variant(922337203685477.5), VT_CY, true, VT_CY, "922337203685477.5"},
        {"DECIMAL 1E15 -> CY", dec("1E15"), VT_CY, false, 0, ""},
    });
}

// The cases the original behaviour listed.
TEST(OleVariant, ChangeTypeKnownCases)
{
    expect_changes({
        {"R8 2.5 -> I4", ole_variant(2.5), VT_I4, true, VT_I4, "3"},
        {"R8 -2.5 -> I4", ole_variant(-2.5), VT_I4, true, VT_I4, "-3"},
        {"BSTR 12 -> I4 stays text", text("12"), VT_I4, true, VT_BSTR, "12"},
        {"I8 5 -> CY", i8(5), VT_CY, true, VT_CY, "5"},
        {"CY 5.0000 -> I8", cy(50000), VT_I8, true, VT_I8, "5"},
        {"CY 2.5 -> I8", cy(25000), VT_I8, true, VT_I8, "3"},
        {"CY -2.5 -> I8", cy(-25000), VT_I8, true, VT_I8, "-2"},
        {"CY -2.7 -> I8", cy(-27000), VT_I8, true, VT_I8, "-2"},
        {"date -> BSTR", ole_variant(fields(2024, 1, 31, 10, 20, 30, 250000)), VT_BSTR, true, VT_BSTR,
         "2024-01-31 10:20:30.250"},
        {"date -> I4", ole_variant(fields(2024, 1, 31)), VT_I4, false, 0, ""},
        {"EMPTY -> I4", ole_variant(), VT_I4, true, VT_EMPTY, ""},
        {"EMPTY -> BSTR", ole_variant(), VT_BSTR, true, VT_EMPTY, ""},
        {"NULL -> R8", null_value(), VT_R8, true, VT_NULL, ""},
    });

    ole_variant v = i8(5);
    v.change_type(VT_CY);
    EXPECT_EQ(v.get_cy().units, 50000);
    v.change_type(VT_I8);
    EXPECT_EQ(v.get_int64(), 5);
}

// One group of rows per rule of the conversion table.
TEST(OleVariant, ChangeTypeTable)
{
    const ole_variant invalid_utf8 = bytes({'a', 0xFF});
    expect_changes({
        // Integer targets and their rounding.
        {"R4 2.5 -> I4 half away", ole_variant(2.5f), VT_I4, true, VT_I4, "3"},
        {"R8 2.7 -> I8 truncates", ole_variant(2.7), VT_I8, true, VT_I8, "2"},
        {"R8 -2.7 -> I8 truncates", ole_variant(-2.7), VT_I8, true, VT_I8, "-2"},
        {"R8 -0.5 -> UI8 truncates", ole_variant(-0.5), VT_UI8, true, VT_UI8, "0"},
        {"R8 2.5 -> I1 half even", ole_variant(2.5), VT_I1, true, VT_I1, "2"},
        {"R8 3.5 -> I1 half even", ole_variant(3.5), VT_I1, true, VT_I1, "4"},
        {"R4 -2.5 -> INT half even", ole_variant(-2.5f), VT_INT, true, VT_INT, "-2"},
        {"R8 300.2 -> UI1", ole_variant(300.2), VT_UI1, false, 0, ""},
        {"CY 2.5 -> UI1 half even", cy(25000), VT_UI1, true, VT_UI1, "2"},
        {"CY 3.5 -> I1 half even", cy(35000), VT_I1, true, VT_I1, "4"},
        {"CY -2.5 -> I1 half even", cy(-25000), VT_I1, true, VT_I1, "-2"},
        {"CY 2.4999 -> I8", cy(24999), VT_I8, true, VT_I8, "2"},
        {"CY 2.5 -> UI8", cy(25000), VT_UI8, true, VT_UI8, "3"},
        {"DECIMAL 2.5 -> I4 half even", dec("2.5"), VT_I4, true, VT_I4, "2"},
        {"DECIMAL -3.5 -> I2 half even", dec("-3.5"), VT_I2, true, VT_I2, "-4"},
        {"DECIMAL 2.5 -> I8 half even", dec("2.5"), VT_I8, true, VT_I8, "2"},
        {"DECIMAL 1E20 -> UI8", dec("1E20"), VT_UI8, false, 0, ""},
        {"DECIMAL 70000 -> UI2", dec("70000"), VT_UI2, false, 0, ""},
        {"DECIMAL -0.4 -> UI4", dec("-0.4"), VT_UI4, true, VT_UI4, "0"},
        {"DECIMAL 255.5 -> UI1", dec("255.5"), VT_UI1, false, 0, ""},
        {"I4 300 -> UI1", ole_variant(300), VT_UI1, false, 0, ""},
        {"I4 255 -> UI1", ole_variant(255), VT_UI1, true, VT_UI1, "255"},
        {"I4 -1 -> UI8", ole_variant(-1), VT_UI8, false, 0, ""},
        {"I2 -5 -> I8", ole_variant(static_cast<short>(-5)), VT_I8, true, VT_I8, "-5"},
        {"UI4 max -> I8", ole_variant(4294967295u), VT_I8, true, VT_I8, "4294967295"},
        {"BOOL true -> I8", ole_variant(true), VT_I8, true, VT_I8, "-1"},
        // Kept: I2, UI2, I4 and UI4 take only floating values and decimals.
        {"I1 5 -> I4 keeps the value", ole_variant(static_cast<signed char>(5)), VT_I4, true, VT_I1, "5"},
        // Between the two 64-bit types: the value, when the other type holds it.
        {"I8 5 -> UI8", i8(5), VT_UI8, true, VT_UI8, "5"},
        {"I8 -1 -> UI8", i8(-1), VT_UI8, false, 0, ""},
        {"UI8 2^63 -> I8", ui8(9223372036854775808ULL), VT_I8, false, 0, ""},
        {"UI8 2^63-1 -> I8", ui8(9223372036854775807ULL), VT_I8, true, VT_I8, "9223372036854775807"},
        // From the 64-bit types.
        {"I8 2^53+1 -> R8", i8(9007199254740993LL), VT_R8, true, VT_R8, "9.007199254740992e+015"},
        {"UI8 max -> R4", ui8(std::numeric_limits<unsigned long long>::max()), VT_R4, true, VT_R4,
         "1.8446744e+019"},
        {"I8 7 -> BOOL", i8(7), VT_BOOL, true, VT_BOOL, "1"},
        {"I8 0 -> BOOL", i8(0), VT_BOOL, true, VT_BOOL, "0"},
        {"I8 -5 -> BSTR", i8(-5), VT_BSTR, true, VT_BSTR, "-5"},
        {"I8 min -> DECIMAL", i8(std::numeric_limits<long long>::min()), VT_DECIMAL, true, VT_DECIMAL,
         "-9223372036854775808"},
        {"UI8 max -> DECIMAL", ui8(std::numeric_limits<unsigned long long>::max()), VT_DECIMAL, true, VT_DECIMAL,
         "18446744073709551615"},
        {"I8 -> DATE", i8(1), VT_DATE, false, 0, ""},
        // To the currency: exact, or half to even at four places.
        {"I4 7 -> CY", ole_variant(7), VT_CY, true, VT_CY, "7"},
        {"R8 2.00005 -> CY", ole_variant(2.00005), VT_CY, true, VT_CY, "2"},
        {"R8 2.00015 -> CY", ole_variant(2.00015), VT_CY, true, VT_CY, "2.0002"},
        {"R4 0.1 -> CY", ole_variant(0.1f), VT_CY, true, VT_CY, "0.1"},
        {"R8 NaN -> CY", ole_variant(std::nan("")), VT_CY, false, 0, ""},
        {"DECIMAL 1.23455 -> CY", dec("1.23455"), VT_CY, true, VT_CY, "1.2346"},
        {"DECIMAL beyond -> CY", dec("922337203685477.5808"), VT_CY, false, 0, ""},
        {"BSTR 12,34 -> CY", text("12,34"), VT_CY, true, VT_CY, "12.34"},
        {"BSTR 12,34x -> CY", text("12,34x"), VT_CY, false, 0, ""},
        // To the decimal: exact, floating values by their shortest digits.
        {"I2 -7 -> DECIMAL", ole_variant(static_cast<short>(-7)), VT_DECIMAL, true, VT_DECIMAL, "-7"},
        {"CY 1.5 -> DECIMAL", cy(15000), VT_DECIMAL, true, VT_DECIMAL, "1.5"},
        {"R8 0.1 -> DECIMAL", ole_variant(0.1), VT_DECIMAL, true, VT_DECIMAL, "0.1"},
        {"R4 0.1 -> DECIMAL", ole_variant(0.1f), VT_DECIMAL, true, VT_DECIMAL, "0.1"},
        {"R8 NaN -> DECIMAL", ole_variant(std::nan("")), VT_DECIMAL, false, 0, ""},
        {"R8 inf -> DECIMAL", ole_variant(HUGE_VAL), VT_DECIMAL, false, 0, ""},
        {"R4 -inf -> DECIMAL", ole_variant(-HUGE_VALF), VT_DECIMAL, false, 0, ""},
        {"BSTR ' 1,5 ' -> DECIMAL", text(" 1,5 "), VT_DECIMAL, true, VT_DECIMAL, "1.5"},
        {"BSTR 1E131073 -> DECIMAL", text("1E131073"), VT_DECIMAL, false, 0, ""},
        // To the floating types: the nearest value.
        {"DECIMAL 40 digits -> R8", dec(forty_digits), VT_R8, true, VT_R8, "1.2345678901234568e+039"},
        {"DECIMAL 1E126 -> R4", dec("1E126"), VT_R4, false, 0, ""},
        {"DECIMAL 1E-130 -> R4", dec("1E-130"), VT_R4, true, VT_R4, "0e+000"},
        {"R8 1e39 -> R4", ole_variant(1e39), VT_R4, false, 0, ""},
        {"R8 FLT_MAX -> R4", ole_variant(static_cast<double>(FLT_MAX)), VT_R4, true, VT_R4, "3.4028235e+038"},
        {"R8 inf -> R4", ole_variant(HUGE_VAL), VT_R4, true, VT_R4, "Infinity"},
        {"R8 NaN -> R4", ole_variant(std::nan("")), VT_R4, true, VT_R4, "NaN"},
        {"R4 0.1 -> R8", ole_variant(0.1f), VT_R8, true, VT_R8, "1.0000000149011612e-001"},
        {"CY 1.5 -> R8", cy(15000), VT_R8, true, VT_R8, "1.5e+000"},
        {"I4 -3 -> R4", ole_variant(-3), VT_R4, true, VT_R4, "-3e+000"},
        {"BSTR ' 1,5 ' -> R8", text(" 1,5 "), VT_R8, true, VT_R8, "1.5e+000"},
        {"BSTR Infinity -> R8", text("Infinity"), VT_R8, true, VT_R8, "Infinity"},
        {"BSTR 1.5x -> R8", text("1.5x"), VT_R8, false, 0, ""},
        {"BSTR empty -> R8", text(""), VT_R8, false, 0, ""},
        {"BSTR 1e39 -> R4", text("1e39"), VT_R4, false, 0, ""},
        // To BOOL.
        {"I4 5 -> BOOL", ole_variant(5), VT_BOOL, true, VT_BOOL, "1"},
        {"R8 0 -> BOOL", ole_variant(0.0), VT_BOOL, true, VT_BOOL, "0"},
        {"DECIMAL 0.001 -> BOOL", dec("0.001"), VT_BOOL, true, VT_BOOL, "1"},
        {"CY 0 -> BOOL", cy(0), VT_BOOL, true, VT_BOOL, "0"},
        {"BSTR Yes -> BOOL", text("Yes"), VT_BOOL, true, VT_BOOL, "1"},
        {"BSTR ' 0 ' -> BOOL", text(" 0 "), VT_BOOL, true, VT_BOOL, "0"},
        {"BSTR abc -> BOOL", text("abc"), VT_BOOL, false, 0, ""},
        // To text: the value's own text.
        {"R8 1.5 -> BSTR", ole_variant(1.5), VT_BSTR, true, VT_BSTR, "1.5e+000"},
        {"DECIMAL -0.001 -> BSTR", dec("-1E-3"), VT_BSTR, true, VT_BSTR, "-0.001"},
        {"BOOL true -> BSTR", ole_variant(true), VT_BSTR, true, VT_BSTR, "1"},
        {"CY 12.34 -> BSTR", cy(123400), VT_BSTR, true, VT_BSTR, "12.34"},
        // From text: the whole text must read as the type.
        {"BSTR '12 ' -> I1", text("12 "), VT_I1, true, VT_I1, "12"},
        {"BSTR 12x -> I1", text("12x"), VT_I1, false, 0, ""},
        {"BSTR 256 -> UI1", text("256"), VT_UI1, false, 0, ""},
        {"BSTR -5 -> INT", text("-5"), VT_INT, true, VT_INT, "-5"},
        {"BSTR empty -> UINT", text(""), VT_UINT, false, 0, ""},
        {"BSTR 12 -> I8", text("12"), VT_I8, false, 0, ""},  // kept
        {"BSTR date -> DATE", text("2024-01-31 10:20:30"), VT_DATE, true, VT_DATE, "2024-01-31 10:20:30"},
        {"BSTR 24-02-30 -> DATE", text("24-02-30"), VT_DATE, false, 0, ""},
        {"R8 -> DATE", ole_variant(1.0), VT_DATE, false, 0, ""},
        // To a byte array: the value's bytes, little-endian.
        {"I1 -1 -> bytes", ole_variant(static_cast<signed char>(-1)), VT_BYTE_ARRAY, true, VT_BYTE_ARRAY, "0xFF"},
        {"UI2 0x1234 -> bytes", ole_variant(static_cast<unsigned short>(0x1234)), VT_BYTE_ARRAY, true,
         VT_BYTE_ARRAY, "0x3412"},
        {"BOOL true -> bytes", ole_variant(true), VT_BYTE_ARRAY, true, VT_BYTE_ARRAY, "0xFFFF"},
        {"BOOL false -> bytes", ole_variant(false), VT_BYTE_ARRAY, true, VT_BYTE_ARRAY, "0x0000"},
        {"I4 1 -> bytes", ole_variant(1), VT_BYTE_ARRAY, true, VT_BYTE_ARRAY, "0x01000000"},
        {"R4 1 -> bytes", ole_variant(1.0f), VT_BYTE_ARRAY, true, VT_BYTE_ARRAY, "0x0000803F"},
        {"R8 1 -> bytes", ole_variant(1.0), VT_BYTE_ARRAY, true, VT_BYTE_ARRAY, "0x000000000000F03F"},
        {"CY 1 -> blob", cy(10000), VT_BLOB, true, VT_BYTE_ARRAY, "0x1027000000000000"},
        {"DECIMAL 12.34 -> bytes", dec("12.34"), VT_BYTE_ARRAY, true, VT_BYTE_ARRAY,
         "0x0E00020000000000D204000000000000"},
        {"DECIMAL -1 -> bytes", dec("-1"), VT_BLOB_OBJECT, true, VT_BYTE_ARRAY,
         "0x0E00008000000000" "0100000000000000"},
        {"DECIMAL 40 digits -> bytes", dec(forty_digits), VT_BYTE_ARRAY, false, 0, ""},
        {"DECIMAL 1E-29 -> bytes", dec("1E-29"), VT_BYTE_ARRAY, false, 0, ""},
        {"BSTR -> bytes", text("\xC3\xA9"), VT_BYTE_ARRAY, true, VT_BYTE_ARRAY, "0xC3A9"},
        {"BSTR empty -> bytes", text(""), VT_BYTE_ARRAY, true, VT_BYTE_ARRAY, ""},
        {"I8 -> bytes", i8(1), VT_BYTE_ARRAY, false, 0, ""},
        {"date -> bytes", ole_variant(fields(2024, 1, 31)), VT_BYTE_ARRAY, false, 0, ""},
        // From a byte array: text up to the first zero byte; others keep it.
        {"bytes -> BSTR", bytes({'a', 'b', 0, 'c'}), VT_BSTR, true, VT_BSTR, "ab"},
        {"bytes not UTF-8 -> BSTR", invalid_utf8, VT_BSTR, true, VT_BSTR, "a\xEF\xBF\xBD"},
        {"empty bytes -> BSTR", bytes({}), VT_BSTR, true, VT_BSTR, ""},
        {"bytes -> I4 keeps them", bytes({1}), VT_I4, true, VT_BYTE_ARRAY, "0x01"},
        {"bytes -> R8 keeps them", bytes({1}), VT_R8, true, VT_BYTE_ARRAY, "0x01"},
        {"bytes -> blob keeps them", bytes({1}), VT_BLOB, true, VT_BYTE_ARRAY, "0x01"},
        {"bytes -> I8", bytes({1}), VT_I8, false, 0, ""},
        {"bytes -> DATE", bytes({1}), VT_DATE, false, 0, ""},
        // Every other pair.
        {"I4 -> NULL", ole_variant(1), VT_NULL, false, 0, ""},
        {"CY -> ERROR", cy(1), VT_ERROR, false, 0, ""},
        {"BSTR -> EMPTY", text("x"), VT_EMPTY, false, 0, ""},
    });
}

TEST(OleVariant, SixtyFourBitFieldsBothShowTheValue)
{
    ole_variant v = i8(5);
    v.change_type(VT_UI8);
    EXPECT_EQ(v.get_uint64(), 5u);
    EXPECT_EQ(v.get_int64(), 5);  // the old field keeps its value
    v.change_type(VT_I8);
    EXPECT_EQ(v.get_int64(), 5);
}

// The old carrier cut byte arrays after 100,000,000 bytes, so bytea stored
// a prefix. About 300 MB: kept to this one test.
TEST(OleVariant, HugeByteArrayPrintsWhole)
{
    std::vector<std::uint8_t> data(100000001, 0);
    data.back() = 0xAB;
    const ole_variant v(std::move(data));
    const std::string t = v.to_string();
    EXPECT_EQ(t.size(), 200000004u);
    EXPECT_EQ(t.compare(0, 4, "0x00"), 0);
    EXPECT_EQ(t.compare(t.size() - 4, 4, "00AB"), 0);
}

// An empty RAW or LOB comes as an empty vector, whose data() is null; that
// used to raise the internal error and end the program.
TEST(OleVariant, EmptyBinaryValues)
{
    ole_variant v(42);
    v.attach_binary(std::vector<std::uint8_t>{});
    EXPECT_EQ(v.get_vt(), VT_BYTE_ARRAY);
    EXPECT_EQ(v.to_string(), "");

    const std::vector<std::uint8_t> none;
    ole_variant w;
    w.attach_binary(none.size(), none.data());
    EXPECT_EQ(w.get_vt(), VT_BYTE_ARRAY);
    EXPECT_EQ(w.byte_count(), 0u);
    EXPECT_EQ(ole_variant(std::size_t{0}, nullptr).to_string(), "");

    // Bytes to copy from nowhere are still a broken invariant.
    ole_variant x(7);
    EXPECT_THROW(x.attach_binary(2, nullptr), tk_mail_assertion);
    EXPECT_EQ(x.get_vt(), VT_I4);
    EXPECT_EQ(x.get_i4(), 7);
}

// The shortest digits that read back to the same bits; "%.6e" lost the
// float's last digit (16777215 came back as 16777220).
TEST(OleVariant, FloatingTextsRoundTrip)
{
    struct r8_row {
        double value;
        const char* text;
    };
    const r8_row doubles[] = {
        {1.5, "1.5e+000"},         {0.1, "1e-001"},           {1e300, "1e+300"},
        {-0.0, "-0e+000"},         {5e-324, "5e-324"},        {DBL_MAX, "1.7976931348623157e+308"},
        {HUGE_VAL, "Infinity"},    {-HUGE_VAL, "-Infinity"},  {std::nan(""), "NaN"},
    };
    for (const r8_row& r : doubles) {
        SCOPED_TRACE(r.text);
        const std::string t = ole_variant(r.value).to_string();
        EXPECT_EQ(t, r.text);
        const ole_variant back = typed(t, VT_R8);
        ASSERT_EQ(back.get_vt(), VT_R8);
        if (std::isnan(r.value))
            EXPECT_TRUE(std::isnan(back.get_r8()));
        else
            EXPECT_EQ(bits(back.get_r8()), bits(r.value));
    }

    struct r4_row {
        float value;
        const char* text;
    };
    const r4_row floats[] = {
        {16777215.0f, "1.6777215e+007"}, {0.1f, "1e-001"},          {FLT_MAX, "3.4028235e+038"},
        {FLT_TRUE_MIN, "1e-045"},        {HUGE_VALF, "Infinity"},   {-HUGE_VALF, "-Infinity"},
        {std::nanf(""), "NaN"},
    };
    for (const r4_row& r : floats) {
        SCOPED_TRACE(r.text);
        const std::string t = ole_variant(r.value).to_string();
        EXPECT_EQ(t, r.text);
        const ole_variant back = typed(t, VT_R4);
        ASSERT_EQ(back.get_vt(), VT_R4);
        if (std::isnan(r.value))
            EXPECT_TRUE(std::isnan(back.get_r4()));
        else
            EXPECT_EQ(bits(back.get_r4()), bits(r.value));
    }

    // A finite text beyond the type's range is a cast failure, not infinity.
    EXPECT_THROW(typed("1e39", VT_R4), ole_cast_exception);
    EXPECT_THROW(typed("-1e309", VT_R8), ole_cast_exception);
}

// Every digit of an Oracle NUMBER survives: 40 significant digits, from
// 1E-130 up to below 1E126. The platform's 96-bit DECIMAL forced long
// NUMBERs through double.
class OleVariantLog : public tk_test::logger_fixture {};

TEST_F(OleVariantLog, DecimalsKeepEveryDigit)
{
    struct row {
        std::string text;
        std::string printed;
    };
    const row rows[] = {
        {forty_digits, forty_digits},
        {"-" + forty_digits.substr(0, 20) + "." + forty_digits.substr(20),
         "-" + forty_digits.substr(0, 20) + "." + forty_digits.substr(20, 19)},
        {"0.3333333333333333333333333333333333333333", "0.3333333333333333333333333333333333333333"},
        {"-1E-130", "-0." + std::string(129, '0') + "1"},
        {"9." + std::string(37, '9') + "E125", std::string(38, '9') + std::string(88, '0')},
        {"1.000000000000000000000000000000000000001E125", "1" + std::string(38, '0') + "1" + std::string(86, '0')},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.text.substr(0, 50));
        const ole_variant v = typed(r.text, VT_DECIMAL);
        ASSERT_EQ(v.get_vt(), VT_DECIMAL);
        EXPECT_EQ(v.to_string(), r.printed);
        const ole_variant back = typed(v.to_string(), VT_DECIMAL);
        EXPECT_EQ(back.get_decimal(), v.get_decimal());
        EXPECT_EQ(back.to_string(), r.printed);
    }

    const ole_variant overflow = typed("1E131073", VT_DECIMAL);
    EXPECT_EQ(overflow.get_vt(), VT_EMPTY);
    EXPECT_EQ(log_text(), "VarDecFromStr failed: 8002000A\r\n");
}

// With threshold 3, the value carrier writes nothing but its two parse
// failure lines, whatever else it does.
TEST_F(OleVariantLog, OnlyParseFailuresReachTheLog)
{
    (void)typed("abc", VT_DECIMAL);
    (void)typed("abc", VT_CY);
    (void)typed("1e20", VT_CY);
    (void)typed("0x0G", VT_BYTE_ARRAY);  // level 2
    (void)typed("0x1", VT_BYTE_ARRAY);   // level 2
    (void)typed("24-02-30", VT_DATE);
    (void)typed("12", VT_INT);
    ole_variant v = text("abc");
    EXPECT_THROW(v.change_type(VT_R8), ole_cast_exception);
    ole_variant w = dec("12.5");
    w.change_type(VT_I4);
    w.change_type(VT_BYTE_ARRAY);
    w.change_type(VT_BSTR);
    (void)ole_variant::convert_to_byte_array(reinterpret_cast<const std::uint8_t*>("ab"), 2);
    EXPECT_EQ(log_text(),
              "VarDecFromStr failed: 80020005\r\n"
              "VarCyFromStr failed: 80020005\r\n"
              "VarCyFromStr failed: 8002000A\r\n");
}

TEST(OleVariant, Constructors)
{
    struct row {
        const char* name;
        ole_variant value;
        VARTYPE vt;
        std::string text;
    };
    const std::uint8_t raw[] = {0xDE, 0xAD};
    const row rows[] = {
        {"long", ole_variant(-7L), VT_I8, "-7"},
        {"long long", ole_variant(-7LL), VT_I8, "-7"},
        {"unsigned long", ole_variant(7UL), VT_UI8, "7"},
        {"unsigned long long", ole_variant(7ULL), VT_UI8, "7"},
        {"bool", ole_variant(true), VT_BOOL, "1"},
        {"char", ole_variant('A'), VT_I1, "65"},
        {"unsigned char", ole_variant(static_cast<unsigned char>(200)), VT_UI1, "200"},
        {"short", ole_variant(static_cast<short>(-2)), VT_I2, "-2"},
        {"unsigned short", ole_variant(static_cast<unsigned short>(2)), VT_UI2, "2"},
        {"int", ole_variant(-3), VT_I4, "-3"},
        {"unsigned", ole_variant(3u), VT_UI4, "3"},
        {"float", ole_variant(0.5f), VT_R4, "5e-001"},
        {"double", ole_variant(0.5), VT_R8, "5e-001"},
        {"null wide text", ole_variant(static_cast<const wchar_t*>(nullptr)), VT_BSTR, ""},
        {"wide text", ole_variant(L"ab\u00e9"), VT_BSTR, "ab\xC3\xA9"},
        {"UTF-8 text cut at NUL", ole_variant(std::string("a\0b", 3)), VT_BSTR, "a"},
        {"bytes", ole_variant(sizeof raw, raw), VT_BYTE_ARRAY, "0xDEAD"},
        {"date", ole_variant(fields(2024, 2, 29, 23, 59, 60)), VT_DATE, "2024-02-29 23:59:60"},
        {"date before year 1", ole_variant(fields(-1, 12, 31, 23, 59, 59)), VT_DATE, "0001-12-31 23:59:59 BC"},
        {"currency", cy(-15000), VT_CY, "-1.5"},
        {"decimal", ole_variant(ole_decimal(true, "12345", -2)), VT_DECIMAL, "-123.45"},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.name);
        EXPECT_EQ(r.value.get_vt(), r.vt);
        EXPECT_EQ(r.value.to_string(), r.text);
    }
    EXPECT_EQ(ole_variant(true).get_bool(), -1);
    EXPECT_EQ(ole_variant(false).get_bool(), 0);
    // A wide text keeps its NULs; only its printed forms stop there.
    const ole_variant w(std::wstring(L"a\0b", 3));
    EXPECT_EQ(w.get_bstr().size(), 3u);
    EXPECT_EQ(w.to_wstring(), L"a");
    EXPECT_EQ(ole_variant(std::string("a\0b", 3)).get_bstr(), L"a");
}

TEST(OleVariant, CopiesAreDeepAndArraysResize)
{
    // Assignment takes the other array's size either way.
    const ole_variant four = bytes({1, 2, 3, 4});
    const ole_variant five = bytes({5, 6, 7, 8, 9});
    ole_variant v = four;
    v = five;
    EXPECT_EQ(v.byte_count(), 5u);
    EXPECT_EQ(v.to_string(), "0x0506070809");
    v = four;
    EXPECT_EQ(v.byte_count(), 4u);
    EXPECT_EQ(v.to_string(), "0x01020304");
    v.attach_binary(five.get_bytes());
    v.attach_binary(std::vector<std::uint8_t>{1, 2, 3, 4});
    EXPECT_EQ(v.to_string(), "0x01020304");

    // Copies share nothing.
    ole_variant a = bytes({1, 2});
    ole_variant b = a;
    b.access_bytes()[0] = 0xFF;
    EXPECT_EQ(a.to_string(), "0x0102");
    EXPECT_EQ(b.to_string(), "0xFF02");
    ole_variant s = text("abc");
    ole_variant t = s;
    t = std::wstring(L"xyz");
    EXPECT_EQ(s.to_string(), "abc");
    const std::string long_digits = std::string(60, '7') + "." + std::string(60, '3');
    ole_variant d = dec(long_digits);
    ole_variant e = d;
    d = 1.5;
    EXPECT_EQ(e.to_string(), long_digits);
    ole_variant& self = e;
    e = self;
    EXPECT_EQ(e.to_string(), long_digits);

    // A change of type drops the old text.
    ole_variant c = text("12,5");
    c.change_type(VT_R8);
    EXPECT_TRUE(c.get_bstr().empty());

    // allocate_safe_array resizes an array and replaces anything else.
    ole_variant r = bytes({1, 2, 3, 4});
    r.allocate_safe_array(6);
    EXPECT_EQ(r.to_string(), "0x010203040000");
    r.allocate_safe_array(2);
    EXPECT_EQ(r.to_string(), "0x0102");
    ole_variant n(42);
    n.allocate_safe_array(3);
    EXPECT_EQ(n.get_vt(), VT_BYTE_ARRAY);
    EXPECT_EQ(n.to_string(), "0x000000");
    std::memcpy(n.access_bytes(), "\x0A\x0B\x0C", 3);
    EXPECT_EQ(n.to_string(), "0x0A0B0C");

    // A moved-from value is empty, also when it held heap digits.
    ole_variant m = dec(long_digits);
    ole_variant taken = std::move(m);
    EXPECT_EQ(taken.to_string(), long_digits);
    EXPECT_EQ(m.get_vt(), VT_EMPTY);
    EXPECT_EQ(m.to_string(), "");
    m = std::move(taken);
    EXPECT_EQ(m.to_string(), long_digits);
    ole_decimal big = m.get_decimal();
    ole_decimal moved = std::move(big);
    EXPECT_TRUE(big.is_zero());
    EXPECT_EQ(big.to_string(), "0");
    EXPECT_EQ(moved.to_string(), long_digits);
}

TEST(OleVariant, TypeTests)
{
    EXPECT_TRUE(ole_variant::is_binary_type(VT_BLOB));
    EXPECT_TRUE(ole_variant::is_binary_type(VT_BLOB_OBJECT));
    EXPECT_TRUE(ole_variant::is_binary_type(8209));
    EXPECT_FALSE(ole_variant::is_binary_type(VT_UI1));
    EXPECT_TRUE(bytes({}).is_binary());
    EXPECT_TRUE(text("x").is_string_or_date());
    EXPECT_TRUE(ole_variant(fields(2024, 1, 1)).is_string_or_date());
    EXPECT_FALSE(ole_variant(1).is_string_or_date());
    const std::uint8_t raw[] = {1, 2, 3};
    EXPECT_EQ(ole_variant::convert_to_byte_array(raw, 3), (std::vector<std::uint8_t>{1, 2, 3}));
    EXPECT_TRUE(ole_variant::convert_to_byte_array(nullptr, 0).empty());
}

// A text kept as UTF-8 reads, copies, moves and changes type as the same
// text in wide characters does.
TEST(OleVariant, CompactTextBehavesLikeWideText)
{
    struct text_case {
        const char* name;
        std::string utf8;  // what attach_utf8 gets
        std::wstring wide;  // the same text in wide characters, NUL included
    };
    const text_case cases[] = {
        {"ascii", "plain text", L"plain text"},
        {"empty", "", L""},
        {"every width", "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80z", L"a\u00E9\u20AC\U0001F600z"},
        {"escapes kept", "tab\there\\ line\r\n", L"tab\there\\ line\r\n"},
        {"cut at a NUL", std::string("ab\0cd", 5), std::wstring(L"ab\0cd", 5)},
        {"a number", " 42 ", L" 42 "},
        {"a date", "2024-02-29 13:45:00", L"2024-02-29 13:45:00"},
        {"long", std::string(70000, 'x') + "\xC3\x9F", std::wstring(70000, L'x') + L"\u00DF"},
    };
    auto compact = [](const std::string& utf8) {
        ole_variant v;
        v.attach_utf8(std::string(utf8));
        return v;
    };
    for (const text_case& c : cases) {
        SCOPED_TRACE(c.name);
        ole_variant wide;
        wide.attach_wstring(c.wide);
        const ole_variant small = compact(c.utf8);
        EXPECT_EQ(small.get_vt(), VT_BSTR);
        EXPECT_TRUE(small.is_compact_text());
        EXPECT_EQ(small.to_string(), wide.to_string());
        EXPECT_EQ(small.to_wstring(), wide.to_wstring());
        std::string line = "|";
        small.append_string(line);
        EXPECT_EQ(line, "|" + wide.to_string());
        EXPECT_TRUE(small.is_compact_text()) << "reading its text keeps the UTF-8";

        // Copies and moves keep the form and the text.
        ole_variant copy = small;
        EXPECT_TRUE(copy.is_compact_text());
        EXPECT_EQ(copy.to_string(), wide.to_string());
        ole_variant moved = std::move(copy);
        EXPECT_TRUE(moved.is_compact_text());
        EXPECT_EQ(moved.to_string(), wide.to_string());
        EXPECT_EQ(copy.get_vt(), VT_EMPTY);
        EXPECT_FALSE(copy.is_compact_text());
        EXPECT_EQ(copy.to_string(), "");
        ole_variant assigned(7);
        assigned = small;
        EXPECT_EQ(assigned.to_string(), wide.to_string());
        assigned = std::move(moved);
        EXPECT_EQ(assigned.to_wstring(), wide.to_wstring());
        EXPECT_FALSE(moved.is_compact_text());

        // get_bstr gives the text up to its NUL and turns the value wide.
        ole_variant asked = compact(c.utf8);
        EXPECT_EQ(asked.get_bstr(), wide.to_wstring());
        EXPECT_FALSE(asked.is_compact_text());
        EXPECT_TRUE(asked.compact_text().empty());
        EXPECT_EQ(asked.to_string(), wide.to_string());

        // Every change of type ends as it does for the wide text.
        for (VARTYPE type : {VT_BSTR, VT_I2, VT_I4, VT_I8, VT_R8, VT_CY, VT_DECIMAL, VT_BOOL, VT_DATE,
                             VT_BYTE_ARRAY}) {
            SCOPED_TRACE(type);
            ole_variant a = compact(c.utf8);
            ole_variant b;
            b.attach_wstring(std::wstring(c.wide.c_str()));
            bool a_failed = false, b_failed = false;
            try {
                a.change_type(type);
            } catch (const ole_cast_exception&) {
                a_failed = true;
            }
            try {
                b.change_type(type);
            } catch (const ole_cast_exception&) {
                b_failed = true;
            }
            EXPECT_EQ(a_failed, b_failed);
            EXPECT_EQ(a.get_vt(), b.get_vt());
            EXPECT_EQ(a.to_string(), b.to_string());
        }
    }

    // A new value of any kind drops the UTF-8.
    ole_variant v = compact("some text");
    v = 5;
    EXPECT_FALSE(v.is_compact_text());
    EXPECT_EQ(v.to_string(), "5");
    v = compact("some text");
    v.attach_wstring(std::wstring(L"other"));
    EXPECT_FALSE(v.is_compact_text());
    EXPECT_EQ(v.to_string(), "other");
    v = compact("some text");
    v.attach_binary(std::vector<std::uint8_t>{1, 2});
    EXPECT_EQ(v.to_string(), "0x0102");
    v = compact("some text");
    v.clear();
    EXPECT_FALSE(v.is_compact_text());
    EXPECT_EQ(v.to_string(), "");
}
