// The row framing of classic export dumps: the decoder of each generation,
// the 2-byte column lengths with their slides, the block's end marker, and
// one row read into a record through the value decoders.
#include "ora_dump_reader_th.h"

#include "ora_dump_reader_th_10.h"
#include "ora_dump_reader_th_7.h"
#include "ora_dump_reader_th_8.h"
#include "ora_dump_reader_th_9.h"
#include "ora_dump_stream.h"
#include "t_orcale_ftd.h"
#include "tk_logger.h"
#include "udb_record.h"
#include "udb_schema.h"

#include <bit>
#include <cstring>
#include <optional>

namespace {

[[noreturn]] void raise_eof()
{
    throw ora_framing_error(ora_th_messages::eof_reached);
}

}  // namespace

std::unique_ptr<ora_dump_reader_th> ora_dump_reader_th::create(int version, const std::string& header_text)
{
    TK_TRACE(2, "ora_dump_reader_th::create(%d)", version);
    std::unique_ptr<ora_dump_reader_th> th;
    switch (version) {
    case 7:
        th = std::make_unique<ora_dump_reader_th_7>();
        break;
    case 8: {
        int numbers[3] = {0, 0, 0};
        std::size_t at = header_text.find("EXPORT:V");
        if (at != std::string::npos) {
            std::size_t p = at + 8;
            for (int k = 0; k < 3; ++k) {
                if (k > 0) {
                    if (p >= header_text.size() || header_text[p] != '.')
                        break;
                    ++p;
                }
                int digits = 0;
                int value = 0;
                while (digits < 2 && p < header_text.size() && header_text[p] >= '0' && header_text[p] <= '9') {
                    value = value * 10 + (header_text[p] - '0');
                    ++p;
                    ++digits;
                }
                if (digits == 0)
                    break;
                numbers[k] = value;
            }
        }
        th = std::make_unique<ora_dump_reader_th_8>(numbers[0], numbers[1], numbers[2]);
        break;
    }
    case 9:
        th = std::make_unique<ora_dump_reader_th_9>();
        break;
    // exp of releases 18 to 23 writes the layout of release 12 after the
    // header.
    case 10:
    case 11:
    case 12:
    case 18:
    case 19:
    case 20:
    case 21:
    case 22:
    case 23:
        th = std::make_unique<ora_dump_reader_th_10>();
        break;
    default:
        return nullptr;
    }
    th->reset_skip_flag();
    return th;
}

bool ora_dump_reader_th::check_length(const t_orcale_ftd* column, std::uint16_t length) const
{
    TK_TRACE(1, "ora_dump_reader_th::check_length(%d)", length);
    switch (length) {
    case 0xFFF0:
    case 0xFFFA:
    case 0xFFFC:
    case len_chunked:
    case len_null:
        TK_TRACE(1, "Length is a service code");
        return true;
    default:
        break;
    }
    if (!column)
        return true;
    TK_TRACE(1, "fld->ora_type=%d", column->ora_type);
    switch (column->ora_type) {
    case t_orcale_ftd::ora_number:
    case t_orcale_ftd::ora_float:
        return length < 22;
    case t_orcale_ftd::ora_char:
    case t_orcale_ftd::ora_varchar2: {
        // AL32UTF8 takes up to 4 bytes per character.
        std::uint64_t most = static_cast<std::uint64_t>(column->size) * (info.charset_class == 1 ? 4 : 1);
        TK_TRACE(1, "Checking CHAR/VARCHAR: fld->size=%d, length=%d", column->size, length);
        return length <= most;
    }
    case t_orcale_ftd::ora_nchar:
    case t_orcale_ftd::ora_nvarchar2: {
        std::uint64_t most = static_cast<std::uint64_t>(column->size) * (info.ncharset_class == 1 ? 3 : 2);
        TK_TRACE(1, "Checking NCHAR/NVARCHAR: fld->size=%d, length=%d", column->size, length);
        return length <= most;
    }
    case t_orcale_ftd::ora_date:
        return length == 7;
    case t_orcale_ftd::ora_timestamp:
    case t_orcale_ftd::ora_timestamp_tz:
        return length == 7 || length == 11 || length == 13;
    case t_orcale_ftd::ora_binary_float:
        return length == 4;
    case t_orcale_ftd::ora_binary_double:
        return length == 8;
    default:
        return true;
    }
}

std::uint16_t ora_dump_reader_th::get_field_length(ora_dump_stream& stream, const t_orcale_ftd* column)
{
    const std::int64_t start = stream.tell();
    std::uint16_t length = read_u16le(stream);
    if (length == len_end) {
        stream.seek(start);
        return len_end;
    }
    if (length == 0)
        return 0;
    for (int slides = 0; !check_length(column, length); ++slides) {
        if (slides == 2 || stream.tell() >= limit(stream))
            throw ora_framing_error(tk_format(ora_th_messages::unexpected_data, start));
        const int b = stream.get();
        if (b < 0)
            throw ora_framing_error(tk_format(ora_th_messages::unexpected_data, start));
        length = static_cast<std::uint16_t>((length >> 8) | (b << 8));
    }
    return length;
}

bool ora_dump_reader_th::check_for_eof(ora_dump_stream& stream)
{
    const std::int64_t start = stream.tell();
    TK_TRACE(1, "streampos_start=%I64d", start);
    std::uint8_t b[2];
    bool eof = stream.read(b, 2) == 2 && b[0] == 0xFF && b[1] == 0xFF;
    stream.seek(start);
    TK_TRACE(1, "b_eof=%d", eof ? 1 : 0);
    return eof;
}

void ora_dump_reader_th::map_columns(const udb_schema& schema)
{
    if (slots_valid && slots_schema == schema.generation())
        return;
    slots.clear();
    slots.reserve(m_field_names.size());
    for (const std::wstring& name : m_field_names) {
        int idx = find_column(schema, name);
        if (idx < 0)
            throw tk_exception(std::wstring(ora_th_messages::unknown_insert_name) + name, 1);
        column_slot s;
        s.index = idx;
        s.column = dynamic_cast<const t_orcale_ftd*>(schema[static_cast<std::size_t>(idx)]);
        slots.push_back(s);
    }
    plain_slots.clear();
    short_lengths.clear();
    for (const column_slot& s : slots) {
        const t_orcale_ftd* c = s.column;
        const std::int32_t t = c ? c->ora_type : t_orcale_ftd::ora_none;
        const VARTYPE vt = c ? c->vartype : VT_NULL;
        bool plain = t != t_orcale_ftd::ora_blob && t != t_orcale_ftd::ora_clob && t != t_orcale_ftd::ora_bfile &&
                     t != t_orcale_ftd::ora_sdo_geometry && t != t_orcale_ftd::ora_unknown &&
                     t != t_orcale_ftd::ora_long && vt != VT_BLOB && vt != VT_BYTE_ARRAY;
        if (vt == VT_DATE && t != t_orcale_ftd::ora_date && t != t_orcale_ftd::ora_timestamp &&
            t != t_orcale_ftd::ora_timestamp_tz && t != t_orcale_ftd::ora_binary_float &&
            t != t_orcale_ftd::ora_binary_double)
            plain = false;
        plain_slots.push_back(plain ? 1 : 0);
        std::uint64_t words[4] = {0, 0, 0, 0};
        for (std::uint16_t l = 1; l < 256; ++l)
            if (check_length(c, l))
                words[l >> 6] |= std::uint64_t{1} << (l & 63);
        short_lengths.insert(short_lengths.end(), std::begin(words), std::end(words));
    }
    slots_schema = schema.generation();
    slots_valid = true;
}

void ora_dump_reader_th::decode_column(ole_variant& value, const column_slot& slot, ora_dump_stream& stream,
                                       std::uint16_t length, bool& queue_lob)
{
    const t_orcale_ftd* c = slot.column;
    const std::int32_t ora_type = c ? c->ora_type : t_orcale_ftd::ora_none;
    const VARTYPE vartype = c ? c->vartype : VT_NULL;
    const unsigned charset_id = c ? c->charset_id : 0;
    switch (ora_type) {
    case t_orcale_ftd::ora_blob:
        TK_TRACE(1, "Got BLOB/CLOB");
        // With the skip flag set the row's bytes are the whole value.
        if (length == len_chunked || m_skip_blob_flag != 0) {
            get_longraw_value(value, stream, length);
        } else {
            skip(stream, length);
            value.clear();
            queue_lob = true;
        }
        return;
    case t_orcale_ftd::ora_clob:
        TK_TRACE(1, "Got BLOB/CLOB");
        if (length == len_chunked) {
            get_long_value(value, stream, length, charset_id);
        } else if (m_skip_blob_flag != 0) {
            get_string_value(value, stream, length,
                             charset_id == t_orcale_ftd::national_charset ? t_orcale_ftd::ora_nvarchar2
                                                                          : t_orcale_ftd::ora_varchar2);
        } else {
            skip(stream, length);
            value.clear();
            queue_lob = true;
        }
        return;
    case t_orcale_ftd::ora_bfile:
    case t_orcale_ftd::ora_sdo_geometry:
    case t_orcale_ftd::ora_unknown:
        get_longraw_value(value, stream, length);
        return;
    case t_orcale_ftd::ora_long:
        get_long_value(value, stream, length, charset_id);
        return;
    case t_orcale_ftd::ora_xmltype:
        TK_TRACE(1, "Got XMLTYPE");
        get_xmltype_value(value, stream, length, charset_id);
        return;
    default:
        get_ole_value(value, vartype, ora_type, stream, length);
        return;
    }
}

void ora_dump_reader_th::skip_column(const column_slot& slot, ora_dump_stream& stream, std::uint16_t length,
                                     bool& queue_lob)
{
    // The consumption of decode_column, branch by branch.
    const t_orcale_ftd* c = slot.column;
    const std::int32_t ora_type = c ? c->ora_type : t_orcale_ftd::ora_none;
    const VARTYPE vartype = c ? c->vartype : VT_NULL;
    switch (ora_type) {
    case t_orcale_ftd::ora_blob:
        if (length == len_chunked || m_skip_blob_flag != 0) {
            read_longraw_bytes(stream, length, nullptr);
        } else {
            skip(stream, length);
            queue_lob = true;
        }
        return;
    case t_orcale_ftd::ora_clob:
        if (length == len_chunked) {
            read_long_bytes(stream, length, nullptr);
        } else if (m_skip_blob_flag != 0) {
            skip(stream, length);
        } else {
            skip(stream, length);
            queue_lob = true;
        }
        return;
    case t_orcale_ftd::ora_bfile:
    case t_orcale_ftd::ora_sdo_geometry:
    case t_orcale_ftd::ora_unknown:
        read_longraw_bytes(stream, length, nullptr);
        return;
    case t_orcale_ftd::ora_long:
        read_long_bytes(stream, length, nullptr);
        return;
    case t_orcale_ftd::ora_xmltype:
        skip(stream, length);
        return;
    default:
        skip_ole_value(vartype, ora_type, stream, length);
        return;
    }
}

std::unique_ptr<udb_record> ora_dump_reader_th::get_record(ora_dump_stream& stream, const udb_schema& schema,
                                                           std::int64_t end_pos, std::int64_t& next_pos)
{
    TK_TRACE(1, "ora_dump_reader_th::get_record");
    map_columns(schema);
    std::unique_ptr<udb_record> record = blank_record(schema);
    std::optional<tk_exception> first_failure;
    if (!read_row(stream, end_pos, next_pos, record.get(), first_failure))
        return nullptr;
    if (first_failure)
        throw *first_failure;
    return record;
}

std::int64_t ora_dump_reader_th::skip_row(ora_dump_stream& stream, const udb_schema& schema, std::int64_t end_pos)
{
    std::int64_t next_pos = -1;
    std::optional<tk_exception> no_failure;
    map_columns(schema);
    read_row(stream, end_pos, next_pos, nullptr, no_failure);
    return next_pos;
}

bool ora_dump_reader_th::read_row(ora_dump_stream& stream, std::int64_t end_pos, std::int64_t& next_pos,
                                  udb_record* values, std::optional<tk_exception>& first_failure)
{
    next_pos = -1;
    m_end_pos = end_pos;
    TK_TRACE(1, "Reading at position: %I64d", stream.tell());

    const std::int64_t lim = limit(stream);
    // Empty unless the row has LOB values after it: no allocation then.
    std::vector<std::size_t> lobs;

    for (std::size_t i = 0; i < slots.size(); ++i) {
        const column_slot& slot = slots[i];
        TK_WTRACE(1, L"Processing field #%d: '%s'", static_cast<int>(i), m_field_names[i]);
        const std::int64_t pos = stream.tell();
        TK_TRACE(1, "pos=%I64d, filesize=%I64d", pos, info.dump_length);
        if (pos == 0 || stream.failed() || pos > lim || lim - pos < 2)
            raise_eof();
        const std::uint16_t length = get_field_length(stream, slot.column);
        TK_TRACE(1, "GOT FIELD SIZE: %d", length);
        if (length == len_end) {
            TK_TRACE(3, "WARNING: unexpected EOR(1) at position %I64d", pos);
            return false;
        }
        if (length == 0) {
            TK_TRACE(3, "WARNING: unexpected EOR(2) at position %I64d", pos);
            return false;
        }
        if (length == len_null) {
            TK_TRACE(1, "Got NULL-value");
            continue;
        }
        if (length != len_chunked && stream.tell() + length + 2 > lim)
            raise_eof();
        bool queue_lob = false;
        if (values) {
            ole_variant& value = (*values)[static_cast<std::size_t>(slot.index)];
            // The value's bytes are consumed even when it fails: the row goes on.
            decode_value(value, first_failure, [&] { decode_column(value, slot, stream, length, queue_lob); });
        } else {
            skip_column(slot, stream, length, queue_lob);
        }
        if (queue_lob)
            lobs.push_back(i);
    }

    TK_TRACE(1, ">>> iterate through possible blobs (1)");
    TK_TRACE(1, "BLOBs count (blbs_count)=%d, m_skip_blob_flag=%d", static_cast<int>(lobs.size()), m_skip_blob_flag);
    if (m_skip_blob_flag == 0) {
        if (skip_lob_gap()) {
            TK_TRACE(1, "Skip 2 bytes...");
            skip(stream, 2);
        }
        for (std::size_t k = 0; k < lobs.size(); ++k) {
            TK_TRACE(1, "Processing LOB #%d", static_cast<int>(k));
            const column_slot& slot = slots[lobs[k]];
            if (!values) {
                read_lob_bytes(stream, nullptr);
                continue;
            }
            const std::size_t idx = static_cast<std::size_t>(slot.index);
            const VARTYPE vt = slot.column ? slot.column->vartype : VT_BLOB;
            get_blob_value((*values)[idx], stream, vt == VT_BSTR ? VT_BSTR : VT_BLOB,
                           slot.column ? slot.column->charset_id : 0);
            (*values)[idx].size = 0;
        }
    }

    next_pos = stream.tell();
    if (lim - next_pos > 2) {
        std::uint8_t b[2];
        if (stream.read(b, 2) == 2) {
            TK_TRACE(1, "End of record: %04X", b[0] | b[1] << 8);
            if (b[0] == 0 && b[1] == 0) {
                TK_TRACE(1, "Found 00 00, skip it");
                next_pos += 2;
            }
        }
        stream.seek(next_pos);
    }
    return true;
}

namespace {

// A row's lengths are little-endian pairs; one load of the pair keeps the
// walk's chain from length to the next position short.
inline std::uint16_t load_le16(const std::uint8_t* p)
{
    if constexpr (std::endian::native == std::endian::little) {
        std::uint16_t v;
        std::memcpy(&v, p, sizeof v);
        return v;
    } else {
        return static_cast<std::uint16_t>(p[0] | p[1] << 8);
    }
}

} // namespace

std::int64_t ora_dump_reader_th::skip_plain_rows(ora_dump_stream& stream, const udb_schema& schema,
                                                 std::int64_t end_pos, std::size_t max_rows, bool& at_end)
{
    at_end = false;
    map_columns(schema);
    m_end_pos = end_pos;
    const std::int64_t lim = limit(stream);
    std::int64_t row = stream.tell();
    std::size_t available = 0;
    const std::uint8_t* p = stream.view(256 * 1024, available);
    if (!p || row <= 0)
        return row;
    // b[k] is the byte at position k; the window ends at stop.
    const std::uint8_t* b = p - row;
    const std::int64_t stop = row + static_cast<std::int64_t>(available);
    // Below here, read_row neither raises nor leaves the window: a length
    // and its bytes end by value_stop, two more bytes end by field_stop.
    const std::int64_t field_stop = std::min(stop, lim) - 2;
    const std::int64_t value_stop = std::min(stop, lim - 2);
    const bool gap = m_skip_blob_flag == 0 && skip_lob_gap();
    const std::size_t columns = slots.size();
    const char* plain = plain_slots.data();
    const std::uint64_t* lengths = short_lengths.data();
    for (std::size_t i = 0; i < columns; ++i)
        if (!plain[i])
            return row;
    // Each step below mirrors read_row (and check_for_eof before it); any
    // case that is not a plain length is left to it, unread.
    for (std::size_t n = 0; n < max_rows; ++n) {
        if (row + 2 > stop)
            break;
        if (b[row] == 0xFF && b[row + 1] == 0xFF) {
            at_end = true;
            break;
        }
        if (row + 2 > end_pos && end_pos >= 0)
            break;
        std::int64_t pos = row;
        bool framed = true;
        for (std::size_t i = 0; i < columns; ++i) {
            if (pos > field_stop) {
                framed = false;
                break;
            }
            const std::uint16_t length = load_le16(b + pos);
            pos += 2;
            if (length == len_null)
                continue;
            const bool accepted = length < 256 ? (lengths[4 * i + (length >> 6)] >> (length & 63) & 1) != 0
                                               : length < 0xFFF0 && check_length(slots[i].column, length);
            if (!accepted || pos + length > value_stop) {
                framed = false;
                break;
            }
            pos += length;
        }
        if (!framed)
            break;
        if (gap) {
            if (pos > field_stop)
                break;
            pos += 2;
        }
        if (lim - pos > 2) {
            if (pos + 2 > stop)
                break;
            if (b[pos] == 0 && b[pos + 1] == 0)
                pos += 2;
        }
        if (pos <= row)
            break;
        row = pos;
    }
    stream.seek(row);
    return row;
}
