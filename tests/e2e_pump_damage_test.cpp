// velcagent on Data Pump exports that are cut short or damaged: a dump
// that ends before the export's end never replaces an existing database
// and loads its whole tables into a new one with exit 1; damaged rows are
// reported with their table and position, and so is a number of rows that
// differs from what the export wrote.

#include "e2e_support.h"
#include "ora_dump_writer_pump.h"

#include <cstdint>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

namespace {

using e2e::e2e_test;
using ora_pump::bytes;
using ora_pump::column;
using ora_pump::export_table;
using ora_pump::export_writer;
using strings = std::vector<std::string>;

const std::vector<column> plain_columns = {
    {"ID", 2, 22, 4, 0, 0, true},
    {"NAME", 1, 20, {}, {}, 873},
};

bytes row(std::int64_t id)
{
    const std::string name = "name " + std::to_string(id);
    return ora_pump::record(
        {ora_pump::value(ora_rows::number(std::to_string(id))), ora_pump::value(bytes(name.begin(), name.end()))});
}

export_table plain_table(const std::string& name, int rows)
{
    export_table t{"SCOTT", name, plain_columns, {}, {{"PK_" + name, 2, {"ID"}}}, {}, true};
    for (int i = 1; i <= rows; ++i)
        t.rows.push_back(row(i));
    return t;
}

// A, B and C of 3, 5 and 4 rows, then the master table.
struct export_dump {
    std::vector<export_table> tables = {plain_table("A", 3), plain_table("B", 5), plain_table("C", 4)};
    std::vector<export_writer::unit> units;
    export_writer::unit master;
    bytes data;

    export_dump()
    {
        export_writer e;
        for (const export_table& t : tables)
            units.push_back(e.table(t));
        master = e.master(tables);
        data = e.data();
    }
};

std::string truncated(std::size_t whole)
{
    return "Error:\nThe dump file ends before the end of the export: it is truncated or incomplete. Tables found "
           "whole: " +
           std::to_string(whole) + ".\n";
}

// --- dumps cut short ----------------------------------------------------------------------

struct cut_case {
    const char* name;
    // Where the dump is cut.
    std::function<std::int64_t(const export_dump&)> at;
    std::size_t whole;
    // The tables a new database receives, with their rows; and what the
    // row reader reports of the table that was cut.
    strings tables;
    strings counts;
    std::string rows_report;
};

// The case's name, so that the test's name stays the same in every build.
void PrintTo(const cut_case& c, std::ostream* out) { *out << c.name; }

std::vector<cut_case> cut_cases()
{
    const std::int64_t b_third_record = 2 * static_cast<std::int64_t>(row(1).size());
    return {
        {"inside_the_header", [](const export_dump&) { return std::int64_t(100); }, 0, {}, {}, ""},
        {"between_tables", [](const export_dump& d) { return d.units[2].start; }, 2, {"a", "b"}, {"3", "5"}, ""},
        {"inside_a_tables_rows",
         [b_third_record](const export_dump& d) { return d.units[1].rows + b_third_record + 5; },
         1,
         {"a", "b"},
         {"3", "2"},
         "Error:\nB, record #3: Can't read record. EOF reached\n"},
        {"just_before_the_end",
         [](const export_dump& d) { return d.master.rows_end - 1; },
         3,
         {"a", "b", "c", "sys_export_schema_01"},
         {"3", "5", "4", "5"},
         "Error:\nSYS_EXPORT_SCHEMA_01, record #6: Can't read record. EOF reached\n"},
    };
}

class E2ePumpCut : public e2e_test, public ::testing::WithParamInterface<cut_case> {
protected:
    std::string cut_dump()
    {
        const export_dump d;
        bytes b = d.data;
        const std::int64_t at = GetParam().at(d);
        EXPECT_GT(at, 0);
        EXPECT_LT(at, static_cast<std::int64_t>(b.size()));
        b.resize(static_cast<std::size_t>(at));
        return write_dump("cut.dmp", b);
    }
};

// Mode 0 onto an existing database: stopped before anything is dropped.
TEST_P(E2ePumpCut, ModeZeroLeavesAnExistingDatabase)
{
    const std::string src = cut_dump();
    create_db(db);
    exec("CREATE TABLE keep (id int)");
    exec("INSERT INTO keep VALUES (1), (2)");
    const e2e::result r = run(args(src, {"--mode=0"}));
    EXPECT_EQ(r.status, 255) << e2e::describe(r);
    EXPECT_EQ(r.err, truncated(GetParam().whole) + "Error:\nThe database '" + db +
                         "' is not replaced: the dump file is truncated or incomplete.\n");
    EXPECT_EQ(tables(), strings{"keep"});
    EXPECT_EQ(count("keep"), "2");
}

// Into a new database: the whole tables arrive, the run exits 1.
TEST_P(E2ePumpCut, ANewDatabaseReceivesTheWholeTables)
{
    const std::string src = cut_dump();
    const e2e::result r = run(args(src, {"--mode=0"}));
    EXPECT_EQ(r.status, 1) << e2e::describe(r);
    EXPECT_EQ(r.err, truncated(GetParam().whole) + GetParam().rows_report);
    EXPECT_EQ(tables(), GetParam().tables);
    strings counts;
    for (const std::string& t : tables())
        counts.push_back(count(t));
    EXPECT_EQ(counts, GetParam().counts);
}

INSTANTIATE_TEST_SUITE_P(cuts, E2ePumpCut, ::testing::ValuesIn(cut_cases()),
                         [](const ::testing::TestParamInfo<cut_case>& info) { return std::string(info.param.name); });

// --- damaged rows ----------------------------------------------------------------------------

class E2ePumpDamage : public e2e_test {};

TEST_F(E2ePumpDamage, DamagedRowsAndADifferentCountAreReported)
{
    const std::size_t record = row(1).size();
    struct damage_case {
        const char* name;
        // Spoils B's rows (from the first record on) or its table.
        std::function<void(bytes& rows, export_table& b)> spoil;
        // What the run reports and what B receives; position is B's first
        // record.
        std::function<std::string(std::int64_t position)> err;
        std::string b_rows;
    };
    const damage_case cases[] = {
        {"sound", [](bytes&, export_table&) {}, [](std::int64_t) { return std::string(); }, "1,2,3,4,5"},
        {"a flipped record marker", [&](bytes& rows, export_table&) { rows[record] = 0x7C; },
         [&](std::int64_t at) {
             return "Error:\nTable B: the rows stop at position " + std::to_string(at + record) +
                    ", before the end of the table's data\nError:\nTable B: 1 rows read, the export wrote 5\n";
         },
         "1"},
        // The ID's length of the second record: its values no longer end
        // where its record length says.
        {"a flipped length", [&](bytes& rows, export_table&) { ++rows[record + 4]; },
         [&](std::int64_t at) {
             return "Error:\nB, record #2: Unexpected data at position: " + std::to_string(at + 2 * record) + "\n";
         },
         "1,3,4,5"},
        // The second record loses its last byte: the next one is lost too.
        {"a cut record", [&](bytes& rows, export_table&) { rows.erase(rows.begin() + 2 * record - 1); },
         [&](std::int64_t at) {
             return "Error:\nTable B: the rows stop at position " + std::to_string(at + 2 * record) +
                    ", before the end of the table's data\nError:\nTable B: 2 rows read, the export wrote 5\n";
         },
         "1,2"},
        {"a count that differs", [](bytes&, export_table& b) { b.completed_rows = 6; },
         [](std::int64_t) { return std::string("Error:\nTable B: 5 rows read, the export wrote 6\n"); },
         "1,2,3,4,5"},
    };
    for (const damage_case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<export_table> tables = {plain_table("A", 3), plain_table("B", 5), plain_table("C", 4)};
        bytes rows;
        for (const bytes& r : tables[1].rows)
            rows.insert(rows.end(), r.begin(), r.end());
        tables[1].completed_rows = 5;
        c.spoil(rows, tables[1]);
        tables[1].rows = {rows};
        export_writer e;
        e.table(tables[0]);
        const export_writer::unit b = e.table(tables[1]);
        e.table(tables[2]);
        e.master(tables);
        const std::string src = write_dump("damaged.dmp", e.data());
        const std::string err = c.err(b.rows);
        const e2e::result r = run(args(src, {"--mode=0"}));
        EXPECT_EQ(r.status, err.empty() ? 0 : 1) << e2e::describe(r);
        EXPECT_EQ(r.err, err);
        EXPECT_EQ(query("SELECT string_agg(id::text, ',' ORDER BY id) FROM b"), c.b_rows);
        EXPECT_EQ(count("a"), "3");
        EXPECT_EQ(count("c"), "4");
    }
}

}  // namespace
