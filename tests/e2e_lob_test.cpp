// Large values end to end: a value several times larger than the dump
// stream's window and the COPY stream's pieces comes out on the server byte
// for byte, in both dump formats, as BLOB and as CLOB, and in a classic dump
// as LONG RAW and as LONG.
#include "e2e_support.h"
#include "ora_dump_writer_lobs.h"

#include <string>
#include <vector>

namespace {

using e2e::e2e_test;
using ora_lobs::format;
using strings = std::vector<std::string>;
using ora_lobs::kind;

class E2eLob : public e2e_test {};

TEST_F(E2eLob, ValuesLargerThanTheBuffersArriveWhole)
{
    // Odd sizes, so that no chunk or piece boundary falls on the value's end.
    struct lob_case {
        const char* label;
        format f;
        kind k;
        std::size_t size;
    };
    const lob_case cases[] = {
        {"classic BLOB", format::classic, kind::blob, (3u << 20) + 17},
        {"classic CLOB", format::classic, kind::clob, (3u << 20) + 250},
        {"classic LONG RAW", format::classic, kind::long_raw, (3u << 20) + 9},
        {"classic LONG", format::classic, kind::long_text, (3u << 20) + 31},
        // Pieces of one size to the end: a zero size ends the value.
        {"classic LONG RAW of whole pieces", format::classic, kind::long_raw, 8000u * 3},
        {"classic LONG of whole pieces", format::classic, kind::long_text, 8000u * 3},
        {"classic short LONG", format::classic, kind::long_text, 10},
        {"Data Pump BLOB", format::pump, kind::blob, (3u << 20) + 5},
        {"Data Pump CLOB", format::pump, kind::clob, (3u << 20) + 122},
    };
    int n = 0;
    for (const lob_case& c : cases) {
        SCOPED_TRACE(c.label);
        const std::string table = "LOBS" + std::to_string(++n);
        const std::string src = work.file(table + ".dmp");
        const int rows = 2;
        ASSERT_TRUE(ora_lobs::write_dump(src, c.f, c.k, table, c.size, rows));
        const e2e::result r = run(args(src, {"--mode=1"}));
        ASSERT_EQ(r.status, 0) << e2e::describe(r);
        EXPECT_EQ(r.err, "");
        const std::string column = ora_lobs::value_column(c.k);
        const std::string lower = "lobs" + std::to_string(n);
        const std::string want = query("SELECT md5(" + ora_lobs::value_sql(c.k, c.size) + ")");
        strings expected;
        for (int i = 1; i <= rows; ++i)
            expected.push_back(std::to_string(i) + "|" + want);
        EXPECT_EQ(this->rows("SELECT id, md5(" + column + ") FROM " + lower + " ORDER BY id"), expected);
        // The length too, so that a difference shows as more than a checksum.
        const std::string length = ora_lobs::is_text(c.k) ? "length" : "octet_length";
        EXPECT_EQ(query("SELECT min(" + length + "(" + column + ")) || ' ' || max(" + length + "(" + column +
                        ")) FROM " + lower),
                  query("SELECT " + length + "(" + ora_lobs::value_sql(c.k, c.size) + ") || ' ' || " + length +
                        "(" + ora_lobs::value_sql(c.k, c.size) + ")"));
    }
}

}  // namespace
