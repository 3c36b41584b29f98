// The table positions of a dump the writer made, as the scan would record
// them, so that table tests need no scan.
#pragma once

#include "ora_dump_writer_rows.h"
#include "table_pos.h"

namespace ora_rows {

// start_pos at the CREATE TABLE line, end_pos at the next table's TABLE line
// (or the EXIT lines), one data start per INSERT line. Index and ALTER
// places are the caller's to add from after_lines.
inline table_pos table_position(const table_offsets& table, std::int32_t record_base = 0)
{
    table_pos pos;
    pos.start_pos = table.create;
    pos.end_pos = table.end;
    for (const block_offsets& b : table.blocks)
        pos.v_data_start_pos.push_back(b.insert);
    pos.record_base = record_base;
    return pos;
}

}  // namespace ora_rows
