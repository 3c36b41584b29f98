// velcagent converting classic dumps as a process into the test cluster:
// each case checks the exit status, the console output and, by SQL, what
// the destination holds afterwards.

#include "e2e_dumps.h"
#include "e2e_support.h"
#include "ora_dump_writer_pump.h"
#include "sample_dump.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

namespace {

using e2e::e2e_test;
using strings = std::vector<std::string>;

class E2eConvert : public e2e_test {
protected:
    std::string d1_path() { return write_dump("d1.dmp", e2e_dumps::d1()); }

    // The primary key's columns, "" without one.
    std::string primary_key(const std::string& table)
    {
        const strings r = rows("SELECT string_agg(a.attname, ',' ORDER BY k.n) FROM pg_index i "
                               "CROSS JOIN LATERAL unnest(i.indkey) WITH ORDINALITY AS k(attnum, n) "
                               "JOIN pg_attribute a ON a.attrelid = i.indrelid AND a.attnum = k.attnum "
                               "WHERE i.indisprimary AND i.indrelid = " +
                               quote("public." + quote_ident(table)) + "::regclass");
        return r.empty() || r[0] == "<null>" ? std::string() : r[0];
    }

    // The index definitions of a table other than its primary key.
    strings indexes(const std::string& table)
    {
        return rows("SELECT regexp_replace(indexdef, '^.* USING ', '') FROM pg_indexes i "
                    "WHERE schemaname = 'public' AND tablename = " +
                    quote(table) +
                    " AND NOT EXISTS (SELECT 1 FROM pg_index x WHERE x.indexrelid = "
                    "(quote_ident(i.schemaname) || '.' || quote_ident(i.indexname))::regclass "
                    "AND x.indisprimary) ORDER BY indexname");
    }

    std::string profile(const std::string& name, const std::string& generic, const strings& selected)
    {
        std::string text = "[Generic settings]\n" + generic + "[pgs settings]\nhost=" + server.socket_dir +
                           "\nport=" + std::to_string(server.port) + "\nuser=" + server.user + "\n";
        if (!selected.empty()) {
            text += "[Selected Tables]\n";
            for (const std::string& t : selected)
                text += t + "\n";
        }
        const std::string path = work.file(name);
        tk_test::write_file(path, text);
        return path;
    }
};

std::string d1_output(const std::string& path, bool with_counts = true)
{
    std::string out = "Reading file " + path + "\nConverting Oracle dump file (3 tables)\n";
    for (const auto& [table, n] : {std::pair<const char*, int>{"DEPT", 4}, {"EMP", 14}, {"TYPES", 3}}) {
        out += "Creating schema if necessary: 'public'\nConverting table " + std::string(table);
        out += with_counts ? " (" + std::to_string(n) + " records)\n" : "\n";
    }
    return out;
}

TEST_F(E2eConvert, FreshDatabaseGetsTablesTypesKeysAndValues)
{
    const std::string src = d1_path();
    const e2e::result r = run(args(src));
    ASSERT_EQ(r.status, 0) << e2e::describe(r);
    EXPECT_EQ(r.out, d1_output(src));
    EXPECT_EQ(r.err, "");

    EXPECT_EQ(tables(), (strings{"dept", "emp", "types"}));
    EXPECT_EQ(count("dept"), "4");
    EXPECT_EQ(count("emp"), "14");
    EXPECT_EQ(count("types"), "3");
    EXPECT_EQ(columns("dept"), scott_dept_columns());
    EXPECT_EQ(columns("emp"), scott_emp_columns());
    EXPECT_EQ(columns("types"),
              (strings{"n4|smallint||16|0|YES", "n9|integer||32|0|YES", "n18|bigint||64|0|YES",
                       "n20|numeric||20|0|YES", "nstar|numeric||38|0|YES", "nplain|numeric||||YES",
                       "n10_2|numeric||10|2|YES", "f|double precision||53||YES",
                       "v|character varying|40|||YES", "d|timestamp without time zone||||YES",
                       "ts|timestamp without time zone||||YES", "r|bytea||||YES", "b|bytea||||YES",
                       "c|text||||YES"}));
    EXPECT_EQ(primary_key("dept"), "deptno");
    EXPECT_EQ(primary_key("emp"), "empno");
    EXPECT_EQ(primary_key("types"), "");
    EXPECT_EQ(indexes("emp"), (strings{"btree (deptno)"}));

    EXPECT_EQ(rows("SELECT ename, job, mgr, hiredate, sal, comm, deptno FROM emp WHERE empno IN (7369, 7839, 7934) "
                   "ORDER BY empno"),
              (strings{"SMITH|CLERK|7902|1980-12-17 00:00:00|800.00|<null>|20",
                       "KING|PRESIDENT|<null>|1981-11-17 00:00:00|5000.00|<null>|10",
                       "MILLER|CLERK|7782|1982-01-23 00:00:00|1300.50|<null>|10"}));
    EXPECT_EQ(rows("SELECT e.ename FROM emp e JOIN dept d USING (deptno) WHERE d.loc = 'CHICAGO' ORDER BY 1"),
              (strings{"ALLEN", "BLAKE", "JAMES", "MARTIN", "TURNER", "WARD"}));

    // TYPES in load order: the edge values, a row of NULLs, the other edge.
    const strings types = rows(
        "SELECT n4, n9, n18, n20, nstar, nplain, n10_2, f, v, d, ts, encode(r, 'hex'), encode(b, 'hex'), c "
        "FROM types ORDER BY ctid");
    ASSERT_EQ(types.size(), 3u);
    EXPECT_EQ(types[0], "-9999|-999999999|-999999999999999999|-99999999999999999999|"
                        "12345678901234567890123456789012345678|-123.456|-12345678.90|3.56789|"
                        "tab\there\rcr\nlf\\back|0050-01-02 03:04:05|2022-06-02 08:45:40.346906|00ff10||"
                        "tab\tcr\rlf\n\\ Grüße");
    EXPECT_EQ(types[1], "<null>|<null>|<null>|<null>|<null>|<null>|<null>|<null>|<null>|<null>|<null>|<null>|"
                        "<null>|<null>");
    EXPECT_EQ(types[2], "9999|999999999|999999999999999999|99999999999999999999|"
                        "-99999999999999999999999999999999999999|0.000001|0.00|-1e-05|Zürich|"
                        "9999-12-31 23:59:59|1999-12-31 23:59:59.000001|dead|010203|");
}

// The modes against a destination that already holds part of D1.
TEST_F(E2eConvert, ModesDecideWhatHappensToWhatIsThere)
{
    const std::string src = d1_path();
    auto prepare = [&](bool other_emp) {
        exec("DROP DATABASE IF EXISTS " + quote_ident(db) + " WITH (FORCE)", "postgres");
        create_db(db);
        exec("CREATE TABLE x (id int)");
        exec("INSERT INTO x VALUES (1)");
        if (other_emp)
            exec("CREATE TABLE emp (other text, empno int)");
        else
            exec("CREATE TABLE emp (empno smallint, ename varchar(10))");
        exec("INSERT INTO emp (empno) VALUES (1)");
    };

    {
        SCOPED_TRACE("mode 0 replaces the whole database");
        prepare(false);
        const e2e::result r = run(args(src, {"--mode=0"}));
        ASSERT_EQ(r.status, 0) << e2e::describe(r);
        EXPECT_EQ(r.out, d1_output(src));
        EXPECT_EQ(tables(), (strings{"dept", "emp", "types"}));
        EXPECT_EQ(count("emp"), "14");
    }
    {
        SCOPED_TRACE("mode 1 replaces the dump's tables only");
        prepare(true);
        const e2e::result r = run(args(src, {"--mode=1"}));
        ASSERT_EQ(r.status, 0) << e2e::describe(r);
        EXPECT_EQ(r.out, d1_output(src));
        EXPECT_EQ(tables(), (strings{"dept", "emp", "types", "x"}));
        EXPECT_EQ(count("emp"), "14");
        EXPECT_EQ(count("x"), "1");
        EXPECT_EQ(columns("emp"), scott_emp_columns());
        EXPECT_EQ(primary_key("emp"), "empno");
    }
    {
        SCOPED_TRACE("mode 2 skips the tables that exist");
        prepare(false);
        const e2e::result r = run(args(src, {"--mode=2"}));
        ASSERT_EQ(r.status, 0) << e2e::describe(r);
        const std::string schema = "Creating schema if necessary: 'public'\n";
        EXPECT_EQ(r.out, "Reading file " + src + "\nConverting Oracle dump file (3 tables)\n" + schema +
                             "Converting table DEPT (4 records)\n" + schema + "Table 'EMP' exists, skipped\n" + schema +
                             "Converting table TYPES (3 records)\n");
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(count("emp"), "1");
        EXPECT_EQ(rows("SELECT empno FROM emp"), (strings{"1"}));
        EXPECT_EQ(count("dept"), "4");
        EXPECT_EQ(count("types"), "3");
        EXPECT_EQ(count("x"), "1");
    }
}

// Mode 3 appends to a table an earlier run made; rows whose keys are there
// already make the table's COPY fail, reported, and the run goes on.
TEST_F(E2eConvert, MergeAppendsAndReportsDuplicateKeys)
{
    e2e_dumps::table one = e2e_dumps::emp();
    one.rows.resize(1);
    one.rows[0][0] = classic_dump::num("9999");
    const std::string first = write_dump("one.dmp", classic_dump::whole_dump({one}));
    ASSERT_EQ(run(args(first)).status, 0);
    ASSERT_EQ(count("emp"), "1");

    const std::string src = d1_path();
    const e2e::result merged = run(args(src, {"--mode=3"}));
    ASSERT_EQ(merged.status, 0) << e2e::describe(merged);
    EXPECT_EQ(merged.out, d1_output(src));
    EXPECT_EQ(count("emp"), "15");
    EXPECT_EQ(count("dept"), "4");
    EXPECT_EQ(count("types"), "3");

    // Everything is there now: DEPT and EMP refuse their rows, TYPES has
    // no key and takes them a second time. The run completed, but not
    // everything went in: status 1.
    const e2e::result again = run(args(src, {"--mode=3"}));
    ASSERT_EQ(again.status, 1) << e2e::describe(again);
    std::size_t report = 0;
    for (const char* table : {"DEPT", "EMP"}) {
        SCOPED_TRACE(table);
        const std::string line = "Converting table " + std::string(table);
        const std::size_t at = again.out.find(line);
        ASSERT_NE(at, std::string::npos) << again.out;
        EXPECT_EQ(again.out.compare(at + line.size(), 1, "\n"), 0) << again.out;
        EXPECT_EQ(again.out.find(line + " ("), std::string::npos) << again.out;
        report = again.err.find("Error:\n" + std::string(table) + ": ", report);
        ASSERT_NE(report, std::string::npos) << again.err;
        EXPECT_NE(again.err.find("duplicate key", report), std::string::npos) << again.err;
    }
    EXPECT_EQ(again.out.find("Error:"), std::string::npos) << again.out;
    EXPECT_NE(again.out.find("Converting table TYPES (3 records)\n"), std::string::npos) << again.out;
    EXPECT_EQ(count("emp"), "15");
    EXPECT_EQ(count("dept"), "4");
    EXPECT_EQ(count("types"), "6");
}

// Keys that exp writes inside CREATE TABLE: those of index-organized
// tables (which cannot exist without them), an inline unique constraint,
// and a key given both inline and by ALTER TABLE with its unique index.
TEST_F(E2eConvert, KeysInsideCreateTable)
{
    using namespace classic_dump;
    auto keyed = [](const char* name, std::vector<column> columns, const std::string& constraint, bool iot,
                    std::vector<std::vector<cell>> rows) {
        table t;
        t.name = name;
        t.columns = std::move(columns);
        t.constraints = {constraint};
        t.index_organized = iot;
        t.rows = std::move(rows);
        return t;
    };
    const table countries = keyed(
        "COUNTRIES", {varchar2("COUNTRY_ID", 2, true), varchar2("COUNTRY_NAME", 40), number("REGION_ID")},
        "CONSTRAINT \"COUNTRY_C_ID_PK\" PRIMARY KEY (\"COUNTRY_ID\") ENABLE", true,
        {{text(L"AR"), text(L"Argentina"), num("2")}, {text(L"BE"), text(L"Belgium"), num("1")}});
    const table pairs = keyed("PAIRS", {number("A", "NUMBER", true), number("B", "NUMBER", true), varchar2("V", 5)},
                              "CONSTRAINT \"PAIRS_PK\" PRIMARY KEY (\"A\", \"B\") ENABLE", true,
                              {{num("1"), num("1"), text(L"x")}, {num("1"), num("2"), text(L"y")}});
    const table codes = keyed("CODES", {number("ID"), varchar2("CODE", 5)},
                              "CONSTRAINT \"CODES_UK\" UNIQUE (\"CODE\") ENABLE", false,
                              {{num("1"), text(L"a")}, {num("2"), text(L"b")}});
    // Inline, and by ALTER TABLE with its unique index.
    table both = keyed("BOTH", {number("ID", "NUMBER", true), varchar2("V", 5)},
                       "CONSTRAINT \"BOTH_PK\" PRIMARY KEY (\"ID\") ENABLE", false, {{num("7"), text(L"z")}});
    both.primary_key = {"ID"};
    const std::string src = write_dump("keys.dmp", whole_dump({countries, pairs, codes, both}));
    const e2e::result r = run(args(src, {"--mode=0"}));
    ASSERT_EQ(r.status, 0) << e2e::describe(r);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(tables(), (strings{"both", "codes", "countries", "pairs"}));
    EXPECT_EQ(primary_key("countries"), "country_id");
    EXPECT_EQ(primary_key("pairs"), "a,b");
    EXPECT_EQ(primary_key("codes"), "");
    EXPECT_EQ(primary_key("both"), "id");
    EXPECT_EQ(indexes("countries"), strings{});
    EXPECT_EQ(indexes("pairs"), strings{});
    EXPECT_EQ(indexes("codes"), strings{"btree (code)"});
    EXPECT_EQ(query("SELECT indexdef LIKE 'CREATE UNIQUE%' FROM pg_indexes WHERE tablename = 'codes'"), "t");
    EXPECT_EQ(indexes("both"), strings{});
    EXPECT_EQ(count("countries"), "2");
    EXPECT_EQ(count("pairs"), "2");
}

// TIMESTAMP WITH TIME ZONE and WITH LOCAL TIME ZONE columns keep their
// instants, whatever zone the reader of the destination is in.
TEST_F(E2eConvert, ZoneBearingTimestampsKeepTheirInstant)
{
    using namespace classic_dump;
    table t;
    t.name = "ZONED";
    t.columns = {number("ID", "NUMBER", true),
                 {"TS", "TIMESTAMP(6) WITH TIME ZONE", ora_rows::entry(181, 13)},
                 {"LTS", "TIMESTAMP(6) WITH LOCAL TIME ZONE", ora_rows::entry(231, 11)}};
    for (const zoned_value& v : zoned_values()) {
        cell ts, lts;
        ts.null = false;
        ts.in_row = ora_rows::timestamp(v.year, v.month, v.day, v.hour, v.minute, v.second, v.nanoseconds, 13,
                                        v.zone1, v.zone2);
        // A local time zone value is stored in the database's zone, UTC.
        lts.null = false;
        lts.in_row = ora_rows::timestamp(v.year, v.month, v.day, v.hour, v.minute, v.second, v.nanoseconds, 11);
        t.rows.push_back({num(std::to_string(v.id)), ts, lts});
    }
    const std::string src = write_dump("zoned.dmp", whole_dump({t}));
    const e2e::result r = run(args(src, {"--mode=0"}));
    ASSERT_EQ(r.status, 0) << e2e::describe(r);
    EXPECT_EQ(r.err, "");
    expect_zoned("zoned", "ts");
    expect_zoned("zoned", "lts");

    // Merged into the zone-bearing table that run made, by a session in
    // another zone: the instants stay the same.
    exec("DELETE FROM zoned");
    {
        tk_test::scoped_env zone("PGTZ", "Asia/Tokyo");
        const e2e::result merged = run(args(src, {"--mode=3"}));
        ASSERT_EQ(merged.status, 0) << e2e::describe(merged);
        EXPECT_EQ(merged.err, "");
    }
    expect_zoned("zoned", "ts");
    expect_zoned("zoned", "lts");

    convert_zoned_in_every_mode(src);
}

// DATE and TIMESTAMP values before year 1 load as the dates they are.
TEST_F(E2eConvert, DatesBeforeYear1LoadExactly)
{
    using namespace classic_dump;
    table t;
    t.name = "EARLY";
    t.columns = {number("ID", "NUMBER", true), date("D"), timestamp("TS")};
    for (const early_value& v : early_values())
        t.rows.push_back({num(std::to_string(v.id)), date(v.year, v.month, v.day, v.hour, v.minute, v.second),
                          timestamp(v.year, v.month, v.day, v.hour, v.minute, v.second,
                                    static_cast<int>(v.nanoseconds / 1000))});
    const std::string src = write_dump("early.dmp", whole_dump({t}));
    const e2e::result r = run(args(src, {"--mode=0"}));
    ASSERT_EQ(r.status, 0) << e2e::describe(r);
    EXPECT_EQ(r.err, "");
    EXPECT_NE(r.out.find("Converting table EARLY (4 records)\n"), std::string::npos) << r.out;
    expect_early("early");
}

// exp of 18c to 23ai writes the layout of 12 after its header: each such
// dump converts exactly as its twin with the header of 12 does, and so does
// a second run that reads the context file the first one left.
TEST_F(E2eConvert, LaterReleasesConvertLikeTheirTwinOf12)
{
    const std::string twin = write_dump("v12.dmp", e2e_dumps::later_release_dump("EXPORT:V12.01.00"));
    const e2e::result r12 = run(args(twin, {"--mode=0"}));
    ASSERT_EQ(r12.status, 0) << e2e::describe(r12);
    EXPECT_EQ(r12.err, "");
    // The session settings, the sequences, the identity column's clauses
    // and default, and the later CREATE TABLE clauses are passed over: no
    // table or default of their own, every row read.
    EXPECT_EQ(tables(), (strings{"countries", "dept", "emp", "orders", "types"}));
    EXPECT_EQ(columns("orders"), (strings{"id|numeric||||NO", "note|character varying|20|||YES",
                                          "placed|timestamp with time zone||||YES",
                                          "seen|timestamp with time zone||||YES"}));
    EXPECT_EQ(query("SELECT count(*) FROM information_schema.columns WHERE table_schema = 'public' AND "
                    "column_default IS NOT NULL"),
              "0");
    EXPECT_EQ(rows("SET TimeZone = 'UTC'; SELECT id, note, placed, seen FROM orders ORDER BY id"),
              (strings{"1|first|2024-03-10 07:30:00+00|2024-03-10 07:30:00+00",
                       "2|<null>|2024-03-10 00:30:00+00|2024-03-10 00:30:00+00"}));
    EXPECT_EQ(rows("SELECT country_id, country_name, region_id FROM countries ORDER BY 1"),
              (strings{"AR|Argentina|2", "BE|Belgium|1", "ZW|Zimbabwe|4"}));
    EXPECT_EQ(count("emp"), "14");
    EXPECT_EQ(count("types"), "3");
    EXPECT_EQ(primary_keys(), (strings{"countries:country_id", "dept:deptno", "emp:empno", "orders:id"}));
    EXPECT_EQ(indexes("emp"), (strings{"btree (deptno)"}));
    EXPECT_EQ(indexes("orders"), (strings{"btree (note)"}));
    const strings reference = snapshot(db);

    const std::string second = db + "_2";
    for (const std::string version : {"18", "19", "21", "23"}) {
        SCOPED_TRACE("version " + version);
        const std::string src =
            write_dump("v" + version + ".dmp", e2e_dumps::later_release_dump("EXPORT:V" + version + ".00.00"));
        std::string out = r12.out;
        out.replace(out.find(twin), twin.size(), src);
        // Each version once; 19, the release most databases run, also from
        // the context file its first run left.
        const std::vector<const char*> passes = {"the scan", "the context file"};
        for (const char* pass : version == "19" ? passes : std::vector<const char*>{passes[0]}) {
            SCOPED_TRACE(pass);
            const std::string log = work.file("v" + version + ".log");
            std::vector<std::string> a = args(src, {"--mode=0", "--logfile=" + log});
            a[1] = "--dest=" + second;
            const e2e::result r = run(a);
            ASSERT_EQ(r.status, 0) << e2e::describe(r);
            EXPECT_EQ(r.out, out);
            EXPECT_EQ(r.err, "");
            EXPECT_EQ(snapshot(second), reference);
            const std::string trace = tk_test::read_file(log);
            EXPECT_NE(trace.find("Dump file version: " + version + " (exp)"), std::string::npos) << trace;
            const bool from_context = trace.find("Loading dump context from") != std::string::npos;
            EXPECT_EQ(from_context, std::string(pass) == "the context file") << trace;
        }
    }
}

TEST_F(E2eConvert, DefinitionsOnlyAndSkippedIndexes)
{
    const std::string src = d1_path();
    {
        SCOPED_TRACE("--tab_def");
        const e2e::result r = run(args(src, {"--tab_def"}));
        ASSERT_EQ(r.status, 0) << e2e::describe(r);
        EXPECT_EQ(r.out, d1_output(src, false));
        EXPECT_EQ(tables(), (strings{"dept", "emp", "types"}));
        for (const char* t : {"dept", "emp", "types"})
            EXPECT_EQ(count(t), "0") << t;
        EXPECT_EQ(primary_key("dept"), "deptno");
        EXPECT_EQ(primary_key("emp"), "empno");
        EXPECT_EQ(indexes("emp"), (strings{"btree (deptno)"}));
    }
    {
        SCOPED_TRACE("--skip_idx");
        const e2e::result r = run(args(src, {"--mode=0", "--skip_idx"}));
        ASSERT_EQ(r.status, 0) << e2e::describe(r);
        EXPECT_EQ(r.out, d1_output(src));
        EXPECT_EQ(primary_key("dept"), "");
        EXPECT_EQ(primary_key("emp"), "");
        EXPECT_EQ(indexes("emp"), strings{});
        EXPECT_EQ(count("emp"), "14");
        EXPECT_EQ(columns("emp"), scott_emp_columns());
        EXPECT_EQ(columns("dept"), scott_dept_columns());
    }
}

// exp writes a key's unique index before the key itself, here with the
// name a table restored from the recycle bin gives it and a key without a
// constraint name: PostgreSQL gets the key alone.
TEST_F(E2eConvert, KeyIndexIsBuiltOnce)
{
    classic_dump::table t = e2e_dumps::pair_table("STUDENT", {{"1", L"Ann"}, {"2", L"Bob"}});
    t.primary_key = {"ID"};
    t.key_index = "BIN$3pAbzQ1fRcqY4v7b8nLz0A==$0";
    t.key_constraint_named = false;
    const std::string src = write_dump("student.dmp", classic_dump::whole_dump({t}));
    const e2e::result r = run(args(src));
    ASSERT_EQ(r.status, 0) << e2e::describe(r);
    EXPECT_EQ(primary_key("student"), "id");
    EXPECT_EQ(query("SELECT count(*) FROM pg_indexes WHERE schemaname = 'public' AND tablename = 'student'"), "1");
    EXPECT_EQ(count("student"), "2");
}

// A profile names the dump, the destination, the mode, the server and the
// tables; the connection options on the command line give way to it.
TEST_F(E2eConvert, ProfileCarriesEverything)
{
    const std::string src = d1_path();
    const std::string p = profile("run.ini", "src=" + src + "\ndest=" + db + "\nmode=1\ncase_sens=1\n",
                                  {"EMP", "DEPT"});
    const e2e::result r = run({"--profile=" + p, "--host=nowhere"});
    ASSERT_EQ(r.status, 0) << e2e::describe(r);
    EXPECT_EQ(tables(), (strings{"DEPT", "EMP"}));
    EXPECT_EQ(count(quote_ident("EMP")), "14");
    EXPECT_EQ(count(quote_ident("DEPT")), "4");
    EXPECT_EQ(r.out.find("TYPES"), std::string::npos) << r.out;
}

TEST_F(E2eConvert, TableListFiles)
{
    const std::string src = d1_path();
    {
        SCOPED_TRACE("a byte-order mark, CR LF and a name the dump lacks");
        const std::string list = work.file("list.txt");
        tk_test::write_file(list, "\xEF\xBB\xBF" "EMP\r\nNOPE\r\nDEPT\r\n");
        const e2e::result r = run(args(src, {"--tab_file=" + list}));
        // A listed table that is not there was not converted.
        ASSERT_EQ(r.status, 1) << e2e::describe(r);
        EXPECT_EQ(r.err, "Table NOPE not exists\n");
        // The count is of the tables that will be converted.
        EXPECT_NE(r.out.find("Converting Oracle dump file (2 tables)\n"), std::string::npos) << r.out;
        const std::size_t emp = r.out.find("Converting table EMP (14 records)\n");
        const std::size_t dept = r.out.find("Converting table DEPT (4 records)\n");
        ASSERT_NE(emp, std::string::npos) << r.out;
        ASSERT_NE(dept, std::string::npos) << r.out;
        EXPECT_LT(emp, dept);
        EXPECT_EQ(r.out.find("TYPES"), std::string::npos) << r.out;
        EXPECT_EQ(tables(), (strings{"dept", "emp"}));
    }
    {
        SCOPED_TRACE("a list and then a profile that selects the same table");
        const std::string list = work.file("emp.txt");
        tk_test::write_file(list, "EMP\n");
        const std::string p = profile("emp.ini", "src=" + src + "\ndest=" + db + "_2\nmode=0\n", {"EMP"});
        const e2e::result r = run({"--tab_file=" + list, "--profile=" + p});
        ASSERT_EQ(r.status, 0) << e2e::describe(r);
        std::size_t lines = 0;
        for (std::size_t at = 0; (at = r.out.find("Converting table EMP", at)) != std::string::npos; ++at)
            ++lines;
        EXPECT_EQ(lines, 1u) << r.out;
        EXPECT_EQ(tables(db + "_2"), (strings{"emp"}));
        EXPECT_EQ(count("emp", db + "_2"), "14");
    }
}

// Colliding names, a NULL in a NOT NULL column and an impossible date:
// each is reported where it happens and the other rows and tables load.
TEST_F(E2eConvert, BadRowsAndCollidingNames)
{
    const std::string src = write_dump("d2.dmp", e2e_dumps::d2());
    const e2e::result r = run(args(src));
    ASSERT_EQ(r.status, 1) << e2e::describe(r);
    EXPECT_EQ(tables(), (strings{"a_b", "a_b00000", "baddate", "badnn", "good"}));
    EXPECT_EQ(rows("SELECT id, name FROM a_b ORDER BY id"), (strings{"1|slash"}));
    EXPECT_EQ(rows("SELECT id, name FROM a_b00000 ORDER BY id"), (strings{"2|question", "3|mark"}));
    EXPECT_EQ(count("badnn"), "0");
    EXPECT_NE(r.err.find("Error:\nBADNN: "), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("Error:\nBADDATE, record #3: Can't read record. Date error.\n"), std::string::npos) << r.err;
    EXPECT_EQ(r.out.find("Error:"), std::string::npos) << r.out;
    EXPECT_EQ(rows("SELECT id, d FROM baddate ORDER BY id"),
              (strings{"1|2020-01-01 00:00:00", "2|2020-01-02 00:00:00", "4|2020-01-04 00:00:00",
                       "5|2020-01-05 00:00:00"}));
    EXPECT_EQ(rows("SELECT id, name FROM good ORDER BY id"), (strings{"7|seven", "8|eight"}));
}

// One record that cannot be read is enough for status 1; the others load.
TEST_F(E2eConvert, OneBadRecordEndsWithStatus1)
{
    const std::string src = write_dump("d2.dmp", e2e_dumps::d2());
    const std::string list = work.file("baddate.txt");
    tk_test::write_file(list, "BADDATE\n");
    const e2e::result r = run(args(src, {"--tab_file=" + list}));
    ASSERT_EQ(r.status, 1) << e2e::describe(r);
    EXPECT_EQ(r.err, "Error:\nBADDATE, record #3: Can't read record. Date error.\n");
    EXPECT_NE(r.out.find("Converting table BADDATE\n (5 records)\n"), std::string::npos) << r.out;
    EXPECT_EQ(count("baddate"), "4");
}

TEST_F(E2eConvert, CompoundDumpReadsItsFirstDumpOnly)
{
    const std::string src = write_dump("d3.dmp", e2e_dumps::d3());
    const e2e::result r = run(args(src, {"--silent"}));
    ASSERT_EQ(r.status, 0) << e2e::describe(r);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "This is a compound dump file (several dumps merged together). The program can extract only "
                     "first dump.\n");
    EXPECT_EQ(tables(), (strings{"dept"}));
    EXPECT_EQ(count("dept"), "4");
}

TEST_F(E2eConvert, RealClassicDump)
{
    const std::string real = std::string(VELC_REAL_DATA_DIR) + "/classic_v12_exptest.dmp";
    if (access(real.c_str(), R_OK) != 0)
        GTEST_SKIP() << "no real dumps here";
    const std::string src = work.file("exptest.dmp");
    tk_test::write_file(src, tk_test::read_file(real));
    const e2e::result r = run(args(src));
    ASSERT_EQ(r.status, 0) << e2e::describe(r);
    EXPECT_EQ(tables(), (strings{"ignore", "ignore2", "table1", "table2"}));
    EXPECT_EQ(count("ignore"), "0");
    EXPECT_EQ(count("ignore2"), "0");
    EXPECT_EQ(count("table1"), "7");
    EXPECT_EQ(count("table2"), "4");
    EXPECT_EQ(rows("SELECT numcol1, floatcol1 FROM table1 WHERE keycol = 1"), (strings{"123|3.56789"}));
    const strings second = rows("SELECT strcol1, datecol1 FROM table1 ORDER BY ctid OFFSET 1 LIMIT 1");
    EXPECT_EQ(second, (strings{"STRING 2 TEST sadf asdf asdf asdf asdf|2022-01-01 01:40:11"}));
    EXPECT_EQ(rows("SELECT timestamp1 FROM table1 ORDER BY ctid OFFSET 5 LIMIT 1"),
              (strings{"2022-06-02 08:45:40.346906"}));
    const strings types = rows("SELECT table_name || '.' || column_name || ' ' || data_type || coalesce('(' || "
                               "numeric_precision || ',' || numeric_scale || ')', '') FROM information_schema.columns "
                               "WHERE table_schema = 'public' ORDER BY 1");
    EXPECT_EQ(types, (strings{"ignore.column1 character varying", "ignore2.column1 character varying",
                              "ignore2.column2 character varying", "table1.blobcol1 bytea",
                              "table1.datecol1 timestamp without time zone", "table1.floatcol1 double precision",
                              "table1.keycol numeric(38,0)", "table1.numcol1 numeric(22,0)",
                              "table1.strcol1 character varying", "table1.timestamp1 timestamp without time zone",
                              "table2.dec1 numeric(22,5)", "table2.float1 double precision",
                              "table2.strkey character varying"}));
    EXPECT_EQ(primary_key("table1"), "keycol");
    EXPECT_EQ(primary_key("table2"), "strkey");
}

TEST_F(E2eConvert, CommittedSample)
{
    const std::string src = work.file("sample.dmp");
    tk_test::write_file(src, tk_test::read_file(VELC_SAMPLE_DUMP));
    const e2e::result r = run(args(src));
    ASSERT_EQ(r.status, 0) << e2e::describe(r);
    for (const sample_dump::table_count& t : sample_dump::counts)
        EXPECT_EQ(count(t.name), std::to_string(t.rows)) << t.name;
    EXPECT_EQ(rows("SELECT loc FROM dept WHERE deptno IN (30, 40, 50) ORDER BY deptno"),
              (strings{"Москва", "東京", "<null>"}));
    EXPECT_EQ(query("SELECT count(*) FROM emp WHERE ename IN ('Παπαδόπουλος', 'O''Brien', 'D\"Arcy', 'Back\\Slash')"),
              "4");
}

TEST_F(E2eConvert, LogFileRecordsTheRun)
{
    const std::string src = d1_path();
    const std::string log = work.file("run.log");
    const e2e::result r = run(args(src, {"--logfile=" + log}));
    ASSERT_EQ(r.status, 0) << e2e::describe(r);
    const std::string text = tk_test::read_file(log);
    const std::size_t started = text.find("Conversion started on");
    const std::size_t emp = text.find("Table 'EMP' (14 records) is converted");
    const std::size_t ended = text.find("Conversion ended on");
    ASSERT_NE(started, std::string::npos) << text;
    ASSERT_NE(emp, std::string::npos) << text;
    ASSERT_NE(ended, std::string::npos) << text;
    EXPECT_LT(started, emp);
    EXPECT_LT(emp, ended);
}

// Merged names are whole table names of the public schema: no schema is
// made for the owner.
TEST_F(E2eConvert, OracleSchemaInTheNames)
{
    const std::string src = d1_path();
    for (const char* option : {"--ora_schema", "--merge_schema"}) {
        SCOPED_TRACE(option);
        const e2e::result r = run(args(src, {"--mode=0", option}));
        ASSERT_EQ(r.status, 0) << e2e::describe(r);
        EXPECT_EQ(r.out.find("Creating schema if necessary: 'SCOTT'"), std::string::npos) << r.out;
        EXPECT_EQ(tables(), (strings{"scott.dept", "scott.emp", "scott.types"}));
        EXPECT_EQ(every_table(), (strings{"public|scott.dept", "public|scott.emp", "public|scott.types"}));
        EXPECT_EQ(count(quote_ident("scott.emp")), "14");
        EXPECT_EQ(primary_key("scott.emp"), "empno");
        EXPECT_EQ(schemas(), strings{});
    }
}

// A point in the dump's own table name is part of it: only the names the
// run joins are split, so these stay whole tables of the public schema.
TEST_F(E2eConvert, NamesWithPointsStayWhole)
{
    const std::vector<std::string> names = {".X", "..Y", "A..B", "Z."};
    std::vector<classic_dump::table> classic;
    ora_pump::writer pump;
    const std::vector<ora_pump::column> columns = {{"ID", 2, 22, 6, 0, 0, true}, {"NAME", 1, 20, {}, {}, 873}};
    for (const std::string& name : names) {
        classic.push_back(e2e_dumps::pair_table(name, {{"1", L"one"}, {"2", L"two"}}));
        pump.document(ora_pump::strmtable_doc("SCOTT", name, columns));
        pump.zeros(3);
        for (const char* id : {"1", "2"})
            pump.raw(ora_pump::record({ora_pump::value(ora_rows::number(id)),
                                       ora_pump::value(ora_rows::text(L"one", 65001))}));
    }
    pump.zeros(16);
    const std::vector<std::pair<const char*, std::string>> dumps = {
        {"data pump", write_dump("points_pump.dmp", pump.data())},
        {"classic", write_dump("points.dmp", classic_dump::whole_dump(classic))},
    };
    for (const auto& [format, src] : dumps) {
        SCOPED_TRACE(format);
        const e2e::result r = run(args(src, {"--mode=0"}));
        ASSERT_EQ(r.status, 0) << e2e::describe(r);
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(every_table(), (strings{"public|..y", "public|.x", "public|a..b", "public|z."}));
        for (const char* table : {".x", "..y", "a..b", "z."})
            EXPECT_EQ(count(quote_ident(table)), "2") << table;
        EXPECT_EQ(schemas(), strings{});
        EXPECT_EQ(r.out.find("Creating schema if necessary: ''"), std::string::npos) << r.out;
    }
}

// Refusals that reach the dump or the server end with 255 and leave an
// existing destination as it was.
TEST_F(E2eConvert, RefusedRunsLeaveTheDestinationAlone)
{
    create_db(db);
    exec("CREATE TABLE keep (id int)");
    exec("INSERT INTO keep VALUES (1), (2)");
    exec("CREATE TABLE emp (other text, empno int)");
    exec("INSERT INTO emp VALUES ('a', 1)");
    const std::string empty = write_dump("empty.dmp", {});
    const std::string part = write_dump("part.dmp", e2e_dumps::non_leading_part());
    const std::string src = d1_path();
    const std::string bad_mode = profile("mode.ini", "src=" + src + "\ndest=" + db + "\nmode=x\n", {});

    struct row {
        const char* name;
        std::vector<std::string> args;
        std::string out;  // the start of stdout, which holds no report
        std::string err;  // the report on stderr
    };
    const std::vector<row> cases = {
        {"an empty file", args(empty, {"--mode=0"}), "Reading file " + empty + "\n",
         "Error:\nThe program cannot read Oracle dump file. It may be corrupted or does not comply with Oracle dump "
         "file format.\n"},
        {"a part that is not the first", args(part, {"--mode=0"}), "Reading file " + part + "\n",
         "Error:\nThis is a non-leading part of multifile dump. The program can extract data from the first part of "
         "multifile dump only. See 'Troubleshooting' article of the product documentation for solution.\n"},
        {"a profile with a bad mode", {"--profile=" + bad_mode}, "", "Error:\nInvalid merge/overwrite mode\n"},
        {"a table whose columns differ, merged", args(src, {"--mode=3"}), "Reading file " + src,
         "Error:\nEMP, record #1: The structure of data source does not conform to the destination table.\n"},
    };
    for (const row& c : cases) {
        SCOPED_TRACE(c.name);
        const e2e::result r = run(c.args);
        EXPECT_EQ(r.status, 255) << e2e::describe(r);
        EXPECT_EQ(r.out.substr(0, c.out.size()), c.out) << e2e::describe(r);
        EXPECT_EQ(r.out.find("Error:"), std::string::npos) << e2e::describe(r);
        EXPECT_EQ(r.err, c.err) << e2e::describe(r);
        EXPECT_EQ(count("keep"), "2");
        EXPECT_EQ(count("emp"), "1");
    }
}

// A role that owns the destination may drop it, but without CREATEDB it
// could not make it again: mode 0 asks the server first and drops nothing.
TEST_F(E2eConvert, ModeZeroKeepsADatabaseItCouldNotMakeAgain)
{
    const std::string src = d1_path();
    const std::string role = "e2e_owner_nocreatedb_" + std::to_string(getpid());
    exec("DROP ROLE IF EXISTS " + quote_ident(role), "postgres");
    exec("CREATE ROLE " + quote_ident(role) + " LOGIN NOCREATEDB", "postgres");
    exec("CREATE DATABASE " + quote_ident(db) + " OWNER " + quote_ident(role), "postgres");
    exec("CREATE TABLE keep (id int); INSERT INTO keep VALUES (1), (2); ALTER TABLE keep OWNER TO " +
         quote_ident(role));
    const e2e::result r = run({"--src=" + src, "--dest=" + db, "--mode=0", "--host=" + server.socket_dir,
                               "--port=" + std::to_string(server.port), "--user=" + role});
    EXPECT_TRUE(db_exists(db));
    EXPECT_EQ(count("keep"), "2");
    // A role that may create it replaces it, and leaves no database of
    // the check behind.
    const e2e::result replaced = run(args(src, {"--mode=0"}));
    EXPECT_EQ(replaced.status, 0) << e2e::describe(replaced);
    EXPECT_EQ(tables(), (strings{"dept", "emp", "types"}));
    // By its own name: other tests' runs on the cluster make theirs meanwhile.
    for (pid_t pid : {r.pid, replaced.pid})
        EXPECT_EQ(query("SELECT count(*) FROM pg_database WHERE datname LIKE 'velc\\_create\\_check\\_" +
                            std::to_string(pid) + "\\_%'",
                        "postgres"),
                  "0");
    exec("DROP ROLE " + quote_ident(role), "postgres");
    EXPECT_EQ(r.status, 255) << e2e::describe(r);
    EXPECT_EQ(r.out, "Reading file " + src + "\n") << e2e::describe(r);
    EXPECT_EQ(r.err, "Error:\nThe database '" + db +
                         "' is not replaced: ERROR:  permission denied to create database\n")
        << e2e::describe(r);
}

TEST_F(E2eConvert, ServerRefusalsEndWith255)
{
    const std::string src = d1_path();
    {
        SCOPED_TRACE("nothing listens on the port");
        int s = socket(AF_INET, SOCK_STREAM, 0);
        ASSERT_GE(s, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ASSERT_EQ(bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
        socklen_t len = sizeof a;
        ASSERT_EQ(getsockname(s, reinterpret_cast<sockaddr*>(&a), &len), 0);
        const int port = ntohs(a.sin_port);
        close(s);
        const e2e::result r =
            run({"--src=" + src, "--dest=" + db, "--host=127.0.0.1", "--port=" + std::to_string(port)});
        EXPECT_EQ(r.status, 255) << e2e::describe(r);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err.rfind("Error:\n", 0), 0u) << e2e::describe(r);
        EXPECT_NE(r.err.find("Connection refused"), std::string::npos) << e2e::describe(r);
    }
    {
        SCOPED_TRACE("a role that may not create databases");
        const std::string role = "e2e_nocreatedb_" + std::to_string(getpid());
        exec("DROP ROLE IF EXISTS " + quote_ident(role), "postgres");
        exec("CREATE ROLE " + quote_ident(role) + " LOGIN NOCREATEDB", "postgres");
        const e2e::result r = run({"--src=" + src, "--dest=" + db, "--host=" + server.socket_dir,
                                   "--port=" + std::to_string(server.port), "--user=" + role});
        exec("DROP ROLE " + quote_ident(role), "postgres");
        EXPECT_EQ(r.status, 255) << e2e::describe(r);
        EXPECT_EQ(r.out.find("Error:"), std::string::npos) << e2e::describe(r);
        EXPECT_EQ(r.err.rfind("Error:\n", 0), 0u) << e2e::describe(r);
        EXPECT_NE(r.err.find("permission denied to create database"), std::string::npos) << e2e::describe(r);
        EXPECT_FALSE(db_exists(db));
    }
}

}  // namespace
