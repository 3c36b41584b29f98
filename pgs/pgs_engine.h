// The program's one connection to a PostgreSQL server, and the quoting rules
// by which every name reaches SQL as exactly one identifier.
#pragma once

#include "pgs_connection.h"
#include "pgs_validator.h"
#include "tk_singleton.h"

#include <pqxx/pqxx>

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>


class pgs_database;

struct pgs_conn_strings {
    std::string main;      // with dbname
    std::string fallback;  // the same without dbname: the user's default database
};

class pgs_engine : public tk_singleton<pgs_engine> {
public:
    pgs_engine();
    ~pgs_engine() override;

    // Connects to the database (UTF-8), or with an empty one to "postgres"
    // and failing that to the user's default database. On failure the
    // previous connection stays.
    void connect(const std::string& host, const std::string& user, const std::string& password,
                 const std::string& database, int port);
    bool is_db_exist(const std::wstring& name);
    std::unique_ptr<pgs_database> create_db(const std::wstring& name);
    // Raises pgs_exception with the server's reason when create_db could
    // not make a database now (a role without CREATEDB, a template in use):
    // it makes and drops one of another name, by the same statement.
    void check_create_db(const std::wstring& name);
    void delete_db(const std::wstring& name);
    std::unique_ptr<pgs_database> open_db(const std::wstring& name, std::int32_t open_flags,
                                          const std::wstring& schema);

    // A schema-qualified name (table, sequence): split at the first dot, each
    // part quoted with its double quotes doubled; A to Z lower-cased unless
    // keep_case. The one-argument forms read keep_case from the registered
    // engine.
    static std::wstring make_name(const std::wstring& name);
    static std::wstring make_name(const std::wstring& name, bool keep_case);
    // One identifier, dots included: database, schema, column, index and
    // constraint names.
    static std::wstring make_ident(const std::wstring& name);
    static std::wstring make_ident(const std::wstring& name, bool keep_case);
    static std::string make_ident8(const std::wstring& name);
    static std::string make_name8(const std::wstring& name);
    // The statement by which create_db makes the database.
    static std::string create_db_sql(const std::wstring& name);
    // A text as an SQL string literal, escaped for the connection.
    static std::string quote_literal(pqxx::transaction_base& tx, const std::string& text);
    // A to Z to a to z, nothing else.
    static std::wstring lower_ascii(std::wstring text);
    static std::string lower_ascii(std::string text);
    static bool current_keep_case();
    // A name as the catalogue keeps it: unchanged with keep_case, else with
    // its ASCII letters lowered.
    static std::wstring case_form(const std::wstring& name);

    // The libpq connection strings: empty values left out, every other
    // value single-quoted with \ and ' escaped.
    static pgs_conn_strings make_conn_strings(const std::string& host, const std::string& user,
                                              const std::string& password, const std::string& database, int port,
                                              bool keep_case);

    // Every statement on the connection passes here, so a test can see what
    // was sent.
    pqxx::result exec(pqxx::transaction_base& tx, const std::string& sql);
    void note_statement(const std::string& sql);
    void set_statement_log(std::vector<std::string>* log) { statement_log = log; }

    // The connection; a pgs_exception when there is none.
    pqxx::connection_base& connection();
    // The connection's libpq handle (see connection()).
    pgs_connection::handle_type raw_handle();
    bool is_connected() const { return conn != nullptr; }
    // True when there is a connection and it is gone: the server closed it
    // or its backend was ended. Nothing can be sent on it any more.
    bool is_connection_lost() const noexcept;
    // libpq's text for the lost connection (the server's message); empty
    // when there is none.
    std::string connection_error_text() const;
    // Cancels the statement that runs now; the one call allowed from another
    // thread.
    void cancel_query() noexcept;

    // Transactions and COPY streams open on the connection: while any is,
    // the connection must not be replaced.
    void work_opened() { ++open_work; }
    void work_closed() { --open_work; }
    int get_open_work() const { return open_work; }

    pgs_in_validator& index_validator() { return in_validator; }

    bool keep_case = false;
    bool bulk_copy = true;
    std::string host;
    std::string user;
    std::string password;
    std::int32_t port = 0;

private:
    void set_up_connection(pgs_connection& c);
    void replace_connection(std::unique_ptr<pgs_connection> c);

    std::unique_ptr<pgs_connection> conn;
    // Held while the connection is replaced and while a cancel reads it
    // from another thread.
    mutable std::mutex conn_mutex;
    pgs_in_validator in_validator;
    std::vector<std::string>* statement_log = nullptr;
    int open_work = 0;
};

// The text of a library exception, without its final line break.
std::string pgs_error_text(const std::exception& e);

// Raises the failure of a server call whose library text is given:
// pgs_connection_lost when the engine's connection is gone (with the
// server's text where the library's lacks it), else pgs_exception. prefix
// goes before the text either way.
[[noreturn]] void pgs_raise(const std::string& library_text, const std::string& prefix = std::string());
// The same for a failure that the caller would pass over (an index, a
// sequence): returns when the connection is still there.
void pgs_raise_if_lost(const std::string& library_text, const std::string& prefix = std::string());
