#include "console_front_end.h"

#include "fatal_exit.h"
#include "ora_dump_reader.h"
#include "velconv_convertor.h"

#include "tk_logger.h"
#include "tk_unicode.h"

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

void console_front_end::write_line_safe(FILE* stream, const std::string& text)
{
    if (line_open) {
        line_open = false;
        write(out, "\n");
    }
    write(stream, text);
}

bool console_front_end::silent()
{
    const velconv_convertor* c = velconv_convertor::try_instance();
    return c && c->silent;
}

void console_front_end::write_out(const std::string& text)
{
    write_line_safe(out, text);
}

void console_front_end::write_err(const std::string& text)
{
    write_line_safe(err, text);
}

void console_front_end::reading_file(const std::wstring& path)
{
    if (!silent())
        write_line_safe(out, "Reading file " + tk_wide_to_utf8(path) + "\n");
}

void console_front_end::dump_warnings(bool compound_dump, bool first_part)
{
    if (compound_dump)
        write_line_safe(err, std::string(ora_dump_reader::message(10)) + "\n");
    if (first_part)
        write_line_safe(err, std::string(ora_dump_reader::message(14)) + "\n");
}

void console_front_end::converting_file(const std::wstring&, std::uint64_t n_tables)
{
    if (!silent())
        write_line_safe(out, "Converting Oracle dump file (" + std::to_string(n_tables) + " tables)\n");
}

void console_front_end::table_missing(const std::wstring& name)
{
    if (!silent())
        write_line_safe(err, "Table " + tk_wide_to_utf8(name) + " not exists\n");
}

void console_front_end::schema_line(const std::wstring& text)
{
    if (!silent())
        write_line_safe(out, tk_wide_to_utf8(text));
}

void console_front_end::table_skipped(const std::wstring& name)
{
    if (!silent())
        write_line_safe(out, "Table '" + tk_wide_to_utf8(name) + "' exists, skipped\n");
}

void console_front_end::table_started(const std::wstring& name)
{
    if (silent())
        return;
    write_line_safe(out, "Converting table " + tk_wide_to_utf8(name));
    line_open = true;
}

void console_front_end::definitions_done(const std::wstring&)
{
    if (silent() || !line_open)
        return;
    line_open = false;
    write(out, "\n");
}

void console_front_end::table_converted(const std::wstring&, std::uint64_t records)
{
    if (silent())
        return;
    // Completes the table's line, or, when a report ended it, stands alone.
    line_open = false;
    write(out, " (" + std::to_string(records) + " records)\n");
}

void console_front_end::other_exception(const std::string& text)
{
    tk_trace(3, "ERROR:\n%s", text);
    if (!silent())
        write_line_safe(err, text + "\n");
}

void console_front_end::dump_open_failed(const std::string& text)
{
    fatal_exit(text);
}

void console_front_end::run_interrupted(const velconv_interrupt_report& report)
{
    if (silent())
        return;
    std::string text;
    const std::string table = tk_wide_to_utf8(report.table);
    if (!table.empty() && !report.table_rows_kept)
        text = "The run was interrupted: table " + table +
               " was not converted (its rows are rolled back); the tables converted before it stay.\n";
    else if (!table.empty())
        text = "The run was interrupted: table " + table +
               " was converted, without all of its keys and indexes; the tables converted before it stay.\n";
    else if (report.before_tables)
        text = "The run was interrupted before any table was converted.\n";
    else
        text = "The run was interrupted; the tables converted before it stay.\n";
    if (!report.replaced_db.empty()) {
        const std::string db = tk_wide_to_utf8(report.replaced_db);
        if (!report.replaced_db_made)
            text += "The database '" + db + "' was dropped and is not made again.\n";
        else if (report.before_tables)
            text += "The database '" + db + "' was replaced: it holds none of the dump's tables.\n";
        else
            text += "The database '" + db + "' was replaced: it holds only the tables converted before the "
                    "interrupt.\n";
    }
    write_line_safe(err, text);
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
