#include "udb_database.h"

#include "tk_exception.h"
#include "tk_logger.h"
#include "tk_string.h"

#include <algorithm>
#include <utility>

t_relationship::t_relationship(std::wstring fk_name, std::wstring second_name, std::wstring fk_table,
                               std::wstring pk_table, std::vector<std::wstring> fk_fields,
                               std::vector<std::wstring> pk_fields, std::wstring rule)
    : fk_name(std::move(fk_name)),
      second_name(std::move(second_name)),
      fk_table(std::move(fk_table)),
      pk_table(std::move(pk_table)),
      rule(std::move(rule)),
      fk_fields(std::move(fk_fields)),
      pk_fields(std::move(pk_fields))
{
}

udb_database::udb_database(const std::wstring& name, std::int32_t open_flags, bool case_sensitive)
    : open_flags(open_flags), name(name), case_sensitive(case_sensitive)
{
    TK_TRACE(2, "udb_database::ctor(%s)", name);
}

udb_database::~udb_database()
{
    TK_TRACE(2, "udb_database::dtor");
}

void udb_database::create_schema(const std::wstring&) {}

void udb_database::create_index(const std::wstring&, const udb_index&) {}

void udb_database::create_indexes(const std::wstring& table_name, const udb_indexes& indexes)
{
    TK_TRACE(2, "udb_database::create_indexes(%s)", table_name);
    for (const auto& index : indexes)
        create_index(table_name, index);
}

std::vector<std::wstring>::const_iterator udb_database::find_table(const std::wstring& table_name) const
{
    for (auto it = table_names.begin(); it != table_names.end(); ++it) {
        TK_TRACE(1, "Compare with %s", *it);
        if (case_sensitive ? *it == table_name : tk_compare_no_case(*it, table_name) == 0)
            return it;
    }
    return table_names.end();
}

const std::wstring* udb_database::own_table_name(const std::wstring& table_name) const
{
    // The exact spelling first: quoted names may differ only in case, and
    // each must find its own table, as the dump's get_table finds it.
    auto found = std::find(table_names.begin(), table_names.end(), table_name);
    if (found == table_names.end())
        found = find_table(table_name);
    return found == table_names.end() ? nullptr : &*found;
}

bool udb_database::delete_tab(const std::wstring& table_name)
{
    TK_TRACE(2, "udb_database::delete_tab(%s)", table_name);
    const auto found = find_table(table_name);
    if (found == table_names.end()) {
        TK_TRACE(2, "Table not found!");
        return false;
    }
    table_names.erase(found);
    return true;
}

void udb_database::get_schema_info(std::vector<std::wstring>& names)
{
    names.clear();
}

void udb_database::query(const std::wstring&)
{
    throw tk_mail_assertion("udb_db", 86);
}

void udb_database::create_relationships(const std::vector<t_relationship>&) {}

std::vector<std::wstring>& udb_database::get_table_names()
{
    return table_names;
}

bool udb_database::is_table_exist(const std::wstring& table_name) const
{
    TK_TRACE(2, "udb_database::is_table_exist(%s,case_sensitive=%d)", table_name, case_sensitive ? 1 : 0);
    if (find_table(table_name) == table_names.end()) {
        TK_TRACE(1, "table not found");
        return false;
    }
    TK_TRACE(1, "table exists");
    return true;
}

void udb_database::add_relationships(const std::vector<t_relationship>& list)
{
    relationships.insert(relationships.end(), list.begin(), list.end());
}
