#include "tk_file_name.h"

#include "tk_exception.h"
#include "tk_logger.h"
#include "tk_unicode.h"
#include "tk_utils.h"

#include <filesystem>
#include <system_error>

namespace {

struct split_parts {
    std::string directory;
    std::string name;
    std::string extension;
};

// The full, lexically normalised form of a path; '\' is an ordinary
// character here.
std::string full_path(const std::string& path)
{
    std::filesystem::path p(path);
    if (!p.is_absolute()) {
        std::error_code ec;
        std::filesystem::path cwd = std::filesystem::current_path(ec);
        if (ec || !cwd.is_absolute())
            throw tk_exception(tk_messages[3], 1);
        p = cwd / p;
    }
    return p.lexically_normal().string();
}

split_parts split(const std::string& full)
{
    split_parts parts;
    std::size_t slash = full.rfind('/');
    std::size_t start = slash == std::string::npos ? 0 : slash + 1;
    parts.directory = full.substr(0, start);
    std::string last = full.substr(start);
    std::size_t dot = last.rfind('.');
    if (dot == std::string::npos) {
        parts.name = last;
    } else {
        parts.name = last.substr(0, dot);
        parts.extension = last.substr(dot);
    }
    return parts;
}

split_parts split_path(const std::string& path)
{
    if (path.empty()) {
        split_parts parts = split(tk_get_module_path());
        parts.name.clear();
        return parts;
    }
    return split(full_path(path));
}

}  // namespace

tk_file_name::tk_file_name(const std::string& path)
{
    TK_TRACE(1, "tk_file_name::ctor(%s)", path);
    initialize(path);
}

void tk_file_name::initialize(const std::string& path)
{
    split_parts parts = split_path(path);
    drive.clear();
    directory = std::move(parts.directory);
    name = std::move(parts.name);
    extension = std::move(parts.extension);
}

tk_file_wname::tk_file_wname(const std::wstring& path)
{
    TK_WTRACE(1, L"tk_file_name::ctor(%s)", path);
    initialize(path);
}

void tk_file_wname::initialize(const std::wstring& path)
{
    TK_WTRACE(1, L"tk_file_wname::initialize(%s)", path);
    // '/' and '.' are ASCII, so splitting the UTF-8 form splits the text.
    split_parts parts = split_path(tk_wide_to_utf8(path));
    drive.clear();
    directory = tk_utf8_to_wide(parts.directory);
    name = tk_utf8_to_wide(parts.name);
    extension = tk_utf8_to_wide(parts.extension);
}
