// A private PostgreSQL cluster for the tests: started in a fresh temporary
// folder on a free port, never the machine's own cluster. When the tests run
// as root the server runs as the postgres user, since initdb refuses root.
#pragma once

#include <string>

namespace pg_test {

struct server_info {
    std::string dir;         // the cluster's folder (data, socket, log)
    std::string socket_dir;  // where the server's Unix socket lives
    int port = 0;
    std::string user;        // the cluster's superuser

    // A libpq connection string for the given database, over the socket.
    std::string conninfo(const std::string& dbname = "postgres") const;
    // The same over TCP on 127.0.0.1.
    std::string tcp_conninfo(const std::string& dbname = "postgres") const;
};

// Roles the connection tests use: one refused on the database "postgres"
// whose own database exists, and one that must give its password.
inline constexpr const char* refused_on_postgres_role = "velc_nopostgres";
inline constexpr const char* password_role = "velc_pw";
inline constexpr const char* password_role_password = "p w'x";

// Starts a cluster; throws std::runtime_error with the reason (and the tail
// of the server log) when it cannot.
server_info start_server();
void stop_server(const server_info& info);

bool save_info(const server_info& info, const std::string& path);
bool load_info(const std::string& path, server_info& info);

// The server of this test run: the one the CTest fixture started (its state
// file named by VELC_PG_STATE), or else one started for this process and
// stopped at its end.
const server_info& current_server();

}  // namespace pg_test
