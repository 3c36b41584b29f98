#include "error_handler.h"

#include "recording_front_end.h"
#include "test_support.h"
#include "tk_exception.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace {

using ::testing::ElementsAre;
using fe_mode = recording_front_end::mode;
using strings = std::vector<std::string>;

constexpr continue_answer go_on{false, false};
constexpr continue_answer go_on_ticked{false, true};
constexpr continue_answer stop{true, false};
constexpr continue_answer stop_ticked{true, true};

enum class outcome { returns, final_exception, program_end };

const char* outcome_name(outcome o)
{
    switch (o) {
    case outcome::returns: return "returns";
    case outcome::final_exception: return "tk_final_exception";
    case outcome::program_end: return "program end";
    }
    return "?";
}

struct handled {
    outcome result = outcome::returns;
    std::optional<int> exit_code;
};

// Runs handle and says how it left.
handled run(error_handler& reporter, const tk_exception& failure, bool flag)
{
    handled h;
    try {
        reporter.handle(failure, flag);
    } catch (const tk_final_exception&) {
        h.result = outcome::final_exception;
    } catch (const front_end_exit& e) {
        h.result = outcome::program_end;
        h.exit_code = e.code;
    }
    return h;
}

// ---------------------------------------------------------------------------
// What the callers see: one row per program, level, flag, quiet and answer.

struct reaction_row {
    const char* name;
    fe_mode program;
    int level;
    bool flag;
    bool quiet;
    std::optional<continue_answer> answer;  // scripted dialog answer, if any
    outcome result;
    strings effects;  // what the front end showed, wrote, listed or ended
    std::optional<int> exit_code;
    bool quiet_after;
};

void PrintTo(const reaction_row& r, std::ostream* os)
{
    *os << r.name;
}

class error_handler_reaction : public tk_test::logger_fixture,
                               public ::testing::WithParamInterface<reaction_row> {};

TEST_P(error_handler_reaction, follows_level_flag_quiet_and_answer)
{
    const reaction_row& row = GetParam();
    recording_front_end fe(row.program);
    if (row.answer)
        fe.answers.push_back(*row.answer);
    error_handler reporter(error_handler_code_count, error_handler_codes);
    reporter.set_quiet(row.quiet);

    handled h = run(reporter, tk_exception(std::string("disk full"), row.level), row.flag);

    EXPECT_EQ(h.result, row.result) << "got " << outcome_name(h.result);
    EXPECT_EQ(fe.effects(), row.effects);
    EXPECT_EQ(h.exit_code, row.exit_code);
    EXPECT_EQ(fe.exit_code, row.exit_code);
    EXPECT_EQ(reporter.is_quiet(), row.quiet_after);
}

const auto none = std::nullopt;
const char* const out_error = "write_err(Error:\ndisk full\n)";
const char* const out_internal = "write_err(Internal error: disk full\n)";
const char* const listed = "add_error_text(disk full)";
const char* const asked = "ask_continue(disk full)";
const char* const boxed = "show_error(disk full)";
const char* const internal_box = "show_internal_error(disk full)";
const char* const ended = "end_program(-1)";

const reaction_row reaction_rows[] = {
    // Console: the flag and the dialog play no part; level 1 and 2 end the
    // program, and only an internal error is printed when quiet.
    {"console_level0_flag0", fe_mode::console, 0, false, false, none, outcome::returns, {out_error}, none, false},
    {"console_level0_flag1", fe_mode::console, 0, true, false, none, outcome::returns, {out_error}, none, false},
    {"console_level0_quiet", fe_mode::console, 0, false, true, none, outcome::returns, {}, none, true},
    {"console_level0_flag1_quiet", fe_mode::console, 0, true, true, none, outcome::returns, {}, none, true},
    {"console_level1_flag0", fe_mode::console, 1, false, false, none, outcome::program_end, {out_error, ended}, -1, false},
    {"console_level1_flag1", fe_mode::console, 1, true, false, none, outcome::program_end, {out_error, ended}, -1, false},
    {"console_level1_quiet", fe_mode::console, 1, false, true, none, outcome::program_end, {ended}, -1, true},
    {"console_level1_flag1_quiet", fe_mode::console, 1, true, true, none, outcome::program_end, {ended}, -1, true},
    {"console_level2_flag0", fe_mode::console, 2, false, false, none, outcome::program_end, {out_internal, ended}, -1, false},
    {"console_level2_flag1", fe_mode::console, 2, true, false, none, outcome::program_end, {out_internal, ended}, -1, false},
    {"console_level2_quiet", fe_mode::console, 2, false, true, none, outcome::program_end, {out_internal, ended}, -1, true},
    {"console_level2_flag1_quiet", fe_mode::console, 2, true, true, none, outcome::program_end, {out_internal, ended}, -1, true},
    {"console_level5", fe_mode::console, 5, false, false, none, outcome::returns, {out_error}, none, false},
    {"console_level5_quiet", fe_mode::console, 5, false, true, none, outcome::returns, {}, none, true},

    // Wizard, level 0: the dialog decides; Abort stops the run only with
    // flag 0, and then leaves quiet alone.
    {"gui_level0_flag0_continue", fe_mode::gui, 0, false, false, go_on, outcome::returns, {listed, asked}, none, false},
    {"gui_level0_flag0_continue_ticked", fe_mode::gui, 0, false, false, go_on_ticked, outcome::returns, {listed, asked}, none, true},
    {"gui_level0_flag0_abort", fe_mode::gui, 0, false, false, stop, outcome::final_exception, {listed, asked}, none, false},
    {"gui_level0_flag0_abort_ticked", fe_mode::gui, 0, false, false, stop_ticked, outcome::final_exception, {listed, asked}, none, false},
    {"gui_level0_flag1_continue", fe_mode::gui, 0, true, false, go_on, outcome::returns, {listed, asked}, none, false},
    {"gui_level0_flag1_continue_ticked", fe_mode::gui, 0, true, false, go_on_ticked, outcome::returns, {listed, asked}, none, true},
    {"gui_level0_flag1_abort", fe_mode::gui, 0, true, false, stop, outcome::returns, {listed, asked}, none, false},
    {"gui_level0_flag1_abort_ticked", fe_mode::gui, 0, true, false, stop_ticked, outcome::returns, {listed, asked}, none, true},
    {"gui_level0_flag0_quiet", fe_mode::gui, 0, false, true, stop, outcome::returns, {listed}, none, true},
    {"gui_level0_flag1_quiet", fe_mode::gui, 0, true, true, stop, outcome::returns, {listed}, none, true},

    // Wizard, level 1: the box unless quiet; flag 0 stops the run even when
    // quiet.
    {"gui_level1_flag0", fe_mode::gui, 1, false, false, none, outcome::final_exception, {listed, boxed}, none, false},
    {"gui_level1_flag1", fe_mode::gui, 1, true, false, none, outcome::returns, {listed, boxed}, none, false},
    {"gui_level1_flag0_quiet", fe_mode::gui, 1, false, true, none, outcome::final_exception, {listed}, none, true},
    {"gui_level1_flag1_quiet", fe_mode::gui, 1, true, true, none, outcome::returns, {listed}, none, true},

    // Wizard, level 2: the internal-error dialog and the program's end,
    // whatever the flag and quiet; nothing is listed.
    {"gui_level2_flag0", fe_mode::gui, 2, false, false, none, outcome::program_end, {internal_box, ended}, -1, false},
    {"gui_level2_flag1", fe_mode::gui, 2, true, false, none, outcome::program_end, {internal_box, ended}, -1, false},
    {"gui_level2_flag0_quiet", fe_mode::gui, 2, false, true, none, outcome::program_end, {internal_box, ended}, -1, true},
    {"gui_level2_flag1_quiet", fe_mode::gui, 2, true, true, none, outcome::program_end, {internal_box, ended}, -1, true},

    // Any other level behaves as level 0.
    {"gui_level5_flag0_continue", fe_mode::gui, 5, false, false, go_on, outcome::returns, {listed, asked}, none, false},
    {"gui_level5_flag0_abort", fe_mode::gui, 5, false, false, stop, outcome::final_exception, {listed, asked}, none, false},
    {"gui_level5_flag1_abort_ticked", fe_mode::gui, 5, true, false, stop_ticked, outcome::returns, {listed, asked}, none, true},
    {"gui_level5_flag0_quiet", fe_mode::gui, 5, false, true, stop, outcome::returns, {listed}, none, true},
};

INSTANTIATE_TEST_SUITE_P(table, error_handler_reaction, ::testing::ValuesIn(reaction_rows),
                         [](const ::testing::TestParamInfo<reaction_row>& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------

class error_handler_test : public tk_test::logger_fixture {};

TEST_F(error_handler_test, the_context_leads_the_message)
{
    recording_front_end fe(fe_mode::gui);
    error_handler reporter(error_handler_code_count, error_handler_codes);
    const tk_exception failure(std::string("X"), 0);

    reporter.set_record_context(L"EMP", 3);
    EXPECT_EQ(run(reporter, failure, false).result, outcome::returns);
    reporter.set_context(L"DEPT");
    run(reporter, failure, false);
    // An empty context adds no ": ".
    reporter.set_context(L"");
    run(reporter, failure, false);

    EXPECT_THAT(fe.effects(), ElementsAre("add_error_text(EMP, record #3: X)", "ask_continue(EMP, record #3: X)",
                                          "add_error_text(DEPT: X)", "ask_continue(DEPT: X)",
                                          "add_error_text(X)", "ask_continue(X)"));
    EXPECT_EQ(log_text(), "Error:\nEMP, record #3: X\r\nError:\nDEPT: X\r\nError:\nX\r\n");
}

TEST_F(error_handler_test, line_feeds_become_blanks_for_the_user_but_not_in_the_log)
{
    recording_front_end gui(fe_mode::gui);
    {
        error_handler reporter(error_handler_code_count, error_handler_codes);
        reporter.set_context(L"EMP");
        run(reporter, tk_exception(std::string("one\ntwo\r\nthree\n"), 0), true);
        run(reporter, tk_exception(std::string("bad\nvalue"), 1), true);
    }
    // Only line feeds are replaced: a server's CR stays.
    EXPECT_THAT(gui.effects(), ElementsAre("add_error_text(EMP: one two\r three )", "ask_continue(EMP: one two\r three )",
                                           "add_error_text(EMP: bad value)", "show_error(EMP: bad value)"));
    EXPECT_EQ(log_text(), "Error:\nEMP: one\ntwo\r\nthree\n\r\nError:\nEMP: bad\nvalue\r\n");
}

TEST_F(error_handler_test, the_console_prints_one_line_per_failure)
{
    recording_front_end console(fe_mode::console);
    error_handler reporter(error_handler_code_count, error_handler_codes);
    reporter.set_context(L"EMP");
    run(reporter, tk_exception(std::string("one\ntwo"), 0), false);
    EXPECT_EQ(run(reporter, tk_exception(std::string("bad\nvalue"), 1), false).exit_code, -1);
    EXPECT_THAT(console.effects(),
                ElementsAre("write_err(Error:\nEMP: one two\n)", "write_err(Error:\nEMP: bad value\n)", "end_program(-1)"));
    EXPECT_EQ(log_text(), "Error:\nEMP: one\ntwo\r\nError:\nEMP: bad\nvalue\r\n");
}

TEST_F(error_handler_test, an_internal_error_keeps_its_text_and_ignores_the_context)
{
    const tk_mail_assertion failure("abc", 12);
    const std::string text = "Internal error: \ncode=6162635c3132";
    for (fe_mode m : {fe_mode::gui, fe_mode::console}) {
        recording_front_end fe(m);
        error_handler reporter(error_handler_code_count, error_handler_codes);
        reporter.set_record_context(L"EMP", 3);
        handled h = run(reporter, failure, false);
        EXPECT_EQ(h.result, outcome::program_end);
        EXPECT_EQ(h.exit_code, -1);
        if (m == fe_mode::gui)
            EXPECT_THAT(fe.effects(), ElementsAre("show_internal_error(" + text + ")", "end_program(-1)"));
        else
            EXPECT_THAT(fe.effects(), ElementsAre("write_err(Internal error: " + text + "\n)", "end_program(-1)"));
    }
    EXPECT_EQ(log_text(), "Internal error:\n" + text + "\r\nInternal error:\n" + text + "\r\n");
}

struct code_row {
    const char* name;
    int code;
    const char* shown;
};

// The case's name, in the test list and in failure messages, in place of
// its raw bytes.
void PrintTo(const code_row& row, std::ostream* os)
{
    *os << row.name;
}

class error_handler_code : public tk_test::logger_fixture, public ::testing::WithParamInterface<code_row> {};

TEST_P(error_handler_code, a_known_code_shows_its_text_in_place_of_the_failures)
{
    const code_row& row = GetParam();
    recording_front_end fe(fe_mode::gui);
    error_handler reporter(error_handler_code_count, error_handler_codes);
    reporter.set_context(L"connection");
    tk_exception_ex failure("Cannot connect: ", 0, row.code, "refused");
    ASSERT_EQ(failure.system_error, row.code);
    run(reporter, failure, true);
    const std::string message = std::string("connection: ") + row.shown;
    EXPECT_THAT(fe.effects(), ElementsAre("add_error_text(" + message + ")", "ask_continue(" + message + ")"));
    EXPECT_EQ(log_text(), "Error:\n" + message + "\r\n");
}

const code_row code_rows[] = {
    {"no_server", -1032,
     "Cannot connect to pgs server. Check to verify that pgs server is launched and allows connection."},
    {"bad_password", -30082, "Incorrect username or password"},
    // An errno never matches; the failure's own text is shown.
    {"errno", ENOENT, "Cannot connect: refused"},
    {"no_code", 0, "Cannot connect: "},
};

INSTANTIATE_TEST_SUITE_P(table, error_handler_code, ::testing::ValuesIn(code_rows),
                         [](const ::testing::TestParamInfo<code_row>& info) { return std::string(info.param.name); });

TEST_F(error_handler_test, the_twenty_first_failure_is_traced_and_shown_but_not_listed)
{
    recording_front_end fe(fe_mode::gui);
    error_handler reporter(error_handler_code_count, error_handler_codes);
    std::string log;
    for (int i = 1; i <= 21; ++i) {
        const std::string text = "failure " + std::to_string(i);
        run(reporter, tk_exception(text, 0), false);
        log += "Error:\n" + text + "\r\n";
    }
    ASSERT_EQ(fe.error_list.size(), 20u);
    EXPECT_EQ(fe.error_list.front(), "failure 1");
    EXPECT_EQ(fe.error_list.back(), "failure 20");
    const strings effects = fe.effects();
    ASSERT_FALSE(effects.empty());
    EXPECT_EQ(effects.back(), "ask_continue(failure 21)");
    EXPECT_EQ(effects.size(), 41u);
    EXPECT_EQ(log_text(), log);
}

TEST_F(error_handler_test, nothing_is_listed_before_the_list_is_ready)
{
    recording_front_end fe(fe_mode::gui, false);
    error_handler reporter(error_handler_code_count, error_handler_codes);
    run(reporter, tk_exception(std::string("X"), 0), false);
    EXPECT_THAT(fe.effects(), ElementsAre("ask_continue(X)"));
}

TEST_F(error_handler_test, after_continue_with_the_box_ticked_no_window_shows_yet_level1_stops)
{
    recording_front_end fe(fe_mode::gui);
    fe.answers.push_back(go_on_ticked);
    fe.answers.push_back(stop);  // must never be asked
    error_handler reporter(error_handler_code_count, error_handler_codes);

    EXPECT_EQ(run(reporter, tk_exception(std::string("first"), 0), false).result, outcome::returns);
    EXPECT_TRUE(reporter.is_quiet());
    EXPECT_EQ(run(reporter, tk_exception(std::string("second"), 0), false).result, outcome::returns);
    EXPECT_EQ(run(reporter, tk_exception(std::string("stopping"), 1), false).result, outcome::final_exception);
    EXPECT_EQ(run(reporter, tk_exception(std::string("outer"), 1), true).result, outcome::returns);

    EXPECT_THAT(fe.effects(), ElementsAre("add_error_text(first)", "ask_continue(first)", "add_error_text(second)",
                                          "add_error_text(stopping)", "add_error_text(outer)"));
    EXPECT_EQ(fe.answers.size(), 1u);
    EXPECT_EQ(log_text(), "Error:\nfirst\r\nError:\nsecond\r\nError:\nstopping\r\nError:\nouter\r\n");
}

TEST(error_handler_context, record_contexts_are_built_whole)
{
    recording_front_end fe(fe_mode::console);
    error_handler reporter(error_handler_code_count, error_handler_codes);

    const std::wstring long_name(300, L'\u0416');  // Ж, two UTF-8 bytes each
    std::string long_utf8;
    for (int i = 0; i < 300; ++i)
        long_utf8 += "\xD0\x96";
    reporter.set_record_context(long_name, 7);
    EXPECT_EQ(reporter.get_context(), long_utf8 + ", record #7");

    reporter.set_record_context(L"BIG", 3000000000LL);
    EXPECT_EQ(reporter.get_context(), "BIG, record #3000000000");
    reporter.set_record_context(L"BIG", INT64_MAX);
    EXPECT_EQ(reporter.get_context(), "BIG, record #9223372036854775807");

    // Both reach the user whole.
    reporter.set_record_context(long_name, 3000000000LL);
    run(reporter, tk_exception(std::string("X"), 0), false);
    EXPECT_THAT(fe.effects(), ElementsAre("write_err(Error:\n" + long_utf8 + ", record #3000000000: X\n)"));
}

TEST(error_handler_context, a_data_text_is_never_read_as_a_format)
{
    recording_front_end fe(fe_mode::console);
    error_handler reporter(error_handler_code_count, error_handler_codes);
    reporter.set_record_context(L"T%s%d%n", 1);
    run(reporter, tk_exception(std::string("%s %I64d"), 0), false);
    EXPECT_THAT(fe.effects(), ElementsAre("write_err(Error:\nT%s%d%n, record #1: %s %I64d\n)"));
}

}  // namespace
