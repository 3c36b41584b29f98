// velcagent stopped by SIGINT or SIGTERM in the middle of a run: it ends the
// open progress line, says on the standard error where the run stopped and
// what the destination holds, and exits with 128 and the signal's number.
// The table underway keeps none of its rows; the tables before it stay
// whole.

#include "e2e_dumps.h"
#include "e2e_support.h"

#include <csignal>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

namespace {

using e2e::e2e_test;
using e2e_dumps::big_table;
using e2e_dumps::small_table;
using namespace classic_dump;
using clock_type = std::chrono::steady_clock;
using strings = std::vector<std::string>;

// Each wait here gives up well before the test's own time limit, so that a
// failure says what did not happen instead of being killed.
constexpr std::chrono::seconds wait_limit{20};

std::string interrupted_in(const std::string& table)
{
    return "The run was interrupted: table " + table +
           " was not converted (its rows are rolled back); the tables converted before it stay.\n";
}

class E2eInterrupt : public e2e_test {
protected:
    // Whether the process has ended, leaving it to be awaited.
    static bool ended(const e2e::process& p)
    {
        siginfo_t info {};
        return ::waitid(P_PID, static_cast<id_t>(p.pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
               info.si_pid == p.pid;
    }

    // Waits until the started velcagent has written text on its standard
    // output; false, with a failure that says what was awaited, when it
    // ended first or the wait ran out.
    bool wait_for_output(const e2e::process& p, const std::string& text)
    {
        const auto limit = clock_type::now() + wait_limit;
        while (clock_type::now() < limit) {
            if (tk_test::read_file(p.out_path).find(text) != std::string::npos)
                return true;
            if (ended(p)) {
                ADD_FAILURE() << "velcagent ended before it wrote \"" << text << "\"\n--- stdout:\n"
                              << tk_test::read_file(p.out_path) << "--- stderr:\n" << tk_test::read_file(p.err_path);
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        ADD_FAILURE() << "velcagent did not write \"" << text << "\" within " << wait_limit.count()
                      << " s\n--- stdout:\n" << tk_test::read_file(p.out_path);
        return false;
    }

    // Waits until a statement of the destination matches the condition on
    // pg_stat_activity; false, with a failure naming it, when none did.
    bool wait_for_statement(const std::string& condition)
    {
        pqxx::connection admin(server.conninfo());
        const auto limit = clock_type::now() + wait_limit;
        while (clock_type::now() < limit) {
            pqxx::nontransaction tx(admin);
            if (!tx.exec("SELECT 1 FROM pg_stat_activity WHERE datname = " + quote(db) + " AND " + condition)
                     .empty())
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        ADD_FAILURE() << "no statement of " << db << " with " << condition << " within " << wait_limit.count()
                      << " s";
        return false;
    }

    // The interrupt's velcagent, stopped at once when the test gives up, so
    // that it never outlives the test.
    e2e::result end(const e2e::process& p)
    {
        ::kill(p.pid, SIGKILL);
        return e2e::wait_velcagent(p);
    }

    // DEPT and EMP as a run that nothing stopped makes them.
    std::vector<std::string> reference_snapshot()
    {
        const std::string ref = write_dump("ref.dmp", whole_dump({e2e_dumps::dept(), e2e_dumps::emp()}));
        const e2e::result r = run_into(ref, db + "_2");
        EXPECT_EQ(r.status, 0) << e2e::describe(r);
        return snapshot(db + "_2");
    }
};

// Mode 0 over an existing database: by the time PAYLOAD is copied the old
// database is gone, and the message says so.
TEST_F(E2eInterrupt, sigint_during_a_copy_in_mode_0_rolls_the_table_back_and_says_the_database_was_replaced)
{
    create_db(db);
    exec("CREATE TABLE old_only (id int)");
    // PAYLOAD's COPY runs long after its progress line has shown, even on a
    // quiet machine; the run takes the tables in the order of their names.
    const std::string src =
        write_dump("big.dmp",
                   whole_dump({e2e_dumps::dept(), e2e_dumps::emp(), big_table("PAYLOAD", false), small_table("TAIL")}));
    const e2e::process p = e2e::start_velcagent(args(src, {"--mode=0"}), work.path());
    if (!wait_for_output(p, "Converting table PAYLOAD")) {
        end(p);
        return;
    }
    ASSERT_EQ(::kill(p.pid, SIGINT), 0);
    const e2e::result r = e2e::wait_velcagent(p);

    ASSERT_EQ(r.status, 130) << e2e::describe(r);
    EXPECT_EQ(r.err, interrupted_in("PAYLOAD") + "The database '" + db +
                         "' was replaced: it holds only the tables converted before the interrupt.\n")
        << e2e::describe(r);
    // The table's line is ended, and nothing follows it.
    const std::string tail = "Converting table PAYLOAD\n";
    ASSERT_GE(r.out.size(), tail.size()) << e2e::describe(r);
    EXPECT_EQ(r.out.substr(r.out.size() - tail.size()), tail) << e2e::describe(r);
    EXPECT_NE(r.out.find("Converting table EMP (14 records)\n"), std::string::npos) << e2e::describe(r);

    const strings made = tables();
    EXPECT_TRUE(made == (strings{"dept", "emp", "payload"}) || made == (strings{"dept", "emp"}))
        << ::testing::PrintToString(made);
    if (made.size() == 3) {
        EXPECT_EQ(count("payload"), "0");
        exec("DROP TABLE payload");
    }
    EXPECT_EQ(snapshot(db), reference_snapshot());
}

// SIGTERM while the COPY waits for a lock that another session holds: the
// waiting statement is cancelled, and the rows the table had before the run
// are all it has.
TEST_F(E2eInterrupt, sigterm_while_the_copy_waits_cancels_it_and_exits_143)
{
    create_db(db);
    exec("CREATE TABLE payload (id integer, name varchar(200)); "
         "INSERT INTO payload VALUES (0, 'before the run')");
    const std::string src =
        write_dump("big.dmp", whole_dump({small_table("FIRST"), big_table("PAYLOAD", false), small_table("TAIL")}));
    pqxx::connection locker(server.conninfo(db));
    pqxx::work lock(locker);
    lock.exec("LOCK TABLE payload IN SHARE MODE");
    const e2e::process p = e2e::start_velcagent(args(src, {"--mode=3"}), work.path());
    if (!wait_for_output(p, "Converting table PAYLOAD") ||
        !wait_for_statement("wait_event_type = 'Lock' AND query LIKE 'COPY%'")) {
        end(p);
        return;
    }
    ASSERT_EQ(::kill(p.pid, SIGTERM), 0);
    const e2e::result r = e2e::wait_velcagent(p);
    lock.abort();

    ASSERT_EQ(r.status, 143) << e2e::describe(r);
    EXPECT_EQ(r.err, interrupted_in("PAYLOAD")) << e2e::describe(r);
    EXPECT_NE(r.out.find("Converting table FIRST (3 records)\nCreating schema if necessary: 'public'\n"
                         "Converting table PAYLOAD\n"),
              std::string::npos)
        << e2e::describe(r);
    EXPECT_EQ(r.out.find("TAIL"), std::string::npos) << e2e::describe(r);
    EXPECT_EQ(rows("SELECT id || ':' || name FROM payload"), strings{"0:before the run"});
    EXPECT_EQ(rows("SELECT id || ':' || name FROM first ORDER BY id"), (strings{"1:one", "2:two", "3:three"}));
    EXPECT_EQ(tables(), (strings{"first", "payload"}));
}

// Once a table's rows are committed, an interrupt while its keys are built
// cancels the key's statement; the rows stay, and the message says the keys
// are missing. The key statement is held by an event trigger that sleeps.
TEST_F(E2eInterrupt, sigint_while_a_key_is_built_keeps_the_rows_and_says_the_keys_are_missing)
{
    table keyed = small_table("KEYED");
    keyed.primary_key = {"ID"};
    const std::string src = write_dump("keyed.dmp", whole_dump({keyed, small_table("LATER")}));
    create_db(db);
    exec("CREATE FUNCTION hold() RETURNS event_trigger LANGUAGE plpgsql AS $$ BEGIN PERFORM pg_sleep(60); END $$; "
         "CREATE EVENT TRIGGER hold_keys ON ddl_command_start WHEN TAG IN ('ALTER TABLE', 'CREATE INDEX') "
         "EXECUTE FUNCTION hold()");
    const e2e::process p = e2e::start_velcagent(args(src, {"--mode=1"}), work.path());
    if (!wait_for_output(p, "Converting table KEYED (3 records)\n") ||
        !wait_for_statement("wait_event = 'PgSleep' AND query LIKE 'ALTER TABLE%'")) {
        end(p);
        return;
    }
    ASSERT_EQ(::kill(p.pid, SIGINT), 0);
    const e2e::result r = e2e::wait_velcagent(p);

    ASSERT_EQ(r.status, 130) << e2e::describe(r);
    EXPECT_EQ(r.err, "The run was interrupted: table KEYED was converted, without all of its keys and indexes; "
                     "the tables converted before it stay.\n")
        << e2e::describe(r);
    EXPECT_EQ(r.out.find("LATER"), std::string::npos) << e2e::describe(r);
    EXPECT_EQ(count("keyed"), "3");
    EXPECT_EQ(query("SELECT count(*) FROM pg_index WHERE indrelid = 'public.keyed'::regclass"), "0");
    EXPECT_EQ(tables(), strings{"keyed"});
}

}  // namespace
