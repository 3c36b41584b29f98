#include "init_conversion.h"

#include "front_end.h"

#include "tk_logger.h"

#include <ctime>

namespace {

void trace_time(const char* format)
{
    const std::time_t now = std::time(nullptr);
    std::tm tm{};
    if (!localtime_r(&now, &tm))
        return;
    tk_trace(3, format, tm.tm_mday, tm.tm_mon + 1, tm.tm_year + 1900, tm.tm_hour, tm.tm_min, tm.tm_sec);
}

}  // namespace

init_conversion::init_conversion(std::atomic<bool>* flag) : finish_flag(flag)
{
    TK_TRACE(3, "init_conversion::ctor");
    finish_flag->store(false, std::memory_order_release);
    if (tk_trace_wanted(3))
        trace_time("Conversion started on %02d/%02d/%04d at %02d:%02d:%02d\n");
    if (front_end* fe = front_end::try_instance())
        fe->run_started();
    TK_TRACE(2, "finish_flag=%d", 0);
}

init_conversion::~init_conversion()
{
    TK_TRACE(2, "init_conversion::dtor");
    if (tk_trace_wanted(3))
        trace_time("Conversion ended on %02d/%02d/%04d at %02d:%02d:%02d\n");
    finish_flag->store(true, std::memory_order_release);
}
