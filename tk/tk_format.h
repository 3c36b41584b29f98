// The printf-style formatter behind every trace and message.
//
// Formats are read the way the Microsoft runtime reads them ("%I64d", and in
// wide formats "%s" wide and "%S" narrow), but safely: each argument carries
// its C++ type, so a width prefix can never pull the wrong number of bytes and
// either string width is accepted by either string conversion. Narrow output
// is UTF-8. Numbers never go through the process locale.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>

struct tk_fmt_arg {
    enum class kind : std::uint8_t { sint, uint, real, nstr, wstr, chr, ptr };
    kind k;
    std::uint8_t size;  // bytes of the integer type: decides %u and %x widths
    bool null_str;
    union {
        std::int64_t i;
        std::uint64_t u;
        double d;
        std::uintptr_t p;
        char32_t c;
    };
    std::string_view ns;
    std::wstring_view ws;

    tk_fmt_arg() : k(kind::sint), size(4), null_str(false), i(0) {}
};

namespace tk_detail {

template <typename T>
tk_fmt_arg make_fmt_arg(const T& v)
{
    using D = std::decay_t<T>;
    tk_fmt_arg a;
    if constexpr (std::is_array_v<T>) {
        // A character array (a literal or a buffer): its text up to the first
        // NUL, never past its end.
        using E = std::remove_cv_t<std::remove_extent_t<T>>;
        constexpr std::size_t n = std::extent_v<T>;
        if constexpr (std::is_same_v<E, char> || std::is_same_v<E, unsigned char>) {
            a.k = tk_fmt_arg::kind::nstr;
            const char* p = reinterpret_cast<const char*>(v);
            std::size_t len = 0;
            while (len < n && p[len] != '\0')
                ++len;
            a.ns = std::string_view(p, len);
        } else if constexpr (std::is_same_v<E, wchar_t>) {
            a.k = tk_fmt_arg::kind::wstr;
            std::size_t len = 0;
            while (len < n && v[len] != L'\0')
                ++len;
            a.ws = std::wstring_view(v, len);
        } else {
            return make_fmt_arg(static_cast<const E*>(v));
        }
    } else if constexpr (std::is_same_v<D, bool>) {
        a.k = tk_fmt_arg::kind::sint;
        a.size = 4;
        a.i = v ? 1 : 0;
    } else if constexpr (std::is_same_v<D, char>) {
        a.k = tk_fmt_arg::kind::chr;
        a.size = 1;
        a.c = static_cast<unsigned char>(v);
    } else if constexpr (std::is_same_v<D, wchar_t> || std::is_same_v<D, char16_t> ||
                         std::is_same_v<D, char32_t> || std::is_same_v<D, char8_t>) {
        a.k = tk_fmt_arg::kind::chr;
        a.size = sizeof(D);
        a.c = static_cast<char32_t>(static_cast<std::make_unsigned_t<D>>(v));
    } else if constexpr (std::is_enum_v<D>) {
        return make_fmt_arg(static_cast<std::underlying_type_t<D>>(v));
    } else if constexpr (std::is_integral_v<D> && std::is_signed_v<D>) {
        a.k = tk_fmt_arg::kind::sint;
        a.size = sizeof(D);
        a.i = v;
    } else if constexpr (std::is_integral_v<D>) {
        a.k = tk_fmt_arg::kind::uint;
        a.size = sizeof(D);
        a.u = v;
    } else if constexpr (std::is_floating_point_v<D>) {
        a.k = tk_fmt_arg::kind::real;
        a.size = sizeof(D);
        a.d = static_cast<double>(v);
    } else if constexpr (std::is_same_v<D, const char*> || std::is_same_v<D, char*> ||
                         std::is_same_v<D, const unsigned char*> || std::is_same_v<D, unsigned char*>) {
        a.k = tk_fmt_arg::kind::nstr;
        if (v)
            a.ns = std::string_view(reinterpret_cast<const char*>(v));
        else
            a.null_str = true;
    } else if constexpr (std::is_same_v<D, const wchar_t*> || std::is_same_v<D, wchar_t*>) {
        a.k = tk_fmt_arg::kind::wstr;
        if (v)
            a.ws = std::wstring_view(v);
        else
            a.null_str = true;
    } else if constexpr (std::is_same_v<D, std::string> || std::is_same_v<D, std::string_view>) {
        a.k = tk_fmt_arg::kind::nstr;
        a.ns = std::string_view(v);
    } else if constexpr (std::is_same_v<D, std::wstring> || std::is_same_v<D, std::wstring_view>) {
        a.k = tk_fmt_arg::kind::wstr;
        a.ws = std::wstring_view(v);
    } else if constexpr (std::is_pointer_v<D> || std::is_null_pointer_v<D>) {
        a.k = tk_fmt_arg::kind::ptr;
        a.size = sizeof(void*);
        a.p = reinterpret_cast<std::uintptr_t>(static_cast<const volatile void*>(v));
    } else {
        static_assert(sizeof(D) == 0, "type cannot be formatted");
    }
    return a;
}

std::string format_args(std::string_view format, const tk_fmt_arg* args, std::size_t count);
std::wstring wformat_args(std::wstring_view format, const tk_fmt_arg* args, std::size_t count);

}  // namespace tk_detail

template <typename... Args>
std::string tk_format(const char* format, const Args&... args)
{
    if (!format)
        return {};
    const tk_fmt_arg list[sizeof...(Args) + 1] = {tk_detail::make_fmt_arg(args)...};
    return tk_detail::format_args(format, list, sizeof...(Args));
}

template <typename... Args>
std::wstring tk_wformat(const wchar_t* format, const Args&... args)
{
    if (!format)
        return {};
    const tk_fmt_arg list[sizeof...(Args) + 1] = {tk_detail::make_fmt_arg(args)...};
    return tk_detail::wformat_args(format, list, sizeof...(Args));
}
