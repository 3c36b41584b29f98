#include "tk_unicode.h"

namespace {

constexpr char32_t replacement = 0xFFFD;

bool is_surrogate(char32_t c) { return c >= 0xD800 && c <= 0xDFFF; }

}  // namespace

void tk_append_utf8(std::string& out, char32_t c)
{
    if (c < 0x80) {
        out.push_back(static_cast<char>(c));
        return;
    }
    if (is_surrogate(c) || c > 0x10FFFF)
        c = replacement;
    if (c < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (c >> 6)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (c >> 12)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (c >> 18)));
        out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

std::string tk_wide_to_utf8(std::wstring_view text)
{
    std::string out;
    out.reserve(text.size());
    std::size_t i = 0;
    const std::size_t n = text.size();
    while (i < n) {
        // ASCII runs are copied without per-character branching on width.
        while (i < n && static_cast<std::uint32_t>(text[i]) < 0x80)
            out.push_back(static_cast<char>(text[i++]));
        if (i < n)
            tk_append_utf8(out, static_cast<char32_t>(static_cast<std::uint32_t>(text[i++])));
    }
    return out;
}

namespace {

// One character of UTF-8 at s[i]: its code point and the index after it, or
// false with the index after its maximal ill-formed subpart. The length and
// the allowed range of the second byte follow Unicode's table 3-7, so overlong
// forms and surrogates are refused at their first bytes.
bool utf8_step(const unsigned char* s, std::size_t n, std::size_t& i, char32_t& c)
{
    unsigned char b = s[i];
    if (b < 0x80) {
        c = b;
        ++i;
        return true;
    }
    int len = 0;
    unsigned char lo = 0x80, hi = 0xBF;
    c = 0;
    if (b >= 0xC2 && b <= 0xDF) { len = 2; c = b & 0x1F; }
    else if (b == 0xE0) { len = 3; c = b & 0x0F; lo = 0xA0; }
    else if (b >= 0xE1 && b <= 0xEC) { len = 3; c = b & 0x0F; }
    else if (b == 0xED) { len = 3; c = b & 0x0F; hi = 0x9F; }
    else if (b >= 0xEE && b <= 0xEF) { len = 3; c = b & 0x0F; }
    else if (b == 0xF0) { len = 4; c = b & 0x07; lo = 0x90; }
    else if (b >= 0xF1 && b <= 0xF3) { len = 4; c = b & 0x07; }
    else if (b == 0xF4) { len = 4; c = b & 0x07; hi = 0x8F; }
    else {
        ++i;
        return false;
    }
    std::size_t j = i + 1;
    for (int k = 1; k < len; ++k, ++j) {
        if (j >= n) {
            i = j;
            return false;
        }
        unsigned char t = s[j];
        unsigned char l = (k == 1) ? lo : 0x80;
        unsigned char h = (k == 1) ? hi : 0xBF;
        if (t < l || t > h) {
            i = j > i + 1 ? j : i + 1;
            return false;
        }
        c = (c << 6) | (t & 0x3F);
    }
    i = j;
    return true;
}

}  // namespace

std::wstring tk_utf8_to_wide(std::string_view text)
{
    std::wstring out;
    out.reserve(text.size());
    const auto* s = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t n = text.size();
    std::size_t i = 0;
    while (i < n) {
        char32_t c = 0;
        out.push_back(static_cast<wchar_t>(utf8_step(s, n, i, c) ? c : replacement));
    }
    return out;
}

bool tk_utf8_well_formed(std::string_view text)
{
    const auto* s = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t n = text.size();
    std::size_t i = 0;
    char32_t c = 0;
    while (i < n) {
        // ASCII runs are the usual case of a long text.
        if (s[i] < 0x80) {
            ++i;
            continue;
        }
        if (!utf8_step(s, n, i, c))
            return false;
    }
    return true;
}

namespace {

template <typename Next>
std::wstring utf16_to_wide(std::size_t units, Next next)
{
    std::wstring out;
    out.reserve(units);
    std::size_t i = 0;
    while (i < units) {
        char32_t u = next(i++);
        if (u >= 0xD800 && u <= 0xDBFF) {
            if (i < units) {
                char32_t v = next(i);
                if (v >= 0xDC00 && v <= 0xDFFF) {
                    ++i;
                    out.push_back(static_cast<wchar_t>(0x10000 + ((u - 0xD800) << 10) + (v - 0xDC00)));
                    continue;
                }
            }
            out.push_back(static_cast<wchar_t>(replacement));
        } else if (u >= 0xDC00 && u <= 0xDFFF) {
            out.push_back(static_cast<wchar_t>(replacement));
        } else {
            out.push_back(static_cast<wchar_t>(u));
        }
    }
    return out;
}

}  // namespace

std::wstring tk_utf16be_to_wstring(const std::uint8_t* bytes, std::size_t count)
{
    if (!bytes)
        return {};
    return utf16_to_wide(count / 2, [bytes](std::size_t k) {
        return static_cast<char32_t>((bytes[2 * k] << 8) | bytes[2 * k + 1]);
    });
}

std::wstring tk_utf16le_to_wstring(const std::uint8_t* bytes, std::size_t count)
{
    if (!bytes)
        return {};
    return utf16_to_wide(count / 2, [bytes](std::size_t k) {
        return static_cast<char32_t>(bytes[2 * k] | (bytes[2 * k + 1] << 8));
    });
}

std::wstring tk_u16_to_wstring(std::u16string_view text)
{
    return utf16_to_wide(text.size(), [text](std::size_t k) { return static_cast<char32_t>(text[k]); });
}

std::u16string tk_wstring_to_u16(std::wstring_view text)
{
    std::u16string out;
    out.reserve(text.size());
    for (wchar_t w : text) {
        auto c = static_cast<char32_t>(static_cast<std::uint32_t>(w));
        if (is_surrogate(c) || c > 0x10FFFF) {
            out.push_back(static_cast<char16_t>(replacement));
        } else if (c >= 0x10000) {
            c -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(c));
        }
    }
    return out;
}

std::size_t tk_utf8_length(std::string_view text)
{
    std::size_t n = 0;
    for (char ch : text)
        if ((static_cast<unsigned char>(ch) & 0xC0) != 0x80)
            ++n;
    return n;
}

std::size_t tk_utf8_cut(std::string_view text, std::size_t max_bytes)
{
    if (text.size() <= max_bytes)
        return text.size();
    std::size_t cut = max_bytes;
    // Step back over continuation bytes to the start of the cut character.
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80)
        --cut;
    return cut;
}

bool tk_drop_utf8_bom(std::string_view& text)
{
    constexpr std::string_view mark = "\xEF\xBB\xBF";
    if (text.substr(0, mark.size()) != mark)
        return false;
    text.remove_prefix(mark.size());
    return true;
}
