#include "test_support.h"
#include "tk_exception.h"
#include "tk_reg_key.h"
#include "tk_unicode.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace {

const char* const key_path = "Software\\Fennick\\Velmora-to-PostgreSQL";
const std::string header = "[Software\\Fennick\\Velmora-to-PostgreSQL]\n";

class TkSettings : public tk_test::home_fixture {
protected:
    std::string folder() const { return config_dir() + "/Fennick"; }
    std::string file() const { return folder() + "/Velmora-to-PostgreSQL.conf"; }
    void write_settings(const std::string& content) const
    {
        std::filesystem::create_directories(folder());
        tk_test::write_file(file(), content);
    }
    static int mode_of(const std::string& path)
    {
        struct stat st {};
        if (::stat(path.c_str(), &st) != 0)
            return -1;
        return static_cast<int>(st.st_mode & 07777);
    }
};

}  // namespace

TEST_F(TkSettings, OpeningNamesTheFileAndWritesNothing)
{
    tk_serializer s(key_path);
    EXPECT_EQ(s.get_registry_path(), key_path);
    EXPECT_FALSE(s.is_open());
    ASSERT_EQ(s.open(), 0);
    EXPECT_TRUE(s.is_open());
    EXPECT_EQ(s.get_file_name(), file());
    EXPECT_FALSE(std::filesystem::exists(config_dir()));

    struct row {
        const char* key;
        std::string file;  // empty: refused
    };
    const row rows[] = {
        {"Software\\A\\B\\C", config_dir() + "/A/B/C.conf"},
        {"software\\Maker\\P", config_dir() + "/Maker/P.conf"},
        {"Other\\Tool", config_dir() + "/Other/Tool.conf"},
        {"Single", config_dir() + "/Single.conf"},
        {"", ""},
        {"Software", ""},
        {"Software\\..\\x", ""},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.key);
        tk_reg_key k;
        int rc = k.create(r.key);
        if (r.file.empty()) {
            EXPECT_EQ(rc, EINVAL);
            EXPECT_FALSE(k.is_open());
        } else {
            EXPECT_EQ(rc, 0);
            EXPECT_EQ(k.get_file_name(), r.file);
        }
    }
}

TEST_F(TkSettings, RoundTripOfAllFourKinds)
{
    {
        tk_serializer s(key_path);
        ASSERT_EQ(s.open(), 0);
        std::uint32_t port = 4294967295u;
        bool quick = true;
        bool quiet = false;
        std::string host = "db.example";
        std::wstring user = L"\u041f\u0440\u0438\u0432\u0435\u0442";
        EXPECT_TRUE(s.serialize("port", port, true));
        EXPECT_TRUE(s.serialize("quick", quick, true));
        EXPECT_TRUE(s.serialize("quiet", quiet, true));
        EXPECT_TRUE(s.serialize("host", host, true));
        EXPECT_TRUE(s.serialize(L"user", user, true));
    }
    EXPECT_EQ(tk_test::read_file(file()), header +
                                              "host=sz:db.example\n"
                                              "port=dword:4294967295\n"
                                              "quick=dword:1\n"
                                              "quiet=dword:0\n"
                                              "user=sz:\u041f\u0440\u0438\u0432\u0435\u0442\n");

    tk_serializer s(key_path);
    ASSERT_EQ(s.open(), 0);
    std::uint32_t port = 0;
    bool quick = false;
    bool quiet = true;
    std::string host;
    std::wstring user;
    EXPECT_TRUE(s.serialize("port", port, false));
    EXPECT_TRUE(s.serialize("quick", quick, false));
    EXPECT_TRUE(s.serialize("quiet", quiet, false));
    EXPECT_TRUE(s.serialize("host", host, false));
    EXPECT_TRUE(s.serialize(L"user", user, false));
    EXPECT_EQ(port, 4294967295u);
    EXPECT_TRUE(quick);
    EXPECT_FALSE(quiet);
    EXPECT_EQ(host, "db.example");
    EXPECT_EQ(user, L"\u041f\u0440\u0438\u0432\u0435\u0442");
}

TEST_F(TkSettings, LoadingKeepsDefaultsOfMissingWrongOrCorruptValues)
{
    write_settings(header +
                   "flag=dword:7\n"
                   "off=dword:0\n"
                   "negative=dword:-1\n"
                   "too_big=dword:4294967296\n"
                   "trailing=dword:12x\n"
                   "blank=dword: 12\n"
                   "empty_number=dword:\n"
                   "bad_escape=sz:a\\tb\n"
                   "cut_escape=sz:a\\\n"
                   "no equals sign\n"
                   "unknown=qword:1\n"
                   "dup=sz:first\n"
                   "dup=sz:second\n"
                   "text=sz:words\n"
                   "empty=sz:\n");
    tk_serializer s(key_path);
    ASSERT_EQ(s.open(), 0);

    bool flag = false, off = true;
    EXPECT_TRUE(s.serialize("flag", flag, false));
    EXPECT_TRUE(flag);
    EXPECT_TRUE(s.serialize("off", off, false));
    EXPECT_FALSE(off);

    for (const char* name :
         {"negative", "too_big", "trailing", "blank", "empty_number", "unknown", "missing"}) {
        SCOPED_TRACE(name);
        std::uint32_t n = 42;
        EXPECT_FALSE(s.serialize(name, n, false));
        EXPECT_EQ(n, 42u);
    }
    for (const char* name : {"bad_escape", "cut_escape", "unknown", "missing"}) {
        SCOPED_TRACE(name);
        std::string text = "default";
        EXPECT_FALSE(s.serialize(name, text, false));
        EXPECT_EQ(text, "default");
        std::wstring wide = L"default";
        EXPECT_FALSE(s.serialize(tk_utf8_to_wide(name), wide, false));
        EXPECT_EQ(wide, L"default");
    }

    std::string dup, empty = "default";
    EXPECT_TRUE(s.serialize("dup", dup, false));
    EXPECT_EQ(dup, "first");
    EXPECT_TRUE(s.serialize("empty", empty, false));
    EXPECT_EQ(empty, "");

    // The wrong type fails and keeps the default.
    std::uint32_t n = 42;
    EXPECT_EQ(s.get_value(n, "text"), EINVAL);
    EXPECT_FALSE(s.serialize("text", n, false));
    bool b = true;
    EXPECT_FALSE(s.serialize("text", b, false));
    EXPECT_TRUE(b);
    EXPECT_EQ(n, 42u);
    std::string text = "default";
    EXPECT_EQ(s.get_value(text, "flag"), EINVAL);
    EXPECT_FALSE(s.serialize("flag", text, false));
    EXPECT_EQ(text, "default");
    EXPECT_EQ(s.get_value(text, "missing"), ENOENT);

    // The next write drops what did not parse, and the second "dup".
    EXPECT_EQ(s.set_value(std::uint32_t{3}, "new"), 0);
    EXPECT_EQ(tk_test::read_file(file()), header +
                                              "dup=sz:first\n"
                                              "empty=sz:\n"
                                              "flag=dword:7\n"
                                              "new=dword:3\n"
                                              "off=dword:0\n"
                                              "text=sz:words\n");
}

TEST_F(TkSettings, TextComesBackAsItWas)
{
    const std::string value = "  C:\\dir\\new\r\nline\nend\\n\t ";
    const std::wstring wide = L" \u00e9\\r\r\n\u0416 ";
    {
        tk_serializer s(key_path);
        ASSERT_EQ(s.open(), 0);
        EXPECT_EQ(s.set_value(value, "text"), 0);
        EXPECT_EQ(s.set_value(wide, L"wide"), 0);
        EXPECT_EQ(s.set_value(std::string(), "empty"), 0);
    }
    EXPECT_EQ(tk_test::read_file(file()),
              header + "empty=sz:\n" +
                  "text=sz:  C:\\\\dir\\\\new\\r\\nline\\nend\\\\n\t \n" +
                  "wide=sz: \u00e9\\\\r\\r\\n\u0416 \n");
    tk_serializer s(key_path);
    ASSERT_EQ(s.open(), 0);
    std::string text, empty = "default";
    std::wstring w;
    EXPECT_EQ(s.get_value(text, "text"), 0);
    EXPECT_EQ(text, value);
    EXPECT_EQ(s.get_value(w, L"wide"), 0);
    EXPECT_EQ(w, wide);
    EXPECT_EQ(s.get_value(empty, "empty"), 0);
    EXPECT_EQ(empty, "");
}

TEST_F(TkSettings, NamesThatCannotBeWrittenAreRefused)
{
    tk_serializer s(key_path);
    ASSERT_EQ(s.open(), 0);
    EXPECT_EQ(s.set_value(std::uint32_t{1}, "a=b"), EINVAL);
    EXPECT_EQ(s.set_value("x", "line\nbreak"), EINVAL);
    EXPECT_EQ(s.set_value(L"x", L"cr\r"), EINVAL);
    EXPECT_FALSE(std::filesystem::exists(file()));
}

TEST_F(TkSettings, WithoutAnOpenKeyNothingIsDone)
{
    tk_reg_key k;
    std::uint32_t n = 5;
    bool b = true;
    std::string s = "s";
    std::wstring w = L"w";
    for (bool store : {false, true}) {
        EXPECT_FALSE(k.serialize("n", n, store));
        EXPECT_FALSE(k.serialize("b", b, store));
        EXPECT_FALSE(k.serialize("s", s, store));
        EXPECT_FALSE(k.serialize(L"w", w, store));
    }
    EXPECT_EQ(n, 5u);
    EXPECT_TRUE(b);
    EXPECT_EQ(s, "s");
    EXPECT_EQ(w, L"w");
    EXPECT_NE(k.get_value(n, "n"), 0);
    EXPECT_EQ(k.close(), 0);

    struct row {
        int line;
        std::function<void()> call;
    };
    const row rows[] = {
        {149, [&] { k.set_value(std::uint32_t{1}, "n"); }},
        {157, [&] { k.set_value(std::string("t"), "s"); }},
        {165, [&] { k.set_value(std::wstring(L"t"), L"w"); }},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.line);
        try {
            r.call();
            ADD_FAILURE() << "nothing raised";
        } catch (const tk_mail_assertion& e) {
            EXPECT_EQ(e.message, make_err_meggase("tk_regk", r.line));
            EXPECT_EQ(e.level, 2);
        }
    }
    EXPECT_FALSE(std::filesystem::exists(config_dir()));
}

TEST_F(TkSettings, FileIsPrivateAndReplacedWhole)
{
    // An older file readable by everyone becomes private at the next write.
    write_settings(header + "old=dword:1\n");
    ::chmod(file().c_str(), 0644);
    std::filesystem::remove_all(config_dir());

    tk_serializer s(key_path);
    ASSERT_EQ(s.open(), 0);
    ASSERT_EQ(s.set_value("secret", "password"), 0);
    EXPECT_EQ(mode_of(file()), 0600);
    EXPECT_EQ(mode_of(folder()), 0700);
    EXPECT_EQ(mode_of(config_dir()), 0700);

    ::chmod(file().c_str(), 0644);
    ASSERT_EQ(s.set_value("other", "user"), 0);
    EXPECT_EQ(mode_of(file()), 0600);

    // Nothing but the file is left in the folder.
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(folder()))
        names.push_back(e.path().filename().string());
    EXPECT_EQ(names, std::vector<std::string>{"Velmora-to-PostgreSQL.conf"});
}

TEST_F(TkSettings, FailedWriteKeepsTheOldFile)
{
    const std::string old = header + "kept=dword:1\n";
    write_settings(old);
    ::chmod(config_dir().c_str(), 0700);
    ::chmod(folder().c_str(), 0700);
    ::chmod(file().c_str(), 0600);
    if (::geteuid() == 0) {
        // The unprivileged child must own what it reads.
        for (const std::string& p : {config_dir(), folder(), file()})
            ASSERT_EQ(::chown(p.c_str(), 65534, 65534), 0);
    }
    ASSERT_EQ(::chmod(folder().c_str(), 0500), 0);

    // Root writes into any folder, so the write runs without root.
    auto result = tk_test::run_as_nobody([] {
        tk_serializer s(key_path);
        std::uint32_t kept = 0;
        std::string added;
        return s.open() == 0 && s.serialize("kept", kept, false) && kept == 1 &&
               s.set_value("value", "added") != 0 && s.get_value(added, "added") == ENOENT &&
               !s.serialize("added", added, true);
    });
    ::chmod(folder().c_str(), 0700);
    if (!result)
        GTEST_SKIP() << "cannot drop to an unprivileged user";
    EXPECT_TRUE(*result);
    EXPECT_EQ(tk_test::read_file(file()), old);
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(folder()))
        names.push_back(e.path().filename().string());
    EXPECT_EQ(names, std::vector<std::string>{"Velmora-to-PostgreSQL.conf"});
}

TEST_F(TkSettings, FailedOpenKeepsTheKeyHeldSoFar)
{
    write_settings(header + "n=dword:9\n");
    tk_reg_key k;
    ASSERT_EQ(k.create(key_path), 0);
    std::filesystem::create_directories(config_dir() + "/Fennick/Folder.conf");
    EXPECT_EQ(k.create("Software\\Fennick\\Folder"), EISDIR);
    EXPECT_TRUE(k.is_open());
    EXPECT_EQ(k.get_file_name(), file());
    std::uint32_t n = 0;
    EXPECT_EQ(k.get_value(n, "n"), 0);
    EXPECT_EQ(n, 9u);
    EXPECT_EQ(k.close(), 0);
    EXPECT_FALSE(k.is_open());
    EXPECT_EQ(k.get_file_name(), "");
}
