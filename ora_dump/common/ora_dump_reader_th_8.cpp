#include "ora_dump_reader_th_8.h"

#include "ora_dump_stream.h"
#include "tk_format.h"
#include "tk_logger.h"

ora_dump_reader_th_8::ora_dump_reader_th_8(int major, int minor, int patch)
    : version_major(major), version_minor(minor), version_patch(patch)
{
    m_skip_blob_flag = initial_skip_flag();
}

void ora_dump_reader_th_8::skip_field_description(ora_dump_stream& stream, udb_schema& schema, std::int64_t end_pos)
{
    TK_TRACE(2, "ora_dump_reader_th_8::skip_field_description");
    (void)schema;
    m_end_pos = end_pos;
    read_entries(stream, true, false);
    const std::uint16_t lob_count = read_u16le(stream);
    TK_TRACE(1, "blb_size=%d", lob_count);
    // 8.0.4 to 8.0.6 write no flag: their LOBs stand in the row from 8.0.6 on.
    const bool early = version_major == 8 && version_minor == 0;
    if (early && (version_patch == 4 || version_patch == 5)) {
        m_skip_blob_flag = 0;
    } else if (early && version_patch == 6) {
        m_skip_blob_flag = 1;
    } else {
        m_skip_blob_flag = static_cast<std::int16_t>(read_u16le(stream));
        TK_TRACE(1, "m_skip_blob_flag=%d", m_skip_blob_flag);
    }
    for (std::uint16_t i = 0; i < lob_count; ++i) {
        const std::int64_t at = stream.tell();
        const std::uint8_t k = read_u8(stream);
        // The length is a signed byte; a negative one is no description.
        if (k >= 0x80)
            throw tk_exception(tk_format(ora_th_messages::unexpected_data, at), 0);
        TK_TRACE(1, "Skip blob #%d: %d bytes", i, k + 2);
        skip(stream, k + 2u);
    }
}

void ora_dump_reader_th_8::read_longraw_bytes(ora_dump_stream& stream, std::uint16_t length,
                                              std::vector<std::uint8_t>* out)
{
    TK_TRACE(1, "ora_dump_reader_th_8::read_longraw_bytes(%d)", length);
    if (length == len_chunked)
        read_chunks(stream, out, true);
    else
        consume(stream, out, length);
}
