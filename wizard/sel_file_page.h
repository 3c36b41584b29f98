// The dump-file page: the dump file, the destination database, the log file
// and the four options. Next checks them, asks what to do with a destination
// that exists, and goes on to the reading of the dump.
#pragma once

#include "wizard_page.h"

inline constexpr int file_src_id = 1003;
inline constexpr int file_dest_id = 1004;
inline constexpr int file_log_id = 1005;
inline constexpr int file_browse_src_id = 1107;
inline constexpr int file_browse_log_id = 1105;
inline constexpr int file_tab_def_id = 1228;
inline constexpr int file_skip_idx_id = 1226;
inline constexpr int file_case_sens_id = 1202;
inline constexpr int file_use_schema_id = 1203;

class sel_file_page : public wizard_page<105, wiz_back | wiz_next, page_has_help> {
public:
    sel_file_page();

    bool page_init() override;
    void on_help() override;
    int on_next() override;
    // Stores the values; a refused log file raises, and the sheet's guard
    // reports it while the page stays.
    int on_back() override;

    void on_browse_src();
    void on_browse_log();
    void store_file_info();

private:
    int check_and_choose_mode();
};
