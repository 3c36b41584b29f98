// The engine's connection to the server. Beside the library's connection it
// keeps libpq's own handle in view, so that the engine can tell a connection
// that is gone (the server closed it, or its backend was ended) from a
// statement that failed, and give the server's own text for it. Once gone it
// stays gone: the library must not quietly connect again under a run, which
// would lose the session's settings and what the run had sent.
#pragma once

#include <pqxx/connection_base>
#include <pqxx/connection>

#include <string>

class pgs_connection : public pqxx::connection_base {
public:
    using handle_type = pqxx::internal::pq::PGconn*;
    // Connects at once; the library's failure passes.
    explicit pgs_connection(const std::string& options);
    ~pgs_connection() noexcept;

    // True when libpq holds the connection as broken, or the library has
    // dropped it.
    bool is_lost() const noexcept;
    // libpq's last text on the connection (the server's message or what
    // libpq saw), without its final line break; empty when none.
    std::string error_text() const;
    // libpq's handle, for the COPY data that goes past the library; null
    // when there is none.
    handle_type raw_handle() const noexcept { return policy.current; }

private:
    // Follows every handle the library takes or gives up.
    class tracking_policy : public pqxx::connect_direct {
    public:
        explicit tracking_policy(const std::string& options) : connect_direct(options) {}
        handle do_startconnect(handle orig) override;
        handle do_completeconnect(handle orig) override;
        handle do_dropconnect(handle orig) noexcept override;
        handle do_disconnect(handle orig) noexcept override;

        handle current = nullptr;
    };

    tracking_policy policy;
};
