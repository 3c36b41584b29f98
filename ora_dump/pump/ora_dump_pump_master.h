// The export's master table: the table in which a Data Pump export keeps
// the state of its job, one row per exported object, and which it writes
// last into the dump. The header names it; its rows tell how many rows the
// export wrote of each table.
#pragma once

#include "ora_dump_reader.h"

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>

class ora_dump_pump_reader_th;
class ora_dump_stream;
class udb_schema;

namespace ora_dump_pump {

// The job's name as the header gives it, "OWNER"."NAME" from offset 67 up
// to a zero byte: the owner and name of the master table. False when the
// bytes hold no such name.
bool master_table_name(const std::uint8_t* header, std::size_t size, const dump_info& info, std::wstring& owner,
                       std::wstring& name);

// What reading the master table's rows found.
struct master_rows {
    // Per table (owner, a point and the name): the rows the export wrote,
    // the COMPLETED_ROWS of the table's TABLE_DATA rows. A table split
    // into partitions or subpartitions has a row for each: the finest
    // level present counts. A table with a row whose count is not a whole
    // number is left out.
    std::map<std::wstring, std::int64_t> completed_rows;
    // Where the rows ended, and whether the last one runs past the end of
    // the data.
    std::int64_t rows_end = -1;
    bool ran_off = false;
};

// Reads the master table's rows from the first one, with the columns of
// its stream document, and leaves the stream where it found it. Rows that
// do not decode are passed over; never raises but for a stop.
master_rows read_master_rows(ora_dump_pump_reader_th& decoder, ora_dump_stream& stream, const udb_schema& schema,
                             std::int64_t first_row);

}  // namespace ora_dump_pump
