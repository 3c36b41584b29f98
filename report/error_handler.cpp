#include "error_handler.h"

#include "front_end.h"
#include "tk_format.h"
#include "tk_logger.h"
#include "tk_unicode.h"

#include <algorithm>

namespace {

// Windows and the console show one line per failure.
std::string one_line(std::string text)
{
    std::replace(text.begin(), text.end(), '\n', ' ');
    return text;
}

}  // namespace

error_handler::error_handler(int count, const tk_error_converter::entry* table) : codes(count, table)
{
    TK_TRACE(2, "error_handler::ctor");
}

error_handler::~error_handler() = default;

void error_handler::set_context(const std::wstring& text)
{
    // Like every narrowing, this ends at an embedded NUL.
    std::string narrow = tk_wide_to_utf8(std::wstring_view(text.c_str()));
    std::lock_guard<std::mutex> lock(context_mutex);
    context = std::move(narrow);
}

void error_handler::set_record_context(const std::wstring& table_name, std::int64_t record)
{
    // Built to its full length: a long table name must come through whole.
    std::string narrow = tk_format("%s, record #%I64d", table_name.c_str(), record);
    std::lock_guard<std::mutex> lock(context_mutex);
    context = std::move(narrow);
}

std::string error_handler::get_context() const
{
    std::lock_guard<std::mutex> lock(context_mutex);
    return context;
}

void error_handler::handle(const tk_exception& failure, bool flag)
{
    TK_TRACE(2, "error_handler::handle");
    front_end* fe = front_end::instance();
    const bool console = fe->is_console();

    if (failure.level == 2) {
        TK_TRACE(3, "Internal error:\n%s", failure.message);
        // Printed even when quiet: the user must learn why the program ends.
        if (console)
            fe->write_out("Internal error: " + failure.message + "\n");
        else
            fe->show_internal_error(tk_utf8_to_wide(failure.message));
        fe->end_program(-1);
    }

    std::string message = get_context();
    if (!message.empty())
        message += ": ";
    std::string code_text = codes.convert(failure.system_error);
    message += code_text.empty() ? failure.message : code_text;
    TK_TRACE(3, "Error:\n%s", message);
    message = one_line(std::move(message));

    if (!console && fe->error_list_ready() && fe->error_list_size() < 20)
        fe->add_error_text(message);

    if (failure.level == 1) {
        if (console) {
            if (!is_quiet())
                fe->write_out("Error:\n" + message + "\n");
            TK_TRACE(1, "Got 1-level error");
            fe->end_program(-1);
        }
        TK_TRACE(1, "Got 1-level error");
        if (!is_quiet()) {
            TK_TRACE(1, "Step 1");
            fe->show_error(tk_utf8_to_wide(message));
        }
        TK_TRACE(1, "Step 2");
        // The run must stop; a caller with flag true ends it by itself.
        if (!flag)
            throw tk_final_exception();
        return;
    }

    // Level 0, and any level the family does not name, skips and goes on.
    if (console) {
        if (!is_quiet())
            fe->write_out("Error:\n" + message + "\n");
        TK_TRACE(1, "Got 0-level error");
        return;
    }
    TK_TRACE(1, "Got 0-level error");
    if (is_quiet())
        return;
    continue_answer answer = fe->ask_continue(tk_utf8_to_wide(message));
    if (answer.abort && !flag)
        throw tk_final_exception();
    set_quiet(answer.do_not_show_again);
}
