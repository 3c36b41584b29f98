#include "ora_dump_pump_scan.h"

#include "error_handler.h"
#include "ora_dump_parser.h"
#include "ora_dump_pump_master.h"
#include "ora_dump_pump_reader_th.h"
#include "ora_dump_reader.h"
#include "ora_dump_stream.h"
#include "ora_dump_table.h"
#include "tk_exception.h"
#include "tk_format.h"
#include "tk_logger.h"
#include "tk_string.h"
#include "tk_unicode.h"

#include <cstring>
#include <map>
#include <set>

namespace ora_dump_pump {

namespace {

// A line the user sees: logged, and sent to the wizard's log box.
void show(const std::string& text)
{
    TK_TRACE(3, "%s", text);
    ora_dump_reader::send_log(ora_log_kind::shown, text);
}

void refuse(ora_dump_reader& reader, int message)
{
    reader.set_ui_progress(-1);
    error_handler::instance()->handle(tk_exception(ora_dump_reader::message(message), 1), false);
}

[[noreturn]] void malformed()
{
    throw tk_exception(ora_dump_reader::message(0), 1);
}

bool read_at(ora_dump_stream& stream, std::int64_t offset, std::uint8_t* out, std::size_t count)
{
    stream.clear();
    return stream.seek(offset) && stream.read(out, count) == count;
}

std::uint32_t be32(const std::uint8_t* p)
{
    return static_cast<std::uint32_t>(p[0]) << 24 | static_cast<std::uint32_t>(p[1]) << 16 |
           static_cast<std::uint32_t>(p[2]) << 8 | p[3];
}

// The header bytes read: the fixed fields and the job's name after them.
constexpr std::size_t header_read = 512;

constexpr char xml_version[] = "?xml version";
constexpr std::size_t xml_version_size = sizeof xml_version - 1;
constexpr char rowset_row[] = "<ROWSET><ROW>";
constexpr std::size_t rowset_row_size = sizeof rowset_row - 1;
constexpr char closing[] = "</ROW></ROWSET>";
constexpr std::size_t closing_size = sizeof closing - 1;
constexpr std::size_t look_ahead = 128;

// Where the ASCII text occurs as 16-bit little-endian units from byte 1 of
// bytes on (which is how big-endian UTF-16 text reads one byte after its
// first character's high byte); -1 when nowhere.
std::ptrdiff_t find_units(const std::uint8_t* bytes, std::size_t count, const char* text, std::size_t size,
                          bool ignore_case)
{
    if (count < 1)
        return -1;
    for (std::size_t at = 1; at + 2 * size <= count; at += 2) {
        bool match = true;
        for (std::size_t k = 0; k < size && match; ++k) {
            char c = static_cast<char>(bytes[at + 2 * k]);
            match = bytes[at + 2 * k + 1] == 0 && (ignore_case ? tk_ascii_lower(c) == tk_ascii_lower(text[k]) : c == text[k]);
        }
        if (match)
            return static_cast<std::ptrdiff_t>(at);
    }
    return -1;
}

// Files the primary and unique keys of a TABLE_T document met among rows
// as a constraint document's would be: under the table's owner and name,
// merged by name with those already held; and, unless the document is the
// table's definition (which gives them when the table is opened), its
// foreign keys that no document gave before.
void file_row_keys(ora_dump_file::context& context, std::set<std::wstring>& known_fks, const std::string& text,
                   const std::wstring& owner, const std::wstring& name, bool definition)
{
    udb_indexes keys;
    ora_dump_parser parser;
    parser.parse_table_keys(text.c_str(), text.size() + 1, keys);
    if (!keys.empty()) {
        udb_indexes& held = context.global_indexes[{owner, name}];
        for (const udb_index& k : keys)
            held.push_back(k);
    }
    if (definition)
        return;
    for (const t_relationship& r : parser.get_relationships())
        if (known_fks.insert(r.identity()).second)
            context.relationships.push_back(r);
}

// What the walk learns beyond the table map, for the check of the dump's
// end.
struct walk_state {
    // The table whose data the walk met last.
    std::wstring current;
    // Per table, where the rows of its last partition ended; and the tables
    // whose rows run past the end of the data.
    std::map<std::wstring, std::int64_t> data_end;
    std::set<std::wstring> cut;
    // A table whose rows were searched rather than walked, while no
    // document has followed them: where they end is not known.
    std::wstring unverified;
    // The master table the header names: found, where its document starts,
    // and what its rows tell.
    bool master_found = false;
    std::int64_t master_start = -1;
    master_rows master;
};

// The master table of a dump whose header names none: a stream table with
// the columns every export's master table has. Its rows are searched for
// the documents kept in them, but their counts are not taken.
bool looks_like_master(const udb_schema& schema)
{
    for (const wchar_t* column : {L"PROCESS_ORDER", L"OBJECT_TYPE", L"OBJECT_SCHEMA", L"OBJECT_NAME",
                                  L"COMPLETED_ROWS", L"XML_CLOB"})
        if (schema.get_field_idx(column) < 0)
            return false;
    return true;
}

// How the walk over one partition's rows ended: where, and whether the
// framing was lost there (the last record runs past the data, or cannot
// be framed).
struct rows_walk {
    std::int64_t end = 0;
    bool lost = false;
    bool ran_off = false;
};

// The end of an ordinary record by its length, when a record, the end of
// the data or a zero byte (the rows' end) stands there; -1 otherwise, and
// for every other kind of record. The row decoder reads a sound record to
// that very end.
std::int64_t end_by_length(ora_dump_stream& stream, std::int64_t pos, std::int64_t size)
{
    if (stream.get() != 0x3C)
        return -1;
    const int high = stream.get();
    const int low = stream.get();
    if (low < 0)
        return -1;
    const std::int64_t end = pos + (high << 8 | low);
    if (end < pos + 4 || end > size)
        return -1;
    stream.seek(end);
    const int b = stream.peek();
    stream.clear();
    return b <= 0 || ora_dump_pump_reader_th::is_record_marker(b) ? end : -1;
}

// Steps over the rows of a partition from its first record, record by
// record as the row decoder frames them.
rows_walk walk_rows(ora_dump_reader& reader, ora_dump_pump_reader_th& decoder, ora_dump_stream& stream,
                    const udb_schema& schema, std::int64_t first)
{
    const std::int64_t size = stream.size();
    std::int64_t pos = first;
    for (std::uint64_t n = 0;; ++n) {
        if ((n & 1023) == 0) {
            reader.set_datapump_pos(pos);
            reader.check_stop();
        }
        stream.clear();
        stream.seek(pos);
        // Most records are ordinary ones, which their length frames.
        if (const std::int64_t end = end_by_length(stream, pos, size); end >= 0) {
            stream.seek(end);
            if (end == size || stream.peek() == 0)
                return {end, false, false};
            pos = end;
            continue;
        }
        stream.clear();
        stream.seek(pos);
        std::int64_t next = -1;
        try {
            next = decoder.skip_record(stream, schema);
        } catch (const tk_exception& e) {
            TK_TRACE(2, "The rows at %I64d cannot be framed: %s", pos, e.message);
            return {pos, true, e.message == ora_th_messages::eof_reached};
        }
        if (next <= pos)
            return {pos, true, false};
        stream.clear();
        stream.seek(next);
        if (decoder.check_for_eof(stream))
            return {next, false, false};
        pos = next;
    }
}

// The columns of a stream document, as its rows are framed.
bool stream_columns(const std::string& text, ora_dump_table& holder)
{
    ora_dump_parser parser;
    return parser.parse_table_description(text.c_str(), text.size() + 1, holder, nullptr);
}

// Whether a '<' of a metadata document, 8-bit or big-endian UTF-16, stands
// among the first bytes at p: after a one-piece prefix or a chunk header.
bool document_begins(const std::uint8_t* p, std::size_t count)
{
    for (std::size_t k = 0; k < 6 && k < count; ++k) {
        if (k + 5 <= count && p[k] == '<' && std::memcmp(p + k + 1, "?xml", 4) == 0)
            return true;
        if (k + 11 <= count && p[k] == 0 && find_units(p + k, 11, "<?xml", 5, true) == 1)
            return true;
    }
    return false;
}

// One pass over the dump; raises what the reporter is to see.
void walk(ora_dump_reader& reader, ora_dump_stream& stream, ora_dump_file::context& context, const dump_info& info,
          const header& declared, walk_state& state)
{
    const std::int64_t length = info.dump_length;
    const std::int64_t block = info.pump_block_size;
    std::wstring& current = state.current;
    // Big-endian UTF-16 closing tags, from the low byte of their '<' to that
    // of their last '>': what follows the document is not always a zero.
    std::uint8_t units_closing[2 * closing_size - 1];
    for (std::size_t k = 0; k < closing_size; ++k) {
        units_closing[2 * k] = static_cast<std::uint8_t>(closing[k]);
        if (k + 1 < closing_size)
            units_closing[2 * k + 1] = 0;
    }
    // Tables whose definition so far is a TABLE_T document met among rows:
    // a table's own document replaces it.
    std::set<std::wstring> defined_in_rows;
    // The foreign keys the walk has filed.
    std::set<std::wstring> known_fks;
    // The scan's own row decoder: it frames the rows it steps over.
    ora_dump_pump_reader_th decoder;
    decoder.set_dump_info(info);
    decoder.reset_skip_flag();
    std::vector<std::uint8_t> buffer;
    std::uint8_t ahead[look_ahead];
    for (;;) {
        std::int64_t scan_pos = 0;
        if (!seek_to_symbols(stream, "<", 1, scan_pos))
            return;
        reader.set_datapump_pos(scan_pos);
        reader.check_stop();
        const std::size_t got = stream.read(ahead, look_ahead);
        stream.clear();
        bool utf16 = false;
        if (got >= xml_version_size && std::memcmp(ahead, xml_version, xml_version_size) == 0) {
            utf16 = false;
        } else if (got >= 1 + 2 * xml_version_size &&
                   find_units(ahead, 1 + 2 * xml_version_size, xml_version, xml_version_size, true) == 1) {
            utf16 = true;
        } else {
            // Searched rows (the master table's, or rows that could not be
            // framed) are full of 0x3C bytes: going back costs no read.
            seek_to_pos(stream, scan_pos);
            continue;
        }
        state.unverified.clear();
        if (!current.empty()) {
            auto it = context.tables.find(current);
            if (it != context.tables.end())
                it->second.v_block_end_pos.push_back(scan_pos - 2);
        }
        // The opening tags must belong to this document, not to one that
        // starts within the look-ahead.
        std::size_t own = got;
        if (utf16) {
            const std::ptrdiff_t next = find_units(ahead + 2, got - 2, "<?xml", 5, true);
            if (next >= 0)
                own = static_cast<std::size_t>(next) + 2;
        } else if (const void* next = ::memmem(ahead + 1, got - 1, "<?xml", 5)) {
            own = static_cast<std::size_t>(static_cast<const std::uint8_t*>(next) - ahead);
        }
        std::ptrdiff_t row_at;
        if (utf16) {
            row_at = find_units(ahead, own, rowset_row, rowset_row_size, false);
        } else {
            const void* hit = ::memmem(ahead, own, rowset_row, rowset_row_size);
            row_at = hit ? static_cast<const std::uint8_t*>(hit) - ahead : -1;
        }
        if (row_at < 0) {
            // Passed over; a document that follows within the look-ahead
            // must still be found.
            seek_to_pos(stream, scan_pos);
            continue;
        }
        // The closing tags are searched from just past the opening ones, so
        // that a short document ends at its own closing tags.
        const std::int64_t after_open =
            scan_pos + row_at + static_cast<std::int64_t>(utf16 ? 2 * rowset_row_size : rowset_row_size);
        seek_to_pos(stream, after_open);
        std::int64_t doc_end = 0;
        bool found = utf16 ? seek_to_symbols(stream, units_closing, sizeof units_closing, doc_end)
                           : seek_to_symbols(stream, closing, closing_size, doc_end);
        if (!found) {
            TK_TRACE(1, "seek_to_symbols(__XML_END) failed");
            return;
        }
        reader.set_progress(stream.tell(), length);
        const std::int64_t xml_start = scan_pos - (utf16 ? 6 : 5);
        show(tk_format("XML start pos (stage 1): %I64d\n", scan_pos));
        buffer.clear();
        if (xml_start < 0 || xml_start + 4 > doc_end)
            continue;  // no room for a prefix: no document of ours
        if (!extract_xml(stream, xml_start, doc_end, length, buffer))
            return;
        std::string text = document_text(info, buffer);
        std::wstring name, owner;
        int kind = ora_dump_parser::kind_none;
        {
            ora_dump_parser parser;
            parser.set_global_indexes(&context.global_indexes);
            name = parser.parse_table_name(text.c_str(), text.size() + 1);
            owner = parser.get_table_owner();
            kind = parser.get_kind();
            for (const t_relationship& r : parser.get_relationships()) {
                known_fks.insert(r.identity());
                context.relationships.push_back(r);
            }
        }
        if (name.empty())
            continue;
        const std::wstring full_name = owner + L"." + name;
        const std::wstring key = table_key(context.tables, name, full_name, reader.merge_schema);
        table_pos& tp = context.tables[key];
        tp.str_full_name = full_name;
        TK_WTRACE(1, L"Table: %s/%s", key, full_name);
        // A TABLE_T document after another table's rows, as the export's
        // master table holds one per exported table.
        const bool in_rows = !current.empty() && current != key;
        if (kind == ora_dump_parser::kind_table && in_rows) {
            // The rows' document only adds keys: the block end noted for it
            // is none, and a definition the table has stays.
            auto it = context.tables.find(current);
            if (it != context.tables.end() && !it->second.v_block_end_pos.empty() &&
                it->second.v_block_end_pos.back() == scan_pos - 2)
                it->second.v_block_end_pos.pop_back();
            file_row_keys(context, known_fks, text, owner, name, tp.start_pos == 0);
            if (tp.start_pos == 0) {
                // A table without data of its own (an empty one): its
                // columns come from this document.
                tp.start_pos = xml_start;
                tp.end_pos = doc_end;
                defined_in_rows.insert(key);
            }
            seek_to_pos(stream, doc_end);
            continue;
        }
        if (kind != ora_dump_parser::kind_stream_table) {
            defined_in_rows.erase(key);
            tp.start_pos = xml_start;
            tp.end_pos = doc_end;
            TK_TRACE(1, ">>> start_pos=%I64d, end_pos=%I64d", xml_start, doc_end);
            TK_TRACE(1, "open_datapump: start_pos=%I64d, end_pos=%I64d", xml_start, doc_end);
            seek_to_pos(stream, doc_end);
            continue;
        }
        if (tp.start_pos == 0 || defined_in_rows.erase(key) != 0) {
            tp.start_pos = xml_start;
            tp.end_pos = doc_end;
            TK_TRACE(1, ">> start_pos=%I64d, end_pos=%I64d", xml_start, doc_end);
        }
        seek_to_pos(stream, doc_end);
        int b = 0;
        while ((b = stream.get()) == 0) {
        }
        if (b < 0) {
            stream.clear();
            seek_to_pos(stream, stream.size());
            continue;
        }
        const std::int64_t first = stream.tell() - 1;
        if (!ora_dump_pump_reader_th::is_record_marker(b)) {
            // What the export writes after a table without rows; anything
            // else is a first record whose marker was damaged, which the
            // table reports when its rows are read.
            if (unexpected_after_rows(stream, first, block) < 0) {
                seek_to_pos(stream, first + 1);
                continue;
            }
            TK_TRACE(2, "No record marker at %I64d after the document of %s", first, tk_wide_to_utf8(key));
        } else {
            TK_TRACE(1, "Got stop-symbol: '%c'", static_cast<char>(b));
        }
        tp.v_data_start_pos.push_back(xml_start);
        TK_TRACE(1, "Got v_data_start_pos=%I64d/%I64d", xml_start, tp.v_data_start_pos.back());
        tp.v_data_end_pos.push_back(first);
        TK_TRACE(1, "Got v_data_end_pos=%I64d/%I64d", first, tp.v_data_end_pos.back());
        current = key;
        TK_TRACE(1, "open_datapump: start_pos=%I64d, end_pos=%I64d", tp.start_pos, tp.end_pos);

        // The rows: stepped over by their framing, or searched.
        ora_dump_table columns(nullptr, false, key);
        const bool framed = ora_dump_pump_reader_th::is_record_marker(b) && stream_columns(text, columns);
        const bool named_master =
            !declared.master_name.empty() && owner == declared.master_owner && name == declared.master_name;
        if (framed && named_master) {
            state.master_found = true;
            state.master_start = xml_start;
            state.master = read_master_rows(decoder, stream, columns.schema, first);
            state.data_end[key] = state.master.rows_end;
            if (state.master.ran_off)
                state.cut.insert(key);
        }
        if (!framed || named_master || (declared.master_name.empty() && looks_like_master(columns.schema))) {
            if (!named_master)
                state.unverified = key;
            seek_to_pos(stream, first + 1);
            continue;
        }
        const rows_walk rows = walk_rows(reader, decoder, stream, columns.schema, first);
        state.data_end[key] = rows.end;
        if (rows.ran_off)
            state.cut.insert(key);
        // Where the framing was lost the search goes on from the record
        // that could not be framed.
        seek_to_pos(stream, rows.lost && !rows.ran_off ? rows.end + 1 : rows.end);
    }
}

// The rows the master table records of each table, onto the tables.
void take_completed_rows(ora_dump_file::context& context, const master_rows& master)
{
    for (auto& [key, tp] : context.tables) {
        auto found = master.completed_rows.find(tp.str_full_name);
        if (found != master.completed_rows.end())
            tp.export_rows = found->second;
    }
}

// Whether the dump ends before the export's end, by what its header
// declares; whole receives the number of tables whose data lies wholly in
// the file.
bool ends_early(const ora_dump_file::context& context, const header& declared, const walk_state& state,
                std::int64_t size, std::size_t& whole)
{
    whole = 0;
    if (!declared.declares_master())
        return false;
    bool early = !state.master_found || state.master.ran_off;
    // The header's extent counts only where the master table lies inside
    // it: otherwise the header is read wrong, and says nothing.
    const std::int64_t start = declared.master_start();
    const std::int64_t end = declared.declared_end();
    if (state.master_found && state.master_start >= start && state.master_start < end && size < end)
        early = true;
    if (!early)
        return false;
    const std::int64_t block = declared.block_size;
    for (const auto& [key, tp] : context.tables) {
        if (state.cut.count(key) != 0 || key == state.unverified)
            continue;
        auto data = state.data_end.find(key);
        // The data of a table fills its blocks: a file that ends inside the
        // last of them may have lost rows.
        if (data != state.data_end.end() && (data->second + block - 1) / block * block > size)
            continue;
        ++whole;
    }
    return true;
}

}  // namespace

bool read_header(ora_dump_reader& reader, ora_dump_stream& stream, header& out)
{
    TK_TRACE(2, "ora_dump_reader::open_datapump");
    reader.set_ui_progress(0);
    // The fixed fields, and the job's name after them.
    std::uint8_t b[header_read] = {};
    const std::size_t have = static_cast<std::size_t>(std::min<std::int64_t>(stream.size(), header_read));
    if (stream.size() < header_size || !read_at(stream, 0, b, have)) {
        TK_TRACE(3, "The dump is shorter than its header");
        refuse(reader, 0);
        return false;
    }
    stream.clear();
    out.major = b[0];
    out.minor = b[1];
    // 5.1 (12.2 and later) lays out everything after the version bytes as
    // 4.1 does.
    if (out.major > 5 || out.minor != 1) {
        refuse(reader, 0);
        return false;
    }
    show(tk_format("Dump file version: %d.%d (expdp)\n", out.major, out.minor));
    out.part = static_cast<unsigned>(b[33]) << 8 | b[34];
    if (out.part != 0 && out.part != 1) {
        TK_TRACE(3, "%s", ora_dump_reader::message(13));
        refuse(reader, 13);
        return false;
    }
    const unsigned char id[2] = {b[39], b[40]};
    out.charset_id = static_cast<unsigned>(id[0]) << 8 | id[1];
    const int cls = reader.get_cp(id, false);
    show(tk_format("Dump charset: %d\n", cls));
    out.flags = b[51];
    const std::uint8_t compression = out.flags & 0x06;
    if (compression == 0x06 || compression == 0x04) {
        TK_TRACE(2, compression == 0x06 ? "Dump is fully compressed" : "Dump is dataonly compressed");
        throw tk_exception(ora_dump_reader::message(17), 1);
    }
    const std::uint8_t encryption = out.flags & 0x60;
    if (encryption == 0x60 || encryption == 0x40) {
        TK_TRACE(2, encryption == 0x60 ? "Dump is fully encrypted" : "Dump is dataonly encrypted");
        throw tk_exception(ora_dump_reader::message(18), 1);
    }
    out.export_header.clear();
    for (unsigned char c : id) {
        if (c == 0)
            break;
        out.export_header.push_back(static_cast<char>(c));
    }
    out.block_size = 0;
    out.master_block = 0;
    out.master_length = 0;
    if (have >= 66) {
        const std::uint32_t block = be32(b + 35);
        // A power of two that a file system block can be.
        if (block >= 512 && block <= (1u << 20) && (block & (block - 1)) == 0) {
            out.block_size = block;
            out.master_block = be32(b + 54);
            out.master_length = static_cast<std::uint64_t>(be32(b + 58)) << 32 | be32(b + 62);
        }
    }
    master_table_name(b, have, reader.info, out.master_owner, out.master_name);
    TK_WTRACE(2, L"Block size %d, master table %s.%s at block %d, %I64u bytes", static_cast<int>(out.block_size),
              out.master_owner, out.master_name, static_cast<int>(out.master_block),
              static_cast<std::uint64_t>(out.master_length));
    return true;
}

bool header::declares_master() const
{
    return !master_name.empty() && block_size != 0 && master_block >= 1 && master_length > 0 &&
           master_length < (std::uint64_t(1) << 56);
}

std::int64_t header::master_start() const
{
    return declares_master() ? static_cast<std::int64_t>(master_block - 1) * block_size : -1;
}

std::int64_t header::declared_end() const
{
    return declares_master() ? master_start() + static_cast<std::int64_t>(master_length) : -1;
}

bool extract_xml(ora_dump_stream& stream, std::int64_t start, std::int64_t end, std::int64_t dump_length,
                 std::vector<std::uint8_t>& out)
{
    TK_TRACE(2, "ora_dump_reader::extract_xml(%I64d,%I64d)", start, end);
    std::int64_t limit = stream.size();
    if (dump_length > 0 && dump_length < limit)
        limit = dump_length;
    if (start < 0 || end > limit || end - start < 4)
        malformed();
    if (end - start - 4 > max_document)
        malformed();
    stream.clear();
    if (!stream.seek(start))
        malformed();
    const std::size_t base = out.size();
    out.reserve(base + static_cast<std::size_t>(end - start) + 2);
    std::int64_t pos = start;
    while (pos < end) {
        std::uint8_t h[5];
        if (end - pos < 2) {
            // A stray byte after the last chunk belongs to no chunk.
            break;
        }
        if (stream.read(h, 2) != 2)
            return false;
        std::int64_t header = 4;
        std::int64_t chunk = 0;
        const bool five = (h[0] == 0x03 || h[0] == 0x06) && h[1] == 0x01;
        if ((h[0] == 0x01 && h[1] == 0xFE) || five) {
            if (five) {
                if (stream.read(h + 2, 1) != 1)
                    return false;
                if (h[2] != 0xFE)
                    malformed();
                header = 5;
            }
            std::uint8_t l[2];
            if (stream.read(l, 2) != 2)
                return false;
            chunk = static_cast<std::int64_t>(l[0]) << 8 | l[1];
        } else {
            std::uint8_t ignored[2];
            if (stream.read(ignored, 2) != 2)
                return false;
            chunk = end - pos - 4;
        }
        pos += header;
        if (pos > end)
            break;
        if (chunk > end - pos)
            chunk = end - pos;
        if (chunk < 0)
            chunk = 0;
        const std::size_t old = out.size();
        out.resize(old + static_cast<std::size_t>(chunk));
        if (chunk > 0 && stream.read(out.data() + old, static_cast<std::size_t>(chunk)) != static_cast<std::size_t>(chunk)) {
            out.resize(old);
            return false;
        }
        pos += chunk;
    }
    out.push_back(0);
    out.push_back(0);
    return true;
}

std::string document_text(const dump_info& info, const std::vector<std::uint8_t>& buffer)
{
    if (buffer.empty())
        return std::string();
    std::wstring wide;
    if (buffer[0] != 0) {
        dump_info page = info;
        if (page.charset_class != 0)
            page.charset_class = 1;
        wide = ora_dump_reader::get_wstring(page, reinterpret_cast<const char*>(buffer.data()), buffer.size(), false);
    } else {
        wide = utf16be_to_wstring(buffer.data(), buffer.size(), true);
        std::size_t nul = wide.find(L'\0');
        if (nul != std::wstring::npos)
            wide.erase(nul);
    }
    return tk_wide_to_utf8(wide);
}

std::wstring table_key(const ora_table_map& tables, const std::wstring& name, const std::wstring& full_name,
                       bool merge)
{
    if (merge)
        return full_name;
    auto it = tables.find(name);
    if (it != tables.end() && it->second.str_full_name != full_name)
        return full_name;
    return name;
}

void scan(ora_dump_reader& reader, ora_dump_stream& stream, ora_dump_file::context& context, const header& declared)
{
    context.complete = false;
    context.truncated = false;
    dump_info info = reader.info;
    info.pump_block_size = declared.block_size;
    walk_state state;
    const std::wstring& current = state.current;
    bool ended_normally = false;
    {
        xml_platform_guard xml;
        try {
            stream.clear();
            seek_to_pos(stream, 0);
            walk(reader, stream, context, info, declared, state);
            ended_normally = true;
        } catch (const tk_final_exception&) {
            throw;
        } catch (const tk_exception& e) {
            TK_TRACE(3, "Couldn't read dump file");
            reader.set_ui_progress(-1);
            error_handler::instance()->handle(e, false);
        } catch (const std::exception&) {
            TK_TRACE(3, "Couldn't read dump file");
            reader.set_ui_progress(-1);
            error_handler::instance()->handle(tk_exception(ora_dump_reader::message(0), 1), false);
        }
    }
    if (!current.empty()) {
        auto it = context.tables.find(current);
        if (it != context.tables.end() && !it->second.v_data_end_pos.empty())
            it->second.v_block_end_pos.push_back(it->second.v_data_end_pos.back());
    }
    take_completed_rows(context, state.master);
    std::size_t whole = 0;
    if (ends_early(context, declared, state, stream.size(), whole)) {
        ora_dump_reader::report_truncated(whole);
        context.truncated = true;
    }
    stream.clear();
    seek_to_pos(stream, 0);
    context.complete = ended_normally;
}

std::int64_t unexpected_after_rows(ora_dump_stream& stream, std::int64_t pos, std::int64_t block_size)
{
    stream.clear();
    if (!stream.seek(pos))
        return pos;
    int b = 0;
    while ((b = stream.get()) == 0) {
    }
    if (b < 0) {
        stream.clear();
        return -1;
    }
    const std::int64_t at = stream.tell() - 1;
    if (block_size > 0 && at % block_size == 0)
        return -1;
    std::uint8_t next[16];
    stream.seek(at);
    const std::size_t got = stream.read(next, sizeof next);
    stream.clear();
    return document_begins(next, got) ? -1 : at;
}

bool context_fits(const ora_dump_file::context& context, std::int64_t dump_length)
{
    auto inside = [&](std::int64_t p) { return p >= 0 && p <= dump_length; };
    for (const auto& [key, t] : context.tables) {
        if (t.v_data_start_pos.size() != t.v_data_end_pos.size())
            return false;
        if (t.v_block_end_pos.size() < t.v_data_start_pos.size())
            return false;
        if (!inside(t.start_pos) || !inside(t.end_pos) || t.start_pos + 4 > t.end_pos)
            return false;
        for (std::size_t i = 0; i < t.v_data_start_pos.size(); ++i) {
            if (!inside(t.v_data_end_pos[i]) || t.v_data_start_pos[i] < 0 ||
                t.v_data_start_pos[i] + 4 > t.v_data_end_pos[i])
                return false;
        }
        for (std::int64_t p : t.v_block_end_pos)
            if (!inside(p))
                return false;
    }
    return true;
}

}  // namespace ora_dump_pump
