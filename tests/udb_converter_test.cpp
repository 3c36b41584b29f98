#include "udb_converter.h"

#include "test_support.h"
#include "tk_exception.h"
#include "tk_unicode.h"
#include "udb_profile.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <string>
#include <type_traits>
#include <vector>

namespace {

const std::wstring generic = L"Generic settings";
const std::wstring selected = L"Selected Tables";

using names = std::vector<std::wstring>;

// Counts past 2^31 rows must not wrap.
static_assert(std::is_same_v<decltype(udb_converter::table_recs), std::atomic<std::uint64_t>>);
static_assert(std::is_same_v<decltype(udb_converter::cur_rec), std::atomic<std::uint64_t>>);

names keys(const udb_profile::t_pairs& pairs)
{
    names k;
    for (const auto& p : pairs)
        k.push_back(p.first);
    return k;
}

class UdbConverter : public tk_test::home_fixture {
protected:
    std::wstring wpath(const std::string& name) const { return tk_utf8_to_wide(home.file(name)); }

    // Saves the converter into a file and loads that file into a fresh
    // converter, the way a profile is used across program runs.
    void save(udb_converter& c, const std::string& name)
    {
        udb_profile p;
        ASSERT_TRUE(c.store_profile(p));
        ASSERT_TRUE(p.store(wpath(name)));
    }
    void load(udb_converter& c, const std::string& name)
    {
        udb_profile p;
        ASSERT_TRUE(p.load(wpath(name)));
        ASSERT_TRUE(c.load_profile(p));
    }
};

}  // namespace

TEST_F(UdbConverter, NewConverterSavesItsDefaults)
{
    udb_converter c;
    save(c, "new.velc");
    EXPECT_EQ(tk_test::read_file(home.file("new.velc")),
              "[Available Queries]\r\n\r\n"
              "[Generic settings]\r\ndest=\r\nlogfile=\r\nmode=0\r\nonly definitions=0\r\n"
              "skip indexes=0\r\nsrc=\r\n\r\n"
              "[Selected Tables]\r\n\r\n");
}

TEST_F(UdbConverter, SettingsRoundTripThroughAFile)
{
    udb_converter c;
    c.selected_tables = {L"EMP", L"DEPT"};
    c.available_queries[L"big"] = L"select * from emp where sal > 1000";
    c.src = L"/data/\u0436.dmp";
    c.dest = L"target";
    c.n_mode = 3;
    c.tab_def = 1;
    c.skip_idx = 1;
    save(c, "p.velc");
    EXPECT_NE(tk_test::read_file(home.file("p.velc")).find("[Selected Tables]\r\nDEPT\r\nEMP\r\n"),
              std::string::npos);

    udb_converter back;
    load(back, "p.velc");
    EXPECT_EQ(back.selected_tables, (names{L"DEPT", L"EMP"}));
    EXPECT_EQ(back.available_queries, c.available_queries);
    EXPECT_EQ(back.src, c.src);
    EXPECT_EQ(back.dest, c.dest);
    EXPECT_EQ(back.n_mode, 3);
    EXPECT_EQ(back.tab_def, 1);
    EXPECT_EQ(back.skip_idx, 1);
}

TEST_F(UdbConverter, EntryWithAValueIsKeptButNotSelected)
{
    udb_profile p;
    p.set_value(selected, L"T", L"x");
    p.set_value(selected, L"EMP", L"");
    udb_converter c;
    ASSERT_TRUE(c.load_profile(p));
    EXPECT_EQ(c.selected_tables, names{L"EMP"});
    EXPECT_EQ(c.profile_selection.at(L"T"), L"x");

    udb_profile out;
    ASSERT_TRUE(c.store_profile(out));
    EXPECT_EQ(out.get_value(selected, L"T"), L"x");
    EXPECT_EQ(keys(out.get_selected_tables()), (names{L"EMP", L"T"}));

    // Selecting T as well keeps its value.
    c.selected_tables.push_back(L"T");
    udb_profile again;
    ASSERT_TRUE(c.store_profile(again));
    EXPECT_EQ(again.get_value(selected, L"T"), L"x");
}

TEST_F(UdbConverter, LoadingTwiceListsTablesTwice)
{
    udb_profile p;
    p.set_value(selected, L"EMP", L"");
    udb_converter c;
    ASSERT_TRUE(c.load_profile(p));
    ASSERT_TRUE(c.load_profile(p));
    EXPECT_EQ(c.selected_tables, (names{L"EMP", L"EMP"}));
}

TEST_F(UdbConverter, DeselectedTableStaysOutOfTheSavedProfile)
{
    udb_profile loaded;
    loaded.set_value(selected, L"EMP", L"");
    loaded.set_value(selected, L"DEPT", L"");
    loaded.set_value(selected, L"T", L"x");
    udb_converter c;
    ASSERT_TRUE(c.load_profile(loaded));
    c.selected_tables = {L"DEPT"};  // the user removed EMP

    udb_profile saved;
    ASSERT_TRUE(c.store_profile(saved));
    EXPECT_EQ(keys(saved.get_selected_tables()), (names{L"DEPT", L"T"}));
    EXPECT_EQ(saved.get_value(selected, L"T"), L"x");
    // Saving does not change what was loaded.
    EXPECT_EQ(keys(c.profile_selection), (names{L"DEPT", L"EMP", L"T"}));

    udb_converter fresh;
    fresh.selected_tables = {L"EMP", L"DEPT"};
    udb_profile fresh_saved;
    ASSERT_TRUE(fresh.store_profile(fresh_saved));
    EXPECT_EQ(keys(fresh_saved.get_selected_tables()), (names{L"DEPT", L"EMP"}));
}

TEST_F(UdbConverter, FlagsClearOnlyOnExactZero)
{
    struct flag_case {
        std::wstring value;  // empty: the key is absent
        std::uint8_t before;
        std::uint8_t after;
    };
    const flag_case cases[] = {
        {L"0", 1, 0}, {L"1", 0, 1}, {L"no", 0, 1}, {L" 0", 0, 1}, {L"00", 0, 1}, {L"", 1, 1}, {L"", 0, 0},
    };
    for (const auto& fc : cases) {
        SCOPED_TRACE(tk_wide_to_utf8(L"'" + fc.value + L"'"));
        udb_profile p;
        if (!fc.value.empty()) {
            p.set_value(generic, L"only definitions", fc.value);
            p.set_value(generic, L"skip indexes", fc.value);
        }
        udb_converter c;
        c.tab_def = fc.before;
        c.skip_idx = fc.before;
        ASSERT_TRUE(c.load_profile(p));
        EXPECT_EQ(c.tab_def, fc.after);
        EXPECT_EQ(c.skip_idx, fc.after);
    }
}

TEST_F(UdbConverter, ModeIsExactlyOneDigitFromZeroToThree)
{
    for (const std::wstring good : {L"0", L"1", L"2", L"3"}) {
        udb_profile p;
        p.set_value(generic, L"mode", good);
        udb_converter c;
        c.n_mode = 1;
        ASSERT_TRUE(c.load_profile(p));
        EXPECT_EQ(c.n_mode, good[0] - L'0');
    }
    {
        udb_converter c;
        c.n_mode = 2;
        udb_profile p;
        ASSERT_TRUE(c.load_profile(p));
        EXPECT_EQ(c.n_mode, 2) << "an absent mode leaves it";
    }
    const std::string logfile = home.file("run.log");
    for (const std::wstring bad : {L"02", L"x", L"4", L"-1", L" 2", L"2 "}) {
        SCOPED_TRACE(tk_wide_to_utf8(L"'" + bad + L"'"));
        udb_profile p;
        p.set_value(generic, L"src", L"a.dmp");
        p.set_value(generic, L"dest", L"db");
        p.set_value(generic, L"logfile", tk_utf8_to_wide(logfile));
        p.set_value(generic, L"only definitions", L"1");
        p.set_value(generic, L"mode", bad);
        p.set_value(generic, L"skip indexes", L"1");
        udb_converter c;
        c.n_mode = 1;
        try {
            c.load_profile(p);
            ADD_FAILURE() << "no failure";
        } catch (const tk_exception& e) {
            EXPECT_EQ(e.level, 1);
            EXPECT_STREQ(e.what(), "Invalid merge/overwrite mode");
        }
        EXPECT_EQ(c.n_mode, 1);
        // Read before the mode: applied; read after it: not.
        EXPECT_EQ(c.src, L"a.dmp");
        EXPECT_EQ(c.dest, L"db");
        EXPECT_EQ(c.log_file, logfile);
        EXPECT_EQ(c.tab_def, 1);
        EXPECT_EQ(c.skip_idx, 0);
    }
}

TEST_F(UdbConverter, RefusedLogfileStopsTheReading)
{
    const std::string folder = home.file("logs");
    ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
    udb_profile p;
    p.set_value(generic, L"src", L"a.dmp");
    p.set_value(generic, L"logfile", tk_utf8_to_wide(folder));
    p.set_value(generic, L"only definitions", L"1");
    p.set_value(generic, L"mode", L"3");
    p.set_value(generic, L"skip indexes", L"1");
    udb_converter c;
    try {
        c.load_profile(p);
        ADD_FAILURE() << "no failure";
    } catch (const tk_exception& e) {
        EXPECT_EQ(e.level, 1);
    }
    EXPECT_EQ(c.src, L"a.dmp");
    EXPECT_EQ(c.log_file, folder);
    EXPECT_EQ(c.tab_def, 0);
    EXPECT_EQ(c.n_mode, 0);
    EXPECT_EQ(c.skip_idx, 0);
}

TEST_F(UdbConverter, EmptyTextsDoNotOverwrite)
{
    udb_profile p;
    p.set_value(generic, L"src", L"");
    p.set_value(generic, L"dest", L"");
    p.set_value(generic, L"logfile", L"");
    udb_converter c;
    c.src = L"keep.dmp";
    c.dest = L"keep";
    c.log_file = "keep.log";
    ASSERT_TRUE(c.load_profile(p));
    EXPECT_EQ(c.src, L"keep.dmp");
    EXPECT_EQ(c.dest, L"keep");
    EXPECT_EQ(c.log_file, "keep.log");
}
