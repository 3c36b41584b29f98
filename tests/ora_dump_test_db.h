// A database that makes, finds and queries nothing: the owner a table of
// the reader's tests, or of the metadata harness, needs. Free of the test
// framework, so that the fuzz harnesses can use it too.
#pragma once

#include "udb_database.h"
#include "udb_indexes.h"
#include "udb_recordset.h"
#include "udb_schema.h"

#include <cstdint>
#include <memory>
#include <string>

namespace ora_dump_test {

class test_db : public udb_database {
public:
    test_db() : udb_database(L"dump", 0, false) {}
    std::unique_ptr<udb_recordset> create_table(const std::wstring&, const udb_schema&, const udb_indexes&) override
    {
        return nullptr;
    }
    std::unique_ptr<udb_recordset> get_query(const std::wstring&, const std::wstring&, std::int32_t) override
    {
        return nullptr;
    }
    std::unique_ptr<udb_recordset> get_table(const std::wstring&, std::int32_t) override { return nullptr; }
    bool test_query(const std::wstring&) override { return false; }
};

}  // namespace ora_dump_test
