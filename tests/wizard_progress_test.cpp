// The progress pages over the real sheet, the dump opener and the run, with
// stubbed openings, scripted sources and a recording destination: the
// percentage, moving on only after the worker has ended, the refusal's way
// back, the status line, the run's dialogs, and Cancel while a worker runs.

// Before Qt, whose "slots" keyword the reader's headers use as a name.
#include "ora_dump_file.h"

#include "wizard_progress_support.h"

#include "progress_page.h"

#include "classic_dump_builder.h"
#include "e2e_dumps.h"

#include "tk_exception.h"
#include "tk_utils.h"

#include <QCheckBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>

#include <chrono>
#include <thread>

using namespace wizard_test;

TEST(conversion_percent_test, SharesOfTablesRecordsAndLocalProgress)
{
    struct row {
        const char* name;
        std::uint32_t n, cur;
        std::uint64_t recs, rec;
        int local;
        std::uint64_t percent;
        int bar;
    };
    const row rows[] = {
        {"no tables", 0, 0, 10, 5, 50, 0, 0},
        {"one of four, no records", 4, 1, 0, 0, 0, 25, 25},
        {"no records: no record term", 2, 1, 0, 7, 0, 50, 50},
        {"50 million of 100 million", 1, 0, 100000000, 50000000, 0, 50, 50},
        {"3 billion of 4 billion, past 32 bits", 1, 0, 4000000000ull, 3000000000ull, 0, 75, 75},
        {"a local 150 counts as 100", 1, 0, 0, 0, 150, 100, 100},
        {"a negative local counts as 0", 2, 1, 0, 0, -5, 50, 50},
        {"a sum above 100 shows 100 on the bar", 1, 1, 10, 10, 100, 300, 100},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.name);
        const std::uint64_t p = conversion_percent(r.n, r.cur, r.recs, r.rec, r.local);
        EXPECT_EQ(p, r.percent);
        EXPECT_EQ(progress_bar_value(p), r.bar);
    }
}

namespace {

class progress_test : public progress_sheet {
protected:
    // Writes a classic dump of the tables into the work folder as the
    // converter's source.
    void use_dump(const std::string& name, const std::vector<classic_dump::table>& tables)
    {
        const std::string path = work.file(name);
        const classic_dump::bytes dump = classic_dump::whole_dump(tables);
        tk_test::write_file(path, std::string(dump.begin(), dump.end()));
        converter->src = tk_utf8_to_wide(path);
    }
};

}  // namespace

TEST_F(progress_test, ReadingMovesOnOnlyOnceTheOpenerHasHandedOverItsDatabase)
{
    build(false);
    std::atomic<bool> hand_over{false};
    converter->opener().set_open_function([&](ora_dump_reader& reader, const std::wstring&) {
        // The reader's end state comes before the database is handed over.
        reader.set_ui_progress(100);
        hold_until(hand_over);
        return source({fake::table(L"A"), fake::table(L"B")});
    });
    next();
    EXPECT_EQ(shell->current_idd(), 108);
    // The tick that shows the end has seen the worker still running: the
    // page stays, however many ticks follow.
    ASSERT_TRUE(wait_for_state([&] { return bar(108)->value() == 100; }, "the bar of page 108 at 100"));
    EXPECT_EQ(shell->current_idd(), 108);
    QTest::qWait(450);
    EXPECT_EQ(shell->current_idd(), 108);
    EXPECT_EQ(tables->inits, 0);
    screenshot(*shell, "reading.png");
    hand_over = true;
    ASSERT_TRUE(wait_for_state([&] { return shell->current_idd() == 127; }, "page 127"));
    EXPECT_EQ(converter->get_all_tables(), (std::vector<std::wstring>{L"A", L"B"}));
    EXPECT_FALSE(shell->timer_running());
    EXPECT_NE(log_text(108).find("Reading file"), std::string::npos);
}

TEST_F(progress_test, AnOpeningThatEndsWithoutADatabaseGoesBackWhateverItsProgressSays)
{
    build(false);
    converter->opener().set_open_function([&](ora_dump_reader& reader, const std::wstring&) {
        reader.set_ui_progress(100);
        return std::unique_ptr<udb_database>();
    });
    next();
    // The worker has ended and the tick after it has settled where to go.
    ASSERT_TRUE(wait_for_state([&] { return reading->worker_ended() && !shell->timer_running(); },
                               "the reading's end"));
    EXPECT_EQ(shell->current_idd(), 105);
    EXPECT_EQ(tables->inits, 0);
    EXPECT_EQ(converter->get_all_tables(), std::vector<std::wstring>{});
}

TEST_F(progress_test, TheReadingBarFollowsTheScanAsItsLinesArrive)
{
    // A scan faster than the ticks: the lines of half the tables are there
    // before the first tick comes.
    std::vector<classic_dump::table> tables;
    for (int i = 0; i < 20; ++i)
        tables.push_back(e2e_dumps::pair_table("T" + std::to_string(i), {{"1", L"one"}, {"2", L"two"}}));
    use_dump("twenty.dmp", tables);
    build(false);
    std::atomic<bool> go{false};
    ora_dump_reader& reader = converter->opener().reader();
    reader.set_log_sink([&go](ora_log_kind, const std::string& text) {
        wizard_shell::write_log_ansi(text + "\n");
        if (text.rfind("Read table 'T10'", 0) == 0)
            hold_until(go);
    });
    next();
    ASSERT_TRUE(wait_for_state([&] { return log_text(108).find("Read table 'T10'") != std::string::npos; },
                               "the line of table T10"));
    const int progress = reader.get_progress();
    EXPECT_GT(progress, 25);
    EXPECT_LT(progress, 75);
    EXPECT_EQ(bar(108)->value(), progress);
    go = true;
    EXPECT_TRUE(wait_for_state([&] { return shell->current_idd() == 127; }, "page 127"));
    reader.set_log_sink(nullptr);
}

TEST_F(progress_test, ThePageMovesOnWithEveryLineTheWorkerWrote)
{
    build(false);
    std::atomic<bool> go{false};
    converter->opener().set_open_function([&](ora_dump_reader& reader, const std::wstring&) {
        hold_until(go);
        for (int i = 1; i <= 50; ++i)
            wizard_shell::write_log(L"line " + std::to_wstring(i) + L"\n");
        reader.set_ui_progress(100);
        return source({fake::table(L"A")});
    });
    next();
    ASSERT_EQ(shell->current_idd(), 108);
    // The worker has started the sheet's timer once its first line shows.
    ASSERT_TRUE(wait_for_state([&] { return log_text(108).find("Reading file") != std::string::npos; },
                               "the line 'Reading file' on page 108"));
    // No event is handled from here on, so every line the worker writes is
    // still queued when the tick that sees its end comes.
    go = true;
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(state_wait_ms);
    while (!reading->worker_ended() && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_TRUE(reading->worker_ended()) << "timed out waiting for the opening to end";
    reading->on_timer();
    EXPECT_EQ(shell->current_idd(), 127);
    const std::string log = log_text(108);
    EXPECT_NE(log.find("line 1\n"), std::string::npos) << log;
    EXPECT_NE(log.find("line 50\n"), std::string::npos) << log;
}

TEST_F(progress_test, QuickLaunchConvertsTheHandedOverDatabaseOnThePages108To116)
{
    build(true);
    converter->set_dest_provider(std::make_unique<fake::recording_provider>(dest_log));
    converter->selected_tables = {L"A", L"B"};
    converter->opener().set_open_function([&](ora_dump_reader& reader, const std::wstring&) {
        reader.set_ui_progress(150);  // above 100 counts as done
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        return source({fake::table(L"A", 3), fake::table(L"B", 2)});
    });
    shell->show();
    std::vector<int> seen;
    ASSERT_TRUE(wait_for_state(
        [&] {
            if (seen.empty() || seen.back() != shell->current_idd())
                seen.push_back(shell->current_idd());
            if (seen.back() == 107)
                screenshot(*shell, "converting.png");
            return shell->current_idd() == 116;
        },
        "page 116"));
    EXPECT_EQ(seen, (std::vector<int>{108, 107, 116}));
    // The run has set its counters back to 0; its page ends full.
    EXPECT_EQ(bar(107)->value(), 100);
    int appends = 0;
    for (const std::string& c : dest_log.calls)
        appends += c.rfind("append(", 0) == 0;
    EXPECT_EQ(appends, 5);
    EXPECT_NE(log_text(107).find("Table 'B' (2 records) is converted"), std::string::npos);
    const auto* text = shell->page(116)->findChild<QLabel*>("1314");
    EXPECT_TRUE(text->text().startsWith("Wizard has converted your Oracle dump file into\nPostgreSQL"));
    EXPECT_FALSE(shell->page(116)->findChild<QPlainTextEdit*>("1016")->isVisible());
    screenshot(*shell, "finish-success.png");
}

TEST_F(progress_test, ARefusalGoesBackOnlyOnceTheOpenerHasEndedAndNextReadsAfresh)
{
    build(false);
    std::atomic<bool> release{false};
    std::atomic<int> openings{0};
    converter->opener().set_open_function(
        [&](ora_dump_reader& reader, const std::wstring&) -> std::unique_ptr<udb_database> {
            const int n = ++openings;
            wizard_shell::write_log(L"opening " + std::to_wstring(n) + L"\n");
            // The refusal's progress comes first; the latch stands for its
            // box, still open.
            reader.set_ui_progress(-1);
            hold_until(release);
            throw tk_final_exception();
        });
    next();
    QTest::qWait(600);  // three ticks
    EXPECT_EQ(shell->current_idd(), 108);
    EXPECT_TRUE(shell->timer_running());
    release = true;
    ASSERT_TRUE(wait_for_state([&] { return shell->current_idd() == 105; }, "page 105"));
    EXPECT_FALSE(shell->timer_running());

    release = false;
    next();
    ASSERT_TRUE(wait_for_state([&] { return log_text(108).find("opening 2") != std::string::npos; },
                               "the second opening's line"));
    EXPECT_EQ(log_text(108).find("opening 1"), std::string::npos);
    EXPECT_EQ(shell->current_idd(), 108);
    release = true;
    ASSERT_TRUE(wait_for_state([&] { return shell->current_idd() == 105; }, "page 105"));
    EXPECT_TRUE(ui.boxes().empty());
}

TEST_F(progress_test, ARefusalInQuickLaunchClosesTheSheetWith255AfterItsBox)
{
    build(true);
    converter->opener().set_open_function(
        [&](ora_dump_reader& reader, const std::wstring&) -> std::unique_ptr<udb_database> {
            reader.set_ui_progress(-1);
            wizard_shell::error(L"refused");
            throw tk_final_exception();
        });
    shell->show();
    ASSERT_TRUE(wait_for_state([&] { return !shell->isVisible(); }, "the sheet to close"));
    EXPECT_EQ(shell->result(), 255);
    EXPECT_EQ(shell->current_idd(), 108);
    ASSERT_EQ(ui.boxes().size(), 1u);
    EXPECT_EQ(ui.boxes()[0].text, L"refused");
}

TEST_F(progress_test, ZeroTablesShowNoProgressUntilTheRunEndsAndTheStatusLineFollowsTheTable)
{
    build(true);
    const std::wstring long_name = L"T_" + std::wstring(400, L'x') + L"_END";
    std::atomic<bool> at_dest{false}, at_table{false}, release{false};
    dest_log.on_call = [&](const std::string& call) {
        std::atomic<bool>* mark = call == "get_dest_base"             ? &at_dest
                                  : call.rfind("create_table(", 0) == 0 ? &at_table
                                                                        : nullptr;
        if (!mark)
            return;
        *mark = true;
        hold_until(release);
        release = false;
    };
    converter->set_dest_provider(std::make_unique<fake::recording_provider>(dest_log));
    converter->opener().set_open_function([&](ora_dump_reader& reader, const std::wstring&) {
        reader.set_ui_progress(100);
        return source({fake::table(long_name, 1)});
    });
    converter->selected_tables = {long_name};
    shell->show();
    ASSERT_TRUE(wait_for_state([&] { return at_dest.load(); }, "the run asking for its destination"));
    QTest::qWait(450);
    EXPECT_EQ(shell->current_idd(), 107);
    EXPECT_EQ(bar(107)->value(), 0);
    auto* status = shell->page(107)->findChild<QLabel*>("1323");
    EXPECT_TRUE(status->text().isEmpty());
    release = true;
    ASSERT_TRUE(wait_for_state([&] { return at_table.load(); }, "the run creating its table"));
    ASSERT_TRUE(wait_for_state([&] { return !status->text().isEmpty(); }, "the status line"));
    const QString shown = status->text();
    EXPECT_TRUE(shown.startsWith("Processing table 'T_x")) << shown.toStdString();
    EXPECT_TRUE(shown.endsWith("_END'")) << shown.toStdString();
    EXPECT_TRUE(shown.contains(QChar(0x2026))) << shown.toStdString();
    EXPECT_LT(shown.size(), static_cast<int>(long_name.size()));
    release = true;
    ASSERT_TRUE(wait_for_state([&] { return shell->current_idd() == 116; }, "page 116"));
}

TEST_F(progress_test, ARecordThatFailsAsksContinueOrAbortAndTheFinishPageListsIt)
{
    build(true);
    converter->set_dest_provider(std::make_unique<fake::recording_provider>(dest_log));
    converter->opener().set_open_function([&](ora_dump_reader& reader, const std::wstring&) {
        reader.set_ui_progress(100);
        return source({fake::table(L"A", 4, {{2, fake::at_record::level0}, {3, fake::at_record::level0}}),
                       fake::table(L"B", 1)});
    });
    converter->selected_tables = {L"A", L"B"};
    int asked = 0;
    ui.dialog_handlers["115"] = [&](QDialog& d) {
        ++asked;
        EXPECT_EQ(d.windowTitle(), "T Error");
        screenshot(d, "continue-dialog.png");
        // Not again: the second failing record asks nothing.
        QTest::mouseClick(d.findChild<QCheckBox*>("1222"), Qt::LeftButton);
        QTest::mouseClick(d.findChild<QPushButton*>("2"), Qt::LeftButton);
    };
    shell->show();
    ASSERT_TRUE(wait_for_state([&] { return shell->current_idd() == 116; }, "page 116"));
    EXPECT_EQ(asked, 1);
    QWidget* finish = shell->page(116);
    EXPECT_TRUE(finish->findChild<QLabel*>("1314")->text().startsWith(
        "There were some errors while converting the database.\nClick 'Finish'"));
    auto* list = finish->findChild<QPlainTextEdit*>("1016");
    EXPECT_TRUE(list->isVisible());
    EXPECT_TRUE(list->isReadOnly());
    EXPECT_NE(list->toPlainText().indexOf("X"), -1) << list->toPlainText().toStdString();
    EXPECT_NE(log_text(107).find("Table 'B' (1 records) is converted"), std::string::npos);
    screenshot(*shell, "finish-errors.png");
}

TEST_F(progress_test, CancelDuringAnOpeningThatWaitsForTheStopClosesTheSheet)
{
    build(false);
    std::atomic<bool> looping{false};
    converter->opener().set_open_function([&](ora_dump_reader&, const std::wstring&) {
        looping = true;
        hold_until([] { return ora_dump_opener_t::instance()->stop_requested(); });
        return std::unique_ptr<udb_database>();
    });
    next();
    ASSERT_TRUE(wait_for_state([&] { return looping.load(); }, "the opening to wait for the stop"));
    ui.answers.push_back(true);
    click(*shell, sheet_cancel_id);
    ASSERT_TRUE(wait_for_state([&] { return !shell->isVisible(); }, "the sheet to close"));
    EXPECT_EQ(shell->result(), 0);
    ASSERT_EQ(ui.boxes().size(), 1u);
    EXPECT_EQ(ui.boxes()[0].kind, box_kind::question);
}

TEST_F(progress_test, CancelDuringTheScanOfADumpClosesTheSheetWithoutABoxOrAContextFile)
{
    std::vector<classic_dump::table> tables;
    for (int i = 0; i < 300; ++i) {
        classic_dump::table t = e2e_dumps::dept();
        t.name = "T" + std::to_string(i);
        tables.push_back(t);
    }
    use_dump("many.dmp", tables);
    build(false);
    const std::string path = tk_wide_to_utf8(converter->src);
    std::atomic<bool> waiting{false};
    converter->opener().set_open_function(
        [&](ora_dump_reader& reader, const std::wstring& p) -> std::unique_ptr<udb_database> {
        // The user's Cancel comes before the scan's first line, which must
        // then see the stop.
        waiting = true;
        hold_until([] { return ora_dump_opener_t::instance()->stop_requested(); });
        return reader.open(p);
    });
    next();
    ASSERT_TRUE(wait_for_state([&] { return waiting.load(); }, "the opening to wait for the stop"));
    ui.answers.push_back(true);
    click(*shell, sheet_cancel_id);
    ASSERT_TRUE(wait_for_state([&] { return !shell->isVisible(); }, "the sheet to close"));
    EXPECT_EQ(ui.boxes().size(), 1u);
    EXPECT_TRUE(ui.dialogs().empty());
    EXPECT_EQ(converter->opener().database(), nullptr);
    EXPECT_FALSE(tk_is_file_exist(path + ".vcx", 0));
}

TEST_F(progress_test, CancelDuringTheRunStopsItBetweenRecordsWithoutADialog)
{
    build(true);
    std::atomic<bool> copying{false};
    dest_log.on_call = [&](const std::string& call) {
        if (call.rfind("append(", 0) == 0) {
            copying = true;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    };
    converter->set_dest_provider(std::make_unique<fake::recording_provider>(dest_log));
    converter->opener().set_open_function([&](ora_dump_reader& reader, const std::wstring&) {
        reader.set_ui_progress(100);
        return source({fake::table(L"BIG", 100000), fake::table(L"LATER", 1)});
    });
    converter->selected_tables = {L"BIG", L"LATER"};
    shell->show();
    ASSERT_TRUE(wait_for_state([&] { return copying.load(); }, "the run copying rows"));
    ui.answers.push_back(true);
    click(*shell, sheet_cancel_id);
    ASSERT_TRUE(wait_for_state([&] { return !shell->isVisible(); }, "the sheet to close"));
    EXPECT_EQ(shell->result(), 0);
    EXPECT_TRUE(ui.dialogs().empty());
    EXPECT_EQ(ui.boxes().size(), 1u);
    bool later = false, big_released = false;
    for (const std::string& c : dest_log.calls) {
        later = later || c.find("LATER") != std::string::npos;
        big_released = big_released || (c.rfind("release(", 0) == 0 && c.find("BIG") != std::string::npos);
    }
    EXPECT_FALSE(later);
    // The table is released, which commits the rows copied before the stop.
    EXPECT_TRUE(big_released);
}

