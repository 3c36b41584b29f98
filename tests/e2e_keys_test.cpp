// The keys and indexes velcagent builds, as the destination's catalogue
// shows them: a table the run creates gets them after its rows, a key or
// index the server refuses costs itself and is reported while the rows
// stay, and a key finds its columns whatever their quoted names hold.

#include "e2e_dumps.h"
#include "e2e_support.h"
#include "ora_dump_writer_pump.h"

#include <string>
#include <vector>

namespace {

using e2e::e2e_test;
using namespace classic_dump;
using strings = std::vector<std::string>;

std::size_t occurrences(const std::string& text, const std::string& what)
{
    std::size_t n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + what.size()))
        ++n;
    return n;
}

class E2eKeys : public e2e_test {
protected:
    // Every index of the public schema as the server defines it.
    strings index_definitions()
    {
        return rows("SELECT indexdef FROM pg_indexes WHERE schemaname = 'public' ORDER BY tablename, indexdef");
    }

    // Every constraint of the public schema: table, kind and definition.
    strings constraints()
    {
        return rows("SELECT conrelid::regclass::text || '|' || contype::text || '|' || pg_get_constraintdef(oid) "
                    "FROM pg_constraint WHERE connamespace = 'public'::regnamespace ORDER BY 1");
    }

    // The indexes of a public table as "p", "u" or "i" (primary key, unique,
    // plain) and the positions of their columns, sorted.
    strings keys_by_position(const std::string& table)
    {
        return rows("SELECT CASE WHEN i.indisprimary THEN 'p' WHEN i.indisunique THEN 'u' ELSE 'i' END || ':' || "
                    "array_to_string(i.indkey::int2[], ',') FROM pg_index i WHERE i.indrelid = " +
                    quote("public." + quote_ident(table)) + "::regclass ORDER BY 1");
    }
};

table orders()
{
    table t;
    t.name = "ORDERS";
    t.columns = {number("ID", "NUMBER(10, 0)", true), varchar2("CODE", 10), number("CUSTOMER", "NUMBER(6, 0)"),
                 date("DAY"), varchar2("NOTE", 20)};
    t.primary_key = {"ID"};
    // The last is covered by the one on (CUSTOMER, DAY).
    t.indexes = {{"ORDERS_CODE", {"CODE"}, true}, {"ORDERS_CUST_DAY", {"CUSTOMER", "DAY"}},
                 {"ORDERS_DAY", {"DAY"}}, {"ORDERS_CUST", {"CUSTOMER"}}};
    for (int i = 1; i <= 4; ++i)
        t.rows.push_back({num(std::to_string(i)), text(L"C" + std::to_wstring(i)), num(std::to_string(i % 2)),
                          date(2024, 1, i), text(L"n")});
    return t;
}

table lines()
{
    table t;
    t.name = "LINES";
    // LINE_NO may be null in the dump; as a column of the key it may not.
    t.columns = {number("ORDER_ID", "NUMBER(10, 0)", true), number("LINE_NO", "NUMBER(4, 0)"),
                 varchar2("ITEM", 20)};
    t.primary_key = {"ORDER_ID", "LINE_NO"};
    t.constraints = {"CONSTRAINT \"LINES_ITEM_UK\" UNIQUE (\"ITEM\", \"ORDER_ID\") ENABLE"};
    t.rows = {{num("1"), num("1"), text(L"a")}, {num("1"), num("2"), text(L"b")}, {num("2"), num("1"), text(L"a")}};
    return t;
}

// What the keys and indexes of a sound dump are built as, whether they come
// before or after the rows.
TEST_F(E2eKeys, ASoundTableGetsItsKeysAndIndexes)
{
    const std::string src = write_dump("sound.dmp", whole_dump({orders(), lines()}));
    const e2e::result r = run(args(src, {"--mode=0"}));
    ASSERT_EQ(r.status, 0) << e2e::describe(r);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(count("orders"), "4");
    EXPECT_EQ(count("lines"), "3");
    EXPECT_EQ(index_definitions(),
              (strings{"CREATE UNIQUE INDEX lines_item_order_id_idx ON public.lines USING btree (item, order_id)",
                       "CREATE UNIQUE INDEX lines_pkey ON public.lines USING btree (order_id, line_no)",
                       "CREATE INDEX orders_customer_day_idx ON public.orders USING btree (customer, day)",
                       "CREATE INDEX orders_day_idx ON public.orders USING btree (day)",
                       "CREATE UNIQUE INDEX orders_code_idx ON public.orders USING btree (code)",
                       "CREATE UNIQUE INDEX orders_pkey ON public.orders USING btree (id)"}));
    EXPECT_EQ(constraints(), (strings{"lines|p|PRIMARY KEY (order_id, line_no)", "orders|p|PRIMARY KEY (id)"}));
    EXPECT_EQ(columns("lines"), (strings{"order_id|bigint||64|0|NO", "line_no|smallint||16|0|NO",
                                         "item|character varying|20|||YES"}));
}

// Rows that break a key, as an Oracle constraint made NOVALIDATE or DISABLE
// lets them: the rows arrive, the key is reported with the server's text,
// and the run goes on and ends with 1. Without the rows every key is made.
TEST_F(E2eKeys, ARefusedKeyOrIndexIsReportedAndTheRowsStay)
{
    table dups;
    dups.name = "DUPS";
    dups.columns = {number("ID", "NUMBER(6, 0)", true), varchar2("CODE", 10)};
    dups.primary_key = {"ID"};
    dups.indexes = {{"DUPS_CODE", {"CODE"}, true}};
    dups.rows = {{num("1"), text(L"a")}, {num("2"), text(L"b")}, {num("3"), text(L"a")}};
    table twice;
    twice.name = "TWICE";
    twice.columns = {number("ID", "NUMBER(6, 0)", true), varchar2("NAME", 10)};
    twice.primary_key = {"ID"};
    twice.indexes = {{"TWICE_NAME", {"NAME"}}};
    twice.rows = {{num("1"), text(L"x")}, {num("1"), text(L"y")}};
    table good = e2e_dumps::pair_table("GOOD", {{"1", L"one"}, {"2", L"two"}});
    good.primary_key = {"ID"};
    const std::string src = write_dump("refused.dmp", whole_dump({dups, twice, good}));

    const e2e::result r = run(args(src, {"--mode=0"}));
    ASSERT_EQ(r.status, 1) << e2e::describe(r);
    EXPECT_EQ(r.out, "Reading file " + src +
                         "\nConverting Oracle dump file (3 tables)\n"
                         "Creating schema if necessary: 'public'\nConverting table DUPS (3 records)\n"
                         "Creating schema if necessary: 'public'\nConverting table GOOD (2 records)\n"
                         "Creating schema if necessary: 'public'\nConverting table TWICE (2 records)\n");
    EXPECT_EQ(occurrences(r.err, "Error:\n"), 2u) << r.err;
    const std::size_t first =
        r.err.find("Error:\nTable DUPS: index DUPS_CODE not created: ERROR:  could not create unique index "
                   "\"dups_code_idx\" DETAIL:  Key (code)=(a) is duplicated.\n");
    const std::size_t second =
        r.err.find("Error:\nTable TWICE: primary key TWICE_PK not created: ERROR:  could not create unique index "
                   "\"twice_pkey\" DETAIL:  Key (id)=(1) is duplicated.\n");
    EXPECT_NE(first, std::string::npos) << r.err;
    EXPECT_NE(second, std::string::npos) << r.err;
    EXPECT_LT(first, second) << r.err;
    EXPECT_EQ(count("dups"), "3");
    EXPECT_EQ(count("twice"), "2");
    EXPECT_EQ(count("good"), "2");
    EXPECT_EQ(keys_by_position("dups"), strings{"p:1"});
    // The index after the refused key is still made.
    EXPECT_EQ(keys_by_position("twice"), strings{"i:2"});
    EXPECT_EQ(keys_by_position("good"), strings{"p:1"});

    // Definitions only: no rows, nothing to break.
    const e2e::result defined = run(args(src, {"--mode=0", "--tab_def"}));
    ASSERT_EQ(defined.status, 0) << e2e::describe(defined);
    EXPECT_EQ(defined.err, "");
    EXPECT_EQ(keys_by_position("dups"), (strings{"p:1", "u:2"}));
    EXPECT_EQ(keys_by_position("twice"), (strings{"i:2", "p:1"}));
}

// Oracle allows any character but the double quote in a quoted name; exp
// and Data Pump write the names as they are. Each column has a key of its
// own (or shares one), given in every form the dumps write keys in.
const std::vector<std::string> punctuated = {"A B", "X)Y", "C,D", "S;T", "IT'S", "P(Q", "GR\xC3\x9CN", "TAIL "};

table punctuated_table()
{
    table t;
    t.name = "PUNCT";
    for (const std::string& name : punctuated)
        t.columns.push_back(varchar2(name, 10));
    t.primary_key = {"X)Y"};
    t.indexes = {{"PUNCT_CD", {"C,D"}, true}, {"PUNCT_ST_ITS", {"S;T", "IT'S"}}, {"PUNCT_PQ", {"P(Q"}}};
    t.constraints = {"CONSTRAINT \"PUNCT_GRUEN\" UNIQUE (\"GR\xC3\x9CN\") ENABLE",
                     "CONSTRAINT \"PUNCT_AB_TAIL\" UNIQUE (\"A B\", \"TAIL \") ENABLE"};
    for (int row = 1; row <= 2; ++row) {
        std::vector<cell> cells;
        for (std::size_t c = 0; c < punctuated.size(); ++c)
            cells.push_back(text(std::to_wstring(c + 1) + L"-" + std::to_wstring(row)));
        t.rows.push_back(cells);
    }
    return t;
}

ora_pump::bytes punctuated_pump_dump()
{
    std::vector<ora_pump::column> columns;
    for (const std::string& name : punctuated)
        columns.push_back({name, 1, 10, {}, {}, 873});
    ora_pump::writer w;
    w.document(ora_pump::strmtable_doc("SCOTT", "PUNCT", columns));
    w.zeros(3);
    for (int row = 1; row <= 2; ++row) {
        std::vector<ora_pump::bytes> values;
        for (std::size_t c = 0; c < punctuated.size(); ++c)
            values.push_back(
                ora_pump::value(ora_rows::text(std::to_wstring(c + 1) + L"-" + std::to_wstring(row), 65001)));
        w.raw(ora_pump::record(values));
    }
    w.document(ora_pump::table_doc("SCOTT", "PUNCT", columns,
                                   {{"PUNCT_PK", 2, {"X)Y"}},
                                    {"PUNCT_CD", 3, {"C,D"}},
                                    {"PUNCT_ST_ITS", 3, {"S;T", "IT'S"}},
                                    {"PUNCT_PQ", 3, {"P(Q"}},
                                    {"PUNCT_GRUEN", 3, {"GR\xC3\x9CN"}},
                                    {"PUNCT_AB_TAIL", 3, {"A B", "TAIL "}}}));
    w.zeros(16);
    return w.data();
}

TEST_F(E2eKeys, KeysFindColumnsWhoseQuotedNamesHoldPunctuation)
{
    struct format_case {
        const char* name;
        std::string src;
        strings keys;  // by column position, from 1
    };
    const std::vector<format_case> cases = {
        {"classic", write_dump("punct.dmp", whole_dump({punctuated_table()})),
         {"i:4,5", "i:6", "p:2", "u:1,8", "u:3", "u:7"}},
        {"data pump", write_dump("punct_pump.dmp", punctuated_pump_dump()),
         {"p:2", "u:1,8", "u:3", "u:4,5", "u:6", "u:7"}},
    };
    for (const format_case& c : cases) {
        SCOPED_TRACE(c.name);
        const e2e::result r = run(args(c.src, {"--mode=0"}));
        ASSERT_EQ(r.status, 0) << e2e::describe(r);
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(count("punct"), "2");
        EXPECT_EQ(keys_by_position("punct"), c.keys);
        // Each column holds its own values: the keys sit on the columns the
        // dump named.
        EXPECT_EQ(query("SELECT count(*) FROM pg_attribute WHERE attrelid = 'public.punct'::regclass AND "
                        "attnum > 0 AND NOT attisdropped"),
                  std::to_string(punctuated.size()));
        EXPECT_EQ(rows("SELECT * FROM punct ORDER BY 1"),
                  (strings{"1-1|2-1|3-1|4-1|5-1|6-1|7-1|8-1", "1-2|2-2|3-2|4-2|5-2|6-2|7-2|8-2"}));
    }
}

}  // namespace
