#include "pgs_copy_stream.h"

#include "pgs_engine.h"

// The table writer is deprecated in favour of stream_to, which in this
// library version cannot send finished lines.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#include <pqxx/tablewriter>

pgs_copy_stream::pgs_copy_stream(pqxx::transaction_base& tx, const std::string& quoted_table)
{
    pgs_engine::get_instance()->note_statement("COPY " + quoted_table + " FROM STDIN");
    writer = std::make_unique<pqxx::tablewriter>(tx, quoted_table);
    pending.reserve(flush_size + 64 * 1024);
}

pgs_copy_stream::~pgs_copy_stream() = default;

void pgs_copy_stream::flush()
{
    if (pending.empty())
        return;
    // Many lines go as one piece of the stream: the writer ends the text
    // with exactly one line feed, which the last line already has.
    writer->write_raw_line(pending);
    pending.clear();
}

void pgs_copy_stream::complete()
{
    flush();
    writer->complete();
}
#pragma GCC diagnostic pop
