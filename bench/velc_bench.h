// The benchmark program's table: each benchmark is a named row that measures
// one thing over the synthetic dump and reports how many bytes it handled in
// how much time. A new benchmark is a new file in bench/ with a
// VELC_BENCHMARK line; velc_bench runs every row, or those asked for.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

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
};

struct bench_result {
    // Bytes handled by one run, and the run's wall-clock time.
    double bytes = 0;
    double seconds = 0;
    // Anything the reader of the table should know; "FAILED: ..." when the
    // run did not do what it measures.
    std::string note;
};

using bench_fn = bench_result (*)(const bench_env&);

struct bench_entry {
    const char* name;
    const char* description;
    bench_fn run;
};

// Adds a row; used through VELC_BENCHMARK at namespace scope.
bool bench_register(const bench_entry& entry);

// A file that a benchmark made; removed at the end unless --keep.
void bench_add_temp_file(const std::string& path);

// A read() loop over the whole file with a 1 MiB buffer: the speed the
// reader's own figures are compared with. The note is empty unless it failed.
bench_result bench_read_file(const std::string& path);

// Seconds on a monotonic clock.
double bench_now();

#define VELC_BENCH_CAT2(a, b) a##b
#define VELC_BENCH_CAT(a, b) VELC_BENCH_CAT2(a, b)
#define VELC_BENCHMARK(name, description, fn) \
    static const bool VELC_BENCH_CAT(velc_bench_registered_, __LINE__) = bench_register({name, description, fn})
