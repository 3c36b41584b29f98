// The keys and indexes velcagent builds, as the destination's catalogue
// shows them: a table the run creates gets them after its rows, a key or
// index the server refuses costs itself and is reported while the rows
// stay.

#include "e2e_dumps.h"
#include "e2e_support.h"

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

}  // namespace
