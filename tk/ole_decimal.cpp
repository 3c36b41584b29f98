#include "ole_decimal.h"

#include "tk_exception.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <system_error>

namespace {

__extension__ typedef unsigned __int128 u128;

bool is_blank(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool is_digit(char c)
{
    return c >= '0' && c <= '9';
}

// Far beyond any exponent that can pass the range test, yet far from
// overflowing an int64 when digit counts are added to it.
constexpr std::int64_t exponent_cap = 1000000000000LL;

// Digits of the magnitude of an integer, written from the right.
std::size_t unsigned_digits(std::uint64_t v, char* buf)
{
    auto r = std::to_chars(buf, buf + 20, v);
    return static_cast<std::size_t>(r.ptr - buf);
}

// The parts of a scientific text "d.ddde+xx" (as std::to_chars writes it)
// as digits and an exponent.
bool from_scientific(std::string_view text, ole_decimal& out)
{
    bool negative = false;
    std::size_t i = 0;
    if (i < text.size() && text[i] == '-') {
        negative = true;
        ++i;
    }
    char digits[64];
    std::size_t n = 0;
    std::int64_t fraction = 0;
    bool in_fraction = false;
    for (; i < text.size() && text[i] != 'e'; ++i) {
        if (text[i] == '.') {
            in_fraction = true;
            continue;
        }
        if (n == sizeof digits)
            return false;
        digits[n++] = text[i];
        if (in_fraction)
            ++fraction;
    }
    int exp = 0;
    if (i < text.size()) {
        ++i;
        if (i < text.size() && text[i] == '+')
            ++i;
        auto r = std::from_chars(text.data() + i, text.data() + text.size(), exp);
        if (r.ec != std::errc())
            return false;
    }
    return ole_decimal::make(negative, std::string_view(digits, n), exp - fraction, out) ==
           ole_number_status::ok;
}

// Shared by the currency and the decimal parser: the structure of a number
// text. The digits with the point removed go to digits (the caller's
// buffer), the point position and the exponent into scale_exponent.
struct number_parts {
    bool negative = false;
    std::string_view int_part;
    std::string_view fraction_part;
    std::int64_t exponent = 0;
};

ole_number_status split_number(std::string_view text, bool comma_as_point, number_parts& parts)
{
    std::size_t i = 0;
    const std::size_t n = text.size();
    while (i < n && is_blank(text[i]))
        ++i;
    if (i < n && (text[i] == '+' || text[i] == '-')) {
        parts.negative = text[i] == '-';
        ++i;
    }
    std::size_t start = i;
    while (i < n && is_digit(text[i]))
        ++i;
    parts.int_part = text.substr(start, i - start);
    if (i < n && (text[i] == '.' || (comma_as_point && text[i] == ','))) {
        ++i;
        start = i;
        while (i < n && is_digit(text[i]))
            ++i;
        parts.fraction_part = text.substr(start, i - start);
    }
    if (parts.int_part.empty() && parts.fraction_part.empty())
        return ole_number_status::not_a_number;
    if (i < n && (text[i] == 'e' || text[i] == 'E')) {
        ++i;
        bool exp_negative = false;
        if (i < n && (text[i] == '+' || text[i] == '-')) {
            exp_negative = text[i] == '-';
            ++i;
        }
        if (i >= n || !is_digit(text[i]))
            return ole_number_status::not_a_number;
        std::int64_t e = 0;
        for (; i < n && is_digit(text[i]); ++i)
            if (e < exponent_cap)
                e = e * 10 + (text[i] - '0');
        parts.exponent = exp_negative ? -e : e;
    }
    while (i < n && is_blank(text[i]))
        ++i;
    return i == n ? ole_number_status::ok : ole_number_status::not_a_number;
}

}  // namespace

// ---------------------------------------------------------------- ole_cy

ole_number_status ole_cy::parse(std::string_view text, ole_cy& out, bool comma_as_point)
{
    ole_decimal d;
    ole_number_status s = ole_decimal::parse(text, d, comma_as_point);
    if (s != ole_number_status::ok)
        return s;
    ole_cy c;
    if (!d.to_cy(c))
        return ole_number_status::overflow;
    out = c;
    return ole_number_status::ok;
}

void ole_cy::append_to(std::string& out) const
{
    const bool neg = units < 0;
    const std::uint64_t mag = neg ? 0 - static_cast<std::uint64_t>(units) : static_cast<std::uint64_t>(units);
    char buf[32];
    char* p = buf;
    if (neg)
        *p++ = '-';
    p = std::to_chars(p, buf + sizeof buf, mag / scale).ptr;
    unsigned frac = static_cast<unsigned>(mag % scale);
    if (frac) {
        *p++ = '.';
        char f[4];
        for (int k = 3; k >= 0; --k) {
            f[k] = static_cast<char>('0' + frac % 10);
            frac /= 10;
        }
        int len = 4;
        while (f[len - 1] == '0')
            --len;
        std::memcpy(p, f, static_cast<std::size_t>(len));
        p += len;
    }
    out.append(buf, p);
}

std::string ole_cy::to_string() const
{
    std::string s;
    append_to(s);
    return s;
}

// ----------------------------------------------------------- ole_decimal

ole_decimal::ole_decimal(bool negative_, std::string_view digits_, std::int32_t exponent_)
{
    if (make(negative_, digits_, exponent_, *this) != ole_number_status::ok)
        throw ole_cast_exception();
}

ole_decimal::ole_decimal(ole_decimal&& other) noexcept
    : count(other.count), exponent(other.exponent), negative(other.negative), large(std::move(other.large))
{
    if (count <= inline_digits)
        std::memcpy(small, other.small, count);
    other.count = 0;
    other.exponent = 0;
    other.negative = false;
    other.large.clear();
}

ole_decimal& ole_decimal::operator=(ole_decimal&& other) noexcept
{
    if (this == &other)
        return *this;
    count = other.count;
    exponent = other.exponent;
    negative = other.negative;
    if (count <= inline_digits)
        std::memcpy(small, other.small, count);
    large = std::move(other.large);
    other.count = 0;
    other.exponent = 0;
    other.negative = false;
    other.large.clear();
    return *this;
}

ole_number_status ole_decimal::make(bool negative_, std::string_view text, std::int64_t exp, ole_decimal& out)
{
    for (char c : text)
        if (!is_digit(c))
            return ole_number_status::not_a_number;
    std::size_t first = 0;
    while (first < text.size() && text[first] == '0')
        ++first;
    std::size_t last = text.size();
    while (last > first && text[last - 1] == '0')
        --last;
    if (first == last) {
        out = ole_decimal();
        return ole_number_status::ok;
    }
    if (exp > exponent_cap || exp < -exponent_cap)
        return ole_number_status::overflow;
    const std::int64_t n = static_cast<std::int64_t>(last - first);
    exp += static_cast<std::int64_t>(text.size() - last);
    // Digits before the point, and digits after it.
    if (n + exp > max_integer_digits || -exp > max_fraction_digits)
        return ole_number_status::overflow;
    const std::string_view d = text.substr(first, last - first);
    out.negative = negative_;
    out.exponent = static_cast<std::int32_t>(exp);
    out.count = static_cast<std::uint32_t>(n);
    if (d.size() <= inline_digits) {
        std::memmove(out.small, d.data(), d.size());
        out.large.clear();
    } else {
        out.large.assign(d);
    }
    return ole_number_status::ok;
}

ole_number_status ole_decimal::parse(std::string_view text, ole_decimal& out, bool comma_as_point)
{
    number_parts parts;
    ole_number_status s = split_number(text, comma_as_point, parts);
    if (s != ole_number_status::ok)
        return s;
    const std::int64_t exp = parts.exponent - static_cast<std::int64_t>(parts.fraction_part.size());
    if (parts.fraction_part.empty())
        return make(parts.negative, parts.int_part, exp, out);
    if (parts.int_part.empty())
        return make(parts.negative, parts.fraction_part, exp, out);
    const std::size_t total = parts.int_part.size() + parts.fraction_part.size();
    char buf[96];
    if (total <= sizeof buf) {
        std::memcpy(buf, parts.int_part.data(), parts.int_part.size());
        std::memcpy(buf + parts.int_part.size(), parts.fraction_part.data(), parts.fraction_part.size());
        return make(parts.negative, std::string_view(buf, total), exp, out);
    }
    std::string joined;
    joined.reserve(total);
    joined.append(parts.int_part);
    joined.append(parts.fraction_part);
    return make(parts.negative, joined, exp, out);
}

ole_decimal ole_decimal::from_uint64(std::uint64_t value)
{
    char buf[20];
    ole_decimal d;
    make(false, std::string_view(buf, unsigned_digits(value, buf)), 0, d);
    return d;
}

ole_decimal ole_decimal::from_int64(std::int64_t value)
{
    const bool neg = value < 0;
    const std::uint64_t mag = neg ? 0 - static_cast<std::uint64_t>(value) : static_cast<std::uint64_t>(value);
    char buf[20];
    ole_decimal d;
    make(neg, std::string_view(buf, unsigned_digits(mag, buf)), 0, d);
    return d;
}

ole_decimal ole_decimal::from_cy(ole_cy value)
{
    const bool neg = value.units < 0;
    const std::uint64_t mag =
        neg ? 0 - static_cast<std::uint64_t>(value.units) : static_cast<std::uint64_t>(value.units);
    char buf[20];
    ole_decimal d;
    make(neg, std::string_view(buf, unsigned_digits(mag, buf)), -4, d);
    return d;
}

bool ole_decimal::from_double(double value, ole_decimal& out)
{
    if (!std::isfinite(value))
        return false;
    char buf[64];
    auto r = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::scientific);
    return r.ec == std::errc() && from_scientific(std::string_view(buf, static_cast<std::size_t>(r.ptr - buf)), out);
}

bool ole_decimal::from_float(float value, ole_decimal& out)
{
    if (!std::isfinite(value))
        return false;
    char buf[64];
    auto r = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::scientific);
    return r.ec == std::errc() && from_scientific(std::string_view(buf, static_cast<std::size_t>(r.ptr - buf)), out);
}

void ole_decimal::append_to(std::string& out) const
{
    if (count == 0) {
        out.push_back('0');
        return;
    }
    const std::string_view d = digits();
    const std::int64_t n = count;
    const std::int64_t before = n + exponent;  // digits before the point
    const std::size_t old = out.size();
    std::size_t len = negative ? 1 : 0;
    if (exponent >= 0)
        len += static_cast<std::size_t>(n + exponent);
    else if (before > 0)
        len += static_cast<std::size_t>(n + 1);
    else
        len += static_cast<std::size_t>(2 - before + n);
    out.resize(old + len);
    char* p = out.data() + old;
    if (negative)
        *p++ = '-';
    if (exponent >= 0) {
        std::memcpy(p, d.data(), d.size());
        p += d.size();
        std::memset(p, '0', static_cast<std::size_t>(exponent));
    } else if (before > 0) {
        std::memcpy(p, d.data(), static_cast<std::size_t>(before));
        p += before;
        *p++ = '.';
        std::memcpy(p, d.data() + before, static_cast<std::size_t>(n - before));
    } else {
        *p++ = '0';
        *p++ = '.';
        std::memset(p, '0', static_cast<std::size_t>(-before));
        p += -before;
        std::memcpy(p, d.data(), d.size());
    }
}

std::string ole_decimal::to_string() const
{
    std::string s;
    append_to(s);
    return s;
}

bool ole_decimal::scaled_integer(std::int64_t places, std::uint64_t& magnitude) const
{
    magnitude = 0;
    if (count == 0)
        return true;
    const std::string_view d = digits();
    const std::int64_t n = count;
    const std::int64_t shift = exponent + places;
    constexpr std::uint64_t max = std::numeric_limits<std::uint64_t>::max();
    auto push = [&](int digit) {
        if (magnitude > (max - static_cast<std::uint64_t>(digit)) / 10)
            return false;
        magnitude = magnitude * 10 + static_cast<std::uint64_t>(digit);
        return true;
    };
    if (shift >= 0) {
        if (n + shift > 20)
            return false;
        for (char c : d)
            if (!push(c - '0'))
                return false;
        for (std::int64_t k = 0; k < shift; ++k)
            if (!push(0))
                return false;
        return true;
    }
    const std::int64_t keep = n + shift;  // digits left of the rounding point
    if (keep < 0)
        return true;  // below 0.1 after scaling: rounds to 0
    if (keep > 20)
        return false;
    for (std::int64_t k = 0; k < keep; ++k)
        if (!push(d[static_cast<std::size_t>(k)] - '0'))
            return false;
    const int first_dropped = d[static_cast<std::size_t>(keep)] - '0';
    // Without trailing zeros in the coefficient, any further digit is
    // non-zero.
    const bool rest = n > keep + 1;
    bool up = first_dropped > 5 || (first_dropped == 5 && (rest || (magnitude & 1)));
    if (up) {
        if (magnitude == max)
            return false;
        ++magnitude;
    }
    return true;
}

bool ole_decimal::to_integer(bool& is_negative, std::uint64_t& magnitude) const
{
    std::uint64_t m;
    if (!scaled_integer(0, m))
        return false;
    is_negative = negative && m != 0;
    magnitude = m;
    return true;
}

bool ole_decimal::to_int64(std::int64_t& out) const
{
    bool neg;
    std::uint64_t m;
    if (!to_integer(neg, m))
        return false;
    if (neg) {
        if (m > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()) + 1)
            return false;
        out = static_cast<std::int64_t>(0 - m);
    } else {
        if (m > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()))
            return false;
        out = static_cast<std::int64_t>(m);
    }
    return true;
}

bool ole_decimal::to_uint64(std::uint64_t& out) const
{
    bool neg;
    std::uint64_t m;
    if (!to_integer(neg, m) || neg)
        return false;
    out = m;
    return true;
}

bool ole_decimal::to_cy(ole_cy& out) const
{
    std::uint64_t m;
    if (!scaled_integer(4, m))
        return false;
    const bool neg = negative && m != 0;
    const std::uint64_t limit = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()) + (neg ? 1 : 0);
    if (m > limit)
        return false;
    out.units = neg ? static_cast<std::int64_t>(0 - m) : static_cast<std::int64_t>(m);
    return true;
}

std::string ole_decimal::scientific_text() const
{
    std::string s;
    const std::string_view d = digits();
    s.reserve(d.size() + 16);
    if (negative)
        s.push_back('-');
    s.append(d);
    s.push_back('e');
    char buf[16];
    auto r = std::to_chars(buf, buf + sizeof buf, exponent);
    s.append(buf, r.ptr);
    return s;
}

namespace {

template <typename F>
bool decimal_to_floating(const ole_decimal& d, const std::string& text, F& out)
{
    F v{};
    auto r = std::from_chars(text.data(), text.data() + text.size(), v);
    if (r.ec == std::errc()) {
        out = v;
        return true;
    }
    if (r.ec != std::errc::result_out_of_range)
        return false;
    // Out of range either way: too large fails, too small is the nearest
    // value, a zero of the value's sign.
    const std::int64_t magnitude = static_cast<std::int64_t>(d.digits().size()) + d.get_exponent();
    if (magnitude > 0)
        return false;
    out = d.is_negative() ? -F(0) : F(0);
    return true;
}

}  // namespace

bool ole_decimal::to_double(double& out) const
{
    if (count == 0) {
        out = 0.0;
        return true;
    }
    return decimal_to_floating(*this, scientific_text(), out);
}

bool ole_decimal::to_float(float& out) const
{
    if (count == 0) {
        out = 0.0f;
        return true;
    }
    return decimal_to_floating(*this, scientific_text(), out);
}

bool ole_decimal::to_ole_bytes(std::uint8_t out[16]) const
{
    constexpr u128 limit = (static_cast<u128>(1) << 96);
    u128 coefficient = 0;
    int scale = 0;
    const std::string_view d = digits();
    if (d.size() > 29)
        return false;
    for (char c : d)
        coefficient = coefficient * 10 + static_cast<unsigned>(c - '0');
    if (exponent < 0) {
        if (exponent < -28)
            return false;
        scale = -exponent;
    } else {
        for (std::int32_t k = 0; k < exponent; ++k) {
            coefficient *= 10;
            if (coefficient >= limit)
                return false;
        }
    }
    if (coefficient >= limit)
        return false;
    const std::uint64_t lo = static_cast<std::uint64_t>(coefficient);
    const std::uint32_t hi = static_cast<std::uint32_t>(coefficient >> 64);
    out[0] = 14;  // the type code in the reserved word
    out[1] = 0;
    out[2] = static_cast<std::uint8_t>(scale);
    out[3] = negative ? 0x80 : 0;
    for (int k = 0; k < 4; ++k)
        out[4 + k] = static_cast<std::uint8_t>(hi >> (8 * k));
    for (int k = 0; k < 8; ++k)
        out[8 + k] = static_cast<std::uint8_t>(lo >> (8 * k));
    return true;
}

int ole_decimal::compare(const ole_decimal& other) const noexcept
{
    const int s1 = count == 0 ? 0 : (negative ? -1 : 1);
    const int s2 = other.count == 0 ? 0 : (other.negative ? -1 : 1);
    if (s1 != s2)
        return s1 < s2 ? -1 : 1;
    if (s1 == 0)
        return 0;
    // Same sign: compare magnitudes, then flip for negatives.
    int m;
    const std::int64_t a1 = static_cast<std::int64_t>(count) + exponent;
    const std::int64_t a2 = static_cast<std::int64_t>(other.count) + other.exponent;
    if (a1 != a2) {
        m = a1 < a2 ? -1 : 1;
    } else {
        const int c = digits().compare(other.digits());
        m = c < 0 ? -1 : (c > 0 ? 1 : 0);
    }
    return s1 < 0 ? -m : m;
}
