#include "pgs_recordset.h"

#include "tk_exception.h"

#include <gtest/gtest.h>

#include <limits>

namespace {

TEST(PgsRecordset, CountTextsAreClamped)
{
    EXPECT_EQ(pgs_recordset::parse_count("3000000000"), 3000000000LL);
    EXPECT_EQ(pgs_recordset::parse_count("99999999999999999999"), std::numeric_limits<std::int64_t>::max());
    EXPECT_EQ(pgs_recordset::parse_count("0"), 0);
    EXPECT_EQ(pgs_recordset::parse_count(nullptr), 0);
}

TEST(PgsRecordset, CatalogueTextsQuoteTheirLiterals)
{
    const std::string fk = pgs_recordset::fk_sql("'o''t'");
    EXPECT_EQ(fk.substr(fk.size() - 21), "__t.relname  = 'o''t'");
    const std::string t = pgs_recordset::table_sql("'s'", "'t'");
    EXPECT_NE(t.find("WHERE table_schema = 's' AND table_name = 't' order by"), std::string::npos);
    EXPECT_EQ(pgs_recordset::get_delete_rule('c') + L" " + pgs_recordset::get_update_rule('a'),
              L"ON DELETE CASCADE ");
}

TEST(PgsRecordset, ColumnNumbersBecomeNames)
{
    udb_schema s;
    t_ftd a(0, L"a", VT_I4), b(0, L"b", VT_I4);
    s.push_back(&a);
    s.push_back(&b);
    std::vector<std::wstring> out;
    pgs_recordset::get_numbers_from_string("2 1 0 3 x", out, s);
    EXPECT_EQ(out, (std::vector<std::wstring>{L"b", L"a"}));
}

TEST(PgsRecordset, CopyLineFollowsTheTableOrder)
{
    udb_schema s;
    t_ftd id(0, L"id", VT_I4), name(10, L"name", VT_BSTR, true), note(10, L"Note", VT_BSTR), bin(0, L"b", VT_BLOB);
    t_ftd day(0, L"day", VT_DATE, false, false, ole_variant(), 2);
    for (t_ftd* c : {&id, &name, &note, &bin, &day})
        s.push_back(c);
    udb_record r;
    t_systemtime t;
    t.year = 2024, t.month = 5, t.day = 6, t.hour = 7;
    r.emplace_back(L"DAY", 0, ole_variant(t));
    r.emplace_back(L"B", 0, ole_variant(std::vector<std::uint8_t>{0xAB}));
    r.emplace_back(L"note", 0, ole_variant(L"c:\\dir"));
    r.emplace_back(L"NAME", 0, ole_variant());
    r.emplace_back(L"Id", 0, ole_variant(5));
    std::string line;
    pgs_append_copy_line(line, r, s, pgs_match_columns(r, s));
    EXPECT_EQ(line, "5\t\tc:\\\\dir\t\\\\xAB\t2024-05-06\n");

    udb_record missing;
    missing.emplace_back(L"id", 0, ole_variant(1));
    try {
        pgs_match_columns(missing, s);
        FAIL();
    } catch (const tk_exception& e) {
        EXPECT_EQ(e.level, 1);
    }
}

TEST(PgsRecordset, ExactNamesWinOverCaseBlindOnes)
{
    udb_schema s;
    t_ftd lower(0, L"id", VT_I4), upper(0, L"ID", VT_I4);
    s.push_back(&lower);
    s.push_back(&upper);
    udb_record r;
    r.emplace_back(L"ID", 0, ole_variant(2));
    r.emplace_back(L"id", 0, ole_variant(1));
    EXPECT_EQ(pgs_match_columns(r, s), (std::vector<std::size_t>{1, 0}));
}

}  // namespace
