#include "tk_exception.h"
#include "tk_string.h"
#include "tk_unicode.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::string_literals;

// Shows wide text readably in failure messages: ASCII as it is, the rest as
// U+XXXX.
std::string show(const std::wstring& w)
{
    std::string s;
    for (wchar_t c : w) {
        const auto u = static_cast<std::uint32_t>(c);
        if (u >= 0x20 && u < 0x7F) {
            s.push_back(static_cast<char>(u));
        } else {
            static const char digits[] = "0123456789ABCDEF";
            s += "<U+";
            for (int shift = (u > 0xFFFF ? 20 : 12); shift >= 0; shift -= 4)
                s.push_back(digits[(u >> shift) & 0xF]);
            s += ">";
        }
    }
    return s;
}

std::string hex(const std::string& bytes)
{
    return tk_bin_to_hex(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
}

std::string pieces(const std::vector<std::string>& v)
{
    std::string s;
    for (const auto& p : v)
        s += "[" + p + "]";
    return s;
}

struct text_case {
    const char* name;
    std::function<std::string()> run;
    std::string expected;
};

}  // namespace

TEST(TkString, HelpersEdgeCases)
{
    const unsigned char bytes[] = {0x00, 0x7F, 0xFF};
    const text_case cases[] = {
        {"utf8 of empty", [] { return tk_to_utf8(L""); }, ""},
        {"utf8 of e-acute", [] { return hex(tk_to_utf8(L"\u00E9")); }, "C3A9"},
        {"utf8 stops at NUL", [] { return tk_to_utf8(L"ab\0cd"s); }, "ab"},
        {"ansi stops at NUL", [] { return tk_to_ansi(L"ab\0cd"s, -1); }, "ab"},
        {"unicode stops at NUL", [] { return show(tk_to_unicode("ab\0cd"s)); }, "ab"},
        {"code page stops at NUL", [] { return show(tk_to_unicode("ab\0cd"s, 1251)); }, "ab"},
        {"utf8 to unicode stops at NUL", [] { return show(tk_utf8_to_unicode("\xC3\xA9\0x"s)); }, "<U+00E9>"},
        {"trim inner blank stays", [] { return tk_trim("  a b  "); }, "a b"},
        {"trim blanks only", [] { return tk_trim("    "); }, ""},
        {"trim keeps tab", [] { return tk_trim("\ta "); }, "\ta"},
        {"trim keeps line break", [] { return tk_trim(" a\n"); }, "a\n"},
        {"trim_left", [] { return tk_trim_left("  a  "); }, "a  "},
        {"trim_right", [] { return tk_trim_right("  a  "); }, "  a"},
        {"wide trim", [] { return show(tk_trim(std::wstring(L"  \u00E9 b  "))); }, "<U+00E9> b"},
        {"wide trim blanks only", [] { return show(tk_trim(std::wstring(L"    "))); }, ""},
        {"wide trim keeps tab", [] { return show(tk_trim(std::wstring(L"\ta "))); }, "<U+0009>a"},
        {"wide trim_left", [] { return show(tk_trim_left(std::wstring(L"  a  "))); }, "a  "},
        {"wide trim_right", [] { return show(tk_trim_right(std::wstring(L"  a  "))); }, "  a"},
        {"split inner empty", [] { return pieces(tk_split_string("a,,b", ',')); }, "[a][][b]"},
        {"split trailing", [] { return pieces(tk_split_string("a,", ',')); }, "[a][]"},
        {"split leading", [] { return pieces(tk_split_string(",a", ',')); }, "[][a]"},
        {"split empty text", [] { return pieces(tk_split_string("", ',')); }, ""},
        {"split single", [] { return pieces(tk_split_string("abc", ',')); }, "[abc]"},
        {"split separator only", [] { return pieces(tk_split_string(",", ',')); }, "[][]"},
        {"to_upper keeps sharp s", [] { return tk_string("Stra\xC3\x9F" "e").to_upper(); }, "STRA\xC3\x9F" "E"},
        {"to_lower ASCII only", [] { return tk_string("\xC3\x89T\xC3\x89").to_lower(); }, "\xC3\x89t\xC3\x89"},
        {"to_upper stops at NUL", [] { return tk_string("ab\0cd"s).to_upper(); }, "AB"},
        {"to_upper of empty", [] { return tk_string().to_upper(); }, ""},
        {"wide to_lower ASCII only", [] { return show(tk_wstring(L"\u00C0BC").to_lower()); }, "<U+00C0>bc"},
        {"wide to_lower stops at NUL", [] { return show(tk_wstring(L"AB\0CD"s).to_lower()); }, "ab"},
        {"replace_all does not search the replacement",
         [] { return show(tk_wstring(L"aaa").replace_all(L"a", L"aa")); }, "aaaaaa"},
        {"replace_all to shorter", [] { return show(tk_wstring(L"a--b--").replace_all(L"--", L"-")); }, "a-b-"},
        {"replace_all to nothing", [] { return show(tk_wstring(L"xaxbx").replace_all(L"x", L"")); }, "ab"},
        {"replace_all empty pattern", [] { return show(tk_wstring(L"abc").replace_all(L"", L"x")); }, "abc"},
        {"bin_to_hex", [&] { return tk_bin_to_hex(bytes, 3); }, "007FFF"},
        {"bin_to_hex of nothing", [&] { return tk_bin_to_hex(bytes, 0); }, ""},
        {"bin_to_hex of null", [] { return tk_bin_to_hex(nullptr, 5); }, ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.run(), c.expected) << c.name;
}

TEST(TkString, CaseChangesWorkInPlaceAndReturnTheResult)
{
    tk_string s("MiXeD 1");
    EXPECT_EQ(s.to_lower(), "mixed 1");
    EXPECT_EQ(s, "mixed 1");
    EXPECT_EQ(s.to_upper(), "MIXED 1");
    EXPECT_EQ(s, "MIXED 1");

    tk_wstring w(L"MiXeD");
    EXPECT_EQ(w.to_lower(), L"mixed");
    EXPECT_EQ(w, L"mixed");

    tk_wstring r(L"a.b.c");
    EXPECT_EQ(r.replace_all(L".", L"::"), L"a::b::c");
    EXPECT_EQ(r, L"a::b::c");

    std::vector<std::string> out{"old"};
    EXPECT_TRUE(tk_string("x;y").split(';', out));
    EXPECT_EQ(pieces(out), "[x][y]");
    EXPECT_TRUE(tk_string("").split(';', out));
    EXPECT_TRUE(out.empty());
}

TEST(TkString, CompareNoCase)
{
    struct cmp_case {
        std::wstring a, b;
        int expected;
    };
    const cmp_case cases[] = {
        {L"ABC", L"abc", 0},
        {L"\u1E9E", L"\u00DF", 0},           // capital sharp s folds to sharp s
        {L"\u03A3", L"\u03C2", 0},           // capital sigma and final sigma
        {L"\u03C3", L"\u03C2", 0},           // small sigma and final sigma
        {L"\u00DF", L"ss", 1},               // simple folding keeps sharp s apart
        {L"stra\u00DFe", L"STRASSE", 1},
        {L"\u00C9t\u00C9", L"\u00E9T\u00E9", 0},
        {L"\u0400", L"\u0450", 0},           // Cyrillic Ie with grave, both cases
        {L"a", L"B", -1},
        {L"B", L"a", 1},
        {L"ab", L"ABC", -1},
        {L"ABC", L"ab", 1},
        {L"", L"", 0},
        {L"", L"a", -1},
        {L"ab\0x"s, L"AB", 0},               // compared up to the first NUL
        {L"\U0001F600", L"\U0001F600", 0},
        {L"\U00010400", L"\U00010428", 0},   // Deseret, outside the BMP
    };
    for (const auto& c : cases) {
        const std::string a = tk_to_utf8(c.a), b = tk_to_utf8(c.b);
        const std::string label = show(c.a) + " / " + show(c.b);
        EXPECT_EQ(tk_compare_no_case(std::wstring_view(c.a), std::wstring_view(c.b)), c.expected) << label;
        EXPECT_EQ(tk_compare_no_case(std::wstring_view(c.b), std::wstring_view(c.a)), -c.expected) << label;
        EXPECT_EQ(tk_compare_no_case(std::string_view(a), std::string_view(b)), c.expected) << label;
        EXPECT_EQ(tk_compare_no_case(std::string_view(b), std::string_view(a)), -c.expected) << label;
        EXPECT_EQ(tk_wstring(c.a).compare_no_case(c.b), c.expected) << label;
        EXPECT_EQ(tk_string(a).compare_no_case(b), c.expected) << label;
    }
    // The narrow form's NUL cut happens on the bytes.
    EXPECT_EQ(tk_compare_no_case(std::string_view("ab\0x"s), std::string_view("AB")), 0);
    // Ill-formed UTF-8 compares as U+FFFD rather than failing.
    EXPECT_EQ(tk_compare_no_case(std::string_view("a\xFF"), std::string_view("A\xEF\xBF\xBD")), 0);
}

TEST(TkString, CodePageConversions)
{
    struct cp_case {
        const char* name;
        int code_page;
        std::string bytes;
        std::wstring wide;
        bool decode, encode;
    };
    const cp_case cases[] = {
        {"windows-1251 round trip", 1251, "\xCF\xF0\xE8\xE2\xE5\xF2", L"\u041F\u0440\u0438\u0432\u0435\u0442", true, true},
        {"windows-31j round trip", 932, "\x82\xA0", L"\u3042", true, true},
        {"windows-31j mixed", 932, "a\x82\xA0" "b", L"a\u3042b", true, true},
        {"windows-1252 euro", 1252, "\x80", L"\u20AC", true, true},
        {"code page 0 is windows-1252", 0, "\xE9", L"\u00E9", true, true},
        {"code page 0 euro", 0, "\x80", L"\u20AC", true, true},
        {"truncated Shift-JIS lead byte", 932, "a\x82", L"a\uFFFD", true, false},
        {"truncated EUC-KR lead byte", 51949, "a\xB0", L"a\uFFFD", true, false},
        {"windows-1252 lacks U+1F600", 1252, "?", L"\U0001F600", false, true},
        {"windows-1252 lacks hiragana", 1252, "a?b", L"a\u3042b", false, true},
        {"windows-1251 lacks e-acute", 1251, "?", L"\u00E9", false, true},
        {"lone surrogate in wide text", 1252, "?", std::wstring(1, static_cast<wchar_t>(0xD800)), false, true},
        {"EBCDIC is not ASCII", 20277, "\xC1\xC2", L"AB", true, true},
        {"koi8-r", 20866, "\xF0", L"\u041F", true, true},
        {"iso-8859-15 euro", 28605, "\xA4", L"\u20AC", true, true},
        {"gb18030 four-byte form", 54936, "\x81\x30\x81\x30", L"\u0080", true, true},
        {"gb18030 outside the BMP", 54936, "\x90\x30\x81\x30", L"\U00010000", true, true},
        {"UTF-8 code page", 65001, "\xC3\xA9\xF0\x9F\x98\x80", L"\u00E9\U0001F600", true, true},
        {"machine code page", -1, "\xC3\xA9", L"\u00E9", true, true},
        {"empty", 1251, "", L"", true, true},
    };
    for (const auto& c : cases) {
        if (c.decode) {
            EXPECT_EQ(show(tk_to_unicode(c.bytes, c.code_page)), show(c.wide)) << c.name;
        }
        if (c.encode) {
            EXPECT_EQ(hex(tk_to_ansi(c.wide, c.code_page)), hex(c.bytes)) << c.name;
        }
    }
}

TEST(TkString, UndecodableBytesNeverBecomeControlCharacters)
{
    // ICU's default substitute is U+001A for these converters.
    const std::pair<int, std::string> cases[] = {
        {932, "\x82"},         // lead byte without its trail
        {932, "\x85\x40"},     // unassigned double-byte code
        {932, "\xFF"},         // not a Shift-JIS byte
        {51949, "\xB0"},
        {51949, "\xFF\xFF"},
        {20932, "\x8E"},
        {20127, "\x80"},       // us-ascii has nothing above 0x7F
    };
    for (const auto& [cp, bytes] : cases) {
        // A blank is no trail byte in any of these, so it must survive.
        const std::wstring w = tk_to_unicode(bytes + " ", cp);
        EXPECT_EQ(w.find(L'\x1A'), std::wstring::npos) << cp << " " << hex(bytes) << " " << show(w);
        EXPECT_NE(w.find(L'\uFFFD'), std::wstring::npos) << cp << " " << hex(bytes) << " " << show(w);
        ASSERT_FALSE(w.empty());
        EXPECT_EQ(w.back(), L' ') << cp << " " << hex(bytes);
    }
}

TEST(TkString, EveryCodePageOpensAndAsciiShortcutMatchesTheConverter)
{
    const int code_pages[] = {0,     20127, 28591, 28592, 28593, 28594, 28595, 28596, 28597, 28598,
                              28599, 38598, 28603, 28605, 1250,  1251,  1252,  1253,  1254,  1255,
                              1256,  1257,  1258,  866,   949,   874,   437,   20866, 21866, 20277,
                              10000, 720,   20932, 932,   51949, 54936, 950,   850};
    std::string ascii;
    std::wstring wide_ascii;
    for (int i = 1; i < 0x80; ++i) {
        ascii.push_back(static_cast<char>(i));
        wide_ascii.push_back(static_cast<wchar_t>(i));
    }
    for (int cp : code_pages) {
        ASSERT_NE(tk_code_page_name(cp), nullptr) << cp;
        // A trailing non-ASCII character forces the text through ICU; its
        // ASCII part must come out as the pure-ASCII text does.
        const std::wstring fast = tk_to_unicode(ascii, cp);
        const std::wstring slow = tk_to_unicode(ascii + "\xA0", cp);
        ASSERT_EQ(fast.size(), ascii.size()) << cp;
        EXPECT_EQ(slow.substr(0, fast.size()), fast) << cp;

        const std::string fast_out = tk_to_ansi(wide_ascii, cp);
        const std::string slow_out = tk_to_ansi(wide_ascii + L"\u00E9", cp);
        EXPECT_EQ(slow_out.substr(0, fast_out.size()), fast_out) << cp;
        EXPECT_EQ(tk_to_unicode(fast_out, cp), wide_ascii) << cp;
    }
}

TEST(TkString, UnknownCodePageIsLevelZeroFailure)
{
    for (int cp : {12345, 20128, 65000, 1200, -2}) {
        try {
            tk_to_unicode("abc", cp);
            ADD_FAILURE() << "no failure for " << cp;
        } catch (const tk_exception_ex& e) {
            EXPECT_EQ(e.level, 0);
            EXPECT_NE(e.system_error, 0);
            EXPECT_EQ(e.message, "Cannot convert to UNICODE string: unknown code page " + std::to_string(cp));
        }
        try {
            tk_to_ansi(L"abc", cp);
            ADD_FAILURE() << "no failure for " << cp;
        } catch (const tk_exception_ex& e) {
            EXPECT_EQ(e.level, 0);
            EXPECT_EQ(e.message, "Cannot convert to ANSI string: unknown code page " + std::to_string(cp));
        }
    }
    EXPECT_EQ(tk_code_page_name(12345), nullptr);
}

TEST(TkString, InvalidUtf8BecomesReplacementCharacters)
{
    const std::pair<std::string, std::wstring> cases[] = {
        {"\xC3\x28", L"\uFFFD("},
        {"a\x80" "b", L"a\uFFFDb"},                 // lone continuation byte
        {"\xC0\xAF", L"\uFFFD\uFFFD"},              // overlong '/'
        {"\xE0\x80\xAF", L"\uFFFD\uFFFD\uFFFD"},    // overlong three-byte form
        {"\xED\xA0\x80", L"\uFFFD\uFFFD\uFFFD"},    // encoded surrogate
        {"\xF4\x90\x80\x80", L"\uFFFD\uFFFD\uFFFD\uFFFD"},  // above U+10FFFF
        {"\xE2\x82", L"\uFFFD"},                    // truncated at the end
        {"\xE2\x82" "a", L"\uFFFDa"},
        {"\xF0\x9F\x98\x80", L"\U0001F600"},
        {"\xC3\xA9\xE2\x82\xAC\xF4\x8F\xBF\xBF", L"\u00E9\u20AC\U0010FFFF"},
        {"", L""},
    };
    for (const auto& [bytes, wide] : cases) {
        // Well formed exactly where the reading needs no replacement.
        EXPECT_EQ(tk_utf8_well_formed(bytes), wide.find(L'\uFFFD') == std::wstring::npos) << hex(bytes);
        EXPECT_EQ(show(tk_utf8_to_unicode(bytes)), show(wide)) << hex(bytes);
        EXPECT_EQ(show(tk_to_unicode(bytes)), show(wide)) << hex(bytes);
        EXPECT_EQ(show(tk_to_unicode(bytes, 65001)), show(wide)) << hex(bytes);
    }
}

TEST(TkString, Utf16Codecs)
{
    const std::uint8_t be_pair[] = {0xD8, 0x3D, 0xDE, 0x00};
    const std::uint8_t le_pair[] = {0x3D, 0xD8, 0x00, 0xDE};
    const std::uint8_t be_lone[] = {0xD8, 0x3D, 0x00, 0x41};
    const std::uint8_t le_lone_low[] = {0x00, 0xDE, 0x41, 0x00};
    const std::uint8_t be_odd[] = {0x00, 0x41, 0x00};
    const std::uint8_t le_odd[] = {0x41, 0x00, 0x42};
    const std::uint8_t be_high_at_end[] = {0x00, 0x41, 0xD8, 0x3D};

    EXPECT_EQ(show(tk_utf16be_to_wstring(be_pair, 4)), show(L"\U0001F600"));
    EXPECT_EQ(show(tk_utf16le_to_wstring(le_pair, 4)), show(L"\U0001F600"));
    EXPECT_EQ(show(tk_u16_to_wstring(u"\xD83D\xDE00")), show(L"\U0001F600"));

    EXPECT_EQ(show(tk_utf16be_to_wstring(be_lone, 4)), show(L"\uFFFDA"));
    EXPECT_EQ(show(tk_utf16le_to_wstring(le_lone_low, 4)), show(L"\uFFFDA"));
    EXPECT_EQ(show(tk_utf16be_to_wstring(be_high_at_end, 4)), show(L"A\uFFFD"));
    EXPECT_EQ(show(tk_u16_to_wstring(u"\xDE00x")), show(L"\uFFFDx"));
    EXPECT_EQ(show(tk_u16_to_wstring(u"x\xD83D")), show(L"x\uFFFD"));

    EXPECT_EQ(show(tk_utf16be_to_wstring(be_odd, 3)), "A");
    EXPECT_EQ(show(tk_utf16le_to_wstring(le_odd, 3)), "A");

    EXPECT_EQ(tk_wstring_to_u16(L"\U0001F600a"), u"\xD83D\xDE00" u"a");
    EXPECT_EQ(tk_wstring_to_u16(std::wstring(1, static_cast<wchar_t>(0xDC00))), u"\xFFFD");
    EXPECT_EQ(tk_wstring_to_u16(std::wstring(1, static_cast<wchar_t>(0x110000))), u"\xFFFD");
    // Encoding a value beyond Unicode to UTF-8 gives U+FFFD too.
    EXPECT_EQ(hex(tk_to_utf8(std::wstring(1, static_cast<wchar_t>(0x110000)))), "EFBFBD");
}

TEST(TkString, OutputGrowsWithTheText)
{
    // Four UTF-8 bytes per character: more than any fixed room per UTF-16
    // unit would allow.
    const std::wstring faces(1000, static_cast<wchar_t>(0x1F600));
    const std::string utf8 = tk_to_utf8(faces);
    ASSERT_EQ(utf8.size(), 4000u);
    EXPECT_EQ(hex(utf8.substr(0, 4)), "F09F9880");
    EXPECT_EQ(tk_to_ansi(faces, -1), utf8);
    EXPECT_EQ(tk_utf8_to_unicode(utf8), faces);
    EXPECT_EQ(tk_to_unicode(utf8), faces);
    EXPECT_EQ(tk_to_unicode(utf8, 65001), faces);

    std::unique_ptr<char[]> narrow;
    ASSERT_TRUE(tk_to_ansi_buf(faces.c_str(), narrow));
    EXPECT_EQ(std::string(narrow.get()), utf8);
    std::unique_ptr<wchar_t[]> wide;
    ASSERT_TRUE(tk_to_unicode_buf(utf8.c_str(), wide));
    EXPECT_EQ(std::wstring(wide.get()), faces);

    // One '?' per missing character, not one per UTF-16 unit.
    EXPECT_EQ(tk_to_ansi(L"\U0001F600", 1252), "?");
    EXPECT_EQ(tk_to_ansi(faces, 0), std::string(1000, '?'));

    // gb18030 writes four bytes for one BMP character.
    const std::wstring controls(1000, L'\u0080');
    const std::string gb = tk_to_ansi(controls, 54936);
    ASSERT_EQ(gb.size(), 4000u);
    EXPECT_EQ(tk_to_unicode(gb, 54936), controls);
    const std::string sjis = tk_to_ansi(std::wstring(1000, L'\u3042'), 932);
    EXPECT_EQ(sjis.size(), 2000u);
    EXPECT_EQ(tk_to_unicode(sjis, 932), std::wstring(1000, L'\u3042'));

    // Texts far longer than the converter's buffer: a character beyond the
    // 16-bit plane after an odd count of others, so that its two UTF-16
    // units fall on both sides of a refill; and a single-byte page.
    std::wstring mixed;
    for (int i = 0; i < 30000; ++i) {
        mixed.push_back(L'a');
        mixed.push_back(L'\U00010000');
    }
    EXPECT_EQ(tk_to_unicode(tk_to_ansi(mixed, 54936), 54936), mixed);
    std::wstring latin;
    for (int i = 0; i < 100000; ++i)
        latin.push_back(static_cast<wchar_t>(i % 2 ? 0xE9 : 0x41 + i % 26));
    EXPECT_EQ(tk_to_unicode(tk_to_ansi(latin, 1252), 1252), latin);
}

TEST(TkString, BufferForms)
{
    std::unique_ptr<char[]> narrow(new char[1]{'x'});
    EXPECT_FALSE(tk_to_ansi_buf(nullptr, narrow));
    ASSERT_TRUE(narrow);
    EXPECT_EQ(narrow[0], 'x');
    ASSERT_TRUE(tk_to_ansi_buf(L"h\u00E9", narrow));
    EXPECT_EQ(hex(narrow.get()), "68C3A9");
    ASSERT_TRUE(tk_to_ansi_buf(L"", narrow));
    EXPECT_EQ(narrow[0], '\0');

    std::unique_ptr<wchar_t[]> wide(new wchar_t[1]{L'x'});
    EXPECT_FALSE(tk_to_unicode_buf(nullptr, wide));
    ASSERT_TRUE(wide);
    EXPECT_EQ(wide[0], L'x');
    ASSERT_TRUE(tk_to_unicode_buf("h\xC3\xA9", wide));
    EXPECT_EQ(std::wstring(wide.get()), L"h\u00E9");
    ASSERT_TRUE(tk_to_unicode_buf("\xFF", wide));
    EXPECT_EQ(std::wstring(wide.get()), L"\uFFFD");
}

TEST(TkString, ThreadsConvertWithTheirOwnConverters)
{
    // Converters are per thread; two threads with different code pages
    // (and a shared one) must never see each other's state.
    struct job {
        int code_page;
        std::string bytes;
        std::wstring wide;
    };
    const job jobs[] = {
        {1251, "\xCF\xF0\xE8\xE2\xE5\xF2", L"\u041F\u0440\u0438\u0432\u0435\u0442"},
        {932, "\x82\xA0\x82\xA2\x82", L"\u3042\u3044\uFFFD"},
        {1252, "\x80\xE9", L"\u20AC\u00E9"},
    };
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 2000; ++i) {
                const job& j = jobs[(t + i) % 3];
                const job& other = jobs[t % 2];
                if (tk_to_unicode(j.bytes, j.code_page) != j.wide)
                    ++failures;
                if (j.code_page != 932 && tk_to_ansi(j.wide, j.code_page) != j.bytes)
                    ++failures;
                if (tk_to_unicode(other.bytes, other.code_page) != other.wide)
                    ++failures;
            }
        });
    }
    for (auto& th : threads)
        th.join();
    EXPECT_EQ(failures.load(), 0);
}
