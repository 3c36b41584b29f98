// Helpers shared by the test programs: temporary folders, environment
// overrides, a logger that writes into a temporary file, and a child process
// without root rights for permission checks.
#pragma once

#include "t_systemtime.h"

#include <gtest/gtest.h>

#include <sys/resource.h>

#include <functional>
#include <new>
#include <memory>
#include <optional>
#include <string>

class tk_logger;

namespace tk_test {

// A fresh folder under the system's temporary folder, removed with its
// content at the end of the scope. Mode 0755, so that a child process that
// dropped its rights can still reach it.
class temp_dir {
public:
    temp_dir();
    ~temp_dir();
    temp_dir(const temp_dir&) = delete;
    temp_dir& operator=(const temp_dir&) = delete;
    const std::string& path() const { return dir; }
    std::string file(const std::string& name) const { return dir + "/" + name; }

private:
    std::string dir;
};

// Sets (or, with nullopt, unsets) an environment variable for the scope.
class scoped_env {
public:
    scoped_env(const char* name, std::optional<std::string> value);
    ~scoped_env();
    scoped_env(const scoped_env&) = delete;
    scoped_env& operator=(const scoped_env&) = delete;

private:
    std::string name;
    std::optional<std::string> old;
};

// A folder that a threadsafe death test shares with the child it re-runs:
// the parent makes it and names it in the variable, the child finds it
// there, so both read and write the same files.
class death_test_dir {
public:
    explicit death_test_dir(const char* variable);
    const std::string& path() const { return dir; }

private:
    std::optional<temp_dir> own;
    std::optional<scoped_env> pass;
    std::string dir;
};

std::string read_file(const std::string& path);
void write_file(const std::string& path, const std::string& content);

// HOME and XDG_CONFIG_HOME point into a temporary folder.
class home_fixture : public ::testing::Test {
protected:
    home_fixture();
    ~home_fixture() override;
    temp_dir home;
    std::string config_dir() const { return home.path() + "/.config"; }

private:
    scoped_env env_home;
    scoped_env env_config;
};

// A logger (threshold 3) switched on and writing into log.txt of a
// temporary folder; constructed and destroyed with each test, since the
// logger is one per process.
class logger_fixture : public home_fixture {
protected:
    logger_fixture();
    ~logger_fixture() override;
    std::string log_path() const { return home.file("log.txt"); }
    std::string log_text() const { return read_file(log_path()); }
    std::unique_ptr<tk_logger> logger;
};

// How a check run in a forked child ended.
struct child_outcome {
    enum class kind {
        passed,       // the check answered yes
        failed,       // the check answered no
        not_dropped,  // no child, or it could not drop its rights
        abnormal,     // a signal, an exception or any other exit
    };
    kind what = kind::not_dropped;
    std::string how;  // what happened, for not_dropped and abnormal
};

// Runs check in a forked child after drop, which answers whether the child
// now has the rights the check needs.
child_outcome run_in_child(const std::function<bool()>& drop, const std::function<bool()>& check);

// Runs check in a forked child that dropped to uid/gid 65534 (when it runs
// as root); gives its result, or nullopt when the rights could not be
// dropped, which callers skip on. A child that crashed, threw or exited
// otherwise fails the calling test with what happened and gives false.
std::optional<bool> run_as_nobody(const std::function<bool()>& check);

// Date and time fields for tests; the weekday is left 0.
inline t_systemtime systemtime(int year, int month, int day, int hour = 0, int minute = 0, int second = 0,
                               int microsecond = 0)
{
    t_systemtime t;
    t.year = year;
    t.month = month;
    t.day = day;
    t.hour = hour;
    t.minute = minute;
    t.second = second;
    t.microsecond = microsecond;
    return t;
}

// Caps the address space for the scope (not under AddressSanitizer, which
// reserves far more) and notes any allocation that fails, which a reader
// would otherwise report as an unreadable dump.
class memory_cap {
public:
    memory_cap();
    ~memory_cap();
    memory_cap(const memory_cap&) = delete;
    memory_cap& operator=(const memory_cap&) = delete;

    // Whether an allocation failed since the newest cap began.
    static bool allocation_failed();

private:
    rlimit old{};
    bool capped = false;
    std::new_handler previous_handler = nullptr;
};

}  // namespace tk_test
