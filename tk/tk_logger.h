// The one trace log of the program, and the trace calls that append to it.
#pragma once

#include "tk_format.h"
#include "tk_singleton.h"

#include <atomic>
#include <mutex>
#include <string>

class tk_logger : public tk_singleton<tk_logger> {
public:
    // A null file names the program's path with the extension ".log".
    tk_logger(const char* file, bool enabled, int threshold, bool timestamps);
    ~tk_logger() override;

    void set_file_name(const std::string& name);
    // Switches logging on with the given (absolute) file; the first trace
    // call afterwards empties it unless a file was emptied already.
    void enable_file(const std::string& name);

    std::string get_file_name() const;
    int get_threshold() const { return threshold; }
    bool is_enabled() const { return enabled.load(std::memory_order_acquire); }

    // True when a call of this level has anything to do: the first-use
    // emptying is due, or the level reaches the threshold. Lock-free.
    bool wanted(int level) const
    {
        return enabled.load(std::memory_order_acquire) &&
               (!created.load(std::memory_order_acquire) || level >= threshold);
    }

    // Writes one line built by make_text, which runs only when the line is
    // written. Every step from the first use to the close is under one lock,
    // so lines of different threads never interleave.
    template <typename Make>
    void write(int level, Make&& make_text)
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (!enabled.load(std::memory_order_relaxed))
            return;
        first_use();
        if (level < threshold)
            return;
        append_line(make_text());
    }

private:
    void first_use();
    void append_line(const std::string& text);

    mutable std::mutex mutex;
    std::string file_name;
    int threshold;
    bool line_break = true;
    std::atomic<bool> enabled;
    std::atomic<bool> created{false};
    bool timestamps;
};

inline bool tk_trace_wanted(int level)
{
    tk_logger* l = tk_logger::try_instance();
    return l && l->wanted(level);
}

// The wide line is cut to what the log takes: 10239 characters, and no more
// than 10239 bytes of UTF-8 (cut at a whole character).
std::string tk_wtrace_text(const std::wstring& text);

template <typename... Args>
void tk_trace(int level, const char* format, const Args&... args) noexcept
{
    tk_logger* l = tk_logger::try_instance();
    if (!l || !l->wanted(level))
        return;
    try {
        l->write(level, [&] { return tk_format(format, args...); });
    } catch (...) {
        // Tracing never reports a failure to its caller.
    }
}

template <typename... Args>
void tk_wtrace(int level, const wchar_t* format, const Args&... args) noexcept
{
    tk_logger* l = tk_logger::try_instance();
    if (!l || !l->wanted(level))
        return;
    try {
        l->write(level, [&] { return tk_wtrace_text(tk_wformat(format, args...)); });
    } catch (...) {
    }
}

// The macros evaluate their arguments only when the line is wanted; use them
// on every per-row and per-value path.
#define TK_TRACE(level, ...)                    \
    do {                                        \
        if (tk_trace_wanted(level))             \
            tk_trace((level), __VA_ARGS__);     \
    } while (0)

#define TK_WTRACE(level, ...)                   \
    do {                                        \
        if (tk_trace_wanted(level))             \
            tk_wtrace((level), __VA_ARGS__);    \
    } while (0)
