// The finish page over the real sheet (its texts, its error list, Save
// Settings) and the two error dialogs: Continue/Abort with its check box,
// and the internal error with Copy and Send bug.

#include "wizard_progress_support.h"

#include "dlg_error_continue.h"
#include "dlg_error_ex.h"
#include "recording_front_end.h"

#include "tk_utils.h"

#include <QCheckBox>
#include <QLabel>
#include <QPlainTextEdit>

#include <sys/stat.h>

using namespace wizard_test;

namespace {

class finish_test : public progress_sheet {
protected:
    // A sheet of the finish page alone, activated.
    void show_finish()
    {
        shell = std::make_unique<wizard_shell>(L"T", 501, 311, 312);
        finish = std::make_unique<gui_finish_page_t<velconv_convertor>>(L"All\nwent well.", L"Errors:\nsee below.");
        finish->set_profile_extension(L"velc");
        shell->add_page(finish.get());
        shell->show();
    }
    QLabel* text() const { return finish->findChild<QLabel*>("1314"); }
    QPlainTextEdit* list() const { return finish->findChild<QPlainTextEdit*>("1016"); }
};

}  // namespace

TEST_F(finish_test, WithoutErrorsTheSuccessTextAndNoListWithCancelAndHelpDisabled)
{
    show_finish();
    EXPECT_EQ(text()->text(), "All\nwent well.");
    EXPECT_FALSE(list()->isVisible());
    EXPECT_FALSE(shell->button(sheet_cancel_id)->isEnabled());
    EXPECT_FALSE(shell->button(sheet_help_id)->isEnabled());
    EXPECT_TRUE(shell->button(sheet_finish_id)->isVisible());
    EXPECT_EQ(finish->findChild<QLabel*>("1313")->text(), "Conversion is Completed");
    EXPECT_EQ(finish->findChild<QPushButton*>("1116")->text(), "&Save Settings...");
    // Esc does nothing while Cancel is disabled; Finish closes with 1.
    QTest::keyClick(shell.get(), Qt::Key_Escape);
    EXPECT_TRUE(shell->isVisible());
    click(*shell, sheet_finish_id);
    EXPECT_FALSE(shell->isVisible());
    EXPECT_EQ(shell->result(), 1);
    EXPECT_TRUE(ui.boxes().empty());
}

TEST_F(finish_test, ErrorsShowTheErrorTextAndOneParagraphEachWithLineFeedsAsBlanks)
{
    shell = std::make_unique<wizard_shell>(L"T", 501, 311, 312);
    shell->add_error("first\nline");
    shell->add_error("second");
    finish = std::make_unique<gui_finish_page_t<velconv_convertor>>(L"ok", L"Errors:\nsee below.");
    shell->add_page(finish.get());
    shell->show();
    EXPECT_EQ(text()->text(), "Errors:\nsee below.");
    EXPECT_TRUE(list()->isVisible());
    EXPECT_TRUE(list()->isReadOnly());
    EXPECT_EQ(list()->toPlainText(), "first line\n\nsecond\n\n");
}

TEST_F(finish_test, SaveSettingsAddsTheExtensionToANameWithoutOneAndAsksBeforeReplacing)
{
    show_finish();
    ::mkdir(work.file("d").c_str(), 0755);
    ::mkdir(work.file("d.velc").c_str(), 0755);
    struct row {
        std::string chosen;
        std::string written;
    };
    const row rows[] = {
        {"d/p", "d/p.velc"},
        {"d/q.velc", "d/q.velc"},
        {"d.velc/p", "d.velc/p.velc"},
        {"d/r.VELC", "d/r.VELC"},
        {"d/notes.txt", "d/notes.txt"},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.chosen);
        ui.file_answers.push_back(tk_utf8_to_wide(work.file(r.chosen)));
        click(*finish, save_settings_id);
        EXPECT_TRUE(tk_is_file_exist(work.file(r.written), 0));
    }
    EXPECT_FALSE(tk_is_file_exist(work.file("d/notes.txt.velc"), 0));
    EXPECT_TRUE(ui.boxes().empty());
    const auto requests = ui.file_requests();
    ASSERT_FALSE(requests.empty());
    EXPECT_TRUE(requests[0].save);
    EXPECT_EQ(requests[0].title, L"Select Profile File");
    EXPECT_EQ(requests[0].filters,
              (std::vector<file_filter>{{L"Profile Files (.velc)", L"*.velc"}, {L"All Files (*.*)", L"*.*"}}));

    // An existing profile: No, then Cancel, leaves it as it was; Yes
    // replaces it.
    const std::string existing = work.file("d/p.velc");
    tk_test::write_file(existing, "as it was");
    ui.file_answers.push_back(tk_utf8_to_wide(work.file("d/p")));
    ui.file_answers.push_back(std::nullopt);
    ui.answers.push_back(false);
    click(*finish, save_settings_id);
    ASSERT_EQ(ui.boxes().size(), 1u);
    EXPECT_EQ(ui.boxes()[0].kind, box_kind::question);
    EXPECT_EQ(tk_test::read_file(existing), "as it was");
    ui.file_answers.push_back(tk_utf8_to_wide(work.file("d/p")));
    ui.answers.push_back(true);
    click(*finish, save_settings_id);
    ASSERT_EQ(ui.boxes().size(), 2u);
    EXPECT_EQ(tk_test::read_file(existing).rfind("[", 0), 0u);
}

TEST_F(finish_test, AProfileThatCannotBeSavedGetsItsBoxAndTheChooserStartsInTheDocumentsFolder)
{
    show_finish();
    tk_test::write_file(work.file("plain"), "x");
    ui.file_answers.push_back(tk_utf8_to_wide(work.file("plain/p")));
    click(*finish, save_settings_id);
    const auto boxes = ui.boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].kind, box_kind::error);
    EXPECT_EQ(boxes[0].caption, L"T Error");
    EXPECT_EQ(boxes[0].text, L"Profile cannot be saved. Please verify the folder exists and can be written.");
    EXPECT_FALSE(tk_is_file_exist(work.file("plain/p.velc"), 0));
    const auto requests = ui.file_requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].folder, tk_get_user_home_wpath());
    EXPECT_EQ(requests[0].name, L"");
}

TEST_F(finish_test, ContinueEscAndTheCloseBoxGive2OnlyAbortGives1AndTheCheckBoxGivesQuiet)
{
    struct row {
        const char* name;
        std::function<void(QDialog&)> act;
        int ticks;
        int result;
        bool quiet;
    };
    const auto press = [](int id) {
        return [id](QDialog& d) { QTest::mouseClick(d.findChild<QPushButton*>(QString::number(id)), Qt::LeftButton); };
    };
    const std::vector<row> rows = {
        {"Continue", press(dlg_continue_id), 0, 2, false},
        {"Abort", press(dlg_abort_id), 0, 1, false},
        {"Esc", [](QDialog& d) { QTest::keyClick(&d, Qt::Key_Escape); }, 0, 2, false},
        {"the close box", [](QDialog& d) { d.close(); }, 0, 2, false},
        {"tick, then Continue", press(dlg_continue_id), 1, 2, true},
        {"tick twice, then Continue", press(dlg_continue_id), 2, 2, false},
        {"Enter takes the default, Continue", [](QDialog& d) { QTest::keyClick(&d, Qt::Key_Return); }, 0, 2, false},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.name);
        dlg_error_continue<115> dialog(L"Failed\r\nhere");
        ui.dialog_handlers["115"] = [&](QDialog& d) {
            auto* box = d.findChild<QCheckBox*>("1222");
            EXPECT_EQ(box->text(), "&Do not show this dialog box again");
            EXPECT_FALSE(box->isChecked());
            EXPECT_EQ(d.findChild<QLabel*>("1320")->text(), "Failed\nhere");
            EXPECT_EQ(d.windowTitle(), "Error");
            for (int i = 0; i < r.ticks; ++i)
                QTest::mouseClick(box, Qt::LeftButton);
            r.act(d);
        };
        EXPECT_EQ(dialog.run(), r.result);
        EXPECT_EQ(dialog.quiet(), r.quiet);
    }
}

TEST_F(finish_test, TheInternalErrorDialogClosesOnlyByItsButtonsAndTheProgramEndsWithMinusOne)
{
    // Before the sheet: the bare caption and an empty title in the mail.
    ui.dialog_handlers["114"] = [&](QDialog& d) {
        EXPECT_EQ(d.windowTitle(), "Error");
        EXPECT_EQ(d.findChild<QLabel*>("1320")->text(), "It broke");
        QTest::keyClick(&d, Qt::Key_Escape);
        d.close();
        EXPECT_TRUE(d.isVisible());
        click(d, dlg_copy_id);
        EXPECT_TRUE(d.isVisible());
        EXPECT_EQ(ui.clipboard(), std::vector<std::wstring>{L"It broke"});
        screenshot(d, "internal-error-dialog.png");
        click(d, dlg_send_bug_id);
    };
    EXPECT_THROW(reporter.handle(tk_exception("It broke", 2), false), front_end_exit);
    EXPECT_EQ(ui.end_code(), -1);
    ASSERT_EQ(ui.urls().size(), 1u);
    EXPECT_EQ(ui.urls()[0], tk_bug_mail_uri("", "It broke"));
    EXPECT_NE(tk_bug_mail_uri("", "It broke").find("subject=Bug%20report%20on%20"), std::string::npos);
}

TEST_F(finish_test, TheInternalErrorDialogOfARunningWizardNamesTheTitleAndOkGives1)
{
    show_finish();
    int result = 0;
    ui.dialog_handlers["114"] = [&](QDialog& d) {
        EXPECT_EQ(d.windowTitle(), "T Error");
        click(d, dlg_send_bug_id);
    };
    dlg_error_ex<114> mailed(L"Boom");
    EXPECT_EQ(mailed.run(), dlg_send_bug_id);
    ASSERT_EQ(ui.urls().size(), 1u);
    EXPECT_EQ(ui.urls()[0], tk_bug_mail_uri("T", "Boom"));
    ui.dialog_handlers["114"] = [&](QDialog& d) { click(d, dlg_ok_id); };
    dlg_error_ex<114> plain(L"Boom");
    result = plain.run();
    EXPECT_EQ(result, dlg_ok_id);
    EXPECT_EQ(ui.urls().size(), 1u);
}
