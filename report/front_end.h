// The one way the engine reaches the user. The console program prints, the
// wizard opens windows; the reporter and the run do not know which.
#pragma once

#include "tk_singleton.h"

#include <cstddef>
#include <cstdint>
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
    // True once end_program has begun to end the program by unwinding (a
    // test front end does); a handler that catches everything lets such an
    // end pass. A real front end never returns from end_program.
    virtual bool program_ending() const { return false; }

    // Events of the dump opening and of the conversion run. The engine
    // raises them in both programs; each front end shows what its program
    // shows, so the defaults do nothing. Paths and names are wide text,
    // counts unsigned 64-bit.
    virtual void reading_file(const std::wstring& path);
    virtual void run_started();
    // The compound-dump and first-part warnings; also shown when silent.
    virtual void dump_warnings(bool compound_dump, bool first_part);
    virtual void converting_file(const std::wstring& path, std::uint64_t n_tables);
    virtual void table_missing(const std::wstring& name);
    // The schema line, with its own line break.
    virtual void schema_line(const std::wstring& text);
    virtual void table_started(const std::wstring& name);
    virtual void definitions_done(const std::wstring& name);
    virtual void table_converted(const std::wstring& name, std::uint64_t records);
    // A failure outside the tk_exception family that ended the run.
    virtual void other_exception(const std::string& text);
    // A dump that could not be opened for a reason outside the tk_exception
    // family. The console ends the program through its fatal path; the
    // default shows it as another exception.
    virtual void dump_open_failed(const std::string& text);

protected:
    front_end();
};
