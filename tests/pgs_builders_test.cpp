#include "pgs_schema_initializer.h"
#include "pgs_indexes_initializer.h"
#include "pgs_source_table.h"

#include "tk_exception.h"
#include "tk_unicode.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

std::string u8(const std::wstring& s) { return tk_wide_to_utf8(s); }

TEST(PgsBuilders, DestinationColumns)
{
    source_table t;
    t.add(L"id", VT_I4);
    t.add(L"ID", VT_I4);
    t.add(L"Order/Date", VT_DATE, 0, false, false, ole_variant(L"current_timestamp"));
    t.add(L"seq", VT_I4, 0, false, true, ole_variant(L"5"));
    t.add(L"memo", VT_BSTR, 0, false, false, ole_variant(L"x"));
    t.add(L"big", VT_BSTR, 40000, false, false, ole_variant(L"x"));
    t.add(L"name", VT_BSTR, 32672, true, false, ole_variant(L"x'); DROP TABLE t; --"));
    t.add(L"a.b", VT_I4);
    t.add(L"x\"y", VT_I4);
    t.indexes.push_back(udb_index(L"pk", true, true, {L"id"}));

    pgs_schema_initializer b(L"public.T1", t.schema, t.indexes);
    const udb_schema& cols = b.get_columns();
    ASSERT_EQ(cols.size(), 9u);
    EXPECT_EQ(cols[0]->name, L"id");
    EXPECT_TRUE(cols[0]->b_not_null);  // part of the primary key
    EXPECT_EQ(cols[1]->name, L"ID00000");
    EXPECT_FALSE(cols[1]->b_not_null);
    EXPECT_EQ(cols[2]->name, L"Order_Date");
    EXPECT_TRUE(cols[3]->b_not_null);
    EXPECT_EQ(cols[3]->default_value.get_vt(), VT_EMPTY);
    EXPECT_EQ(cols[7]->name, L"a.b");
    EXPECT_EQ(cols[8]->name, L"x_y");
    EXPECT_EQ(b.get_serial_name(), L"seq");
    EXPECT_EQ(b.get_names_map().get_mapped_name(L"ID", true), L"ID00000");
    EXPECT_EQ(b.get_names_map().get_mapped_name(L"id", true), L"id");
    EXPECT_EQ(b.get_names_map().get_mapped_name(L"Order/Date", true), L"Order_Date");

    EXPECT_EQ(u8(b.create_table_sql()),
              "CREATE TABLE \"public\".\"t1\" (\"id\" INTEGER NOT NULL, \"id00000\" INTEGER, "
              "\"order_date\" TIMESTAMP DEFAULT current_timestamp, \"seq\" SERIAL NOT NULL, \"memo\" TEXT, "
              "\"big\" TEXT, \"name\" VARCHAR(32672)  DEFAULT 'x''); DROP TABLE t; --' NOT NULL, "
              "\"a.b\" INTEGER, \"x_y\" INTEGER)");
    EXPECT_EQ(b.sequence_sql(), L"");

    // Without indexes a key column is not made NOT NULL.
    pgs_schema_initializer no_keys(L"public.t1", t.schema, udb_indexes());
    EXPECT_FALSE(no_keys.get_columns()[0]->b_not_null);
}

TEST(PgsBuilders, SequenceTuning)
{
    source_table t;
    t.add(L"Id", VT_I4, 0, false, true);
    t.schema.seed = 100;
    t.schema.increment = 10;
    pgs_schema_initializer b(L"Hr.Emp", t.schema, t.indexes);
    EXPECT_EQ(u8(b.sequence_sql()), "ALTER SEQUENCE \"hr\".\"emp_id_seq\" RESTART WITH 110 INCREMENT BY 10");
}

TEST(PgsBuilders, UnsupportedColumnTypeRaisesBeforeSending)
{
    source_table t;
    t.add(L"odd", VT_NULL);
    pgs_schema_initializer b(L"public.t", t.schema, t.indexes);
    EXPECT_THROW(b.create_table_sql(), tk_exception);
}

struct index_spec {
    const wchar_t* name;
    char kind;  // 'p' primary, 'u' unique, 'i' plain
    std::vector<std::wstring> columns;
};

std::vector<std::string> accept(const std::vector<index_spec>& specs)
{
    pgs_in_validator names;
    source_table t;
    t.add(L"a", VT_I4);
    t.add(L"b", VT_I4);
    t.add(L"id", VT_I4);
    t.add(L"ID", VT_I4);
    t.add(L"memo", VT_BSTR, 0);
    for (const auto& s : specs)
        t.indexes.push_back(udb_index(s.name, s.kind == 'u' || s.kind == 'p', s.kind == 'p', s.columns));
    pgs_schema_initializer b(L"public.t", t.schema, t.indexes);
    pgs_indexes_initializer idx(L"public.t", b.get_columns(), t.indexes, b.get_names_map());
    std::vector<std::string> out;
    for (const std::wstring& s : idx.statements())
        out.push_back(u8(s));
    return out;
}

TEST(PgsBuilders, AcceptedIndexes)
{
    const std::string plain_ab = "CREATE INDEX ON \"public\".\"t\" (\"a\", \"b\")";
    const std::string plain_a = "CREATE INDEX ON \"public\".\"t\" (\"a\")";
    const std::string pk_a = "ALTER TABLE \"public\".\"t\" ADD PRIMARY KEY (\"a\")";
    const std::string pk_ab = "ALTER TABLE \"public\".\"t\" ADD PRIMARY KEY (\"a\", \"b\")";
    const std::string unique_a = "CREATE UNIQUE INDEX ON \"public\".\"t\" (\"a\")";
    struct acceptance_case {
        const char* what;
        std::vector<index_spec> specs;
        std::vector<std::string> sent;
    };
    const std::vector<acceptance_case> cases = {
        {"(a, b) then (a)", {{L"i1", 'i', {L"a", L"b"}}, {L"i2", 'i', {L"a"}}}, {plain_ab}},
        {"(a) then (a, b)", {{L"i1", 'i', {L"a"}}, {L"i2", 'i', {L"a", L"b"}}}, {plain_a, plain_ab}},
        {"plain (a, b) then key (a)", {{L"i1", 'i', {L"a", L"b"}}, {L"pk", 'p', {L"a"}}}, {pk_a, plain_ab}},
        {"plain (a, b) then unique (a)", {{L"i1", 'i', {L"a", L"b"}}, {L"u1", 'u', {L"a"}}}, {unique_a, plain_ab}},
        {"key (a, b) then plain (a)", {{L"pk", 'p', {L"a", L"b"}}, {L"i1", 'i', {L"a"}}}, {pk_ab}},
        {"unique (a) then key (a)", {{L"u1", 'u', {L"a"}}, {L"pk", 'p', {L"a"}}}, {pk_a}},
        {"unique (a, b) then key (a, b)", {{L"u1", 'u', {L"a", L"b"}}, {L"pk", 'p', {L"a", L"b"}}}, {pk_ab}},
        {"unique (b, a) then key (a, b)", {{L"u1", 'u', {L"b", L"a"}}, {L"pk", 'p', {L"a", L"b"}}},
         {pk_ab, "CREATE UNIQUE INDEX ON \"public\".\"t\" (\"b\", \"a\")"}},
        {"unique (a) then key (a, b)", {{L"u1", 'u', {L"a"}}, {L"pk", 'p', {L"a", L"b"}}}, {pk_ab, unique_a}},
        {"unique (A) then key (a): one destination column", {{L"u1", 'u', {L"A"}}, {L"pk", 'p', {L"a"}}}, {pk_a}},
        {"a column the table lacks", {{L"i1", 'i', {L"a", L"zz"}}, {L"i2", 'i', {L"b"}}},
         {"CREATE INDEX ON \"public\".\"t\" (\"b\")"}},
        {"an unbounded text column", {{L"i1", 'i', {L"memo"}}}, {}},
        {"key on id lands on id", {{L"pk", 'p', {L"id"}}}, {"ALTER TABLE \"public\".\"t\" ADD PRIMARY KEY (\"id\")"}},
        {"key on ID lands on id00000", {{L"pk", 'p', {L"ID"}}},
         {"ALTER TABLE \"public\".\"t\" ADD PRIMARY KEY (\"id00000\")"}},
        {"case-blind when no column has the exact name", {{L"i1", 'i', {L"B"}}},
         {"CREATE INDEX ON \"public\".\"t\" (\"b\")"}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(accept(c.specs), c.sent) << c.what;
}

TEST(PgsBuilders, IndexNamesAreUniqueAcrossTables)
{
    pgs_in_validator names;
    source_table t;
    t.add(L"id", VT_I4);
    t.indexes.push_back(udb_index(L"pk_id", true, true, {L"id"}));
    pgs_schema_initializer b1(L"public.t1", t.schema, t.indexes);
    pgs_indexes_initializer i1(L"public.t1", b1.get_columns(), t.indexes, b1.get_names_map());
    pgs_schema_initializer b2(L"public.t2", t.schema, t.indexes);
    pgs_indexes_initializer i2(L"public.t2", b2.get_columns(), t.indexes, b2.get_names_map());
    ASSERT_EQ(i1.get_accepted().size(), 1u);
    ASSERT_EQ(i2.get_accepted().size(), 1u);
    EXPECT_EQ(i1.get_accepted()[0].name, L"pk_id");
    EXPECT_EQ(i2.get_accepted()[0].name, L"pk_id00000");
}

}  // namespace
