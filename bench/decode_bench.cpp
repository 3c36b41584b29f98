// Reading rows the way a conversion does: the dump is opened through the
// reader, each table fetched from the dump database and walked with reset,
// get_item and next. Two dumps: one table of many narrow rows (NUMBER,
// VARCHAR2, DATE), whose speed is bound by the value decoders, and one table
// with a BLOB column, bound by the chunk loops. For each the raw read and
// the opening (with its scan) are measured beside the rows.

#include "velc_bench.h"

#include "ora_dump_file.h"
#include "ora_dump_reader.h"
#include "ora_dump_writer_rows.h"
#include "tk_exception.h"
#include "tk_unicode.h"
#include "udb_record.h"
#include "udb_recordset.h"

#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace {

using ora_rows::bytes;
using ora_rows::entry;
using ora_rows::row;

using decode_dump = bench_dump;

decode_dump& lob_dump(const bench_env& env)
{
    static decode_dump d;
    if (d.made || d.failed)
        return d;
    d.path = env.dir + "/velc_bench_lob_" + std::to_string(::getpid()) + ".dmp";
    bench_add_temp_file(d.path);
    bench_add_temp_file(tk_wide_to_utf8(ora_dump_file::context_file_name(tk_utf8_to_wide(d.path))));
    d.table = L"DOCS";
    d.rows = env.rows / 100 > 1000 ? env.rows / 100 : 1000;
    std::fprintf(stderr, "making a dump of %lld rows with a BLOB ...\n", static_cast<long long>(d.rows));
    bytes blob(20000);
    for (std::size_t i = 0; i < blob.size(); ++i)
        blob[i] = static_cast<std::uint8_t>((i * 131) ^ (i >> 7));
    const bytes locator(20, 0x01);
    auto make = [&](std::int64_t i) -> bytes {
        row r;
        // The row holds the LOB's locator; its bytes follow the row.
        r.value(ora_rows::number(std::to_string(i + 1))).value(locator);
        r.gap();
        blob[0] = static_cast<std::uint8_t>(i);
        r.lob_fffc(blob, 8132);
        return r.data();
    };
    std::vector<entry> columns = {entry(2, 22), entry(113, 4000)};
    d.failed = !bench_stream_dump(d.path, "DOCS",
                            "CREATE TABLE \"DOCS\" (\"ID\" NUMBER(10, 0) NOT NULL ENABLE, \"BODY\" BLOB)  PCTFREE 10",
                            "INSERT INTO \"DOCS\" (\"ID\", \"BODY\") VALUES (:1, :2)", columns, d.rows, make, d.size);
    d.made = !d.failed;
    return d;
}

bench_result raw_read_of(const decode_dump& d)
{
    if (!d.made) {
        bench_result r;
        r.note = "FAILED: the dump could not be written";
        return r;
    }
    bench_result r = bench_read_file(d.path);
    if (r.note.empty())
        r.note = "read() loop, 1 MiB buffer";
    return r;
}

// Opening without a context file, so that the table scan runs.
bench_result open_of(const decode_dump& d)
{
    bench_result r;
    if (!d.made) {
        r.note = "FAILED: the dump could not be written";
        return r;
    }
    std::wstring path = tk_utf8_to_wide(d.path);
    std::string ctx = tk_wide_to_utf8(ora_dump_file::context_file_name(path));
    ::unlink(ctx.c_str());
    try {
        double start = bench_now();
        std::unique_ptr<ora_dump_file> db = ora_dump_reader::instance()->open(path);
        r.seconds = bench_now() - start;
        r.bytes = static_cast<double>(d.size);
        if (!db || db->get_table_names().size() != 1)
            r.note = "FAILED: the dump did not open with its one table";
        else
            r.note = "ora_dump_reader::open with its scan";
    } catch (const std::exception& e) {
        r.note = std::string("FAILED: ") + e.what();
    }
    ::unlink(ctx.c_str());
    return r;
}

bench_result rows_of(const decode_dump& d)
{
    bench_result r;
    if (!d.made) {
        r.note = "FAILED: the dump could not be written";
        return r;
    }
    try {
        std::unique_ptr<ora_dump_file> db = ora_dump_reader::instance()->open(tk_utf8_to_wide(d.path));
        if (!db) {
            r.note = "FAILED: the dump did not open";
            return r;
        }
        double start = bench_now();
        std::unique_ptr<udb_recordset> table = db->get_table(d.table, 0);
        std::int64_t count = 0, missing = 0, failed = 0;
        table->reset();
        while (!table->is_eof()) {
            try {
                if (!table->get_item())
                    ++missing;
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
        if (count != d.rows || missing || failed)
            r.note = "FAILED: " + std::to_string(count) + " rows, " + std::to_string(missing) + " missing, " +
                     std::to_string(failed) + " failed";
    } catch (const std::exception& e) {
        r.note = std::string("FAILED: ") + e.what();
    }
    return r;
}

bench_result narrow_raw(const bench_env& env) { return raw_read_of(bench_narrow_dump(env)); }
bench_result narrow_open(const bench_env& env) { return open_of(bench_narrow_dump(env)); }
bench_result narrow_rows(const bench_env& env) { return rows_of(bench_narrow_dump(env)); }
bench_result lob_raw(const bench_env& env) { return raw_read_of(lob_dump(env)); }
bench_result lob_open(const bench_env& env) { return open_of(lob_dump(env)); }
bench_result lob_rows(const bench_env& env) { return rows_of(lob_dump(env)); }

}  // namespace

VELC_BENCHMARK("decode_narrow_raw_read", "read() loop over the narrow-row dump", narrow_raw);
VELC_BENCHMARK("decode_narrow_open", "opening the narrow-row dump, with its scan", narrow_open);
VELC_BENCHMARK("decode_narrow_rows", "every narrow row through get_table, reset, get_item, next", narrow_rows);
VELC_BENCHMARK("decode_lob_raw_read", "read() loop over the BLOB dump", lob_raw);
VELC_BENCHMARK("decode_lob_open", "opening the BLOB dump, with its scan", lob_open);
VELC_BENCHMARK("decode_lob_rows", "every BLOB row through get_table, reset, get_item, next", lob_rows);
