// velcagent's refusals of its command line, as a process: the status and
// both standard streams, exactly. None of these runs reaches the server.

#include "e2e_support.h"
#include "parse_cmd_line.h"

#include <sys/stat.h>

#include <string>
#include <vector>

namespace {

using e2e::e2e_test;

class E2eCmdLine : public e2e_test {};

struct refusal {
    const char* name;
    std::vector<std::string> args;  // "{src}": an existing file; "{dir}": the test folder
    std::string out;
    std::string err;                // "{usage}": the usage text
};

std::string expand(std::string s, const std::string& src, const std::string& dir, const std::string& usage)
{
    for (auto [key, value] : {std::pair<std::string, std::string>{"{src}", src}, {"{dir}", dir}, {"{usage}", usage}}) {
        for (std::size_t at; (at = s.find(key)) != std::string::npos;)
            s.replace(at, key.size(), value);
    }
    return s;
}

TEST_F(E2eCmdLine, RefusalsEndWith255AndTheirTexts)
{
    const std::string src = write_dump("x.dmp", classic_dump::bytes{'x'});
    std::vector<std::string> strays(25, "stray");
    const std::string no_dest = "You should enter destination PostgreSQL database\n";
    const std::string no_src = "You should enter Oracle dump file name\n";
    const std::string no_file = "Source file does not exist.\nPlease verify the correct file name was given.\n";
    const std::string bad_mode = "Invalid merge/overwrite mode\n";
    const std::string bad_port = "Invalid port number\n";
    const std::vector<refusal> cases = {
        {"no argument", {}, "", "{usage}\n"},
        {"a stray argument", {"foo"}, "", "{usage}\n"},
        {"help", {"--help"}, "", "{usage}\n"},
        {"help after valid options", {"--src={src}", "--dest=d", "--help"}, "", "{usage}\n"},
        {"silent before help hides the usage", {"--silent", "--help"}, "", ""},
        {"silent after help is too late", {"--help", "--silent"}, "", "{usage}\n"},
        {"25 strays", strays, "", "{usage}\n"},
        {"a stray among valid options", {"--src={src}", "--dest=d", "--SRC=x"}, "", "{usage}\n"},
        {"an option without its =", {"--src", "--dest=d"}, "", "{usage}\n"},
        {"mode 4", {"--mode=4"}, "", bad_mode},
        {"mode 02", {"--mode=02"}, "", bad_mode},
        {"mode +2", {"--mode=+2"}, "", bad_mode},
        {"mode -1", {"--mode=-1"}, "", bad_mode},
        {"mode empty", {"--mode="}, "", bad_mode},
        {"mode past 64 bits", {"--mode=99999999999999999999"}, "", bad_mode},
        {"silent hides the fatal text", {"--silent", "--mode=4"}, "", ""},
        {"no dest", {"--src={src}"}, "", no_dest},
        {"no src", {"--dest=d"}, "", no_src},
        {"a missing src", {"--src={dir}/missing.dmp", "--dest=d"}, "", no_file},
        {"a folder as src", {"--src={dir}", "--dest=d"}, "", no_file},
        {"port abc", {"--src={src}", "--dest=d", "--port=abc"}, "", bad_port},
        {"port 12x", {"--src={src}", "--dest=d", "--port=12x"}, "", bad_port},
        {"port 0", {"--src={src}", "--dest=d", "--port=0"}, "", bad_port},
        {"port 70000", {"--src={src}", "--dest=d", "--port=70000"}, "", bad_port},
        {"a missing profile", {"--profile={dir}/missing.ini"},
         "Error:\nProfile does not exist. Please verify the correct path/name was given.\n", ""},
        {"a missing table-list file", {"--tab_file={dir}/missing.txt", "--src={src}", "--dest=d"},
         "Error:\nTable names file does not exist. Please verify the correct path/name was given.\n", ""},
    };
    const std::string usage = velcagent_usage();
    for (const refusal& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> a;
        for (const std::string& s : c.args)
            a.push_back(expand(s, src, work.path(), usage));
        const e2e::result r = run(a);
        EXPECT_EQ(r.status, 255) << e2e::describe(r);
        EXPECT_EQ(r.out, expand(c.out, src, work.path(), usage));
        EXPECT_EQ(r.err, expand(c.err, src, work.path(), usage));
    }
}

// The level-1 failures of a profile or table-list file come from the
// reporter, on stdout; they end the program before any connection, so an
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
    tk_test::write_file(work.file("bom.ini"), "\xEF\xBB\xBF" + generic + "[pgs settings]\n" + connection_keys);
    tk_test::write_file(work.file("pair_first.ini"), "mode=3\n" + generic + "[pgs settings]\n" + connection_keys);
    tk_test::write_file(work.file("long.txt"), "EMP\n" + std::string(255, 'A') + "\nDEPT\n");

    const std::string not_loaded = "Error:\nProfile cannot be loaded. Please verify the file is a valid profile.\n";
    struct row {
        const char* name;
        std::vector<std::string> args;
        std::string out;
    };
    const std::vector<row> cases = {
        {"a profile that starts with a byte-order mark", {"--profile=" + work.file("bom.ini")}, not_loaded},
        {"a profile with a pair before its first header", {"--profile=" + work.file("pair_first.ini")}, not_loaded},
        {"a 255-byte line", args(src, {"--tab_file=" + work.file("long.txt")}),
         "Error:\nTable names file: line 2 is longer than 254 bytes.\n"},
    };
    for (const row& c : cases) {
        SCOPED_TRACE(c.name);
        const e2e::result r = run(c.args);
        EXPECT_EQ(r.status, 255) << e2e::describe(r);
        EXPECT_EQ(r.out, c.out);
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(count("keep"), "2");
    }
    // Silent hides the reporter's line, not the status.
    const e2e::result quiet = run({"--silent", "--profile=" + work.file("bom.ini")});
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
