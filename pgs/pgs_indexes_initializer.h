// The index builder: the primary key and indexes on the new column names.
#pragma once

#include "udb_indexes.h"
#include "udb_names_map.h"
#include "udb_schema.h"
#include "pgs_validator.h"

#include <memory>
#include <string>
#include <vector>

class pgs_indexes_initializer {
public:
    // Uses the engine's index-name validator.
    pgs_indexes_initializer(const std::wstring& table_name, const udb_schema& columns,
                            const udb_indexes& source_indexes, const t_names_map& names_map);

    // Sends one statement per accepted index; a refused one is traced and
    // the next follows.
    void build_indexes();

    // In sending order: the primary key, the unique indexes, the plain ones;
    // a unique index on exactly the key's columns is left to the key.
    const udb_indexes& get_accepted() const { return accepted; }
    std::vector<std::wstring> statements() const;

private:
    // True when the first accepted primary key has exactly these columns,
    // in this order.
    bool is_key_index(const std::vector<std::wstring>& names) const;
    // The destination column of a source index column, or null.
    const t_ftd* find_column(const std::wstring& source_column) const;

    std::wstring table_name;
    udb_indexes accepted;
    const udb_schema& columns;
    const t_names_map& names_map;
};
