#include "udb_names_map.h"

#include "tk_logger.h"
#include "tk_string.h"

namespace {

bool names_equal(const std::wstring& a, const std::wstring& b, bool exact)
{
    return exact ? a == b : tk_compare_no_case(a, b) == 0;
}

// Walks the pairs in key order and gives the first match's generated name.
const std::wstring* find_mapped(const t_names_map& map, const std::wstring& name, bool exact)
{
    for (const auto& pair : map) {
        TK_TRACE(1, "Comparing with (%s,%s)", pair.first, pair.second);
        if (names_equal(pair.first, name, exact))
            return &pair.second;
    }
    return nullptr;
}

}  // namespace

void t_names_map::add(const std::wstring& source_name, const std::wstring& generated_name)
{
    TK_TRACE(1, "t_names_map::add(%s,%s)", source_name, generated_name);
    pairs.emplace(source_name, generated_name);
}

std::wstring t_names_map::get_mapped_name(const std::wstring& name, bool exact) const
{
    TK_TRACE(1, "t_names_map::get_mapped_name(%s)", name);
    for (const auto& pair : pairs) {
        if (names_equal(pair.first, name, exact)) {
            TK_TRACE(1, "Got mapped name: %s", pair.second);
            return pair.second;
        }
    }
    return name;
}

void udb_names_map::add_tn_mapping(const std::wstring& source_name, const std::wstring& generated_name)
{
    tk_trace(2, "udb_names_map::add_tn_mapping(%s,%s)", source_name, generated_name);
    tables.add(source_name, generated_name);
}

void udb_names_map::add_fn_map(const std::wstring& table_name, const t_names_map& columns)
{
    tk_trace(2, "udb_names_map::add_fn_map(%s)", table_name);
    columns_by_table.emplace(table_name, columns);
}

std::wstring udb_names_map::get_tn_mapped_name(const std::wstring& table_name, bool exact) const
{
    TK_TRACE(1, "udb_names_map::get_tn_mapped_name(%s)", table_name);
    if (const std::wstring* mapped = find_mapped(tables, table_name, exact)) {
        TK_TRACE(1, "Got mapped name: %s", *mapped);
        return *mapped;
    }
    return table_name;
}

std::wstring udb_names_map::get_fn_mapped_name(const std::wstring& table_name, const std::wstring& column_name,
                                               bool exact) const
{
    TK_TRACE(1, "udb_names_map::get_fn_mapped_name(%s,%s)", table_name, column_name);
    const auto table = columns_by_table.find(table_name);
    if (table == columns_by_table.end()) {
        TK_TRACE(1, "Table '%s' not found", table_name);
        return column_name;
    }
    if (const std::wstring* mapped = find_mapped(table->second, column_name, exact)) {
        TK_TRACE(1, "Got mapped name: %s", *mapped);
        return *mapped;
    }
    return column_name;
}
