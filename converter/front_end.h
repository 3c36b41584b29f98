// The one way the engine reaches the user. The console program prints, the
// wizard opens windows; the reporter and the run do not know which.
#pragma once

#include "tk_singleton.h"

#include <cstddef>
#include <string>

// The user's answer to the continue/abort dialog.
struct continue_answer {
    bool abort = false;
    bool do_not_show_again = false;
};

class front_end : public tk_singleton<front_end> {
public:
    ~front_end() override;

    // True for the console program, which prints where the wizard shows
    // windows and ends the program where the wizard ends the run.
    virtual bool is_console() const = 0;

    // UTF-8 text to the standard output and the standard error.
    virtual void write_out(const std::string& text) = 0;
    virtual void write_err(const std::string& text) = 0;

    // The window operations block until the user has answered, also when
    // called from a worker thread.
    virtual void show_internal_error(const std::wstring& text) = 0;
    virtual void show_error(const std::wstring& text) = 0;
    virtual continue_answer ask_continue(const std::wstring& text) = 0;

    // The list of failure texts that the finish page shows.
    virtual bool error_list_ready() const = 0;
    virtual std::size_t error_list_size() const = 0;
    virtual void add_error_text(const std::string& text) = 0;

    [[noreturn]] virtual void end_program(int exit_code) = 0;

protected:
    front_end();
};
