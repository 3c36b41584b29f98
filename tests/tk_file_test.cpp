#include "test_support.h"
#include "tk_desktop.h"
#include "tk_exception.h"
#include "tk_file.h"
#include "tk_file_name.h"
#include "tk_logger.h"
#include "tk_temp_chdir.h"
#include "tk_unicode.h"
#include "tk_utils.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <functional>
#include <limits>
#include <memory>
#include <string>
#include <vector>

namespace {

std::string cwd()
{
    return std::filesystem::current_path().string();
}

bool exists(const std::string& path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

// Runs f and gives the tk_exception it raised; fails the test when it raised
// nothing.
tk_exception raised(const std::function<void()>& f)
{
    try {
        f();
    } catch (const tk_exception& e) {
        return e;
    }
    ADD_FAILURE() << "no tk_exception raised";
    return tk_exception("(nothing raised)", -1);
}

void expect_failure(const std::function<void()>& f, const char* text, int level = 1)
{
    tk_exception e = raised(f);
    EXPECT_EQ(e.message, text);
    EXPECT_EQ(e.level, level);
}

constexpr const char* bad_path = "Bad path or busy with another process";
constexpr const char* open_error = "Error opening file";
constexpr const char* read_error = "Error reading from file";

class TkFile : public tk_test::home_fixture {
protected:
    std::string path(const char* name) const { return home.file(name); }
};

}  // namespace

TEST_F(TkFile, OpeningByModeAndMissingOrFolderNames)
{
    ::mkdir(path("folder").c_str(), 0755);
    struct row {
        const char* name;
        int mode;
        const char* failure;  // null: opens
    };
    const row rows[] = {
        {"missing", 0, bad_path},
        {"missing", 1, open_error},  // writing without creating needs the file
        {"folder", 0, bad_path},      // open() would succeed on a folder
        {"folder", 1, open_error},
        {"folder", 3, open_error},
        {"created", 3, nullptr},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(std::string(r.name) + " mode " + std::to_string(r.mode));
        auto open = [&] { tk_stdio_file f(path(r.name), r.mode); };
        if (r.failure)
            expect_failure(open, r.failure);
        else
            EXPECT_NO_THROW(open());
    }
    EXPECT_TRUE(exists(path("created")));
    EXPECT_EQ(tk_test::read_file(path("created")), "");
    EXPECT_FALSE(exists(path("missing")));
}

TEST_F(TkFile, CanonicalNameIsTheFullPath)
{
    tk_test::write_file(path("data.bin"), "x");
    tk_temp_chdir in_home(home.path());
    ASSERT_TRUE(in_home.is_changed());
    tk_stdio_file f("./sub/../data.bin", 0);
    EXPECT_EQ(f.get_canonical_name(), cwd() + "/data.bin");
}

TEST_F(TkFile, ReadsUpToTheEndAndNotBeyond)
{
    tk_test::write_file(path("data.bin"), std::string("\x01\x02\x03\x04\x05\x06", 6));
    tk_stdio_file f(path("data.bin"), 0);
    EXPECT_EQ(f.get_length(), 6);
    char buf[8] = {};
    EXPECT_EQ(f.get_at(2, buf, 4), buf);
    EXPECT_EQ(std::string(buf, 4), "\x03\x04\x05\x06");
    EXPECT_NO_THROW(f.get_at(6, buf, 0));
    EXPECT_EQ(f.get_char_at(5), 6);
    EXPECT_EQ(f.get_short_at(0), 0x0201);  // the machine's byte order
    EXPECT_EQ(f.get_long_at(2), 0x06050403u);

    expect_failure([&] { f.get_at(3, buf, 4); }, read_error);
    expect_failure([&] { f.get_char_at(6); }, read_error);
    expect_failure([&] { f.get_long_at(3); }, read_error);
    expect_failure([&] { f.get_at(-1, buf, 1); }, read_error);
    expect_failure([&] { f.get_at(0, buf, -1); }, read_error);
}

TEST_F(TkFile, PutBeyondTheEndPadsWithZeros)
{
    {
        tk_stdio_file f(path("ctx.bin"), 3);
        f.put_at(0, "abcd", 4);
        EXPECT_EQ(f.get_length(), 4);
        f.put_at(10, "XY", 2);
        EXPECT_EQ(f.get_length(), 12);
        char buf[12];
        f.get_at(0, buf, 12);
        EXPECT_EQ(std::string(buf, 12), std::string("abcd\0\0\0\0\0\0XY", 12));
        f.put_at(1, "B", 1);  // overwriting in place keeps the size
        EXPECT_EQ(f.get_length(), 12);
    }
    EXPECT_EQ(tk_test::read_file(path("ctx.bin")), std::string("aBcd\0\0\0\0\0\0XY", 12));

    // Mode 1 writes into the existing file without emptying it.
    {
        tk_stdio_file f(path("ctx.bin"), 1);
        f.put_at(12, "!", 1);
    }
    EXPECT_EQ(tk_test::read_file(path("ctx.bin")), std::string("aBcd\0\0\0\0\0\0XY!", 13));
}

TEST_F(TkFile, ReadOnlyFileRefusesWrites)
{
    tk_test::write_file(path("ro.bin"), "abcd");
    tk_stdio_file f(path("ro.bin"), 0);
    tk_exception e = raised([&] { f.put_at(0, "x", 1); });
    EXPECT_EQ(e.message, "Cannot write into file");
    EXPECT_EQ(e.level, 1);
    EXPECT_EQ(tk_test::read_file(path("ro.bin")), "abcd");
}

TEST_F(TkFile, FilesOver4GiBUse64BitOffsets)
{
    const std::int64_t size = std::int64_t{5} << 30;
    const std::int64_t marker_at = (std::int64_t{4} << 30) + 123;
    {
        int fd = ::open(path("big.bin").c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
        ASSERT_GE(fd, 0);
        bool sparse = ::ftruncate(fd, size) == 0;
        if (sparse) {
            ASSERT_EQ(::pwrite(fd, "M", 1, marker_at), 1);
        }
        ::close(fd);
        if (!sparse)
            GTEST_SKIP() << "the temporary folder holds no 5 GiB sparse file";
    }
    tk_stdio_file f(path("big.bin"), 0);
    EXPECT_EQ(f.get_length(), size);
    char buf[3] = {};
    f.get_at(marker_at - 1, buf, 3);
    EXPECT_EQ(std::string(buf, 3), std::string("\0M\0", 3));
    EXPECT_EQ(f.get_char_at(marker_at), 'M');
    EXPECT_NO_THROW(f.get_at(size - 1, buf, 1));
    // Both would pass a 32-bit or a wrapping range test.
    expect_failure([&] { f.get_at(size - 1, buf, 2); }, read_error);
    expect_failure([&] { f.get_at(std::numeric_limits<std::int64_t>::max() - 1, buf, 4); },
                   read_error);
    expect_failure([&] { f.get_at(4, buf, std::numeric_limits<std::int64_t>::max()); },
                   read_error);
}

TEST_F(TkFile, DeletingThroughTheBaseRunsTheWholeDestructor)
{
    std::string log = path("trace.log");
    tk_logger logger(log.c_str(), true, 1, false);
    std::unique_ptr<tk_file> f = std::make_unique<tk_stdio_file>(path("base.bin"), 3);
    f->put_at(0, "z", 1);
    f.reset();
    std::string text = tk_test::read_file(log);
    auto derived = text.find("tk_stdio_file::dtor\r\n");
    auto base = text.find("tk_file::~tk_file\r\n");
    ASSERT_NE(derived, std::string::npos);
    ASSERT_NE(base, std::string::npos);
    EXPECT_LT(derived, base);
    EXPECT_EQ(tk_test::read_file(path("base.bin")), "z");
}

TEST_F(TkFile, ExistenceTestsByMode)
{
    tk_test::write_file(path("rw.txt"), "data");
    tk_test::write_file(path("ro.txt"), "data");
    ::chmod(path("ro.txt").c_str(), 0444);
    ::mkdir(path("folder").c_str(), 0755);
    std::wstring wrw = tk_utf8_to_wide(path("rw.txt"));

    EXPECT_TRUE(tk_is_file_exist(path("rw.txt"), 1));
    EXPECT_TRUE(tk_is_file_exist(path("rw.txt"), 0x4000));
    EXPECT_TRUE(tk_is_file_exist(wrw, 1));
    EXPECT_TRUE(tk_is_file_exist(wrw, 0x4000));
    EXPECT_FALSE(tk_is_file_exist(path("missing"), 0x4000));
    EXPECT_FALSE(tk_is_file_exist(tk_utf8_to_wide(path("missing")), 1));

    // A folder is never a file, whatever the mode.
    for (int mode : {0, 1, 0x1000, 0x4000}) {
        SCOPED_TRACE(mode);
        EXPECT_FALSE(tk_is_file_exist(path("folder"), mode));
        EXPECT_FALSE(tk_is_file_exist(tk_utf8_to_wide(path("folder")), mode));
    }

    // Root may write any file, so the read-only case runs without root.
    std::string ro = path("ro.txt");
    auto result = tk_test::run_as_nobody([&] {
        return !tk_is_file_exist(ro, 1) && tk_is_file_exist(ro, 0x4000) &&
               !tk_is_file_exist(tk_utf8_to_wide(ro), 1) &&
               tk_is_file_exist(tk_utf8_to_wide(ro), 0x4000);
    });
    if (!result)
        GTEST_SKIP() << "cannot drop to an unprivileged user";
    EXPECT_TRUE(*result);
}

TEST_F(TkFile, WideCreateModeCreatesOrEmpties)
{
    tk_test::write_file(path("old.txt"), "old content");
    EXPECT_TRUE(tk_is_file_exist(tk_utf8_to_wide(path("old.txt")), 0x1000));
    EXPECT_EQ(tk_test::read_file(path("old.txt")), "");

    EXPECT_TRUE(tk_is_file_exist(tk_utf8_to_wide(path("new \u00e9.txt")), 0x1000));
    EXPECT_TRUE(exists(path("new \u00e9.txt")));

    // The narrow form never creates.
    EXPECT_FALSE(tk_is_file_exist(path("narrow.txt"), 0x1000));
    EXPECT_FALSE(exists(path("narrow.txt")));
}

TEST_F(TkFile, PathTestLeavesTheCurrentDirectory)
{
    tk_test::write_file(path("file.txt"), "x");
    ::mkdir(path("folder").c_str(), 0755);
    std::string before = cwd();
    EXPECT_TRUE(tk_is_path_exist(path("folder")));
    EXPECT_TRUE(tk_is_path_exist(path("folder") + "/"));
    EXPECT_FALSE(tk_is_path_exist(path("file.txt")));
    EXPECT_FALSE(tk_is_path_exist(path("missing")));
    EXPECT_FALSE(tk_is_path_exist(""));
    EXPECT_EQ(cwd(), before);
}

TEST_F(TkFile, TempChdirChangesBackAtTheEnd)
{
    std::string before = cwd();
    {
        tk_temp_chdir in_home(home.path());
        EXPECT_TRUE(in_home.is_changed());
        EXPECT_EQ(in_home.get_saved_directory(), before);
        EXPECT_EQ(std::filesystem::equivalent(cwd(), home.path()), true);
    }
    EXPECT_EQ(cwd(), before);
    {
        tk_temp_chdir nowhere(path("missing"));
        EXPECT_FALSE(nowhere.is_changed());
        EXPECT_EQ(cwd(), before);
    }
    EXPECT_EQ(cwd(), before);
    {
        tk_temp_chdir program_folder("");
        EXPECT_TRUE(program_folder.is_changed());
        EXPECT_EQ(cwd() + "/", tk_get_module_dir());
    }
    EXPECT_EQ(cwd(), before);
}

TEST_F(TkFile, SplitsAgainstTheWorkingDirectory)
{
    tk_temp_chdir in_home(home.path());
    ASSERT_TRUE(in_home.is_changed());
    const std::string base = cwd() + "/";
    struct row {
        const char* path;
        std::string directory;
        const char* name;
        const char* extension;
    };
    const row rows[] = {
        {"dir/sub/file.ext", base + "dir/sub/", "file", ".ext"},
        {".bashrc", base, "", ".bashrc"},
        {"a/b/", base + "a/b/", "", ""},
        {"x.tar.gz", base, "x.tar", ".gz"},
        {"dir.d/file", base + "dir.d/", "file", ""},
        {"back\\slash.txt", base, "back\\slash", ".txt"},
        {"./p/../q.txt", base, "q", ".txt"},
        {"/abs/./x/../name.", "/abs/", "name", "."},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.path);
        tk_file_name n(r.path);
        EXPECT_EQ(n.drive, "");
        EXPECT_EQ(n.directory, r.directory);
        EXPECT_EQ(n.name, r.name);
        EXPECT_EQ(n.extension, r.extension);
        EXPECT_EQ(n.get_path(), r.directory);
        EXPECT_EQ(n.get_full_name(), r.directory + r.name + r.extension);

        tk_file_wname w(tk_utf8_to_wide(r.path));
        EXPECT_EQ(w.drive, L"");
        EXPECT_EQ(w.directory, tk_utf8_to_wide(r.directory));
        EXPECT_EQ(w.name, tk_utf8_to_wide(r.name));
        EXPECT_EQ(w.extension, tk_utf8_to_wide(r.extension));
    }

    tk_file_wname w(L"dossier/\u00e9t\u00e9.\u0444");
    EXPECT_EQ(w.directory, tk_utf8_to_wide(base) + L"dossier/");
    EXPECT_EQ(w.name, L"\u00e9t\u00e9");
    EXPECT_EQ(w.extension, L".\u0444");
}

TEST_F(TkFile, EmptyPathIsTheProgramWithoutItsName)
{
    std::string module = tk_get_module_path();
    tk_file_name n("");
    EXPECT_EQ(n.directory, tk_get_module_dir());
    EXPECT_EQ(n.name, "");
    EXPECT_EQ(module.compare(0, n.directory.size(), n.directory), 0);
    EXPECT_EQ(n.get_full_name(), n.directory + n.extension);

    tk_file_wname w(L"");
    EXPECT_EQ(w.directory, tk_utf8_to_wide(tk_get_module_dir()));
    EXPECT_EQ(w.name, L"");
}

TEST_F(TkFile, PathsHaveNoLengthLimit)
{
    std::string component(99, 'd');
    std::string path;
    for (int i = 0; i < 50; ++i)
        path += component + "/";
    path += "last.name.txt";
    ASSERT_GT(path.size(), 5000u);

    tk_file_name n("/" + path);
    EXPECT_EQ(n.directory, "/" + path.substr(0, path.size() - 13));
    EXPECT_EQ(n.name, "last.name");
    EXPECT_EQ(n.extension, ".txt");
    EXPECT_EQ(n.get_full_name(), "/" + path);

    tk_file_wname w(tk_utf8_to_wide(path));
    EXPECT_EQ(w.get_full_name(), tk_utf8_to_wide(cwd() + "/" + path));
}

TEST_F(TkFile, VanishedWorkingDirectoryIsABadPath)
{
    std::string gone = path("gone");
    ASSERT_EQ(::mkdir(gone.c_str(), 0755), 0);
    tk_temp_chdir restore(gone);
    ASSERT_TRUE(restore.is_changed());
    ASSERT_EQ(::rmdir(gone.c_str()), 0);
    expect_failure([] { tk_file_name n("relative.txt"); }, bad_path);
    expect_failure([] { tk_file_wname n(L"relative.txt"); }, bad_path);
    // An absolute path needs no working directory.
    EXPECT_EQ(tk_file_name("/abs/file.txt").get_full_name(), "/abs/file.txt");
}

TEST(TkModulePath, EndsInTheTestProgramsName)
{
    std::string path = tk_get_module_path();
    const std::string name = "/tk_tests";
    ASSERT_GT(path.size(), name.size());
    EXPECT_EQ(path.substr(path.size() - name.size()), name);
    EXPECT_EQ(path.front(), '/');
    EXPECT_EQ(tk_get_module_wpath(), tk_utf8_to_wide(path));
    EXPECT_EQ(tk_get_module_dir(), path.substr(0, path.size() - name.size() + 1));
}

namespace {

class TkDocuments : public tk_test::home_fixture {
protected:
    std::wstring home_w(const std::string& sub = "") const
    {
        return tk_utf8_to_wide(home.path() + sub);
    }
    void make(const std::string& sub) const
    {
        std::filesystem::create_directories(home.path() + sub);
    }
};

}  // namespace

TEST_F(TkDocuments, FallsBackFromUserDirsToDocumentsToHome)
{
    EXPECT_EQ(tk_get_user_home_wpath(), home_w());

    make("/Documents");
    EXPECT_EQ(tk_get_user_home_wpath(), home_w("/Documents"));

    make("/.config");
    make("/Papiers \u00e9crits");
    tk_test::write_file(config_dir() + "/user-dirs.dirs",
                        "# written by xdg-user-dirs-update\n"
                        "XDG_DESKTOP_DIR=\"$HOME/Desktop\"\n"
                        "XDG_DOCUMENTS_DIR=\"$HOME/Papiers \u00e9crits\"\n");
    EXPECT_EQ(tk_get_user_home_wpath(), home_w("/Papiers \u00e9crits"));

    // A documents folder that does not exist is passed over.
    tk_test::write_file(config_dir() + "/user-dirs.dirs", "XDG_DOCUMENTS_DIR=\"$HOME/Gone\"\n");
    EXPECT_EQ(tk_get_user_home_wpath(), home_w("/Documents"));

    make("/elsewhere");
    tk_test::write_file(config_dir() + "/user-dirs.dirs",
                        "XDG_DOCUMENTS_DIR=\"" + home.path() + "/elsewhere/\"\n");
    EXPECT_EQ(tk_get_user_home_wpath(), home_w("/elsewhere"));
}

TEST_F(TkDocuments, ConfigFolderFollowsXdgConfigHomeOrHome)
{
    make("/.config");
    make("/alt");
    make("/Docs1");
    make("/Docs2");
    tk_test::write_file(home.path() + "/.config/user-dirs.dirs", "XDG_DOCUMENTS_DIR=\"$HOME/Docs1\"\n");
    tk_test::write_file(home.path() + "/alt/user-dirs.dirs", "XDG_DOCUMENTS_DIR=\"$HOME/Docs2\"\n");
    {
        tk_test::scoped_env xdg("XDG_CONFIG_HOME", home.path() + "/alt");
        EXPECT_EQ(tk_get_config_dir(), home.path() + "/alt");
        EXPECT_EQ(tk_get_user_home_wpath(), home_w("/Docs2"));
    }
    {
        tk_test::scoped_env xdg("XDG_CONFIG_HOME", std::nullopt);
        EXPECT_EQ(tk_get_config_dir(), home.path() + "/.config");
        EXPECT_EQ(tk_get_user_home_wpath(), home_w("/Docs1"));
    }
    {
        // A relative XDG_CONFIG_HOME is to be ignored.
        tk_test::scoped_env xdg("XDG_CONFIG_HOME", "alt");
        EXPECT_EQ(tk_get_config_dir(), home.path() + "/.config");
    }
}

TEST_F(TkDocuments, WithoutHomeThePasswdEntryIsUsed)
{
    struct passwd* pw = ::getpwuid(::getuid());
    if (!pw || !pw->pw_dir || !*pw->pw_dir)
        GTEST_SKIP() << "no passwd entry";
    std::string pw_home = pw->pw_dir;
    tk_test::scoped_env no_home("HOME", std::nullopt);
    tk_test::scoped_env no_xdg("XDG_CONFIG_HOME", std::nullopt);
    EXPECT_EQ(tk_get_home_dir(), pw_home);
    EXPECT_EQ(tk_get_config_dir(), (pw_home == "/" ? "" : pw_home) + "/.config");
}

namespace {

class TkDesktop : public ::testing::Test {
protected:
    ~TkDesktop() override { tk_set_desktop({}); }
};

}  // namespace

TEST_F(TkDesktop, BugMailUri)
{
    EXPECT_EQ(tk_bug_mail_uri("T", "Internal error: \ncode=61"),
              "mailto:support@fennick.example?subject=Bug%20report%20on%20T"
              "&body=Internal%20error%3A%20%0D%0Acode%3D61");
    // CRLF stays as it is; UTF-8 bytes and reserved characters are encoded.
    EXPECT_EQ(tk_bug_mail_uri("a&b?", "x\r\ny\n\u00e9-._~"),
              "mailto:support@fennick.example?subject=Bug%20report%20on%20a%26b%3F"
              "&body=x%0D%0Ay%0D%0A%C3%A9-._~");
}

TEST_F(TkDesktop, HooksReceiveTheClipboardTextAndTheMailLink)
{
    // Without hooks nothing happens.
    EXPECT_NO_THROW(tk_copy_to_clipboard2(L"text"));
    EXPECT_NO_THROW(tk_send_bug("T", "text"));

    std::vector<std::wstring> copied;
    std::vector<std::string> opened;
    tk_set_desktop({[&](const std::wstring& t) { copied.push_back(t); },
                    [&](const std::string& u) { opened.push_back(u); }});
    tk_copy_to_clipboard2(std::wstring(L"before\0after", 12));
    tk_send_bug("T", "Internal error: \ncode=61");
    ASSERT_EQ(copied.size(), 1u);
    EXPECT_EQ(copied[0], L"before");
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0], tk_bug_mail_uri("T", "Internal error: \ncode=61"));

    // A failing hook is only traced.
    tk_set_desktop({[](const std::wstring&) { throw std::runtime_error("busy"); },
                    [](const std::string&) { throw 1; }});
    EXPECT_NO_THROW(tk_copy_to_clipboard2(L"text"));
    EXPECT_NO_THROW(tk_send_bug("T", "text"));
}
