#include "udb_profile.h"

#include "test_support.h"
#include "tk_exception.h"
#include "tk_unicode.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace {

const std::wstring generic = L"Generic settings";
const std::wstring selected = L"Selected Tables";

std::wstring wide(const std::string& s) { return tk_utf8_to_wide(s); }

std::string replace_all(std::string s, const std::string& from, const std::string& to)
{
    for (std::size_t p = s.find(from); p != std::string::npos; p = s.find(from, p + to.size()))
        s.replace(p, from.size(), to);
    return s;
}

std::vector<std::string> folder_entries(const std::string& dir)
{
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

unsigned file_mode(const std::string& path)
{
    struct stat st {};
    if (stat(path.c_str(), &st) != 0)
        return 0;
    return st.st_mode & 07777;
}

std::vector<std::wstring> keys(const udb_profile::t_pairs& pairs)
{
    std::vector<std::wstring> k;
    for (const auto& p : pairs)
        k.push_back(p.first);
    return k;
}

class UdbProfile : public tk_test::home_fixture {
protected:
    std::string path(const std::string& name = "p.velc") const { return home.file(name); }
    std::wstring wpath(const std::string& name = "p.velc") const { return wide(path(name)); }
};

struct load_case {
    const char* what;
    std::string content;  // lines ended by "\n"; run with "\n" and "\r\n"
    bool expected;
    std::function<void(udb_profile&)> check;
};

}  // namespace

TEST_F(UdbProfile, NewProfileStoresThreeEmptySections)
{
    udb_profile p;
    ASSERT_TRUE(p.store(wpath()));
    EXPECT_EQ(tk_test::read_file(path()),
              "[Available Queries]\r\n\r\n[Generic settings]\r\n\r\n[Selected Tables]\r\n\r\n");
}

TEST_F(UdbProfile, LoadCases)
{
    const std::string a4093(4093, 'a');
    const load_case cases[] = {
        {"pair before any header", "k=v\n[Generic settings]\nx=1\n", false,
         [](udb_profile& p) { EXPECT_EQ(p.get_value(generic, L"x"), L""); }},
        {"bare line before any header", "EMP\n[Selected Tables]\n", false, nullptr},
        {"blanks around key and value", "[Generic settings]\n mode = 2 \n", true,
         [](udb_profile& p) { EXPECT_EQ(p.get_value(generic, L"mode"), L" 2"); }},
        {"bare table names", "[Selected Tables]\nEMP\n\nDEPT\n", true,
         [](udb_profile& p) {
             EXPECT_EQ(keys(p.get_selected_tables()), (std::vector<std::wstring>{L"DEPT", L"EMP"}));
             EXPECT_EQ(p.get_value(selected, L"EMP"), L"");
             EXPECT_EQ(p.get_raw_lines(selected), (std::vector<std::wstring>{L"EMP", L"DEPT"}));
         }},
        {"raw line keeps its blanks", "[Selected Tables]\n  EMP \n", true,
         [](udb_profile& p) {
             EXPECT_EQ(keys(p.get_selected_tables()), std::vector<std::wstring>{L"EMP"});
             EXPECT_EQ(p.get_raw_lines(selected), std::vector<std::wstring>{L"  EMP "});
         }},
        {"duplicate key keeps the first", "[S]\nk=1\nk=2\n", true,
         [](udb_profile& p) { EXPECT_EQ(p.get_value(L"S", L"k"), L"1"); }},
        {"value holds later =", "[S]\nk=a=b\n", true,
         [](udb_profile& p) { EXPECT_EQ(p.get_value(L"S", L"k"), L"a=b"); }},
        {"line of 4095 bytes", "[S]\nk=" + a4093 + "\n", true,
         [&](udb_profile& p) { EXPECT_EQ(p.get_value(L"S", L"k"), wide(a4093)); }},
        {"line of 4096 bytes keeps what was read", "[S]\nx=1\nk=" + a4093 + "b\ny=2\n", false,
         [](udb_profile& p) {
             EXPECT_EQ(p.get_value(L"S", L"x"), L"1");
             EXPECT_EQ(p.get_value(L"S", L"y"), L"");
         }},
        {"byte-order mark", "\xEF\xBB\xBF[S]\nk=\xC3\xA4\n", true,
         [](udb_profile& p) { EXPECT_EQ(p.get_value(L"S", L"k"), L"\u00E4"); }},
        {"byte-order mark before blanks", "\xEF\xBB\xBF  [S]\nk=v\n", true,
         [](udb_profile& p) { EXPECT_EQ(p.get_value(L"S", L"k"), L"v"); }},
        {"byte-order mark on a later line", "[S]\n\xEF\xBB\xBFk=v\n", true,
         [](udb_profile& p) {
             EXPECT_EQ(p.get_value(L"S", L"k"), L"");
             EXPECT_EQ(p.get_value(L"S", L"\uFEFFk"), L"v");
         }},
        {"byte-order mark alone", "\xEF\xBB\xBF", true, nullptr},
        {"no final line end", "[S]\nk=v", true,
         [](udb_profile& p) { EXPECT_EQ(p.get_value(L"S", L"k"), L"v"); }},
        {"header with blanks", "  [ My Sec ] \nk=v\n", true,
         [](udb_profile& p) { EXPECT_EQ(p.get_value(L" My Sec ", L"k"), L"v"); }},
        {"invalid UTF-8", "[S]\nk=a\xFF\xC3(\n", true,
         [](udb_profile& p) { EXPECT_EQ(p.get_value(L"S", L"k"), L"a\uFFFD\uFFFD("); }},
        {"empty file", "", true, nullptr},
    };
    for (const char* ending : {"\n", "\r\n"}) {
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(c.what) + (ending[0] == '\r' ? " (CR LF)" : " (LF)"));
            tk_test::write_file(path(), replace_all(c.content, "\n", ending));
            udb_profile p;
            EXPECT_EQ(p.load(wpath()), c.expected);
            if (c.check)
                c.check(p);
        }
    }
}

TEST_F(UdbProfile, LoadAddsToWhatIsThere)
{
    udb_profile p;
    p.set_value(generic, L"src", L"first.dmp");
    tk_test::write_file(path("a.velc"), "[Generic settings]\r\nsrc=a.dmp\r\ndest=a\r\n");
    tk_test::write_file(path("b.velc"), "[Generic settings]\r\ndest=b\r\nmode=1\r\n[Extra]\r\n");
    ASSERT_TRUE(p.load(wpath("a.velc")));
    ASSERT_TRUE(p.load(wpath("b.velc")));
    EXPECT_EQ(p.get_value(generic, L"src"), L"first.dmp");
    EXPECT_EQ(p.get_value(generic, L"dest"), L"a");
    EXPECT_EQ(p.get_value(generic, L"mode"), L"1");
    EXPECT_EQ(p.get_sections().count(L"Extra"), 1u);
    // Keys and section names are case-sensitive.
    EXPECT_EQ(p.get_value(L"generic settings", L"src"), L"");
    EXPECT_EQ(p.get_value(generic, L"SRC"), L"");
}

TEST_F(UdbProfile, MissingFileOrFolderRaises)
{
    const std::string folder = path("folder.velc");
    ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
    for (const std::string& target : {path("missing.velc"), folder}) {
        SCOPED_TRACE(target);
        udb_profile p;
        try {
            p.load(wide(target));
            ADD_FAILURE() << "no failure";
        } catch (const tk_exception& e) {
            EXPECT_EQ(e.level, 1);
            EXPECT_STREQ(e.what(), "Profile does not exist. Please verify the correct path/name was given.");
        }
    }
}

TEST_F(UdbProfile, StoredBareTablesAndRawLines)
{
    tk_test::write_file(path(), "[Selected Tables]\nEMP\nDEPT\nT=x\n");
    udb_profile p;
    ASSERT_TRUE(p.load(wpath()));
    ASSERT_TRUE(p.store(wpath("out.velc")));
    // Keys in name order, bare when empty; the raw lines as read come last.
    EXPECT_EQ(tk_test::read_file(path("out.velc")),
              "[Available Queries]\r\n\r\n[Generic settings]\r\n\r\n"
              "[Selected Tables]\r\nDEPT\r\nEMP\r\nT=x\r\n\r\n"
              "[Selected Tables]\r\nEMP\r\nDEPT\r\n");
}

TEST_F(UdbProfile, EntriesRoundTripThroughTheFile)
{
    udb_profile p;
    p.set_value(generic, L"mode", L" 2");
    p.set_value(generic, L"empty", L"");
    p.set_value(generic, L"src", L"/data/\u0436.dmp");
    p.set_value(L"pgs settings", L"password", L"a=b [c]");
    p.set_value(L"Available Queries", L"[q", L"select 1");
    p.set_value(L" odd section ", L"k", std::wstring(4093, L'v'));
    ASSERT_TRUE(p.store(wpath()));
    udb_profile back;
    ASSERT_TRUE(back.load(wpath()));
    EXPECT_EQ(back.get_sections(), p.get_sections());
}

TEST_F(UdbProfile, RefusesEntriesThatWouldNotReadBack)
{
    struct entry {
        const char* what;
        std::wstring section, key, value;
    };
    const entry entries[] = {
        {"line feed in a value", generic, L"src", L"a\nb"},
        {"carriage return in a value", generic, L"src", L"a\rb"},
        {"line feed in a key", generic, L"a\nb", L"1"},
        {"carriage return in a key", selected, L"EMP\r", L""},
        {"= in a table name", selected, L"A=B", L""},
        {"= in a key", generic, L"a=b", L"c"},
        {"bare name in brackets", selected, L"[EMP]", L""},
        {"pair line in brackets", generic, L"[a", L"b]"},
        {"blank before a key", generic, L" src", L"x"},
        {"blank after a key", generic, L"src ", L"x"},
        {"blank after a value", L"pgs settings", L"password", L"abc "},
        {"empty key", generic, L"", L"x"},
        {"empty table name", selected, L"", L""},
        {"line over 4095 bytes", generic, L"k", std::wstring(4094, L'v')},
        {"line over 4095 bytes in UTF-8", generic, L"k", std::wstring(2047, L'\u0436')},
        {"line break in a section name", L"a\nb", L"k", L"v"},
        {"lone surrogate", generic, L"k", std::wstring(1, static_cast<wchar_t>(0xD800))},
    };
    const std::string old_bytes = "[Generic settings]\r\nsrc=old\r\n";
    for (const auto& e : entries) {
        SCOPED_TRACE(e.what);
        tk_test::write_file(path(), old_bytes);
        udb_profile p;
        p.set_value(generic, L"dest", L"db");
        p.set_value(e.section, e.key, e.value);
        EXPECT_FALSE(p.store(wpath()));
        EXPECT_EQ(tk_test::read_file(path()), old_bytes);
        EXPECT_EQ(folder_entries(home.path()), std::vector<std::string>{"p.velc"});
    }
    // A raw line is held to the same rule.
    udb_profile p;
    p.get_raw_lines(selected).push_back(L"A=B");
    EXPECT_FALSE(p.store(wpath()));
}

TEST_F(UdbProfile, FailedSaveLeavesTheOldFile)
{
    const std::string plain = path("plain");
    tk_test::write_file(plain, "not a folder");
    udb_profile p;
    EXPECT_FALSE(p.store(wide(plain + "/p.velc")));
    EXPECT_EQ(tk_test::read_file(plain), "not a folder");

    const std::string folder = path("folder.velc");
    ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
    EXPECT_FALSE(p.store(wide(folder)));

    EXPECT_EQ(folder_entries(home.path()), (std::vector<std::string>{"folder.velc", "plain"}));
}

TEST_F(UdbProfile, WriteFailureLeavesTheOldFile)
{
    const std::string old_bytes = "[Generic settings]\r\nsrc=old\r\n";
    tk_test::write_file(path(), old_bytes);
    udb_profile p;
    for (int i = 0; i < 200; ++i)
        p.set_value(L"Available Queries", L"q" + std::to_wstring(i), L"select * from some_table");

    // A full disk, as the file-size limit shows it to this process.
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        std::signal(SIGXFSZ, SIG_IGN);
        struct rlimit limit {};
        limit.rlim_cur = limit.rlim_max = 1024;
        if (setrlimit(RLIMIT_FSIZE, &limit) != 0)
            _exit(3);
        _exit(p.store(wpath()) ? 1 : 0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "the save was reported as done";
    EXPECT_EQ(tk_test::read_file(path()), old_bytes);
    EXPECT_EQ(folder_entries(home.path()), std::vector<std::string>{"p.velc"});

    // Without the limit the same profile is written.
    EXPECT_TRUE(p.store(wpath()));
    EXPECT_GT(tk_test::read_file(path()).size(), 1024u);
}

TEST_F(UdbProfile, FileModes)
{
    udb_profile p;
    p.set_value(L"pgs settings", L"password", L"secret");
    ASSERT_TRUE(p.store(wpath("new.velc")));
    EXPECT_EQ(file_mode(path("new.velc")), 0600u);

    tk_test::write_file(path("old.velc"), "old");
    ASSERT_EQ(chmod(path("old.velc").c_str(), 0644), 0);
    ASSERT_TRUE(p.store(wpath("old.velc")));
    EXPECT_EQ(file_mode(path("old.velc")), 0644u);
    EXPECT_NE(tk_test::read_file(path("old.velc")), "old");
}

TEST_F(UdbProfile, ReadOnlyProfileIsNotReplaced)
{
    // A folder that the unprivileged user may write, holding a profile that
    // user may not.
    const std::string folder = path("shared");
    ASSERT_EQ(mkdir(folder.c_str(), 0777), 0);
    ASSERT_EQ(chmod(folder.c_str(), 0777), 0);
    const std::string target = folder + "/p.velc";
    tk_test::write_file(target, "old");
    ASSERT_EQ(chmod(target.c_str(), 0444), 0);

    const auto result = tk_test::run_as_nobody([&] {
        udb_profile p;
        return !p.store(wide(target));
    });
    if (!result)
        GTEST_SKIP() << "cannot drop to an unprivileged user";
    EXPECT_TRUE(*result);
    EXPECT_EQ(tk_test::read_file(target), "old");
    EXPECT_EQ(folder_entries(folder), std::vector<std::string>{"p.velc"});
}

TEST_F(UdbProfile, MissingStandardSectionIsAPlainFailure)
{
    class damaged_profile : public udb_profile {
    public:
        void drop(const std::wstring& name) { sections.erase(name); }
    };
    for (const std::wstring name : {L"Available Queries", L"Selected Tables"}) {
        damaged_profile p;
        p.drop(name);
        try {
            if (name == L"Selected Tables")
                p.get_selected_tables();
            else
                p.get_available_queries();
            ADD_FAILURE() << "no failure";
        } catch (const tk_exception& e) {
            EXPECT_EQ(e.level, 1);
            EXPECT_EQ(dynamic_cast<const tk_exception_ex*>(&e), nullptr);
            EXPECT_NE(std::string(e.what()).find(tk_wide_to_utf8(name)), std::string::npos);
        }
    }
}

TEST_F(UdbProfile, SaveThroughALinkReplacesTheLinkedFile)
{
    const std::string real = path("real.velc");
    const std::string link = path("link.velc");
    tk_test::write_file(real, "old");
    ASSERT_EQ(symlink(real.c_str(), link.c_str()), 0);
    udb_profile p;
    ASSERT_TRUE(p.store(wide(link)));
    struct stat st {};
    ASSERT_EQ(lstat(link.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_EQ(tk_test::read_file(real).substr(0, 19), "[Available Queries]");
}

namespace {
class UdbProfileLog : public tk_test::logger_fixture {};
}  // namespace

TEST_F(UdbProfileLog, RefusalsAndFailuresAreReported)
{
    udb_profile p;
    p.set_value(L"Selected Tables", L"A=B", L"");
    EXPECT_FALSE(p.store(wide(home.file("p.velc"))));
    std::string log = log_text();
    EXPECT_NE(log.find("'A=B'"), std::string::npos) << log;
    EXPECT_NE(log.find("'Selected Tables'"), std::string::npos) << log;

    const std::string plain = home.file("plain");
    tk_test::write_file(plain, "x");
    udb_profile q;
    EXPECT_FALSE(q.store(wide(plain + "/p.velc")));
    log = log_text();
    EXPECT_NE(log.find(plain + "/p.velc"), std::string::npos) << log;
}
