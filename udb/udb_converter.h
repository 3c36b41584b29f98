// The generic part of a converter from one database to another: the settings
// every such conversion has, the progress counters of a run, and the reading
// and writing of these settings in a profile.
//
// Threads: the four counters are written by the run and read by the user
// interface's progress timer at the same time, so they are atomics, and
// current_table is behind a lock. The lists and maps are touched by one
// thread at a time: the pages and the option handling before a run, the run
// while it lasts.
#pragma once

#include "tk_converter.h"
#include "tk_thread.h"

#include <atomic>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

class udb_profile;

// What the run does with a destination that exists already. The values are
// the digits of the profile's "mode" and of the command line's --mode=.
enum class udb_dest_mode : int {
    replace_database = 0,
    replace_tables = 1,
    skip_tables = 2,
    merge = 3,
};

class udb_converter : public tk_converter {
public:
    udb_converter();
    ~udb_converter() override;

    // Writes the settings below into the profile; gives true.
    virtual bool store_profile(udb_profile& profile);
    // Applies a profile's settings, adding to what is set. Gives true; a
    // refused "logfile" or a "mode" other than "0" to "3" raises level 1 at
    // the point where it is read, and the keys after it are not applied.
    virtual bool load_profile(udb_profile& profile);

    // Makes the names of a table-list file, one per line, the table list.
    void process_tab_file(const std::string& path);

    // Overwrite/merge mode for an existing destination: 0 overwrite the
    // entire database, 1 overwrite existing tables only, 2 skip existing
    // tables, 3 merge.
    int n_mode = 0;
    udb_dest_mode dest_mode() const { return static_cast<udb_dest_mode>(n_mode); }
    // Source name of the table being converted.
    tk_guarded<std::wstring> current_table;
    // Records of the current source table, and records handled in it.
    std::atomic<std::uint64_t> table_recs{0};
    std::atomic<std::uint64_t> cur_rec{0};
    // Tables of the run, and the index of the current one (from 0).
    std::atomic<std::uint32_t> n_tables{0};
    std::atomic<std::uint32_t> cur_table{0};
    // The source tables to convert, in conversion order.
    std::vector<std::wstring> selected_tables;
    // The "Selected Tables" entries of the profiles loaded.
    std::map<std::wstring, std::wstring> profile_selection;
    // Named queries: name to query text.
    std::map<std::wstring, std::wstring> available_queries;
    // Definitions only: no rows are copied.
    std::uint8_t tab_def = 0;
    // Indexes and keys are not created.
    std::uint8_t skip_idx = 0;
};
