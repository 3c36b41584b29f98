// The start-up of velconv over run_wizard with the scripted desktop: the
// normal wizard, quick launch and the start-up failures, the desktop hooks,
// the front end's events, and the real program without a display.

#include "wizard_test_support.h"

#include "gui_platform.h"

#include "recording_front_end.h"
#include "run_wizard.h"
#include "wizard_front_end.h"

#include "error_handler.h"
#include "velconv_convertor.h"

#include "tk_desktop.h"
#include "tk_logger.h"
#include "tk_utils.h"

#include <QLabel>
#include <QPushButton>
#include <QTest>

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <optional>

extern char** environ;

using namespace wizard_test;

namespace {

const std::wstring missing_profile = L"Profile does not exist. Please verify the correct path/name was given.";

class startup_test : public fixture {
protected:
    // The sheet's handler: records that it ran and the pages it holds, runs
    // the test's own steps, then leaves through Cancel and Yes.
    void leave_by_cancel(std::function<void(QDialog&)> also = {})
    {
        ui.dialog_handlers["sheet"] = [this, also](QDialog& d) {
            sheet_seen = true;
            if (auto* shell = dynamic_cast<wizard_shell*>(&d))
                sheet_pages = shell->page_ids();
            if (also)
                also(d);
            ui.answers.push_back(true);
            QTest::mouseClick(d.findChild<QPushButton*>(QString::number(sheet_cancel_id)), Qt::LeftButton);
        };
    }
    int run(std::vector<std::string> args, const wizard_hooks& hooks = {})
    {
        return run_wizard(args, ui, hooks);
    }
    bool sheet_seen = false;
    std::vector<int> sheet_pages;
};

}  // namespace

TEST_F(startup_test, NoArgumentRunsTheNormalWizardAndGivesTheSheetsResult)
{
    leave_by_cancel();
    velconv_convertor* seen = nullptr;
    wizard_hooks hooks;
    hooks.converter_ready = [&](velconv_convertor& c) { seen = &c; };
    EXPECT_EQ(run({}, hooks), 0);
    EXPECT_TRUE(sheet_seen);
    EXPECT_NE(seen, nullptr);
    EXPECT_EQ(ui.dialogs(), std::vector<std::string>{"sheet"});
    // The run's one-instance objects are gone again.
    EXPECT_EQ(velconv_convertor::try_instance(), nullptr);
    EXPECT_EQ(wizard_shell::try_instance(), nullptr);
    EXPECT_EQ(front_end::try_instance(), nullptr);
    EXPECT_EQ(error_handler::try_instance(), nullptr);
    // The settings file is written at the end, for the user alone.
    struct stat st {};
    ASSERT_EQ(::stat((config_dir() + "/Fennick/Velmora-to-PostgreSQL.conf").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST_F(startup_test, AFileThatIsNotAProfileRunsTheNormalWizardSilently)
{
    const std::string path = work.file("pair.velc");
    tk_test::write_file(path, "mode=3\r\n[Generic settings]\r\n");
    leave_by_cancel();
    EXPECT_EQ(run({path}), 0);
    EXPECT_TRUE(sheet_seen);
    EXPECT_TRUE(ui.boxes().size() == 1 && ui.boxes()[0].kind == box_kind::question);
}

TEST_F(startup_test, StartUpFailuresShowTheirBoxWithoutASheetAndGive255)
{
    dead_port port;
    ::mkdir(work.file("with blank").c_str(), 0755);
    const std::string quoted_profile = work.file("with blank/p.velc");
    tk_test::write_file(quoted_profile, "[Generic settings]\r\nsrc=" + work.file("x.dmp") +
                                            "\r\ndest=qdest\r\nmode=1\r\n[pgs settings]\r\nhost=127.0.0.1\r\n"
                                            "user=nobody\r\npassword=pw\r\nport=" +
                                            std::to_string(port.port()) + "\r\n");
    struct row {
        const char* name;
        std::vector<std::string> args;
        std::wstring text;  // empty: the server's text, whatever it is
    };
    const std::vector<row> rows = {
        {"a missing profile", {work.file("none.velc")}, missing_profile},
        {"a lone quote stays as it is", {"\""}, missing_profile},
        {"a quoted profile runs quick launch, which connects", {"\"" + quoted_profile + "\""}, L""},
        {"quick launch from blank-separated arguments", {work.file("with"), "blank/p.velc"}, L""},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.name);
        const std::size_t before = ui.boxes().size();
        EXPECT_EQ(run(r.args), 255);
        const auto boxes = ui.boxes();
        ASSERT_EQ(boxes.size(), before + 1);
        const auto& b = boxes.back();
        EXPECT_EQ(b.kind, box_kind::error);
        EXPECT_EQ(b.caption, L"Error");
        EXPECT_EQ(b.owner, nullptr);
        if (!r.text.empty()) {
            EXPECT_EQ(b.text, r.text);
        } else {
            EXPECT_NE(b.text.find(std::to_wstring(port.port())), std::wstring::npos) << utf8(b.text);
            // The client library indents its second line with a tab.
            EXPECT_EQ(b.text.find(L'\t'), std::wstring::npos) << utf8(b.text);
        }
    }
    EXPECT_TRUE(ui.dialogs().empty());
}

TEST_F(startup_test, TheDesktopHooksReachTheServicesWhileTheWizardRuns)
{
    leave_by_cancel([](QDialog&) {
        tk_copy_to_clipboard2(L"copied");
        tk_send_bug("T", "text");
    });
    EXPECT_EQ(run({}), 0);
    EXPECT_EQ(ui.clipboard(), std::vector<std::wstring>{L"copied"});
    ASSERT_EQ(ui.urls().size(), 1u);
    EXPECT_EQ(ui.urls()[0], tk_bug_mail_uri("T", "text"));
    tk_copy_to_clipboard2(L"after");
    EXPECT_EQ(ui.clipboard().size(), 1u);
}

namespace {

class front_end_test : public fixture {
protected:
    front_end_test() : logger(nullptr, false, 3, true), reporter(error_handler_code_count, error_handler_codes)
    {
        shell = std::make_unique<wizard_shell>(L"T", 0, 0, 0);
        shell->add_page(&page);
        shell->show();
    }
    ~front_end_test() override
    {
        shell->kill_timer();
        shell.reset();
    }
    QString log() const { return page.log->toPlainText(); }

    tk_logger logger;
    wizard_front_end fe;
    error_handler reporter;
    stub_page page{108};
    std::unique_ptr<wizard_shell> shell;
};

}  // namespace

TEST_F(front_end_test, EventsBecomeLogLinesBoxesAndTheErrorList)
{
    EXPECT_FALSE(fe.is_console());
    fe.reading_file(L"/d/exp.dmp");
    EXPECT_TRUE(shell->timer_running());
    shell->kill_timer();
    fe.run_started();
    EXPECT_TRUE(shell->timer_running());
    fe.converting_file(L"/d/exp.dmp", 3);
    fe.schema_line(L"Creating schema if necessary: 'S'\n");
    fe.table_started(L"EMP");
    fe.definitions_done(L"EMP");
    fe.table_converted(L"EMP", 14);
    fe.table_missing(L"NOPE");
    fe.dump_warnings(true, true);
    EXPECT_EQ(log().toStdString(),
              "Reading file '/d/exp.dmp'\n"
              "Converting file '/d/exp.dmp' (3 tables)\n"
              "Creating schema if necessary: 'S'\n"
              "Table 'EMP' (14 records) is converted\n");
    fe.other_exception("other failure");
    fe.dump_open_failed("Cannot read the dump file: x");
    fe.show_error(L"shown");
    const auto boxes = ui.boxes();
    ASSERT_EQ(boxes.size(), 3u);
    EXPECT_EQ(boxes[0].text, L"other failure");
    EXPECT_EQ(boxes[1].text, L"Cannot read the dump file: x");
    EXPECT_EQ(boxes[2].text, L"shown");
    EXPECT_EQ(boxes[2].caption, L"T Error");
    EXPECT_TRUE(fe.error_list_ready());
    fe.add_error_text("one");
    EXPECT_EQ(fe.error_list_size(), 1u);
    EXPECT_EQ(shell->error_texts(), std::vector<std::string>{"one"});
}

TEST_F(front_end_test, ASecondTimerStartIsReportedAsAnInternalError)
{
    fe.reading_file(L"a");
    EXPECT_FALSE(fe.program_ending());
    std::wstring shown;
    ui.dialog_handlers["114"] = [&](QDialog& d) {
        shown = d.findChild<QLabel*>("1320")->text().toStdWString();
        QTest::mouseClick(d.findChild<QPushButton*>("1"), Qt::LeftButton);
    };
    try {
        fe.run_started();
        FAIL() << "the program did not end";
    } catch (const front_end_exit& e) {
        EXPECT_EQ(e.code, -1);
    }
    EXPECT_TRUE(fe.program_ending());
    EXPECT_EQ(ui.end_code(), -1);
    // The internal-error dialog showed the report.
    EXPECT_EQ(shown.rfind(L"Internal error", 0), 0u) << utf8(shown);
    EXPECT_EQ(ui.dialogs(), std::vector<std::string>{"114"});
}

namespace {

struct process_result {
    bool exited = false;  // false: ended by a signal (an abort, a core)
    int status = -1;
    std::string out;
    std::string err;
};

// Runs velconv with the arguments and an environment without any display
// variable, plus the given ones.
process_result run_velconv(std::vector<std::string> args, const std::vector<std::string>& env_added)
{
    tk_test::temp_dir dir;
    std::vector<std::string> env_strings;
    for (char** e = environ; *e; ++e) {
        const std::string entry = *e;
        if (entry.rfind("QT_QPA_PLATFORM=", 0) == 0 || entry.rfind("DISPLAY=", 0) == 0 ||
            entry.rfind("WAYLAND_DISPLAY=", 0) == 0 || entry.rfind("XDG_SESSION_TYPE=", 0) == 0)
            continue;
        env_strings.push_back(entry);
    }
    env_strings.insert(env_strings.end(), env_added.begin(), env_added.end());
    std::vector<char*> envp;
    for (std::string& s : env_strings)
        envp.push_back(s.data());
    envp.push_back(nullptr);
    std::string program = VELCONV_PATH;
    std::vector<char*> argv = {program.data()};
    for (std::string& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    const std::string out_path = dir.file("out");
    const std::string err_path = dir.file("err");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t pid = 0;
    process_result r;
    const int started = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (started != 0) {
        ADD_FAILURE() << "velconv could not be started";
        return r;
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
    }
    r.exited = WIFEXITED(status);
    r.status = r.exited ? WEXITSTATUS(status) : -1;
    r.out = tk_test::read_file(out_path);
    r.err = tk_test::read_file(err_path);
    return r;
}

// An X display number that no local server serves.
std::string dead_x_display()
{
    for (int n = 77;; ++n) {
        if (!tk_is_file_exist("/tmp/.X11-unix/X" + std::to_string(n), 0))
            return ":" + std::to_string(n);
    }
}

const std::string no_gui = "Failed to initialize GUI library\n";

}  // namespace

TEST(velconv_process, WithoutADisplayThatAnswersItSaysSoAndEnds255)
{
    tk_test::temp_dir runtime;
    const std::string x = "DISPLAY=" + dead_x_display();
    struct row {
        const char* name;
        std::vector<std::string> env;
    };
    const std::vector<row> rows = {
        {"no display at all", {}},
        {"an X display that no server serves", {x}},
        {"a Wayland socket that does not exist", {"XDG_RUNTIME_DIR=" + runtime.path(), "WAYLAND_DISPLAY=wayland-77"}},
        {"a Wayland session that names no socket", {"XDG_SESSION_TYPE=wayland", "WAYLAND_DISPLAY="}},
        {"X11 asked for, with no server", {"QT_QPA_PLATFORM=xcb", x}},
        {"Wayland then X11 asked for, neither there",
         {"QT_QPA_PLATFORM=wayland;xcb", "XDG_RUNTIME_DIR=" + runtime.path(), "WAYLAND_DISPLAY=wayland-77", x}},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.name);
        const process_result p = run_velconv({}, r.env);
        ASSERT_TRUE(p.exited) << "ended by a signal:\n" << p.err;
        EXPECT_EQ(p.status, 255);
        EXPECT_EQ(p.err.rfind(no_gui, 0), 0u) << p.err;
        EXPECT_NE(p.err.find("desktop session"), std::string::npos) << p.err;
        EXPECT_NE(p.err.find("DISPLAY or WAYLAND_DISPLAY"), std::string::npos) << p.err;
        EXPECT_EQ(p.out, "");
    }
}

TEST(velconv_process, HelpPrintsTheUsageWithoutTheGuiAndAnOtherOptionIsRefused)
{
    struct row {
        std::vector<std::string> args;
        int status;
        const char* refused;  // the option named on the standard error, or none
    };
    const std::vector<row> rows = {
        {{"--help"}, 0, nullptr},
        {{"-h"}, 0, nullptr},
        {{"some.velc", "--help"}, 0, nullptr},
        {{"--bogus"}, 255, "--bogus"},
        {{"-x", "some.velc"}, 255, "-x"},
        {{"some.velc", "--profile=p"}, 255, "--profile=p"},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.args.front());
        // No display: only an answer before the GUI ends as the row says.
        const process_result p = run_velconv(r.args, {});
        ASSERT_TRUE(p.exited);
        EXPECT_EQ(p.status, r.status);
        const std::string& usage_stream = r.refused ? p.err : p.out;
        EXPECT_NE(usage_stream.find("Usage: velconv "), std::string::npos) << usage_stream;
        EXPECT_NE(usage_stream.find("velconv PROFILE"), std::string::npos) << usage_stream;
        if (r.refused) {
            EXPECT_EQ(p.out, "");
            EXPECT_EQ(p.err.rfind(std::string("velconv: unknown option '") + r.refused + "'\n", 0), 0u) << p.err;
        } else {
            EXPECT_EQ(p.err, "");
            EXPECT_EQ(p.out.rfind("velconv v3.1\n", 0), 0u) << p.out;
        }
    }
}

TEST(gui_platform_test, TheChosenPlatformsAreTriedInTheirOrder)
{
    tk_test::temp_dir runtime;
    const std::string x = dead_x_display();
    struct row {
        const char* name;
        std::optional<std::string> platform_env;
        std::optional<std::string> expected;
    };
    const std::vector<row> rows = {
        {"a platform without a display to try", "offscreen", "offscreen"},
        {"X11 without a server gives way to the next", "xcb;offscreen", "offscreen"},
        {"options stay with their platform", "xcb:nograb;minimal", "minimal"},
        {"none of them starts", "xcb;wayland", std::nullopt},
        {"no choice and no display", std::nullopt, std::nullopt},
    };
    tk_test::scoped_env display("DISPLAY", x);
    tk_test::scoped_env wayland("WAYLAND_DISPLAY", "wayland-77");
    tk_test::scoped_env dir("XDG_RUNTIME_DIR", runtime.path());
    for (const row& r : rows) {
        SCOPED_TRACE(r.name);
        tk_test::scoped_env platform("QT_QPA_PLATFORM", r.platform_env);
        EXPECT_EQ(usable_gui_platform(), r.expected);
    }
}
