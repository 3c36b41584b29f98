#include "pgs_validator.h"

#include "tk_logger.h"

#include <unicode/uchar.h>

namespace {

std::size_t utf8_units(wchar_t c)
{
    const auto u = static_cast<std::uint32_t>(c);
    if (u < 0x80)
        return 1;
    if (u < 0x800)
        return 2;
    if (u < 0x10000)
        return 3;  // lone surrogates become U+FFFD, also three bytes
    if (u <= 0x10FFFF)
        return 4;
    return 3;
}

}  // namespace

pgs_validator::pgs_validator() : udb_validator(max_name_bytes)
{
    TK_TRACE(2, "pgs_validator::ctor");
}

std::size_t pgs_validator::name_length(const std::wstring& name) const
{
    std::size_t n = 0;
    for (wchar_t c : name)
        n += utf8_units(c);
    return n;
}

std::wstring pgs_validator::cut_name(const std::wstring& name, std::size_t n) const
{
    std::size_t bytes = 0;
    std::size_t i = 0;
    for (; i < name.size(); ++i) {
        const std::size_t u = utf8_units(name[i]);
        if (bytes + u > n)
            break;
        bytes += u;
    }
    return name.substr(0, i);
}

bool pgs_validator::is_name_char(wchar_t c)
{
    switch (c) {
    case L' ':
    case L'#':
    case L'$':
    case L'-':
    case L'.':
    case L'_':
        return true;
    default:
        break;
    }
    const auto u = static_cast<std::uint32_t>(c);
    return u <= 0x10FFFF && u_isalnum(static_cast<UChar32>(u));
}

bool pgs_validator::is_acceptable(const std::wstring& name)
{
    TK_TRACE(1, "pgs_validator::is_acceptable(%s)", name);
    if (name.empty())
        return false;
    if (name_length(name) > max_length)
        return false;
    for (wchar_t c : name) {
        if (!is_name_char(c)) {
            TK_TRACE(2, "Name contains invalid symbol: '%c'", c);
            return false;
        }
    }
    return !is_restricted(name);
}

std::wstring pgs_validator::get_safe_name(const std::wstring& name)
{
    TK_TRACE(1, "pgs_validator::get_safe_name(%s)", name);
    std::wstring text = name;
    if (name_length(text) > max_length)
        text = cut_name(text, max_length - 1);
    for (wchar_t& c : text)
        if (!is_name_char(c))
            c = L'_';
    return udb_validator::get_safe_name(text);
}

std::wstring pgs_validator::take_name(const std::wstring& name, bool keep_pair)
{
    std::wstring final_name = name;
    if (!is_acceptable(name)) {
        final_name = get_safe_name(name);
        add_existing_name(final_name);
        if (keep_pair)
            add_mapped_pair(name, final_name);
    }
    add_restricted_name(final_name);
    return final_name;
}

pgs_fn_validator::pgs_fn_validator(const udb_schema& columns)
{
    TK_TRACE(2, "pgs_fn_validator::ctor1");
    for (const t_ftd* column : columns)
        add_existing_name(column->name);
}

pgs_fn_validator::pgs_fn_validator(const udb_record& record)
{
    TK_TRACE(2, "pgs_fn_validator::ctor1");
    for (const udb_field& field : record)
        add_existing_name(field.name);
}

pgs_in_validator::pgs_in_validator() = default;
pgs_in_validator::~pgs_in_validator() = default;

void pgs_in_validator::add_index_names(const udb_indexes& indexes)
{
    TK_TRACE(2, "pgs_in_validator::ctor");
    for (const udb_index& index : indexes)
        add_existing_name(index.name);
}

pgs_tn_validator::pgs_tn_validator(const std::vector<std::wstring>& selected,
                                   const std::vector<std::wstring>& destination)
{
    TK_TRACE(2, "pgs_tn_validator::ctor");
    for (const std::wstring& name : selected)
        add_existing_name(name);
    for (const std::wstring& entry : destination) {
        const std::size_t dot = entry.find(L'.');
        add_existing_name(dot == std::wstring::npos ? entry : entry.substr(dot + 1));
    }
}
