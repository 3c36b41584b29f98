#include "tk_logger.h"

#include "t_systemtime.h"
#include "tk_unicode.h"
#include "tk_utils.h"

#include <cstdio>

namespace {

std::string default_log_name()
{
    std::string p = tk_get_module_path();
    auto slash = p.rfind('/');
    auto dot = p.rfind('.');
    if (dot != std::string::npos && (slash == std::string::npos || dot > slash))
        p.resize(dot);
    return p + ".log";
}

}  // namespace

tk_logger::tk_logger(const char* file, bool enabled_, int threshold_, bool timestamps_)
    : file_name(file ? std::string(file) : default_log_name()),
      threshold(threshold_),
      enabled(enabled_),
      timestamps(timestamps_)
{
    if (enabled_) {
        std::lock_guard<std::mutex> lock(mutex);
        first_use();
    }
}

tk_logger::~tk_logger() = default;

void tk_logger::set_file_name(const std::string& name)
{
    std::lock_guard<std::mutex> lock(mutex);
    file_name = name;
}

void tk_logger::enable_file(const std::string& name)
{
    std::lock_guard<std::mutex> lock(mutex);
    file_name = name;
    enabled.store(true, std::memory_order_release);
}

std::string tk_logger::get_file_name() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return file_name;
}

void tk_logger::first_use()
{
    if (created.load(std::memory_order_relaxed))
        return;
    if (FILE* f = std::fopen(file_name.c_str(), "wb"))
        std::fclose(f);
    // Set even when the open failed: the emptying is not tried again.
    created.store(true, std::memory_order_release);
}

void tk_logger::append_line(const std::string& text)
{
    FILE* f = std::fopen(file_name.c_str(), "ab");
    if (!f)
        return;
    if (timestamps) {
        t_systemtime t = tk_get_local_time();
        std::string prefix = tk_format("%02d:%02d:%02d ", t.hour, t.minute, t.second);
        std::fwrite(prefix.data(), 1, prefix.size(), f);
    }
    std::fwrite(text.data(), 1, text.size(), f);
    if (line_break)
        std::fwrite("\r\n", 1, 2, f);
    std::fclose(f);
}

std::string tk_wtrace_text(const std::wstring& text)
{
    constexpr std::size_t limit = 10239;
    std::wstring_view w(text);
    if (w.size() > limit)
        w = w.substr(0, limit);
    std::string u = tk_wide_to_utf8(w);
    if (u.size() > limit)
        u.resize(tk_utf8_cut(u, limit));
    return u;
}
