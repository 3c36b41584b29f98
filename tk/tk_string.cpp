// Trimming, splitting and the ASCII case changes of tk_string and
// tk_wstring.
#include "tk_string.h"

#include "tk_logger.h"

namespace {

template <typename S>
S trim_left(const S& text)
{
    const auto first = text.find_first_not_of(typename S::value_type(' '));
    if (first == S::npos)
        return S();
    return text.substr(first);
}

template <typename S>
S trim_right(const S& text)
{
    const auto last = text.find_last_not_of(typename S::value_type(' '));
    if (last == S::npos) {
        if (!text.empty())
            TK_TRACE(1, "Special processing for all-spaces-string");
        return S();
    }
    return text.substr(0, last + 1);
}

template <typename S>
void ascii_case(S& text, bool upper)
{
    const auto nul = text.find(typename S::value_type(0));
    if (nul != S::npos)
        text.erase(nul);
    for (auto& c : text) {
        if (upper && c >= 'a' && c <= 'z')
            c = static_cast<typename S::value_type>(c - ('a' - 'A'));
        else if (!upper && c >= 'A' && c <= 'Z')
            c = static_cast<typename S::value_type>(c + ('a' - 'A'));
    }
}

}  // namespace

std::string tk_trim_left(const std::string& text) { return trim_left(text); }
std::string tk_trim_right(const std::string& text) { return trim_right(text); }
std::string tk_trim(const std::string& text) { return trim_left(trim_right(text)); }
std::wstring tk_trim_left(const std::wstring& text) { return trim_left(text); }
std::wstring tk_trim_right(const std::wstring& text) { return trim_right(text); }
std::wstring tk_trim(const std::wstring& text) { return trim_left(trim_right(text)); }

std::vector<std::string> tk_split_string(const std::string& text, char separator)
{
    std::vector<std::string> pieces;
    if (text.empty())
        return pieces;
    std::size_t start = 0;
    for (;;) {
        const std::size_t at = text.find(separator, start);
        if (at == std::string::npos) {
            pieces.push_back(text.substr(start));
            return pieces;
        }
        pieces.push_back(text.substr(start, at - start));
        start = at + 1;
    }
}

tk_string tk_string::to_upper()
{
    TK_TRACE(1, "tk_string::to_upper(%s)", static_cast<const std::string&>(*this));
    ascii_case<std::string>(*this, true);
    return *this;
}

tk_string tk_string::to_lower()
{
    TK_TRACE(1, "tk_string::to_lower(%s)", static_cast<const std::string&>(*this));
    ascii_case<std::string>(*this, false);
    return *this;
}

bool tk_string::split(char separator, std::vector<std::string>& out) const
{
    TK_TRACE(1, "tk_string::split(%c)", separator);
    out = tk_split_string(*this, separator);
    return true;
}

int tk_string::compare_no_case(const std::string& other) const
{
    return tk_compare_no_case(std::string_view(*this), std::string_view(other));
}

tk_wstring tk_wstring::to_lower()
{
    TK_TRACE(1, "tk_wstring::to_lower(%s)", static_cast<const std::wstring&>(*this));
    ascii_case<std::wstring>(*this, false);
    return *this;
}

std::wstring tk_wstring::replace_all(const std::wstring& pattern, const std::wstring& replacement)
{
    TK_TRACE(1, "tk_wstring::replace_all(%s,%s)", pattern, replacement);
    // An empty pattern would match everywhere without ever advancing.
    if (pattern.empty())
        return *this;
    std::size_t at = find(pattern);
    while (at != npos) {
        replace(at, pattern.size(), replacement);
        at = find(pattern, at + replacement.size());
    }
    return *this;
}

int tk_wstring::compare_no_case(const std::wstring& other) const
{
    return tk_compare_no_case(std::wstring_view(*this), std::wstring_view(other));
}
