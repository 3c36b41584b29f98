// The welcome, connection and dump-file pages, the overwrite dialog and the
// table page, driven through the real sheet over run_wizard with the
// scripted desktop; nothing here needs the server.

#include "wizard_page_driving.h"

#include "converter_fakes.h"
#include "run_wizard.h"

#include "dmx_sel_tables_page.h"
#include "overwrite_dlg2.h"
#include "pgs_settings_page.h"
#include "sel_file_page.h"
#include "welcome_page.h"

#include "ora_dump_reader.h"
#include "velconv_convertor.h"

#include "tk_utils.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QDir>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>

#include <sys/stat.h>

using namespace wizard_test;

namespace {

// The sheet (or a dialog) as a picture for a person to look at.
void screenshot(QWidget& w, const char* name)
{
    QDir().mkpath(QStringLiteral(VELC_SCREENSHOT_DIR));
    const QString path = QStringLiteral(VELC_SCREENSHOT_DIR "/") + QString::fromUtf8(name);
    const QPixmap picture = w.grab();
    ASSERT_TRUE(picture.save(path, "PNG")) << name;
    const QImage image(path);
    EXPECT_EQ(image.size(), w.size()) << name;
}

std::vector<std::wstring> list_texts(QWidget* page, int id)
{
    std::vector<std::wstring> out;
    auto* list = page->findChild<QListWidget*>(QString::number(id));
    for (int i = 0; i < list->count(); ++i)
        out.push_back(list->item(i)->text().toStdWString());
    return out;
}

class pages_test : public pages_fixture {};

}  // namespace

// ---------------------------------------------------------------- welcome

TEST_F(pages_test, TheWelcomePageShowsItsControlsAndTheLinkOpensTheMakersSite)
{
    run_sheet([&](wizard_shell& shell) {
        EXPECT_EQ(shell.current_idd(), 103);
        EXPECT_EQ(shell.page_ids(), (std::vector<int>{103, 134, 105, 108, 127, 107, 116}));
        wizard_page_base* page = shell.current_page();
        EXPECT_EQ(page->control_as<QLabel>(welcome_title_id)->text().toStdString(),
                  "Welcome to Velmora to PostgreSQL Conversion Wizard\n");
        EXPECT_EQ(page->control_as<QLabel>(welcome_title_id)->font().pointSize(), 13);
        EXPECT_EQ(page->control_as<QPushButton>(welcome_load_id)->text().toStdString(), "&Load Settings...");
        auto* link = page->control_as<QLabel>(welcome_link_id);
        EXPECT_EQ(link->toolTip().toStdString(), "https://fennick.example/");
        EXPECT_NE(link->text().indexOf(QStringLiteral("Fennick")), -1);
        emit link->linkActivated(QStringLiteral("https://fennick.example/"));
        EXPECT_FALSE(shell.button(sheet_back_id)->isEnabled());
        EXPECT_TRUE(shell.button(sheet_help_id)->isEnabled());
        screenshot(shell, "welcome.png");
    });
    EXPECT_EQ(ui.urls(), std::vector<std::string>{"https://fennick.example/"});
}

TEST_F(pages_test, LoadingAProfileAppliesItsSettingsToThePagesThatFollow)
{
    const std::string profile = work.file("p.velc");
    tk_test::write_file(profile, "[Generic settings]\r\nsrc=/d/exp.dmp\r\ndest=target\r\n"
                                 "[pgs settings]\r\nhost=db.example\r\nuser=alice\r\nport=5433\r\n");
    ui.file_answers.push_back(QString::fromStdString(profile).toStdWString());
    run_sheet([&](wizard_shell& shell) {
        click(shell.current_page(), welcome_load_id);
        shell.set_current(134);
        wizard_page_base* page = shell.current_page();
        EXPECT_TRUE(page->control_as<QRadioButton>(conn_remote_id)->isChecked());
        EXPECT_TRUE(edit(page, conn_host_id)->isEnabled());
        EXPECT_EQ(text_of(page, conn_host_id), "db.example");
        EXPECT_EQ(text_of(page, conn_user_id), "alice");
        EXPECT_EQ(text_of(page, conn_port_id), "5433");
        shell.set_current(105);
        EXPECT_EQ(text_of(shell.current_page(), file_src_id), "/d/exp.dmp");
        EXPECT_EQ(text_of(shell.current_page(), file_dest_id), "target");
    });
    const auto requests = ui.file_requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].title, L"Select Profile File");
    EXPECT_EQ(requests[0].filters,
              (std::vector<file_filter>{{L"Profile Files (.velc)", L"*.velc"}, {L"All Files (*.*)", L"*.*"}}));
    EXPECT_EQ(requests[0].folder, tk_get_user_home_wpath());
    EXPECT_EQ(requests[0].name, L"");
}

TEST_F(pages_test, AProfileThatFailsOrIsNoProfileIsShownAndTheWizardGoesOn)
{
    struct row {
        const char* name;
        std::string content;
        std::wstring text;
    };
    const std::vector<row> rows = {
        {"a refused mode", "[Generic settings]\r\nmode=x\r\n", L"Invalid merge/overwrite mode"},
        {"a pair before the first header", "user=early\r\n[pgs settings]\r\nuser=pair\r\n",
         L"Profile cannot be loaded. Please verify the file is a valid profile."},
        {"a missing file", "", L"Profile does not exist. Please verify the correct path/name was given."},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.name);
        const std::string profile = work.file(std::string("bad-") + std::to_string(&r - rows.data()) + ".velc");
        if (!r.content.empty())
            tk_test::write_file(profile, r.content);
        ui.file_answers.push_back(QString::fromStdString(profile).toStdWString());
        const std::size_t before = ui.boxes().size();
        prepare = [](velconv_convertor& c) { c.user = "earlier"; };
        run_sheet([&](wizard_shell& shell) {
            click(shell.current_page(), welcome_load_id);
            EXPECT_EQ(shell.current_idd(), 103);
            EXPECT_TRUE(shell.isVisible());
            shell.set_current(134);
            EXPECT_EQ(text_of(shell.current_page(), conn_user_id), "earlier");
        });
        const auto boxes = ui.boxes();
        ASSERT_GE(boxes.size(), before + 1);
        EXPECT_EQ(boxes[before].kind, box_kind::error);
        EXPECT_NE(boxes[before].text.find(r.text), std::wstring::npos) << utf8(boxes[before].text);
    }
}

// ------------------------------------------------------------- connection

TEST_F(pages_test, ThePortIsADecimalNumberOrNothingAndARefusedOneKeepsTheOldValue)
{
    struct row {
        const char* text;
        int stored;  // after Back, the old value 77 being kept on a refusal
        bool refused;
    };
    const std::vector<row> rows = {
        {"", 0, false},       {"0", 0, false},        {"5433", 5433, false}, {"abc", 77, true},
        {"12x", 77, true},    {"-1", 77, true},       {"70000", 77, true},   {" 5433", 77, true},
        {"65535", 65535, false}, {"65536", 77, true},
    };
    prepare = [](velconv_convertor& c) { c.port = 77; };
    run_sheet([&](wizard_shell& shell) {
        shell.set_current(134);
        wizard_page_base* page = shell.current_page();
        for (const row& r : rows) {
            SCOPED_TRACE(r.text);
            converter->port = 77;
            type(page, conn_port_id, r.text);
            type(page, conn_user_id, std::string("u-") + r.text);
            click(&shell, sheet_back_id);
            EXPECT_EQ(shell.current_idd(), 103);
            EXPECT_EQ(converter->port, r.stored);
            EXPECT_EQ(converter->user, std::string("u-") + r.text);
            shell.set_current(134);
            if (r.refused) {
                // Next says so and does not connect: the page stays.
                type(page, conn_port_id, r.text);
                const std::size_t before = ui.boxes().size();
                click(&shell, sheet_next_id);
                EXPECT_EQ(shell.current_idd(), 134);
                ASSERT_EQ(ui.boxes().size(), before + 1);
                EXPECT_EQ(ui.boxes().back().text, L"Invalid port number");
            }
        }
        // A stored 0 still shows "0".
        converter->port = 0;
        shell.set_current(103);
        shell.set_current(134);
        EXPECT_EQ(text_of(page, conn_port_id), "0");
    });
    EXPECT_EQ(parse_port_text("1"), 1);
    EXPECT_EQ(parse_port_text("00"), std::nullopt);
}

TEST_F(pages_test, ARefusedConnectionShowsEachLineOfTheServersTextOnALineOfItsOwn)
{
    dead_port port;
    run_sheet([&](wizard_shell& shell) {
        shell.set_current(134);
        fill_remote_connection(shell, "127.0.0.1", port.port(), "nobody");
        EXPECT_EQ(shell.current_idd(), 134);
    });
    ASSERT_EQ(ui.boxes().size(), 2u);  // the refusal, then the exit question
    const std::wstring text = ui.boxes()[0].text;
    EXPECT_EQ(ui.boxes()[0].kind, box_kind::error);
    EXPECT_NE(text.find(std::to_wstring(port.port())), std::wstring::npos) << utf8(text);
    // The client library's second line, which it indents with a tab.
    EXPECT_NE(text.find(L"\nIs the server running"), std::wstring::npos) << utf8(text);
    EXPECT_EQ(text.find(L'\t'), std::wstring::npos) << utf8(text);
    EXPECT_NE(text.back(), L'\n') << utf8(text);
}

TEST_F(pages_test, LocalModeIgnoresTheHostTextAndTheRadiosSwitchTheHostEdit)
{
    prepare = [](velconv_convertor& c) { c.host.clear(); };
    run_sheet([&](wizard_shell& shell) {
        shell.set_current(134);
        wizard_page_base* page = shell.current_page();
        EXPECT_TRUE(page->control_as<QRadioButton>(conn_local_id)->isChecked());
        EXPECT_FALSE(edit(page, conn_host_id)->isEnabled());
        click(page, conn_remote_id);
        EXPECT_TRUE(edit(page, conn_host_id)->isEnabled());
        type(page, conn_host_id, "somewhere");
        click(page, conn_local_id);
        EXPECT_FALSE(edit(page, conn_host_id)->isEnabled());
        click(&shell, sheet_back_id);
        EXPECT_EQ(converter->host, "");
        shell.set_current(134);
        // Local again, the typed text left in the disabled edit.
        EXPECT_TRUE(page->control_as<QRadioButton>(conn_local_id)->isChecked());
        EXPECT_EQ(text_of(page, conn_host_id), "somewhere");
        click(page, conn_remote_id);
        click(&shell, sheet_back_id);
        EXPECT_EQ(converter->host, "somewhere");
        shell.set_current(134);
        EXPECT_TRUE(page->control_as<QRadioButton>(conn_remote_id)->isChecked());
        screenshot(shell, "connection.png");
    });
}

// -------------------------------------------------------------- dump file

TEST_F(pages_test, TheDumpFilePageKeepsItsEditsWhenTheConverterHasNoFiles)
{
    prepare = [](velconv_convertor& c) {
        c.src.clear();
        c.dest.clear();
    };
    const std::string log = work.file("run.log");
    run_sheet([&](wizard_shell& shell) {
        shell.set_current(105);
        wizard_page_base* page = shell.current_page();
        type(page, file_src_id, "typed.dmp");
        type(page, file_log_id, log);
        shell.set_current(103);
        shell.set_current(105);
        EXPECT_EQ(text_of(page, file_src_id), "typed.dmp");
        EXPECT_EQ(text_of(page, file_log_id), log);
        screenshot(shell, "dump-file.png");
    });
}

TEST_F(pages_test, TheOptionsGoToTheConverterAndItsTwoCopies)
{
    prepare = [](velconv_convertor& c) {
        c.tab_def = 1;
        c.skip_idx = 0;
        c.case_sens = 0;
        c.use_schema = 0;
    };
    run_sheet([&](wizard_shell& shell) {
        shell.set_current(105);
        wizard_page_base* page = shell.current_page();
        EXPECT_TRUE(page->control_as<QCheckBox>(file_tab_def_id)->isChecked());
        EXPECT_FALSE(page->control_as<QCheckBox>(file_case_sens_id)->isChecked());
        click(page, file_tab_def_id);
        click(page, file_skip_idx_id);
        click(page, file_case_sens_id);
        click(page, file_use_schema_id);
        click(&shell, sheet_back_id);
        EXPECT_EQ(converter->tab_def, 0);
        EXPECT_EQ(converter->skip_idx, 1);
        EXPECT_EQ(converter->case_sens, 1);
        EXPECT_TRUE(converter->engine.keep_case);
        EXPECT_EQ(converter->use_schema, 1);
        EXPECT_TRUE(converter->opener().reader().merge_schema);
    });
}

TEST_F(pages_test, NextSaysWhatIsMissingInOrderAndStays)
{
    const std::string dump = work.file("exp.dmp");
    tk_test::write_file(dump, "EXPORT:V10.02.01\n");
    ::mkdir(work.file("folder.dmp").c_str(), 0755);
    const std::wstring missing = L"Source file does not exist.\r\nPlease verify the correct path was given.";
    struct row {
        std::string src, dest;
        box_kind kind;
        std::wstring text;
    };
    const std::vector<row> rows = {
        {"", "d", box_kind::information, L"You should enter Oracle dump file name"},
        {work.file("none.dmp"), "d", box_kind::error, missing},
        {work.file("folder.dmp"), "d", box_kind::error, missing},
        {dump, "", box_kind::information, L"You should enter PostgreSQL database name"},
    };
    run_sheet([&](wizard_shell& shell) {
        shell.set_current(105);
        wizard_page_base* page = shell.current_page();
        for (const row& r : rows) {
            SCOPED_TRACE(r.src + "|" + r.dest);
            type(page, file_src_id, r.src);
            type(page, file_dest_id, r.dest);
            const std::size_t before = ui.boxes().size();
            click(&shell, sheet_next_id);
            EXPECT_EQ(shell.current_idd(), 105);
            ASSERT_EQ(ui.boxes().size(), before + 1);
            EXPECT_EQ(ui.boxes().back().kind, r.kind);
            EXPECT_EQ(ui.boxes().back().text, r.text);
            // The values were stored before the check.
            EXPECT_EQ(converter->src, QString::fromStdString(r.src).toStdWString());
        }
    });
}

TEST_F(pages_test, BackWithARefusedLogFileShowsTheRefusalAndThePageStays)
{
    run_sheet([&](wizard_shell& shell) {
        shell.set_current(105);
        wizard_page_base* page = shell.current_page();
        type(page, file_log_id, work.file("no-such-folder/run.log"));
        const std::size_t before = ui.boxes().size();
        click(&shell, sheet_back_id);
        EXPECT_EQ(shell.current_idd(), 105);
        EXPECT_TRUE(shell.isVisible());
        ASSERT_EQ(ui.boxes().size(), before + 1);
        EXPECT_EQ(ui.boxes().back().kind, box_kind::error);
        // The wizard goes on: a good name then lets Back through.
        type(page, file_log_id, "");
        click(&shell, sheet_back_id);
        EXPECT_EQ(shell.current_idd(), 134);
    });
}

TEST_F(pages_test, TheBrowseButtonsOfferTheirFiltersAndFillTheEdits)
{
    ui.file_answers.push_back(L"/chosen/exp.dmp");
    ui.file_answers.push_back(std::nullopt);
    run_sheet([&](wizard_shell& shell) {
        shell.set_current(105);
        wizard_page_base* page = shell.current_page();
        type(page, file_src_id, work.file("old.dmp"));
        type(page, file_log_id, "kept.log");
        click(page, file_browse_src_id);
        click(page, file_browse_log_id);
        EXPECT_EQ(text_of(page, file_src_id), "/chosen/exp.dmp");
        EXPECT_EQ(text_of(page, file_log_id), "kept.log");
    });
    const auto r = ui.file_requests();
    ASSERT_EQ(r.size(), 2u);
    EXPECT_FALSE(r[0].save);
    EXPECT_EQ(r[0].title, L"Select Oracle Dump File");
    EXPECT_EQ(r[0].filters,
              (std::vector<file_filter>{{L"Oracle Dump Files (.dmp)", L"*.dmp"}, {L"All Files (*.*)", L"*.*"}}));
    EXPECT_EQ(utf8(r[0].folder), work.path() + "/");
    EXPECT_EQ(r[0].name, L"old");
    EXPECT_EQ(r[1].title, L"Select Log File");
    EXPECT_EQ(r[1].filters,
              (std::vector<file_filter>{{L"Log Files (.log)", L"*.log"}, {L"All Files (*.*)", L"*.*"}}));
}

// ------------------------------------------------------ overwrite dialog

namespace {

class overwrite_test : public fixture {
protected:
    int run(std::function<void(QDialog&)> handler, int& mode)
    {
        ui.dialog_handlers["121"] = std::move(handler);
        overwrite_dlg2<121> dialog(1016, overwrite_question);
        const int result = dialog.run();
        mode = dialog.chosen_mode();
        return result;
    }
};

}  // namespace

TEST_F(overwrite_test, EachRadioGivesItsModeAndCancelEscAndCloseGiveTwo)
{
    const std::vector<std::pair<int, int>> radios = {
        {overwrite_entire_id, 0}, {overwrite_tables_id, 1}, {overwrite_skip_id, 2}, {overwrite_merge_id, 3}};
    for (const auto& [id, expected] : radios) {
        SCOPED_TRACE(id);
        int mode = -1;
        const int result = run(
            [id = id](QDialog& d) {
                EXPECT_TRUE(d.findChild<QRadioButton*>(QString::number(overwrite_entire_id))->isChecked());
                click(&d, id);
                click(&d, dialog_ok_id);
            },
            mode);
        EXPECT_EQ(result, 1);
        EXPECT_EQ(mode, expected);
    }
    const std::vector<std::pair<const char*, std::function<void(QDialog&)>>> leaves = {
        {"Cancel", [](QDialog& d) { click(&d, dialog_cancel_id); }},
        {"Esc", [](QDialog& d) { QTest::keyClick(&d, Qt::Key_Escape); }},
        {"close box", [](QDialog& d) { d.close(); }},
    };
    for (const auto& [name, leave] : leaves) {
        SCOPED_TRACE(name);
        int mode = -1;
        EXPECT_EQ(run(leave, mode), 2);
    }
}

TEST_F(overwrite_test, ItWarnsWithTheTitleAndABeepAndHelpLeavesItOpen)
{
    tk_test::write_file(help.file("overwrite.html"), "<html></html>");
    int mode = -1;
    const int result = run(
        [this](QDialog& d) {
            EXPECT_EQ(d.windowTitle().toStdWString(), make_title() + L" Warning");
            EXPECT_EQ(d.findChild<QLabel*>(QString::number(overwrite_message_id))->text().toStdString(),
                      "The destination database already exists. Select one of the\noptions below. Click 'Help' "
                      "button for more information.");
            EXPECT_EQ(ui.beeps(), 1);
            click(&d, dialog_help_id);
            EXPECT_TRUE(d.isVisible());
            screenshot(d, "overwrite-dialog.png");
            click(&d, dialog_cancel_id);
        },
        mode);
    EXPECT_EQ(result, 2);
    ASSERT_EQ(ui.urls().size(), 1u);
    EXPECT_EQ(ui.urls()[0], "file://" + help.file("overwrite.html"));
}

// ----------------------------------------------------------------- tables

namespace {

class tables_test : public pages_test {
protected:
    void offer(std::vector<std::wstring> names)
    {
        prepare = [names, this](velconv_convertor& c) {
            std::vector<fake::table_script> tables;
            for (const std::wstring& n : names)
                tables.push_back(fake::table(n));
            c.opener().set_database(std::make_unique<fake::script_source>(tables));
            if (also)
                also(c);
        };
    }
    std::function<void(velconv_convertor&)> also;
};

const std::vector<std::wstring> mixed = {L"Zeta", L"EMP", L"alpha", L"_x", L"Emp", L"DEPT", L"Bonus"};
// Case-blind first, then by code point: "EMP" before "Emp".
const std::vector<std::wstring> ordered = {L"_x", L"alpha", L"Bonus", L"DEPT", L"EMP", L"Emp", L"Zeta"};

}  // namespace

TEST_F(tables_test, BothListsAndTheSelectionKeepTheDefinedOrderWhateverTheOrderOfAdding)
{
    offer(mixed);
    run_sheet([&](wizard_shell& shell) {
        shell.set_current(127);
        auto* page = dynamic_cast<dmx_sel_tables_page*>(shell.current_page());
        ASSERT_NE(page, nullptr);
        EXPECT_EQ(list_texts(page, tables_available_id), ordered);
        EXPECT_EQ(page->control_as<QLabel>(tables_title_id)->text().toStdString(),
                  "Select Oracle tables to convert into PostgreSQL format.");
        EXPECT_EQ(page->control_as<QLabel>(tables_available_label_id)->text().toStdString(), "&Available tables:");
        EXPECT_EQ(page->control_as<QLabel>(tables_selected_label_id)->text().toStdString(), "&Selected tables:");
        auto* avail = page->control_as<QListWidget>(tables_available_id);
        // Add from the end, the middle and the start.
        for (const wchar_t* name : {L"Zeta", L"Emp", L"_x", L"DEPT", L"EMP", L"alpha", L"Bonus"}) {
            const auto found =
                avail->findItems(QString::fromWCharArray(name), Qt::MatchExactly | Qt::MatchCaseSensitive);
            ASSERT_EQ(found.size(), 1);
            avail->setCurrentItem(found.front());
            click(page, tables_add_id);
        }
        EXPECT_EQ(list_texts(page, tables_selected_id), ordered);
        EXPECT_TRUE(list_texts(page, tables_available_id).empty());
        // Back and forth again: Remove all, then Add all.
        click(page, tables_remove_all_id);
        EXPECT_EQ(list_texts(page, tables_available_id), ordered);
        click(page, tables_add_all_id);
        EXPECT_EQ(list_texts(page, tables_selected_id), ordered);
        screenshot(shell, "tables.png");
        click(&shell, sheet_next_id);
        EXPECT_EQ(converter->selected_tables, ordered);
        EXPECT_TRUE(ui.boxes().empty());
    });
}

TEST_F(tables_test, OnlyExactCaseMatchesOfTheProfileArePreselected)
{
    offer({L"DEPT", L"EMP", L"Emp"});
    also = [](velconv_convertor& c) {
        c.profile_selection = {{L"Emp", L""}, {L"dept", L""}, {L"NOPE", L""}};
    };
    run_sheet([&](wizard_shell& shell) {
        shell.set_current(127);
        wizard_page_base* page = shell.current_page();
        EXPECT_EQ(list_texts(page, tables_selected_id), std::vector<std::wstring>{L"Emp"});
        EXPECT_EQ(list_texts(page, tables_available_id), (std::vector<std::wstring>{L"DEPT", L"EMP"}));
    });
}

TEST_F(tables_test, AddAndRemoveMoveTheSelectedItemAndTheFocusWhenAListEmpties)
{
    offer({L"A", L"B"});
    run_sheet([&](wizard_shell& shell) {
        shell.set_current(127);
        wizard_page_base* page = shell.current_page();
        auto* avail = page->control_as<QListWidget>(tables_available_id);
        auto* sel = page->control_as<QListWidget>(tables_selected_id);
        EXPECT_EQ(avail->currentRow(), 0);
        // Nothing selected: nothing moves.
        avail->clearSelection();
        click(page, tables_add_id);
        click(page, tables_remove_id);
        EXPECT_EQ(list_texts(page, tables_available_id).size(), 2u);
        EXPECT_TRUE(list_texts(page, tables_selected_id).empty());
        // A double click adds.
        QCoreApplication::processEvents();
        const QRect second = avail->visualItemRect(avail->item(1));
        ASSERT_TRUE(second.isValid());
        QTest::mouseClick(avail->viewport(), Qt::LeftButton, {}, second.center());
        QTest::mouseDClick(avail->viewport(), Qt::LeftButton, {}, second.center());
        EXPECT_EQ(list_texts(page, tables_selected_id), std::vector<std::wstring>{L"B"});
        // The last Add: the focus goes to the selected list, its first item
        // selected.
        avail->setCurrentRow(0);
        click(page, tables_add_id);
        EXPECT_TRUE(list_texts(page, tables_available_id).empty());
        EXPECT_EQ(sel->currentRow(), 0);
        EXPECT_TRUE(sel->item(0)->isSelected());
        EXPECT_EQ(shell.focusWidget(), sel);
        // Remove mirrors it.
        sel->setCurrentRow(1);
        click(page, tables_remove_id);
        EXPECT_EQ(sel->currentRow(), 0);
        click(page, tables_remove_id);
        EXPECT_TRUE(list_texts(page, tables_selected_id).empty());
        EXPECT_EQ(avail->currentRow(), 0);
        EXPECT_EQ(shell.focusWidget(), avail);
    });
}

TEST_F(tables_test, TheNoSelectionQuestionIsAskedOnlyWhenTablesAreOffered)
{
    offer({L"A"});
    fake::call_log dest_log;
    also = [&](velconv_convertor& c) { c.set_dest_provider(std::make_unique<fake::recording_provider>(dest_log)); };
    run_sheet([&](wizard_shell& shell) {
        shell.set_current(127);
        converter->selected_tables = {L"old"};
        ui.answers.push_back(false);
        click(&shell, sheet_next_id);
        ASSERT_EQ(ui.boxes().size(), 1u);
        EXPECT_EQ(ui.boxes()[0].text, L"There are no tables selected. Continue anyway?");
        EXPECT_TRUE(ui.boxes()[0].default_no);
        EXPECT_EQ(converter->selected_tables, std::vector<std::wstring>{L"old"});
        // Back gives the dump-file page directly.
        click(&shell, sheet_back_id);
        EXPECT_EQ(shell.current_idd(), 105);
        shell.set_current(127);
        ui.answers.push_back(true);
        click(&shell, sheet_next_id);
        EXPECT_TRUE(converter->selected_tables.empty());
        // The run of no table follows.
        EXPECT_TRUE(wait_for_state([&] { return shell.current_idd() == 116; }, "page 116"));
        EXPECT_EQ(ui.boxes().size(), 2u);
        click(&shell, sheet_finish_id);
    });
}

TEST_F(tables_test, EverythingChosenAsksNoQuestion)
{
    offer({L"A"});
    fake::call_log dest_log;
    also = [&](velconv_convertor& c) { c.set_dest_provider(std::make_unique<fake::recording_provider>(dest_log)); };
    run_sheet([&](wizard_shell& shell) {
        shell.set_current(127);
        click(shell.current_page(), tables_add_all_id);
        click(&shell, sheet_next_id);
        EXPECT_EQ(converter->selected_tables, std::vector<std::wstring>{L"A"});
        EXPECT_TRUE(ui.boxes().empty());
        EXPECT_TRUE(wait_for_state([&] { return shell.current_idd() == 116; }, "page 116"));
        click(&shell, sheet_finish_id);
    });
}

TEST_F(tables_test, ADumpWithoutTablesAsksNothing)
{
    offer({});
    run_sheet([&](wizard_shell& shell) {
        shell.set_current(127);
        converter->selected_tables = {L"old"};
        click(&shell, sheet_next_id);
        EXPECT_TRUE(converter->selected_tables.empty());
        EXPECT_TRUE(ui.boxes().empty());
    });
}

TEST_F(tables_test, ACompoundOrFirstPartDumpIsToldAtEachActivation)
{
    offer({L"A"});
    also = [](velconv_convertor& c) {
        c.opener().reader().compound_dump = true;
        c.opener().reader().first_part = true;
    };
    run_sheet([&](wizard_shell& shell) {
        shell.set_current(127);
        shell.set_current(105);
        shell.set_current(127);
        const std::string compound = ora_dump_reader::message(10);
        const std::string first = ora_dump_reader::message(14);
        EXPECT_EQ(shell.error_texts(), (std::vector<std::string>{compound, first, compound, first}));
        const auto boxes = ui.boxes();
        ASSERT_EQ(boxes.size(), 4u);
        EXPECT_EQ(boxes[0].kind, box_kind::information);
        EXPECT_EQ(utf8(boxes[0].text), compound);
        EXPECT_EQ(utf8(boxes[1].text), first);
    });
}

TEST_F(tables_test, TenThousandNamesFillAndAddAllCompletes)
{
    std::vector<std::wstring> names;
    for (int i = 0; i < 10000; ++i)
        names.push_back((i % 2 ? L"t" : L"T") + std::to_wstring((i * 7919) % 10000));
    offer(names);
    run_sheet([&](wizard_shell& shell) {
        shell.set_current(127);
        wizard_page_base* page = shell.current_page();
        EXPECT_EQ(list_texts(page, tables_available_id).size(), 10000u);
        click(page, tables_add_all_id);
        const auto chosen = list_texts(page, tables_selected_id);
        ASSERT_EQ(chosen.size(), 10000u);
        EXPECT_TRUE(std::is_sorted(chosen.begin(), chosen.end(), table_name_before));
    });
}
