// Classic row decoding: lengths and their slides, the field descriptions of
// each generation, whole rows with their end markers and LOB trailers, a
// round trip of every type through every generation, and the rows of the
// real classic dump.
#include "ora_dump_reader.h"
#include "ora_dump_reader_th.h"
#include "ora_dump_reader_th_10.h"
#include "ora_dump_reader_th_7.h"
#include "ora_dump_reader_th_8.h"
#include "ora_dump_reader_th_9.h"
#include "ora_dump_stream.h"
#include "ora_dump_writer_rows.h"
#include "t_orcale_ftd.h"
#include "udb_record.h"
#include "udb_schema.h"

#include <gtest/gtest.h>

#include "test_support.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <memory>
#include <optional>
#include <string>

namespace {

using ora_rows::bytes;
using ora_rows::hex;
using T = t_orcale_ftd;

// The columns of one test table, owned here as a table would own them.
struct columns {
    std::vector<std::unique_ptr<t_orcale_ftd>> owned;
    udb_schema schema;
    t_orcale_ftd& add(const std::wstring& name, std::int32_t ora_type, VARTYPE vt, std::uint32_t size = 0)
    {
        owned.push_back(std::make_unique<t_orcale_ftd>(size, ora_type, name, vt));
        schema.push_back(owned.back().get());
        return *owned.back();
    }
    std::vector<std::wstring> names() const
    {
        std::vector<std::wstring> n;
        for (const auto& c : owned)
            n.push_back(c->name);
        return n;
    }
};

// A stream over prefix bytes and then data, standing at the data.
constexpr std::int64_t data_at = 4;

std::unique_ptr<ora_dump_stream> stream_at(const bytes& data)
{
    bytes all(data_at, 0x0A);
    all.insert(all.end(), data.begin(), data.end());
    auto s = std::make_unique<ora_dump_stream>(std::make_unique<ora_dump_memory_source>(all));
    s->seek(data_at);
    return s;
}

bytes concat(std::initializer_list<bytes> parts)
{
    bytes out;
    for (const bytes& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

bool same(const ole_variant& a, const ole_variant& b)
{
    if (a.get_vt() != b.get_vt())
        return false;
    switch (a.get_vt()) {
    case VT_EMPTY:
    case VT_NULL:
        return true;
    case VT_DECIMAL:
        return a.get_decimal() == b.get_decimal();
    case VT_R8:
        return (std::isnan(a.get_r8()) && std::isnan(b.get_r8())) ||
               (a.get_r8() == b.get_r8() && std::signbit(a.get_r8()) == std::signbit(b.get_r8()));
    case VT_R4:
        return (std::isnan(a.get_r4()) && std::isnan(b.get_r4())) ||
               (a.get_r4() == b.get_r4() && std::signbit(a.get_r4()) == std::signbit(b.get_r4()));
    case VT_I1:
        return a.get_i1() == b.get_i1();
    case VT_I2:
        return a.get_i2() == b.get_i2();
    case VT_I4:
        return a.get_i4() == b.get_i4();
    case VT_I8:
        return a.get_int64() == b.get_int64();
    case VT_BSTR:
        return a.get_bstr() == b.get_bstr();
    case VT_DATE:
        return a.get_time() == b.get_time();
    case VT_BYTE_ARRAY:
        return a.get_bytes() == b.get_bytes();
    default:
        return false;
    }
}

std::string show(const ole_variant& v)
{
    if (v.get_vt() == VT_BYTE_ARRAY)
        return "bytes[" + std::to_string(v.byte_count()) + "]";
    return std::to_string(v.get_vt()) + ":" + v.to_string();
}

ole_variant dec(const char* text)
{
    ole_decimal d;
    EXPECT_EQ(ole_decimal::parse(text, d), ole_number_status::ok) << text;
    return ole_variant(d);
}

ole_variant when(int y, int mo, int d, int h = 0, int mi = 0, int s = 0, int us = 0)
{
    return ole_variant(tk_test::systemtime(y, mo, d, h, mi, s, us));
}

double dbl(const char* text)
{
    double d = 0;
    std::from_chars(text, text + std::strlen(text), d);
    return d;
}

// Reads the rows of a block from the stream's position up to its end
// marker; failures are collected, and a framing loss ends the block.
struct block_result {
    std::vector<std::unique_ptr<udb_record>> rows;
    std::vector<std::string> failures;
    std::int64_t end = -1;
};

block_result read_block(ora_dump_reader_th& th, ora_dump_stream& s, const udb_schema& schema, std::int64_t end_pos)
{
    block_result r;
    for (int guard = 0; guard < 10000; ++guard) {
        if (th.check_for_eof(s)) {
            r.end = s.tell();
            return r;
        }
        std::int64_t next = -1;
        try {
            auto rec = th.get_record(s, schema, end_pos, next);
            if (rec)
                r.rows.push_back(std::move(rec));
        } catch (const tk_exception& e) {
            r.failures.push_back(e.what());
        }
        if (next < 0)
            return r;
        s.seek(next);
    }
    ADD_FAILURE() << "no end";
    return r;
}

// ---------------------------------------------------------------------------
// Lengths

TEST(OraDumpRows, FieldLengthTable)
{
    ora_dump_reader_th_10 th;
    t_orcale_ftd number(22, T::ora_number, L"N", VT_DECIMAL);
    t_orcale_ftd date(7, T::ora_date, L"D", VT_DATE);
    struct row {
        const t_orcale_ftd* column;
        const char* hex;
        int expected;  // -1: message 15 at data_at
        std::int64_t after;
    } rows[] = {
        {&number, "05 00 C1", 5, 2},
        {&number, "FE FF", 0xFFFE, 2},
        {&number, "FF FF", 0xFFFF, 0},
        {&number, "00 00", 0, 2},
        {&number, "15 00", 21, 2},
        // 0x0516 is refused; the window slides one byte on to 05 00.
        {&number, "16 05 00", 5, 3},
        {&number, "16 00", -1, 0},
        {&date, "07 00", 7, 2},
        // 00 07 reads as 0x0700, slides to 0x7807 and then 0x0178: refused.
        {&date, "00 07 78 01 02", -1, 0},
        // The first slide finds the length one byte on.
        {&date, "01 07 00", 7, 3},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.hex);
        auto s = stream_at(hex(r.hex));
        if (r.expected < 0) {
            try {
                th.get_field_length(*s, r.column);
                FAIL();
            } catch (const ora_framing_error& e) {
                EXPECT_EQ(std::string(e.what()), "Unexpected data at position: " + std::to_string(data_at));
                EXPECT_EQ(e.level, 0);
            }
            continue;
        }
        EXPECT_EQ(th.get_field_length(*s, r.column), r.expected);
        EXPECT_EQ(s->tell() - data_at, r.after);
    }
}

TEST(OraDumpRows, CheckLengthRules)
{
    ora_dump_reader_th_10 th;
    t_orcale_ftd v10(10, T::ora_varchar2, L"V", VT_BSTR);
    t_orcale_ftd n10(10, T::ora_nvarchar2, L"NV", VT_BSTR);
    t_orcale_ftd ts(11, T::ora_timestamp, L"T", VT_DATE);
    t_orcale_ftd bf(4, T::ora_binary_float, L"BF", VT_R4);
    t_orcale_ftd bd(8, T::ora_binary_double, L"BD", VT_R8);
    t_orcale_ftd num(22, T::ora_number, L"N", VT_DECIMAL);
    dump_info utf8;
    utf8.charset_class = 1;
    utf8.ncharset_class = 1;
    th.set_dump_info(utf8);
    EXPECT_TRUE(th.check_length(&v10, 40));
    EXPECT_FALSE(th.check_length(&v10, 41));
    EXPECT_TRUE(th.check_length(&n10, 30));
    EXPECT_FALSE(th.check_length(&n10, 31));
    th.set_dump_info(dump_info());
    EXPECT_TRUE(th.check_length(&v10, 10));
    EXPECT_FALSE(th.check_length(&v10, 11));
    EXPECT_TRUE(th.check_length(&n10, 20));
    EXPECT_FALSE(th.check_length(&n10, 21));
    for (int l : {7, 11, 13})
        EXPECT_TRUE(th.check_length(&ts, static_cast<std::uint16_t>(l))) << l;
    EXPECT_FALSE(th.check_length(&ts, 12));
    EXPECT_TRUE(th.check_length(&bf, 4));
    EXPECT_FALSE(th.check_length(&bf, 8));
    EXPECT_TRUE(th.check_length(&bd, 8));
    EXPECT_FALSE(th.check_length(&bd, 4));
    EXPECT_TRUE(th.check_length(&num, 21));
    EXPECT_FALSE(th.check_length(&num, 22));
    for (int code : {0xFFF0, 0xFFFA, 0xFFFC, 0xFFFD, 0xFFFE})
        EXPECT_TRUE(th.check_length(&num, static_cast<std::uint16_t>(code)));
}

// ---------------------------------------------------------------------------
// Field descriptions

std::unique_ptr<ora_dump_reader_th> decoder(int generation, int minor = 1, int patch = 7)
{
    switch (generation) {
    case 7:
        return ora_dump_reader_th::create(7, "");
    case 8: {
        std::string header = "EXPORT:V08.0" + std::to_string(minor) + ".0" + std::to_string(patch);
        return ora_dump_reader_th::create(8, header);
    }
    default:
        return ora_dump_reader_th::create(generation, "EXPORT:V" + std::to_string(generation) + ".02.00");
    }
}

TEST(OraDumpRows, SkipFieldDescriptionTable)
{
    using ora_rows::entry;
    entry num{2, 22};
    entry text{1, 20};
    entry clob{112, 4000};
    clob.charset_id = 873;
    clob.lob_name = "DOC";
    entry blob{113, 86};
    blob.lob_name = "PIC";
    entry sdo{121, 1};
    sdo.object_pieces[0] = "MDSYS";
    sdo.object_pieces[1] = "SDO_GEOMETRY";
    sdo.object_pieces[2] = "";
    entry e871{871, 4};

    struct row {
        const char* name;
        int generation, minor, patch;
        bytes description;
        std::int16_t flag;
    };
    ora_rows::gen8_options o805;
    o805.minor = 0;
    o805.patch = 5;
    o805.lob_count = 1;
    o805.lob_items = {hex("02 01 02 03 04")};
    ora_rows::gen8_options o806 = o805;
    o806.patch = 6;
    ora_rows::gen8_options o817;
    o817.skip_flag = 1;
    ora_rows::gen9_options plain9;
    plain9.skip_flag = 1;
    std::vector<row> rows = {
        {"7", 7, 0, 0, ora_rows::description_gen7({num, text}), 1},
        {"7 with 871", 7, 0, 0, ora_rows::description_gen7({num, e871}), 1},
        {"8.0.5", 8, 0, 5, ora_rows::description_gen8({num, text}, o805), 0},
        {"8.0.6", 8, 0, 6, ora_rows::description_gen8({num, text}, o806), 1},
        {"8.1.7", 8, 1, 7, ora_rows::description_gen8({num, text}, o817), 1},
        {"9 plain", 9, 0, 0, ora_rows::description_gen9({num, text}, 9, plain9), 1},
        {"9 clob", 9, 0, 0, ora_rows::description_gen9({text, clob, num}, 9, {}), 0},
        {"10 blob", 10, 0, 0, ora_rows::description_gen9({num, blob}, 10, {}), 0},
        {"10 sdo", 10, 0, 0, ora_rows::description_gen9({num, sdo}, 10, {}), 0},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.name);
        auto th = decoder(r.generation, r.minor, r.patch);
        columns c;
        c.add(L"A", T::ora_number, VT_DECIMAL, 22);
        t_orcale_ftd& b = c.add(L"B", T::ora_varchar2, VT_BSTR, 20);
        t_orcale_ftd& third = c.add(L"C", T::ora_unknown, VT_BLOB, 0);
        // The rows start with a length whose low byte is not zero.
        bytes all = concat({r.description, hex("02 00 C1 02")});
        auto s = stream_at(all);
        if (std::string(r.name) == "9 clob")
            th->set_field_names({L"B", L"C", L"A"});
        else if (std::string(r.name) == "10 sdo")
            th->set_field_names({L"A", L"C"});
        else
            th->set_field_names({L"A", L"B"});
        th->skip_field_description(*s, c.schema, -1);
        EXPECT_EQ(s->tell() - data_at, static_cast<std::int64_t>(r.description.size()));
        EXPECT_EQ(th->m_skip_blob_flag, r.flag);
        if (std::string(r.name) == "9 clob") {
            // The CLOB entry is INSERT column 2, which is schema column C.
            EXPECT_EQ(third.charset_id, 873);
            EXPECT_EQ(b.charset_id, 0);
        }
        if (std::string(r.name) == "10 sdo")
            EXPECT_EQ(third.ora_type, T::ora_sdo_geometry);
        else
            EXPECT_EQ(third.ora_type, T::ora_unknown);
    }
}

TEST(OraDumpRows, DescriptionsThatDoNotFitAreRefused)
{
    using ora_rows::entry;
    entry num{2, 22};
    entry blob{113, 86};
    blob.lob_name = "PIC";
    columns c;
    c.add(L"A", T::ora_number, VT_DECIMAL, 22);
    c.add(L"B", T::ora_blob, VT_BLOB);

    ora_rows::gen9_options wrong_count;
    wrong_count.extra_count = 3;
    bytes d1 = ora_rows::description_gen9({num, blob}, 10, wrong_count);
    // The count stands right after the two entries.
    const std::int64_t count_at = data_at + 2 + 8;

    ora_rows::gen8_options negative;
    negative.lob_count = 1;
    negative.lob_items = {hex("80 00 00")};
    bytes d2 = ora_rows::description_gen8({num}, negative);
    const std::int64_t item_at = data_at + 2 + 4 + 4;

    entry long_name = blob;
    long_name.lob_name = std::string(0x90, 'X');
    bytes d3 = ora_rows::description_gen9({num, long_name}, 9, {});
    const std::int64_t length_at = data_at + 2 + 8 + 2 + 3 + 2;

    struct row {
        int generation;
        bytes data;
        std::int64_t position;
    } rows[] = {{10, d1, count_at}, {8, d2, item_at}, {9, d3, length_at}};
    for (const row& r : rows) {
        SCOPED_TRACE(r.generation);
        auto th = decoder(r.generation);
        th->set_field_names(c.names());
        auto s = stream_at(concat({r.data, bytes(300, 0x01)}));
        try {
            th->skip_field_description(*s, c.schema, -1);
            FAIL() << "accepted";
        } catch (const tk_exception& e) {
            EXPECT_EQ(std::string(e.what()), "Unexpected data at position: " + std::to_string(r.position));
            EXPECT_EQ(e.level, 0);
        }
    }

    // More entries than the schema has columns change nothing and write
    // nowhere.
    std::vector<entry> nine(9, entry{112, 4000});
    for (auto& e : nine)
        e.charset_id = 871;
    auto th = decoder(10);
    th->set_field_names({L"A", L"B", L"A", L"Z"});
    auto s = stream_at(concat({ora_rows::description_gen9(nine, 10, {}), hex("02 00")}));
    th->skip_field_description(*s, c.schema, -1);
    EXPECT_EQ(static_cast<t_orcale_ftd*>(c.schema[1])->charset_id, 871);
}

// ---------------------------------------------------------------------------
// Records

class OraDumpRecord : public ::testing::Test {
protected:
    OraDumpRecord()
    {
        a = &c.add(L"A", T::ora_number, VT_DECIMAL, 22);
        d = &c.add(L"D", T::ora_date, VT_DATE, 7);
        s = &c.add(L"S", T::ora_varchar2, VT_BSTR, 20);
        th.set_field_names(c.names());
    }
    columns c;
    t_orcale_ftd* a;
    t_orcale_ftd* d;
    t_orcale_ftd* s;
    ora_dump_reader_th_10 th;
};

TEST_F(OraDumpRecord, NullsAndTheGap)
{
    ora_rows::row r;
    r.value(ora_rows::number("7")).null().value(ora_rows::text(L"hi")).gap();
    auto st = stream_at(concat({r.data(), ora_rows::end_marker()}));
    std::int64_t next = 0;
    auto rec = th.get_record(*st, c.schema, -1, next);
    ASSERT_TRUE(rec);
    ASSERT_EQ(rec->size(), 3u);
    EXPECT_TRUE(same((*rec)[0], dec("7")));
    EXPECT_EQ((*rec)[1].get_vt(), VT_EMPTY);
    EXPECT_EQ((*rec)[1].name, L"D");
    EXPECT_EQ((*rec)[2].get_bstr(), L"hi");
    EXPECT_EQ((*rec)[2].size, 20u);
    EXPECT_EQ(next, data_at + static_cast<std::int64_t>(r.data().size()));
    st->seek(next);
    EXPECT_TRUE(th.check_for_eof(*st));
    EXPECT_EQ(st->tell(), next);
}

TEST_F(OraDumpRecord, EndOfRowMarkersGiveNoRecord)
{
    for (const char* marker : {"FF FF", "00 00"}) {
        SCOPED_TRACE(marker);
        ora_rows::row r;
        r.value(ora_rows::number("7")).raw(hex(marker)).raw(hex("05 00 01 02 03 04 05"));
        auto st = stream_at(r.data());
        std::int64_t next = 0;
        EXPECT_FALSE(th.get_record(*st, c.schema, -1, next));
        EXPECT_EQ(next, -1);
    }
}

TEST_F(OraDumpRecord, UnknownInsertNameIsLevelOne)
{
    th.set_field_names({L"A", L"NOPE"});
    auto st = stream_at(hex("02 00 C1 02 FE FF 00 00"));
    std::int64_t next = 0;
    try {
        th.get_record(*st, c.schema, -1, next);
        FAIL();
    } catch (const tk_exception& e) {
        EXPECT_EQ(e.level, 1);
        EXPECT_EQ(std::string(e.what()), "Unknown field name has been found in INSERT statement: NOPE");
    }
}

TEST_F(OraDumpRecord, InsertNamesMatchExactlyFirst)
{
    // Quoted names may differ only in case; each keeps its own values.
    columns cc;
    cc.add(L"a", T::ora_number, VT_DECIMAL, 22);
    cc.add(L"A", T::ora_number, VT_DECIMAL, 22);
    ora_dump_reader_th_10 t;
    t.set_field_names({L"A", L"a"});
    ora_rows::row r;
    r.value(ora_rows::number("1")).value(ora_rows::number("2")).gap();
    auto st = stream_at(r.data());
    std::int64_t next = 0;
    auto rec = t.get_record(*st, cc.schema, -1, next);
    ASSERT_TRUE(rec);
    EXPECT_TRUE(same((*rec)[0], dec("2")));
    EXPECT_TRUE(same((*rec)[1], dec("1")));
}

TEST_F(OraDumpRecord, TableEndBoundsTheRow)
{
    ora_rows::row r;
    r.value(ora_rows::number("7")).null().value(ora_rows::text(L"0123456789")).gap();
    auto st = stream_at(concat({r.data(), ora_rows::end_marker()}));
    std::int64_t next = 0;
    // The end falls inside the text value.
    try {
        th.get_record(*st, c.schema, data_at + 12, next);
        FAIL();
    } catch (const ora_framing_error& e) {
        EXPECT_STREQ(e.what(), "Can't read record. EOF reached");
    }
    EXPECT_EQ(next, -1);
}

TEST_F(OraDumpRecord, OptionalZeroPairIsConsumed)
{
    ora_rows::row r1;
    r1.value(ora_rows::number("1")).null().null().gap().end_zero();
    ora_rows::row r2;
    r2.value(ora_rows::number("2")).null().null().gap();
    bytes all = concat({r1.data(), r2.data(), ora_rows::end_marker()});
    auto st = stream_at(all);
    std::int64_t next = 0;
    ASSERT_TRUE(th.get_record(*st, c.schema, -1, next));
    EXPECT_EQ(next, data_at + static_cast<std::int64_t>(r1.data().size()));
    st->seek(next);
    ASSERT_TRUE(th.get_record(*st, c.schema, -1, next));
    // The next length is left unread.
    EXPECT_EQ(next, data_at + static_cast<std::int64_t>(r1.data().size() + r2.data().size()));
}

TEST_F(OraDumpRecord, BadValueCostsOnlyItsRow)
{
    // An invalid DATE, a NUMBER too big for its VT_I1 column and a column
    // without a decoder: each is reported once, and the next row is whole.
    columns cc;
    cc.add(L"A", T::ora_number, VT_I1, 22);
    cc.add(L"D", T::ora_date, VT_DATE, 7);
    cc.add(L"X", T::ora_none, VT_NULL, 0);
    cc.add(L"S", T::ora_varchar2, VT_BSTR, 20);
    ora_dump_reader_th_10 t;
    t.set_field_names(cc.names());
    ora_rows::row bad_date, bad_number, bad_type, good;
    bad_date.value(ora_rows::number("1")).value(hex("78 78 0D 01 01 01 01")).null().value(ora_rows::text(L"x")).gap();
    bad_number.value(ora_rows::number("12345")).value(ora_rows::date(2020, 1, 1)).null().value(ora_rows::text(L"y")).gap();
    bad_type.value(ora_rows::number("3")).null().value(hex("01 02")).value(ora_rows::text(L"z")).gap();
    good.value(ora_rows::number("4")).value(ora_rows::date(2021, 2, 3, 4, 5, 6)).null().value(ora_rows::text(L"ok")).gap();
    auto st = stream_at(concat({bad_date.data(), bad_number.data(), bad_type.data(), good.data(), ora_rows::end_marker()}));
    block_result r = read_block(t, *st, cc.schema, -1);
    ASSERT_EQ(r.failures.size(), 3u);
    EXPECT_EQ(r.failures[0], "Can't read record. Date error.");
    EXPECT_EQ(r.failures[1].rfind("Unexpected data at position: ", 0), 0u);
    EXPECT_EQ(r.failures[2], "Unknown field type");
    ASSERT_EQ(r.rows.size(), 1u);
    EXPECT_EQ((*r.rows[0])[0].get_i1(), 4);
    EXPECT_TRUE(same((*r.rows[0])[1], when(2021, 2, 3, 4, 5, 6)));
    EXPECT_EQ((*r.rows[0])[3].get_bstr(), L"ok");
    EXPECT_GT(r.end, 0);
}

TEST_F(OraDumpRecord, LobTrailerAfterTheGap)
{
    columns cc;
    cc.add(L"ID", T::ora_number, VT_DECIMAL, 22);
    cc.add(L"PIC", T::ora_blob, VT_BLOB, 86);
    t_orcale_ftd& doc = cc.add(L"DOC", T::ora_clob, VT_BSTR, 4000);
    doc.charset_id = 873;
    ora_dump_reader_th_10 t;
    t.set_field_names(cc.names());
    ora_rows::row r;
    r.value(ora_rows::number("1")).value(bytes(20, 0x11)).value(bytes(30, 0x22)).gap();
    r.lob_fffc(bytes(2500, 0x5A), 1000).lob_inline(ora_rows::utf16be(L"text"));
    ora_rows::row r2;
    r2.value(ora_rows::number("2")).null().null().gap();
    auto st = stream_at(concat({r.data(), r2.data(), ora_rows::end_marker()}));
    block_result b = read_block(t, *st, cc.schema, -1);
    ASSERT_TRUE(b.failures.empty()) << b.failures[0];
    ASSERT_EQ(b.rows.size(), 2u);
    EXPECT_EQ((*b.rows[0])[1].get_bytes(), bytes(2500, 0x5A));
    EXPECT_EQ((*b.rows[0])[1].size, 0u);
    EXPECT_EQ((*b.rows[0])[2].get_bstr(), L"text");
    EXPECT_EQ((*b.rows[1])[1].get_vt(), VT_EMPTY);
}

TEST(OraDumpRows, InRowBlobWhenNoLobsFollow)
{
    // Generation 7 and 8.0.6 keep LOB values in the row.
    for (int patch : {0, 6}) {
        SCOPED_TRACE(patch);
        auto th = patch == 0 ? decoder(7) : decoder(8, 0, 6);
        columns c;
        c.add(L"ID", T::ora_number, VT_DECIMAL, 22);
        c.add(L"PIC", T::ora_blob, VT_BLOB, 86);
        th->set_field_names(c.names());
        bytes desc = patch == 0 ? ora_rows::description_gen7({{2, 22}, {113, 86}})
                                : ora_rows::description_gen8({{2, 22}, {113, 86}}, [] {
                                      ora_rows::gen8_options o;
                                      o.minor = 0;
                                      o.patch = 6;
                                      return o;
                                  }());
        ora_rows::row r;
        r.value(ora_rows::number("1")).value(hex("01 02 03 04 05"));
        auto st = stream_at(concat({desc, r.data(), ora_rows::end_marker()}));
        th->skip_field_description(*st, c.schema, -1);
        EXPECT_EQ(th->m_skip_blob_flag, 1);
        block_result b = read_block(*th, *st, c.schema, -1);
        ASSERT_EQ(b.rows.size(), 1u);
        EXPECT_EQ((*b.rows[0])[1].get_bytes(), hex("01 02 03 04 05"));
    }
}

TEST(OraDumpRows, EntriesFollowTheInsertOrder)
{
    // Schema order ID, DOC, GEO; INSERT order GEO, ID, DOC.
    columns c;
    c.add(L"ID", T::ora_number, VT_DECIMAL, 22);
    t_orcale_ftd& doc = c.add(L"DOC", T::ora_clob, VT_BSTR, 4000);
    t_orcale_ftd& geo = c.add(L"GEO", T::ora_unknown, VT_BLOB, 0);
    ora_rows::entry g{121, 1};
    g.object_pieces[0] = "MDSYS";
    g.object_pieces[1] = "SDO_GEOMETRY";
    ora_rows::entry d{112, 4000};
    d.charset_id = 2000;
    d.lob_name = "DOC";
    bytes desc = ora_rows::description_gen9({g, {2, 22}, d}, 10, {});
    ora_dump_reader_th_10 th;
    th.set_field_names({L"GEO", L"ID", L"DOC"});
    ora_rows::row r;
    r.value(hex("01 02 03")).value(ora_rows::number("5")).value(bytes(10, 0)).gap();
    r.lob_inline(ora_rows::utf16be(L"ключ"));
    auto st = stream_at(concat({desc, r.data(), ora_rows::end_marker()}));
    th.skip_field_description(*st, c.schema, -1);
    EXPECT_EQ(doc.charset_id, 2000);
    EXPECT_EQ(geo.ora_type, T::ora_sdo_geometry);
    EXPECT_EQ(static_cast<t_orcale_ftd*>(c.schema[0])->charset_id, 0);
    block_result b = read_block(th, *st, c.schema, -1);
    ASSERT_EQ(b.rows.size(), 1u);
    EXPECT_TRUE(same((*b.rows[0])[0], dec("5")));
    EXPECT_EQ((*b.rows[0])[1].get_bstr(), L"ключ");
    EXPECT_EQ((*b.rows[0])[2].get_bytes(), hex("01 02 03"));
}

TEST(OraDumpRows, ChunkedClobAndIntervalBytes)
{
    columns c;
    c.add(L"DOC", T::ora_clob, VT_BSTR, 4000);
    c.add(L"IV", T::ora_unknown, VT_BLOB, 11);
    ora_dump_reader_th_7 th;
    th.set_field_names(c.names());
    ora_rows::row r;
    r.length(0xFFFD).raw(hex("03 00 41 42 43 03 00 44 45 46 01 00 47 00 00"));
    r.value(hex("80 00 00 01 3C 00 00 00 00 00 00"));
    auto st = stream_at(concat({r.data(), ora_rows::end_marker()}));
    block_result b = read_block(th, *st, c.schema, -1);
    ASSERT_EQ(b.rows.size(), 1u) << (b.failures.empty() ? "" : b.failures[0]);
    EXPECT_EQ((*b.rows[0])[0].get_bstr(), L"ABCDEFG");
    EXPECT_EQ((*b.rows[0])[1].get_bytes(), hex("80 00 00 01 3C 00 00 00 00 00 00"));
}

// ---------------------------------------------------------------------------
// Round trip: every type through every generation

struct generation_case {
    const char* name;
    int generation;
    int minor;
    int patch;
};

class OraDumpRoundTrip : public ::testing::TestWithParam<generation_case> {};

void PrintTo(const generation_case& g, std::ostream* os)
{
    *os << g.name;
}

// A table with a column of every type, its field description in the
// generation's form, and rows of ordinary values, edge values and NULLs.
struct every_type {
    columns c;
    bytes desc;
    bytes all;  // the description, the rows and the end marker
    std::vector<std::vector<ole_variant>> expected;
    explicit every_type(const generation_case& g);
};

every_type::every_type(const generation_case& g)
{
    const int gen = g.generation >= 10 ? 10 : g.generation;
    c.add(L"N", T::ora_number, VT_DECIMAL, 22);
    c.add(L"I", T::ora_number, VT_I4, 4);
    c.add(L"B", T::ora_number, VT_I8, 8);
    c.add(L"F", T::ora_float, VT_R8, 8);
    c.add(L"BF", T::ora_binary_float, VT_R4, 4);
    c.add(L"BD", T::ora_binary_double, VT_R8, 8);
    c.add(L"S", T::ora_varchar2, VT_BSTR, 50);
    c.add(L"NS", T::ora_nvarchar2, VT_BSTR, 20);
    c.add(L"C", T::ora_char, VT_BSTR, 5);
    c.add(L"D", T::ora_date, VT_DATE, 7);
    c.add(L"TS", T::ora_timestamp, VT_DATE, 11);
    c.add(L"R", T::ora_raw, VT_BLOB, 100);
    c.add(L"LR", T::ora_long_raw, VT_BLOB, 0);
    c.add(L"L", T::ora_long, VT_BSTR, 0);
    c.add(L"BL", T::ora_blob, VT_BLOB, 86);
    c.add(L"CL", T::ora_clob, VT_BSTR, 4000);

    using ora_rows::entry;
    entry nv{1, 40};
    nv.text_extra[0] = 0xD0;
    nv.text_extra[1] = 0x07;
    entry clob{112, 4000};
    clob.charset_id = 873;
    clob.lob_name = "CL";
    entry blob{113, 86};
    blob.lob_name = "BL";
    std::vector<entry> entries = {{2, 22}, {2, 22}, {2, 22}, {2, 22}, {100, 4}, {101, 8}, {1, 50}, nv,
                                  {96, 5}, {12, 7}, {180, 11}, {23, 100}, {24, 0}, {8, 0}, blob, clob};
    bool lobs_after = false;
    if (gen == 7) {
        desc = ora_rows::description_gen7(entries);
    } else if (gen == 8) {
        ora_rows::gen8_options o;
        o.minor = g.minor;
        o.patch = g.patch;
        o.lob_count = 2;
        o.lob_items = {hex("01 AA BB CC"), hex("00 DD EE")};
        o.skip_flag = 0;
        desc = ora_rows::description_gen8(entries, o);
        lobs_after = !(g.minor == 0 && g.patch == 6);
    } else {
        desc = ora_rows::description_gen9(entries, gen, {});
        lobs_after = true;
    }
    // CLOB text: the dump's set up to generation 8, UTF-16 of 873 later.
    const unsigned clob_charset = gen >= 9 ? 873 : 0;
    auto clob_bytes = [&](const std::wstring& t) {
        if (clob_charset == 0)
            return ora_rows::text(t, 1252);
        return gen == 9 ? ora_rows::utf16le(t) : ora_rows::utf16be(t);
    };
    const bool long_raw_trailer = gen == 7;

    struct values {
        const char* n;
        const char* i;
        const char* b;
        const char* f;
        float bf;
        double bd;
        std::wstring s, ns, c;
        int d[6];
        int ts[7];
        int ts_length;
        bytes r, lr;
        std::wstring l;
        bytes bl;
        std::wstring cl;
    };
    const float finf = std::numeric_limits<float>::infinity();
    std::vector<values> rows = {
        {"12.34", "12345", "123456789012345678", "3.56789", 1.5f, -2.25, L"Grüße", L"Ωμέγα", L"abc  ",
         {2022, 1, 1, 1, 40, 11}, {2022, 6, 2, 8, 45, 40, 346906}, 11, bytes{1, 2, 3}, bytes(9200, 0x33), L"long text",
         bytes{9, 8, 7, 6, 5}, L"clob"},
        {"-1234567890123456789012345678901234567890", "-999999999", "-999999999999999999", "1e-130", -0.0f,
         std::numeric_limits<double>::quiet_NaN(), L"x", L"y", L"z", {1, 1, 1, 0, 0, 0},
         {9999, 12, 31, 23, 59, 59, 999999}, 13, bytes(100, 0xFE), bytes(8000, 0x44), L"é", bytes(1, 0), L"é"},
        {"1e-130", "0", "0", "-9.9e125", finf, 1e300, L"", L"", L"", {2020, 2, 29, 12, 0, 0},
         {2000, 1, 1, 0, 0, 0, 0}, 7, bytes{0}, bytes{1}, L"a", bytes{7}, L"c"},
    };

    all = desc;
    for (const values& v : rows) {
        ora_rows::row r;
        r.value(ora_rows::number(v.n)).value(ora_rows::number(v.i)).value(ora_rows::number(v.b));
        r.value(ora_rows::number(v.f)).value(ora_rows::binary_float(v.bf)).value(ora_rows::binary_double(v.bd));
        auto text_or_null = [&](const bytes& b) {
            if (b.empty())
                r.null();
            else
                r.value(b);
        };
        text_or_null(ora_rows::text(v.s, 1252));
        text_or_null(ora_rows::utf16be(v.ns));
        text_or_null(ora_rows::text(v.c, 1252));
        r.value(ora_rows::date(v.d[0], v.d[1], v.d[2], v.d[3], v.d[4], v.d[5]));
        r.value(ora_rows::timestamp(v.ts[0], v.ts[1], v.ts[2], v.ts[3], v.ts[4], v.ts[5],
                                    static_cast<std::uint32_t>(v.ts[6]) * 1000, v.ts_length));
        r.value(v.r);
        r.chunked(v.lr, 4000, long_raw_trailer);
        r.chunked(ora_rows::text(v.l, 1252), 4, true);
        if (lobs_after) {
            r.value(bytes(20, 0x01)).value(bytes(20, 0x02)).gap();
            r.lob_fffc(v.bl, 3).lob_inline(clob_bytes(v.cl));
        } else {
            r.value(v.bl).value(ora_rows::text(v.cl, 1252));
        }
        all.insert(all.end(), r.data().begin(), r.data().end());

        std::vector<ole_variant> e;
        e.push_back(dec(v.n));
        e.push_back(ole_variant(static_cast<int>(std::stol(v.i))));
        e.push_back(ole_variant(static_cast<long long>(std::stoll(v.b))));
        e.push_back(ole_variant(dbl(v.f)));
        e.push_back(ole_variant(v.bf));
        e.push_back(ole_variant(v.bd));
        for (const std::wstring* t : {&v.s, &v.ns, &v.c})
            e.push_back(t->empty() ? ole_variant() : ole_variant(*t));
        e.push_back(when(v.d[0], v.d[1], v.d[2], v.d[3], v.d[4], v.d[5]));
        e.push_back(when(v.ts[0], v.ts[1], v.ts[2], v.ts[3], v.ts[4], v.ts[5], v.ts[6]));
        e.push_back(ole_variant(v.r));
        e.push_back(ole_variant(v.lr));
        e.push_back(ole_variant(v.l));
        e.push_back(ole_variant(v.bl));
        e.push_back(ole_variant(v.cl));
        expected.push_back(std::move(e));
    }
    // A row of NULLs.
    {
        ora_rows::row r;
        for (std::size_t i = 0; i < entries.size(); ++i)
            r.null();
        if (lobs_after)
            r.gap();
        all.insert(all.end(), r.data().begin(), r.data().end());
        expected.emplace_back(entries.size());
    }
    bytes end = ora_rows::end_marker();
    all.insert(all.end(), end.begin(), end.end());
}

std::unique_ptr<ora_dump_reader_th> every_type_decoder(const generation_case& g, every_type& f)
{
    auto th = decoder(g.generation, g.minor, g.patch);
    dump_info info;
    info.dump_code_page = 1252;
    th->set_dump_info(info);
    th->set_field_names(f.c.names());
    return th;
}

TEST_P(OraDumpRoundTrip, EveryTypeComesBack)
{
    const generation_case g = GetParam();
    ora_dump_reader reader;  // for the code pages of LONG text
    every_type f(g);
    auto th = every_type_decoder(g, f);
    const columns& c = f.c;
    const bytes& all = f.all;
    const auto& expected = f.expected;
    auto st = stream_at(all);
    th->skip_field_description(*st, f.c.schema, -1);
    ASSERT_EQ(st->tell() - data_at, static_cast<std::int64_t>(f.desc.size()));
    block_result b = read_block(*th, *st, c.schema, -1);
    ASSERT_TRUE(b.failures.empty()) << b.failures[0];
    ASSERT_EQ(b.rows.size(), expected.size());
    EXPECT_EQ(b.end, data_at + static_cast<std::int64_t>(all.size()) - 2);
    for (std::size_t row = 0; row < expected.size(); ++row)
        for (std::size_t col = 0; col < c.schema.size(); ++col)
            EXPECT_TRUE(same((*b.rows[row])[col], expected[row][col]))
                << "row " << row << " column " << col << ": " << show((*b.rows[row])[col]) << " vs "
                << show(expected[row][col]);
}

// The scan steps over rows without decoding them; it must end each row
// where reading it ends, for every kind of column, or it would lose the
// rows after it or take a value's bytes for statements.
TEST_P(OraDumpRoundTrip, SteppingOverARowEndsWhereReadingItDoes)
{
    const generation_case g = GetParam();
    ora_dump_reader reader;
    every_type f(g);
    std::vector<std::int64_t> read_ends;
    {
        auto th = every_type_decoder(g, f);
        auto st = stream_at(f.all);
        th->skip_field_description(*st, f.c.schema, -1);
        while (!th->check_for_eof(*st) && read_ends.size() < f.expected.size() + 1) {
            std::int64_t next = -1;
            th->get_record(*st, f.c.schema, -1, next);
            ASSERT_GE(next, 0);
            read_ends.push_back(next);
            st->seek(next);
        }
    }
    ASSERT_EQ(read_ends.size(), f.expected.size());
    auto th = every_type_decoder(g, f);
    auto st = stream_at(f.all);
    th->skip_field_description(*st, f.c.schema, -1);
    for (std::size_t row = 0; row < read_ends.size(); ++row) {
        ASSERT_FALSE(th->check_for_eof(*st)) << "row " << row;
        const std::int64_t next = th->skip_row(*st, f.c.schema, -1);
        EXPECT_EQ(next, read_ends[row]) << "row " << row;
        st->seek(next);
    }
    EXPECT_TRUE(th->check_for_eof(*st));
}

INSTANTIATE_TEST_SUITE_P(Generations, OraDumpRoundTrip,
                         ::testing::Values(generation_case{"v7", 7, 0, 0}, generation_case{"v8_0_5", 8, 0, 5},
                                           generation_case{"v8_0_6", 8, 0, 6}, generation_case{"v8_1_7", 8, 1, 7},
                                           generation_case{"v9", 9, 0, 0}, generation_case{"v10", 10, 0, 0},
                                           generation_case{"v12", 12, 0, 0}),
                         [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------
// Hostile bytes: every fixture cut short and changed byte by byte decodes
// to records or reader messages, ends, and yields no more records than it
// has bytes.

// Decodes a block as a table would: failures are counted and reading goes
// on; only the reader's own failures may come out.
void decode_hostile(ora_dump_reader_th& th, const bytes& data, udb_schema& schema, const std::string& what)
{
    auto st = stream_at(data);
    th.reset_skip_flag();
    try {
        th.skip_field_description(*st, schema, -1);
        block_result b = read_block(th, *st, schema, -1);
        EXPECT_LE(b.rows.size(), data.size()) << what;
    } catch (const tk_exception& e) {
        EXPECT_NE(e.level, 2) << what << ": " << e.what();
    } catch (const std::exception& e) {
        ADD_FAILURE() << what << ": " << e.what();
    }
}

void sweep(ora_dump_reader_th& th, const bytes& data, udb_schema& schema, std::uint32_t seed)
{
    // Every cut in the first 2 KB, then a sample.
    for (std::size_t cut = 0; cut < data.size(); cut += cut < 2048 ? 1 : 97)
        decode_hostile(th, bytes(data.begin(), data.begin() + static_cast<std::ptrdiff_t>(cut)), schema,
                       "cut at " + std::to_string(cut));
    std::uint32_t x = seed;
    auto next = [&] {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        return x;
    };
    const std::size_t changes = data.size() < 2048 ? data.size() : 3000;
    for (std::size_t k = 0; k < changes; ++k) {
        bytes changed = data;
        std::size_t at = data.size() < 2048 ? k : next() % data.size();
        changed[at] = static_cast<std::uint8_t>(changed[at] ^ (1u + next() % 255u));
        decode_hostile(th, changed, schema, "byte " + std::to_string(at) + " changed");
    }
}

class OraDumpHostileRows : public ::testing::TestWithParam<generation_case> {};

TEST_P(OraDumpHostileRows, DamagedBlocksEndWithReaderMessages)
{
    const generation_case g = GetParam();
    ora_dump_reader reader;
    every_type f(g);
    auto th = every_type_decoder(g, f);
    sweep(*th, f.all, f.c.schema, 0x9E3779B9u + static_cast<std::uint32_t>(g.generation * 100 + g.patch));
}

INSTANTIATE_TEST_SUITE_P(Generations, OraDumpHostileRows,
                         ::testing::Values(generation_case{"v7", 7, 0, 0}, generation_case{"v8_0_5", 8, 0, 5},
                                           generation_case{"v8_0_6", 8, 0, 6}, generation_case{"v8_1_7", 8, 1, 7},
                                           generation_case{"v9", 9, 0, 0}, generation_case{"v10", 10, 0, 0}),
                         [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------
// The real classic dump

std::string real_dump()
{
    std::string path = std::string(VELC_REAL_DATA_DIR) + "/classic_v12_exptest.dmp";
    return std::filesystem::exists(path) ? path : std::string();
}

bytes file_range(const std::string& path, std::int64_t from, std::int64_t to)
{
    std::ifstream in(path, std::ios::binary);
    in.seekg(from);
    bytes b(static_cast<std::size_t>(to - from));
    in.read(reinterpret_cast<char*>(b.data()), static_cast<std::streamsize>(b.size()));
    return b;
}

struct real_tables {
    columns table1;
    columns table2;
    real_tables()
    {
        table1.add(L"KEYCOL", T::ora_number, VT_DECIMAL, 22);
        table1.add(L"NUMCOL1", T::ora_number, VT_DECIMAL, 22);
        table1.add(L"FLOATCOL1", T::ora_float, VT_R8, 8);
        table1.add(L"STRCOL1", T::ora_varchar2, VT_BSTR, 200);
        table1.add(L"DATECOL1", T::ora_date, VT_DATE, 7);
        table1.add(L"BLOBCOL1", T::ora_blob, VT_BLOB, 0);
        table1.add(L"TIMESTAMP1", T::ora_timestamp, VT_DATE, 11);
        table2.add(L"STRKEY", T::ora_varchar2, VT_BSTR, 20);
        table2.add(L"FLOAT1", T::ora_float, VT_R8, 8);
        table2.add(L"DEC1", T::ora_number, VT_DECIMAL, 22);
    }
};

TEST(OraDumpRealRows, Table1AndTable2DecodeExactly)
{
    const std::string path = real_dump();
    if (path.empty())
        GTEST_SKIP() << "the real dumps are not at hand";
    auto stream = ora_dump_stream::open_file(path);
    auto th = ora_dump_reader_th::create(12, "EXPORT:V12.01.00");
    dump_info info;
    info.dump_length = 24576;
    info.dump_code_page = 1252;
    th->set_dump_info(info);
    real_tables t;

    stream->seek(11269);
    th->reset_skip_flag();
    th->set_field_names(t.table1.names());
    th->skip_field_description(*stream, t.table1.schema, 15101);
    EXPECT_EQ(stream->tell(), 11336);
    EXPECT_EQ(th->m_skip_blob_flag, 0);
    block_result b1 = read_block(*th, *stream, t.table1.schema, 15101);
    ASSERT_TRUE(b1.failures.empty()) << b1.failures[0];
    EXPECT_EQ(b1.end, 11591);
    const ole_variant null;
    std::vector<std::vector<ole_variant>> rows1 = {
        {dec("1"), dec("123"), ole_variant(3.56789), ole_variant(L"STRING 1 TEST"), when(2023, 11, 1, 8, 40, 28), null, null},
        {dec("2"), dec("456"), ole_variant(1.23), ole_variant(L"STRING 2 TEST sadf asdf asdf asdf asdf"),
         when(2022, 1, 1, 1, 40, 11), null, null},
        {dec("3"), dec("-1"), ole_variant(-1.23), null, null, null, null},
        {dec("4"), dec("-2"), ole_variant(3.3e-10), null, null, null, null},
        {dec("5"), dec("123123123456"), ole_variant(-3.3e-10), null, null, null, null},
        {dec("6"), dec("-123123123456"), null, null, null, null, when(2022, 6, 2, 8, 45, 40, 346906)},
        {dec("7"), dec("-456"), ole_variant(-0.2), null, null, null, null},
    };
    ASSERT_EQ(b1.rows.size(), rows1.size());
    for (std::size_t r = 0; r < rows1.size(); ++r)
        for (std::size_t col = 0; col < rows1[r].size(); ++col)
            EXPECT_TRUE(same((*b1.rows[r])[col], rows1[r][col]))
                << "TABLE1 row " << r + 1 << " column " << col << ": " << show((*b1.rows[r])[col]);

    stream->seek(15475);
    th->reset_skip_flag();
    th->set_field_names(t.table2.names());
    th->skip_field_description(*stream, t.table2.schema, 24576);
    EXPECT_EQ(th->m_skip_blob_flag, 0);
    block_result b2 = read_block(*th, *stream, t.table2.schema, 24576);
    ASSERT_TRUE(b2.failures.empty()) << b2.failures[0];
    EXPECT_EQ(b2.end, 15555);
    std::vector<std::vector<ole_variant>> rows2 = {
        {ole_variant(L"K1"), ole_variant(1.0), dec("14")},
        {ole_variant(L"K2"), ole_variant(0.2), dec("2.99992")},
        {ole_variant(L"K3"), ole_variant(-0.3), dec("-0.00232")},
        {ole_variant(L"K4"), null, null},
    };
    ASSERT_EQ(b2.rows.size(), rows2.size());
    for (std::size_t r = 0; r < rows2.size(); ++r)
        for (std::size_t col = 0; col < rows2[r].size(); ++col)
            EXPECT_TRUE(same((*b2.rows[r])[col], rows2[r][col]))
                << "TABLE2 row " << r + 1 << " column " << col << ": " << show((*b2.rows[r])[col]);
}

TEST(OraDumpRealRows, WriterReproducesTheBlocks)
{
    const std::string path = real_dump();
    if (path.empty())
        GTEST_SKIP() << "the real dumps are not at hand";
    using ora_rows::entry;
    using ora_rows::number;
    entry str{1, 200};
    entry blob{113, 72};
    blob.lob_name = "BLOBCOL1";
    std::vector<entry> e1 = {{2, 22}, {2, 22}, {2, 22}, str, {12, 7}, blob, {180, 11}};
    ora_rows::gen9_options o;
    o.zero_padding = 2;
    bytes block1 = ora_rows::description_gen9(e1, 10, o);
    auto row1 = [&](const char* k, const char* n, const char* f, const wchar_t* s, const bytes* d, const bytes* ts) {
        ora_rows::row r;
        r.value(number(k)).value(number(n));
        if (f)
            r.value(number(f));
        else
            r.null();
        if (s)
            r.value(ora_rows::text(s));
        else
            r.null();
        if (d)
            r.value(*d);
        else
            r.null();
        r.null();
        if (ts)
            r.value(*ts);
        else
            r.null();
        r.gap();
        block1.insert(block1.end(), r.data().begin(), r.data().end());
    };
    const bytes d1 = ora_rows::date(2023, 11, 1, 8, 40, 28);
    const bytes d2 = ora_rows::date(2022, 1, 1, 1, 40, 11);
    const bytes ts6 = ora_rows::timestamp(2022, 6, 2, 8, 45, 40, 346906000);
    row1("1", "123", "3.56789", L"STRING 1 TEST", &d1, nullptr);
    row1("2", "456", "1.23", L"STRING 2 TEST sadf asdf asdf asdf asdf", &d2, nullptr);
    row1("3", "-1", "-1.23", nullptr, nullptr, nullptr);
    row1("4", "-2", "3.3e-10", nullptr, nullptr, nullptr);
    row1("5", "123123123456", "-3.3e-10", nullptr, nullptr, nullptr);
    row1("6", "-123123123456", nullptr, nullptr, nullptr, &ts6);
    row1("7", "-456", "-0.2", nullptr, nullptr, nullptr);
    bytes end = ora_rows::end_marker();
    block1.insert(block1.end(), end.begin(), end.end());
    EXPECT_EQ(block1, file_range(path, 11269, 11593));

    entry key{1, 20};
    bytes block2 = ora_rows::description_gen9({key, {2, 22}, {2, 22}}, 10, {});
    const char* rows2[4][3] = {{"K1", "1", "14"}, {"K2", "0.2", "2.99992"}, {"K3", "-0.3", "-0.00232"}, {"K4", nullptr, nullptr}};
    for (const auto& r2 : rows2) {
        ora_rows::row r;
        r.value(ora_rows::text(std::wstring(r2[0], r2[0] + 2)));
        for (int k = 1; k < 3; ++k) {
            if (r2[k])
                r.value(number(r2[k]));
            else
                r.null();
        }
        r.gap();
        block2.insert(block2.end(), r.data().begin(), r.data().end());
    }
    block2.insert(block2.end(), end.begin(), end.end());
    EXPECT_EQ(block2, file_range(path, 15475, 15557));
}

TEST(OraDumpRealRows, DamagedRealBlocksEndWithReaderMessages)
{
    const std::string path = real_dump();
    if (path.empty())
        GTEST_SKIP() << "the real dumps are not at hand";
    auto th = ora_dump_reader_th::create(12, "EXPORT:V12.01.00");
    real_tables t;
    th->set_field_names(t.table1.names());
    sweep(*th, file_range(path, 11269, 11593), t.table1.schema, 11269);
    th->set_field_names(t.table2.names());
    sweep(*th, file_range(path, 15475, 15557), t.table2.schema, 15475);
}

}  // namespace
