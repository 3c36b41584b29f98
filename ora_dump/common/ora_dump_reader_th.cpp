// The value decoders both formats share: numbers, dates, text and bytes,
// read within the table's section; the classic framing is in
// ora_dump_classic_rows.cpp, the Data Pump framing in ora_dump_pump_reader_th.cpp.
#include "ora_dump_reader_th.h"

#include "ora_dump_stream.h"
#include "t_orcale_ftd.h"
#include "t_systemtime.h"
#include "tk_format.h"
#include "tk_logger.h"
#include "tk_unicode.h"
#include "udb_record.h"
#include "udb_schema.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <limits>
#include <optional>

namespace {

[[noreturn]] void raise_unexpected(std::int64_t position)
{
    throw tk_exception(tk_format(ora_th_messages::unexpected_data, position), 0);
}

[[noreturn]] void raise_eof()
{
    throw ora_framing_error(ora_th_messages::eof_reached);
}

// The earliest year Oracle stores, 4712 BC.
constexpr int first_oracle_year = -4712;

// Hour, minute and second bytes carry the value plus 1; a 0 byte or one
// that reads negative as a signed byte counts as 0.
int time_field(std::uint8_t b)
{
    return b == 0 || b >= 0x80 ? 0 : b - 1;
}

// The calendar fields of a DATE or the first 7 bytes of a TIMESTAMP. The
// century and the year of the century are stored plus 100 from year 1 on,
// and as 100 minus their amount before it (4712 BC is 53 88, 1 BC 100 99).
// Years from 10000 on give an empty value; bytes that are neither form,
// and any field a calendar lacks, are a date error.
void decode_date(const std::uint8_t* p, int microsecond, ole_variant& value, std::int64_t position)
{
    int year = 0;  // no year: a date error
    if (p[0] >= 100 && p[1] >= 100) {
        year = (p[0] - 100) * 100 + (p[1] - 100);
        if (year >= 10000) {
            value.clear();
            return;
        }
    } else if (p[0] <= 100 && p[1] <= 100 && (p[0] - 100) * 100 + (p[1] - 100) >= first_oracle_year) {
        year = (p[0] - 100) * 100 + (p[1] - 100);
    }
    t_systemtime t;
    t.year = year;
    t.month = p[2];
    t.day = p[3];
    t.hour = time_field(p[4]);
    t.minute = time_field(p[5]);
    t.second = time_field(p[6]);
    t.microsecond = microsecond;
    if (year == 0 || t.month < 1 || t.month > 12 || t.day < 1 || t.day > tk_days_in_month(year, t.month) ||
        t.hour > 23 || t.minute > 59 || t.second > 60) {
        TK_TRACE(3, "Date reading error, pos: %I64d", position);
        throw tk_exception(ora_th_messages::date_error, 0);
    }
    value = ole_variant(t);
}

// Sign and magnitude of a NUMBER rounded to an integer: half to even, or
// with half_up as floor(x + 0.5). False beyond 2^64 - 1.
bool number_to_integer(const ora_number& n, bool half_up, bool& negative, std::uint64_t& magnitude)
{
    negative = false;
    magnitude = 0;
    if (n.count == 0)
        return true;
    const std::string d = n.decimal_digits();
    const int size = static_cast<int>(d.size());
    const int int_digits = size + n.decimal_exponent();
    for (int k = 0; k < int_digits; ++k) {
        unsigned digit = k < size ? static_cast<unsigned>(d[k] - '0') : 0;
        if (magnitude > (std::numeric_limits<std::uint64_t>::max() - digit) / 10)
            return false;
        magnitude = magnitude * 10 + digit;
    }
    int first = 0;
    bool rest = false;
    if (int_digits < size) {
        int from;
        if (int_digits >= 0) {
            first = d[int_digits] - '0';
            from = int_digits + 1;
        } else {
            from = 0;  // the first fraction digit is a leading zero
        }
        for (int k = from; k < size; ++k)
            if (d[k] != '0')
                rest = true;
    }
    bool up = first > 5 || (first == 5 && (rest || (half_up ? !n.negative : (magnitude & 1) != 0)));
    if (up) {
        if (magnitude == std::numeric_limits<std::uint64_t>::max())
            return false;
        ++magnitude;
    }
    negative = n.negative && magnitude != 0;
    return true;
}

bool fits(bool negative, std::uint64_t magnitude, std::int64_t min, std::int64_t max, std::int64_t& out)
{
    if (negative) {
        if (magnitude > static_cast<std::uint64_t>(-(min + 1)) + 1)
            return false;
        out = magnitude == 0 ? 0 : -static_cast<std::int64_t>(magnitude - 1) - 1;
        return true;
    }
    if (magnitude > static_cast<std::uint64_t>(max))
        return false;
    out = static_cast<std::int64_t>(magnitude);
    return true;
}

}  // namespace

std::string ora_number::decimal_digits() const
{
    std::string s(static_cast<std::size_t>(count) * 2, '0');
    for (int i = 0; i < count; ++i) {
        s[2 * i] = static_cast<char>('0' + digits[i] / 10);
        s[2 * i + 1] = static_cast<char>('0' + digits[i] % 10);
    }
    return s;
}

// ---------------------------------------------------------------------------

ora_dump_reader_th::ora_dump_reader_th() = default;

ora_dump_reader_th::~ora_dump_reader_th() = default;

std::int16_t ora_dump_reader_th::reset_skip_flag()
{
    m_skip_blob_flag = initial_skip_flag();
    return m_skip_blob_flag;
}

void ora_dump_reader_th::set_field_names(std::vector<std::wstring> names)
{
    m_field_names = std::move(names);
    slots_valid = false;
}

int ora_dump_reader_th::find_column(const udb_schema& schema, const std::wstring& name)
{
    for (std::size_t i = 0; i < schema.size(); ++i)
        if (schema[i] && schema[i]->name == name)
            return static_cast<int>(i);
    return schema.get_field_idx(name);
}

// --- bounded reading --------------------------------------------------------

std::int64_t ora_dump_reader_th::limit(const ora_dump_stream& stream) const
{
    std::int64_t l = stream.size();
    if (info.dump_length > 0 && info.dump_length < l)
        l = info.dump_length;
    if (m_end_pos > 0 && m_end_pos < l)
        l = m_end_pos;
    return l;
}

void ora_dump_reader_th::require(const ora_dump_stream& stream, std::uint64_t count) const
{
    std::int64_t pos = stream.tell();
    std::int64_t l = limit(stream);
    if (stream.failed() || pos > l || count > static_cast<std::uint64_t>(l - pos))
        raise_eof();
}

const std::uint8_t* ora_dump_reader_th::take(ora_dump_stream& stream, std::size_t count)
{
    require(stream, count);
    if (scratch.size() < count)
        scratch.resize(count);
    if (count != 0 && stream.read(scratch.data(), count) != count)
        raise_eof();
    return scratch.data();
}

void ora_dump_reader_th::skip(ora_dump_stream& stream, std::size_t count)
{
    require(stream, count);
    if (!stream.seek(stream.tell() + static_cast<std::int64_t>(count)))
        raise_eof();
}

std::uint16_t ora_dump_reader_th::read_u16le(ora_dump_stream& stream)
{
    const std::uint8_t* p = take(stream, 2);
    return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}

std::uint16_t ora_dump_reader_th::read_u16be(ora_dump_stream& stream)
{
    const std::uint8_t* p = take(stream, 2);
    return static_cast<std::uint16_t>(p[0] << 8 | p[1]);
}

std::uint8_t ora_dump_reader_th::read_u8(ora_dump_stream& stream)
{
    return *take(stream, 1);
}

void ora_dump_reader_th::append(ora_dump_stream& stream, std::vector<std::uint8_t>& out, std::size_t count)
{
    require(stream, count);
    std::size_t old = out.size();
    out.resize(old + count);
    if (count != 0 && stream.read(out.data() + old, count) != count)
        raise_eof();
}

void ora_dump_reader_th::consume(ora_dump_stream& stream, std::vector<std::uint8_t>* out, std::size_t count)
{
    if (out)
        append(stream, *out, count);
    else
        skip(stream, count);
}

std::uint64_t ora_dump_reader_th::chunks_length(ora_dump_stream& stream, bool zero_last_ends) const
{
    const std::int64_t start = stream.tell();
    const std::int64_t lim = limit(stream);
    auto size_at = [&](std::int64_t at, std::uint16_t& size) {
        std::uint8_t b[2];
        if (stream.failed() || lim - at < 2 || !stream.seek(at) || stream.read(b, 2) != 2)
            return false;
        size = static_cast<std::uint16_t>(b[0] | b[1] << 8);
        return true;
    };
    std::uint64_t total = 0;
    std::int64_t at = start;
    std::uint16_t size = 0;
    if (size_at(at, size)) {
        at += 2;
        while (size != 0 && lim - at >= size) {
            total += size;
            at += size;
            std::uint16_t next = 0;
            if (!size_at(at, next))
                break;
            at += 2;
            if (next != size) {
                if (next != 0 || !zero_last_ends)
                    total += std::min<std::uint64_t>(next, static_cast<std::uint64_t>(std::max<std::int64_t>(lim - at, 0)));
                break;
            }
        }
    }
    stream.seek(start);
    return total;
}

void ora_dump_reader_th::read_chunks(ora_dump_stream& stream, std::vector<std::uint8_t>* out, bool zero_last_ends)
{
    // Once in its full size: growing by the pieces would hold the old and
    // the new buffer at once.
    if (out)
        out->reserve(out->size() + chunks_length(stream, zero_last_ends));
    std::uint16_t size = read_u16le(stream);
    TK_TRACE(1, "chunk_size=%d", size);
    std::uint16_t last;
    for (;;) {
        // A zero-size piece ends the value, so no hostile run of equal
        // sizes can turn without consuming bytes.
        if (size == 0) {
            last = 0;
            break;
        }
        consume(stream, out, size);
        std::uint16_t next = read_u16le(stream);
        TK_TRACE(1, "new_chunk_size=%d", next);
        if (next != size) {
            last = next;
            break;
        }
    }
    if (last == 0 && zero_last_ends)
        return;
    consume(stream, out, last);
    skip(stream, 2);
}

// --- text -------------------------------------------------------------------

std::wstring ora_dump_reader_th::code_page_text(const std::uint8_t* bytes, std::size_t count,
                                                unsigned charset_id) const
{
    dump_info page;
    page.charset_class = 0;
    if (const ora_dump_reader* r = ora_dump_reader::try_instance())
        page.dump_code_page = r->charset_codepage(charset_id);
    // get_wstring reads code page 0 as windows-1252.
    return ora_dump_reader::get_wstring(page, reinterpret_cast<const char*>(bytes), count, false);
}

std::wstring ora_dump_reader_th::charset_text(const std::uint8_t* bytes, std::size_t count, unsigned charset_id,
                                              utf16_order order) const
{
    if (count == 0)
        return std::wstring();
    if (charset_id == 2000)
        return utf16_upto_zero(bytes, count, true);
    if (charset_id == 871 || charset_id == 873)
        return utf16_upto_zero(bytes, count, order == utf16_order::big_endian);
    if (charset_id == 0)
        return ora_dump_reader::get_wstring(info, reinterpret_cast<const char*>(bytes), count, false);
    return code_page_text(bytes, count, charset_id);
}

bool ora_dump_reader_th::text_code_page(unsigned charset_id, int& code_page) const
{
    if (charset_id == 2000 || charset_id == 871 || charset_id == 873)
        return false;
    if (charset_id == 0) {
        if (info.charset_class != 0)
            return false;
        code_page = info.dump_code_page;
        return true;
    }
    const ora_dump_reader* r = ora_dump_reader::try_instance();
    code_page = r ? r->charset_codepage(charset_id) : 0;
    return true;
}

// --- numbers ------------------------------------------------------------------

bool ora_dump_reader_th::decode_number(const std::uint8_t* bytes, std::size_t length, ora_number& out)
{
    out = ora_number();
    if (length == 0 || length > 21)
        return false;
    const std::uint8_t b0 = bytes[0];
    if (length == 1 && b0 == 0x80)
        return true;
    if (b0 & 0x80) {
        out.exponent = b0 - 193;
        for (std::size_t i = 1; i < length; ++i) {
            if (bytes[i] < 1 || bytes[i] > 100)
                return false;
            out.digits[out.count++] = static_cast<std::uint8_t>(bytes[i] - 1);
        }
    } else {
        out.negative = true;
        std::size_t end = length;
        if (length > 1 && bytes[length - 1] == 0x66)
            --end;
        out.exponent = 62 - b0;
        for (std::size_t i = 1; i < end; ++i) {
            if (bytes[i] < 2 || bytes[i] > 101)
                return false;
            out.digits[out.count++] = static_cast<std::uint8_t>(101 - bytes[i]);
        }
    }
    return out.count > 0;
}

void ora_dump_reader_th::get_floating_value(ole_variant& value, ora_dump_stream& stream, std::uint16_t length,
                                            VARTYPE vartype)
{
    TK_TRACE(1, "ora_dump_reader_th::get_floating_value(%d)", length);
    if (length == 0) {
        value.clear();
        return;
    }
    const std::int64_t position = stream.tell();
    const std::uint8_t* p = take(stream, length);
    ora_number n;
    if (!decode_number(p, length, n))
        raise_unexpected(position);

    switch (vartype) {
    case VT_R8:
    case VT_R4: {
        if (n.count == 0) {
            value = vartype == VT_R8 ? ole_variant(0.0) : ole_variant(0.0f);
            return;
        }
        // The exact decimal text, read once: correctly rounded, whatever
        // the locale.
        std::string text = n.negative ? "-" : "";
        text += n.decimal_digits();
        text += 'e';
        char exp_text[16];
        auto written = std::to_chars(exp_text, exp_text + sizeof exp_text, n.decimal_exponent());
        text.append(exp_text, written.ptr);
        const char* first = text.data();
        const char* last = text.data() + text.size();
        if (vartype == VT_R8) {
            double d = 0;
            auto r = std::from_chars(first, last, d);
            if (r.ec != std::errc() || r.ptr != last)
                raise_unexpected(position);
            value = ole_variant(d);
        } else {
            float f = 0;
            auto r = std::from_chars(first, last, f);
            if (r.ec != std::errc() || r.ptr != last)
                raise_unexpected(position);
            value = ole_variant(f);
        }
        return;
    }
    case VT_I1:
    case VT_I2:
    case VT_I4:
    case VT_I8: {
        bool negative = false;
        std::uint64_t magnitude = 0;
        if (!number_to_integer(n, vartype == VT_I8, negative, magnitude))
            raise_unexpected(position);
        std::int64_t v = 0;
        bool ok = false;
        switch (vartype) {
        case VT_I1:
            ok = fits(negative, magnitude, -128, 127, v);
            if (ok)
                value = ole_variant(static_cast<signed char>(v));
            break;
        case VT_I2:
            ok = fits(negative, magnitude, -32768, 32767, v);
            if (ok)
                value = ole_variant(static_cast<short>(v));
            break;
        case VT_I4:
            ok = fits(negative, magnitude, std::numeric_limits<std::int32_t>::min(),
                      std::numeric_limits<std::int32_t>::max(), v);
            if (ok)
                value = ole_variant(static_cast<int>(v));
            break;
        default:
            ok = fits(negative, magnitude, std::numeric_limits<std::int64_t>::min(),
                      std::numeric_limits<std::int64_t>::max(), v);
            if (ok)
                value = ole_variant(static_cast<long long>(v));
            break;
        }
        if (!ok)
            raise_unexpected(position);
        return;
    }
    default: {
        ole_decimal d;
        if (ole_decimal::make(n.negative, n.decimal_digits(), n.decimal_exponent(), d) != ole_number_status::ok)
            raise_unexpected(position);
        value = ole_variant(std::move(d));
        return;
    }
    }
}

void ora_dump_reader_th::get_ieee_value(ole_variant& value, ora_dump_stream& stream, std::uint16_t length,
                                        std::int32_t ora_type)
{
    const std::int64_t position = stream.tell();
    const std::uint8_t* p = take(stream, length);
    const std::size_t want = ora_type == t_orcale_ftd::ora_binary_float ? 4 : 8;
    if (length != want)
        raise_unexpected(position);
    // Oracle keeps the order of the values in the bytes: a set top bit
    // marks a non-negative value, otherwise every bit is inverted.
    std::uint8_t b[8];
    const bool flip = (p[0] & 0x80) == 0;
    for (std::size_t i = 0; i < want; ++i)
        b[i] = flip ? static_cast<std::uint8_t>(~p[i]) : p[i];
    if (!flip)
        b[0] &= 0x7F;
    std::uint64_t bits = 0;
    for (std::size_t i = 0; i < want; ++i)
        bits = bits << 8 | b[i];
    if (want == 4) {
        std::uint32_t u = static_cast<std::uint32_t>(bits);
        float f;
        std::memcpy(&f, &u, 4);
        value = ole_variant(f);
    } else {
        double d;
        std::memcpy(&d, &bits, 8);
        value = ole_variant(d);
    }
}

// --- dates ------------------------------------------------------------------

void ora_dump_reader_th::get_datetime_value(ole_variant& value, ora_dump_stream& stream, std::uint16_t length)
{
    TK_TRACE(1, "ora_dump_reader_th::get_datetime_value (size=%d)", length);
    const std::int64_t position = stream.tell();
    const std::uint8_t* p = take(stream, length);
    if (length != 7) {
        TK_TRACE(3, "Date reading error, pos: %I64d", position);
        throw tk_exception(ora_th_messages::date_error, 0);
    }
    decode_date(p, 0, value, position);
}

void ora_dump_reader_th::get_timestamp_value(ole_variant& value, ora_dump_stream& stream, std::uint16_t length)
{
    TK_TRACE(1, "ora_dump_reader_th::get_timestamp_value (size=%d)", length);
    const std::int64_t position = stream.tell();
    const std::uint8_t* p = take(stream, length);
    // 7: no fraction; 11: nanoseconds; 13: with time zone, whose date
    // bytes hold the UTC time: the instant, which the zone-bearing column
    // keeps as UTC.
    if (length != 7 && length != 11 && length != 13) {
        TK_TRACE(3, "Date reading error, pos: %I64d", position);
        throw tk_exception(ora_th_messages::date_error, 0);
    }
    int microsecond = 0;
    if (length >= 11) {
        std::uint32_t ns = static_cast<std::uint32_t>(p[7]) << 24 | static_cast<std::uint32_t>(p[8]) << 16 |
                           static_cast<std::uint32_t>(p[9]) << 8 | p[10];
        if (ns >= 1000000000u) {
            TK_TRACE(3, "Date reading error, pos: %I64d", position);
            throw tk_exception(ora_th_messages::date_error, 0);
        }
        microsecond = static_cast<int>(ns / 1000);
    }
    decode_date(p, microsecond, value, position);
}

// --- text and bytes ---------------------------------------------------------

void ora_dump_reader_th::get_string_value(ole_variant& value, ora_dump_stream& stream, std::uint16_t length,
                                          std::int32_t ora_type)
{
    TK_TRACE(2, "ora_dump_reader_th::get_string_value");
    const std::uint8_t* p = take(stream, length);
    const bool national = ora_type == t_orcale_ftd::ora_nchar || ora_type == t_orcale_ftd::ora_nvarchar2;
    value = ora_dump_reader::get_wstring(info, reinterpret_cast<const char*>(p), length, national);
}

void ora_dump_reader_th::read_longraw_bytes(ora_dump_stream& stream, std::uint16_t length,
                                            std::vector<std::uint8_t>* out)
{
    if (length == len_chunked)
        read_chunks(stream, out, false);
    else
        consume(stream, out, length);
}

void ora_dump_reader_th::get_longraw_value(ole_variant& value, ora_dump_stream& stream, std::uint16_t length)
{
    TK_TRACE(1, "ora_dump_reader_th::get_longraw_value(%d)", length);
    std::vector<std::uint8_t> bytes;
    read_longraw_bytes(stream, length, &bytes);
    value.attach_binary(std::move(bytes));
}

void ora_dump_reader_th::read_long_bytes(ora_dump_stream& stream, std::uint16_t length,
                                         std::vector<std::uint8_t>* out)
{
    if (length == 0)
        return;
    if (length == len_chunked)
        read_chunks(stream, out, false);
    else
        consume(stream, out, length);
}

void ora_dump_reader_th::get_long_value(ole_variant& value, ora_dump_stream& stream, std::uint16_t length,
                                        unsigned charset_id)
{
    TK_TRACE(1, "ora_dump_reader_th::get_long_value");
    if (length == 0) {
        value.clear();
        return;
    }
    std::vector<std::uint8_t> bytes;
    read_long_bytes(stream, length, &bytes);
    int code_page = 0;
    if (bytes.size() >= large_text_size && text_code_page(charset_id, code_page)) {
        // Kept as UTF-8: in wide characters the text would cost four times
        // its bytes. The old value goes first and the bytes as soon as the
        // text is made, so that no more than these two are held at once.
        value.clear();
        std::string text = ora_dump_reader::code_page_utf8(code_page, reinterpret_cast<const char*>(bytes.data()),
                                                           bytes.size());
        std::vector<std::uint8_t>().swap(bytes);
        value.attach_utf8(std::move(text));
        return;
    }
    if (bytes.size() >= large_text_size && charset_id == 0 && info.charset_class == 1) {
        // A UTF-8 database's text is kept as it stands when it is well
        // formed: then the wide reading would give back the same bytes. Pairs
        // of encoded surrogates (CESU-8) and damaged bytes take the wide
        // reading, which joins or replaces them.
        const char* data = reinterpret_cast<const char*>(bytes.data());
        const std::string_view text(data, strnlen(data, bytes.size()));
        if (tk_utf8_well_formed(text)) {
            value.clear();
            std::string kept(text);
            std::vector<std::uint8_t>().swap(bytes);
            value.attach_utf8(std::move(kept));
            return;
        }
    }
    value = charset_text(bytes.data(), bytes.size(), charset_id, utf16_order::big_endian);
}

void ora_dump_reader_th::get_xmltype_value(ole_variant& value, ora_dump_stream& stream, std::uint16_t length,
                                           unsigned charset_id)
{
    TK_TRACE(1, "ora_dump_reader_th::get_xmltype_value");
    const std::uint8_t* p = take(stream, length);
    // An 8-byte header comes before the text.
    if (length <= 8) {
        value = std::wstring();
        return;
    }
    const char* text = reinterpret_cast<const char*>(p + 8);
    const std::size_t count = length - 8u;
    if (charset_id == 871 || charset_id == 873) {
        dump_info utf8;
        utf8.charset_class = 1;
        value = ora_dump_reader::get_wstring(utf8, text, count, false);
    } else if (charset_id == 2000) {
        value = utf16_upto_zero(p + 8, count, true);
    } else if (charset_id == 0) {
        value = ora_dump_reader::get_wstring(info, text, count, false);
    } else {
        value = code_page_text(p + 8, count, charset_id);
    }
}

template <typename Next>
void ora_dump_reader_th::append_lob_chunks(ora_dump_stream& stream, std::vector<std::uint8_t>* out, Next next)
{
    std::uint16_t size = read_u16le(stream);
    for (;;) {
        TK_TRACE(1, "chunk_size=%d", size);
        if (size == 0)
            break;
        consume(stream, out, size);
        size = next(size);
    }
}

void ora_dump_reader_th::read_lob_bytes(ora_dump_stream& stream, std::vector<std::uint8_t>* bytes)
{
    const std::uint16_t type = read_u16le(stream);
    TK_TRACE(1, "chunk_type=%d", type);
    // Only a LOB that is not NULL has a value after the row, so chunk type 0
    // is an empty LOB: it stays empty bytes or empty text rather than
    // turning into NULL.
    if (type == 0) {
    } else if (type == 0xFFFC) {
        const std::uint8_t* p = take(stream, 8);
        std::uint64_t total = 0;
        for (int i = 7; i >= 0; --i)
            total = total << 8 | p[i];
        TK_TRACE(1, "Got blob_length=%I64d", static_cast<std::int64_t>(total));
        // A total beyond the section is damage: refuse it before reading.
        require(stream, total);
        // Once in its full size: growing by the chunks would copy the value
        // over and over and keep a half-size copy beside it at the end.
        if (bytes)
            bytes->reserve(static_cast<std::size_t>(total));
        std::uint64_t sum = 0;
        append_lob_chunks(stream, bytes, [&](std::uint16_t size) -> std::uint16_t {
            sum += size;
            if (sum == total)
                return 0;
            if (sum > total) {
                consume(stream, bytes, size);
                return 0;
            }
            return read_u16le(stream);
        });
    } else if (type == 0xFFFA) {
        std::size_t repeats = 0;
        while (read_u16le(stream) == 0xFFFA)
            ++repeats;
        skip(stream, 2 * repeats);
        // The size repeats before each chunk; the first that differs is
        // the size of the last one.
        append_lob_chunks(stream, bytes, [&](std::uint16_t size) -> std::uint16_t {
            const std::uint16_t next = read_u16le(stream);
            if (next == size)
                return size;
            consume(stream, bytes, next);
            return 0;
        });
    } else {
        consume(stream, bytes, type);
    }
}

void ora_dump_reader_th::get_blob_value(ole_variant& value, ora_dump_stream& stream, VARTYPE vartype,
                                        unsigned charset_id)
{
    TK_TRACE(1, "ora_dump_reader_th::get_blob_value");
    std::vector<std::uint8_t> bytes;
    read_lob_bytes(stream, &bytes);
    if (vartype == VT_BSTR) {
        TK_TRACE(1, "type == VT_BSTR, cp=%04X", charset_id);
        value = charset_text(bytes.data(), bytes.size(), charset_id,
                             swap_utf8_lob() ? utf16_order::big_endian : utf16_order::little_endian);
    } else {
        value.attach_binary(std::move(bytes));
    }
}

// --- the dispatcher -----------------------------------------------------------

void ora_dump_reader_th::get_ole_value(ole_variant& value, VARTYPE vartype, std::int32_t ora_type,
                                       ora_dump_stream& stream, std::uint16_t length)
{
    TK_TRACE(1, "ora_dump_reader_th::get_ole_value(vartype=%d,oratype=%d,size=%d)", vartype, ora_type, length);
    if (ora_type == t_orcale_ftd::ora_binary_float || ora_type == t_orcale_ftd::ora_binary_double) {
        get_ieee_value(value, stream, length, ora_type);
        return;
    }
    switch (vartype) {
    case VT_I1:
    case VT_I2:
    case VT_I4:
    case VT_I8:
    case VT_R4:
    case VT_R8:
    case VT_DECIMAL:
        get_floating_value(value, stream, length, vartype);
        return;
    case VT_DATE:
        if (ora_type == t_orcale_ftd::ora_date) {
            get_datetime_value(value, stream, length);
            return;
        }
        if (ora_type == t_orcale_ftd::ora_timestamp || ora_type == t_orcale_ftd::ora_timestamp_tz) {
            get_timestamp_value(value, stream, length);
            return;
        }
        break;
    case VT_BSTR:
        get_string_value(value, stream, length, ora_type);
        return;
    case VT_BLOB:
    case VT_BYTE_ARRAY:
        break;
    default:
        // No decoder: the value's bytes are passed so the row stays framed.
        skip(stream, length);
        value.clear();
        throw tk_exception(ora_th_messages::unknown_field_type, 0);
    }
    switch (ora_type) {
    case t_orcale_ftd::ora_blob:
        if (length == len_chunked) {
            get_longraw_value(value, stream, length);
            return;
        }
        break;
    case t_orcale_ftd::ora_bfile:
    case t_orcale_ftd::ora_raw:
    case t_orcale_ftd::ora_long_raw:
    case t_orcale_ftd::ora_sdo_geometry:
    case t_orcale_ftd::ora_collection:
    case t_orcale_ftd::ora_array:
    case t_orcale_ftd::ora_unknown:
        get_longraw_value(value, stream, length);
        return;
    case t_orcale_ftd::ora_long:
        TK_TRACE(1, "Got __LONG!");
        get_string_value(value, stream, length, ora_type);
        return;
    default:
        break;
    }
    skip(stream, length == len_chunked ? 0 : length);
    value.clear();
}

void ora_dump_reader_th::skip_ole_value(VARTYPE vartype, std::int32_t ora_type, ora_dump_stream& stream,
                                        std::uint16_t length)
{
    // The consumption of get_ole_value, branch by branch.
    if (ora_type == t_orcale_ftd::ora_binary_float || ora_type == t_orcale_ftd::ora_binary_double) {
        skip(stream, length);
        return;
    }
    switch (vartype) {
    case VT_DATE:
        if (ora_type == t_orcale_ftd::ora_date || ora_type == t_orcale_ftd::ora_timestamp ||
            ora_type == t_orcale_ftd::ora_timestamp_tz) {
            skip(stream, length);
            return;
        }
        break;
    case VT_BLOB:
    case VT_BYTE_ARRAY:
        break;
    default:
        skip(stream, length);
        return;
    }
    switch (ora_type) {
    case t_orcale_ftd::ora_blob:
        if (length == len_chunked) {
            read_longraw_bytes(stream, length, nullptr);
            return;
        }
        break;
    case t_orcale_ftd::ora_bfile:
    case t_orcale_ftd::ora_raw:
    case t_orcale_ftd::ora_long_raw:
    case t_orcale_ftd::ora_sdo_geometry:
    case t_orcale_ftd::ora_collection:
    case t_orcale_ftd::ora_array:
    case t_orcale_ftd::ora_unknown:
        read_longraw_bytes(stream, length, nullptr);
        return;
    case t_orcale_ftd::ora_long:
        skip(stream, length);
        return;
    default:
        break;
    }
    skip(stream, length == len_chunked ? 0 : length);
}

// --- field descriptions and records ---------------------------------------------

t_orcale_ftd* ora_dump_reader_th::entry_column(udb_schema& schema, std::size_t entry) const
{
    if (entry >= m_field_names.size()) {
        TK_TRACE(2, "Field description #%d has no INSERT column", static_cast<int>(entry));
        return nullptr;
    }
    int idx = find_column(schema, m_field_names[entry]);
    if (idx < 0) {
        TK_WTRACE(2, L"Field description #%d names no column: '%s'", static_cast<int>(entry), m_field_names[entry]);
        return nullptr;
    }
    return dynamic_cast<t_orcale_ftd*>(schema[static_cast<std::size_t>(idx)]);
}

std::vector<ora_dump_reader_th::field_entry> ora_dump_reader_th::read_entries(ora_dump_stream& stream,
                                                                              bool skip_text_extra,
                                                                              bool trace_entries)
{
    const std::uint16_t n = read_u16le(stream);
    // Each entry takes at least 4 bytes: a damaged count allocates nothing
    // beyond what the section holds.
    require(stream, 4u * n);
    std::vector<field_entry> entries(n);
    for (std::uint16_t i = 0; i < n; ++i) {
        entries[i].code = read_u16le(stream);
        entries[i].size = read_u16le(stream);
        if (trace_entries)
            TK_TRACE(1, "Skip field #%d, type=%d, size=%d", i, entries[i].code, entries[i].size);
        if (skip_text_extra && (entries[i].code == 1 || entries[i].code == 96)) {
            skip(stream, 4);
            TK_TRACE(1, "Skip field #%d, new position: %I64d", i, stream.tell());
        }
    }
    return entries;
}

std::unique_ptr<udb_record> ora_dump_reader_th::blank_record(const udb_schema& schema)
{
    auto record = std::make_unique<udb_record>();
    record->reserve(schema.size());
    for (const t_ftd* column : schema)
        record->emplace_back(column ? column->name : std::wstring(), column ? column->size : 0, ole_variant());
    return record;
}
