// The classic initialisation of a dump table: its DDL text up to the first
// INSERT, then every INSERT block with its field descriptions and rows.
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

bool ora_dump_table::read_definition()
{
    ora_dump_stream& s = *m_stream;
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
    if (delim <= 0)
        return false;
    std::string text(static_cast<std::size_t>(delim - s.tell()), '\0');
    text.resize(s.read(text.data(), text.size()));
    return process_table_desc(text);
}

bool ora_dump_table::read_insert_line(std::int64_t insert_pos, std::string& fields_text, std::int64_t& rows_at)
{
    ora_dump_stream& s = *m_stream;
    s.clear();
    seek_to_pos(s, insert_pos);
    // The column list is capped; the rest of the line is the INSERT word,
    // the table name and the VALUES list.
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
    rows_at = line_end;
    return true;
}

bool ora_dump_table::prepare_walk(ora_dump_stream* stream, ora_dump_reader_th* decoder, std::int64_t start_pos,
                                  std::int64_t end_pos)
{
    m_stream = stream;
    m_decoder = decoder;
    m_start_pos = start_pos;
    m_end_pos = end_pos < 0 || end_pos > stream->size() ? stream->size() : end_pos;
    if (m_start_pos < 0 || m_start_pos >= m_end_pos)
        return false;
    try {
        return read_definition();
    } catch (const tk_exception&) {
        return false;
    }
}

bool ora_dump_table::walk_block(std::int64_t insert_pos, std::int64_t& end,
                                const std::function<void(std::int64_t)>& progress)
{
    ora_dump_stream& s = *m_stream;
    end = insert_pos;
    std::string fields_text;
    std::int64_t rows_at = -1;
    if (insert_pos < 0 || insert_pos >= m_end_pos || !read_insert_line(insert_pos, fields_text, rows_at))
        return false;
    end = rows_at;
    std::vector<std::wstring> names;
    try {
        names = get_fields_names(fields_text);
    } catch (const tk_exception&) {
        return false;
    }
    std::int64_t row = -1;
    try {
        s.clear();
        seek_to_pos(s, rows_at);
        m_decoder->reset_skip_flag();
        m_decoder->set_field_names(std::move(names));
        m_decoder->skip_field_description(s, schema, m_end_pos);
        row = s.tell();
        // Each row ends after it starts, so the walk ends within the
        // dump's length.
        for (;;) {
            // Rows of plain lengths in memory, then one by the whole framing.
            bool at_end = false;
            row = m_decoder->skip_plain_rows(s, schema, m_end_pos, 65536, at_end);
            if (at_end) {
                end = row + 2;
                return true;
            }
            if (progress)
                progress(row);
            s.clear();
            s.seek(row);
            if (m_decoder->check_for_eof(s)) {
                end = row + 2;
                return true;
            }
            if (row + 2 > m_end_pos)
                break;
            const std::int64_t next = m_decoder->skip_row(s, schema, m_end_pos);
            if (next <= row)
                break;
            row = next;
        }
    } catch (const tk_exception&) {
    }
    if (row >= 0)
        end = row;
    s.clear();
    return false;
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
        if (!read_definition()) {
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
            std::int64_t line_end = -1;
            if (!read_insert_line(insert_pos, fields_text, line_end))
                return false;

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
