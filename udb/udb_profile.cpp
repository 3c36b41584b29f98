#include "udb_profile.h"

#include "tk_exception.h"
#include "tk_format.h"
#include "tk_logger.h"
#include "tk_replace_file.h"
#include "tk_string.h"
#include "tk_unicode.h"
#include "tk_utils.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string_view>

namespace {

const wchar_t* const available_queries_section = L"Available Queries";
const wchar_t* const selected_tables_section = L"Selected Tables";
const wchar_t* const generic_settings_section = L"Generic settings";

const char* const missing_profile_text =
    "Profile does not exist. Please verify the correct path/name was given.";

std::string errno_text(int code)
{
    char buf[256];
    const char* t = strerror_r(code, buf, sizeof buf);
    return t ? std::string(t) : std::string();
}

// Reads one line at a time and never holds more than one line's limit of it
// (the limit, plus a carriage return that may precede the line feed).
class line_reader {
public:
    enum class result { line, end, too_long, failed };

    explicit line_reader(std::FILE* f) : file(f) {}

    result next(std::string& line)
    {
        line.clear();
        bool any = false;
        for (;;) {
            if (pos == len) {
                len = std::fread(buffer, 1, sizeof buffer, file);
                pos = 0;
                if (len == 0) {
                    if (std::ferror(file))
                        return result::failed;
                    if (!any)
                        return result::end;
                    // A last line without its line end.
                    return line.size() > udb_profile::max_line_bytes ? result::too_long : result::line;
                }
            }
            any = true;
            const char* start = buffer + pos;
            const void* lf = std::memchr(start, '\n', len - pos);
            const std::size_t chunk = lf ? static_cast<std::size_t>(static_cast<const char*>(lf) - start) : len - pos;
            if (line.size() + chunk > udb_profile::max_line_bytes + 1)
                return result::too_long;
            line.append(start, chunk);
            pos += chunk;
            if (lf) {
                ++pos;
                if (!line.empty() && line.back() == '\r')
                    line.pop_back();
                return line.size() > udb_profile::max_line_bytes ? result::too_long : result::line;
            }
        }
    }

private:
    std::FILE* file;
    char buffer[4096];
    std::size_t pos = 0;
    std::size_t len = 0;
};

struct file_closer {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

bool is_header(const std::wstring& line)
{
    return line.size() >= 2 && line.front() == L'[' && line.back() == L']';
}

// A character that UTF-8 cannot carry and that would therefore come back as
// U+FFFD.
bool is_unencodable(wchar_t ch)
{
    const auto c = static_cast<std::uint32_t>(ch);
    return (c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF;
}

bool has_line_break_or_unencodable(const std::wstring& text)
{
    for (wchar_t c : text)
        if (c == L'\r' || c == L'\n' || is_unencodable(c))
            return true;
    return false;
}

bool fits_a_line(const std::wstring& line)
{
    return tk_wide_to_utf8(line).size() <= udb_profile::max_line_bytes;
}

bool section_round_trips(const std::wstring& name)
{
    return !has_line_break_or_unencodable(name) && fits_a_line(L"[" + name + L"]");
}

// The line the entry is written as, and whether reading that line gives the
// entry back: reading trims blanks, splits at the first "=", and takes a
// bracketed line for a section header.
bool entry_round_trips(const std::wstring& key, const std::wstring& value, bool bare)
{
    if (key.empty() || key.front() == L' ' || key.back() == L' ')
        return false;
    if (key.find(L'=') != std::wstring::npos)
        return false;
    if (has_line_break_or_unencodable(key) || has_line_break_or_unencodable(value))
        return false;
    if (!value.empty() && value.back() == L' ')
        return false;
    const std::wstring line = bare ? key : key + L"=" + value;
    return !is_header(line) && fits_a_line(line);
}

bool raw_line_round_trips(const std::wstring& line)
{
    if (has_line_break_or_unencodable(line) || line.find(L'=') != std::wstring::npos)
        return false;
    const std::wstring trimmed = tk_trim(line);
    return !trimmed.empty() && !is_header(trimmed) && fits_a_line(line);
}

void append_line(std::string& out, const std::wstring& line)
{
    out += tk_wide_to_utf8(line);
    out += "\r\n";
}

void trace_store_failure(const std::string& path, const char* step, int code)
{
    tk_trace(3, "Cannot save the profile '%s' (%s): %s", path, step, errno_text(code));
}

// Writes the bytes to a new file beside the target and renames it over the
// target only when every step succeeded, so that a full disk or a lost
// connection never leaves a cut profile behind. A new profile may hold the
// server password: only its owner may read it. A replaced profile keeps the
// mode its owner gave it, and a link to a profile keeps pointing at it.
bool replace_file(const std::string& target_path, const std::string& data)
{
    tk_replace_options options;
    options.mode = 0600;
    options.keep_mode = true;
    options.follow_link = true;
    const tk_replace_result r = tk_replace_file(target_path, data, options);
    if (!r)
        trace_store_failure(target_path, r.step, r.error);
    return static_cast<bool>(r);
}

}  // namespace

udb_profile::udb_profile()
{
    add_section(available_queries_section);
    add_section(selected_tables_section);
    add_section(generic_settings_section);
}

udb_profile::~udb_profile() = default;

void udb_profile::add_section(const std::wstring& name)
{
    sections.try_emplace(name);
}

udb_profile::t_pairs& udb_profile::get_section(const std::wstring& name)
{
    return sections[name];
}

void udb_profile::set_value(const std::wstring& section, const std::wstring& key, const std::wstring& value)
{
    get_section(section).try_emplace(key, value);
}

std::wstring udb_profile::get_value(const std::wstring& section, const std::wstring& key) const
{
    const auto s = sections.find(section);
    if (s == sections.end())
        return std::wstring();
    const auto k = s->second.find(key);
    return k == s->second.end() ? std::wstring() : k->second;
}

std::vector<std::wstring>& udb_profile::get_raw_lines(const std::wstring& section)
{
    return raw_lines[section];
}

udb_profile::t_pairs& udb_profile::get_available_queries()
{
    const auto s = sections.find(available_queries_section);
    // No system call is involved: a plain failure, not one with system text.
    if (s == sections.end())
        throw tk_exception(tk_format("The profile has no section '%s'", available_queries_section), 1);
    return s->second;
}

udb_profile::t_pairs& udb_profile::get_selected_tables()
{
    const auto s = sections.find(selected_tables_section);
    if (s == sections.end())
        throw tk_exception(tk_format("The profile has no section '%s'", selected_tables_section), 1);
    return s->second;
}

bool udb_profile::load(const std::wstring& path)
{
    TK_TRACE(2, "udb_profile::load(%s)", path);
    if (!tk_is_file_exist(path, 0x4000))
        throw tk_exception(missing_profile_text, 1);
    if (path.find(L'\0') != std::wstring::npos)
        return false;
    std::unique_ptr<std::FILE, file_closer> file(std::fopen(tk_wide_to_utf8(path).c_str(), "rb"));
    if (!file)
        return false;

    line_reader reader(file.get());
    t_pairs* current = nullptr;
    std::wstring current_name;
    std::string bytes;
    bool first_line = true;
    for (;;) {
        const line_reader::result r = reader.next(bytes);
        if (r == line_reader::result::end)
            return true;
        if (r != line_reader::result::line)
            return false;

        std::string_view text = bytes;
        // An editor on another system may start the file with a byte-order
        // mark; the file is UTF-8 either way.
        if (first_line)
            tk_drop_utf8_bom(text);
        first_line = false;
        const std::wstring decoded = tk_utf8_to_wide(text);
        const std::wstring line = tk_trim(decoded);
        if (line.empty())
            continue;
        if (is_header(line)) {
            current_name = line.substr(1, line.size() - 2);
            current = &get_section(current_name);
            continue;
        }
        if (!current)
            return false;
        const std::wstring::size_type eq = line.find(L'=');
        if (eq != std::wstring::npos) {
            current->try_emplace(tk_trim(line.substr(0, eq)), line.substr(eq + 1));
        } else {
            raw_lines[current_name].push_back(decoded);
            current->try_emplace(line, std::wstring());
        }
    }
}

bool udb_profile::store(const std::wstring& path)
{
    TK_TRACE(2, "udb_profile::store)");

    // Refuse, before anything is written, an entry that the file cannot
    // give back as it is: the old profile is better than a changed one.
    for (const auto& [name, pairs] : sections) {
        if (!section_round_trips(name)) {
            tk_trace(3, "The profile section '%s' cannot be saved", name);
            return false;
        }
        const bool bare_empty = name == selected_tables_section;
        for (const auto& [key, value] : pairs) {
            if (!entry_round_trips(key, value, bare_empty && value.empty())) {
                tk_trace(3, "The profile entry '%s' of the section '%s' cannot be saved", key, name);
                return false;
            }
        }
    }
    for (const auto& [name, lines] : raw_lines) {
        if (!section_round_trips(name)) {
            tk_trace(3, "The profile section '%s' cannot be saved", name);
            return false;
        }
        for (const std::wstring& line : lines) {
            if (!raw_line_round_trips(line)) {
                tk_trace(3, "The profile entry '%s' of the section '%s' cannot be saved", line, name);
                return false;
            }
        }
    }

    std::string data;
    for (const auto& [name, pairs] : sections) {
        append_line(data, L"[" + name + L"]");
        const bool bare_empty = name == selected_tables_section;
        for (const auto& [key, value] : pairs)
            append_line(data, bare_empty && value.empty() ? key : key + L"=" + value);
        data += "\r\n";
    }
    for (const auto& [name, lines] : raw_lines) {
        append_line(data, L"[" + name + L"]");
        for (const std::wstring& line : lines)
            append_line(data, line);
    }

    const std::string target = tk_wide_to_utf8(path);
    if (path.empty() || path.find(L'\0') != std::wstring::npos) {
        tk_trace(3, "Cannot save the profile '%s': the name is not valid", target);
        return false;
    }
    return replace_file(target, data);
}
