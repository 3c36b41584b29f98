// The front end of the console program: text on the standard streams, no
// windows, and the program's end where the wizard would end only the run.
#pragma once

#include "front_end.h"

#include <cstdio>

struct velconv_interrupt_report;

class console_front_end : public front_end {
public:
    explicit console_front_end(FILE* out = stdout, FILE* err = stderr);
    ~console_front_end() override;

    bool is_console() const override { return true; }
    void write_out(const std::string& text) override;
    void write_err(const std::string& text) override;

    // The console has no windows and keeps no error list; the reporter
    // never asks it for them.
    void show_internal_error(const std::wstring& text) override;
    void show_error(const std::wstring& text) override;
    continue_answer ask_continue(const std::wstring& text) override;
    bool error_list_ready() const override { return false; }
    std::size_t error_list_size() const override { return 0; }
    void add_error_text(const std::string& text) override;

    // Ends without unwinding, so that an unfinished COPY is not committed
    // by destructors: the server rolls it back when the connection drops.
    [[noreturn]] void end_program(int exit_code) override;

    // The run's progress lines, unless the converter is silent. The dump
    // warnings are printed also when silent.
    void reading_file(const std::wstring& path) override;
    void dump_warnings(bool compound_dump, bool first_part) override;
    void converting_file(const std::wstring& path, std::uint64_t n_tables) override;
    void table_missing(const std::wstring& name) override;
    void schema_line(const std::wstring& text) override;
    void table_skipped(const std::wstring& name) override;
    void table_started(const std::wstring& name) override;
    void definitions_done(const std::wstring& name) override;
    void table_converted(const std::wstring& name, std::uint64_t records) override;
    void other_exception(const std::string& text) override;
    // The fatal path: the text on the standard error unless silent, then
    // status 255.
    void dump_open_failed(const std::string& text) override;
    // What an interrupted run leaves, on the standard error unless silent:
    // the table it stopped in and, in mode 0, that the old database is gone.
    void run_interrupted(const velconv_interrupt_report& report);

private:
    void write(FILE* stream, const std::string& text);
    // Ends an open "Converting table X" line first, so that nothing runs on
    // after a table name.
    void write_line_safe(FILE* stream, const std::string& text);
    static bool silent();

    // A "Converting table X" line waits for its end.
    bool line_open = false;

    FILE* out;
    FILE* err;
};
