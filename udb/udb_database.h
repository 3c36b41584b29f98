// A source or destination database: a named set of tables, and the foreign
// keys between them.
#pragma once

#include "udb_indexes.h"
#include "udb_names_map.h"
#include "udb_recordset.h"
#include "udb_schema.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// One foreign key.
struct t_relationship {
    t_relationship() = default;
    t_relationship(std::wstring fk_name, std::wstring second_name, std::wstring fk_table, std::wstring pk_table,
                   std::vector<std::wstring> fk_fields, std::vector<std::wstring> pk_fields, std::wstring rule);

    // What tells one foreign key from another: its name, both tables and
    // both column lists, as one text.
    std::wstring identity() const
    {
        std::wstring text = fk_name + L'\x1F' + fk_table + L'\x1F' + pk_table;
        for (const auto* list : {&fk_fields, &pk_fields}) {
            text += L'\x1E';
            for (const std::wstring& f : *list)
                text += L'\x1F' + f;
        }
        return text;
    }

    std::wstring fk_name;      // the constraint name
    std::wstring second_name;  // no builder fills it and nothing reads it
    std::wstring fk_table;     // the referencing table
    std::wstring pk_table;     // the referenced table
    std::wstring rule;         // referential actions as SQL, e.g. "ON DELETE CASCADE"
    std::vector<std::wstring> fk_fields;  // referencing columns
    std::vector<std::wstring> pk_fields;  // referenced columns, position by position
};

// The open flags of a database: a bit set that the engine hands to the
// database it opens. Only keep_tables changes what the PostgreSQL target
// does; the values stay what they have always been.
namespace udb_open_flags {
// A database the engine has just created.
inline constexpr std::int32_t created = 2;
// The run replaces the whole database.
inline constexpr std::int32_t whole_database = 4;
// A table that already exists is opened unchanged instead of being created.
inline constexpr std::int32_t keep_tables = 8;
// A database that existed before the run.
inline constexpr std::int32_t existing = 32;
// An existing database when the run replaces it (36), and when it replaces,
// skips or merges into its tables (40).
inline constexpr std::int32_t existing_replaced = existing | whole_database;
inline constexpr std::int32_t existing_kept = existing | keep_tables;
static_assert(existing_replaced == 36 && existing_kept == 40);
}  // namespace udb_open_flags

class udb_database {
public:
    udb_database(const std::wstring& name, std::int32_t open_flags, bool case_sensitive);
    udb_database(const udb_database&) = delete;
    udb_database& operator=(const udb_database&) = delete;
    virtual ~udb_database();

    virtual void create_schema(const std::wstring& schema_name);
    // The recordsets that these three return belong to the caller, which
    // ends a destination table with finish() and then releases it.
    virtual std::unique_ptr<udb_recordset> create_table(const std::wstring& table_name, const udb_schema& schema,
                                                        const udb_indexes& indexes) = 0;
    virtual void create_index(const std::wstring& table_name, const udb_index& index);
    virtual void create_indexes(const std::wstring& table_name, const udb_indexes& indexes);
    // Removes the first matching name from the table list (the real table is
    // the subclass's to drop); false when none matches.
    virtual bool delete_tab(const std::wstring& table_name);
    virtual std::unique_ptr<udb_recordset> get_query(const std::wstring& name, const std::wstring& query_text,
                                                     std::int32_t open_flags) = 0;
    virtual void get_schema_info(std::vector<std::wstring>& names);
    virtual std::unique_ptr<udb_recordset> get_table(const std::wstring& table_name, std::int32_t open_flags) = 0;
    // Only databases that run SQL support it; the base raises an internal
    // error.
    virtual void query(const std::wstring& sql);
    virtual bool test_query(const std::wstring& query_text) = 0;
    virtual void create_relationships(const std::vector<t_relationship>& relationships);
    virtual std::vector<std::wstring>& get_table_names();
    // Table names are compared exactly when case_sensitive is set, and
    // ignoring case otherwise.
    virtual bool is_table_exist(const std::wstring& table_name) const;
    // The table's own name for a name that selects it: the one spelt
    // exactly so, else (unless case_sensitive) the first one that differs
    // from it only in letter case; null when none does. A selection never
    // renames a table: the run names it by what this gives.
    const std::wstring* own_table_name(const std::wstring& table_name) const;
    // True for a source that ends before its own end (a cut or unfinished
    // file): the tables it lists may be only some of those it held.
    virtual bool is_truncated() const { return false; }

    void add_relationships(const std::vector<t_relationship>& list);

    std::int32_t open_flags;
    std::wstring name;
    bool case_sensitive;
    std::vector<std::wstring> table_names;
    udb_names_map names_map;
    std::vector<t_relationship> relationships;
    // Asks the tables a source opens to keep each column's own type text.
    bool b_native_types = false;

private:
    std::vector<std::wstring>::const_iterator find_table(const std::wstring& table_name) const;
};
