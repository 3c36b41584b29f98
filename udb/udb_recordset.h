// One table with its columns, its indexes and a cursor over its rows.
#pragma once

#include "t_ftd.h"
#include "udb_indexes.h"
#include "udb_record.h"
#include "udb_schema.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

class udb_recordset {
public:
    explicit udb_recordset(const std::wstring& name);
    udb_recordset(const udb_recordset&) = delete;
    udb_recordset& operator=(const udb_recordset&) = delete;
    // Never throws: a writer that must report the end of its writing does so
    // in finish().
    virtual ~udb_recordset();

    // Writes one record. The record stays the caller's; a destination may
    // convert its fields in place.
    virtual void append_record(udb_record& record) = 0;
    virtual void update(udb_record& record);
    // The current row, owned by the recordset and replaced by the next read;
    // null when there is none.
    virtual udb_record* get_item();
    virtual bool is_eof();
    bool is_query() const { return !query_text.empty(); }
    virtual void next();
    virtual void prev();
    virtual void reset();
    // Ends the writing of a destination table (for a server table: its COPY
    // and the commit) and reports a failure to do so by raising. Called once
    // the last record is appended, before the table counts as converted.
    virtual void finish();
    // Ends the writing without keeping what was written since the last
    // finish (for a server table: its COPY is rolled back). Never throws.
    virtual void discard() noexcept;

    // Appends the descriptor under a name that no column of the schema has
    // yet (ignoring case): "_", "1", "_", "2", "_", "3" and so on are
    // appended, one piece per retry, until the name is free. The schema
    // refers to the descriptor without owning it.
    void add_column(t_ftd& descriptor);
    // The same for a descriptor the recordset keeps for its own lifetime.
    t_ftd& add_owned_column(std::unique_ptr<t_ftd> descriptor);

    // Changes every field of the record in place to the type of the column
    // of its name (ignoring case). A field without a column raises the
    // level-1 "The structure of data source does not conform to the
    // destination table."; the fields before it stay converted. Conversion
    // failures of the values are level 1 as well.
    void convert_record(udb_record& record);

    // Adds the index unless its name is taken (then only a level-3 line);
    // the first primary-key or unique index added becomes n_u_index.
    void add_index(const udb_index& index);

    std::wstring query_text;  // empty for a recordset made on a table
    std::wstring name;        // the table name as the database knows it
    udb_schema schema;
    udb_indexes indexes;
    std::int64_t rec_count = 0;   // rows as far as known, shown as progress
    std::int32_t n_u_index = -1;  // position of the unique key in indexes

protected:
    // Descriptors that the table built itself and keeps for its lifetime.
    std::vector<std::unique_ptr<t_ftd>> owned_columns;

private:
    // What convert_record derived from the schema and the last record
    // layout. Rows of one table normally share their layout, so the check
    // costs one exact name comparison per field and no case folding.
    struct conversion_cache {
        std::uint64_t schema_generation = 0;
        bool columns_valid = false;
        // Folded column name to its first position in the schema.
        std::unordered_map<std::wstring, std::size_t> columns;
        std::vector<std::wstring> layout;        // field names of the last record
        std::vector<std::ptrdiff_t> positions;   // their columns, -1 for none
    };
    void prepare_conversion(const udb_record& record);

    conversion_cache cache;
};
