#include "ora_dump_reader_th_7.h"

#include "ora_dump_stream.h"
#include "tk_logger.h"

ora_dump_reader_th_7::ora_dump_reader_th_7()
{
    m_skip_blob_flag = initial_skip_flag();
}

void ora_dump_reader_th_7::skip_field_description(ora_dump_stream& stream, udb_schema& schema, std::int64_t end_pos)
{
    TK_TRACE(2, "ora_dump_reader_th_7::skip_field_description");
    (void)schema;
    m_end_pos = end_pos;
    std::vector<field_entry> entries = read_entries(stream, false, false);
    for (const field_entry& e : entries)
        if (e.code == 871) {
            skip(stream, 16);
            break;
        }
}
