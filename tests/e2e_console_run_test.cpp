// velcagent's own side of a conversion, as a process against the test
// cluster: the names the tables and the database get, what it tells about
// them, and the order in which its two streams tell it.

#include "e2e_dumps.h"
#include "e2e_support.h"

#include <cctype>
#include <optional>
#include <string>
#include <vector>

namespace {

using e2e::e2e_test;
using strings = std::vector<std::string>;

class E2eConsoleRun : public e2e_test {
protected:
    // DEPT, EMP and a table whose quoted name has lower-case letters.
    std::string dump_path()
    {
        using namespace e2e_dumps;
        return write_dump("names.dmp", whole_dump({dept(), emp(), pair_table("Mixed", {{"1", L"one"}})}));
    }

    std::string list(const std::string& name, const std::string& content)
    {
        const std::string path = work.file(name);
        tk_test::write_file(path, content);
        return path;
    }

    // Whether a database of exactly that name exists.
    bool exists(const std::string& name) { return db_exists(name); }

    void drop(const std::string& name)
    {
        exec("DROP DATABASE IF EXISTS " + quote_ident(name) + " WITH (FORCE)", "postgres");
    }
};

// A table-list line only selects a table, ignoring letter case; the table
// is named as the dump names it, under the case setting, whatever the
// spelling of the line.
TEST_F(E2eConsoleRun, TheListSelectsTablesButNeverNamesThem)
{
    const std::string src = dump_path();
    const std::string respelt = list("respelt.txt", "emp\n  Dept \t\nMIXED\n");
    const std::string repeated = list("repeated.txt", "EMP\nnope\nemp\n\"Emp\"\n");
    struct row {
        const char* name;
        std::optional<std::string> list;
        bool case_sense;
        strings tables;
        int n_tables;
        int status;
        std::string err;
    };
    const std::vector<row> cases = {
        {"no list", std::nullopt, false, {"dept", "emp", "mixed"}, 3, 0, ""},
        {"no list, case kept", std::nullopt, true, {"DEPT", "EMP", "Mixed"}, 3, 0, ""},
        {"a list in other cases", respelt, false, {"dept", "emp", "mixed"}, 3, 0, ""},
        {"a list in other cases, case kept", respelt, true, {"DEPT", "EMP", "Mixed"}, 3, 0, ""},
        // Only what will be converted is counted: one table, named thrice.
        {"one table named thrice and a name the dump lacks", repeated, true, {"EMP"}, 1, 1,
         "Table nope not exists\n"},
    };
    for (const row& c : cases) {
        SCOPED_TRACE(c.name);
        strings more;
        if (c.list)
            more.push_back("--tab_file=" + *c.list);
        if (c.case_sense)
            more.push_back("--case_sense");
        const e2e::result r = run(args(src, more));
        ASSERT_EQ(r.status, c.status) << e2e::describe(r);
        EXPECT_EQ(r.err, c.err);
        EXPECT_NE(r.out.find("Converting Oracle dump file (" + std::to_string(c.n_tables) + " tables)\n"),
                  std::string::npos)
            << r.out;
        EXPECT_EQ(tables(), c.tables);
        const std::string emp = c.case_sense ? "EMP" : "emp";
        EXPECT_EQ(count(quote_ident(emp)), "14");
        EXPECT_EQ(columns(emp).front().substr(0, 6), c.case_sense ? "EMPNO|" : "empno|");
    }
}

// The server gets the destination's name lower-cased unless the case is
// kept; a name it would cut is refused before anything is done.
TEST_F(E2eConsoleRun, TheDestinationIsToldByTheNameTheServerGets)
{
    const std::string src = dump_path();
    // The test's own name in mixed case: lower-cased, it is the database
    // the fixture drops.
    std::string mixed = db;
    for (std::size_t i : {0, 4})
        mixed[i] = static_cast<char>(std::toupper(static_cast<unsigned char>(mixed[i])));
    ASSERT_NE(mixed, db);
    {
        SCOPED_TRACE("lower-cased");
        const e2e::result r = run(args(src, {"--tab_file=" + list("dept.txt", "DEPT\n")}));
        ASSERT_EQ(r.status, 0) << e2e::describe(r);
        EXPECT_EQ(r.out.find("Destination database:"), std::string::npos) << r.out;

        strings a = args(src, {"--tab_file=" + list("emp.txt", "EMP\n"), "--mode=1"});
        a.push_back("--dest=" + mixed);
        const e2e::result told = run(a);
        ASSERT_EQ(told.status, 0) << e2e::describe(told);
        EXPECT_EQ(told.out.rfind("Destination database: " + db + "\nReading file ", 0), 0u) << told.out;
        EXPECT_FALSE(exists(mixed));
        EXPECT_EQ(tables(), (strings{"dept", "emp"}));
    }
    {
        SCOPED_TRACE("case kept");
        strings a = args(src, {"--case_sense"});
        a.push_back("--dest=" + mixed);
        const e2e::result r = run(a);
        ASSERT_EQ(r.status, 0) << e2e::describe(r);
        EXPECT_EQ(r.out.find("Destination database:"), std::string::npos) << r.out;
        EXPECT_TRUE(exists(mixed));
        EXPECT_EQ(tables(mixed), (strings{"DEPT", "EMP", "Mixed"}));
        drop(mixed);
    }
    {
        SCOPED_TRACE("70 bytes");
        const std::string long_name = db + "_" + std::string(69 - db.size(), 'x');
        ASSERT_EQ(long_name.size(), 70u);
        strings a = args(src);
        a.push_back("--dest=" + long_name);
        const e2e::result r = run(a);
        EXPECT_EQ(r.status, 255) << e2e::describe(r);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, "Destination database name '" + long_name +
                             "' is too long: PostgreSQL takes at most 63 bytes, it has 70.\n");
        EXPECT_EQ(query("SELECT count(*) FROM pg_database WHERE datname LIKE " + quote(db + "\\_x%"), "postgres"),
                  "0");
    }
}

// With both streams on one pipe, as a terminal or "2>&1" takes them, the
// progress lines and the reports arrive in the order of the events.
TEST_F(E2eConsoleRun, BothStreamsOnOnePipeKeepTheOrderOfTheEvents)
{
    const std::string src = write_dump("d2.dmp", e2e_dumps::d2());
    std::string dest = db;
    dest[0] = 'E';
    strings a = {"--src=" + src, "--dest=" + dest};
    for (const std::string& c : connection())
        a.push_back(c);
    a.push_back("--tab_file=" + list("order.txt", "GOOD\nNOPE\nBADDATE\nBADNN\nGOOD\n"));
    const e2e::result r = e2e::wait_velcagent(e2e::start_velcagent(a, work.path(), e2e::error_stream::with_output));
    ASSERT_EQ(r.status, 1) << e2e::describe(r);
    EXPECT_EQ(r.err, "");
    const std::string schema = "Creating schema if necessary: 'public'\n";
    // Each piece in turn, the ones from the standard error among them.
    const strings pieces = {
        "Destination database: " + db + "\n",
        "Reading file " + src + "\nConverting Oracle dump file (3 tables)\n",
        schema + "Converting table GOOD (2 records)\n",
        "Table NOPE not exists\n",
        schema + "Converting table BADDATE\n",
        "Error:\nBADDATE, record #3: Can't read record. Date error.\n",
        " (5 records)\n",
        schema + "Converting table BADNN",
        "\nError:\nBADNN: ",
    };
    std::size_t at = 0;
    for (const std::string& piece : pieces) {
        const std::size_t found = r.out.find(piece, at);
        ASSERT_EQ(found, at) << "expected next: " << piece << "\n--- after:\n" << r.out.substr(at);
        at = found + piece.size();
    }
    EXPECT_EQ(r.out.find("GOOD", at), std::string::npos) << "a table listed twice is converted once";
}

}  // namespace
