#include "udb_validator.h"

#include "tk_exception.h"
#include "tk_string.h"
#include "tk_unicode.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::wstring repeat(wchar_t c, std::size_t n) { return std::wstring(n, c); }

std::size_t utf8_bytes(const std::wstring& s) { return tk_wide_to_utf8(s).size(); }

// Counts and cuts in UTF-8 bytes, the way a destination that limits names
// by bytes does.
class byte_validator : public udb_validator {
public:
    byte_validator() : udb_validator(63) {}
    std::size_t name_length(const std::wstring& name) const override { return utf8_bytes(name); }
    std::wstring cut_name(const std::wstring& name, std::size_t n) const override
    {
        const std::string bytes = tk_wide_to_utf8(name);
        return tk_utf8_to_wide(std::string_view(bytes).substr(0, tk_utf8_cut(bytes, n)));
    }
};

class slash_validator : public udb_validator {
public:
    slash_validator() : udb_validator(63) { illegal_characters.push_back(L'/'); }
};

struct safe_name_case {
    const char* what;
    std::uint32_t max;
    std::vector<std::wstring> restricted;
    std::vector<std::wstring> existing;
    std::wstring name;
    std::wstring expected;
};

}  // namespace

TEST(UdbValidator, SafeNames)
{
    const std::wstring n58 = repeat(L'a', 58);
    const std::wstring n59 = repeat(L'b', 59);
    const std::wstring n100 = repeat(L'c', 100);
    const safe_name_case cases[] = {
        {"free name unchanged", 63, {}, {}, L"EMP", L"EMP"},
        {"free long name cut to max - 1", 63, {}, {}, repeat(L'x', 70), repeat(L'x', 62)},
        {"name of exactly max kept", 63, {}, {}, repeat(L'x', 63), repeat(L'x', 63)},
        {"restricted gets the first number", 63, {L"abc"}, {}, L"abc", L"abc00000"},
        {"taken number skipped", 63, {L"abc", L"abc00000"}, {}, L"abc", L"abc00001"},
        {"existing number skipped", 63, {L"abc"}, {L"ABC00000", L"abc00001"}, L"abc", L"abc00002"},
        {"58 characters numbered to 63", 63, {}, {n58}, n58, n58 + L"00000"},
        {"59 characters cut to 57", 63, {}, {n59}, n59, n59.substr(0, 57) + L"00000"},
        {"no limit never cuts", 0, {n100}, {}, n100, n100 + L"00000"},
        {"restricted ignores case", 63, {L"Emp"}, {}, L"EMP", L"EMP00000"},
        {"existing ignores case", 63, {}, {L"Emp"}, L"EMP", L"EMP00000"},
        {"case folding beyond ASCII", 63, {L"\u00c4rger"}, {}, L"\u00e4RGER", L"\u00e4RGER00000"},
        {"empty name passes", 63, {}, {}, L"", L""},
        {"empty existing name numbered", 63, {}, {L""}, L"", L"00000"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        udb_validator v(c.max);
        for (const auto& r : c.restricted)
            v.add_restricted_name(r);
        for (const auto& e : c.existing)
            v.add_existing_name(e);
        EXPECT_EQ(v.get_safe_name(c.name), c.expected);
        // Making a name changes no list.
        EXPECT_EQ(v.get_restricted_names(), c.restricted);
        EXPECT_EQ(v.get_existing_names(), c.existing);
    }
}

TEST(UdbValidator, BaseAcceptanceRule)
{
    udb_validator v(5);
    v.add_restricted_name(L"Emp");
    v.add_existing_name(L"DEPT");
    EXPECT_TRUE(v.is_acceptable(L""));
    EXPECT_TRUE(v.is_acceptable(L"abcde"));
    EXPECT_FALSE(v.is_acceptable(L"abcdef"));
    EXPECT_FALSE(v.is_acceptable(L"eMP"));
    // Existing names are not the acceptance rule's business.
    EXPECT_TRUE(v.is_acceptable(L"dept"));
    EXPECT_TRUE(v.is_duplicated(L"dept"));
    EXPECT_FALSE(v.is_duplicated(L"emp"));
}

TEST(UdbValidator, ShortLimitsStillGiveNumberedNames)
{
    // The cuts for the five digits must not underflow below a limit of 6.
    udb_validator v(3);
    v.add_restricted_name(L"ab");
    std::wstring name;
    EXPECT_THROW(name = v.get_safe_name(L"ab"), tk_exception);
    udb_validator w(6);
    w.add_restricted_name(L"abcd");
    EXPECT_EQ(w.get_safe_name(L"abcd"), L"00000");
}

TEST(UdbValidator, IllegalCharactersAreReplaced)
{
    slash_validator v;
    EXPECT_FALSE(v.is_acceptable(L"Order/Date"));
    EXPECT_EQ(v.get_safe_name(L"Order/Date"), L"Order_Date");
    v.add_existing_name(L"order_date");
    EXPECT_EQ(v.get_safe_name(L"Order/Date"), L"Order_Date00000");
}

TEST(UdbValidator, ByteMeasureCutsAtCharacterBoundaries)
{
    const wchar_t zhe = L'\u0436';  // two bytes in UTF-8
    byte_validator v;

    // 40 letters are 80 bytes: cut to 62 bytes, which is 31 letters.
    const std::wstring long_name = repeat(zhe, 40);
    EXPECT_FALSE(v.is_acceptable(long_name));
    EXPECT_EQ(v.get_safe_name(long_name), repeat(zhe, 31));

    // An odd start makes byte 62 fall inside a letter: the letter goes.
    const std::wstring odd = L"a" + repeat(zhe, 40);
    const std::wstring odd_safe = v.get_safe_name(odd);
    EXPECT_EQ(odd_safe, L"a" + repeat(zhe, 30));
    EXPECT_EQ(utf8_bytes(odd_safe), 61u);

    // A duplicated 30-letter name (60 bytes) leaves no room for the digits
    // and is cut to at most 57 bytes first.
    const std::wstring dup = repeat(zhe, 30);
    v.add_existing_name(dup);
    const std::wstring numbered = v.get_safe_name(dup);
    EXPECT_EQ(numbered, repeat(zhe, 28) + L"00000");
    EXPECT_LE(utf8_bytes(numbered), 63u);
}

TEST(UdbValidator, ExhaustionFailsInsteadOfReturningAName)
{
    class refusing_validator : public udb_validator {
    public:
        refusing_validator() : udb_validator(63) {}
        bool is_acceptable(const std::wstring&) override { return false; }
    };
    refusing_validator v;
    try {
        v.get_safe_name(L"EMP");
        FAIL() << "a name was made";
    } catch (const tk_exception& e) {
        EXPECT_EQ(e.level, 0);
        EXPECT_STREQ(e.what(), "Cannot make a unique name for 'EMP'");
    }
}

TEST(UdbValidator, NumberingStaysCheapWithManyTakenNames)
{
    // 20000 taken numbers: a linear scan per candidate would make this
    // hundreds of millions of comparisons.
    udb_validator v(63);
    v.add_restricted_name(L"abc");
    for (int i = 0; i < 20000; ++i) {
        std::wstring n = std::to_wstring(i);
        v.add_existing_name(L"ABC" + std::wstring(5 - n.size(), L'0') + n);
    }
    EXPECT_EQ(v.get_safe_name(L"abc"), L"abc20000");
}

TEST(UdbValidator, ListsAgreeWithTheNameComparison)
{
    // The validator's sets must find exactly the names that the system's
    // comparison calls equal, for the restricted and the existing names.
    const std::pair<std::wstring, std::wstring> pairs[] = {
        {L"Emp", L"EMP"},
        {L"\u00df", L"ss"},           // sharp s stays apart from ss
        {L"\u03a3", L"\u03c2"},       // capital sigma, final sigma
        {L"\u03c3", L"\u03c2"},
        {L"K", L"\u212a"},            // Kelvin sign
        {L"\u0130", L"i"},            // dotted capital I
        {L"\u01c5", L"\u01c6"},       // title-case digraph
        {L"\u0416\u0416", L"\u0436\u0436"},
        {std::wstring(L"a\0b", 3), L"a"},  // both stop at a NUL
        {L"abc", L"abd"},
    };
    for (const auto& [a, b] : pairs) {
        SCOPED_TRACE(tk_wide_to_utf8(a) + " / " + tk_wide_to_utf8(b));
        udb_validator v(0);
        v.add_existing_name(a);
        v.add_restricted_name(a);
        EXPECT_EQ(v.is_duplicated(b), tk_compare_no_case(a, b) == 0);
        EXPECT_EQ(v.is_acceptable(b), tk_compare_no_case(a, b) != 0);
    }
}

TEST(UdbValidator, MappedPairsKeepTheFirstPair)
{
    udb_validator v(63);
    v.add_mapped_pair(L"Order/Date", L"Order_Date");
    v.add_mapped_pair(L"Order/Date", L"other");
    EXPECT_EQ(v.get_mapped_pairs().get_mapped_name(L"order/date", false), L"Order_Date");
    EXPECT_EQ(v.get_mapped_pairs().get_mapped_name(L"order/date", true), L"order/date");
    EXPECT_EQ(v.get_mapped_pairs().size(), 1u);
}
