// The exact numbers of the value carrier: decimals that keep every digit of
// an Oracle NUMBER, and the currency.
#include "ole_decimal.h"
#include "tk_exception.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

namespace {

std::string decimal_text(const std::string& text, bool comma = false)
{
    ole_decimal d;
    EXPECT_EQ(ole_decimal::parse(text, d, comma), ole_number_status::ok) << text;
    return d.to_string();
}

ole_decimal dec(const std::string& text)
{
    ole_decimal d;
    EXPECT_EQ(ole_decimal::parse(text, d), ole_number_status::ok) << text;
    return d;
}

const std::string forty_digits = "1234567890123456789012345678901234567890";

}  // namespace

TEST(OleDecimal, ParseAndPrintPositional)
{
    struct row {
        std::string text;
        bool comma;
        std::string expected;
    };
    const std::vector<row> rows = {
        {"0", false, "0"},
        {"-0", false, "0"},  // never "-0"
        {"-0.000", false, "0"},
        {"00012.3400", false, "12.34"},
        {"1e3", false, "1000"},
        {"1.5E+2", false, "150"},
        {"-1.5e-2", false, "-0.015"},
        {".5", false, "0.5"},
        {"5.", false, "5"},
        {"  +7\t", false, "7"},
        {"12,34", true, "12.34"},
        {forty_digits, false, forty_digits},
        {"0.3333333333333333333333333333333333333333", false, "0.3333333333333333333333333333333333333333"},
        {"-123456789012345678901234567890.1234567890", false, "-123456789012345678901234567890.123456789"},
        {"1E-130", false, "0." + std::string(129, '0') + "1"},
        {"9." + std::string(37, '9') + "E125", false, std::string(38, '9') + std::string(88, '0')},
        {"0E999999999999999", false, "0"},  // zero with any exponent is zero
    };
    for (const auto& r : rows)
        EXPECT_EQ(decimal_text(r.text, r.comma), r.expected) << r.text;
}

TEST(OleDecimal, TextsThatAreNotNumbers)
{
    for (const char* text : {"", " ", "abc", ".", "-", "1e", "1e+", "1.2.3", "1 2", "--1", "12a", "1,5", "0x10",
                             "Infinity", "NaN"}) {
        ole_decimal d = dec("42");
        EXPECT_EQ(ole_decimal::parse(text, d), ole_number_status::not_a_number) << text;
        EXPECT_EQ(d.to_string(), "42") << "unchanged after " << text;
    }
}

TEST(OleDecimal, RangeOfTheServersNumeric)
{
    struct row {
        std::string text;
        ole_number_status status;
    };
    const std::vector<row> rows = {
        {"1E131071", ole_number_status::ok},        // 131072 digits before the point
        {"1E131072", ole_number_status::overflow},  // one more
        {"1E131073", ole_number_status::overflow},
        {"1E-16383", ole_number_status::ok},  // 16383 after the point
        {"1E-16384", ole_number_status::overflow},
        {"1.5E-16382", ole_number_status::ok},
        {"1.5E-16383", ole_number_status::overflow},
        // Exponents that would wrap a 32-bit or even a 64-bit integer.
        {"1E4294967296", ole_number_status::overflow},
        {"1E-4294967296", ole_number_status::overflow},
        {"1E99999999999999999999999", ole_number_status::overflow},
        {"1E-99999999999999999999999", ole_number_status::overflow},
        // Trailing zeros count toward the integer digits, not the fraction.
        {"1" + std::string(131072, '0'), ole_number_status::overflow},
        {"0." + std::string(20000, '0'), ole_number_status::ok},
    };
    for (const auto& r : rows) {
        ole_decimal d;
        EXPECT_EQ(ole_decimal::parse(r.text, d), r.status) << r.text.substr(0, 40);
    }
    ole_decimal big;
    ASSERT_EQ(ole_decimal::parse("1E131071", big), ole_number_status::ok);
    const std::string t = big.to_string();
    EXPECT_EQ(t.size(), 131072u);
    EXPECT_EQ(t.front(), '1');
}

TEST(OleDecimal, ConstructionFromParts)
{
    EXPECT_EQ(ole_decimal(false, "00123400", -2).to_string(), "1234");
    EXPECT_EQ(ole_decimal(true, "5", 0).to_string(), "-5");
    EXPECT_EQ(ole_decimal(true, "000", 3).to_string(), "0");
    EXPECT_EQ(ole_decimal(false, "", 7).to_string(), "0");
    EXPECT_EQ(ole_decimal(false, "1", -130).to_string(), "0." + std::string(129, '0') + "1");
    // Base-100 pairs of a NUMBER joined as text: 20 pairs, 40 digits.
    EXPECT_EQ(ole_decimal(false, forty_digits, -40).to_string(), "0." + forty_digits.substr(0, 39));

    const ole_decimal d(true, "12345", -2);
    EXPECT_TRUE(d.is_negative());
    EXPECT_EQ(d.digits(), "12345");
    EXPECT_EQ(d.get_exponent(), -2);

    EXPECT_THROW(ole_decimal(false, "12a", 0), ole_cast_exception);
    EXPECT_THROW(ole_decimal(false, "1", std::numeric_limits<std::int32_t>::max()), ole_cast_exception);
    EXPECT_THROW(ole_decimal(false, "1", std::numeric_limits<std::int32_t>::min()), ole_cast_exception);

    // A 64-bit exponent reaches make() unwrapped.
    ole_decimal out;
    EXPECT_EQ(ole_decimal::make(false, "1", std::int64_t(1) << 32, out), ole_number_status::overflow);
    // The trailing zeros of the digits count: 1 and 131071 zeros fit, one
    // zero more does not.
    EXPECT_EQ(ole_decimal::make(false, "100", 131070, out), ole_number_status::overflow);
    EXPECT_EQ(ole_decimal::make(false, "100", 131069, out), ole_number_status::ok);
    EXPECT_EQ(out.to_string().size(), 131072u);
}

TEST(OleDecimal, LongCoefficientsStayExactAndIndependent)
{
    const std::string digits = std::string(60, '7') + "." + std::string(60, '3');
    ole_decimal a = dec(digits);
    ole_decimal b = a;  // a deep copy of the heap digits
    EXPECT_EQ(b.to_string(), digits);
    ASSERT_EQ(ole_decimal::parse("1", a), ole_number_status::ok);
    EXPECT_EQ(b.to_string(), digits);
    EXPECT_EQ(a.to_string(), "1");
    ole_decimal c = std::move(b);
    EXPECT_EQ(c.to_string(), digits);
}

TEST(OleDecimal, ComparisonByValue)
{
    const std::vector<std::string> ascending = {"-1E126", "-2", "-1.5", "-1", "-1E-130", "0",
                                                "1E-130", "0.001", "1", "1.0000000001", "1.5",
                                                "10", forty_digits};
    for (std::size_t i = 0; i < ascending.size(); ++i)
        for (std::size_t j = 0; j < ascending.size(); ++j) {
            const int expected = i < j ? -1 : (i > j ? 1 : 0);
            EXPECT_EQ(dec(ascending[i]).compare(dec(ascending[j])), expected)
                << ascending[i] << " vs " << ascending[j];
        }
    EXPECT_EQ(dec("1.50"), dec("1.5"));
    EXPECT_EQ(dec("1E2"), dec("100"));
    EXPECT_EQ(dec("-0"), dec("0"));
    EXPECT_LT(dec("0.1"), dec("0.11"));
}

TEST(OleDecimal, IntegerConversionsRoundHalfToEven)
{
    struct row {
        const char* text;
        bool ok;
        bool negative;
        std::uint64_t magnitude;
    };
    const std::vector<row> rows = {
        {"2.5", true, false, 2},
        {"3.5", true, false, 4},
        {"-2.5", true, true, 2},
        {"2.5000001", true, false, 3},
        {"0.5", true, false, 0},
        {"1.5", true, false, 2},
        {"0.49", true, false, 0},
        {"-0.4", true, false, 0},  // rounds to zero, which has no sign
        {"1E-130", true, false, 0},
        {"1E19", true, false, 10000000000000000000u},
        {"18446744073709551615", true, false, 18446744073709551615u},
        {"18446744073709551615.4", true, false, 18446744073709551615u},
        {"18446744073709551615.5", false, false, 0},
        {"18446744073709551616", false, false, 0},
        {"1E20", false, false, 0},
    };
    for (const auto& r : rows) {
        bool neg = false;
        std::uint64_t mag = 0;
        ASSERT_EQ(dec(r.text).to_integer(neg, mag), r.ok) << r.text;
        if (r.ok) {
            EXPECT_EQ(neg, r.negative) << r.text;
            EXPECT_EQ(mag, r.magnitude) << r.text;
        }
    }

    std::int64_t i = 0;
    EXPECT_TRUE(dec("9223372036854775807").to_int64(i));
    EXPECT_EQ(i, std::numeric_limits<std::int64_t>::max());
    EXPECT_TRUE(dec("-9223372036854775808").to_int64(i));
    EXPECT_EQ(i, std::numeric_limits<std::int64_t>::min());
    EXPECT_FALSE(dec("9223372036854775808").to_int64(i));
    EXPECT_FALSE(dec("-9223372036854775809").to_int64(i));
    std::uint64_t u = 0;
    EXPECT_TRUE(dec("18446744073709551615").to_uint64(u));
    EXPECT_EQ(u, std::numeric_limits<std::uint64_t>::max());
    EXPECT_FALSE(dec("-1").to_uint64(u));
    EXPECT_TRUE(dec("-0.4").to_uint64(u));
    EXPECT_EQ(u, 0u);
}

TEST(OleDecimal, FloatingConversionsAreCorrectlyRounded)
{
    double d = 0;
    EXPECT_TRUE(dec("0.1").to_double(d));
    EXPECT_EQ(d, 0.1);
    EXPECT_TRUE(dec("9007199254740993").to_double(d));  // a tie: to even
    EXPECT_EQ(d, 9007199254740992.0);
    EXPECT_TRUE(dec("9007199254740993.0000000000000000000001").to_double(d));  // just above the tie
    EXPECT_EQ(d, 9007199254740994.0);
    EXPECT_TRUE(dec(forty_digits).to_double(d));
    EXPECT_EQ(d, 1234567890123456789012345678901234567890.0);
    EXPECT_TRUE(dec("-1E-130").to_double(d));
    EXPECT_EQ(d, -1e-130);
    EXPECT_FALSE(dec("1E400").to_double(d));
    EXPECT_TRUE(dec("-1E-400").to_double(d));  // below the range: the nearest, a zero
    EXPECT_EQ(d, 0.0);
    EXPECT_TRUE(std::signbit(d));

    float f = 0;
    EXPECT_TRUE(dec("16777217").to_float(f));  // rounded once, from the digits
    EXPECT_EQ(f, 16777216.0f);
    EXPECT_TRUE(dec("3.4028235E38").to_float(f));
    EXPECT_EQ(f, std::numeric_limits<float>::max());
    EXPECT_FALSE(dec("1E39").to_float(f));
    EXPECT_TRUE(dec("1E-50").to_float(f));
    EXPECT_EQ(f, 0.0f);
}

TEST(OleDecimal, FromFloatingGivesShortestDigits)
{
    struct row {
        double value;
        std::string expected;
    };
    const std::vector<row> rows = {
        {0.1, "0.1"},
        {1.5, "1.5"},
        {-2.0, "-2"},
        {-0.0, "0"},
        {1e300, "1" + std::string(300, '0')},
        {5e-324, "0." + std::string(323, '0') + "5"},
        {123456.789, "123456.789"},
    };
    for (const auto& r : rows) {
        ole_decimal d;
        ASSERT_TRUE(ole_decimal::from_double(r.value, d)) << r.value;
        EXPECT_EQ(d.to_string(), r.expected) << r.value;
    }
    ole_decimal d;
    ASSERT_TRUE(ole_decimal::from_float(0.1f, d));
    EXPECT_EQ(d.to_string(), "0.1");  // the float's own shortest digits
    ASSERT_TRUE(ole_decimal::from_float(16777215.0f, d));
    EXPECT_EQ(d.to_string(), "16777215");
    EXPECT_FALSE(ole_decimal::from_double(std::nan(""), d));
    EXPECT_FALSE(ole_decimal::from_double(HUGE_VAL, d));
    EXPECT_FALSE(ole_decimal::from_float(-HUGE_VALF, d));
}

TEST(OleDecimal, FromIntegersAndCurrencyExactly)
{
    EXPECT_EQ(ole_decimal::from_int64(std::numeric_limits<std::int64_t>::min()).to_string(),
              "-9223372036854775808");
    EXPECT_EQ(ole_decimal::from_uint64(std::numeric_limits<std::uint64_t>::max()).to_string(),
              "18446744073709551615");
    EXPECT_EQ(ole_decimal::from_int64(1000).digits(), "1");  // trailing zeros go to the exponent
    EXPECT_EQ(ole_decimal::from_int64(0).to_string(), "0");
    EXPECT_EQ(ole_decimal::from_cy(ole_cy::from_units(123400)).to_string(), "12.34");
    EXPECT_EQ(ole_decimal::from_cy(ole_cy::from_units(std::numeric_limits<std::int64_t>::min())).to_string(),
              "-922337203685477.5808");
}

TEST(OleDecimal, OleBytes)
{
    struct row {
        std::string text;
        bool ok;
        std::vector<std::uint8_t> bytes;
    };
    const std::vector<row> rows = {
        {"12.34", true, {0x0E, 0, 2, 0, 0, 0, 0, 0, 0xD2, 0x04, 0, 0, 0, 0, 0, 0}},
        {"-1", true, {0x0E, 0, 0, 0x80, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0}},
        {"0", true, {0x0E, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
        {"79228162514264337593543950335", true,  // 2^96 - 1
         {0x0E, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}},
        {"1E-28", true, {0x0E, 0, 28, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0}},
        {"1E28", true, {0x0E, 0, 0, 0, 0x5E, 0xCE, 0x4F, 0x20, 0x00, 0x00, 0x00, 0x10, 0x61, 0x02, 0x25, 0x3E}},
        {"79228162514264337593543950336", false, {}},  // 2^96
        {"1E29", false, {}},
        {"1E-29", false, {}},
        {forty_digits, false, {}},
    };
    for (const auto& r : rows) {
        std::uint8_t out[16] = {};
        ASSERT_EQ(dec(r.text).to_ole_bytes(out), r.ok) << r.text;
        if (r.ok) {
            EXPECT_EQ(std::vector<std::uint8_t>(out, out + 16), r.bytes) << r.text;
        }
    }
}

TEST(OleCy, PositionalText)
{
    struct row {
        std::int64_t units;
        const char* text;
    };
    const std::vector<row> rows = {
        {50000, "5"},
        {123400, "12.34"},
        {-5, "-0.0005"},
        {0, "0"},
        {-10000, "-1"},
        {std::numeric_limits<std::int64_t>::max(), "922337203685477.5807"},
        {std::numeric_limits<std::int64_t>::min(), "-922337203685477.5808"},
    };
    for (const auto& r : rows)
        EXPECT_EQ(ole_cy::from_units(r.units).to_string(), r.text) << r.units;
}

TEST(OleCy, ParseRoundsHalfToEvenAndChecksRange)
{
    struct row {
        const char* text;
        bool comma;
        ole_number_status status;
        std::int64_t units;
    };
    const std::vector<row> rows = {
        {"12,34", true, ole_number_status::ok, 123400},
        {"12.34", false, ole_number_status::ok, 123400},
        {"2.00005", false, ole_number_status::ok, 20000},
        {"2.00015", false, ole_number_status::ok, 20002},
        {"-2.00005", false, ole_number_status::ok, -20000},
        {"2.000051", false, ole_number_status::ok, 20001},
        {"1e2", false, ole_number_status::ok, 1000000},
        {"922337203685477.5807", false, ole_number_status::ok, std::numeric_limits<std::int64_t>::max()},
        {"-922337203685477.5808", false, ole_number_status::ok, std::numeric_limits<std::int64_t>::min()},
        {"922337203685477.5808", false, ole_number_status::overflow, 0},
        {"922337203685477.58075", false, ole_number_status::overflow, 0},  // rounds up past the limit
        {"1E20", false, ole_number_status::overflow, 0},
        {"abc", false, ole_number_status::not_a_number, 0},
        {"12,34", false, ole_number_status::not_a_number, 0},
    };
    for (const auto& r : rows) {
        ole_cy c = ole_cy::from_units(77);
        EXPECT_EQ(ole_cy::parse(r.text, c, r.comma), r.status) << r.text;
        EXPECT_EQ(c.units, r.status == ole_number_status::ok ? r.units : 77) << r.text;
    }
}

// The extremes of an Oracle NUMBER with every digit it can store: 40
// significant digits at the smallest and at the largest exponent. The text
// is exact, without an exponent, and reads back as the same value.
TEST(OleDecimal, OracleExtremesKeepFortyDigits)
{
    struct row {
        std::string text;
        std::string printed;
    };
    const std::string forty_nines(40, '9');
    const std::vector<row> rows = {
        {"1." + forty_digits.substr(1) + "E-130", "0." + std::string(129, '0') + forty_digits.substr(0, 39)},
        {"-1E-130", "-0." + std::string(129, '0') + "1"},
        {"9." + forty_nines.substr(1) + "E125", forty_nines + std::string(86, '0')},
        {"-9." + std::string(37, '9') + "E125", "-" + std::string(38, '9') + std::string(88, '0')},
        {"0." + forty_nines, "0." + forty_nines},
        {forty_nines, forty_nines},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.text);
        const ole_decimal d = dec(r.text);
        EXPECT_EQ(d.to_string(), r.printed);
        EXPECT_EQ(dec(d.to_string()), d);
        EXPECT_EQ(dec(d.to_string()).to_string(), r.printed);
    }
    // 40 digits are kept as they are, never rounded to 38.
    EXPECT_EQ(dec(forty_nines).digits(), forty_nines);
    EXPECT_NE(dec(forty_nines), dec("1E40"));
    EXPECT_LT(dec("9." + forty_nines.substr(1) + "E125"), dec("1E126"));
    // Built from the base-100 pairs of a NUMBER, as the reader does.
    EXPECT_EQ(ole_decimal(false, forty_nines, 86).to_string(), forty_nines + std::string(86, '0'));
    EXPECT_EQ(ole_decimal(true, forty_digits, -169).to_string(),
              "-0." + std::string(129, '0') + forty_digits.substr(0, 39));
}
