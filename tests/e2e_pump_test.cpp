// velcagent converting Data Pump dumps as a process into the test cluster:
// the real SCOTT export (selected tables, and all five), LOB records as the
// export writes its own tables, the refusals of unreadable headers, and a
// writer-made dump with every value form, its keys and a second run from
// the context file the first run left beside the dump.

#include "e2e_support.h"
#include "ora_dump_writer_pump.h"

#include <cstdint>
#include <filesystem>
#include <initializer_list>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

using e2e::e2e_test;
using ora_pump::bytes;
using ora_pump::column;
using strings = std::vector<std::string>;

bytes cat(std::initializer_list<bytes> parts)
{
    bytes out;
    for (const bytes& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

class E2ePump : public e2e_test {
protected:
    // A copy of a real dump in the test folder, "" when the real data is absent.
    std::string real_copy(const std::string& name)
    {
        const std::string source = std::string(VELC_REAL_DATA_DIR) + "/" + name;
        if (!fs::exists(source))
            return std::string();
        const std::string path = work.file(name);
        fs::copy_file(source, path, fs::copy_options::overwrite_existing);
        fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write);
        return path;
    }

    // What the SCOTT tables of the real dump must hold.
    void expect_scott()
    {
        EXPECT_EQ(count("dept"), "4");
        EXPECT_EQ(count("emp"), "14");
        EXPECT_EQ(count("salgrade"), "5");
        EXPECT_EQ(columns("dept"), scott_dept_columns());
        EXPECT_EQ(columns("emp"), scott_emp_columns());
        EXPECT_EQ(columns("salgrade"),
                  (strings{"grade|numeric||||YES", "losal|numeric||||YES", "hisal|numeric||||YES"}));
        EXPECT_EQ(rows("SELECT ename, empno, job, mgr, hiredate, sal, comm, deptno FROM emp "
                       "WHERE ename IN ('SMITH', 'KING', 'TURNER') ORDER BY ename"),
                  (strings{"KING|7839|PRESIDENT|<null>|1981-11-17 00:00:00|5000.00|<null>|10",
                           "SMITH|7369|CLERK|7902|1980-12-17 00:00:00|800.00|<null>|20",
                           "TURNER|7844|SALESMAN|7698|1981-09-08 00:00:00|1500.00|0.00|30"}));
        EXPECT_EQ(rows("SELECT e.ename FROM emp e JOIN dept d ON d.deptno = e.deptno WHERE d.loc = 'CHICAGO' "
                       "ORDER BY 1"),
                  (strings{"ALLEN", "BLAKE", "JAMES", "MARTIN", "TURNER", "WARD"}));
        EXPECT_EQ(rows("SELECT deptno, dname, loc FROM dept ORDER BY deptno"),
                  (strings{"10|ACCOUNTING|NEW YORK", "20|RESEARCH|DALLAS", "30|SALES|CHICAGO",
                           "40|OPERATIONS|BOSTON"}));
        EXPECT_EQ(rows("SELECT grade, losal, hisal FROM salgrade ORDER BY grade"),
                  (strings{"1|700|1200", "2|1201|1400", "3|1401|2000", "4|2001|3000", "5|3001|9999"}));
        // The keys come from the master table's documents of the tables.
        EXPECT_EQ(primary_keys(), (strings{"dept:deptno", "emp:empno"}));
    }
};

TEST_F(E2ePump, RealDumpSelectedScottTables)
{
    const std::string src = real_copy("datapump_12c_scott.dmp");
    if (src.empty())
        GTEST_SKIP() << "no real data";
    const e2e::result r = run(args(src, {"--mode=0", "--tab_file=" + table_list({"DEPT", "EMP", "SALGRADE"})}));
    ASSERT_EQ(r.status, 0) << e2e::describe(r);
    EXPECT_EQ(r.out, "Reading file " + src +
                         "\nConverting Oracle dump file (3 tables)\n"
                         "Creating schema if necessary: 'public'\nConverting table DEPT (4 records)\n"
                         "Creating schema if necessary: 'public'\nConverting table EMP (14 records)\n"
                         "Creating schema if necessary: 'public'\nConverting table SALGRADE (5 records)\n");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(tables(), (strings{"dept", "emp", "salgrade"}));
    expect_scott();
}

// Without a table list the export's own tables load as well. Their rows
// are checked against what the export itself recorded about the SCOTT
// tables: the statistics table's rows per table, column and index, and the
// master table's rows per exported object, the metadata LOBs of its later
// rows included. Both tables end with rows that follow LOB values, so a
// LOB misread loses them.
TEST_F(E2ePump, RealDumpAllTables)
{
    const std::string src = real_copy("datapump_12c_scott.dmp");
    if (src.empty())
        GTEST_SKIP() << "no real data";
    const e2e::result r = run(args(src, {"--mode=0"}));
    ASSERT_EQ(r.status, 0) << e2e::describe(r);
    EXPECT_EQ(r.out, "Reading file " + src +
                         "\nConverting Oracle dump file (6 tables)\n"
                         "Creating schema if necessary: 'public'\nConverting table BONUS (0 records)\n"
                         "Creating schema if necessary: 'public'\nConverting table DEPT (4 records)\n"
                         "Creating schema if necessary: 'public'\nConverting table EMP (14 records)\n"
                         "Creating schema if necessary: 'public'\nConverting table IMPDP_STATS (24 records)\n"
                         "Creating schema if necessary: 'public'\nConverting table SALGRADE (5 records)\n"
                         "Creating schema if necessary: 'public'\n"
                         "Converting table SYS_EXPORT_SCHEMA_01 (1272 records)\n");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(tables(), (strings{"bonus", "dept", "emp", "impdp_stats", "salgrade", "sys_export_schema_01"}));
    expect_scott();
    // BONUS has no data stream: the table its document describes, empty.
    EXPECT_EQ(columns("bonus"), (strings{"ename|character varying|10|||YES", "job|character varying|9|||YES",
                                         "sal|numeric||||YES", "comm|numeric||||YES"}));
    EXPECT_EQ(count("bonus"), "0");

    // A second run reads the context file the first left and makes the
    // same tables and keys.
    ASSERT_TRUE(fs::exists(work.file("datapump_12c_scott.vcx")));
    const std::string second = db + "_2";
    const e2e::result again = run_into(src, second);
    ASSERT_EQ(again.status, 0) << e2e::describe(again);
    EXPECT_EQ(again.out, r.out);
    EXPECT_EQ(tables(second), tables());
    EXPECT_EQ(primary_keys(second), primary_keys());
    for (const char* t : {"bonus", "dept", "emp", "salgrade"}) {
        EXPECT_EQ(columns(t, second), columns(t)) << t;
        EXPECT_EQ(count(t, second), count(t)) << t;
    }

    EXPECT_EQ(count("impdp_stats"), "24");
    EXPECT_EQ(columns("impdp_stats").size(), 30u);
    // Per table a "T" row with its row count in n1, a "C" row per column,
    // and an "I" row per index.
    EXPECT_EQ(rows("SELECT c1, type, count(*), max(n1), min(d1) FROM impdp_stats GROUP BY c1, type ORDER BY 1, 2"),
              (strings{"BONUS|C|4|0|2018-02-28 22:00:12", "BONUS|T|1|0|2018-02-28 22:00:12",
                       "DEPT|C|3|4|2018-02-28 22:00:12", "DEPT|T|1|4|2018-02-28 22:00:12",
                       "EMP|C|8|14|2018-02-28 22:00:12", "EMP|T|1|14|2018-02-28 22:00:12",
                       "PK_DEPT|I|1|4|2018-02-28 22:00:12", "PK_EMP|I|1|14|2018-02-28 22:00:12",
                       "SALGRADE|C|3|5|2018-02-28 22:00:12", "SALGRADE|T|1|5|2018-02-28 22:00:12"}));
    EXPECT_EQ(rows("SELECT c4 FROM impdp_stats WHERE type = 'C' AND c1 = 'EMP' ORDER BY c4"),
              (strings{"COMM", "DEPTNO", "EMPNO", "ENAME", "HIREDATE", "JOB", "MGR", "SAL"}));
    // The index rows end the table; their CLOB is in UTF-16.
    EXPECT_EQ(rows("SELECT c1, cl1 FROM impdp_stats WHERE cl1 IS NOT NULL ORDER BY c1"),
              (strings{"PK_DEPT|6.DEPTNO", "PK_EMP|5.EMPNO"}));

    EXPECT_EQ(count("sys_export_schema_01"), "1272");
    EXPECT_EQ(columns("sys_export_schema_01").size(), 100u);
    EXPECT_EQ(query("SELECT object_name FROM sys_export_schema_01 WHERE process_order = -71"),
              "SYS_EXPORT_SCHEMA_01");
    EXPECT_EQ(rows("SELECT object_name, completed_rows FROM sys_export_schema_01 "
                   "WHERE object_type = 'TABLE_DATA' AND process_order > 0 ORDER BY process_order"),
              (strings{"BONUS|0", "DEPT|4", "EMP|14", "SALGRADE|5"}));
    // One row per exported object, in process order; each table's row
    // holds its metadata document.
    EXPECT_EQ(rows("SELECT process_order, object_type, coalesce(object_name, ''), "
                   "coalesce(length(xml_clob)::text, '') || coalesce(substr(xml_clob, 22, 13), '') "
                   "FROM sys_export_schema_01 WHERE process_order BETWEEN 11 AND 26 "
                   "ORDER BY process_order, object_type"),
              (strings{"11|TABLE|DEPT|7935<ROWSET><ROW>", "12|TABLE|EMP|12628<ROWSET><ROW>",
                       "13|TABLE|BONUS|4287<ROWSET><ROW>", "14|TABLE|SALGRADE|3728<ROWSET><ROW>",
                       "15|INDEX|PK_DEPT|", "16|INDEX|PK_EMP|", "17|CONSTRAINT|PK_DEPT|",
                       "18|CONSTRAINT|PK_EMP|", "19|INDEX_STATISTICS||", "20|INDEX_STATISTICS||",
                       "21|REF_CONSTRAINT|FK_DEPTNO|", "22|TABLE_STATISTICS||", "23|TABLE_STATISTICS||",
                       "24|TABLE_STATISTICS||", "25|TABLE_STATISTICS||", "26|MARKER|IMPDP_STATS|", "26|<null>||"}));
    EXPECT_EQ(query("SELECT count(*) FROM sys_export_schema_01 WHERE xml_clob LIKE '%<TABLE_T>%</ROWSET>'"), "4");
}

// LOB records laid out as the export writes its own tables: marker 0x08,
// a field count of the in-row values only, then every LOB column as a
// flag byte and 01 FF (NULL) or 01 FE with a 2-byte size; a flag of 01
// announces continuation chunks. The rows after each LOB record must
// still be read.
TEST_F(E2ePump, LobRecordsInTheExportsOwnLayout)
{
    const std::vector<column> cols = {
        {"ID", 2, 22, 4, 0, 0, true},
        {"X", 112, 4000, {}, {}, 873},
        {"Y", 113, 4000, {}, {}},
    };
    const std::wstring long_text = std::wstring(140, L'\u0416') + L" end";  // 288 bytes in UTF-16
    const bytes text = ora_rows::utf16be(long_text);
    // A flag or continuation byte, 01 FE, the 2-byte size and the bytes.
    auto sized = [](std::uint8_t flag, const bytes& b) {
        bytes out{flag, 0x01, 0xFE, static_cast<std::uint8_t>(b.size() >> 8), static_cast<std::uint8_t>(b.size())};
        out.insert(out.end(), b.begin(), b.end());
        return out;
    };
    auto id = [](const char* n) { return ora_pump::value(ora_rows::number(n)); };
    ora_pump::writer w;
    w.document(ora_pump::strmtable_doc("SYS", "META", cols));
    w.zeros(3);
    // A whole CLOB, then the last LOB whole.
    w.raw(ora_pump::lob_record(0x08, {id("1")}, cat({sized(0x00, text), sized(0x04, {0xAA, 0xBB, 0xCC})})));
    // A NULL CLOB, then a BLOB in two chunks, the second announced by 06.
    w.raw(ora_pump::lob_record(0x08, {id("2")},
                               cat({ora_rows::hex("00 01 FF"), sized(0x01, {0x01, 0x02}), sized(0x06, {0x03, 0x04})})));
    // A CLOB in three chunks (03 with a one-byte size, then 02), a NULL BLOB
    // flagged as the last.
    const bytes a(text.begin(), text.begin() + 100), b(text.begin() + 100, text.begin() + 101),
        c(text.begin() + 101, text.end());
    w.raw(ora_pump::lob_record(
        0x08, {id("3")}, cat({sized(0x01, a), ora_rows::hex("03 00 01"), b, sized(0x02, c), ora_rows::hex("04 01 FF")})));
    w.raw(ora_pump::record({id("4")}));
    w.zeros(16);
    const std::string src = write_dump("meta.dmp", w.data());
    const e2e::result r = run(args(src, {"--mode=0"}));
    ASSERT_EQ(r.status, 0) << e2e::describe(r);
    EXPECT_NE(r.out.find("Converting table META (4 records)\n"), std::string::npos) << r.out;
    std::string utf8_text;
    for (int i = 0; i < 140; ++i)
        utf8_text += "\xD0\x96";
    utf8_text += " end";
    EXPECT_EQ(rows("SELECT id, x, encode(y, 'hex') FROM meta ORDER BY id"),
              (strings{"1|" + utf8_text + "|aabbcc", "2|<null>|01020304", "3|" + utf8_text + "|<null>",
                       "4|<null>|<null>"}));
}

// --- header refusals ---------------------------------------------------------------

const std::vector<column> emp_columns = {
    {"EMPNO", 2, 22, 4, 0, 0, true},
    {"ENAME", 1, 10, {}, {}, 873},
};

// A dump that converts with a good header: one table of one row.
bytes small_dump(const ora_pump::header_fields& header)
{
    ora_pump::writer w(header);
    w.document(ora_pump::strmtable_doc("SCOTT", "EMP", emp_columns));
    w.zeros(2);
    w.raw(ora_pump::record({ora_pump::value(ora_rows::number("7369")),
                            ora_pump::value(ora_rows::text(L"SMITH", 65001))}));
    w.zeros(16);
    return w.data();
}

TEST_F(E2ePump, UnreadableHeadersEndWith255AndLeaveTheDestination)
{
    const std::string unreadable =
        "The program cannot read Oracle dump file. It may be corrupted or does not comply with Oracle dump file "
        "format.";
    const std::string non_leading =
        "This is a non-leading part of multifile dump. The program can extract data from the first part of "
        "multifile dump only. See 'Troubleshooting' article of the product documentation for solution.";
    const std::string compressed =
        "The dump file is compressed. Current version of the product does not support compressed dump files.";
    const std::string encrypted =
        "The dump file is encrypted. It must first be decrypted with the decryption tool that comes with the "
        "product.";
    struct header_case {
        const char* name;
        std::uint8_t major, minor;
        std::uint16_t part;
        std::uint8_t flags;
        std::string message;
    };
    const header_case cases[] = {
        {"version 06 01", 6, 1, 0x0001, 0x02, unreadable},
        {"version 05 02", 5, 2, 0x0001, 0x02, unreadable},
        {"version 01 02", 1, 2, 0x0001, 0x02, unreadable},
        {"part marker 01 00", 4, 1, 0x0100, 0x02, non_leading},
        {"flags 04", 4, 1, 0x0001, 0x04, compressed},
        {"flags 06", 4, 1, 0x0001, 0x06, compressed},
        {"flags 66: compression is tested first", 4, 1, 0x0001, 0x66, compressed},
        {"flags 40", 4, 1, 0x0001, 0x40, encrypted},
        {"flags 60", 4, 1, 0x0001, 0x60, encrypted},
    };
    create_db(db);
    exec("CREATE TABLE keep (id int)");
    exec("INSERT INTO keep VALUES (1), (2)");
    for (const header_case& c : cases) {
        SCOPED_TRACE(c.name);
        ora_pump::header_fields h;
        h.major = c.major;
        h.minor = c.minor;
        h.part = c.part;
        h.flags = c.flags;
        const std::string src = write_dump("refused.dmp", small_dump(h));
        const e2e::result r = run(args(src, {"--mode=0"}));
        EXPECT_EQ(r.status, 255) << e2e::describe(r);
        EXPECT_EQ(r.out, "Reading file " + src + "\n");
        EXPECT_EQ(r.err, "Error:\n" + c.message + "\n");
        EXPECT_EQ(tables(), strings{"keep"});
        EXPECT_EQ(count("keep"), "2");
    }
    {
        SCOPED_TRACE("a 40-byte file");
        bytes cut = small_dump(ora_pump::header_fields());
        cut.resize(40);
        const std::string src = write_dump("short.dmp", cut);
        const e2e::result r = run(args(src, {"--mode=0"}));
        EXPECT_EQ(r.status, 255) << e2e::describe(r);
        EXPECT_EQ(r.out, "Reading file " + src + "\n");
        EXPECT_EQ(r.err, "Error:\n" + unreadable + "\n");
        EXPECT_EQ(count("keep"), "2");
    }
    // The same dump with a readable header (part marker 00 01, flags 22)
    // converts, file version 4.1 or 5.1, and mode 0 then replaces the
    // database.
    ora_pump::header_fields readable;
    readable.part = 0x0001;
    readable.flags = 0x22;
    for (std::uint8_t major : {4, 5}) {
        SCOPED_TRACE(int(major));
        readable.major = major;
        const std::string src = write_dump("readable.dmp", small_dump(readable));
        const e2e::result r = run(args(src, {"--mode=0"}));
        ASSERT_EQ(r.status, 0) << e2e::describe(r);
        EXPECT_EQ(tables(), strings{"emp"});
        EXPECT_EQ(rows("SELECT empno, ename FROM emp"), strings{"7369|SMITH"});
        exec("CREATE TABLE keep (id int)");
    }
}

// --- a writer-made dump with every value form and both kinds of keys ----------------

const std::vector<column> types_columns = {
    {"ID", 2, 22, 9, 0, 0, true},
    {"N_PLAIN", 2, 22, {}, {}},
    {"N_STAR", 2, 22, {}, 0},
    {"F", 2, 22, 126, {}},
    {"N4", 2, 22, 4, 0},
    {"N18", 2, 22, 18, 0},
    {"N10_2", 2, 22, 10, 2},
    {"V", 1, 40, {}, {}, 873},
    {"NV", 1, 40, {}, {}, 2000},
    {"D", 12, 7, {}, {}},
    {"TS", 180, 11, {}, {}},
};

const std::vector<column> docs_columns = {
    {"ID", 2, 22, 4, 0, 0, true},
    {"NOTE", 1, 10, {}, {}, 873},
    {"B", 113, 4000, {}, {}},
    {"C", 112, 4000, {}, {}, 873},
};

struct types_row {
    std::string id, n_plain, n_star, f, n4, n18, n10_2;
    std::wstring v, nv;
    bool with_times = true;
    int d[6];
    int ts[6];
    std::uint32_t ts_ns;
};

bytes types_record(const types_row& r)
{
    auto num = [](const std::string& s) {
        return s.empty() ? ora_pump::null_value() : ora_pump::value(ora_rows::number(s));
    };
    std::vector<bytes> values = {num(r.id), num(r.n_plain), num(r.n_star), num(r.f),
                                 num(r.n4), num(r.n18),     num(r.n10_2)};
    values.push_back(r.v.empty() ? ora_pump::null_value() : ora_pump::value(ora_rows::text(r.v, 65001)));
    values.push_back(r.nv.empty() ? ora_pump::null_value() : ora_pump::value(ora_rows::utf16be(r.nv)));
    if (r.with_times) {
        values.push_back(ora_pump::value(ora_rows::date(r.d[0], r.d[1], r.d[2], r.d[3], r.d[4], r.d[5])));
        values.push_back(
            ora_pump::value(ora_rows::timestamp(r.ts[0], r.ts[1], r.ts[2], r.ts[3], r.ts[4], r.ts[5], r.ts_ns)));
    } else {
        values.push_back(ora_pump::null_value());
        values.push_back(ora_pump::null_value());
    }
    return ora_pump::record(values);
}

// TYPES in two partitions (the second after a chunked stream document and
// 40 zero bytes), its primary key in a UTF-16 TABLE_T document after them;
// DOCS with LOB records, its primary key in a CONSTRAINT_T document.
bytes full_dump()
{
    const std::wstring cyrillic_greek = L"\u041F\u0440\u0438\u0432\u0435\u0442, \u03BA\u03CC\u03C3\u03BC\u03B5! "
                                        L"\u03A9\u03BC\u03AD\u03B3\u03B1";
    ora_pump::writer w;
    w.document(ora_pump::strmtable_doc("SCOTT", "TYPES", types_columns));
    w.zeros(3);
    w.raw(types_record({"1", "-123.456", "12345678901234567890123456789012345678", "3.56789", "-9999",
                        "-999999999999999999", "-12345678.9", L"Gr\u00FC\u00DFe, Z\u00FCrich", L"\u041F\u0440\u0438",
                        true, {2024, 2, 29, 13, 14, 15}, {2022, 6, 2, 8, 45, 40}, 346906000}));
    w.raw(types_record({"2", "0.000001", "0", "-1e-05", "9999", "999999999999999999", "0.01", L"tab\there",
                        L"\u65E5\u672C\U0001F600", true, {50, 1, 2, 3, 4, 5}, {1999, 12, 31, 23, 59, 59}, 1000}));
    ora_pump::document_form chunked;
    chunked.chunks = {{1, 200}, {6, 300}};
    w.document(ora_pump::strmtable_doc("SCOTT", "TYPES", types_columns), chunked);
    w.zeros(40);
    w.raw(types_record({"3", "", "", "", "", "", "", L"", L"", false, {}, {}, 0}));
    w.raw(types_record({"4", "100000000000000000000", "-1", "0.5", "0", "1", "99999999.99", L"it's \"q\"",
                        L"\u03A9", true, {9999, 12, 31, 23, 59, 59}, {1970, 1, 1, 0, 0, 0}, 0}));
    ora_pump::document_form utf16;
    utf16.utf16 = true;
    utf16.chunks = {{1, 1000}};
    w.document(ora_pump::table_doc("SCOTT", "TYPES", types_columns, {{"PK_TYPES", 2, {"ID"}}}), utf16);

    w.document(ora_pump::strmtable_doc("SCOTT", "DOCS", docs_columns));
    w.zeros(2);
    auto num = [](const char* s) { return ora_pump::value(ora_rows::number(s)); };
    auto txt = [](const wchar_t* s) { return ora_pump::value(ora_rows::text(s, 65001)); };
    // A one-piece BLOB, then a CLOB of UTF-16 text in three chunks (the
    // second announced by 03 and a one-byte size, the last by 06 01 FE).
    const bytes clob = ora_rows::utf16be(cyrillic_greek);
    const bytes c1(clob.begin(), clob.begin() + 10), c2(clob.begin() + 10, clob.begin() + 17),
        c3(clob.begin() + 17, clob.end());
    w.raw(ora_pump::lob_record(
        0x09, {num("1"), txt(L"a")},
        cat({ora_rows::hex("00 01 80 00 04 DE AD BE EF 00 01 80 00"), bytes{static_cast<std::uint8_t>(c1.size())}, c1,
             ora_rows::hex("03 00"), bytes{static_cast<std::uint8_t>(c2.size())}, c2, ora_rows::hex("06 01 FE 00"),
             bytes{static_cast<std::uint8_t>(c3.size())}, c3}),
        4));
    // An empty BLOB and a NULL CLOB.
    w.raw(ora_pump::lob_record(0x0C, {num("2"), ora_pump::null_value()}, ora_rows::hex("00 01 00 00 01 FF"), 4));
    // One-piece values; the CLOB in UTF-8.
    w.raw(ora_pump::lob_record(
        0x0C, {num("3"), txt(L"b")},
        cat({ora_rows::hex("00 01 80 00 02 01 02 00 01 80 00 07"), ora_rows::text(L"Gr\u00FC\u00DFe", 65001)}), 4));
    // An ordinary record: no LOB values at all.
    w.raw(ora_pump::record({num("4"), txt(L"c")}));
    w.document(ora_pump::constraint_doc("SCOTT", "DOCS", {"PK_DOCS", 2, {"ID"}}));
    w.zeros(16);
    return w.data();
}

TEST_F(E2ePump, WriterDumpLoadsRowsAndKeysAndReloadsFromItsContext)
{
    const std::string src = write_dump("pump.dmp", full_dump());
    const e2e::result r = run(args(src, {"--mode=0"}));
    ASSERT_EQ(r.status, 0) << e2e::describe(r);
    EXPECT_EQ(r.out, "Reading file " + src +
                         "\nConverting Oracle dump file (2 tables)\n"
                         "Creating schema if necessary: 'public'\nConverting table DOCS (4 records)\n"
                         "Creating schema if necessary: 'public'\nConverting table TYPES (4 records)\n");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(tables(), (strings{"docs", "types"}));
    EXPECT_EQ(columns("types"),
              (strings{"id|integer||32|0|NO", "n_plain|numeric||||YES", "n_star|numeric||38|0|YES",
                       "f|double precision||53||YES", "n4|smallint||16|0|YES", "n18|bigint||64|0|YES",
                       "n10_2|numeric||10|2|YES", "v|character varying|40|||YES", "nv|character varying|40|||YES",
                       "d|timestamp without time zone||||YES", "ts|timestamp without time zone||||YES"}));
    EXPECT_EQ(columns("docs"), (strings{"id|smallint||16|0|NO", "note|character varying|10|||YES", "b|bytea||||YES",
                                        "c|text||||YES"}));
    // The key of TYPES comes from its TABLE_T document, that of DOCS from a
    // CONSTRAINT_T document.
    EXPECT_EQ(primary_keys(), (strings{"docs:id", "types:id"}));

    // Rows 1 and 2 from the first partition, 3 and 4 from the second.
    EXPECT_EQ(rows("SELECT * FROM types ORDER BY id"),
              (strings{"1|-123.456|12345678901234567890123456789012345678|3.56789|-9999|-999999999999999999|"
                       "-12345678.90|Gr\u00FC\u00DFe, Z\u00FCrich|\u041F\u0440\u0438|2024-02-29 13:14:15|"
                       "2022-06-02 08:45:40.346906",
                       "2|0.000001|0|-1e-05|9999|999999999999999999|0.01|tab\there|\u65E5\u672C\U0001F600|"
                       "0050-01-02 03:04:05|1999-12-31 23:59:59.000001",
                       "3|<null>|<null>|<null>|<null>|<null>|<null>|<null>|<null>|<null>|<null>",
                       "4|100000000000000000000|-1|0.5|0|1|99999999.99|it's \"q\"|\u03A9|9999-12-31 23:59:59|"
                       "1970-01-01 00:00:00"}));
    EXPECT_EQ(rows("SELECT id, note, encode(b, 'hex'), b IS NULL, c FROM docs ORDER BY id"),
              (strings{"1|a|deadbeef|f|\u041F\u0440\u0438\u0432\u0435\u0442, \u03BA\u03CC\u03C3\u03BC\u03B5! "
                       "\u03A9\u03BC\u03AD\u03B3\u03B1",
                       "2|<null>||f|<null>", "3|b|0102|f|Gr\u00FC\u00DFe", "4|c|<null>|t|<null>"}));

    // The first run left its context beside the dump; a second run reads
    // it and makes the same database.
    ASSERT_TRUE(fs::exists(work.file("pump.vcx")));
    const std::string second = db + "_2";
    const e2e::result again = run_into(src, second);
    ASSERT_EQ(again.status, 0) << e2e::describe(again);
    EXPECT_EQ(again.out, r.out);
    const strings first_snapshot = snapshot(db);
    EXPECT_EQ(first_snapshot.size(), 2u + 11u + 4u + 4u + 4u + 2u + 2u);
    EXPECT_EQ(snapshot(second), first_snapshot);
}

// The table's own document carries no constraints; the export's master
// table holds, among its rows, a UTF-16 TABLE_T document of the table with
// a two-column primary key and a unique constraint: both arrive.
TEST_F(E2ePump, KeysFromTheMasterTablesDocument)
{
    const std::vector<column> pairs = {
        {"A", 2, 22, 4, 0, 0, true},
        {"B", 2, 22, 4, 0, 0, true},
        {"C", 1, 10, {}, {}, 873},
    };
    const std::vector<column> master = {
        {"PROCESS_ORDER", 2, 22, {}, {}},
        {"OBJECT_TYPE", 1, 30, {}, {}, 873},
    };
    auto num = [](const char* s) { return ora_pump::value(ora_rows::number(s)); };
    auto txt = [](const wchar_t* s) { return ora_pump::value(ora_rows::text(s, 65001)); };
    ora_pump::writer w;
    w.document(ora_pump::strmtable_doc("SCOTT", "PAIRS", pairs));
    w.zeros(2);
    w.raw(ora_pump::record({num("1"), num("1"), txt(L"x")}));
    w.raw(ora_pump::record({num("1"), num("2"), txt(L"y")}));
    w.document(ora_pump::strmtable_doc("SYS", "SYS_EXPORT_SCHEMA_01", master));
    w.zeros(2);
    w.raw(ora_pump::record({num("11"), txt(L"TABLE")}));
    ora_pump::document_form utf16;
    utf16.utf16 = true;
    w.document(ora_pump::table_doc("SCOTT", "PAIRS", pairs, {{"PK_PAIRS", 2, {"A", "B"}}, {"UK_PAIRS", 3, {"C"}}}),
               utf16);
    w.raw(ora_pump::record({num("12"), txt(L"INDEX")}));
    w.zeros(16);
    const std::string src = write_dump("master.dmp", w.data());
    const e2e::result r = run(args(src, {"--mode=0", "--tab_file=" + table_list({"PAIRS"})}));
    ASSERT_EQ(r.status, 0) << e2e::describe(r);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(tables(), strings{"pairs"});
    EXPECT_EQ(count("pairs"), "2");
    EXPECT_EQ(primary_keys(), strings{"pairs:a,b"});
    EXPECT_EQ(rows("SELECT c.relname || ':' || string_agg(a.attname, ',' ORDER BY k.n) "
                   "FROM pg_index i JOIN pg_class c ON c.oid = i.indrelid "
                   "CROSS JOIN LATERAL unnest(i.indkey) WITH ORDINALITY AS k(attnum, n) "
                   "JOIN pg_attribute a ON a.attrelid = i.indrelid AND a.attnum = k.attnum "
                   "WHERE i.indisunique AND NOT i.indisprimary AND c.relname = 'pairs' "
                   "GROUP BY c.relname, i.indexrelid ORDER BY 1"),
              strings{"pairs:c"});
}

// TIMESTAMP WITH TIME ZONE (type 181) and WITH LOCAL TIME ZONE (231)
// columns keep their instants, whatever zone the reader is in.
TEST_F(E2ePump, ZoneBearingTimestampsKeepTheirInstant)
{
    const std::vector<column> cols = {
        {"ID", 2, 22, {}, {}},
        {"TS", 181, 13, 6, {}},
        {"LTS", 231, 11, 6, {}},
    };
    ora_pump::writer w;
    w.document(ora_pump::strmtable_doc("SCOTT", "ZONED", cols));
    w.zeros(2);
    for (const zoned_value& v : zoned_values())
        w.raw(ora_pump::record({ora_pump::value(ora_rows::number(std::to_string(v.id))),
                                ora_pump::value(ora_rows::timestamp(v.year, v.month, v.day, v.hour, v.minute, v.second,
                                                                    v.nanoseconds, 13, v.zone1, v.zone2)),
                                ora_pump::value(ora_rows::timestamp(v.year, v.month, v.day, v.hour, v.minute, v.second,
                                                                    v.nanoseconds, 11))}));
    w.zeros(16);
    const std::string src = write_dump("zoned.dmp", w.data());
    const e2e::result r = run(args(src, {"--mode=0"}));
    ASSERT_EQ(r.status, 0) << e2e::describe(r);
    EXPECT_EQ(r.err, "");
    expect_zoned("zoned", "ts");
    expect_zoned("zoned", "lts");

    convert_zoned_in_every_mode(src);
}

// DATE (type 12) and TIMESTAMP (180) values before year 1 load as the
// dates they are.
TEST_F(E2ePump, DatesBeforeYear1LoadExactly)
{
    const std::vector<column> cols = {
        {"ID", 2, 22, {}, {}},
        {"D", 12, 7, {}, {}},
        {"TS", 180, 11, 6, {}},
    };
    ora_pump::writer w;
    w.document(ora_pump::strmtable_doc("SCOTT", "EARLY", cols));
    w.zeros(2);
    for (const early_value& v : early_values())
        w.raw(ora_pump::record({ora_pump::value(ora_rows::number(std::to_string(v.id))),
                                ora_pump::value(ora_rows::date(v.year, v.month, v.day, v.hour, v.minute, v.second)),
                                ora_pump::value(ora_rows::timestamp(v.year, v.month, v.day, v.hour, v.minute, v.second,
                                                                    v.nanoseconds, 11))}));
    w.zeros(16);
    const std::string src = write_dump("early.dmp", w.data());
    const e2e::result r = run(args(src, {"--mode=0"}));
    ASSERT_EQ(r.status, 0) << e2e::describe(r);
    EXPECT_EQ(r.err, "");
    EXPECT_NE(r.out.find("Converting table EARLY (4 records)\n"), std::string::npos) << r.out;
    expect_early("early");
}

}  // namespace
