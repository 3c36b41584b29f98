// Reading rows the way a conversion does: the dump is opened through the
// reader, each table fetched from the dump database and walked with reset,
// get_item and next. Two dumps: one table of many narrow rows (NUMBER,
// VARCHAR2, DATE), whose speed is bound by the value decoders, and one table
// with a BLOB column, bound by the chunk loops. For each the raw read and
// the opening (with its scan) are measured beside the rows.

#include "velc_bench.h"

#include "ora_dump_file.h"
#include "ora_dump_writer_rows.h"
#include "tk_unicode.h"

#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

using ora_rows::bytes;
using ora_rows::entry;
using ora_rows::row;

bench_dump& lob_dump(const bench_env& env)
{
    static bench_dump d;
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

bench_result narrow_raw(const bench_env& env) { return bench_dump_read(bench_narrow_dump(env)); }
bench_result narrow_open(const bench_env& env) { return bench_dump_open(bench_narrow_dump(env)); }
bench_result narrow_rows(const bench_env& env) { return bench_dump_rows(bench_narrow_dump(env)); }
bench_result lob_raw(const bench_env& env) { return bench_dump_read(lob_dump(env)); }
bench_result lob_open(const bench_env& env) { return bench_dump_open(lob_dump(env)); }
bench_result lob_rows(const bench_env& env) { return bench_dump_rows(lob_dump(env)); }

}  // namespace

VELC_BENCHMARK("decode_narrow_raw_read", "read() loop over the narrow-row dump", narrow_raw);
VELC_BENCHMARK("decode_narrow_open", "opening the narrow-row dump, with its scan", narrow_open);
VELC_BENCHMARK("decode_narrow_rows", "every narrow row through get_table, reset, get_item, next", narrow_rows);
VELC_BENCHMARK("decode_lob_raw_read", "read() loop over the BLOB dump", lob_raw);
VELC_BENCHMARK("decode_lob_open", "opening the BLOB dump, with its scan", lob_open);
VELC_BENCHMARK("decode_lob_rows", "every BLOB row through get_table, reset, get_item, next", lob_rows);
