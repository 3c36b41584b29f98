#include "t_ftd.h"
#include "test_support.h"
#include "tk_exception.h"
#include "udb_database.h"
#include "udb_recordset.h"

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace {

using names = std::vector<std::wstring>;

// A destination table that converts each record and keeps what it got.
class test_recordset : public udb_recordset {
public:
    using udb_recordset::udb_recordset;

    void append_record(udb_record& record) override
    {
        convert_record(record);
        ++appended;
    }

    t_ftd& column(const std::wstring& name, VARTYPE type)
    {
        return add_owned_column(std::make_unique<t_ftd>(0, name, type));
    }

    names column_names() const
    {
        names out;
        for (const t_ftd* c : schema)
            out.push_back(c->name);
        return out;
    }

    int appended = 0;
};

class test_database : public udb_database {
public:
    using udb_database::udb_database;

    std::unique_ptr<udb_recordset> create_table(const std::wstring& table_name, const udb_schema&,
                                                const udb_indexes&) override
    {
        table_names.push_back(table_name);
        return std::make_unique<test_recordset>(table_name);
    }
    std::unique_ptr<udb_recordset> get_query(const std::wstring&, const std::wstring&, std::int32_t) override
    {
        return nullptr;
    }
    std::unique_ptr<udb_recordset> get_table(const std::wstring& table_name, std::int32_t) override
    {
        return std::make_unique<test_recordset>(table_name);
    }
    bool test_query(const std::wstring&) override { return true; }
    void create_index(const std::wstring& table_name, const udb_index& index) override
    {
        created.push_back(table_name + L":" + index.name);
    }

    names created;
};

udb_record make_record(const std::vector<std::pair<std::wstring, ole_variant>>& values)
{
    udb_record record;
    for (const auto& [name, value] : values)
        record.emplace_back(name, 0, value);
    return record;
}

}  // namespace

TEST(UdbRecordset, AddColumnMakesTheNameUnique)
{
    struct row {
        names existing;
        std::wstring added;
        std::wstring expected;
    };
    const row rows[] = {
        {{}, L"x", L"x"},
        {{L"x"}, L"x", L"x_"},
        {{L"X"}, L"x", L"x_"},
        {{L"x", L"x_", L"x_1"}, L"x", L"x_1_"},
        {{L"x", L"X_", L"x_1", L"x_1_"}, L"x", L"x_1_2"},
        // After "3" the cycle starts again from "_".
        {{L"x", L"x_", L"x_1", L"x_1_", L"x_1_2", L"x_1_2_", L"x_1_2_3"}, L"x", L"x_1_2_3_"},
        {{L"x", L"x_", L"x_1", L"x_1_", L"x_1_2", L"x_1_2_", L"x_1_2_3", L"x_1_2_3_"}, L"X", L"X_1_2_3_1"},
        {{L"x_"}, L"x", L"x"},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(testing::PrintToString(r.existing));
        test_recordset table(L"t");
        for (const auto& n : r.existing)
            table.column(n, VT_I4);
        t_ftd added(0, r.added, VT_BSTR);
        table.add_column(added);
        EXPECT_EQ(added.name, r.expected);
        ASSERT_EQ(table.schema.size(), r.existing.size() + 1);
        EXPECT_EQ(table.schema[r.existing.size()], &added);  // appended, not copied
    }
}

class UdbConvertRecord : public testing::Test {
protected:
    UdbConvertRecord() : table(L"public.emp")
    {
        table.column(L"ID", VT_I4);
        table.column(L"Name", VT_BSTR);
        table.column(L"AMOUNT", VT_R8);
        table.column(L"hired", VT_DATE);
        table.column(L"\u0421\u0443\u043c\u043c\u0430", VT_R8);  // Сумма
    }
    test_recordset table;
};

TEST_F(UdbConvertRecord, SubsetInAnyOrderAndCase)
{
    udb_record record = make_record({
        {L"amount", ole_variant(std::wstring(L"1.5"))},
        {L"id", ole_variant(2.5)},
        {L"NAME", ole_variant(42)},
        {L"HIRED", ole_variant()},
        {L"\u0441\u0423\u041c\u041c\u0410", ole_variant(std::wstring(L"-0.25"))},  // сУММА
    });
    record[3].set_null();
    table.append_record(record);
    EXPECT_EQ(record[0].get_type(), VT_R8);
    EXPECT_EQ(record[0].get_r8(), 1.5);
    EXPECT_EQ(record[1].get_type(), VT_I4);
    EXPECT_EQ(record[1].get_i4(), 3);
    EXPECT_EQ(record[2].get_type(), VT_BSTR);
    EXPECT_EQ(record[2].to_wstring(), L"42");
    EXPECT_EQ(record[3].get_type(), VT_NULL);
    EXPECT_EQ(record[4].get_r8(), -0.25);
    // The field keeps its own name: only the value changes.
    EXPECT_EQ(record[0].name, L"amount");

    udb_record empty;
    EXPECT_NO_THROW(table.convert_record(empty));
}

TEST_F(UdbConvertRecord, FieldWithoutColumnRaisesAfterTheEarlierFields)
{
    udb_record record = make_record({
        {L"ID", ole_variant(7.0)},
        {L"BONUS", ole_variant(1.0)},
        {L"AMOUNT", ole_variant(std::wstring(L"2"))},
    });
    try {
        table.convert_record(record);
        FAIL() << "no failure";
    } catch (const tk_exception& e) {
        EXPECT_EQ(e.message, "The structure of data source does not conform to the destination table.");
        EXPECT_EQ(e.level, 1);
    }
    EXPECT_EQ(record[0].get_type(), VT_I4);
    EXPECT_EQ(record[0].get_i4(), 7);
    EXPECT_EQ(record[1].get_type(), VT_R8);
    EXPECT_EQ(record[2].get_type(), VT_BSTR);

    // A value that does not convert is a level-1 failure as well.
    udb_record bad = make_record({{L"AMOUNT", ole_variant(std::wstring(L"abc"))}});
    try {
        table.convert_record(bad);
        FAIL() << "no failure";
    } catch (const tk_exception& e) {
        EXPECT_EQ(e.level, 1);
    }
    EXPECT_EQ(bad[0].get_type(), VT_BSTR);
}

TEST_F(UdbConvertRecord, ChangingLayoutsConvertToTheirOwnColumns)
{
    // Layouts A and B alternate, then A's second field is renamed in place
    // (same count of fields, same first name), then the schema changes.
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        udb_record a = make_record({{L"ID", ole_variant(1.0)}, {L"NAME", ole_variant(5)}});
        table.convert_record(a);
        EXPECT_EQ(a[0].get_type(), VT_I4);
        EXPECT_EQ(a[1].get_type(), VT_BSTR);

        udb_record b = make_record({{L"name", ole_variant(6)},
                                    {L"amount", ole_variant(std::wstring(L"2"))},
                                    {L"id", ole_variant(3.0)}});
        table.convert_record(b);
        EXPECT_EQ(b[0].get_type(), VT_BSTR);
        EXPECT_EQ(b[1].get_type(), VT_R8);
        EXPECT_EQ(b[2].get_type(), VT_I4);
    }

    udb_record a = make_record({{L"ID", ole_variant(1.0)}, {L"NAME", ole_variant(5)}});
    table.convert_record(a);
    a[0] = 2.0;
    a[1].name = L"AMOUNT";
    a[1] = std::wstring(L"4");
    table.convert_record(a);
    EXPECT_EQ(a[1].get_type(), VT_R8);
    a[1].name = L"NOTE";
    EXPECT_THROW(table.convert_record(a), tk_exception);

    // The same record again once the schema has the column.
    table.column(L"Note", VT_I4);
    a[0] = 2.0;
    a[1] = 9.0;
    table.convert_record(a);
    EXPECT_EQ(a[1].get_type(), VT_I4);
    EXPECT_EQ(a[1].get_i4(), 9);

    // A schema replaced by assignment is not mistaken for the old one.
    udb_schema other;
    t_ftd id_text(0, L"id", VT_BSTR);
    t_ftd note_text(0, L"note", VT_R8);
    other.push_back(&id_text);
    other.push_back(&note_text);
    table.schema = other;
    a[0] = 1;
    a[1] = 2;
    table.convert_record(a);
    EXPECT_EQ(a[0].get_type(), VT_BSTR);
    EXPECT_EQ(a[1].get_type(), VT_R8);
}

class UdbAddIndex : public tk_test::logger_fixture {};

TEST_F(UdbAddIndex, FirstUniqueOrPrimaryIsTheKey)
{
    test_recordset table(L"t");
    EXPECT_EQ(table.n_u_index, -1);
    table.add_index(udb_index(L"ix_plain", false, false, {L"a"}));
    table.add_index(udb_index(L"uq_emp", true, false, {L"b"}));
    table.add_index(udb_index(L"pk_emp", true, true, {L"id"}));
    EXPECT_EQ(table.n_u_index, 1);
    ASSERT_EQ(table.indexes.size(), 3u);
    EXPECT_EQ(table.indexes[2].name, L"pk_emp");

    // A taken name (in any case) is refused, even for a primary key.
    table.add_index(udb_index(L"IX_PLAIN", true, true, {L"z"}));
    ASSERT_EQ(table.indexes.size(), 3u);
    EXPECT_FALSE(table.indexes[0].b_primary);
    EXPECT_EQ(table.indexes[0].columns, names{L"a"});
    EXPECT_EQ(log_text(), "Index 'IX_PLAIN' cannot be processed\r\n");

    test_recordset other(L"u");
    other.add_index(udb_index(L"uq", true, false, {L"b"}));
    other.add_index(udb_index(L"pk", true, true, {L"id"}));
    EXPECT_EQ(other.n_u_index, 0);
    EXPECT_EQ(other.indexes.size(), 2u);
}

TEST(UdbRecordsetBase, DefaultsAndCounts)
{
    test_recordset table(L"public.big");
    EXPECT_EQ(table.name, L"public.big");
    EXPECT_FALSE(table.is_query());
    EXPECT_TRUE(table.is_eof());
    EXPECT_EQ(table.get_item(), nullptr);
    EXPECT_EQ(table.schema.seed, 1);
    EXPECT_EQ(table.schema.increment, 1);
    EXPECT_EQ(table.rec_count, 0);
    table.reset();
    table.next();
    table.prev();
    udb_record record;
    table.update(record);
    table.finish();

    table.rec_count = 3000000000LL;  // past 2^31 rows
    ++table.rec_count;
    EXPECT_EQ(table.rec_count, 3000000001LL);
    table.query_text = L"select 1";
    EXPECT_TRUE(table.is_query());
}

TEST(UdbDatabase, TableListUnderBothCaseRules)
{
    struct row {
        bool case_sensitive;
        std::wstring asked;
        bool exists;
        names after_delete;
        // The table's own name: the exact spelling before the first match.
        const wchar_t* own;
    };
    const row rows[] = {
        {false, L"ORDERS", true, {L"Emp", L"orders", L"Dept"}, L"Orders"},  // the first match goes
        {false, L"orders", true, {L"Emp", L"orders", L"Dept"}, L"orders"},
        {false, L"dept", true, {L"Emp", L"Orders", L"orders"}, L"Dept"},
        {true, L"ORDERS", false, {L"Emp", L"Orders", L"orders", L"Dept"}, nullptr},
        {true, L"orders", true, {L"Emp", L"Orders", L"Dept"}, L"orders"},
        {false, L"Order", false, {L"Emp", L"Orders", L"orders", L"Dept"}, nullptr},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(testing::PrintToString(r.asked) + (r.case_sensitive ? " exact" : " ignoring case"));
        test_database db(L"db", 0, r.case_sensitive);
        db.table_names = {L"Emp", L"Orders", L"orders", L"Dept"};
        EXPECT_EQ(db.is_table_exist(r.asked), r.exists);
        const std::wstring* own = db.own_table_name(r.asked);
        EXPECT_EQ(own ? std::optional<std::wstring>(*own) : std::nullopt,
                  r.own ? std::optional<std::wstring>(r.own) : std::nullopt);
        EXPECT_EQ(db.delete_tab(r.asked), r.exists);
        EXPECT_EQ(db.get_table_names(), r.after_delete);
    }
}

TEST(UdbDatabase, BaseOperations)
{
    test_database db(L"db", 8, false);
    EXPECT_EQ(db.name, L"db");
    EXPECT_EQ(db.open_flags, 8);
    EXPECT_FALSE(db.b_native_types);

    try {
        db.query(L"select 1");
        FAIL() << "no failure";
    } catch (const tk_mail_assertion& e) {
        EXPECT_EQ(e.message, make_err_meggase("udb_db", 86));
    }

    udb_indexes indexes;
    indexes.push_back(udb_index(L"b", false, false));
    indexes.push_back(udb_index(L"a", false, false));
    db.create_indexes(L"t", indexes);
    EXPECT_EQ(db.created, (names{L"t:b", L"t:a"}));

    names info{L"x"};
    db.get_schema_info(info);
    EXPECT_TRUE(info.empty());

    std::unique_ptr<udb_recordset> table = db.create_table(L"emp", udb_schema(), udb_indexes());
    ASSERT_NE(table, nullptr);
    EXPECT_TRUE(db.is_table_exist(L"EMP"));
    EXPECT_EQ(db.get_query(L"q", L"select 1", 0), nullptr);

    const t_relationship fk1(L"fk_emp_dept", L"", L"EMP", L"DEPT", {L"DEPTNO"}, {L"DEPTNO"}, L"ON DELETE CASCADE");
    const t_relationship fk2(L"fk_emp_mgr", L"", L"EMP", L"EMP", {L"MGR"}, {L"EMPNO"}, L"");
    db.add_relationships({fk1});
    db.add_relationships({fk2, fk1});
    ASSERT_EQ(db.relationships.size(), 3u);
    EXPECT_EQ(db.relationships[1].fk_name, L"fk_emp_mgr");
    EXPECT_EQ(db.relationships[2].rule, L"ON DELETE CASCADE");
    EXPECT_EQ(db.relationships[2].pk_fields, names{L"DEPTNO"});
    db.create_relationships(db.relationships);  // the base does nothing
    EXPECT_EQ(db.relationships.size(), 3u);
}
