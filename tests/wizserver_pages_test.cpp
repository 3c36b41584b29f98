// The connection and dump-file pages against the test server: connecting in
// Remote mode, a refused connection, and the overwrite dialog for an
// existing destination, which only chooses the mode and drops nothing.

#include "wizard_page_driving.h"

#include "pg_test_server.h"

#include "e2e_dumps.h"
#include "gui_finish_page.h"
#include "sel_tables_page.h"

#include "overwrite_dlg2.h"
#include "pgs_settings_page.h"
#include "sel_file_page.h"

#include "velconv_convertor.h"

#include "tk_unicode.h"

#include <QAbstractButton>
#include <QLabel>
#include <QPlainTextEdit>
#include <QLineEdit>
#include <QTest>

#include <pqxx/pqxx>

#include <sys/stat.h>
#include <unistd.h>

using namespace wizard_test;

namespace {

void exec_sql(const std::string& db, const std::string& sql)
{
    pqxx::connection c(pg_test::current_server().conninfo(db));
    pqxx::nontransaction t(c);
    t.exec(sql);
}

bool db_exists(const std::string& db)
{
    pqxx::connection c(pg_test::current_server().conninfo("postgres"));
    pqxx::nontransaction t(c);
    return !t.exec("SELECT 1 FROM pg_database WHERE datname = " + t.quote(db)).empty();
}

long count_rows(const std::string& db, const std::string& table)
{
    pqxx::connection c(pg_test::current_server().conninfo(db));
    pqxx::nontransaction t(c);
    return t.exec("SELECT count(*) FROM " + table)[0][0].as<long>();
}

class server_pages_test : public pages_fixture {
protected:
    server_pages_test() : server(pg_test::current_server()) {}

    // Fills page 134 in Remote mode with the test server and goes on.
    void connect_remote(wizard_shell& shell, int port)
    {
        shell.set_current(134);
        fill_remote_connection(shell, "127.0.0.1", port, server.user);
    }

    // Connects, then fills page 105 with an empty dump file and dest, the
    // mode set beforehand to mode, and presses Next.
    void next_on_dump_page(wizard_shell& shell, const std::string& dest, int mode)
    {
        const std::string dump = work.file("exp.dmp");
        tk_test::write_file(dump, "");
        connect_remote(shell, server.port);
        ASSERT_EQ(shell.current_idd(), 105);
        wizard_page_base* page = shell.current_page();
        type(page, file_src_id, dump);
        type(page, file_dest_id, dest);
        converter->n_mode = mode;
        click(&shell, sheet_next_id);
        wait_on_dump_page(shell);
    }

    // Next on 105 goes on to the reading of the dump, which refuses the
    // empty file and comes back here once its worker has ended (at once
    // when the sheet has no reading page).
    static void wait_on_dump_page(wizard_shell& shell)
    {
        EXPECT_TRUE(wait_for_state([&] { return shell.current_idd() == 105 && !shell.timer_running(); },
                                   "page 105 with the timer stopped"));
    }

    const pg_test::server_info& server;
};

}  // namespace

TEST_F(server_pages_test, RemoteModeConnectsAndAFailureKeepsThePageItsBoxAndTheValues)
{
    run_sheet([&](wizard_shell& shell) {
        // A user the server does not know.
        shell.set_current(134);
        wizard_page_base* page = shell.current_page();
        click(page, conn_remote_id);
        type(page, conn_host_id, "127.0.0.1");
        type(page, conn_port_id, std::to_string(server.port));
        type(page, conn_user_id, "velc_nobody");
        click(&shell, sheet_next_id);
        EXPECT_EQ(shell.current_idd(), 134);
        ASSERT_EQ(ui.boxes().size(), 1u);
        EXPECT_EQ(ui.boxes()[0].kind, box_kind::error);
        EXPECT_NE(utf8(ui.boxes()[0].text).find("velc_nobody"), std::string::npos) << utf8(ui.boxes()[0].text);
        EXPECT_EQ(text_of(page, conn_user_id), "velc_nobody");
        EXPECT_EQ(text_of(page, conn_host_id), "127.0.0.1");
        EXPECT_EQ(converter->user, "velc_nobody");
        // The fixture's own user connects, and the dump-file page follows.
        type(page, conn_user_id, server.user);
        click(&shell, sheet_next_id);
        EXPECT_EQ(shell.current_idd(), 105);
        EXPECT_EQ(converter->host, "127.0.0.1");
        EXPECT_EQ(converter->port, server.port);
    });
}

TEST_F(server_pages_test, LocalModeConnectsThroughTheDefaultSocket)
{
    tk_test::scoped_env host("PGHOST", server.socket_dir);
    tk_test::scoped_env port("PGPORT", std::to_string(server.port));
    run_sheet([&](wizard_shell& shell) {
        shell.set_current(134);
        wizard_page_base* page = shell.current_page();
        click(page, conn_local_id);
        type(page, conn_host_id, "no-such-host.invalid");
        type(page, conn_port_id, "0");
        type(page, conn_user_id, server.user);
        click(&shell, sheet_next_id);
        EXPECT_EQ(shell.current_idd(), 105);
        EXPECT_EQ(converter->host, "");
        EXPECT_TRUE(ui.boxes().empty());
    });
}

TEST_F(server_pages_test, AnExistingDestinationAsksForTheModeAndNothingIsDropped)
{
    const std::string dest = "velc_wiz_keep";
    exec_sql("postgres", "DROP DATABASE IF EXISTS " + dest);
    exec_sql("postgres", "CREATE DATABASE " + dest);
    exec_sql(dest, "CREATE TABLE kept(id int); INSERT INTO kept VALUES (1), (2), (3)");
    int dialogs = 0;
    ui.dialog_handlers["121"] = [&](QDialog& d) {
        ++dialogs;
        click(&d, overwrite_entire_id);
        click(&d, dialog_ok_id);
    };
    run_sheet([&](wizard_shell& shell) {
        next_on_dump_page(shell, dest, 2);
        EXPECT_EQ(dialogs, 1);
        EXPECT_EQ(converter->n_mode, 0);
        // Only the mode was chosen: the database is still there, so a second Next asks again.
        click(&shell, sheet_next_id);
        wait_on_dump_page(shell);
        EXPECT_EQ(dialogs, 2);
        ASSERT_TRUE(wait_for_state([&] { return shell.current_idd() == 105; }, "page 105"));
        // Cancel in the dialog keeps the page and the mode.
        converter->n_mode = 3;
        ui.dialog_handlers["121"] = [&](QDialog& d) {
            ++dialogs;
            click(&d, dialog_cancel_id);
        };
        click(&shell, sheet_next_id);
        EXPECT_EQ(shell.current_idd(), 105);
        EXPECT_EQ(converter->n_mode, 3);
    });
    EXPECT_EQ(dialogs, 3);
    ASSERT_TRUE(db_exists(dest));
    EXPECT_EQ(count_rows(dest, "kept"), 3);
    exec_sql("postgres", "DROP DATABASE IF EXISTS " + dest);
}

TEST_F(server_pages_test, AMissingDestinationShowsNoDialogAndKeepsTheMode)
{
    const std::string dest = "velc_wiz_missing";
    exec_sql("postgres", "DROP DATABASE IF EXISTS " + dest);
    run_sheet([&](wizard_shell& shell) {
        next_on_dump_page(shell, dest, 2);
        EXPECT_EQ(converter->n_mode, 2);
    });
    EXPECT_TRUE(ui.dialogs() == std::vector<std::string>{"sheet"});
    EXPECT_FALSE(db_exists(dest));
}

TEST_F(server_pages_test, TheWholeWizardConvertsADumpAsksAboutTheRefusedRowAndSavesItsProfile)
{
    const std::string dest = "velc_wiz_whole_" + std::to_string(::getpid());
    exec_sql("postgres", "DROP DATABASE IF EXISTS " + dest);
    const classic_dump::bytes bytes = classic_dump::whole_dump(
        {e2e_dumps::dept(), e2e_dumps::emp(),
         e2e_dumps::pair_table("BADNN", {{"1", L"one"}, {"", L"no key"}, {"3", L"three"}})});
    const std::string dump = work.file("scott.dmp");
    tk_test::write_file(dump, std::string(bytes.begin(), bytes.end()));
    const std::string log_file = work.file("run.log");
    const std::string saved = work.file("saved");
    int continues = 0;
    ui.dialog_handlers["115"] = [&](QDialog& d) {
        ++continues;
        EXPECT_NE(d.findChild<QLabel*>("1320")->text().indexOf("BADNN"), -1);
        click(&d, 2);
    };
    const int code = run_sheet([&](wizard_shell& shell) {
        drive_to_finish(shell, "127.0.0.1", server.port, server.user, dump, dest, log_file);
        ASSERT_EQ(shell.current_idd(), 116);
        const QString log = shell.page(107)->findChild<QPlainTextEdit*>("1016")->toPlainText();
        EXPECT_NE(log.indexOf("Table 'EMP' (14 records) is converted"), -1) << log.toStdString();
        EXPECT_EQ(log.indexOf("Table 'BADNN'"), -1) << log.toStdString();
        wizard_page_base* finish = shell.current_page();
        EXPECT_TRUE(finish->findChild<QLabel*>("1314")->text().startsWith("There were some errors"));
        EXPECT_NE(finish->findChild<QPlainTextEdit*>("1016")->toPlainText().indexOf("BADNN"), -1);
        ui.file_answers.push_back(tk_utf8_to_wide(saved));
        click(finish, save_settings_id);
        click(&shell, sheet_finish_id);
    });
    EXPECT_EQ(code, 1);
    EXPECT_EQ(continues, 1);
    // The wizard keeps the dump's case by default.
    EXPECT_EQ(count_rows(dest, "\"DEPT\""), 4);
    EXPECT_EQ(count_rows(dest, "\"EMP\""), 14);
    // The refused COPY takes the table's rows with it, as in velcagent.
    EXPECT_EQ(count_rows(dest, "\"BADNN\""), 0);
    {
        pqxx::connection c(server.conninfo(dest));
        pqxx::nontransaction t(c);
        EXPECT_EQ(t.exec("SELECT count(*) FROM pg_indexes WHERE tablename = 'EMP'")[0][0].as<long>(), 2);
        EXPECT_EQ(t.exec("SELECT count(*) FROM information_schema.table_constraints WHERE constraint_type = "
                         "'PRIMARY KEY' AND table_name IN ('DEPT', 'EMP')")[0][0]
                      .as<long>(),
                  2);
    }
    EXPECT_NE(tk_test::read_file(log_file).find("Conversion started on"), std::string::npos);
    const std::string profile = tk_test::read_file(saved + ".velc");
    EXPECT_NE(profile.find("[Selected Tables]\r\nBADNN\r\nDEPT\r\nEMP\r\n"), std::string::npos) << profile;
    struct stat st {};
    ASSERT_EQ(::stat((config_dir() + "/Fennick/Velmora-to-PostgreSQL.conf").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    exec_sql("postgres", "DROP DATABASE IF EXISTS " + dest + " WITH (FORCE)");
}
