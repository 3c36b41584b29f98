// Text conversions between wide text, UTF-8 and the 8-bit code pages of
// dump text, through ICU with one converter per thread and code page.
#include "tk_string.h"

#include "tk_exception.h"
#include "tk_format.h"
#include "tk_logger.h"
#include "tk_unicode.h"

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

// One of ICU's streaming calls (ucnv_toUnicode or ucnv_fromUnicode) over the
// whole text, with the output grown whenever it fills, so no estimate of the
// room can be wrong.
template <typename Out, typename In, typename Convert>
Out icu_convert(UConverter* conv, In text, std::size_t first_room, const char* failure_text, Convert convert)
{
    Out out(first_room, typename Out::value_type(0));
    const typename In::value_type* source = text.data();
    const typename In::value_type* const source_end = text.data() + text.size();
    std::size_t used = 0;
    for (;;) {
        typename Out::value_type* const start = out.data() + used;
        typename Out::value_type* target = start;
        UErrorCode err = U_ZERO_ERROR;
        convert(conv, &target, out.data() + out.size(), &source, source_end, nullptr, true, &err);
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

std::u16string icu_to_unicode(UConverter* conv, std::string_view text, const char* failure_text)
{
    ucnv_resetToUnicode(conv);
    return icu_convert<std::u16string>(conv, text, text.size() + 8, failure_text, ucnv_toUnicode);
}

std::string icu_from_unicode(UConverter* conv, std::u16string_view text, const char* failure_text)
{
    ucnv_resetFromUnicode(conv);
    return icu_convert<std::string>(conv, text, text.size() * 2 + 8, failure_text, ucnv_fromUnicode);
}

// Each code point of code-page text, through a fixed buffer of UTF-16 units
// so that a long text is never held as UTF-16 as well. A surrogate pair may
// be split between two fills of the buffer; a lone surrogate is U+FFFD.
template <typename Emit>
void icu_each_code_point(UConverter* conv, std::string_view text, const char* failure_text, Emit emit)
{
    constexpr std::size_t room = 16384;
    char16_t units[room];
    ucnv_resetToUnicode(conv);
    const char* source = text.data();
    const char* const source_end = text.data() + text.size();
    char16_t high = 0;
    for (;;) {
        char16_t* target = units;
        UErrorCode err = U_ZERO_ERROR;
        ucnv_toUnicode(conv, &target, units + room, &source, source_end, nullptr, true, &err);
        const std::size_t n = static_cast<std::size_t>(target - units);
        for (std::size_t i = 0; i < n; ++i) {
            const char16_t u = units[i];
            if (high != 0) {
                if (u >= 0xDC00 && u <= 0xDFFF) {
                    emit(static_cast<char32_t>(0x10000 + ((high - 0xD800) << 10) + (u - 0xDC00)));
                    high = 0;
                    continue;
                }
                emit(char32_t(0xFFFD));
                high = 0;
            }
            if (u >= 0xD800 && u <= 0xDBFF)
                high = u;
            else if (u >= 0xDC00 && u <= 0xDFFF)
                emit(char32_t(0xFFFD));
            else
                emit(static_cast<char32_t>(u));
        }
        if (err == U_BUFFER_OVERFLOW_ERROR)
            continue;
        if (U_FAILURE(err))
            raise_conversion_failure(conv, failure_text, err);
        break;
    }
    if (high != 0)
        emit(char32_t(0xFFFD));
}

// Code-page text to wide text. The result gets its room once: the byte
// count for a code page of one byte a character, otherwise the code points
// that a first pass counts.
std::wstring icu_to_wide(UConverter* conv, std::string_view text, const char* failure_text)
{
    std::size_t count = text.size();
    if (ucnv_getMaxCharSize(conv) > 1) {
        count = 0;
        icu_each_code_point(conv, text, failure_text, [&](char32_t) { ++count; });
    }
    std::wstring out;
    out.reserve(count);
    icu_each_code_point(conv, text, failure_text, [&](char32_t c) { out.push_back(static_cast<wchar_t>(c)); });
    return out;
}

// Code-page text to UTF-8, with the code points icu_to_wide gives. A first
// pass counts the UTF-8 bytes, so that the result gets its room once and in
// its size.
std::string icu_to_utf8(UConverter* conv, std::string_view text, const char* failure_text)
{
    std::size_t count = 0;
    icu_each_code_point(conv, text, failure_text,
                        [&](char32_t c) { count += c < 0x80 ? 1 : c < 0x800 ? 2 : c < 0x10000 ? 3 : 4; });
    std::string out;
    out.reserve(count);
    icu_each_code_point(conv, text, failure_text, [&](char32_t c) {
        if (c < 0x80)
            out.push_back(static_cast<char>(c));
        else
            tk_append_utf8(out, c);
    });
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
    return tk_wide_to_utf8(tk_up_to_nul(text));
}

std::string tk_to_ansi(std::wstring_view text, int code_page)
{
    text = tk_up_to_nul(text);
    if (is_utf8(code_page))
        return tk_wide_to_utf8(text);
    converter& c = thread_converter(code_page, to_ansi_text);
    if (c.ascii_from_unicode && all_ascii(text))
        return narrow_ascii(text);
    return icu_from_unicode(c.conv.get(), tk_wstring_to_u16(text), to_ansi_text);
}

std::wstring tk_utf8_to_unicode(std::string_view text)
{
    return tk_utf8_to_wide(tk_up_to_nul(text));
}

std::wstring tk_to_unicode(std::string_view text)
{
    // The machine's narrow text is UTF-8.
    return tk_utf8_to_unicode(text);
}

std::wstring tk_to_unicode(std::string_view text, int code_page)
{
    text = tk_up_to_nul(text);
    if (is_utf8(code_page))
        return tk_utf8_to_wide(text);
    converter& c = thread_converter(code_page, to_unicode_text);
    if (c.ascii_to_unicode && all_ascii(text))
        return widen_ascii(text);
    return icu_to_wide(c.conv.get(), text, to_unicode_text);
}

std::string tk_code_page_to_utf8(std::string_view text, int code_page)
{
    text = tk_up_to_nul(text);
    if (is_utf8(code_page))
        return tk_wide_to_utf8(tk_utf8_to_wide(text));
    converter& c = thread_converter(code_page, to_unicode_text);
    if (c.ascii_to_unicode && all_ascii(text))
        return std::string(text);
    return icu_to_utf8(c.conv.get(), text, to_unicode_text);
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
