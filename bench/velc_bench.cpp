// velc_bench: makes a large classic dump with the test dump writer, then runs
// the table of benchmarks over it (best of a few runs, warm cache) and prints
// one line per benchmark in MB/s.
//
//   velc_bench [--size-mb N] [--rows N] [--dir PATH] [--repeat N] [--window-kb N] [--keep] [--list] [name...]

#include "velc_bench.h"

#include "error_handler.h"
#include "front_end.h"
#include "ora_dump_reader.h"
#include "ora_dump_writer.h"

#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <random>
#include <string>
#include <vector>

namespace {

std::vector<bench_entry>& registry()
{
    static std::vector<bench_entry> list;
    return list;
}

std::vector<std::string>& temp_files()
{
    static std::vector<std::string> list;
    return list;
}

// Failures of the code under measurement are printed; the program goes on
// with the next benchmark.
class bench_front_end : public front_end {
public:
    bool is_console() const override { return true; }
    void write_out(const std::string& text) override { std::cerr << text; }
    void write_err(const std::string& text) override { std::cerr << text; }
    void show_internal_error(const std::wstring&) override { std::cerr << "internal error\n"; }
    void show_error(const std::wstring&) override { std::cerr << "error\n"; }
    continue_answer ask_continue(const std::wstring&) override { return {}; }
    bool error_list_ready() const override { return false; }
    std::size_t error_list_size() const override { return 0; }
    void add_error_text(const std::string&) override {}
    [[noreturn]] void end_program(int exit_code) override { std::exit(exit_code); }
};

// A dump of about size bytes: many tables, each with its statements and a
// row block of random bytes, which hold line feeds at the density of real
// binary row data (one in 256 bytes).
bool make_dump(const std::string& path, std::int64_t size, bench_env& env)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out)
        return false;
    ora_dump_writer head;
    head.header(ora_dump_writer::header_fields{});
    env.body = head.offset() - 1;
    out.write(reinterpret_cast<const char*>(head.data().data()), static_cast<std::streamsize>(head.data().size()));
    std::int64_t written = head.offset();
    std::mt19937_64 rng(20240601);
    std::vector<std::uint8_t> rows;
    int n = 0;
    while (written < size) {
        rows.resize(256 * 1024 + rng() % (1536 * 1024));
        for (std::size_t i = 0; i + 8 <= rows.size(); i += 8) {
            std::uint64_t v = rng();
            std::memcpy(rows.data() + i, &v, 8);
        }
        std::string name = "\"T" + std::to_string(n) + "\"";
        ora_dump_writer w;
        w.line("TABLE " + name);
        w.line("CREATE TABLE " + name +
               " (\"ID\" NUMBER, \"NAME\" VARCHAR2(200), \"DATA\" BLOB)  PCTFREE 10 PCTUSED 40 INITRANS 1 "
               "MAXTRANS 255 TABLESPACE \"USERS\" LOGGING NOCOMPRESS");
        w.line("INSERT INTO " + name + " (\"ID\", \"NAME\", \"DATA\") VALUES (:1, :2, :3)");
        w.block_gen10({{2, 22}, {1, 200, {0xB2, 0x00, 0x01, 0x00}}, {113, 4000}}, rows);
        w.raw("\n");
        w.line("CREATE UNIQUE INDEX \"T" + std::to_string(n) + "_PK\" ON " + name + " (\"ID\" )  PCTFREE 10");
        w.line("ANALSTATS IR " + name);
        w.line("ALTER TABLE " + name + " ADD  CONSTRAINT \"T" + std::to_string(n) + "_PK\" PRIMARY KEY (\"ID\") ENABLE");
        w.line("ANALSTATS TR " + name);
        out.write(reinterpret_cast<const char*>(w.data().data()), static_cast<std::streamsize>(w.data().size()));
        written += w.offset();
        ++n;
    }
    out.write("ENDTABLE\nEXIT\n", 14);
    written += 14;
    env.tables = n;
    env.dump_size = written;
    env.dump_path = path;
    return static_cast<bool>(out.flush());
}

bool parse_int(const char* text, long long& value)
{
    const char* end = text + std::strlen(text);
    auto r = std::from_chars(text, end, value);
    return r.ec == std::errc() && r.ptr == end && value > 0;
}

void usage()
{
    std::cerr << "usage: velc_bench [--size-mb N] [--rows N] [--dir PATH] [--repeat N] [--window-kb N] [--keep] [--list] "
                 "[name...]\n";
}

}  // namespace

void bench_add_temp_file(const std::string& path)
{
    temp_files().push_back(path);
}

bool bench_register(const bench_entry& entry)
{
    registry().push_back(entry);
    return true;
}

double bench_now()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

int main(int argc, char** argv)
{
    long long size_mb = 256, repeat = 3, window_kb = 0, row_count = 3000000;
    const char* tmp = std::getenv("TMPDIR");
    std::string dir = tmp && *tmp ? tmp : "/tmp";
    bool keep = false, list = false;
    std::vector<std::string> wanted;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if ((a == "--size-mb" || a == "--repeat" || a == "--dir" || a == "--window-kb" || a == "--rows") &&
            i + 1 < argc) {
            const char* v = argv[++i];
            if (a == "--dir")
                dir = v;
            else if (!parse_int(v, a == "--size-mb"  ? size_mb
                                   : a == "--repeat" ? repeat
                                   : a == "--rows"   ? row_count
                                                     : window_kb)) {
                usage();
                return 2;
            }
        } else if (a == "--keep") {
            keep = true;
        } else if (a == "--list") {
            list = true;
        } else if (!a.empty() && a[0] == '-') {
            usage();
            return 2;
        } else {
            wanted.push_back(a);
        }
    }
    auto& rows = registry();
    std::sort(rows.begin(), rows.end(),
              [](const bench_entry& a, const bench_entry& b) { return std::strcmp(a.name, b.name) < 0; });
    if (list) {
        for (const auto& r : rows)
            std::printf("%-24s %s\n", r.name, r.description);
        return 0;
    }

    bench_front_end fe;
    error_handler handler(error_handler_code_count, error_handler_codes);
    ora_dump_reader reader;

    bench_env env;
    env.window = static_cast<std::size_t>(window_kb) * 1024;
    env.rows = row_count;
    std::string path = dir + "/velc_bench_" + std::to_string(::getpid()) + ".dmp";
    std::fprintf(stderr, "making a %lld MB dump at %s ...\n", size_mb, path.c_str());
    if (!make_dump(path, static_cast<std::int64_t>(size_mb) << 20, env)) {
        std::fprintf(stderr, "cannot write %s\n", path.c_str());
        return 1;
    }
    std::printf("dump: %.1f MB, %d tables; best of %lld runs, warm cache\n", env.dump_size / 1048576.0, env.tables,
                repeat);
    std::printf("%-24s %10s %10s  %s\n", "benchmark", "MB/s", "seconds", "note");
    int failures = 0;
    for (const auto& r : rows) {
        if (!wanted.empty() && std::find(wanted.begin(), wanted.end(), r.name) == wanted.end())
            continue;
        bench_result best;
        r.run(env);  // warms the cache and the code
        for (long long k = 0; k < repeat; ++k) {
            bench_result one = r.run(env);
            if (!one.note.empty() && one.note.rfind("FAILED", 0) == 0) {
                best = one;
                break;
            }
            if (k == 0 || one.seconds < best.seconds)
                best = one;
        }
        double mbps = best.seconds > 0 ? best.bytes / 1048576.0 / best.seconds : 0;
        std::printf("%-24s %10.1f %10.3f  %s\n", r.name, mbps, best.seconds, best.note.c_str());
        if (best.note.rfind("FAILED", 0) == 0)
            ++failures;
    }
    if (!keep) {
        ::unlink(path.c_str());
        for (const std::string& f : temp_files())
            ::unlink(f.c_str());
    }
    return failures ? 1 : 0;
}
