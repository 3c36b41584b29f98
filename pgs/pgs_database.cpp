#include "pgs_database.h"

#include "pgs_engine.h"
#include "pgs_exception.h"
#include "pgs_recordset.h"
#include "pgs_schema_initializer.h"
#include "pgs_indexes_initializer.h"
#include "tk_format.h"
#include "tk_logger.h"
#include "tk_string.h"

#include <pqxx/pqxx>

namespace {

pgs_engine& engine()
{
    return *pgs_engine::get_instance();
}

bool keep_case()
{
    return pgs_engine::current_keep_case();
}

}  // namespace

// ------------------------------------------------------------ pgs_base_db

pgs_base_db::pgs_base_db(const std::wstring& name, std::int32_t open_flags) : udb_database(name, open_flags, true)
{
    TK_TRACE(2, "pgs_base_db::ctor");
}

pgs_base_db::~pgs_base_db() = default;

bool pgs_base_db::is_table_exist(const std::wstring& table_name) const
{
    TK_TRACE(1, "pgs_base_db::is_table_exist(%s)", table_name);
    if (!keep_case())
        TK_TRACE(1, "Case-sensitive is OFF, make table name lowercase");
    return udb_database::is_table_exist(pgs_engine::case_form(table_name));
}

std::wstring pgs_base_db::get_safe_name(const std::wstring& table_name)
{
    TK_TRACE(1, "pgs_base_db::get_safe_name(%s)", table_name);
    if (table_name.find(L'.') == std::wstring::npos)
        return L"public." + pgs_engine::make_name(table_name);
    return pgs_engine::make_name(table_name);
}

std::wstring pgs_base_db::get_full_name(const std::wstring& table_name)
{
    TK_TRACE(1, "pgs_base_db::get_full_name(%s)", table_name);
    if (table_name.find(L'.') == std::wstring::npos)
        return L"public." + table_name;
    return table_name;
}

std::wstring pgs_base_db::make_safe_tname(const std::wstring& table_name, const std::wstring& schema_name)
{
    TK_TRACE(1, "pgs_base_db::make_safe_tname(%s,%s)", table_name, schema_name);
    return schema_name.empty() ? table_name : schema_name + L"." + table_name;
}

void pgs_base_db::add_full_name1(const std::wstring& table_name)
{
    TK_TRACE(1, "pgs_base_db::add_full_name1(%s)", table_name);
    const std::wstring name = pgs_engine::case_form(table_name);
    const std::size_t dot = name.find(L'.');
    std::wstring schema, table;
    if (dot == std::wstring::npos) {
        TK_TRACE(1, "Got 'pure' table form");
        schema = L"public";
        table = name;
    } else {
        TK_TRACE(1, "Got schema.table form");
        schema = name.substr(0, dot);
        table = name.substr(dot + 1);
    }
    table_names.push_back(schema + L"." + table);
    TK_TRACE(1, "full_tab_name=%s", table_names.back());
    TK_TRACE(1, "sname=%s, tname=%s", schema, table);
}

// ----------------------------------------------------------- pgs_database

std::string pgs_database::table_list_sql(const std::string& quoted_schema)
{
    std::string sql = "SELECT * FROM pg_tables WHERE schemaname";
    if (quoted_schema.empty())
        sql += " NOT IN ('information_schema')";
    else
        sql += "=" + quoted_schema;
    sql += " ORDER BY schemaname,tablename";
    return sql;
}

pgs_database::pgs_database(const std::wstring& name_, const std::wstring& default_schema_, std::int32_t open_flags_)
    : pgs_base_db(name_, open_flags_), default_schema(default_schema_)
{
    TK_TRACE(2, "pgs_database::ctor2(%s,%s)", name_, default_schema_);
    TK_TRACE(2, "pgs_database::get_schema_info #2");
    TK_TRACE(2, "schema_pattern=%s", default_schema_);
    try {
        pqxx::transaction<pqxx::read_committed> tx(engine().connection(), "get_tables");
        const std::string sql =
            table_list_sql(default_schema.empty() ? std::string() : pgs_engine::quote_literal(tx, tk_to_utf8(default_schema)));
        const pqxx::result rows = engine().exec(tx, sql);
        for (const pqxx::row& row : rows)
            add_full_name2(tk_utf8_to_unicode(row[0].c_str()), tk_utf8_to_unicode(row[1].c_str()));
    } catch (const pqxx::pqxx_exception& e) {
        pgs_raise(e.base().what());
    }
}

pgs_database::~pgs_database()
{
    TK_TRACE(2, "pgs_database::dtor");
}

void pgs_database::add_full_name2(const std::wstring& schema_name, const std::wstring& table_name)
{
    TK_TRACE(1, "pgs_database::add_full_name2(%s,%s)", schema_name, table_name);
    std::wstring full = schema_name.empty() ? table_name : schema_name + L"." + table_name;
    if (!keep_case()) {
        TK_TRACE(1, "Case-sensitive is OFF, make table name lowercase");
        full = pgs_engine::lower_ascii(full);
    }
    TK_TRACE(1, "full_name=%s", full);
    TK_TRACE(1, "sname=%s, tname=%s", schema_name, table_name);
    table_names.push_back(std::move(full));
}

std::pair<std::wstring, std::wstring> pgs_database::split_name(const std::wstring& table_name) const
{
    return split_name(table_name, default_schema);
}

std::pair<std::wstring, std::wstring> pgs_database::split_name(const std::wstring& table_name,
                                                               const std::wstring& default_schema)
{
    TK_TRACE(1, "pgs_database::split_name(%s)", table_name);
    std::pair<std::wstring, std::wstring> parts;
    std::wstring bare = table_name;
    bool split = false;
    if (table_name.size() >= 2 && table_name.front() == L'"' && table_name.back() == L'"') {
        bare = table_name.substr(1, table_name.size() - 2);
        const std::size_t sep = bare.find(L"\".\"");
        if (sep != std::wstring::npos) {
            parts = {bare.substr(0, sep), bare.substr(sep + 3)};
            split = true;
        }
    } else {
        const std::size_t dot = table_name.find(L'.');
        if (dot != std::wstring::npos) {
            TK_TRACE(1, "Getting schema for composed name");
            parts = {table_name.substr(0, dot), table_name.substr(dot + 1)};
            split = true;
        }
    }
    if (!split) {
        TK_TRACE(1, "Prepare default schema for simple name (table only)");
        parts = {default_schema.empty() ? std::wstring(L"public") : default_schema, bare};
    }
    TK_TRACE(1, "schema=%s", parts.first);
    return parts;
}

void pgs_database::create_schema(const std::wstring& schema_name)
{
    TK_TRACE(2, "pgs_database::create_schema(%s)", schema_name);
    if (tk_compare_no_case(schema_name, std::wstring_view(L"public")) == 0) {
        TK_TRACE(2, "Skip 'public' schema");
        return;
    }
    try {
        query(L"CREATE SCHEMA IF NOT EXISTS " + pgs_engine::make_ident(schema_name));
    } catch (const pqxx::pqxx_exception& e) {
        TK_TRACE(2, "ERROR: %s", e.base().what());
        pgs_raise(e.base().what(), "Cannot create schema:");
    }
}

bool pgs_database::delete_tab(const std::wstring& table_name)
{
    TK_TRACE(2, "pgs_database::delete_tab(%s)", table_name);
    if (!keep_case())
        TK_TRACE(1, "'case sensitive' is OFF, make table name lowercase");
    const std::wstring name = pgs_engine::case_form(table_name);
    pending_indexes.erase(table_name);
    try {
        pqxx::transaction<pqxx::read_committed> tx(engine().connection(), "drop_table");
        engine().exec(tx, tk_to_utf8(L"DROP TABLE IF EXISTS " + get_safe_name(name) + L" CASCADE"));
        tx.commit();
    } catch (const pqxx::pqxx_exception& e) {
        pgs_raise_if_lost(e.base().what(), "Cannot drop table: " + tk_to_utf8(name) + ": ");
        throw pgs_exception("Cannot drop table: " + tk_to_utf8(name));
    }
    return udb_database::delete_tab(get_full_name(name));
}

void pgs_database::query(const std::wstring& sql)
{
    TK_TRACE(2, "pgs_database::query(%s)", sql);
    pqxx::transaction<pqxx::read_committed> tx(engine().connection(), "run_query");
    engine().exec(tx, tk_to_utf8(sql));
    tx.commit();
    TK_TRACE(2, "pgs_database::query - at the END");
}

bool pgs_database::test_query(const std::wstring& query_text)
{
    TK_TRACE(2, "pgs_database::test_query(%s)", query_text);
    try {
        pqxx::transaction<pqxx::read_committed> tx(engine().connection(), "test_query");
        engine().exec(tx, tk_to_utf8(query_text));
        return true;  // the transaction is rolled back
    } catch (const std::exception& e) {
        // A query that the server refuses is no valid query; a connection
        // that is gone is no answer at all.
        pgs_raise_if_lost(e.what());
        return false;
    }
}

void pgs_database::get_schema_info(std::vector<std::wstring>& names)
{
    TK_TRACE(2, "pgs_database::get_schema_info #1");
    try {
        pqxx::transaction<pqxx::read_committed> tx(engine().connection(), "get_schemas");
        const pqxx::result rows = engine().exec(
            tx, "SELECT DISTINCT schemaname FROM pg_tables WHERE schemaname NOT IN ('information_schema')");
        for (const pqxx::row& row : rows) {
            TK_TRACE(2, "got schema: %s", row[0].c_str());
            names.push_back(tk_utf8_to_unicode(row[0].c_str()));
        }
    } catch (const pqxx::pqxx_exception& e) {
        pgs_raise(e.base().what());
    }
}

std::wstring pgs_database::foreign_key_sql(const t_relationship& r, const udb_names_map& names)
{
    const std::wstring table = names.get_tn_mapped_name(r.fk_table, true);
    const std::wstring referenced = names.get_tn_mapped_name(r.pk_table, true);
    auto columns = [&names](const std::wstring& t, const std::vector<std::wstring>& list) {
        std::wstring out;
        for (std::size_t i = 0; i < list.size(); ++i) {
            if (i)
                out += L", ";
            out += pgs_engine::make_ident(names.get_fn_mapped_name(t, list[i], true));
        }
        return out;
    };
    std::wstring sql = L"ALTER TABLE " + pgs_engine::make_name(table) + L" ADD CONSTRAINT " +
                       pgs_engine::make_ident(r.fk_name) + L" FOREIGN KEY (" + columns(table, r.fk_fields) +
                       L") REFERENCES " + pgs_engine::make_name(referenced) + L"(" +
                       columns(referenced, r.pk_fields) + L")";
    if (!r.rule.empty())
        sql += L" " + r.rule;
    return sql;
}

void pgs_database::create_relationships(const std::vector<t_relationship>& list)
{
    TK_TRACE(2, "pgs_database::create_relationships");
    for (const t_relationship& r : list) {
        TK_TRACE(1, "Processing '%s'", r.fk_name);
        try {
            query(foreign_key_sql(r, names_map));
        } catch (const pqxx::pqxx_exception& e) {
            pgs_raise(e.base().what(), "Cannot create foreign key:");
        }
    }
}

std::unique_ptr<udb_recordset> pgs_database::create_table(const std::wstring& table_name, const udb_schema& schema,
                                                          const udb_indexes& indexes)
{
    TK_TRACE(2, "pgs_database::create_table(%s)", table_name);
    TK_TRACE(1, "Seed=%d, increment=%d", schema.seed, schema.increment);
    if (is_table_exist(table_name)) {
        if (open_flags & udb_open_flags::keep_tables) {
            TK_TRACE(2, "Table '%s' exists, just open it", table_name);
            return get_table(table_name, udb_open_flags::keep_tables);
        }
        throw pgs_exception(tk_format("Table '%s' already exists", table_name));
    }
    TK_TRACE(1, "Table '%s' is not exist, create it", table_name);
    pgs_schema_initializer builder(table_name, schema, indexes);
    builder.build_schema();
    add_full_name1(table_name);
    pending_indexes.erase(table_name);
    if (!indexes.empty()) {
        // Built once the rows are in, as pg_restore does: a key that the
        // rows break then costs the key, not every row, and the rows load
        // without index upkeep.
        pgs_indexes_initializer index_builder(table_name, builder.get_columns(), indexes, builder.get_names_map());
        const std::vector<pgs_index_statement> list = index_builder.pending();
        if (!list.empty())
            pending_indexes[table_name].assign(list.begin(), list.end());
    } else {
        TK_TRACE(2, "indexes.size()=0");
    }
    names_map.add_fn_map(table_name, builder.get_names_map());
    return get_table(table_name, udb_open_flags::created);
}

bool pgs_database::build_next_index(const std::wstring& table_name)
{
    TK_TRACE(2, "pgs_database::build_next_index(%s)", table_name);
    const auto it = pending_indexes.find(table_name);
    if (it == pending_indexes.end())
        return false;
    const pgs_index_statement next = std::move(it->second.front());
    it->second.pop_front();
    if (it->second.empty())
        pending_indexes.erase(it);
    pgs_indexes_initializer::send(next);
    return true;
}

std::unique_ptr<udb_recordset> pgs_database::get_query(const std::wstring& name_, const std::wstring& query_text,
                                                       std::int32_t flags)
{
    TK_TRACE(2, "pgs_database::get_query([%s]=%s)", name_, query_text);
    return std::make_unique<pgs_recordset>(*this, name_, query_text, relationships, flags);
}

std::unique_ptr<udb_recordset> pgs_database::get_table(const std::wstring& table_name, std::int32_t flags)
{
    TK_TRACE(2, "pgs_database::get_table(%s)", table_name);
    TK_CHECK(is_table_exist(table_name), "pgs_db", 502);
    return std::make_unique<pgs_recordset>(*this, table_name, relationships, flags);
}
