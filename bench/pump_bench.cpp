// Data Pump: a generated dump of one table of narrow rows (NUMBER, VARCHAR2,
// DATE), streamed to a file by the dump writer so that millions of rows
// never sit in memory. Measured over it: the raw read of the file, the
// opening with its scan (no context file), the decoding of every row
// through the dump table, and the conversion by velcagent into a server
// when the server options are given.
//
// The dump's layout follows a real one: the header, the table's TABLE_T
// document (8-bit, one piece), then a few partitions, each a STRMTABLE_T
// document, zero padding and the row records.

#include "velc_bench.h"

#include "ora_dump_file.h"
#include "ora_dump_pump_scan.h"
#include "ora_dump_reader.h"
#include "ora_dump_stream.h"
#include "ora_dump_writer_pump.h"
#include "tk_unicode.h"

#include <unistd.h>

#include <charconv>
#include <cstdio>
#include <string>
#include <vector>

namespace {

using ora_pump::bytes;

constexpr const char* owner = "BENCH";
constexpr const char* table = "PUMPED";
// Partitions of the table, fewer for tiny dumps: an empty partition would
// put the next document where its first record should be.
constexpr int most_partitions = 3;

struct pump_dump : bench_dump {
    int partitions = 0;
};

const std::vector<ora_pump::column>& columns()
{
    static const std::vector<ora_pump::column> list = {
        {"ID", 2, 22, 10, 0, 0, true},
        {"NAME", 1, 40, {}, {}, 873},
        {"AMOUNT", 2, 22, 12, 2},
        {"CREATED", 12, 7, {}, {}},
        {"NOTE", 1, 100, {}, {}, 873},
    };
    return list;
}

std::string decimal(std::int64_t v)
{
    char text[24];
    auto r = std::to_chars(text, text + sizeof text, v);
    return std::string(text, r.ptr);
}

// Row i of the table, as one record.
bytes make_row(std::int64_t i)
{
    static const std::wstring notes[4] = {L"delivered on time", L"waiting for the second part of the order, call back",
                                          L"", L"paid in cash at the counter; receipt number follows in the next letter"};
    std::vector<bytes> values;
    values.reserve(5);
    values.push_back(ora_pump::value(ora_rows::number(decimal(i + 1))));
    values.push_back(ora_pump::value(ora_rows::text(L"CUSTOMER " + std::to_wstring(i % 100003), 65001)));
    // Cents as a decimal text with two places.
    const std::int64_t cents = (i * 7919) % 100000000;
    std::string amount = decimal(cents / 100);
    amount += '.';
    amount += static_cast<char>('0' + cents % 100 / 10);
    amount += static_cast<char>('0' + cents % 10);
    values.push_back(ora_pump::value(ora_rows::number(amount)));
    values.push_back(ora_pump::value(ora_rows::date(1990 + static_cast<int>(i % 35), 1 + static_cast<int>(i % 12),
                                                    1 + static_cast<int>(i % 28), static_cast<int>(i % 24),
                                                    static_cast<int>(i % 60), static_cast<int>(i % 60))));
    const std::wstring& note = notes[i % 4];
    values.push_back(note.empty() ? ora_pump::null_value() : ora_pump::value(ora_rows::text(note, 65001)));
    return ora_pump::record(values);
}

pump_dump& the_dump(const bench_env& env)
{
    static pump_dump d;
    if (d.made || d.failed)
        return d;
    d.path = env.dir + "/velc_bench_pump_" + std::to_string(::getpid()) + ".dmp";
    bench_add_temp_file(d.path);
    bench_add_temp_file(tk_wide_to_utf8(ora_dump_file::context_file_name(tk_utf8_to_wide(d.path))));
    d.table = tk_utf8_to_wide(table);
    d.rows = env.rows;
    std::fprintf(stderr, "making a Data Pump dump of %lld rows ...\n", static_cast<long long>(d.rows));
    ora_pump::file_writer w(d.path);
    w.document(ora_pump::table_doc(owner, table, columns(), {{"PK_PUMPED", 2, {"ID"}}}));
    d.partitions = d.rows < most_partitions ? static_cast<int>(d.rows) : most_partitions;
    std::int64_t next = 0;
    for (int part = 0; part < d.partitions; ++part) {
        const std::int64_t last = part + 1 == d.partitions ? d.rows : d.rows / d.partitions * (part + 1);
        w.document(ora_pump::strmtable_doc(owner, table, columns()));
        w.zeros(3 + 13 * part);
        for (; next < last; ++next)
            w.raw(make_row(next));
    }
    // The padding at the end of the file.
    w.zeros(4096);
    d.size = w.offset();
    d.failed = !w.close();
    d.made = !d.failed;
    return d;
}

bench_result not_made()
{
    bench_result r;
    r.note = "FAILED: the dump could not be written";
    return r;
}

std::string rate_note(double rows, double seconds, const char* what)
{
    char note[160];
    std::snprintf(note, sizeof note, "%.0f rows/s (%.0f rows)%s", seconds > 0 ? rows / seconds : 0.0, rows, what);
    return note;
}

bench_result raw_read(const bench_env& env) { return bench_dump_read(the_dump(env)); }

// Opening without a context file, so that the scan runs; it must find every
// partition.
bench_result open_scan(const bench_env& env)
{
    const pump_dump& d = the_dump(env);
    bench_result r = bench_dump_open(d, [&](const ora_dump_file& db) -> std::string {
        const std::size_t found = db.tables.begin()->second.v_data_start_pos.size();
        if (found == static_cast<std::size_t>(d.partitions))
            return {};
        return "FAILED: " + std::to_string(found) + " partitions found";
    });
    if (r.note.rfind("FAILED", 0) != 0)
        r.note += ", " + std::to_string(d.partitions) + " partitions";
    return r;
}

// Where the scan's time goes: the scan stops at every '<' byte, and every
// record starts with one (the 0x3C marker). Timed apart: the hops from one
// '<' to the next alone, the hops with the look-ahead read that tells a
// document from row data, and the whole scan (without the opening's header
// checks and context file).
bench_result scan_pieces(const bench_env& env)
{
    const pump_dump& d = the_dump(env);
    if (!d.made)
        return not_made();
    bench_result r;
    try {
        const std::size_t window = env.window ? env.window : ora_dump_stream::default_window;
        std::int64_t hops = 0;
        double start = bench_now();
        {
            auto stream = ora_dump_stream::open_file(d.path, window);
            std::int64_t at = 0;
            while (seek_to_symbols(*stream, "<", 1, at))
                ++hops;
        }
        const double hop_seconds = bench_now() - start;
        start = bench_now();
        {
            auto stream = ora_dump_stream::open_file(d.path, window);
            std::int64_t at = 0;
            std::uint8_t ahead[128];
            while (seek_to_symbols(*stream, "<", 1, at)) {
                stream->read(ahead, sizeof ahead);
                stream->clear();
                seek_to_pos(*stream, at);
            }
        }
        const double probe_seconds = bench_now() - start;
        // What a test of the next bytes before the look-ahead would leave: a
        // document has '?' (8-bit) or a zero and '?' (UTF-16) after its '<'.
        // (A zero alone does not tell: it is the high byte of most records'
        // length.)
        start = bench_now();
        std::int64_t candidates = 0;
        {
            auto stream = ora_dump_stream::open_file(d.path, window);
            std::int64_t at = 0;
            while (seek_to_symbols(*stream, "<", 1, at)) {
                int next = stream->peek();
                if (next == 0) {
                    stream->get();
                    next = stream->peek();
                    seek_to_pos(*stream, at);
                }
                candidates += next == '?';
            }
        }
        const double peek_seconds = bench_now() - start;

        ora_dump_reader* reader = ora_dump_reader::instance();
        reader->reset_dump_state();
        auto stream = ora_dump_stream::open_file(d.path, window);
        reader->info.dump_length = stream->size();
        ora_dump_pump::header header;
        if (!ora_dump_pump::read_header(*reader, *stream, header)) {
            r.note = "FAILED: the header was refused";
            return r;
        }
        ora_dump_file::context ctx;
        ctx.format = 1;
        start = bench_now();
        ora_dump_pump::scan(*reader, *stream, ctx);
        r.seconds = bench_now() - start;
        r.bytes = static_cast<double>(d.size);
        if (!ctx.complete || ctx.tables.size() != 1) {
            r.note = "FAILED: the scan found " + std::to_string(ctx.tables.size()) + " tables";
            return r;
        }
        char note[320];
        std::snprintf(note, sizeof note,
                      "ora_dump_pump::scan; %lld '<' bytes (%.2f a row), %.1f ns each; alone: hops %.3f s, "
                      "hops + look-ahead %.3f s, hops + a '?' test %.3f s (%lld pass it)",
                      static_cast<long long>(hops), static_cast<double>(hops) / static_cast<double>(d.rows),
                      hops ? r.seconds * 1e9 / static_cast<double>(hops) : 0.0, hop_seconds, probe_seconds, peek_seconds,
                      static_cast<long long>(candidates));
        r.note = note;
    } catch (const std::exception& e) {
        r.note = std::string("FAILED: ") + e.what();
    }
    return r;
}

bench_result decode_rows(const bench_env& env) { return bench_dump_rows(the_dump(env)); }

// The conversion as a user runs it first: no context file, so its time
// includes the opening with its scan. The database is dropped afterwards.
bench_result convert(const bench_env& env)
{
    bench_result r;
    if (!bench_have_server(env, r.note))
        return r;
    const pump_dump& d = the_dump(env);
    if (!d.made)
        return not_made();
    bench_remove_context(d.path);
    const std::string db = "velc_bench_pump_" + std::to_string(::getpid());
    r = bench_run_velcagent(env, d.path, db, {"--mode=0"});
    if (r.note.empty()) {
        r.bytes = static_cast<double>(d.size);
        std::string out;
        bench_result counted = bench_run_psql(env, db, {"-c", std::string("SELECT count(*) FROM ") + "pumped"}, &out);
        while (!out.empty() && (out.back() == '\n' || out.back() == '\r'))
            out.pop_back();
        if (!counted.note.empty())
            r.note = counted.note;
        else if (out != std::to_string(d.rows))
            r.note = "FAILED: the table holds " + out + " rows";
        else
            r.note = rate_note(static_cast<double>(d.rows), r.seconds, ", velcagent --mode=0 with its scan");
    }
    bench_run_psql(env, "postgres", {"-c", "DROP DATABASE IF EXISTS " + db});
    bench_remove_context(d.path);
    return r;
}

}  // namespace

VELC_BENCHMARK("pump_raw_read", "read() loop over the Data Pump dump", raw_read);
VELC_BENCHMARK("pump_scan", "opening the Data Pump dump, with its scan", open_scan);
VELC_BENCHMARK("pump_scan_pieces", "the Data Pump scan alone, beside its hops from one '<' to the next",
               scan_pieces);
VELC_BENCHMARK("pump_rows", "every Data Pump row through get_table, reset, get_item, next", decode_rows);
VELC_BENCHMARK("pump_convert", "velcagent --mode=0: the Data Pump dump into the server", convert);
