#include "test_support.h"

#include "tk_logger.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <grp.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

namespace tk_test {

temp_dir::temp_dir()
{
    const char* base = std::getenv("TMPDIR");
    std::string tmpl = std::string(base && *base ? base : "/tmp") + "/velc_test_XXXXXX";
    std::vector<char> buf(tmpl.begin(), tmpl.end());
    buf.push_back('\0');
    if (!mkdtemp(buf.data()))
        throw std::runtime_error("mkdtemp failed");
    dir = buf.data();
    chmod(dir.c_str(), 0755);
}

temp_dir::~temp_dir()
{
    std::error_code ec;
    // Make read-only subfolders removable again.
    for (auto it = std::filesystem::recursive_directory_iterator(dir, ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec))
        if (it->is_directory(ec))
            chmod(it->path().c_str(), 0755);
    std::filesystem::remove_all(dir, ec);
}

scoped_env::scoped_env(const char* name_, std::optional<std::string> value) : name(name_)
{
    if (const char* v = std::getenv(name_))
        old = v;
    if (value)
        setenv(name_, value->c_str(), 1);
    else
        unsetenv(name_);
}

scoped_env::~scoped_env()
{
    if (old)
        setenv(name.c_str(), old->c_str(), 1);
    else
        unsetenv(name.c_str());
}

std::string read_file(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void write_file(const std::string& path, const std::string& content)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
}

home_fixture::home_fixture()
    : env_home("HOME", home.path()), env_config("XDG_CONFIG_HOME", home.path() + "/.config")
{
}

home_fixture::~home_fixture() = default;

logger_fixture::logger_fixture()
{
    logger = std::make_unique<tk_logger>(log_path().c_str(), true, 3, false);
}

logger_fixture::~logger_fixture()
{
    logger.reset();
}

std::optional<bool> run_as_nobody(const std::function<bool()>& check)
{
    pid_t pid = fork();
    if (pid < 0)
        return std::nullopt;
    if (pid == 0) {
        if (geteuid() == 0) {
            if (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0)
                _exit(3);
        }
        _exit(check() ? 0 : 1);
    }
    int status = 0;
    if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status))
        return std::nullopt;
    int code = WEXITSTATUS(status);
    if (code == 3)
        return std::nullopt;
    return code == 0;
}

death_test_dir::death_test_dir(const char* variable)
{
    if (const char* inherited = std::getenv(variable)) {
        dir = inherited;
    } else {
        own.emplace();
        dir = own->path();
        pass.emplace(variable, dir);
    }
}

namespace {

std::atomic<bool> failed_allocation{false};

void note_failed_allocation()
{
    failed_allocation = true;
    std::set_new_handler(nullptr);
    throw std::bad_alloc();
}

}  // namespace

memory_cap::memory_cap()
{
    failed_allocation = false;
    previous_handler = std::set_new_handler(&note_failed_allocation);
#if !defined(__SANITIZE_ADDRESS__)
    if (getrlimit(RLIMIT_AS, &old) == 0) {
        rlimit cap = old;
        const rlim_t want = static_cast<rlim_t>(2) << 30;
        if (cap.rlim_cur == RLIM_INFINITY || cap.rlim_cur > want)
            cap.rlim_cur = want;
        capped = setrlimit(RLIMIT_AS, &cap) == 0;
    }
#endif
}

memory_cap::~memory_cap()
{
    if (capped)
        setrlimit(RLIMIT_AS, &old);
    std::set_new_handler(previous_handler);
}

bool memory_cap::allocation_failed() { return failed_allocation; }

}  // namespace tk_test
