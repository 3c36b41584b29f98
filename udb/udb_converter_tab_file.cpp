// The table-list file of the console program: one source table name per
// line, letter case as written, empty lines skipped. Blanks around a name
// are not part of it: an unquoted Oracle name cannot hold them, and a
// quoted name that does is written with its double quotes ("A B ", a
// doubled "" for a quote inside), which are then dropped. The file is
// UTF-8; a byte-order mark at the start of the first non-empty line is
// dropped. One "\r" before the line end is dropped too, so that a file
// saved with CR LF line ends gives the bare names.
//
// Either the whole file becomes the table list or the list stays as it was:
// a list cut short by a long line or a read error would make the run
// convert fewer tables and still look successful. A NUL byte refuses the
// file too: the name would end there, and the run would convert a table the
// line does not name.

#include "udb_converter.h"

#include "tk_exception.h"
#include "tk_format.h"
#include "tk_logger.h"
#include "tk_string.h"
#include "tk_unicode.h"
#include "tk_utils.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <string_view>
#include <vector>

namespace {

constexpr std::size_t max_name_bytes = 254;

const char* const missing_text = "Table names file does not exist.\nPlease verify the correct path/name was given.";
const char* const unreadable_text = "Table names file cannot be read.";

struct file_closer {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

// The name a line holds: without the blanks around it and, when it is
// written in double quotes, without them.
std::string_view line_name(std::string_view line, std::string& unquoted)
{
    constexpr std::string_view blanks = " \t";
    const std::size_t first = line.find_first_not_of(blanks);
    if (first == std::string_view::npos)
        return {};
    line = line.substr(first, line.find_last_not_of(blanks) - first + 1);
    if (line.size() < 2 || line.front() != '"' || line.back() != '"')
        return line;
    unquoted.clear();
    const std::string_view inner = line.substr(1, line.size() - 2);
    for (std::size_t i = 0; i < inner.size(); ++i) {
        unquoted.push_back(inner[i]);
        if (inner[i] == '"' && i + 1 < inner.size() && inner[i + 1] == '"')
            ++i;
    }
    return unquoted;
}

[[noreturn]] void refuse_long_line(std::uint64_t line_number)
{
    throw tk_exception(tk_format("Table names file: line %d is longer than 254 bytes.", line_number), 1);
}

[[noreturn]] void refuse_nul(std::uint64_t line_number)
{
    throw tk_exception(tk_format("Table names file: line %d holds a NUL byte.", line_number), 1);
}

}  // namespace

void udb_converter::process_tab_file(const std::string& path)
{
    TK_TRACE(1, "udb_converter::process_tab_file(%s)", path);
    if (path.find('\0') != std::string::npos || !tk_is_file_exist(path, 0x4000))
        throw tk_exception(missing_text, 1);
    std::unique_ptr<std::FILE, file_closer> file(std::fopen(path.c_str(), "rb"));
    if (!file)
        throw tk_exception(unreadable_text, 1);

    std::vector<std::wstring> names;
    std::string line;
    std::string unquoted;
    std::uint64_t line_number = 0;
    bool in_line = false;
    char buffer[4096];

    // A line is kept only up to the limit plus a "\r" that may precede its
    // line feed; anything longer is refused without being held.
    const auto end_line = [&] {
        ++line_number;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.size() > max_name_bytes)
            refuse_long_line(line_number);
        if (line.find('\0') != std::string::npos)
            refuse_nul(line_number);
        if (!line.empty()) {
            std::string_view text = line;
            const bool marked = names.empty() && tk_drop_utf8_bom(text);
            const std::string_view name = line_name(text, unquoted);
            // A line of blanks is an empty line; a first line of the mark
            // alone stays the empty name it has always given.
            if (!name.empty() || marked)
                names.push_back(tk_to_unicode(name));
        }
        line.clear();
        in_line = false;
    };

    for (;;) {
        const std::size_t n = std::fread(buffer, 1, sizeof buffer, file.get());
        if (n == 0)
            break;
        std::size_t pos = 0;
        while (pos < n) {
            in_line = true;
            const char* start = buffer + pos;
            const void* lf = std::memchr(start, '\n', n - pos);
            const std::size_t chunk = lf ? static_cast<std::size_t>(static_cast<const char*>(lf) - start) : n - pos;
            if (line.size() + chunk > max_name_bytes + 1)
                refuse_long_line(line_number + 1);
            line.append(start, chunk);
            pos += chunk;
            if (lf) {
                ++pos;
                end_line();
            }
        }
    }
    if (std::ferror(file.get()))
        throw tk_exception(unreadable_text, 1);
    // A last line without its line end.
    if (in_line)
        end_line();

    selected_tables = std::move(names);
}
