#include "pgs_exception.h"
#include "pgserver_support.h"

#include <string>

namespace {

using engine_server = pgs_server_test;

TEST_F(engine_server, ConnectsToPostgresWhenNoDatabaseIsNamed)
{
    EXPECT_EQ(engine_scalar("SELECT current_database()"), "postgres");
    EXPECT_EQ(engine_scalar("SHOW standard_conforming_strings"), "on");
    EXPECT_EQ(engine_scalar("SHOW client_encoding"), "UTF8");
    EXPECT_EQ(engine->host, server.socket_dir);
    EXPECT_EQ(engine->port, server.port);
}

TEST_F(engine_server, FallsBackToTheUsersDatabaseWhenPostgresIsRefused)
{
    engine->connect(server.socket_dir, pg_test::refused_on_postgres_role, "", "", server.port);
    EXPECT_EQ(engine_scalar("SELECT current_database()"), pg_test::refused_on_postgres_role);
}

TEST_F(engine_server, NamedMissingDatabaseFailsOnceAndKeepsTheConnection)
{
    try {
        engine->connect(server.socket_dir, server.user, "", db_name, server.port);
        FAIL() << "connected to a missing database";
    } catch (const pgs_exception& e) {
        EXPECT_EQ(e.level, 0);
        EXPECT_NE(std::string(e.what()).find(db_name), std::string::npos) << e.what();
    }
    EXPECT_EQ(engine_scalar("SELECT current_database()"), "postgres");
}

TEST_F(engine_server, PasswordWithBlankAndQuoteConnects)
{
    EXPECT_THROW(engine->connect(server.socket_dir, pg_test::password_role, "", "", server.port), pgs_exception);
    engine->connect(server.socket_dir, pg_test::password_role, pg_test::password_role_password, "", server.port);
    EXPECT_EQ(engine_scalar("SELECT current_user"), pg_test::password_role);
    // Over TCP as well, where the host is an address.
    engine->connect("127.0.0.1", pg_test::password_role, pg_test::password_role_password, "", server.port);
    EXPECT_EQ(engine_scalar("SELECT current_user"), pg_test::password_role);
}

TEST_F(engine_server, DatabasesFollowKeepCase)
{
    for (bool keep : {false, true}) {
        engine->keep_case = keep;
        const std::string base = "Sales_" + std::to_string(getpid()) + (keep ? "_k" : "_l");
        const std::string server_name = keep ? base : pgs_engine::lower_ascii(base);
        dbs_to_drop.push_back(server_name);
        const std::wstring name = tk_utf8_to_unicode(base);
        EXPECT_FALSE(engine->is_db_exist(name));
        auto db = engine->create_db(name);
        EXPECT_EQ(db->open_flags, 2);
        EXPECT_EQ(engine_scalar("SELECT current_database()"), server_name);
        EXPECT_TRUE(engine->is_db_exist(name));
        if (keep) {
            EXPECT_FALSE(engine->is_db_exist(tk_utf8_to_unicode(pgs_engine::lower_ascii(base))));
        }
        db.reset();
        connect_postgres();
        engine->delete_db(name);
        EXPECT_FALSE(engine->is_db_exist(name));
        EXPECT_EQ(side_scalar("SELECT count(*) FROM pg_database WHERE datname = '" + server_name + "'", "postgres"),
                  "0");
    }
}

TEST_F(engine_server, DroppingAMissingDatabaseSucceeds)
{
    EXPECT_NO_THROW(engine->delete_db(tk_utf8_to_unicode(db_name)));
}

TEST_F(engine_server, NamesWithDotsQuotesAndApostrophes)
{
    const std::string pid = std::to_string(getpid());
    for (const std::string& name : {"my.db" + pid, "o'db" + pid, "x\"; drop database postgres; --" + pid}) {
        dbs_to_drop.push_back(name);
        std::vector<std::string> log;
        engine->set_statement_log(&log);
        const std::wstring w = tk_utf8_to_unicode(name);
        auto db = engine->create_db(w);
        EXPECT_EQ(engine_scalar("SELECT current_database()"), name);
        EXPECT_TRUE(engine->is_db_exist(w));
        db.reset();
        connect_postgres();
        db = engine->open_db(w, 40, L"");
        EXPECT_EQ(engine_scalar("SELECT current_database()"), name);
        db.reset();
        connect_postgres();
        engine->delete_db(w);
        EXPECT_FALSE(engine->is_db_exist(w));
        engine->set_statement_log(nullptr);
        int creates = 0;
        for (const std::string& s : log)
            creates += s.rfind("CREATE DATABASE ", 0) == 0;
        EXPECT_EQ(creates, 1);
    }
    EXPECT_EQ(side_scalar("SELECT count(*) FROM pg_database WHERE datname = 'postgres'", "postgres"), "1");
}

TEST_F(engine_server, NoReconnectWhileWorkIsOpen)
{
    engine->work_opened();
    EXPECT_THROW(connect_postgres(), tk_mail_assertion);
    engine->work_closed();
    EXPECT_NO_THROW(connect_postgres());
}

}  // namespace
