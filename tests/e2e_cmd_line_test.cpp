// velcagent's command line, as a process: the status and both standard
// streams, exactly. None of these runs reaches the server.

#include "e2e_support.h"
#include "parse_cmd_line.h"

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace {

using e2e::e2e_test;

class E2eCmdLine : public e2e_test {};

struct refusal {
    const char* name;
    std::vector<std::string> args;  // "{src}": an existing file; "{dir}": the test folder
    int status;
    std::string out;                // "{usage}": the usage text
    std::string err;
};

std::string expand(std::string s, const std::string& src, const std::string& dir, const std::string& usage)
{
    for (auto [key, value] : {std::pair<std::string, std::string>{"{src}", src}, {"{dir}", dir}, {"{usage}", usage}}) {
        for (std::size_t at; (at = s.find(key)) != std::string::npos;)
            s.replace(at, key.size(), value);
    }
    return s;
}

TEST_F(E2eCmdLine, HelpAndRefusalsTheirStatusesAndStreams)
{
    const std::string src = write_dump("x.dmp", classic_dump::bytes{'x'});
    std::vector<std::string> strays(25, "stray");
    std::string strays_told;
    for (int i = 0; i < 25; ++i)
        strays_told += "velcagent: unexpected argument 'stray'\n";
    const std::string no_dest = "You should enter destination PostgreSQL database (--dest=DATABASE)\n";
    const std::string no_src = "You should enter Oracle dump file name (--src=FILE)\n";
    const std::string no_file =
        "Source file does not exist: '{dir}/missing.dmp'\nPlease verify the correct file name was given.\n";
    const auto bad_mode = [](const std::string& value) {
        return "Invalid merge/overwrite mode '" + value +
               "': --mode= takes 0 (overwrite the entire database), 1 (overwrite existing tables only), 2 (skip "
               "existing tables) or 3 (merge)\n";
    };
    const std::string long_dest(70, 'd');
    const std::string bad_port = "Invalid port number\n";
    const std::vector<refusal> cases = {
        {"no argument", {}, 255, "", "{usage}\n"},
        {"help", {"--help"}, 0, "{usage}\n", ""},
        {"-h", {"-h"}, 0, "{usage}\n", ""},
        {"help after valid options", {"--src={src}", "--dest=d", "--help"}, 0, "{usage}\n", ""},
        {"silent before help hides the usage", {"--silent", "--help"}, 0, "", ""},
        {"silent after help is too late", {"--help", "--silent"}, 0, "{usage}\n", ""},
        {"an unknown option", {"--foo"}, 255, "", "velcagent: unknown option '--foo'\n{usage}\n"},
        {"a stray argument", {"foo"}, 255, "", "velcagent: unexpected argument 'foo'\n{usage}\n"},
        {"25 strays", strays, 255, "", strays_told + "{usage}\n"},
        {"a stray among valid options", {"--src={src}", "--dest=d", "--SRC=x"}, 255, "",
         "velcagent: unknown option '--SRC=x'\n{usage}\n"},
        {"an option without its =", {"--src", "{src}", "--dest=d"}, 255, "",
         "velcagent: unknown option '--src' (the form is --src=FILE)\nvelcagent: unexpected argument '{src}'\n"
         "{usage}\n"},
        {"silent hides a stray's message", {"--silent", "--foo"}, 255, "", ""},
        {"mode 4", {"--mode=4"}, 255, "", bad_mode("4")},
        {"mode 7", {"--src={src}", "--dest=d", "--mode=7"}, 255, "", bad_mode("7")},
        {"mode 02", {"--mode=02"}, 255, "", bad_mode("02")},
        {"mode +2", {"--mode=+2"}, 255, "", bad_mode("+2")},
        {"mode -1", {"--mode=-1"}, 255, "", bad_mode("-1")},
        {"mode empty", {"--mode="}, 255, "", bad_mode("")},
        {"mode past 64 bits", {"--mode=99999999999999999999"}, 255, "", bad_mode("99999999999999999999")},
        {"silent hides the fatal text", {"--silent", "--mode=4"}, 255, "", ""},
        {"no dest", {"--src={src}"}, 255, "", no_dest},
        {"no src", {"--dest=d"}, 255, "", no_src},
        {"a missing src", {"--src={dir}/missing.dmp", "--dest=d"}, 255, "", no_file},
        {"a folder as src", {"--src={dir}", "--dest=d"}, 255, "", "Source is a directory, not a dump file: '{dir}'\n"},
        // The server would cut the name to 63 bytes: refused before any
        // connection.
        {"a destination name of 70 bytes", {"--src={src}", "--dest=" + long_dest}, 255, "",
         "Destination database name '" + long_dest + "' is too long: PostgreSQL takes at most 63 bytes, it has 70.\n"},
        {"port abc", {"--src={src}", "--dest=d", "--port=abc"}, 255, "", bad_port},
        {"port 12x", {"--src={src}", "--dest=d", "--port=12x"}, 255, "", bad_port},
        {"port 0", {"--src={src}", "--dest=d", "--port=0"}, 255, "", bad_port},
        {"port 70000", {"--src={src}", "--dest=d", "--port=70000"}, 255, "", bad_port},
        {"a missing profile", {"--profile={dir}/missing.ini"}, 255, "",
         "Error:\nProfile does not exist. Please verify the correct path/name was given.\n"},
        {"a missing table-list file", {"--tab_file={dir}/missing.txt", "--src={src}", "--dest=d"}, 255, "",
         "Error:\nTable names file does not exist. Please verify the correct path/name was given.\n"},
    };
    const std::string usage = velcagent_usage();
    for (const refusal& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> a;
        for (const std::string& s : c.args)
            a.push_back(expand(s, src, work.path(), usage));
        const e2e::result r = run(a);
        EXPECT_EQ(r.status, c.status) << e2e::describe(r);
        EXPECT_EQ(r.out, expand(c.out, src, work.path(), usage));
        EXPECT_EQ(r.err, expand(c.err, src, work.path(), usage));
    }
}

// A source that cannot be used is named as given, with what is wrong with
// it, so that a missing file and a file without read permission are told
// apart and a typing error in the path shows. Run without root rights,
// since root reads any file.
TEST_F(E2eCmdLine, UnusableSourcesNameThePathAndTheCause)
{
    const std::string dir = work.path();
    tk_test::write_file(work.file("locked.dmp"), "EXPORT:V12.01.00\n");
    ASSERT_EQ(::chmod(work.file("locked.dmp").c_str(), 0), 0);
    ASSERT_EQ(::mkdir(work.file("closed").c_str(), 0755), 0);
    tk_test::write_file(work.file("closed/x.dmp"), "EXPORT:V12.01.00\n");
    ASSERT_EQ(::chmod(work.file("closed").c_str(), 0), 0);
    ASSERT_EQ(::mkdir(work.file("folder.dmp").c_str(), 0755), 0);
    ASSERT_EQ(::symlink(work.file("gone.dmp").c_str(), work.file("link.dmp").c_str()), 0);

    const std::string verify = "\nPlease verify the correct file name was given.\n";
    struct row {
        const char* name;
        std::string src;
        std::string err;
    };
    const std::vector<row> cases = {
        {"missing", dir + "/missing.dmp", "Source file does not exist: '" + dir + "/missing.dmp'" + verify},
        {"a home folder the shell did not expand", "~/x.dmp", "Source file does not exist: '~/x.dmp'" + verify},
        {"without read permission", dir + "/locked.dmp",
         "Source file cannot be read: '" + dir + "/locked.dmp': Permission denied\n"},
        {"in a folder that cannot be entered", dir + "/closed/x.dmp",
         "Source file cannot be read: '" + dir + "/closed/x.dmp': Permission denied\n"},
        {"a directory", dir + "/folder.dmp", "Source is a directory, not a dump file: '" + dir + "/folder.dmp'\n"},
        {"a dangling link", dir + "/link.dmp",
         "Source file does not exist: '" + dir + "/link.dmp' (a symbolic link to '" + dir +
             "/gone.dmp', which does not exist)" + verify},
    };
    // Each case's streams and status go to a folder of its own that the
    // unprivileged child may write.
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const std::string out = work.file("case" + std::to_string(i));
        ASSERT_EQ(::mkdir(out.c_str(), 0777), 0);
        ASSERT_EQ(::chmod(out.c_str(), 0777), 0);
    }
    // A copy of the program in the test's folder: the build folder may lie
    // where the unprivileged user cannot enter (a checkout in a private
    // temporary folder).
    const std::string program = work.file("velcagent");
    std::filesystem::copy_file(VELCAGENT_PATH, program);
    ASSERT_EQ(::chmod(program.c_str(), 0755), 0);
    const std::optional<bool> ran = tk_test::run_as_nobody([&] {
        for (std::size_t i = 0; i < cases.size(); ++i) {
            const std::string out = work.file("case" + std::to_string(i));
            const e2e::result r =
                e2e::run_process({program, "--src=" + cases[i].src, "--dest=d"}, out, e2e::velcagent_deadline);
            tk_test::write_file(out + "/status", std::to_string(r.status));
        }
        return true;
    });
    ::chmod(work.file("closed").c_str(), 0755);
    ::chmod(work.file("locked.dmp").c_str(), 0644);
    if (!ran)
        GTEST_SKIP() << "cannot drop to an unprivileged user";
    ASSERT_TRUE(*ran);
    for (std::size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(cases[i].name);
        const std::string out = work.file("case" + std::to_string(i));
        EXPECT_EQ(tk_test::read_file(out + "/status"), "255");
        EXPECT_EQ(tk_test::read_file(out + "/velcagent.out"), "");
        EXPECT_EQ(tk_test::read_file(out + "/velcagent.err"), cases[i].err);
    }
}

// The level-1 failures of a profile or table-list file come from the
// reporter, on stderr; they end the program before any connection, so an
// existing destination stays as it was.
TEST_F(E2eCmdLine, UnusableProfilesAndTableListsLeaveTheDestinationAlone)
{
    create_db(db);
    exec("CREATE TABLE keep (id int)");
    exec("INSERT INTO keep VALUES (1), (2)");
    const std::string src = write_dump("x.dmp", classic_dump::bytes{'x'});
    const std::string connection_keys = "host=" + server.socket_dir + "\nport=" + std::to_string(server.port) +
                                        "\nuser=" + server.user + "\n";
    const std::string generic = "[Generic settings]\nsrc=" + src + "\ndest=" + db + "\nmode=0\n";
    tk_test::write_file(work.file("bare_first.ini"), "EMP\n" + generic + "[pgs settings]\n" + connection_keys);
    tk_test::write_file(work.file("pair_first.ini"), "mode=3\n" + generic + "[pgs settings]\n" + connection_keys);
    tk_test::write_file(work.file("long.txt"), "EMP\n" + std::string(255, 'A') + "\nDEPT\n");

    const std::string not_loaded = "Error:\nProfile cannot be loaded. Please verify the file is a valid profile.\n";
    struct row {
        const char* name;
        std::vector<std::string> args;
        std::string err;
    };
    const std::vector<row> cases = {
        {"a profile with a bare line before its first header", {"--profile=" + work.file("bare_first.ini")},
         not_loaded},
        {"a profile with a pair before its first header", {"--profile=" + work.file("pair_first.ini")}, not_loaded},
        {"a 255-byte line", args(src, {"--tab_file=" + work.file("long.txt")}),
         "Error:\nTable names file: line 2 is longer than 254 bytes.\n"},
    };
    for (const row& c : cases) {
        SCOPED_TRACE(c.name);
        const e2e::result r = run(c.args);
        EXPECT_EQ(r.status, 255) << e2e::describe(r);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, c.err);
        EXPECT_EQ(count("keep"), "2");
    }
    // Silent hides the reporter's line, not the status.
    const e2e::result quiet = run({"--silent", "--profile=" + work.file("bare_first.ini")});
    EXPECT_EQ(quiet.status, 255);
    EXPECT_EQ(quiet.out, "");
    EXPECT_EQ(quiet.err, "");
}

// A process that hangs is killed at its deadline, and what it wrote before
// is kept for the failure message.
TEST(E2eProcess, HangIsKilledAtTheDeadline)
{
    tk_test::temp_dir dir;
    const auto before = std::chrono::steady_clock::now();
    const e2e::result r = e2e::run_process({"/bin/sh", "-c", "echo begun; echo told >&2; exec sleep 60"}, dir.path(),
                                           std::chrono::milliseconds(1500));
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(10));
    EXPECT_TRUE(r.timed_out);
    EXPECT_EQ(r.status, -1);
    EXPECT_EQ(r.out, "begun\n");
    EXPECT_EQ(r.err, "told\n");
    EXPECT_NE(e2e::describe(r).find("killed at the deadline"), std::string::npos);

    const e2e::result quick =
        e2e::run_process({"/bin/sh", "-c", "echo done; exit 3"}, dir.path(), std::chrono::seconds(30));
    EXPECT_FALSE(quick.timed_out);
    EXPECT_EQ(quick.status, 3);
    EXPECT_EQ(quick.out, "done\n");
}

}  // namespace
