// The test cluster itself: reachable over its socket and over TCP, with the
// roles the connection tests rely on.
#include "pg_test_server.h"

#include <gtest/gtest.h>
#include <libpq-fe.h>

#include <memory>
#include <string>

namespace {

using conn_ptr = std::unique_ptr<PGconn, decltype(&PQfinish)>;

conn_ptr connect(const std::string& conninfo)
{
    return conn_ptr(PQconnectdb(conninfo.c_str()), &PQfinish);
}

std::string scalar(PGconn* c, const char* sql)
{
    std::unique_ptr<PGresult, decltype(&PQclear)> r(PQexec(c, sql), &PQclear);
    if (PQresultStatus(r.get()) != PGRES_TUPLES_OK || PQntuples(r.get()) != 1)
        return "<" + std::string(PQresultErrorMessage(r.get())) + ">";
    return PQgetvalue(r.get(), 0, 0);
}

}  // namespace

TEST(PgFixture, ServesOverSocketAndTcp)
{
    const auto& server = pg_test::current_server();
    auto socket_conn = connect(server.conninfo());
    ASSERT_EQ(PQstatus(socket_conn.get()), CONNECTION_OK) << PQerrorMessage(socket_conn.get());
    EXPECT_EQ(scalar(socket_conn.get(), "SELECT current_setting('server_version_num')::int / 10000"), "15");
    EXPECT_EQ(scalar(socket_conn.get(), "SELECT pg_encoding_to_char(encoding) FROM pg_database WHERE datname = 'postgres'"),
              "UTF8");
    auto tcp_conn = connect(server.tcp_conninfo());
    ASSERT_EQ(PQstatus(tcp_conn.get()), CONNECTION_OK) << PQerrorMessage(tcp_conn.get());
}

TEST(PgFixture, ConnectionTestRoles)
{
    const auto& server = pg_test::current_server();
    std::string base = "host=" + server.socket_dir + " port=" + std::to_string(server.port);
    auto refused = connect(base + " user=velc_nopostgres dbname=postgres");
    EXPECT_NE(PQstatus(refused.get()), CONNECTION_OK);
    auto own_db = connect(base + " user=velc_nopostgres dbname=velc_nopostgres");
    EXPECT_EQ(PQstatus(own_db.get()), CONNECTION_OK) << PQerrorMessage(own_db.get());
    auto no_password = connect(base + " user=velc_pw dbname=postgres");
    EXPECT_NE(PQstatus(no_password.get()), CONNECTION_OK);
    auto with_password = connect(base + " user=velc_pw dbname=postgres password='p w\\'x'");
    EXPECT_EQ(PQstatus(with_password.get()), CONNECTION_OK) << PQerrorMessage(with_password.get());
}
