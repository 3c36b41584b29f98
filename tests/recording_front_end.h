// A front end for tests: it records every call in order with its text,
// answers the continue/abort dialog from a script, and turns the program's
// end into a throw so that the test goes on.
#pragma once

#include "front_end.h"

#include <deque>
#include <optional>
#include <string>
#include <vector>

// Thrown by recording_front_end::end_program. Deliberately outside the
// tk_exception and std::exception families, so no handler of the code under
// test can swallow it.
struct front_end_exit {
    int code;
};

class recording_front_end : public front_end {
public:
    enum class mode { console, gui };

    // The GUI's error list is ready unless list_ready says otherwise; the
    // console has none.
    explicit recording_front_end(mode m, bool list_ready = true);
    ~recording_front_end() override;

    struct call {
        std::string name;
        std::string text;  // UTF-8; empty for calls without text
    };

    bool is_console() const override;
    void write_out(const std::string& text) override;
    void write_err(const std::string& text) override;
    void show_internal_error(const std::wstring& text) override;
    void show_error(const std::wstring& text) override;
    continue_answer ask_continue(const std::wstring& text) override;
    bool error_list_ready() const override;
    std::size_t error_list_size() const override;
    void add_error_text(const std::string& text) override;
    [[noreturn]] void end_program(int exit_code) override;
    bool program_ending() const override { return exit_code.has_value(); }

    // The run's and the opener's events, recorded by name with their text
    // (counts as " n" after the name or path).
    void reading_file(const std::wstring& path) override;
    void run_started() override;
    void dump_warnings(bool compound_dump, bool first_part) override;
    void converting_file(const std::wstring& path, std::uint64_t n_tables) override;
    void table_missing(const std::wstring& name) override;
    void schema_line(const std::wstring& text) override;
    void table_skipped(const std::wstring& name) override;
    void table_started(const std::wstring& name) override;
    void definitions_done(const std::wstring& name) override;
    void table_converted(const std::wstring& name, std::uint64_t records) override;
    void other_exception(const std::string& text) override;
    void dump_open_failed(const std::string& text) override;

    // Every call, queries included (mutable: the queries are const).
    mutable std::vector<call> calls;
    // The calls that show, write, list or end something, as "name(text)";
    // the queries (mode and list state) are left out.
    std::vector<std::string> effects() const;

    // Answers for ask_continue, taken from the front; Continue with the box
    // unticked once the queue is empty.
    std::deque<continue_answer> answers;

    std::vector<std::string> error_list;
    std::optional<int> exit_code;

private:
    void record(const char* name, std::string text = std::string()) const;

    mode program;
    bool list_ready;
};
