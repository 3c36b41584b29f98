#include "t_ftd.h"
#include "test_support.h"
#include "tk_logger.h"
#include "udb_record.h"
#include "udb_schema.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

// Columns Id, NAME, name (the last two differ only in case), as a schema of
// borrowed descriptors and as a record of owned fields.
struct table_shape {
    std::vector<std::unique_ptr<t_ftd>> descriptors;
    udb_schema schema;
    udb_record record;

    explicit table_shape(const std::vector<std::wstring>& names)
    {
        for (const auto& n : names) {
            descriptors.push_back(std::make_unique<t_ftd>(10, n, VT_BSTR));
            schema.push_back(descriptors.back().get());
            record.emplace_back(n, 10, ole_variant(n));
        }
    }
};

class UdbSchemaLookup : public tk_test::logger_fixture {};

}  // namespace

TEST_F(UdbSchemaLookup, SchemaAndRecordFindNamesIgnoringCaseFirstWins)
{
    struct row {
        std::vector<std::wstring> columns;
        std::wstring asked;
        int expected;  // position of the answer, -1 for none
    };
    const row rows[] = {
        {{}, L"Id", -1},
        {{L"Id", L"NAME", L"name"}, L"ID", 0},
        {{L"Id", L"NAME", L"name"}, L"id", 0},
        {{L"Id", L"NAME", L"name"}, L"name", 1},  // the first of the two
        {{L"Id", L"NAME", L"name"}, L"Name", 1},
        {{L"Id", L"NAME", L"name"}, L"Nam", -1},
        {{L"Id", L"NAME", L"name"}, L"", -1},
        {{L"\u0414\u0430\u0442\u0430"}, L"\u0434\u0410\u0422\u0410", 0},  // Дата / дАТА
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(testing::PrintToString(r.asked));
        table_shape t(r.columns);
        udb_schema& s = t.schema;
        const bool found = r.expected >= 0;
        EXPECT_EQ(s.find_field(r.asked), found);
        EXPECT_EQ(s.get_field_idx(r.asked), r.expected);
        t_ftd* expected_ftd = found ? t.descriptors[static_cast<std::size_t>(r.expected)].get() : nullptr;
        EXPECT_EQ(s.get_field1(r.asked), expected_ftd);
        EXPECT_EQ(std::as_const(s).get_field2(r.asked), expected_ftd);
        EXPECT_EQ(s.size(), r.columns.size());

        EXPECT_EQ(t.record.find_field(r.asked), found);
        const udb_field* expected_field = found ? &t.record[static_cast<std::size_t>(r.expected)] : nullptr;
        EXPECT_EQ(t.record.get_field(r.asked), expected_field);
    }
}

TEST_F(UdbSchemaLookup, MissingNameWritesOnlyTheUserLine)
{
    table_shape t({L"Id"});
    EXPECT_EQ(t.schema.get_field1(L"X"), nullptr);
    EXPECT_EQ(t.schema.get_field2(L"Y"), nullptr);
    // Lookups that are expected to miss stay quiet.
    EXPECT_FALSE(t.schema.find_field(L"Z"));
    EXPECT_EQ(t.schema.get_field_idx(L"Z"), -1);
    EXPECT_EQ(t.record.get_field(L"Z"), nullptr);
    EXPECT_EQ(log_text(), "Field 'X' not found\r\nField 'Y' not found\r\n");
}

namespace {

int live_descriptors = 0;
int live_fields = 0;

struct counting_ftd : t_ftd {
    explicit counting_ftd(const std::wstring& n) : t_ftd(0, n, VT_I4) { ++live_descriptors; }
    ~counting_ftd() override { --live_descriptors; }
};

struct counting_field : udb_field {
    explicit counting_field(const std::wstring& n) : udb_field(n, 4, ole_variant(1)) { ++live_fields; }
    ~counting_field() override { --live_fields; }
};

}  // namespace

TEST(UdbSchema, SchemaBorrowsDescriptorsRecordOwnsFields)
{
    live_descriptors = 0;
    live_fields = 0;
    std::vector<std::unique_ptr<t_ftd>> kept;
    {
        udb_schema schema;
        for (const wchar_t* n : {L"a", L"b"}) {
            kept.push_back(std::make_unique<counting_ftd>(n));
            schema.push_back(kept.back().get());
        }
        udb_schema copy(schema);
        EXPECT_EQ(copy.size(), 2u);
    }
    EXPECT_EQ(live_descriptors, 2);
    EXPECT_EQ(kept[1]->name, L"b");  // still usable
    kept.clear();                     // deleted through t_ftd
    EXPECT_EQ(live_descriptors, 0);

    {
        udb_record record;
        record.push_back(std::make_unique<counting_field>(L"a"));
        record.push_back(std::make_unique<counting_field>(L"b"));
        record.push_back(std::make_unique<counting_field>(L"c"));
        EXPECT_EQ(live_fields, 3);
        record.resize(1);
        EXPECT_EQ(live_fields, 1);
        record.clear();
        EXPECT_EQ(live_fields, 0);
        EXPECT_TRUE(record.empty());
        record.push_back(std::make_unique<counting_field>(L"d"));  // reusable
        EXPECT_EQ(record[0].name, L"d");
    }
    EXPECT_EQ(live_fields, 0);
    EXPECT_THROW(udb_record().push_back(nullptr), std::invalid_argument);
}

TEST(UdbRecord, FieldsRefillInPlace)
{
    udb_record record;
    record.resize(2);
    record[0].name = L"ID";
    record[0].size = 4;
    record[1].name = L"NAME";
    udb_field* first = &record[0];
    udb_field* second = &record[1];

    for (int row = 0; row < 3; ++row) {
        record.resize(2);  // same layout: the same field objects
        record[0] = ole_variant(row);
        record[1] = std::wstring(L"n") + std::to_wstring(row);
        ASSERT_EQ(&record[0], first);
        ASSERT_EQ(&record[1], second);
        EXPECT_EQ(record[0].name, L"ID");
        EXPECT_EQ(record[0].size, 4u);
        EXPECT_EQ(record[0].get_type(), VT_I4);
        EXPECT_EQ(record[0].get_i4(), row);
        EXPECT_EQ(record[1].to_wstring(), L"n" + std::to_wstring(row));
    }

    std::vector<std::wstring> names;
    for (const udb_field& f : std::as_const(record))
        names.push_back(f.name);
    EXPECT_EQ(names, (std::vector<std::wstring>{L"ID", L"NAME"}));

    // A field copies its value as the value carrier does.
    const udb_field copy(L"c", 3, ole_variant(std::wstring(L"abc")), true, false);
    EXPECT_EQ(copy.get_type(), VT_BSTR);
    EXPECT_EQ(copy.to_string(), "abc");
    EXPECT_TRUE(copy.b_not_null);
    const udb_field empty;
    EXPECT_EQ(empty.get_type(), VT_EMPTY);
    EXPECT_EQ(empty.size, 0u);
    EXPECT_TRUE(empty.name.empty());
}

TEST(TFtd, DecimalReservedWord)
{
    EXPECT_EQ(t_ftd::encode_decimal(10, 2), 2562u);
    EXPECT_EQ(t_ftd::decimal_precision(2562), 10);
    EXPECT_EQ(t_ftd::decimal_scale(2562), 2);

    struct row {
        int precision, scale;
    };
    // Negative scales and scales above the precision are Oracle's and must
    // come back as they went in, without borrowing from the precision.
    const row rows[] = {{10, -2}, {5, 7}, {38, 127}, {38, -84}, {0, 0}, {0, 2}, {255, -128}, {1, 0}};
    for (const auto& r : rows) {
        const std::uint32_t word = t_ftd::encode_decimal(r.precision, r.scale);
        EXPECT_EQ(t_ftd::decimal_precision(word), r.precision) << r.precision << "," << r.scale;
        EXPECT_EQ(t_ftd::decimal_scale(word), r.scale) << r.precision << "," << r.scale;
        EXPECT_LE(word, 0xFFFFu);
        if (r.scale >= 0) {
            EXPECT_EQ(word, static_cast<std::uint32_t>(r.precision * 256 + r.scale));
        }
    }
    EXPECT_EQ(t_ftd::encode_decimal(10, -2), 0x0AFEu);
    // What does not fit becomes a numeric without precision.
    EXPECT_EQ(t_ftd::encode_decimal(256, 0), 0u);
    EXPECT_EQ(t_ftd::encode_decimal(-1, 0), 0u);
    EXPECT_EQ(t_ftd::encode_decimal(10, 128), 0u);
    EXPECT_EQ(t_ftd::encode_decimal(10, -129), 0u);

    const t_ftd decimal(0, L"AMOUNT", VT_DECIMAL, true, false, ole_variant(), t_ftd::encode_decimal(10, -2));
    EXPECT_EQ(t_ftd::decimal_precision(decimal.reserved), 10);
    EXPECT_EQ(t_ftd::decimal_scale(decimal.reserved), -2);
    const t_ftd day(0, L"HIRED", VT_DATE, false, false, ole_variant(), t_ftd::date_only);
    EXPECT_EQ(day.reserved, 2u);
    const t_ftd copy(day);
    EXPECT_EQ(copy.reserved, 2u);
    EXPECT_EQ(copy.name, L"HIRED");
    EXPECT_TRUE(copy.comment.empty());
    EXPECT_EQ(copy.default_value.get_vt(), VT_EMPTY);
}
