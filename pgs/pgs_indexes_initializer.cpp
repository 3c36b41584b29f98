#include "pgs_indexes_initializer.h"

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
        if (!src->b_primary && src->b_unique && is_key_index(names)) {
            // Oracle builds its key on a unique index of the same columns and
            // exports both; here the key's own index stands for it.
            TK_TRACE(2, "Index '%s' is the primary key's own index, skip it", src->name);
            continue;
        }
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
        source_names.push_back(src->name);
        if (!acceptable) {
            TK_TRACE(2, "Store generated index name '%s'", name);
            validator.add_existing_name(name);
        }
        validator.add_restricted_name(name);
    }
}

bool pgs_indexes_initializer::is_key_index(const std::vector<std::wstring>& names) const
{
    // Only the first key can be built; the server refuses any further one.
    for (const udb_index& taken : accepted)
        if (taken.b_primary)
            return taken.columns.size() == names.size() && taken.starts_with_fields(names);
    return false;
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

std::vector<pgs_index_statement> pgs_indexes_initializer::pending() const
{
    TK_TRACE(2, "pgs_indexes_initializer::pending(n_indexes=%d)", accepted.size());
    const std::vector<std::wstring> list = statements();
    std::vector<pgs_index_statement> out;
    out.reserve(list.size());
    for (std::size_t i = 0; i < list.size(); ++i)
        out.push_back({source_names[i], accepted[i].b_primary, tk_to_utf8(list[i])});
    return out;
}

void pgs_indexes_initializer::send(const pgs_index_statement& statement)
{
    pgs_engine& engine = *pgs_engine::get_instance();
    TK_TRACE(3, "Create index '%s': %s\n", statement.name, statement.sql);
    try {
        pqxx::transaction<pqxx::read_committed> tx(engine.connection(), "build_indicies");
        engine.exec(tx, statement.sql);
        tx.commit();
    } catch (const pqxx::pqxx_exception& e) {
        const std::string text = pgs_error_text(e.base());
        TK_TRACE(3, "Cannot create index: %s. %s", statement.sql, text);
        std::string what = statement.primary ? "primary key" : "index";
        if (!statement.name.empty())
            what += " " + tk_to_utf8(statement.name);
        pgs_raise(text, what + " not created: ");
    }
}
