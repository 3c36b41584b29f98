#include "classic_dump_builder.h"

namespace classic_dump {

namespace {

// The storage clauses exp writes; the reader passes over them.
const char* const storage =
    "STORAGE(INITIAL 65536 NEXT 1048576 MINEXTENTS 1 FREELISTS 1 FREELIST GROUPS 1 BUFFER_POOL DEFAULT)";

std::string quoted(const std::string& name)
{
    return "\"" + name + "\"";
}

std::string quoted_list(const std::vector<std::string>& names, const char* separator)
{
    std::string s;
    for (const std::string& n : names) {
        if (!s.empty())
            s += separator;
        s += quoted(n);
    }
    return s;
}

// Text columns of an AL32UTF8 dump carry the character-set id (873) in
// their description.
ora_rows::entry utf8_text_entry(std::uint16_t code, std::uint16_t size)
{
    ora_rows::entry e(code, size);
    e.text_extra[0] = 0x69;
    e.text_extra[1] = 0x03;
    e.text_extra[2] = 0x01;
    e.text_extra[3] = 0x00;
    return e;
}

// What stands in the row for a LOB whose value follows the row.
const bytes lob_locator(20, 0x01);

cell in_row(bytes value)
{
    cell c;
    c.null = false;
    c.in_row = std::move(value);
    return c;
}

cell lob(bytes value)
{
    cell c = in_row(lob_locator);
    c.lob = true;
    c.lob_bytes = std::move(value);
    return c;
}

}  // namespace

column number(const std::string& name, const std::string& ddl, bool not_null)
{
    return {name, ddl, ora_rows::entry(2, 22), not_null};
}

column varchar2(const std::string& name, int size, bool not_null)
{
    return {name, "VARCHAR2(" + std::to_string(size) + ")",
            utf8_text_entry(1, static_cast<std::uint16_t>(size)), not_null};
}

column date(const std::string& name)
{
    return {name, "DATE", ora_rows::entry(12, 7)};
}

column timestamp(const std::string& name)
{
    return {name, "TIMESTAMP (6)", ora_rows::entry(180, 11)};
}

column raw(const std::string& name, int size)
{
    return {name, "RAW(" + std::to_string(size) + ")", ora_rows::entry(23, static_cast<std::uint16_t>(size))};
}

column clob(const std::string& name)
{
    column c{name, "CLOB", ora_rows::entry(112, 4000)};
    c.entry.charset_id = 873;
    c.entry.lob_name = name;
    return c;
}

column blob(const std::string& name)
{
    column c{name, "BLOB", ora_rows::entry(113, 4000)};
    c.entry.lob_name = name;
    return c;
}

cell null()
{
    return {};
}

cell num(const std::string& text)
{
    return in_row(ora_rows::number(text));
}

cell text(const std::wstring& value)
{
    return in_row(ora_rows::text(value, 65001));
}

cell date(int year, int month, int day, int hour, int minute, int second)
{
    return in_row(ora_rows::date(year, month, day, hour, minute, second));
}

cell timestamp(int year, int month, int day, int hour, int minute, int second, int microsecond)
{
    return in_row(ora_rows::timestamp(year, month, day, hour, minute, second,
                                      static_cast<std::uint32_t>(microsecond) * 1000u, 11));
}

cell raw(const bytes& value)
{
    return in_row(value);
}

cell clob(const std::wstring& value)
{
    // The LOB text of an AL32UTF8 dump is big-endian UTF-16.
    return lob(ora_rows::utf16be(value));
}

cell blob(const bytes& value)
{
    return lob(value);
}

ora_dump_writer::header_fields header(const options& o)
{
    ora_dump_writer::header_fields h;
    h.header_token = o.header_token;
    h.user_token = "D" + o.user;
    h.six_bytes[0] = 0x0001;
    h.six_bytes[1] = 873;   // AL32UTF8
    h.six_bytes[2] = 2000;  // AL16UTF16
    h.marker = o.marker;
    h.declared_length = o.declared_length;
    return h;
}

std::string create_sql(const table& t)
{
    std::string s = "CREATE TABLE " + quoted(t.name) + " (";
    for (std::size_t i = 0; i < t.columns.size(); ++i) {
        const column& c = t.columns[i];
        if (i)
            s += ", ";
        s += quoted(c.name) + " " + c.ddl;
        if (c.not_null)
            s += " NOT NULL ENABLE";
    }
    for (const std::string& piece : t.constraints)
        s += ",  " + piece;
    s += t.index_organized ? " ) ORGANIZATION INDEX  PCTFREE 10 INITRANS 1 MAXTRANS 255 "
                           : ")  PCTFREE 10 PCTUSED 40 INITRANS 1 MAXTRANS 255 ";
    s += storage;
    s += " TABLESPACE \"USERS\" LOGGING NOCOMPRESS";
    for (const column& c : t.columns)
        if (c.is_lob())
            s += " LOB (" + quoted(c.name) +
                 ") STORE AS BASICFILE  (TABLESPACE \"USERS\" ENABLE STORAGE IN ROW CHUNK 8192 RETENTION "
                 " NOCACHE LOGGING  STORAGE(INITIAL 65536 NEXT 1048576 MINEXTENTS 1 BUFFER_POOL DEFAULT))";
    if (!t.clauses.empty())
        s += " " + t.clauses;
    return s;
}

bytes session_settings(const std::string& time_zone)
{
    bytes out;
    auto item = [&](const std::string& text) {
        out.push_back(static_cast<std::uint8_t>(text.size() & 0xFF));
        out.push_back(static_cast<std::uint8_t>(text.size() >> 8));
        out.insert(out.end(), text.begin(), text.end());
    };
    item(time_zone);
    out.push_back(0);
    out.push_back(0);
    for (const char* setting : {"BYTE", "UNUSED", "2", "INTERPRETED", "DISABLE:ALL"})
        item(setting);
    out.push_back(0);
    out.push_back(0);
    return out;
}

std::string modify_default(const std::string& table, const std::string& clause)
{
    std::string s = "ALTER TABLE " + quoted(table) + " MODIFY DEFAULT\n";
    s += static_cast<char>(clause.size() & 0xFF);
    s += static_cast<char>(clause.size() >> 8);
    return s + clause;
}

std::string insert_sql(const table& t)
{
    std::vector<std::string> names;
    std::string binds;
    for (std::size_t i = 0; i < t.columns.size(); ++i) {
        names.push_back(t.columns[i].name);
        if (i)
            binds += ", ";
        binds += ":" + std::to_string(i + 1);
    }
    return "INSERT INTO " + quoted(t.name) + " (" + quoted_list(names, ", ") + ") VALUES (" + binds + ")";
}

std::vector<std::string> after_lines(const table& t)
{
    std::vector<std::string> lines;
    const std::string index_tail = std::string("  PCTFREE 10 INITRANS 2 MAXTRANS 255 ") + storage +
                                   " TABLESPACE \"USERS\" LOGGING";
    if (!t.primary_key.empty()) {
        const std::string pk = t.key_index.empty() ? t.name + "_PK" : t.key_index;
        lines.push_back("CREATE UNIQUE INDEX " + quoted(pk) + " ON " + quoted(t.name) + " (" +
                        quoted_list(t.primary_key, " , ") + " )" + index_tail);
        lines.push_back("ANALSTATS IR " + quoted(t.name));
        const std::string constraint = t.key_constraint_named ? " ADD  CONSTRAINT " + quoted(pk) : std::string(" ADD");
        lines.push_back("ALTER TABLE " + quoted(t.name) + constraint + " PRIMARY KEY (" +
                        quoted_list(t.primary_key, ", ") + ") USING INDEX PCTFREE 10 INITRANS 2 MAXTRANS 255 " +
                        storage + " TABLESPACE \"USERS\" LOGGING ENABLE ");
    }
    for (const index& i : t.indexes) {
        lines.push_back(std::string("CREATE ") + (i.unique ? "UNIQUE " : "") + "INDEX " + quoted(i.name) + " ON " +
                        quoted(t.name) + " (" + quoted_list(i.columns, " , ") + " )" + index_tail);
        lines.push_back("ANALSTATS IR " + quoted(t.name));
    }
    lines.push_back("ANALSTATS TR " + quoted(t.name));
    return lines;
}

bytes description(const table& t)
{
    std::vector<ora_rows::entry> entries;
    for (const column& c : t.columns)
        entries.push_back(c.entry);
    return ora_rows::description_gen9(entries, 10, {});
}

bytes row_bytes(const table& t, const std::vector<cell>& row)
{
    ora_rows::row r;
    for (std::size_t i = 0; i < t.columns.size(); ++i) {
        const cell& c = i < row.size() ? row[i] : cell{};
        if (c.null)
            r.null();
        else
            r.value(c.in_row);
    }
    // Version 12 writes the LOB values after the row, behind two bytes.
    r.gap();
    for (std::size_t i = 0; i < t.columns.size() && i < row.size(); ++i) {
        const cell& c = row[i];
        if (c.null || !c.lob)
            continue;
        if (c.lob_bytes.empty())
            r.lob_empty();
        else if (c.lob_bytes.size() < 4000)
            r.lob_inline(c.lob_bytes);
        else
            r.lob_fffc(c.lob_bytes, 4000);
    }
    return r.data();
}

void write_tables(ora_dump_writer& w, const std::vector<table>& tables)
{
    for (const table& t : tables) {
        w.line("TABLE " + quoted(t.name));
        w.line(create_sql(t));
        w.line(insert_sql(t));
        w.raw(description(t));
        for (const std::vector<cell>& row : t.rows)
            w.raw(row_bytes(t, row));
        w.raw(ora_rows::end_marker());
        w.raw(std::string("\n"));
        for (const std::string& l : after_lines(t))
            w.line(l);
        for (const std::string& l : t.lines_after)
            w.line(l);
    }
}

bytes whole_dump(const std::vector<table>& tables, const options& o)
{
    ora_dump_writer w;
    w.header(header(o));
    if (!o.time_zone.empty()) {
        w.raw(session_settings(o.time_zone));
        w.line("");
        w.line("METRICSU");
    }
    w.line("CONNECT " + o.user);
    for (const std::string& l : o.before_tables)
        w.line(l);
    write_tables(w, tables);
    w.line("ENDTABLE");
    w.line("EXIT");
    w.line("EXIT");
    return w.data();
}

}  // namespace classic_dump
