// The one reporter of caught failures. The failure's level decides what
// follows: the record or table is skipped, the run stops, or the program
// ends. It reaches the user only through the registered front_end.
#pragma once

#include "tk_error_converter.h"
#include "tk_exception.h"
#include "tk_singleton.h"

#include <atomic>
#include <cstdint>
#include <iterator>
#include <mutex>
#include <string>

// The code texts that both programs hand to their reporter.
inline constexpr tk_error_converter::entry error_handler_codes[] = {
    {-1032, "Cannot connect to pgs server. Check to verify that pgs server is launched and allows connection."},
    {-30082, "Incorrect username or password"},
};
inline constexpr int error_handler_code_count = static_cast<int>(std::size(error_handler_codes));

class error_handler : public tk_singleton<error_handler> {
public:
    error_handler(int count, const tk_error_converter::entry* table);
    ~error_handler() override;

    // The prefix naming where failures happen; an empty text removes it.
    void set_context(const std::wstring& text);
    void set_record_context(const std::wstring& table_name, std::int64_t record);
    std::string get_context() const;

    // Quiet shows no window (wizard) or prints nothing (console) for
    // failures of levels 0 and 1; internal errors are still shown.
    void set_quiet(bool value) { quiet.store(value, std::memory_order_release); }
    bool is_quiet() const { return quiet.load(std::memory_order_acquire); }

    // Reports failure by its level. flag false: the caller does not end the
    // run by itself, so in the wizard a failure that must stop the run
    // raises tk_final_exception. Level 2 never returns.
    void handle(const tk_exception& failure, bool flag);

private:
    mutable std::mutex context_mutex;
    std::string context;
    std::atomic<bool> quiet{false};
    tk_error_converter codes;
};
