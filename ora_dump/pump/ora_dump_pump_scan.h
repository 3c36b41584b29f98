// Data Pump dumps: the fixed header, the metadata documents and the scan
// that finds every table's document and data partitions.
//
// A Data Pump dump has no text header: a few bytes at fixed offsets tell the
// version, whether the file is the first part of a multi-file dump, the
// character set and whether it is compressed or encrypted. Its tables are
// described by XML documents stored among the row data; the scan finds them
// by their "<?xml version" start, in 8-bit or big-endian UTF-16 text.
#pragma once

#include "ora_dump_file.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

class ora_dump_reader;
class ora_dump_stream;

namespace ora_dump_pump {

// The header is this long at least.
constexpr std::int64_t header_size = 52;
// No metadata document is longer.
constexpr std::int64_t max_document = std::int64_t(64) << 20;

struct header {
    int major = 0;
    int minor = 0;
    unsigned part = 0;
    unsigned charset_id = 0;
    std::uint8_t flags = 0;
    // The two character-set bytes up to the first zero: the dump's header
    // text, which tells the tables that the dump is no classic one.
    std::string export_header;
};

// Reads the header bytes at their offsets.
//
// An unsupported version, a file too short to hold the header and a
// non-leading part of a multi-file dump are refused as the reader refuses a
// dump: progress -1 and the level-1 message through the error reporter,
// then false (the reporter normally does not return). A compressed or an
// encrypted dump raises the level-1 message to the caller. Otherwise the
// reader's character-set class is set, the shown lines are sent and true is
// given.
bool read_header(ora_dump_reader& reader, ora_dump_stream& stream, header& out);

// Appends the text of the document whose prefix starts at start and which
// ends before end, without its chunk headers, and then two zero bytes.
// Requires start + 4 <= end <= dump_length and a document no longer than
// max_document; a malformed chunk header raises message 0 at level 1 as
// well. False when the data ended inside the document.
bool extract_xml(ora_dump_stream& stream, std::int64_t start, std::int64_t end, std::int64_t dump_length,
                 std::vector<std::uint8_t>& out);

// The UTF-8 text of an extracted document: 8-bit text up to its first zero
// by the dump's character-set class (class 0 through its code page, else
// UTF-8), or big-endian UTF-16 text. Invalid bytes become U+FFFD.
std::string document_text(const dump_info& info, const std::vector<std::uint8_t>& buffer);

// The scan: walks the whole stream for metadata documents and fills the
// context's table map, global indexes and relationships. Failures go to the
// error reporter (progress -1); the context's complete flag is set only
// when the walk ended normally (also at missing closing tags, or at the end
// of the data inside a document).
void scan(ora_dump_reader& reader, ora_dump_stream& stream, ora_dump_file::context& context);

// Whether the Data Pump lists of a loaded context fit a dump of that
// length: parallel partition lists, a block end for every partition, and
// every position inside the dump with each document start before its end.
bool context_fits(const ora_dump_file::context& context, std::int64_t dump_length);

// The table map key for a table name and owner: the bare name, unless
// merging, or unless another owner's table already holds it.
std::wstring table_key(const ora_table_map& tables, const std::wstring& name, const std::wstring& full_name,
                       bool merge);

}  // namespace ora_dump_pump
