// Case-blind comparison and folding: simple case folding per code point,
// with plain ASCII on a fast path.
#include "tk_string.h"

#include "tk_unicode.h"

#include <unicode/uchar.h>

#include <algorithm>
#include <cstdint>

namespace {

char32_t ascii_fold(char32_t c) { return (c >= 'A' && c <= 'Z') ? c + ('a' - 'A') : c; }

char32_t fold(char32_t c)
{
    // Plain ASCII is by far the common case for names and keywords.
    if (c < 0x80)
        return ascii_fold(c);
    if (c > 0x10FFFF)
        return c;
    return static_cast<char32_t>(u_foldCase(static_cast<UChar32>(c), U_FOLD_CASE_DEFAULT));
}

int compare_folded(std::wstring_view a, std::wstring_view b)
{
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        const char32_t ca = fold(static_cast<char32_t>(static_cast<std::uint32_t>(a[i])));
        const char32_t cb = fold(static_cast<char32_t>(static_cast<std::uint32_t>(b[i])));
        if (ca != cb)
            return ca < cb ? -1 : 1;
    }
    if (a.size() == b.size())
        return 0;
    return a.size() < b.size() ? -1 : 1;
}

}  // namespace

int tk_compare_no_case(std::wstring_view a, std::wstring_view b)
{
    return compare_folded(tk_up_to_nul(a), tk_up_to_nul(b));
}

int tk_compare_no_case(std::string_view a, std::string_view b)
{
    a = tk_up_to_nul(a);
    b = tk_up_to_nul(b);
    // Compare the ASCII prefix byte by byte; from the first other byte on,
    // both rests are decoded (the prefixes match, so both start on a
    // character boundary).
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        const auto ca = static_cast<unsigned char>(a[i]);
        const auto cb = static_cast<unsigned char>(b[i]);
        if (ca >= 0x80 || cb >= 0x80)
            return compare_folded(tk_utf8_to_wide(a.substr(i)), tk_utf8_to_wide(b.substr(i)));
        const char32_t fa = ascii_fold(ca);
        const char32_t fb = ascii_fold(cb);
        if (fa != fb)
            return fa < fb ? -1 : 1;
    }
    if (a.size() == b.size())
        return 0;
    return a.size() < b.size() ? -1 : 1;
}

bool tk_ascii_equal_no_case(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (tk_ascii_lower(a[i]) != tk_ascii_lower(b[i]))
            return false;
    return true;
}

std::wstring tk_fold_case(std::wstring_view text)
{
    text = tk_up_to_nul(text);
    std::wstring folded(text.size(), L'\0');
    for (std::size_t i = 0; i < text.size(); ++i)
        folded[i] = static_cast<wchar_t>(fold(static_cast<char32_t>(static_cast<std::uint32_t>(text[i]))));
    return folded;
}
