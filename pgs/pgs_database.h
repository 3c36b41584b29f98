// The destination database: its table list, schemas, tables with their keys
// and indexes, and the recordsets that load and read them. It holds no
// connection of its own: every statement runs on the engine's.
#pragma once

#include "pgs_indexes_initializer.h"
#include "udb_database.h"

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

class pgs_recordset;

// The PostgreSQL rules for table names. Table names are compared exactly.
class pgs_base_db : public udb_database {
public:
    pgs_base_db(const std::wstring& name, std::int32_t open_flags);
    ~pgs_base_db() override;

    bool is_table_exist(const std::wstring& table_name) const override;

    // public."emp" for emp; the quoted name for a qualified one.
    static std::wstring get_safe_name(const std::wstring& table_name);
    // public.emp for emp; a qualified name unchanged.
    static std::wstring get_full_name(const std::wstring& table_name);
    static std::wstring make_safe_tname(const std::wstring& table_name, const std::wstring& schema_name);
    void add_full_name1(const std::wstring& table_name);
};

class pgs_database : public pgs_base_db {
public:
    // Reads the table list of the database the engine is connected to.
    pgs_database(const std::wstring& name, const std::wstring& default_schema, std::int32_t open_flags);
    ~pgs_database() override;

    void create_schema(const std::wstring& schema_name) override;
    // Open flag 8 opens an existing table unchanged; without it an existing
    // table is a level-0 failure and nothing is sent. A table it creates
    // gets its keys and indexes from build_next_index, after its rows.
    std::unique_ptr<udb_recordset> create_table(const std::wstring& table_name, const udb_schema& schema,
                                                const udb_indexes& indexes) override;
    bool build_next_index(const std::wstring& table_name) override;
    // Drops the table whether or not it is listed; true when it was. Keys
    // and indexes still waiting for it are forgotten.
    bool delete_tab(const std::wstring& table_name) override;
    std::unique_ptr<udb_recordset> get_query(const std::wstring& name, const std::wstring& query_text,
                                             std::int32_t open_flags) override;
    void get_schema_info(std::vector<std::wstring>& names) override;
    std::unique_ptr<udb_recordset> get_table(const std::wstring& table_name, std::int32_t open_flags) override;
    // Raises the library's own exception on failure.
    void query(const std::wstring& sql) override;
    bool test_query(const std::wstring& query_text) override;
    void create_relationships(const std::vector<t_relationship>& relationships) override;

    std::pair<std::wstring, std::wstring> split_name(const std::wstring& table_name) const;
    // The same without a database: a bare name gets default_schema, or
    // "public" when that is empty.
    static std::pair<std::wstring, std::wstring> split_name(const std::wstring& table_name,
                                                            const std::wstring& default_schema);
    void add_full_name2(const std::wstring& schema_name, const std::wstring& table_name);

    // The texts sent; pure, for the tests.
    static std::string table_list_sql(const std::string& quoted_schema);
    static std::wstring foreign_key_sql(const t_relationship& relationship, const udb_names_map& names);

    std::wstring default_schema;

private:
    // By the table name that create_table received, in sending order.
    std::map<std::wstring, std::deque<pgs_index_statement>> pending_indexes;
};
