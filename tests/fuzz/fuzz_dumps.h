// The small writer dumps the harnesses and their seeds start from.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace fuzz {

using bytes = std::vector<std::uint8_t>;

// The sample dump: a classic export of three tables with keys and indexes.
bytes classic_dump();

// A Data Pump dump of two tables, one with a key and a foreign key to the
// other, a constraint document, a chunked and a UTF-16 document, and rows
// with LOBs.
bytes pump_dump();

// A Data Pump dump laid out as an export writes it: a header that names
// the master table, two tables (rows with LOBs among them), a table known
// only from the master table, and the master table with its row counts
// and documents.
bytes pump_export_dump();

// The time stamp every fixed dump on disk carries, so that the committed
// context seeds stay valid for the dumps the harness writes.
inline constexpr std::int64_t fixed_mtime_s = 1600000000;

// Writes the dump and gives it the fixed time stamp.
void write_fixed_dump(const std::string& path, const bytes& data);

}  // namespace fuzz
