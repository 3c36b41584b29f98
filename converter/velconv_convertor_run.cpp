// The conversion run: the opened dump as the source, the PostgreSQL database
// as the destination, and the selected tables converted one after the other.

#include "velconv_convertor.h"

#include "error_handler.h"
#include "front_end.h"
#include "init_conversion.h"
#include "pgs_database.h"
#include "pgs_validator.h"

#include "tk_exception.h"
#include "tk_format.h"
#include "tk_logger.h"
#include "tk_unicode.h"
#include "udb_database.h"
#include "udb_recordset.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <exception>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace {

// A report from a handler that catches everything: only a front end ending
// the program by unwinding may pass.
void report_run_failure(const tk_exception& failure)
{
    try {
        error_handler::instance()->handle(failure, true);
    } catch (...) {
        const front_end* fe = front_end::try_instance();
        if (fe && fe->program_ending())
            throw;
        tk_trace(3, "The failure of the run cannot be reported: %s", failure.message);
    }
}

// Marks a table's record loop for on_stop_requested, for as long as the
// loop runs, whatever the way out.
class record_loop_scope {
public:
    explicit record_loop_scope(std::atomic<bool>& flag_) : flag(flag_)
    {
        flag.store(true, std::memory_order_relaxed);
        // Pairs with the fence in on_stop_requested: either the stopping
        // thread sees the loop and cancels nothing, or the loop's first poll
        // sees the stop.
        std::atomic_thread_fence(std::memory_order_seq_cst);
    }
    ~record_loop_scope() { leave(); }
    // The loop has ended: what follows (the COPY's end) may be cancelled.
    void leave() { flag.store(false, std::memory_order_seq_cst); }
    record_loop_scope(const record_loop_scope&) = delete;
    record_loop_scope& operator=(const record_loop_scope&) = delete;

private:
    std::atomic<bool>& flag;
};

}  // namespace

void velconv_convertor::on_stop_requested()
{
    std::atomic_thread_fence(std::memory_order_seq_cst);
    if (in_record_loop.load(std::memory_order_relaxed) && !is_interrupted())
        return;
    TK_TRACE(2, "velconv_convertor::on_stop_requested: cancelling the server statement");
    engine.cancel_query();
}

void velconv_convertor::interrupt(int signal_number)
{
    int none = 0;
    if (signal_number == 0 || !interrupted_by.compare_exchange_strong(none, signal_number))
        return;
    TK_TRACE(2, "velconv_convertor::interrupt(%d)", signal_number);
    dump_opener.request_stop();
    request_stop();
}

velconv_interrupt_report velconv_convertor::interrupt_report() const
{
    velconv_interrupt_report r;
    r.signal_number = interrupted_by.load(std::memory_order_acquire);
    r.before_tables = !tables_taken_up;
    const table_phase at = phase.load(std::memory_order_acquire);
    if (at != table_phase::none)
        r.table = current_table.get();
    r.table_rows_kept = at == table_phase::keys;
    if (dest_dropped)
        r.replaced_db = dest;
    r.replaced_db_made = dest_made;
    return r;
}

void velconv_convertor::operator()()
{
    TK_TRACE(2, "velconv_convertor::operator()");
    completed.store(false, std::memory_order_release);
    all_converted.store(false, std::memory_order_release);
    missing_tables = 0;
    phase.store(table_phase::none, std::memory_order_release);
    tables_taken_up = false;
    dest_dropped = false;
    dest_made = false;
    const error_handler* reporter = error_handler::try_instance();
    const std::uint64_t reports_before = reporter ? reporter->report_count() : 0;
    init_conversion guard(&finish_flag);
    front_end* fe = nullptr;
    try {
        fe = front_end::instance();
        if (console) {
            dump_opener();
            const ora_dump_reader& reader = dump_opener.reader();
            if (reader.compound_dump || reader.first_part)
                fe->dump_warnings(reader.compound_dump, reader.first_part);
        }

        TK_TRACE(2, "b_case_sens=%d", case_sens);
        if (std::unique_ptr<udb_database> db = dump_opener.take_database())
            source_db = std::move(db);
        if (!source_db)
            throw tk_exception("The dump file has not been read.", 1);
        engine.bulk_copy = true;

        if (console && selected_tables.empty())
            selected_tables = source_db->get_table_names();

        // Only now, with the dump open and the tables chosen, may a mode-0
        // destination be dropped; a stop before that leaves it alone.
        if (stop_requested())
            throw tk_final_exception();
        check_dest();
        {
            std::unique_ptr<udb_database> dest = get_dest_base();
            dest_made = true;
            TK_TRACE(2, "After initializing DBs");
            run_tables(*dest);
        }
        // Any report since the start, the dump's own included, names
        // something that was left out.
        const std::uint64_t reports_after = reporter ? reporter->report_count() : 0;
        all_converted.store(missing_tables == 0 && reports_after == reports_before, std::memory_order_release);
        completed.store(true, std::memory_order_release);
    } catch (const tk_final_exception&) {
        // The user's stop, already reported.
    } catch (const tk_exception& e) {
        // After the user's stop, a failure is the stop (a cancelled
        // statement, a table left half made): nothing to report.
        if (!stop_requested())
            report_run_failure(e);
    } catch (const std::exception& e) {
        try {
            if (fe && !stop_requested())
                fe->other_exception(e.what());
        } catch (...) {
            if (fe && fe->program_ending())
                throw;
        }
    } catch (...) {
        if (fe && fe->program_ending())
            throw;
        if (!stop_requested())
            report_run_failure(tk_exception("Unknown exception", 1));
    }
}

void velconv_convertor::run_tables(udb_database& dest)
{
    n_tables.store(static_cast<std::uint32_t>(selected_tables.size()), std::memory_order_relaxed);
    cur_table.store(0, std::memory_order_relaxed);

    // A listed name only selects a table: the table keeps the dump's own
    // name, however the list spells it. A name the dump lacks stays as
    // listed, to be reported in its turn; it and a second entry for the
    // same table are not counted.
    std::vector<std::wstring> tables;
    tables.reserve(selected_tables.size());
    std::vector<std::wstring> own_names;
    std::set<std::wstring> counted;
    for (const std::wstring& listed : selected_tables) {
        const std::wstring* own = source_db->own_table_name(listed);
        tables.push_back(own ? *own : listed);
        if (own && counted.insert(*own).second)
            own_names.push_back(*own);
    }
    const std::uint64_t count = own_names.size();
    TK_TRACE(3, "Converting file '%s' (%I64u tables)\n", src, count);
    front_end::instance()->converting_file(src, count);

    // Seeded with the selection only: generated names do not dodge tables
    // already in the destination, so a re-run gets the same names and the
    // mode decides what happens to an existing table.
    pgs_tn_validator validator(own_names, std::vector<std::wstring>());
    tables_taken_up = true;
    // The dump's own names of the tables this run has taken up.
    std::vector<std::wstring> taken;
    for (const std::wstring& name : tables) {
        convert_table(dest, validator, taken, name);
        cur_table.fetch_add(1, std::memory_order_relaxed);
    }

    error_handler::instance()->set_context(std::wstring());
    cur_table.store(0, std::memory_order_relaxed);
    n_tables.store(0, std::memory_order_relaxed);
}

void velconv_convertor::convert_table(udb_database& dest, pgs_tn_validator& validator,
                                      std::vector<std::wstring>& taken, const std::wstring& name)
{
    current_table.set(name);
    table_recs.store(0, std::memory_order_relaxed);
    cur_rec.store(0, std::memory_order_relaxed);
    if (stop_requested())
        throw tk_final_exception();

    front_end* fe = front_end::instance();
    error_handler* reporter = error_handler::instance();
    if (console && !source_db->is_table_exist(name)) {
        ++missing_tables;
        fe->table_missing(name);
        return;
    }

    // Declared in this order so that unwinding releases the destination
    // table (which commits what it holds) before the source table.
    std::unique_ptr<udb_recordset> source;
    std::unique_ptr<udb_recordset> target;
    // Declared after the target, so that on an interrupt the target's rows
    // are dropped before its release would commit them.
    struct interrupt_scope {
        velconv_convertor& run;
        std::unique_ptr<udb_recordset>& target;
        const int exceptions = std::uncaught_exceptions();
        ~interrupt_scope()
        {
            if (run.is_interrupted() && target)
                target->discard();
            // A table that ends normally leaves nothing underway; one left
            // by the stop stays named for its report.
            if (std::uncaught_exceptions() == exceptions)
                run.phase.store(table_phase::none, std::memory_order_release);
        }
    } interrupt_guard{*this, target};
    std::wstring target_name;
    try {
        source = source_db->get_table(name, 1);
        if (!source)
            return;
        if (std::find(taken.begin(), taken.end(), source->name) != taken.end()) {
            tk_trace(3, "Table '%s' is already converted", source->name);
            return;
        }
        taken.push_back(source->name);
        if (source->schema.empty())
            return;
        phase.store(table_phase::rows, std::memory_order_release);

        const bool acceptable = validator.is_acceptable(name);
        const std::wstring bare = acceptable ? name : validator.get_safe_name(name);
        target_name = pgs_base_db::make_safe_tname(bare, L"public");
        TK_TRACE(1, "new_tab_name=%s", target_name);

        // Only the name the run joined is split: the dump's own name, points
        // and a merged owner included, is the table's whole name, so the
        // schema is always the one the table goes into.
        const std::wstring schema_name = pgs_database::split_name(target_name, std::wstring()).first;
        const std::wstring schema_line = tk_wformat(L"Creating schema if necessary: '%s'\n", schema_name);
        TK_TRACE(3, "%s", schema_line);
        fe->schema_line(schema_line);
        dest.create_schema(schema_name);

        if (dest.is_table_exist(target_name)) {
            if (dest_mode() == udb_dest_mode::skip_tables) {
                TK_TRACE(3, "Table '%s' exists, skipped", name);
                fe->table_skipped(name);
                return;
            }
            if (dest_mode() == udb_dest_mode::replace_tables)
                dest.delete_tab(target_name);
        }

        const udb_indexes indexes = skip_idx ? udb_indexes() : source->indexes;
        target = dest.create_table(target_name, source->schema, indexes);

        if (!acceptable) {
            TK_TRACE(2, "Store generated table name '%s'", target_name);
            TK_TRACE(1, "udb_validator::add_existing_name(%s)", bare);
            validator.add_existing_name(bare);
            TK_TRACE(2, "udb_database::add_tn_mapping(%s->%s)", name, target_name);
            dest.names_map.add_tn_mapping(name, target_name);
        }
        validator.add_restricted_name(bare);

        table_recs.store(static_cast<std::uint64_t>(std::max<std::int64_t>(source->rec_count, 0)),
                         std::memory_order_relaxed);
        TK_TRACE(3, "Converting table %s", name);
        fe->table_started(name);

        if (tab_def) {
            target->finish();
            phase.store(table_phase::keys, std::memory_order_release);
            target.reset();
            source.reset();
            fe->definitions_done(name);
            build_keys(dest, target_name, name);
            return;
        }

        source->reset();
        std::uint64_t handled = 0;
        record_loop_scope loop(in_record_loop);
        while (!source->is_eof()) {
            if (stop_requested())
                throw tk_final_exception();
            const std::uint64_t number = handled + 1;
            TK_TRACE(1, "Converting record #%I64u", number);
            try {
                udb_record* record = source->get_item();
                if (!record)
                    throw tk_exception("The record cannot be read.", 0);
                target->append_record(*record);
            } catch (const tk_exception& e) {
                if (stop_requested())
                    throw tk_final_exception();
                TK_TRACE(2, "n_mode=%d, error=%d", n_mode, e.system_error);
                reporter->set_record_context(name, static_cast<std::int64_t>(number));
                reporter->handle(e, false);
            }
            TK_TRACE(1, "Record %I64u processed", number);
            source->next();
            handled = number;
            cur_rec.store(handled, std::memory_order_relaxed);
        }
        loop.leave();

        // The COPY's end is where the server checks the rows: only after it
        // has taken them does the table count as converted.
        target->finish();
        phase.store(table_phase::keys, std::memory_order_release);
        TK_TRACE(3, "Table '%s' (%I64u records) is converted\n", name, handled);
        fe->table_converted(name, handled);
        target.reset();
        source.reset();
        build_keys(dest, target_name, name);
    } catch (const tk_exception& e) {
        if (is_interrupted() && target)
            target->discard();
        target.reset();
        source.reset();
        if (stop_requested())
            throw tk_final_exception();
        phase.store(table_phase::keys, std::memory_order_release);
        reporter->set_context(name);
        reporter->handle(e, false);
        // A table whose rows were refused stays, with its keys.
        build_keys(dest, target_name, name);
    }
}

void velconv_convertor::build_keys(udb_database& dest, const std::wstring& target_name, const std::wstring& name)
{
    error_handler* reporter = error_handler::instance();
    for (;;) {
        // A stop leaves the table with its rows and without the keys not
        // built yet.
        if (stop_requested())
            throw tk_final_exception();
        try {
            if (!dest.build_next_index(target_name))
                return;
        } catch (const tk_exception& e) {
            if (stop_requested())
                throw tk_final_exception();
            // Refused (level 0): reported, and the next follows. A lost
            // connection (level 1) ends the run here.
            reporter->set_context(L"Table " + name);
            reporter->handle(e, false);
        }
    }
}
