#include "ora_dump_stream.h"

#include "tk_exception.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <random>
#include <unistd.h>

#include "test_support.h"

namespace {

// About 20 KB of bytes that hold no "Z", "Q" or "~", so that patterns made
// of them occur exactly where a test places them.
std::string generated(std::size_t n, unsigned seed = 7)
{
    std::mt19937 rng(seed);
    std::string s(n, '\0');
    for (char& c : s) {
        int v = static_cast<int>(rng() % 256);
        if (v == 'Z' || v == 'Q' || v == '~')
            v = 'a';
        c = static_cast<char>(v);
    }
    return s;
}

std::unique_ptr<ora_dump_stream> memory_stream(const std::string& bytes, std::size_t window)
{
    return std::make_unique<ora_dump_stream>(std::make_unique<ora_dump_memory_source>(bytes), window);
}

class stream_window : public ::testing::TestWithParam<std::size_t> {};

TEST_P(stream_window, finds_patterns_across_window_seams)
{
    const std::size_t window = GetParam();
    std::string base = generated(20000);
    struct row {
        std::size_t length;
        std::size_t at;
    };
    // Each pattern is placed so that it crosses a 64-byte seam (and, for the
    // long one, many of them).
    const row rows[] = {{1, 63}, {2, 127}, {15, 250}, {15, 1020}, {4096, 5000}, {1, 1}, {2, 19998}};
    for (const row& r : rows) {
        std::string data = base;
        std::string pattern(r.length, 'Z');
        pattern.front() = 'Q';
        data.replace(r.at, r.length, pattern);
        auto s = memory_stream(data, window);
        std::int64_t found = -1;
        ASSERT_TRUE(seek_to_symbols(*s, pattern.data(), pattern.size(), found)) << r.length << "@" << r.at;
        EXPECT_EQ(found, static_cast<std::int64_t>(r.at + r.length));
        EXPECT_EQ(s->tell(), found);
        EXPECT_TRUE(s->good());
        // A second search from there finds nothing: end state, true position.
        EXPECT_FALSE(seek_to_symbols(*s, pattern.data(), pattern.size(), found));
        EXPECT_TRUE(s->eof());
        EXPECT_FALSE(s->failed());
        EXPECT_EQ(s->tell(), static_cast<std::int64_t>(data.size()));
        // ...and the next seek works and clears the end state.
        seek_to_pos(*s, 10);
        EXPECT_TRUE(s->good());
        EXPECT_EQ(s->tell(), 10);
    }
}

TEST_P(stream_window, one_byte_at_the_last_byte_leaves_the_stream_at_the_end_but_not_in_the_end_state)
{
    std::string data = generated(20000);
    data.back() = '~';
    auto s = memory_stream(data, GetParam());
    std::int64_t found = 0;
    ASSERT_TRUE(seek_to_symbols(*s, "~", found));
    EXPECT_EQ(found, 20000);
    EXPECT_FALSE(s->eof());
    EXPECT_EQ(s->tell(), 20000);
    // Now the search starts at the end: false, and nothing more is read.
    std::uint64_t before = s->bytes_read();
    EXPECT_FALSE(seek_to_symbols(*s, "~", found));
    EXPECT_EQ(s->bytes_read(), before);
    EXPECT_TRUE(s->eof());
}

TEST_P(stream_window, pattern_size_limit)
{
    std::string data = generated(20000);
    auto s = memory_stream(data, GetParam());
    std::string p4096(4096, 'Z'), p4097(4097, 'Z');
    std::int64_t found = 0;
    EXPECT_FALSE(seek_to_symbols(*s, p4096.data(), p4096.size(), found));
    seek_to_pos(*s, 0);
    try {
        seek_to_symbols(*s, p4097.data(), p4097.size(), found);
        FAIL() << "no failure";
    } catch (const tk_exception& e) {
        EXPECT_EQ(e.message, "Buffer size is too small");
        EXPECT_EQ(e.level, 1);
    }
    // A stream at its end answers false before it looks at the size.
    seek_to_pos(*s, 0);
    s->read(&data[0], data.size() + 1);
    ASSERT_TRUE(s->eof());
    EXPECT_FALSE(seek_to_symbols(*s, p4097.data(), p4097.size(), found));
}

TEST_P(stream_window, tokens_and_delimiters)
{
    const std::size_t window = GetParam();
    // Every delimiter, and NULs around a token.
    for (char d : {' ', '\t', '\n', '\v', '\f', '\r', '\0'}) {
        std::string data = std::string("\0\0", 2) + "ab" + d + "cd" + std::string(1, '\0');
        auto s = memory_stream(data, window);
        std::string t;
        bool too_long = true;
        ASSERT_TRUE(s->read_token(t, too_long));
        EXPECT_EQ(t, "ab");
        EXPECT_FALSE(too_long);
        EXPECT_EQ(s->tell(), 4);  // the delimiter stays in the stream
        ASSERT_TRUE(s->read_token(t, too_long));
        EXPECT_EQ(t, "cd");
        EXPECT_FALSE(s->read_token(t, too_long));
        EXPECT_TRUE(s->eof());
    }
    // Other control bytes belong to the token.
    auto s = memory_stream(std::string("a\x01\x1f\x7f\xff b"), window);
    std::string t;
    bool too_long;
    ASSERT_TRUE(s->read_token(t, too_long));
    EXPECT_EQ(t, "a\x01\x1f\x7f\xff");
}

TEST_P(stream_window, a_long_token_is_consumed_and_flagged)
{
    std::string data = std::string(5000, 'T') + " NEXT";
    auto s = memory_stream(data, GetParam());
    std::string t;
    bool too_long = false;
    ASSERT_TRUE(s->read_token(t, too_long));
    EXPECT_TRUE(too_long);
    EXPECT_EQ(t.size(), 4096u);
    EXPECT_EQ(s->tell(), 5000);
    ASSERT_TRUE(s->read_token(t, too_long));
    EXPECT_EQ(t, "NEXT");
    EXPECT_FALSE(too_long);
    // Exactly the cap is not too long.
    auto s2 = memory_stream(std::string(4096, 'T'), GetParam());
    ASSERT_TRUE(s2->read_token(t, too_long));
    EXPECT_FALSE(too_long);
}

TEST_P(stream_window, table_names)
{
    const std::size_t window = GetParam();
    struct row {
        std::string data;
        std::string name;
        std::int64_t pos_after;  // where the stream stands afterwards
    };
    const row rows[] = {
        {" \"EMP\" (", "\"EMP\"", 7},
        {"(x", "", 0},
        {"  EMP\t (", "EMP\t", 7},  // only blanks are trimmed
        {"\"A\"\n(", "", 3},        // the search stops at the line feed
        {"\"A\"", "", 3},           // and at the end of the data
        {std::string(4096, 'N') + "(", std::string(4096, 'N'), 4096},
        {std::string(4097, 'N') + "(", "", 4097},
    };
    for (const row& r : rows) {
        auto s = memory_stream(r.data, window);
        EXPECT_EQ(read_table_name(*s), r.name) << r.data.substr(0, 20);
        EXPECT_EQ(s->tell(), r.pos_after) << r.data.substr(0, 20);
    }
}

INSTANTIATE_TEST_SUITE_P(windows, stream_window,
                         ::testing::Values(ora_dump_stream::default_window, std::size_t(64), std::size_t(5)));

TEST(ora_dump_stream, a_failing_source_raises_the_search_failure)
{
    std::string data = generated(20000);
    auto s = std::make_unique<ora_dump_stream>(
        std::make_unique<ora_dump_failing_source>(std::make_unique<ora_dump_memory_source>(data), 9000), 64);
    std::int64_t found = 0;
    try {
        seek_to_symbols(*s, "~", found);
        FAIL() << "no failure";
    } catch (const tk_exception& e) {
        EXPECT_EQ(e.message, "Something went wrong when searching a string in the file");
        EXPECT_EQ(e.level, 1);
    }
    EXPECT_TRUE(s->failed());
    EXPECT_GE(s->tell(), 0);
    // A failed stream reads as the end of the data.
    EXPECT_EQ(s->get(), -1);
    std::string t;
    bool too_long;
    EXPECT_FALSE(s->read_token(t, too_long));
}

TEST(ora_dump_stream, an_empty_pattern_is_an_internal_error)
{
    auto s = memory_stream("abc", 64);
    std::int64_t found = 0;
    EXPECT_THROW(seek_to_symbols(*s, "", 0, found), tk_mail_assertion);
}

TEST(ora_dump_stream, seeks_outside_the_data_fail_and_reads_stay_in_the_window)
{
    std::string data = generated(3000);
    auto s = memory_stream(data, 1024);
    EXPECT_TRUE(s->seek(3000));
    EXPECT_FALSE(s->eof());
    EXPECT_EQ(s->get(), -1);
    EXPECT_TRUE(s->eof());
    EXPECT_EQ(s->tell(), 3000);
    EXPECT_TRUE(s->seek(0));
    char b[10];
    EXPECT_EQ(s->read(b, 10), 10u);
    EXPECT_EQ(std::memcmp(b, data.data(), 10), 0);
    std::uint64_t fetched = s->bytes_read();
    for (int i = 0; i < 50; ++i) {
        s->seek(i * 7);
        s->get();
    }
    EXPECT_EQ(s->bytes_read(), fetched);
    s->seek(2990);
    EXPECT_EQ(s->read(b, 10), 10u);
    EXPECT_FALSE(s->eof());
    EXPECT_EQ(s->read(b, 10), 0u);
    EXPECT_TRUE(s->eof());
    EXPECT_FALSE(s->seek(3001));
    EXPECT_TRUE(s->failed());
    EXPECT_EQ(s->tell(), 3000);
    s->clear();
    EXPECT_FALSE(s->seek(-1));
}

TEST(ora_dump_stream, reads_a_file_through_pread)
{
    tk_test::temp_dir dir;
    std::string data = generated(10000);
    data[7777] = '~';
    tk_test::write_file(dir.file("d.dmp"), data);
    auto s = ora_dump_stream::open_file(dir.file("d.dmp"), 256);
    EXPECT_EQ(s->size(), 10000);
    std::int64_t found = 0;
    ASSERT_TRUE(seek_to_symbols(*s, "~", found));
    EXPECT_EQ(found, 7778);
    EXPECT_LE(s->bytes_read(), 10000u);
    EXPECT_THROW(ora_dump_stream::open_file(dir.file("missing.dmp")), tk_exception);
    EXPECT_THROW(ora_dump_stream::open_file(dir.path()), tk_exception);
}

TEST(ora_dump_stream, sparse_file_beyond_4_gib)
{
    tk_test::temp_dir dir;
    std::string path = dir.file("big.dmp");
    int fd = ::open(path.c_str(), O_CREAT | O_WRONLY, 0644);
    ASSERT_GE(fd, 0);
    const std::int64_t at1 = 0xFFFFFFFFLL, at2 = 0x100000010LL;
    bool ok = ::pwrite(fd, "~", 1, at1) == 1 && ::pwrite(fd, "Q~", 2, at2) == 2;
    ::close(fd);
    if (!ok)
        GTEST_SKIP() << "no sparse files here";
    auto s = ora_dump_stream::open_file(path);
    s->seek(at1 - 100);
    std::int64_t found = 0;
    ASSERT_TRUE(seek_to_symbols(*s, "~", found));
    EXPECT_EQ(found, at1 + 1);
    ASSERT_TRUE(seek_to_symbols(*s, "Q~", found));
    EXPECT_EQ(found, at2 + 2);
    EXPECT_EQ(s->get(), -1);
}

TEST(ora_dump_stream, trims_blanks_only)
{
    std::string a = "  \tx y \t ";
    trim_left_inplace(a);
    EXPECT_EQ(a, "\tx y \t ");
    trim_right_inplace(a);
    EXPECT_EQ(a, "\tx y \t");
    std::string b = "   ";
    trim_right_inplace(b);
    EXPECT_EQ(b, "");
}

}  // namespace
