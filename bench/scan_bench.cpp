// The classic scan against the raw read speed of the same file: the scan
// steps over the rows by their framing and should stay bound by reading, at
// no less than 0.3 of the raw read's speed.

#include "velc_bench.h"

#include "ora_dump_reader.h"
#include "ora_dump_reader_th.h"
#include "ora_dump_stream.h"
#include "table_pos.h"

#include <fcntl.h>
#include <unistd.h>

#include <vector>

namespace {

bench_result raw_read(const bench_env& env)
{
    bench_result r = bench_read_file(env.dump_path);
    if (r.note.empty() && r.bytes != static_cast<double>(env.dump_size))
        r.note = "FAILED: short read";
    if (r.note.empty())
        r.note = "read() loop, 1 MiB buffer";
    return r;
}

bench_result scan(const bench_env& env)
{
    bench_result r;
    ora_dump_reader* reader = ora_dump_reader::instance();
    reader->reset_dump_state();
    reader->info.dump_length = env.dump_size;
    double start = bench_now();
    auto stream = ora_dump_stream::open_file(env.dump_path, env.window ? env.window : ora_dump_stream::default_window);
    seek_to_pos(*stream, env.body);
    ora_table_map tables;
    bool complete = false;
    // The rows are stepped over by their framing, as the open does it.
    std::unique_ptr<ora_dump_reader_th> rows = ora_dump_reader_th::create(12, "EXPORT:V12.01.00");
    reader->find_ora_objects(*stream, tables, complete, rows.get());
    r.seconds = bench_now() - start;
    r.bytes = static_cast<double>(env.dump_size);
    if (!complete || static_cast<int>(tables.size()) != env.tables)
        r.note = "FAILED: " + std::to_string(tables.size()) + " tables found";
    else
        r.note = "find_ora_objects, " + std::to_string(tables.size()) + " tables, " +
                 std::to_string(stream->bytes_read() * 100 / static_cast<std::uint64_t>(env.dump_size)) +
                 "% of the bytes read";
    return r;
}

}  // namespace

bench_result bench_read_file(const std::string& path)
{
    bench_result r;
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        r.note = "FAILED: cannot open the dump";
        return r;
    }
    std::vector<char> buf(1 << 20);
    double start = bench_now();
    ssize_t n;
    while ((n = ::read(fd, buf.data(), buf.size())) > 0)
        r.bytes += static_cast<double>(n);
    r.seconds = bench_now() - start;
    ::close(fd);
    if (n < 0)
        r.note = "FAILED: read error";
    return r;
}

VELC_BENCHMARK("raw_read", "read() loop over the dump file", raw_read);
VELC_BENCHMARK("scan", "classic table scan (find_ora_objects) over the dump", scan);
