#include "ora_dump_reader_th_10.h"

#include "tk_logger.h"

void ora_dump_reader_th_10::skip_field_description(ora_dump_stream& stream, udb_schema& schema, std::int64_t end_pos)
{
    TK_TRACE(2, "ora_dump_reader_th_10::skip_field_description");
    read_descriptions(stream, schema, end_pos, true);
}
