// velcagent on classic exports that are cut short: a dump that ends before
// the export's end never replaces an existing database and loads the tables
// it holds into a new one with exit 1; a table cut inside its rows is
// reported by its reader; a dump cut inside its header is refused.

#include "e2e_dumps.h"
#include "e2e_support.h"

#include <cstdint>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

namespace {

using e2e::e2e_test;
using strings = std::vector<std::string>;
namespace cd = classic_dump;

cd::table plain_table(const std::string& name, int rows)
{
    std::vector<std::pair<std::string, std::wstring>> values;
    for (int i = 1; i <= rows; ++i)
        values.push_back({std::to_string(i), L"name " + std::to_wstring(i)});
    cd::table t = e2e_dumps::pair_table(name, values);
    t.primary_key = {"ID"};
    return t;
}

// A, B and C of 3, 5 and 4 rows, closed by ENDTABLE and the EXIT lines.
struct export_dump {
    std::vector<cd::table> tables = {plain_table("A", 3), plain_table("B", 5), plain_table("C", 4)};
    cd::bytes data = cd::whole_dump(tables);

    std::int64_t at(const std::string& text) const
    {
        const std::string s(data.begin(), data.end());
        const std::size_t p = s.find(text);
        EXPECT_NE(p, std::string::npos) << text;
        return static_cast<std::int64_t>(p);
    }
    // Where the rows of table i begin: after its INSERT line and its field
    // descriptions.
    std::int64_t rows_of(std::size_t i) const
    {
        const cd::table& t = tables[i];
        const std::string insert = cd::insert_sql(t) + "\n";
        return at(insert) + static_cast<std::int64_t>(insert.size() + cd::description(t).size());
    }
    std::int64_t row_size(std::size_t i) const
    {
        return static_cast<std::int64_t>(cd::row_bytes(tables[i], tables[i].rows[0]).size());
    }
};

std::string truncated(std::size_t whole)
{
    return "Error:\nThe dump file ends before the end of the export: it is truncated or incomplete. Tables found "
           "whole: " +
           std::to_string(whole) + ".\n";
}

const std::string cannot_read =
    "Error:\nThe program cannot read Oracle dump file. It may be corrupted or does not comply with Oracle dump file "
    "format.\n";

struct cut_case {
    const char* name;
    // Where the dump is cut.
    std::function<std::int64_t(const export_dump&)> at;
    // The header is cut: the dump is refused, nothing is made.
    bool refused;
    std::size_t whole;
    // The tables a new database receives, with their rows, and what the row
    // reader reports of a table that was cut.
    strings tables;
    strings counts;
    std::string rows_report;
};

// The case's name, so that the test's name stays the same in every build.
void PrintTo(const cut_case& c, std::ostream* out) { *out << c.name; }

std::vector<cut_case> cut_cases()
{
    return {
        {"inside_the_header", [](const export_dump&) { return std::int64_t(20); }, true, 0, {}, {}, ""},
        {"after_the_header", [](const export_dump& d) { return d.at("CONNECT"); }, false, 0, {}, {}, ""},
        // Nothing after B's lines says that its section is over.
        {"between_tables", [](const export_dump& d) { return d.at("TABLE \"C\""); }, false, 1, {"a", "b"},
         {"3", "5"}, ""},
        {"after_the_next_tables_first_line",
         [](const export_dump& d) { return d.at("TABLE \"C\"") + 10; },
         false,
         2,
         {"a", "b"},
         {"3", "5"},
         ""},
        {"inside_a_tables_rows",
         [](const export_dump& d) { return d.rows_of(1) + 2 * d.row_size(1) + 5; },
         false,
         1,
         {"a", "b"},
         {"3", "2"},
         "Error:\nB, record #3: Can't read record. EOF reached\n"},
        {"just_before_the_closing_lines", [](const export_dump& d) { return d.at("EXIT"); }, false, 3,
         {"a", "b", "c"}, {"3", "5", "4"}, ""},
        {"inside_the_last_line", [](const export_dump& d) { return static_cast<std::int64_t>(d.data.size()) - 1; },
         false, 3, {"a", "b", "c"}, {"3", "5", "4"}, ""},
    };
}

class E2eClassicCut : public e2e_test, public ::testing::WithParamInterface<cut_case> {
protected:
    std::string cut_dump()
    {
        const export_dump d;
        cd::bytes b = d.data;
        const std::int64_t at = GetParam().at(d);
        EXPECT_GT(at, 0);
        EXPECT_LT(at, static_cast<std::int64_t>(b.size()));
        b.resize(static_cast<std::size_t>(at));
        return write_dump("cut.dmp", b);
    }
};

// Mode 0 onto an existing database: stopped before anything is dropped.
TEST_P(E2eClassicCut, ModeZeroLeavesAnExistingDatabase)
{
    const std::string src = cut_dump();
    create_db(db);
    exec("CREATE TABLE keep (id int)");
    exec("INSERT INTO keep VALUES (1), (2)");
    const e2e::result r = run(args(src, {"--mode=0"}));
    EXPECT_EQ(r.status, 255) << e2e::describe(r);
    if (GetParam().refused)
        EXPECT_EQ(r.err, cannot_read);
    else
        EXPECT_EQ(r.err, truncated(GetParam().whole) + "Error:\nThe database '" + db +
                             "' is not replaced: the dump file is truncated or incomplete.\n");
    EXPECT_EQ(tables(), strings{"keep"});
    EXPECT_EQ(count("keep"), "2");
}

// Into a new database: the tables found arrive, the run exits 1.
TEST_P(E2eClassicCut, ANewDatabaseReceivesTheTablesFound)
{
    const std::string src = cut_dump();
    const e2e::result r = run(args(src, {"--mode=0"}));
    if (GetParam().refused) {
        EXPECT_EQ(r.status, 255) << e2e::describe(r);
        EXPECT_EQ(r.err, cannot_read);
        EXPECT_FALSE(db_exists(db));
        return;
    }
    EXPECT_EQ(r.status, 1) << e2e::describe(r);
    EXPECT_EQ(r.err, truncated(GetParam().whole) + GetParam().rows_report);
    EXPECT_EQ(tables(), GetParam().tables);
    strings counts;
    for (const std::string& t : tables())
        counts.push_back(count(t));
    EXPECT_EQ(counts, GetParam().counts);
}

INSTANTIATE_TEST_SUITE_P(cuts, E2eClassicCut, ::testing::ValuesIn(cut_cases()),
                         [](const ::testing::TestParamInfo<cut_case>& info) { return std::string(info.param.name); });

class E2eClassicWhole : public e2e_test {};

// The same dump whole, and with the NUL bytes exp fills its last block with,
// converts with exit 0 and no report.
TEST_F(E2eClassicWhole, GivesNoReport)
{
    for (std::size_t fill : {0, 300}) {
        SCOPED_TRACE(fill);
        export_dump d;
        d.data.resize(d.data.size() + fill, 0);
        const std::string src = write_dump("whole.dmp", d.data);
        const e2e::result r = run(args(src, {"--mode=0"}));
        EXPECT_EQ(r.status, 0) << e2e::describe(r);
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(tables(), (strings{"a", "b", "c"}));
        EXPECT_EQ(count("b"), "5");
    }
}

// A header that declares more than the file holds: the first file of an
// export written to several, or a dump cut short. Its closing lines do not
// make it whole.
TEST_F(E2eClassicWhole, AHeaderDeclaringMoreThanTheFileIsIncomplete)
{
    export_dump d;
    cd::options o;
    o.declared_length = d.data.size() + 1;
    d.data = cd::whole_dump(d.tables, o);
    ASSERT_EQ(d.data.size() + 1, o.declared_length);
    const std::string src = write_dump("first.dmp", d.data);
    create_db(db);
    exec("CREATE TABLE keep (id int)");
    const std::string first_part = "This is the first part of multifile dump. The program extracts data stored in "
                                   "this file only, other parts of the dump will not be processed. See "
                                   "'Troubleshooting' article of the product documentation for solution.\n";
    e2e::result r = run(args(src, {"--mode=0"}));
    EXPECT_EQ(r.status, 255) << e2e::describe(r);
    EXPECT_EQ(r.err, truncated(3) + first_part + "Error:\nThe database '" + db +
                         "' is not replaced: the dump file is truncated or incomplete.\n");
    EXPECT_EQ(tables(), strings{"keep"});
    // Overwriting tables keeps the database: the tables the file holds
    // arrive beside it.
    r = run(args(src, {"--mode=1"}));
    EXPECT_EQ(r.status, 1) << e2e::describe(r);
    EXPECT_EQ(r.err, truncated(3) + first_part);
    EXPECT_EQ(count("b"), "5");
    EXPECT_EQ(tables(), (strings{"a", "b", "c", "keep"}));
}

}  // namespace
