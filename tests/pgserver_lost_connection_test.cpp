// A connection whose backend was ended from another session: every call on
// it fails at once as a lost connection (level 1) with the server's text,
// the library never connects again by itself, and a refused statement on a
// live connection stays a level-0 failure.
#include "pgs_exception.h"
#include "pgserver_support.h"
#include "tk_unicode.h"

#include <functional>
#include <string>
#include <vector>

// libpqxx 6.4 loses libpq's result of a BEGIN that finds the connection
// gone (inside its transaction constructor, before any of our code holds
// it); the connection is dead and the run ends there, so that one result is
// all it costs. Only that library path is passed over.
// The library has no frame pointers, so the full unwinding is needed for the
// suppression to see the library's function names.
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:pqxx::dbtransaction::do_begin\n";
}

extern "C" const char* __asan_default_options()
{
    return "fast_unwind_on_malloc=0";
}

namespace {

using lost_server = pgs_server_test;

// Ends the engine's backend from a connection of its own.
void terminate_backend(const pg_test::server_info& server, int pid)
{
    pqxx::connection admin(server.conninfo());
    pqxx::nontransaction tx(admin);
    tx.exec("SELECT pg_terminate_backend(" + std::to_string(pid) + ")");
}

int backend_of(pgs_engine& engine)
{
    return engine.connection().backendpid();
}

// The failure of f as its type and level; "none" when it passes.
std::string failure_of(const std::function<void()>& f, std::string* text = nullptr)
{
    try {
        f();
    } catch (const pgs_connection_lost& e) {
        if (text)
            *text = e.message;
        return "lost " + std::to_string(e.level);
    } catch (const tk_exception& e) {
        if (text)
            *text = e.message;
        return "failure " + std::to_string(e.level);
    } catch (const std::exception& e) {
        return std::string("foreign: ") + e.what();
    }
    return "none";
}

source_table two_columns()
{
    source_table t;
    t.add(L"ID", VT_I4);
    t.add(L"NAME", VT_BSTR, 20);
    return t;
}

TEST_F(lost_server, an_idle_connection_ended_by_the_server_is_lost_for_every_later_call)
{
    auto db = create_dest();
    const source_table t = two_columns();
    terminate_backend(server, backend_of(*engine));

    std::string text;
    EXPECT_EQ(failure_of([&] { db->create_table(L"public.T", t.schema, t.indexes); }, &text), "lost 1");
    // libpq's text: the server's last message when it was read in time, and
    // what libpq saw of the closed socket.
    EXPECT_TRUE(text.find("terminating connection due to administrator command") != std::string::npos ||
                text.find("server closed the connection unexpectedly") != std::string::npos)
        << text;
    EXPECT_TRUE(engine->is_connection_lost());
    // No quiet reconnection: each later call says so at once, also the ones
    // whose failures are otherwise passed over.
    const std::vector<std::pair<const char*, std::function<void()>>> calls = {
        {"create_schema", [&] { db->create_schema(L"other"); }},
        {"delete_tab", [&] { db->delete_tab(L"public.T"); }},
        {"test_query", [&] { db->test_query(L"SELECT 1"); }},
        {"is_db_exist", [&] { engine->is_db_exist(L"postgres"); }},
        {"delete_db", [&] { engine->delete_db(L"nothing_here"); }},
    };
    for (const auto& [name, call] : calls) {
        SCOPED_TRACE(name);
        EXPECT_EQ(failure_of(call), "lost 1");
    }
    EXPECT_EQ(side_scalar("SELECT count(*) FROM pg_tables WHERE tablename = 't'"), "0");

    // A new connection is a live one again.
    connect_postgres();
    EXPECT_FALSE(engine->is_connection_lost());
    EXPECT_EQ(failure_of([&] { engine->is_db_exist(L"postgres"); }), "none");
}

TEST_F(lost_server, a_copy_whose_backend_ends_fails_as_lost_at_the_write_that_finds_it)
{
    auto db = create_dest();
    const source_table t = two_columns();
    auto rs = db->create_table(L"public.T", t.schema, t.indexes);
    udb_record r = make_record({{L"ID", ole_variant(1)}, {L"NAME", ole_variant(L"a name of some length")}});
    rs->append_record(r);
    terminate_backend(server, backend_of(*engine));

    // The rows go in pieces: the write of a later piece finds the loss.
    std::string text;
    std::string outcome = "none";
    int written = 0;
    for (; written < 1000000 && outcome == "none"; ++written)
        outcome = failure_of([&] { rs->append_record(r); }, &text);
    EXPECT_EQ(outcome, "lost 1");
    EXPECT_NE(text.find("server closed the connection unexpectedly"), std::string::npos) << text;
    EXPECT_EQ(failure_of([&] { rs->finish(); }), "lost 1");
    rs.reset();
    EXPECT_EQ(side_scalar("SELECT count(*) FROM t"), "0");
}

TEST_F(lost_server, a_refused_statement_on_a_live_connection_stays_level_0)
{
    auto db = create_dest();
    connect_postgres();
    std::string text;
    EXPECT_EQ(failure_of([&] { engine->create_db(tk_utf8_to_unicode(db_name)); }, &text), "failure 0");
    EXPECT_NE(text.find("already exists"), std::string::npos) << text;
    EXPECT_FALSE(engine->is_connection_lost());
    EXPECT_EQ(failure_of([&] { engine->is_db_exist(L"postgres"); }), "none");
}

}  // namespace
