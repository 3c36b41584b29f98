#include "builders.h"

#include "pgs_engine.h"
#include "pgs_exception.h"
#include "pgs_values.h"
#include "tk_format.h"
#include "tk_logger.h"
#include "tk_string.h"

#include <pqxx/pqxx>

namespace {

bool cannot_be_indexed(const t_ftd& column)
{
    const bool long_column = column.size == 0 || column.size > pgs_max_varchar;
    return long_column && (column.vartype == VT_BSTR || pgs_is_binary_vartype(column.vartype));
}

std::wstring column_list(const std::vector<std::wstring>& names)
{
    std::wstring out;
    for (std::size_t i = 0; i < names.size(); ++i) {
        TK_TRACE(1, "Process idx.field %s", names[i]);
        if (i)
            out += L", ";
        out += pgs_engine::make_ident(names[i]);
    }
    return out;
}

}  // namespace

// -------------------------------------------------- pgs_schema_initializer

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
        throw pgs_exception("Cannot create table: " + sql + ". " + e.base().what());
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
        TK_TRACE(3, "Failed to upade sequence '%s': %s", serial_name, e.base().what());
    }
}

// ------------------------------------------------- pgs_indexes_initializer

pgs_indexes_initializer::pgs_indexes_initializer(const std::wstring& table_name_, const udb_schema& columns_,
                                                 const udb_indexes& source_indexes, const t_names_map& names_map_)
    : table_name(table_name_), columns(columns_), names_map(names_map_)
{
    TK_TRACE(2, "pgs_indexes_initializer::ctor(%s)", table_name_);
    pgs_in_validator& validator = *pgs_in_validator::get_instance();
    validator.add_index_names(source_indexes);

    // The key first, then the unique indexes, then the plain ones, so that a
    // plain index listed earlier never makes a key look covered.
    std::vector<const udb_index*> order;
    for (int group = 0; group < 3; ++group)
        for (const udb_index& index : source_indexes) {
            const int g = index.b_primary ? 0 : index.b_unique ? 1 : 2;
            if (g == group)
                order.push_back(&index);
        }

    for (const udb_index* src : order) {
        const bool acceptable = validator.is_acceptable(src->name);
        const std::wstring name = acceptable ? src->name : validator.get_safe_name(src->name);
        std::vector<std::wstring> names;
        bool usable = true;
        for (const std::wstring& source_column : src->columns) {
            TK_TRACE(1, "pgs_indexes_initializer::can_be_part_of_index");
            const t_ftd* column = find_column(source_column);
            if (!column) {
                TK_TRACE(2, "Index '%s': the table has no column '%s', skip the index", src->name, source_column);
                usable = false;
                break;
            }
            TK_TRACE(1, "GOT FIELD: vt=%d, size=%d", column->vartype, column->size);
            if (cannot_be_indexed(*column)) {
                TK_TRACE(2, "Field '%s' cannot be part of index", column->name);
                usable = false;
                break;
            }
            names.push_back(column->name);
        }
        if (!usable || names.empty())
            continue;
        if (!src->b_primary && !src->b_unique) {
            TK_TRACE(1, "udb_indexes::has_index_on_fields");
            bool covered = false;
            for (const udb_index& taken : accepted)
                if (names.size() <= taken.columns.size() && taken.starts_with_fields(names))
                    covered = true;
            if (covered)
                continue;
        }
        accepted.push_back(udb_index(name, src->b_unique, src->b_primary, names));
        if (!acceptable) {
            TK_TRACE(2, "Store generated index name '%s'", name);
            validator.add_existing_name(name);
        }
        validator.add_restricted_name(name);
    }
}

const t_ftd* pgs_indexes_initializer::find_column(const std::wstring& source_column) const
{
    // A source column of exactly that name decides; letter case is ignored
    // only when there is none.
    const std::wstring exact = names_map.get_mapped_name(source_column, true);
    const std::wstring& wanted = exact != source_column ? exact : source_column;
    for (const t_ftd* c : columns)
        if (c->name == wanted)
            return c;
    const std::wstring loose = names_map.get_mapped_name(source_column, false);
    const int i = columns.get_field_idx(loose);
    return i < 0 ? nullptr : columns[static_cast<std::size_t>(i)];
}

std::vector<std::wstring> pgs_indexes_initializer::statements() const
{
    std::vector<std::wstring> out;
    for (const udb_index& index : accepted) {
        if (index.b_primary)
            out.push_back(L"ALTER TABLE " + pgs_engine::make_name(table_name) + L" ADD PRIMARY KEY (" +
                          column_list(index.columns) + L")");
        else
            out.push_back(std::wstring(L"CREATE ") + (index.b_unique ? L"UNIQUE " : L"") + L"INDEX ON " +
                          pgs_engine::make_name(table_name) + L" (" + column_list(index.columns) + L")");
    }
    return out;
}

void pgs_indexes_initializer::build_indexes()
{
    TK_TRACE(2, "pgs_indexes_initializer::build_indexes(n_indexes=%d)", accepted.size());
    pgs_engine& engine = *pgs_engine::get_instance();
    const std::vector<std::wstring> list = statements();
    for (std::size_t i = 0; i < list.size(); ++i) {
        const std::string sql = tk_to_utf8(list[i]);
        TK_TRACE(3, "Create index '%s': %s\n", accepted[i].name, sql);
        try {
            pqxx::transaction<pqxx::read_committed> tx(engine.connection(), "build_indicies");
            engine.exec(tx, sql);
            tx.commit();
        } catch (const pqxx::pqxx_exception& e) {
            TK_TRACE(3, "Cannot create index: %s. %s", sql, e.base().what());
        }
    }
}
