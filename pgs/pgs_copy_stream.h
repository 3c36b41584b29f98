// One COPY ... FROM STDIN of finished text lines. The only place that knows
// the library's COPY writer, so a later library can replace it here alone.
#pragma once

#include "pgs_values.h"

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

struct pg_conn;

namespace pqxx {
class tablewriter;
class transaction_base;
}  // namespace pqxx

class pgs_copy_stream {
public:
    // Starts the COPY on the quoted, schema-qualified table (UTF-8).
    pgs_copy_stream(pqxx::transaction_base& tx, const std::string& quoted_table);
    ~pgs_copy_stream();
    pgs_copy_stream(const pgs_copy_stream&) = delete;
    pgs_copy_stream& operator=(const pgs_copy_stream&) = delete;

    // The pending text: whole lines, each ended by a line feed. A writer
    // appends a line here and then calls line_done; a failed line is cut
    // off again by the writer, and its large values dropped.
    std::string& buffer() { return pending; }
    // The large values of the line being written (see pgs_append_copy_field).
    std::vector<pgs_copy_large_value>& large_values() { return large; }
    // Sends a line with large values at once, their text in pieces, and
    // other lines once they are many.
    void line_done()
    {
        if (!large.empty())
            send_large_line();
        if (pending.size() >= flush_size)
            flush();
    }
    // Sends what is pending and ends the COPY; the server's verdict on the
    // data comes here.
    void complete();

    // The data goes to libpq in pieces of about this size, which its output
    // buffer takes without growing much beyond it; pieces below the
    // allocator's mmap threshold (128 KiB) stay in warm heap memory instead
    // of mapping fresh pages for every one.
    static constexpr std::size_t flush_size = 64 * 1024;

private:
    void flush();
    void send_large_line();
    // Hands bytes to libpq, which sends them once its buffer is full.
    void send(const char* data, std::size_t count);

    std::unique_ptr<pqxx::tablewriter> writer;
    // libpq's connection under the writer's transaction.
    pg_conn* conn = nullptr;
    std::string pending;
    std::vector<pgs_copy_large_value> large;
    std::string piece;
};
