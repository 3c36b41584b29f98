// The row half of the test dump writer: value encoders, field descriptions
// of each export generation, rows with their special lengths, chunked
// values and LOB trailers, and a whole-file function that returns every
// offset it wrote.
//
// The encoders follow the byte layouts of the format directly and share no
// code with the reader's decoders, so that a misreading in one cannot hide
// in the other; tests pin them with literal bytes.
//
// Where the layout leaves a detail open, this writer assumes:
// - the column count, type codes, sizes, LOB count and extra-description
//   count are little-endian 16-bit values, as every row length is;
// - the generation 8 and 9 skip flag is a little-endian 16-bit value;
// - each extra-description item follows its own entry's order, one item per
//   entry;
// - generation 7's 16 bytes (after an entry of code 871) come after all
//   entries.
#pragma once

#include "ora_dump_writer.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace ora_rows {

using bytes = std::vector<std::uint8_t>;

// --- values ---------------------------------------------------------------

// An Oracle NUMBER from decimal text ("-12.5", "1e-130", "0"). Raises
// std::invalid_argument for text that is no number or needs more than 40
// significant digits.
bytes number(const std::string& text);
// DATE: 7 bytes. A negative year is a year before Christ (-1 is 1 BC).
bytes date(int year, int month, int day, int hour = 0, int minute = 0, int second = 0);
// TIMESTAMP of 7 (no fraction), 11 (nanoseconds) or 13 bytes (and two time
// zone bytes).
bytes timestamp(int year, int month, int day, int hour, int minute, int second, std::uint32_t nanoseconds,
                int length = 11, std::uint8_t zone1 = 0x14, std::uint8_t zone2 = 0x3C);
// Text in a code page: 1252 (its Latin-1 part), 1251 (ASCII and the Russian
// letters) or 65001 (UTF-8). Characters a page lacks become '?'.
bytes text(const std::wstring& value, int code_page = 1252);
bytes utf16be(const std::wstring& value);
bytes utf16le(const std::wstring& value);
bytes binary_float(float value);
bytes binary_double(double value);
bytes hex(const std::string& text);  // "C1 02" -> {0xC1, 0x02}

// --- field descriptions -----------------------------------------------------

struct entry {
    entry(std::uint16_t code = 0, std::uint16_t size = 0) : code(code), size(size) {}
    std::uint16_t code = 0;
    std::uint16_t size = 0;
    // Generations 8 and later: the 4 bytes after codes 1 and 96.
    std::uint8_t text_extra[4] = {0xB2, 0x00, 0x01, 0x00};
    // Generations 9 and later, code 112: the character-set id.
    std::uint16_t charset_id = 0;
    // Extra-description item of codes 112 to 114: the column name.
    std::string lob_name;
    // Extra-description item of codes 58 and 121 to 123: three pieces.
    std::string object_pieces[3];
};

bytes description_gen7(const std::vector<entry>& entries);

struct gen8_options {
    int patch = 7;  // of 8.0.patch when minor is 0
    int minor = 1;
    std::uint16_t lob_count = 0;
    std::int16_t skip_flag = 0;  // written unless 8.0.4 to 8.0.6
    // One item per LOB: a length byte k and k + 2 bytes.
    std::vector<bytes> lob_items;
};
bytes description_gen8(const std::vector<entry>& entries, const gen8_options& options);

struct gen9_options {
    std::uint16_t lob_count = 0;
    std::int16_t skip_flag = 0;  // without an extra description only
    // The zero bytes after the extra description.
    std::size_t zero_padding = 2;
    // The extra description's count; -1 writes the number of entries.
    int extra_count = -1;
};
// generation 9, or 10 for 10 to 12 (which also announce the object types
// and BFILE).
bytes description_gen9(const std::vector<entry>& entries, int generation, const gen9_options& options);
// Whether a generation-9+ description with these entries has an extra part.
bool has_extra_description(const std::vector<entry>& entries, int generation);

// --- rows -------------------------------------------------------------------

class row {
public:
    row& value(const bytes& b);          // length and bytes
    row& length(std::uint16_t l);        // a bare length
    row& null();                         // FE FF
    // FD FF and pieces of piece bytes. The last piece is the first whose
    // size differs; when none differs a size 0 ends the value, followed by
    // two bytes only with trailer_after_zero (generation 7 LONG RAW, and
    // LONG in every generation). Two bytes always follow a differing last
    // piece.
    row& chunked(const bytes& b, std::size_t piece, bool trailer_after_zero);
    // Generation 9+ RAW: the first piece with its length, then each further
    // piece as 06 01 00 and a big-endian size.
    row& raw_continued(const std::vector<bytes>& pieces);
    row& gap();                          // 00 00 before the LOB values
    row& lob_empty();                    // chunk type 0
    row& lob_inline(const bytes& b);     // chunk type = its size
    row& lob_fffc(const bytes& b, std::size_t piece, std::uint64_t declared_total);
    row& lob_fffc(const bytes& b, std::size_t piece) { return lob_fffc(b, piece, b.size()); }
    // FFFA, `repeats` further FFFA values, one dropped value, 2 * repeats
    // skipped bytes, then pieces as chunked (a size 0 ends equal pieces).
    row& lob_fffa(const bytes& b, std::size_t piece, std::size_t repeats = 0);
    row& end_zero();                     // the optional 00 00
    row& raw(const bytes& b);
    const bytes& data() const { return out; }

private:
    void u16(std::uint16_t v);
    bytes out;
};

// FF FF
bytes end_marker();

// --- whole files --------------------------------------------------------------

struct block_spec {
    std::string insert_sql;  // the INSERT line, without its line feed
    bytes description;
    std::vector<bytes> rows;
    bool end_marker = true;
};

struct table_spec {
    std::string name;        // TABLE "name"
    std::string create_sql;  // without its line feed
    std::vector<block_spec> blocks;
    std::vector<std::string> after_lines;  // CREATE INDEX, ALTER TABLE, ...
};

struct block_offsets {
    std::int64_t insert = 0;
    std::int64_t description = 0;
    std::vector<std::int64_t> rows;
    std::int64_t end_marker = -1;
    std::int64_t end = 0;  // after the marker
};

struct table_offsets {
    std::int64_t table_line = 0;
    std::int64_t create = 0;
    std::vector<block_offsets> blocks;
    std::vector<std::int64_t> after_lines;
    std::int64_t end = 0;  // the next table's TABLE line, or the file's end
};

struct dump_offsets {
    std::int64_t header = 0;
    std::vector<table_offsets> tables;
    std::int64_t end = 0;
};

// The header, then per table: its TABLE line, CREATE line, blocks (INSERT
// line, description, rows, FF FF and a line feed) and further lines; then
// "EXIT" lines.
dump_offsets write_dump(ora_dump_writer& writer, const ora_dump_writer::header_fields& header,
                        const std::vector<table_spec>& tables);

}  // namespace ora_rows
