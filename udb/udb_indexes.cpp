#include "udb_indexes.h"

#include "tk_exception.h"
#include "tk_logger.h"
#include "tk_string.h"

#include <utility>

udb_index::udb_index(std::wstring name, bool b_unique, bool b_primary, std::vector<std::wstring> columns)
    : name(std::move(name)), b_unique(b_unique), b_primary(b_primary), columns(std::move(columns))
{
}

bool udb_index::starts_with_fields(const std::vector<std::wstring>& fields) const
{
    TK_TRACE(1, "udb_index(%s)::starts_with_fields", name);
    if (columns.size() < fields.size())
        return false;
    for (std::size_t i = 0; i < fields.size(); ++i) {
        if (tk_compare_no_case(columns[i], fields[i]) != 0) {
            TK_TRACE(1, "Field '%s' not found", fields[i]);
            return false;
        }
    }
    TK_TRACE(1, "starts_with_fields returns true");
    return true;
}

const udb_index* udb_indexes::find(const std::wstring& name) const
{
    for (const auto& index : list)
        if (tk_compare_no_case(index.name, name) == 0)
            return &index;
    return nullptr;
}

void udb_indexes::push_back(const udb_index& index)
{
    TK_TRACE(1, "udb_indexes::push_back(%s)", index.name);
    if (!find2(index.name)) {
        TK_TRACE(2, "Index does not exist, add it");
        list.push_back(index);
        return;
    }
    udb_index& existing = get_index(index.name);
    if (existing.b_primary) {
        TK_TRACE(2, "Primary key with the same name exists, skip it.");
    } else if (index.b_primary) {
        TK_TRACE(2, "Upgrade existing index to primary key.");
        existing = index;
    } else if (existing.b_unique) {
        TK_TRACE(2, "Unique index with the same name exists, skip it.");
    } else if (index.b_unique) {
        TK_TRACE(2, "Set unique attribute for existing index.");
        existing = index;
    }
}

bool udb_indexes::find2(const std::wstring& name) const
{
    TK_TRACE(1, "udb_indexes::find2");
    return find(name) != nullptr;
}

const udb_index& udb_indexes::get_index(const std::wstring& name) const
{
    TK_TRACE(1, "udb_indexes::get_index(%s)", name);
    const udb_index* index = find(name);
    if (!index)
        throw tk_mail_assertion("udb_idx", 187);
    return *index;
}

udb_index& udb_indexes::get_index(const std::wstring& name)
{
    return const_cast<udb_index&>(std::as_const(*this).get_index(name));
}

bool udb_indexes::is_acceptable_name(const std::wstring& name) const
{
    TK_TRACE(1, "udb_indexes::is_acceptable_name(%s)", name);
    return find(name) == nullptr;
}

bool udb_indexes::is_idx_field(const std::wstring& column_name, bool primary_only) const
{
    TK_TRACE(1, "udb_indexes::is_idx_field(%s)", column_name);
    for (const auto& index : list) {
        if (primary_only && !index.b_primary)
            continue;
        for (const auto& column : index.columns) {
            if (column == column_name) {
                TK_TRACE(1, "index field");
                return true;
            }
        }
    }
    TK_TRACE(1, "non-index field");
    return false;
}
