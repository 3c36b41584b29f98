// Builds classic export dumps in memory for the reader's tests and the scan
// benchmark. Every call returns the offset it wrote at, so that tests compute
// the positions they expect instead of hard-coding them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

class ora_dump_writer {
public:
    // The classic header. pre_number is the 3-byte number before the header
    // token (for version 7, its bytes 1-2 are the database character set).
    // From version 8 on, filler_lines (four) follow the tablespace token's
    // line feed, then the six character-set bytes (big-endian ids), the
    // marker and, after marker 0x0001, the 8-byte declared length. A line
    // feed then ends the header before the first statement line.
    struct header_fields {
        std::uint32_t pre_number = 0x030001;
        std::string header_token = "EXPORT:V12.01.00";
        std::string user_token = "DSYSTEM";
        std::string tablespace_token = "RUSERS";
        std::vector<std::string> filler_lines = {"8192", "0", "72", "0"};
        std::uint16_t six_bytes[3] = {0x0001, 0x00B2, 0x07D0};
        std::uint16_t marker = 0x0001;
        std::uint64_t declared_length = 0;
        // Bytes after the marker part and before the line feed that starts
        // the first statement line.
        std::vector<std::uint8_t> filler = std::vector<std::uint8_t>(6, 0);
    };
    std::int64_t header(const header_fields& fields);
    std::int64_t header(std::uint32_t pre_number, const std::string& header_token,
                        const std::string& user_token, const std::string& tablespace_token,
                        const std::vector<std::string>& filler_lines, const std::uint16_t six_bytes[3],
                        std::uint16_t marker, std::uint64_t declared_length);

    // The text and a line feed; the variants end with a NUL or with nothing.
    std::int64_t line(const std::string& text);
    std::int64_t line_nul(const std::string& text);
    std::int64_t line_bare(const std::string& text);
    std::int64_t raw(const std::vector<std::uint8_t>& bytes);
    std::int64_t raw(const std::string& bytes);

    // A generation-10 field description block: the column count n, the
    // (code, size) pairs (each followed by 4 bytes for codes 1 and 96), the
    // LOB count, the skip flag, the given row bytes and FF FF. Two-byte
    // fields are little-endian.
    struct column {
        std::uint16_t code;
        std::uint16_t size;
        std::uint8_t extra[4] = {0, 0, 0, 0};  // written after codes 1 and 96
    };
    std::int64_t block_gen10(const std::vector<column>& columns, const std::vector<std::uint8_t>& rows,
                             std::uint16_t lob_count = 0, std::uint16_t skip_flag = 0);

    std::int64_t offset() const { return static_cast<std::int64_t>(bytes.size()); }
    const std::vector<std::uint8_t>& data() const { return bytes; }
    std::string str() const { return std::string(bytes.begin(), bytes.end()); }
    // Writes the bytes to a file; false when it cannot be written.
    bool write_file(const std::string& path) const;

private:
    void u16le(std::uint16_t v);
    void u16be(std::uint16_t v);
    std::vector<std::uint8_t> bytes;
};
