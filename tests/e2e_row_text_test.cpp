// Values that hold the text of the dump's own statements stay values: a
// table whose VARCHAR2, LONG or CLOB column keeps SQL text (scripts, DDL
// audit logs) converts whole, its text arrives byte for byte, and no table,
// key or index appears that the dump does not define, whether the table the
// text names comes before or after it. A dump damaged inside one table's
// rows still lists and converts the tables after it.

#include "e2e_dumps.h"
#include "e2e_support.h"

#include <string>
#include <vector>

namespace {

using e2e::e2e_test;
using namespace classic_dump;
using strings = std::vector<std::string>;

enum class kind { varchar2, long_text, clob };

const char* kind_name(kind k)
{
    switch (k) {
    case kind::varchar2:
        return "VARCHAR2";
    case kind::long_text:
        return "LONG";
    default:
        return "CLOB";
    }
}

std::string hex(const std::string& s)
{
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : s) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

std::wstring wide(const std::string& ascii)
{
    return std::wstring(ascii.begin(), ascii.end());
}

// SCRIPTS (ID NUMBER(4) primary key, BODY) of six rows; the third BODY is
// the given text.
table scripts(kind k, const std::string& third, int varchar_size = 300)
{
    table t;
    t.name = "SCRIPTS";
    column body = varchar2("BODY", varchar_size);
    if (k == kind::long_text)
        body = column{"BODY", "LONG", ora_rows::entry(8, 0)};
    else if (k == kind::clob)
        body = clob("BODY");
    t.columns = {number("ID", "NUMBER(4, 0)", true), body};
    t.primary_key = {"ID"};
    for (int i = 1; i <= 6; ++i) {
        const std::wstring value = i == 3 ? wide(third) : L"plain text " + std::to_wstring(i);
        t.rows.push_back({num(std::to_string(i)), k == kind::clob ? clob(value) : text(value)});
    }
    return t;
}

// OTHER (ID, NAME): no key, no index.
table other()
{
    return e2e_dumps::pair_table("OTHER", {{"1", L"a"}, {"2", L"b"}, {"3", L"c"}, {"4", L"d"}}, false);
}

class E2eRowText : public e2e_test {
protected:
    strings index_definitions()
    {
        return rows("SELECT indexdef FROM pg_indexes WHERE schemaname = 'public' ORDER BY tablename, indexdef");
    }
    strings constraints()
    {
        return rows("SELECT conrelid::regclass::text || '|' || contype::text || '|' || pg_get_constraintdef(oid) "
                    "FROM pg_constraint WHERE connamespace = 'public'::regnamespace ORDER BY 1");
    }
    std::string body_hex(int id)
    {
        return query("SELECT encode(convert_to(body, 'UTF8'), 'hex') FROM scripts WHERE id = " + std::to_string(id));
    }

    // The whole check of one converted dump of SCRIPTS and OTHER.
    void expect_both_whole(const e2e::result& r, const std::string& third)
    {
        ASSERT_EQ(r.status, 0) << e2e::describe(r);
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(every_table(), (strings{"public|other", "public|scripts"}));
        EXPECT_EQ(count("scripts"), "6");
        EXPECT_EQ(count("other"), "4");
        EXPECT_EQ(body_hex(3), hex(third));
        EXPECT_EQ(body_hex(6), hex("plain text 6"));
        EXPECT_EQ(index_definitions(), strings{"CREATE UNIQUE INDEX scripts_pkey ON public.scripts USING btree (id)"});
        EXPECT_EQ(constraints(), strings{"scripts|p|PRIMARY KEY (id)"});
    }
};

// Each statement line the scan takes up, between two line feeds inside the
// third BODY, in each kind of column, with SCRIPTS before and after OTHER.
TEST_F(E2eRowText, StatementTextInsideValuesIsData)
{
    const strings statements = {
        "CREATE TABLE \"FAKE\" (\"A\" NUMBER)",
        "CREATE TABLE \"OTHER\" (\"A\" NUMBER)",
        "TABLE \"SCRIPTS\"",
        "TABLE \"OTHER\"",
        "INSERT INTO \"OTHER\" (\"ID\", \"NAME\") VALUES (:1, :2)",
        "INSERT INTO \"SCRIPTS\" (\"ID\", \"BODY\") VALUES (:1, :2)",
        "ALTER TABLE \"OTHER\" ADD  CONSTRAINT \"OTHER_PK\" PRIMARY KEY (\"NAME\") USING INDEX ENABLE",
        "CREATE INDEX \"OTHER_I\" ON \"OTHER\" (\"NAME\" )  PCTFREE 10",
        "CREATE UNIQUE INDEX \"OTHER_U\" ON \"OTHER\" (\"NAME\" )  PCTFREE 10",
        "CONNECT OTHERUSER",
        "BEGINSYNONYM4TYPE",
    };
    for (const std::string& statement : statements) {
        for (kind k : {kind::varchar2, kind::long_text, kind::clob}) {
            for (bool scripts_first : {true, false}) {
                const std::string third = "-- kept\n" + statement + "\nmore text";
                SCOPED_TRACE(statement + " in " + kind_name(k) + (scripts_first ? ", SCRIPTS first" : ", OTHER first"));
                const std::vector<table> tables = scripts_first ? std::vector<table>{scripts(k, third), other()}
                                                                : std::vector<table>{other(), scripts(k, third)};
                const std::string src = write_dump("text.dmp", whole_dump(tables));
                expect_both_whole(run(args(src, {"--mode=0"})), third);
                if (HasFatalFailure())
                    return;
            }
        }
    }
}

// A value of 2560 bytes or more has 0x0A as its length's high byte: a line
// feed right before the value, whose text then starts a line.
TEST_F(E2eRowText, AValueWhoseLengthEndsInALineFeedStartsNoStatement)
{
    std::string third = "CREATE TABLE \"FAKE\" (\"A\" NUMBER)\n";
    third += std::string(0x0A10 - third.size(), 'x');
    for (bool scripts_first : {true, false}) {
        SCOPED_TRACE(scripts_first ? "SCRIPTS first" : "OTHER first");
        const std::vector<table> tables = scripts_first
                                              ? std::vector<table>{scripts(kind::varchar2, third, 4000), other()}
                                              : std::vector<table>{other(), scripts(kind::varchar2, third, 4000)};
        const std::string src = write_dump("long_value.dmp", whole_dump(tables));
        expect_both_whole(run(args(src, {"--mode=0"})), third);
    }
}

// The third row of SCRIPTS has a length no column takes: the rows after it
// cannot be framed. The scan searches on from there and still finds OTHER,
// and the row reader reports the damaged rows.
TEST_F(E2eRowText, ADamagedTableLeavesTheTablesAfterItWhole)
{
    const std::string third = "-- kept\nTABLE \"OTHER\"\nmore text";
    const table s = scripts(kind::varchar2, third);
    bytes dump = whole_dump({s, other()});
    const bytes row = row_bytes(s, s.rows[2]);
    auto at = std::search(dump.begin(), dump.end(), row.begin(), row.end());
    ASSERT_NE(at, dump.end());
    // The ID's length becomes 0x7777.
    at[0] = 0x77;
    at[1] = 0x77;
    const std::string src = write_dump("damaged.dmp", dump);
    const e2e::result r = run(args(src, {"--mode=0"}));
    EXPECT_EQ(r.status, 1) << e2e::describe(r);
    EXPECT_NE(r.err.find("SCRIPTS"), std::string::npos) << r.err;
    EXPECT_NE(r.out.find("Converting table OTHER (4 records)"), std::string::npos) << r.out;
    EXPECT_EQ(every_table(), (strings{"public|other", "public|scripts"}));
    EXPECT_EQ(count("scripts"), "2");
    EXPECT_EQ(count("other"), "4");
    EXPECT_EQ(rows("SELECT id || ':' || name FROM other ORDER BY id"), (strings{"1:a", "2:b", "3:c", "4:d"}));
}

}  // namespace
