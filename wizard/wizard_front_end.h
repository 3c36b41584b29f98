// The front end of velconv: the engine's reports become the sheet's boxes,
// log lines and error list, and the program's end goes through the desktop
// services.
#pragma once

#include "front_end.h"

#include <atomic>

class wizard_front_end : public front_end {
public:
    wizard_front_end();
    ~wizard_front_end() override;

    bool is_console() const override { return false; }
    void write_out(const std::string& text) override;
    void write_err(const std::string& text) override;
    void show_internal_error(const std::wstring& text) override;
    void show_error(const std::wstring& text) override;
    continue_answer ask_continue(const std::wstring& text) override;
    bool error_list_ready() const override;
    std::size_t error_list_size() const override;
    void add_error_text(const std::string& text) override;
    [[noreturn]] void end_program(int exit_code) override;
    bool program_ending() const override { return ending.load(std::memory_order_acquire); }

    void reading_file(const std::wstring& path) override;
    void run_started() override;
    void converting_file(const std::wstring& path, std::uint64_t n_tables) override;
    void schema_line(const std::wstring& text) override;
    void table_converted(const std::wstring& name, std::uint64_t records) override;
    void other_exception(const std::string& text) override;
    void dump_open_failed(const std::string& text) override;

private:
    // Starts the progress timer; a failure is reported here, since these
    // events are raised outside the worker's own handlers.
    static void start_timer();

    std::atomic<bool> ending{false};
};
