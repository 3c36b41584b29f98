#include "tk_string.h"

#include "tk_exception.h"
#include "tk_format.h"
#include "tk_logger.h"
#include "tk_unicode.h"

#include <unicode/uchar.h>
#include <unicode/ucnv.h>
#include <unicode/ucnv_cb.h>
#include <unicode/ucnv_err.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <utility>

namespace {

const char* const to_ansi_text = "Cannot convert to ANSI string: ";
const char* const to_unicode_text = "Cannot convert to UNICODE string: ";

constexpr int utf8_code_page = 65001;
constexpr int machine_code_page = -1;

template <typename C>
std::basic_string_view<C> up_to_nul(std::basic_string_view<C> text)
{
    const auto nul = text.find(C(0));
    return nul == std::basic_string_view<C>::npos ? text : text.substr(0, nul);
}

// ---------------------------------------------------------------------------
// Code pages

struct code_page_entry {
    int code_page;
    const char* name;
};

// Every code page the dump reader's character sets can name. Each name opens
// in the ICU that Debian ships; several "cpNNNNN" aliases do not, which is why
// the names are spelled out.
const code_page_entry code_pages[] = {
    {0, "windows-1252"},  // dump text whose character set has no code page
    {20127, "us-ascii"},
    {28591, "iso-8859-1"},
    {28592, "iso-8859-2"},
    {28593, "iso-8859-3"},
    {28594, "iso-8859-4"},
    {28595, "iso-8859-5"},
    {28596, "iso-8859-6"},
    {28597, "iso-8859-7"},
    {28598, "iso-8859-8"},
    {28599, "iso-8859-9"},
    {38598, "iso-8859-8-i"},
    {28603, "iso-8859-13"},
    {28605, "iso-8859-15"},
    {1250, "windows-1250"},
    {1251, "windows-1251"},
    {1252, "windows-1252"},
    {1253, "windows-1253"},
    {1254, "windows-1254"},
    {1255, "windows-1255"},
    {1256, "windows-1256"},
    {1257, "windows-1257"},
    {1258, "windows-1258"},
    {866, "ibm-866"},
    {949, "windows-949"},
    {874, "windows-874"},
    {437, "ibm-437"},
    {20866, "koi8-r"},
    {21866, "koi8-u"},
    {20277, "ibm-277"},
    {10000, "macintosh"},
    {720, "ibm-720"},
    {20932, "euc-jp"},
    {932, "windows-31j"},
    {51949, "euc-kr"},
    {54936, "gb18030"},
    {950, "windows-950"},
    {850, "ibm-850"},
};

bool is_utf8(int code_page) { return code_page == machine_code_page || code_page == utf8_code_page; }

void close_converter(UConverter* c)
{
    if (c)
        ucnv_close(c);
}

using converter_ptr = std::unique_ptr<UConverter, decltype(&close_converter)>;

// Bytes that a code page cannot decode become U+FFFD. ICU's own substitute
// writes U+001A for some converters (Shift-JIS, EUC-KR), which would pass
// for a control character in the database.
void U_CALLCONV to_unicode_replace(const void*, UConverterToUnicodeArgs* args, const char*, int32_t,
                                   UConverterCallbackReason reason, UErrorCode* err)
{
    if (reason > UCNV_IRREGULAR)
        return;  // reset, close, clone: nothing to write
    static const UChar replacement = 0xFFFD;
    *err = U_ZERO_ERROR;
    ucnv_cbToUWriteUChars(args, &replacement, 1, 0, err);
}

struct converter {
    int code_page;
    converter_ptr conv;
    // Whether bytes 0x01..0x7F and the code points U+0001..U+007F map onto
    // each other unchanged, so pure ASCII text can skip ICU. Not every code
    // page here is ASCII-based (ibm-277 is EBCDIC), and the IBM PC pages
    // move a few control characters.
    bool ascii_to_unicode;
    bool ascii_from_unicode;
};

[[noreturn]] void raise_open_failure(const char* text, const char* name, UErrorCode err)
{
    throw tk_exception_ex(text, 0, static_cast<int>(err),
                          tk_format("cannot open the converter %s: %s", name, u_errorName(err)));
}

bool all_ascii(std::string_view text)
{
    for (char c : text)
        if (static_cast<unsigned char>(c) >= 0x80)
            return false;
    return true;
}

bool all_ascii(std::wstring_view text)
{
    for (wchar_t c : text)
        if (static_cast<std::uint32_t>(c) >= 0x80)
            return false;
    return true;
}

std::u16string icu_to_unicode(UConverter* conv, std::string_view text, const char* failure_text);
std::string icu_from_unicode(UConverter* conv, std::u16string_view text, const char* failure_text);

void check_ascii_identity(converter& c)
{
    std::string bytes;
    std::wstring wide;
    for (int i = 1; i < 0x80; ++i) {
        bytes.push_back(static_cast<char>(i));
        wide.push_back(static_cast<wchar_t>(i));
    }
    const std::u16string units = tk_wstring_to_u16(wide);
    c.ascii_to_unicode = icu_to_unicode(c.conv.get(), bytes, to_unicode_text) == units;
    c.ascii_from_unicode = icu_from_unicode(c.conv.get(), units, to_ansi_text) == bytes;
}

converter open_converter(int code_page, const char* failure_text)
{
    const char* name = tk_code_page_name(code_page);
    if (!name)
        throw tk_exception_ex(failure_text, 0, EINVAL, tk_format("unknown code page %d", code_page));
    UErrorCode err = U_ZERO_ERROR;
    // An ambiguous alias is a warning, not a failure: U_FAILURE ignores it.
    converter c{code_page, converter_ptr(ucnv_open(name, &err), &close_converter), false, false};
    if (U_FAILURE(err) || !c.conv)
        raise_open_failure(failure_text, name, U_FAILURE(err) ? err : U_MISSING_RESOURCE_ERROR);
    ucnv_setToUCallBack(c.conv.get(), to_unicode_replace, nullptr, nullptr, nullptr, &err);
    if (U_SUCCESS(err))
        ucnv_setFromUCallBack(c.conv.get(), UCNV_FROM_U_CALLBACK_SUBSTITUTE, nullptr, nullptr, nullptr, &err);
    // ICU's default substitute for windows-1252 and others is 0x1A; the
    // platform convention, and what a reader expects, is '?'.
    if (U_SUCCESS(err))
        ucnv_setSubstChars(c.conv.get(), "?", 1, &err);
    if (U_FAILURE(err))
        raise_open_failure(failure_text, name, err);
    check_ascii_identity(c);
    return c;
}

// A UConverter is not thread-safe and opening one is far too slow to do per
// value, so each thread keeps one per code page for its lifetime.
struct converter_cache {
    std::vector<converter> items;
    std::size_t last = 0;

    converter& get(int code_page, const char* failure_text)
    {
        if (last < items.size() && items[last].code_page == code_page)
            return items[last];
        for (std::size_t i = 0; i < items.size(); ++i) {
            if (items[i].code_page == code_page) {
                last = i;
                return items[i];
            }
        }
        items.push_back(open_converter(code_page, failure_text));
        last = items.size() - 1;
        return items[last];
    }
};

converter& thread_converter(int code_page, const char* failure_text)
{
    thread_local converter_cache cache;
    return cache.get(code_page, failure_text);
}

[[noreturn]] void raise_conversion_failure(UConverter* conv, const char* text, UErrorCode err)
{
    UErrorCode name_err = U_ZERO_ERROR;
    const char* name = ucnv_getName(conv, &name_err);
    throw tk_exception_ex(text, 0, static_cast<int>(err),
                          tk_format("%s: %s", U_SUCCESS(name_err) && name ? name : "?", u_errorName(err)));
}

// ICU's streaming calls, with the output grown whenever it fills, so no
// estimate of the room can be wrong.
std::u16string icu_to_unicode(UConverter* conv, std::string_view text, const char* failure_text)
{
    ucnv_resetToUnicode(conv);
    std::u16string out(text.size() + 8, u'\0');
    const char* source = text.data();
    const char* const source_end = text.data() + text.size();
    std::size_t used = 0;
    for (;;) {
        UChar* const start = out.data() + used;
        UChar* target = start;
        UErrorCode err = U_ZERO_ERROR;
        ucnv_toUnicode(conv, &target, out.data() + out.size(), &source, source_end, nullptr, true, &err);
        used += static_cast<std::size_t>(target - start);
        if (err == U_BUFFER_OVERFLOW_ERROR) {
            out.resize(out.size() * 2);
            continue;
        }
        if (U_FAILURE(err))
            raise_conversion_failure(conv, failure_text, err);
        break;
    }
    out.resize(used);
    return out;
}

std::string icu_from_unicode(UConverter* conv, std::u16string_view text, const char* failure_text)
{
    ucnv_resetFromUnicode(conv);
    std::string out(text.size() * 2 + 8, '\0');
    const UChar* source = text.data();
    const UChar* const source_end = text.data() + text.size();
    std::size_t used = 0;
    for (;;) {
        char* const start = out.data() + used;
        char* target = start;
        UErrorCode err = U_ZERO_ERROR;
        ucnv_fromUnicode(conv, &target, out.data() + out.size(), &source, source_end, nullptr, true, &err);
        used += static_cast<std::size_t>(target - start);
        if (err == U_BUFFER_OVERFLOW_ERROR) {
            out.resize(out.size() * 2);
            continue;
        }
        if (U_FAILURE(err))
            raise_conversion_failure(conv, failure_text, err);
        break;
    }
    out.resize(used);
    return out;
}

std::wstring widen_ascii(std::string_view text)
{
    std::wstring out(text.size(), L'\0');
    std::transform(text.begin(), text.end(), out.begin(),
                   [](char c) { return static_cast<wchar_t>(static_cast<unsigned char>(c)); });
    return out;
}

std::string narrow_ascii(std::wstring_view text)
{
    std::string out(text.size(), '\0');
    std::transform(text.begin(), text.end(), out.begin(), [](wchar_t c) { return static_cast<char>(c); });
    return out;
}

// ---------------------------------------------------------------------------
// Trimming, case and comparison

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

// The "C" locale's case change: only A-Z and a-z move.
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

// ---------------------------------------------------------------------------
// Conversions

const char* tk_code_page_name(int code_page)
{
    if (is_utf8(code_page))
        return "UTF-8";
    for (const auto& e : code_pages)
        if (e.code_page == code_page)
            return e.name;
    return nullptr;
}

std::string tk_to_utf8(std::wstring_view text)
{
    return tk_wide_to_utf8(up_to_nul(text));
}

std::string tk_to_ansi(std::wstring_view text, int code_page)
{
    text = up_to_nul(text);
    if (is_utf8(code_page))
        return tk_wide_to_utf8(text);
    converter& c = thread_converter(code_page, to_ansi_text);
    if (c.ascii_from_unicode && all_ascii(text))
        return narrow_ascii(text);
    return icu_from_unicode(c.conv.get(), tk_wstring_to_u16(text), to_ansi_text);
}

std::wstring tk_utf8_to_unicode(std::string_view text)
{
    return tk_utf8_to_wide(up_to_nul(text));
}

std::wstring tk_to_unicode(std::string_view text)
{
    return tk_utf8_to_wide(up_to_nul(text));
}

std::wstring tk_to_unicode(std::string_view text, int code_page)
{
    text = up_to_nul(text);
    if (is_utf8(code_page))
        return tk_utf8_to_wide(text);
    converter& c = thread_converter(code_page, to_unicode_text);
    if (c.ascii_to_unicode && all_ascii(text))
        return widen_ascii(text);
    return tk_u16_to_wstring(icu_to_unicode(c.conv.get(), text, to_unicode_text));
}

bool tk_to_ansi_buf(const wchar_t* text, std::unique_ptr<char[]>& out)
{
    if (!text)
        return false;
    const std::string s = tk_wide_to_utf8(std::wstring_view(text));
    auto buf = std::make_unique<char[]>(s.size() + 1);
    std::copy(s.begin(), s.end(), buf.get());
    buf[s.size()] = '\0';
    out = std::move(buf);
    return true;
}

bool tk_to_unicode_buf(const char* text, std::unique_ptr<wchar_t[]>& out)
{
    if (!text)
        return false;
    const std::wstring s = tk_utf8_to_wide(std::string_view(text));
    auto buf = std::make_unique<wchar_t[]>(s.size() + 1);
    std::copy(s.begin(), s.end(), buf.get());
    buf[s.size()] = L'\0';
    out = std::move(buf);
    return true;
}

// ---------------------------------------------------------------------------
// Helpers

std::string tk_trim_left(const std::string& text) { return trim_left(text); }
std::string tk_trim_right(const std::string& text) { return trim_right(text); }
std::string tk_trim(const std::string& text) { return trim_left(trim_right(text)); }
std::wstring tk_trim_left(const std::wstring& text) { return trim_left(text); }
std::wstring tk_trim_right(const std::wstring& text) { return trim_right(text); }
std::wstring tk_trim(const std::wstring& text) { return trim_left(trim_right(text)); }

int tk_compare_no_case(std::wstring_view a, std::wstring_view b)
{
    return compare_folded(up_to_nul(a), up_to_nul(b));
}

int tk_compare_no_case(std::string_view a, std::string_view b)
{
    a = up_to_nul(a);
    b = up_to_nul(b);
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

std::string tk_bin_to_hex(const unsigned char* bytes, std::size_t count)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    if (!bytes)
        return out;
    out.resize(2 * count);
    for (std::size_t i = 0; i < count; ++i) {
        out[2 * i] = digits[bytes[i] >> 4];
        out[2 * i + 1] = digits[bytes[i] & 0x0F];
    }
    return out;
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

std::wstring tk_fold_case(std::wstring_view text)
{
    text = up_to_nul(text);
    std::wstring folded(text.size(), L'\0');
    for (std::size_t i = 0; i < text.size(); ++i)
        folded[i] = static_cast<wchar_t>(fold(static_cast<char32_t>(static_cast<std::uint32_t>(text[i]))));
    return folded;
}
