#include "tk_string.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

// Keys folded once must agree with the case-blind comparison, or a lookup
// by folded key and a walk with the comparison would find different names.
TEST(TkFoldCase, AgreesWithTheCaseBlindComparison)
{
    const std::vector<std::wstring> texts = {
        L"", L"emp", L"EMP", L"Emp", L"emp ", L"\u0416\u0443\u043a", L"\u0436\u0423\u041a",  // Жук / жУК
        L"\u00df", L"ss", L"SS", L"\u1e9e",                                                       // ß, ẞ
        L"\u03a3", L"\u03c3", L"\u03c2",                                                          // Σ σ ς
        L"K", L"\u212a", L"k",                                                                    // Kelvin sign
        std::wstring(L"a\0b", 3), L"a", L"\U0001D400", L"\U00010400", L"\U00010428",             // Deseret
    };
    for (const auto& a : texts)
        for (const auto& b : texts)
            EXPECT_EQ(tk_fold_case(a) == tk_fold_case(b), tk_compare_no_case(a, b) == 0)
                << testing::PrintToString(a) << " / " << testing::PrintToString(b);
    EXPECT_EQ(tk_fold_case(L"ORDERS"), L"orders");
    EXPECT_EQ(tk_fold_case(std::wstring(L"AB\0C", 4)), L"ab");
}
