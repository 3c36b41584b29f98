#include "ora_dump_reader_th_9.h"

#include "ora_dump_stream.h"
#include "t_orcale_ftd.h"
#include "tk_format.h"
#include "tk_logger.h"
#include "udb_schema.h"

void ora_dump_reader_th_9::skip_field_description(ora_dump_stream& stream, udb_schema& schema, std::int64_t end_pos)
{
    TK_TRACE(2, "ora_dump_reader_th_9::skip_field_description");
    read_descriptions(stream, schema, end_pos, false);
}

void ora_dump_reader_th_9::read_descriptions(ora_dump_stream& stream, udb_schema& schema, std::int64_t end_pos,
                                             bool refine)
{
    m_end_pos = end_pos;
    const std::uint16_t n = read_u16le(stream);
    require(stream, 4u * n);
    std::vector<std::uint16_t> codes(n);
    bool extra = false;
    for (std::uint16_t i = 0; i < n; ++i) {
        const std::uint16_t code = read_u16le(stream);
        const std::uint16_t size = read_u16le(stream);
        codes[i] = code;
        TK_TRACE(1, "Skip field #%d, type=%d, size=%d", i, code, size);
        if (code == 1 || code == 96)
            skip(stream, 4);
        if (code == 112) {
            const std::uint16_t charset = read_u16le(stream);
            if (t_orcale_ftd* c = entry_column(schema, i))
                c->charset_id = charset;
            skip(stream, 2);
        }
        if (code == 112 || code == 113)
            extra = true;
        if (code == 121 && !refine) {
            TK_TRACE(2, "Got SDO_GEOMETRY!");
            extra = true;
        }
        if (refine) {
            if (code == 58 || (code >= 121 && code <= 123)) {
                TK_TRACE(2, "Got SDO_GEOMETRY/XMLCLOB/SQLT_NCO/ARRAY (field #%d)", i);
                extra = true;
                t_orcale_ftd* c = entry_column(schema, i);
                if (c && c->ora_type == t_orcale_ftd::ora_unknown) {
                    TK_TRACE(2, "Refine refine Oracle field's type");
                    c->ora_type = t_orcale_ftd::native2oratype(code, 0);
                }
            }
            if (code == 114)
                extra = true;
            TK_TRACE(2, "Position after skiping field %d: %I64d", i, stream.tell());
        }
    }
    TK_TRACE(1, "Before reading LOB description structure, pos=%I64d", stream.tell());
    if (!extra) {
        TK_TRACE(1, "!has_extra_description");
        const std::uint16_t lob_count = read_u16le(stream);
        TK_TRACE(1, "blb_size=%d", lob_count);
        m_skip_blob_flag = static_cast<std::int16_t>(read_u16le(stream));
        TK_TRACE(1, "m_skip_blob_flag=%d", m_skip_blob_flag);
        if (refine)
            TK_TRACE(2, "After skipping all fields, pos=%I64d", stream.tell());
        return;
    }
    TK_TRACE(1, "has_extra_description");
    const std::int64_t count_pos = stream.tell();
    const std::uint16_t count = read_u16le(stream);
    // The items follow the entries one by one; another count means the
    // description is not the one this block's INSERT announced.
    if (count != n)
        throw tk_exception(tk_format(ora_th_messages::unexpected_data, count_pos), 0);
    auto short_piece = [&]() {
        const std::int64_t at = stream.tell();
        const std::uint8_t c = read_u8(stream);
        if (c >= 0x80)
            throw tk_exception(tk_format(ora_th_messages::unexpected_data, at), 0);
        skip(stream, c);
    };
    for (std::uint16_t i = 0; i < n; ++i) {
        const std::uint16_t code = codes[i];
        if (code == 58 || (code >= 121 && code <= 123)) {
            TK_TRACE(1, "Skip SDO_GEOMETRY/... (field #%d) at pos=%I64d", i, stream.tell());
            short_piece();
            short_piece();
            short_piece();
        } else if (code >= 112 && code <= 114) {
            TK_TRACE(1, "Skip CLOB/BLOB/BFILE");
            skip(stream, 2);
            const std::int64_t at = stream.tell();
            const std::uint8_t c = read_u8(stream);
            TK_TRACE(1, "c=%02X", c);
            if (c >= 0x80)
                throw tk_exception(tk_format(ora_th_messages::unexpected_data, at), 0);
            if (stream.tell() + c >= limit(stream)) {
                TK_TRACE(2, "Skipping LOBs failed");
                return;
            }
            skip(stream, c);
        } else {
            skip(stream, 3);
        }
    }
    if (refine)
        TK_TRACE(2, "After skipping all fields, pos=%I64d", stream.tell());
    TK_TRACE(1, refine ? "Skip zero-bytes for SDO-geometry" : "Skip zero-bytes if any");
    const std::int64_t lim = limit(stream);
    while (stream.tell() < lim && stream.peek() == 0)
        stream.get();
    TK_TRACE(2, "After skipping extra description, pos=%I64d", stream.tell());
}

void ora_dump_reader_th_9::read_longraw_bytes(ora_dump_stream& stream, std::uint16_t length,
                                              std::vector<std::uint8_t>* out)
{
    TK_TRACE(1, "ora_dump_reader_th_9::read_longraw_bytes(%d)", length);
    if (length == len_chunked) {
        TK_TRACE(1, "oracle_tokens::__LONG_RAW_DATA == a_length");
        read_chunks(stream, out, true);
        return;
    }
    TK_TRACE(1, "oracle_tokens::__LONG_RAW_DATA != a_length");
    consume(stream, out, length);
    // A RAW value may go on in pieces of "06 01 xx" and a big-endian size.
    for (;;) {
        TK_TRACE(1, "After reading chunk, pos: %I64d", stream.tell());
        const std::int64_t at = stream.tell();
        if (at + 2 >= limit(stream)) {
            TK_TRACE(2, "EOF reached");
            break;
        }
        const std::uint8_t* p = take(stream, 2);
        if (p[0] != 0x06 || p[1] != 0x01) {
            stream.seek(at);
            TK_TRACE(1, "No more chunks to read");
            break;
        }
        skip(stream, 1);
        const std::uint16_t size = read_u16be(stream);
        TK_TRACE(1, "chunk_size=%d", size);
        consume(stream, out, size);
    }
}
