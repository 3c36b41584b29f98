// The Data Pump row decoder on in-memory records, and the writer's records
// pinned to the rows of the real Data Pump dump.
#include "ora_dump_pump_reader_th.h"

#include "ora_dump_reader.h"
#include "ora_dump_stream.h"
#include "ora_dump_writer_pump.h"
#include "t_orcale_ftd.h"
#include "tk_exception.h"
#include "udb_record.h"
#include "udb_schema.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>

#include "ora_dump_test_support.h"
#include "test_support.h"

namespace {

using ora_rows::bytes;
using ora_rows::hex;
using T = t_orcale_ftd;

struct columns {
    std::vector<std::unique_ptr<t_orcale_ftd>> owned;
    udb_schema schema;
    columns& add(const std::wstring& name, std::int32_t ora_type, VARTYPE vt, std::uint32_t size = 10,
                 std::uint16_t charset = 0)
    {
        owned.push_back(std::make_unique<t_orcale_ftd>(size, ora_type, name, vt));
        owned.back()->charset_id = charset;
        schema.push_back(owned.back().get());
        return *this;
    }
};

columns plain3()
{
    columns c;
    c.add(L"N", T::ora_number, VT_DECIMAL, 22).add(L"A", T::ora_varchar2, VT_BSTR).add(L"B", T::ora_varchar2, VT_BSTR);
    return c;
}

using ora_dump_test::show;

std::string show(const udb_record& r)
{
    std::string s;
    for (std::size_t i = 0; i < r.size(); ++i)
        s += (i ? "|" : "") + show(r[i]);
    return s;
}

class pump_rows : public ::testing::Test {
protected:
    pump_rows()
    {
        dump_info info;
        info.charset_class = 1;
        decoder.set_dump_info(info);
    }

    struct outcome {
        std::string fields;      // the record, or the failure's message
        std::int64_t next = -1;  // relative to the record's start
        int level = -1;          // the failure's level, -1 when none
    };

    // One record at offset 3 of a stream over the bytes (and a trailing
    // zero, which ends the partition).
    outcome read(const bytes& record, const columns& cols, bool trailing_zero = true)
    {
        bytes all(3, 0);
        all.insert(all.end(), record.begin(), record.end());
        if (trailing_zero)
            all.push_back(0);
        reader.info.dump_length = static_cast<std::int64_t>(all.size());
        dump_info info = decoder.get_dump_info();
        info.dump_length = reader.info.dump_length;
        decoder.set_dump_info(info);
        ora_dump_stream s(std::make_unique<ora_dump_memory_source>(all));
        s.seek(3);
        outcome o;
        std::int64_t next = -1;
        try {
            auto r = decoder.get_record(s, cols.schema, -1, next);
            o.fields = show(*r);
        } catch (const tk_exception& e) {
            o.fields = e.message;
            o.level = e.level;
        }
        o.next = next < 0 ? -1 : next - 3;
        // Stepping over the record by its framing alone ends where reading
        // it does, or fails where reading it loses the framing.
        s.clear();
        s.seek(3);
        std::int64_t skipped = -1;
        try {
            skipped = decoder.skip_record(s, cols.schema);
        } catch (const tk_exception& e) {
            EXPECT_EQ(e.level, 0);
        }
        EXPECT_EQ(skipped < 0 ? -1 : skipped - 3, o.next) << "skip_record";
        return o;
    }

    ora_dump_reader reader;
    ora_dump_pump_reader_th decoder;
};

bytes cat(std::initializer_list<bytes> parts)
{
    bytes out;
    for (const bytes& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

TEST_F(pump_rows, record_layouts)
{
    const bytes ten = ora_pump::value(ora_rows::number("10"));
    const bytes a = ora_pump::value(ora_rows::text(L"A", 65001));
    const bytes b = ora_pump::value(ora_rows::text(L"B", 65001));
    struct record_case {
        const char* name;
        bytes record;
        std::string fields;
        std::int64_t next;  // -1: the record's whole length
    };
    columns two;
    two.add(L"A", T::ora_varchar2, VT_BSTR).add(L"B", T::ora_varchar2, VT_BSTR);
    const record_case two_cases[] = {
        {"3C 00 07 02, 01 41 and FF", hex("3C 00 07 02 01 41 FF"), "A|-", -1},
        // A length the values do not fill is damage: the record is
        // reported with the position its length gives, and the next one is
        // looked for where the values end.
        {"3C 00 10 02, 01 41 and FF", hex("3C 00 10 02 01 41 FF"), "Unexpected data at position: 19", -1},
        // A length of 0 is none.
        {"3C 00 00 02, 01 41 and FF", hex("3C 00 00 02 01 41 FF"), "A|-", -1},
    };
    for (const record_case& c : two_cases) {
        SCOPED_TRACE(c.name);
        outcome o = read(c.record, two);
        EXPECT_EQ(o.fields, c.fields);
        EXPECT_EQ(o.next, c.next < 0 ? static_cast<std::int64_t>(c.record.size()) : c.next);
    }
    const bytes long_text(256, 'z');
    const record_case cases[] = {
        {"FE 01 00 with 256 bytes", cat({hex("3C 00 00 03"), ten, hex("FE 01 00"), long_text, b}),
         "10|" + std::string(256, 'z') + "|B", -1},
        {"field count 1 of 3", cat({hex("3C 00 00 01"), ten}), "10|-|-", -1},
        {"18 with 14 00 00 02", cat({hex("18 00 00 01"), ten, hex("14 00 00 02"), a, b}), "10|A|B", -1},
        // The continuation 18 .. .. .. ends the record and stays unread.
        {"18 with 18 ...", cat({hex("18 00 00 01"), ten, hex("18 00 00 02"), a, b}), "10|-|-", 7},
        {"08 with 00 03", cat({hex("08 01"), ten, hex("00 03"), a, b}), "10|A|B", -1},
        {"08 with 08 00", cat({hex("08 01"), ten, hex("08 00"), a, b}), "10|-|-", 5},
        {"08 with 00 00", cat({hex("08 01"), ten, hex("00 00"), a}), "10|-|-", 5},
        {"a 0 length rewinds", cat({hex("3C 00 00 03"), ten, hex("00"), a}), "10|-|-", 7},
        {"field count 255 reads on", cat({hex("3C 00 00 FF"), ten, a, b}), "10|A|B", -1},
        {"a value past the end", cat({hex("3C 00 00 03"), ten, hex("05 41")}), "Can't read record. EOF reached", -2},
        {"cut in the header", hex("3C 00"), "Can't read record. EOF reached", -2},
    };
    const columns three = plain3();
    for (const record_case& c : cases) {
        SCOPED_TRACE(c.name);
        outcome o = read(c.record, three, c.next != -2);
        EXPECT_EQ(o.fields, c.fields);
        if (c.next == -2) {
            EXPECT_EQ(o.level, 0);
            EXPECT_EQ(o.next, -1);
        } else {
            EXPECT_EQ(o.next, c.next < 0 ? static_cast<std::int64_t>(c.record.size()) : c.next);
        }
    }
}

TEST_F(pump_rows, check_for_eof)
{
    const bytes data = hex("3C 00 08 09 0C 18 1C 41");
    ora_dump_stream s(std::make_unique<ora_dump_memory_source>(data));
    for (std::int64_t at = 0; at <= static_cast<std::int64_t>(data.size()); ++at) {
        s.seek(at);
        const bool expected = at == 1 || at >= 7;  // the zero, the 'A' and the end
        EXPECT_EQ(decoder.check_for_eof(s), expected) << at;
        EXPECT_EQ(s.tell(), at);
    }
}

TEST_F(pump_rows, a_continuation_18_is_taken_as_the_next_record)
{
    const columns three = plain3();
    const bytes ten = ora_pump::value(ora_rows::number("10"));
    bytes all = cat({hex("18 00 00 01"), ten, hex("18 00 00 01"), ten, hex("18 00 00 00")});
    ora_dump_stream s(std::make_unique<ora_dump_memory_source>(all));
    reader.info.dump_length = static_cast<std::int64_t>(all.size());
    std::int64_t next = -1;
    auto r = decoder.get_record(s, three.schema, -1, next);
    EXPECT_EQ(next, 7);
    s.seek(next);
    EXPECT_FALSE(decoder.check_for_eof(s));
    r = decoder.get_record(s, three.schema, -1, next);
    EXPECT_EQ(show(*r), "10|-|-");
    EXPECT_EQ(next, 14);
}

TEST_F(pump_rows, lob_records)
{
    columns blob;
    blob.add(L"N", T::ora_number, VT_DECIMAL, 22).add(L"L", T::ora_blob, VT_BLOB, 4000);
    columns clob;
    clob.add(L"N", T::ora_number, VT_DECIMAL, 22).add(L"L", T::ora_clob, VT_BSTR, 4000, 873);
    columns geo;
    geo.add(L"N", T::ora_number, VT_DECIMAL, 22).add(L"G", T::ora_sdo_geometry, VT_BLOB, 1);
    columns arr;
    arr.add(L"N", T::ora_number, VT_DECIMAL, 22).add(L"R", T::ora_array, VT_BLOB, 3748).add(L"S", T::ora_array, VT_BLOB, 3752);
    columns xml;
    xml.add(L"N", T::ora_number, VT_DECIMAL, 22).add(L"X", T::ora_xmltype, VT_BSTR, 0, 873);
    const bytes ten = ora_pump::value(ora_rows::number("10"));
    struct lob_case {
        const char* name;
        const columns* cols;
        bytes record;
        std::string fields;
    };
    const lob_case cases[] = {
        {"00 01 FF is NULL", &blob, ora_pump::lob_record(0x0C, {ten}, hex("00 01 FF"), 2), "10|-"},
        {"00 01 00 is an empty BLOB", &blob, ora_pump::lob_record(0x0C, {ten}, hex("00 01 00"), 2), "10|x"},
        {"00 01 00 is an empty CLOB", &clob, ora_pump::lob_record(0x0C, {ten}, hex("00 01 00"), 2), "10|"},
        {"one piece", &blob, ora_pump::lob_record(0x0C, {ten}, hex("00 01 80 00 03 AA BB CC"), 2), "10|xAABBCC"},
        {"one-byte header", &blob, ora_pump::lob_record(0x0C, {ten}, hex("FE 00 02 AA BB"), 2), "10|xAABB"},
        {"one-byte size", &blob, ora_pump::lob_record(0x0C, {ten}, hex("02 AA BB"), 2), "10|xAABB"},
        {"chunks 3 then 2 (02)", &blob, ora_pump::lob_record(0x09, {ten}, hex("00 01 80 00 03 01 02 03 02 05 02 04 05"), 2),
         "10|x0102030405"},
        {"chunks with 01 FE size", &blob,
         ora_pump::lob_record(0x09, {ten}, hex("00 01 80 00 01 01 06 01 FE 00 02 02 03"), 2), "10|x010203"},
        {"chained 03", &blob, ora_pump::lob_record(0x09, {ten}, hex("00 01 80 00 01 01 03 00 01 02 02 00 01 03"), 2),
         "10|x010203"},
        {"a bad continuation", &blob, ora_pump::lob_record(0x09, {ten}, hex("00 01 80 00 01 01 07 00 01 02"), 2),
         "Can't read record. Date error."},
        {"CLOB UTF-16 text", &clob, ora_pump::lob_record(0x0C, {ten}, hex("00 01 80 00 04 00 41 04 2F"), 2),
         "10|A\xD0\xAF"},
        {"SDO_GEOMETRY FF", &geo, cat({hex("0C 02"), ten, hex("FF")}), "10|-"},
        {"SDO_GEOMETRY two bytes", &geo, cat({hex("0C 03"), ten, hex("01 02 00 01 FE 00 02 AA BB")}), "10|xAABB"},
        {"array columns read nothing", &arr, cat({hex("3C 00 00 03"), ten}), "10|-|-"},
        {"XMLTYPE after 0C", &xml, cat({hex("0C 02"), ten, hex("04 00 41 00 42")}), "10|AB"},
        {"XMLTYPE after 09", &xml, cat({hex("09 02"), ten, hex("04 00 41 00 42")}), "10|AB"},
        {"XMLTYPE after 3C", &xml, cat({hex("3C 00 00 02"), ten, hex("04 00 41 00 42")}),
         "Can't read record. Date error."},
    };
    for (const lob_case& c : cases) {
        SCOPED_TRACE(c.name);
        outcome o = read(c.record, *c.cols);
        EXPECT_EQ(o.fields, c.fields);
        if (o.level < 0) {
            EXPECT_EQ(o.next, static_cast<std::int64_t>(c.record.size()));
        } else {
            EXPECT_EQ(o.level, 0);
        }
    }
}

TEST_F(pump_rows, chunked_lob_continuations_tell_the_last_lob)
{
    struct chunk_case {
        bytes data;
        std::string value;
        bool last;
        std::int64_t left_at;
    };
    const chunk_case cases[] = {
        {hex("00 03 01 02 03 02 05 02 04 05"), "x0102030405", false, 10},
        {hex("00 03 01 02 03 06 05 02 04 05"), "x0102030405", true, 10},
        {hex("00 03 01 02 03 00 99"), "x010203", true, 5},  // the 00 stays unread
        {hex("00 03 01 02 03 0C"), "x010203", true, 5},
        {hex("00 00"), "-", false, 2},
    };
    for (const chunk_case& c : cases) {
        ora_dump_stream s(std::make_unique<ora_dump_memory_source>(c.data));
        ole_variant v;
        bool last = false;
        decoder.get_blob_value(v, s, VT_BLOB, 0, 0x08, last);
        EXPECT_EQ(show(v), c.value);
        EXPECT_EQ(last, c.last);
        EXPECT_EQ(s.tell(), c.left_at);
    }
}

TEST_F(pump_rows, lob_text_by_character_set)
{
    struct text_case {
        bytes data;
        unsigned id;
        std::wstring text;
    };
    const text_case cases[] = {
        {hex("00 41 00 42"), 873, L"AB"},
        {hex("41 42"), 873, L"AB"},
        {hex("00 41 04 2F"), 873, L"A\u042F"},
        {hex("C3 A9 41"), 871, L"\u00E9A"},
        {hex("D8 3D DE 00"), 2000, L"\U0001F600"},
        {hex("04 2F"), 2000, L"\u042F"},
    };
    for (const text_case& c : cases)
        EXPECT_EQ(decoder.lob_text(c.data.data(), c.data.size(), c.id), c.text) << c.id;
}

TEST_F(pump_rows, a_bad_date_costs_its_record_only)
{
    columns cols;
    cols.add(L"N", T::ora_number, VT_DECIMAL, 22).add(L"D", T::ora_date, VT_DATE, 7);
    bytes all;
    for (int day : {28, 30, 27})
        all = cat({all, ora_pump::record({ora_pump::value(ora_rows::number(std::to_string(day))),
                                          ora_pump::value(ora_rows::date(2024, 2, day))})});
    all.push_back(0);
    reader.info.dump_length = static_cast<std::int64_t>(all.size());
    ora_dump_stream s(std::make_unique<ora_dump_memory_source>(all));
    int good = 0, failures = 0;
    while (!decoder.check_for_eof(s)) {
        std::int64_t next = -1;
        try {
            decoder.get_record(s, cols.schema, -1, next);
            ++good;
        } catch (const tk_exception& e) {
            ++failures;
            EXPECT_EQ(e.message, "Can't read record. Date error.");
            EXPECT_EQ(e.level, 0);
        }
        ASSERT_GT(next, s.tell() - 1);
        s.seek(next);
    }
    EXPECT_EQ(good, 2);
    EXPECT_EQ(failures, 1);
}

TEST_F(pump_rows, a_lob_record_cut_anywhere_is_a_level0_failure)
{
    columns cols;
    cols.add(L"N", T::ora_number, VT_DECIMAL, 22).add(L"L", T::ora_blob, VT_BLOB, 4000).add(L"C", T::ora_clob, VT_BSTR, 4000, 873);
    const bytes full = ora_pump::lob_record(
        0x08, {ora_pump::value(ora_rows::number("10"))},
        hex("00 01 80 00 03 01 02 03 03 00 01 04 02 00 02 05 06   00 01 80 00 02 00 41 06 00 01 42"), 3);
    ASSERT_EQ(read(full, cols, false).level, -1) << read(full, cols, false).fields;
    for (std::size_t cut = 0; cut < full.size(); ++cut) {
        const bytes part(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(cut));
        outcome o = read(part, cols, false);
        EXPECT_EQ(o.level, 0) << cut << ": " << o.fields;
    }
}

// --- the real dump's rows --------------------------------------------------------

bytes real_slice(std::int64_t offset, std::size_t length)
{
    std::ifstream in(std::string(VELC_REAL_DATA_DIR) + "/datapump_12c_scott.dmp", std::ios::binary);
    bytes b(length);
    in.seekg(offset);
    in.read(reinterpret_cast<char*>(b.data()), static_cast<std::streamsize>(length));
    return in ? b : bytes();
}

bytes num_or_null(const char* text)
{
    return text ? ora_pump::value(ora_rows::number(text)) : ora_pump::null_value();
}

bytes utf8_value(const char* text)
{
    std::string s(text);
    return ora_pump::value(bytes(s.begin(), s.end()));
}

TEST(pump_real_rows, writer_records_equal_the_real_rows)
{
    if (!std::filesystem::exists(std::string(VELC_REAL_DATA_DIR) + "/datapump_12c_scott.dmp"))
        GTEST_SKIP() << "no real data";
    struct dept_row {
        const char* no;
        const char* name;
        const char* loc;
    };
    bytes dept;
    for (const dept_row& r : {dept_row{"10", "ACCOUNTING", "NEW YORK"}, dept_row{"20", "RESEARCH", "DALLAS"},
                              dept_row{"30", "SALES", "CHICAGO"}, dept_row{"40", "OPERATIONS", "BOSTON"}})
        dept = cat({dept, ora_pump::record({num_or_null(r.no), utf8_value(r.name), utf8_value(r.loc)})});
    EXPECT_EQ(dept, real_slice(71600, 96));

    struct emp_row {
        const char* no;
        const char* name;
        const char* job;
        const char* mgr;
        int y, m, d;
        const char* sal;
        const char* comm;
        const char* dept;
    };
    const emp_row emps[] = {
        {"7369", "SMITH", "CLERK", "7902", 1980, 12, 17, "800", nullptr, "20"},
        {"7499", "ALLEN", "SALESMAN", "7698", 1981, 2, 20, "1600", "300", "30"},
        {"7521", "WARD", "SALESMAN", "7698", 1981, 2, 22, "1250", "500", "30"},
        {"7566", "JONES", "MANAGER", "7839", 1981, 4, 2, "2975", nullptr, "20"},
        {"7654", "MARTIN", "SALESMAN", "7698", 1981, 9, 28, "1250", "1400", "30"},
        {"7698", "BLAKE", "MANAGER", "7839", 1981, 5, 1, "2850", nullptr, "30"},
        {"7782", "CLARK", "MANAGER", "7839", 1981, 6, 9, "2450", nullptr, "10"},
        {"7788", "SCOTT", "ANALYST", "7566", 1987, 4, 19, "3000", nullptr, "20"},
        {"7839", "KING", "PRESIDENT", nullptr, 1981, 11, 17, "5000", nullptr, "10"},
        {"7844", "TURNER", "SALESMAN", "7698", 1981, 9, 8, "1500", "0", "30"},
        {"7876", "ADAMS", "CLERK", "7788", 1987, 5, 23, "1100", nullptr, "20"},
        {"7900", "JAMES", "CLERK", "7698", 1981, 12, 3, "950", nullptr, "30"},
        {"7902", "FORD", "ANALYST", "7566", 1981, 12, 3, "3000", nullptr, "20"},
        {"7934", "MILLER", "CLERK", "7782", 1982, 1, 23, "1300", nullptr, "10"},
    };
    bytes emp;
    for (const emp_row& r : emps)
        emp = cat({emp, ora_pump::record({num_or_null(r.no), utf8_value(r.name), utf8_value(r.job), num_or_null(r.mgr),
                                          ora_pump::value(ora_rows::date(r.y, r.m, r.d)), num_or_null(r.sal),
                                          num_or_null(r.comm), num_or_null(r.dept)})});
    EXPECT_EQ(emp, real_slice(82120, 581));

    bytes sal;
    const char* grades[5][3] = {{"1", "700", "1200"}, {"2", "1201", "1400"}, {"3", "1401", "2000"},
                                {"4", "2001", "3000"}, {"5", "3001", "9999"}};
    for (const auto& g : grades)
        sal = cat({sal, ora_pump::record({num_or_null(g[0]), num_or_null(g[1]), num_or_null(g[2])})});
    EXPECT_EQ(sal, real_slice(92032, 70));
}

TEST(pump_real_rows, decoder_reads_the_real_emp_partition)
{
    if (!std::filesystem::exists(std::string(VELC_REAL_DATA_DIR) + "/datapump_12c_scott.dmp"))
        GTEST_SKIP() << "no real data";
    ora_dump_reader reader;
    ora_dump_stream s(std::make_unique<ora_dump_file_source>(std::string(VELC_REAL_DATA_DIR) +
                                                             "/datapump_12c_scott.dmp"));
    ora_dump_pump_reader_th decoder;
    dump_info info;
    info.charset_class = 1;
    info.dump_length = s.size();
    decoder.set_dump_info(info);
    columns cols;
    cols.add(L"EMPNO", T::ora_number, VT_I2, 22)
        .add(L"ENAME", T::ora_varchar2, VT_BSTR, 10)
        .add(L"JOB", T::ora_varchar2, VT_BSTR, 9)
        .add(L"MGR", T::ora_number, VT_I2, 22)
        .add(L"HIREDATE", T::ora_date, VT_DATE, 7)
        .add(L"SAL", T::ora_number, VT_DECIMAL, 22)
        .add(L"COMM", T::ora_number, VT_DECIMAL, 22)
        .add(L"DEPTNO", T::ora_number, VT_I2, 22);
    s.seek(82120);
    std::vector<std::string> rows;
    while (!decoder.check_for_eof(s)) {
        std::int64_t next = -1;
        auto r = decoder.get_record(s, cols.schema, -1, next);
        rows.push_back(show(*r));
        s.seek(next);
        ASSERT_LT(rows.size(), 20u);
    }
    ASSERT_EQ(rows.size(), 14u);
    EXPECT_EQ(rows[0].substr(0, 17), "7369|SMITH|CLERK|");
    EXPECT_EQ(s.tell(), 82120 + 581);
}

}  // namespace
