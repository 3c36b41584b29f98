#include "pgs_connection.h"

#include <libpq-fe.h>

// The library marks the reactivation switch as going away in its next
// major version; in this one it is the only way to keep a lost connection
// lost.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"

pgs_connection::pgs_connection(const std::string& options) : connection_base(policy), policy(options)
{
    init();
    inhibit_reactivation(true);
}

#pragma GCC diagnostic pop

pgs_connection::~pgs_connection() noexcept
{
    close();
}

bool pgs_connection::is_lost() const noexcept
{
    return policy.current == nullptr || PQstatus(policy.current) == CONNECTION_BAD;
}

std::string pgs_connection::error_text() const
{
    if (!policy.current)
        return std::string();
    std::string text = PQerrorMessage(policy.current);
    while (!text.empty() && (text.back() == '\n' || text.back() == ' '))
        text.pop_back();
    return text;
}

pgs_connection::tracking_policy::handle pgs_connection::tracking_policy::do_startconnect(handle orig)
{
    current = connect_direct::do_startconnect(orig);
    return current;
}

pgs_connection::tracking_policy::handle pgs_connection::tracking_policy::do_completeconnect(handle orig)
{
    current = connect_direct::do_completeconnect(orig);
    return current;
}

pgs_connection::tracking_policy::handle pgs_connection::tracking_policy::do_dropconnect(handle orig) noexcept
{
    current = connect_direct::do_dropconnect(orig);
    return current;
}

pgs_connection::tracking_policy::handle pgs_connection::tracking_policy::do_disconnect(handle orig) noexcept
{
    current = connect_direct::do_disconnect(orig);
    return current;
}
