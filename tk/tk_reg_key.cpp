#include "tk_reg_key.h"

#include "tk_exception.h"
#include "tk_logger.h"
#include "tk_replace_file.h"
#include "tk_string.h"
#include "tk_unicode.h"
#include "tk_utils.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <vector>

namespace {

constexpr const char dword_tag[] = "dword:";
constexpr const char sz_tag[] = "sz:";

// "Software\Maker\Product" -> folder <config>/Maker, file Product.conf.
int locate(const std::string& key_path, std::string& folder, std::string& file)
{
    if (key_path.find_first_of("\r\n") != std::string::npos)
        return EINVAL;
    std::vector<std::string> parts;
    std::string part;
    for (std::size_t i = 0; i <= key_path.size(); ++i) {
        if (i == key_path.size() || key_path[i] == '\\' || key_path[i] == '/') {
            if (part == "." || part == "..")
                return EINVAL;
            if (!part.empty())
                parts.push_back(part);
            part.clear();
        } else {
            part += key_path[i];
        }
    }
    if (!parts.empty() && tk_ascii_equal_no_case(parts.front(), "Software"))
        parts.erase(parts.begin());
    if (parts.empty())
        return EINVAL;
    std::string config = tk_get_config_dir();
    if (config.empty())
        return ENOENT;
    folder = config;
    for (std::size_t i = 0; i + 1 < parts.size(); ++i) {
        if (folder.back() != '/')
            folder += '/';
        folder += parts[i];
    }
    file = folder + (folder.back() == '/' ? "" : "/") + parts.back() + ".conf";
    return 0;
}

int read_whole(const std::string& name, std::string& out)
{
    int fd = ::open(name.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return errno;
    struct stat st;
    if (::fstat(fd, &st) != 0) {
        int err = errno;
        ::close(fd);
        return err;
    }
    if (!S_ISREG(st.st_mode)) {
        ::close(fd);
        return S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
    }
    out.clear();
    char buf[4096];
    for (;;) {
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            int err = errno;
            ::close(fd);
            return err;
        }
        if (n == 0)
            break;
        out.append(buf, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return 0;
}

std::string escape(const std::string& text)
{
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        default: out += c;
        }
    }
    return out;
}

bool unescape(std::string_view text, std::string& out)
{
    out.clear();
    for (std::size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c != '\\') {
            out += c;
            continue;
        }
        if (++i == text.size())
            return false;
        switch (text[i]) {
        case '\\': out += '\\'; break;
        case 'n': out += '\n'; break;
        case 'r': out += '\r'; break;
        default: return false;
        }
    }
    return true;
}

bool starts_with(std::string_view s, std::string_view prefix)
{
    return s.substr(0, prefix.size()) == prefix;
}

template <typename Map>
void parse(const std::string& content, Map& values)
{
    std::size_t pos = 0;
    bool first = true;
    while (pos < content.size()) {
        std::size_t end = content.find('\n', pos);
        if (end == std::string::npos)
            end = content.size();
        std::string_view line(content.data() + pos, end - pos);
        pos = end + 1;
        bool header = first && starts_with(line, "[") && line.size() >= 2 && line.back() == ']';
        first = false;
        if (header)
            continue;
        std::size_t eq = line.find('=');
        if (eq == std::string_view::npos)
            continue;
        std::string name(line.substr(0, eq));
        if (values.count(name))
            continue;
        std::string_view rest = line.substr(eq + 1);
        if (starts_with(rest, dword_tag)) {
            std::string_view digits = rest.substr(sizeof dword_tag - 1);
            std::uint32_t v = 0;
            auto r = std::from_chars(digits.data(), digits.data() + digits.size(), v);
            if (digits.empty() || r.ec != std::errc() || r.ptr != digits.data() + digits.size())
                continue;
            values.emplace(std::move(name), v);
        } else if (starts_with(rest, sz_tag)) {
            std::string text;
            if (!unescape(rest.substr(sizeof sz_tag - 1), text))
                continue;
            values.emplace(std::move(name), std::move(text));
        }
    }
}

bool valid_name(const std::string& name)
{
    return name.find_first_of("=\r\n") == std::string::npos;
}

int make_folders(const std::string& folder)
{
    for (std::size_t i = 1; i <= folder.size(); ++i) {
        if (i != folder.size() && folder[i] != '/')
            continue;
        std::string prefix = folder.substr(0, i);
        struct stat st;
        if (::stat(prefix.c_str(), &st) == 0) {
            if (!S_ISDIR(st.st_mode))
                return ENOTDIR;
            continue;
        }
        if (errno != ENOENT)
            return errno;
        if (::mkdir(prefix.c_str(), 0700) != 0 && errno != EEXIST)
            return errno;
        // The umask could have narrowed it further; 0700 is what is meant.
        ::chmod(prefix.c_str(), 0700);
    }
    return 0;
}

// Replaces the file with the content in one step: a reader (or a crash)
// sees either the old file or the new one, never a part.
int replace_file(const std::string& folder, const std::string& file, const std::string& content)
{
    if (int err = make_folders(folder))
        return err;
    return tk_replace_file(file, content, tk_replace_options{}).error;
}

}  // namespace

tk_reg_key::~tk_reg_key()
{
    close();
}

int tk_reg_key::create(const std::string& key_path)
{
    key_state state;
    state.key_path = key_path;
    if (int err = locate(key_path, state.folder, state.file_name))
        return err;
    std::string content;
    int err = read_whole(state.file_name, content);
    if (err == ENOENT)
        content.clear();
    else if (err)
        return err;
    parse(content, state.values);
    open_key = std::move(state);
    return 0;
}

int tk_reg_key::close()
{
    open_key.reset();
    return 0;
}

std::string tk_reg_key::get_file_name() const
{
    return open_key ? open_key->file_name : std::string();
}

const tk_reg_key::value_type* tk_reg_key::find(const std::string& name) const
{
    if (!open_key)
        return nullptr;
    auto it = open_key->values.find(name);
    return it == open_key->values.end() ? nullptr : &it->second;
}

int tk_reg_key::get_value(std::uint32_t& value, const std::string& name) const
{
    TK_TRACE(2, "tk_reg_key::get_value(ulong, %s)", name);
    if (!open_key)
        return EBADF;
    const value_type* v = find(name);
    if (!v)
        return ENOENT;
    const std::uint32_t* n = std::get_if<std::uint32_t>(v);
    // Reported as the registry would: type 4 (DWORD) or 1 (text), and the
    // size in bytes with the text's terminator.
    TK_TRACE(1, "type=%d, size=%d", n ? 4 : 1,
             n ? std::size_t{4} : std::get<std::string>(*v).size() + 1);
    if (!n)
        return EINVAL;
    value = *n;
    return 0;
}

int tk_reg_key::get_value(std::string& value, const std::string& name) const
{
    TK_TRACE(2, "tk_reg_key::get_value(LPSTR, %s)", name);
    if (!open_key)
        return EBADF;
    const value_type* v = find(name);
    if (!v)
        return ENOENT;
    const std::string* s = std::get_if<std::string>(v);
    if (!s)
        return EINVAL;
    value = *s;
    return 0;
}

int tk_reg_key::get_value(std::wstring& value, const std::wstring& name) const
{
    TK_WTRACE(2, L"tk_reg_key::get_value(LPWSTR, %s)", name);
    std::string text;
    if (int err = get_value(text, tk_wide_to_utf8(name)))
        return err;
    value = tk_utf8_to_wide(text);
    return 0;
}

int tk_reg_key::store(const std::string& name, value_type value)
{
    if (!valid_name(name))
        return EINVAL;
    value_map values = open_key->values;
    values[name] = std::move(value);
    std::string content = "[" + open_key->key_path + "]\n";
    for (const auto& [n, v] : values) {
        content += n;
        content += '=';
        if (const std::uint32_t* d = std::get_if<std::uint32_t>(&v)) {
            char buf[16];
            auto r = std::to_chars(buf, buf + sizeof buf, *d);
            content += dword_tag;
            content.append(buf, r.ptr);
        } else {
            content += sz_tag;
            content += escape(std::get<std::string>(v));
        }
        content += '\n';
    }
    if (int err = replace_file(open_key->folder, open_key->file_name, content))
        return err;
    open_key->values = std::move(values);
    return 0;
}

int tk_reg_key::set_value(std::uint32_t value, const std::string& name)
{
    TK_CHECK(open_key.has_value(), "tk_regk", 149);
    return store(name, value);
}

int tk_reg_key::set_value(const std::string& text, const std::string& name)
{
    TK_CHECK(open_key.has_value(), "tk_regk", 157);
    return store(name, text);
}

int tk_reg_key::set_value(const std::wstring& text, const std::wstring& name)
{
    TK_CHECK(open_key.has_value(), "tk_regk", 165);
    return store(tk_wide_to_utf8(name), tk_wide_to_utf8(text));
}

bool tk_reg_key::serialize(const std::string& name, std::uint32_t& value, bool store_it)
{
    if (!open_key)
        return false;
    if (store_it)
        return set_value(value, name) == 0;
    std::uint32_t v = 0;
    if (get_value(v, name) != 0)
        return false;
    value = v;
    return true;
}

bool tk_reg_key::serialize(const std::string& name, bool& value, bool store_it)
{
    if (!open_key)
        return false;
    if (store_it)
        return set_value(static_cast<std::uint32_t>(value ? 1 : 0), name) == 0;
    std::uint32_t v = 0;
    if (get_value(v, name) != 0)
        return false;
    value = v != 0;
    return true;
}

bool tk_reg_key::serialize(const std::string& name, std::string& value, bool store_it)
{
    if (!open_key)
        return false;
    if (store_it)
        return set_value(value, name) == 0;
    std::string v;
    if (get_value(v, name) != 0)
        return false;
    value = std::move(v);
    return true;
}

bool tk_reg_key::serialize(const std::wstring& name, std::wstring& value, bool store_it)
{
    if (!open_key)
        return false;
    if (store_it)
        return set_value(value, name) == 0;
    std::wstring v;
    if (get_value(v, name) != 0)
        return false;
    value = std::move(v);
    return true;
}

tk_serializer::tk_serializer(const std::string& registry_path_) : registry_path(registry_path_) {}

tk_serializer::~tk_serializer() = default;
