// The table builder: columns, CREATE TABLE and the serial sequence.
#pragma once

#include "udb_indexes.h"
#include "udb_names_map.h"
#include "udb_schema.h"
#include "pgs_validator.h"

#include <memory>
#include <string>
#include <vector>

class pgs_schema_initializer {
public:
    pgs_schema_initializer(const std::wstring& table_name, const udb_schema& source_columns,
                           const udb_indexes& source_indexes);

    // Creates the table: pgs_exception "Cannot create table: ..." when the
    // server refuses it; a column type without PostgreSQL type raises
    // before anything is sent.
    void build_schema();

    std::wstring create_table_sql() const;
    // Empty when the sequence keeps its defaults.
    std::wstring sequence_sql() const;

    const udb_schema& get_columns() const { return columns; }
    const t_names_map& get_names_map() const { return validator.get_mapped_pairs(); }
    const std::wstring& get_serial_name() const { return serial_name; }

private:
    std::wstring table_name;
    udb_schema columns;
    std::vector<std::unique_ptr<t_ftd>> owned;
    std::wstring serial_name;
    pgs_fn_validator validator;
    std::int32_t seed;
    std::int32_t increment;
};
