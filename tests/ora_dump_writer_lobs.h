// Dumps of one table whose rows each carry one large value: a BLOB, a CLOB,
// a LONG RAW or a LONG (classic), a BLOB or a CLOB (Data Pump). The values
// repeat a short pattern whose length is prime, so that no piece of the
// readers or the writers lines up with it; a check on the server rebuilds
// the same value from the pattern (see the *_sql functions). The files are
// streamed: a value of hundreds of megabytes is made once, not kept per row.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace ora_lobs {

using bytes = std::vector<std::uint8_t>;

enum class kind { blob, clob, long_raw, long_text };
enum class format { classic, pump };

// The table's value column: B for bytes, C for text.
const char* value_column(kind k);
bool is_text(kind k);

// The byte pattern, and the text pattern of a kind: the CLOB's holds
// Cyrillic letters and a character beyond the 16-bit plane, the LONG's only
// characters of code page 1252; both hold a tab, a line feed, a carriage
// return and a backslash, which the COPY text escapes.
const bytes& byte_pattern();
const std::wstring& text_pattern(kind k);

// The value of `size` bytes as the dump stores it: size bytes of the
// pattern; for text the characters of the pattern that fit in size bytes
// (UTF-16 for a CLOB, code page 1252 for a LONG).
bytes stored_value(kind k, std::size_t size);

// An SQL expression that gives the value of size stored bytes: bytea for
// BLOB and LONG RAW, text otherwise.
std::string value_sql(kind k, std::size_t size);

// Writes a dump of table `table` (ID NUMBER(10), then the value column) with
// `rows` rows, row i with ID i + 1 and the value of size stored bytes.
// False when the file cannot be written.
bool write_dump(const std::string& path, format f, kind k, const std::string& table, std::size_t size,
                int rows);

}  // namespace ora_lobs
