#include "pgs_engine.h"

#include "pgs_database.h"
#include "pgs_exception.h"
#include "tk_logger.h"
#include "tk_string.h"

#include <pqxx/pqxx>

#include <unistd.h>

#include <atomic>
#include <utility>

namespace {

std::string quote_conn_value(const std::string& value)
{
    std::string out = "'";
    for (char c : value) {
        if (c == '\\' || c == '\'')
            out.push_back('\\');
        out.push_back(c);
    }
    out.push_back('\'');
    return out;
}

void append_quoted_ident(std::wstring& out, std::wstring_view part)
{
    out.push_back(L'"');
    for (wchar_t c : part) {
        if (c == L'"')
            out.push_back(L'"');
        out.push_back(c);
    }
    out.push_back(L'"');
}

}  // namespace

std::string pgs_error_text(const std::exception& e)
{
    std::string text = e.what();
    while (!text.empty() && (text.back() == '\n' || text.back() == ' '))
        text.pop_back();
    return text;
}

namespace {

// The text of a lost connection's failure: the library's, when it holds the
// server's message; otherwise the library said something generic ("not
// connected") and the server's text stands in its place.
std::string lost_text(const pgs_engine& engine, const std::string& library_text)
{
    const std::string server = engine.connection_error_text();
    if (server.empty())
        return library_text;
    const std::string first_line = server.substr(0, server.find('\n'));
    if (library_text.find(first_line) != std::string::npos)
        return library_text;
    return server;
}

}  // namespace

void pgs_raise_if_lost(const std::string& library_text, const std::string& prefix)
{
    const pgs_engine* engine = pgs_engine::try_instance();
    if (engine && engine->is_connection_lost()) {
        const std::string text = prefix + lost_text(*engine, library_text);
        TK_TRACE(3, "The connection to the PostgreSQL server is lost: %s", text);
        throw pgs_connection_lost(text);
    }
}

void pgs_raise(const std::string& library_text, const std::string& prefix)
{
    pgs_raise_if_lost(library_text, prefix);
    throw pgs_exception(prefix + library_text);
}

pgs_engine::pgs_engine()
{
    TK_TRACE(2, "pgs_engine::ctor");
}

pgs_engine::~pgs_engine()
{
    TK_TRACE(2, "pgs_engine::dtor");
}

std::wstring pgs_engine::lower_ascii(std::wstring text)
{
    for (wchar_t& c : text)
        c = tk_ascii_lower(c);
    return text;
}

std::string pgs_engine::lower_ascii(std::string text)
{
    for (char& c : text)
        c = tk_ascii_lower(c);
    return text;
}

std::wstring pgs_engine::case_form(const std::wstring& name)
{
    return current_keep_case() ? name : lower_ascii(name);
}

bool pgs_engine::current_keep_case()
{
    const pgs_engine* e = try_instance();
    return e && e->keep_case;
}

std::wstring pgs_engine::make_name(const std::wstring& name)
{
    return make_name(name, current_keep_case());
}

std::wstring pgs_engine::make_name(const std::wstring& name, bool keep_case)
{
    TK_TRACE(1, "pgs_engine::make_name(%s,%d)", name, keep_case ? 1 : 0);
    const std::wstring text = keep_case ? name : lower_ascii(name);
    std::wstring out;
    out.reserve(text.size() + 6);
    const std::size_t dot = text.find(L'.');
    if (dot == std::wstring::npos) {
        append_quoted_ident(out, text);
    } else {
        append_quoted_ident(out, std::wstring_view(text).substr(0, dot));
        out.push_back(L'.');
        append_quoted_ident(out, std::wstring_view(text).substr(dot + 1));
    }
    return out;
}

std::wstring pgs_engine::make_ident(const std::wstring& name)
{
    return make_ident(name, current_keep_case());
}

std::wstring pgs_engine::make_ident(const std::wstring& name, bool keep_case)
{
    std::wstring out;
    out.reserve(name.size() + 2);
    append_quoted_ident(out, keep_case ? name : lower_ascii(name));
    return out;
}

std::string pgs_engine::quote_literal(pqxx::transaction_base& tx, const std::string& text)
{
    // What tx.quote does, appended piece by piece: g++ 12 at -O3 warns of
    // an overlapping copy in libpqxx's own "'" + text + "'".
    const std::string escaped = tx.esc(text);
    std::string quoted;
    quoted.reserve(escaped.size() + 2);
    quoted += '\'';
    quoted += escaped;
    quoted += '\'';
    return quoted;
}

std::string pgs_engine::make_ident8(const std::wstring& name)
{
    return tk_to_utf8(make_ident(name));
}

std::string pgs_engine::make_name8(const std::wstring& name)
{
    return tk_to_utf8(make_name(name));
}

pgs_conn_strings pgs_engine::make_conn_strings(const std::string& host, const std::string& user,
                                               const std::string& password, const std::string& database, int port,
                                               bool keep_case)
{
    std::string base;
    auto add = [&base](const char* key, const std::string& value) {
        if (value.empty())
            return;
        if (!base.empty())
            base.push_back(' ');
        base += key;
        base.push_back('=');
        base += quote_conn_value(value);
    };
    add("user", user);
    add("password", password);
    add("host", host);
    pgs_conn_strings s;
    s.fallback = base;
    add("dbname", database.empty() ? std::string("postgres") : (keep_case ? database : lower_ascii(database)));
    s.main = base;
    if (port != 0) {
        const std::string p = " port=" + quote_conn_value(std::to_string(port));
        s.main += p;
        s.fallback += s.fallback.empty() ? p.substr(1) : p;
    }
    return s;
}

void pgs_engine::note_statement(const std::string& sql)
{
    if (statement_log)
        statement_log->push_back(sql);
}

pqxx::result pgs_engine::exec(pqxx::transaction_base& tx, const std::string& sql)
{
    note_statement(sql);
    return tx.exec(sql);
}

pgs_connection::handle_type pgs_engine::raw_handle()
{
    connection();
    return conn->raw_handle();
}

pqxx::connection_base& pgs_engine::connection()
{
    if (!conn)
        throw pgs_exception("The PostgreSQL server is not connected");
    // A lost connection stays lost: every later call says so at once.
    if (conn->is_lost())
        pgs_raise(conn->error_text());
    return *conn;
}

bool pgs_engine::is_connection_lost() const noexcept
{
    return conn && conn->is_lost();
}

std::string pgs_engine::connection_error_text() const
{
    return conn ? conn->error_text() : std::string();
}

void pgs_engine::cancel_query() noexcept
{
    try {
        std::lock_guard<std::mutex> lock(conn_mutex);
        if (pgs_connection* c = conn.get())
            c->cancel_query();
    } catch (const std::exception& e) {
        TK_TRACE(2, "Cannot cancel the query: %s", e.what());
    }
}

void pgs_engine::replace_connection(std::unique_ptr<pgs_connection> c)
{
    std::unique_ptr<pgs_connection> old;
    std::lock_guard<std::mutex> lock(conn_mutex);
    old = std::exchange(conn, std::move(c));
}

void pgs_engine::set_up_connection(pgs_connection& c)
{
    c.set_client_encoding("UTF8");
    // The SQL literals double apostrophes and keep backslashes: make that
    // their meaning on any server.
    pqxx::nontransaction tx(c, "settings");
    exec(tx, "SET standard_conforming_strings = on");
    TK_TRACE(1, "The connection has been established");
}

void pgs_engine::connect(const std::string& host_, const std::string& user_, const std::string& password_,
                         const std::string& database, int port_)
{
    TK_TRACE(2, "pgs_engine::connect(%s,%s,%s,%d)", host_, user_, password_, port_);
    TK_TRACE(1, "database=%s", database);
    // Replacing the connection under an open transaction would leave that
    // transaction on a freed connection.
    TK_CHECK(open_work == 0, "pgs_engine", 210);
    const pgs_conn_strings strings = make_conn_strings(host_, user_, password_, database, port_, keep_case);
    user = user_;
    password = password_;
    if (!host_.empty())
        host = host_;
    if (port_ != 0)
        port = port_;
    TK_TRACE(3, "Connecting to PostgreSQL server (1)...");
    TK_TRACE(2, "strConn=%s", strings.main);
    try {
        auto c = std::make_unique<pgs_connection>(strings.main);
        set_up_connection(*c);
        replace_connection(std::move(c));
        return;
    } catch (const pqxx::pqxx_exception& e) {
        if (!database.empty())
            throw pgs_exception(e.base().what());
    }
    TK_TRACE(3, "Connecting to PostgreSQL server (2)...");
    try {
        auto c = std::make_unique<pgs_connection>(strings.fallback);
        set_up_connection(*c);
        replace_connection(std::move(c));
    } catch (const pqxx::pqxx_exception& e) {
        throw pgs_exception(e.base().what());
    }
}

bool pgs_engine::is_db_exist(const std::wstring& name)
{
    TK_TRACE(2, "pgs_engine::is_db_exist(%s)", name);
    try {
        pqxx::transaction<pqxx::read_committed> tx(connection(), "get_contents");
        const std::string text = tk_to_utf8(keep_case ? name : lower_ascii(name));
        std::string sql = "SELECT datname FROM pg_database WHERE datistemplate = false and datname = ";
        sql += quote_literal(tx, text);
        TK_TRACE(1, "query=%s", sql);
        return !exec(tx, sql).empty();
    } catch (const pqxx::pqxx_exception& e) {
        pgs_raise(e.base().what());
    }
}

std::string pgs_engine::create_db_sql(const std::wstring& name)
{
    return "CREATE DATABASE " + make_ident8(name);
}

void pgs_engine::check_create_db(const std::wstring& name)
{
    TK_TRACE(2, "pgs_engine::check_create_db(%s)", name);
    // The privilege, the template, its encoding, its tablespace and whether
    // anyone else holds the template open are the server's to judge: it
    // is asked by the very statement create_db sends, for a database of a
    // name of this process's own.
    static std::atomic<unsigned> serial{0};
    const std::wstring probe = L"velc_create_check_" + std::to_wstring(::getpid()) + L"_" +
                               std::to_wstring(serial.fetch_add(1, std::memory_order_relaxed));
    try {
        pqxx::nontransaction tx(connection(), "check_create_db");
        const std::string sql = create_db_sql(probe);
        TK_TRACE(1, "query=%s", sql);
        exec(tx, sql);
        exec(tx, "DROP DATABASE IF EXISTS " + make_ident8(probe));
    } catch (const pqxx::pqxx_exception& e) {
        pgs_raise(pgs_error_text(e.base()));
    }
}

std::unique_ptr<pgs_database> pgs_engine::create_db(const std::wstring& name)
{
    TK_TRACE(2, "pgs_engine::create_db(%s)", name);
    TK_TRACE(3, "Creating PostgreSQL database '%s'", name);
    try {
        {
            pqxx::nontransaction tx(connection(), "create_db");
            const std::string sql = create_db_sql(name);
            TK_TRACE(1, "query=%s", sql);
            exec(tx, sql);
        }
        return open_db(name, udb_open_flags::created, std::wstring());
    } catch (const pqxx::pqxx_exception& e) {
        pgs_raise(e.base().what());
    }
}

void pgs_engine::delete_db(const std::wstring& name)
{
    TK_TRACE(2, "pgs_engine::delete_db(%s)", name);
    TK_TRACE(3, "Deleting PostgreSQL database '%s'", name);
    try {
        pqxx::nontransaction tx(connection(), "delete_db");
        exec(tx, "DROP DATABASE IF EXISTS " + make_ident8(name));
    } catch (const pqxx::pqxx_exception& e) {
        pgs_raise(e.base().what());
    }
}

std::unique_ptr<pgs_database> pgs_engine::open_db(const std::wstring& name, std::int32_t open_flags,
                                                  const std::wstring& schema)
{
    TK_TRACE(1, "pgs_engine::open_db(%s,%d,%s)", name, open_flags, schema);
    connect(host, user, password, tk_to_utf8(name), port);
    return std::make_unique<pgs_database>(name, schema, open_flags);
}
