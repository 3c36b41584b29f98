#include "udb_recordset.h"

#include "tk_exception.h"
#include "tk_logger.h"
#include "tk_string.h"

#include <utility>

udb_recordset::udb_recordset(const std::wstring& name) : name(name) {}

udb_recordset::~udb_recordset() = default;

void udb_recordset::update(udb_record&)
{
    TK_TRACE(1, "udb_recordset::update");
}

udb_record* udb_recordset::get_item()
{
    return nullptr;
}

bool udb_recordset::is_eof()
{
    return true;
}

void udb_recordset::next() {}

void udb_recordset::prev() {}

void udb_recordset::reset() {}

void udb_recordset::finish() {}

void udb_recordset::discard() noexcept {}

void udb_recordset::add_column(t_ftd& descriptor)
{
    TK_TRACE(1, "udb_recordset::add_column (%s)", descriptor.name);
    static const wchar_t* const pieces[] = {L"_", L"1", L"_", L"2", L"_", L"3"};
    std::wstring candidate = descriptor.name;
    for (std::size_t retry = 0; schema.find_field(candidate); ++retry)
        candidate += pieces[retry % std::size(pieces)];
    descriptor.name = std::move(candidate);
    schema.push_back(&descriptor);
}

t_ftd& udb_recordset::add_owned_column(std::unique_ptr<t_ftd> descriptor)
{
    t_ftd& kept = *descriptor;
    owned_columns.push_back(std::move(descriptor));
    add_column(kept);
    return kept;
}

void udb_recordset::prepare_conversion(const udb_record& record)
{
    if (!cache.columns_valid || cache.schema_generation != schema.generation()) {
        cache.columns.clear();
        for (std::size_t i = 0; i < schema.size(); ++i)
            cache.columns.emplace(tk_fold_case(schema[i]->name), i);  // the first of a name wins
        cache.schema_generation = schema.generation();
        cache.columns_valid = true;
        cache.layout.clear();
        cache.positions.clear();
    } else if (cache.layout.size() == record.size()) {
        bool same = true;
        for (std::size_t i = 0; same && i < record.size(); ++i)
            same = cache.layout[i] == record[i].name;
        if (same)
            return;
    }
    cache.layout.clear();
    cache.positions.clear();
    cache.layout.reserve(record.size());
    cache.positions.reserve(record.size());
    for (const auto& field : record) {
        const auto found = cache.columns.find(tk_fold_case(field.name));
        cache.layout.push_back(field.name);
        cache.positions.push_back(found == cache.columns.end() ? -1 : static_cast<std::ptrdiff_t>(found->second));
    }
}

void udb_recordset::convert_record(udb_record& record)
{
    TK_TRACE(1, "udb_recordset::convert_record");
    if (record.empty())
        return;
    prepare_conversion(record);
    for (std::size_t i = 0; i < record.size(); ++i) {
        const std::ptrdiff_t position = cache.positions[i];
        if (position < 0)
            throw tk_exception(std::string("The structure of data source does not conform to the destination table."),
                               1);
        udb_field& field = record[i];
        const t_ftd& column = *schema[static_cast<std::size_t>(position)];
        TK_TRACE(1, "from=%s, to=%s", field.name, column.name);
        field.change_type(column.vartype);
    }
}

void udb_recordset::add_index(const udb_index& index)
{
    TK_TRACE(2, "udb_recordset::add_index(%s)", index.name);
    if (!indexes.is_acceptable_name(index.name)) {
        TK_TRACE(3, "Index '%s' cannot be processed", index.name);
        return;
    }
    if (n_u_index == -1 && (index.b_primary || index.b_unique)) {
        TK_TRACE(2, "Store primary/unique key");
        n_u_index = static_cast<std::int32_t>(indexes.size());
    }
    indexes.push_back(index);
}
