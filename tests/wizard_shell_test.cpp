// The sheet over stub pages: navigation, the buttons, the ways out, help,
// the timer, the log box, the boxes and their captions, and the error list.

#include "wizard_test_support.h"

#include "tk_exception.h"
#include "tk_logger.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QEvent>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QTest>

#include <algorithm>
#include <atomic>
#include <memory>
#include <stdexcept>
#include <thread>

using namespace wizard_test;

namespace {

class sheet_test : public fixture {
protected:
    // A sheet of pages 201 to 205, shown (the first page is active).
    void build(int n = 5)
    {
        shell = std::make_unique<wizard_shell>(L"T", 501, 311, 312);
        for (int i = 0; i < n; ++i) {
            pages.push_back(std::make_unique<stub_page>(201 + i));
            shell->add_page(pages.back().get());
        }
    }
    void open() { shell->show(); }
    stub_page& page(int idd) { return *pages[static_cast<std::size_t>(idd - 201)]; }
    void click(int id) { QTest::mouseClick(shell->button(id), Qt::LeftButton); }

    ~sheet_test() override
    {
        pages.clear();
        shell.reset();
    }

    std::unique_ptr<wizard_shell> shell;
    std::vector<std::unique_ptr<stub_page>> pages;
};

struct nav_case {
    const char* name;
    int start;            // reached through set_current
    int button;           // sheet_next_id or sheet_back_id
    int result;           // of on_next / on_back
    std::vector<int> refusing;
    bool leave_refused;   // kill_active gives no
    int expected;
};

}  // namespace

TEST_F(sheet_test, NavigationFollowsTheResultsAndSkipsRefusingPages)
{
    const std::vector<nav_case> cases = {
        {"next 0 goes to the next page", 201, sheet_next_id, 0, {}, false, 202},
        {"next -1 stays", 201, sheet_next_id, -1, {}, false, 201},
        {"next to an id forwards", 201, sheet_next_id, 204, {}, false, 204},
        {"next to an id backwards", 204, sheet_next_id, 202, {}, false, 202},
        {"next to an unknown id stays", 202, sheet_next_id, 999, {}, false, 202},
        {"next skips a refusing page", 201, sheet_next_id, 0, {202}, false, 203},
        {"next to an id skips forwards", 201, sheet_next_id, 203, {203}, false, 204},
        {"next at the last page stays", 205, sheet_next_id, 0, {}, false, 205},
        {"next with every later page refusing stays", 203, sheet_next_id, 0, {204, 205}, false, 203},
        {"kill_active no stays", 201, sheet_next_id, 0, {}, true, 201},
        {"back 0 goes to the previous page", 203, sheet_back_id, 0, {}, false, 202},
        {"back skips a refusing page backwards", 203, sheet_back_id, 0, {202}, false, 201},
        {"back to an id backwards skips backwards", 204, sheet_back_id, 202, {202}, false, 201},
        {"back to a later id forwards", 202, sheet_back_id, 204, {}, false, 204},
        {"back -1 stays", 202, sheet_back_id, -1, {}, false, 202},
        {"back at the first page stays", 201, sheet_back_id, 0, {}, false, 201},
    };
    for (const nav_case& c : cases) {
        SCOPED_TRACE(c.name);
        build();
        open();
        ASSERT_EQ(shell->current_idd(), 201);
        shell->set_current(c.start);
        ASSERT_EQ(shell->current_idd(), c.start);
        stub_page& from = page(c.start);
        from.next_result = c.result;
        from.back_result = c.result;
        from.allow_leave = !c.leave_refused;
        for (int r : c.refusing)
            page(r).init = [] { return false; };
        click(c.button);
        EXPECT_EQ(shell->current_idd(), c.expected);
        EXPECT_TRUE(page(c.expected).isVisible());
        pages.clear();
        shell.reset();
    }
}

TEST_F(sheet_test, SetCurrentToAnUnknownIdDoesNothing)
{
    build();
    open();
    shell->set_current(202);
    const int inits = page(202).inits;
    shell->set_current(777);
    EXPECT_EQ(shell->current_idd(), 202);
    EXPECT_EQ(page(202).inits, inits);
}

TEST_F(sheet_test, ThePageThatWasLeftKeepsItsButtonsWhenNothingFollows)
{
    build(2);
    page(202).init = [] { return false; };
    open();
    click(sheet_next_id);
    EXPECT_EQ(shell->current_idd(), 201);
    EXPECT_TRUE(page(201).isVisible());
    EXPECT_TRUE(shell->button(sheet_next_id)->isEnabled());
    EXPECT_TRUE(shell->button(sheet_back_id)->isEnabled());
}

TEST_F(sheet_test, ButtonsMaskAfterActivation)
{
    struct row {
        int buttons;
        bool set_zero;
        bool back, next_shown, next, finish_shown;
    };
    const row rows[] = {
        {wiz_next, false, false, true, true, false},
        {wiz_back | wiz_next, false, true, true, true, false},
        {wiz_finish, false, false, false, false, true},
        {wiz_back | wiz_next, true, false, true, false, false},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(testing::Message() << "buttons " << r.buttons << (r.set_zero ? ", page_init sets 0" : ""));
        shell = std::make_unique<wizard_shell>(L"T", 0, 0, 0);
        auto p = std::make_unique<stub_page>(301, r.buttons, 0);
        if (r.set_zero)
            p->init = [this] {
                shell->set_buttons(0);
                return true;
            };
        shell->add_page(p.get());
        shell->show();
        EXPECT_EQ(shell->button(sheet_back_id)->isEnabled(), r.back);
        EXPECT_EQ(shell->button(sheet_next_id)->isVisible(), r.next_shown);
        EXPECT_EQ(shell->button(sheet_next_id)->isEnabled() && r.next_shown, r.next);
        EXPECT_EQ(shell->button(sheet_finish_id)->isVisible(), r.finish_shown);
        QPushButton* def = r.finish_shown ? shell->button(sheet_finish_id) : shell->button(sheet_next_id);
        EXPECT_TRUE(def->isDefault());
        EXPECT_TRUE(shell->button(sheet_cancel_id)->isEnabled());
        p.reset();
        shell.reset();
    }
}

TEST_F(sheet_test, HelpIsEnabledOnlyOnPagesWithHelpAndF1CallsTheCurrentPage)
{
    shell = std::make_unique<wizard_shell>(L"T", 0, 0, 0);
    stub_page with_help(401, wiz_back | wiz_next, page_has_help);
    stub_page without(402, wiz_back | wiz_next, page_exterior);
    shell->add_page(&with_help);
    shell->add_page(&without);
    shell->show();
    shell->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(shell.get()));
    EXPECT_TRUE(shell->button(sheet_help_id)->isEnabled());
    click(sheet_help_id);
    EXPECT_EQ(with_help.helps, 1);
    QTest::keyClick(shell.get(), Qt::Key_F1);
    EXPECT_EQ(with_help.helps, 2);
    click(sheet_next_id);
    EXPECT_FALSE(shell->button(sheet_help_id)->isEnabled());
    QTest::keyClick(shell.get(), Qt::Key_F1);
    EXPECT_EQ(without.helps, 1);
    EXPECT_EQ(with_help.helps, 2);
    shell.reset();
}

TEST_F(sheet_test, CancelEscAndTheCloseBoxAskTheExitQuestion)
{
    const char* ways[] = {"cancel", "esc", "close box"};
    for (const char* way : ways) {
        for (bool yes : {false, true}) {
            SCOPED_TRACE(testing::Message() << way << (yes ? " yes" : " no"));
            build(2);
            open();
            ui.answers.push_back(yes);
            const std::size_t asked = ui.boxes().size();
            if (way == ways[0])
                click(sheet_cancel_id);
            else if (way == ways[1])
                QTest::keyClick(shell.get(), Qt::Key_Escape);
            else
                shell->close();
            const auto boxes = ui.boxes();
            ASSERT_EQ(boxes.size(), asked + 1);
            EXPECT_EQ(boxes.back().kind, box_kind::question);
            EXPECT_EQ(boxes.back().text, L"Are you sure you want to exit the wizard?");
            EXPECT_TRUE(boxes.back().default_no);
            EXPECT_EQ(shell->isVisible(), !yes);
            if (yes) {
                EXPECT_EQ(shell->result(), 0);
            }
            pages.clear();
            shell.reset();
        }
    }
}

TEST_F(sheet_test, WithCancelDisabledEscAndTheCloseBoxDoNothing)
{
    build(1);
    open();
    shell->enable_button(sheet_cancel_id, false);
    QTest::keyClick(shell.get(), Qt::Key_Escape);
    shell->close();
    EXPECT_TRUE(shell->isVisible());
    EXPECT_TRUE(ui.boxes().empty());
}

TEST_F(sheet_test, FinishClosesWithOneOnlyWhenThePageAllows)
{
    shell = std::make_unique<wizard_shell>(L"T", 0, 0, 0);
    stub_page last(116, wiz_finish, page_exterior);
    last.allow_finish = false;
    shell->add_page(&last);
    shell->show();
    click(sheet_finish_id);
    EXPECT_TRUE(shell->isVisible());
    last.allow_finish = true;
    click(sheet_finish_id);
    EXPECT_FALSE(shell->isVisible());
    EXPECT_EQ(shell->result(), 1);
    shell.reset();
}

TEST_F(sheet_test, ExceptionsFromPagesNeverLeaveTheSlot)
{
    build(2);
    open();
    page(201).next_fn = []() -> int { throw std::runtime_error("broken page"); };
    click(sheet_next_id);
    page(201).next_fn = []() -> int { throw tk_final_exception(); };
    click(sheet_next_id);
    EXPECT_EQ(shell->current_idd(), 201);
    const auto boxes = ui.boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].kind, box_kind::error);
    EXPECT_EQ(boxes[0].text, L"broken page");
}

TEST_F(sheet_test, CheckBoxesAndControls)
{
    stub_page p(501);
    auto* box = with_id(new QCheckBox(QStringLiteral("x"), &p), 1202);
    box->setTristate(true);
    box->setCheckState(Qt::PartiallyChecked);
    EXPECT_TRUE(p.invert_chbox(1202));
    EXPECT_EQ(box->checkState(), Qt::Checked);
    EXPECT_FALSE(p.invert_chbox(1202));
    EXPECT_EQ(box->checkState(), Qt::Unchecked);
    EXPECT_TRUE(p.invert_chbox(1202));
    p.enable_ctrl(1202, false);
    EXPECT_FALSE(box->isEnabled());
    p.enable_ctrl(1202, true);
    EXPECT_TRUE(box->isEnabled());
    p.set_title_font(1202);
    EXPECT_EQ(box->font().pointSize(), 13);
    EXPECT_FALSE(box->font().bold());
}

TEST_F(sheet_test, TheTemplateFixesIdButtonsAndFlags)
{
    wizard_page<134, 3, 0x20> p(L"Step 1 of 4", L"Connect to PostgreSQL server");
    EXPECT_EQ(p.idd(), 134);
    EXPECT_EQ(p.buttons(), 3);
    EXPECT_EQ(p.flags(), 0x20 | page_has_title | page_has_subtitle);
    EXPECT_EQ(p.objectName(), QStringLiteral("134"));
}

TEST_F(sheet_test, CaptionsAndOwnerBeforeAndAfterTheFirstActivation)
{
    build(1);
    ui.answers = {true, true};
    wizard_shell::error(L"e1");
    wizard_shell::message(L"m1");
    EXPECT_TRUE(wizard_shell::question(L"q1", true));
    EXPECT_FALSE(wizard_shell::is_initialized());
    open();
    EXPECT_TRUE(wizard_shell::is_initialized());
    wizard_shell::error(L"e2");
    wizard_shell::message(L"m2");
    EXPECT_TRUE(wizard_shell::question(L"q2", false));
    const auto b = ui.boxes();
    ASSERT_EQ(b.size(), 6u);
    const wchar_t* captions[] = {L"Error", L"Message", L"Question", L"T Error", L"T Message", L"T Question"};
    for (std::size_t i = 0; i < 6; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(b[i].caption, captions[i]);
        EXPECT_EQ(b[i].owner, i < 3 ? nullptr : static_cast<QWidget*>(shell.get()));
    }
    EXPECT_EQ(b[1].kind, box_kind::information);
    EXPECT_TRUE(b[2].default_no);
    EXPECT_FALSE(b[5].default_no);
}

TEST_F(sheet_test, InitWindowActsOnce)
{
    build(2);
    open();
    EXPECT_EQ(shell->windowTitle(), QStringLiteral("T"));
    EXPECT_FALSE(shell->windowIcon().isNull());
    shell->setWindowTitle(QStringLiteral("changed"));
    shell->init_window();
    click(sheet_next_id);
    EXPECT_EQ(shell->windowTitle(), QStringLiteral("changed"));
}

TEST_F(sheet_test, NoShellIsNotInitialized)
{
    EXPECT_FALSE(wizard_shell::is_initialized());
    wizard_shell::write_log(L"nowhere\n");
}

TEST_F(sheet_test, WriteLogBeforeAnyPageWritesNothing)
{
    build(1);
    wizard_shell::write_log(L"early\n");
    open();
    EXPECT_TRUE(page(201).log->toPlainText().isEmpty());
    wizard_shell::write_log(L"a\r\nb\rc");
    wizard_shell::write_log_ansi("\xC3\xA9");
    EXPECT_EQ(page(201).log->toPlainText(), QString::fromUtf8("a\nb\nc\xC3\xA9"));
}

TEST_F(sheet_test, ThePageWithoutALogBoxTakesNothing)
{
    // The trace says where the text went: nowhere.
    const std::string trace = work.file("trace.log");
    tk_logger logger(trace.c_str(), true, 1, false);
    shell = std::make_unique<wizard_shell>(L"T", 0, 0, 0);
    stub_page bare(601, wiz_next, 0, false);
    stub_page with_log(602);
    shell->add_page(&bare);
    shell->add_page(&with_log);
    shell->show();
    ASSERT_EQ(shell->current_idd(), 601);
    wizard_shell::write_log(L"lost on the GUI thread\n");
    std::thread worker([] { wizard_shell::write_log(L"lost from a worker\n"); });
    worker.join();
    // The worker's text is queued on the bare page: taken in here.
    QCoreApplication::sendPostedEvents(&bare, QEvent::MetaCall);
    shell->set_current(602);
    wizard_shell::write_log(L"kept\n");
    EXPECT_EQ(with_log.log->toPlainText().toStdString(), "kept\n");
    const std::string traced = tk_test::read_file(trace);
    std::size_t refusals = 0;
    for (std::size_t at = 0; (at = traced.find("Editbox failed to be initialized", at)) != std::string::npos; ++at)
        ++refusals;
    EXPECT_EQ(refusals, 2u) << traced;
    shell.reset();
}

TEST_F(sheet_test, TheLogBoxStopsAtItsCap)
{
    build(1);
    open();
    std::wstring line(99, L'x');
    line += L'\n';
    std::wstring almost;
    for (int i = 0; i < log_box_cap / 100 - 1; ++i)
        almost += line;
    almost += std::wstring(90, L'y');
    wizard_shell::write_log(almost);
    wizard_shell::write_log(L"0123456789abcdef");
    wizard_shell::write_log(L"more");
    const QString text = page(201).log->toPlainText();
    EXPECT_EQ(text.size(), log_box_cap);
    EXPECT_TRUE(text.endsWith(QStringLiteral("y0123456789")));
}

TEST_F(sheet_test, ErrorsKeepTheFirstTwenty)
{
    build(1);
    for (int i = 0; i < 25; ++i)
        EXPECT_EQ(shell->add_error("e" + std::to_string(i)), i < 20);
    EXPECT_EQ(shell->error_count(), 20u);
    const auto texts = shell->error_texts();
    EXPECT_EQ(texts.front(), "e0");
    EXPECT_EQ(texts.back(), "e19");
}

TEST_F(sheet_test, LinesFromAWorkerArriveInOrderInThePageCurrentAtTheCall)
{
    build(2);
    open();
    // The GUI thread joins the worker without running its event loop: a
    // worker that waited for the GUI would never end.
    std::thread worker([] {
        for (int i = 0; i < 1000; ++i)
            wizard_shell::write_log(L"line " + std::to_wstring(i) + L"\n");
    });
    worker.join();
    EXPECT_TRUE(page(201).log->toPlainText().isEmpty());
    shell->set_current(202);
    ASSERT_TRUE(wait_for_state([&] { return page(201).log->blockCount() > 1000; }, "the worker's 1000 lines on page 201"));
    const QStringList lines = page(201).log->toPlainText().split(u'\n');
    ASSERT_EQ(lines.size(), 1001);
    for (int i = 0; i < 1000; ++i)
        ASSERT_EQ(lines[i], QStringLiteral("line %1").arg(i));
    EXPECT_TRUE(page(202).log->toPlainText().isEmpty());
}

TEST_F(sheet_test, ABoxAskedFromAWorkerGivesTheScriptedAnswer)
{
    build(1);
    open();
    ui.answers = {true, false};
    std::atomic<int> done{0};
    bool first = false;
    bool second = true;
    std::thread worker([&] {
        first = wizard_shell::question(L"from a worker?", true);
        second = wizard_shell::question(L"again?", true);
        wizard_shell::error(L"worker error");
        done = 1;
    });
    const bool finished = wait_for_state([&] { return done.load() == 1; }, "the worker's boxes");
    worker.join();
    ASSERT_TRUE(finished);
    EXPECT_TRUE(first);
    EXPECT_FALSE(second);
    const auto b = ui.boxes();
    ASSERT_EQ(b.size(), 3u);
    EXPECT_EQ(b[2].caption, L"T Error");
    EXPECT_EQ(b[2].owner, shell.get());
}

TEST_F(sheet_test, TheTimerTicksTheCurrentPageAndASecondStartRaisesOnTheCaller)
{
    build(1);
    open();
    std::atomic<int> stage{0};
    int level = -1;
    std::string what;
    std::thread worker([&] {
        shell->set_timer(20);
        try {
            shell->set_timer(20);
        } catch (const tk_exception& e) {
            level = e.level;
            what = e.message;
        }
        stage = 1;
    });
    const bool finished = wait_for_state([&] { return stage.load() == 1; }, "the worker's first stage");
    worker.join();
    ASSERT_TRUE(finished);
    EXPECT_EQ(level, 2);
    EXPECT_EQ(what, tk_mail_assertion("g_wiz_sh", 260).message);
    EXPECT_TRUE(shell->timer_running());
    ASSERT_TRUE(wait_for_state([&] { return page(201).ticks >= 2; }, "two ticks of page 201"));
    page(201).timer_fn = [&] { shell->kill_timer(); };
    ASSERT_TRUE(wait_for_state([&] { return !shell->timer_running(); }, "the timer to stop"));
    const int ticks = page(201).ticks;
    QTest::qWait(100);
    EXPECT_EQ(page(201).ticks, ticks);
    shell->set_timer(20);
    EXPECT_TRUE(shell->timer_running());
}

TEST_F(sheet_test, ATickWhileTheLastStillRunsIsDropped)
{
    build(1);
    open();
    int depth = 0;
    int deepest = 0;
    page(201).timer_fn = [&] {
        ++depth;
        deepest = std::max(deepest, depth);
        QTest::qWait(60);  // a box open inside the tick
        --depth;
    };
    shell->set_timer(10);
    ASSERT_TRUE(wait_for_state([&] { return page(201).ticks >= 3; }, "three ticks of page 201"));
    shell->kill_timer();
    EXPECT_EQ(deepest, 1);
}

TEST_F(sheet_test, CancelWhileAWorkerRunsClosesOnceItEnded)
{
    struct worker_page : stub_page {
        worker_page() : stub_page(701) {}
        bool request_worker_stop() override
        {
            stop_asked = true;
            return true;
        }
        bool worker_ended() override { return ended; }
        bool stop_asked = false;
        bool ended = false;
    };
    shell = std::make_unique<wizard_shell>(L"T", 0, 0, 0);
    worker_page p;
    shell->add_page(&p);
    shell->show();
    ui.answers = {true};
    click(sheet_cancel_id);
    EXPECT_TRUE(p.stop_asked);
    EXPECT_TRUE(shell->close_pending());
    QTest::qWait(120);
    EXPECT_TRUE(shell->isVisible());
    EXPECT_FALSE(shell->button(sheet_next_id)->isEnabled());
    p.ended = true;
    ASSERT_TRUE(wait_for_state([&] { return !shell->isVisible(); }, "the sheet to close"));
    EXPECT_EQ(shell->result(), 0);
    shell.reset();
}

TEST_F(sheet_test, ExteriorPagesShowTheWatermarkAndInteriorPagesTheHeaderBand)
{
    shell = std::make_unique<wizard_shell>(L"T", 501, 311, 312);
    stub_page outside(103, wiz_next, page_exterior | page_has_help, false);
    stub_page inside(134);
    shell->add_page(&outside);
    shell->add_page(&inside);
    shell->show();
    auto visible_label = [&](const QString& text) {
        for (QLabel* l : shell->findChildren<QLabel*>())
            if (l->text() == text && l->isVisible())
                return true;
        return false;
    };
    auto visible_image_width = [&](int width) {
        for (QLabel* l : shell->findChildren<QLabel*>())
            if (l->isVisible() && !l->pixmap().isNull() && l->pixmap().width() == width)
                return true;
        return false;
    };
    EXPECT_TRUE(visible_image_width(164));   // the watermark
    EXPECT_FALSE(visible_image_width(49));   // the header image
    QTest::mouseClick(shell->button(sheet_next_id), Qt::LeftButton);
    ASSERT_EQ(shell->current_idd(), 134);
    EXPECT_FALSE(visible_image_width(164));
    EXPECT_TRUE(visible_image_width(49));
    EXPECT_TRUE(visible_label(QStringLiteral("Title 134")));
    EXPECT_TRUE(visible_label(QStringLiteral("Subtitle")));
    shell.reset();
}
