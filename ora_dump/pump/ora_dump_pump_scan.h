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
    // The export's block size, and where its master table lies: the
    // block (counted from 1) its data begins at and its length in bytes;
    // 0 where the header gives none that can be right.
    std::uint32_t block_size = 0;
    std::uint32_t master_block = 0;
    std::uint64_t master_length = 0;
    // The master table, as the job's name gives it; empty when none.
    std::wstring master_owner;
    std::wstring master_name;

    // Whether the header declares a master table in this file: its name,
    // the block size and its place.
    bool declares_master() const;
    // The master table's first byte and the end of the file that holds it,
    // as the header declares them.
    std::int64_t master_start() const;
    std::int64_t declared_end() const;
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
//
// Row data is stepped over record by record, as the row decoder frames it,
// so that text inside a value is never taken for a document; where the
// framing is lost the scan searches on from there. Only the master table's
// rows are searched, for the documents the export keeps in them. The
// master table's rows also give the rows the export wrote of each table.
//
// When the header declares a master table, the dump must hold it whole and
// reach the length the header declares; a dump that ends before is
// reported as truncated (with the tables found whole) and the context is
// marked so.
void scan(ora_dump_reader& reader, ora_dump_stream& stream, ora_dump_file::context& context,
          const header& declared = header());

// Where what follows a partition's last row is what the export writes
// there: zero bytes, then the end of the data, a new block (block_size 0:
// unknown), or a metadata document behind its prefix or chunk header.
// Gives -1 when it is, else the position of the first byte that is none of
// these. The stream's position is lost.
std::int64_t unexpected_after_rows(ora_dump_stream& stream, std::int64_t pos, std::int64_t block_size);

// Whether the Data Pump lists of a loaded context fit a dump of that
// length: parallel partition lists, a block end for every partition, and
// every position inside the dump with each document start before its end.
bool context_fits(const ora_dump_file::context& context, std::int64_t dump_length);

// The table map key for a table name and owner: the bare name, unless
// merging, or unless another owner's table already holds it.
std::wstring table_key(const ora_table_map& tables, const std::wstring& name, const std::wstring& full_name,
                       bool merge);

}  // namespace ora_dump_pump
