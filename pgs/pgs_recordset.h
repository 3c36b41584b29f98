// A destination table: loads rows by one COPY (or one INSERT a row), and
// reads an existing table's columns, keys, indexes, row count and rows from
// the catalogue.
#pragma once

#include "pgs_copy_stream.h"
#include "udb_database.h"
#include "udb_recordset.h"

#include <pqxx/pqxx>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class pgs_database;

// A column read from the catalogue, with its catalogue type name.
class pgs_t_ftd : public t_ftd {
public:
    pgs_t_ftd(std::uint32_t size, const std::wstring& name, VARTYPE vartype, bool b_not_null,
              const std::string& orig_type, bool b_autoincrement, const ole_variant& default_value,
              std::uint32_t reserved);
    std::string orig_type;
};

// For each column of the schema, the record field that fills it: the field
// of exactly its name, else the first of its name ignoring case. A column
// without a field raises the level-1 structure failure.
std::vector<std::size_t> pgs_match_columns(const udb_record& record, const udb_schema& schema);
// Appends the COPY line of a converted record, its fields in the schema's
// order, with its line feed.
// With large given, large values only take their places there (see
// pgs_append_copy_field).
void pgs_append_copy_line(std::string& out, const udb_record& record, const udb_schema& schema,
                          const std::vector<std::size_t>& positions,
                          std::vector<pgs_copy_large_value>* large = nullptr);

class pgs_recordset : public udb_recordset {
public:
    // An existing table: reads its catalogue.
    pgs_recordset(pgs_database& db, const std::wstring& name, std::vector<t_relationship>& relationships,
                  std::int32_t open_flags);
    // A query: reads nothing, and the text is not kept.
    pgs_recordset(pgs_database& db, const std::wstring& name, const std::wstring& query_text,
                  std::vector<t_relationship>& relationships, std::int32_t open_flags);
    // Completes and commits a COPY that finish() did not end; never throws.
    ~pgs_recordset() override;

    void append_record(udb_record& record) override;
    void update(udb_record& record) override;
    // Ends the COPY and commits; a refused COPY loses its rows and raises
    // pgs_exception with the server's text. Without a COPY, nothing.
    void finish() override;
    // Ends a COPY that finish() did not end and rolls its rows back.
    void discard() noexcept override;

    udb_record* get_item() override;
    bool is_eof() override;
    void next() override;
    void reset() override;

    // The catalogue queries, from quoted literals of S and T.
    static std::string table_sql(const std::string& s_literal, const std::string& t_literal);
    static std::string pk_sql(const std::string& t_literal);
    static std::string pk_detailed_sql(const std::string& t_literal);
    static std::string indices_sql(const std::string& t_literal);
    static std::string fk_sql(const std::string& t_literal);
    // A count text as a row count, clamped to its range.
    static std::int64_t parse_count(const char* text);
    static std::wstring get_delete_rule(char c);
    static std::wstring get_update_rule(char c);
    static void get_numbers_from_string(const std::string& text, std::vector<std::wstring>& out,
                                        const udb_schema& schema);
    std::wstring get_select_fields() const;
    // The INSERT of a converted record.
    std::wstring insert_sql(const udb_record& record) const;

    std::wstring schema_name;
    std::wstring table_name;
    std::int32_t open_flags;

private:
    void init_schema();
    void init_indexes();
    std::int64_t get_rec_count();
    void fast_append(udb_record& record);
    void slow_append(udb_record& record);
    void release_copy() noexcept;
    void release_cursor() noexcept;
    void fetch_block();

    std::vector<t_relationship>& relationships;
    bool end_flag = false;
    pgs_database& db;
    std::size_t position = 0;
    std::unique_ptr<udb_record> current;
    pqxx::result block;
    std::unique_ptr<pqxx::transaction<pqxx::read_committed>> copy_tx;
    std::unique_ptr<pgs_copy_stream> copy;
    std::unique_ptr<pqxx::transaction<pqxx::read_committed>> cursor_tx;
    std::unique_ptr<pqxx::icursorstream> cursor;

    // What the field layout of the last record gave: its names, their
    // renamed forms, and the field of each column.
    struct layout_cache {
        bool valid = false;
        std::uint64_t schema_generation = 0;
        std::vector<std::wstring> names;
        std::vector<std::wstring> renamed;
        std::vector<std::size_t> positions;
    } layout;
};
