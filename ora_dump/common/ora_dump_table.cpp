// The dump table: its classic initialisation and its cursor.
#include "ora_dump_table.h"

#include "ora_dump_reader.h"
#include "ora_dump_reader_th.h"
#include "ora_dump_stream.h"
#include "tk_exception.h"
#include "tk_format.h"
#include "tk_logger.h"
#include "tk_string.h"
#include "udb_record.h"

#include <algorithm>
#include <exception>
#include <string_view>

namespace {

constexpr const char* out_of_range = "Out of recordset range.";
constexpr const char* failed_to_move_next = "Failed to move next.";
constexpr const char* no_insert_fields = "Cannot parse the list of fields in the INSERT statement";

// The parts of one INSERT INTO line, found in memory so that no search runs
// past the line: quoted names may hold any of the searched words.
struct insert_line {
    bool has_into = false;
    bool has_open = false;
    bool has_values = false;
    std::size_t fields_start = 0;  // after the "(" of the column list
    std::size_t values_at = 0;     // where "VALUES (" starts
};

insert_line parse_insert_line(const std::string& line)
{
    insert_line r;
    std::size_t i = line.find("INTO");
    if (i == std::string::npos)
        return r;
    r.has_into = true;
    i += 4;
    bool quoted = false;
    for (; i < line.size(); ++i) {
        if (line[i] == '"')
            quoted = !quoted;
        else if (!quoted && line[i] == '(')
            break;
    }
    if (i >= line.size())
        return r;
    r.has_open = true;
    r.fields_start = i + 1;
    quoted = false;
    static constexpr std::string_view values = "VALUES (";
    for (i = r.fields_start; i < line.size(); ++i) {
        if (line[i] == '"') {
            quoted = !quoted;
        } else if (!quoted && line.compare(i, values.size(), values) == 0) {
            r.has_values = true;
            r.values_at = i;
            break;
        }
    }
    return r;
}

}  // namespace

ora_dump_table::ora_dump_table(udb_database* db, bool native_types, const std::wstring& name)
    : udb_recordset(name), m_db(db), b_native_types(native_types ? 1 : 0)
{
    TK_WTRACE(2, L"ora_dump_table::ctor(%s)", name);
}

ora_dump_table::~ora_dump_table()
{
    TK_TRACE(2, "ora_dump_table::dtor");
    m_record.reset();
    m_partitions.clear();
    m_lst_records.clear();
    if (m_live_counter)
        m_live_counter->fetch_sub(1, std::memory_order_acq_rel);
}

void ora_dump_table::set_live_counter(std::atomic<int>* counter)
{
    if (m_live_counter)
        m_live_counter->fetch_sub(1, std::memory_order_acq_rel);
    m_live_counter = counter;
    if (m_live_counter)
        m_live_counter->fetch_add(1, std::memory_order_acq_rel);
}

// --- initialisation ---------------------------------------------------------

bool ora_dump_table::init(ora_dump_stream* stream, const table_pos& pos, ora_dump_reader_th* decoder,
                          const std::string& header_text)
{
    TK_TRACE(2, "ora_dump_table::init(%s)", header_text);
    TK_CHECK(stream != nullptr, "ora_dump_table", 245);
    TK_CHECK(decoder != nullptr, "ora_dump_table", 246);
    m_stream = stream;
    m_decoder = decoder;
    rec_count = pos.record_base;
    m_decoder->reset_skip_flag();

    ora_stream_restore restore(*m_stream);
    static constexpr std::string_view classic = "EXPORT:";
    if (tk_compare_no_case(std::string_view(header_text).substr(0, classic.size()), classic) == 0)
        return _init2(restore.where(), pos);
    return _init1(restore.where(), pos);
}

void ora_dump_table::on_insert_block(std::int64_t) {}

std::wstring ora_dump_table::dump_text(const std::string& text) const
{
    const dump_info info = m_decoder ? m_decoder->get_dump_info() : dump_info();
    return ora_dump_reader::get_wstring(info, text.data(), text.size(), false);
}

std::int64_t ora_dump_table::find_delimeter(std::int64_t limit)
{
    ora_dump_stream& s = *m_stream;
    const std::int64_t start = s.tell();
    if (limit < 0 || limit > s.size())
        limit = s.size();
    std::int64_t found = -1;
    for (std::int64_t p = start; p < limit; ++p) {
        const int b = s.get();
        if (b < 0)
            break;
        if (b == '\n') {
            found = p + 1;
            break;
        }
    }
    s.clear();
    s.seek(start);
    return found;
}

std::vector<std::wstring> ora_dump_table::get_fields_names(const std::string& text) const
{
    std::vector<std::wstring> names;
    std::size_t i = 0;
    while (i < text.size()) {
        const std::size_t open = text.find('"', i);
        if (open == std::string::npos)
            break;
        const std::size_t close = text.find('"', open + 1);
        if (close == std::string::npos)
            break;
        names.push_back(dump_text(text.substr(open + 1, close - open - 1)));
        i = close + 1;
    }
    if (names.empty())
        throw tk_exception(no_insert_fields, 1);
    return names;
}

bool ora_dump_table::_init2(std::int64_t position, const table_pos& pos)
{
    TK_TRACE(2, "ora_dump_table::_init2(%I64d)", position);
    ora_dump_stream& s = *m_stream;
    m_start_pos = pos.start_pos;
    m_end_pos = pos.end_pos;
    // The positions may come from a context file: a section outside the
    // dump cannot be read.
    if (m_end_pos < 0 || m_end_pos > s.size())
        m_end_pos = s.size();
    TK_TRACE(1, "m_start_pos=%I64d, m_end_pos=%I64d", m_start_pos, m_end_pos);
    if (m_start_pos < 0 || m_start_pos >= m_end_pos) {
        TK_TRACE(2, "process_table_desc FAILED");
        return false;
    }
    m_partitions.clear();
    m_lst_records.clear();
    m_cursor = 0;
    m_cur_partition = 0;

    try {
        s.clear();
        seek_to_pos(s, m_start_pos);
        TK_TRACE(2, "Reading table. Start pos: %I64d", m_start_pos);
        std::string token;
        bool too_long = false;
        while (s.tell() < m_end_pos && s.read_token(token, too_long))
            if (token == "TABLE")
                break;
        read_table_name(s);

        const std::int64_t line_limit = std::min<std::int64_t>(m_end_pos, s.tell() + static_cast<std::int64_t>(max_line));
        const std::int64_t delim = find_delimeter(line_limit);
        bool described = false;
        if (delim > 0) {
            std::string text(static_cast<std::size_t>(delim - s.tell()), '\0');
            text.resize(s.read(text.data(), text.size()));
            described = process_table_desc(text);
        }
        if (!described) {
            TK_TRACE(2, "process_table_desc FAILED");
            return false;
        }

        std::string fields_text;
        for (const std::int64_t insert_pos : pos.v_data_start_pos) {
            on_insert_block(insert_pos);
            TK_TRACE(1, "Right before safe_seekg(%I64d)", insert_pos);
            if (insert_pos < 0 || insert_pos >= m_end_pos) {
                TK_TRACE(2, "FAILED to seek 'INTO' token");
                return false;
            }
            s.clear();
            seek_to_pos(s, insert_pos);
            // The column list is capped; the rest of the line is the INSERT
            // word, the table name and the VALUES list.
            const std::int64_t insert_limit =
                std::min<std::int64_t>(m_end_pos, insert_pos + static_cast<std::int64_t>(max_line) + 65536);
            const std::int64_t line_end = find_delimeter(insert_limit);
            std::string line;
            if (line_end > 0) {
                line.resize(static_cast<std::size_t>(line_end - insert_pos));
                line.resize(s.read(line.data(), line.size()));
            }
            const insert_line parts = parse_insert_line(line);
            if (!parts.has_into) {
                TK_TRACE(2, "FAILED to seek 'INTO' token");
                return false;
            }
            TK_TRACE(1, "'INTO' token found at position %I64d", insert_pos);
            if (!parts.has_open) {
                TK_TRACE(2, "FAILED to seek '(' pattern");
                return false;
            }
            const std::int64_t start_fields = insert_pos + static_cast<std::int64_t>(parts.fields_start);
            TK_TRACE(1, "start_fields=%I64d", start_fields);
            if (!parts.has_values) {
                TK_TRACE(2, "FAILED to seek 'VALUES' token");
                return false;
            }
            TK_TRACE(1, "end_fields=%I64d", insert_pos + static_cast<std::int64_t>(parts.values_at) + 8);
            const std::size_t n = parts.values_at - parts.fields_start;
            if (n > 2) {
                if (n - 1 > max_line) {
                    TK_TRACE(2, "FAILED to seek 'VALUES' token");
                    return false;
                }
                fields_text = line.substr(parts.fields_start, n - 1);
                TK_TRACE(1, "Fields '%s' found at position %I64d", fields_text, start_fields);
            }

            // The field descriptions refine the columns by their INSERT
            // names, so the names go to the decoder first.
            std::vector<std::wstring> names;
            try {
                names = get_fields_names(fields_text);
            } catch (const tk_exception&) {
                names.clear();
            }
            TK_TRACE(1, "Moving at streampos_delim=%I64d", line_end);
            seek_to_pos(s, line_end);
            m_decoder->reset_skip_flag();
            m_decoder->set_field_names(names);
            m_decoder->skip_field_description(s, schema, m_end_pos);
            const std::int64_t first_row = s.tell();
            if (m_decoder->check_for_eof(s)) {
                TK_TRACE(2, ">> EndOfTable <<");
                continue;
            }
            if (names.empty())
                throw tk_exception(no_insert_fields, 1);
            if (m_partitions.empty()) {
                m_lst_records.push_back({first_row, 0});
                m_start_pos = first_row;
                TK_TRACE(1, "m_lst_records.push_back(%I64d)", first_row);
            }
            partition block;
            block.position = first_row;
            block.skip = m_decoder->m_skip_blob_flag != 0;
            block.field_names = std::move(names);
            m_partitions.push_back(std::move(block));
        }
    } catch (const tk_exception&) {
        // init puts the stream back on every exit.
        TK_TRACE(3, "The exception occured during a tableinitialization.\n");
        throw;
    } catch (const tk_final_exception&) {
        throw;
    } catch (const std::exception& e) {
        // Whatever it was, the table is not whole: report it and skip it.
        TK_TRACE(3, "The exception occured during a table initialization.");
        throw tk_exception(std::string("The exception occured during a table initialization: ") + e.what(), 0);
    }

    s.clear();
    parse_indexes(pos.index_records);
    parse_alters(pos.alters);
    s.clear();
    if (!m_partitions.empty())
        give_decoder(0);
    return true;
}

// --- cursor -----------------------------------------------------------------

void ora_dump_table::append_record(udb_record&) {}

void ora_dump_table::set_progress()
{
    if (!m_stream)
        return;
    if (ora_dump_reader* reader = ora_dump_reader::try_instance())
        reader->set_local_progress(m_start_pos, m_end_pos, m_stream->tell());
}

void ora_dump_table::give_decoder(std::size_t block)
{
    const partition& p = m_partitions[block];
    const std::int16_t flag = p.skip ? 1 : 0;
    if (m_decoder->m_skip_blob_flag != flag)
        m_decoder->m_skip_blob_flag = flag;
    // The decoder is shared by the tables of the dump; the names go over
    // only when they changed, which keeps its column map.
    if (m_decoder->field_names() != p.field_names)
        m_decoder->set_field_names(p.field_names);
    m_cur_partition = block;
}

std::int64_t ora_dump_table::enter_block(std::size_t block)
{
    give_decoder(block);
    const partition& p = m_partitions[block];
    if (m_b_datapump)
        return pump_enter_block(p);
    m_stream->clear();
    seek_to_pos(*m_stream, p.position);
    return p.position;
}

void ora_dump_table::trim_kept_positions()
{
    while (m_lst_records.size() > kept_positions && m_cursor > 0) {
        m_lst_records.pop_front();
        --m_cursor;
    }
}

void ora_dump_table::reset()
{
    TK_TRACE(1, "ora_dump_table::reset");
    m_lst_records.clear();
    m_cursor = 0;
    m_next_known = false;
    m_cur_partition = 0;
    if (!m_stream)
        return;
    if (m_partitions.empty()) {
        m_stream->clear();
        m_stream->seek(m_start_pos);
        if (m_decoder)
            m_decoder->set_field_names({});
    } else {
        const std::int64_t first = enter_block(0);
        m_lst_records.push_back({first, 0});
    }
    set_progress();
}

bool ora_dump_table::is_eof()
{
    TK_TRACE(1, "ora_dump_table::is_eof");
    TK_TRACE(1, "m_lst_records.size=%d", static_cast<int>(m_lst_records.size()));
    return m_lst_records.empty() || m_cursor >= m_lst_records.size();
}

udb_record* ora_dump_table::get_item()
{
    TK_TRACE(1, "ora_dump_table::get_item()");
    if (is_eof())
        throw tk_exception(out_of_range, 1);
    ora_dump_stream& s = *m_stream;
    ora_stream_restore restore(s);
    TK_TRACE(1, "stream_start(1)=%d", static_cast<int>(restore.where()));
    m_record.reset();

    const record_pos row = m_lst_records[m_cursor];
    give_decoder(row.block);
    s.clear();
    seek_to_pos(s, row.position);
    TK_TRACE(1, "after safe_seekg: pos=%I64d", row.position);

    std::int64_t next_pos = -1;
    // The next row's place is known once the row was read, also when a value
    // failed: the failure costs this row and not the rest of the block.
    auto record_next = [&]() {
        m_next_known = true;
        if (m_cursor + 1 != m_lst_records.size())
            return;
        if (next_pos < 0) {
            TK_TRACE(2, "The rows of the block cannot be found after %I64d", row.position);
            return;
        }
        if (next_pos <= row.position) {
            TK_TRACE(3, "A row at %I64d ends at %I64d: the block ends", row.position, next_pos);
            return;
        }
        if (next_pos + 2 > m_end_pos)
            return;
        s.clear();
        s.seek(next_pos);
        if (m_decoder->check_for_eof(s))
            return;
        TK_TRACE(1, "last_pos=%I64d", next_pos);
        m_lst_records.push_back({next_pos, row.block});
    };
    try {
        m_record = m_decoder->get_record(s, schema, m_end_pos, next_pos);
    } catch (const tk_exception&) {
        record_next();
        set_progress();
        throw;
    }
    record_next();
    set_progress();
    TK_TRACE(1, "stream_start(2)=%d", static_cast<int>(restore.where()));
    return m_record.get();
}

void ora_dump_table::next()
{
    TK_TRACE(1, "ora_dump_table::next");
    if (is_eof()) {
        TK_TRACE(2, "ERROR: EOF has been reached");
        throw tk_exception(out_of_range, 1);
    }
    if (rec_count == 0)
        rec_count = 1;

    if (m_cursor + 1 == m_lst_records.size() && !m_next_known) {
        // Moved on without reading the row: its end is the next row's start.
        try {
            get_item();
        } catch (const tk_exception& e) {
            if (e.level != 0)
                throw;
        }
    }
    m_next_known = false;

    if (m_cursor + 1 < m_lst_records.size()) {
        TK_TRACE(1, "Iterate previously loaded data...");
        ++m_cursor;
        ++rec_count;
        const record_pos& row = m_lst_records[m_cursor];
        if (row.block != m_cur_partition)
            give_decoder(row.block);
        trim_kept_positions();
        return;
    }

    TK_TRACE(1, "Load new data...");
    TK_TRACE(1, "STORE FILE POINTER: %I64d", m_stream->tell());
    TK_TRACE(2, "Processing the last record of table");
    const std::size_t block = m_lst_records[m_cursor].block + 1;
    if (block >= m_partitions.size()) {
        m_cursor = m_lst_records.size();
        TK_TRACE(1, "RESTORE FILE POINTER: %d", static_cast<int>(m_stream->tell()));
        return;
    }
    const std::int64_t stored = m_stream->tell();
    try {
        const std::int64_t first = enter_block(block);
        m_lst_records.push_back({first, block});
        m_cursor = m_lst_records.size() - 1;
        ++rec_count;
    } catch (const std::exception&) {
        TK_TRACE(3, "Failed to move next %I64d %I64d %I64d", m_stream->tell(),
                 static_cast<std::int64_t>(m_cursor), static_cast<std::int64_t>(block));
        m_stream->clear();
        m_stream->seek(stored);
        throw tk_exception(failed_to_move_next, 1);
    }
    trim_kept_positions();
    TK_TRACE(1, "RESTORE FILE POINTER: %d", static_cast<int>(m_stream->tell()));
}

void ora_dump_table::prev()
{
    TK_TRACE(1, "ora_dump_table::prev");
    if (m_lst_records.empty() || m_cursor == 0)
        throw tk_exception(out_of_range, 1);
    --m_cursor;
    m_next_known = true;
    const record_pos& row = m_lst_records[m_cursor];
    if (row.block != m_cur_partition)
        give_decoder(row.block);
    m_stream->clear();
    seek_to_pos(*m_stream, row.position);
    set_progress();
}
