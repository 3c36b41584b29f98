// The dump opener: turns the converter's source path into the source
// database of the run. It owns the dump reader and holds the opened dump
// until the run takes it over. It is a thread functor, so that the wizard can
// read a large dump on a worker while its page shows the reader's progress;
// the console program calls it on the main thread as the first step of its
// run.
//
// Threads: the opening publishes its database under a lock; the wizard reads
// it only after the worker has ended.
#pragma once

#include "ora_dump_reader.h"

#include "tk_singleton.h"
#include "tk_thread.h"
#include "udb_database.h"

#include <functional>
#include <memory>
#include <mutex>
#include <string>

class ora_dump_opener_t : public tk_thread_functor, public tk_singleton<ora_dump_opener_t> {
public:
    // Opens the dump at path with the reader; the result belongs to the
    // caller. Tests replace it.
    using open_function = std::function<std::unique_ptr<udb_database>(ora_dump_reader& reader,
                                                                      const std::wstring& path)>;

    ora_dump_opener_t();
    // Never throws: the dump still held is destroyed (which writes its
    // context file), and a failure there is traced.
    ~ora_dump_opener_t() override;

    // Opens the dump named by the registered converter's source path.
    // Success replaces the dump held before, which is destroyed. The
    // reader's state tells the outcome: progress -1 when the opening failed.
    //   tk_exception: reported (flag 1), then the program ends with 255;
    //   tk_final_exception: the reader's refusal, already reported, or the
    //   user's stop: quiet;
    //   anything else: progress -1 and "Cannot read the dump file: " with
    //   the failure's text through the front end.
    // While it runs, the reader's scans end the opening once stop_requested()
    // is set, and any failure after the stop is quiet (progress -1, no
    // report, the program goes on).
    void operator()() override;
    bool is_ready() override { return true; }

    // Hands the dump over; the opener holds none afterwards.
    std::unique_ptr<udb_database> take_database();
    // The dump held, or null; the opener keeps it.
    udb_database* database() const;
    // Holds db as if an opening had given it, destroying the one held before.
    void set_database(std::unique_ptr<udb_database> db);

    // An empty function restores the reader's own opening.
    void set_open_function(open_function f);

    ora_dump_reader& reader() { return dump_reader; }
    const ora_dump_reader& reader() const { return dump_reader; }

    // Destroys a dump database (which writes its context file); a failure
    // there is traced, never thrown.
    static void destroy_quietly(std::unique_ptr<udb_database> db) noexcept;

private:
    std::unique_ptr<udb_database> open_dump(const std::wstring& path);
    // True, with the progress at -1, when a stop was requested.
    bool stopped_quietly();

    ora_dump_reader dump_reader;
    open_function open_fn;
    mutable std::mutex db_mutex;
    // Declared after the reader, so that it goes first.
    std::unique_ptr<udb_database> source_db;
};
