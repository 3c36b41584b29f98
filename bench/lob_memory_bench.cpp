// The memory a large value costs: velcagent converts dumps of two rows, each
// with one value of 16, 64 and 256 MB (a BLOB or a CLOB, in a classic and in
// a Data Pump dump; a LONG RAW or a LONG in a classic dump), and its peak
// resident memory is set beside the value's size. Each converted table is
// checked on the server against the value rebuilt there. The sizes can be
// narrowed with VELC_BENCH_LOB_MB (e.g. "16,64"), the cases with
// VELC_BENCH_LOB_ONLY (the rows whose label holds that text, e.g. "LONG").

#include "velc_bench.h"

#include "ora_dump_file.h"
#include "ora_dump_writer_lobs.h"
#include "tk_unicode.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

using ora_lobs::format;
using ora_lobs::kind;

// Two rows, so that a value kept from the row before would show.
int rows_of(kind)
{
    return 2;
}

struct lob_case {
    const char* label;
    format f;
    kind k;
};

const lob_case cases[] = {
    {"classic BLOB", format::classic, kind::blob},     {"classic CLOB", format::classic, kind::clob},
    {"Data Pump BLOB", format::pump, kind::blob},      {"Data Pump CLOB", format::pump, kind::clob},
    {"classic LONG RAW", format::classic, kind::long_raw}, {"classic LONG", format::classic, kind::long_text},
};

std::vector<long> sizes_mb()
{
    std::vector<long> out;
    const char* given = std::getenv("VELC_BENCH_LOB_MB");
    std::string text = given && *given ? given : "16,64,256";
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t comma = text.find(',', at);
        if (comma == std::string::npos)
            comma = text.size();
        const long mb = std::atol(text.substr(at, comma - at).c_str());
        if (mb > 0)
            out.push_back(mb);
        at = comma + 1;
    }
    return out;
}

std::string trimmed(std::string s)
{
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r'))
        s.pop_back();
    return s;
}

// Writes the dump in a child process: the value it builds must not raise
// this process's peak memory, which a program it starts inherits as its own
// starting figure.
bool write_apart(const std::string& path, const lob_case& c, std::size_t size)
{
    const pid_t pid = ::fork();
    if (pid < 0)
        return false;
    if (pid == 0)
        ::_exit(ora_lobs::write_dump(path, c.f, c.k, "LOBS", size, rows_of(c.k)) ? 0 : 1);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

bench_result lob_memory(const bench_env& env)
{
    bench_result total;
    if (!bench_have_server(env, total.note))
        return total;
    // A database of this run's own, so that two runs side by side do not
    // replace each other's.
    const std::string dest_db = "velc_bench_lobs_" + std::to_string(::getpid());
    bench_run_psql(env, "postgres", {"-c", std::string("DROP DATABASE IF EXISTS ") + dest_db});
    bool failed = false;
    for (long mb : sizes_mb()) {
        const std::size_t size = static_cast<std::size_t>(mb) << 20;
        for (const lob_case& c : cases) {
            const char* only = std::getenv("VELC_BENCH_LOB_ONLY");
            if (only && *only && std::string(c.label).find(only) == std::string::npos)
                continue;
            const std::string path = env.dir + "/velc_bench_lobs_" + std::to_string(::getpid()) + ".dmp";
            const std::string context = tk_wide_to_utf8(ora_dump_file::context_file_name(tk_utf8_to_wide(path)));
            if (!write_apart(path, c, size)) {
                total.note = "FAILED: the dump could not be written";
                ::unlink(path.c_str());
                return total;
            }
            bench_result r = bench_run_velcagent(env, path, dest_db, {"--mode=0"});
            ::unlink(path.c_str());
            ::unlink(context.c_str());
            std::string line = std::string(c.label) + ", " + std::to_string(mb) + " MB: ";
            if (!r.note.empty()) {
                failed = true;
                total.details.push_back(line + r.note);
                continue;
            }
            std::string check;
            const std::string column = ora_lobs::value_column(c.k);
            bench_run_psql(env, dest_db,
                           {"-c", "SELECT count(*) || ' ' || bool_and(" + column + " = " +
                                      ora_lobs::value_sql(c.k, size) +
                                      ") FROM lobs"},
                           &check);
            check = trimmed(check);
            const std::string want = std::to_string(rows_of(c.k)) + " true";
            const double peak_mb = static_cast<double>(r.peak_rss_kb) / 1024.0;
            char figures[160];
            std::snprintf(figures, sizeof figures, "peak %.1f MB (%.2f times the value), %.2f s", peak_mb,
                          peak_mb / static_cast<double>(mb), r.seconds);
            line += figures;
            if (check != want) {
                failed = true;
                line += "; FAILED: the rows on the server: " + check;
            }
            total.details.push_back(line);
            total.bytes += static_cast<double>(size) * rows_of(c.k);
            total.seconds += r.seconds;
        }
    }
    if (!env.keep)
        bench_run_psql(env, "postgres", {"-c", std::string("DROP DATABASE IF EXISTS ") + dest_db});
    total.note = failed ? "FAILED: see the lines below" : "velcagent --mode=0, peak resident memory per dump";
    return total;
}

}  // namespace

VELC_BENCHMARK_ONCE("lob_memory", "peak memory of velcagent for rows with 16, 64 and 256 MB values", lob_memory);
