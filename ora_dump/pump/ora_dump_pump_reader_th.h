// The row decoder of Data Pump dumps.
//
// A partition's records follow each other without an end marker: each one
// starts with a marker byte (0x3C an ordinary record; 0x08, 0x09 and 0x0C a
// record that carries LOB values after its in-row values; 0x18 a record
// that may be continued), then a field count and the values, each a length
// byte (FF NULL, FE and a big-endian 2-byte length) and its bytes. LOB-like
// columns take no place among the in-row values: their values follow them.
//
// Every read is bounded by the dump's length; a record that runs past it is
// the level-0 "Can't read record. EOF reached". A value that fails to decode
// still consumes its bytes: the record is read to its end, its position
// after is given, and only then the first failure is raised. An ordinary
// record whose values do not end where its record length says is damaged:
// it is read to its end and raised as "Unexpected data at position: %I64d"
// with the position its length gives.
#pragma once

#include "ora_dump_reader_th_9.h"

#include <cstdint>
#include <memory>
#include <vector>

class ora_dump_pump_reader_th : public ora_dump_reader_th_9 {
public:
    ora_dump_pump_reader_th() = default;
    // The Data Pump minor version it reads.
    int generation() const override { return 1; }

    std::unique_ptr<udb_record> get_record(ora_dump_stream& stream, const udb_schema& schema, std::int64_t end_pos,
                                           std::int64_t& next_pos) override;
    // Steps over one record by its framing alone, as get_record reads it,
    // without decoding a value, and gives the position after it, where
    // get_record would give it (also for a record it would raise). Raises
    // what get_record raises for bytes that cannot be framed: the end of the
    // data, a LOB chunk that does not fit.
    std::int64_t skip_record(ora_dump_stream& stream, const udb_schema& schema);
    // True unless a record marker stands at the stream's position; the
    // stream does not move.
    bool check_for_eof(ora_dump_stream& stream) override;
    bool skip_lob_gap() const override { return true; }
    bool swap_utf8_lob() const override { return true; }

    // A LOB value of a LOB record: a header byte (unless with_header is
    // false), a size byte and the bytes; for markers 0x08 and 0x09 in chunks
    // joined by continuation bytes, which also tell whether this was the
    // record's last LOB. Text for VT_BSTR, else a byte array.
    using ora_dump_reader_th::get_blob_value;
    void get_blob_value(ole_variant& value, ora_dump_stream& stream, VARTYPE vartype, unsigned charset_id,
                        std::uint8_t marker, bool& last_lob, bool with_header = true);

    // LOB text by its character-set id: always big-endian UTF-16 for 2000;
    // for 871 and 873 when the bytes read as such (even length, valid
    // UTF-16BE, a zero byte at an even offset), else UTF-8 up to the first
    // zero; any other id through its code page.
    std::wstring lob_text(const std::uint8_t* bytes, std::size_t count, unsigned charset_id) const;

    static bool is_record_marker(int b)
    {
        return b == 0x08 || b == 0x09 || b == 0x0C || b == 0x18 || b == 0x1C || b == 0x3C;
    }

private:
    // get_record with values (keep) or skip_record without them.
    template <bool keep>
    std::unique_ptr<udb_record> read_record(ora_dump_stream& stream, const udb_schema& schema, std::int64_t& next_pos);
    // count bytes of a LOB value onto bytes, or past them while framing.
    void lob_bytes(ora_dump_stream& stream, std::vector<std::uint8_t>& bytes, std::size_t count);

    // A chunked LOB value: the first chunk of the given size, then the
    // chunks its continuation bytes announce; sets last_lob when they say
    // this was the record's last LOB.
    void append_lob_chunks(ora_dump_stream& stream, std::vector<std::uint8_t>& bytes, std::size_t first,
                           bool& last_lob);
    // The schema's columns as Data Pump columns (null for any other kind),
    // found again only when the schema's generation changed.
    const std::vector<const t_orcale_ftd*>& columns_of(const udb_schema& schema);

    std::vector<const t_orcale_ftd*> m_columns;
    std::uint64_t m_columns_schema = 0;
    bool m_columns_valid = false;
    // Cleared while skip_record frames a record: LOB bytes are passed over.
    bool m_keep_values = true;
};
