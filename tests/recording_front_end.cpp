#include "recording_front_end.h"

#include "tk_unicode.h"

#include <string_view>

recording_front_end::recording_front_end(mode m, bool list_ready_)
    : program(m), list_ready(m == mode::gui && list_ready_)
{
}

recording_front_end::~recording_front_end() = default;

void recording_front_end::record(const char* name, std::string text) const
{
    calls.push_back(call{name, std::move(text)});
}

bool recording_front_end::is_console() const
{
    record("is_console");
    return program == mode::console;
}

void recording_front_end::write_out(const std::string& text)
{
    record("write_out", text);
}

void recording_front_end::write_err(const std::string& text)
{
    record("write_err", text);
}

void recording_front_end::show_internal_error(const std::wstring& text)
{
    record("show_internal_error", tk_wide_to_utf8(text));
}

void recording_front_end::show_error(const std::wstring& text)
{
    record("show_error", tk_wide_to_utf8(text));
}

continue_answer recording_front_end::ask_continue(const std::wstring& text)
{
    record("ask_continue", tk_wide_to_utf8(text));
    if (answers.empty())
        return continue_answer{};
    continue_answer a = answers.front();
    answers.pop_front();
    return a;
}

bool recording_front_end::error_list_ready() const
{
    record("error_list_ready");
    return list_ready;
}

std::size_t recording_front_end::error_list_size() const
{
    record("error_list_size");
    return error_list.size();
}

void recording_front_end::add_error_text(const std::string& text)
{
    record("add_error_text", text);
    error_list.push_back(text);
}

void recording_front_end::end_program(int code)
{
    record("end_program", std::to_string(code));
    exit_code = code;
    throw front_end_exit{code};
}

std::vector<std::string> recording_front_end::effects() const
{
    std::vector<std::string> out;
    for (const call& c : calls) {
        std::string_view n = c.name;
        if (n == "is_console" || n == "error_list_ready" || n == "error_list_size")
            continue;
        out.push_back(c.name + "(" + c.text + ")");
    }
    return out;
}

void recording_front_end::reading_file(const std::wstring& path)
{
    record("reading_file", tk_wide_to_utf8(path));
}

void recording_front_end::run_started()
{
    record("run_started");
}

void recording_front_end::dump_warnings(bool compound_dump, bool first_part)
{
    record("dump_warnings", std::to_string(compound_dump ? 1 : 0) + " " + std::to_string(first_part ? 1 : 0));
}

void recording_front_end::converting_file(const std::wstring& path, std::uint64_t n_tables)
{
    record("converting_file", tk_wide_to_utf8(path) + " " + std::to_string(n_tables));
}

void recording_front_end::table_missing(const std::wstring& name)
{
    record("table_missing", tk_wide_to_utf8(name));
}

void recording_front_end::schema_line(const std::wstring& text)
{
    record("schema_line", tk_wide_to_utf8(text));
}

void recording_front_end::table_skipped(const std::wstring& name)
{
    record("table_skipped", tk_wide_to_utf8(name));
}

void recording_front_end::table_started(const std::wstring& name)
{
    record("table_started", tk_wide_to_utf8(name));
}

void recording_front_end::definitions_done(const std::wstring& name)
{
    record("definitions_done", tk_wide_to_utf8(name));
}

void recording_front_end::table_converted(const std::wstring& name, std::uint64_t records)
{
    record("table_converted", tk_wide_to_utf8(name) + " " + std::to_string(records));
}

void recording_front_end::other_exception(const std::string& text)
{
    record("other_exception", text);
}

void recording_front_end::dump_open_failed(const std::string& text)
{
    record("dump_open_failed", text);
    // The console program ends here; the wizard's form goes on.
    if (program == mode::console)
        end_program(255);
}
