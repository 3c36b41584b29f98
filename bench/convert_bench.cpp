// The whole conversion against what bounds it, on one dump of narrow rows
// (see bench_narrow_dump) and the same rows as COPY text:
//   cat         a read() loop over the dump, after a warm-up read;
//   scan        ora_dump_reader::open without a context file, with the bytes
//               it read from /proc/self/io (rchar, which counts cache hits);
//   conversion  velcagent --mode=0 into the server, as a process, so its
//               time includes the opening and its scan;
//   \copy       psql's \copy of the text file into the table the conversion
//               made, after TRUNCATE: the single-stream ingest limit.
// Each step is the best of --repeat runs. The conversion should reach 0.8 of
// \copy's rows/s (the server, not the converter, should be the bottleneck)
// and the scan should read each byte about once.

#include "velc_bench.h"

#include "ora_dump_file.h"
#include "ora_dump_reader.h"
#include "tk_unicode.h"

#include <unistd.h>

#include <charconv>
#include <cstdio>
#include <fstream>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace {

// The database the row converts into, dropped at the end unless --keep; the
// table is the dump's NARROW as the conversion names it.
const char* const dest_db = "velc_bench_convert";
const char* const dest_table = "narrow";

// rchar and read_bytes of /proc/self/io; -1 where it cannot be read.
struct io_counters {
    long long rchar = -1;
    long long read_bytes = -1;
};

io_counters read_io()
{
    io_counters c;
    std::ifstream in("/proc/self/io");
    std::string key;
    long long value = 0;
    while (in >> key >> value) {
        if (key == "rchar:")
            c.rchar = value;
        else if (key == "read_bytes:")
            c.read_bytes = value;
    }
    return c;
}

long long file_size(const std::string& path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? static_cast<long long>(st.st_size) : -1;
}

std::string fixed(double v, int places)
{
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*f", places, v);
    return buf;
}

// One line of the step table.
struct step {
    explicit step(const char* n) : name(n) {}
    const char* name;
    bench_result result;
    double bytes = 0;
    std::int64_t rows = 0;
    bool ran = false;

    double mbps() const { return result.seconds > 0 ? bytes / 1048576.0 / result.seconds : 0; }
    double rows_per_second() const { return result.seconds > 0 ? static_cast<double>(rows) / result.seconds : 0; }
    bool failed() const { return result.note.rfind("FAILED", 0) == 0; }
};

std::string step_line(const step& s)
{
    char buf[512];
    if (!s.ran || s.failed())
        std::snprintf(buf, sizeof buf, "%-11s %10s %10s %12s  %s", s.name, "-", "-", "-", s.result.note.c_str());
    else
        std::snprintf(buf, sizeof buf, "%-11s %10.3f %10.1f %12.0f  %s", s.name, s.result.seconds, s.mbps(),
                      s.rows_per_second(), s.result.note.c_str());
    return buf;
}

// Keeps the faster of two runs; a failure wins, so that it is seen.
void keep_best(bench_result& best, const bench_result& one, int k)
{
    if (best.note.rfind("FAILED", 0) == 0)
        return;
    if (k == 0 || one.note.rfind("FAILED", 0) == 0 || one.seconds < best.seconds)
        best = one;
}

bench_result scan_once(const bench_dump& d)
{
    bench_result r;
    bench_remove_context(d.path);
    try {
        io_counters before = read_io();
        double start = bench_now();
        std::unique_ptr<ora_dump_file> db = ora_dump_reader::instance()->open(tk_utf8_to_wide(d.path));
        r.seconds = bench_now() - start;
        io_counters after = read_io();
        r.bytes = static_cast<double>(d.size);
        if (!db || db->get_table_names().size() != 1) {
            r.note = "FAILED: the dump did not open with its one table";
        } else if (before.rchar < 0 || after.rchar < 0) {
            r.note = "read amplification unknown (no /proc/self/io)";
        } else {
            double rchar = static_cast<double>(after.rchar - before.rchar);
            r.note = "read amplification " + fixed(rchar / static_cast<double>(d.size), 3) + " (rchar " +
                     fixed(rchar / 1048576.0, 1) + " MB of " + fixed(d.size / 1048576.0, 1) + " MB";
            if (before.read_bytes >= 0 && after.read_bytes >= 0)
                r.note += ", from disk " + fixed((after.read_bytes - before.read_bytes) / 1048576.0, 1) + " MB";
            r.note += ")";
        }
    } catch (const std::exception& e) {
        r.note = std::string("FAILED: ") + e.what();
    }
    bench_remove_context(d.path);
    return r;
}

// The table's row count and a summary of its values, so that the conversion
// and \copy are seen to load the same rows; the count is -1 with the note
// set when the query fails.
struct table_summary {
    std::int64_t rows = -1;
    std::string values;
};

table_summary summarize(const bench_env& env, std::string& note)
{
    table_summary t;
    std::string out;
    bench_result r = bench_run_psql(
        env, dest_db,
        {"-F", " ", "-c",
         std::string("SELECT count(*), sum(id), sum(amount), count(note), sum(length(name)), sum(length(note)), "
                     "min(created), max(created), sum(extract(epoch FROM created)) FROM ") +
             dest_table},
        &out);
    if (!r.note.empty()) {
        note = r.note;
        return t;
    }
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r'))
        out.pop_back();
    long long n = -1;
    auto res = std::from_chars(out.data(), out.data() + out.size(), n);
    if (res.ec != std::errc() || res.ptr == out.data() + out.size() || *res.ptr != ' ') {
        note = "FAILED: cannot count the rows: " + out;
        return t;
    }
    t.rows = n;
    t.values = out;
    return t;
}

bench_result convert_once(const bench_env& env, const bench_dump& d, std::string& values)
{
    // No context file: the conversion's time includes the scan.
    bench_remove_context(d.path);
    bench_result r = bench_run_velcagent(env, d.path, dest_db, {"--mode=0"});
    bench_remove_context(d.path);
    if (!r.note.empty())
        return r;
    table_summary t = summarize(env, r.note);
    values = t.values;
    if (t.rows >= 0 && t.rows != d.rows)
        r.note = "FAILED: " + std::to_string(t.rows) + " rows in " + dest_table + ", not " + std::to_string(d.rows);
    else if (t.rows >= 0)
        r.note = "velcagent --mode=0, " + std::to_string(t.rows) + " rows in " + dest_db + "." + dest_table;
    return r;
}

// values: the summary of the table after the conversion, which the COPY text
// must reproduce.
bench_result copy_once(const bench_env& env, const std::string& copy_file, const std::string& values)
{
    bench_result r = bench_run_psql(env, dest_db, {"-c", std::string("TRUNCATE ") + dest_table});
    if (!r.note.empty())
        return r;
    r = bench_run_psql(env, dest_db, {"-c", std::string("\\copy ") + dest_table + " from '" + copy_file + "'"});
    if (!r.note.empty())
        return r;
    table_summary t = summarize(env, r.note);
    if (t.rows < 0)
        return r;
    if (t.values != values)
        r.note = "FAILED: the COPY text holds other values than the conversion loaded: " + t.values + " against " +
                 values;
    else
        r.note = "psql \\copy of the COPY text (" + fixed(file_size(copy_file) / 1048576.0, 1) +
                 " MB), after TRUNCATE; same values";
    return r;
}

bench_result convert(const bench_env& env)
{
    bench_result row;
    const bench_dump& d = bench_narrow_dump(env);
    if (!d.made) {
        row.note = "FAILED: the dump could not be written";
        return row;
    }
    int repeat = env.repeat > 0 ? env.repeat : 1;
    step cat{"cat"}, scan{"scan"}, conversion{"conversion"}, copy{"\\copy"};
    for (step* s : {&cat, &scan, &conversion})
        s->bytes = static_cast<double>(d.size);
    for (step* s : {&cat, &scan, &conversion, &copy})
        s->rows = d.rows;

    bench_read_file(d.path);  // warms the cache
    for (int k = 0; k < repeat; ++k)
        keep_best(cat.result, bench_read_file(d.path), k);
    if (cat.result.note.empty())
        cat.result.note = "read() loop over the dump, 1 MiB buffer";
    cat.ran = true;

    for (int k = 0; k < repeat; ++k)
        keep_best(scan.result, scan_once(d), k);
    scan.ran = true;

    std::string why;
    if (bench_have_server(env, why)) {
        const std::string& copy_file = bench_narrow_copy_file(env);
        // Alternating the two spreads the server's own drift over both.
        for (int k = 0; k < repeat; ++k) {
            std::string values;
            keep_best(conversion.result, convert_once(env, d, values), k);
            if (conversion.failed())
                break;
            if (copy_file.empty()) {
                copy.result.note = "FAILED: the COPY text could not be written";
                break;
            }
            keep_best(copy.result, copy_once(env, copy_file, values), k);
            if (copy.failed())
                break;
        }
        conversion.ran = true;
        copy.ran = !copy.result.note.empty();
        copy.bytes = static_cast<double>(file_size(copy_file));
        if (!env.keep)
            bench_run_psql(env, "postgres", {"-c", std::string("DROP DATABASE IF EXISTS ") + dest_db});
    } else {
        conversion.result.note = why;
        copy.result.note = why;
    }

    char head[160];
    std::snprintf(head, sizeof head, "%-11s %10s %10s %12s  %lld rows, %.1f MB dump, best of %d", "step", "seconds",
                  "MB/s", "rows/s", static_cast<long long>(d.rows), d.size / 1048576.0, repeat);
    row.details.push_back(head);
    if (!copy.ran && copy.result.note.empty())
        copy.result.note = "not run";
    for (const step* s : {&cat, &scan, &conversion, &copy})
        row.details.push_back(step_line(*s));

    std::vector<std::string> ratios;
    if (!cat.failed() && !scan.failed() && cat.mbps() > 0)
        ratios.push_back("scan/cat (MB/s) " + fixed(scan.mbps() / cat.mbps(), 3));
    bool server_ok = conversion.ran && copy.ran && !conversion.failed() && !copy.failed() &&
                     copy.rows_per_second() > 0;
    double share = server_ok ? conversion.rows_per_second() / copy.rows_per_second() : 0;
    if (server_ok)
        ratios.push_back("conversion/\\copy (rows/s) " + fixed(share, 3) +
                         (share >= 0.8 ? " (goal >= 0.8: met)" : " (goal >= 0.8: missed)"));
    if (!ratios.empty())
        row.details.push_back(ratios.size() == 1 ? ratios[0] : ratios[0] + "; " + ratios[1]);

    // The row's own figures are the conversion's; without a server, the scan's.
    for (const step* s : {&cat, &scan, &conversion, &copy}) {
        if (s->failed()) {
            row.note = std::string("FAILED: ") + s->name + ": " + s->result.note.substr(8);
            return row;
        }
    }
    if (server_ok) {
        row.seconds = conversion.result.seconds;
        row.bytes = conversion.bytes;
        row.note = fixed(conversion.rows_per_second(), 0) + " rows/s, " + fixed(share, 3) + " of \\copy's";
    } else {
        row.seconds = scan.result.seconds;
        row.bytes = scan.bytes;
        row.note = "scan only; conversion " + conversion.result.note;
    }
    return row;
}

}  // namespace

VELC_BENCHMARK_ONCE("convert", "cat, scan, velcagent conversion and psql \\copy of the same narrow rows", convert);
