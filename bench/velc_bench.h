// The benchmark program's table: each benchmark is a named row that measures
// one thing over the synthetic dump and reports how many bytes it handled in
// how much time. A new benchmark is a new file in bench/ with a
// VELC_BENCHMARK line; velc_bench runs every row, or those asked for.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "ora_dump_writer_rows.h"

// What the benchmarks share: a classic dump made by the test dump writer.
struct bench_env {
    std::string dump_path;
    std::int64_t dump_size = 0;
    // Where the header ends, so that a scan starts there.
    std::int64_t body = 0;
    // The number of tables the dump holds.
    int tables = 0;
    // The dump stream's window; 0 for its default.
    std::size_t window = 0;
    // Rows of the benchmarks that make dumps of their own.
    std::int64_t rows = 3000000;
    // The PostgreSQL server of the rows that convert: host or socket folder,
    // port and user as velcagent and psql take them. Empty when not given;
    // those rows then note "skipped: no server" (see bench_have_server).
    std::string host;
    std::string port;
    std::string user;
    // The programs those rows run.
    std::string velcagent;
    std::string psql;
    // The folder for the files the benchmarks make.
    std::string dir;
    // --repeat, for the rows that repeat their own steps; --keep, which also
    // keeps the databases they make.
    int repeat = 3;
    bool keep = false;
};

struct bench_result {
    // Bytes handled by one run, and the run's wall-clock time.
    double bytes = 0;
    double seconds = 0;
    // The peak resident memory of a process that bench_run_process ran, in
    // KiB; 0 otherwise.
    long peak_rss_kb = 0;
    // Anything the reader of the table should know; "FAILED: ..." when the
    // run did not do what it measures.
    std::string note;
    // Lines printed under the row, for rows that measure several steps.
    std::vector<std::string> details;
};

using bench_fn = bench_result (*)(const bench_env&);

struct bench_entry {
    const char* name;
    const char* description;
    bench_fn run;
    // Run once, without a warm-up run: for rows that take long or do their
    // own warm-up and repeats (VELC_BENCHMARK_ONCE).
    bool once = false;
};

// Adds a row; used through VELC_BENCHMARK at namespace scope.
bool bench_register(const bench_entry& entry);

// A file that a benchmark made; removed at the end unless --keep.
void bench_add_temp_file(const std::string& path);

// A read() loop over the whole file with a 1 MiB buffer: the speed the
// reader's own figures are compared with. The note is empty unless it failed.
bench_result bench_read_file(const std::string& path);

// True when env names a server and velcagent and psql; otherwise note is
// set to "skipped: no server" (or what is missing) for the row to return.
bool bench_have_server(const bench_env& env, std::string& note);

// Runs a program as a process (argv[0] is its path), its output to a file
// that is removed afterwards, and times it. The note is "FAILED: ..." (with
// the status and the output's last line) unless it exited with 0; the bytes
// are left at 0 for the caller. When output is not null it receives what the
// program printed (stdout and stderr together).
bench_result bench_run_process(const std::vector<std::string>& argv, std::string* output = nullptr);

// velcagent on env's server: --src=dump_path --dest=dest_db, the host, port
// and user, then more_args (later options win). Timed as a process.
bench_result bench_run_velcagent(const bench_env& env, const std::string& dump_path, const std::string& dest_db,
                                 const std::vector<std::string>& more_args);

// psql -X -At on env's server and database db with the arguments; output, if
// not null, receives what it printed.
bench_result bench_run_psql(const bench_env& env, const std::string& db, const std::vector<std::string>& args,
                            std::string* output = nullptr);

// A one-table dump that benchmarks made of their own, with its size.
struct bench_dump {
    std::string path;
    std::wstring table;
    std::int64_t rows = 0;
    std::int64_t size = 0;
    bool made = false;
    bool failed = false;
};

class ora_dump_file;

// Removes the context file of a dump, so that its next opening scans.
void bench_remove_context(const std::string& dump_path);

// The measures every one-table dump gets. A read() loop over the file (a
// short read fails). The opening without a context file, so that the scan
// runs; it must give the one table, and check, when given, tests the opened
// database further: a text it returns fails the row. And every row through
// get_table, reset, get_item and next, where a sample of the rows must hold
// their ID in the first field (row i has ID i + 1).
bench_result bench_dump_read(const bench_dump& d);
bench_result bench_dump_open(const bench_dump& d,
                             const std::function<std::string(const ora_dump_file&)>& check = {});
bench_result bench_dump_rows(const bench_dump& d);

// Streams a dump of one table: the header, the table's statements and one
// block whose rows come from make_row (called with 0 to rows - 1), then the
// primary key on "ID" and the end. Millions of rows never sit in memory.
bool bench_stream_dump(const std::string& path, const std::string& name, const std::string& create_sql,
                       const std::string& insert_sql, const std::vector<ora_rows::entry>& columns,
                       std::int64_t rows, const std::function<ora_rows::bytes(std::int64_t)>& make_row,
                       std::int64_t& size);

// The dump of narrow rows shared by the rows that read or convert it: table
// NARROW (ID NUMBER(10) primary key, NAME VARCHAR2(40), AMOUNT NUMBER(12,2),
// CREATED DATE, NOTE VARCHAR2(100), a quarter of the notes null) with
// env.rows rows in env.dir; made at the first call, removed at the end with
// its context file.
const bench_dump& bench_narrow_dump(const bench_env& env);

// The same rows as the narrow dump, as PostgreSQL's COPY text takes them
// (tab-separated, \N for null, dates as 'YYYY-MM-DD HH:MM:SS'); made at the
// first call. Empty when it could not be written.
const std::string& bench_narrow_copy_file(const bench_env& env);

// Seconds on a monotonic clock.
double bench_now();

#define VELC_BENCH_CAT2(a, b) a##b
#define VELC_BENCH_CAT(a, b) VELC_BENCH_CAT2(a, b)
#define VELC_BENCHMARK(name, description, fn) \
    static const bool VELC_BENCH_CAT(velc_bench_registered_, __LINE__) = bench_register({name, description, fn})
#define VELC_BENCHMARK_ONCE(name, description, fn) \
    static const bool VELC_BENCH_CAT(velc_bench_registered_, __LINE__) = bench_register({name, description, fn, true})
