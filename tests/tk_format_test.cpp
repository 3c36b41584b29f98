#include "tk_format.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdint>
#include <functional>
#include <string>

namespace {

struct format_case {
    const char* name;
    std::function<std::string()> run;
    std::string expected;
};

std::string w2u(const std::wstring& w)
{
    std::string s;
    for (wchar_t c : w) {
        if (c < 0x80)
            s.push_back(static_cast<char>(c));
        else
            s += "?";
    }
    return s;
}

}  // namespace

TEST(TkFormat, MicrosoftFormatsReadAsWritten)
{
    const char* null_text = nullptr;
    void* high_pointer = reinterpret_cast<void*>(std::uintptr_t{0x123456789ABCull});
    const std::string data_with_directive = "50%s done %d";
    const format_case cases[] = {
        {"I64d min", [] { return tk_format("%I64d", INT64_MIN); }, "-9223372036854775808"},
        {"d of int64", [] { return tk_format("%d", std::int64_t{5000000000}); }, "5000000000"},
        {"s narrow in narrow", [] { return tk_format("<%s>", "abc"); }, "<abc>"},
        {"s wide in narrow", [] { return tk_format("<%s>", L"\u00e9t\u00e9"); }, "<\xC3\xA9t\xC3\xA9>"},
        {"S narrow in narrow", [] { return tk_format("<%S>", std::string("x\xC3\xA9")); }, "<x\xC3\xA9>"},
        {"S wide in narrow", [] { return tk_format("<%S>", std::wstring(L"\u0416")); }, "<\xD0\x96>"},
        {"08X of -1", [] { return tk_format("%08X", -1); }, "FFFFFFFF"},
        {"08X of pointer", [high_pointer] { return tk_format("%08X", high_pointer); }, "123456789ABC"},
        {"x of int64 -1", [] { return tk_format("%x", std::int64_t{-1}); }, "ffffffffffffffff"},
        {"u of int -1", [] { return tk_format("%u", -1); }, "4294967295"},
        {"02d", [] { return tk_format("%02d:%02d", 5, 42); }, "05:42"},
        {"04d", [] { return tk_format("%04d-%02d", 7, 1); }, "0007-01"},
        {"left", [] { return tk_format("%-5d|", 42); }, "42   |"},
        {"5s", [] { return tk_format("%5s|", "ab"); }, "   ab|"},
        {"5s counts code points", [] { return tk_format("%5s|", "\xC3\xA9\xC3\xA9"); }, "   \xC3\xA9\xC3\xA9|"},
        {"precision cuts code points", [] { return tk_format("%.2s|", L"\u00e9\u00e9\u00e9"); }, "\xC3\xA9\xC3\xA9|"},
        {"c wide in narrow", [] { return tk_format("%c", L'\u00e9'); }, "\xC3\xA9"},
        {"c char", [] { return tk_format("%c%c", 'o', 'k'); }, "ok"},
        {".16e", [] { return tk_format("%.16e", 0.1); }, "1.0000000000000001e-01"},
        {"lg", [] { return tk_format("%lg|%g", 0.5, 1e20); }, "0.5|1e+20"},
        {"f", [] { return tk_format("%.2f|%8.3f", 2.345, -1.5); }, "2.35|  -1.500"},
        {"percent", [] { return tk_format("100%%"); }, "100%"},
        {"missing argument", [] { return tk_format("a=%d b=%s"); }, "a=%d b=%s"},
        {"missing second argument", [] { return tk_format("a=%d b=%5s", 1); }, "a=1 b=%5s"},
        {"null string", [null_text] { return tk_format("[%s]", null_text); }, "[(null)]"},
        {"data is not a format", [&] { return tk_format("%s", data_with_directive); }, "50%s done %d"},
        {"unknown conversion", [] { return tk_format("%y %d", 3); }, "%y 3"},
        {"surplus arguments", [] { return tk_format("%d", 1, 2, 3); }, "1"},
        {"star width", [] { return tk_format("%*d|", 4, 7); }, "   7|"},
        {"plus and space", [] { return tk_format("%+d % d", 5, 6); }, "+5  6"},
        {"hash hex", [] { return tk_format("%#x", 255); }, "0xff"},
        {"mismatch prints naturally", [] { return tk_format("%d|%s", "text", 12); }, "text|12"},
        {"trailing percent", [] { return tk_format("50%"); }, "50%"},
        {"unsigned char as number", [] { return tk_format("%d", static_cast<unsigned char>(200)); }, "200"},
        {"bool", [] { return tk_format("%d", true); }, "1"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.run(), c.expected) << c.name;
}

TEST(TkFormat, WideFormats)
{
    EXPECT_EQ(tk_wformat(L"<%s>", L"\u0416\u00e9"), L"<\u0416\u00e9>");
    EXPECT_EQ(tk_wformat(L"<%S>", "\xD0\x96"), L"<\u0416>");
    EXPECT_EQ(tk_wformat(L"<%s>", std::string("abc")), L"<abc>");
    EXPECT_EQ(tk_wformat(L"%I64d|%04d", INT64_MAX, 3), L"9223372036854775807|0003");
    EXPECT_EQ(tk_wformat(L"%5s|", L"\U0001F600"), L"    \U0001F600|");
    EXPECT_EQ(w2u(tk_wformat(L"%c", 'A')), "A");
    EXPECT_EQ(tk_wformat(L"%s, record #%d", L"EMP", std::int64_t{3000000000}), L"EMP, record #3000000000");
}

TEST(TkFormat, FloatsIgnoreTheProcessLocale)
{
    // std::to_chars is locale independent; a decimal comma locale (if the
    // machine has one) must not change the point.
    const char* previous = std::setlocale(LC_NUMERIC, nullptr);
    std::string saved = previous ? previous : "C";
    std::setlocale(LC_NUMERIC, "de_DE.UTF-8");
    EXPECT_EQ(tk_format("%.3f", 1.25), "1.250");
    std::setlocale(LC_NUMERIC, saved.c_str());
}
