// The index builder: the primary key and indexes on the new column names.
#pragma once

#include "udb_indexes.h"
#include "udb_names_map.h"
#include "udb_schema.h"
#include "pgs_validator.h"

#include <memory>
#include <string>
#include <vector>

// An accepted key or index, ready to be sent once the table's rows are in.
struct pgs_index_statement {
    std::wstring name;  // the source's name of the key or index
    bool primary = false;
    std::string sql;  // UTF-8
};

class pgs_indexes_initializer {
public:
    // Uses the engine's index-name validator.
    pgs_indexes_initializer(const std::wstring& table_name, const udb_schema& columns,
                            const udb_indexes& source_indexes, const t_names_map& names_map);

    // The accepted keys and indexes as statements, in sending order; they
    // outlive the builder.
    std::vector<pgs_index_statement> pending() const;
    // Sends one. A refusal raises pgs_exception that names the key or index
    // and holds the server's text; a lost connection raises
    // pgs_connection_lost.
    static void send(const pgs_index_statement& statement);

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
    // The source's name of each accepted index, in the same order.
    std::vector<std::wstring> source_names;
    const udb_schema& columns;
    const t_names_map& names_map;
};
