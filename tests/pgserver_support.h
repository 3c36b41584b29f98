// The fixture of the PostgreSQL target's server tests: a fresh engine
// connected to the test cluster, a database name of the test's own, and a
// side connection for reading back what the target did.
#pragma once

#include "pg_test_server.h"
#include "pgs_database.h"
#include "pgs_engine.h"
#include "pgs_recordset.h"
#include "pgs_source_table.h"
#include "test_support.h"
#include "tk_string.h"

#include <gtest/gtest.h>
#include <pqxx/pqxx>
#include <unistd.h>

#include <memory>
#include <string>
#include <vector>

// A record of (name, value) pairs.
inline udb_record make_record(const std::vector<std::pair<std::wstring, ole_variant>>& fields)
{
    udb_record r;
    for (const auto& [name, value] : fields)
        r.emplace_back(name, 0, value);
    return r;
}

class pgs_server_test : public tk_test::home_fixture {
protected:
    pgs_server_test() : server(pg_test::current_server())
    {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        std::string n = std::string(info->test_suite_name()) + "_" + info->name();
        n = pgs_engine::lower_ascii(n).substr(0, 40);
        db_name = "pgst_" + n + "_" + std::to_string(getpid());
        engine = std::make_unique<pgs_engine>();
        connect_postgres();
    }

    ~pgs_server_test() override
    {
        engine.reset();
        for (const std::string& db : dbs_to_drop) {
            try {
                pqxx::connection admin(server.conninfo());
                pqxx::nontransaction tx(admin);
                tx.exec("DROP DATABASE IF EXISTS " + tx.quote_name(db) + " WITH (FORCE)");
            } catch (const std::exception& e) {
                ADD_FAILURE() << "cannot drop " << db << ": " << e.what();
            }
        }
    }

    void connect_postgres() { engine->connect(server.socket_dir, server.user, "", "", server.port); }

    // A new destination database of the test's own name, through the engine.
    std::unique_ptr<pgs_database> create_dest()
    {
        dbs_to_drop.push_back(db_name);
        return engine->create_db(tk_utf8_to_unicode(db_name));
    }

    // Reads one value over a connection of its own.
    std::string side_scalar(const std::string& sql, const std::string& db = {})
    {
        pqxx::connection c(server.conninfo(db.empty() ? db_name : db));
        pqxx::nontransaction tx(c);
        const pqxx::result r = tx.exec(sql);
        if (r.empty() || r[0][0].is_null())
            return "<null>";
        return r[0][0].c_str();
    }

    void side_exec(const std::string& sql, const std::string& db = {})
    {
        pqxx::connection c(server.conninfo(db.empty() ? db_name : db));
        pqxx::nontransaction tx(c);
        tx.exec(sql);
    }

    std::string engine_scalar(const std::string& sql)
    {
        pqxx::nontransaction tx(engine->connection());
        const pqxx::result r = tx.exec(sql);
        return r.empty() || r[0][0].is_null() ? std::string("<null>") : std::string(r[0][0].c_str());
    }

    const pg_test::server_info& server;
    std::string db_name;
    std::vector<std::string> dbs_to_drop;
    std::unique_ptr<pgs_engine> engine;
};
