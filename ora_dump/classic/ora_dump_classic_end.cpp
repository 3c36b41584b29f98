// The end of a classic export: exp closes every export with two EXIT lines,
// after which a file holds only the NUL bytes that fill its last block. A
// dump without them, or shorter than the length its header declares, ends
// before the export's end: it was cut short, or it is the first file of an
// export written to several.

#include "ora_dump_reader.h"

#include "ora_dump_stream.h"
#include "table_pos.h"
#include "tk_exception.h"
#include "tk_logger.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

constexpr char closing[] = "\nEXIT\nEXIT\n";
constexpr std::size_t closing_size = sizeof closing - 1;

// The position after the last byte before end that is not NUL; 0 when
// there is none. Reads backwards in pieces, so that a long fill costs no
// memory.
std::int64_t end_of_content(ora_dump_stream& stream, std::int64_t end)
{
    std::vector<std::uint8_t> piece(std::size_t(1) << 16);
    while (end > 0) {
        const std::int64_t from = std::max<std::int64_t>(0, end - static_cast<std::int64_t>(piece.size()));
        const std::size_t count = static_cast<std::size_t>(end - from);
        stream.clear();
        if (!stream.seek(from) || stream.read(piece.data(), count) != count)
            return end;  // unreadable: taken as content, never as the closing lines
        for (std::size_t i = count; i > 0; --i)
            if (piece[i - 1] != 0)
                return from + static_cast<std::int64_t>(i);
        end = from;
    }
    return 0;
}

bool ends_with_closing(ora_dump_stream& stream, std::int64_t content_end)
{
    if (content_end < static_cast<std::int64_t>(closing_size))
        return false;
    char tail[closing_size] = {};
    stream.clear();
    if (!stream.seek(content_end - static_cast<std::int64_t>(closing_size)) ||
        stream.read(tail, closing_size) != closing_size)
        return false;
    return std::memcmp(tail, closing, closing_size) == 0;
}

// Where the last statement the scan recorded for the table starts or ends.
std::int64_t last_statement(const table_pos& t)
{
    std::int64_t at = t.start_pos;
    for (std::int64_t p : t.v_data_start_pos)
        at = std::max(at, p);
    for (const table_pos::index_record& i : t.index_records)
        at = std::max({at, i.start, i.end});
    for (const auto& [start, end] : t.alters)
        at = std::max({at, start, end});
    return at;
}

// Where the last line that closes the table sections (ENDTABLE, or an EXIT
// line) starts at or after from and ends by end: the position of the line
// feed before it, or -1. One pass over the bytes, however many tables ask.
std::int64_t last_closing_line(ora_dump_stream& stream, std::int64_t from, std::int64_t end)
{
    std::int64_t last = -1;
    for (const char* line : {"\nENDTABLE\n", "\nEXIT\n"}) {
        const auto size = static_cast<std::int64_t>(std::strlen(line));
        stream.clear();
        if (!stream.seek(std::max<std::int64_t>(0, from)))
            continue;
        try {
            std::int64_t found = 0;
            // found stands after the line, which must lie inside the dump.
            while (seek_to_symbols(stream, line, found) && found <= end) {
                last = std::max(last, found - size);
                // The line feed that ends this line may start the next one.
                seek_to_pos(stream, found - 1);
            }
        } catch (const tk_exception&) {
            // Unreadable: what was found before stands.
        }
    }
    return last;
}

}  // namespace

bool ora_dump_reader::classic_ends_early(ora_dump_stream& stream, const ora_table_map& tables,
                                         std::int64_t declared_length, std::size_t& whole)
{
    TK_TRACE(2, "ora_dump_reader::classic_ends_early");
    whole = 0;
    const std::int64_t end = std::min(info.dump_length, stream.size());
    bool early = declared_length > stream.size();
    if (!early)
        early = !ends_with_closing(stream, end_of_content(stream, end));
    if (early) {
        // A section that a later table's line ends is whole; the last one
        // only when a closing line follows what it holds. The line feed that
        // ends a statement may start the closing line.
        std::int64_t from = -1;
        for (const auto& [key, t] : tables)
            if (!(t.end_pos > 0 && t.end_pos < end))
                from = from < 0 ? last_statement(t) : std::min(from, last_statement(t));
        const std::int64_t closing_line = from < 0 ? -1 : last_closing_line(stream, from - 1, end);
        for (const auto& [key, t] : tables) {
            if ((t.end_pos > 0 && t.end_pos < end) || (closing_line >= 0 && closing_line >= last_statement(t) - 1))
                ++whole;
            else
                TK_TRACE(3, "Table '%s' may be cut: nothing after it ends its section", key);
        }
    }
    stream.clear();
    return early;
}
