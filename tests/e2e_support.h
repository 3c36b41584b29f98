// velcagent as a process: the runner that captures its status and output,
// and the fixture of the end-to-end tests, with a database name of the
// test's own on the test cluster and SQL checks over a side connection.
#pragma once

#include "classic_dump_builder.h"
#include "pg_test_server.h"
#include "test_support.h"

#include <gtest/gtest.h>
#include <pqxx/pqxx>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace e2e {

struct result {
    int status = -1;         // the exit status, or -1 when the process did not exit
    pid_t pid = -1;          // the process's id, which names what it made (its check databases)
    bool timed_out = false;  // killed at the deadline
    std::string out;
    std::string err;
};

// A program started in the background; its standard streams go to files in
// the folder given at the start.
struct process {
    pid_t pid = -1;
    std::string name;
    std::string out_path;
    std::string err_path;
};

// Where a started program's standard error goes.
enum class error_stream {
    own_file,     // a file of its own
    with_output,  // the standard output's file, as one pipe or terminal takes both
};

// Starts the program (argv[0], a path) with the arguments. With the
// standard error on the standard output, out holds both, in the order
// written, and err stays empty.
inline process start_process(std::vector<std::string> strings, const std::string& dir,
                             error_stream errors = error_stream::own_file)
{
    process p;
    p.name = strings.at(0);
    p.out_path = dir + "/velcagent.out";
    p.err_path = dir + "/velcagent.err";
    tk_test::write_file(p.err_path, "");
    std::vector<char*> argv;
    for (std::string& s : strings)
        argv.push_back(s.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, p.out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (errors == error_stream::with_output)
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
    else
        posix_spawn_file_actions_addopen(&actions, 2, p.err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int rc = posix_spawn(&p.pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0)
        throw std::runtime_error(p.name + " could not be started");
    return p;
}

// Waits for a started program's end and reads its streams back. A process
// still running at the deadline is killed, and what it wrote so far is read
// back all the same.
inline result wait_process(const process& p, std::chrono::milliseconds deadline)
{
    result r;
    const auto end = std::chrono::steady_clock::now() + deadline;
    auto pause = std::chrono::microseconds(200);
    int wstatus = 0;
    for (;;) {
        const pid_t done = waitpid(p.pid, &wstatus, WNOHANG);
        if (done == p.pid)
            break;
        if (done < 0 && errno != EINTR)
            throw std::runtime_error("cannot wait for " + p.name);
        if (std::chrono::steady_clock::now() >= end) {
            kill(p.pid, SIGKILL);
            while (waitpid(p.pid, &wstatus, 0) < 0 && errno == EINTR) {
            }
            r.timed_out = true;
            break;
        }
        std::this_thread::sleep_for(pause);
        pause = std::min(pause * 2, std::chrono::microseconds(20000));
    }
    r.pid = p.pid;
    r.status = !r.timed_out && WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1;
    r.out = tk_test::read_file(p.out_path);
    r.err = tk_test::read_file(p.err_path);
    return r;
}

// Runs the program with the arguments: started, then awaited until the
// deadline.
inline result run_process(std::vector<std::string> strings, const std::string& dir,
                          std::chrono::milliseconds deadline)
{
    return wait_process(start_process(std::move(strings), dir), deadline);
}

inline std::string describe(const result& r)
{
    return "status " + std::to_string(r.status) + (r.timed_out ? " (killed at the deadline)" : "") +
           "\n--- stdout:\n" + r.out + "--- stderr:\n" + r.err;
}

// A conversion of the test dumps takes well under a second; a velcagent
// still running after this long hangs, and the test fails with its output
// instead of waiting for the test timeout.
constexpr std::chrono::seconds velcagent_deadline{30};

// Starts velcagent with the arguments in the background.
inline process start_velcagent(const std::vector<std::string>& args, const std::string& dir,
                               error_stream errors = error_stream::own_file)
{
    std::vector<std::string> strings = {VELCAGENT_PATH};
    strings.insert(strings.end(), args.begin(), args.end());
    return start_process(std::move(strings), dir, errors);
}

// Waits for a started velcagent, as wait_process does, until its deadline.
inline result wait_velcagent(const process& p)
{
    result r = wait_process(p, velcagent_deadline);
    if (r.timed_out)
        ADD_FAILURE() << "velcagent did not end within " << velcagent_deadline.count() << " s:\n" << describe(r);
    return r;
}

// Runs velcagent with the arguments, as run_process does.
inline result run_velcagent(const std::vector<std::string>& args, const std::string& dir)
{
    return wait_velcagent(start_velcagent(args, dir));
}

// HOME and the configuration folder point into a temporary folder (the
// child inherits them), and each test has a database name of its own.
class e2e_test : public tk_test::home_fixture {
protected:
    e2e_test() : server(pg_test::current_server())
    {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        std::string n = std::string(info->test_suite_name()) + "_" + info->name();
        for (char& c : n)
            c = std::isalnum(static_cast<unsigned char>(c)) ? static_cast<char>(std::tolower(c)) : '_';
        db = "e2e_" + n.substr(0, 40) + "_" + std::to_string(getpid());
    }

    ~e2e_test() override
    {
        for (const std::string& name : {db, db + "_2"}) {
            try {
                pqxx::connection admin(server.conninfo());
                pqxx::nontransaction tx(admin);
                tx.exec("DROP DATABASE IF EXISTS " + tx.quote_name(name) + " WITH (FORCE)");
            } catch (const std::exception& e) {
                ADD_FAILURE() << "cannot drop " << name << ": " << e.what();
            }
        }
    }

    // The test cluster's connection options.
    std::vector<std::string> connection() const
    {
        return {"--host=" + server.socket_dir, "--port=" + std::to_string(server.port), "--user=" + server.user};
    }

    // --src, --dest and the connection, then the further arguments.
    std::vector<std::string> args(const std::string& src, std::vector<std::string> more = {}) const
    {
        std::vector<std::string> a = {"--src=" + src, "--dest=" + db};
        for (const std::string& c : connection())
            a.push_back(c);
        a.insert(a.end(), more.begin(), more.end());
        return a;
    }

    result run(const std::vector<std::string>& a) { return run_velcagent(a, work.path()); }

    std::string write_dump(const std::string& name, const classic_dump::bytes& data)
    {
        const std::string path = work.file(name);
        tk_test::write_file(path, std::string(data.begin(), data.end()));
        return path;
    }

    // A table-list file of the names, one a line.
    std::string table_list(const std::vector<std::string>& names)
    {
        std::string text;
        for (const std::string& n : names)
            text += n + "\n";
        const std::string path = work.file("tables.txt");
        tk_test::write_file(path, text);
        return path;
    }

    bool db_exists(const std::string& name)
    {
        return query("SELECT count(*) FROM pg_database WHERE datname = " + quote(name), "postgres") == "1";
    }

    // The first value of the first row as text, "<null>" for NULL, "<none>"
    // without rows.
    std::string query(const std::string& sql, const std::string& database = {})
    {
        pqxx::connection c(server.conninfo(database.empty() ? db : database));
        pqxx::nontransaction tx(c);
        const pqxx::result r = tx.exec(sql);
        if (r.empty())
            return "<none>";
        return r[0][0].is_null() ? std::string("<null>") : std::string(r[0][0].c_str());
    }

    // Every row, its values joined by "|", NULL as "<null>".
    std::vector<std::string> rows(const std::string& sql, const std::string& database = {})
    {
        pqxx::connection c(server.conninfo(database.empty() ? db : database));
        pqxx::nontransaction tx(c);
        std::vector<std::string> out;
        for (const auto& row : tx.exec(sql)) {
            std::string line;
            for (std::size_t i = 0; i < row.size(); ++i) {
                if (i)
                    line += "|";
                line += row[static_cast<int>(i)].is_null() ? std::string("<null>") : std::string(row[static_cast<int>(i)].c_str());
            }
            out.push_back(line);
        }
        return out;
    }

    void exec(const std::string& sql, const std::string& database = {})
    {
        pqxx::connection c(server.conninfo(database.empty() ? db : database));
        pqxx::nontransaction tx(c);
        tx.exec(sql);
    }

    void create_db(const std::string& name)
    {
        exec("CREATE DATABASE " + quote_ident(name), "postgres");
    }

    static std::string quote(const std::string& s)
    {
        std::string q = "'";
        for (char c : s) {
            if (c == '\'')
                q += '\'';
            q += c;
        }
        return q + "'";
    }
    static std::string quote_ident(const std::string& s)
    {
        std::string q = "\"";
        for (char c : s) {
            if (c == '"')
                q += '"';
            q += c;
        }
        return q + "\"";
    }

    // The tables of the public schema, sorted.
    std::vector<std::string> tables(const std::string& database = {})
    {
        return rows("SELECT table_name FROM information_schema.tables WHERE table_schema = 'public' "
                    "ORDER BY table_name",
                    database);
    }

    // The schemas besides public and the system's own, sorted.
    std::vector<std::string> schemas(const std::string& database = {})
    {
        return rows("SELECT nspname FROM pg_namespace WHERE nspname NOT LIKE 'pg\\_%' AND "
                    "nspname NOT IN ('public', 'information_schema') ORDER BY nspname",
                    database);
    }

    // Every table outside the system's schemas as "schema|table", sorted.
    std::vector<std::string> every_table(const std::string& database = {})
    {
        return rows("SELECT schemaname || '|' || tablename FROM pg_tables "
                    "WHERE schemaname NOT IN ('pg_catalog', 'information_schema') ORDER BY 1",
                    database);
    }

    // Columns of a public table as "name|data_type|max_length|precision|scale|nullable".
    std::vector<std::string> columns(const std::string& table, const std::string& database = {})
    {
        return rows("SELECT column_name, data_type, coalesce(character_maximum_length::text, ''), "
                    "coalesce(numeric_precision::text, ''), coalesce(numeric_scale::text, ''), is_nullable "
                    "FROM information_schema.columns WHERE table_schema = 'public' AND table_name = " +
                        quote(table) + " ORDER BY ordinal_position",
                    database);
    }

    // SCOTT's DEPT and EMP as both dump formats give them.
    static std::vector<std::string> scott_dept_columns()
    {
        return {"deptno|smallint||16|0|NO", "dname|character varying|14|||YES", "loc|character varying|13|||YES"};
    }
    static std::vector<std::string> scott_emp_columns()
    {
        return {"empno|smallint||16|0|NO",
                "ename|character varying|10|||YES",
                "job|character varying|9|||YES",
                "mgr|smallint||16|0|YES",
                "hiredate|timestamp without time zone||||YES",
                "sal|numeric||7|2|YES",
                "comm|numeric||7|2|YES",
                "deptno|smallint||16|0|YES"};
    }

    std::string count(const std::string& table, const std::string& database = {})
    {
        return query("SELECT count(*) FROM " + table, database);
    }

    // Every primary key of the public schema as "table:columns".
    std::vector<std::string> primary_keys(const std::string& database = {})
    {
        return rows("SELECT c.relname || ':' || string_agg(a.attname, ',' ORDER BY k.n) "
                    "FROM pg_index i JOIN pg_class c ON c.oid = i.indrelid "
                    "JOIN pg_namespace s ON s.oid = c.relnamespace "
                    "CROSS JOIN LATERAL unnest(i.indkey) WITH ORDINALITY AS k(attnum, n) "
                    "JOIN pg_attribute a ON a.attrelid = i.indrelid AND a.attnum = k.attnum "
                    "WHERE i.indisprimary AND s.nspname = 'public' GROUP BY c.relname, i.indexrelid ORDER BY 1",
                    database);
    }

    // Everything a comparison of two conversions looks at: per table its
    // columns and its rows in the order of their first column, then the
    // primary keys and every index's definition.
    std::vector<std::string> snapshot(const std::string& database)
    {
        std::vector<std::string> out;
        for (const std::string& table : tables(database)) {
            out.push_back("table " + table);
            for (const std::string& c : columns(table, database))
                out.push_back(c);
            for (const std::string& row : rows("SELECT * FROM " + quote_ident(table) + " ORDER BY 1", database))
                out.push_back(row);
        }
        for (const std::string& k : primary_keys(database))
            out.push_back("key " + k);
        for (const std::string& i : rows("SELECT indexdef FROM pg_indexes WHERE schemaname = 'public' ORDER BY 1",
                                         database))
            out.push_back("index " + i);
        return out;
    }

    // velcagent converting the dump into another database, mode 0.
    result run_into(const std::string& src, const std::string& database)
    {
        std::vector<std::string> a = {"--src=" + src, "--dest=" + database, "--mode=0"};
        for (const std::string& c : connection())
            a.push_back(c);
        return run(a);
    }

    // Zone-bearing timestamps as both formats store them: the UTC time in
    // the date bytes, then the nanoseconds and two zone bytes (hour + 20
    // and minute + 60, or a region id with the high bit set). Row id gives
    // the order.
    struct zoned_value {
        int id;
        int year, month, day, hour, minute, second;
        std::uint32_t nanoseconds;
        std::uint8_t zone1, zone2;
    };
    static std::vector<zoned_value> zoned_values()
    {
        return {
            {1, 2024, 3, 10, 12, 0, 0, 0, 0x14, 0x3C},         // UTC
            {2, 2024, 3, 10, 7, 30, 0, 0, 0x19, 0x5A},         // +05:30
            {3, 2024, 7, 1, 20, 0, 0, 0, 0x0C, 0x3C},          // -08:00
            {4, 2023, 12, 31, 23, 59, 59, 0, 0x85, 0x2C},      // a region id
            {5, 2022, 6, 2, 8, 45, 40, 346906000, 0x14, 0x3C},  // six digits of fraction
            {6, 2000, 1, 1, 0, 0, 0, 0, 0x14, 0x3C},           // midnight
        };
    }
    // The column holds those instants, whatever the reading session's zone.
    void expect_zoned(const std::string& table, const std::string& column)
    {
        EXPECT_EQ(query("SELECT data_type FROM information_schema.columns WHERE table_schema = 'public' AND "
                        "table_name = " + quote(table) + " AND column_name = " + quote(column)),
                  "timestamp with time zone");
        const std::string select = "SELECT " + column + "::text FROM " + table + " ORDER BY id";
        EXPECT_EQ(rows("SET TimeZone = 'UTC'; " + select),
                  (std::vector<std::string>{"2024-03-10 12:00:00+00", "2024-03-10 07:30:00+00",
                                            "2024-07-01 20:00:00+00", "2023-12-31 23:59:59+00",
                                            "2022-06-02 08:45:40.346906+00", "2000-01-01 00:00:00+00"}));
        EXPECT_EQ(rows("SET TimeZone = 'Asia/Tokyo'; " + select),
                  (std::vector<std::string>{"2024-03-10 21:00:00+09", "2024-03-10 16:30:00+09",
                                            "2024-07-02 05:00:00+09", "2024-01-01 08:59:59+09",
                                            "2022-06-02 17:45:40.346906+09", "2000-01-01 09:00:00+09"}));
    }

    // Converts the dump of the table ZONED (the zoned_values) in every mode,
    // each run in a session zone off UTC (a whole and a half-hour offset):
    // mode 0, mode 1 over the table that made, mode 3 into it once emptied,
    // and mode 2 once it is dropped. Each time the table holds the instants.
    void convert_zoned_in_every_mode(const std::string& src)
    {
        struct step {
            const char* mode;
            const char* before;  // SQL run first, or null
        };
        const step steps[] = {{"0", nullptr}, {"1", nullptr}, {"3", "DELETE FROM zoned"}, {"2", "DROP TABLE zoned"}};
        for (const char* zone : {"America/Los_Angeles", "Asia/Kolkata"}) {
            tk_test::scoped_env tz("PGTZ", zone);
            for (const step& s : steps) {
                SCOPED_TRACE(std::string(zone) + ", mode " + s.mode);
                if (s.before)
                    exec(s.before);
                const result r = run(args(src, {std::string("--mode=") + s.mode}));
                ASSERT_EQ(r.status, 0) << describe(r);
                EXPECT_EQ(r.err, "");
                EXPECT_NE(r.out.find("Converting table ZONED (6 records)\n"), std::string::npos) << r.out;
                expect_zoned("zoned", "ts");
                expect_zoned("zoned", "lts");
            }
        }
    }

    // Dates before year 1 (a negative year: -1 is 1 BC) and the first day of
    // year 1, as both formats store them, with the texts of the DATE and the
    // TIMESTAMP column under DateStyle ISO.
    struct early_value {
        int id;
        int year, month, day, hour, minute, second;
        std::uint32_t nanoseconds;  // of the TIMESTAMP
        const char* date_text;
        const char* timestamp_text;
    };
    static std::vector<early_value> early_values()
    {
        return {
            {1, -44, 3, 15, 12, 30, 0, 250000000, "0044-03-15 12:30:00 BC", "0044-03-15 12:30:00.25 BC"},
            {2, -4712, 1, 1, 0, 0, 0, 0, "4712-01-01 00:00:00 BC", "4712-01-01 00:00:00 BC"},
            {3, -1, 12, 31, 23, 59, 59, 999999000, "0001-12-31 23:59:59 BC", "0001-12-31 23:59:59.999999 BC"},
            {4, 1, 1, 1, 0, 0, 0, 0, "0001-01-01 00:00:00", "0001-01-01 00:00:00"},
        };
    }
    // The table (ID, D, TS) holds those dates exactly.
    void expect_early(const std::string& table)
    {
        std::vector<std::string> expected;
        for (const early_value& v : early_values())
            expected.push_back(std::to_string(v.id) + "|" + v.date_text + "|" + v.timestamp_text);
        EXPECT_EQ(rows("SET DateStyle = 'ISO'; SELECT id, d::text, ts::text FROM " + table + " ORDER BY id"),
                  expected);
    }

    const pg_test::server_info& server;
    tk_test::temp_dir work;
    std::string db;
};

}  // namespace e2e
