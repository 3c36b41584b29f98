#include "pgs_converter_impl.h"

#include "udb_profile.h"

#include "tk_exception.h"
#include "tk_logger.h"
#include "tk_unicode.h"

#include <limits>

namespace {

const wchar_t* const pgs_section = L"pgs settings";

}  // namespace

std::int64_t pgs_read_profile_port(const std::wstring& text)
{
    std::size_t i = 0;
    const auto is_space = [](wchar_t c) {
        return c == L' ' || c == L'\t' || c == L'\n' || c == L'\v' || c == L'\f' || c == L'\r';
    };
    while (i < text.size() && is_space(text[i]))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == L'+' || text[i] == L'-')) {
        negative = text[i] == L'-';
        ++i;
    }
    constexpr std::int64_t limit = std::numeric_limits<std::int64_t>::max();
    std::int64_t value = 0;
    for (; i < text.size() && text[i] >= L'0' && text[i] <= L'9'; ++i) {
        const int digit = text[i] - L'0';
        value = value > (limit - digit) / 10 ? limit : value * 10 + digit;
    }
    return negative ? -value : value;
}

pgs_converter_impl::pgs_converter_impl()
{
    TK_TRACE(2, "pgs_converter_impl::ctor");
}

pgs_converter_impl::~pgs_converter_impl() = default;

void pgs_converter_impl::set_connection(const std::string& host_, const std::string& user_,
                                        const std::string& password_, int port_)
{
    host = host_;
    user = user_;
    password = password_;
    port = port_;
}

bool pgs_converter_impl::store_profile(udb_profile& profile)
{
    TK_TRACE(2, "pgs_converter_impl::store_profile");
    if (!host.empty())
        profile.set_value(pgs_section, L"host", tk_utf8_to_wide(host));
    if (!user.empty())
        profile.set_value(pgs_section, L"user", tk_utf8_to_wide(user));
    if (!password.empty())
        profile.set_value(pgs_section, L"password", tk_utf8_to_wide(password));
    if (!schema.empty())
        profile.set_value(pgs_section, L"schema", schema);
    if (port != 0)
        profile.set_value(pgs_section, L"port", std::to_wstring(port));
    return true;
}

bool pgs_converter_impl::load_profile(udb_profile& profile)
{
    TK_TRACE(2, "pgs_converter_impl::load_profile");
    std::wstring v = profile.get_value(pgs_section, L"host");
    if (!v.empty())
        host = tk_wide_to_utf8(v);
    v = profile.get_value(pgs_section, L"user");
    if (!v.empty())
        user = tk_wide_to_utf8(v);
    v = profile.get_value(pgs_section, L"password");
    if (!v.empty())
        password = tk_wide_to_utf8(v);
    v = profile.get_value(pgs_section, L"schema");
    if (!v.empty())
        schema = v;
    v = profile.get_value(pgs_section, L"port");
    if (!v.empty()) {
        const std::int64_t p = pgs_read_profile_port(v);
        // A port the connection would only refuse later, or cut to another
        // number, is refused here, where the user can see which setting it is.
        if (p < 1 || p > 65535)
            throw tk_exception("Invalid port number", 1);
        port = static_cast<std::int32_t>(p);
    }
    return true;
}
