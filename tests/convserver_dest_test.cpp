// The main converter against the test cluster: the destination's
// preparation under each mode, and runs of a scripted source into it.

#include "velconv_convertor.h"

#include "converter_fakes.h"
#include "error_handler.h"
#include "pg_test_server.h"
#include "recording_front_end.h"
#include "test_support.h"

#include "pgs_engine.h"
#include "tk_exception.h"
#include "tk_unicode.h"
#include "udb_recordset.h"

#include <gtest/gtest.h>
#include <pqxx/pqxx>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <thread>
#include <memory>
#include <string>
#include <vector>

namespace {

using fake::at_record;
using fake::table;
using fake::table_script;
using mode = recording_front_end::mode;

class convserver : public tk_test::home_fixture {
protected:
    convserver() : server(pg_test::current_server())
    {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        base_name = pgs_engine::lower_ascii(std::string(info->name())).substr(0, 30) + "_" + std::to_string(getpid());
        connect();
    }

    ~convserver() override
    {
        for (const std::string& db : dbs) {
            try {
                side_exec("DROP DATABASE IF EXISTS " + quote_name(db) + " WITH (FORCE)", "postgres");
            } catch (const std::exception& e) {
                ADD_FAILURE() << "cannot drop " << db << ": " << e.what();
            }
        }
    }

    void connect() { conv.engine.connect(server.socket_dir, server.user, "", "", server.port); }

    // A database name of the test's own, dropped at the end.
    std::string db_name(const std::string& suffix)
    {
        dbs.push_back("cvs_" + base_name + "_" + suffix);
        return dbs.back();
    }

    static std::string quote_name(const std::string& name) { return "\"" + name + "\""; }

    void side_exec(const std::string& sql, const std::string& db)
    {
        pqxx::connection c(server.conninfo(db));
        pqxx::nontransaction tx(c);
        tx.exec(sql);
    }

    std::string side_scalar(const std::string& sql, const std::string& db)
    {
        pqxx::connection c(server.conninfo(db));
        pqxx::nontransaction tx(c);
        const pqxx::result r = tx.exec(sql);
        return r.empty() || r[0][0].is_null() ? std::string("<null>") : std::string(r[0][0].c_str());
    }

    bool db_exists(const std::string& db)
    {
        return side_scalar("SELECT count(*) FROM pg_database WHERE datname = '" + db + "'", "postgres") == "1";
    }

    std::string tables_of(const std::string& db)
    {
        return side_scalar("SELECT string_agg(table_name, ',' ORDER BY table_name) FROM information_schema.tables "
                           "WHERE table_schema = 'public'",
                           db);
    }

    // The settings of a run of the scripted dump into the database db.
    void prepare_run(const std::string& db, const std::vector<table_script>& dump, int n_mode)
    {
        conv.dest = tk_utf8_to_wide(db);
        conv.src = L"/data/x.dmp";
        conv.n_mode = n_mode;
        conv.selected_tables.clear();
        conv.opener().set_open_function([dump](ora_dump_reader&, const std::wstring&) {
            return std::unique_ptr<udb_database>(std::make_unique<fake::script_source>(dump));
        });
        fe.calls.clear();
    }

    // A run of the scripted dump into the database db.
    void run(const std::string& db, const std::vector<table_script>& dump, int n_mode)
    {
        prepare_run(db, dump, n_mode);
        conv();
        // Back to the server's own database, as main starts a run.
        connect();
    }

    // The reports printed by the last run.
    std::vector<std::string> reports() const
    {
        std::vector<std::string> out;
        for (const auto& c : fe.calls)
            if (c.name == "write_out")
                out.push_back(c.text);
        return out;
    }

    const pg_test::server_info& server;
    std::string base_name;
    std::vector<std::string> dbs;
    recording_front_end fe{mode::console};
    error_handler reporter{error_handler_code_count, error_handler_codes};
    velconv_convertor conv;
};

TEST_F(convserver, check_dest_keeps_a_database_in_mode_3_and_drops_it_in_mode_0)
{
    const std::string db = db_name("x");
    side_exec("CREATE DATABASE " + quote_name(db), "postgres");
    side_exec("CREATE TABLE keep (id int)", db);
    conv.dest = tk_utf8_to_wide(db);
    for (int m : {3, 2, 1}) {
        conv.n_mode = m;
        conv.check_dest();
        EXPECT_TRUE(db_exists(db)) << "mode " << m;
    }
    EXPECT_EQ(tables_of(db), "keep");
    conv.n_mode = 0;
    conv.check_dest();
    EXPECT_FALSE(db_exists(db));
    // Nothing to drop is no failure.
    EXPECT_NO_THROW(conv.check_dest());
}

TEST_F(convserver, get_dest_base_creates_a_missing_database_in_every_mode)
{
    for (int m = 0; m <= 3; ++m) {
        const std::string db = db_name("m" + std::to_string(m));
        ASSERT_FALSE(db_exists(db));
        conv.dest = tk_utf8_to_wide(db);
        conv.n_mode = m;
        std::unique_ptr<udb_database> dest = conv.get_dest_base();
        ASSERT_NE(dest, nullptr);
        EXPECT_TRUE(db_exists(db)) << "mode " << m;
        dest.reset();
        connect();
    }
}

TEST_F(convserver, an_existing_table_is_opened_under_flags_40_and_refused_under_36)
{
    const std::string db = db_name("t");
    side_exec("CREATE DATABASE " + quote_name(db), "postgres");
    side_exec("CREATE TABLE emp (id integer); INSERT INTO emp VALUES (7)", db);
    conv.dest = tk_utf8_to_wide(db);

    fake::script_table source(table(L"EMP", 0));
    conv.n_mode = 3;
    {
        std::unique_ptr<udb_database> dest = conv.get_dest_base();
        EXPECT_EQ(dest->open_flags, 40);
        std::unique_ptr<udb_recordset> t = dest->create_table(L"public.EMP", source.schema, udb_indexes());
        ASSERT_NE(t, nullptr);
        t->finish();
    }
    connect();
    EXPECT_EQ(side_scalar("SELECT count(*) FROM emp", db), "1");

    conv.n_mode = 0;
    {
        std::unique_ptr<udb_database> dest = conv.get_dest_base();
        EXPECT_EQ(dest->open_flags, 36);
        EXPECT_THROW(dest->create_table(L"public.EMP", source.schema, udb_indexes()), tk_exception);
    }
    connect();
    EXPECT_EQ(side_scalar("SELECT count(*) FROM emp", db), "1");
}

TEST_F(convserver, names_that_collide_land_in_their_own_tables_and_a_rerun_keeps_them)
{
    const std::string db = db_name("n");
    const std::vector<table_script> dump = {table(L"A/B", 2), table(L"A?B", 3)};
    run(db, dump, 0);
    EXPECT_TRUE(conv.is_completed());
    EXPECT_EQ(tables_of(db), "a_b,a_b00000");
    EXPECT_EQ(side_scalar("SELECT count(*) FROM a_b", db), "2");
    EXPECT_EQ(side_scalar("SELECT count(*) FROM a_b00000", db), "3");

    // Mode 1 drops and makes the same two tables again.
    run(db, dump, 1);
    EXPECT_TRUE(conv.is_completed());
    EXPECT_EQ(tables_of(db), "a_b,a_b00000");
    EXPECT_EQ(side_scalar("SELECT count(*) FROM a_b", db), "2");
    EXPECT_EQ(side_scalar("SELECT count(*) FROM a_b00000", db), "3");
}

TEST_F(convserver, a_copy_the_server_refuses_is_reported_and_the_next_table_loads)
{
    const std::string db = db_name("c");
    table_script badnn = table(L"BADNN", 3, {{2, at_record::null_value}});
    badnn.not_null = true;
    badnn.primary_key = false;
    table_script nokey = table(L"NOKEY", 2);
    nokey.primary_key = false;
    const std::vector<table_script> dump = {badnn, table(L"EMP", 3), nokey};
    run(db, dump, 0);
    EXPECT_TRUE(conv.is_completed());
    std::vector<std::string> out = reports();
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].rfind("Error:\nBADNN: ", 0), 0u) << out[0];
    EXPECT_NE(fe.calls.end(), std::find_if(fe.calls.begin(), fe.calls.end(), [](const auto& c) {
                  return c.name == "table_converted" && c.text == "EMP 3";
              }));
    EXPECT_EQ(fe.calls.end(), std::find_if(fe.calls.begin(), fe.calls.end(), [](const auto& c) {
                  return c.name == "table_converted" && c.text.rfind("BADNN", 0) == 0;
              }));
    EXPECT_EQ(side_scalar("SELECT count(*) FROM badnn", db), "0");
    EXPECT_EQ(side_scalar("SELECT count(*) FROM emp", db), "3");

    // Merging the same rows again: the key refuses EMP's COPY whole, the
    // table without a key takes them twice.
    run(db, {table(L"EMP", 3), nokey}, 3);
    EXPECT_TRUE(conv.is_completed());
    out = reports();
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].rfind("Error:\nEMP: ", 0), 0u) << out[0];
    EXPECT_NE(out[0].find("duplicate key"), std::string::npos) << out[0];
    EXPECT_EQ(side_scalar("SELECT count(*) FROM emp", db), "3");
    EXPECT_EQ(side_scalar("SELECT count(*) FROM nokey", db), "4");
}

// Runs the converter on a worker thread, as the wizard does, and asks it to
// stop once ready() says so; gives whether the run ended within the limit.
// A run that the stop did not end is freed by release() and awaited.
bool run_and_stop(velconv_convertor& conv, const std::function<bool()>& ready,
                  const std::function<void()>& release = [] {})
{
    std::thread worker([&conv] { conv(); });
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    bool asked = false;
    while (std::chrono::steady_clock::now() < limit && !conv.is_finished()) {
        if (!asked && ready()) {
            conv.request_stop();
            asked = true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    const bool finished = conv.is_finished();
    if (!finished)
        release();
    worker.join();
    return finished && asked;
}

TEST_F(convserver, a_stop_while_a_table_statement_waits_cancels_it_and_ends_the_run_quietly)
{
    const std::string db = db_name("w");
    side_exec("CREATE DATABASE " + quote_name(db), "postgres");
    side_exec("CREATE TABLE a (id int); INSERT INTO a VALUES (42)", db);
    // In mode 1 the run drops A first; this lock keeps that statement
    // waiting, and only the cancel of the stop frees the run.
    pqxx::connection locker(server.conninfo(db));
    auto lock = std::make_unique<pqxx::work>(locker);
    lock->exec("LOCK TABLE a IN ACCESS EXCLUSIVE MODE");
    prepare_run(db, {table(L"A", 3), table(L"B", 1)}, 1);
    const std::string waiting = "SELECT count(*) FROM pg_stat_activity WHERE datname = '" + db +
                                "' AND wait_event_type = 'Lock' AND query LIKE 'DROP TABLE%'";
    bool finished = false;
    {
        pqxx::connection watcher(server.conninfo("postgres"));
        finished = run_and_stop(
            conv,
            [&] {
                pqxx::nontransaction tx(watcher);
                return std::string(tx.exec(waiting)[0][0].c_str()) != "0";
            },
            [&] { lock->abort(); });
    }
    EXPECT_TRUE(finished) << "the stop did not free the waiting run";
    lock.reset();
    EXPECT_FALSE(conv.is_completed());
    EXPECT_EQ(reports(), std::vector<std::string>{});
    connect();
    EXPECT_EQ(tables_of(db), "a");
    EXPECT_EQ(side_scalar("SELECT count(*) FROM a", db), "1");
}

TEST_F(convserver, a_stop_inside_the_record_loop_commits_the_rows_copied_so_far)
{
    const std::string db = db_name("r");
    prepare_run(db, {table(L"A", 5000000), table(L"B", 1)}, 0);
    // Asked once rows are on their way: the COPY is open, and a cancel of
    // it would roll the table back.
    EXPECT_TRUE(run_and_stop(conv, [&] { return conv.cur_rec.load() > 1000; }));
    EXPECT_FALSE(conv.is_completed());
    EXPECT_EQ(reports(), std::vector<std::string>{});
    const std::uint64_t copied = conv.cur_rec.load();
    ASSERT_GT(copied, 1000u);
    ASSERT_LT(copied, 5000000u) << "the run ended before the stop";
    connect();
    EXPECT_EQ(tables_of(db), "a");
    EXPECT_EQ(side_scalar("SELECT count(*) || ' ' || min(id) || ' ' || max(id) FROM a", db),
              std::to_string(copied) + " 1 " + std::to_string(copied));
}

}  // namespace
