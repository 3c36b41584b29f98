// velc_bench: makes a large classic dump with the test dump writer, then runs
// the table of benchmarks over it (best of a few runs, warm cache) and prints
// one line per benchmark in MB/s.
//
//   velc_bench [--size-mb N] [--rows N] [--dir PATH] [--repeat N] [--window-kb N] [--keep] [--list]
//              [--host H] [--port N] [--user U] [--velcagent PATH] [--psql PATH] [name...]
//
// Every option with a value also takes the form --option=value. The rows
// that convert into PostgreSQL need the server options and both programs;
// without them they note "skipped: no server".

#include "velc_bench.h"

#include "error_handler.h"
#include "front_end.h"
#include "ora_dump_reader.h"
#include "ora_dump_file.h"
#include "ora_dump_writer.h"
#include "tk_exception.h"
#include "tk_unicode.h"
#include "udb_record.h"
#include "udb_recordset.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
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
// row block of framed rows (an ID and 200 random bytes of NAME), whose bytes
// hold line feeds at the density of real binary row data (one in 256).
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
        const std::size_t row_count = (256 * 1024 + rng() % (1536 * 1024)) / 206;
        rows.clear();
        for (std::size_t i = 0; i < row_count; ++i) {
            const std::uint8_t id[] = {0x04, 0x00, 0xC3, static_cast<std::uint8_t>(1 + i / 10000 % 100),
                                       static_cast<std::uint8_t>(1 + i / 100 % 100), static_cast<std::uint8_t>(1 + i % 100)};
            rows.insert(rows.end(), std::begin(id), std::end(id));
            rows.push_back(200);
            rows.push_back(0);
            for (int k = 0; k < 25; ++k) {
                std::uint64_t v = rng();
                const std::uint8_t* b = reinterpret_cast<const std::uint8_t*>(&v);
                rows.insert(rows.end(), b, b + 8);
            }
        }
        std::string name = "\"T" + std::to_string(n) + "\"";
        ora_dump_writer w;
        w.line("TABLE " + name);
        w.line("CREATE TABLE " + name +
               " (\"ID\" NUMBER, \"NAME\" VARCHAR2(200), \"DATA\" BLOB)  PCTFREE 10 PCTUSED 40 INITRANS 1 "
               "MAXTRANS 255 TABLESPACE \"USERS\" LOGGING NOCOMPRESS");
        w.line("INSERT INTO " + name + " (\"ID\", \"NAME\") VALUES (:1, :2)");
        w.block_gen10({{2, 22}, {1, 200, {0xB2, 0x00, 0x01, 0x00}}}, rows);
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
    std::cerr << "usage: velc_bench [--size-mb N] [--rows N] [--dir PATH] [--repeat N] [--window-kb N] [--keep]\n"
                 "                  [--list] [--host H] [--port N] [--user U] [--velcagent PATH] [--psql PATH] [name...]\n";
}

std::string temp_dir_name()
{
    const char* tmp = std::getenv("TMPDIR");
    return tmp && *tmp ? tmp : "/tmp";
}

// The last non-empty line of text, for a note.
std::string last_line(const std::string& text)
{
    std::size_t end = text.find_last_not_of("\r\n");
    if (end == std::string::npos)
        return {};
    std::size_t begin = text.rfind('\n', end);
    begin = begin == std::string::npos ? 0 : begin + 1;
    return text.substr(begin, end - begin + 1);
}

std::string slurp(int fd)
{
    std::string text;
    char buf[4096];
    ::lseek(fd, 0, SEEK_SET);
    ssize_t n;
    while ((n = ::read(fd, buf, sizeof buf)) > 0)
        text.append(buf, static_cast<std::size_t>(n));
    return text;
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

namespace {

void put(std::ofstream& out, const ora_rows::bytes& b)
{
    out.write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
}

void put(std::ofstream& out, const std::string& s)
{
    out.write(s.data(), static_cast<std::streamsize>(s.size()));
}

// One row of the narrow table; the dump and the COPY file both come from it.
struct narrow_row {
    std::string id;
    std::string name;
    std::string amount;
    int date[6];
    const char* note;  // null for NULL
};

narrow_row make_narrow_row(std::int64_t i)
{
    static const char* const notes[4] = {"delivered on time", "waiting for the second part of the order, call back",
                                         nullptr,
                                         "paid in cash at the counter; receipt number follows in the next letter"};
    narrow_row r;
    r.id = std::to_string(i + 1);
    static const char* const firms[5] = {"NORTH TRADING", "SOUTHERN SUPPLY CO", "EAST HARBOUR", "WESTERN MILLS LTD",
                                         "CENTRAL STORES"};
    r.name = "CUSTOMER " + std::to_string(i % 100003) + " " + firms[i % 5];
    // Cents to a decimal text with two places.
    std::int64_t cents = (i * 7919) % 100000000;
    r.amount = std::to_string(cents / 100) + "." + std::to_string(100 + cents % 100).substr(1);
    r.date[0] = 1990 + static_cast<int>(i % 35);
    r.date[1] = 1 + static_cast<int>(i % 12);
    r.date[2] = 1 + static_cast<int>(i % 28);
    r.date[3] = static_cast<int>(i % 24);
    r.date[4] = static_cast<int>(i % 60);
    r.date[5] = static_cast<int>((i / 7) % 60);
    r.note = notes[i % 4];
    return r;
}

ora_rows::bytes narrow_row_bytes(std::int64_t i)
{
    narrow_row v = make_narrow_row(i);
    ora_rows::row r;
    r.value(ora_rows::number(v.id));
    r.value(ora_rows::text(tk_utf8_to_wide(v.name)));
    r.value(ora_rows::number(v.amount));
    r.value(ora_rows::date(v.date[0], v.date[1], v.date[2], v.date[3], v.date[4], v.date[5]));
    if (v.note)
        r.value(ora_rows::text(tk_utf8_to_wide(v.note)));
    else
        r.null();
    r.gap();
    return r.data();
}

void append_padded(std::string& out, int value, int width)
{
    char buf[16];
    auto res = std::to_chars(buf, buf + sizeof buf, value);
    for (int n = static_cast<int>(res.ptr - buf); n < width; ++n)
        out += '0';
    out.append(buf, res.ptr);
}

void append_copy_line(std::string& out, std::int64_t i)
{
    narrow_row v = make_narrow_row(i);
    out += v.id;
    out += '\t';
    out += v.name;
    out += '\t';
    out += v.amount;
    out += '\t';
    append_padded(out, v.date[0], 4);
    out += '-';
    append_padded(out, v.date[1], 2);
    out += '-';
    append_padded(out, v.date[2], 2);
    out += ' ';
    append_padded(out, v.date[3], 2);
    out += ':';
    append_padded(out, v.date[4], 2);
    out += ':';
    append_padded(out, v.date[5], 2);
    out += '\t';
    out += v.note ? v.note : "\\N";
    out += '\n';
}

}  // namespace

bool bench_stream_dump(const std::string& path, const std::string& name, const std::string& create_sql,
                       const std::string& insert_sql, const std::vector<ora_rows::entry>& columns,
                       std::int64_t rows, const std::function<ora_rows::bytes(std::int64_t)>& make_row,
                       std::int64_t& size)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out)
        return false;
    ora_dump_writer head;
    head.header(ora_dump_writer::header_fields{});
    head.line("TABLE \"" + name + "\"");
    head.line(create_sql);
    head.line(insert_sql);
    head.raw(ora_rows::description_gen9(columns, 10, {}));
    put(out, head.data());
    // Rows are gathered into batches so that the stream sees large writes.
    std::string batch;
    for (std::int64_t i = 0; i < rows; ++i) {
        ora_rows::bytes b = make_row(i);
        batch.append(reinterpret_cast<const char*>(b.data()), b.size());
        if (batch.size() >= (1u << 20)) {
            put(out, batch);
            batch.clear();
        }
    }
    put(out, batch);
    put(out, ora_rows::end_marker());
    put(out, std::string("\n"));
    put(out, "CREATE UNIQUE INDEX \"" + name + "_PK\" ON \"" + name + "\" (\"ID\" )  PCTFREE 10\n");
    put(out, "ALTER TABLE \"" + name + "\" ADD  CONSTRAINT \"" + name + "_PK\" PRIMARY KEY (\"ID\") ENABLE\n");
    put(out, std::string("EXIT\nEXIT\n"));
    size = static_cast<std::int64_t>(out.tellp());
    return static_cast<bool>(out.flush());
}

namespace {

bench_result not_made()
{
    bench_result r;
    r.note = "FAILED: the dump could not be written";
    return r;
}

}  // namespace

void bench_remove_context(const std::string& dump_path)
{
    const std::string ctx = tk_wide_to_utf8(ora_dump_file::context_file_name(tk_utf8_to_wide(dump_path)));
    ::unlink(ctx.c_str());
}

bench_result bench_dump_read(const bench_dump& d)
{
    if (!d.made)
        return not_made();
    bench_result r = bench_read_file(d.path);
    if (r.note.empty() && r.bytes != static_cast<double>(d.size))
        r.note = "FAILED: short read";
    if (r.note.empty())
        r.note = "read() loop, 1 MiB buffer";
    return r;
}

bench_result bench_dump_open(const bench_dump& d, const std::function<std::string(const ora_dump_file&)>& check)
{
    if (!d.made)
        return not_made();
    bench_result r;
    bench_remove_context(d.path);
    try {
        const double start = bench_now();
        std::unique_ptr<ora_dump_file> db = ora_dump_reader::instance()->open(tk_utf8_to_wide(d.path));
        r.seconds = bench_now() - start;
        r.bytes = static_cast<double>(d.size);
        if (!db || db->get_table_names() != std::vector<std::wstring>{d.table})
            r.note = "FAILED: the dump did not open with its one table";
        else if (check)
            r.note = check(*db);
        if (r.note.empty())
            r.note = "ora_dump_reader::open with its scan";
    } catch (const std::exception& e) {
        r.note = std::string("FAILED: ") + e.what();
    }
    bench_remove_context(d.path);
    return r;
}

bench_result bench_dump_rows(const bench_dump& d)
{
    if (!d.made)
        return not_made();
    bench_result r;
    try {
        std::unique_ptr<ora_dump_file> db = ora_dump_reader::instance()->open(tk_utf8_to_wide(d.path));
        if (!db) {
            r.note = "FAILED: the dump did not open";
            return r;
        }
        const double start = bench_now();
        std::unique_ptr<udb_recordset> table = db->get_table(d.table, 0);
        std::int64_t count = 0, missing = 0, failed = 0, wrong = 0;
        table->reset();
        while (!table->is_eof()) {
            try {
                const udb_record* rec = table->get_item();
                if (!rec)
                    ++missing;
                else if (count % 65536 == 0 && (rec->empty() || (*rec)[0].to_string() != std::to_string(count + 1)))
                    ++wrong;  // the decoder lost its place
            } catch (const tk_exception&) {
                ++failed;
            }
            table->next();
            ++count;
        }
        r.seconds = bench_now() - start;
        r.bytes = static_cast<double>(d.size);
        char note[160];
        std::snprintf(note, sizeof note, "%.0f rows/s (%lld rows)", r.seconds > 0 ? count / r.seconds : 0.0,
                      static_cast<long long>(count));
        r.note = note;
        if (count != d.rows || missing || failed || wrong)
            r.note = "FAILED: " + std::to_string(count) + " rows, " + std::to_string(missing) + " missing, " +
                     std::to_string(failed) + " failed, " + std::to_string(wrong) + " wrong";
    } catch (const std::exception& e) {
        r.note = std::string("FAILED: ") + e.what();
    }
    return r;
}

const bench_dump& bench_narrow_dump(const bench_env& env)
{
    static bench_dump d;
    if (d.made || d.failed)
        return d;
    d.path = env.dir + "/velc_bench_narrow_" + std::to_string(::getpid()) + ".dmp";
    bench_add_temp_file(d.path);
    bench_add_temp_file(tk_wide_to_utf8(ora_dump_file::context_file_name(tk_utf8_to_wide(d.path))));
    d.table = L"NARROW";
    d.rows = env.rows;
    std::fprintf(stderr, "making a dump of %lld narrow rows ...\n", static_cast<long long>(d.rows));
    std::vector<ora_rows::entry> columns = {ora_rows::entry(2, 22), ora_rows::entry(1, 40), ora_rows::entry(2, 22),
                                            ora_rows::entry(12, 7), ora_rows::entry(1, 100)};
    d.failed = !bench_stream_dump(d.path, "NARROW",
                                  "CREATE TABLE \"NARROW\" (\"ID\" NUMBER(10, 0) NOT NULL ENABLE, \"NAME\" "
                                  "VARCHAR2(40), \"AMOUNT\" NUMBER(12, 2), \"CREATED\" DATE, \"NOTE\" "
                                  "VARCHAR2(100))  PCTFREE 10",
                                  "INSERT INTO \"NARROW\" (\"ID\", \"NAME\", \"AMOUNT\", \"CREATED\", \"NOTE\") "
                                  "VALUES (:1, :2, :3, :4, :5)",
                                  columns, d.rows, narrow_row_bytes, d.size);
    d.made = !d.failed;
    return d;
}

const std::string& bench_narrow_copy_file(const bench_env& env)
{
    static std::string path;
    static bool tried = false;
    if (tried)
        return path;
    tried = true;
    std::string name = env.dir + "/velc_bench_narrow_" + std::to_string(::getpid()) + ".copy";
    bench_add_temp_file(name);
    std::fprintf(stderr, "writing the same %lld rows as COPY text ...\n", static_cast<long long>(env.rows));
    std::ofstream out(name, std::ios::binary | std::ios::trunc);
    std::string batch;
    for (std::int64_t i = 0; out && i < env.rows; ++i) {
        append_copy_line(batch, i);
        if (batch.size() >= (1u << 20)) {
            put(out, batch);
            batch.clear();
        }
    }
    put(out, batch);
    if (out.flush())
        path = name;
    return path;
}

bool bench_have_server(const bench_env& env, std::string& note)
{
    if (env.host.empty() && env.port.empty()) {
        note = "skipped: no server";
        return false;
    }
    if (env.velcagent.empty() || ::access(env.velcagent.c_str(), X_OK) != 0) {
        note = "skipped: no server (velcagent not given or not runnable: --velcagent)";
        return false;
    }
    if (env.psql.empty() || ::access(env.psql.c_str(), X_OK) != 0) {
        note = "skipped: no server (psql not given or not runnable: --psql)";
        return false;
    }
    return true;
}

extern "C" char** environ;

bench_result bench_run_process(const std::vector<std::string>& argv, std::string* output)
{
    bench_result r;
    if (argv.empty()) {
        r.note = "FAILED: no program";
        return r;
    }
    std::string out_name = temp_dir_name() + "/velc_bench_out_XXXXXX";
    int out_fd = ::mkstemp(out_name.data());
    if (out_fd < 0) {
        r.note = "FAILED: cannot make a file for the output";
        return r;
    }
    ::unlink(out_name.c_str());
    std::vector<char*> args;
    for (const std::string& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out_fd, 1);
    posix_spawn_file_actions_adddup2(&actions, out_fd, 2);
    pid_t pid = 0;
    double start = bench_now();
    int rc = ::posix_spawn(&pid, argv[0].c_str(), &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        ::close(out_fd);
        r.note = "FAILED: cannot run " + argv[0] + ": " + std::strerror(rc);
        return r;
    }
    int status = 0;
    struct rusage usage {};
    while (::wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) {
    }
    r.seconds = bench_now() - start;
    r.peak_rss_kb = usage.ru_maxrss;
    std::string text = slurp(out_fd);
    ::close(out_fd);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::string how = WIFEXITED(status) ? "exit status " + std::to_string(WEXITSTATUS(status))
                                            : "signal " + std::to_string(WIFSIGNALED(status) ? WTERMSIG(status) : 0);
        std::size_t slash = argv[0].rfind('/');
        r.note = "FAILED: " + argv[0].substr(slash == std::string::npos ? 0 : slash + 1) + " ended with " + how;
        std::string line = last_line(text);
        if (!line.empty())
            r.note += ": " + line;
    }
    if (output)
        *output = std::move(text);
    return r;
}

bench_result bench_run_velcagent(const bench_env& env, const std::string& dump_path, const std::string& dest_db,
                                 const std::vector<std::string>& more_args)
{
    std::vector<std::string> argv = {env.velcagent, "--src=" + dump_path, "--dest=" + dest_db};
    if (!env.host.empty())
        argv.push_back("--host=" + env.host);
    if (!env.port.empty())
        argv.push_back("--port=" + env.port);
    if (!env.user.empty())
        argv.push_back("--user=" + env.user);
    argv.insert(argv.end(), more_args.begin(), more_args.end());
    return bench_run_process(argv);
}

bench_result bench_run_psql(const bench_env& env, const std::string& db, const std::vector<std::string>& args,
                            std::string* output)
{
    std::vector<std::string> argv = {env.psql, "-X", "-At", "-v", "ON_ERROR_STOP=1"};
    if (!env.host.empty())
        argv.insert(argv.end(), {"-h", env.host});
    if (!env.port.empty())
        argv.insert(argv.end(), {"-p", env.port});
    if (!env.user.empty())
        argv.insert(argv.end(), {"-U", env.user});
    argv.insert(argv.end(), {"-d", db});
    argv.insert(argv.end(), args.begin(), args.end());
    return bench_run_process(argv, output);
}

double bench_now()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

int main(int argc, char** argv)
{
    long long size_mb = 256, repeat = 3, window_kb = 0, row_count = 3000000;
    std::string dir = temp_dir_name();
    bench_env env;
    bool keep = false, list = false;
    std::vector<std::string> wanted;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        std::string value;
        bool has_value = false;
        std::size_t eq = a.find('=');
        if (a.rfind("--", 0) == 0 && eq != std::string::npos) {
            value = a.substr(eq + 1);
            a.resize(eq);
            has_value = true;
        }
        static const char* const numbers[] = {"--size-mb", "--repeat", "--window-kb", "--rows"};
        static const char* const texts[] = {"--dir", "--host", "--port", "--user", "--velcagent", "--psql"};
        bool is_number = std::find_if(std::begin(numbers), std::end(numbers), [&](const char* n) { return a == n; }) !=
                         std::end(numbers);
        bool is_text = std::find_if(std::begin(texts), std::end(texts), [&](const char* n) { return a == n; }) !=
                       std::end(texts);
        if (is_number || is_text) {
            if (!has_value) {
                if (i + 1 >= argc) {
                    usage();
                    return 2;
                }
                value = argv[++i];
            }
            if (is_number) {
                if (!parse_int(value.c_str(), a == "--size-mb"  ? size_mb
                                              : a == "--repeat" ? repeat
                                              : a == "--rows"   ? row_count
                                                                : window_kb)) {
                    usage();
                    return 2;
                }
            } else {
                (a == "--dir"         ? dir
                 : a == "--host"      ? env.host
                 : a == "--port"      ? env.port
                 : a == "--user"      ? env.user
                 : a == "--velcagent" ? env.velcagent
                                      : env.psql) = value;
            }
        } else if (a == "--keep" && !has_value) {
            keep = true;
        } else if (a == "--list" && !has_value) {
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

    env.dir = dir;
    env.repeat = static_cast<int>(repeat);
    env.keep = keep;
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
        if (r.once)
            best = r.run(env);
        else
            r.run(env);  // warms the cache and the code
        for (long long k = 0; !r.once && k < repeat; ++k) {
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
        for (const std::string& line : best.details)
            std::printf("    %s\n", line.c_str());
        std::fflush(stdout);
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
