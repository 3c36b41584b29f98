// The conversion page: runs the registered main converter on a worker and
// shows the run's progress, the table being converted and the log; once the
// worker has ended it moves to the finish page.
#pragma once

#include "worker_page.h"

#include "velconv_convertor.h"

#include <cstdint>

class QLabel;

inline constexpr int status_line_id = 1323;

// The run's percentage: the tables done, the current table's records and
// the reader's progress inside it, each divided by the number of tables
// (truncating, in 64 bits; the local progress taken within 0 to 100). Not
// clamped: the sum may pass 100.
std::uint64_t conversion_percent(std::uint32_t n_tables, std::uint32_t cur_table, std::uint64_t table_recs,
                                 std::uint64_t cur_rec, int local_progress);
// What the bar shows of a percentage: at most 100.
int progress_bar_value(std::uint64_t percent);

class progress_page : public worker_page<107, velconv_convertor> {
public:
    progress_page();
    ~progress_page() override;

    bool page_init() override;
    void on_timer() override;
    // A short run may convert its tables between two ticks: the bar and
    // the status line keep up with the log.
    void on_log() override;

private:
    void show_run_progress();
    void show_status(const std::wstring& table);

    QLabel* status = nullptr;
    // What the bar shows of this run.
    int shown_percent = 0;
};
