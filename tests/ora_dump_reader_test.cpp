#include "ora_dump_reader.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "test_support.h"

namespace {

class reader_state : public tk_test::home_fixture {
protected:
    ora_dump_reader reader;
};

TEST_F(reader_state, set_progress_stays_between_0_and_99)
{
    struct row {
        std::int64_t pos, len;
        int expected;
    };
    const row rows[] = {
        {50, 100, 49}, {100, 100, 99}, {1, 100, 1},  {0, 100, 0},   {2, 100, 1},
        {150, 100, 99}, {-5, 100, 0},  {5, -100, 0}, {99, 100, 98}, {1LL << 40, 1LL << 41, 49},
    };
    for (const row& r : rows) {
        reader.set_ui_progress(77);
        reader.set_progress(r.pos, r.len);
        EXPECT_EQ(reader.get_progress(), r.expected) << r.pos << "/" << r.len;
    }
    reader.set_ui_progress(42);
    reader.set_progress(12345, 0);
    EXPECT_EQ(reader.get_progress(), 42);
}

TEST_F(reader_state, local_progress)
{
    reader.set_local_progress(1000, 2000, 1500);
    EXPECT_EQ(reader.get_local_progress(), 50);
    reader.set_local_progress(1000, 2000, 2000);
    EXPECT_EQ(reader.get_local_progress(), 100);
    reader.set_local_progress(1000, 1000, 1);
    EXPECT_EQ(reader.get_local_progress(), 100);
    reader.set_local_progress(1000, 2000, 5000);
    EXPECT_EQ(reader.get_local_progress(), 100);
    reader.set_local_progress(1000, 2000, 0);
    EXPECT_EQ(reader.get_local_progress(), 0);
}

TEST_F(reader_state, datapump_progress)
{
    reader.m_datapump = true;
    reader.info.dump_length = 1000;
    reader.set_ui_progress(-1);
    reader.set_datapump_pos(500);
    EXPECT_EQ(reader.get_progress(), -1);
    reader.set_ui_progress(0);
    EXPECT_EQ(reader.get_progress(), 50);
    reader.set_datapump_pos(1000);
    EXPECT_EQ(reader.get_progress(), 100);
    reader.set_datapump_pos(5000);
    EXPECT_EQ(reader.get_progress(), 100);
    reader.set_datapump_pos(-7);
    EXPECT_EQ(reader.get_progress(), 0);
    reader.set_ui_progress(100);
    EXPECT_EQ(reader.get_progress(), 100);
}

TEST_F(reader_state, progress_is_safe_to_poll_from_another_thread)
{
    std::atomic<bool> stop{false};
    std::thread poll([&] {
        while (!stop.load()) {
            int p = reader.get_progress();
            EXPECT_TRUE(p >= 0 && p <= 99);
            (void)reader.get_local_progress();
        }
    });
    for (int i = 0; i < 20000; ++i) {
        reader.set_progress(i, 20000);
        reader.set_local_progress(0, 20000, i);
    }
    stop = true;
    poll.join();
}

TEST_F(reader_state, classifies_every_character_set_of_the_table)
{
    struct row {
        unsigned id;
        int code_page;
    };
    const row rows[] = {
        {1, 20127},   {31, 28591},  {32, 28592},  {33, 28593},  {34, 28594},  {35, 28595},  {36, 28596},
        {37, 28597},  {38, 38598},  {39, 28599},  {45, 1258},   {46, 28605},  {47, 28603},  {51, 21866},
        {152, 866},   {170, 1250},  {171, 1251},  {174, 1253},  {175, 1255},  {177, 1254},  {178, 1252},
        {179, 1257},  {182, 20277}, {196, 20866}, {351, 10000}, {352, 10000}, {558, 720},   {560, 1256},
        {829, 20932}, {830, 20932}, {831, 20932}, {837, 20932}, {832, 932},   {834, 932},   {838, 932},
        {840, 51949}, {846, 949},   {854, 54936}, {865, 950},   {867, 950},
        // Added sets.
        {850, 54936}, {852, 54936}, {41, 874},    {10, 850},    {4, 437},
        // Known ids without a code page, and unknown ones.
        {2, 0},       {3, 0},       {9999, 0},
    };
    for (const row& r : rows) {
        reader.info.dump_code_page = -5;
        unsigned char id[2] = {static_cast<unsigned char>(r.id >> 8), static_cast<unsigned char>(r.id)};
        EXPECT_EQ(reader.get_cp(id, false), 0) << r.id;
        EXPECT_EQ(reader.info.dump_code_page, r.code_page) << r.id;
        EXPECT_EQ(reader.charset_codepage(r.id), r.code_page) << r.id;
        // Every code page opens: a byte decodes without failure.
        if (r.code_page) {
            EXPECT_FALSE(reader.get_wstring("A", 1, false).empty()) << r.code_page;
        }
    }
    const unsigned char utf16[2] = {0x07, 0xD0}, utf8a[2] = {0x03, 0x69}, utf8b[2] = {0x03, 0x67};
    reader.info.dump_code_page = 1252;
    EXPECT_EQ(reader.get_cp(utf16, true), 2);
    EXPECT_EQ(reader.info.ncharset_class, 2);
    EXPECT_EQ(reader.get_cp(utf8a, false), 1);
    EXPECT_EQ(reader.get_cp(utf8b, false), 1);
    EXPECT_EQ(reader.info.charset_class, 1);
    EXPECT_EQ(reader.info.dump_code_page, 1252);
}

TEST_F(reader_state, decodes_dump_text)
{
    struct row {
        unsigned db_id, nat_id;
        bool national;
        std::string bytes;
        std::wstring expected;
    };
    const row rows[] = {
        {178, 2000, false, "\xE9t\xE9", L"\u00E9t\u00E9"},
        {0, 2000, false, "\xE9", L"\u00E9"},  // no code page: windows-1252
        {2, 2000, false, "\x80", L"\u20AC"},
        {196, 2000, false, "\xC1", L"\u0430"},             // koi8-r
        {832, 2000, false, "\x82\xA0", L"\u3042"},         // Shift_JIS
        {558, 2000, false, "\xC7\xE0", L"\u255F\u0636"},    // dos-720
        {852, 2000, false, "\xC4\xE3\xBA\xC3", L"\u4F60\u597D"},  // GBK
        {846, 2000, false, "\x81\x41", L"\uAC02"},         // a syllable only code page 949 has
        {846, 2000, false, "\xB0\xA1", L"\uAC00"},
        // The national set has its own code page.
        {171, 31, false, "\xC0\xE1", L"\u0410\u0431"},
        {171, 31, true, "\xC0\xE1", L"\u00C0\u00E1"},
        // UTF-8: invalid bytes become U+FFFD, CESU-8 pairs are joined.
        {873, 2000, false, "a\xFF" "b", L"a\uFFFDb"},
        {871, 2000, false, "\xED\xA0\xBD\xED\xB8\x80", L"\U0001F600"},
        {873, 2000, false, "\xF0\x9F\x98\x80", L"\U0001F600"},
        {873, 2000, false, "\xED\xA0\xBD", L"\uFFFD\uFFFD\uFFFD"},
        // UTF-16: pairs joined, lone halves replaced, odd byte dropped.
        {2000, 2000, false, std::string("\xD8\x3D\xDE\x00", 4), L"\U0001F600"},
        {2000, 2000, false, std::string("\xD8\x3D", 2), L"\uFFFD"},
        {2000, 2000, false, std::string("\x00" "A\x00" "B\x00", 5), L"AB"},
        {2000, 2000, false, std::string("\x00" "A\x00\x00\x00" "B", 6), std::wstring(L"A\0B", 3)},
    };
    for (const row& r : rows) {
        reader.reset_dump_state();
        unsigned char db[2] = {static_cast<unsigned char>(r.db_id >> 8), static_cast<unsigned char>(r.db_id)};
        unsigned char nat[2] = {static_cast<unsigned char>(r.nat_id >> 8), static_cast<unsigned char>(r.nat_id)};
        if (r.db_id)
            reader.get_cp(db, false);
        reader.get_cp(nat, true);
        EXPECT_EQ(reader.get_wstring(r.bytes.data(), r.bytes.size(), r.national), r.expected)
            << r.db_id << "/" << r.nat_id << " " << r.bytes;
    }
    // 0x81 has no character in windows-1252: one substitute, no failure.
    reader.reset_dump_state();
    EXPECT_EQ(reader.get_wstring("\x81", 1, false).size(), 1u);
}

TEST_F(reader_state, stops_at_nul_and_never_reads_past_the_length)
{
    const unsigned char utf8[2] = {0x03, 0x69};
    reader.get_cp(utf8, false);
    EXPECT_EQ(reader.get_wstring("ab\0cd", 5, false), L"ab");
    // A buffer without NUL: only length bytes are read (ASan checks this).
    std::vector<char> exact = {'x', 'y', 'z'};
    EXPECT_EQ(reader.get_wstring(exact.data(), exact.size(), false), L"xyz");
    reader.reset_dump_state();
    EXPECT_EQ(reader.get_wstring(exact.data(), 2, false), L"xy");
    EXPECT_EQ(reader.get_wstring(nullptr, 3, false), L"");
    EXPECT_EQ(reader.get_wstring("abc", 0, false), L"");
    dump_info other;
    other.charset_class = 7;
    EXPECT_EQ(ora_dump_reader::get_wstring(other, "abc", 3, false), L"");
}

TEST_F(reader_state, reset_clears_what_an_earlier_dump_left)
{
    const unsigned char cyr[2] = {0x00, 171}, utf8[2] = {0x03, 0x69}, nat[2] = {0x00, 31};
    reader.get_cp(cyr, false);
    reader.get_cp(nat, true);
    reader.compound_dump = reader.first_part = reader.m_datapump = true;
    reader.reset_dump_state();
    EXPECT_FALSE(reader.compound_dump || reader.first_part || reader.m_datapump);
    EXPECT_EQ(reader.info.charset_class, 0);
    EXPECT_EQ(reader.info.ncharset_class, 2);
    EXPECT_EQ(reader.info.dump_code_page, 0);
    EXPECT_EQ(reader.info.dump_ncode_page, 0);
    reader.get_cp(utf8, false);
    EXPECT_EQ(reader.info.dump_code_page, 0);
    EXPECT_EQ(reader.get_wstring("\xD0\xB1", 2, false), L"\u0431");
}

TEST(utf16be, chunk_headers_at_8132_byte_seams)
{
    // Text of 'a' units with a header at 8132: at even alignment the header
    // starts on a unit boundary, and after a first header the stream is at
    // odd alignment.
    std::vector<unsigned char> b;
    for (int i = 0; i < 8132 / 2; ++i) {
        b.push_back(0);
        b.push_back('a');
    }
    b.insert(b.end(), {0x06, 0x01, 0xFE, 0x00, 0x10});
    b.push_back(0);
    b.push_back('b');
    std::wstring s = utf16be_to_wstring(b.data(), b.size(), true);
    ASSERT_EQ(s.size(), 8132u / 2 + 1);
    EXPECT_EQ(s.back(), L'b');
    // Without skipping the header bytes are text.
    EXPECT_EQ(utf16be_to_wstring(b.data(), b.size(), false).size(), b.size() / 2);

    // Odd alignment: after a header at 0 the walk stands at odd positions,
    // so the next seam is seen at 8133, once one byte of its header was
    // taken with the unit before it.
    std::vector<unsigned char> o = {0x06, 0x01, 0xFE, 0x00, 0x10};
    while (o.size() < 8132)
        o.push_back(o.size() % 2 ? 0 : 'c');
    o.insert(o.end(), {0x06, 0x01, 0xFE, 0x00, 0x10, 0x00, 'd'});
    std::wstring t = utf16be_to_wstring(o.data(), o.size(), true);
    ASSERT_EQ(t.size(), 4065u);
    EXPECT_EQ(t[0], L'c');
    EXPECT_EQ(t[4063], L'\x0006');
    EXPECT_EQ(t.back(), L'd');

    // A seam at the very end of the buffer: the 3 header bytes are not all
    // there, so nothing is skipped and nothing is read past the end.
    std::vector<unsigned char> e(8132 + 2, 'x');
    e[8132] = 0x06;
    e[8133] = 0x01;
    std::wstring u = utf16be_to_wstring(e.data(), e.size(), true);
    EXPECT_EQ(u.size(), e.size() / 2);
}

TEST_F(reader_state, log_sink_receives_lines)
{
    std::vector<std::pair<ora_log_kind, std::string>> lines;
    ora_dump_reader::send_log(ora_log_kind::shown, "nobody listens");
    reader.set_log_sink([&](ora_log_kind k, const std::string& t) { lines.emplace_back(k, t); });
    ora_dump_reader::send_log(ora_log_kind::warning, "w");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].first, ora_log_kind::warning);
    EXPECT_EQ(lines[0].second, "w");
}

TEST_F(reader_state, names)
{
    EXPECT_EQ(ora_dump_reader::embellish_name("\"EMP\"", '"'), "EMP");
    EXPECT_EQ(ora_dump_reader::embellish_name("\"\"", '"'), "\"\"");
    EXPECT_EQ(ora_dump_reader::embellish_name("\"A", '"'), "\"A");
    EXPECT_EQ(reader.merge_schema_name("EMP", "SCOTT"), "EMP");
    reader.merge_schema = true;
    EXPECT_EQ(reader.merge_schema_name("EMP", "SCOTT"), "SCOTT.EMP");
    EXPECT_EQ(reader.merge_schema_name("EMP", ""), "EMP");
}

}  // namespace
