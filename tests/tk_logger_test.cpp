#include "test_support.h"
#include "tk_logger.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <thread>
#include <vector>

namespace {

bool exists(const std::string& path)
{
    struct stat st {};
    return stat(path.c_str(), &st) == 0;
}

class TkLogger : public tk_test::home_fixture {
protected:
    std::string path() const { return home.file("trace.log"); }
};

}  // namespace

TEST_F(TkLogger, OffLoggerTouchesNoFile)
{
    tk_logger logger(path().c_str(), false, 3, false);
    tk_trace(3, "level %d", 3);
    tk_wtrace(3, L"wide %s", L"text");
    EXPECT_FALSE(exists(path()));
}

TEST_F(TkLogger, FirstCallEmptiesTheFileWhateverItsLevel)
{
    tk_test::write_file(path(), "old content\r\n");
    tk_logger logger(nullptr, false, 3, false);
    logger.enable_file(path());
    tk_trace(1, "detail");
    EXPECT_TRUE(exists(path()));
    EXPECT_EQ(tk_test::read_file(path()), "");
}

TEST_F(TkLogger, WritesOnlyFromTheThreshold)
{
    tk_logger logger(path().c_str(), true, 3, false);
    tk_trace(2, "two");
    tk_trace(3, "three");
    tk_trace(4, "four");
    tk_trace(1, "one");
    EXPECT_EQ(tk_test::read_file(path()), "three\r\nfour\r\n");
}

TEST_F(TkLogger, LineForms)
{
    tk_logger logger(path().c_str(), true, 3, false);
    tk_wtrace(3, L"%s", L"\u00e9\u0416");
    tk_trace(3, "%s", std::string("\xE9 raw byte"));
    tk_trace(3, "ends in newline\n");
    std::string text = tk_test::read_file(path());
    EXPECT_EQ(text, "\xC3\xA9\xD0\x96\r\n\xE9 raw byte\r\nends in newline\n\r\n");
    EXPECT_EQ(text.find('\0'), std::string::npos);
}

TEST_F(TkLogger, LongWideLinesAreCutAtWholeCharacters)
{
    tk_logger logger(path().c_str(), true, 3, false);
    tk_wtrace(3, L"%s", std::wstring(12000, L'a'));
    EXPECT_EQ(tk_test::read_file(path()), std::string(10239, 'a') + "\r\n");

    tk_test::write_file(path(), "");
    // 6000 Cyrillic letters need 12000 bytes: the line keeps the first 5119
    // letters (10238 bytes) instead of losing the whole text.
    tk_wtrace(3, L"%s", std::wstring(6000, L'\u0416'));
    std::string expected;
    for (int i = 0; i < 5119; ++i)
        expected += "\xD0\x96";
    EXPECT_EQ(tk_test::read_file(path()), expected + "\r\n");
}

TEST_F(TkLogger, NarrowTextHasNoCap)
{
    tk_logger logger(path().c_str(), true, 3, false);
    tk_trace(3, "%s", std::string(20000, 'b'));
    EXPECT_EQ(tk_test::read_file(path()), std::string(20000, 'b') + "\r\n");
}

TEST_F(TkLogger, SecondNameAppendsWithoutEmptying)
{
    tk_logger logger(path().c_str(), true, 3, false);
    tk_trace(3, "first");
    std::string second = home.file("second.log");
    tk_test::write_file(second, "kept\r\n");
    logger.enable_file(second);
    tk_trace(3, "next");
    EXPECT_EQ(tk_test::read_file(second), "kept\r\nnext\r\n");
    EXPECT_EQ(tk_test::read_file(path()), "first\r\n");
}

TEST_F(TkLogger, MacrosDoNotEvaluateArgumentsBelowTheThreshold)
{
    tk_logger logger(path().c_str(), true, 3, false);
    tk_trace(3, "start");
    int evaluated = 0;
    auto arg = [&] {
        ++evaluated;
        return 1;
    };
    TK_TRACE(1, "%d", arg());
    TK_TRACE(2, "%d", arg());
    EXPECT_EQ(evaluated, 0);
    TK_TRACE(3, "%d", arg());
    EXPECT_EQ(evaluated, 1);
}

TEST_F(TkLogger, TimestampPrefix)
{
    tk_logger logger(path().c_str(), true, 3, true);
    tk_trace(3, "stamped");
    std::string text = tk_test::read_file(path());
    ASSERT_EQ(text.size(), 9u + 7 + 2);
    EXPECT_EQ(text[2], ':');
    EXPECT_EQ(text[5], ':');
    EXPECT_EQ(text.substr(8), " stamped\r\n");
}

TEST_F(TkLogger, ThreadsNeverInterleaveLines)
{
    tk_logger logger(path().c_str(), true, 3, false);
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t)
        threads.emplace_back([t] {
            std::string body(3000, static_cast<char>('A' + t));
            for (int i = 0; i < 200; ++i)
                tk_trace(3, "%s", body);
        });
    for (auto& th : threads)
        th.join();
    std::string text = tk_test::read_file(path());
    ASSERT_EQ(text.size(), 8u * 200 * 3002);
    for (std::size_t pos = 0; pos < text.size(); pos += 3002) {
        char c = text[pos];
        ASSERT_GE(c, 'A');
        ASSERT_LE(c, 'H');
        ASSERT_EQ(text.compare(pos, 3000, std::string(3000, c)), 0) << "line at " << pos;
        ASSERT_EQ(text.compare(pos + 3000, 2, "\r\n"), 0);
    }
}

TEST(TkLoggerNone, TracingWithoutALoggerIsSilent)
{
    EXPECT_EQ(tk_logger::try_instance(), nullptr);
    EXPECT_NO_THROW(tk_trace(3, "nobody listens %d", 1));
    EXPECT_NO_THROW(tk_wtrace(1, L"nobody listens %s", L"x"));
    EXPECT_NO_THROW(TK_TRACE(2, "x"));
    // An internal error traces while it is built; without a logger that must
    // neither raise nor recurse.
    tk_mail_assertion a("tk_singl", 35);
    EXPECT_EQ(a.level, 2);
}

TEST_F(TkLogger, DefaultNameIsTheProgramPathWithLogExtension)
{
    tk_logger logger(nullptr, false, 3, false);
    std::string name = logger.get_file_name();
    EXPECT_NE(name.find("/tk_tests.log"), std::string::npos) << name;
}
