// The main converter's settings: the wizard's settings file, the profile
// keys of the PostgreSQL side and the case setting, and the profile files.

#include "velconv_convertor.h"

#include "recording_front_end.h"
#include "test_support.h"
#include "tk_exception.h"
#include "tk_reg_key.h"
#include "tk_unicode.h"
#include "udb_profile.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace {

using mode = recording_front_end::mode;

class converter_settings : public tk_test::home_fixture {
protected:
    std::string settings_folder() const { return config_dir() + "/Fennick"; }
    std::string settings_file() const { return settings_folder() + "/Velmora-to-PostgreSQL.conf"; }
    static bool exists(const std::string& path)
    {
        struct stat st {};
        return ::stat(path.c_str(), &st) == 0;
    }
    static mode_t mode_of(const std::string& path)
    {
        struct stat st {};
        EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
        return st.st_mode & 07777;
    }
    void write_settings(const std::string& lines)
    {
        ::mkdir(config_dir().c_str(), 0700);
        ::mkdir(settings_folder().c_str(), 0700);
        tk_test::write_file(settings_file(), "[Software\\Fennick\\Velmora-to-PostgreSQL]\n" + lines);
    }
};

TEST_F(converter_settings, gui_form_without_a_file_starts_from_the_defaults_and_writes_all_eleven_values)
{
    recording_front_end fe(mode::gui);
    {
        velconv_convertor c;
        EXPECT_FALSE(c.is_console());
        EXPECT_EQ(c.case_sens, 1);
        EXPECT_EQ(c.port, 0);
        EXPECT_EQ(c.skip_idx, 0);
        EXPECT_EQ(c.tab_def, 0);
        EXPECT_EQ(c.use_schema, 0);
        EXPECT_TRUE(c.src.empty() && c.dest.empty() && c.log_file.empty());
        EXPECT_TRUE(c.host.empty() && c.user.empty() && c.password.empty());
        EXPECT_EQ(c.schema, L"public");
        // Opening the key to read it makes no file.
        EXPECT_FALSE(exists(settings_file()));
    }
    ASSERT_TRUE(exists(settings_file()));
    EXPECT_EQ(mode_of(settings_file()), 0600u);
    EXPECT_EQ(mode_of(settings_folder()), 0700u);

    tk_serializer key(velc_settings_key);
    ASSERT_EQ(key.open(), 0);
    std::uint32_t n = 99;
    for (const char* name : {"case_sens", "port", "skip_idx", "tab_def", "use_schema"}) {
        SCOPED_TRACE(name);
        ASSERT_EQ(key.get_value(n, name), 0);
        EXPECT_EQ(n, std::string(name) == "case_sens" ? 1u : 0u);
    }
    std::string text = "x";
    for (const char* name : {"host", "log_file", "user", "pswd"}) {
        SCOPED_TRACE(name);
        ASSERT_EQ(key.get_value(text, name), 0);
        EXPECT_EQ(text, "");
    }
    std::wstring wide = L"x";
    for (const wchar_t* name : {L"dest", L"src"}) {
        ASSERT_EQ(key.get_value(wide, name), 0);
        EXPECT_EQ(wide, L"");
    }
}

TEST_F(converter_settings, gui_form_keeps_every_value_between_runs)
{
    recording_front_end fe(mode::gui);
    {
        velconv_convertor c;
        c.case_sens = 0;
        c.dest = L"d\x00E9st";
        c.host = "db.example";
        c.log_file = "/tmp/velc.log";
        c.port = 5433;
        c.skip_idx = 1;
        c.src = L"/data/\x0416.dmp";
        c.tab_def = 1;
        c.use_schema = 1;
        c.user = "scott";
        c.password = "ti=ger\n";
        // Not kept in the settings file.
        c.n_mode = 3;
        c.schema = L"other";
    }
    velconv_convertor c;
    EXPECT_EQ(c.case_sens, 0);
    EXPECT_EQ(c.dest, L"d\x00E9st");
    EXPECT_EQ(c.host, "db.example");
    EXPECT_EQ(c.log_file, "/tmp/velc.log");
    EXPECT_EQ(c.port, 5433);
    EXPECT_EQ(c.skip_idx, 1);
    EXPECT_EQ(c.src, L"/data/\x0416.dmp");
    EXPECT_EQ(c.tab_def, 1);
    EXPECT_EQ(c.use_schema, 1);
    EXPECT_EQ(c.user, "scott");
    EXPECT_EQ(c.password, "ti=ger\n");
    EXPECT_EQ(c.n_mode, 0);
    EXPECT_EQ(c.schema, L"public");
}

TEST_F(converter_settings, a_value_that_cannot_be_read_keeps_its_default)
{
    write_settings("case_sens=sz:yes\n"
                   "dest=dword:5\n"
                   "host=sz:h\n"
                   "port=dword:70000\n"
                   "skip_idx=dword:7\n"
                   "tab_def=dword:abc\n"
                   "use_schema=dword:-1\n"
                   "user=dword:1\n");
    recording_front_end fe(mode::gui);
    velconv_convertor c;
    EXPECT_EQ(c.case_sens, 1);
    EXPECT_EQ(c.dest, L"");
    EXPECT_EQ(c.host, "h");
    EXPECT_EQ(c.port, 0);
    EXPECT_EQ(c.skip_idx, 1);  // any non-zero number is set
    EXPECT_EQ(c.tab_def, 0);
    EXPECT_EQ(c.use_schema, 0);
    EXPECT_EQ(c.user, "");
    // Reading again first restores each default, then reads what it can.
    c.case_sens = 0;
    c.port = 9;
    c.tab_def = 1;
    c.use_schema = 1;
    c.host = "changed";
    EXPECT_FALSE(c.serialize(false));  // not every value was read
    EXPECT_EQ(c.case_sens, 1);
    EXPECT_EQ(c.port, 0);
    EXPECT_EQ(c.tab_def, 0);
    EXPECT_EQ(c.use_schema, 0);
    EXPECT_EQ(c.host, "h");
}

TEST_F(converter_settings, console_form_never_reads_writes_or_creates_the_file)
{
    recording_front_end fe(mode::console);
    {
        velconv_convertor c;
        EXPECT_TRUE(c.is_console());
        EXPECT_EQ(c.case_sens, 0);
        c.dest = L"x";
        c.port = 7;
        EXPECT_FALSE(c.serialize(true));
    }
    EXPECT_FALSE(exists(settings_folder()));

    write_settings("case_sens=dword:1\ndest=sz:saved\nport=dword:6000\n");
    const std::string content = tk_test::read_file(settings_file());
    {
        velconv_convertor c;
        EXPECT_EQ(c.case_sens, 0);
        EXPECT_EQ(c.dest, L"");
        EXPECT_EQ(c.port, 0);
        EXPECT_FALSE(c.serialize(false));
        EXPECT_EQ(c.dest, L"");
        c.dest = L"other";
    }
    EXPECT_EQ(tk_test::read_file(settings_file()), content);
}

TEST_F(converter_settings, a_settings_file_that_cannot_be_written_ends_the_converter_quietly)
{
    // The configuration folder is a file: the key cannot be opened.
    tk_test::write_file(config_dir(), "not a folder");
    recording_front_end fe(mode::gui);
    auto c = std::make_unique<velconv_convertor>();
    EXPECT_EQ(c->case_sens, 1);
    EXPECT_FALSE(c->serialize(true));
    c->dest = L"x";
    EXPECT_NO_THROW(c.reset());
    EXPECT_EQ(velconv_convertor::try_instance(), nullptr);
}

TEST_F(converter_settings, the_converter_needs_a_front_end_and_is_one_per_process)
{
    EXPECT_THROW(velconv_convertor c, tk_mail_assertion);
    recording_front_end fe(mode::console);
    velconv_convertor c;
    EXPECT_EQ(velconv_convertor::try_instance(), &c);
    EXPECT_THROW(velconv_convertor second, tk_mail_assertion);
    EXPECT_EQ(velconv_convertor::try_instance(), &c);
}

// ---------------------------------------------------------------------------
// Profiles.

class converter_profile : public tk_test::home_fixture {
protected:
    recording_front_end fe{mode::console};
    velconv_convertor c;
};

TEST_F(converter_profile, case_sens_is_set_only_by_exactly_1_and_cleared_by_any_other_value)
{
    struct row {
        const wchar_t* value;
        std::uint8_t before;
        std::uint8_t after;
    };
    const row rows[] = {
        {L"1", 0, 1}, {L"yes", 1, 0}, {L"0", 1, 0}, {L"", 1, 1}, {L"", 0, 0}, {L"11", 1, 0},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(testing::Message() << tk_wide_to_utf8(r.value) << " from " << int(r.before));
        c.case_sens = r.before;
        udb_profile p;
        p.set_value(L"Generic settings", L"case_sens", r.value);
        EXPECT_TRUE(c.load_profile(p));
        EXPECT_EQ(c.case_sens, r.after);
    }
}

TEST_F(converter_profile, a_profile_without_pgs_settings_leaves_the_connection)
{
    c.set_connection("h", "u", "p", 6000);
    c.schema = L"s";
    udb_profile p;
    p.set_value(L"Generic settings", L"dest", L"d");
    EXPECT_TRUE(c.load_profile(p));
    EXPECT_EQ(c.dest, L"d");
    EXPECT_EQ(c.host, "h");
    EXPECT_EQ(c.user, "u");
    EXPECT_EQ(c.password, "p");
    EXPECT_EQ(c.port, 6000);
    EXPECT_EQ(c.schema, L"s");
}

TEST_F(converter_profile, port_must_read_as_1_to_65535)
{
    struct row {
        const wchar_t* text;
        std::optional<int> port;  // none: refused
    };
    const row rows[] = {
        {L"5433", 5433}, {L" 42", 42}, {L"\t42", 42}, {L"42x", 42}, {L"+7", 7}, {L"1", 1}, {L"65535", 65535},
        {L"0", std::nullopt}, {L"abc", std::nullopt}, {L"-5", std::nullopt}, {L"70000", std::nullopt},
        {L"65536", std::nullopt}, {L"99999999999", std::nullopt}, {L"4294967297", std::nullopt},
        {L"99999999999999999999999", std::nullopt}, {L" ", std::nullopt},
    };
    for (const row& r : rows) {
        SCOPED_TRACE("port '" + tk_wide_to_utf8(r.text) + "'");
        c.set_connection("old", "old", "old", 1234);
        c.schema = L"public";
        udb_profile p;
        p.set_value(L"pgs settings", L"host", L"h\x00E9");
        p.set_value(L"pgs settings", L"user", L"u");
        p.set_value(L"pgs settings", L"password", L"pw");
        p.set_value(L"pgs settings", L"schema", L"s");
        p.set_value(L"pgs settings", L"port", r.text);
        if (r.port) {
            EXPECT_TRUE(c.load_profile(p));
            EXPECT_EQ(c.port, *r.port);
        } else {
            try {
                c.load_profile(p);
                ADD_FAILURE() << "the port was accepted";
            } catch (const tk_exception& e) {
                EXPECT_EQ(e.level, 1);
                EXPECT_EQ(e.message, "Invalid port number");
            }
            EXPECT_EQ(c.port, 1234);
        }
        // The keys read before the port stay applied either way.
        EXPECT_EQ(c.host, "h\xC3\xA9");
        EXPECT_EQ(c.user, "u");
        EXPECT_EQ(c.password, "pw");
        EXPECT_EQ(c.schema, L"s");
    }
}

TEST_F(converter_profile, a_file_round_trip_keeps_every_profile_setting)
{
    c.src = L"/data/exp.dmp";
    c.dest = L"target";
    c.n_mode = 2;
    c.tab_def = 1;
    c.skip_idx = 1;
    c.set_case_sens(true);
    c.set_connection("db.example", "scott", "tiger", 5433);
    c.schema = L"sales";
    c.selected_tables = {L"EMP", L"DEPT"};
    const std::wstring path = tk_utf8_to_wide(home.file("p.velc"));
    ASSERT_TRUE(c.save_profile_file(path));

    const std::string text = tk_test::read_file(home.file("p.velc"));
    EXPECT_NE(text.find("[pgs settings]\r\nhost=db.example\r\npassword=tiger\r\nport=5433\r\nschema=sales\r\n"
                        "user=scott\r\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("case_sens=1\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find("[Selected Tables]\r\nDEPT\r\nEMP\r\n"), std::string::npos) << text;

    c.src.clear();
    c.dest.clear();
    c.n_mode = 0;
    c.tab_def = 0;
    c.skip_idx = 0;
    c.set_case_sens(false);
    c.set_connection("", "", "", 0);
    c.schema = L"public";
    c.selected_tables.clear();
    c.profile_selection.clear();
    ASSERT_TRUE(c.load_profile_file(path));
    EXPECT_EQ(c.src, L"/data/exp.dmp");
    EXPECT_EQ(c.dest, L"target");
    EXPECT_EQ(c.n_mode, 2);
    EXPECT_EQ(c.tab_def, 1);
    EXPECT_EQ(c.skip_idx, 1);
    EXPECT_EQ(c.case_sens, 1);
    EXPECT_EQ(c.host, "db.example");
    EXPECT_EQ(c.user, "scott");
    EXPECT_EQ(c.password, "tiger");
    EXPECT_EQ(c.port, 5433);
    EXPECT_EQ(c.schema, L"sales");
    EXPECT_EQ(c.selected_tables, (std::vector<std::wstring>{L"DEPT", L"EMP"}));
}

TEST_F(converter_profile, an_unset_connection_is_left_out_of_the_profile)
{
    c.schema.clear();
    udb_profile p;
    c.store_profile(p);
    const auto& sections = p.get_sections();
    const auto pgs = sections.find(L"pgs settings");
    EXPECT_TRUE(pgs == sections.end() || pgs->second.empty());
    EXPECT_EQ(p.get_value(L"Generic settings", L"case_sens"), L"0");
}

TEST_F(converter_profile, a_table_removed_from_a_loaded_selection_is_not_saved)
{
    const std::string in = home.file("in.velc");
    tk_test::write_file(in, "[Selected Tables]\r\nEMP\r\nDEPT\r\nX=select 1\r\n");
    ASSERT_TRUE(c.load_profile_file(tk_utf8_to_wide(in)));
    ASSERT_EQ(c.selected_tables, (std::vector<std::wstring>{L"DEPT", L"EMP"}));
    c.selected_tables = {L"DEPT"};
    udb_profile p;
    c.store_profile(p);
    EXPECT_EQ(p.get_selected_tables(), (udb_profile::t_pairs{{L"DEPT", L""}, {L"X", L"select 1"}}));
}

TEST_F(converter_profile, a_file_that_is_not_a_valid_profile_gives_false_with_nothing_applied)
{
    for (const char* content : {"EMP\r\n[Generic settings]\r\ndest=d\r\n", "dest=d\r\n[Generic settings]\r\n"}) {
        const std::string path = home.file("bad.velc");
        tk_test::write_file(path, content);
        c.dest = L"kept";
        EXPECT_FALSE(c.load_profile_file(tk_utf8_to_wide(path)));
        EXPECT_EQ(c.dest, L"kept");
    }
    try {
        c.load_profile_file(tk_utf8_to_wide(home.file("missing.velc")));
        ADD_FAILURE() << "a missing profile was accepted";
    } catch (const tk_exception& e) {
        EXPECT_EQ(e.level, 1);
        EXPECT_EQ(e.message, "Profile does not exist. Please verify the correct path/name was given.");
    }
}

}  // namespace
