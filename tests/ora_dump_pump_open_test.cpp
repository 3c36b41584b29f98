// Data Pump dumps opened through the reader: the database, its tables and
// their rows, on the real dump and on writer-made dumps.
#include "error_handler.h"
#include "ora_dump_file.h"
#include "ora_dump_reader.h"
#include "ora_dump_stream.h"
#include "ora_dump_table.h"
#include "ora_dump_writer_pump.h"
#include "recording_front_end.h"
#include "t_orcale_ftd.h"
#include "tk_exception.h"
#include "tk_unicode.h"
#include "udb_record.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>

#include "ora_dump_test_support.h"
#include "test_support.h"

namespace fs = std::filesystem;

namespace {

using ora_dump_test::show;
using ora_pump::bytes;
using ora_pump::column;

std::wstring W(const std::string& s) { return tk_utf8_to_wide(s); }

class pump_open : public tk_test::logger_fixture {
protected:
    pump_open()
    {
        reader.set_log_sink([this](ora_log_kind, const std::string& t) { shown.push_back(t); });
    }
    // Every row of a table, each as its fields joined by "|"; failures of
    // level 0 as "!" and their text.
    std::vector<std::string> rows(udb_recordset& t, int* max_progress = nullptr)
    {
        std::vector<std::string> out;
        for (t.reset(); !t.is_eof(); t.next()) {
            try {
                udb_record* r = t.get_item();
                std::string s;
                for (std::size_t i = 0; i < r->size(); ++i)
                    s += (i ? "|" : "") + show((*r)[i]);
                out.push_back(s);
            } catch (const tk_exception& e) {
                if (e.level != 0)
                    throw;
                out.push_back("!" + e.message);
            }
            if (max_progress)
                *max_progress = std::max(*max_progress, reader.get_local_progress());
            if (out.size() > 100000)
                break;
        }
        return out;
    }

    std::string write(const ora_pump::writer& w, const std::string& name = "dump.dmp")
    {
        const std::string path = home.file(name);
        EXPECT_TRUE(w.write_file(path));
        return path;
    }

    ora_dump_test::scoped_documents_folder docs{home};
    recording_front_end fe{recording_front_end::mode::console};
    error_handler handler{error_handler_code_count, error_handler_codes};
    ora_dump_reader reader;
    std::vector<std::string> shown;
};

const std::vector<column> emp_columns = {
    {"EMPNO", 2, 22, 4, 0, 0, true},
    {"ENAME", 1, 10, {}, {}, 873},
    {"DEPTNO", 2, 22, 2, 0},
};

bytes emp_row(const std::string& no, const std::string& name, const std::string& dept)
{
    return ora_pump::record({ora_pump::value(ora_rows::number(no)),
                             name.empty() ? ora_pump::null_value() : ora_pump::value(ora_rows::text(W(name), 65001)),
                             ora_pump::value(ora_rows::number(dept))});
}

// --- the real dump ------------------------------------------------------------------

TEST_F(pump_open, real_dump_opens_with_its_tables_and_rows)
{
    const std::string source = std::string(VELC_REAL_DATA_DIR) + "/datapump_12c_scott.dmp";
    if (!fs::exists(source))
        GTEST_SKIP() << "no real data";
    const std::string path = home.file("scott.dmp");
    fs::copy_file(source, path);
    fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write);
    for (int pass = 0; pass < 2; ++pass) {
        SCOPED_TRACE(pass == 0 ? "scan" : "context file");
        shown.clear();
        std::unique_ptr<ora_dump_file> db = reader.open(W(path));
        ASSERT_NE(db, nullptr);
        EXPECT_EQ(reader.get_progress(), 100);
        EXPECT_EQ(db->get_table_names(), (std::vector<std::wstring>{L"BONUS", L"DEPT", L"EMP", L"IMPDP_STATS",
                                                                     L"SALGRADE", L"SYS_EXPORT_SCHEMA_01"}));
        const bool scanned = std::find(shown.begin(), shown.end(), "XML start pos (stage 1): 69635\n") != shown.end();
        EXPECT_EQ(scanned, pass == 0);
        {
            auto dept = db->get_table(L"DEPT", 0);
            ASSERT_EQ(dept->schema.size(), 3u);
            EXPECT_EQ(dept->schema[0]->name, L"DEPTNO");
            EXPECT_TRUE(dept->schema[0]->b_not_null);
            EXPECT_EQ(dept->schema[0]->vartype, VT_I1);  // NUMBER(2)
            EXPECT_EQ(dept->schema[1]->size, 14u);
            EXPECT_EQ(rows(*dept), (std::vector<std::string>{"10|ACCOUNTING|NEW YORK", "20|RESEARCH|DALLAS",
                                                            "30|SALES|CHICAGO", "40|OPERATIONS|BOSTON"}));
            // The key comes from the master table's document of DEPT.
            ASSERT_EQ(dept->indexes.size(), 1u);
            EXPECT_EQ(dept->indexes[0].name, L"PK_DEPT");
            EXPECT_TRUE(dept->indexes[0].b_primary);
            EXPECT_EQ(dept->indexes[0].columns, std::vector<std::wstring>{L"DEPTNO"});
        }
        {
            // No data of its own: the columns of its master-table document.
            auto bonus = db->get_table(L"BONUS", 0);
            ASSERT_EQ(bonus->schema.size(), 4u);
            EXPECT_EQ(bonus->schema[0]->name, L"ENAME");
            EXPECT_EQ(bonus->schema[3]->name, L"COMM");
            EXPECT_TRUE(rows(*bonus).empty());
            EXPECT_TRUE(bonus->indexes.empty());
        }
        {
            auto emp = db->get_table(L"EMP", 0);
            ASSERT_EQ(emp->schema.size(), 8u);
            const std::vector<std::string> r = rows(*emp);
            ASSERT_EQ(r.size(), 14u);
            EXPECT_EQ(r[0].substr(0, 23), "7369|SMITH|CLERK|7902|1");
            EXPECT_NE(r[0].find("1980-12-17"), std::string::npos) << r[0];
            EXPECT_NE(r[0].find("|800|-|20"), std::string::npos) << r[0];
            EXPECT_EQ(r[8].substr(0, 20), "7839|KING|PRESIDENT|");
            EXPECT_EQ(r[8].find("PRESIDENT|-|"), 10u) << r[8];
            EXPECT_NE(r[9].find("|1500|0|30"), std::string::npos) << r[9];
            int chicago = 0;
            for (const std::string& row : r)
                chicago += row.size() > 3 && row.substr(row.size() - 3) == "|30";
            EXPECT_EQ(chicago, 6);
            ASSERT_EQ(emp->indexes.size(), 1u);
            EXPECT_EQ(emp->indexes[0].name, L"PK_EMP");
            EXPECT_EQ(emp->indexes[0].columns, std::vector<std::wstring>{L"EMPNO"});
        }
        {
            auto sal = db->get_table(L"SALGRADE", 0);
            EXPECT_EQ(rows(*sal), (std::vector<std::string>{"1|700|1200", "2|1201|1400", "3|1401|2000", "4|2001|3000",
                                                           "5|3001|9999"}));
            EXPECT_EQ(sal->schema[0]->vartype, VT_DECIMAL);
            EXPECT_TRUE(sal->indexes.empty());
        }
        for (const wchar_t* sys : {L"IMPDP_STATS", L"SYS_EXPORT_SCHEMA_01"}) {
            // The export's own tables are tables like any other.
            SCOPED_TRACE(tk_wide_to_utf8(sys));
            auto t = db->get_table(sys, 0);
            const std::vector<std::string> r = rows(*t);
            EXPECT_FALSE(r.empty());
            EXPECT_TRUE(std::none_of(r.begin(), r.end(), [](const std::string& s) { return s[0] == '!'; }));
        }
        EXPECT_EQ(db->live_tables(), 0);
        // EMP's foreign key, held once although BONUS and EMP were read.
        ASSERT_EQ(db->relationships.size(), 1u);
        EXPECT_EQ(db->relationships[0].fk_name, L"FK_DEPTNO");
        EXPECT_EQ(db->relationships[0].fk_table, L"EMP");
        EXPECT_EQ(db->relationships[0].fk_fields, std::vector<std::wstring>{L"DEPTNO"});
        EXPECT_EQ(db->relationships[0].pk_table, L"DEPT");
        EXPECT_EQ(db->relationships[0].pk_fields, std::vector<std::wstring>{L"DEPTNO"});
    }
}

// --- writer-made dumps ------------------------------------------------------------

TEST_F(pump_open, later_partitions_start_at_their_recorded_rows)
{
    // Chunked stream documents followed by 3 and then 40 zero bytes.
    ora_pump::writer w;
    ora_pump::document_form form;
    form.chunks = {{1, 200}, {6, 300}};
    std::vector<std::string> expected;
    for (int part = 0; part < 2; ++part) {
        w.document(ora_pump::strmtable_doc("SCOTT", "EMP", emp_columns), form);
        w.zeros(part == 0 ? 3 : 40);
        for (int i = 0; i < 3; ++i) {
            const std::string no = std::to_string(100 * part + i + 1);
            w.raw(emp_row(no, "N" + no, "10"));
            expected.push_back(no + "|N" + no + "|10");
        }
    }
    w.zeros(10);
    auto db = reader.open(W(write(w)));
    auto t = db->get_table(L"EMP", 0);
    int max_progress = -1;
    EXPECT_EQ(rows(*t, &max_progress), expected);
    EXPECT_LE(max_progress, 100);
}

TEST_F(pump_open, an_incomplete_column_list_is_a_level0_failure_and_the_next_table_reads)
{
    ora_pump::writer w;
    std::vector<column> bad = emp_columns;
    bad[1].type_num = 250;  // no such type
    w.document(ora_pump::strmtable_doc("SCOTT", "BAD", bad));
    w.zeros(1);
    w.raw(emp_row("1", "A", "10"));
    w.document(ora_pump::strmtable_doc("SCOTT", "GOOD", emp_columns));
    w.zeros(1);
    w.raw(emp_row("2", "B", "20"));
    auto db = reader.open(W(write(w)));
    try {
        db->get_table(L"BAD", 0);
        ADD_FAILURE() << "a table with a gap in its columns opened";
    } catch (const tk_exception& e) {
        EXPECT_EQ(e.level, 0);
        EXPECT_EQ(e.message, "Unknown field type");
    }
    auto good = db->get_table(L"GOOD", 0);
    EXPECT_EQ(rows(*good), std::vector<std::string>{"2|B|20"});
    good.reset();
    EXPECT_EQ(db->live_tables(), 0);
}

TEST_F(pump_open, keys_from_constraint_documents_find_their_table)
{
    struct key_case {
        const char* name;
        bool merge;
        const char* owner;   // of the table that gets the key
        bool second;         // a same-named table of another owner comes first
        bool foreign_first;  // the table's document has a foreign key into another owner
    };
    const key_case cases[] = {
        {"merge_schema", true, "SCOTT", false, false},
        {"second of two same-named tables", false, "HR", true, false},
        {"after a foreign key into another owner", false, "SCOTT", false, true},
    };
    for (const key_case& c : cases) {
        SCOPED_TRACE(c.name);
        reader.merge_schema = c.merge;
        ora_pump::writer w;
        if (c.second) {
            w.document(ora_pump::strmtable_doc("SCOTT", "EMP", emp_columns));
            w.zeros(1);
            w.raw(emp_row("1", "A", "10"));
        }
        std::vector<ora_pump::foreign_key> fks;
        if (c.foreign_first)
            fks.push_back({"FK_OTHER", "HR", "DEPT", {"DEPTNO"}, {"DEPTNO"}});
        w.document(ora_pump::table_doc(c.owner, "EMP", emp_columns, {}, fks));
        w.document(ora_pump::strmtable_doc(c.owner, "EMP", emp_columns));
        w.zeros(1);
        w.raw(emp_row("7", "Z", "10"));
        w.document(ora_pump::constraint_doc(c.owner, "EMP", {"PK_EMP", 2, {"EMPNO"}}));
        w.document(ora_pump::constraint_doc("OTHER", "EMP", {"PK_WRONG", 2, {"ENAME"}}));
        const std::string path = write(w, std::string("keys") + (c.merge ? "m" : "") + (c.second ? "s" : "") +
                                              (c.foreign_first ? "f" : "") + ".dmp");
        auto db = reader.open(W(path));
        const std::wstring key = c.merge || c.second ? W(c.owner) + L".EMP" : L"EMP";
        auto t = db->get_table(key, 0);
        ASSERT_EQ(t->indexes.size(), 1u);
        EXPECT_EQ(t->indexes[0].name, L"PK_EMP");
        EXPECT_TRUE(t->indexes[0].b_primary);
        EXPECT_EQ(rows(*t), std::vector<std::string>{"7|Z|10"});
        t.reset();
        db.reset();
        // From the context file: the same key, no scan.
        shown.clear();
        db = reader.open(W(path));
        EXPECT_TRUE(std::none_of(shown.begin(), shown.end(),
                                 [](const std::string& s) { return s.rfind("XML start pos", 0) == 0; }));
        t = db->get_table(key, 0);
        ASSERT_EQ(t->indexes.size(), 1u);
        EXPECT_EQ(t->indexes[0].name, L"PK_EMP");
        t.reset();
    }
    reader.merge_schema = false;
}

TEST_F(pump_open, a_context_file_that_does_not_fit_is_ignored)
{
    ora_pump::writer w;
    w.document(ora_pump::strmtable_doc("SCOTT", "EMP", emp_columns));
    w.zeros(2);
    w.raw(emp_row("1", "A", "10"));
    const std::string path = write(w);
    { auto db = reader.open(W(path)); }
    const std::wstring ctx_name = ora_dump_file::context_file_name(W(path));
    ASSERT_TRUE(fs::exists(tk_wide_to_utf8(ctx_name)));
    struct spoil_case {
        const char* name;
        void (*spoil)(table_pos&);
    };
    const spoil_case cases[] = {
        {"no block end", [](table_pos& p) { p.v_block_end_pos.clear(); }},
        {"short end list", [](table_pos& p) { p.v_data_end_pos.clear(); }},
        {"start at its end", [](table_pos& p) { p.end_pos = p.start_pos; }},
        {"partition start at its end", [](table_pos& p) { p.v_data_end_pos[0] = p.v_data_start_pos[0]; }},
    };
    for (const spoil_case& c : cases) {
        SCOPED_TRACE(c.name);
        ora_dump_file::context ctx;
        ASSERT_TRUE(ctx.load_if(W(path), false, 1));
        c.spoil(ctx.tables.begin()->second);
        std::vector<std::uint8_t> image;
        ASSERT_TRUE(ora_dump_file::build_image(ctx, image));
        tk_test::write_file(tk_wide_to_utf8(ctx_name), std::string(image.begin(), image.end()));
        shown.clear();
        auto db = reader.open(W(path));
        EXPECT_TRUE(std::any_of(shown.begin(), shown.end(),
                                [](const std::string& s) { return s.rfind("XML start pos", 0) == 0; }));
        auto t = db->get_table(L"EMP", 0);
        EXPECT_EQ(rows(*t), std::vector<std::string>{"1|A|10"});
    }
}

TEST_F(pump_open, a_failed_scan_writes_no_context_and_the_next_opening_scans)
{
    ora_pump::writer w;
    w.document(ora_pump::strmtable_doc("SCOTT", "EMP", emp_columns));
    w.zeros(2);
    w.raw(emp_row("1", "A", "10"));
    ora_pump::document_form form;
    form.chunks = {{1, 100}, {3, 100}};
    const std::int64_t s2 = w.document(ora_pump::table_doc("SCOTT", "DEPT", emp_columns), form);
    w.data()[static_cast<std::size_t>(s2) + 4 + 100 + 2] = 0x00;  // 03 01 without FE
    const std::string path = write(w);
    try {
        reader.open(W(path));
    } catch (const front_end_exit&) {
    }
    EXPECT_EQ(fe.exit_code, -1);
    EXPECT_FALSE(fs::exists(tk_wide_to_utf8(ora_dump_file::context_file_name(W(path)))));
}

TEST_F(pump_open, national_text_after_a_classic_dump_of_another_national_set)
{
    // A classic dump left a UTF-8 national set behind.
    const unsigned char utf8[2] = {0x03, 0x69};
    reader.get_cp(utf8, true);
    ASSERT_EQ(reader.info.ncharset_class, 1);
    ora_pump::writer w;
    w.document(ora_pump::strmtable_doc("SCOTT", "N", {{"ID", 2, 22, 4, 0}, {"T", 1, 20, {}, {}, 2000}}));
    w.zeros(2);
    w.raw(ora_pump::record({ora_pump::value(ora_rows::number("1")), ora_pump::value(ora_rows::utf16be(L"\u042F\u0416"))}));
    auto db = reader.open(W(write(w)));
    EXPECT_EQ(db->info().ncharset_class, 2);
    auto t = db->get_table(L"N", 0);
    ASSERT_EQ(t->schema.size(), 2u);
    EXPECT_EQ(rows(*t), std::vector<std::string>{"1|\xD0\xAF\xD0\x96"});
}

TEST_F(pump_open, empty_and_null_lobs_and_a_bad_date)
{
    ora_pump::writer w;
    w.document(ora_pump::strmtable_doc("SCOTT", "L", {{"ID", 2, 22, 4, 0}, {"B", 113, 4000, {}, {}}, {"C", 112, 4000, {}, {}, 873}}));
    w.zeros(2);
    const bytes one = ora_pump::value(ora_rows::number("1"));
    w.raw(ora_pump::lob_record(0x0C, {one}, ora_rows::hex("00 01 00 00 01 00"), 3));
    w.raw(ora_pump::lob_record(0x0C, {one}, ora_rows::hex("00 01 FF 00 01 FF"), 3));
    w.document(ora_pump::strmtable_doc("SCOTT", "D", {{"ID", 2, 22, 4, 0}, {"WHEN", 12, 7, {}, {}}}));
    w.zeros(2);
    for (int day : {28, 30, 27})
        w.raw(ora_pump::record({ora_pump::value(ora_rows::number(std::to_string(day))),
                                ora_pump::value(ora_rows::date(2024, 2, day))}));
    auto db = reader.open(W(write(w)));
    {
        auto t = db->get_table(L"L", 0);
        const std::vector<std::string> r = rows(*t);
        ASSERT_EQ(r.size(), 2u);
        EXPECT_EQ(r[0], "1|x|");
        EXPECT_EQ(r[1], "1|-|-");
        udb_record* first = nullptr;
        t->reset();
        first = t->get_item();
        EXPECT_EQ((*first)[1].get_vt(), VT_BYTE_ARRAY);
        EXPECT_EQ((*first)[2].get_vt(), VT_BSTR);
    }
    {
        auto t = db->get_table(L"D", 0);
        const std::vector<std::string> r = rows(*t);
        ASSERT_EQ(r.size(), 3u);
        EXPECT_EQ(r[1], "!Can't read record. Date error.");
        EXPECT_EQ(r[0].substr(0, 3), "28|");
        EXPECT_EQ(r[2].substr(0, 3), "27|");
    }
}

}  // namespace

namespace {

TEST_F(pump_open, refusals_through_the_opening)
{
    ora_pump::header_fields compressed;
    compressed.flags = 0x06;
    ora_pump::writer w(compressed);
    w.document(ora_pump::strmtable_doc("SCOTT", "EMP", emp_columns));
    try {
        reader.open(W(write(w, "compressed.dmp")));
        ADD_FAILURE() << "a compressed dump opened";
    } catch (const tk_exception& e) {
        EXPECT_EQ(e.level, 1);
        EXPECT_EQ(e.message, ora_dump_reader::message(17));
    }
    bytes short_file = ora_pump::header(ora_pump::header_fields());
    short_file.resize(40);
    const std::string path = home.file("short.dmp");
    tk_test::write_file(path, std::string(short_file.begin(), short_file.end()));
    EXPECT_THROW(reader.open(W(path)), front_end_exit);
    EXPECT_EQ(fe.exit_code, -1);
    EXPECT_EQ(reader.get_progress(), -1);
    const auto effects = fe.effects();
    EXPECT_NE(std::find(effects.begin(), effects.end(),
                        std::string("write_out(Error:\n") + ora_dump_reader::message(0) + "\n)"),
              effects.end());
}

}  // namespace
