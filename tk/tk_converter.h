// The conversion job's base: the settings every conversion has and the flags
// that the user interface reads while the job runs on a worker.
#pragma once

#include "tk_thread.h"

#include <atomic>
#include <string>

class tk_converter : public tk_thread_functor {
public:
    tk_converter();
    ~tk_converter() override;

    virtual void set_silent(bool value);

    // Keeps the name as the log-file setting, then, when it names a file
    // that can be written (an existing read-write file, or a new one in an
    // existing folder), switches the trace log to it by its absolute path,
    // so a later change of the current directory does not move the log.
    // An empty name only changes the setting. A refused name stays the
    // setting while the log keeps its file; the refusal is a level-1
    // tk_exception.
    void set_logfile(const std::string& name);

    bool is_finished() const { return finish_flag.load(std::memory_order_acquire); }
    void set_finished(bool value) { finish_flag.store(value, std::memory_order_release); }

    // Written by the worker at the end of the run, read by the user
    // interface's progress timer.
    std::atomic<bool> finish_flag{false};
    // No progress or failure messages on the console.
    bool silent = false;
    // Set before a worker starts and not changed while it runs.
    std::wstring src;   // the dump file
    std::wstring dest;  // the destination database
    std::string log_file;
};
