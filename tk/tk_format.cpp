#include "tk_format.h"

#include "tk_unicode.h"

#include <charconv>
#include <cmath>

namespace tk_detail {
namespace {

struct spec {
    bool left = false, plus = false, space = false, alt = false, zero = false;
    int width = -1;
    int precision = -1;
    char conv = 0;
};

void pad(std::string& out, std::size_t n, char c)
{
    out.append(n, c);
}

// Places a finished field (already-built body, sign/prefix separate so that
// zero padding goes between them) into the output.
void emit_field(std::string& out, const spec& s, std::string_view prefix, std::string_view body,
                bool zero_allowed)
{
    std::size_t len = tk_utf8_length(prefix) + tk_utf8_length(body);
    std::size_t w = s.width > 0 ? static_cast<std::size_t>(s.width) : 0;
    std::size_t fill = w > len ? w - len : 0;
    if (s.left) {
        out.append(prefix);
        out.append(body);
        pad(out, fill, ' ');
    } else if (s.zero && zero_allowed) {
        out.append(prefix);
        pad(out, fill, '0');
        out.append(body);
    } else {
        pad(out, fill, ' ');
        out.append(prefix);
        out.append(body);
    }
}

std::uint64_t masked(std::uint64_t v, unsigned size)
{
    return size >= 8 ? v : (v & ((std::uint64_t(1) << (8 * size)) - 1));
}

void emit_unsigned(std::string& out, const spec& s, std::uint64_t v, int base, bool upper,
                   std::string_view sign)
{
    char buf[72];
    auto r = std::to_chars(buf, buf + sizeof buf, v, base);
    std::string body(buf, r.ptr);
    if (upper)
        for (char& c : body)
            if (c >= 'a' && c <= 'z')
                c = static_cast<char>(c - 'a' + 'A');
    std::string prefix(sign);
    if (s.precision >= 0) {
        if (s.precision == 0 && v == 0)
            body.clear();
        if (body.size() < static_cast<std::size_t>(s.precision))
            body.insert(0, static_cast<std::size_t>(s.precision) - body.size(), '0');
    }
    if (s.alt && v != 0) {
        if (base == 16)
            prefix += upper ? "0X" : "0x";
        else if (base == 8 && (body.empty() || body[0] != '0'))
            body.insert(0, 1, '0');
    }
    emit_field(out, s, prefix, body, s.precision < 0);
}

void emit_integer(std::string& out, const spec& s, const tk_fmt_arg& a)
{
    const char c = s.conv;
    if (c == 'd' || c == 'i') {
        if (a.k == tk_fmt_arg::kind::sint) {
            std::int64_t v = a.i;
            std::uint64_t mag = v < 0 ? (~static_cast<std::uint64_t>(v) + 1) : static_cast<std::uint64_t>(v);
            emit_unsigned(out, s, mag, 10, false, v < 0 ? "-" : (s.plus ? "+" : (s.space ? " " : "")));
        } else {
            std::uint64_t v = a.k == tk_fmt_arg::kind::chr ? a.c : (a.k == tk_fmt_arg::kind::ptr ? a.p : a.u);
            emit_unsigned(out, s, v, 10, false, s.plus ? "+" : (s.space ? " " : ""));
        }
        return;
    }
    std::uint64_t v;
    unsigned size = a.size;
    if (a.k == tk_fmt_arg::kind::sint)
        v = masked(static_cast<std::uint64_t>(a.i), size);
    else if (a.k == tk_fmt_arg::kind::ptr)
        v = a.p;
    else if (a.k == tk_fmt_arg::kind::chr)
        v = a.c;
    else
        v = a.u;
    switch (c) {
    case 'u': emit_unsigned(out, s, v, 10, false, ""); break;
    case 'o': emit_unsigned(out, s, v, 8, false, ""); break;
    case 'x': emit_unsigned(out, s, v, 16, false, ""); break;
    default: emit_unsigned(out, s, v, 16, true, ""); break;
    }
}

void emit_real(std::string& out, const spec& s, double v)
{
    const char c = s.conv;
    const bool upper = c == 'E' || c == 'F' || c == 'G';
    // A view of a literal: assigning literals to a std::string here makes
    // g++ 12 at -O3 warn of an overlapping copy that cannot happen.
    std::string_view sign = std::signbit(v) ? "-" : (s.plus ? "+" : (s.space ? " " : ""));
    double mag = std::fabs(v);
    std::string body;
    if (std::isnan(v) || std::isinf(v)) {
        body = std::isnan(v) ? "nan" : "inf";
        if (std::isnan(v))
            sign = s.plus ? "+" : (s.space ? " " : "");
        if (upper)
            body = std::isnan(v) ? "NAN" : "INF";
        emit_field(out, s, sign, body, false);
        return;
    }
    int prec = s.precision < 0 ? 6 : s.precision;
    std::chars_format f = std::chars_format::fixed;
    if (c == 'e' || c == 'E')
        f = std::chars_format::scientific;
    else if (c == 'g' || c == 'G')
        f = std::chars_format::general;
    if (f == std::chars_format::general && prec == 0)
        prec = 1;
    std::string buf(static_cast<std::size_t>(prec) + 400, '\0');
    auto r = std::to_chars(buf.data(), buf.data() + buf.size(), mag, f, prec);
    body.assign(buf.data(), r.ptr);
    if (s.alt && f == std::chars_format::general && body.find('.') == std::string::npos) {
        // '#' keeps the point (and C would keep trailing zeros; rarely used).
        auto e = body.find('e');
        body.insert(e == std::string::npos ? body.size() : e, 1, '.');
    }
    if (upper)
        for (char& ch : body)
            if (ch == 'e')
                ch = 'E';
    emit_field(out, s, sign, body, true);
}

void emit_string(std::string& out, const spec& s, const tk_fmt_arg& a)
{
    std::string tmp;
    std::string_view text;
    if (a.null_str) {
        text = "(null)";
    } else if (a.k == tk_fmt_arg::kind::nstr) {
        text = a.ns;
    } else {
        tmp = tk_wide_to_utf8(a.ws);
        text = tmp;
    }
    if (s.precision >= 0) {
        // Precision counts code points.
        std::size_t cps = 0, i = 0;
        while (i < text.size()) {
            if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) {
                if (cps == static_cast<std::size_t>(s.precision))
                    break;
                ++cps;
            }
            ++i;
        }
        text = text.substr(0, i);
    }
    emit_field(out, s, "", text, false);
}

void emit_char(std::string& out, const spec& s, const tk_fmt_arg& a)
{
    std::string body;
    if (a.k == tk_fmt_arg::kind::chr && a.size == 1) {
        body.push_back(static_cast<char>(a.c));
    } else {
        char32_t c = a.k == tk_fmt_arg::kind::chr ? a.c : static_cast<char32_t>(a.u);
        tk_append_utf8(body, c);
    }
    emit_field(out, s, "", body, false);
}

// Prints an argument whose type does not fit its conversion.
void emit_natural(std::string& out, spec s, const tk_fmt_arg& a)
{
    switch (a.k) {
    case tk_fmt_arg::kind::sint: s.conv = 'd'; emit_integer(out, s, a); break;
    case tk_fmt_arg::kind::uint: s.conv = 'u'; emit_integer(out, s, a); break;
    case tk_fmt_arg::kind::real: s.conv = 'g'; s.precision = -1; emit_real(out, s, a.d); break;
    case tk_fmt_arg::kind::nstr:
    case tk_fmt_arg::kind::wstr: s.precision = -1; emit_string(out, s, a); break;
    case tk_fmt_arg::kind::chr: emit_char(out, s, a); break;
    case tk_fmt_arg::kind::ptr: s.conv = 'X'; s.precision = 16; emit_integer(out, s, a); break;
    }
}

bool is_int_kind(tk_fmt_arg::kind k)
{
    return k == tk_fmt_arg::kind::sint || k == tk_fmt_arg::kind::uint || k == tk_fmt_arg::kind::chr ||
           k == tk_fmt_arg::kind::ptr;
}

bool take_int(const tk_fmt_arg* args, std::size_t count, std::size_t& next, int& value)
{
    if (next >= count || !is_int_kind(args[next].k))
        return false;
    const tk_fmt_arg& a = args[next++];
    std::int64_t v = a.k == tk_fmt_arg::kind::sint ? a.i : static_cast<std::int64_t>(a.u);
    if (v > 1000000) v = 1000000;
    if (v < -1000000) v = -1000000;
    value = static_cast<int>(v);
    return true;
}

}  // namespace

std::string format_args(std::string_view f, const tk_fmt_arg* args, std::size_t count)
{
    std::string out;
    out.reserve(f.size() + 16 * count);
    std::size_t next = 0;
    std::size_t i = 0;
    const std::size_t n = f.size();
    while (i < n) {
        std::size_t pct = f.find('%', i);
        if (pct == std::string_view::npos) {
            out.append(f.substr(i));
            break;
        }
        out.append(f.substr(i, pct - i));
        std::size_t j = pct + 1;
        if (j < n && f[j] == '%') {
            out.push_back('%');
            i = j + 1;
            continue;
        }
        spec s;
        const std::size_t saved_next = next;
        bool ok = true;
        for (; j < n; ++j) {
            char c = f[j];
            if (c == '-') s.left = true;
            else if (c == '+') s.plus = true;
            else if (c == ' ') s.space = true;
            else if (c == '#') s.alt = true;
            else if (c == '0') s.zero = true;
            else break;
        }
        if (j < n && f[j] == '*') {
            int w = 0;
            ok = take_int(args, count, next, w);
            if (w < 0) { s.left = true; w = -w; }
            s.width = w;
            ++j;
        } else {
            int w = -1;
            while (j < n && f[j] >= '0' && f[j] <= '9') {
                w = (w < 0 ? 0 : w) * 10 + (f[j] - '0');
                if (w > 1000000) w = 1000000;
                ++j;
            }
            s.width = w;
        }
        if (ok && j < n && f[j] == '.') {
            ++j;
            if (j < n && f[j] == '*') {
                int p = 0;
                ok = take_int(args, count, next, p);
                s.precision = p < 0 ? -1 : p;
                ++j;
            } else {
                int p = 0;
                while (j < n && f[j] >= '0' && f[j] <= '9') {
                    p = p * 10 + (f[j] - '0');
                    if (p > 1000000) p = 1000000;
                    ++j;
                }
                s.precision = p;
            }
        }
        // Length prefixes are read and ignored: the argument's type decides.
        if (ok && j < n) {
            if (f.compare(j, 3, "I64") == 0 || f.compare(j, 3, "I32") == 0) j += 3;
            else if (f.compare(j, 2, "hh") == 0 || f.compare(j, 2, "ll") == 0) j += 2;
            else if (std::string_view("hlLIzjtwq").find(f[j]) != std::string_view::npos) ++j;
        }
        char conv = (ok && j < n) ? f[j] : 0;
        const bool known = conv != 0 && std::string_view("diuoxXcCsSeEfFgGp").find(conv) != std::string_view::npos;
        if (!ok || !known || next >= count) {
            // Copy the directive out as written; it consumed no argument.
            next = saved_next;
            std::size_t end = (conv != 0 && j < n) ? j + 1 : j;
            if (!known && conv != 0)
                end = j;  // an unknown character is not part of the directive
            if (end <= pct + 1) end = pct + 1;
            out.append(f.substr(pct, end - pct));
            i = end;
            continue;
        }
        s.conv = conv;
        const tk_fmt_arg& a = args[next++];
        switch (conv) {
        case 'd': case 'i': case 'u': case 'o': case 'x': case 'X':
            if (is_int_kind(a.k)) emit_integer(out, s, a);
            else emit_natural(out, s, a);
            break;
        case 'e': case 'E': case 'f': case 'F': case 'g': case 'G':
            if (a.k == tk_fmt_arg::kind::real) emit_real(out, s, a.d);
            else emit_natural(out, s, a);
            break;
        case 's': case 'S':
            if (a.k == tk_fmt_arg::kind::nstr || a.k == tk_fmt_arg::kind::wstr) emit_string(out, s, a);
            else emit_natural(out, s, a);
            break;
        case 'c': case 'C':
            if (a.k == tk_fmt_arg::kind::chr || a.k == tk_fmt_arg::kind::sint || a.k == tk_fmt_arg::kind::uint)
                emit_char(out, s, a);
            else
                emit_natural(out, s, a);
            break;
        case 'p': {
            spec p = s;
            p.conv = 'X';
            p.precision = 16;
            if (is_int_kind(a.k)) emit_integer(out, p, a);
            else emit_natural(out, s, a);
            break;
        }
        }
        i = j + 1;
    }
    return out;
}

std::wstring wformat_args(std::wstring_view format, const tk_fmt_arg* args, std::size_t count)
{
    return tk_utf8_to_wide(format_args(tk_wide_to_utf8(format), args, count));
}

}  // namespace tk_detail
