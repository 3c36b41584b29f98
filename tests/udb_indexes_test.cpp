#include "tk_exception.h"
#include "udb_indexes.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using names = std::vector<std::wstring>;

void expect_index(const udb_index& index, const std::wstring& name, bool unique, bool primary, const names& columns)
{
    EXPECT_EQ(index.name, name);
    EXPECT_EQ(index.b_unique, unique);
    EXPECT_EQ(index.b_primary, primary);
    EXPECT_EQ(index.columns, columns);
}

}  // namespace

TEST(UdbIndexes, PushBackMergesIntoTheSameNamedIndex)
{
    struct row {
        const char* rule;
        bool old_unique, old_primary;
        bool new_unique, new_primary;
        bool replaced;
    };
    const row rows[] = {
        {"existing primary key stays", false, true, true, true, false},
        {"existing primary key stays against unique", false, true, true, false, false},
        {"new primary key replaces unique", true, false, false, true, true},
        {"new primary key replaces plain", false, false, false, true, true},
        {"existing unique stays", true, false, true, false, false},
        {"existing unique stays against plain", true, false, false, false, false},
        {"new unique replaces plain", false, false, true, false, true},
        {"plain onto plain changes nothing", false, false, false, false, false},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.rule);
        udb_indexes list;
        list.push_back(udb_index(L"i_emp", r.old_unique, r.old_primary, {L"a"}));
        list.push_back(udb_index(L"other", false, false, {L"z"}));
        // Same name in another case: the names are compared ignoring case.
        list.push_back(udb_index(L"I_EMP", r.new_unique, r.new_primary, {L"b", L"c"}));
        ASSERT_EQ(list.size(), 2u);
        if (r.replaced)
            expect_index(list[0], L"I_EMP", r.new_unique, r.new_primary, {L"b", L"c"});
        else
            expect_index(list[0], L"i_emp", r.old_unique, r.old_primary, {L"a"});
        expect_index(list[1], L"other", false, false, {L"z"});
    }
}

TEST(UdbIndexes, NameLookups)
{
    udb_indexes list;
    list.push_back(udb_index(L"Pk_Emp", true, true, {L"id"}));
    EXPECT_TRUE(list.find2(L"PK_EMP"));
    EXPECT_FALSE(list.is_acceptable_name(L"pk_emp"));
    EXPECT_TRUE(list.is_acceptable_name(L"pk_emp2"));
    EXPECT_EQ(list.get_index(L"pk_emp").columns, names{L"id"});
    EXPECT_FALSE(list.find2(L"missing"));
    try {
        list.get_index(L"missing");
        FAIL() << "no failure";
    } catch (const tk_mail_assertion& e) {
        EXPECT_EQ(e.message, make_err_meggase("udb_idx", 187));
        EXPECT_EQ(e.level, 2);
    }
}

TEST(UdbIndexes, IsIdxFieldComparesExactlyWhileStartsWithFieldsIgnoresCase)
{
    udb_indexes list;
    list.push_back(udb_index(L"pk", true, true, {L"id"}));
    list.push_back(udb_index(L"ix", false, false, {L"Name"}));

    EXPECT_TRUE(list.is_idx_field(L"id", true));
    EXPECT_FALSE(list.is_idx_field(L"Id", true));
    EXPECT_FALSE(list.is_idx_field(L"Name", true));  // not in a primary key
    EXPECT_TRUE(list.is_idx_field(L"Name", false));
    EXPECT_FALSE(list.is_idx_field(L"name", false));

    const udb_index index(L"ix2", false, false, {L"id", L"x"});
    struct row {
        names fields;
        bool expected;
    };
    const row rows[] = {
        {{}, true},
        {{L"ID"}, true},
        {{L"Id", L"X"}, true},
        {{L"x"}, false},
        {{L"id", L"y"}, false},
        {{L"id", L"x", L"z"}, false},  // longer than the index
    };
    for (const auto& r : rows)
        EXPECT_EQ(index.starts_with_fields(r.fields), r.expected) << testing::PrintToString(r.fields);
}
