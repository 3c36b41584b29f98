#include "test_support.h"

#include "tk_logger.h"

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <grp.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
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

namespace {

// The exit codes a child agrees on with run_in_child; any other code is
// abnormal, so a check that exits on its own cannot pass for one of them.
constexpr int child_passed = 0;
constexpr int child_failed = 101;
constexpr int child_not_dropped = 102;
constexpr int child_threw = 103;

// Writes the whole text to fd, ignoring failures: the parent reports what
// arrived.
void write_all(int fd, const std::string& text)
{
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        done += static_cast<std::size_t>(n);
    }
}

std::string read_all(int fd)
{
    std::string text;
    char buf[512];
    for (;;) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return text;
        text.append(buf, static_cast<std::size_t>(n));
    }
}

[[noreturn]] void child_body(int message_fd, const std::function<bool()>& drop, const std::function<bool()>& check)
{
    // A crash here is reported by the parent; a core file would only litter.
    const rlimit no_core{0, 0};
    setrlimit(RLIMIT_CORE, &no_core);
    int code = child_threw;
    try {
        errno = 0;
        if (!drop()) {
            std::string why = "the child could not drop its rights";
            if (errno != 0)
                why += std::string(": ") + std::strerror(errno);
            write_all(message_fd, why);
            _exit(child_not_dropped);
        }
        code = check() ? child_passed : child_failed;
    } catch (const std::exception& e) {
        write_all(message_fd, std::string("the check threw: ") + e.what());
    } catch (...) {
        write_all(message_fd, "the check threw something other than an exception");
    }
    // _exit, not exit: the child must not run the parent's atexit handlers
    // or flush its copies of the parent's buffers.
    _exit(code);
}

}  // namespace

child_outcome run_in_child(const std::function<bool()>& drop, const std::function<bool()>& check)
{
    using kind = child_outcome::kind;
    int pipe_fds[2];
    if (pipe2(pipe_fds, O_CLOEXEC) != 0)
        return {kind::not_dropped, std::string("no pipe: ") + std::strerror(errno)};
    const pid_t pid = fork();
    if (pid < 0) {
        const int e = errno;
        close(pipe_fds[0]);
        close(pipe_fds[1]);
        return {kind::not_dropped, std::string("no child: ") + std::strerror(e)};
    }
    if (pid == 0) {
        close(pipe_fds[0]);
        child_body(pipe_fds[1], drop, check);
    }
    close(pipe_fds[1]);
    const std::string message = read_all(pipe_fds[0]);
    close(pipe_fds[0]);
    int status = 0;
    pid_t waited;
    while ((waited = waitpid(pid, &status, 0)) < 0 && errno == EINTR) {
    }
    if (waited != pid)
        return {kind::abnormal, std::string("the child could not be waited for: ") + std::strerror(errno)};
    if (WIFSIGNALED(status)) {
        const int sig = WTERMSIG(status);
        const char* name = strsignal(sig);
        return {kind::abnormal,
                "the child was killed by signal " + std::to_string(sig) + " (" + (name ? name : "unknown") + ")"};
    }
    if (!WIFEXITED(status))
        return {kind::abnormal, "the child ended with wait status " + std::to_string(status)};
    switch (WEXITSTATUS(status)) {
    case child_passed:
        return {kind::passed, {}};
    case child_failed:
        return {kind::failed, {}};
    case child_not_dropped:
        return {kind::not_dropped, message};
    case child_threw:
        return {kind::abnormal, message};
    default:
        return {kind::abnormal, "the child exited with status " + std::to_string(WEXITSTATUS(status))};
    }
}

std::optional<bool> run_as_nobody(const std::function<bool()>& check)
{
    const auto drop = [] {
        if (geteuid() != 0)
            return true;
        return setgroups(0, nullptr) == 0 && setgid(65534) == 0 && setuid(65534) == 0;
    };
    const child_outcome outcome = run_in_child(drop, check);
    switch (outcome.what) {
    case child_outcome::kind::passed:
        return true;
    case child_outcome::kind::failed:
        return false;
    case child_outcome::kind::not_dropped:
        return std::nullopt;
    case child_outcome::kind::abnormal:
        break;
    }
    ADD_FAILURE() << "the unprivileged check did not end normally: " << outcome.how;
    return false;
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
