#include "ora_dump_pump_reader_th.h"

#include "ora_dump_stream.h"
#include "t_orcale_ftd.h"
#include "tk_exception.h"
#include "tk_format.h"
#include "tk_logger.h"
#include "udb_record.h"
#include "udb_schema.h"

#include <optional>

namespace {

[[noreturn]] void raise_date_error()
{
    throw tk_exception(ora_th_messages::date_error, 0);
}

bool lob_like_in_row(std::int32_t t)
{
    return t == t_orcale_ftd::ora_blob || t == t_orcale_ftd::ora_clob || t == t_orcale_ftd::ora_long ||
           t == t_orcale_ftd::ora_xmltype || t == t_orcale_ftd::ora_sdo_geometry ||
           t == t_orcale_ftd::ora_collection;
}

bool lob_like_at_end(std::int32_t t)
{
    return t == t_orcale_ftd::ora_blob || t == t_orcale_ftd::ora_bfile || t == t_orcale_ftd::ora_clob ||
           t == t_orcale_ftd::ora_xmltype || t == t_orcale_ftd::ora_sdo_geometry;
}

// Whether the bytes are well-formed big-endian UTF-16.
bool valid_utf16be(const std::uint8_t* p, std::size_t count)
{
    if (count % 2 != 0)
        return false;
    for (std::size_t i = 0; i < count; i += 2) {
        const unsigned u = static_cast<unsigned>(p[i]) << 8 | p[i + 1];
        if (u >= 0xD800 && u <= 0xDBFF) {
            if (i + 3 >= count)
                return false;
            const unsigned v = static_cast<unsigned>(p[i + 2]) << 8 | p[i + 3];
            if (v < 0xDC00 || v > 0xDFFF)
                return false;
            i += 2;
        } else if (u >= 0xDC00 && u <= 0xDFFF) {
            return false;
        }
    }
    return true;
}

}  // namespace

bool ora_dump_pump_reader_th::check_for_eof(ora_dump_stream& stream)
{
    TK_TRACE(1, "ora_dump_pump_reader_th::check_for_eof");
    const std::int64_t at = stream.tell();
    int b = -1;
    if (!stream.failed() && at < limit(stream))
        b = stream.peek();
    stream.clear();
    stream.seek(at);
    TK_TRACE(1, "Got ch_eof=%02X at position %I64d", b < 0 ? 0 : b, at);
    return !is_record_marker(b);
}

std::wstring ora_dump_pump_reader_th::lob_text(const std::uint8_t* bytes, std::size_t count, unsigned charset_id) const
{
    if (count == 0)
        return std::wstring();
    if (charset_id == 2000)
        return utf16_upto_zero(bytes, count, true);
    if (charset_id == 871 || charset_id == 873) {
        TK_TRACE(1, "Codepage with swapped bytes(cp=%04X)", charset_id);
        bool zero_even = false;
        for (std::size_t i = 0; i < count && !zero_even; i += 2)
            zero_even = bytes[i] == 0;
        if (zero_even && valid_utf16be(bytes, count))
            return utf16_upto_zero(bytes, count, true);
        TK_TRACE(1, "Got non-zero byte while expecting 0. Switch to another scenario (ANSI)!");
        dump_info utf8;
        utf8.charset_class = 1;
        return ora_dump_reader::get_wstring(utf8, reinterpret_cast<const char*>(bytes), count, false);
    }
    TK_TRACE(1, "Regular codepage(cp=%04X)", charset_id);
    return code_page_text(bytes, count, charset_id);
}

void ora_dump_pump_reader_th::get_blob_value(ole_variant& value, ora_dump_stream& stream, VARTYPE vartype,
                                             unsigned charset_id, std::uint8_t marker, bool& last_lob,
                                             bool with_header)
{
    TK_TRACE(1, "ora_dump_pump_reader_th::get_blob_value(%d)", marker);
    TK_TRACE(1, "cur_pos=%I64d", stream.tell());
    if (with_header)
        skip(stream, 1);
    std::size_t size = read_u8(stream);
    TK_TRACE(1, "blb_size=%d", static_cast<int>(size));
    std::vector<std::uint8_t> bytes;
    if (size == 0) {
        value.clear();
        return;
    }
    if (marker == 0x08 || marker == 0x09) {
        TK_TRACE(1, "Processing BLOB with chunks");
        append_lob_chunks(stream, bytes, size, last_lob);
    } else {
        TK_TRACE(1, "Processing BLOB w/o chunks");
        lob_bytes(stream, bytes, size);
    }
    if (!m_keep_values)
        value.clear();
    else if (vartype == VT_BSTR)
        value = lob_text(bytes.data(), bytes.size(), charset_id);
    else
        value.attach_binary(std::move(bytes));
}

void ora_dump_pump_reader_th::lob_bytes(ora_dump_stream& stream, std::vector<std::uint8_t>& bytes, std::size_t count)
{
    if (m_keep_values)
        append(stream, bytes, count);
    else
        skip(stream, count);
}

void ora_dump_pump_reader_th::append_lob_chunks(ora_dump_stream& stream, std::vector<std::uint8_t>& bytes,
                                                std::size_t first, bool& last_lob)
{
    std::size_t size = first;
    for (;;) {
        TK_TRACE(1, "blb_size(2)=%d", static_cast<int>(size));
        lob_bytes(stream, bytes, size);
        const std::int64_t at = stream.tell();
        const std::uint8_t c = read_u8(stream);
        TK_TRACE(1, "c=%d", c);
        if (c == 0x00 || c == 0x0C) {
            TK_TRACE(1, "c==0x00 || 0x0C, abort immediately");
            stream.seek(at);
            last_lob = true;
            return;
        }
        if (c != 0x02 && c != 0x03 && c != 0x06 && c != 0x08 && c != 0x09) {
            TK_TRACE(3, "LOB reading error, pos: %I64d", at);
            raise_date_error();
        }
        const std::uint8_t* p = take(stream, 2);
        if (p[0] == 0x01 && p[1] == 0xFE)
            size = read_u16be(stream);
        else
            size = p[1];
        last_lob = c == 0x06;
        TK_TRACE(1, "is_last_chunk=%d, is_last=%d", c == 0x03 ? 0 : 1, last_lob ? 1 : 0);
        if (c != 0x03) {
            lob_bytes(stream, bytes, size);
            return;
        }
        // Each pass takes at least its three bytes: the chain ends.
    }
}

const std::vector<const t_orcale_ftd*>& ora_dump_pump_reader_th::columns_of(const udb_schema& schema)
{
    if (m_columns_valid && m_columns_schema == schema.generation())
        return m_columns;
    m_columns.resize(schema.size());
    for (std::size_t i = 0; i < schema.size(); ++i)
        m_columns[i] = dynamic_cast<const t_orcale_ftd*>(schema[i]);
    m_columns_schema = schema.generation();
    m_columns_valid = true;
    return m_columns;
}

std::unique_ptr<udb_record> ora_dump_pump_reader_th::get_record(ora_dump_stream& stream, const udb_schema& schema,
                                                                std::int64_t, std::int64_t& next_pos)
{
    TK_TRACE(1, "ora_dump_pump_reader_th::get_record");
    return read_record<true>(stream, schema, next_pos);
}

std::int64_t ora_dump_pump_reader_th::skip_record(ora_dump_stream& stream, const udb_schema& schema)
{
    struct framing_only {
        bool& keep;
        explicit framing_only(bool& k) : keep(k) { keep = false; }
        ~framing_only() { keep = true; }
    } scope(m_keep_values);
    std::int64_t next_pos = -1;
    try {
        read_record<false>(stream, schema, next_pos);
    } catch (const ora_framing_error&) {
        throw;
    } catch (const tk_exception&) {
        // A record that failed yet was read to its end still frames.
        if (next_pos < 0)
            throw;
    }
    return next_pos;
}

template <bool keep>
std::unique_ptr<udb_record> ora_dump_pump_reader_th::read_record(ora_dump_stream& stream, const udb_schema& schema,
                                                                 std::int64_t& next_pos)
{
    next_pos = -1;
    // Records are bounded by the dump alone.
    m_end_pos = -1;
    const std::int64_t start = stream.tell();
    TK_TRACE(1, "pos=%I64d", start);
    const std::size_t n = schema.size();
    const std::vector<const t_orcale_ftd*>& cols = columns_of(schema);
    std::unique_ptr<udb_record> record;
    if constexpr (keep)
        record = blank_record(schema);
    auto type_of = [&](std::size_t i) { return cols[i] ? cols[i]->ora_type : t_orcale_ftd::ora_none; };
    // A value of the record, or one nobody keeps while framing.
    udb_field passed_over;
    auto value_of = [&](std::size_t i) -> udb_field& {
        if constexpr (keep)
            return (*record)[i];
        else
            return passed_over;
    };
    std::vector<std::uint16_t> lob_cols;
    std::optional<tk_exception> first_failure;
    int byte_counter = 4;
    int read_cols = 0;

    const std::uint8_t marker = read_u8(stream);
    TK_TRACE(2, "Got marker %02X", marker);
    bool lob_record = false;
    bool xml_lobs = false;
    int field_count = 0;
    // Ordinary records give their length, counted from the marker, modulo
    // 65,536; -1 for the records that carry LOB values, which give none,
    // and for a length of 0, which no record has.
    long record_length = -1;
    if (marker == 0x08 || marker == 0x09 || marker == 0x0C) {
        TK_TRACE(1, "The dump file contains LOBs");
        field_count = read_u8(stream);
        lob_record = true;
    } else {
        if (marker != 0x3C)
            TK_TRACE(2, "Potential error: unexpected marker (%02X instead of 0x3C)", marker);
        const std::uint16_t length = read_u16be(stream);
        TK_TRACE(1, "Got record length: %d", length);
        if (marker == 0x3C && length != 0)
            record_length = length;
        field_count = read_u8(stream);
    }
    if (field_count != static_cast<int>(n))
        TK_TRACE(2, "Potential error: number of fields in the record (%d) is not equal to schema size (%d)",
                 field_count, static_cast<int>(n));

    std::int64_t remembered = start;
    // The record ended before its last column: its length no longer tells
    // where the values end.
    bool ended_early = false;
    auto add_last_fields = [&](std::size_t from) {
        TK_TRACE(1, "ora_dump_pump_reader_th::add_last_fields");
        ended_early = true;
        for (std::size_t j = from; j < n; ++j)
            if (lob_like_at_end(type_of(j))) {
                TK_TRACE(1, "BLOB/CLOB found");
                lob_cols.push_back(static_cast<std::uint16_t>(j));
            }
    };

    for (std::size_t i = 0; i < n; ++i) {
        const std::int32_t ora_type = type_of(i);
        TK_TRACE(1, "Reading at position: %I64d", stream.tell());
        if (lob_like_in_row(ora_type)) {
            TK_TRACE(1, "BLOB/CLOB/LONG/COMPLEX_TYPE descriptor found");
            if (ora_type == t_orcale_ftd::ora_xmltype)
                xml_lobs = true;
            if (ora_type == t_orcale_ftd::ora_collection)
                TK_TRACE(2, "Got SQLT_NCO (nested table)");
            if (ora_type == t_orcale_ftd::ora_sdo_geometry) {
                TK_TRACE(2, "Got SDO_GEOMETRY type");
                ++read_cols;
                const std::uint8_t* d = take(stream, 2);
                TK_TRACE(1, "data[0]=%02X, data[1]=%02X", d[0], d[1]);
                if (d[0] == 0xFF) {
                    TK_TRACE(1, "Got NULL SDO_GEOMETRY, do not skip 2nd byte");
                    stream.seek(stream.tell() - 1);
                    continue;
                }
                TK_TRACE(1, "Skip 2 bytes for SDO_GEOMETRY");
            }
            lob_cols.push_back(static_cast<std::uint16_t>(i));
            continue;
        }
        const std::uint32_t size = schema[i] ? schema[i]->size : 0;
        if (ora_type == t_orcale_ftd::ora_array && (size == 3748 || size == 3752)) {
            TK_TRACE(1, "Skip column having __ARRAY type");
            TK_TRACE(1, "Position: %I64d", stream.tell());
            continue;
        }
        ++read_cols;
        TK_TRACE(1, "clob_file=%d, fld_count=%d, rec_fields=%d", lob_record ? 1 : 0, read_cols, field_count);
        if (read_cols > field_count) {
            TK_TRACE(1, "Processing (fld_count > rec_fields)");
            bool ends = false;
            if (marker == 0x18) {
                remembered = stream.tell();
                const std::uint8_t* c = take(stream, 4);
                if (c[0] == 0x18) {
                    TK_TRACE(2, "marker == 0x18 and *data == 0x18, it's last record");
                    stream.seek(remembered);
                    ends = true;
                } else {
                    if (c[0] != 0x14)
                        TK_TRACE(2, "Unknown format at: %I64d, expected 0x14", remembered);
                    field_count += c[3];
                }
            } else if (marker == 0x08) {
                remembered = stream.tell();
                const std::uint8_t* b = take(stream, 2);
                if ((b[0] == 0x00 || b[0] == 0x08 || b[0] == 0x0C) && b[1] == 0) {
                    TK_TRACE(2, "marker == 0x08 and *data == 0x00/0x08/0x0C, it's last record");
                    stream.seek(remembered);
                    ends = true;
                } else {
                    if (b[0] != 0)
                        TK_TRACE(2, "Unknown format at: %I64d, expected 0x00", remembered);
                    field_count += b[1];
                }
            } else if (field_count != 255) {
                ends = true;
            }
            if (!ends && read_cols > field_count)
                ends = true;  // a continuation that adds nothing
            if (ends) {
                TK_TRACE(2, "Processing the last record");
                add_last_fields(i);
                lob_record = false;
                xml_lobs = false;
                break;
            }
        }
        remembered = stream.tell();
        TK_TRACE(1, "Reading at position: %I64d", remembered);
        require(stream, 2);
        int length = read_u8(stream);
        TK_TRACE(1, "fld_size=%d", length);
        ++byte_counter;
        if (length == 0) {
            TK_TRACE(2, "Got field size=0");
            if (!lob_record) {
                TK_TRACE(2, "Unexpected EOR (2)");
                stream.seek(remembered);
                add_last_fields(i);
                break;
            }
            const std::uint8_t one = read_u8(stream);
            length = read_u8(stream);
            if (one == 0 && length == 0) {
                TK_TRACE(2, "Unexpected EOR (1)");
                add_last_fields(i);
                break;
            }
        }
        if (length == 0xFF) {
            TK_TRACE(1, "Got NULL-value");
            continue;
        }
        if (length == 0xFE) {
            length = read_u16be(stream);
            TK_TRACE(1, "GOT FIELD SIZE (2): %d", length);
        }
        byte_counter += length;
        const std::int64_t value_pos = stream.tell();
        // The whole value must be there before any of it is decoded.
        require(stream, static_cast<std::uint64_t>(length));
        if constexpr (keep) {
            decode_value((*record)[i], first_failure, [&] {
                get_ole_value((*record)[i], cols[i] ? cols[i]->vartype : VT_NULL, ora_type, stream,
                              static_cast<std::uint16_t>(length));
            });
            // Whatever the decoder did, the next value starts after this one.
            stream.clear();
        }
        stream.seek(value_pos + length);
    }

    TK_TRACE(1, "After reading all fields, pos: %I64d", stream.tell());
    TK_TRACE(1, "clob_file=%d, fld_count=%d, rec_fields=%d", lob_record ? 1 : 0, read_cols, field_count);
    TK_TRACE(1, ">>> iterate through possible blobs (2)");
    const std::size_t lob_count = lob_cols.size();
    TK_TRACE(1, "BLOBs count (blbs_count)=%d", static_cast<int>(lob_count));

    auto finish = [&](std::int64_t after) {
        next_pos = after;
        TK_TRACE(1, "last_pos=%I64d", after);
        if (first_failure)
            throw *first_failure;
        return std::move(record);
    };

    if (xml_lobs) {
        TK_TRACE(1, "Processing xml_clob_file, marker=%02X", marker);
        long to_read;
        if (marker == 0x0C) {
            to_read = static_cast<long>(field_count) + static_cast<long>(lob_count) - static_cast<long>(n);
        } else if (marker == 0x09) {
            to_read = static_cast<long>(lob_count);
        } else {
            TK_TRACE(3, "Incorrect marker, pos: %I64d", stream.tell());
            next_pos = stream.tell();
            raise_date_error();
        }
        for (long k = 0; k < to_read && k < static_cast<long>(lob_count); ++k) {
            const std::size_t c = lob_cols[static_cast<std::size_t>(k)];
            bool follows = false;
            get_pump_lob_value(value_of(c), stream, cols[c] ? cols[c]->charset_id : 0, follows);
            value_of(c).size = 0;
            if (follows)
                break;
        }
        return finish(stream.tell());
    }
    if (!lob_record) {
        // An ordinary record read to its last column ends where its length
        // says; anywhere else, a length inside it was damaged. The next
        // record is looked for where the values ended, unless no record
        // begins there and one begins where the length points.
        const std::int64_t values_end = stream.tell();
        if (record_length >= 0 && !ended_early && field_count != 255 &&
            ((values_end - start) & 0xFFFF) != record_length) {
            const std::int64_t by_length = start + record_length;
            TK_TRACE(3, "A record at %I64d of length %d ends at %I64d", start, static_cast<int>(record_length),
                     values_end);
            std::int64_t after = values_end;
            if (check_for_eof(stream) && by_length > start && by_length < limit(stream)) {
                stream.clear();
                stream.seek(by_length);
                if (!check_for_eof(stream))
                    after = by_length;
            }
            stream.clear();
            stream.seek(after);
            next_pos = after;
            throw tk_exception(tk_format(ora_th_messages::unexpected_data, by_length), 0);
        }
        return finish(values_end);
    }

    TK_TRACE(1, "Processing clob_file, blbs_count=%d", static_cast<int>(lob_count));
    if (lob_count == 0) {
        TK_TRACE(1, "No BLOBs, nothing to do");
        return finish(stream.tell());
    }
    if (byte_counter == 4) {
        TK_TRACE(1, "Moving to the beginning of the record");
        stream.seek(remembered);
    }
    const std::uint16_t k =
        n == lob_count ? 0 : static_cast<std::uint16_t>(static_cast<long>(n) - static_cast<long>(lob_count) - field_count);
    TK_TRACE(1, "k=%d", k);
    remembered = stream.tell();
    std::size_t to_read = lob_count;
    if (marker == 0x08 && k != 0) {
        const std::uint16_t k1 = read_u16be(stream);
        if (k1 != k) {
            TK_TRACE(3, "LOB reading possible error, pos: %I64d", remembered);
            TK_TRACE(1, "k1=%d, rollback 2 bytes", k1);
            stream.seek(remembered);
        }
        for (std::uint16_t i = 0; i < k; ++i) {
            TK_TRACE(1, "Cycle pass i=%d", i);
            const std::int64_t at = stream.tell();
            const std::uint8_t b = read_u8(stream);
            if (b == marker) {
                TK_TRACE(1, "Unexpected end of record - return");
                stream.seek(at);
                return finish(at);
            }
            if (b != 0xFF) {
                TK_TRACE(3, "LOB reading possible error, pos: %I64d", at);
                stream.seek(remembered);
                break;
            }
        }
    } else if (marker != 0x08) {
        // A 0x08 record whose field count leaves out its LOB columns (k is
        // 0) is followed by every one of them.
        const long diff = static_cast<long>(field_count) - read_cols;
        if (diff >= 0 && static_cast<std::size_t>(diff) <= lob_count)
            to_read = static_cast<std::size_t>(diff);
    }
    TK_TRACE(1, "blbs_count(3)=%d", static_cast<int>(to_read));
    bool last = false;
    for (std::size_t idx = 0; idx < to_read; ++idx) {
        if (last && marker == 0x08) {
            TK_TRACE(1, "The last BLOB has been processed, abort reading (marker=8)");
            break;
        }
        const std::size_t c = lob_cols[idx];
        const std::int64_t at = stream.tell();
        TK_TRACE(1, "Reading LOB #%d at position: %I64d", static_cast<int>(idx), at);
        const VARTYPE vt = cols[c] ? cols[c]->vartype : VT_BLOB;
        const unsigned cs = cols[c] ? cols[c]->charset_id : 0;
        udb_field& v = value_of(c);
        if (type_of(c) == t_orcale_ftd::ora_sdo_geometry) {
            std::uint16_t length = 0;
            get_sdo_geometry_value(v, stream, length);
            v.size = length;
            continue;
        }
        const std::uint8_t* h = take(stream, 3);
        const std::uint8_t h0 = h[0], h1 = h[1], h2 = h[2];
        TK_TRACE(1, "Marker=%02X, blob[0]=%02X, blob[1]=%02X, blob[2]=%02X", marker, h0, h1, h2);
        if (marker == 0x08) {
            if (h0 == 0x08 || h0 == 0x0C) {
                TK_TRACE(2, "Begin of new record found, abort reading LOBs");
                stream.seek(at);
                break;
            }
            if (h0 == 0x04)
                last = true;
        } else if (marker == 0x0C) {
            last = true;
        } else if (h0 == 0x04) {
            last = true;
        }
        if (last)
            TK_TRACE(1, "The last LOB found");
        if ((h0 == 0x00 || h0 == 0x04) && h1 == 1 && h2 == 0) {
            TK_TRACE(1, "Process non-NULL empty LOB");
            // Empty, yet not NULL.
            if constexpr (keep) {
                if (vt == VT_BSTR)
                    v = std::wstring();
                else
                    v.attach_binary(std::vector<std::uint8_t>());
                v.size = 0;
            }
            last = h0 == 0x04;
            continue;
        }
        if ((h0 == 0x00 || h0 == 0x04) && h1 == 1 && h2 == 0xFF) {
            TK_TRACE(1, "Process NULL LOBs");
            continue;
        }
        const VARTYPE as = vt == VT_BSTR ? VT_BSTR : VT_BLOB;
        if (h1 == 0x01 && h2 == 0xFE) {
            // The size as 01 FE and two bytes, most significant first, as
            // the export writes its own metadata LOBs. A first byte of 01
            // announces continuation chunks, read by the rules of the
            // chunked values; 00 and 04 give the value in one piece.
            TK_TRACE(1, "LOB with a 2-byte size");
            std::vector<std::uint8_t> bytes;
            const std::size_t size = read_u16be(stream);
            if (h0 == 0x01)
                append_lob_chunks(stream, bytes, size, last);
            else
                lob_bytes(stream, bytes, size);
            if constexpr (keep) {
                if (as == VT_BSTR)
                    v = lob_text(bytes.data(), bytes.size(), cs);
                else
                    v.attach_binary(std::move(bytes));
            }
        } else if (h0 == 0xFE) {
            TK_TRACE(1, "blob_header[0] == 0xFE, LOB has only 1 byte in the header");
            stream.seek(at + 1);
            get_blob_value(v, stream, as, cs, marker, last, true);
        } else if (h1 == 1 || h2 == 0xFF) {
            TK_TRACE(1, "Default LOB processing");
            get_blob_value(v, stream, as, cs, marker, last, true);
        } else {
            stream.seek(at);
            TK_TRACE(1, "Try to process 1-byte-size LOB");
            get_blob_value(v, stream, as, cs, marker, last, false);
        }
        v.size = 0;
    }
    return finish(stream.tell());
}
