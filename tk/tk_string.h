// Text conversions between wide text, UTF-8 and 8-bit code pages, and the
// small string helpers the subsystems share.
//
// Wide text is UTF-32. The machine's narrow text is UTF-8, so the "ANSI"
// conversions (code page -1, the one-argument tk_to_unicode and the buffer
// forms) are UTF-8 too. Dump text in other code pages goes through ICU;
// code page 0 (dump text without a code page of its own) is windows-1252.
//
// Every conversion stops at the first NUL of its input. Bytes a code page
// cannot decode become U+FFFD and characters it lacks become '?', so damaged
// or foreign text costs characters, never the value. Only a code page this
// system does not know, or one whose converter does not open, raises: a
// level-0 tk_exception_ex, so the caller skips the record or the table.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

// The text up to its first NUL (all of it when it holds none).
template <typename C>
std::basic_string_view<C> tk_up_to_nul(std::basic_string_view<C> text)
{
    const auto nul = text.find(C(0));
    return nul == std::basic_string_view<C>::npos ? text : text.substr(0, nul);
}

// Wide text to UTF-8.
std::string tk_to_utf8(std::wstring_view text);
// Wide text to the given code page; -1 is the machine's narrow text (UTF-8).
// Raises "Cannot convert to ANSI string: " for an unknown code page.
std::string tk_to_ansi(std::wstring_view text, int code_page = -1);
// UTF-8 to wide text.
std::wstring tk_utf8_to_unicode(std::string_view text);
// The machine's narrow text (UTF-8) to wide text.
std::wstring tk_to_unicode(std::string_view text);
// Text in the given code page to wide text; -1 and 65001 are UTF-8.
// Raises "Cannot convert to UNICODE string: " for an unknown code page.
std::wstring tk_to_unicode(std::string_view text, int code_page);
// The same text as UTF-8, the bytes tk_to_utf8 gives for that wide text,
// made without it: a long text is then held in its UTF-8 alone.
std::string tk_code_page_to_utf8(std::string_view text, int code_page);

// The C-string forms. A null text gives false and leaves out alone;
// otherwise out receives a new NUL-terminated buffer with the converted text.
bool tk_to_ansi_buf(const wchar_t* text, std::unique_ptr<char[]>& out);
bool tk_to_unicode_buf(const char* text, std::unique_ptr<wchar_t[]>& out);

// The ICU name of a code page, or null when this system does not know it.
// -1 and 65001 (UTF-8) are handled by the toolkit's own codec and give
// "UTF-8".
const char* tk_code_page_name(int code_page);

// Trimming: only the blank (' ') counts; tabs and line breaks stay.
std::string tk_trim_left(const std::string& text);
std::string tk_trim_right(const std::string& text);
std::string tk_trim(const std::string& text);
std::wstring tk_trim_left(const std::wstring& text);
std::wstring tk_trim_right(const std::wstring& text);
std::wstring tk_trim(const std::wstring& text);

// The "C" locale's case of one character: only A-Z and a-z change.
template <typename C>
constexpr C tk_ascii_lower(C c)
{
    return (c >= C('A') && c <= C('Z')) ? static_cast<C>(c + (C('a') - C('A'))) : c;
}
template <typename C>
constexpr C tk_ascii_upper(C c)
{
    return (c >= C('a') && c <= C('z')) ? static_cast<C>(c - (C('a') - C('A'))) : c;
}
// Whether two texts are equal when only the ASCII letters' case is ignored
// (keywords, tags, month names); every other byte must match exactly.
bool tk_ascii_equal_no_case(std::string_view a, std::string_view b);

// Case-blind comparison: simple case folding per code point, then code-point
// order, so "ß" and "ss" stay apart. Gives -1, 0 or 1. Both texts are taken
// up to their first NUL. The narrow form reads UTF-8.
int tk_compare_no_case(std::wstring_view a, std::wstring_view b);
int tk_compare_no_case(std::string_view a, std::string_view b);
// The folding tk_compare_no_case applies, code point by code point, up to the
// first NUL: two texts compare equal exactly when their foldings are equal.
// For keys folded once and then hashed or compared many times.
std::wstring tk_fold_case(std::wstring_view text);

// The pieces between separators, in order. Empty pieces stay (so a leading or
// trailing separator gives an empty first or last piece); an empty text gives
// no piece at all.
std::vector<std::string> tk_split_string(const std::string& text, char separator);

// Two hexadecimal digits per byte, high digit first, written from out on
// (upper case unless lower is set); gives the end of what was written. Inline,
// for the bytea fields of the COPY lines.
inline char* tk_write_hex(char* out, const unsigned char* bytes, std::size_t count, bool lower = false)
{
    const char* const digits = lower ? "0123456789abcdef" : "0123456789ABCDEF";
    for (std::size_t i = 0; i < count; ++i) {
        *out++ = digits[bytes[i] >> 4];
        *out++ = digits[bytes[i] & 0x0F];
    }
    return out;
}
// The same digits appended to out.
void tk_append_hex(std::string& out, const unsigned char* bytes, std::size_t count, bool lower = false);
// The upper-case digits as a text of their own. A null pointer gives an
// empty text.
std::string tk_bin_to_hex(const unsigned char* bytes, std::size_t count);

class tk_string : public std::string {
public:
    using std::string::string;
    using std::string::operator=;
    tk_string() = default;
    tk_string(const std::string& s) : std::string(s) {}
    tk_string(std::string&& s) noexcept : std::string(std::move(s)) {}

    // The case changes touch only the ASCII letters. They cut the string at
    // its first NUL, change it in place and return a copy.
    tk_string to_upper();
    tk_string to_lower();
    // Replaces out with the pieces of tk_split_string; always true.
    bool split(char separator, std::vector<std::string>& out) const;
    // tk_compare_no_case of this string and other: -1, 0 or 1.
    int compare_no_case(const std::string& other) const;
};

class tk_wstring : public std::wstring {
public:
    using std::wstring::wstring;
    using std::wstring::operator=;
    tk_wstring() = default;
    tk_wstring(const std::wstring& s) : std::wstring(s) {}
    tk_wstring(std::wstring&& s) noexcept : std::wstring(std::move(s)) {}

    // ASCII letters only; cuts at the first NUL, changes in place and
    // returns a copy.
    tk_wstring to_lower();
    // Replaces every occurrence of pattern, searching on after each inserted
    // replacement (which is never searched again). An empty pattern leaves
    // the text unchanged. Changes in place and returns a copy.
    std::wstring replace_all(const std::wstring& pattern, const std::wstring& replacement);
    // tk_compare_no_case of this string and other: -1, 0 or 1.
    int compare_no_case(const std::wstring& other) const;
};
