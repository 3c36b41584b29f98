// The writer of a PostgreSQL table: rows by COPY or INSERT, with the record's
// column mapping worked out once per table layout, and UPDATE by key.
#include "pgs_recordset.h"

#include "pgs_database.h"
#include "pgs_engine.h"
#include "pgs_exception.h"
#include "pgs_validator.h"
#include "pgs_values.h"
#include "tk_logger.h"
#include "tk_string.h"

namespace {

pgs_engine& engine()
{
    return *pgs_engine::get_instance();
}

[[noreturn]] void structure_failure(int level)
{
    throw tk_exception(std::string("The structure of data source does not conform to the destination table."),
                       level);
}

// Swaps the renamed field names in for the writing and back afterwards, so
// the caller's record keeps its own names.
class renamed_fields {
public:
    renamed_fields(udb_record& record, std::vector<std::wstring>& renamed) : record(record), renamed(renamed)
    {
        for (std::size_t i = 0; i < record.size(); ++i)
            if (record[i].name != renamed[i])
                swapped.push_back(i);
        for (std::size_t i : swapped)
            record[i].name.swap(renamed[i]);
    }
    ~renamed_fields()
    {
        for (std::size_t i : swapped)
            record[i].name.swap(renamed[i]);
    }

private:
    udb_record& record;
    std::vector<std::wstring>& renamed;
    std::vector<std::size_t> swapped;
};

// The type a field's text is written as: its own, except that text for a
// date column is a date of the column's kind, as in a COPY line, so that an
// instant keeps its zone whatever the session's.
VARTYPE value_type(const udb_field& f, const t_ftd& column)
{
    return f.get_vt() == VT_BSTR && column.vartype == VT_DATE ? VT_DATE : f.get_vt();
}

}  // namespace

std::vector<std::size_t> pgs_match_columns(const udb_record& record, const udb_schema& schema)
{
    std::vector<std::size_t> positions;
    positions.reserve(schema.size());
    for (const t_ftd* column : schema) {
        std::size_t found = record.size();
        for (std::size_t i = 0; i < record.size() && found == record.size(); ++i)
            if (record[i].name == column->name)
                found = i;
        for (std::size_t i = 0; i < record.size() && found == record.size(); ++i)
            if (tk_compare_no_case(record[i].name, column->name) == 0)
                found = i;
        if (found == record.size())
            structure_failure(1);
        positions.push_back(found);
    }
    return positions;
}

void pgs_append_copy_line(std::string& out, const udb_record& record, const udb_schema& schema,
                          const std::vector<std::size_t>& positions, std::vector<pgs_copy_large_value>* large)
{
    for (std::size_t c = 0; c < schema.size(); ++c) {
        if (c)
            out.push_back('\t');
        pgs_append_copy_field(out, record[positions[c]], *schema[c], large);
    }
    out.push_back('\n');
}

void pgs_recordset::append_record(udb_record& record)
{
    TK_TRACE(1, "pgs_recordset::append_record");
    TK_TRACE(1, "get_name()=%s", name);
    bool same = layout.valid && layout.schema_generation == schema.generation() &&
                layout.names.size() == record.size();
    for (std::size_t i = 0; same && i < record.size(); ++i)
        same = layout.names[i] == record[i].name;
    if (!same) {
        layout.valid = false;
        layout.names.clear();
        layout.renamed.clear();
        for (const udb_field& f : record) {
            layout.names.push_back(f.name);
            layout.renamed.push_back(db.names_map.get_fn_mapped_name(name, f.name, true));
        }
    }
    renamed_fields renamed(record, layout.renamed);
    if (!same) {
        layout.positions = pgs_match_columns(record, schema);
        layout.schema_generation = schema.generation();
        layout.valid = true;
    }
    convert_record(record);
    if (engine().bulk_copy)
        fast_append(record);
    else
        slow_append(record);
}

void pgs_recordset::fast_append(udb_record& record)
{
    TK_TRACE(1, "pgs_recordset::fast_append");
    if (!copy) {
        try {
            if (!copy_tx) {
                copy_tx =
                    std::make_unique<pqxx::transaction<pqxx::read_committed>>(engine().connection(), "fast_append");
                engine().work_opened();
            }
            copy = std::make_unique<pgs_copy_stream>(*copy_tx, pgs_engine::make_name8(name));
        } catch (const pqxx::pqxx_exception& e) {
            pgs_raise_if_lost(e.base().what());
            throw;
        }
    }
    TK_TRACE(1, "schema.size=%d, r.size=%d", schema.size(), record.size());
    std::string& out = copy->buffer();
    const std::size_t mark = out.size();
    try {
        pgs_append_copy_line(out, record, schema, layout.positions, &copy->large_values());
    } catch (...) {
        out.resize(mark);
        copy->large_values().clear();
        throw;
    }
    try {
        copy->line_done();
    } catch (const pqxx::pqxx_exception& e) {
        TK_TRACE(1, "Got pqxx::pqxx_exception");
        TK_TRACE(3, "%s", e.base().what());
        pgs_raise(e.base().what());
    }
    TK_TRACE(1, "pgs_recordset::fast_append - END");
}

void pgs_recordset::finish()
{
    if (!copy)
        return;
    try {
        copy->complete();
        copy.reset();
        copy_tx->commit();
        release_copy();
    } catch (const pqxx::pqxx_exception& e) {
        const std::string text = e.base().what();
        TK_TRACE(3, "ERROR: %s", text);
        release_copy();
        pgs_raise(text);
    }
}

void pgs_recordset::discard() noexcept
{
    if (!copy)
        return;
    TK_TRACE(2, "pgs_recordset::discard(%s)", name);
    // The pending lines are dropped unsent, and the transaction that holds
    // the COPY ends without its commit.
    release_copy();
}

std::wstring pgs_recordset::insert_sql(const udb_record& record) const
{
    if (record.size() < schema.size())
        structure_failure(1);
    TK_TRACE(1, "Size of schema is less or equal to the size of record");
    pgs_fn_validator validator(record);
    std::wstring columns, values;
    for (std::size_t i = 0; i < record.size(); ++i) {
        const udb_field& f = record[i];
        TK_TRACE(1, "Processing field '%s': type=%d, size=%d", f.name, f.get_vt(), f.size);
        std::wstring field_name = pgs_engine::case_form(f.name);
        if (!validator.is_acceptable(field_name))
            field_name = validator.get_safe_name(field_name);
        TK_TRACE(1, "Got safe-name for field#%d: '%s'", i, field_name);
        const int idx = schema.get_field_idx(field_name);
        if (idx < 0) {
            TK_TRACE(1, "Field %s not found in the schema", field_name);
            structure_failure(0);
        }
        if (i) {
            columns += L", ";
            values += L", ";
        }
        columns += pgs_engine::make_ident(field_name);
        const t_ftd& column = *schema[static_cast<std::size_t>(idx)];
        if (f.get_vt() == VT_BYTE_ARRAY && f.byte_count() == 0)
            values += to_pgs_str(f);
        else
            values += to_pgs_str(f.to_wstring(), value_type(f, column), column.reserved, pgs_sql_form);
    }
    return L"INSERT INTO " + pgs_engine::make_name(name) + L"(" + columns + L")" + L" VALUES (" + values + L")";
}

void pgs_recordset::slow_append(udb_record& record)
{
    TK_TRACE(1, "pgs_recordset::slow_append");
    const std::wstring sql = insert_sql(record);
    TK_TRACE(2, "Run SQL query: %s", sql);
    try {
        db.query(sql);
    } catch (const pqxx::pqxx_exception& e) {
        TK_TRACE(1, "Got pqxx::pqxx_exception");
        TK_TRACE(3, "%s", e.base().what());
        pgs_raise(e.base().what());
    }
}

void pgs_recordset::update(udb_record& record)
{
    TK_TRACE(1, "pgs_recordset::update(n_u_index=%d)", n_u_index);
    if (n_u_index < 0) {
        TK_TRACE(1, "There's no primary/unique key");
        return;
    }
    const udb_index& key = indexes[static_cast<std::size_t>(n_u_index)];
    pgs_fn_validator validator(record);
    std::wstring set_list, where_list;
    for (std::size_t i = 0; i < record.size(); ++i) {
        const udb_field& f = record[i];
        std::wstring field_name = pgs_engine::case_form(f.name);
        if (!validator.is_acceptable(field_name))
            field_name = validator.get_safe_name(field_name);
        TK_TRACE(1, "Got safe-name for field#%d: %s", i, field_name);
        const int idx = schema.get_field_idx(field_name);
        if (idx < 0) {
            TK_TRACE(1, "Field '%s' is not found in schema", field_name);
            continue;
        }
        const t_ftd& column = *schema[static_cast<std::size_t>(idx)];
        const std::wstring item = pgs_engine::make_ident(field_name) + L"=" +
                                  to_pgs_str(f.to_wstring(), value_type(f, column), column.reserved, pgs_sql_form);
        bool in_key = false;
        for (const std::wstring& k : key.columns)
            in_key = in_key || k == field_name;
        std::wstring& list = in_key ? where_list : set_list;
        if (!list.empty())
            list += in_key ? L" AND " : L", ";
        list += item;
        if (field_name != f.name) {
            TK_TRACE(2, "Store generated field's safe-name '%s'", field_name);
            validator.add_existing_name(field_name);
        }
    }
    const std::wstring sql = L"UPDATE " + pgs_engine::make_name(name) + L" SET " + set_list + L" WHERE " + where_list;
    TK_TRACE(2, "UPDATE QUERY: %s", sql);
    if (where_list.empty()) {
        TK_TRACE(1, "Missing primary/unique key");
        return;
    }
    try {
        db.query(sql);
    } catch (const std::exception& e) {
        pgs_raise_if_lost(e.what());
        TK_TRACE(2, "UPDATE failed: %s", e.what());
    }
}
