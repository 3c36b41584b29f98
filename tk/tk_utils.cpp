#include "tk_utils.h"

#include "tk_exception.h"
#include "tk_logger.h"
#include "tk_unicode.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <vector>

namespace {

bool read_module_path(std::string& out)
{
    std::vector<char> buf(256);
    for (;;) {
        ssize_t n = readlink("/proc/self/exe", buf.data(), buf.size());
        if (n < 0)
            return false;
        if (static_cast<std::size_t>(n) < buf.size()) {
            out.assign(buf.data(), static_cast<std::size_t>(n));
            return true;
        }
        buf.resize(buf.size() * 2);
    }
}

}  // namespace

std::string tk_get_module_path()
{
    std::string p;
    if (!read_module_path(p))
        throw tk_mail_assertion("tk_utils", 116);
    return p;
}

std::wstring tk_get_module_wpath()
{
    std::string p;
    if (!read_module_path(p))
        throw tk_mail_assertion("tk_utils", 129);
    return tk_utf8_to_wide(p);
}

std::string tk_get_module_dir()
{
    std::string p = tk_get_module_path();
    auto slash = p.rfind('/');
    return slash == std::string::npos ? std::string() : p.substr(0, slash + 1);
}

namespace {

// Opens and closes the file at once; a folder is refused (EISDIR), since
// open() succeeds on one for reading. 0 when it opened, else the errno.
int open_error(const std::string& name, int flags)
{
    int fd = ::open(name.c_str(), flags | O_CLOEXEC | O_NONBLOCK, 0666);
    if (fd < 0)
        return errno;
    struct stat st;
    int error = 0;
    if (::fstat(fd, &st) != 0)
        error = errno;
    else if (S_ISDIR(st.st_mode))
        error = EISDIR;
    ::close(fd);
    return error;
}

bool probe_file(const std::string& name, int flags)
{
    const bool ok = open_error(name, flags) == 0;
    if (!ok)
        TK_TRACE(1, "File not exists!");
    return ok;
}

std::string passwd_home()
{
    long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buf(size > 0 ? static_cast<std::size_t>(size) : 4096);
    for (;;) {
        struct passwd pw;
        struct passwd* found = nullptr;
        int rc = ::getpwuid_r(::getuid(), &pw, buf.data(), buf.size(), &found);
        if (rc == ERANGE) {
            buf.resize(buf.size() * 2);
            continue;
        }
        if (rc != 0 || !found || !found->pw_dir)
            return std::string();
        return found->pw_dir;
    }
}

std::string strip_trailing_slashes(std::string path)
{
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    return path;
}

std::string join_path(const std::string& folder, const char* leaf)
{
    return folder.back() == '/' ? folder + leaf : folder + "/" + leaf;
}

// Reads XDG_DOCUMENTS_DIR the way the shell that sources user-dirs.dirs
// would for the forms the file uses: "$HOME/..." or an absolute path, in
// double quotes; the last assignment wins. Empty when there is none.
std::string xdg_documents_dir(const std::string& config_dir, const std::string& home)
{
    if (config_dir.empty())
        return std::string();
    std::ifstream in(config_dir + "/user-dirs.dirs", std::ios::binary);
    if (!in)
        return std::string();
    static const std::string key = "XDG_DOCUMENTS_DIR=";
    std::string result;
    std::string line;
    while (std::getline(in, line)) {
        std::size_t i = line.find_first_not_of(" \t");
        if (i == std::string::npos || line.compare(i, key.size(), key) != 0)
            continue;
        i += key.size();
        std::string value;
        if (i < line.size() && line[i] == '"') {
            bool closed = false;
            for (++i; i < line.size(); ++i) {
                char c = line[i];
                if (c == '\\' && i + 1 < line.size()) {
                    value += line[++i];
                } else if (c == '"') {
                    closed = true;
                    break;
                } else {
                    value += c;
                }
            }
            if (!closed)
                continue;
        } else {
            std::size_t end = line.find_first_of(" \t#", i);
            value = line.substr(i, end == std::string::npos ? std::string::npos : end - i);
        }
        for (const char* var : {"${HOME}", "$HOME"}) {
            std::size_t n = std::char_traits<char>::length(var);
            if (value.compare(0, n, var) == 0 && (value.size() == n || value[n] == '/')) {
                value = home + value.substr(n);
                break;
            }
        }
        if (!value.empty() && value[0] == '/')
            result = value;
    }
    return result;
}

}  // namespace

bool tk_is_file_exist(const std::string& name, int mode)
{
    TK_TRACE(1, "tk_is_file_exist(%s)", name);
    // The narrow form never creates: 0x1000 is a read test here.
    return probe_file(name, mode == 1 ? O_RDWR : O_RDONLY);
}

bool tk_is_file_exist(const std::wstring& name, int mode)
{
    TK_TRACE(1, "tk_is_file_exist(%s)", name);
    std::string narrow = tk_wide_to_utf8(name);
    if (mode == 1)
        return probe_file(narrow, O_RDWR);
    if (mode == 0x1000)
        return probe_file(narrow, O_WRONLY | O_CREAT | O_TRUNC);
    return probe_file(narrow, O_RDONLY);
}

int tk_file_read_error(const std::string& name)
{
    if (name.empty() || name.find('\0') != std::string::npos)
        return ENOENT;
    return open_error(name, O_RDONLY);
}

bool tk_is_directory(const std::string& path)
{
    struct stat st;
    return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool tk_is_path_exist(const std::string& directory)
{
    TK_TRACE(1, "tk_is_path_exist(%s)", directory);
    return tk_is_directory(directory) && ::access(directory.c_str(), X_OK) == 0;
}

std::string tk_get_home_dir()
{
    const char* home = std::getenv("HOME");
    if (home && *home)
        return home;
    return passwd_home();
}

std::string tk_get_config_dir()
{
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    if (xdg && xdg[0] == '/')
        return xdg;
    std::string home = tk_get_home_dir();
    if (home.empty())
        return std::string();
    return join_path(strip_trailing_slashes(home), ".config");
}

std::wstring tk_get_user_home_wpath()
{
    TK_TRACE(1, "tk_get_user_home_wpath");
    std::string home = tk_get_home_dir();
    if (home.empty()) {
        TK_TRACE(2, "CreateFile error: %08X", ENOENT);
        return std::wstring();
    }
    home = strip_trailing_slashes(home);
    std::string folder = strip_trailing_slashes(xdg_documents_dir(tk_get_config_dir(), home));
    if (!tk_is_directory(folder)) {
        folder = join_path(home, "Documents");
        if (!tk_is_directory(folder))
            folder = home;
    }
    std::wstring result = tk_utf8_to_wide(folder);
    TK_TRACE(2, "Gor user's home: %s", result);
    return result;
}
