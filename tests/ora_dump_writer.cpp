#include "ora_dump_writer.h"

#include <fstream>

void ora_dump_writer::u16le(std::uint16_t v)
{
    bytes.push_back(static_cast<std::uint8_t>(v & 0xFF));
    bytes.push_back(static_cast<std::uint8_t>(v >> 8));
}

void ora_dump_writer::u16be(std::uint16_t v)
{
    bytes.push_back(static_cast<std::uint8_t>(v >> 8));
    bytes.push_back(static_cast<std::uint8_t>(v & 0xFF));
}

std::int64_t ora_dump_writer::header(const header_fields& f)
{
    std::int64_t at = offset();
    bytes.push_back(static_cast<std::uint8_t>(f.pre_number >> 16));
    bytes.push_back(static_cast<std::uint8_t>(f.pre_number >> 8));
    bytes.push_back(static_cast<std::uint8_t>(f.pre_number));
    raw(f.header_token + "\n");
    raw(f.user_token + "\n");
    raw(f.tablespace_token + "\n");
    // "EXPORT:V07..." has neither the line-feed part nor the marker.
    bool v7 = f.header_token.compare(0, 10, "EXPORT:V07") == 0;
    if (!v7) {
        for (const std::string& l : f.filler_lines)
            raw(l + "\n");
        for (std::uint16_t id : f.six_bytes)
            u16be(id);
        u16be(f.marker);
        if (f.marker == 0x0001)
            for (int shift = 56; shift >= 0; shift -= 8)
                bytes.push_back(static_cast<std::uint8_t>(f.declared_length >> shift));
    }
    raw(f.filler);
    bytes.push_back('\n');
    return at;
}

std::int64_t ora_dump_writer::header(std::uint32_t pre_number, const std::string& header_token,
                                     const std::string& user_token, const std::string& tablespace_token,
                                     const std::vector<std::string>& filler_lines,
                                     const std::uint16_t six_bytes[3], std::uint16_t marker,
                                     std::uint64_t declared_length)
{
    header_fields f;
    f.pre_number = pre_number;
    f.header_token = header_token;
    f.user_token = user_token;
    f.tablespace_token = tablespace_token;
    f.filler_lines = filler_lines;
    for (int i = 0; i < 3; ++i)
        f.six_bytes[i] = six_bytes[i];
    f.marker = marker;
    f.declared_length = declared_length;
    return header(f);
}

std::int64_t ora_dump_writer::line(const std::string& text)
{
    std::int64_t at = raw(text);
    bytes.push_back('\n');
    return at;
}

std::int64_t ora_dump_writer::line_nul(const std::string& text)
{
    std::int64_t at = raw(text);
    bytes.push_back(0);
    return at;
}

std::int64_t ora_dump_writer::line_bare(const std::string& text)
{
    return raw(text);
}

std::int64_t ora_dump_writer::raw(const std::vector<std::uint8_t>& b)
{
    std::int64_t at = offset();
    bytes.insert(bytes.end(), b.begin(), b.end());
    return at;
}

std::int64_t ora_dump_writer::raw(const std::string& b)
{
    std::int64_t at = offset();
    bytes.insert(bytes.end(), b.begin(), b.end());
    return at;
}

std::int64_t ora_dump_writer::block_gen10(const std::vector<column>& columns, const std::vector<std::uint8_t>& rows,
                                          std::uint16_t lob_count, std::uint16_t skip_flag)
{
    std::int64_t at = offset();
    u16le(static_cast<std::uint16_t>(columns.size()));
    for (const column& c : columns) {
        u16le(c.code);
        u16le(c.size);
        if (c.code == 1 || c.code == 96)
            bytes.insert(bytes.end(), c.extra, c.extra + 4);
    }
    u16le(lob_count);
    u16le(skip_flag);
    raw(rows);
    u16le(0xFFFF);
    return at;
}

bool ora_dump_writer::write_file(const std::string& path) const
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out)
        return false;
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}
