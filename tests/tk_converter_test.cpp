#include "test_support.h"
#include "tk_converter.h"
#include "tk_exception.h"
#include "tk_logger.h"
#include "tk_temp_chdir.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>

namespace {

bool exists(const std::string& path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

const char* const existing_path = "Logfile name specifies an existing path.";
const char* const read_only = "Logfile name specifies an existing read-only file.";
const char* const missing_path =
    "Logfile path does not exist.\nPlease verify the correct path was given.";

// The log is switched on, writing into log.txt.
class TkConverterLog : public tk_test::logger_fixture {
protected:
    tk_converter converter;
};

// The log is off, as both programs start.
class TkConverterFirstLog : public tk_test::home_fixture {
protected:
    TkConverterFirstLog() : logger(home.file("unused.log").c_str(), false, 3, false) {}
    tk_logger logger;
    tk_converter converter;
};

}  // namespace

TEST(TkConverter, StartsWithEmptySettingsAndClearFlags)
{
    tk_converter c;
    EXPECT_FALSE(c.finish_flag.load());
    EXPECT_FALSE(c.is_finished());
    EXPECT_FALSE(c.silent);
    EXPECT_TRUE(c.src.empty());
    EXPECT_TRUE(c.dest.empty());
    EXPECT_TRUE(c.log_file.empty());
    c.set_silent(true);
    EXPECT_TRUE(c.silent);
    c.set_finished(true);
    EXPECT_TRUE(c.is_finished());
    // Without a logger an accepted name is only kept.
    tk_test::temp_dir dir;
    EXPECT_NO_THROW(c.set_logfile(dir.file("t.log")));
    EXPECT_EQ(c.log_file, dir.file("t.log"));
    EXPECT_FALSE(exists(dir.file("t.log")));
}

TEST_F(TkConverterLog, RefusedNamesLeaveTheLogAsItWas)
{
    ::mkdir(home.file("dir").c_str(), 0755);
    tk_temp_chdir in_home(home.path());
    ASSERT_TRUE(in_home.is_changed());
    struct row {
        std::string name;
        const char* failure;  // null: no refusal, nothing changes
    };
    const row rows[] = {
        {"", nullptr},
        {home.file("dir"), existing_path},
        {home.file("dir") + "/", existing_path},
        {"dir", existing_path},
        {home.file("missing/t.log"), missing_path},
        {"missing/t.log", missing_path},
        {home.file("log.txt/t.log"), missing_path},  // a file is no folder
    };
    tk_trace(3, "first");
    for (const row& r : rows) {
        SCOPED_TRACE(r.name);
        converter.log_file = "previous";
        if (r.failure) {
            try {
                converter.set_logfile(r.name);
                ADD_FAILURE() << "nothing raised";
            } catch (const tk_exception& e) {
                EXPECT_EQ(e.message, r.failure);
                EXPECT_EQ(e.level, 1);
            }
        } else {
            EXPECT_NO_THROW(converter.set_logfile(r.name));
        }
        // The refused name is still the setting that will be saved.
        EXPECT_EQ(converter.log_file, r.name);
        EXPECT_EQ(logger->get_file_name(), log_path());
        EXPECT_TRUE(logger->is_enabled());
    }
    tk_trace(3, "last");
    EXPECT_EQ(log_text(), "first\r\nlast\r\n");
    EXPECT_FALSE(exists(home.file("missing")));
}

TEST_F(TkConverterLog, ReadOnlyFileIsRefused)
{
    const std::string ro = home.file("ro.log");
    tk_test::write_file(ro, "kept\r\n");
    ::chmod(ro.c_str(), 0444);
    const std::string log = log_path();
    // Root may write any file, so the check runs without root.
    auto result = tk_test::run_as_nobody([&] {
        try {
            converter.set_logfile(ro);
        } catch (const tk_exception& e) {
            return e.message == read_only && e.level == 1 && converter.log_file == ro &&
                   tk_logger::try_instance()->get_file_name() == log;
        }
        return false;
    });
    if (!result)
        GTEST_SKIP() << "cannot drop to an unprivileged user";
    EXPECT_TRUE(*result);
    EXPECT_EQ(tk_test::read_file(ro), "kept\r\n");
}

TEST_F(TkConverterLog, RelativeNameIsFixedAtAcceptance)
{
    const std::string a = home.file("A");
    const std::string b = home.file("B");
    ASSERT_EQ(::mkdir(a.c_str(), 0755), 0);
    ASSERT_EQ(::mkdir(b.c_str(), 0755), 0);
    const std::string before = std::filesystem::current_path().string();
    {
        tk_temp_chdir in_a(a);
        ASSERT_TRUE(in_a.is_changed());
        converter.set_logfile("t.log");
        tk_temp_chdir in_b(b);
        ASSERT_TRUE(in_b.is_changed());
        tk_trace(3, "line %d", 1);
    }
    EXPECT_EQ(std::filesystem::current_path().string(), before);
    EXPECT_EQ(tk_test::read_file(a + "/t.log"), "line 1\r\n");
    EXPECT_FALSE(exists(b + "/t.log"));
    EXPECT_EQ(converter.log_file, "t.log");
    EXPECT_EQ(logger->get_file_name(), std::filesystem::canonical(a).string() + "/t.log");
}

TEST_F(TkConverterLog, SecondAcceptedNameAppends)
{
    const std::string second = home.file("second.log");
    tk_test::write_file(second, "old\r\n");
    tk_trace(3, "to the first");
    converter.set_logfile(second);
    tk_trace(1, "detail");
    tk_trace(3, "to the second");
    EXPECT_EQ(tk_test::read_file(second), "old\r\nto the second\r\n");
    EXPECT_EQ(log_text(), "to the first\r\n");
}

TEST_F(TkConverterLog, LongPathInADeepFolderIsAccepted)
{
    std::string folder = home.path();
    while (folder.size() < 400)
        folder += "/" + std::string(60, 'f');
    std::filesystem::create_directories(folder);
    const std::string name = folder + "/t.log";
    ASSERT_GT(name.size(), 400u);
    ASSERT_NO_THROW(converter.set_logfile(name));
    EXPECT_EQ(logger->get_file_name(), std::filesystem::path(name).lexically_normal().string());
    tk_trace(3, "deep");
    EXPECT_EQ(tk_test::read_file(name), "deep\r\n");
}

TEST_F(TkConverterFirstLog, FirstAcceptedNameIsEmptiedAtTheFirstTrace)
{
    const std::string log = home.file("run.log");
    tk_test::write_file(log, "from an earlier run\r\n");
    tk_trace(3, "while off");
    converter.set_logfile(log);
    EXPECT_TRUE(logger.is_enabled());
    EXPECT_EQ(tk_test::read_file(log), "from an earlier run\r\n");
    tk_trace(1, "detail");
    EXPECT_EQ(tk_test::read_file(log), "");
    tk_trace(3, "progress");
    EXPECT_EQ(tk_test::read_file(log), "progress\r\n");
    EXPECT_FALSE(exists(home.file("unused.log")));
}
