// The bracket of a conversion run: marks it started and ended, whatever the
// way out, and writes the start and end lines to the log.
#pragma once

#include <atomic>

class init_conversion {
public:
    // Clears the flag and raises the front end's "run started".
    explicit init_conversion(std::atomic<bool>* finish_flag);
    // Never throws; sets the flag (release).
    ~init_conversion();
    init_conversion(const init_conversion&) = delete;
    init_conversion& operator=(const init_conversion&) = delete;

private:
    std::atomic<bool>* finish_flag;
};
