// The Data Pump layouts of values that stand outside the in-row values: a
// LOB value in its chunks, and an SDO_GEOMETRY behind its headers.
#include "ora_dump_reader_th.h"

#include "ora_dump_stream.h"
#include "tk_format.h"
#include "tk_logger.h"

#include <vector>

namespace {

[[noreturn]] void raise_unexpected(std::int64_t position)
{
    throw tk_exception(tk_format(ora_th_messages::unexpected_data, position), 0);
}

}  // namespace

void ora_dump_reader_th::get_pump_lob_value(ole_variant& value, ora_dump_stream& stream, unsigned charset_id,
                                            bool& lob_record)
{
    TK_TRACE(1, "ora_dump_reader_th::get_pump_lob_value");
    lob_record = false;
    std::vector<std::uint8_t> bytes;
    bool first = true;
    for (;;) {
        const std::int64_t start = stream.tell();
        if (!first) {
            if (limit(stream) - stream.tell() < 2)
                break;
            const std::uint8_t* p = take(stream, 2);
            const std::uint8_t kind = p[0];
            if (kind == 8 || kind == 9 || kind == 12) {
                stream.seek(start);
                lob_record = true;
                break;
            }
            if (kind != 3 && kind != 6) {
                stream.seek(start);
                break;
            }
        }
        const std::uint8_t h = read_u8(stream);
        std::size_t size;
        bool only = false;
        if (h == 0xFE) {
            size = read_u16be(stream);
        } else if (!first) {
            stream.seek(start);
            break;
        } else if (h == 0xFF) {
            value.clear();
            return;
        } else {
            size = h;
            only = true;
        }
        append(stream, bytes, size);
        if (only)
            break;
        first = false;
    }
    if (charset_id == 0)
        value.attach_binary(std::move(bytes));
    else
        value = charset_text(bytes.data(), bytes.size(), charset_id, utf16_order::big_endian);
}

void ora_dump_reader_th::get_sdo_geometry_value(ole_variant& value, ora_dump_stream& stream, std::uint16_t& length)
{
    TK_TRACE(1, "ora_dump_reader_th::get_sdo_geometry_value");
    const std::int64_t start = stream.tell();
    for (;;) {
        const std::uint8_t* h = take(stream, 3);
        const std::uint8_t h0 = h[0], h1 = h[1], h2 = h[2];
        TK_TRACE(1, "header[0]=%02X, header[1]=%02X, header[2]=%02X", h0, h1, h2);
        if (h1 != 1)
            raise_unexpected(start);
        if ((h0 == 0 || h0 == 4) && h2 == 0xFF)
            continue;  // each skipped header consumes its 3 bytes
        if (h2 != 0xFE)
            raise_unexpected(start);
        break;
    }
    length = read_u16be(stream);
    TK_TRACE(1, "SDO_GEOMETRY BLOB SIZE=%d", length);
    std::vector<std::uint8_t> bytes;
    append(stream, bytes, length);
    value.attach_binary(std::move(bytes));
}
