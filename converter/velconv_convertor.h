// The main converter: the one object that holds every setting of a
// conversion, for both programs, owns the PostgreSQL engine and the dump
// opener, and runs the conversion. Its settings come from the wizard's
// settings file (only in velconv), from profiles and, in velcagent, from the
// command line.
//
// The registered front end says at construction which program the converter
// serves. That decides the case setting's default (1 in velconv, 0 in
// velcagent), whether the settings file is read at construction and
// written at destruction (only in velconv: velcagent never reads, writes or
// creates it), and the console steps of the run.
//
// Use from the console program's main (one thread):
//   console_front_end fe; error_handler reporter(...); velconv_convertor c;
//   apply_cmd_line(argc, argv);            // fills the settings
//   c.engine.connect(c.host, c.user, c.password, "", c.port);
//   c();                                   // the run; never throws
//   return c.is_all_converted() ? 0 : c.is_completed() ? 1 : 255;
// main does not call check_dest: the run drops a mode-0 destination itself,
// only after the dump has opened and the table list is final. The run opens
// the dump itself in velcagent (the opener, on this thread); a refused dump
// ends the program inside the reporter with 255. is_completed() is true
// only when the run reached its normal end (level-0 reports included); a
// run ended by a failure outside the table loop (a destination that cannot
// be dropped, opened or created, no dump database) leaves it false.
#pragma once

#include "ora_dump_opener_t.h"
#include "pgs_converter_impl.h"

#include "tk_reg_key.h"
#include "tk_singleton.h"
#include "udb_converter.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class udb_database;
class udb_profile;
class velconv_convertor;

// Where the run's destination comes from. The default uses the engine;
// tests put a database of their own in its place.
class velconv_dest_provider {
public:
    virtual ~velconv_dest_provider() = default;
    // Prepares the destination before it is opened: in mode 0 an existing
    // database is dropped.
    virtual void check_dest(velconv_convertor& converter) = 0;
    // Whether the destination database exists already; a provider that
    // cannot tell says it does, so that nothing is taken for new.
    virtual bool dest_exists(velconv_convertor&) { return true; }
    // The destination database, opened or created; owned by the caller.
    virtual std::unique_ptr<udb_database> get_dest_base(velconv_convertor& converter) = 0;
};

// The version that the usage text and the wizard's title show.
inline constexpr int velc_version_major = 3;
inline constexpr int velc_version_minor = 1;

// The settings key; its file is <config>/Fennick/Velmora-to-PostgreSQL.conf.
inline constexpr const char* velc_settings_key = "Software\\Fennick\\Velmora-to-PostgreSQL";

// What an interrupted run leaves behind, for the console's last words.
struct velconv_interrupt_report {
    // The signal that ended the run; 0 when none did.
    int signal_number = 0;
    // No table had been taken up yet.
    bool before_tables = true;
    // The table underway, empty between two tables.
    std::wstring table;
    // Its rows were committed before the interrupt (its keys and indexes may
    // be missing); otherwise they are rolled back.
    bool table_rows_kept = false;
    // Mode 0: the database that this run dropped (empty when none), and
    // whether the run had made it again.
    std::wstring replaced_db;
    bool replaced_db_made = false;
};

class velconv_convertor : public udb_converter,
                          public tk_singleton<velconv_convertor>,
                          public pgs_converter_impl,
                          public tk_serializer {
public:
    // Needs the registered front end.
    velconv_convertor();
    // Never throws: a settings file that cannot be written and a dump
    // database that fails while it is destroyed are traced.
    ~velconv_convertor() override;

    // The conversion run. Nothing leaves it, except the program's end from
    // inside the reporter (level 1 in velcagent, level 2 everywhere).
    void operator()() override;
    bool is_ready() override { return true; }
    // True when the last run reached its normal end.
    bool is_completed() const { return completed.load(std::memory_order_acquire); }
    // True when the last run reached its normal end with every selected
    // table converted and no failure reported: no table the dump lacks, no
    // table or record refused, no dump reading that stopped early.
    bool is_all_converted() const { return all_converted.load(std::memory_order_acquire); }

    // Ends the run as a user's interrupt (SIGINT, SIGTERM) asks: the stop of
    // the wizard's Cancel, except that the table underway keeps none of its
    // rows. Any thread but a signal handler may call it; the first call
    // counts.
    void interrupt(int signal_number);
    bool is_interrupted() const { return interrupted_by.load(std::memory_order_acquire) != 0; }
    // Read once the run has ended.
    velconv_interrupt_report interrupt_report() const;

    // True when the converter serves velcagent.
    bool is_console() const { return console; }

    // Loads (store false) or saves the eleven settings of the settings file.
    // Loading sets each default before its value is read, so a missing or
    // unreadable value keeps it. True when the key opened and every value
    // was read or written; always false in velcagent, which leaves the file
    // alone.
    bool serialize(bool store);

    // The generic settings, the "pgs settings" section, "case_sens" and
    // "use_schema". The saved "Selected Tables" are the current selection
    // plus the loaded entries that carry a value.
    bool store_profile(udb_profile& profile) override;
    // Adds the profile's settings to the current ones. Raises level 1 for a
    // refused log file, mode or port; what was applied before stays.
    bool load_profile(udb_profile& profile) override;

    // True when written.
    bool save_profile_file(const std::wstring& path);
    // True when loaded and applied. A missing file raises level 1; a file
    // that is not a valid profile gives false with nothing applied.
    bool load_profile_file(const std::wstring& path);

    // The destination database's name as the server gets it: dest as given
    // under the case setting, else with A to Z lowered.
    std::wstring dest_db_name() const { return engine.keep_case ? dest : pgs_engine::lower_ascii(dest); }

    // In mode 0 drops the destination database when it exists, once the
    // server has shown that it can be made again (else level 1, nothing
    // dropped). The run calls it, after the dump has opened and the tables
    // are chosen.
    void check_dest();
    // Opens the destination database (flags 36 in mode 0, else 40), or
    // creates it when it does not exist. Owned by the caller.
    std::unique_ptr<udb_database> get_dest_base();
    // Replaces where check_dest and get_dest_base go; null restores the
    // engine.
    void set_dest_provider(std::unique_ptr<velconv_dest_provider> provider);

    // The table names of the dump database that the opener holds (or, once
    // a run has taken it, of the source database); empty when there is
    // none.
    std::vector<std::wstring> get_all_tables();

    ora_dump_opener_t& opener() { return dump_opener; }

    // The case setting: only the engine's keep_case changes what a run does.
    void set_case_sens(bool on);
    // Merging schema and table names: only the dump reader's merge_schema
    // acts on it.
    void set_use_schema(bool on);
    // The case and merge settings become what the engine and the reader
    // were told. The settings file fills only the two fields; the wizard's
    // dump-file page hands them on, and quick launch, which has no such
    // page, runs with what its profile set (or the defaults), so that a
    // profile saved afterwards holds what the run did.
    void settle_name_settings();

    std::uint8_t case_sens = 0;
    std::uint8_t use_schema = 0;

protected:
    // Runs on the thread that asks for the stop. Inside a table's record
    // loop the run polls the stop at the next record, and the rows already
    // copied are committed; a cancel there would roll the table's COPY
    // back, which is what an interrupt wants, so it cancels there too.
    // Anywhere else (table or index creation, the COPY's end,
    // dropping or creating the database) the worker may be blocked in a
    // server statement, which is cancelled here.
    void on_stop_requested() override;

private:
    void run_tables(udb_database& dest);
    void convert_table(udb_database& dest, pgs_tn_validator& validator, std::vector<std::wstring>& taken,
                       const std::wstring& name);
    // The keys and indexes of a table the run created, after its rows; each
    // refused one is reported as the table's.
    void build_keys(udb_database& dest, const std::wstring& target_name, const std::wstring& name);

    bool console;
    ora_dump_opener_t dump_opener;
    std::unique_ptr<velconv_dest_provider> dest_provider;
    std::atomic<bool> completed{false};
    // Set once per table around its record loop.
    std::atomic<bool> in_record_loop{false};
    std::atomic<bool> all_converted{false};
    // Listed tables that the dump lacks, in the last run.
    std::uint32_t missing_tables = 0;

    // Where the run is, for the report of an interrupt.
    enum class table_phase { none, rows, keys };
    std::atomic<int> interrupted_by{0};
    std::atomic<table_phase> phase{table_phase::none};
    bool tables_taken_up = false;
    bool dest_dropped = false;
    bool dest_made = false;

public:
    // The opened dump, taken from the opener when the run starts; declared
    // after the opener, so that it goes before the reader.
    std::unique_ptr<udb_database> source_db;
};

// The wizard's title.
std::wstring make_title();
