// The file choosers (where they open, what they hand over, the save
// extension, the current directory left alone) and the help pages.

#include "wizard_test_support.h"

#include "file_dialog.h"
#include "qt_ui_services.h"

#include "tk_exception.h"
#include "tk_utils.h"

#include <QUrl>

#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <fstream>

using namespace wizard_test;

namespace {

std::wstring wide(const std::string& s)
{
    return QString::fromStdString(s).toStdWString();
}

std::string cwd()
{
    char buf[PATH_MAX];
    return getcwd(buf, sizeof buf) ? buf : "";
}

const std::vector<file_filter> dump_filters = {
    {L"Oracle dump files (*.dmp)", L"*.dmp"},
    {L"All files (*.*)", L"*.*"},
};

class file_dialog_test : public fixture {};

}  // namespace

TEST_F(file_dialog_test, TheInitialPathGivesFolderAndBaseName)
{
    ::mkdir(work.file("a.b").c_str(), 0755);
    struct row {
        std::string path;
        std::wstring folder;
        std::wstring name;
    };
    const row rows[] = {
        {work.file("exp.dmp"), wide(work.path() + "/"), L"exp"},
        {work.file("a.b/exp"), wide(work.path() + "/a.b/"), L"exp"},
        {"", tk_get_user_home_wpath(), L""},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.path);
        for (bool save : {false, true}) {
            ui.file_answers.push_back(std::nullopt);
            std::unique_ptr<file_dialog> d;
            if (save)
                d = std::make_unique<save_file_dialog>(nullptr, dump_filters, L"Save", wide(r.path), L"velc");
            else
                d = std::make_unique<open_file_dialog>(nullptr, dump_filters, L"Open", wide(r.path));
            EXPECT_FALSE(d->show());
            const auto req = ui.file_requests().back();
            EXPECT_EQ(req.save, save);
            EXPECT_EQ(req.folder, r.folder);
            EXPECT_EQ(req.name, r.name);
            EXPECT_EQ(req.filters, dump_filters);
            EXPECT_EQ(req.title, save ? L"Save" : L"Open");
        }
    }
}

TEST_F(file_dialog_test, TheSaveChooserAppendsItsExtensionOnlyToANameWithoutOne)
{
    struct row {
        std::wstring chosen;
        std::wstring expected;
    };
    const row rows[] = {
        {L"d/p", L"d/p.velc"},
        {L"d/p.velc", L"d/p.velc"},
        {L"d.velc/p", L"d.velc/p.velc"},
        {L"d/p.VELC", L"d/p.VELC"},
        {L"d/notes.txt", L"d/notes.txt"},
        {L"d/p.", L"d/p.velc"},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(utf8(r.chosen));
        for (const wchar_t* ext : {L"velc", L".velc"}) {
            ui.file_answers.push_back(r.chosen);
            save_file_dialog d(nullptr, {{L"Profiles", L"*.velc"}}, L"Save", L"", ext);
            EXPECT_EQ(d.default_extension(), L".velc");
            ASSERT_TRUE(d.show());
            EXPECT_EQ(d.get_file_name(), r.expected);
        }
    }
    EXPECT_TRUE(ui.boxes().empty());
}

TEST_F(file_dialog_test, AnExistingFileIsReplacedOnlyAfterYesAndNoOffersTheChooserAgain)
{
    const std::string existing = work.file("p.velc");
    tk_test::write_file(existing, "as it was");
    // No, then Cancel in the chooser that comes again: nothing chosen.
    ui.file_answers.push_back(wide(work.file("p")));
    ui.file_answers.push_back(std::nullopt);
    ui.answers.push_back(false);
    {
        save_file_dialog d(nullptr, {{L"Profiles", L"*.velc"}}, L"Save", L"", L"velc");
        EXPECT_FALSE(d.show());
    }
    ASSERT_EQ(ui.boxes().size(), 1u);
    const auto asked = ui.boxes()[0];
    EXPECT_EQ(asked.kind, box_kind::question);
    EXPECT_TRUE(asked.default_no);
    EXPECT_EQ(asked.text, L"The file '" + wide(existing) + L"' already exists.\nDo you want to replace it?");
    const auto requests = ui.file_requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[1].folder, wide(work.path() + "/"));
    EXPECT_EQ(requests[1].name, L"p.velc");
    EXPECT_EQ(tk_test::read_file(existing), "as it was");

    // Yes: the existing file is the choice.
    ui.file_answers.push_back(wide(existing));
    ui.answers.push_back(true);
    save_file_dialog d(nullptr, {{L"Profiles", L"*.velc"}}, L"Save", L"", L"velc");
    ASSERT_TRUE(d.show());
    EXPECT_EQ(d.get_file_name(), wide(existing));
    EXPECT_EQ(ui.boxes().size(), 2u);
    EXPECT_EQ(ui.file_requests().size(), 3u);
}

TEST_F(file_dialog_test, ASaveChooserWithoutExtensionIsAnInternalError)
{
    try {
        save_file_dialog d(nullptr, {}, L"Save", L"", L"");
        FAIL() << "no failure";
    } catch (const tk_exception& e) {
        EXPECT_EQ(e.level, 2);
        EXPECT_EQ(e.message, tk_mail_assertion("g_f_dlg", 111).message);
    }
}

TEST_F(file_dialog_test, TheOpenChooserGivesTheChosenPath)
{
    ui.file_answers.push_back(wide(work.file("x.dmp")));
    open_file_dialog d(nullptr, dump_filters, L"Open", L"");
    ASSERT_TRUE(d.show());
    EXPECT_EQ(d.get_file_name(), wide(work.file("x.dmp")));
}

TEST_F(file_dialog_test, TheCurrentDirectoryStaysDuringAndAfterTheChooser)
{
    const std::string before = cwd();
    std::string during;
    ui.on_file = [&](const scripted_ui_services::file_request&) { during = cwd(); };
    ui.file_answers.push_back(std::nullopt);
    open_file_dialog d(nullptr, dump_filters, L"Open", wide(work.file("exp.dmp")));
    d.show();
    EXPECT_EQ(during, before);
    EXPECT_EQ(cwd(), before);
    EXPECT_NE(before + "/", work.path() + "/");
}

TEST(qt_file_filter, FiltersBecomeQtNameFilters)
{
    struct row {
        file_filter filter;
        const char* expected;
    };
    const row rows[] = {
        {{L"Oracle dump files (*.dmp)", L"*.dmp"}, "Oracle dump files (*.dmp) (*.dmp *.DMP)"},
        {{L"All files", L"*.*"}, "All files (*)"},
        {{L"Profiles", L"*.velc;*.Txt"}, "Profiles (*.velc *.VELC *.Txt *.txt *.TXT)"},
        {{L"Logs", L"x.log"}, "Logs (x.log)"},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.expected);
        EXPECT_EQ(qt_name_filter(r.filter).toStdString(), r.expected);
    }
}

TEST(qt_file_filter, DisplayTextTurnsCarriageReturnsIntoLineFeeds)
{
    EXPECT_EQ(qt_display_text(L"a\r\nb\rc\nd").toStdString(), "a\nb\nc\nd");
}

class help_test : public fixture {
protected:
    void write_page(const std::string& name) { tk_test::write_file(help.file(name), "<html></html>"); }
};

TEST_F(help_test, EachTopicOpensItsPage)
{
    struct row {
        int topic;
        const char* page;
    };
    const row rows[] = {{1014, "welcome.html"}, {1010, "connection.html"}, {1013, "dump-file.html"},
                        {1016, "overwrite.html"}, {1017, "tables.html"}, {0, "index.html"}, {4242, "index.html"}};
    for (const row& r : rows)
        write_page(r.page);
    for (const row& r : rows) {
        SCOPED_TRACE(r.page);
        if (r.topic == 0)
            wizard_shell::display_help();
        else
            wizard_shell::display_help(r.topic);
        const auto urls = ui.urls();
        ASSERT_FALSE(urls.empty());
        EXPECT_EQ(urls.back(), QUrl::fromLocalFile(QString::fromStdString(help.file(r.page))).toString().toStdString());
        EXPECT_EQ(urls.back().rfind("file://", 0), 0u);
    }
    EXPECT_TRUE(ui.boxes().empty());
}

TEST_F(help_test, AMissingPageGivesTheSameBoxAtEachRequest)
{
    ::mkdir(help.file("tables.html").c_str(), 0755);  // a folder does not count
    for (int i = 0; i < 2; ++i) {
        wizard_shell::display_help(1010);
        wizard_shell::display_help(1017);
    }
    const auto boxes = ui.boxes();
    ASSERT_EQ(boxes.size(), 4u);
    for (const auto& b : boxes) {
        EXPECT_EQ(b.kind, box_kind::error);
        EXPECT_EQ(b.caption, L"Error");
        EXPECT_EQ(b.text, L"Help file does not exist. Reinstall the program.");
    }
    EXPECT_TRUE(ui.urls().empty());
}

TEST_F(help_test, NoViewerSaysNothingMore)
{
    write_page("index.html");
    ui.url_result = false;
    wizard_shell::display_help();
    EXPECT_EQ(ui.urls().size(), 1u);
    EXPECT_TRUE(ui.boxes().empty());
}

TEST(help_pages, ShipBesideTheProgram)
{
    const std::string dir = std::string(VELCONV_PATH) + "-help/";
    for (const char* page :
         {"index.html", "welcome.html", "connection.html", "dump-file.html", "overwrite.html", "tables.html"}) {
        SCOPED_TRACE(page);
        EXPECT_TRUE(tk_is_file_exist(dir + page, 0));
        EXPECT_NE(tk_test::read_file(dir + page).find("</html>"), std::string::npos);
    }
}
