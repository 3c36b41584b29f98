// The classic dump scan: one forward pass, line by line, that finds where
// every table's statements and row blocks lie. No statement text is kept and
// no row is decoded here; the dump tables read them later from the positions.
//
// A line counts when its first token starts at the line's first byte. The
// rows after an INSERT INTO line are no lines: the scan steps over them by
// their framing, as the row reader reads them, and searches on after the
// block's end marker. Only where that framing cannot be followed (a damaged
// block) does it search the rest of the block as text, so that the tables
// after it are still found.

#include "ora_dump_reader.h"

#include "error_handler.h"
#include "ora_dump_reader_th.h"
#include "ora_dump_stream.h"
#include "ora_dump_table.h"
#include "table_pos.h"
#include "tk_exception.h"
#include "tk_format.h"
#include "tk_logger.h"
#include "tk_string.h"

#include <cstring>

namespace {

// One token of the dump. A token over the cap is never a keyword.
struct token {
    std::string text;
    bool too_long = false;
    bool found = false;

    bool is(const char* keyword) const { return found && !too_long && text == keyword; }
};

token next_token(ora_dump_stream& stream)
{
    token t;
    t.found = stream.read_token(t.text, t.too_long);
    return t;
}

// After a statement whose end was found at the line feed that ends it, the
// stream goes back onto that line feed, so that the main loop still reads
// the line after it: an index or constraint may follow directly.
void step_back_to_line_feed(ora_dump_stream& stream, std::int64_t after_line_feed)
{
    seek_to_pos(stream, after_line_feed - 1);
}

bool is_quoted(const std::string& name)
{
    return name.size() > 2 && name.front() == '"' && name.back() == '"';
}

// Only lines that start with these can hold a statement the scan reads:
// CONNECT, CREATE, BEGINSYNONYM4TYPE, TABLE, ALTER and INSERT. Any other
// line, and a line that starts with a delimiter (whose first token would not
// start at the line's first byte), is passed over in memory.
struct statement_starts {
    bool table[256] = {};
    statement_starts()
    {
        for (unsigned char c : {'C', 'B', 'T', 'A', 'I'})
            table[c] = true;
    }
};
const statement_starts statement_start;

}  // namespace

void ora_dump_reader::find_ora_objects(ora_dump_stream& stream, ora_table_map& tables, bool& complete,
                                       ora_dump_reader_th* rows)
{
    TK_TRACE(2, "ora_dump_reader::find_ora_objects");
    complete = false;
    scan_state scan;
    scan.rows = rows;
    if (rows)
        rows->set_dump_info(info);
    bool ended_normally = false;
    try {
        scan_lines(stream, scan, tables);
        ended_normally = true;
    } catch (const tk_exception& e) {
        TK_TRACE(3, "Couldn't read dump file");
        set_ui_progress(-1);
        error_handler::instance()->handle(e, false);
    } catch (const tk_final_exception&) {
        // The user stopped the run: nothing of this scan is kept for later.
        throw;
    } catch (const std::exception&) {
        TK_TRACE(3, "Couldn't read dump file");
        set_ui_progress(-1);
        error_handler::instance()->handle(tk_exception(message(0), 1), false);
    }
    // Also after a failure the user continued past: what was found is used,
    // but it is not complete, so it is never saved for a later opening.
    finish_scan(stream, scan, tables);
    complete = ended_normally;
}

void ora_dump_reader::scan_lines(ora_dump_stream& stream, scan_state& scan, ora_table_map& tables)
{
    const std::int64_t length = info.dump_length;
    TK_TRACE(1, "Right before the cycle");
    for (;;) {
        std::int64_t line_pos = 0;
        // A stream at its end, or a line at or beyond the dump's length,
        // ends the loop; a failed stream raises.
        if (!seek_to_line(stream, statement_start.table, length, line_pos))
            break;
        check_stop();
        TK_TRACE(1, "curr_pos=%I64d", line_pos);
        set_progress(line_pos, length);
        // Also an empty line is passed this way: the line after it counts.
        int first = stream.peek();
        if (first < 0)
            continue;  // the next search ends the loop or raises
        if (!statement_start.table[first])
            continue;
        token t = next_token(stream);
        if (!t.found)
            continue;
        TK_TRACE(1, "pos=%I64d", stream.tell());
        TK_TRACE(1, "offset=%I64d", stream.tell() - line_pos);
        if (t.too_long || stream.tell() - line_pos != static_cast<std::int64_t>(t.text.size())) {
            TK_TRACE(1, "offset != str_buffer.length");
            continue;
        }

        if (t.is("CONNECT")) {
            if (!merge_schema)
                continue;
            TK_TRACE(1, "Got __CONNECT at %I64d", line_pos);
            token user = next_token(stream);
            if (user.found)
                scan.schema_user = user.text;
        } else if (t.is("BEGINSYNONYM4TYPE")) {
            TK_TRACE(1, "Got BEGINSYNONYM4TYPE at %I64d", line_pos);
            std::int64_t found = 0;
            seek_to_symbols(stream, "ENDSYNONYM4TYPE", found);
        } else if (t.is("CREATE")) {
            TK_TRACE(1, "Got __CREATE at %I64d", line_pos);
            token what = next_token(stream);
            if (what.is("TABLE")) {
                TK_TRACE(1, "Read TABLE section at position: %I64d", line_pos);
                parse_table_description(stream, line_pos, scan, tables);
            } else {
                bool unique = what.is("UNIQUE");
                if (unique)
                    what = next_token(stream);
                if (what.is("INDEX"))
                    parse_index(stream, line_pos, unique, scan, tables);
            }
        } else if (t.is("TABLE")) {
            TK_TRACE(1, "Got __TABLE at %I64d", line_pos);
            std::int64_t after_keyword = stream.tell();
            next_token(stream);
            std::int64_t after_name = stream.tell();
            // Only "TABLE name" and a line feed starts a new section; row
            // data or a statement that merely begins with the word does not.
            if (stream.get() != '\n') {
                seek_to_pos(stream, after_keyword);
                continue;
            }
            seek_to_pos(stream, after_name);
            if (!scan.current_key.empty()) {
                auto it = tables.find(scan.current_key);
                if (it != tables.end()) {
                    TK_TRACE(2, "Store end pos. for previous table '%s': %I64d", scan.current_key, line_pos);
                    it->second.end_pos = line_pos;
                    TK_TRACE(1, "StoreD end pos. for previous table: %I64d", line_pos);
                }
            }
            scan.current_key.clear();
            scan.current_name.clear();
        } else if (t.is("ALTER")) {
            if (next_token(stream).is("TABLE"))
                parse_alter(stream, scan, tables);
        } else if (t.is("INSERT")) {
            TK_TRACE(2, "Reading table. Found INSERT at pos: %I64d", line_pos);
            if (parse_insert(stream, line_pos, scan, tables) && scan.rows)
                step_over_rows(stream, line_pos, scan, tables);
        }
    }
    TK_TRACE(1, "Right after the cycle");
}

void ora_dump_reader::finish_scan(ora_dump_stream& stream, scan_state& scan, ora_table_map& tables)
{
    if (!tables.empty()) {
        auto it = scan.current_key.empty() ? tables.end() : tables.find(scan.current_key);
        if (it != tables.end())
            it->second.end_pos = info.dump_length;
        else if (tables.rbegin()->second.end_pos == 0)
            tables.rbegin()->second.end_pos = info.dump_length;
    }
    // The stream stands at the end of the data; a failed one stays failed.
    if (!stream.failed())
        stream.clear();
    // A name seen once is listed under itself rather than under its
    // tablespace. Only a real move: a key equal to the name is the table
    // itself, and a name that another table already holds as its key (a
    // quoted name with a point) keeps its qualified key.
    for (const auto& [name, key] : scan.map_unique_names) {
        if (name == key)
            continue;
        auto from = tables.find(key);
        if (from == tables.end())
            continue;
        if (tables.count(name)) {
            TK_TRACE(3, "Table '%s' keeps the key '%s': another table is listed as '%s'", name, key, name);
            continue;
        }
        table_pos moved = std::move(from->second);
        tables.erase(from);
        tables.emplace(name, std::move(moved));
    }
}

const std::wstring* ora_dump_reader::claim(const std::wstring& name_w, const scan_state& scan, const char* what,
                                           std::int64_t position) const
{
    auto u = scan.map_unique_names.find(name_w);
    if (u != scan.map_unique_names.end())
        return &u->second;
    // A name defined twice still owns the lines inside its own section.
    if (!scan.current_key.empty() && name_w == scan.current_name)
        return &scan.current_key;
    if (scan.map_non_unique_names.count(name_w))
        TK_TRACE(3, "%s of table '%s' at %I64d lies outside the table's section and is passed over", what, name_w,
                 position);
    return nullptr;
}

void ora_dump_reader::parse_table_description(ora_dump_stream& stream, std::int64_t line_pos, scan_state& scan,
                                              ora_table_map& tables)
{
    TK_TRACE(2, "ora_dump_reader::parse_table_description(%I64d)", line_pos);
    std::string name = embellish_name(read_table_name(stream), '"');
    if (!name.empty())
        name = merge_schema_name(name, scan.schema_user);
    std::wstring name_w = name.empty() ? std::wstring() : get_wstring(name.data(), name.size(), false);
    if (name_w.empty()) {
        TK_TRACE(2, "No table name in the CREATE TABLE line at %I64d: passed over", line_pos);
        return;
    }
    std::string shown = tk_format("Read table '%s' at position %I64d", name, line_pos);
    TK_TRACE(3, "%s\n", shown);
    send_log(ora_log_kind::shown, shown);

    std::int64_t line_end = 0;
    if (!seek_to_symbols(stream, "\n", 1, line_end)) {
        TK_TRACE(2, "seek_to_symbols failed, return");
        return;
    }
    seek_to_pos(stream, line_pos);
    std::string tablespace;
    while (stream.good() && stream.tell() < line_end) {
        token t = next_token(stream);
        if (!t.found || t.too_long)
            continue;
        if (stream.tell() - static_cast<std::int64_t>(t.text.size()) >= line_end)
            break;
        if (t.text == "TABLESPACE") {
            token ts = next_token(stream);
            if (ts.found) {
                tablespace = embellish_name(ts.text, '"');
                TK_TRACE(2, "Got tablespace: '%s'", tablespace);
            }
            break;
        }
    }
    seek_to_pos(stream, line_pos);

    std::string key = tablespace.empty() ? name : tablespace + "." + name;
    std::wstring key_w = tablespace.empty() ? name_w : get_wstring(key.data(), key.size(), false);
    TK_TRACE(1, "wstr_copy_tablename='%s', wstr_tablename='%s'", key_w, name_w);

    if (!scan.map_non_unique_names.count(name_w)) {
        auto u = scan.map_unique_names.find(name_w);
        if (u == scan.map_unique_names.end()) {
            scan.map_unique_names.emplace(name_w, key_w);
            TK_TRACE(1, "inserted into map_unique_names:%s->%s", name_w, key_w);
        } else {
            scan.map_non_unique_names[name_w] = key_w;
            scan.map_unique_names.erase(u);
            TK_TRACE(1, "inserted into map_non_unique_names:%s->%s", name_w, key_w);
        }
    }

    if (!scan.current_key.empty()) {
        auto it = tables.find(scan.current_key);
        if (it != tables.end())
            it->second.end_pos = line_pos;
    }
    if (tables.count(key_w)) {
        std::string text = tk_format("Database contians 2 or more tables with the same name %s", key);
        TK_TRACE(3, "%s", text);
        send_log(ora_log_kind::warning, text);
        scan.current_key.clear();
        scan.current_name.clear();
        return;
    }
    tables[key_w].start_pos = line_pos;
    scan.current_key = key_w;
    scan.current_name = name_w;
    set_progress(line_pos, info.dump_length);
    TK_TRACE(2, "Table: %s", key);
}

void ora_dump_reader::parse_index(ora_dump_stream& stream, std::int64_t line_pos, bool unique, scan_state& scan,
                                  ora_table_map& tables)
{
    TK_TRACE(2, "ora_dump_reader::parse_index(%I64d,'%s',b_unique=%d)", line_pos, scan.schema_user,
             unique ? 1 : 0);
    const std::int64_t start = stream.tell();
    token index_name = next_token(stream);
    token on = next_token(stream);
    token table = next_token(stream);
    if (!index_name.found || !on.found || !table.found || on.too_long || !tk_ascii_equal_no_case(on.text, "ON") ||
        table.too_long || !is_quoted(table.text))
        return;
    std::string name = merge_schema_name(embellish_name(table.text, '"'), scan.schema_user);
    std::wstring name_w = get_wstring(name.data(), name.size(), false);
    const std::wstring* key = claim(name_w, scan, "CREATE INDEX", line_pos);
    if (!key)
        return;
    TK_TRACE(2, "Read CREATE INDEX section at position: %I64d", line_pos);
    auto it = tables.find(*key);
    if (it == tables.end())
        return;
    std::int64_t end = 0;
    if (seek_to_symbols(stream, "\n", 1, end))
        step_back_to_line_feed(stream, end);
    else
        end = 0;
    it->second.index_records.push_back({start, end, unique});
}

bool ora_dump_reader::parse_alter(ora_dump_stream& stream, scan_state& scan, ora_table_map& tables)
{
    TK_TRACE(1, "ora_dump_reader::parse_alter");
    token t = next_token(stream);
    if (!t.found || t.too_long)
        return false;
    std::string name = merge_schema_name(embellish_name(t.text, '"'), scan.schema_user);
    std::wstring name_w = get_wstring(name.data(), name.size(), false);
    const std::int64_t start = stream.tell();
    const std::wstring* key = claim(name_w, scan, "ALTER TABLE", start);
    if (!key)
        return false;
    auto it = tables.find(*key);
    if (it != tables.end()) {
        std::string shown = tk_format("Read ALTER section for table '%s' at position: %I64d", name, start);
        TK_TRACE(3, "%s\n", shown);
        send_log(ora_log_kind::shown, shown);
        std::int64_t end = 0;
        bool found = seek_to_symbols(stream, "\n", 1, end);
        if (found)
            step_back_to_line_feed(stream, end);
        if (!found && !stream.failed()) {
            // The last statement of a file without a final line feed ends
            // at the NUL that follows it, if any.
            seek_to_pos(stream, start);
            const char nul = 0;
            found = seek_to_symbols(stream, &nul, 1, end);
        }
        if (found)
            it->second.alters.emplace_back(start, end);
    }
    return true;
}

bool ora_dump_reader::parse_insert(ora_dump_stream& stream, std::int64_t line_pos, scan_state& scan,
                                   ora_table_map& tables)
{
    TK_TRACE(1, "ora_dump_reader::parse_insert(%I64d)", line_pos);
    if (!next_token(stream).is("INTO"))
        return false;
    std::string name = embellish_name(read_table_name(stream), '"');
    if (!name.empty())
        name = merge_schema_name(name, scan.schema_user);
    TK_TRACE(2, "Table name='%s'", name);
    std::wstring name_w = name.empty() ? std::wstring() : get_wstring(name.data(), name.size(), false);
    const std::wstring* key = name_w.empty() ? nullptr : claim(name_w, scan, "INSERT INTO", line_pos);
    auto it = key ? tables.find(*key) : tables.end();
    if (it == tables.end()) {
        TK_TRACE(2, "Table '%s' was not found!", name);
        return false;
    }
    TK_TRACE(1, "Got pair: '%s'->'%s'", name_w, *key);
    it->second.v_data_start_pos.push_back(line_pos);
    scan.insert_key = *key;
    TK_TRACE(1, "Got v_data_start_pos=%I64d", line_pos);
    return true;
}

void ora_dump_reader::step_over_rows(ora_dump_stream& stream, std::int64_t insert_pos, scan_state& scan,
                                     const ora_table_map& tables)
{
    const std::int64_t resume = stream.tell();
    auto it = tables.find(scan.insert_key);
    if (it == tables.end())
        return;
    if (scan.walk_key != scan.insert_key) {
        scan.walk_key = scan.insert_key;
        auto table = std::make_shared<ora_dump_table>(nullptr, false, scan.insert_key);
        if (table->prepare_walk(&stream, scan.rows, it->second.start_pos, info.dump_length))
            scan.walk_table = std::move(table);
        else
            scan.walk_table.reset();
    }
    if (!scan.walk_table) {
        TK_TRACE(2, "The definition of '%s' frames no rows: its rows are searched as text", scan.insert_key);
        stream.clear();
        seek_to_pos(stream, resume);
        return;
    }
    std::int64_t end = resume;
    const bool sound = scan.walk_table->walk_block(insert_pos, end, [this](std::int64_t at) {
        check_stop();
        set_progress(at, info.dump_length);
    });
    if (!sound)
        TK_TRACE(3, "The rows after the INSERT line at %I64d cannot be framed from %I64d: searched as text from there",
                 insert_pos, end);
    stream.clear();
    seek_to_pos(stream, std::max(end, resume));
}
