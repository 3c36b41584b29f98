#include "pgs_values.h"

#include "ole_date.h"
#include "tk_exception.h"
#include "tk_format.h"
#include "tk_logger.h"
#include "tk_string.h"
#include "tk_unicode.h"

#include <charconv>
#include <string_view>
#include <cstring>
#include <limits>

namespace {

const wchar_t* null_marker(pgs_form form)
{
    return form == pgs_copy_form ? L"\\N" : L"NULL";
}

const wchar_t* empty_form(pgs_form form)
{
    return form == pgs_copy_form ? L"" : L"''";
}

bool is_digit(wchar_t c)
{
    return c >= L'0' && c <= L'9';
}

bool is_hex(wchar_t c)
{
    return is_digit(c) || (c >= L'a' && c <= L'f') || (c >= L'A' && c <= L'F');
}

[[noreturn]] void invalid_date(const std::wstring& text)
{
    TK_TRACE(2, "Date is not valid");
    throw tk_exception(tk_format("Invalid date value: '%s'", text), 0);
}

bool is_float_special(const std::wstring& text)
{
    return text == L"NaN" || text == L"Infinity" || text == L"-Infinity";
}

// An optional sign, digits with an optional point, an optional exponent;
// nothing else.
bool is_decimal_number(const std::wstring& t)
{
    std::size_t i = 0;
    if (i < t.size() && (t[i] == L'+' || t[i] == L'-'))
        ++i;
    std::size_t digits = 0;
    while (i < t.size() && is_digit(t[i]))
        ++i, ++digits;
    if (i < t.size() && t[i] == L'.') {
        ++i;
        while (i < t.size() && is_digit(t[i]))
            ++i, ++digits;
    }
    if (digits == 0)
        return false;
    if (i < t.size() && (t[i] == L'e' || t[i] == L'E')) {
        ++i;
        if (i < t.size() && (t[i] == L'+' || t[i] == L'-'))
            ++i;
        std::size_t exp_digits = 0;
        while (i < t.size() && is_digit(t[i]))
            ++i, ++exp_digits;
        if (exp_digits == 0)
            return false;
    }
    return i == t.size();
}

// The PostgreSQL integer type of an integer vartype, as its range.
bool integer_range(VARTYPE vt, std::int64_t& low, std::int64_t& high)
{
    switch (vt) {
    case VT_I2:
    case VT_I1:
    case VT_UI1:
        low = std::numeric_limits<std::int16_t>::min();
        high = std::numeric_limits<std::int16_t>::max();
        return true;
    case VT_I4:
    case VT_UI2:
    case VT_INT:
        low = std::numeric_limits<std::int32_t>::min();
        high = std::numeric_limits<std::int32_t>::max();
        return true;
    case VT_UI4:
    case VT_UINT:
        low = std::numeric_limits<std::int64_t>::min();
        high = std::numeric_limits<std::int64_t>::max();
        return true;
    default:
        return false;
    }
}

// The exact decimal writing of a 64-bit number, or false.
bool read_exact_integer(const std::wstring& text, std::int64_t& n)
{
    if (text.empty() || text.size() > 20)
        return false;
    char buf[24];
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (static_cast<std::uint32_t>(text[i]) >= 0x80)
            return false;
        buf[i] = static_cast<char>(text[i]);
    }
    const char* end = buf + text.size();
    const auto r = std::from_chars(buf, end, n);
    if (r.ec != std::errc() || r.ptr != end)
        return false;
    char again[24];
    const auto w = std::to_chars(again, again + sizeof again, n);
    return static_cast<std::size_t>(w.ptr - again) == text.size() && std::memcmp(again, buf, text.size()) == 0;
}

void append_padded(char*& p, int value, int width)
{
    char digits[16];
    const auto r = std::to_chars(digits, digits + sizeof digits, value < 0 ? -value : value);
    int length = static_cast<int>(r.ptr - digits);
    if (value < 0) {
        *p++ = '-';
        --width;
    }
    for (int i = length; i < width; ++i)
        *p++ = '0';
    std::memcpy(p, digits, static_cast<std::size_t>(length));
    p += length;
}

// ole_date's wide printing with milliseconds, into a fixed buffer; an
// instant's "+00" comes before the era, where the server prints it.
std::size_t print_date(const ole_date& d, bool utc, char* buf)
{
    char* p = buf;
    const t_systemtime& t = d.time;
    auto time_part = [&] {
        append_padded(p, t.hour, 2);
        *p++ = ':';
        append_padded(p, t.minute, 2);
        *p++ = ':';
        append_padded(p, t.second, 2);
        if (t.microsecond != 0) {
            *p++ = '.';
            if (t.microsecond % 1000 == 0)
                append_padded(p, t.microsecond / 1000, 3);
            else
                append_padded(p, t.microsecond, 6);
        }
    };
    if (d.kind == 1 || d.kind == 2) {
        append_padded(p, t.year < 0 ? -t.year : t.year, 4);
        *p++ = '-';
        append_padded(p, t.month, 2);
        *p++ = '-';
        append_padded(p, t.day, 2);
        const bool midnight = t.hour == 0 && t.minute == 0 && t.second == 0 && t.microsecond == 0;
        if (!(d.kind == 2 || (midnight && d.omit_midnight))) {
            *p++ = ' ';
            time_part();
        }
    } else if (d.kind == 3) {
        time_part();
    }
    if (utc) {
        std::memcpy(p, "+00", 3);
        p += 3;
    }
    if ((d.kind == 1 || d.kind == 2) && t.year < 0) {
        std::memcpy(p, " BC", 3);
        p += 3;
    }
    return static_cast<std::size_t>(p - buf);
}

// An instant's text: its UTC time, said to be UTC, before the era.
std::wstring with_utc_zone(std::wstring printed)
{
    static constexpr std::wstring_view era = L" BC";
    const bool bc = printed.size() >= era.size() && printed.compare(printed.size() - era.size(), era.size(), era) == 0;
    printed.insert(bc ? printed.size() - era.size() : printed.size(), L"+00");
    return printed;
}

void append_escaped_text(std::string& out, std::wstring_view text)
{
    for (wchar_t c : text) {
        switch (c) {
        case L'\0':
            return;
        case L'\\':
            out += "\\\\";
            break;
        case L'\t':
            out += "\\\t";
            break;
        case L'\n':
            out += "\\n";
            break;
        case L'\r':
            out += "\\r";
            break;
        default:
            if (static_cast<std::uint32_t>(c) < 0x80)
                out.push_back(static_cast<char>(c));
            else
                tk_append_utf8(out, static_cast<char32_t>(static_cast<std::uint32_t>(c)));
        }
    }
}

// The same escapes for UTF-8 text, whose bytes from 0x80 on pass as they
// are.
void append_escaped_utf8(std::string& out, std::string_view text)
{
    std::size_t run = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char* escape;
        switch (text[i]) {
        case '\\':
            escape = "\\\\";
            break;
        case '\t':
            escape = "\\\t";
            break;
        case '\n':
            escape = "\\n";
            break;
        case '\r':
            escape = "\\r";
            break;
        case '\0':
            out.append(text.data() + run, i - run);
            return;
        default:
            continue;
        }
        out.append(text.data() + run, i - run);
        out += escape;
        run = i + 1;
    }
    out.append(text.data() + run, text.size() - run);
}

}  // namespace

bool pgs_is_binary_vartype(VARTYPE vt)
{
    return vt == VT_BLOB || vt == VT_BLOB_OBJECT || vt == VT_BYTE_ARRAY;
}

std::wstring to_pgs_str(const std::wstring& text, VARTYPE vartype, std::uint32_t reserved, pgs_form form)
{
    TK_TRACE(1, "to_pgs_str(%d,%d)", vartype, reserved);
    if (vartype == VT_NULL)
        return null_marker(form);
    if (text.empty())
        return vartype == VT_BSTR ? empty_form(form) : null_marker(form);
    if (vartype == VT_DATE) {
        TK_TRACE(1, "Got date, dw_reserved=%d", reserved);
        ole_date d(text);
        if (!d.is_valid()) {
            // A zero date means no date at all.
            if (text.find(L"0000-00-00") != std::wstring::npos)
                return null_marker(form);
            invalid_date(text);
        }
        TK_TRACE(1, "Step #1");
        if (reserved >= 1 && reserved <= 3)
            d.kind = static_cast<int>(reserved);
        // An instant: its UTC time, said to be UTC.
        const bool utc = reserved == t_ftd::date_time_utc;
        if (utc) {
            d.kind = static_cast<int>(t_ftd::date_and_time);
            d.omit_midnight = false;
        }
        const std::wstring printed = utc ? with_utc_zone(d.to_wstring(true)) : d.to_wstring(true);
        TK_TRACE(1, "d.to_wstring='%s'", printed);
        if (printed.find(L"0000-00-00") != std::wstring::npos) {
            TK_TRACE(1, "0000-00-00 date has been found");
            return null_marker(form);
        }
        return form == pgs_copy_form ? printed : L"'" + printed + L"'";
    }
    if (pgs_is_binary_vartype(vartype)) {
        TK_TRACE(1, "GOT BLOB");
        bool valid = text.size() >= 2 && is_digit(text[0]);
        const bool hex_form = valid && (text[1] == L'x' || text[1] == L'X');
        if (valid && hex_form && text[0] != L'0')
            valid = false;
        if (valid && !hex_form && !is_digit(text[1]))
            valid = false;
        for (std::size_t i = 2; valid && i < text.size(); ++i)
            valid = hex_form ? is_hex(text[i]) : is_digit(text[i]);
        // Only the 0x form is a byte text; digits alone are not.
        if (!valid || !hex_form)
            return empty_form(form);
        TK_TRACE(1, "BLOB IS VALID");
        if (form == pgs_copy_form)
            return L"\\\\" + text.substr(1);
        return L"DECODE('" + text.substr(2) + L"','hex')";
    }
    std::wstring out;
    out.reserve(text.size() + 2);
    if (form == pgs_copy_form) {
        for (wchar_t c : text) {
            if (c == L'\t' || c == L'\\')
                out.push_back(L'\\');
            out.push_back(c);
        }
        return out;
    }
    const bool quoted =
        vartype == VT_BSTR || vartype == VT_BOOL || ((vartype == VT_R4 || vartype == VT_R8) && is_float_special(text));
    if (quoted)
        out.push_back(L'\'');
    for (wchar_t c : text) {
        if (c == L'\'')
            out.push_back(L'\'');
        out.push_back(c);
    }
    if (quoted)
        out.push_back(L'\'');
    return out;
}

std::wstring to_pgs_str(const udb_field& field)
{
    TK_TRACE(1, "to_pgs_str(const udb_field *)");
    // An empty byte array is an empty bytea, not NULL.
    if (field.get_vt() == VT_BYTE_ARRAY && field.byte_count() == 0)
        return L"DECODE('','hex')";
    return to_pgs_str(field.to_wstring(), field.get_vt(), 1, pgs_sql_form);
}

std::wstring make_pgs_def_val(const t_ftd& column)
{
    const std::wstring text = column.default_value.to_wstring();
    TK_TRACE(1, "make_pgs_def_val(%s)", text);
    if (text.empty()) {
        TK_TRACE(1, "Got empty def value");
        return std::wstring();
    }
    switch (column.vartype) {
    case VT_BSTR: {
        TK_TRACE(1, "Got BSTR or DATE def value: %s", text);
        const std::wstring cut = column.size != 0 && text.size() > column.size ? text.substr(0, column.size) : text;
        return to_pgs_str(cut, VT_BSTR, 1, pgs_sql_form);
    }
    case VT_BOOL:
    case VT_I2:
    case VT_I4:
    case VT_I1:
    case VT_UI1:
    case VT_UI2:
    case VT_UI4:
    case VT_INT:
    case VT_UINT: {
        std::int64_t n = 0;
        if (!read_exact_integer(text, n))
            return std::wstring();
        if (column.vartype == VT_BOOL) {
            if (n == 0 || n == 1)
                return L"'" + text + L"'";
            TK_TRACE(2, "Invalid boolean def.value: '%s'", text);
            return std::wstring();
        }
        std::int64_t low = 0, high = 0;
        if (!integer_range(column.vartype, low, high) || n < low || n > high)
            return std::wstring();
        return text;
    }
    case VT_R4:
    case VT_R8:
    case VT_CY:
    case VT_DECIMAL: {
        const std::wstring trimmed = tk_trim(text);
        return is_decimal_number(trimmed) ? trimmed : std::wstring();
    }
    case VT_DATE:
        TK_TRACE(1, "Got DATE def value");
        if (tk_compare_no_case(text, std::wstring_view(L"CURRENT_TIMESTAMP")) == 0) {
            TK_TRACE(1, "Special processing for CURRENT_TIMESTAMP");
            return text;
        }
        try {
            return to_pgs_str(text, VT_DATE, column.reserved, pgs_sql_form);
        } catch (const tk_exception&) {
            return std::wstring();
        }
    default:
        return std::wstring();
    }
}

std::wstring pgs_get_native_type(const t_ftd& column)
{
    TK_TRACE(1, "pgs_get_native_type(name=%s,vt=%d)", column.name, column.vartype);
    if (column.b_autoincrement) {
        TK_TRACE(1, "'%s' is auto increment field", column.name);
        return L"SERIAL";
    }
    switch (column.vartype) {
    case VT_I2:
    case VT_I1:
    case VT_UI1:
        return L"SMALLINT";
    case VT_I4:
    case VT_UI2:
    case VT_INT:
        return L"INTEGER";
    case VT_R4:
        return L"REAL";
    case VT_R8:
        return L"DOUBLE PRECISION";
    case VT_CY:
        return L"DECIMAL(19, 4)";
    case VT_DATE:
        if (column.reserved == t_ftd::date_only)
            return L"DATE";
        if (column.reserved == t_ftd::time_only)
            return L"TIME";
        if (column.reserved == t_ftd::date_time_utc)
            return L"TIMESTAMP WITH TIME ZONE";
        return L"TIMESTAMP";
    case VT_BSTR:
    case VT_LPWSTR:
        TK_TRACE(1, "process as text");
        if (column.size == 0 || column.size > pgs_max_varchar)
            return L"TEXT";
        return tk_wformat(L"VARCHAR(%d) ", column.size);
    case VT_BOOL:
        return L"BOOLEAN";
    case VT_DECIMAL: {
        const int p = t_ftd::decimal_precision(column.reserved);
        const int s = t_ftd::decimal_scale(column.reserved);
        TK_TRACE(1, "Scale/precision for decimal column: (%d, %d)", s, p);
        if (p == 0)
            return L"NUMERIC";
        return tk_wformat(L"DECIMAL(%d,%d)", p, s);
    }
    case VT_UI4:
    case VT_I8:
    case VT_UI8:
    case VT_UINT:
        return L"BIGINT";
    case VT_BLOB:
    case VT_BLOB_OBJECT:
    case VT_BYTE_ARRAY:
        TK_TRACE(1, "process as binary");
        return L"BYTEA";
    default:
        throw tk_exception(tk_format("Unsupported column type %d for column '%s'", column.vartype, column.name), 0);
    }
}

VARTYPE pgs_get_vartype(const char* type_name)
{
    TK_TRACE(1, "pgs_get_vartype(%s)", type_name);
    const std::string_view n = type_name ? type_name : "";
    for (const char* s : {"bool", "boolean"})
        if (n == s)
            return VT_BOOL;
    for (const char* s : {"time_stamp", "timestamp", "timestampz", "abstime", "date", "time without time zone", "time",
                          "timestamp without time zone", "timestamp with time zone"})
        if (n == s)
            return VT_DATE;
    for (const char* s : {"bigint", "bigserial", "int8"})
        if (n == s)
            return VT_I8;
    for (const char* s : {"integer", "int4", "serial"})
        if (n == s)
            return VT_I4;
    for (const char* s : {"smallint", "int2"})
        if (n == s)
            return VT_I2;
    if (n == "float4")
        return VT_R4;
    for (const char* s : {"real", "money", "double precision"})
        if (n == s)
            return VT_R8;
    if (n == "numeric")
        return VT_DECIMAL;
    if (n == "bytea")
        return VT_BLOB;
    // The text types and every other name.
    return VT_BSTR;
}

ole_variant pgs_get_variant(VARTYPE vartype, const char* text)
{
    TK_TRACE(1, "pgs_get_variant(char)");
    if (!text)
        return ole_variant();
    TK_TRACE(1, "Type=%d, src=%s", vartype, text);
    if (vartype == VT_BOOL)
        return ole_variant(*text != '\0');
    return ole_variant::from_string(text, vartype);
}

void pgs_append_copy_field(std::string& out, const udb_field& field, const t_ftd& column)
{
    pgs_append_copy_field(out, field, column, nullptr);
}

void pgs_append_copy_field(std::string& out, const udb_field& field, const t_ftd& column,
                           std::vector<pgs_copy_large_value>* large)
{
    const VARTYPE fvt = field.get_vt();
    if (fvt == VT_EMPTY || fvt == VT_NULL || column.vartype == VT_NULL) {
        if (column.vartype == VT_BSTR && column.b_not_null)
            return;  // an empty string instead of NULL
        TK_TRACE(1, "Special processing for NULL value");
        out += "\\N";
        return;
    }
    if (fvt == VT_BSTR) {
        // A long text kept as UTF-8 goes out without its wide form.
        const bool compact = field.is_compact_text();
        const bool empty = compact ? field.compact_text().empty()
                                   : field.get_bstr().empty() || field.get_bstr()[0] == L'\0';
        if (empty) {
            if (column.vartype != VT_BSTR)
                out += "\\N";
            return;
        }
        if (column.vartype == VT_DATE || pgs_is_binary_vartype(column.vartype)) {
            // Text that was not converted to the column's type: the slow,
            // general rendering.
            append_escaped_text(out, to_pgs_str(field.to_wstring(), column.vartype, column.reserved, pgs_copy_form));
            return;
        }
        if (large && (compact || field.get_bstr().size() >= pgs_copy_large_size)) {
            large->push_back({out.size(), &field});
            return;
        }
        if (compact)
            append_escaped_utf8(out, field.compact_text());
        else
            append_escaped_text(out, field.get_bstr());
        return;
    }
    if (fvt == VT_DATE) {
        ole_date d(field.get_time());
        if (!d.is_valid()) {
            const std::string text = d.to_string(true);
            if (text.find("0000-00-00") != std::string::npos) {
                out += "\\N";
                return;
            }
            invalid_date(tk_utf8_to_unicode(text));
        }
        if (column.reserved >= 1 && column.reserved <= 3)
            d.kind = static_cast<int>(column.reserved);
        const bool utc = column.reserved == t_ftd::date_time_utc;
        if (utc) {
            d.kind = static_cast<int>(t_ftd::date_and_time);
            d.omit_midnight = false;
        }
        char buf[48];
        const std::size_t n = print_date(d, utc, buf);
        const std::string_view printed(buf, n);
        if (printed.find("0000-00-00") != std::string_view::npos) {
            out += "\\N";
            return;
        }
        out.append(buf, n);
        return;
    }
    if (ole_variant::is_binary_type(fvt)) {
        const std::size_t count = field.byte_count();
        if (large && count >= pgs_copy_large_size) {
            large->push_back({out.size(), &field});
            return;
        }
        const std::uint8_t* bytes = field.byte_data();
        const std::size_t old = out.size();
        out.resize(old + 3 + 2 * count);
        char* p = out.data() + old;
        *p++ = '\\';
        *p++ = '\\';
        *p++ = 'x';
        tk_write_hex(p, bytes, count);
        return;
    }
    const std::size_t old = out.size();
    field.append_string(out);
    if (out.size() == old)
        out += "\\N";
}

void pgs_write_copy_value(const udb_field& field, std::size_t piece, std::string& buffer,
                          const std::function<void(std::string&)>& send)
{
    if (field.get_vt() == VT_BSTR && field.is_compact_text()) {
        // An escape takes at most 2 bytes a byte; a character split between
        // two pieces is whole again in the stream.
        const std::string_view text = field.compact_text();
        const std::size_t step = piece / 2 + 1;
        for (std::size_t at = 0; at < text.size(); at += step) {
            append_escaped_utf8(buffer, text.substr(at, step));
            send(buffer);
        }
        return;
    }
    if (field.get_vt() == VT_BSTR) {
        // The text ends at its first NUL, as in a line of its own.
        std::wstring_view text(field.get_bstr());
        text = text.substr(0, text.find(L'\0'));
        // A character takes at most 4 bytes of UTF-8 and 2 of an escape.
        const std::size_t step = piece / 4 + 1;
        for (std::size_t at = 0; at < text.size(); at += step) {
            append_escaped_text(buffer, text.substr(at, step));
            send(buffer);
        }
        return;
    }
    buffer += "\\\\x";
    const std::uint8_t* bytes = field.byte_data();
    const std::size_t count = field.byte_count();
    const std::size_t step = piece / 2 + 1;
    for (std::size_t at = 0; at < count; at += step) {
        const std::size_t n = count - at < step ? count - at : step;
        const std::size_t old = buffer.size();
        buffer.resize(old + 2 * n);
        tk_write_hex(buffer.data() + old, bytes + at, n);
        send(buffer);
    }
    if (!buffer.empty())
        send(buffer);
}
