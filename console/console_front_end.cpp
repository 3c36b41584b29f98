#include "console_front_end.h"

#include "tk_logger.h"

#include <cstdlib>

console_front_end::console_front_end(FILE* out_, FILE* err_) : out(out_), err(err_)
{
    TK_TRACE(2, "console_front_end::ctor");
}

console_front_end::~console_front_end() = default;

void console_front_end::write(FILE* stream, const std::string& text)
{
    if (!stream)
        return;
    std::fwrite(text.data(), 1, text.size(), stream);
    // Flushed at once so that progress shows while a table runs and the two
    // streams keep their order on one terminal.
    std::fflush(stream);
}

void console_front_end::write_out(const std::string& text)
{
    write(out, text);
}

void console_front_end::write_err(const std::string& text)
{
    write(err, text);
}

void console_front_end::show_internal_error(const std::wstring&) {}

void console_front_end::show_error(const std::wstring&) {}

continue_answer console_front_end::ask_continue(const std::wstring&)
{
    return continue_answer{};
}

void console_front_end::add_error_text(const std::string&) {}

void console_front_end::end_program(int exit_code)
{
    TK_TRACE(2, "console_front_end::end_program(%d)", exit_code);
    if (out)
        std::fflush(out);
    if (err)
        std::fflush(err);
    std::exit(exit_code);
}
