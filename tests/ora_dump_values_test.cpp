// The value decoders: NUMBER, DATE, TIMESTAMP, the IEEE types, text in the
// dump's character sets, and the chunked and LOB layouts. Each decoder is
// pinned against literal bytes, and the writer's encoders against the same
// bytes.
#include "ora_dump_reader.h"
#include "ora_dump_reader_th.h"
#include "ora_dump_reader_th_10.h"
#include "ora_dump_reader_th_7.h"
#include "ora_dump_reader_th_8.h"
#include "ora_dump_reader_th_9.h"
#include "ora_dump_stream.h"
#include "ora_dump_writer_rows.h"
#include "t_orcale_ftd.h"
#include "tk_string.h"
#include "tk_unicode.h"

#include <gtest/gtest.h>

#include <charconv>
#include <functional>
#include <limits>
#include <cmath>
#include <cstring>
#include <memory>
#include <optional>
#include <string>

namespace {

using ora_rows::bytes;
using ora_rows::hex;
using T = t_orcale_ftd;

// Three bytes before the value, so that positions in messages are not 0.
constexpr std::int64_t value_at = 3;

std::unique_ptr<ora_dump_stream> stream_of(const bytes& value)
{
    bytes all(value_at, 0xEE);
    all.insert(all.end(), value.begin(), value.end());
    auto s = std::make_unique<ora_dump_stream>(std::make_unique<ora_dump_memory_source>(all));
    s->seek(value_at);
    return s;
}

struct outcome {
    ole_variant value;
    std::optional<std::string> error;
    int level = -1;
    std::int64_t consumed = 0;
};

template <typename Decode>
outcome run(const bytes& b, Decode&& decode)
{
    auto s = stream_of(b);
    outcome o;
    try {
        decode(o.value, *s);
    } catch (const tk_exception& e) {
        o.error = e.what();
        o.level = e.level;
    }
    o.consumed = s->tell() - value_at;
    return o;
}

outcome ole_value(ora_dump_reader_th& th, VARTYPE vt, int ora_type, const bytes& b)
{
    return run(b, [&](ole_variant& v, ora_dump_stream& s) {
        th.get_ole_value(v, vt, ora_type, s, static_cast<std::uint16_t>(b.size()));
    });
}

double parse_double(const std::string& text)
{
    double d = 0;
    std::from_chars(text.data(), text.data() + text.size(), d);
    return d;
}

class OraDumpValues : public ::testing::Test {
protected:
    ora_dump_reader_th_10 th;
};

// ---------------------------------------------------------------------------
// NUMBER

struct number_case {
    const char* hex;
    VARTYPE vt;
    const char* expected;  // decimal text, or the message 15 when null
    bool writer_pins = true;
};

const number_case number_cases[] = {
    {"80", VT_DECIMAL, "0"},
    {"C1 02", VT_DECIMAL, "1"},
    {"C1 0D 23", VT_DECIMAL, "12.34"},
    {"C2 02 18", VT_DECIMAL, "123"},
    {"C0 33", VT_DECIMAL, "0.5"},
    {"3E 60 66", VT_DECIMAL, "-5"},
    {"3D 5B 66", VT_DECIMAL, "-1000"},
    {"40 5B 66", VT_DECIMAL, "-0.001"},
    {"C3 02 18 2E", VT_I4, "12345"},
    {"C9 0D 23 39 4F 5B 0D 23 39 4F", VT_I8, "123456789012345678"},
    {"36 59 43 2D 17 0B 59 43 2D 17 66", VT_I8, "-123456789012345678"},
    {"CA 02 18 2E 44 5A 02 18 2E 44 5A", VT_DECIMAL, "1234567890123456789"},
    {"36 64 4E 38 22 0C 64 4E 38 22 0C 66", VT_DECIMAL, "-12345678901234567.89"},
    {"D4 0D 23 39 4F 5B 0D 23 39 4F 5B 0D 23 39 4F 5B 0D 23 39 4F 5B", VT_DECIMAL,
     "1234567890123456789012345678901234567890"},
    // 21 bytes, no trailing 66: the sign comes from byte 0.
    {"2B 59 43 2D 17 0B 59 43 2D 17 0B 59 43 2D 17 0B 59 43 2D 17 0B", VT_DECIMAL,
     "-1234567890123456789012345678901234567890"},
    {"D3 64 64 64 64 64 64 64 64 64 64 64 64 64 64 64 64 64 64 64", VT_DECIMAL,
     "99999999999999999999999999999999999999"},
    {"80 02", VT_DECIMAL, "1e-130"},
    {"7F 64 66", VT_DECIMAL, "-1e-130"},
    {"FF 64", VT_DECIMAL, "9.9e125"},
    {"00 02 66", VT_DECIMAL, "-9.9e125"},
    {"C0 4A 62 09", VT_R8, "0.739708"},
    {"C1 04 39 4F 5B", VT_R8, "3.56789"},
    {"BC 04 1F", VT_R8, "3.3e-10"},
    {"3E 64 4E 66", VT_R8, "-1.23"},
    // 2.5 and -2.5 in a VT_I8 column round half up.
    {"C1 03 33", VT_I8, "3", false},
    {"3E 63 33 66", VT_I8, "-2", false},
    // The smaller integer types round half to even.
    {"C1 03 33", VT_I4, "2", false},
    {"C1 04 33", VT_I2, "4", false},
    {"C2 02 01", VT_I8, "100", false},
    {"C3 02 18 2E", VT_I1, nullptr, false},
    {"C2 02 1D", VT_I1, nullptr, false},  // 128
    {"3D 64 49 66", VT_I1, "-128"},
    {"C1 65", VT_DECIMAL, nullptr, false},
    {"00", VT_DECIMAL, nullptr, false},
    {"FF 65", VT_DECIMAL, nullptr, false},
    {"C2 02 02 02 02 02 02 02 02 02 02 02 02 02 02 02 02 02 02 02 02 02", VT_DECIMAL, nullptr, false},
    // Beyond int64.
    {"CA 0B", VT_I8, nullptr, false},
};

TEST_F(OraDumpValues, NumberTable)
{
    for (const number_case& c : number_cases) {
        SCOPED_TRACE(c.hex);
        const bytes b = hex(c.hex);
        outcome o = ole_value(th, c.vt, c.vt == VT_R8 ? T::ora_float : T::ora_number, b);
        EXPECT_EQ(o.consumed, static_cast<std::int64_t>(b.size()));
        if (!c.expected) {
            ASSERT_TRUE(o.error.has_value());
            EXPECT_EQ(*o.error, "Unexpected data at position: 3");
            EXPECT_EQ(o.level, 0);
            continue;
        }
        ASSERT_FALSE(o.error.has_value()) << *o.error;
        ASSERT_EQ(o.value.get_vt(), c.vt);
        switch (c.vt) {
        case VT_DECIMAL: {
            ole_decimal expected;
            ASSERT_EQ(ole_decimal::parse(c.expected, expected), ole_number_status::ok);
            EXPECT_EQ(o.value.get_decimal(), expected) << o.value.get_decimal().to_string();
            break;
        }
        case VT_R8:
            EXPECT_EQ(o.value.get_r8(), parse_double(c.expected));
            break;
        case VT_I8:
            EXPECT_EQ(std::to_string(o.value.get_int64()), c.expected);
            break;
        case VT_I4:
            EXPECT_EQ(std::to_string(o.value.get_i4()), c.expected);
            break;
        case VT_I2:
            EXPECT_EQ(std::to_string(o.value.get_i2()), c.expected);
            break;
        case VT_I1:
            EXPECT_EQ(std::to_string(o.value.get_i1()), c.expected);
            break;
        default:
            FAIL();
        }
        if (c.writer_pins) {
            EXPECT_EQ(ora_rows::number(c.expected), b);
        }
    }
}

TEST_F(OraDumpValues, DecimalsPrintExactly)
{
    outcome o = ole_value(th, VT_DECIMAL, T::ora_number, hex("36 64 4E 38 22 0C 64 4E 38 22 0C 66"));
    EXPECT_EQ(o.value.get_decimal().to_string(), "-12345678901234567.89");
    o = ole_value(th, VT_DECIMAL, T::ora_number, hex("80 02"));
    EXPECT_EQ(o.value.get_decimal().to_string(), "0." + std::string(129, '0') + "1");
}

TEST_F(OraDumpValues, EmptyNumberIsEmpty)
{
    outcome o = ole_value(th, VT_DECIMAL, T::ora_number, {});
    EXPECT_FALSE(o.error);
    EXPECT_EQ(o.value.get_vt(), VT_EMPTY);
}

// ---------------------------------------------------------------------------
// DATE and TIMESTAMP

// The year of a date case that expects an empty value, or a date error.
constexpr int empty_value = 10000;
constexpr int date_error = 0;

struct date_case {
    const char* hex;
    int ora_type;
    // y, m, d, h, mi, s, us; a year before year 1 is negative (-1 is 1 BC)
    int f[7];
};

const date_case date_cases[] = {
    {"77 76 01 01 01 01 01", T::ora_date, {1918, 1, 1, 0, 0, 0, 0}},
    {"77 C7 0C 1F 18 3C 3C", T::ora_date, {1999, 12, 31, 23, 59, 59, 0}},
    {"78 76 01 01 01 01 01", T::ora_date, {2018, 1, 1, 0, 0, 0, 0}},
    {"78 7A 01 01 02 29 0C", T::ora_date, {2022, 1, 1, 1, 40, 11, 0}},
    {"64 65 01 01 01 01 01", T::ora_date, {1, 1, 1, 0, 0, 0, 0}},
    {"78 78 02 1D 01 01 01", T::ora_date, {2020, 2, 29, 0, 0, 0, 0}},
    {"77 64 02 1D 01 01 01", T::ora_date, {date_error}},
    {"78 78 02 1E 01 01 01", T::ora_date, {date_error}},
    {"78 78 00 01 01 01 01", T::ora_date, {date_error}},
    {"78 78 0D 01 01 01 01", T::ora_date, {date_error}},
    {"78 78 01 00 01 01 01", T::ora_date, {date_error}},
    {"78 78 01 01 19 01 01", T::ora_date, {date_error}},
    {"78 78 01 01 01 3D 01", T::ora_date, {date_error}},
    // A zero hour byte counts as hour 0.
    {"78 78 01 01 00 01 01", T::ora_date, {2020, 1, 1, 0, 0, 0, 0}},
    // Before year 1 the century and the year are 100 minus their amount.
    {"35 58 01 01 01 01 01", T::ora_date, {-4712, 1, 1, 0, 0, 0, 0}},
    {"64 38 03 0F 0D 1F 01", T::ora_date, {-44, 3, 15, 12, 30, 0, 0}},
    {"64 63 0C 1F 18 3C 3C", T::ora_date, {-1, 12, 31, 23, 59, 59, 0}},
    {"63 64 01 01 01 01 01", T::ora_date, {-100, 1, 1, 0, 0, 0, 0}},
    {"63 4D 07 04 01 01 01", T::ora_date, {-123, 7, 4, 0, 0, 0, 0}},
    // Leap years by the proleptic Gregorian calendar: 1 BC and 5 BC are, 101
    // BC is not.
    {"64 63 02 1D 01 01 01", T::ora_date, {-1, 2, 29, 0, 0, 0, 0}},
    {"64 5F 02 1D 01 01 01", T::ora_date, {-5, 2, 29, 0, 0, 0, 0}},
    {"63 63 02 1D 01 01 01", T::ora_date, {date_error}},
    // No year 0; nothing before 4712 BC; a century and a year of different
    // eras are no year.
    {"64 64 01 01 01 01 01", T::ora_date, {date_error}},
    {"35 57 01 01 01 01 01", T::ora_date, {date_error}},
    {"01 01 01 01 01 01 01", T::ora_date, {date_error}},
    {"78 32 01 01 01 01 01", T::ora_date, {date_error}},
    {"32 78 01 01 01 01 01", T::ora_date, {date_error}},
    // From year 10000 on, an empty value.
    {"C8 64 01 01 01 01 01", T::ora_date, {empty_value}},
    {"FF FF 01 01 01 01 01", T::ora_date, {empty_value}},
    {"C7 C7 0C 1F 18 3C 3C", T::ora_date, {9999, 12, 31, 23, 59, 59, 0}},
    {"78 78 01 01 01 01 01 01", T::ora_date, {date_error}},
    {"78 7A 06 02 09 2E 29 14 AD 5D 90", T::ora_timestamp, {2022, 6, 2, 8, 45, 40, 346906}},
    {"78 7A 06 02 09 2E 29 3B 9A C9 FF", T::ora_timestamp, {2022, 6, 2, 8, 45, 40, 999999}},
    {"78 7A 06 02 09 2E 29 3B 9A CA 00", T::ora_timestamp, {date_error}},
    {"64 38 03 0F 0D 1F 01 1D CD 65 00", T::ora_timestamp, {-44, 3, 15, 12, 30, 0, 500000}},
    {"35 58 01 01 01 01 01", T::ora_timestamp, {-4712, 1, 1, 0, 0, 0, 0}},
    {"64 63 0C 1F 18 3C 3C 00 00 00 00 14 3C", T::ora_timestamp, {-1, 12, 31, 23, 59, 59, 0}},
    {"78 7A 06 02 09 2E 29 14 AD 5D 90 14 3C", T::ora_timestamp, {2022, 6, 2, 8, 45, 40, 346906}},
    {"78 7A 06 02 09 2E 29", T::ora_timestamp, {2022, 6, 2, 8, 45, 40, 0}},
    {"78 7A 06 02 09", T::ora_timestamp, {date_error}},
    {"78 7A 06", T::ora_timestamp, {date_error}},
};

TEST_F(OraDumpValues, DateTable)
{
    for (const date_case& c : date_cases) {
        SCOPED_TRACE(c.hex);
        const bytes b = hex(c.hex);
        outcome o = ole_value(th, VT_DATE, c.ora_type, b);
        // Consumed whatever the outcome, so the next column still reads.
        EXPECT_EQ(o.consumed, static_cast<std::int64_t>(b.size()));
        if (c.f[0] == date_error) {
            ASSERT_TRUE(o.error.has_value());
            EXPECT_EQ(*o.error, "Can't read record. Date error.");
            EXPECT_EQ(o.level, 0);
            continue;
        }
        ASSERT_FALSE(o.error.has_value()) << *o.error;
        if (c.f[0] == empty_value) {
            EXPECT_EQ(o.value.get_vt(), VT_EMPTY);
            continue;
        }
        ASSERT_EQ(o.value.get_vt(), VT_DATE);
        const t_systemtime& t = o.value.get_time();
        EXPECT_EQ(t.year, c.f[0]);
        EXPECT_EQ(t.month, c.f[1]);
        EXPECT_EQ(t.day, c.f[2]);
        EXPECT_EQ(t.hour, c.f[3]);
        EXPECT_EQ(t.minute, c.f[4]);
        EXPECT_EQ(t.second, c.f[5]);
        EXPECT_EQ(t.microsecond, c.f[6]);
    }
}

TEST_F(OraDumpValues, WriterDatesMatchTheTable)
{
    EXPECT_EQ(ora_rows::date(1918, 1, 1), hex("77 76 01 01 01 01 01"));
    EXPECT_EQ(ora_rows::date(1999, 12, 31, 23, 59, 59), hex("77 C7 0C 1F 18 3C 3C"));
    EXPECT_EQ(ora_rows::date(2022, 1, 1, 1, 40, 11), hex("78 7A 01 01 02 29 0C"));
    EXPECT_EQ(ora_rows::date(1, 1, 1), hex("64 65 01 01 01 01 01"));
    EXPECT_EQ(ora_rows::date(-1, 12, 31, 23, 59, 59), hex("64 63 0C 1F 18 3C 3C"));
    EXPECT_EQ(ora_rows::date(-44, 3, 15, 12, 30), hex("64 38 03 0F 0D 1F 01"));
    EXPECT_EQ(ora_rows::date(-4712, 1, 1), hex("35 58 01 01 01 01 01"));
    EXPECT_EQ(ora_rows::timestamp(2022, 6, 2, 8, 45, 40, 346906000), hex("78 7A 06 02 09 2E 29 14 AD 5D 90"));
    EXPECT_EQ(ora_rows::timestamp(2022, 6, 2, 8, 45, 40, 0, 7), hex("78 7A 06 02 09 2E 29"));
    EXPECT_EQ(ora_rows::timestamp(2022, 6, 2, 8, 45, 40, 346906000, 13).size(), 13u);
}

TEST_F(OraDumpValues, DateOfWrongLengthLeavesNextValueReadable)
{
    bytes b = hex("78 7A 06 02 09");
    bytes next = hex("C1 02");
    b.insert(b.end(), next.begin(), next.end());
    auto s = stream_of(b);
    ole_variant v;
    EXPECT_THROW(th.get_timestamp_value(v, *s, 5), tk_exception);
    th.get_floating_value(v, *s, 2);
    EXPECT_EQ(v.get_decimal(), ole_decimal::from_int64(1));
}

// ---------------------------------------------------------------------------
// BINARY_FLOAT and BINARY_DOUBLE

TEST_F(OraDumpValues, IeeeTables)
{
    const float inf = std::numeric_limits<float>::infinity();
    struct fcase {
        const char* hex;
        float value;
        bool negative;
    } floats[] = {
        {"BF 80 00 00", 1.0f, false}, {"40 7F FF FF", -1.0f, true}, {"80 00 00 00", 0.0f, false},
        {"7F FF FF FF", -0.0f, true}, {"FF 80 00 00", inf, false},  {"00 7F FF FF", -inf, true},
    };
    for (const fcase& c : floats) {
        SCOPED_TRACE(c.hex);
        outcome o = ole_value(th, VT_R4, T::ora_binary_float, hex(c.hex));
        ASSERT_FALSE(o.error);
        ASSERT_EQ(o.value.get_vt(), VT_R4);
        EXPECT_EQ(o.value.get_r4(), c.value);
        EXPECT_EQ(std::signbit(o.value.get_r4()), c.negative);
        EXPECT_EQ(ora_rows::binary_float(c.value), hex(c.hex));
    }
    outcome nan = ole_value(th, VT_R4, T::ora_binary_float, hex("FF C0 00 00"));
    EXPECT_TRUE(std::isnan(nan.value.get_r4()));

    const double dinf = std::numeric_limits<double>::infinity();
    struct dcase {
        const char* hex;
        double value;
    } doubles[] = {
        {"BF F0 00 00 00 00 00 00", 1.0},
        {"40 0F FF FF FF FF FF FF", -1.0},
        {"FF F0 00 00 00 00 00 00", dinf},
    };
    for (const dcase& c : doubles) {
        SCOPED_TRACE(c.hex);
        outcome o = ole_value(th, VT_R8, T::ora_binary_double, hex(c.hex));
        ASSERT_FALSE(o.error);
        EXPECT_EQ(o.value.get_r8(), c.value);
        EXPECT_EQ(ora_rows::binary_double(c.value), hex(c.hex));
    }
    outcome dnan = ole_value(th, VT_R8, T::ora_binary_double, hex("FF F8 00 00 00 00 00 00"));
    EXPECT_TRUE(std::isnan(dnan.value.get_r8()));
    EXPECT_EQ(ora_rows::binary_double(0.1).size(), 8u);

    outcome wrong = ole_value(th, VT_R4, T::ora_binary_float, hex("BF 80 00"));
    ASSERT_TRUE(wrong.error);
    EXPECT_EQ(*wrong.error, "Unexpected data at position: 3");
    EXPECT_EQ(wrong.consumed, 3);
}

// ---------------------------------------------------------------------------
// Text

TEST_F(OraDumpValues, InRowTextUsesTheDumpsSets)
{
    dump_info info;
    info.charset_class = 0;
    info.dump_code_page = 1251;
    info.ncharset_class = 2;
    th.set_dump_info(info);
    outcome o = ole_value(th, VT_BSTR, T::ora_varchar2, ora_rows::text(L"Привет", 1251));
    EXPECT_EQ(o.value.get_bstr(), L"Привет");
    o = ole_value(th, VT_BSTR, T::ora_nvarchar2, ora_rows::utf16be(L"Привет"));
    EXPECT_EQ(o.value.get_bstr(), L"Привет");
    info.charset_class = 1;
    th.set_dump_info(info);
    o = ole_value(th, VT_BSTR, T::ora_char, ora_rows::text(L"Grüße", 65001));
    EXPECT_EQ(o.value.get_bstr(), L"Grüße");
}

TEST_F(OraDumpValues, LongTextByCharset)
{
    auto long_value = [&](const bytes& b, unsigned charset) {
        return run(b, [&](ole_variant& v, ora_dump_stream& s) {
            th.get_long_value(v, s, static_cast<std::uint16_t>(b.size()), charset);
        });
    };
    EXPECT_EQ(long_value(hex("00 41 00 42"), 2000).value.get_bstr(), L"AB");
    // A trailing odd byte is dropped, never read past.
    outcome odd = long_value(hex("00 41 00"), 2000);
    EXPECT_EQ(odd.value.get_bstr(), L"A");
    EXPECT_EQ(odd.consumed, 3);
    EXPECT_EQ(long_value(hex("D8 3D DE 00"), 873).value.get_bstr(), std::wstring(1, wchar_t(0x1F600)));
    EXPECT_EQ(long_value(hex("00 41 00 00 00 42"), 871).value.get_bstr(), L"A");

    // Charset id 0 is the dump's own database set, not the machine's.
    dump_info info;
    info.dump_code_page = 1251;
    th.set_dump_info(info);
    EXPECT_EQ(long_value(ora_rows::text(L"Да", 1251), 0).value.get_bstr(), L"Да");
    info.charset_class = 1;
    th.set_dump_info(info);
    EXPECT_EQ(long_value(ora_rows::text(L"Да", 65001), 0).value.get_bstr(), L"Да");

    // Any other id names its code page; one without a code page reads as
    // windows-1252.
    ora_dump_reader reader;
    EXPECT_EQ(long_value(ora_rows::text(L"Да", 1251), 171).value.get_bstr(), L"Да");
    EXPECT_EQ(long_value(hex("E9"), 9999).value.get_bstr(), L"é");
    EXPECT_EQ(long_value({}, 0).value.get_vt(), VT_EMPTY);
}

// A LONG of many pieces gives the text a short one in the same character
// set gives; from 64 KiB on in a code page, or well formed in a UTF-8 set, it
// is held as UTF-8, up to its first NUL.
TEST_F(OraDumpValues, LargeLongTextByCharset)
{
    auto repeated = [](const std::wstring& unit, std::size_t count) {
        std::wstring out;
        for (std::size_t i = 0; i < count; ++i)
            out += unit;
        return out;
    };
    auto with_nul = [](bytes b, std::size_t at) {
        b[at] = 0;
        return b;
    };
    const std::wstring latin = repeated(L"Long text \u00E9\u00FC\u00DF 0123\t\\\r\n", 4000);
    const std::wstring cyrillic = repeated(L"\u0414\u0430 \u043D\u0435\u0442 ", 12000);
    const std::wstring japanese = repeated(L"\u65E5\u672C\u8A9E abc ", 12000);
    const bytes latin_bytes = ora_rows::text(latin, 1252);
    const std::string sjis = tk_to_ansi(japanese, 932);
    const bytes shift_jis(sjis.begin(), sjis.end());
    const bytes utf8_bytes = ora_rows::text(cyrillic, 65001);
    const std::wstring utf8_before_nul = tk_utf8_to_wide(std::string(utf8_bytes.begin(), utf8_bytes.begin() + 70001));
    bytes with_cesu = utf8_bytes;
    for (std::uint8_t b : {0xED, 0xA0, 0xBD, 0xED, 0xB8, 0x80})  // U+1F600 as two encoded surrogates
        with_cesu.push_back(b);
    bytes with_damage = utf8_bytes;
    with_damage.push_back(0xC0);
    with_damage.push_back('x');
    struct long_case {
        const char* name;
        bytes value;
        unsigned charset;
        int class_of_set;  // of the dump's database set, for charset 0
        int dump_code_page;
        std::wstring want;
        bool compact;
    };
    const long_case cases[] = {
        {"windows-1252", latin_bytes, 178, 0, 0, latin, true},
        {"the dump's set", ora_rows::text(cyrillic, 1251), 0, 0, 1251, cyrillic, true},
        {"no code page", latin_bytes, 0, 0, 0, latin, true},
        {"several bytes a character", shift_jis, 0, 0, 932, japanese, true},
        {"ascii", bytes(70000, 'a'), 178, 0, 0, std::wstring(70000, L'a'), true},
        {"cut at a NUL", with_nul(latin_bytes, 70001), 178, 0, 0, latin.substr(0, 70001), true},
        {"NUL first", with_nul(latin_bytes, 0), 178, 0, 0, L"", true},
        {"UTF-8 set", utf8_bytes, 0, 1, 0, cyrillic, true},
        {"UTF-8 set, cut at a NUL", with_nul(utf8_bytes, 70001), 0, 1, 0, utf8_before_nul, true},
        {"UTF-8 set, a CESU-8 pair", with_cesu, 0, 1, 0, cyrillic + L"\U0001F600", false},
        {"UTF-8 set, a damaged byte", with_damage, 0, 1, 0, cyrillic + L"\uFFFDx", false},
        {"UTF-16", ora_rows::utf16be(cyrillic), 2000, 0, 0, cyrillic, false},
        {"below the size", ora_rows::text(latin.substr(0, 30000), 1252), 178, 0, 0, latin.substr(0, 30000), false},
    };
    ora_dump_reader reader;
    for (const long_case& c : cases) {
        SCOPED_TRACE(c.name);
        dump_info info;
        info.charset_class = c.class_of_set;
        info.dump_code_page = c.dump_code_page;
        th.set_dump_info(info);
        ora_rows::row r;
        r.chunked(c.value, 8000, true);
        const bytes framed(r.data().begin() + 2, r.data().end());
        outcome o = run(framed, [&](ole_variant& v, ora_dump_stream& s) {
            v = std::wstring(L"the row before");
            th.get_long_value(v, s, ora_dump_reader_th::len_chunked, c.charset);
        });
        ASSERT_FALSE(o.error) << *o.error;
        EXPECT_EQ(o.consumed, static_cast<std::int64_t>(framed.size()));
        EXPECT_EQ(o.value.get_vt(), VT_BSTR);
        EXPECT_EQ(o.value.is_compact_text(), c.compact);
        EXPECT_EQ(o.value.to_wstring(), c.want);
        EXPECT_EQ(o.value.get_bstr(), c.want);
    }
}

TEST_F(OraDumpValues, XmltypeSkipsItsHeader)
{
    auto xml = [&](const bytes& b, unsigned charset) {
        return run(b, [&](ole_variant& v, ora_dump_stream& s) {
            th.get_xmltype_value(v, s, static_cast<std::uint16_t>(b.size()), charset);
        });
    };
    bytes header(8, 0x01);
    outcome eight = xml(header, 873);
    EXPECT_FALSE(eight.error);
    EXPECT_EQ(eight.value.get_vt(), VT_BSTR);
    EXPECT_EQ(eight.value.get_bstr(), L"");
    EXPECT_EQ(eight.consumed, 8);
    bytes nine = header;
    nine.push_back('A');
    EXPECT_EQ(xml(nine, 873).value.get_bstr(), L"A");
    bytes utf8 = header;
    for (std::uint8_t c : ora_rows::text(L"<a>ü</a>", 65001))
        utf8.push_back(c);
    EXPECT_EQ(xml(utf8, 871).value.get_bstr(), L"<a>ü</a>");
    bytes wide = header;
    for (std::uint8_t c : ora_rows::utf16be(L"<b/>"))
        wide.push_back(c);
    EXPECT_EQ(xml(wide, 2000).value.get_bstr(), L"<b/>");
}

// ---------------------------------------------------------------------------
// LONG RAW, typed over the classic decoders

template <typename Decoder>
class OraDumpLongRaw : public ::testing::Test {
protected:
    Decoder th;
};
using classic_decoders =
    ::testing::Types<ora_dump_reader_th_7, ora_dump_reader_th_8, ora_dump_reader_th_9, ora_dump_reader_th_10>;
TYPED_TEST_SUITE(OraDumpLongRaw, classic_decoders);

bytes pattern(std::size_t n, std::uint8_t seed)
{
    bytes b(n);
    for (std::size_t i = 0; i < n; ++i)
        b[i] = static_cast<std::uint8_t>(seed + i * 7);
    return b;
}

TYPED_TEST(OraDumpLongRaw, ChunkedPiecesAreJoined)
{
    const bool gen7 = this->th.generation() == 7;
    const bytes data = pattern(9200, 3);
    ora_rows::row r;
    r.chunked(data, 4000, gen7);
    bytes encoded(r.data().begin() + 2, r.data().end());  // without FD FF
    encoded.push_back(0x42);  // the next column
    outcome o = run(encoded, [&](ole_variant& v, ora_dump_stream& s) { this->th.get_longraw_value(v, s, 0xFFFD); });
    ASSERT_FALSE(o.error) << *o.error;
    EXPECT_EQ(o.value.get_vt(), VT_BYTE_ARRAY);
    EXPECT_EQ(o.value.get_bytes(), data);
    EXPECT_EQ(o.consumed, static_cast<std::int64_t>(encoded.size() - 1));
}

TYPED_TEST(OraDumpLongRaw, LastSizeZero)
{
    // Two full pieces: the third size is 0. Generation 7 reads that empty
    // piece and two bytes after it; later generations stop at the size.
    const bool gen7 = this->th.generation() == 7;
    const bytes data = pattern(8000, 5);
    bytes encoded;
    for (int i = 0; i < 2; ++i) {
        encoded.push_back(0xA0);
        encoded.push_back(0x0F);
        encoded.insert(encoded.end(), data.begin() + i * 4000, data.begin() + (i + 1) * 4000);
    }
    encoded.push_back(0);
    encoded.push_back(0);
    encoded.push_back(0x11);
    encoded.push_back(0x22);
    encoded.push_back(0x33);
    outcome o = run(encoded, [&](ole_variant& v, ora_dump_stream& s) { this->th.get_longraw_value(v, s, 0xFFFD); });
    ASSERT_FALSE(o.error) << *o.error;
    EXPECT_EQ(o.value.get_bytes(), data);
    EXPECT_EQ(o.consumed, static_cast<std::int64_t>(8006 + (gen7 ? 2 : 0)));
}

TYPED_TEST(OraDumpLongRaw, PlainLengthAndEmpty)
{
    outcome o = run(hex("01 02 03"), [&](ole_variant& v, ora_dump_stream& s) { this->th.get_longraw_value(v, s, 3); });
    EXPECT_EQ(o.value.get_bytes(), hex("01 02 03"));
    outcome e = run({}, [&](ole_variant& v, ora_dump_stream& s) { this->th.get_longraw_value(v, s, 0); });
    EXPECT_EQ(e.value.get_vt(), VT_BYTE_ARRAY);
    EXPECT_EQ(e.value.byte_count(), 0u);
}

TEST(OraDumpRawContinuation, Generation9JoinsPieces)
{
    ora_rows::row r;
    r.raw_continued({hex("01 02"), hex("03 04 05"), hex("06")});
    bytes encoded(r.data().begin() + 2, r.data().end());
    encoded.push_back(0x05);  // the next column's length
    encoded.push_back(0x00);
    ora_dump_reader_th_9 th9;
    outcome o = run(encoded, [&](ole_variant& v, ora_dump_stream& s) { th9.get_longraw_value(v, s, 2); });
    EXPECT_EQ(o.value.get_bytes(), hex("01 02 03 04 05 06"));
    EXPECT_EQ(o.consumed, static_cast<std::int64_t>(encoded.size() - 2));
    // Generation 8 knows no continuation.
    ora_dump_reader_th_8 th8;
    outcome o8 = run(encoded, [&](ole_variant& v, ora_dump_stream& s) { th8.get_longraw_value(v, s, 2); });
    EXPECT_EQ(o8.value.get_bytes(), hex("01 02"));
}

// ---------------------------------------------------------------------------
// LOB values after a row

TEST_F(OraDumpValues, LobTrailers)
{
    auto blob = [&](const bytes& b, VARTYPE vt = VT_BLOB, unsigned charset = 0) {
        return run(b, [&](ole_variant& v, ora_dump_stream& s) { th.get_blob_value(v, s, vt, charset); });
    };
    // An empty LOB is not NULL: empty bytes, or empty text for a CLOB.
    outcome empty = blob(hex("00 00"));
    EXPECT_EQ(empty.value.get_vt(), VT_ARRAY | VT_UI1);
    EXPECT_TRUE(empty.value.get_bytes().empty());
    EXPECT_EQ(empty.consumed, 2);
    for (unsigned charset : {0u, 871u, 873u, 2000u, 178u}) {
        outcome text = blob(hex("00 00 41"), VT_BSTR, charset);
        EXPECT_EQ(text.value.get_vt(), VT_BSTR) << charset;
        EXPECT_EQ(text.value.get_bstr(), L"") << charset;
        EXPECT_EQ(text.consumed, 2) << charset;
    }

    outcome five = blob(hex("05 00 01 02 03 04 05 99"));
    EXPECT_EQ(five.value.get_bytes(), hex("01 02 03 04 05"));
    EXPECT_EQ(five.consumed, 7);

    const bytes data = pattern(2500, 9);
    ora_rows::row fc;
    fc.lob_fffc(data, 1000);
    bytes fcb = fc.data();
    fcb.push_back(0x77);
    outcome c = blob(fcb);
    ASSERT_FALSE(c.error) << *c.error;
    EXPECT_EQ(c.value.get_bytes(), data);
    EXPECT_EQ(c.consumed, static_cast<std::int64_t>(fcb.size() - 1));

    for (std::size_t repeats : {0, 2}) {
        ora_rows::row fa;
        fa.lob_fffa(data, 1000, repeats);
        bytes fab = fa.data();
        fab.push_back(0x77);
        outcome a = blob(fab);
        ASSERT_FALSE(a.error) << *a.error;
        EXPECT_EQ(a.value.get_bytes(), data);
        EXPECT_EQ(a.consumed, static_cast<std::int64_t>(fab.size() - 1));
    }
    // Equal pieces end on a zero size.
    ora_rows::row fa2;
    fa2.lob_fffa(pattern(2000, 1), 1000);
    EXPECT_EQ(blob(fa2.data()).value.get_bytes(), pattern(2000, 1));

    // Text: 873 is big-endian UTF-16 in generation 10, little-endian in 9.
    ora_rows::row t10;
    t10.lob_inline(ora_rows::utf16be(L"Ωmega"));
    EXPECT_EQ(blob(t10.data(), VT_BSTR, 873).value.get_bstr(), L"Ωmega");
    ora_dump_reader_th_9 th9;
    ora_rows::row t9;
    t9.lob_inline(ora_rows::utf16le(L"Ωmega"));
    outcome le = run(t9.data(), [&](ole_variant& v, ora_dump_stream& s) { th9.get_blob_value(v, s, VT_BSTR, 873); });
    EXPECT_EQ(le.value.get_bstr(), L"Ωmega");
    ora_rows::row t2000;
    t2000.lob_inline(ora_rows::utf16be(L"x"));
    outcome n9 = run(t2000.data(), [&](ole_variant& v, ora_dump_stream& s) { th9.get_blob_value(v, s, VT_BSTR, 2000); });
    EXPECT_EQ(n9.value.get_bstr(), L"x");
}

TEST_F(OraDumpValues, HostileLobTrailersEndWithMessages)
{
    auto blob = [&](const bytes& b) {
        return run(b, [&](ole_variant& v, ora_dump_stream& s) { th.get_blob_value(v, s, VT_BLOB, 0); });
    };
    // A declared total far beyond the data.
    outcome total = blob(hex("FC FF FF FF FF FF FF FF FF 7F 10 00 01 02"));
    ASSERT_TRUE(total.error);
    EXPECT_EQ(*total.error, "Can't read record. EOF reached");
    // Zero-size pieces end the value instead of turning for ever.
    outcome zero = blob(hex("FC FF 0A 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00"));
    EXPECT_FALSE(zero.error);
    EXPECT_EQ(zero.value.byte_count(), 0u);
    // FFFA values up to the end of the data.
    bytes fa;
    for (int i = 0; i < 500; ++i) {
        fa.push_back(0xFA);
        fa.push_back(0xFF);
    }
    outcome run_out = blob(fa);
    ASSERT_TRUE(run_out.error);
    EXPECT_EQ(*run_out.error, "Can't read record. EOF reached");
    outcome piece = blob(hex("40 00 01 02"));
    ASSERT_TRUE(piece.error);
    EXPECT_EQ(*piece.error, "Can't read record. EOF reached");
}

// Every chunked layout, cut at every offset, ends with message 11 or 15 or
// a value, and never reads beyond what is there.
TEST_F(OraDumpValues, TruncatedChunkLoopsTerminate)
{
    ora_rows::row chunked;
    chunked.chunked(pattern(700, 2), 300, true);
    ora_rows::row fffc;
    fffc.lob_fffc(pattern(700, 2), 300);
    ora_rows::row fffa;
    fffa.lob_fffa(pattern(700, 2), 300, 1);
    ora_rows::row cont;
    cont.raw_continued({pattern(20, 1), pattern(30, 2), pattern(5, 3)});
    const bytes sdo = hex("00 01 FF 04 01 FF 00 01 FE 00 04 01 02 03 04");
    const bytes pump = [] {
        bytes b = hex("FE 00 03 01 02 03 03 00 FE 00 02 04 05 08 00");
        return b;
    }();

    struct layout {
        const char* name;
        bytes data;
        std::function<void(ora_dump_reader_th&, ole_variant&, ora_dump_stream&)> decode;
    };
    ora_dump_reader_th_9 th9;
    std::vector<layout> layouts = {
        {"long raw", bytes(chunked.data().begin() + 2, chunked.data().end()),
         [](ora_dump_reader_th& t, ole_variant& v, ora_dump_stream& s) { t.get_longraw_value(v, s, 0xFFFD); }},
        {"long", bytes(chunked.data().begin() + 2, chunked.data().end()),
         [](ora_dump_reader_th& t, ole_variant& v, ora_dump_stream& s) { t.get_long_value(v, s, 0xFFFD, 0); }},
        {"fffc", fffc.data(),
         [](ora_dump_reader_th& t, ole_variant& v, ora_dump_stream& s) { t.get_blob_value(v, s, VT_BLOB, 0); }},
        {"fffa", fffa.data(),
         [](ora_dump_reader_th& t, ole_variant& v, ora_dump_stream& s) { t.get_blob_value(v, s, VT_BLOB, 0); }},
        {"continued", bytes(cont.data().begin() + 2, cont.data().end()),
         [](ora_dump_reader_th& t, ole_variant& v, ora_dump_stream& s) { t.get_longraw_value(v, s, 20); }},
        {"sdo", sdo,
         [](ora_dump_reader_th& t, ole_variant& v, ora_dump_stream& s) {
             std::uint16_t l;
             t.get_sdo_geometry_value(v, s, l);
         }},
        {"pump lob", pump,
         [](ora_dump_reader_th& t, ole_variant& v, ora_dump_stream& s) {
             bool more;
             t.get_pump_lob_value(v, s, 0, more);
         }},
    };
    for (const layout& l : layouts) {
        for (std::size_t cut = 0; cut <= l.data.size(); ++cut) {
            SCOPED_TRACE(std::string(l.name) + " cut at " + std::to_string(cut));
            bytes part(l.data.begin(), l.data.begin() + static_cast<std::ptrdiff_t>(cut));
            outcome o = run(part, [&](ole_variant& v, ora_dump_stream& s) { l.decode(th9, v, s); });
            EXPECT_LE(o.consumed, static_cast<std::int64_t>(cut));
            if (o.error) {
                EXPECT_TRUE(*o.error == "Can't read record. EOF reached" ||
                            o.error->rfind("Unexpected data at position: ", 0) == 0)
                    << *o.error;
            }
        }
    }
}

// ---------------------------------------------------------------------------
// Data Pump helpers and the dispatcher's edges

TEST_F(OraDumpValues, PumpLobValue)
{
    bool more = true;
    outcome null = run(hex("FF 00"), [&](ole_variant& v, ora_dump_stream& s) { th.get_pump_lob_value(v, s, 0, more); });
    EXPECT_EQ(null.value.get_vt(), VT_EMPTY);
    EXPECT_FALSE(more);
    bytes b = hex("FE 01 00");
    const bytes data = pattern(256, 4);
    b.insert(b.end(), data.begin(), data.end());
    b.push_back(0x08);
    b.push_back(0x01);
    outcome o = run(b, [&](ole_variant& v, ora_dump_stream& s) { th.get_pump_lob_value(v, s, 0, more); });
    EXPECT_EQ(o.value.get_bytes(), data);
    EXPECT_TRUE(more);
    EXPECT_EQ(o.consumed, 259);
    outcome text = run(hex("04 00 41 00 42"),
                       [&](ole_variant& v, ora_dump_stream& s) { th.get_pump_lob_value(v, s, 2000, more); });
    EXPECT_EQ(text.value.get_bstr(), L"AB");
}

TEST_F(OraDumpValues, SdoGeometryHeaders)
{
    std::uint16_t length = 0;
    outcome plain = run(hex("00 01 FE 00 03 0A 0B 0C"),
                        [&](ole_variant& v, ora_dump_stream& s) { th.get_sdo_geometry_value(v, s, length); });
    EXPECT_EQ(plain.value.get_bytes(), hex("0A 0B 0C"));
    EXPECT_EQ(length, 3);
    outcome skipped = run(hex("04 01 FF 00 01 FE 00 01 0D"),
                          [&](ole_variant& v, ora_dump_stream& s) { th.get_sdo_geometry_value(v, s, length); });
    EXPECT_EQ(skipped.value.get_bytes(), hex("0D"));
    for (const char* bad : {"00 02 FE 00 01 0D", "00 01 FD 00 01 0D", "07 01 FF 00 01 FE"}) {
        outcome o = run(hex(bad), [&](ole_variant& v, ora_dump_stream& s) { th.get_sdo_geometry_value(v, s, length); });
        ASSERT_TRUE(o.error) << bad;
        EXPECT_EQ(*o.error, "Unexpected data at position: 3");
        EXPECT_EQ(o.level, 0);
    }
}

TEST_F(OraDumpValues, TypeWithoutDecoderFailsAfterItsBytes)
{
    outcome o = ole_value(th, VT_NULL, T::ora_number, hex("C1 02"));
    ASSERT_TRUE(o.error);
    EXPECT_EQ(*o.error, "Unknown field type");
    EXPECT_EQ(o.level, 0);
    EXPECT_EQ(o.consumed, 2);
}

TEST_F(OraDumpValues, UnknownTypesKeepTheirBytes)
{
    // INTERVAL and the object types arrive as byte arrays.
    outcome o = ole_value(th, VT_BLOB, T::ora_unknown, hex("80 00 00 01 3C 00 00 00 00 00 00"));
    EXPECT_EQ(o.value.get_vt(), VT_BYTE_ARRAY);
    EXPECT_EQ(o.value.byte_count(), 11u);
}

TEST_F(OraDumpValues, DecoderFactory)
{
    EXPECT_EQ(ora_dump_reader_th::create(7, "")->generation(), 7);
    EXPECT_EQ(ora_dump_reader_th::create(7, "")->m_skip_blob_flag, 1);
    auto th8 = ora_dump_reader_th::create(8, "EXPORT:V08.00.05");
    ASSERT_TRUE(th8);
    auto* g8 = dynamic_cast<ora_dump_reader_th_8*>(th8.get());
    ASSERT_TRUE(g8);
    EXPECT_EQ(g8->version_major, 8);
    EXPECT_EQ(g8->version_minor, 0);
    EXPECT_EQ(g8->version_patch, 5);
    EXPECT_EQ(th8->m_skip_blob_flag, 0);
    EXPECT_EQ(ora_dump_reader_th::create(9, "")->generation(), 9);
    for (int v : {10, 11, 12, 18, 19, 20, 21, 22, 23}) {
        auto th = ora_dump_reader_th::create(v, "EXPORT:V" + std::to_string(v) + ".00.00");
        ASSERT_TRUE(th) << v;
        EXPECT_EQ(th->generation(), 10) << v;
    }
    for (int v : {-12, 0, 1, 2, 6, 13, 14, 15, 16, 17, 24, 99})
        EXPECT_FALSE(ora_dump_reader_th::create(v, "")) << v;
    EXPECT_FALSE(ora_dump_reader_th::create(9, "")->swap_utf8_lob());
    EXPECT_TRUE(ora_dump_reader_th::create(10, "")->swap_utf8_lob());
}

}  // namespace
