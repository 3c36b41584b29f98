// Quick launch against the test server: a fixture with its own destination
// database (dropped at the end), SQL over a plain connection, the writing
// of dumps and profiles in the test folder, and the normal wizard beside
// quick launch for the runs that make a profile first.
#pragma once

// Before Qt, whose keywords the client library's headers use as names.
#include <pqxx/pqxx>

#include "pg_test_server.h"
#include "wizard_page_driving.h"

#include "classic_dump_builder.h"
#include "gui_finish_page.h"
#include "overwrite_dlg2.h"

#include "tk_unicode.h"

#include <QPushButton>
#include <QTest>

#include <cctype>
#include <string>

#include <unistd.h>

namespace wizard_test {

class quick_fixture : public pages_fixture {
protected:
    quick_fixture() : server(pg_test::current_server())
    {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        std::string n = info->name();
        for (char& c : n)
            c = std::isalnum(static_cast<unsigned char>(c)) ? static_cast<char>(std::tolower(c)) : '_';
        db = "wq_" + n.substr(0, 40) + "_" + std::to_string(getpid());
    }
    ~quick_fixture() override
    {
        try {
            exec("DROP DATABASE IF EXISTS " + quoted(db) + " WITH (FORCE)", "postgres");
        } catch (const std::exception& e) {
            ADD_FAILURE() << "cannot drop " << db << ": " << e.what();
        }
    }

    static std::string quoted(const std::string& name) { return "\"" + name + "\""; }
    void exec(const std::string& sql, const std::string& database)
    {
        pqxx::connection c(server.conninfo(database));
        pqxx::nontransaction tx(c);
        tx.exec(sql);
    }
    // The first field of the first row, "<none>" for no row or NULL.
    std::string query(const std::string& sql)
    {
        pqxx::connection c(server.conninfo(db));
        pqxx::nontransaction tx(c);
        const pqxx::result r = tx.exec(sql);
        return r.empty() || r[0][0].is_null() ? std::string("<none>") : std::string(r[0][0].c_str());
    }
    std::string user_tables()
    {
        return query(
            "SELECT string_agg(table_name, ',' ORDER BY table_name) FROM information_schema.tables "
            "WHERE table_schema NOT IN ('pg_catalog', 'information_schema')");
    }

    // A profile over TCP to the test server.
    std::string profile(const std::string& src, int mode, const std::string& tables)
    {
        const std::string path = work.file("quick.velc");
        tk_test::write_file(path, "[Generic settings]\r\nsrc=" + src + "\r\ndest=" + db + "\r\nmode=" +
                                      std::to_string(mode) + "\r\n[pgs settings]\r\nhost=127.0.0.1\r\nuser=" +
                                      server.user + "\r\npassword=\r\nport=" + std::to_string(server.port) +
                                      "\r\n[Selected Tables]\r\n" + tables);
        return path;
    }
    // Every table of the public schema with its row count, then the number
    // of indexes: "A:4,B:14,indexes:3".
    std::string table_counts()
    {
        pqxx::connection c(server.conninfo(db));
        pqxx::nontransaction tx(c);
        std::string out;
        for (const auto& row : tx.exec("SELECT table_name FROM information_schema.tables "
                                       "WHERE table_schema = 'public' ORDER BY table_name")) {
            const std::string name = row[0].c_str();
            out += name + ":" + tx.exec("SELECT count(*) FROM " + tx.quote_name(name))[0][0].c_str() + ",";
        }
        return out + "indexes:" + tx.exec("SELECT count(*) FROM pg_indexes WHERE schemaname = 'public'")[0][0].c_str();
    }

    // The normal wizard from the welcome page to the finish page: Remote
    // to the test server, the dump into db, every table; the overwrite
    // dialog, when db exists, chooses the whole database (mode 0). Then
    // the settings are saved as a profile at saved (without extension),
    // and Finish.
    int run_whole_wizard(const std::string& dump, const std::string& saved,
                         const std::function<void(wizard_page_base&)>& on_file_page = {})
    {
        ui.dialog_handlers["121"] = [](QDialog& d) {
            click(&d, overwrite_entire_id);
            click(&d, dialog_ok_id);
        };
        return run_sheet([&](wizard_shell& shell) {
            drive_to_finish(shell, "127.0.0.1", server.port, server.user, dump, db, {}, on_file_page);
            ASSERT_EQ(shell.current_idd(), 116);
            ui.file_answers.push_back(tk_utf8_to_wide(saved));
            click(shell.current_page(), save_settings_id);
            click(&shell, sheet_finish_id);
        });
    }

    // Quick launch of the profile through to the finish page, then Finish.
    // pages gets the sheet's pages, seen the pages current in turn.
    int run_quick(const std::string& profile_path, std::vector<int>& pages, std::vector<int>& seen)
    {
        ui.dialog_handlers["sheet"] = [&](QDialog& d) {
            auto& shell = dynamic_cast<wizard_shell&>(d);
            pages = shell.page_ids();
            if (!wait_for_state(
                    [&] {
                        if (seen.empty() || seen.back() != shell.current_idd())
                            seen.push_back(shell.current_idd());
                        return shell.current_idd() == 116;
                    },
                    "page 116 in quick launch"))
                return;
            click(&shell, sheet_finish_id);
        };
        return run_wizard({profile_path}, ui);
    }

    template <typename Bytes>
    std::string write_dump(const std::string& name, const Bytes& data)
    {
        const std::string path = work.file(name);
        tk_test::write_file(path, std::string(data.begin(), data.end()));
        return path;
    }

    const pg_test::server_info& server;
    std::string db;
};

inline void press(QWidget& w, int id)
{
    QTest::mouseClick(w.findChild<QPushButton*>(QString::number(id)), Qt::LeftButton);
}

}  // namespace wizard_test
