#include "pgs_schema_initializer.h"

#include "pgs_engine.h"
#include "pgs_exception.h"
#include "pgs_values.h"
#include "tk_format.h"
#include "tk_logger.h"
#include "tk_string.h"

#include <pqxx/pqxx>

pgs_schema_initializer::pgs_schema_initializer(const std::wstring& table_name_, const udb_schema& source,
                                               const udb_indexes& source_indexes)
    : table_name(table_name_), validator(source), seed(source.seed), increment(source.increment)
{
    TK_TRACE(2, "pgs_schema_initializer::ctor");
    for (const t_ftd* src : source) {
        std::wstring name = src->name;
        const bool changed = !validator.is_acceptable(name);
        if (changed) {
            name = validator.get_safe_name(src->name);
            TK_TRACE(2, "Incorrect column name, replace: '%s'=>'%s'", src->name, name);
        }
        bool not_null = src->b_autoincrement || src->b_not_null;
        if (!not_null && source_indexes.is_idx_field(src->name, true)) {
            TK_TRACE(2, "Field is a part of Primary Key");
            not_null = true;
        }
        auto column = std::make_unique<t_ftd>(src->size, name, src->vartype, not_null, src->b_autoincrement,
                                              src->b_autoincrement ? ole_variant() : src->default_value,
                                              src->reserved);
        columns.push_back(column.get());
        owned.push_back(std::move(column));
        if (changed) {
            TK_TRACE(2, "Store generated column safe-name '%s'", name);
            validator.add_existing_name(name);
            validator.add_mapped_pair(src->name, name);
        }
        validator.add_restricted_name(name);
        if (src->b_autoincrement)
            serial_name = name;
    }
}

std::wstring pgs_schema_initializer::create_table_sql() const
{
    std::wstring sql = L"CREATE TABLE " + pgs_engine::make_name(table_name) + L" (";
    for (std::size_t i = 0; i < columns.size(); ++i) {
        const t_ftd& c = *columns[i];
        if (i)
            sql += L", ";
        sql += pgs_engine::make_ident(c.name) + L" " + pgs_get_native_type(c);
        const std::wstring def = make_pgs_def_val(c);
        TK_TRACE(1, "got def value: %s", def);
        const bool unbounded = (c.vartype == VT_BSTR || c.vartype == VT_BLOB) &&
                               (c.size == 0 || c.size > pgs_max_varchar);
        if (!def.empty() && !unbounded)
            sql += L" DEFAULT " + def;
        if (c.b_not_null)
            sql += L" NOT NULL";
    }
    sql += L")";
    return sql;
}

std::wstring pgs_schema_initializer::sequence_sql() const
{
    if (serial_name.empty() || (seed == 1 && increment == 1))
        return std::wstring();
    const std::int64_t restart = static_cast<std::int64_t>(seed) + increment;
    return L"ALTER SEQUENCE " + pgs_engine::make_name(table_name + L"_" + serial_name + L"_seq") +
           tk_wformat(L" RESTART WITH %I64d INCREMENT BY %d", restart, increment);
}

void pgs_schema_initializer::build_schema()
{
    TK_TRACE(2, "pgs_schema_initializer::build_schema(n_columns=%d)", columns.size());
    const std::string sql = tk_to_utf8(create_table_sql());
    TK_TRACE(2, "Build table query:\n%s", sql);
    pgs_engine& engine = *pgs_engine::get_instance();
    try {
        pqxx::transaction<pqxx::read_committed> tx(engine.connection(), "build_schema");
        engine.exec(tx, sql);
        tx.commit();
    } catch (const pqxx::pqxx_exception& e) {
        pgs_raise(e.base().what(), "Cannot create table: " + sql + ". ");
    }
    const std::wstring seq = sequence_sql();
    if (seq.empty())
        return;
    TK_TRACE(2, "Tuning serial column '%s'", serial_name);
    TK_TRACE(2, "Alter sequence query:\n%s", seq);
    try {
        pqxx::transaction<pqxx::read_committed> tx(engine.connection(), "auto_increment");
        engine.exec(tx, tk_to_utf8(seq));
        tx.commit();
    } catch (const pqxx::pqxx_exception& e) {
        pgs_raise_if_lost(e.base().what());
        TK_TRACE(3, "Failed to upade sequence '%s': %s", serial_name, e.base().what());
    }
}
