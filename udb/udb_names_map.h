// Source names and the names the conversion generated for them: one map per
// database for tables, and per table one map for its columns.
#pragma once

#include <cstddef>
#include <map>
#include <string>

// Source name to generated name. Keys are unique and kept in exact
// (code-point) order; adding a source name that is present keeps the first
// pair, so a name once handed out never changes.
class t_names_map {
public:
    using map_type = std::map<std::wstring, std::wstring>;
    using const_iterator = map_type::const_iterator;

    void add(const std::wstring& source_name, const std::wstring& generated_name);

    // The generated name of the first pair, in key order, whose source name
    // equals name (exactly, or ignoring letter case); name itself when none
    // does.
    std::wstring get_mapped_name(const std::wstring& name, bool exact) const;

    std::size_t size() const { return pairs.size(); }
    bool empty() const { return pairs.empty(); }
    const_iterator begin() const { return pairs.begin(); }
    const_iterator end() const { return pairs.end(); }

private:
    map_type pairs;
};

class udb_names_map {
public:
    void add_tn_mapping(const std::wstring& source_name, const std::wstring& generated_name);
    // Keeps a copy of the column map of the table; the first map of a table
    // wins.
    void add_fn_map(const std::wstring& table_name, const t_names_map& columns);

    std::wstring get_tn_mapped_name(const std::wstring& table_name, bool exact) const;
    // The table is looked up exactly; only the column follows the flag.
    std::wstring get_fn_mapped_name(const std::wstring& table_name, const std::wstring& column_name,
                                    bool exact) const;

    const t_names_map& table_names() const { return tables; }

private:
    t_names_map tables;
    std::map<std::wstring, t_names_map> columns_by_table;
};
