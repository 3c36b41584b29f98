#include "console_front_end.h"

#include "error_handler.h"
#include "velconv_convertor.h"
#include "test_support.h"
#include "tk_exception.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <ostream>
#include <string>

namespace {

// Reads back everything written to a temporary stream.
std::string contents(FILE* f)
{
    std::fflush(f);
    std::rewind(f);
    std::string s;
    char buf[256];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0)
        s.append(buf, n);
    return s;
}

TEST(console_front_end, writes_each_stream_as_given_and_has_no_windows)
{
    FILE* out = std::tmpfile();
    FILE* err = std::tmpfile();
    ASSERT_TRUE(out && err);
    {
        console_front_end fe(out, err);
        EXPECT_EQ(front_end::try_instance(), &fe);
        EXPECT_TRUE(fe.is_console());
        fe.write_out("Table EMP\n");
        fe.write_err("Warning: \xD0\x96\n");
        fe.write_out(std::string("a\0b\n", 4));

        fe.show_internal_error(L"internal");
        fe.show_error(L"error");
        const continue_answer a = fe.ask_continue(L"go on?");
        EXPECT_FALSE(a.abort);
        EXPECT_FALSE(a.do_not_show_again);
        fe.add_error_text("listed");
        EXPECT_FALSE(fe.error_list_ready());
        EXPECT_EQ(fe.error_list_size(), 0u);
    }
    EXPECT_EQ(front_end::try_instance(), nullptr);
    EXPECT_EQ(contents(out), std::string("Table EMP\na\0b\n", 14));
    EXPECT_EQ(contents(err), "Warning: \xD0\x96\n");
    std::fclose(out);
    std::fclose(err);
}

// Where an interrupt found the run decides what is said; an open table line
// is ended first.
TEST(console_front_end, an_interrupted_run_says_where_it_stopped_and_what_the_database_holds)
{
    struct row {
        const char* what;
        velconv_interrupt_report report;
        const char* printed;
    };
    const auto report = [](bool before_tables, const wchar_t* table, bool kept, const wchar_t* db, bool made) {
        velconv_interrupt_report r;
        r.signal_number = 2;
        r.before_tables = before_tables;
        r.table = table;
        r.table_rows_kept = kept;
        r.replaced_db = db;
        r.replaced_db_made = made;
        return r;
    };
    const row rows[] = {
        {"in a table's rows", report(false, L"EMP", false, L"", false),
         "The run was interrupted: table EMP was not converted (its rows are rolled back); the tables converted "
         "before it stay.\n"},
        {"in a table's keys", report(false, L"EMP", true, L"", false),
         "The run was interrupted: table EMP was converted, without all of its keys and indexes; the tables "
         "converted before it stay.\n"},
        {"between two tables", report(false, L"", false, L"", false),
         "The run was interrupted; the tables converted before it stay.\n"},
        {"before the first table", report(true, L"", false, L"", false),
         "The run was interrupted before any table was converted.\n"},
        {"mode 0, in a table", report(false, L"\u00C4MTER", false, L"d\u00FCst", true),
         "The run was interrupted: table \xC3\x84MTER was not converted (its rows are rolled back); the tables "
         "converted before it stay.\nThe database 'd\xC3\xBCst' was replaced: it holds only the tables converted "
         "before the interrupt.\n"},
        {"mode 0, made again but no table yet", report(true, L"", false, L"dest", true),
         "The run was interrupted before any table was converted.\nThe database 'dest' was replaced: it holds "
         "none of the dump's tables.\n"},
        {"mode 0, dropped and not made again", report(true, L"", false, L"dest", false),
         "The run was interrupted before any table was converted.\nThe database 'dest' was dropped and is not "
         "made again.\n"},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.what);
        FILE* out = std::tmpfile();
        FILE* err = std::tmpfile();
        ASSERT_TRUE(out && err);
        {
            console_front_end fe(out, err);
            fe.table_started(L"EMP");
            fe.run_interrupted(r.report);
        }
        EXPECT_EQ(contents(out), "Converting table EMP\n");
        EXPECT_EQ(contents(err), r.printed);
        std::fclose(out);
        std::fclose(err);
    }
}

// ---------------------------------------------------------------------------
// The program's end through the real console front end, in a child process.

struct ending_row {
    const char* name;
    int level;
    bool quiet;
    const char* context;  // record context of table EMP, record 3, when set
    bool assertion;       // an internal error of ("abc", 12) instead of text
    const char* text;
    const char* printed;
};

// The case's name, in the test list and in failure messages, in place of
// its raw bytes.
void PrintTo(const ending_row& row, std::ostream* os)
{
    *os << row.name;
}

class console_ending : public ::testing::TestWithParam<ending_row> {};

// The child of a "threadsafe" death test runs the test again from its start;
// the folder that the parent made reaches it through the environment.
constexpr const char* dir_variable = "CONSOLE_ENDING_TEST_DIR";

[[noreturn]] void report_and_fail(const ending_row& row, const std::string& dir)
{
    FILE* out = std::fopen((dir + "/out.txt").c_str(), "wb");
    FILE* err = std::fopen((dir + "/err.txt").c_str(), "wb");
    if (!out || !err)
        std::_Exit(3);
    console_front_end fe(out, err);
    error_handler reporter(error_handler_code_count, error_handler_codes);
    reporter.set_quiet(row.quiet);
    if (row.context)
        reporter.set_record_context(L"EMP", 3);
    if (row.assertion)
        reporter.handle(tk_mail_assertion("abc", 12), false);
    else
        reporter.handle(tk_exception(std::string(row.text), row.level), false);
    std::_Exit(4);  // handle returned: the program did not end
}

TEST_P(console_ending, ends_with_status_255_after_the_exact_text)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const ending_row& row = GetParam();

    tk_test::death_test_dir shared(dir_variable);
    const std::string& dir = shared.path();

    EXPECT_EXIT(report_and_fail(row, dir), ::testing::ExitedWithCode(255), "");
    EXPECT_EQ(tk_test::read_file(dir + "/out.txt"), "");
    EXPECT_EQ(tk_test::read_file(dir + "/err.txt"), row.printed);
}

const ending_row ending_rows[] = {
    {"level1", 1, false, nullptr, false, "disk full", "Error:\ndisk full\n"},
    {"level1_record_context", 1, false, "EMP", false, "bad\nvalue", "Error:\nEMP, record #3: bad value\n"},
    {"level1_quiet", 1, true, nullptr, false, "disk full", ""},
    {"level2", 2, false, nullptr, false, "broken\nstate", "Internal error: broken\nstate\n"},
    {"level2_quiet", 2, true, "EMP", false, "broken", "Internal error: broken\n"},
    {"assertion_quiet", 2, true, nullptr, true, nullptr,
     "Internal error: Internal error: \ncode=6162635c3132\n"},
};

INSTANTIATE_TEST_SUITE_P(table, console_ending, ::testing::ValuesIn(ending_rows),
                         [](const ::testing::TestParamInfo<ending_row>& info) { return std::string(info.param.name); });

}  // namespace
