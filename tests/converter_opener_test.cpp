// The dump opener: real openings of writer dumps, and stubbed openings that
// fail in every way the reader can, in the console form and the wizard's.

#include "ora_dump_opener_t.h"

#include "converter_console_capture.h"
#include "converter_fakes.h"
#include "error_handler.h"
#include "ora_dump_file.h"
#include "ora_dump_scan_fixtures.h"
#include "ora_dump_writer.h"
#include "recording_front_end.h"
#include "test_support.h"
#include "velconv_convertor.h"

#include "tk_exception.h"
#include "tk_unicode.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using mode = recording_front_end::mode;
using strings = std::vector<std::string>;

class dump_opener : public tk_test::home_fixture {
protected:
    // A classic dump of one table, written into the test's folder.
    std::wstring write_dump(const std::string& file, const std::string& table)
    {
        ora_dump_writer w;
        w.header(ora_dump_writer::header_fields{});
        w.line("CONNECT SCOTT");
        table_pos t;
        scan_fixtures::section(w, table, "USERS", t);
        scan_fixtures::close_export(w);
        const std::vector<std::uint8_t> bytes = w.data();
        const std::string path = home.file(file);
        tk_test::write_file(path, std::string(bytes.begin(), bytes.end()));
        return tk_utf8_to_wide(path);
    }
    static bool exists(const std::wstring& path)
    {
        struct stat st {};
        return ::stat(tk_wide_to_utf8(path).c_str(), &st) == 0;
    }
    static bool has(const strings& effects, const std::string& effect)
    {
        return std::find(effects.begin(), effects.end(), effect) != effects.end();
    }
    // Runs the opening; the exit code when the front end ended the program.
    static std::optional<int> open(velconv_convertor& conv)
    {
        try {
            conv.opener()();
        } catch (const front_end_exit& e) {
            return e.code;
        }
        return std::nullopt;
    }
};

TEST_F(dump_opener, a_second_opening_destroys_the_first_dump_which_writes_its_context)
{
    recording_front_end fe(mode::gui);
    error_handler reporter(error_handler_code_count, error_handler_codes);
    velconv_convertor conv;
    const std::wstring first = write_dump("first.dmp", "EMP");
    const std::wstring second = write_dump("second.dmp", "DEPT");

    conv.src = first;
    EXPECT_FALSE(open(conv));
    ASSERT_NE(conv.opener().database(), nullptr);
    // Kept while open: the context is written when the dump closes.
    EXPECT_FALSE(exists(ora_dump_file::context_file_name(first)));
    EXPECT_EQ(conv.opener().database()->get_table_names(), std::vector<std::wstring>{L"EMP"});
    EXPECT_EQ(conv.opener().reader().get_progress(), 100);
    EXPECT_EQ(conv.get_all_tables(), std::vector<std::wstring>{L"EMP"});

    conv.src = second;
    EXPECT_FALSE(open(conv));
    ASSERT_NE(conv.opener().database(), nullptr);
    EXPECT_EQ(conv.opener().database()->get_table_names(), std::vector<std::wstring>{L"DEPT"});
    // The first dump is closed: its scan is kept for the next opening.
    EXPECT_TRUE(exists(ora_dump_file::context_file_name(first)));

    // The run's hand-over leaves the opener with nothing to destroy twice.
    std::unique_ptr<udb_database> taken = conv.opener().take_database();
    ASSERT_NE(taken, nullptr);
    EXPECT_EQ(conv.opener().database(), nullptr);
    EXPECT_EQ(conv.opener().take_database(), nullptr);
    EXPECT_TRUE(has(fe.effects(), "reading_file(" + tk_wide_to_utf8(second) + ")"));
}

TEST_F(dump_opener, an_empty_file_ends_the_console_program_and_returns_the_wizard)
{
    const std::string refusal = ora_dump_reader::message(0);
    {
        recording_front_end fe(mode::console);
        error_handler reporter(error_handler_code_count, error_handler_codes);
        velconv_convertor conv;
        tk_test::write_file(home.file("empty.dmp"), "");
        conv.src = tk_utf8_to_wide(home.file("empty.dmp"));
        const std::optional<int> code = open(conv);
        ASSERT_TRUE(code);
        EXPECT_EQ(*code & 0xFF, 255);
        EXPECT_TRUE(has(fe.effects(), "write_err(Error:\n" + refusal + "\n)"));
        EXPECT_EQ(conv.opener().database(), nullptr);
    }
    {
        recording_front_end fe(mode::gui);
        error_handler reporter(error_handler_code_count, error_handler_codes);
        velconv_convertor conv;
        conv.src = tk_utf8_to_wide(home.file("empty.dmp"));
        EXPECT_FALSE(open(conv));
        EXPECT_FALSE(fe.exit_code);
        EXPECT_EQ(conv.opener().reader().get_progress(), -1);
        EXPECT_EQ(conv.opener().database(), nullptr);
        EXPECT_TRUE(has(fe.effects(), "show_error(" + refusal + ")"));
    }
}

TEST_F(dump_opener, a_failed_opening_keeps_the_dump_held_before)
{
    recording_front_end fe(mode::gui);
    error_handler reporter(error_handler_code_count, error_handler_codes);
    velconv_convertor conv;
    conv.src = write_dump("good.dmp", "EMP");
    EXPECT_FALSE(open(conv));
    tk_test::write_file(home.file("empty.dmp"), "");
    conv.src = tk_utf8_to_wide(home.file("empty.dmp"));
    EXPECT_FALSE(open(conv));
    ASSERT_NE(conv.opener().database(), nullptr);
    EXPECT_EQ(conv.opener().database()->get_table_names(), std::vector<std::wstring>{L"EMP"});
}

TEST_F(dump_opener, the_reading_line_follows_the_silent_setting)
{
    for (bool silent : {false, true}) {
        fake::captured_console fe;
        error_handler reporter(error_handler_code_count, error_handler_codes);
        velconv_convertor conv;
        conv.set_silent(silent);
        conv.src = write_dump("emp.dmp", "EMP");
        EXPECT_FALSE(open(conv));
        EXPECT_NE(conv.opener().database(), nullptr);
        EXPECT_EQ(fe.out(), silent ? "" : "Reading file " + home.file("emp.dmp") + "\n");
        EXPECT_EQ(fe.err(), "");
    }
}

// An opening that fails with something outside the reader's own failures.
struct foreign_case {
    const char* name;
    std::function<void()> raise;
    std::string text;
};

TEST_F(dump_opener, a_foreign_failure_ends_the_console_and_sends_the_wizard_back)
{
    const std::vector<foreign_case> cases = {
        {"standard", [] { throw std::runtime_error("boom"); }, "Cannot read the dump file: boom"},
        {"unknown", [] { throw 7; }, "Cannot read the dump file: Unknown exception"},
    };
    for (const foreign_case& c : cases) {
        SCOPED_TRACE(c.name);
        auto stub = [&c](ora_dump_reader&, const std::wstring&) -> std::unique_ptr<udb_database> {
            c.raise();
            return nullptr;
        };
        {
            fake::captured_console fe;
            error_handler reporter(error_handler_code_count, error_handler_codes);
            velconv_convertor conv;
            conv.src = L"/data/x.dmp";
            conv.opener().set_open_function(stub);
            EXPECT_EQ(open(conv), 255);
            EXPECT_EQ(fe.err(), c.text + "\n");
            EXPECT_EQ(conv.opener().reader().get_progress(), -1);
        }
        {
            // Silent: the status alone tells.
            fake::captured_console fe;
            error_handler reporter(error_handler_code_count, error_handler_codes);
            velconv_convertor conv;
            conv.set_silent(true);
            conv.src = L"/data/x.dmp";
            conv.opener().set_open_function(stub);
            EXPECT_EQ(open(conv), 255);
            EXPECT_EQ(fe.err(), "");
            EXPECT_EQ(fe.out(), "");
        }
        {
            recording_front_end fe(mode::gui);
            error_handler reporter(error_handler_code_count, error_handler_codes);
            velconv_convertor conv;
            conv.src = L"/data/x.dmp";
            conv.opener().set_open_function(stub);
            EXPECT_FALSE(open(conv));
            EXPECT_FALSE(fe.exit_code);
            EXPECT_EQ(conv.opener().reader().get_progress(), -1);
            EXPECT_TRUE(has(fe.effects(), "dump_open_failed(" + c.text + ")"));
        }
    }
}

TEST_F(dump_opener, a_reader_failure_is_reported_and_ends_the_program)
{
    for (mode form : {mode::console, mode::gui}) {
        recording_front_end fe(form);
        error_handler reporter(error_handler_code_count, error_handler_codes);
        velconv_convertor conv;
        conv.opener().set_open_function([](ora_dump_reader&, const std::wstring&) -> std::unique_ptr<udb_database> {
            throw tk_exception("cannot map the file", 0);
        });
        EXPECT_EQ(open(conv), 255);
        const strings effects = fe.effects();
        ASSERT_GE(effects.size(), 2u);
        EXPECT_EQ(effects.back(), "end_program(255)");
        EXPECT_EQ(effects[effects.size() - 2],
                  form == mode::console ? "write_err(Error:\ncannot map the file\n)" : "ask_continue(cannot map the file)");
    }
}

TEST_F(dump_opener, the_readers_refusal_in_the_wizard_is_quiet)
{
    recording_front_end fe(mode::gui);
    error_handler reporter(error_handler_code_count, error_handler_codes);
    velconv_convertor conv;
    conv.opener().set_open_function(
        [](ora_dump_reader&, const std::wstring&) -> std::unique_ptr<udb_database> { throw tk_final_exception(); });
    EXPECT_FALSE(open(conv));
    EXPECT_EQ(fe.effects(), strings{"reading_file()"});
}

TEST_F(dump_opener, the_reader_sees_the_stop_only_while_the_opening_runs_and_failures_after_it_are_quiet)
{
    struct stop_case {
        const char* name;
        std::function<void(ora_dump_reader&)> after_stop;
        // A failure after the stop: the opener itself sets the progress.
        bool failure = true;
    };
    const std::vector<stop_case> cases = {
        // The reader's scan asks its check, which ends the opening.
        {"the scan's check", [](ora_dump_reader& r) { r.check_stop(); }, false},
        {"a failure of the tk_exception family", [](ora_dump_reader&) { throw tk_exception("cancelled", 0); }},
        {"a level-1 failure", [](ora_dump_reader&) { throw tk_exception("cancelled", 1); }},
        {"a standard exception", [](ora_dump_reader&) { throw std::runtime_error("cancelled"); }},
    };
    for (const stop_case& c : cases) {
        SCOPED_TRACE(c.name);
        for (mode form : {mode::console, mode::gui}) {
            recording_front_end fe(form);
            error_handler reporter(error_handler_code_count, error_handler_codes);
            velconv_convertor conv;
            conv.src = L"/data/x.dmp";
            ora_dump_opener_t& opener = conv.opener();
            opener.set_open_function([&](ora_dump_reader& r, const std::wstring&) -> std::unique_ptr<udb_database> {
                r.check_stop();  // nothing asked for yet
                opener.request_stop();
                c.after_stop(r);
                ADD_FAILURE() << "the stop did not end the opening";
                return nullptr;
            });
            EXPECT_FALSE(open(conv));
            EXPECT_EQ(fe.effects(), strings{"reading_file(/data/x.dmp)"});
            if (c.failure) {
                EXPECT_EQ(opener.reader().get_progress(), -1);
            }
            EXPECT_EQ(opener.database(), nullptr);
            // The check went with the opening, though the stop stands.
            EXPECT_TRUE(opener.stop_requested());
            EXPECT_NO_THROW(opener.reader().check_stop());
        }
    }
}

}  // namespace
