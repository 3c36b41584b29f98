#include "ora_dump_writer_rows.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace ora_rows {

namespace {

void put16le(bytes& out, std::uint16_t v)
{
    out.push_back(static_cast<std::uint8_t>(v & 0xFF));
    out.push_back(static_cast<std::uint8_t>(v >> 8));
}

void put(bytes& out, const bytes& b)
{
    out.insert(out.end(), b.begin(), b.end());
}

void put(bytes& out, const std::string& s)
{
    out.insert(out.end(), s.begin(), s.end());
}

void utf8_append(bytes& out, char32_t c)
{
    if (c < 0x80) {
        out.push_back(static_cast<std::uint8_t>(c));
    } else if (c < 0x800) {
        out.push_back(static_cast<std::uint8_t>(0xC0 | (c >> 6)));
        out.push_back(static_cast<std::uint8_t>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out.push_back(static_cast<std::uint8_t>(0xE0 | (c >> 12)));
        out.push_back(static_cast<std::uint8_t>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<std::uint8_t>(0x80 | (c & 0x3F)));
    } else {
        out.push_back(static_cast<std::uint8_t>(0xF0 | (c >> 18)));
        out.push_back(static_cast<std::uint8_t>(0x80 | ((c >> 12) & 0x3F)));
        out.push_back(static_cast<std::uint8_t>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<std::uint8_t>(0x80 | (c & 0x3F)));
    }
}

std::vector<char16_t> utf16_units(const std::wstring& value)
{
    std::vector<char16_t> units;
    for (wchar_t w : value) {
        char32_t c = static_cast<char32_t>(w);
        if (c >= 0x10000) {
            c -= 0x10000;
            units.push_back(static_cast<char16_t>(0xD800 | (c >> 10)));
            units.push_back(static_cast<char16_t>(0xDC00 | (c & 0x3FF)));
        } else {
            units.push_back(static_cast<char16_t>(c));
        }
    }
    return units;
}

// Splits into pieces of `piece` bytes and a shorter remainder.
std::vector<bytes> split(const bytes& b, std::size_t piece)
{
    std::vector<bytes> pieces;
    for (std::size_t at = 0; at < b.size(); at += piece)
        pieces.emplace_back(b.begin() + static_cast<std::ptrdiff_t>(at),
                            b.begin() + static_cast<std::ptrdiff_t>(std::min(b.size(), at + piece)));
    return pieces;
}

}  // namespace

bytes number(const std::string& text_in)
{
    std::size_t i = 0;
    bool negative = false;
    if (i < text_in.size() && (text_in[i] == '-' || text_in[i] == '+'))
        negative = text_in[i++] == '-';
    std::string digits;
    long exponent = 0;
    bool point = false;
    bool any = false;
    for (; i < text_in.size(); ++i) {
        char c = text_in[i];
        if (c >= '0' && c <= '9') {
            digits.push_back(c);
            any = true;
            if (point)
                --exponent;
        } else if (c == '.' && !point) {
            point = true;
        } else {
            break;
        }
    }
    if (!any)
        throw std::invalid_argument("no number: " + text_in);
    if (i < text_in.size()) {
        if (text_in[i] != 'e' && text_in[i] != 'E')
            throw std::invalid_argument("no number: " + text_in);
        ++i;
        bool eneg = false;
        if (i < text_in.size() && (text_in[i] == '-' || text_in[i] == '+'))
            eneg = text_in[i++] == '-';
        long e = 0;
        if (i >= text_in.size())
            throw std::invalid_argument("no number: " + text_in);
        for (; i < text_in.size(); ++i) {
            if (text_in[i] < '0' || text_in[i] > '9')
                throw std::invalid_argument("no number: " + text_in);
            e = e * 10 + (text_in[i] - '0');
        }
        exponent += eneg ? -e : e;
    }
    // value = digits * 10^exponent, without leading or trailing zeros.
    std::size_t lead = digits.find_first_not_of('0');
    if (lead == std::string::npos)
        return {0x80};
    digits.erase(0, lead);
    while (digits.back() == '0') {
        digits.pop_back();
        ++exponent;
    }
    // The place of the leading digit decides the base-100 exponent; the
    // digits are then cut in pairs that line up with it.
    long top = exponent + static_cast<long>(digits.size()) - 1;
    long e100 = top >= 0 ? top / 2 : -((-top + 1) / 2);
    long pad = 2 * e100 + 1 - top;
    digits.insert(0, static_cast<std::size_t>(pad), '0');
    if (digits.size() % 2)
        digits.push_back('0');
    std::vector<int> pairs;
    for (std::size_t k = 0; k < digits.size(); k += 2)
        pairs.push_back((digits[k] - '0') * 10 + (digits[k + 1] - '0'));
    while (!pairs.empty() && pairs.back() == 0)
        pairs.pop_back();
    if (pairs.size() > 20 || e100 < -65 || e100 > 62)
        throw std::invalid_argument("beyond NUMBER: " + text_in);
    bytes out;
    if (!negative) {
        out.push_back(static_cast<std::uint8_t>(e100 + 193));
        for (int p : pairs)
            out.push_back(static_cast<std::uint8_t>(p + 1));
    } else {
        out.push_back(static_cast<std::uint8_t>(62 - e100));
        for (int p : pairs)
            out.push_back(static_cast<std::uint8_t>(101 - p));
        if (pairs.size() < 20)
            out.push_back(0x66);
    }
    return out;
}

bytes date(int year, int month, int day, int hour, int minute, int second)
{
    return {static_cast<std::uint8_t>(year / 100 + 100), static_cast<std::uint8_t>(year % 100 + 100),
            static_cast<std::uint8_t>(month),            static_cast<std::uint8_t>(day),
            static_cast<std::uint8_t>(hour + 1),         static_cast<std::uint8_t>(minute + 1),
            static_cast<std::uint8_t>(second + 1)};
}

bytes timestamp(int year, int month, int day, int hour, int minute, int second, std::uint32_t ns, int length,
                std::uint8_t zone1, std::uint8_t zone2)
{
    bytes out = date(year, month, day, hour, minute, second);
    if (length >= 11)
        for (int shift = 24; shift >= 0; shift -= 8)
            out.push_back(static_cast<std::uint8_t>(ns >> shift));
    if (length >= 13) {
        out.push_back(zone1);
        out.push_back(zone2);
    }
    return out;
}

bytes text(const std::wstring& value, int code_page)
{
    bytes out;
    for (wchar_t w : value) {
        char32_t c = static_cast<char32_t>(w);
        if (code_page == 65001) {
            utf8_append(out, c);
        } else if (c < 0x80) {
            out.push_back(static_cast<std::uint8_t>(c));
        } else if (code_page == 1252 && c >= 0xA0 && c <= 0xFF) {
            out.push_back(static_cast<std::uint8_t>(c));
        } else if (code_page == 1251 && c >= 0x410 && c <= 0x44F) {
            out.push_back(static_cast<std::uint8_t>(c - 0x410 + 0xC0));
        } else if (code_page == 1251 && c == 0x401) {
            out.push_back(0xA8);
        } else if (code_page == 1251 && c == 0x451) {
            out.push_back(0xB8);
        } else {
            out.push_back('?');
        }
    }
    return out;
}

bytes utf16be(const std::wstring& value)
{
    bytes out;
    for (char16_t u : utf16_units(value)) {
        out.push_back(static_cast<std::uint8_t>(u >> 8));
        out.push_back(static_cast<std::uint8_t>(u & 0xFF));
    }
    return out;
}

bytes utf16le(const std::wstring& value)
{
    bytes out;
    for (char16_t u : utf16_units(value)) {
        out.push_back(static_cast<std::uint8_t>(u & 0xFF));
        out.push_back(static_cast<std::uint8_t>(u >> 8));
    }
    return out;
}

namespace {
// Oracle's order-preserving form: non-negative values get the sign bit set,
// negative ones have every bit inverted.
bytes ordered_ieee(std::uint64_t bits, int count)
{
    const std::uint64_t sign = std::uint64_t{1} << (count * 8 - 1);
    if (bits & sign)
        bits = ~bits;
    else
        bits |= sign;
    bytes out;
    for (int shift = (count - 1) * 8; shift >= 0; shift -= 8)
        out.push_back(static_cast<std::uint8_t>(bits >> shift));
    return out;
}
}  // namespace

bytes binary_float(float value)
{
    std::uint32_t bits;
    std::memcpy(&bits, &value, 4);
    return ordered_ieee(bits, 4);
}

bytes binary_double(double value)
{
    std::uint64_t bits;
    std::memcpy(&bits, &value, 8);
    return ordered_ieee(bits, 8);
}

bytes hex(const std::string& t)
{
    bytes out;
    int nibbles = 0;
    int cur = 0;
    for (char c : t) {
        int v;
        if (c >= '0' && c <= '9')
            v = c - '0';
        else if (c >= 'a' && c <= 'f')
            v = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F')
            v = c - 'A' + 10;
        else
            continue;
        cur = cur * 16 + v;
        if (++nibbles == 2) {
            out.push_back(static_cast<std::uint8_t>(cur));
            nibbles = 0;
            cur = 0;
        }
    }
    return out;
}

// --- descriptions -------------------------------------------------------------

bytes description_gen7(const std::vector<entry>& entries)
{
    bytes out;
    put16le(out, static_cast<std::uint16_t>(entries.size()));
    bool has_871 = false;
    for (const entry& e : entries) {
        put16le(out, e.code);
        put16le(out, e.size);
        has_871 = has_871 || e.code == 871;
    }
    if (has_871)
        out.insert(out.end(), 16, 0);
    return out;
}

bytes description_gen8(const std::vector<entry>& entries, const gen8_options& o)
{
    bytes out;
    put16le(out, static_cast<std::uint16_t>(entries.size()));
    for (const entry& e : entries) {
        put16le(out, e.code);
        put16le(out, e.size);
        if (e.code == 1 || e.code == 96)
            out.insert(out.end(), e.text_extra, e.text_extra + 4);
    }
    put16le(out, o.lob_count);
    bool no_flag = o.minor == 0 && o.patch >= 4 && o.patch <= 6;
    if (!no_flag)
        put16le(out, static_cast<std::uint16_t>(o.skip_flag));
    for (const bytes& item : o.lob_items)
        put(out, item);
    return out;
}

bool has_extra_description(const std::vector<entry>& entries, int generation)
{
    for (const entry& e : entries) {
        if (e.code == 112 || e.code == 113 || e.code == 121)
            return true;
        if (generation >= 10 && (e.code == 58 || e.code == 114 || e.code == 122 || e.code == 123))
            return true;
    }
    return false;
}

bytes description_gen9(const std::vector<entry>& entries, int generation, const gen9_options& o)
{
    bytes out;
    put16le(out, static_cast<std::uint16_t>(entries.size()));
    for (const entry& e : entries) {
        put16le(out, e.code);
        put16le(out, e.size);
        if (e.code == 1 || e.code == 96)
            out.insert(out.end(), e.text_extra, e.text_extra + 4);
        if (e.code == 112) {
            put16le(out, e.charset_id);
            out.insert(out.end(), 2, 0);
        }
    }
    if (!has_extra_description(entries, generation)) {
        put16le(out, o.lob_count);
        put16le(out, static_cast<std::uint16_t>(o.skip_flag));
        return out;
    }
    put16le(out, static_cast<std::uint16_t>(o.extra_count < 0 ? entries.size() : o.extra_count));
    for (const entry& e : entries) {
        if (e.code == 58 || (e.code >= 121 && e.code <= 123)) {
            for (const std::string& piece : e.object_pieces) {
                out.push_back(static_cast<std::uint8_t>(piece.size()));
                put(out, piece);
            }
        } else if (e.code >= 112 && e.code <= 114) {
            out.insert(out.end(), 2, 0);
            out.push_back(static_cast<std::uint8_t>(e.lob_name.size()));
            put(out, e.lob_name);
        } else {
            out.insert(out.end(), 3, 0);
        }
    }
    out.insert(out.end(), o.zero_padding, 0);
    return out;
}

// --- rows ---------------------------------------------------------------------

void row::u16(std::uint16_t v)
{
    put16le(out, v);
}

row& row::value(const bytes& b)
{
    u16(static_cast<std::uint16_t>(b.size()));
    put(out, b);
    return *this;
}

row& row::length(std::uint16_t l)
{
    u16(l);
    return *this;
}

row& row::null()
{
    u16(0xFFFE);
    return *this;
}

row& row::chunked(const bytes& b, std::size_t piece, bool trailer_after_zero)
{
    u16(0xFFFD);
    std::vector<bytes> pieces = split(b, piece);
    for (const bytes& p : pieces) {
        u16(static_cast<std::uint16_t>(p.size()));
        put(out, p);
    }
    bool last_differs = pieces.size() >= 2 && pieces.back().size() != pieces[pieces.size() - 2].size();
    if (last_differs) {
        out.insert(out.end(), 2, 0);
    } else {
        u16(0);
        if (trailer_after_zero)
            out.insert(out.end(), 2, 0);
    }
    return *this;
}

row& row::raw_continued(const std::vector<bytes>& pieces)
{
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        if (i == 0) {
            u16(static_cast<std::uint16_t>(pieces[0].size()));
        } else {
            out.push_back(0x06);
            out.push_back(0x01);
            out.push_back(0x00);
            out.push_back(static_cast<std::uint8_t>(pieces[i].size() >> 8));
            out.push_back(static_cast<std::uint8_t>(pieces[i].size() & 0xFF));
        }
        put(out, pieces[i]);
    }
    return *this;
}

row& row::gap()
{
    u16(0);
    return *this;
}

row& row::lob_empty()
{
    u16(0);
    return *this;
}

row& row::lob_inline(const bytes& b)
{
    u16(static_cast<std::uint16_t>(b.size()));
    put(out, b);
    return *this;
}

row& row::lob_fffc(const bytes& b, std::size_t piece, std::uint64_t declared_total)
{
    u16(0xFFFC);
    for (int i = 0; i < 8; ++i)
        out.push_back(static_cast<std::uint8_t>(declared_total >> (8 * i)));
    std::vector<bytes> pieces = split(b, piece);
    if (pieces.empty())
        u16(0);
    for (const bytes& p : pieces) {
        u16(static_cast<std::uint16_t>(p.size()));
        put(out, p);
    }
    return *this;
}

row& row::lob_fffa(const bytes& b, std::size_t piece, std::size_t repeats)
{
    u16(0xFFFA);
    for (std::size_t i = 0; i < repeats; ++i)
        u16(0xFFFA);
    u16(0x0001);  // the value that ends the run, dropped by the reader
    out.insert(out.end(), 2 * repeats, 0);
    std::vector<bytes> pieces = split(b, piece);
    for (const bytes& p : pieces) {
        u16(static_cast<std::uint16_t>(p.size()));
        put(out, p);
    }
    bool last_differs = pieces.size() >= 2 && pieces.back().size() != pieces[pieces.size() - 2].size();
    if (!last_differs && !pieces.empty())
        u16(0);
    if (pieces.empty())
        u16(0);
    return *this;
}

row& row::end_zero()
{
    u16(0);
    return *this;
}

row& row::raw(const bytes& b)
{
    put(out, b);
    return *this;
}

bytes end_marker()
{
    return {0xFF, 0xFF};
}

// --- whole files --------------------------------------------------------------

dump_offsets write_dump(ora_dump_writer& w, const ora_dump_writer::header_fields& header,
                        const std::vector<table_spec>& tables)
{
    dump_offsets d;
    d.header = w.header(header);
    for (const table_spec& t : tables) {
        table_offsets to;
        to.table_line = w.line("TABLE \"" + t.name + "\"");
        to.create = w.line(t.create_sql);
        for (const block_spec& b : t.blocks) {
            block_offsets bo;
            bo.insert = w.line(b.insert_sql);
            bo.description = w.raw(b.description);
            for (const bytes& r : b.rows)
                bo.rows.push_back(w.raw(r));
            if (b.end_marker)
                bo.end_marker = w.raw(end_marker());
            bo.end = w.offset();
            w.raw(std::string("\n"));
            to.blocks.push_back(bo);
        }
        for (const std::string& l : t.after_lines)
            to.after_lines.push_back(w.line(l));
        d.tables.push_back(to);
    }
    std::int64_t exit_at = w.line("EXIT");
    w.line("EXIT");
    for (table_offsets& to : d.tables)
        to.end = exit_at;
    for (std::size_t i = 0; i + 1 < d.tables.size(); ++i)
        d.tables[i].end = d.tables[i + 1].table_line;
    d.end = w.offset();
    return d;
}

}  // namespace ora_rows
