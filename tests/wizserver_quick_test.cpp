// Quick launch against the test server: a profile on the command line runs
// the reading, conversion and finish pages only, from a classic or a Data
// Pump dump; a refused dump leaves a mode-0 destination alone, and the
// profile that the wizard saved runs again and rebuilds its destination.

#include "wizserver_quick_support.h"

#include "e2e_dumps.h"
#include "ora_dump_writer_pump.h"
#include "run_wizard.h"

using namespace wizard_test;

namespace {

constexpr int long_wait = quick_wait;

using quick_test = quick_fixture;

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
