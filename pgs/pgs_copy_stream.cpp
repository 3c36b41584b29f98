#include "pgs_copy_stream.h"

#include "pgs_engine.h"

#include <libpq-fe.h>

// The table writer is deprecated in favour of stream_to, which in this
// library version cannot send finished lines.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#include <pqxx/tablewriter>

namespace {

// What pending may keep after a flush: a line that was longer gives its
// memory back.
constexpr std::size_t kept_capacity = 4 * pgs_copy_stream::flush_size;

}  // namespace

pgs_copy_stream::pgs_copy_stream(pqxx::transaction_base& tx, const std::string& quoted_table)
{
    pgs_engine::get_instance()->note_statement("COPY " + quoted_table + " FROM STDIN");
    // The library starts the COPY and ends it; the data in between goes to
    // libpq directly, since the library copies every piece twice more on
    // its way.
    writer = std::make_unique<pqxx::tablewriter>(tx, quoted_table);
    // The transaction's connection outlives the writer.
    conn = pgs_engine::get_instance()->raw_handle();
    pending.reserve(flush_size + 64 * 1024);
}

pgs_copy_stream::~pgs_copy_stream()
{
    // On a connection that is gone, the library's own end of the COPY asks
    // libpq for the COPY's result and never frees it; taking that result
    // here first leaves the library none to lose.
    if (writer && conn && PQstatus(conn) == CONNECTION_BAD) {
        while (PGresult* result = PQgetResult(conn))
            PQclear(result);
    }
}

void pgs_copy_stream::send(const char* data, std::size_t count)
{
    while (count > 0) {
        const std::size_t n = count < flush_size ? count : flush_size;
        PGconn* conn = pgs_engine::get_instance()->raw_handle();
        if (PQputCopyData(conn, data, static_cast<int>(n)) != 1)
            throw pqxx::failure(PQerrorMessage(conn));
        data += n;
        count -= n;
    }
}

void pgs_copy_stream::flush()
{
    if (pending.empty())
        return;
    send(pending.data(), pending.size());
    pending.clear();
    if (pending.capacity() > kept_capacity) {
        std::string fresh;
        fresh.reserve(flush_size + 64 * 1024);
        pending.swap(fresh);
    }
}

void pgs_copy_stream::send_large_line()
{
    std::size_t sent = 0;
    auto send_piece = [this](std::string& text) {
        send(text.data(), text.size());
        text.clear();
    };
    try {
        for (const pgs_copy_large_value& v : large) {
            send(pending.data() + sent, v.at - sent);
            sent = v.at;
            pgs_write_copy_value(*v.field, flush_size, piece, send_piece);
        }
    } catch (...) {
        large.clear();
        piece.clear();
        throw;
    }
    large.clear();
    pending.erase(0, sent);
    if (piece.capacity() > kept_capacity)
        std::string().swap(piece);
}

void pgs_copy_stream::complete()
{
    flush();
    writer->complete();
}
#pragma GCC diagnostic pop
