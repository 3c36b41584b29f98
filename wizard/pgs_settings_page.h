// The connection page: the PostgreSQL server's address and credentials. Next
// connects (on the GUI thread, under the wait cursor); Back only stores.
#pragma once

#include "wait_cursor.h"
#include "wizard_page.h"
#include "wizard_shell.h"

#include "velconv_convertor.h"

#include "tk_exception.h"
#include "tk_logger.h"

#include <optional>
#include <string>

inline constexpr int conn_local_id = 1329;
inline constexpr int conn_remote_id = 1330;
inline constexpr int conn_user_id = 1012;
inline constexpr int conn_password_id = 1013;
inline constexpr int conn_host_id = 1014;
inline constexpr int conn_port_id = 1015;

// The port as typed: empty or "0" is no port (0, the server's default),
// decimal digits alone with a value of 1 to 65535 are that port, anything
// else (signs, blanks, letters, a value out of range) is refused. A port
// read the C way would send "12x" to 12 and "abc" to the default port,
// possibly another server whose database mode 0 then drops.
std::optional<int> parse_port_text(const std::string& text);

// The error text of a failed connection: the reporter's text for its code
// when it has one, else the failure's own message, as a box shows it.
std::string connection_error_text(const tk_exception& e);
// The client library's text for a box: it indents the lines after the first
// with a tab, which a box shows as a wide gap; each starts a line instead,
// and the closing line end goes.
std::string connection_box_text(std::string text);

// The controls and the Local/Remote switch, which need no converter.
class pgs_settings_page_base : public wizard_page<134, wiz_back | wiz_next, page_has_help> {
public:
    pgs_settings_page_base();

protected:
    struct typed {
        std::string host, user, password;
        std::optional<int> port;
    };
    // The host only in Remote mode; an empty one in Local mode, whatever
    // 1014 shows.
    typed read_typed() const;
    void show_values(const std::string& host, const std::string& user, const std::string& password, int port);
};

template <typename Converter>
class pgs_settings_page_impl : public pgs_settings_page_base {
public:
    bool page_init() override
    {
        TK_TRACE(1, "pgs_settings_page_impl<t_converter>::page_init");
        Converter* c = Converter::instance();
        show_values(c->host, c->user, c->password, c->port);
        return true;
    }

    void on_help() override { wizard_shell::display_help(1010); }

    // Hands the typed values to the converter; false (and the old port kept)
    // when the port is refused.
    bool read_connection_controls()
    {
        const typed t = read_typed();
        Converter* c = Converter::instance();
        c->set_connection(t.host, t.user, t.password, t.port ? *t.port : c->port);
        return t.port.has_value();
    }

    int on_next() override
    {
        TK_TRACE(1, "pgs_settings_page_impl<>::on_next");
        if (!read_connection_controls()) {
            wizard_shell::error(L"Invalid port number");
            return -1;
        }
        Converter* c = Converter::instance();
        try {
            wait_cursor busy;
            TK_TRACE(2, "pgs_converter_impl::connect_pgs_server(%s)", "");
            c->engine.connect(c->host, c->user, c->password, "", c->port);
        } catch (const tk_exception& e) {
            wizard_shell::error_ansi(connection_error_text(e));
            return -1;
        }
        return 0;
    }

    int on_back() override
    {
        read_connection_controls();
        return 0;
    }
};

class pgs_settings_page : public pgs_settings_page_impl<velconv_convertor> {
public:
    pgs_settings_page() = default;
};
