// The conversion run over a scripted source and a recording destination, in
// the console form and the wizard's form.

#include "velconv_convertor.h"

#include "console_front_end.h"
#include "converter_console_capture.h"
#include "converter_fakes.h"
#include "error_handler.h"
#include "recording_front_end.h"
#include "test_support.h"

#include "tk_exception.h"
#include "tk_unicode.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <ostream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace {

using fake::at_record;
using fake::table;
using fake::table_script;
using mode = recording_front_end::mode;
using strings = std::vector<std::string>;

// The recording front end, with the reports and the table events also
// entered into the destination's call log, so that one sequence shows what
// was released before what was reported.
class logging_front_end : public recording_front_end {
public:
    logging_front_end(mode m, fake::call_log& log_) : recording_front_end(m), log(log_) {}
    void write_err(const std::string& text) override
    {
        recording_front_end::write_err(text);
        log.calls.push_back("report(" + text + ")");
    }
    continue_answer ask_continue(const std::wstring& text) override
    {
        log.calls.push_back("report(" + tk_wide_to_utf8(text) + ")");
        return recording_front_end::ask_continue(text);
    }
    void show_error(const std::wstring& text) override
    {
        log.calls.push_back("report(" + tk_wide_to_utf8(text) + ")");
        recording_front_end::show_error(text);
    }
    void table_skipped(const std::wstring& name) override
    {
        recording_front_end::table_skipped(name);
        log.calls.push_back("skipped(" + tk_wide_to_utf8(name) + ")");
    }
    void table_started(const std::wstring& name) override
    {
        recording_front_end::table_started(name);
        log.calls.push_back("started(" + tk_wide_to_utf8(name) + ")");
    }
    void definitions_done(const std::wstring& name) override
    {
        recording_front_end::definitions_done(name);
        log.calls.push_back("defined(" + tk_wide_to_utf8(name) + ")");
    }
    void table_converted(const std::wstring& name, std::uint64_t n) override
    {
        recording_front_end::table_converted(name, n);
        log.calls.push_back("converted(" + tk_wide_to_utf8(name) + " " + std::to_string(n) + ")");
    }

private:
    fake::call_log& log;
};

// The calls of one table that converts all its rows.
strings converted(const std::string& name, int rows, const std::string& dest_name = {})
{
    const std::string d = dest_name.empty() ? "public." + name : dest_name;
    strings s = {"create_schema(public)", "create_table(" + d + " cols=1 idx=1)", "started(" + name + ")"};
    for (int i = 1; i <= rows; ++i)
        s.push_back("append(" + d + " #" + std::to_string(i) + ")");
    s.push_back("finish(" + d + ")");
    s.push_back("converted(" + name + " " + std::to_string(rows) + ")");
    s.push_back("release(" + d + ")");
    return s;
}

strings concat(std::initializer_list<strings> parts)
{
    strings all;
    for (const strings& p : parts)
        all.insert(all.end(), p.begin(), p.end());
    return all;
}

const strings run_start = {"check_dest", "get_dest_base"};
const strings run_end = {"release_db"};

struct run_case {
    run_case(std::string name_, mode form_, std::vector<table_script> dump_, std::vector<std::wstring> selected_,
             strings expected_, bool completed_ = true, std::optional<int> exit_code_ = std::nullopt)
        : name(std::move(name_)), form(form_), dump(std::move(dump_)), selected(std::move(selected_)),
          expected(std::move(expected_)), completed(completed_), exit_code(exit_code_)
    {
    }
    std::string name;
    mode form;
    std::vector<table_script> dump;
    std::vector<std::wstring> selected;
    strings expected;  // the destination's calls, the reports and the table events, in order
    bool completed = true;
    std::optional<int> exit_code;
    // Completed with nothing left out; a report or a table the dump lacks
    // clears it.
    bool all_converted = true;
    // Settings and scripts applied before the run.
    int n_mode = 0;
    bool tab_def = false;
    bool skip_idx = false;
    std::vector<std::wstring> existing;
    std::map<std::string, tk_exception> failures;
    std::vector<continue_answer> answers;
    std::string stop_after;  // the call after which the user asks to stop
    // The dump ends early; the destination database is there already.
    bool truncated = false;
    bool dest_there = true;
};

void PrintTo(const run_case& c, std::ostream* os)
{
    *os << c.name;
}

std::vector<run_case> run_cases()
{
    const tk_exception copy_refused("ERROR: null value in column \"ID\"", 0);
    std::vector<run_case> rows;
    // Table list.
    rows.push_back({"gui_empty_selection_converts_nothing", mode::gui, {table(L"EMP")}, {},
                    concat({run_start, run_end})});
    rows.push_back({"console_empty_selection_takes_the_dump_order", mode::console,
                    {table(L"B", 1), table(L"A", 1), table(L"C", 1)}, {},
                    concat({run_start, converted("B", 1), converted("A", 1), converted("C", 1), run_end})});
    {
        table_script none = table(L"NOCOL", 3);
        none.columns.clear();
        rows.push_back({"a_columnless_table_is_skipped_silently", mode::gui, {none, table(L"EMP")},
                        {L"NOCOL", L"EMP"}, concat({run_start, converted("EMP", 2), run_end})});
    }
    {
        run_case c{"console_skips_a_table_the_dump_lacks", mode::console, {table(L"EMP", 1)},
                   {L"NOPE", L"EMP"}, concat({run_start, converted("EMP", 1), run_end})};
        c.all_converted = false;
        rows.push_back(c);
    }
    // Modes.
    {
        run_case c{"mode_1_drops_an_existing_table_before_making_it", mode::console, {table(L"EMP", 1)}, {L"EMP"},
                   concat({run_start,
                           {"create_schema(public)", "delete_tab(public.EMP)", "create_table(public.EMP cols=1 idx=1)",
                            "started(EMP)", "append(public.EMP #1)", "finish(public.EMP)", "converted(EMP 1)",
                            "release(public.EMP)"},
                           run_end})};
        c.n_mode = 1;
        c.existing = {L"public.EMP"};
        rows.push_back(c);
    }
    {
        run_case c{"mode_2_leaves_an_existing_table_and_goes_on", mode::console, {table(L"EMP"), table(L"DEPT", 1)},
                   {L"EMP", L"DEPT"},
                   concat({run_start, {"create_schema(public)", "skipped(EMP)"}, converted("DEPT", 1), run_end})};
        c.n_mode = 2;
        c.existing = {L"public.EMP"};
        rows.push_back(c);
    }
    // A dump that ends early never costs an existing database; into a new
    // one, or into existing tables, its whole tables convert.
    for (mode form : {mode::console, mode::gui}) {
        const bool console = form == mode::console;
        const std::string refusal = "The database 'd' is not replaced: the dump file is truncated or incomplete.";
        // The console ends the program with 255 at the report.
        run_case c{std::string(console ? "console" : "gui") + "_mode_0_keeps_an_existing_database_from_a_truncated_dump",
                   form,
                   {table(L"EMP", 1)},
                   {L"EMP"},
                   {"report(" + (console ? "Error:\n" + refusal + "\n" : refusal) + ")"},
                   false,
                   console ? std::optional<int>(-1) : std::nullopt};
        c.truncated = true;
        rows.push_back(c);
    }
    {
        run_case c{"mode_0_fills_a_new_database_from_a_truncated_dump", mode::console, {table(L"EMP", 1)}, {L"EMP"},
                   concat({run_start, converted("EMP", 1), run_end})};
        c.truncated = true;
        c.dest_there = false;
        rows.push_back(c);
    }
    {
        run_case c{"mode_3_merges_the_whole_tables_of_a_truncated_dump", mode::console, {table(L"EMP", 1)}, {L"EMP"},
                   concat({run_start, converted("EMP", 1), run_end})};
        c.truncated = true;
        c.n_mode = 3;
        rows.push_back(c);
    }
    {
        run_case c{"definitions_only_finish_and_release_without_rows", mode::console, {table(L"EMP", 5)}, {L"EMP"},
                   concat({run_start,
                           {"create_schema(public)", "create_table(public.EMP cols=1 idx=0)", "started(EMP)",
                            "finish(public.EMP)", "release(public.EMP)", "defined(EMP)"},
                           run_end})};
        c.tab_def = true;
        c.skip_idx = true;
        rows.push_back(c);
    }
    // Names.
    rows.push_back(
        {"restricted_names_get_their_own_generated_names", mode::gui, {table(L"A/B", 1), table(L"A?B", 1)},
         {L"A/B", L"A?B"},
         concat({run_start, converted("A/B", 1, "public.A_B"), converted("A?B", 1, "public.A_B00000"),
                 {"map(A/B->public.A_B)", "map(A?B->public.A_B00000)"}, run_end})});
    rows.push_back({"a_table_listed_twice_or_in_another_case_converts_once", mode::console, {table(L"EMP", 1)},
                    {L"EMP", L"emp", L"EMP"}, concat({run_start, converted("EMP", 1), run_end})});
    rows.push_back({"two_tables_differing_in_case_both_convert_under_two_names", mode::console,
                    {table(L"EMP", 1), table(L"Emp", 1)}, {L"EMP", L"Emp"},
                    concat({run_start, converted("EMP", 1), converted("Emp", 1, "public.Emp00000"),
                            {"map(Emp->public.Emp00000)"}, run_end})});
    // Record and COPY failures.
    {
        run_case c{"a_record_failure_is_reported_and_the_next_record_follows", mode::console,
                   {table(L"EMP", 4, {{3, at_record::level0}})}, {L"EMP"},
                   concat({run_start,
                           {"create_schema(public)", "create_table(public.EMP cols=1 idx=1)", "started(EMP)",
                            "append(public.EMP #1)", "append(public.EMP #2)", "report(Error:\nEMP, record #3: X\n)",
                            "append(public.EMP #4)", "finish(public.EMP)", "converted(EMP 4)", "release(public.EMP)"},
                           run_end})};
        c.all_converted = false;
        rows.push_back(c);
    }
    {
        run_case c{"a_missing_record_is_reported_and_the_table_goes_on", mode::console,
                   {table(L"T", 5, {{3, at_record::no_record}})}, {L"T"},
                   concat({run_start,
                           {"create_schema(public)", "create_table(public.T cols=1 idx=1)", "started(T)",
                            "append(public.T #1)", "append(public.T #2)",
                            "report(Error:\nT, record #3: The record cannot be read.\n)", "append(public.T #4)",
                            "append(public.T #5)", "finish(public.T)", "converted(T 5)", "release(public.T)"},
                           run_end})};
        c.all_converted = false;
        rows.push_back(c);
    }
    {
        run_case c{"a_refused_copy_is_a_table_failure_released_before_the_report", mode::console,
                   {table(L"A", 1), table(L"B", 1)}, {L"A", L"B"},
                   concat({run_start,
                           {"create_schema(public)", "create_table(public.A cols=1 idx=1)", "started(A)",
                            "append(public.A #1)", "finish(public.A)", "release(public.A)",
                            "report(Error:\nA: ERROR: null value in column \"ID\"\n)"},
                           converted("B", 1), run_end})};
        c.failures.emplace("finish(public.A)", copy_refused);
        c.all_converted = false;
        rows.push_back(c);
    }
    {
        table_script bad = table(L"A", 1);
        bad.get_table_failure = "cannot read the definition";
        run_case c{"a_table_failure_names_the_table_and_the_next_follows", mode::gui, {bad, table(L"B", 1)},
                   {L"A", L"B"},
                   concat({run_start, {"report(A: cannot read the definition)"}, converted("B", 1), run_end})};
        c.all_converted = false;
        rows.push_back(c);
    }
    // Ending early.
    {
        run_case c{"console_level_1_record_failure_ends_the_program_without_finish", mode::console,
                   {table(L"EMP", 4, {{3, at_record::level1}}), table(L"B", 1)}, {L"EMP", L"B"},
                   concat({run_start,
                           {"create_schema(public)", "create_table(public.EMP cols=1 idx=1)", "started(EMP)",
                            "append(public.EMP #1)", "append(public.EMP #2)", "report(Error:\nEMP, record #3: Y\n)",
                            // Only the test's front end unwinds; the real one exits here.
                            "release(public.EMP)"},
                           run_end}),
                   false, -1};
        rows.push_back(c);
    }
    {
        run_case c{"gui_abort_releases_the_table_and_converts_no_further", mode::gui,
                   {table(L"A", 3, {{2, at_record::level0}}), table(L"B", 1)}, {L"A", L"B"},
                   concat({run_start,
                           {"create_schema(public)", "create_table(public.A cols=1 idx=1)", "started(A)",
                            "append(public.A #1)", "report(A, record #2: X)", "release(public.A)"},
                           run_end}),
                   false};
        c.answers = {continue_answer{true, false}};
        rows.push_back(c);
    }
    // A stop ends the run at the next record, and after the stop a failure
    // is the stop: no report, no dialog, no end of the program, and no
    // further table, in both forms.
    const tk_exception cancelled("ERROR:  canceling statement due to user request", 0);
    for (mode form : {mode::gui, mode::console}) {
        const std::string suffix = form == mode::gui ? "_gui" : "_console";
        for (bool failing : {false, true}) {
            const std::string name =
                failing ? "a_record_failure_after_a_stop_is_the_stop" : "a_stop_request_ends_the_run_at_the_next_record";
            run_case c{name + suffix,
                       form,
                       {table(L"A", 3), table(L"B", 1)},
                       {L"A", L"B"},
                       concat({run_start,
                               {"create_schema(public)", "create_table(public.A cols=1 idx=1)", "started(A)",
                                "append(public.A #1)", "append(public.A #2)", "release(public.A)"},
                               run_end}),
                       false};
            c.stop_after = "append(public.A #2)";
            if (failing)
                c.failures.emplace("append(public.A #2)", copy_refused);
            rows.push_back(c);
        }
        {
            run_case c{"a_stop_during_a_table_creation_ends_the_run_quietly" + suffix, form,
                       {table(L"A", 3), table(L"B", 1)}, {L"A", L"B"},
                       concat({run_start, {"create_schema(public)", "create_table(public.A cols=1 idx=1)"}, run_end}),
                       false};
            c.stop_after = "create_table(public.A cols=1 idx=1)";
            c.failures.emplace("create_table(public.A cols=1 idx=1)", cancelled);
            rows.push_back(c);
        }
        {
            run_case c{"a_failure_after_a_stop_outside_the_tables_is_quiet" + suffix, form, {table(L"A", 3)},
                       {L"A"}, run_start, false};
            c.stop_after = "get_dest_base";
            c.failures.emplace("get_dest_base", cancelled);
            rows.push_back(c);
        }
    }
    {
        run_case c{"a_destination_failure_is_one_report_and_not_completed", mode::console, {table(L"A")}, {L"A"},
                   {"check_dest", "get_dest_base", "report(Error:\nno server\n)"}, false};
        c.failures.emplace("get_dest_base", tk_exception("no server", 0));
        rows.push_back(c);
    }
    // Edges.
    rows.push_back({"a_foreign_throw_is_an_unknown_exception_at_level_1", mode::gui,
                    {table(L"A", 2, {{2, at_record::foreign}}), table(L"B", 1)}, {L"A", L"B"},
                    concat({run_start,
                            {"create_schema(public)", "create_table(public.A cols=1 idx=1)", "started(A)",
                             "append(public.A #1)", "release(public.A)", "release_db", "report(Unknown exception)"}}),
                    false});
    rows.push_back({"a_standard_exception_reaches_the_front_end", mode::gui,
                    {table(L"A", 2, {{1, at_record::std_error}})}, {L"A"},
                    concat({run_start,
                            {"create_schema(public)", "create_table(public.A cols=1 idx=1)", "started(A)",
                             "release(public.A)", "release_db"}}),
                    false});
    return rows;
}

class conversion_run : public tk_test::home_fixture, public ::testing::WithParamInterface<run_case> {};

TEST_P(conversion_run, scenario)
{
    const run_case& c = GetParam();
    fake::call_log log;
    logging_front_end fe(c.form, log);
    fe.answers.assign(c.answers.begin(), c.answers.end());
    error_handler reporter(error_handler_code_count, error_handler_codes);
    velconv_convertor conv;
    conv.src = L"/data/x.dmp";
    conv.dest = L"d";
    conv.n_mode = c.n_mode;
    conv.tab_def = c.tab_def ? 1 : 0;
    conv.skip_idx = c.skip_idx ? 1 : 0;
    conv.selected_tables = c.selected;
    log.failures = c.failures;
    if (!c.stop_after.empty())
        log.on_call = [&](const std::string& call) {
            if (call == c.stop_after)
                conv.request_stop();
        };
    auto provider = std::make_unique<fake::recording_provider>(log, c.existing);
    provider->dest_there = c.dest_there;
    conv.set_dest_provider(std::move(provider));
    const std::vector<table_script> dump = c.dump;
    const bool truncated = c.truncated;
    auto make_source = [dump, truncated] {
        auto source = std::make_unique<fake::script_source>(dump);
        source->truncated = truncated;
        return std::unique_ptr<udb_database>(std::move(source));
    };
    if (c.form == mode::console)
        conv.opener().set_open_function([make_source](ora_dump_reader&, const std::wstring&) { return make_source(); });
    else
        conv.opener().set_database(make_source());

    std::optional<int> exit_code;
    try {
        conv();
    } catch (const front_end_exit& e) {
        exit_code = e.code;
    }

    EXPECT_EQ(log.calls, c.expected);
    EXPECT_EQ(exit_code, c.exit_code);
    EXPECT_EQ(conv.is_completed(), c.completed);
    EXPECT_EQ(conv.is_all_converted(), c.completed && c.all_converted);
    EXPECT_TRUE(conv.is_finished());
    // The dump went over to the converter and stays with it.
    EXPECT_EQ(conv.opener().database(), nullptr);
    EXPECT_NE(conv.source_db, nullptr);
    if (c.completed) {
        EXPECT_EQ(conv.n_tables.load(), 0u);
        EXPECT_EQ(conv.cur_table.load(), 0u);
        EXPECT_EQ(reporter.get_context(), "");
    }
}

INSTANTIATE_TEST_SUITE_P(table, conversion_run, ::testing::ValuesIn(run_cases()),
                         [](const auto& info) { return info.param.name; });

class run_front_end : public tk_test::home_fixture {
protected:
    void give(velconv_convertor& conv, std::vector<table_script> dump)
    {
        conv.opener().set_open_function([dump, this](ora_dump_reader& reader, const std::wstring&) {
            reader.compound_dump = compound;
            reader.first_part = first_part;
            return std::unique_ptr<udb_database>(std::make_unique<fake::script_source>(dump));
        });
        conv.set_dest_provider(std::make_unique<fake::recording_provider>(log));
        conv.src = L"/data/x.dmp";
        conv.dest = L"d";
    }
    fake::call_log log;
    bool compound = false;
    bool first_part = false;
};

TEST_F(run_front_end, the_events_of_a_console_run_in_order)
{
    recording_front_end fe(mode::console);
    error_handler reporter(error_handler_code_count, error_handler_codes);
    velconv_convertor conv;
    compound = true;
    give(conv, {table(L"EMP", 2)});
    conv.selected_tables = {L"NOPE", L"EMP"};
    conv();
    EXPECT_EQ(fe.effects(), (strings{"run_started()", "reading_file(/data/x.dmp)", "dump_warnings(1 0)",
                                     // Only the tables that will be converted count.
                                     "converting_file(/data/x.dmp 1)", "table_missing(NOPE)",
                                     "schema_line(Creating schema if necessary: 'public'\n)", "table_started(EMP)",
                                     "table_converted(EMP 2)"}));
    EXPECT_TRUE(conv.is_completed());
    // The last table's counters stay.
    EXPECT_EQ(conv.current_table.get(), L"EMP");
    EXPECT_EQ(conv.cur_rec.load(), 2u);
    EXPECT_EQ(conv.table_recs.load(), 2u);
}

TEST_F(run_front_end, console_output_of_a_run_and_a_report_after_an_open_table_line)
{
    fake::captured_console fe;
    error_handler reporter(error_handler_code_count, error_handler_codes);
    velconv_convertor conv;
    give(conv, {table(L"EMP", 3, {{2, at_record::level0}}), table(L"DEPT", 1)});
    conv.selected_tables = {L"EMP", L"NOPE", L"DEPT"};
    conv();
    EXPECT_EQ(fe.out(),
              "Reading file /data/x.dmp\n"
              "Converting Oracle dump file (2 tables)\n"
              "Creating schema if necessary: 'public'\n"
              "Converting table EMP\n"
              " (3 records)\n"
              "Creating schema if necessary: 'public'\n"
              "Converting table DEPT (1 records)\n");
    EXPECT_EQ(fe.err(), "Error:\nEMP, record #2: X\nTable NOPE not exists\n");
    EXPECT_TRUE(conv.is_completed());
    EXPECT_FALSE(conv.is_all_converted());
}

TEST_F(run_front_end, silent_console_shows_only_the_dump_warnings)
{
    fake::captured_console fe;
    error_handler reporter(error_handler_code_count, error_handler_codes);
    reporter.set_quiet(true);
    velconv_convertor conv;
    conv.set_silent(true);
    compound = true;
    first_part = true;
    give(conv, {table(L"EMP", 3, {{2, at_record::level0}})});
    conv.selected_tables = {L"NOPE", L"EMP"};
    conv();
    EXPECT_EQ(fe.out(), "");
    EXPECT_EQ(fe.err(), std::string(ora_dump_reader::message(10)) + "\n" + ora_dump_reader::message(14) + "\n");
    EXPECT_TRUE(conv.is_completed());
}

TEST_F(run_front_end, a_standard_exception_goes_to_the_standard_error)
{
    fake::captured_console fe;
    error_handler reporter(error_handler_code_count, error_handler_codes);
    velconv_convertor conv;
    give(conv, {table(L"EMP", 3, {{2, at_record::std_error}})});
    conv();
    EXPECT_EQ(fe.err(), "boom\n");
    // The open table line was ended first.
    EXPECT_EQ(fe.out().substr(fe.out().size() - 21), "Converting table EMP\n");
    EXPECT_FALSE(conv.is_completed());
    EXPECT_FALSE(fe.exit_code);
}

TEST_F(run_front_end, without_a_dump_database_nothing_touches_the_destination)
{
    for (mode form : {mode::console, mode::gui}) {
        SCOPED_TRACE(form == mode::console ? "console" : "gui");
        log.calls.clear();
        recording_front_end fe(form);
        error_handler reporter(error_handler_code_count, error_handler_codes);
        velconv_convertor conv;
        conv.set_dest_provider(std::make_unique<fake::recording_provider>(log));
        conv.src = L"/data/x.dmp";
        conv.dest = L"d";
        // The opening gives nothing (in the wizard: none was made).
        conv.opener().set_open_function([](ora_dump_reader&, const std::wstring&) { return nullptr; });
        std::optional<int> exit_code;
        try {
            conv();
        } catch (const front_end_exit& e) {
            exit_code = e.code;
        }
        EXPECT_TRUE(log.calls.empty());
        EXPECT_FALSE(conv.is_completed());
        EXPECT_TRUE(conv.is_finished());
        if (form == mode::console) {
            EXPECT_EQ(exit_code, -1);
            EXPECT_EQ(fe.effects().back(), "end_program(-1)");
            EXPECT_NE(std::find(fe.effects().begin(), fe.effects().end(),
                                "write_err(Error:\nThe dump file has not been read.\n)"),
                      fe.effects().end());
        } else {
            EXPECT_FALSE(exit_code);
            EXPECT_EQ(fe.effects().back(), "show_error(The dump file has not been read.)");
        }
    }
}

TEST_F(run_front_end, a_refused_dump_leaves_the_destination_alone)
{
    // The reader's refusal in the wizard: reported there, then the stop.
    recording_front_end fe(mode::gui);
    error_handler reporter(error_handler_code_count, error_handler_codes);
    velconv_convertor conv;
    conv.set_dest_provider(std::make_unique<fake::recording_provider>(log));
    conv.opener().set_open_function(
        [](ora_dump_reader&, const std::wstring&) -> std::unique_ptr<udb_database> { throw tk_final_exception(); });
    conv.opener()();
    conv();
    EXPECT_TRUE(log.calls.empty());
    EXPECT_FALSE(conv.is_completed());
}

TEST(converter_edges, destruction_completes_when_the_settings_cannot_be_written)
{
    tk_test::temp_dir home;
    tk_test::scoped_env env_home("HOME", home.path());
    tk_test::scoped_env env_config("XDG_CONFIG_HOME", home.file("cfg"));
    // The settings folder cannot be made: a file stands in its place.
    tk_test::write_file(home.file("cfg"), "not a folder");
    recording_front_end fe(mode::gui);
    error_handler reporter(error_handler_code_count, error_handler_codes);
    bool destroyed = false;
    {
        auto conv = std::make_unique<velconv_convertor>();
        auto source = std::make_unique<fake::script_source>(std::vector<table_script>{table(L"A")});
        source->on_destroy = [&] { destroyed = true; };
        conv->source_db = std::move(source);
        EXPECT_NO_THROW(conv.reset());
    }
    // The dump database went with the converter.
    EXPECT_TRUE(destroyed);
    EXPECT_EQ(velconv_convertor::try_instance(), nullptr);
}

TEST(converter_edges, the_case_and_schema_settings_reach_the_engine_and_the_reader)
{
    tk_test::temp_dir home;
    tk_test::scoped_env env_home("HOME", home.path());
    tk_test::scoped_env env_config("XDG_CONFIG_HOME", home.file("cfg"));
    recording_front_end fe(mode::console);
    velconv_convertor conv;
    EXPECT_FALSE(conv.engine.keep_case);
    conv.set_case_sens(true);
    EXPECT_TRUE(conv.engine.keep_case);
    EXPECT_TRUE(pgs_engine::current_keep_case());
    conv.set_case_sens(false);
    EXPECT_FALSE(conv.engine.keep_case);
    conv.set_use_schema(true);
    EXPECT_TRUE(conv.opener().reader().merge_schema);
    EXPECT_EQ(make_title(), L"Velmora to PostgreSQL 3.1");
    // No dump database: an empty list.
    EXPECT_TRUE(conv.get_all_tables().empty());
    conv.opener().set_database(std::make_unique<fake::script_source>(std::vector<table_script>{table(L"B"), table(L"A")}));
    EXPECT_EQ(conv.get_all_tables(), (std::vector<std::wstring>{L"B", L"A"}));
}

}  // namespace
