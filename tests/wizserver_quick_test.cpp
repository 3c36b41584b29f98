// Quick launch against the test server: a profile on the command line runs
// the reading, conversion and finish pages only, from a classic or a Data
// Pump dump; a refused dump leaves a mode-0 destination alone, and the
// profile that the wizard saved runs again and rebuilds its destination.

#include "wizserver_quick_support.h"

#include "e2e_dumps.h"
#include "ora_dump_writer_pump.h"
#include "run_wizard.h"

#include <QPlainTextEdit>

#include <sstream>

using namespace wizard_test;

namespace {

using quick_test = quick_fixture;

// The table's name when the whole line is head, the name, middle and a
// position; else empty.
std::string scan_line_table(const std::string& line, const std::string& head, const std::string& middle)
{
    if (line.rfind(head, 0) != 0)
        return {};
    const std::string::size_type end = line.find(middle, head.size());
    if (end == std::string::npos || end == head.size())
        return {};
    const std::string position = line.substr(end + middle.size());
    if (position.empty() || position.find_first_not_of("0123456789") != std::string::npos)
        return {};
    return line.substr(head.size(), end - head.size());
}

}  // namespace

TEST_F(quick_test, AProfileConvertsItsSelectedTablesThroughTheProgressPagesOnly)
{
    const std::string src = write_dump("scott.dmp", classic_dump::whole_dump({e2e_dumps::dept(), e2e_dumps::emp()}));
    const std::string p = profile(src, 1, "EMP\r\n");
    std::vector<int> seen;
    std::vector<int> pages;
    EXPECT_EQ(run_quick(p, pages, seen), 1);
    EXPECT_EQ(pages, (std::vector<int>{108, 107, 116}));
    EXPECT_EQ(seen, (std::vector<int>{108, 107, 116}));
    EXPECT_EQ(user_tables(), "emp");
    EXPECT_EQ(query("SELECT count(*) FROM emp"), std::to_string(e2e_dumps::emp().rows.size()));
    EXPECT_TRUE(ui.boxes().empty());
}

TEST_F(quick_test, ARefusedDumpEndsQuickLaunchWith255AfterItsBoxAndLeavesTheDestinationAlone)
{
    exec("CREATE DATABASE " + quoted(db), "postgres");
    exec("CREATE TABLE keep (id int); INSERT INTO keep VALUES (1), (2)", db);
    struct row {
        const char* name;
        std::string content;
    };
    const row rows[] = {
        {"an empty file", ""},
        {"a text that is no dump", "This is a note, not an export.\n"},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.name);
        const std::string src = work.file("not-a-dump.dmp");
        tk_test::write_file(src, r.content);
        const std::string p = profile(src, 0, "EMP\r\n");
        const std::size_t boxes_before = ui.boxes().size();
        int page_at_close = 0;
        ui.dialog_handlers["sheet"] = [&](QDialog& d) {
            auto& shell = dynamic_cast<wizard_shell&>(d);
            // No dump-file page to go back to: the sheet closes by itself.
            wait_for_state([&] { return !shell.isVisible(); }, "the sheet to close after the refusal");
            page_at_close = shell.current_idd();
        };
        EXPECT_EQ(run_wizard({p}, ui), 255);
        EXPECT_EQ(page_at_close, 108);
        const auto boxes = ui.boxes();
        ASSERT_EQ(boxes.size(), boxes_before + 1);
        EXPECT_EQ(boxes.back().kind, box_kind::error);
        EXPECT_NE(utf8(boxes.back().text).find("cannot read Oracle dump file"), std::string::npos)
            << utf8(boxes.back().text);
        EXPECT_EQ(user_tables(), "keep");
        EXPECT_EQ(query("SELECT count(*) FROM keep"), "2");
        if (HasFailure())
            break;  // a sheet that stays would take each row's waits
    }
}

TEST_F(quick_test, ReturnOnTheFinishPagePressesFinishNotSaveSettings)
{
    const std::string src = write_dump("scott.dmp", classic_dump::whole_dump({e2e_dumps::dept()}));
    // Save Settings has the focus there (Cancel and Help are disabled): the
    // key goes to it first.
    const auto press_return = [this](wizard_shell& shell) {
        if (!wait_for_state([&] { return shell.current_idd() == 116; }, "page 116"))
            return;
        auto* save = shell.current_page()->findChild<QPushButton*>(QString::number(save_settings_id));
        save->setFocus();
        QTest::keyClick(save, Qt::Key_Return);
        EXPECT_TRUE(ui.file_requests().empty());
        EXPECT_FALSE(shell.isVisible());
    };
    // The normal wizard.
    EXPECT_EQ(run_sheet([&](wizard_shell& shell) {
                  drive_to_finish(shell, "127.0.0.1", server.port, server.user, src, db);
                  press_return(shell);
              }),
              1);
    // Quick launch.
    ui.dialog_handlers["sheet"] = [&](QDialog& d) { press_return(dynamic_cast<wizard_shell&>(d)); };
    EXPECT_EQ(run_wizard({profile(src, 0, "DEPT\r\n")}, ui), 1);
    EXPECT_TRUE(ui.file_requests().empty());
    EXPECT_TRUE(ui.boxes().empty());
}

TEST_F(quick_test, TheReadingLogHoldsOneLinePerTableAndPerAlterSection)
{
    // Keys give ALTER sections; the tables without one have none.
    std::vector<classic_dump::table> tables;
    for (int i = 0; i < 6; ++i) {
        classic_dump::table t = e2e_dumps::pair_table("T" + std::to_string(i), {{"1", L"one"}});
        if (i % 2 == 0)
            t.primary_key = {"ID"};
        tables.push_back(t);
    }
    const std::string src = write_dump("six.dmp", classic_dump::whole_dump(tables));
    std::string log;
    ui.dialog_handlers["sheet"] = [&](QDialog& d) {
        auto& shell = dynamic_cast<wizard_shell&>(d);
        // The reading page's log is whole once the next page shows.
        if (!wait_for_state([&] { return shell.current_idd() == 107 || shell.current_idd() == 116; },
                            "the reading to end"))
            return;
        log = shell.page(108)->findChild<QPlainTextEdit*>(QString::number(log_box_id))->toPlainText().toStdString();
        if (wait_for_state([&] { return shell.current_idd() == 116; }, "page 116"))
            click(&shell, sheet_finish_id);
    };
    EXPECT_EQ(run_wizard({profile(src, 1, "T0\r\n")}, ui), 1);
    std::vector<std::string> read, altered;
    std::istringstream lines(log);
    for (std::string line; std::getline(lines, line);) {
        if (const std::string name = scan_line_table(line, "Read table '", "' at position "); !name.empty())
            read.push_back(name);
        else if (const std::string alter = scan_line_table(line, "Read ALTER section for table '", "' at position: ");
                 !alter.empty())
            altered.push_back(alter);
        else
            EXPECT_EQ(line.find("Read "), std::string::npos) << "a scan line shares its line: " << line;
    }
    EXPECT_EQ(read, (std::vector<std::string>{"T0", "T1", "T2", "T3", "T4", "T5"})) << log;
    EXPECT_EQ(altered, (std::vector<std::string>{"T0", "T2", "T4"})) << log;
}

TEST_F(quick_test, TheProfileSavedByTheWizardRunsAgainAndRebuildsItsDestination)
{
    // An existing destination, so that the wizard asks and the whole
    // database is chosen (mode 0).
    exec("CREATE DATABASE " + quoted(db), "postgres");
    exec("CREATE TABLE stray (id int); INSERT INTO stray VALUES (1)", db);
    const std::string src = write_dump("scott.dmp", classic_dump::whole_dump({e2e_dumps::dept(), e2e_dumps::emp()}));
    const std::string saved = work.file("saved");
    EXPECT_EQ(run_whole_wizard(src, saved), 1);
    // The whole wizard keeps the dump's case.
    const std::string after_first = table_counts();
    EXPECT_EQ(after_first, "DEPT:4,EMP:14,indexes:3");
    const std::string p = saved + ".velc";
    const std::string text = tk_test::read_file(p);
    ASSERT_NE(text.find("mode=0\r\n"), std::string::npos) << text;

    // Something the re-run must take away with the database.
    exec("CREATE TABLE stray (id int); INSERT INTO stray VALUES (1)", db);
    exec("DELETE FROM \"EMP\" WHERE \"EMPNO\" > 7800", db);
    ui.dialog_handlers.erase("121");
    std::vector<int> pages;
    std::vector<int> seen;
    EXPECT_EQ(run_quick(p, pages, seen), 1);
    EXPECT_EQ(pages, (std::vector<int>{108, 107, 116}));
    EXPECT_EQ(seen, (std::vector<int>{108, 107, 116}));
    EXPECT_EQ(table_counts(), after_first);
    // One overwrite question, in the first run only.
    EXPECT_EQ(ui.dialogs(), (std::vector<std::string>{"sheet", "121", "sheet"}));
    EXPECT_TRUE(ui.boxes().empty());
}

namespace {

const std::vector<ora_pump::column> pump_dept = {
    {"DEPTNO", 2, 22, 2, 0, 0, true},
    {"DNAME", 1, 14, {}, {}, 873},
    {"LOC", 1, 13, {}, {}, 873},
};
const std::vector<ora_pump::column> pump_emp = {
    {"EMPNO", 2, 22, 6, 0, 0, true},
    {"ENAME", 1, 10, {}, {}, 873},
    {"SAL", 2, 22, 7, 2},
    {"DEPTNO", 2, 22, 2, 0},
};
constexpr int pump_emp_rows = 3000;

// DEPT's four rows and EMP's many, each table's key in a constraint document.
ora_pump::bytes pump_dump()
{
    auto num = [](const std::string& s) { return ora_pump::value(ora_rows::number(s)); };
    auto txt = [](const std::wstring& s) { return ora_pump::value(ora_rows::text(s, 65001)); };
    ora_pump::writer w;
    w.document(ora_pump::strmtable_doc("SCOTT", "DEPT", pump_dept));
    w.zeros(2);
    const std::pair<const wchar_t*, const wchar_t*> depts[] = {
        {L"ACCOUNTING", L"NEW YORK"}, {L"RESEARCH", L"DALLAS"}, {L"SALES", L"CHICAGO"}, {L"OPERATIONS", L"BOSTON"}};
    for (int i = 0; i < 4; ++i)
        w.raw(ora_pump::record({num(std::to_string((i + 1) * 10)), txt(depts[i].first), txt(depts[i].second)}));
    w.document(ora_pump::constraint_doc("SCOTT", "DEPT", {"PK_DEPT", 2, {"DEPTNO"}}));
    w.document(ora_pump::strmtable_doc("SCOTT", "EMP", pump_emp));
    w.zeros(2);
    for (int n = 1; n <= pump_emp_rows; ++n)
        w.raw(ora_pump::record({num(std::to_string(n)), txt(L"E" + std::to_wstring(n)), num(std::to_string(n) + ".5"),
                                num(std::to_string((n % 4 + 1) * 10))}));
    w.document(ora_pump::constraint_doc("SCOTT", "EMP", {"PK_EMP", 2, {"EMPNO"}}));
    w.zeros(16);
    return w.data();
}

}  // namespace

TEST_F(quick_test, ADataPumpDumpArrivesWithEveryTableAndRow)
{
    const std::string src = write_dump("pump.dmp", pump_dump());
    const std::string p = profile(src, 1, "DEPT\r\nEMP\r\n");
    std::vector<int> pages;
    std::vector<int> seen;
    EXPECT_EQ(run_quick(p, pages, seen), 1);
    EXPECT_EQ(seen, (std::vector<int>{108, 107, 116}));
    EXPECT_TRUE(ui.boxes().empty());
    EXPECT_EQ(ui.dialogs(), std::vector<std::string>{"sheet"});
    EXPECT_EQ(table_counts(), "dept:4,emp:" + std::to_string(pump_emp_rows) + ",indexes:2");
    EXPECT_EQ(query("SELECT string_agg(deptno || '|' || dname || '|' || loc, ',' ORDER BY deptno) FROM dept"),
              "10|ACCOUNTING|NEW YORK,20|RESEARCH|DALLAS,30|SALES|CHICAGO,40|OPERATIONS|BOSTON");
    const long n = pump_emp_rows;
    EXPECT_EQ(query("SELECT min(empno) || '|' || max(empno) || '|' || count(DISTINCT empno) || '|' || sum(sal) FROM emp"),
              "1|" + std::to_string(n) + "|" + std::to_string(n) + "|" + std::to_string(n * (n + 1) / 2 + n / 2) +
                  ".00");
    EXPECT_EQ(query("SELECT count(*) FROM emp WHERE ename <> 'E' || empno OR deptno <> (empno % 4 + 1) * 10"), "0");
}
