// Quick launch against the test server: a profile on the command line runs
// the reading, conversion and finish pages only, and a refused dump leaves
// a mode-0 destination alone.

// Before Qt, whose keywords the client library's headers use as names.
#include <pqxx/pqxx>

#include "pg_test_server.h"
#include "wizard_test_support.h"

#include "e2e_dumps.h"
#include "run_wizard.h"

#include <QPushButton>
#include <QTest>

#include <unistd.h>

using namespace wizard_test;

namespace {

constexpr int long_wait = 120000;

class quick_test : public fixture {
protected:
    quick_test() : server(pg_test::current_server())
    {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        std::string n = info->name();
        for (char& c : n)
            c = std::isalnum(static_cast<unsigned char>(c)) ? static_cast<char>(std::tolower(c)) : '_';
        db = "wq_" + n.substr(0, 40) + "_" + std::to_string(getpid());
    }
    ~quick_test() override
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
    std::string write_dump(const std::string& name, const classic_dump::bytes& data)
    {
        const std::string path = work.file(name);
        tk_test::write_file(path, std::string(data.begin(), data.end()));
        return path;
    }

    const pg_test::server_info& server;
    std::string db;
};

void press(QWidget& w, int id)
{
    QTest::mouseClick(w.findChild<QPushButton*>(QString::number(id)), Qt::LeftButton);
}

}  // namespace

TEST_F(quick_test, AProfileConvertsItsSelectedTablesThroughTheProgressPagesOnly)
{
    const std::string src = write_dump("scott.dmp", classic_dump::whole_dump({e2e_dumps::dept(), e2e_dumps::emp()}));
    const std::string p = profile(src, 1, "EMP\r\n");
    std::vector<int> seen;
    std::vector<int> pages;
    ui.dialog_handlers["sheet"] = [&](QDialog& d) {
        auto& shell = dynamic_cast<wizard_shell&>(d);
        pages = shell.page_ids();
        EXPECT_TRUE(QTest::qWaitFor(
            [&] {
                if (seen.empty() || seen.back() != shell.current_idd())
                    seen.push_back(shell.current_idd());
                return shell.current_idd() == 116;
            },
            long_wait));
        press(d, sheet_finish_id);
    };
    EXPECT_EQ(run_wizard({p}, ui), 1);
    EXPECT_EQ(pages, (std::vector<int>{108, 107, 116}));
    EXPECT_EQ(seen, (std::vector<int>{108, 107, 116}));
    EXPECT_EQ(user_tables(), "emp");
    EXPECT_EQ(query("SELECT count(*) FROM emp"), std::to_string(e2e_dumps::emp().rows.size()));
    EXPECT_TRUE(ui.boxes().empty());
}

TEST_F(quick_test, ARefusedDumpLeavesAModeZeroDestinationAndItsRowsAlone)
{
    exec("CREATE DATABASE " + quoted(db), "postgres");
    exec("CREATE TABLE keep (id int); INSERT INTO keep VALUES (1), (2)", db);
    const std::string src = work.file("empty.dmp");
    tk_test::write_file(src, "");
    const std::string p = profile(src, 0, "EMP\r\n");
    ui.dialog_handlers["sheet"] = [&](QDialog& d) {
        auto& shell = dynamic_cast<wizard_shell&>(d);
        // The refusal is shown; the reading page stays, since the dump-file
        // page is not in the sheet.
        EXPECT_TRUE(QTest::qWaitFor([&] { return !ui.boxes().empty() && !shell.timer_running(); }, long_wait));
        QTest::qWait(500);
        EXPECT_EQ(shell.current_idd(), 108);
        ui.answers.push_back(true);
        press(d, sheet_cancel_id);
    };
    EXPECT_EQ(run_wizard({p}, ui), 0);
    const auto boxes = ui.boxes();
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0].kind, box_kind::error);
    EXPECT_EQ(boxes[1].kind, box_kind::question);
    EXPECT_EQ(user_tables(), "keep");
    EXPECT_EQ(query("SELECT count(*) FROM keep"), "2");
}
