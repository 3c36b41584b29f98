#include "wizard_front_end.h"

#include "dlg_error_continue.h"
#include "dlg_error_ex.h"
#include "ui_services.h"
#include "wizard_shell.h"

#include "error_handler.h"

#include "tk_format.h"
#include "tk_unicode.h"

#include <cstdio>
#include <cstdlib>

wizard_front_end::wizard_front_end() = default;
wizard_front_end::~wizard_front_end() = default;

void wizard_front_end::write_out(const std::string& text)
{
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
}

void wizard_front_end::write_err(const std::string& text)
{
    std::fwrite(text.data(), 1, text.size(), stderr);
    std::fflush(stderr);
}

void wizard_front_end::show_internal_error(const std::wstring& text)
{
    // Built and run on the GUI thread; a worker waits for the answer. The
    // dialog writes the text to the standard error as it opens.
    wizard_shell::run_on_gui_thread([&] {
        dlg_error_ex<114> dialog(text);
        dialog.run();
    });
}

void wizard_front_end::show_error(const std::wstring& text)
{
    wizard_shell::error(text);
}

continue_answer wizard_front_end::ask_continue(const std::wstring& text)
{
    continue_answer answer;
    wizard_shell::run_on_gui_thread([&] {
        dlg_error_continue<115> dialog(text);
        answer.abort = dialog.run() == dlg_abort_id;
        answer.do_not_show_again = dialog.quiet();
    });
    return answer;
}

bool wizard_front_end::error_list_ready() const
{
    return wizard_shell::is_initialized();
}

std::size_t wizard_front_end::error_list_size() const
{
    wizard_shell* shell = wizard_shell::try_instance();
    return shell ? shell->error_count() : 0;
}

void wizard_front_end::add_error_text(const std::string& text)
{
    if (wizard_shell* shell = wizard_shell::try_instance())
        shell->add_error(text);
}

void wizard_front_end::end_program(int exit_code)
{
    ending.store(true, std::memory_order_release);
    ui_services::instance()->end_program(exit_code);
    std::_Exit(exit_code);  // not reached: the services end the program
}

void wizard_front_end::start_timer()
{
    try {
        wizard_shell::instance()->set_timer(200);
    } catch (const tk_exception& e) {
        error_handler::instance()->handle(e, true);
    }
}

void wizard_front_end::reading_file(const std::wstring& path)
{
    start_timer();
    wizard_shell::write_log(tk_wformat(L"Reading file '%s'\n", path));
}

void wizard_front_end::run_started()
{
    start_timer();
}

void wizard_front_end::converting_file(const std::wstring& path, std::uint64_t n_tables)
{
    wizard_shell::write_log(tk_wformat(L"Converting file '%s' (%d tables)\n", path, n_tables));
}

void wizard_front_end::schema_line(const std::wstring& text)
{
    wizard_shell::write_log(text);
}

void wizard_front_end::table_skipped(const std::wstring& name)
{
    wizard_shell::write_log(tk_wformat(L"Table '%s' exists, skipped\n", name));
}

void wizard_front_end::table_converted(const std::wstring& name, std::uint64_t records)
{
    wizard_shell::write_log(tk_wformat(L"Table '%s' (%d records) is converted\n", name, records));
}

void wizard_front_end::other_exception(const std::string& text)
{
    wizard_shell::error_ansi(text);
}

void wizard_front_end::dump_open_failed(const std::string& text)
{
    wizard_shell::error_ansi(text);
}
