#include "pgs_validator.h"

#include "tk_exception.h"
#include "tk_unicode.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::wstring rep(const std::wstring& piece, std::size_t n)
{
    std::wstring s;
    for (std::size_t i = 0; i < n; ++i)
        s += piece;
    return s;
}

std::size_t bytes_of(const std::wstring& s) { return tk_wide_to_utf8(s).size(); }

const std::wstring cyr = L"\u0436";  // a two-byte letter
const std::wstring cjk = L"\u4e2d";  // a three-byte letter

struct length_case {
    const char* what;
    std::wstring name;
    bool acceptable;
    std::wstring safe;  // the safe name of a fresh validator
};

TEST(PgsValidator, MeasuresAndCutsInBytes)
{
    const std::vector<length_case> cases = {
        {"63 ASCII", rep(L"a", 63), true, rep(L"a", 63)},
        {"64 ASCII", rep(L"a", 64), false, rep(L"a", 62)},
        {"31 two-byte letters", rep(cyr, 31), true, rep(cyr, 31)},
        {"32 two-byte letters", rep(cyr, 32), false, rep(cyr, 31)},
        {"three-byte letter ending at byte 63", rep(L"a", 60) + cjk, true, rep(L"a", 60) + cjk},
        {"three-byte letter straddling byte 62", rep(L"a", 61) + cjk, false, rep(L"a", 61)},
        {"40 Cyrillic letters", rep(cyr, 40), false, rep(cyr, 31)},
    };
    for (const auto& c : cases) {
        pgs_validator v;
        EXPECT_EQ(v.is_acceptable(c.name), c.acceptable) << c.what;
        const std::wstring safe = v.get_safe_name(c.name);
        EXPECT_EQ(safe, c.safe) << c.what;
        EXPECT_LE(bytes_of(safe), 63u) << c.what;
    }
}

TEST(PgsValidator, NumbersLongNonAsciiBasesInBytes)
{
    struct numbered_case {
        const char* what;
        std::wstring name;
        std::wstring expected;
    };
    const std::vector<numbered_case> cases = {
        // 58 bytes leave room for the five digits.
        {"29 two-byte letters", rep(cyr, 29), rep(cyr, 29) + L"00000"},
        // 60 bytes: cut to at most 57, which is 28 letters.
        {"30 two-byte letters", rep(cyr, 30), rep(cyr, 28) + L"00000"},
        // 19 three-byte letters are 57 bytes; 20 are 60 and are cut to 19.
        {"20 three-byte letters", rep(cjk, 20), rep(cjk, 19) + L"00000"},
        {"57 ASCII and a two-byte letter", rep(L"a", 57) + cyr, rep(L"a", 57) + L"00000"},
    };
    for (const auto& c : cases) {
        pgs_validator v;
        v.add_restricted_name(c.name);
        const std::wstring safe = v.get_safe_name(c.name);
        EXPECT_EQ(safe, c.expected) << c.what;
        EXPECT_LE(bytes_of(safe), 63u) << c.what;
    }
}

TEST(PgsValidator, CharacterRule)
{
    struct char_case {
        std::wstring name;
        bool acceptable;
        std::wstring safe;
    };
    const std::vector<char_case> cases = {
        {L"first name", true, L"first name"},
        {L"a#b$c-d.e_f", true, L"a#b$c-d.e_f"},
        {L"\u0418\u043c\u044f", true, L"\u0418\u043c\u044f"},
        {L"\u540d\u524d", true, L"\u540d\u524d"},
        {L"\u00c9t\u00e9", true, L"\u00c9t\u00e9"},
        {L"select", true, L"select"},
        {L"table", true, L"table"},
        {L"user", true, L"user"},
        {L"Order/Date", false, L"Order_Date"},
        {L"O'Neil", false, L"O_Neil"},
        {L"a\"b", false, L"a_b"},
        {L"a;b", false, L"a_b"},
        {L"", false, L"00000"},
    };
    for (const auto& c : cases) {
        pgs_validator v;
        EXPECT_EQ(v.is_acceptable(c.name), c.acceptable) << tk_wide_to_utf8(c.name);
        EXPECT_EQ(v.get_safe_name(c.name), c.safe) << tk_wide_to_utf8(c.name);
    }
}

TEST(PgsValidator, RestrictedNamesAreNumberedIgnoringCase)
{
    pgs_validator v;
    EXPECT_EQ(v.take_name(L"abc"), L"abc");
    EXPECT_FALSE(v.is_acceptable(L"ABC"));
    EXPECT_EQ(v.take_name(L"ABC"), L"ABC00000");
    EXPECT_EQ(v.take_name(L"Abc"), L"Abc00001");
    EXPECT_EQ(v.get_mapped_pairs().get_mapped_name(L"ABC", true), L"ABC00000");
}

TEST(PgsValidator, ColumnValidatorSeedsExistingNames)
{
    udb_schema schema;
    t_ftd a(0, L"id", VT_I4), b(0, L"ID", VT_I4), c(0, L"Order/Date", VT_DATE);
    schema.push_back(&a);
    schema.push_back(&b);
    schema.push_back(&c);
    pgs_fn_validator v(schema);
    EXPECT_EQ(v.take_name(L"id"), L"id");
    EXPECT_EQ(v.take_name(L"ID"), L"ID00000");
    EXPECT_EQ(v.take_name(L"Order/Date"), L"Order_Date");

    udb_record r;
    r.emplace_back(L"x_y", 0, ole_variant(1));
    pgs_fn_validator rv(r);
    EXPECT_EQ(rv.get_safe_name(L"x/y"), L"x_y00000");
}

TEST(PgsValidator, IndexNamesStayUniqueAcrossTables)
{
    pgs_in_validator v;
    EXPECT_EQ(pgs_in_validator::try_instance(), &v);
    udb_indexes first, second;
    first.push_back(udb_index(L"pk_id", true, true, {L"id"}));
    second.push_back(udb_index(L"pk_id", true, true, {L"id"}));
    v.add_index_names(first);
    EXPECT_EQ(v.take_name(L"pk_id", false), L"pk_id");
    v.add_index_names(second);
    EXPECT_EQ(v.take_name(L"pk_id", false), L"pk_id00000");
}

TEST(PgsValidator, IndexValidatorIsOnePerProcess)
{
    {
        pgs_in_validator v;
        EXPECT_THROW(pgs_in_validator second, tk_mail_assertion);
    }
    EXPECT_EQ(pgs_in_validator::try_instance(), nullptr);
}

TEST(PgsValidator, TableValidatorKeepsBareNames)
{
    pgs_tn_validator v({L"EMP"}, {});
    EXPECT_EQ(v.take_name(L"A/B"), L"A_B");
    EXPECT_EQ(v.take_name(L"A?B"), L"A_B00000");
    EXPECT_EQ(v.take_name(L"emp"), L"emp");
    EXPECT_EQ(v.take_name(L"EMP"), L"EMP00000");

    pgs_tn_validator seeded({}, {L"public.a_b", L"hr.x.y"});
    EXPECT_EQ(seeded.get_safe_name(L"A/B"), L"A_B00000");
    EXPECT_TRUE(seeded.is_duplicated(L"x.y"));
}

}  // namespace
