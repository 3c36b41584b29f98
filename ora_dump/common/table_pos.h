// Where one table lies in a dump: found by the scans, saved in and reloaded
// from the dump context file, read by the dump tables.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

class ora_ctx_reader;

struct table_pos {
    struct index_record {
        std::int64_t start = 0;
        std::int64_t end = 0;
        bool unique = false;
        bool operator==(const index_record&) const = default;
    };

    table_pos();

    // Classic: the table's CREATE TABLE line.
    std::int64_t start_pos = 0;
    // Classic: the next table's CREATE TABLE or TABLE line, or the dump's
    // length.
    std::int64_t end_pos = 0;
    // Classic: each INSERT INTO line; Data Pump: the metadata document before
    // each data partition.
    std::vector<std::int64_t> v_data_start_pos;
    // Data Pump only: the first record marker of each partition, and where
    // the table's data stops.
    std::vector<std::int64_t> v_data_end_pos;
    std::vector<std::int64_t> v_block_end_pos;
    // Data Pump only: owner, a point and the table name.
    std::wstring str_full_name;
    // Data Pump only: the rows the export wrote of the table, as its master
    // table records them; -1 when it records none.
    std::int64_t export_rows = -1;
    // Where the table's record counter starts.
    std::int32_t record_base = 0;
    // Classic: one per CREATE INDEX line.
    std::vector<index_record> index_records;
    // Classic: one {start, end} per ALTER TABLE line.
    std::vector<std::pair<std::int64_t, std::int64_t>> alters;

    bool operator==(const table_pos&) const = default;

    // Appends the record in the context file's layout at offset of the
    // file image; gives the next offset.
    std::int64_t save(std::vector<std::uint8_t>& file, std::int64_t offset) const;
    static std::int64_t save_int64_array(std::vector<std::uint8_t>& file, std::int64_t offset,
                                         const std::vector<std::int64_t>& list);
    // Reads the record at offset into this (empty) record; gives the next
    // offset, or -1 when the file does not hold a whole, sound record.
    std::int64_t load(ora_ctx_reader& file, std::int64_t offset);
    static std::int64_t load_int64_array(ora_ctx_reader& file, std::int64_t offset, std::vector<std::int64_t>& list);
};

// Little-endian reading of a context file image with every length checked
// against the bytes left, so that nothing is allocated from a damaged count.
class ora_ctx_reader {
public:
    ora_ctx_reader(const std::uint8_t* data, std::size_t size) : data(data), length(size) {}

    std::size_t size() const { return length; }
    bool has(std::int64_t offset, std::uint64_t count) const
    {
        return offset >= 0 && static_cast<std::uint64_t>(offset) <= length &&
               count <= length - static_cast<std::uint64_t>(offset);
    }
    // Each gives the next offset, or -1 when the bytes are not there.
    std::int64_t u8(std::int64_t offset, std::uint8_t& v) const;
    std::int64_t u16(std::int64_t offset, std::uint16_t& v) const;
    std::int64_t u32(std::int64_t offset, std::uint32_t& v) const;
    std::int64_t u64(std::int64_t offset, std::uint64_t& v) const;
    std::int64_t i64(std::int64_t offset, std::int64_t& v) const;
    std::int64_t text(std::int64_t offset, std::string& v) const;
    // A count of items of item_size bytes each: -1 unless they all fit.
    std::int64_t count(std::int64_t offset, std::uint32_t& n, std::uint64_t item_size) const;
    const std::uint8_t* at(std::int64_t offset) const { return data + offset; }

private:
    const std::uint8_t* data;
    std::size_t length;
};

// Little-endian writing into a context file image.
namespace ora_ctx_writer {
std::int64_t u8(std::vector<std::uint8_t>& file, std::int64_t offset, std::uint8_t v);
std::int64_t u16(std::vector<std::uint8_t>& file, std::int64_t offset, std::uint16_t v);
std::int64_t u32(std::vector<std::uint8_t>& file, std::int64_t offset, std::uint32_t v);
std::int64_t u64(std::vector<std::uint8_t>& file, std::int64_t offset, std::uint64_t v);
// A text: a u16 byte count and the bytes. The caller keeps texts within
// 65,535 bytes.
std::int64_t text(std::vector<std::uint8_t>& file, std::int64_t offset, const std::string& v);
}  // namespace ora_ctx_writer
