#include "ole_variant.h"

#include "ole_date.h"
#include "tk_exception.h"
#include "tk_logger.h"
#include "tk_string.h"
#include "tk_unicode.h"

#include <bit>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <system_error>

namespace {

// The result codes the platform's currency and decimal parsers gave; the
// level-3 trace lines keep them so that logs read as they always have.
constexpr std::uint32_t code_type_mismatch = 0x80020005u;
constexpr std::uint32_t code_overflow = 0x8002000Au;

bool is_blank(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool only_blanks(std::string_view text, std::size_t from)
{
    for (std::size_t i = from; i < text.size(); ++i)
        if (!is_blank(text[i]))
            return false;
    return true;
}

std::string_view up_to_nul(std::string_view text)
{
    const std::size_t nul = text.find('\0');
    return nul == std::string_view::npos ? text : text.substr(0, nul);
}

std::wstring_view up_to_nul(std::wstring_view text)
{
    const std::size_t nul = text.find(L'\0');
    return nul == std::wstring_view::npos ? text : text.substr(0, nul);
}

bool is_small_integer_type(VARTYPE t)
{
    switch (t) {
    case VT_I1:
    case VT_UI1:
    case VT_I2:
    case VT_UI2:
    case VT_I4:
    case VT_UI4:
    case VT_INT:
    case VT_UINT:
        return true;
    default:
        return false;
    }
}

bool is_integer_type(VARTYPE t)
{
    return is_small_integer_type(t) || t == VT_I8 || t == VT_UI8;
}

// Whether the integer (sign and magnitude) lies in the type's range.
bool int_fits(VARTYPE t, bool negative, std::uint64_t magnitude)
{
    if (negative && magnitude != 0) {
        switch (t) {
        case VT_I1:
            return magnitude <= 128u;
        case VT_I2:
            return magnitude <= 32768u;
        case VT_I4:
        case VT_INT:
            return magnitude <= 2147483648u;
        case VT_I8:
            return magnitude <= 9223372036854775808u;
        default:
            return false;
        }
    }
    switch (t) {
    case VT_I1:
        return magnitude <= 127u;
    case VT_UI1:
        return magnitude <= 255u;
    case VT_I2:
        return magnitude <= 32767u;
    case VT_UI2:
        return magnitude <= 65535u;
    case VT_I4:
    case VT_INT:
        return magnitude <= 2147483647u;
    case VT_UI4:
    case VT_UINT:
        return magnitude <= 4294967295u;
    case VT_I8:
        return magnitude <= 9223372036854775807u;
    case VT_UI8:
        return true;
    default:
        return false;
    }
}

// An integer read the way strtoll/strtoull read base 10: leading blanks, a
// sign, digits. Without digits the value is 0 and end is 0.
struct int_text {
    bool digits = false;
    bool negative = false;
    bool overflow = false;  // beyond 2^64 - 1
    std::uint64_t magnitude = 0;
    std::size_t end = 0;
};

int_text read_integer(std::string_view text)
{
    int_text r;
    std::size_t i = 0;
    while (i < text.size() && is_blank(text[i]))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    constexpr std::uint64_t max = std::numeric_limits<std::uint64_t>::max();
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        r.digits = true;
        const unsigned d = static_cast<unsigned>(text[i] - '0');
        if (r.magnitude > (max - d) / 10)
            r.overflow = true;
        else
            r.magnitude = r.magnitude * 10 + d;
    }
    if (r.digits) {
        r.negative = negative;
        r.end = i;
    }
    return r;
}

enum class float_text { ok, none, overflow };

// The decimal order of magnitude of a number text that std::from_chars took
// (digits, a point, digits, an exponent): positive when the value is 1 or
// more. Used only to tell an overflow from an underflow.
std::int64_t decimal_order(std::string_view s)
{
    std::size_t i = 0;
    std::int64_t int_digits = 0;
    std::int64_t leading_fraction_zeros = 0;
    bool nonzero = false;
    for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i)
        if (nonzero || s[i] != '0') {
            nonzero = true;
            ++int_digits;
        }
    if (i < s.size() && s[i] == '.') {
        ++i;
        for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i)
            if (!nonzero) {
                if (s[i] == '0')
                    ++leading_fraction_zeros;
                else
                    nonzero = true;
            }
    }
    std::int64_t exp = 0;
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        ++i;
        bool neg = false;
        if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
            neg = s[i] == '-';
            ++i;
        }
        for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i)
            if (exp < 1000000000)
                exp = exp * 10 + (s[i] - '0');
        if (neg)
            exp = -exp;
    }
    return (int_digits > 0 ? int_digits : -leading_fraction_zeros) + exp;
}

// A floating number read the way strtod reads it in the C locale, with ','
// standing for the point: leading blanks, a sign, the number (including
// "Infinity" and "NaN"); end is where it stopped. A value too small for the
// type gives a zero, one too large an overflow. Unlike strtod, hexadecimal
// texts ("0x1p3") are not read: neither dumps nor the server write them, and
// they read as 0, like any number that stops at the 'x'.
template <typename F>
float_text read_floating(std::string_view text, F& out, std::size_t& end)
{
    std::size_t i = 0;
    while (i < text.size() && is_blank(text[i]))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    end = 0;
    out = F(0);
    if (i >= text.size() || text[i] == '+' || text[i] == '-')
        return float_text::none;
    const std::string_view rest = text.substr(i);
    char small[128];
    std::string large;
    const char* p;
    if (rest.size() <= sizeof small) {
        std::memcpy(small, rest.data(), rest.size());
        p = small;
    } else {
        large.assign(rest);
        p = large.data();
    }
    char* w = const_cast<char*>(p);
    for (std::size_t k = 0; k < rest.size(); ++k)
        if (w[k] == ',')
            w[k] = '.';
    F v{};
    auto r = std::from_chars(p, p + rest.size(), v, std::chars_format::general);
    if (r.ec == std::errc::invalid_argument)
        return float_text::none;
    end = i + static_cast<std::size_t>(r.ptr - p);
    if (r.ec == std::errc::result_out_of_range) {
        if (decimal_order(std::string_view(p, static_cast<std::size_t>(r.ptr - p))) > 0)
            return float_text::overflow;
        v = F(0);
    }
    out = negative ? -v : v;
    return float_text::ok;
}

// Rounding of a floating value to an integer.
enum class rounding { toward_zero, half_away, half_even };

bool floating_to_integer(double x, rounding mode, bool& negative, std::uint64_t& magnitude)
{
    if (!std::isfinite(x))
        return false;
    double y;
    switch (mode) {
    case rounding::toward_zero:
        y = std::trunc(x);
        break;
    case rounding::half_away:
        y = std::round(x);
        break;
    default: {
        y = std::floor(x);
        const double d = x - y;  // exact
        if (d > 0.5 || (d == 0.5 && std::fmod(y, 2.0) != 0.0))
            y += 1.0;
        break;
    }
    }
    constexpr double two64 = 18446744073709551616.0;
    if (y >= two64 || y <= -two64)
        return false;
    negative = y < 0;
    magnitude = static_cast<std::uint64_t>(std::fabs(y));
    return true;
}

// Half to even of a currency to an integer.
void cy_to_integer(std::int64_t units, bool& negative, std::uint64_t& magnitude)
{
    const bool neg = units < 0;
    const std::uint64_t mag = neg ? 0 - static_cast<std::uint64_t>(units) : static_cast<std::uint64_t>(units);
    std::uint64_t q = mag / 10000;
    const std::uint64_t r = mag % 10000;
    if (r > 5000 || (r == 5000 && (q & 1)))
        ++q;
    negative = neg && q != 0;
    magnitude = q;
}

// An integer times 10000 as a currency; false on overflow.
bool integer_to_cy(bool negative, std::uint64_t magnitude, std::int64_t& units)
{
    constexpr std::uint64_t max = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
    if (magnitude > (max + (negative ? 1 : 0)) / 10000)
        return false;
    const std::uint64_t u = magnitude * 10000;
    units = negative ? static_cast<std::int64_t>(0 - u) : static_cast<std::int64_t>(u);
    return true;
}

// The nearest float of a double; false for a finite value beyond the float
// range (infinities and NaN carry over).
bool double_to_float(double x, float& out)
{
    if (std::isnan(x) || std::isinf(x)) {
        out = static_cast<float>(x);
        return true;
    }
    constexpr double max = std::numeric_limits<float>::max();
    // FLT_MAX plus half its unit in the last place: from here on the value
    // rounds to infinity.
    constexpr double limit = 0x1.ffffffp127;
    const double a = std::fabs(x);
    if (a >= limit)
        return false;
    if (a > max) {
        out = x < 0 ? -std::numeric_limits<float>::max() : std::numeric_limits<float>::max();
        return true;
    }
    out = static_cast<float>(x);
    return true;
}

template <typename F>
void append_floating(std::string& out, F v)
{
    if (std::isnan(v)) {
        out += "NaN";
        return;
    }
    if (std::isinf(v)) {
        out += v < 0 ? "-Infinity" : "Infinity";
        return;
    }
    char buf[64];
    auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::scientific);
    char* e = static_cast<char*>(std::memchr(buf, 'e', static_cast<std::size_t>(r.ptr - buf)));
    if (!e) {
        out.append(buf, r.ptr);
        return;
    }
    // The exponent keeps its sign and at least three digits: 1.5e+000.
    out.append(buf, e + 2);
    const std::size_t digits = static_cast<std::size_t>(r.ptr - (e + 2));
    for (std::size_t k = digits; k < 3; ++k)
        out.push_back('0');
    out.append(e + 2, r.ptr);
}

template <typename T>
void append_integer(std::string& out, T v)
{
    char buf[24];
    auto r = std::to_chars(buf, buf + sizeof buf, v);
    out.append(buf, r.ptr);
}

void append_utf8(std::string& out, std::wstring_view text)
{
    for (wchar_t c : text) {
        const auto u = static_cast<std::uint32_t>(c);
        if (u == 0)
            break;
        if (u < 0x80)
            out.push_back(static_cast<char>(u));
        else
            tk_append_utf8(out, static_cast<char32_t>(u));
    }
}

int hex_value(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

// "yes"/"true" and "no"/"false", without regard to case; -1 for any other
// text.
int bool_word(std::string_view text)
{
    if (tk_compare_no_case(text, std::string_view("yes")) == 0 ||
        tk_compare_no_case(text, std::string_view("true")) == 0)
        return 1;
    if (tk_compare_no_case(text, std::string_view("no")) == 0 ||
        tk_compare_no_case(text, std::string_view("false")) == 0)
        return 0;
    return -1;
}

std::string_view trim_blanks(std::string_view t)
{
    std::size_t b = 0, e = t.size();
    while (b < e && is_blank(t[b]))
        ++b;
    while (e > b && is_blank(t[e - 1]))
        --e;
    return t.substr(b, e - b);
}

}  // namespace

// ----------------------------------------------------------- construction

ole_variant::ole_variant() noexcept
{
    TK_TRACE(1, "ole_variant::ctor");
}

ole_variant::ole_variant(const t_systemtime& time_) : time(time_), vt(VT_DATE)
{
    TK_TRACE(1, "ole_variant::ctor(SYSTEMTIME)");
}

ole_variant::ole_variant(ole_cy value) : vt(VT_CY)
{
    TK_TRACE(1, "ole_variant::ctor(CY)");
    num.cy = value.units;
}

ole_variant::ole_variant(const ole_decimal& value) : vt(VT_DECIMAL), decimal(value)
{
    TK_TRACE(1, "ole_variant::ctor(DECIMAL)");
}

ole_variant::ole_variant(ole_decimal&& value) : vt(VT_DECIMAL), decimal(std::move(value))
{
    TK_TRACE(1, "ole_variant::ctor(DECIMAL)");
}

ole_variant::ole_variant(const wchar_t* text) : vt(VT_BSTR)
{
    TK_TRACE(1, "ole_variant::ctor(BSTR)");
    if (text)
        bstr.assign(text);
}

ole_variant::ole_variant(const char* text)
{
    TK_TRACE(1, "ole_variant::ctor(char*)");
    attach_string(text ? std::string_view(text) : std::string_view());
}

ole_variant::ole_variant(const std::string& text)
{
    TK_TRACE(1, "ole_variant::ctor(std::string)");
    attach_string(text);
}

ole_variant::ole_variant(const std::wstring& text)
{
    TK_TRACE(1, "ole_variant::ctor(std::wstring)");
    attach_wstring(text);
}

ole_variant::ole_variant(std::wstring&& text)
{
    TK_TRACE(1, "ole_variant::ctor(std::wstring)");
    attach_wstring(std::move(text));
}

ole_variant::ole_variant(bool value) : vt(VT_BOOL)
{
    TK_TRACE(1, "ole_variant::ctor(bool)");
    num.boolean = value ? -1 : 0;
}

ole_variant::ole_variant(char value) : vt(VT_I1)
{
    TK_TRACE(1, "ole_variant::ctor(char)");
    num.i1 = static_cast<std::int8_t>(value);
}

ole_variant::ole_variant(signed char value) : vt(VT_I1)
{
    TK_TRACE(1, "ole_variant::ctor(char)");
    num.i1 = value;
}

ole_variant::ole_variant(unsigned char value) : vt(VT_UI1)
{
    TK_TRACE(1, "ole_variant::ctor(unsigned char)");
    num.ui1 = value;
}

ole_variant::ole_variant(short value) : vt(VT_I2)
{
    TK_TRACE(1, "ole_variant::ctor(short)");
    num.i2 = value;
}

ole_variant::ole_variant(unsigned short value) : vt(VT_UI2)
{
    TK_TRACE(1, "ole_variant::ctor(unsigned short)");
    num.ui2 = value;
}

ole_variant::ole_variant(int value) : vt(VT_I4)
{
    TK_TRACE(1, "ole_variant::ctor(int)");
    num.i4 = value;
}

ole_variant::ole_variant(unsigned int value) : vt(VT_UI4)
{
    TK_TRACE(1, "ole_variant::ctor(unsigned int)");
    num.ui4 = value;
}

ole_variant::ole_variant(long value) : int64_value(value), vt(VT_I8)
{
    TK_TRACE(1, "ole_variant::ctor(__int64)");
}

ole_variant::ole_variant(unsigned long value) : uint64_value(value), vt(VT_UI8)
{
    TK_TRACE(1, "ole_variant::ctor(unsigned __int64)");
}

ole_variant::ole_variant(long long value) : int64_value(value), vt(VT_I8)
{
    TK_TRACE(1, "ole_variant::ctor(__int64)");
}

ole_variant::ole_variant(unsigned long long value) : uint64_value(value), vt(VT_UI8)
{
    TK_TRACE(1, "ole_variant::ctor(unsigned __int64)");
}

ole_variant::ole_variant(float value) : vt(VT_R4)
{
    TK_TRACE(1, "ole_variant::ctor(float)");
    num.r4 = value;
}

ole_variant::ole_variant(double value) : vt(VT_R8)
{
    TK_TRACE(1, "ole_variant::ctor(double)");
    num.r8 = value;
}

ole_variant::ole_variant(std::size_t count, const void* data)
{
    TK_TRACE(1, "ole_variant::ctor(binary)");
    attach_binary(count, data);
}

ole_variant::ole_variant(const std::vector<std::uint8_t>& data) : vt(VT_BYTE_ARRAY), bytes(data)
{
    TK_TRACE(1, "ole_variant::ctor(binary)");
}

ole_variant::ole_variant(std::vector<std::uint8_t>&& data) : vt(VT_BYTE_ARRAY), bytes(std::move(data))
{
    TK_TRACE(1, "ole_variant::ctor(binary)");
}

ole_variant::ole_variant(ole_variant&& other) noexcept
    : int64_value(other.int64_value),
      uint64_value(other.uint64_value),
      time(other.time),
      vt(other.vt),
      compact(other.compact),
      num(other.num),
      bstr(std::move(other.bstr)),
      text8(std::move(other.text8)),
      bytes(std::move(other.bytes)),
      decimal(std::move(other.decimal))
{
    other.vt = VT_EMPTY;
    other.compact = false;
    other.text8.clear();
}

ole_variant& ole_variant::operator=(ole_variant&& other) noexcept
{
    if (this == &other)
        return *this;
    int64_value = other.int64_value;
    uint64_value = other.uint64_value;
    time = other.time;
    vt = other.vt;
    compact = other.compact;
    num = other.num;
    bstr = std::move(other.bstr);
    text8 = std::move(other.text8);
    bytes = std::move(other.bytes);
    decimal = std::move(other.decimal);
    other.vt = VT_EMPTY;
    other.compact = false;
    other.text8.clear();
    return *this;
}

ole_variant::~ole_variant() = default;

// ------------------------------------------------------------- assignment

ole_variant& ole_variant::operator=(const wchar_t* text)
{
    set_type(VT_BSTR);
    if (text)
        bstr.assign(text);
    else
        bstr.clear();
    return *this;
}

ole_variant& ole_variant::operator=(const char* text)
{
    attach_string(text ? std::string_view(text) : std::string_view());
    return *this;
}

ole_variant& ole_variant::operator=(const std::string& text)
{
    attach_string(text);
    return *this;
}

ole_variant& ole_variant::operator=(const std::wstring& text)
{
    attach_wstring(text);
    return *this;
}

ole_variant& ole_variant::operator=(std::wstring&& text)
{
    attach_wstring(std::move(text));
    return *this;
}

void ole_variant::set_type(VARTYPE type) noexcept
{
    // Every caller stores a new value, so UTF-8 text never outlives it.
    if (compact) {
        std::string().swap(text8);
        compact = false;
    }
    if (vt == VT_BSTR && type != VT_BSTR)
        bstr.clear();
    if (vt == VT_BYTE_ARRAY && type != VT_BYTE_ARRAY)
        bytes.clear();
    if (vt == VT_DECIMAL && type != VT_DECIMAL)
        decimal = ole_decimal();
    vt = type;
}

void ole_variant::set_bool(bool value) noexcept
{
    set_type(VT_BOOL);
    num.boolean = value ? -1 : 0;
}

void ole_variant::clear() noexcept
{
    set_type(VT_EMPTY);
}

void ole_variant::set_null() noexcept
{
    set_type(VT_NULL);
}

void ole_variant::attach_string(std::string_view text)
{
    // The wide text is built before the old value is dropped, so a failure
    // leaves the value as it was.
    std::wstring w = tk_utf8_to_wide(up_to_nul(text));
    set_type(VT_BSTR);
    bstr = std::move(w);
}

void ole_variant::attach_wstring(const std::wstring& text)
{
    if (vt == VT_BSTR && &text == &bstr)
        return;
    set_type(VT_BSTR);
    bstr.assign(text);
}

void ole_variant::attach_wstring(std::wstring&& text)
{
    set_type(VT_BSTR);
    bstr = std::move(text);
}

void ole_variant::attach_utf8(std::string&& text)
{
    const std::size_t nul = text.find('\0');
    if (nul != std::string::npos)
        text.resize(nul);
    set_type(VT_BSTR);
    bstr.clear();
    bstr.shrink_to_fit();
    text8 = std::move(text);
    compact = true;
}

const std::wstring& ole_variant::get_bstr() const
{
    if (compact)
        widen();
    return bstr;
}

void ole_variant::widen() const
{
    // Built first, so that a failure leaves the UTF-8 in place.
    bstr = tk_utf8_to_wide(text8);
    std::string().swap(text8);
    compact = false;
}

void ole_variant::attach_binary(std::size_t count, const void* data)
{
    // An empty RAW or LOB has no bytes and may come with no pointer.
    TK_CHECK(count == 0 || data != nullptr, "ole_var", 836);
    const auto* p = static_cast<const std::uint8_t*>(data);
    set_type(VT_BYTE_ARRAY);
    if (count == 0)
        bytes.clear();
    else
        bytes.assign(p, p + count);
}

void ole_variant::attach_binary(const std::vector<std::uint8_t>& data)
{
    if (vt == VT_BYTE_ARRAY && &data == &bytes)
        return;
    set_type(VT_BYTE_ARRAY);
    bytes = data;
}

void ole_variant::attach_binary(std::vector<std::uint8_t>&& data)
{
    set_type(VT_BYTE_ARRAY);
    bytes = std::move(data);
}

void ole_variant::allocate_safe_array(std::size_t count)
{
    TK_TRACE(1, "ole_variant::allocate_safe_array(%d)", count);
    if (vt != VT_BYTE_ARRAY) {
        set_type(VT_EMPTY);
        set_type(VT_BYTE_ARRAY);
        bytes.assign(count, 0);
        return;
    }
    if (bytes.size() != count)
        bytes.resize(count);
}

std::vector<std::uint8_t> ole_variant::convert_to_byte_array(const std::uint8_t* data, std::size_t count)
{
    TK_TRACE(1, "convert_to_byte_array(%d)", count);
    if (!data || count == 0)
        return {};
    if (tk_trace_wanted(1))
        for (std::size_t i = 0; i < count; ++i)
            tk_trace(1, "byte_array[%d]=%d", i, data[i]);
    return std::vector<std::uint8_t>(data, data + count);
}

// ------------------------------------------------------------------- text

void ole_variant::append_string(std::string& out) const
{
    TK_TRACE(1, "ole_variant::to_string (vt=%08X)", vt);
    switch (vt) {
    case VT_I1:
        append_integer(out, static_cast<int>(num.i1));
        break;
    case VT_I2:
        append_integer(out, static_cast<int>(num.i2));
        break;
    case VT_I4:
        append_integer(out, num.i4);
        break;
    case VT_UI1:
        append_integer(out, static_cast<unsigned>(num.ui1));
        break;
    case VT_UI2:
        append_integer(out, static_cast<unsigned>(num.ui2));
        break;
    case VT_UI4:
    case VT_UINT:
        append_integer(out, num.ui4);
        break;
    case VT_I8:
        append_integer(out, int64_value);
        break;
    case VT_UI8:
        append_integer(out, uint64_value);
        break;
    case VT_R4:
        append_floating(out, num.r4);
        break;
    case VT_R8:
        append_floating(out, num.r8);
        break;
    case VT_CY:
        ole_cy::from_units(num.cy).append_to(out);
        break;
    case VT_DECIMAL:
        decimal.append_to(out);
        break;
    case VT_DATE:
        out += ole_date(time).to_string(true);
        break;
    case VT_BSTR:
        if (compact)
            out += text8;
        else
            append_utf8(out, bstr);
        break;
    case VT_BOOL:
        TK_TRACE(1, "to_string - bool: %d", num.boolean);
        TK_TRACE(1, "Mapping BOOL like ANSI!");
        out.push_back(num.boolean == -1 ? '1' : '0');
        break;
    case VT_BYTE_ARRAY: {
        if (bytes.empty())
            break;
        const std::size_t old = out.size();
        out.resize(old + 2 + 2 * bytes.size());
        char* p = out.data() + old;
        *p++ = '0';
        *p++ = 'x';
        tk_write_hex(p, bytes.data(), bytes.size());
        break;
    }
    default:
        // VT_EMPTY, VT_NULL, VT_INT and anything unknown have no text.
        break;
    }
}

std::string ole_variant::to_string() const
{
    std::string s;
    append_string(s);
    return s;
}

std::wstring ole_variant::to_wstring() const
{
    TK_TRACE(1, "ole_variant::to_wstring (vt=%08X)", vt);
    if (vt == VT_BSTR && compact)
        return tk_utf8_to_wide(text8);
    if (vt == VT_BSTR)
        return std::wstring(up_to_nul(std::wstring_view(bstr)));
    return tk_utf8_to_wide(to_string());
}

// ------------------------------------------------------------ from_string

ole_variant ole_variant::from_string(std::string_view text, VARTYPE type)
{
    // The texts are C strings at heart: nothing after a NUL belongs to them.
    text = up_to_nul(text);
    TK_TRACE(1, "ole_variant::from_string('%s', 0x%08X)", text, type);
    ole_variant v;
    if (text.empty()) {
        if (type == VT_BSTR)
            v.set_type(VT_BSTR);
        return v;
    }
    if (is_integer_type(type) && type != VT_INT && type != VT_UINT) {
        const int_text r = read_integer(text);
        if (r.overflow || !int_fits(type, r.negative, r.magnitude))
            throw ole_cast_exception();
        v.store_integer(type, r.negative, r.magnitude);
        return v;
    }
    switch (type) {
    case VT_R4: {
        float f;
        std::size_t end;
        if (read_floating(text, f, end) == float_text::overflow)
            throw ole_cast_exception();
        v.set_type(VT_R4);
        v.num.r4 = f;
        return v;
    }
    case VT_R8: {
        double d;
        std::size_t end;
        if (read_floating(text, d, end) == float_text::overflow)
            throw ole_cast_exception();
        v.set_type(VT_R8);
        v.num.r8 = d;
        return v;
    }
    case VT_CY: {
        TK_TRACE(1, "GOT VT_CY");
        ole_cy c;
        const ole_number_status s = ole_cy::parse(text, c, true);
        if (s != ole_number_status::ok) {
            TK_TRACE(3, "VarCyFromStr failed: %08X",
                     s == ole_number_status::overflow ? code_overflow : code_type_mismatch);
            return v;
        }
        v.set_type(VT_CY);
        v.num.cy = c.units;
        return v;
    }
    case VT_DECIMAL: {
        TK_TRACE(1, "GOT VT_DECIMAL");
        ole_decimal d;
        const ole_number_status s = ole_decimal::parse(text, d, true);
        if (s != ole_number_status::ok) {
            TK_TRACE(3, "VarDecFromStr failed: %08X",
                     s == ole_number_status::overflow ? code_overflow : code_type_mismatch);
            return v;
        }
        v.set_type(VT_DECIMAL);
        v.decimal = std::move(d);
        return v;
    }
    case VT_DATE: {
        TK_TRACE(1, "GOT VT_DATE");
        const ole_date d{std::string(text)};
        if (d.is_valid()) {
            v.set_type(VT_DATE);
            v.time = d.get_time();
        }
        return v;
    }
    case VT_BOOL: {
        const int word = bool_word(text);
        if (word >= 0) {
            v.set_bool(word == 1);
        } else {
            const int_text r = read_integer(text);
            v.set_bool(r.overflow || r.magnitude != 0);
        }
        return v;
    }
    case VT_BLOB:
    case VT_BYTE_ARRAY: {
        if (text.size() % 2) {
            TK_TRACE(2, "Incorrect BLOB (size is odd)");
            return v;
        }
        if (text.size() >= 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X'))
            text.remove_prefix(2);
        TK_TRACE(1, "Got BLOB size: %d", text.size());
        std::vector<std::uint8_t> data(text.size() / 2);
        for (std::size_t i = 0; i < data.size(); ++i) {
            const int hi = hex_value(text[2 * i]);
            const int lo = hex_value(text[2 * i + 1]);
            if (hi < 0 || lo < 0) {
                // Half-read pairs would store wrong bytes; refuse the value.
                TK_TRACE(2, "Incorrect BLOB (not a hexadecimal pair at %d)", 2 * i);
                return v;
            }
            data[i] = static_cast<std::uint8_t>(hi * 16 + lo);
        }
        v.set_type(VT_BYTE_ARRAY);
        v.bytes = std::move(data);
        return v;
    }
    default:
        break;
    }
    v.attach_string(text);
    try {
        v.change_type(type);
    } catch (const ole_cast_exception&) {
        throw ole_type_exception();
    }
    TK_TRACE(1, "VariantChangeType succeeded");
    return v;
}

ole_variant ole_variant::from_wstring(std::wstring_view text, VARTYPE type)
{
    TK_TRACE(1, "ole_variant::from_wstring");
    const std::wstring_view t = up_to_nul(text);
    if (type == VT_BSTR) {
        ole_variant v;
        v.set_type(VT_BSTR);
        v.bstr.assign(t);
        return v;
    }
    return from_string(tk_wide_to_utf8(t), type);
}

// ------------------------------------------------------------ change_type

void ole_variant::store_integer(VARTYPE type, bool negative, std::uint64_t magnitude) noexcept
{
    const auto s = static_cast<std::int64_t>(negative ? 0 - magnitude : magnitude);
    set_type(type);
    switch (type) {
    case VT_I1:
        num.i1 = static_cast<std::int8_t>(s);
        break;
    case VT_UI1:
        num.ui1 = static_cast<std::uint8_t>(magnitude);
        break;
    case VT_I2:
        num.i2 = static_cast<std::int16_t>(s);
        break;
    case VT_UI2:
        num.ui2 = static_cast<std::uint16_t>(magnitude);
        break;
    case VT_I4:
    case VT_INT:
        num.i4 = static_cast<std::int32_t>(s);
        break;
    case VT_UI4:
    case VT_UINT:
        num.ui4 = static_cast<std::uint32_t>(magnitude);
        break;
    case VT_I8:
        int64_value = s;
        break;
    case VT_UI8:
        uint64_value = magnitude;
        break;
    default:
        break;
    }
}

bool ole_variant::exact_integer(bool& negative, std::uint64_t& magnitude) const noexcept
{
    std::int64_t s;
    switch (vt) {
    case VT_I1:
        s = num.i1;
        break;
    case VT_I2:
        s = num.i2;
        break;
    case VT_I4:
    case VT_INT:
        s = num.i4;
        break;
    case VT_BOOL:
        s = num.boolean;
        break;
    case VT_I8:
        s = int64_value;
        break;
    case VT_UI1:
        negative = false;
        magnitude = num.ui1;
        return true;
    case VT_UI2:
        negative = false;
        magnitude = num.ui2;
        return true;
    case VT_UI4:
    case VT_UINT:
        negative = false;
        magnitude = num.ui4;
        return true;
    case VT_UI8:
        negative = false;
        magnitude = uint64_value;
        return true;
    default:
        return false;
    }
    negative = s < 0;
    magnitude = negative ? 0 - static_cast<std::uint64_t>(s) : static_cast<std::uint64_t>(s);
    return true;
}

void ole_variant::change_type(VARTYPE type)
{
    TK_TRACE(1, "ole_variant::change_type(old=%d,new=%d)", vt, type);
    // A change to another type reads the text in its wide form.
    if (compact && type != VT_BSTR)
        widen();
    if (type == vt || vt == VT_EMPTY || vt == VT_NULL || (is_binary_type(vt) && is_binary_type(type))) {
        TK_TRACE(1, "Type cannot be changed");
        return;
    }
    if (vt == VT_I8 || vt == VT_UI8) {
        change_from_64(type);
        return;
    }
    if (vt == VT_DATE) {
        if (type != VT_BSTR)
            throw ole_cast_exception();
        std::wstring text = to_wstring();
        attach_wstring(std::move(text));
        return;
    }
    if (type == VT_I8 || type == VT_UI8) {
        change_to_64(type);
        return;
    }
    if (type == VT_I2 || type == VT_UI2 || type == VT_I4 || type == VT_UI4) {
        change_to_small_int(type);
        return;
    }
    if (type == VT_DATE) {
        if (vt != VT_BSTR)
            throw ole_cast_exception();
        const ole_date d{std::wstring(up_to_nul(std::wstring_view(bstr)))};
        if (!d.is_valid())
            throw ole_cast_exception();
        set_type(VT_DATE);
        time = d.get_time();
        return;
    }
    if (is_binary_type(vt)) {
        change_binary_to(type);
        return;
    }
    if (is_binary_type(type)) {
        change_to_binary(type);
        return;
    }
    try {
        change_by_table(type);
    } catch (const ole_cast_exception&) {
        TK_TRACE(1, "VariantChangeType failed");
        TK_TRACE(1, "to_string()=%s", to_string());
        throw;
    }
}

void ole_variant::change_from_64(VARTYPE type)
{
    const bool is_signed = vt == VT_I8;
    const bool negative = is_signed && int64_value < 0;
    const std::uint64_t magnitude = is_signed ? (negative ? 0 - static_cast<std::uint64_t>(int64_value)
                                                          : static_cast<std::uint64_t>(int64_value))
                                              : uint64_value;
    if (is_small_integer_type(type)) {
        if (!int_fits(type, negative, magnitude))
            throw ole_cast_exception();
        store_integer(type, negative, magnitude);
        return;
    }
    switch (type) {
    case VT_R4: {
        const float f = is_signed ? static_cast<float>(int64_value) : static_cast<float>(uint64_value);
        set_type(VT_R4);
        num.r4 = f;
        return;
    }
    case VT_R8: {
        const double d = is_signed ? static_cast<double>(int64_value) : static_cast<double>(uint64_value);
        set_type(VT_R8);
        num.r8 = d;
        return;
    }
    case VT_CY: {
        std::int64_t units;
        if (!integer_to_cy(negative, magnitude, units))
            throw ole_cast_exception();
        set_type(VT_CY);
        num.cy = units;
        return;
    }
    case VT_BSTR: {
        std::wstring text = to_wstring();
        attach_wstring(std::move(text));
        return;
    }
    case VT_BOOL:
        set_bool(magnitude != 0);
        return;
    case VT_DECIMAL:
        TK_TRACE(1, is_signed ? "VT_I8->VT_DECIMAL" : "VT_UI8->VT_DECIMAL");
        decimal = is_signed ? ole_decimal::from_int64(int64_value) : ole_decimal::from_uint64(uint64_value);
        set_type(VT_DECIMAL);
        return;
    case VT_I8:
    case VT_UI8:
        // The value goes into the other field, whose bits then equal it; the
        // old field keeps its value. A value the other type cannot hold (a
        // negative as unsigned, or above 2^63 - 1 as signed) would come out
        // as a different number, so it is refused.
        if (!int_fits(type, negative, magnitude))
            throw ole_cast_exception();
        store_integer(type, negative, magnitude);
        return;
    default:
        throw ole_cast_exception();
    }
}

void ole_variant::change_to_64(VARTYPE type)
{
    bool negative = false;
    std::uint64_t magnitude = 0;
    switch (vt) {
    case VT_I1:
    case VT_UI1:
    case VT_I2:
    case VT_UI2:
    case VT_I4:
    case VT_UI4:
    case VT_INT:
    case VT_UINT:
    case VT_BOOL:
        exact_integer(negative, magnitude);
        break;
    case VT_R4:
    case VT_R8:
        if (!floating_to_integer(vt == VT_R4 ? static_cast<double>(num.r4) : num.r8, rounding::toward_zero,
                                 negative, magnitude))
            throw ole_cast_exception();
        break;
    case VT_CY: {
        // Positive amounts round half up, negative ones are truncated.
        const std::int64_t units = num.cy;
        std::int64_t whole = units / 10000;
        if (units > 0 && (units / 1000) % 10 >= 5)
            ++whole;
        negative = whole < 0;
        magnitude = negative ? 0 - static_cast<std::uint64_t>(whole) : static_cast<std::uint64_t>(whole);
        break;
    }
    case VT_DECIMAL:
        TK_TRACE(1, type == VT_I8 ? "VT_DECIMAL->VT_I8" : "VT_DECIMAL->VT_UI8");
        if (!decimal.to_integer(negative, magnitude))
            throw ole_cast_exception();
        break;
    default:
        throw ole_cast_exception();
    }
    if (!int_fits(type, negative, magnitude))
        throw ole_cast_exception();
    store_integer(type, negative, magnitude);
}

void ole_variant::change_to_small_int(VARTYPE type)
{
    bool negative = false;
    std::uint64_t magnitude = 0;
    if (vt == VT_R4 || vt == VT_R8) {
        if (!floating_to_integer(vt == VT_R4 ? static_cast<double>(num.r4) : num.r8, rounding::half_away,
                                 negative, magnitude))
            throw ole_cast_exception();
    } else if (vt == VT_DECIMAL) {
        switch (type) {
        case VT_I2:
            TK_TRACE(1, "VT_DECIMAL->VT_I2");
            break;
        case VT_UI2:
            TK_TRACE(1, "VT_DECIMAL->VT_UI2");
            break;
        case VT_I4:
            TK_TRACE(1, "VT_DECIMAL->VT_I4");
            TK_TRACE(1, "to_string()=%s", decimal.to_string());
            break;
        default:
            TK_TRACE(1, "VT_DECIMAL->VT_UI4");
            break;
        }
        if (!decimal.to_integer(negative, magnitude))
            throw ole_cast_exception();
    } else {
        // Other types (text included) keep their value and type; the writer
        // sends their text as it is.
        return;
    }
    if (!int_fits(type, negative, magnitude))
        throw ole_cast_exception();
    store_integer(type, negative, magnitude);
}

void ole_variant::change_binary_to(VARTYPE type)
{
    TK_TRACE(1, "src.vt is binary, a_type=%d", type);
    if (type != VT_BSTR || vt != VT_BYTE_ARRAY)
        return;
    const auto* p = reinterpret_cast<const char*>(bytes.data());
    const std::size_t n = bytes.size();
    const void* nul = n ? std::memchr(p, 0, n) : nullptr;
    const std::size_t len = nul ? static_cast<std::size_t>(static_cast<const char*>(nul) - p) : n;
    std::wstring text = tk_utf8_to_wide(std::string_view(p, len));
    attach_wstring(std::move(text));
}

void ole_variant::change_to_binary(VARTYPE)
{
    TK_TRACE(1, "a_type is binary, src.vt=%d", vt);
    std::uint8_t buf[16];
    std::size_t n = 0;
    auto put = [&](std::uint64_t v, std::size_t size) {
        for (std::size_t k = 0; k < size; ++k)
            buf[k] = static_cast<std::uint8_t>(v >> (8 * k));
        n = size;
    };
    switch (vt) {
    case VT_I1:
    case VT_UI1:
        put(num.ui1, 1);
        break;
    case VT_I2:
    case VT_UI2:
    case VT_BOOL:
        put(num.ui2, 2);
        break;
    case VT_I4:
    case VT_UI4:
    case VT_INT:
    case VT_UINT:
        put(num.ui4, 4);
        break;
    case VT_R4:
        put(std::bit_cast<std::uint32_t>(num.r4), 4);
        break;
    case VT_R8:
        put(std::bit_cast<std::uint64_t>(num.r8), 8);
        break;
    case VT_CY:
        put(static_cast<std::uint64_t>(num.cy), 8);
        break;
    case VT_DECIMAL:
        if (!decimal.to_ole_bytes(buf))
            throw ole_cast_exception();
        n = 16;
        break;
    case VT_BSTR: {
        TK_TRACE(1, "VT_BSTR->binary");
        std::string text = tk_wide_to_utf8(up_to_nul(std::wstring_view(bstr)));
        TK_TRACE(1, "char_buf=%s", text);
        attach_binary(std::vector<std::uint8_t>(text.begin(), text.end()));
        return;
    }
    default:
        throw ole_cast_exception();
    }
    attach_binary(n, buf);
}

void ole_variant::change_by_table(VARTYPE type)
{
    // The source as one of: an exact integer, a floating value, a currency,
    // a decimal or text.
    bool negative = false;
    std::uint64_t magnitude = 0;
    const bool is_int = exact_integer(negative, magnitude);
    const bool is_float = vt == VT_R4 || vt == VT_R8;
    const double real = vt == VT_R4 ? static_cast<double>(num.r4) : (vt == VT_R8 ? num.r8 : 0.0);
    const bool known = is_int || is_float || vt == VT_CY || vt == VT_DECIMAL || vt == VT_BSTR;
    if (!known)
        throw ole_cast_exception();

    if (type == VT_BSTR) {
        std::wstring text = to_wstring();
        attach_wstring(std::move(text));
        return;
    }

    // Text must read whole (blanks aside) as from_string reads the type.
    std::string text;
    if (vt == VT_BSTR)
        text = tk_wide_to_utf8(up_to_nul(std::wstring_view(bstr)));

    if (is_small_integer_type(type)) {
        if (is_int) {
            // already exact
        } else if (is_float) {
            if (!floating_to_integer(real, rounding::half_even, negative, magnitude))
                throw ole_cast_exception();
        } else if (vt == VT_CY) {
            cy_to_integer(num.cy, negative, magnitude);
        } else if (vt == VT_DECIMAL) {
            if (!decimal.to_integer(negative, magnitude))
                throw ole_cast_exception();
        } else {
            const int_text r = read_integer(text);
            if (!r.digits || r.overflow || !only_blanks(text, r.end))
                throw ole_cast_exception();
            negative = r.negative;
            magnitude = r.magnitude;
        }
        if (!int_fits(type, negative, magnitude))
            throw ole_cast_exception();
        store_integer(type, negative, magnitude);
        return;
    }

    switch (type) {
    case VT_R4: {
        float f = 0.0f;
        if (is_int) {
            f = negative ? -static_cast<float>(magnitude) : static_cast<float>(magnitude);
        } else if (vt == VT_R8) {
            if (!double_to_float(num.r8, f))
                throw ole_cast_exception();
        } else if (vt == VT_CY) {
            ole_decimal::from_cy(ole_cy::from_units(num.cy)).to_float(f);
        } else if (vt == VT_DECIMAL) {
            if (!decimal.to_float(f))
                throw ole_cast_exception();
        } else {
            std::size_t end;
            if (read_floating(text, f, end) != float_text::ok || !only_blanks(text, end))
                throw ole_cast_exception();
        }
        set_type(VT_R4);
        num.r4 = f;
        return;
    }
    case VT_R8: {
        double d = 0.0;
        if (is_int) {
            d = negative ? -static_cast<double>(magnitude) : static_cast<double>(magnitude);
        } else if (vt == VT_R4) {
            d = num.r4;
        } else if (vt == VT_CY) {
            ole_decimal::from_cy(ole_cy::from_units(num.cy)).to_double(d);
        } else if (vt == VT_DECIMAL) {
            if (!decimal.to_double(d))
                throw ole_cast_exception();
        } else {
            std::size_t end;
            if (read_floating(text, d, end) != float_text::ok || !only_blanks(text, end))
                throw ole_cast_exception();
        }
        set_type(VT_R8);
        num.r8 = d;
        return;
    }
    case VT_CY: {
        std::int64_t units;
        if (is_int) {
            if (!integer_to_cy(negative, magnitude, units))
                throw ole_cast_exception();
        } else if (is_float || vt == VT_DECIMAL) {
            ole_decimal d;
            if (vt == VT_R4) {
                if (!ole_decimal::from_float(num.r4, d))
                    throw ole_cast_exception();
            } else if (vt == VT_R8) {
                if (!ole_decimal::from_double(num.r8, d))
                    throw ole_cast_exception();
            } else {
                d = decimal;
            }
            ole_cy c;
            if (!d.to_cy(c))
                throw ole_cast_exception();
            units = c.units;
        } else {
            ole_cy c;
            if (ole_cy::parse(text, c, true) != ole_number_status::ok)
                throw ole_cast_exception();
            units = c.units;
        }
        set_type(VT_CY);
        num.cy = units;
        return;
    }
    case VT_DECIMAL: {
        ole_decimal d;
        if (is_int) {
            d = negative ? ole_decimal::from_int64(static_cast<std::int64_t>(0 - magnitude))
                         : ole_decimal::from_uint64(magnitude);
        } else if (vt == VT_R4) {
            if (!ole_decimal::from_float(num.r4, d))
                throw ole_cast_exception();
        } else if (vt == VT_R8) {
            if (!ole_decimal::from_double(num.r8, d))
                throw ole_cast_exception();
        } else if (vt == VT_CY) {
            d = ole_decimal::from_cy(ole_cy::from_units(num.cy));
        } else {
            if (ole_decimal::parse(text, d, true) != ole_number_status::ok)
                throw ole_cast_exception();
        }
        set_type(VT_DECIMAL);
        decimal = std::move(d);
        return;
    }
    case VT_BOOL: {
        bool value;
        if (is_int) {
            value = magnitude != 0;
        } else if (is_float) {
            value = real != 0.0;
        } else if (vt == VT_CY) {
            value = num.cy != 0;
        } else if (vt == VT_DECIMAL) {
            value = !decimal.is_zero();
        } else {
            const std::string_view t = trim_blanks(text);
            const int word = bool_word(t);
            if (word >= 0) {
                value = word == 1;
            } else {
                const int_text r = read_integer(t);
                if (!r.digits || r.end != t.size())
                    throw ole_cast_exception();
                value = r.overflow || r.magnitude != 0;
            }
        }
        set_bool(value);
        return;
    }
    default:
        throw ole_cast_exception();
    }
}
