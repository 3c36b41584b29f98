// The Data Pump half of the test dump writer: the fixed header, metadata
// documents stored in one piece or in chunks (8-bit or big-endian UTF-16
// text), the XML vocabulary of the metadata, and row records.
//
// Like the classic writer it follows the byte layouts directly and shares
// no code with the reader, and every call gives the offset it wrote at.
//
// What the writer leaves to its callers, because the reader's rules depend
// on it: "<ROWSET><ROW>" must lie within 128 bytes of the opening '<' (the
// builders below put it right after the XML declaration); chunk sizes must
// not split the closing tags; row bytes must not hold "?xml version".
#pragma once

#include "ora_dump_writer_rows.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace ora_pump {

using bytes = std::vector<std::uint8_t>;

// --- header -------------------------------------------------------------------

struct header_fields {
    std::uint8_t major = 4;
    std::uint8_t minor = 1;
    std::uint16_t part = 0;          // at 33, big-endian
    std::uint16_t charset_id = 873;  // at 39, big-endian
    std::uint8_t flags = 0x02;       // at 51
    std::size_t size = 64;           // at least 52, more for a job name
    // Further bytes, as (offset, value); the real header has a 0x3C at 21.
    // (Filled, not listed: g++ 12 warns wrongly of an uninitialised list.)
    std::vector<std::pair<std::size_t, std::uint8_t>> extra =
        std::vector<std::pair<std::size_t, std::uint8_t>>(1, {21, 0x3C});
    // The export's own fields, written when block_size is not 0: the block
    // size at 35, the master table's first block (counted from 1) at 54
    // and its length at 58, all big-endian; the job's name ("OWNER"."NAME")
    // from 67 when not empty.
    std::uint32_t block_size = 0;
    std::uint32_t master_block = 0;
    std::uint64_t master_length = 0;
    std::string job_name;
};
bytes header(const header_fields& fields);
// Writes the export's own fields into the header at the start of a dump.
void put_export_fields(bytes& dump, const header_fields& fields);

// --- documents ------------------------------------------------------------------

// A chunk of a stored document: kind 1 writes 01 FE LL LL, kinds 3 and 6
// write 03 01 FE LL LL and 06 01 FE LL LL; size bytes of the text follow.
struct chunk {
    std::uint8_t kind = 1;
    std::size_t size = 0;
};

struct document_form {
    bool utf16 = false;
    // Empty: one piece after the prefix. Otherwise the chunks in order;
    // text the sizes leave over goes into a last 01 FE chunk.
    std::vector<chunk> chunks;
    // The one-piece prefix, as the real dump writes it.
    std::uint8_t prefix[4] = {0x00, 0x00, 0x03, 0x69};
};

// The stored bytes of a document (prefix or chunk headers and its text).
bytes stored_document(const std::string& xml_utf8, const document_form& form);
// Big-endian UTF-16 of UTF-8 text.
bytes utf16be(const std::string& utf8);

// --- the XML vocabulary -------------------------------------------------------------

struct column {
    std::string name;
    int type_num = 2;
    int length = 22;
    std::optional<int> precision;
    std::optional<int> scale;
    int charsetid = 0;  // written when not 0
    bool not_null = false;
    int col_num = 0;    // 0: its place in the list, from 1
};
std::string column_items(const std::vector<column>& columns);

struct key {
    std::string name;
    int contype = 2;  // 2 primary, 3 unique
    std::vector<std::string> columns;
};

struct foreign_key {
    std::string name;
    std::string ref_owner;
    std::string ref_table;
    std::vector<std::string> src;
    std::vector<std::string> tgt;
};

std::string strmtable_doc(const std::string& owner, const std::string& name, const std::vector<column>& columns);
std::string table_doc(const std::string& owner, const std::string& name, const std::vector<column>& columns,
                      const std::vector<key>& keys = {}, const std::vector<foreign_key>& fks = {});
std::string constraint_doc(const std::string& owner, const std::string& table, const key& k);
std::string ref_constraint_doc(const std::string& owner, const std::string& table, const foreign_key& fk);
// A document that is no ROWSET.
std::string other_doc(const std::string& body);

// --- rows -------------------------------------------------------------------------

// A column value: a length byte (FE and a 2-byte big-endian length from 254
// bytes on) and the bytes.
bytes value(const bytes& v);
// FF
bytes null_value();
// An ordinary record (marker 0x3C, or 0x18 and others laid out alike): the
// marker, the 2-byte big-endian record length counted from the marker, the
// field count (-1: the number of values), the values, then tail.
bytes record(const std::vector<bytes>& values, int field_count = -1, std::uint8_t marker = 0x3C,
             const bytes& tail = {});
// A LOB record (markers 0x08, 0x09, 0x0C): the marker, the field count, the
// in-row values and then the LOB bytes as given.
bytes lob_record(std::uint8_t marker, const std::vector<bytes>& values, const bytes& lob_bytes, int field_count = -1);

// --- whole dumps ---------------------------------------------------------------------

class writer {
public:
    explicit writer(const header_fields& fields = header_fields());

    // The document's XML start (its prefix); end receives the position the
    // scan takes for its end: after "</ROW></ROWSET>".
    std::int64_t document(const std::string& xml_utf8, const document_form& form, std::int64_t* end = nullptr);
    std::int64_t document(const std::string& xml_utf8, std::int64_t* end = nullptr)
    {
        return document(xml_utf8, document_form(), end);
    }
    std::int64_t zeros(std::size_t count);
    std::int64_t raw(const bytes& b);

    std::int64_t offset() const { return static_cast<std::int64_t>(out.size()); }
    const bytes& data() const { return out; }
    bytes& data() { return out; }
    bool write_file(const std::string& path) const;

private:
    bytes out;
};

// --- exports --------------------------------------------------------------------------

// One table of an export.
struct export_table {
    std::string owner;
    std::string name;
    std::vector<column> columns;
    // Whole row records.
    std::vector<bytes> rows;
    // The keys of the table's TABLE_T document in the master table.
    std::vector<key> keys;
    // What the master table records as written; rows.size() when none.
    std::optional<std::int64_t> completed_rows;
    // False: the table has no data, hence no stream document, and only the
    // master table's TABLE_T document tells of it.
    bool has_data = true;
};

// A dump laid out as an export writes it: a header block that names the
// master table and says where it lies; each table's data in blocks of its
// own (a block header, its stream document just before the next block
// boundary, its rows, zero bytes up to a block boundary); and the master
// table, with a TABLE_DATA row per table (its COMPLETED_ROWS) and a TABLE
// row per table whose XML_CLOB is the table's UTF-16 TABLE_T document, in
// the LOB layout of the export's own rows.
class export_writer {
public:
    static constexpr const char* master_owner = "SYS";
    static constexpr const char* master_name = "SYS_EXPORT_SCHEMA_01";

    // Where one table's data (or the master table's) lies.
    struct unit {
        std::int64_t start = 0;     // the block header
        std::int64_t document = 0;  // the stream document's prefix
        std::int64_t rows = 0;      // the first record
        std::int64_t rows_end = 0;  // after the last record
        std::int64_t end = 0;       // the next block boundary
    };

    explicit export_writer(std::uint32_t block_size = 512, const header_fields& fields = header_fields());

    // A table's data; nothing for a table without data.
    unit table(const export_table& t);
    // The master table, for the tables given; the header then declares it.
    unit master(const std::vector<export_table>& tables);
    // The tables, then their master table.
    static bytes whole(const std::vector<export_table>& tables, std::uint32_t block_size = 512);

    // The columns of the master table, and its rows for the tables.
    static std::vector<column> master_columns();
    static std::vector<bytes> master_rows(const std::vector<export_table>& tables);

    std::uint32_t block_size() const { return block; }
    std::int64_t offset() const { return w.offset(); }
    const bytes& data() const { return w.data(); }

private:
    unit stream_unit(const std::string& owner, const std::string& name, const std::vector<column>& columns,
                     const std::vector<bytes>& rows);
    void pad_to_block();

    std::uint32_t block;
    header_fields fields;
    writer w;
};

// The writer's calls for dumps too large to hold in memory: the bytes go to
// a file in batches of about batch bytes instead of into one vector. The
// same calls give the same bytes and offsets as writer. A failed write is
// kept: later calls still count their bytes, and close() tells it.
class file_writer {
public:
    explicit file_writer(const std::string& path, const header_fields& fields = header_fields(),
                         std::size_t batch = std::size_t(1) << 20);
    ~file_writer();
    file_writer(const file_writer&) = delete;
    file_writer& operator=(const file_writer&) = delete;

    std::int64_t document(const std::string& xml_utf8, const document_form& form, std::int64_t* end = nullptr);
    std::int64_t document(const std::string& xml_utf8, std::int64_t* end = nullptr)
    {
        return document(xml_utf8, document_form(), end);
    }
    std::int64_t zeros(std::size_t count);
    std::int64_t raw(const bytes& b) { return raw(b.data(), b.size()); }
    std::int64_t raw(const std::uint8_t* data, std::size_t count);

    // Every byte appended so far, written out or not.
    std::int64_t offset() const { return written + static_cast<std::int64_t>(pending.size()); }
    // No write has failed so far.
    bool ok() const { return good; }
    // Writes what is left and closes the file; true when every byte reached
    // it. A second close() tells the same; bytes appended after close()
    // count as a failed write.
    bool close();

private:
    void flush();

    int fd = -1;
    std::size_t batch;
    bytes pending;
    std::int64_t written = 0;
    bool good = false;
};

}  // namespace ora_pump
