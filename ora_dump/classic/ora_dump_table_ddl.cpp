// The definition of a classic dump table, parsed from its DDL text: the
// columns of the CREATE TABLE line, the CREATE INDEX lines and the keys and
// defaults of the ALTER TABLE lines.
//
// The parser is shallow on purpose. It splits text at blanks, commas and
// parentheses, recognises type words by substring and ignores every clause
// it has no use for. exp writes every column name in double quotes, and the
// names may hold blanks, commas and parentheses, so quoted text is never
// split or counted.
#include "ora_dump_table.h"

#include "ora_dump_reader.h"
#include "ora_dump_reader_th.h"
#include "ora_dump_stream.h"
#include "t_orcale_ftd.h"
#include "tk_exception.h"
#include "tk_logger.h"
#include "tk_string.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <limits>
#include <system_error>

namespace {

// Walks text tracking double-quoted names and single-quoted literals, and
// the depth of the parentheses outside them.
class sql_walker {
public:
    // Takes character c; true when it lies outside every quote (quote
    // characters themselves count as inside).
    bool take(char c)
    {
        if (quote) {
            if (c == quote)
                quote = 0;
            return false;
        }
        if (c == '"' || c == '\'') {
            quote = c;
            return false;
        }
        if (c == '(')
            ++depth;
        else if (c == ')' && depth > 0)
            --depth;
        return true;
    }
    int depth = 0;
    char quote = 0;
};

// Splits at every separator that lies outside quotes and parentheses; the
// pieces keep their blanks.
std::vector<std::string> split_outside(const std::string& text, char separator)
{
    std::vector<std::string> pieces;
    sql_walker walker;
    std::string piece;
    for (char c : text) {
        const int depth_before = walker.depth;
        const bool outside = walker.take(c);
        if (outside && c == separator && depth_before == 0) {
            pieces.push_back(std::move(piece));
            piece.clear();
            continue;
        }
        piece += c;
    }
    pieces.push_back(std::move(piece));
    return pieces;
}

// A column definition's tokens: split at blanks outside quotes and
// parentheses, empty tokens dropped.
std::vector<std::string> definition_tokens(const std::string& text)
{
    std::vector<std::string> tokens;
    for (std::string& t : split_outside(text, ' ')) {
        t = tk_trim(t);
        if (!t.empty())
            tokens.push_back(std::move(t));
    }
    return tokens;
}

std::string remove_chars(const std::string& text, const char* chars)
{
    std::string out;
    out.reserve(text.size());
    for (char c : text)
        if (!std::strchr(chars, c) || c == '\0')
            out += c;
    return out;
}

// The first occurrence of word outside quotes, or npos.
std::size_t find_outside(const std::string& text, const char* word)
{
    const std::size_t n = std::strlen(word);
    sql_walker walker;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (walker.take(text[i]) && text.compare(i, n, word) == 0)
            return i;
    }
    return std::string::npos;
}

// A checked decimal conversion: leading blanks skipped, stops at the first
// non-digit ("4000 BYTE" is 4000); false without digits or on overflow.
bool parse_integer(const std::string& text, std::int64_t& value)
{
    std::size_t i = 0;
    while (i < text.size() && text[i] == ' ')
        ++i;
    const char* first = text.data() + i;
    const char* last = text.data() + text.size();
    if (first < last && *first == '+')
        ++first;
    auto [end, error] = std::from_chars(first, last, value);
    return error == std::errc() && end != first;
}

// A single-quoted SQL literal, optionally national (N'...'), whose inner
// quotes are all doubled: its text with the doubling undone. False for
// anything else, such as an expression that merely starts and ends with a
// quote ('a' || 'b').
bool parse_literal(const std::string& text, std::string& out)
{
    std::size_t from = 0;
    if (text.size() >= 3 && (text[0] == 'N' || text[0] == 'n') && text[1] == '\'')
        from = 1;
    if (text.size() - from < 2 || text[from] != '\'' || text.back() != '\'')
        return false;
    out.clear();
    for (std::size_t i = from + 1; i + 1 < text.size(); ++i) {
        if (text[i] == '\'') {
            if (i + 2 < text.size() && text[i + 1] == '\'') {
                out += '\'';
                ++i;
                continue;
            }
            return false;
        }
        out += text[i];
    }
    return true;
}

// The names of a column list in parentheses: each item one double-quoted
// name, taken as it stands between its quotes (blanks, commas, parentheses
// and all), or one bare word. False for anything else: an expression, a
// function, a DESC. A list without parentheses is the one token that
// get_index_fields read: its quotes and parentheses are dropped and it is
// split at its commas.
bool parse_name_list(const std::string& text, std::vector<std::string>& names)
{
    names.clear();
    std::string list = tk_trim(text);
    if (list.size() < 2 || list.front() != '(' || list.back() != ')') {
        for (const std::string& piece : tk_split_string(remove_chars(list, "()\""), ','))
            if (!tk_trim(piece).empty())
                names.push_back(tk_trim(piece));
        return true;
    }
    list = list.substr(1, list.size() - 2);
    for (const std::string& piece : split_outside(list, ',')) {
        const std::string item = tk_trim(piece);
        const bool quoted = item.size() >= 2 && item.front() == '"' && item.back() == '"' &&
                            item.find('"', 1) == item.size() - 1;
        if (quoted) {
            names.push_back(item.substr(1, item.size() - 2));
        } else if (!item.empty() && item.find_first_of("\"'() \t") == std::string::npos) {
            names.push_back(item);
        } else {
            names.clear();
            return false;
        }
    }
    return true;
}

bool read_word(ora_dump_stream& stream, std::string& word)
{
    bool too_long = false;
    if (!stream.read_token(word, too_long))
        return false;
    if (too_long)
        word.clear();
    return true;
}

}  // namespace

std::string smart_trim_tail(const std::string& text)
{
    std::string out = text;
    while (out.size() > 1 && (out.back() == '\n' || out.back() == '\r' || out.back() == ' '))
        out.pop_back();
    return out;
}

bool ora_dump_table::process_table_desc(const std::string& text)
{
    TK_TRACE(2, "ora_dump_table::process_table_desc(%s)", text);
    // The text may carry a NUL from the dump; the definition ends there.
    const std::string line = text.substr(0, text.find('\0'));
    const std::size_t open = line.find('(');
    if (open == std::string::npos) {
        TK_TRACE(2, "Incorrect field format.\n");
        return false;
    }
    sql_walker walker;
    walker.take('(');
    std::size_t close = std::string::npos;
    for (std::size_t i = open + 1; i < line.size(); ++i) {
        if (walker.take(line[i]) && line[i] == ')' && walker.depth == 0) {
            close = i;
            break;
        }
    }
    if (close == std::string::npos) {
        TK_TRACE(2, "Incorrect field format.\n");
        return false;
    }

    std::vector<std::string> pieces = split_outside(line.substr(open + 1, close - open - 1), ',');
    std::string& last = pieces.back();
    last = tk_trim(last);
    if (last.empty())
        pieces.pop_back();

    for (const std::string& piece : pieces) {
        if (!add_field(piece)) {
            throw tk_exception(L"Cannot parse table decription, [TABLE] " + name + L": " + dump_text(piece), 0);
        }
    }
    // After every column: a key piece may come before the columns it names.
    for (const std::string& piece : pieces)
        add_table_constraint(piece);
    return true;
}

void ora_dump_table::add_table_constraint(const std::string& definition)
{
    const std::vector<std::string> tokens = definition_tokens(definition);
    auto quoted = [](const std::string& t) { return t.size() >= 2 && t.front() == '"' && t.back() == '"'; };
    auto unquoted = [](const std::string& t) { return t.substr(1, t.size() - 2); };
    if (!tokens.empty() && quoted(tokens[0])) {
        // A column's own key: "C" type [CONSTRAINT "N"] PRIMARY KEY | UNIQUE.
        for (std::size_t i = 2; i < tokens.size(); ++i) {
            const bool primary = tk_ascii_equal_no_case(tokens[i], "PRIMARY") && i + 1 < tokens.size() &&
                                 tk_ascii_equal_no_case(tokens[i + 1], "KEY");
            if (!primary && !tk_ascii_equal_no_case(tokens[i], "UNIQUE"))
                continue;
            const int idx = ora_dump_reader_th::find_column(schema, dump_text(unquoted(tokens[0])));
            if (idx < 0)
                return;
            const std::string key_name =
                i >= 4 && tk_ascii_equal_no_case(tokens[i - 2], "CONSTRAINT") && quoted(tokens[i - 1]) ? unquoted(tokens[i - 1])
                                                                                                : std::string();
            const std::wstring wide_name = dump_text(key_name);
            if (wide_name.empty() && !primary && indexes.find2(wide_name))
                return;
            add_key(udb_index(wide_name, !primary, primary, {schema[static_cast<std::size_t>(idx)]->name}));
            return;
        }
        return;
    }
    std::size_t at = 0;
    std::string key_name;
    if (!tokens.empty() && tk_ascii_equal_no_case(tokens[0], "CONSTRAINT")) {
        if (tokens.size() < 2 || !quoted(tokens[1]))
            return;
        key_name = unquoted(tokens[1]);
        at = 2;
    }
    bool primary = false;
    if (at + 1 < tokens.size() && tk_ascii_equal_no_case(tokens[at], "PRIMARY") &&
        tk_compare_no_case(tokens[at + 1].substr(0, 3), "KEY") == 0) {
        primary = true;
        ++at;
    } else if (at < tokens.size() && tk_compare_no_case(tokens[at].substr(0, 6), "UNIQUE") == 0) {
    } else {
        return;  // a column, CHECK, FOREIGN KEY, SUPPLEMENTAL LOG ...
    }
    // The column list: the parenthesis in this token ("KEY(") or the next.
    std::string list;
    for (std::size_t k = at; k < tokens.size() && k <= at + 1 && list.empty(); ++k) {
        const std::size_t open = tokens[k].find('(');
        if (open != std::string::npos && tokens[k].back() == ')')
            list = tokens[k].substr(open);
    }
    std::vector<std::string> names;
    if (!parse_name_list(list, names))
        return;  // an expression, or no list at all
    std::vector<std::wstring> columns;
    for (const std::string& item : names) {
        const int idx = ora_dump_reader_th::find_column(schema, dump_text(item));
        if (idx < 0) {
            TK_TRACE(2, "Key on a column the table lacks skipped: %s", definition);
            return;
        }
        columns.push_back(schema[static_cast<std::size_t>(idx)]->name);
    }
    if (columns.empty())
        return;
    const std::wstring wide_name = dump_text(key_name);
    // Two unnamed keys would merge into one.
    if (wide_name.empty() && !primary && indexes.find2(wide_name))
        return;
    add_key(udb_index(wide_name, !primary, primary, std::move(columns)));
}

void ora_dump_table::add_key(udb_index key)
{
    if (key.b_primary && !indexes.find2(key.name))
        for (const udb_index& held : indexes)
            if (held.b_primary) {
                TK_WTRACE(2, L"Second primary key '%s' skipped", key.name);
                return;
            }
    indexes.push_back(key);
}

bool ora_dump_table::add_field(const std::string& definition)
{
    TK_TRACE(1, "ora_dump_table::add_field(%s)", definition);
    const std::string text = tk_trim(definition);
    if (text.size() >= 10 && tk_compare_no_case(text.substr(0, 10), "CONSTRAINT") == 0) {
        TK_TRACE(2, "Constraint skipped: %s", text);
        return true;
    }
    // exp quotes every column name: anything else is a constraint clause
    // (CHECK, UNIQUE, FOREIGN KEY, PRIMARY KEY, SUPPLEMENTAL LOG ...).
    if (text.empty() || text[0] != '"') {
        TK_TRACE(2, "Not a column definition, skipped: %s", text);
        return true;
    }
    std::vector<std::string> tokens = definition_tokens(text);
    if (tokens.size() < 2) {
        TK_TRACE(2, "Missing required tokens <field name>or/and <type>\n");
        return false;
    }

    std::string raw_name = tokens[0];
    if (raw_name.size() >= 2 && raw_name.back() == '"')
        raw_name = raw_name.substr(1, raw_name.size() - 2);
    else
        raw_name.clear();
    if (raw_name.empty()) {
        TK_TRACE(2, "Missing required tokens <field name>or/and <type>\n");
        return false;
    }
    const std::wstring field_name = dump_text(raw_name);

    bool not_null = false;
    for (std::size_t i = 2; i + 1 < tokens.size(); ++i)
        if (tokens[i] == "NOT" && tokens[i + 1] == "NULL")
            not_null = true;

    if (tokens.size() >= 3 && tk_string(tokens[1]).to_upper().find("LONG") != std::string::npos &&
        tk_string(tokens[2]).to_upper().find("RAW") != std::string::npos)
        tokens[1] = "LONG RAW";

    std::uint32_t size = 0;
    VARTYPE vartype = VT_NULL;
    int scale = 0;
    int precision = 0;
    std::int32_t ora_type = t_orcale_ftd::ora_none;
    if (!get_type(tokens[1], size, vartype, scale, precision, ora_type)) {
        TK_TRACE(2, "Failed to get field type.\n");
        return false;
    }
    // TIMESTAMP [(n)] WITH [LOCAL] TIME ZONE: an instant.
    if (ora_type == t_orcale_ftd::ora_timestamp) {
        for (std::size_t i = 2; i + 2 < tokens.size() && i <= 3; ++i) {
            const bool local = tk_ascii_equal_no_case(tokens[i + 1], "LOCAL");
            if (tk_ascii_equal_no_case(tokens[i], "WITH") && i + (local ? 3 : 2) < tokens.size() &&
                tk_ascii_equal_no_case(tokens[i + (local ? 2 : 1)], "TIME") && tk_ascii_equal_no_case(tokens[i + (local ? 3 : 2)], "ZONE"))
                ora_type = t_orcale_ftd::ora_timestamp_tz;
        }
    }

    auto descriptor = std::make_unique<t_orcale_ftd>(size, ora_type, field_name, vartype, not_null, false,
                                                     ole_variant(), 0u);
    descriptor->apply_reserved(precision, scale);
    if (b_native_types && vartype != VT_BSTR)
        descriptor->native_type = dump_text(tokens[1]);

    // Quoted names may differ only in case; only an equal name is the same
    // column.
    for (const t_ftd* column : schema) {
        if (column->name == field_name) {
            TK_WTRACE(2, L"Duplicate column '%s' dropped", field_name);
            return true;
        }
    }
    t_ftd* column = descriptor.get();
    owned_columns.push_back(std::move(descriptor));
    schema.push_back(column);
    return true;
}

bool ora_dump_table::get_type(const std::string& type_word, std::uint32_t& size, VARTYPE& vartype, int& scale,
                              int& precision, std::int32_t& ora_type)
{
    TK_TRACE(1, "ora_dump_table::get_type(type='%s',scale=%d,prec=%d)", type_word, scale, precision);
    const std::string word = tk_string(type_word).to_upper();
    auto has = [&](const char* keyword) { return word.find(keyword) != std::string::npos; };
    scale = 0;
    precision = 0;
    size = 0;

    // The types whose size is the one number between the parentheses.
    auto sized = [&](VARTYPE vt, std::int32_t ot) {
        std::vector<std::int64_t> sizes;
        if (!get_typesize(word, sizes) || sizes.size() != 1 || sizes[0] < 0 ||
            sizes[0] > std::numeric_limits<std::int32_t>::max()) {
            TK_TRACE(2, "Failed to get the data type size '%s'", word);
            return false;
        }
        size = static_cast<std::uint32_t>(sizes[0]);
        vartype = vt;
        ora_type = ot;
        return true;
    };

    if (has("NVARCHAR2")) {
        TK_TRACE(1, "Processing NVARCHAR2");
        return sized(VT_BSTR, t_orcale_ftd::ora_nvarchar2);
    }
    if (has("VARCHAR2")) {
        TK_TRACE(1, "Processing VARCHAR2");
        return sized(VT_BSTR, t_orcale_ftd::ora_varchar2);
    }
    // Oracle's synonym of VARCHAR2.
    if (has("VARCHAR")) {
        TK_TRACE(1, "Processing VARCHAR");
        return sized(VT_BSTR, t_orcale_ftd::ora_varchar2);
    }
    if (has("NCHAR")) {
        TK_TRACE(1, "Processing NCHAR");
        return sized(VT_BSTR, t_orcale_ftd::ora_nchar);
    }
    if (has("CHAR"))
        return sized(VT_BSTR, t_orcale_ftd::ora_char);
    if (has("DATE")) {
        TK_TRACE(1, "Processing DATE");
        size = 8;
        vartype = VT_DATE;
        ora_type = t_orcale_ftd::ora_date;
        return true;
    }
    // Before FLOAT, which both contain.
    if (has("BINARY_FLOAT")) {
        size = 4;
        vartype = VT_R4;
        ora_type = t_orcale_ftd::ora_binary_float;
        return true;
    }
    if (has("BINARY_DOUBLE")) {
        size = 8;
        vartype = VT_R8;
        ora_type = t_orcale_ftd::ora_binary_double;
        return true;
    }
    // exp writes INTEGER as NUMBER(*,0); the ANSI words mean the same.
    if (word == "INTEGER" || word == "INT" || word == "SMALLINT") {
        ora_type = t_orcale_ftd::ora_number;
        precision = 38;
        size = 8;
        vartype = t_orcale_ftd::ora2oletype(ora_type, 22, precision, scale, 0);
        return true;
    }
    if (has("NUMBER")) {
        TK_TRACE(1, "Processing NUMBER");
        ora_type = t_orcale_ftd::ora_number;
        // NUMBER and NUMBER(*) hold any value; "*" as a precision is 38.
        if (word.find('(') != std::string::npos) {
            std::vector<std::int64_t> sizes;
            if (!get_typesize(word, sizes)) {
                TK_TRACE(2, "Failed to get the data type size '%s'", word);
                return false;
            }
            TK_TRACE(1, "count_sizes=%d", static_cast<int>(sizes.size()));
            const std::size_t from = word.find('(');
            const std::string inner = tk_trim(word.substr(from + 1, word.find(')') - from - 1));
            if (inner != "*") {
                if (sizes.empty() || sizes.size() > 2 || sizes[0] < 1 || sizes[0] > 38 ||
                    (sizes.size() == 2 && (sizes[1] < -84 || sizes[1] > 127))) {
                    TK_TRACE(2, "Failed to get the data type size '%s'", word);
                    return false;
                }
                precision = static_cast<int>(sizes[0]);
                scale = sizes.size() == 2 ? static_cast<int>(sizes[1]) : 0;
            }
        }
        vartype = t_orcale_ftd::ora2oletype(ora_type, 22, precision, scale, 0);
        switch (vartype) {
        case VT_I1:
            size = 1;
            break;
        case VT_I2:
            size = 2;
            break;
        case VT_I4:
            size = 4;
            break;
        default:
            size = 8;
            break;
        }
        return true;
    }
    struct fixed_type {
        const char* keyword;
        std::uint32_t size;
        VARTYPE vartype;
        std::int32_t ora_type;
    };
    // The first entry whose keyword the word holds.
    auto fixed = [&](const auto& list) {
        for (const fixed_type& f : list) {
            if (has(f.keyword)) {
                size = f.size;
                vartype = f.vartype;
                ora_type = f.ora_type;
                return true;
            }
        }
        return false;
    };
    static const fixed_type before_raw[] = {
        {"FLOAT", 4, VT_R8, t_orcale_ftd::ora_float},
        {"LONG RAW", 0, VT_BLOB, t_orcale_ftd::ora_long_raw},
        {"LONG", 0, VT_BSTR, t_orcale_ftd::ora_long},
        {"CLOB", 0, VT_BSTR, t_orcale_ftd::ora_clob},
        {"BLOB", 0, VT_BLOB, t_orcale_ftd::ora_blob},
        {"BFILE", 0, VT_BLOB, t_orcale_ftd::ora_bfile},
        {"ROWID", 0, VT_BSTR, t_orcale_ftd::ora_rowid},
    };
    if (fixed(before_raw))
        return true;
    if (has("RAW"))
        return sized(VT_BLOB, t_orcale_ftd::ora_raw);
    static const fixed_type after_raw[] = {
        {"TIMESTAMP", 0, VT_DATE, t_orcale_ftd::ora_timestamp},
        {"KEY", 0, VT_BSTR, t_orcale_ftd::ora_key},
        {"XMLTYPE", 0, VT_BSTR, t_orcale_ftd::ora_xmltype},
    };
    if (fixed(after_raw))
        return true;
    // The field descriptions of the rows may refine it; until then the
    // bytes are kept.
    size = 0;
    vartype = VT_BLOB;
    ora_type = t_orcale_ftd::ora_unknown;
    return true;
}

bool ora_dump_table::get_typesize(const std::string& type_word, std::vector<std::int64_t>& sizes)
{
    TK_TRACE(1, "ora_dump_table::get_typesize(%s)", type_word);
    sizes.clear();
    const std::size_t open = type_word.find('(');
    const std::size_t close = type_word.find(')');
    if (open == std::string::npos || close == std::string::npos || open > close) {
        TK_TRACE(2, "Formatting error in oracletype");
        return false;
    }
    const std::string inner = tk_trim(type_word.substr(open + 1, close - open - 1));
    std::vector<std::string> elements;
    tk_string(inner).split(',', elements);
    for (const std::string& element : elements) {
        std::int64_t value = 0;
        if (tk_trim(element) == "*") {
            value = 38;
        } else if (!parse_integer(element, value)) {
            TK_TRACE(2, "Formatting error in oracletype");
            sizes.clear();
            return false;
        }
        sizes.push_back(value);
    }
    return true;
}

std::string ora_dump_table::get_index_fields(std::int64_t limit)
{
    ora_dump_stream& s = *m_stream;
    if (limit < 0 || limit > s.size())
        limit = m_end_pos > 0 && m_end_pos <= s.size() ? m_end_pos : s.size();
    limit = std::min<std::int64_t>(limit, s.tell() + static_cast<std::int64_t>(max_line));
    std::string fields;
    int c = s.peek();
    while (c >= 0 && s.tell() < limit && (c == ' ' || c == '\t' || c == '\r' || c == '\n')) {
        s.get();
        c = s.peek();
    }
    if (c < 0 || s.tell() >= limit) {
        TK_TRACE(1, "str_fields=%s", fields);
        return fields;
    }
    if (c == '(') {
        sql_walker walker;
        while (s.tell() < limit) {
            c = s.get();
            if (c < 0)
                break;
            fields += static_cast<char>(c);
            const int depth_before = walker.depth;
            if (walker.take(static_cast<char>(c))) {
                // A function or expression is no list of columns.
                if (c == '(' && depth_before > 0) {
                    fields.clear();
                    break;
                }
                if (c == ')' && walker.depth == 0)
                    break;
            }
        }
    } else {
        s.get();
        read_word(s, fields);
    }
    TK_TRACE(1, "str_fields=%s", fields);
    return fields;
}

void ora_dump_table::get_field_list(std::vector<std::wstring>& names, std::int64_t limit)
{
    names.clear();
    std::vector<std::string> elements;
    if (!parse_name_list(get_index_fields(limit), elements))
        return;
    for (const std::string& item : elements) {
        TK_TRACE(1, "Stored field '%s'", item);
        names.push_back(dump_text(item));
    }
}

bool ora_dump_table::parse_indexes(const std::vector<table_pos::index_record>& places)
{
    TK_TRACE(1, "ora_dump_table::parse_indexes(%d)", static_cast<int>(places.size()));
    ora_dump_stream& s = *m_stream;
    ora_stream_restore keep(s);
    for (const table_pos::index_record& place : places) {
        if (place.end <= place.start || place.start < 0 || place.end > s.size())
            return false;
        s.clear();
        seek_to_pos(s, place.start);
        std::string index_word, on_word, table_word;
        if (!read_word(s, index_word) || !read_word(s, on_word) || !read_word(s, table_word) ||
            s.tell() > place.end || index_word.empty())
            continue;
        const std::string list = get_index_fields(place.end);
        if (list.empty())
            continue;
        std::vector<std::string> elements;
        std::vector<std::wstring> columns;
        bool complete = parse_name_list(list, elements) && !elements.empty();
        for (const std::string& element : elements) {
            const std::wstring wanted = dump_text(element);
            const int idx = ora_dump_reader_th::find_column(schema, wanted);
            if (wanted.empty() || idx < 0) {
                complete = false;
                break;
            }
            columns.push_back(schema[static_cast<std::size_t>(idx)]->name);
        }
        if (!complete) {
            TK_TRACE(2, "Index '%s' skipped", index_word);
            continue;
        }
        const std::wstring index_name = dump_text(remove_chars(index_word, "\""));
        TK_WTRACE(2, L"Index '%s'", index_name);
        indexes.push_back(udb_index(index_name, place.unique, false, std::move(columns)));
    }
    return true;
}

void ora_dump_table::parse_keys(std::vector<t_relationship>& relationships, std::int64_t limit)
{
    TK_TRACE(1, "ora_dump_table::parse_keys");
    ora_dump_stream& s = *m_stream;
    std::string word;
    std::string constraint;
    bool named = false;
    read_word(s, word);
    if (word == "CONSTRAINT") {
        TK_TRACE(1, "Got PK or FK");
        read_word(s, constraint);
        constraint = constraint.size() >= 2 ? constraint.substr(1, constraint.size() - 2) : std::string();
        named = true;
        read_word(s, word);
    }
    if (word == "PRIMARY") {
        TK_TRACE(1, "Got PK");
        std::string key;
        read_word(s, key);
        std::vector<std::wstring> columns;
        get_field_list(columns, limit);
        if (columns.empty()) {
            TK_TRACE(2, "Primary key without columns skipped");
        } else {
            const std::wstring pk_name = named ? dump_text(constraint) : std::wstring();
            add_key(udb_index(pk_name, false, true, std::move(columns)));
        }
    } else if (word == "FOREIGN") {
        TK_TRACE(1, "Got FK");
        t_relationship rel;
        rel.fk_name = dump_text(constraint);
        std::string key;
        read_word(s, key);
        get_field_list(rel.fk_fields, limit);
        rel.fk_table = name;
        std::string references, table;
        read_word(s, references);
        read_word(s, table);
        rel.pk_table = dump_text(remove_chars(table, "\""));
        get_field_list(rel.pk_fields, limit);
        TK_WTRACE(1, L"rel.fk_name=%s", rel.fk_name);
        TK_WTRACE(1, L"rel.fk_table=%s", rel.fk_table);
        TK_WTRACE(1, L"rel.pk_table=%s", rel.pk_table);
        if (rel.fk_fields.empty() || rel.fk_fields.size() != rel.pk_fields.size() || rel.pk_table.empty()) {
            TK_TRACE(2, "Foreign key that does not fit skipped");
        } else {
            // The referential action, when the clause names one.
            const std::int64_t after = s.tell();
            std::string on, del, action, second;
            if (read_word(s, on) && on == "ON" && read_word(s, del) && del == "DELETE" && read_word(s, action) &&
                (action == "CASCADE" || (action == "SET" && read_word(s, second) && second == "NULL"))) {
                rel.rule = action == "CASCADE" ? L"ON DELETE CASCADE" : L"ON DELETE SET NULL";
            } else {
                s.clear();
                seek_to_pos(s, after);
            }
            relationships.push_back(std::move(rel));
        }
    }
    TK_TRACE(1, "ora_dump_table::parse_keys - at the end, rels.size=%d", static_cast<int>(relationships.size()));
}

bool ora_dump_table::parse_alters(const std::vector<std::pair<std::int64_t, std::int64_t>>& places)
{
    TK_TRACE(1, "a_alter_poses.size=%d", static_cast<int>(places.size()));
    ora_dump_stream& s = *m_stream;
    ora_stream_restore keep(s);
    std::vector<t_relationship> relationships;
    try {
        for (const auto& [start, end] : places) {
            if (start == 0)
                return true;
            if (start < 0 || end <= start || end > s.size())
                continue;
            s.clear();
            seek_to_pos(s, start);
            std::string word;
            while (s.good() && s.tell() < end && read_word(s, word)) {
                if (word == "ADD") {
                    parse_keys(relationships, end);
                } else if (word == "MODIFY") {
                    if (!read_word(s, word) || word != "DEFAULT") {
                        TK_TRACE(1, "Only '... MODIFY DEFAULT' is supported");
                        continue;
                    }
                    parse_default();
                }
            }
        }
    } catch (const tk_final_exception&) {
        throw;
    } catch (const tk_mail_assertion&) {
        throw;
    } catch (const std::exception& e) {
        TK_TRACE(3, "ALTER TABLE statements of the table not read: %s", e.what());
        return false;
    }
    TK_TRACE(1, "Right before creating relationships");
    if (m_db && !relationships.empty())
        m_db->add_relationships(relationships);
    return true;
}

void ora_dump_table::parse_default()
{
    ora_dump_stream& s = *m_stream;
    std::uint8_t head[3];
    if (s.read(head, 3) != 3 || head[0] != '\n')
        return;
    const std::size_t length = head[1] | (static_cast<std::size_t>(head[2]) << 8);
    if (static_cast<std::int64_t>(length) > s.size() - s.tell())
        return;
    std::string clause(length, '\0');
    if (s.read(clause.data(), length) != length)
        return;
    const std::size_t open = clause.find('(');
    if (open == std::string::npos)
        return;
    std::string inner = clause.substr(open + 1);
    if (!inner.empty())
        inner.pop_back();
    const std::size_t at = find_outside(inner, "DEFAULT");
    if (at == std::string::npos)
        return;
    const std::string field = ora_dump_reader::embellish_name(tk_trim(inner.substr(0, at)), '"');
    const std::string value = smart_trim_tail(tk_trim(inner.substr(at + 7)));
    TK_TRACE(1, "field=%s", field);
    TK_TRACE(1, "value=%s", value);
    if (tk_ascii_equal_no_case(value, "SYSDATE") || tk_ascii_equal_no_case(value, "NULL") || value.empty())
        return;
    const int idx = ora_dump_reader_th::find_column(schema, dump_text(field));
    if (idx < 0)
        return;
    t_ftd* column = schema[static_cast<std::size_t>(idx)];
    std::string text;
    if (!parse_literal(value, text)) {
        // A text column's default is a literal or nothing: the target would
        // store an expression (USER, SYS_GUID()) as its text.
        if (column->vartype == VT_BSTR) {
            TK_TRACE(2, "Default '%s' of a text column is no literal, ignored", value);
            return;
        }
        text = value;
    } else if (text.empty()) {
        // Oracle's empty text is NULL.
        return;
    }
    column->default_value = ole_variant(dump_text(text));
    TK_TRACE(2, "Got def.value: '%s' for field #%d", text, idx);
}
