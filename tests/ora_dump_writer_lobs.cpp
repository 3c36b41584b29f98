#include "ora_dump_writer_lobs.h"

#include "ora_dump_writer.h"
#include "ora_dump_writer_pump.h"
#include "ora_dump_writer_rows.h"

#include <fstream>

namespace ora_lobs {

namespace {

// The CLOB's pattern: 59 characters, 120 bytes in UTF-16 (the last one
// takes two units).
const std::wstring clob_pattern = L"Plain text, \u0416\u0443\u0440\u043D\u0430\u043B \u2116 7\tcolumn\\two\r\n"
                                  L"next line: 0123456789 \U0001F600";
// The LONG's pattern: 61 characters of code page 1252.
const std::wstring long_pattern = L"Long text \u00E9\u00FC\u00DF\u00C5 0123456789\tA\\B\r\nabcdefghijklmnopqrstuvwx!";

std::string hex_of(const bytes& b)
{
    static const char digits[] = "0123456789abcdef";
    std::string out;
    out.reserve(2 * b.size());
    for (std::uint8_t c : b) {
        out.push_back(digits[c >> 4]);
        out.push_back(digits[c & 15]);
    }
    return out;
}

bytes encode(kind k, const std::wstring& text)
{
    return k == kind::clob ? ora_rows::utf16be(text) : ora_rows::text(text, 1252);
}

// The whole patterns and the characters after them that make up a text
// value of at most size stored bytes.
void split_text(kind k, std::size_t size, std::size_t& repeats, std::wstring& rest)
{
    const std::wstring& p = text_pattern(k);
    const std::size_t whole = encode(k, p).size();
    repeats = size / whole;
    std::size_t left = size % whole;
    rest.clear();
    for (wchar_t c : p) {
        const std::size_t n = encode(k, std::wstring(1, c)).size();
        if (n > left)
            break;
        rest.push_back(c);
        left -= n;
    }
}

std::string utf8_hex(const std::wstring& text)
{
    return hex_of(ora_rows::text(text, 65001));
}

void put(std::ofstream& out, const bytes& b)
{
    out.write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
}

const char* type_sql(kind k)
{
    switch (k) {
    case kind::blob:
        return "BLOB";
    case kind::clob:
        return "CLOB";
    case kind::long_raw:
        return "LONG RAW";
    default:
        return "LONG";
    }
}

bool write_classic(const std::string& path, kind k, const std::string& table, const bytes& value, int rows)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out)
        return false;
    const std::string column = value_column(k);
    ora_dump_writer head;
    head.header(ora_dump_writer::header_fields{});
    head.line("TABLE \"" + table + "\"");
    // A LONG or LONG RAW stands between two columns, as in the tables the
    // reader was seen to read.
    const bool tail = k == kind::long_raw || k == kind::long_text;
    head.line("CREATE TABLE \"" + table + "\" (\"ID\" NUMBER(10, 0), \"" + column + "\" " + type_sql(k) +
              (tail ? ", \"N\" NUMBER(10, 0)" : "") + ")  PCTFREE 10");
    head.line("INSERT INTO \"" + table + "\" (\"ID\", \"" + column + "\"" + (tail ? ", \"N\"" : "") +
              ") VALUES (:1, :2" + (tail ? ", :3" : "") + ")");
    ora_rows::entry value_entry;
    switch (k) {
    case kind::blob:
        value_entry = ora_rows::entry(113, 4000);
        break;
    case kind::clob:
        value_entry = ora_rows::entry(112, 4000);
        value_entry.charset_id = 873;
        break;
    case kind::long_raw:
        value_entry = ora_rows::entry(24, 0);
        break;
    default:
        value_entry = ora_rows::entry(8, 0);
        break;
    }
    value_entry.lob_name = column;
    std::vector<ora_rows::entry> entries = {ora_rows::entry(2, 22), value_entry};
    if (tail)
        entries.push_back(ora_rows::entry(2, 22));
    head.raw(ora_rows::description_gen9(entries, 10, {}));
    put(out, head.data());
    for (int i = 0; i < rows; ++i) {
        ora_rows::row r;
        r.value(ora_rows::number(std::to_string(i + 1)));
        if (k == kind::blob || k == kind::clob) {
            // The row holds the locator; the value follows the row.
            r.value(bytes(20, 0x01)).gap();
            r.lob_fffc(value, 8132);
        } else {
            r.chunked(value, 8000, k == kind::long_text);
            r.value(ora_rows::number(std::to_string(i + 1)));
            // Every row of a dump whose LOB values follow the rows ends
            // with 00 00, whether or not a LOB value comes after it.
            r.gap();
        }
        put(out, r.data());
    }
    put(out, ora_rows::end_marker());
    out << "\nEXIT\nEXIT\n";
    return static_cast<bool>(out.flush());
}

// The LOB part of a Data Pump LOB record as an export writes it: the first
// chunk flagged 01, the middle ones announced by 03, the last by 06 (the
// row's last LOB), each with 01 FE and a 2-byte size.
bytes pump_lob(const bytes& value)
{
    constexpr std::size_t piece = 32000;
    bytes out;
    out.reserve(value.size() + value.size() / piece * 5 + 16);
    // At least two chunks: the first and the last.
    const std::size_t first = value.size() > piece ? piece : value.size() / 2;
    auto chunk = [&](std::uint8_t flag, std::size_t at, std::size_t n) {
        out.insert(out.end(), {flag, 0x01, 0xFE, static_cast<std::uint8_t>(n >> 8), static_cast<std::uint8_t>(n)});
        out.insert(out.end(), value.begin() + static_cast<std::ptrdiff_t>(at),
                   value.begin() + static_cast<std::ptrdiff_t>(at + n));
    };
    chunk(0x01, 0, first);
    std::size_t at = first;
    while (value.size() - at > piece) {
        chunk(0x03, at, piece);
        at += piece;
    }
    chunk(0x06, at, value.size() - at);
    return out;
}

bool write_pump(const std::string& path, kind k, const std::string& table, const bytes& value, int rows)
{
    std::vector<ora_pump::column> columns = {{"ID", 2, 22, 10, 0, 0, true}};
    if (k == kind::clob)
        columns.push_back({value_column(k), 112, 4000, {}, {}, 873});
    else
        columns.push_back({value_column(k), 113, 4000, {}, {}});
    ora_pump::file_writer w(path);
    w.document(ora_pump::strmtable_doc("SCOTT", table, columns));
    w.zeros(3);
    const bytes lob = pump_lob(value);
    for (int i = 0; i < rows; ++i) {
        const bytes head = ora_pump::lob_record(0x08, {ora_pump::value(ora_rows::number(std::to_string(i + 1)))}, {});
        w.raw(head);
        w.raw(lob);
    }
    w.zeros(16);
    return w.close();
}

}  // namespace

const char* value_column(kind k)
{
    return is_text(k) ? "C" : "B";
}

bool is_text(kind k)
{
    return k == kind::clob || k == kind::long_text;
}

const bytes& byte_pattern()
{
    static const bytes pattern = [] {
        bytes b(251);
        for (std::size_t i = 0; i < b.size(); ++i)
            b[i] = static_cast<std::uint8_t>(i * 73 + 11);
        return b;
    }();
    return pattern;
}

const std::wstring& text_pattern(kind k)
{
    return k == kind::clob ? clob_pattern : long_pattern;
}

bytes stored_value(kind k, std::size_t size)
{
    bytes out;
    out.reserve(size);
    if (!is_text(k)) {
        const bytes& p = byte_pattern();
        for (std::size_t i = 0; i < size; ++i)
            out.push_back(p[i % p.size()]);
        return out;
    }
    std::size_t repeats = 0;
    std::wstring rest;
    split_text(k, size, repeats, rest);
    const bytes whole = encode(k, text_pattern(k));
    for (std::size_t i = 0; i < repeats; ++i)
        out.insert(out.end(), whole.begin(), whole.end());
    const bytes tail = encode(k, rest);
    out.insert(out.end(), tail.begin(), tail.end());
    return out;
}

std::string value_sql(kind k, std::size_t size)
{
    if (!is_text(k)) {
        const bytes& p = byte_pattern();
        const bytes rest(p.begin(), p.begin() + static_cast<std::ptrdiff_t>(size % p.size()));
        return "decode(repeat('" + hex_of(p) + "', " + std::to_string(size / p.size()) + ") || '" + hex_of(rest) +
               "', 'hex')";
    }
    std::size_t repeats = 0;
    std::wstring rest;
    split_text(k, size, repeats, rest);
    return "(repeat(convert_from(decode('" + utf8_hex(text_pattern(k)) + "', 'hex'), 'UTF8'), " +
           std::to_string(repeats) + ") || convert_from(decode('" + utf8_hex(rest) + "', 'hex'), 'UTF8'))";
}

bool write_dump(const std::string& path, format f, kind k, const std::string& table, std::size_t size, int rows)
{
    const bytes value = stored_value(k, size);
    if (f == format::classic)
        return write_classic(path, k, table, value, rows);
    if (k != kind::blob && k != kind::clob)
        return false;
    return write_pump(path, k, table, value, rows);
}

}  // namespace ora_lobs
