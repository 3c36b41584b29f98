// velcagent's command line: the option cursor, the parsing into the main
// converter's settings, and the program's end on a refused command line.

#include "console_front_end.h"
#include "error_handler.h"
#include "fatal_exit.h"
#include "parse_cmd_line.h"
#include "recording_front_end.h"
#include "velconv_convertor.h"

#include "test_support.h"
#include "tk_cmdli.h"
#include "tk_exception.h"
#include "tk_unicode.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <optional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

namespace {

// argv of a test: the strings and the pointers main would get.
class test_argv {
public:
    explicit test_argv(std::vector<std::string> args) : strings(std::move(args))
    {
        strings.insert(strings.begin(), "velcagent");
        for (std::string& s : strings)
            pointers.push_back(s.data());
        pointers.push_back(nullptr);
    }
    int argc() const { return static_cast<int>(strings.size()); }
    char** argv() { return pointers.data(); }

private:
    std::vector<std::string> strings;
    std::vector<char*> pointers;
};

// ---------------------------------------------------------------------------
// The option cursor.

const cmd_option test_options[] = {
    {1, "--ab="}, {2, "--a"}, {3, "--flag"}, {0, ""},
};

struct matched {
    int id;
    std::string value;
    bool operator==(const matched&) const = default;
};

std::vector<matched> walk(TCmdLine& line)
{
    std::vector<matched> out;
    for (; line.has_more(); line.next())
        out.push_back({line.get_id(), line.get_value()});
    return out;
}

TEST(cmd_line, matches_the_first_prefix_in_table_order_and_keeps_strays)
{
    test_argv a({"--ab=x=y", "--ab", "--abc", "--flagX", "--FLAG", "-flag", "", "--ab="});
    ansi_cmd_line line(a.argc(), a.argv(), test_options);
    const std::vector<matched> expected = {
        {1, "x=y"},   // the value keeps any further "="
        {2, "b"},     // "--ab" without "=" falls through to "--a"
        {2, "bc"},
        {3, "X"},     // a flag with more behind it still matches
        {-1, "--FLAG"},
        {-1, "-flag"},
        {-1, ""},
        {1, ""},
    };
    EXPECT_EQ(walk(line), expected);
    EXPECT_EQ(line.get_strays(), (std::vector<std::string>{"--FLAG", "-flag", ""}));
    EXPECT_FALSE(line.has_more());
}

TEST(cmd_line, keeps_any_number_of_strays)
{
    std::vector<std::string> args;
    for (int i = 0; i < 25; ++i)
        args.push_back("stray" + std::to_string(i));
    test_argv a(args);
    ansi_cmd_line line(a.argc(), a.argv(), test_options);
    walk(line);
    ASSERT_EQ(line.get_strays().size(), 25u);
    EXPECT_EQ(line.get_strays().back(), "stray24");
}

TEST(cmd_line, an_empty_command_line_has_nothing_and_moving_past_the_end_is_an_internal_error)
{
    test_argv a({});
    ansi_cmd_line line(a.argc(), a.argv(), test_options);
    EXPECT_FALSE(line.has_more());
    EXPECT_TRUE(line.get_strays().empty());
    try {
        line.next();
        ADD_FAILURE() << "next past the end";
    } catch (const tk_mail_assertion& e) {
        EXPECT_EQ(e.message, make_err_meggase("tk_cmdli", 60));
    }
    try {
        line.parse_argument("--a");
        ADD_FAILURE() << "parse without a current argument";
    } catch (const tk_mail_assertion& e) {
        EXPECT_EQ(e.message, make_err_meggase("tk_cmdli", 19));
    }

    ansi_cmd_line none(0, nullptr, test_options);
    EXPECT_FALSE(none.has_more());
}

// ---------------------------------------------------------------------------
// The usage text.

TEST(velcagent_usage, names_the_program_and_lists_every_option_the_parser_knows)
{
    const std::string u = velcagent_usage();
    EXPECT_EQ(u.rfind("velcagent v3.1\nUsage: velcagent OPTIONS\n", 0), 0u);
    for (const cmd_option* o = velcagent_options; o->name && *o->name; ++o) {
        std::string name = o->name;
        if (name.back() == '=')
            name += "...";
        EXPECT_NE(u.find(" " + name), std::string::npos) << name;
    }
    // The console program adds the end of line.
    ASSERT_FALSE(u.empty());
    EXPECT_NE(u.back(), '\n');
}

// ---------------------------------------------------------------------------
// Parsing, in process.

// What one command line leads to.
enum class outcome {
    accepted,  // parse_cmd_line says yes
    usage,     // it says no: a stray argument, told on the standard error
    help,      // the usage on the standard output and the end with status 0
    fatal,     // fatal_exit with the text (nothing on the standard error when silent)
    failure,   // a level-1 tk_exception with the text
};

struct parse_row {
    const char* name;
    std::vector<std::string> args;  // "{d}" stands for the test's folder
    outcome result;
    // What is told: on the standard output when accepted or for help, on
    // the standard error for a stray or a fatal end; the failure's text.
    std::string text;
    // Settings that must hold afterwards, as in settings_of().
    std::map<std::string, std::string> expect;
};

std::string join(const std::vector<std::wstring>& names)
{
    std::string s;
    for (const std::wstring& n : names)
        s += (s.empty() ? "" : ",") + tk_wide_to_utf8(n);
    return s;
}

std::map<std::string, std::string> settings_of(const velconv_convertor& c, const error_handler& r)
{
    return {
        {"src", tk_wide_to_utf8(c.src)},
        {"dest", tk_wide_to_utf8(c.dest)},
        {"log", c.log_file},
        {"mode", std::to_string(c.n_mode)},
        {"tab_def", std::to_string(c.tab_def)},
        {"skip_idx", std::to_string(c.skip_idx)},
        {"case_sens", std::to_string(c.case_sens)},
        {"use_schema", std::to_string(c.use_schema)},
        {"silent", c.silent ? "1" : "0"},
        {"quiet", r.is_quiet() ? "1" : "0"},
        {"conn", c.host + "|" + c.user + "|" + c.password + "|" + std::to_string(c.port)},
        {"tables", join(c.selected_tables)},
    };
}

std::string expand(std::string s, const std::string& dir)
{
    for (std::string::size_type p; (p = s.find("{d}")) != std::string::npos;)
        s.replace(p, 3, dir);
    return s;
}

// The files the command lines name.
void write_inputs(const std::string& dir)
{
    tk_test::write_file(dir + "/x.dmp", "EXPORT:V12.01.00\n");
    ::mkdir((dir + "/folder.dmp").c_str(), 0755);
    tk_test::write_file(dir + "/p.velc",
                        "[Generic settings]\r\nsrc=" + dir + "/x.dmp\r\ndest=pdest\r\nmode=1\r\ncase_sens=1\r\n"
                        "[pgs settings]\r\nhost=phost\r\nuser=puser\r\npassword=ppw\r\nport=6000\r\n"
                        "[Selected Tables]\r\nEMP\r\nDEPT\r\n");
    tk_test::write_file(dir + "/nopgs.velc", "[Generic settings]\r\ndest=nd\r\n");
    tk_test::write_file(dir + "/bom.velc", "\xEF\xBB\xBF[Generic settings]\r\ndest=bd\r\nmode=3\r\n");
    tk_test::write_file(dir + "/pair.velc", "mode=3\r\n[Generic settings]\r\n");
    tk_test::write_file(dir + "/badmode.velc", "[Generic settings]\r\ndest=md\r\nmode=x\r\n");
    tk_test::write_file(dir + "/badport.velc", "[pgs settings]\r\nhost=bp\r\nport=0\r\n");
    tk_test::write_file(dir + "/t.txt", "\xEF\xBB\xBF" "EMP\r\nNOPE\r\n");
    tk_test::write_file(dir + "/t2.txt", "BONUS\n");
    tk_test::write_file(dir + "/long.txt", "EMP\n" + std::string(255, 'L') + "\n");
}

const char* const profile_invalid = "Profile cannot be loaded. Please verify the file is a valid profile.";
const char* const profile_missing = "Profile does not exist. Please verify the correct path/name was given.";
const char* const bad_mode = "Invalid merge/overwrite mode";
// The command line's refusal of a mode names the value and what is taken.
std::string mode_refused(const std::string& value)
{
    return "Invalid merge/overwrite mode '" + value +
           "': --mode= takes 0 (overwrite the entire database), 1 (overwrite existing tables only), 2 (skip "
           "existing tables) or 3 (merge)";
}
const char* const bad_port = "Invalid port number";
const char* const src_absent =
    "Source file does not exist: '{d}/none.dmp'\nPlease verify the correct file name was given.";
const char* const no_dest = "You should enter destination PostgreSQL database (--dest=DATABASE)";
const char* const no_src = "You should enter Oracle dump file name (--src=FILE)";

std::string repeat(const std::string& piece, int times)
{
    std::string s;
    for (int i = 0; i < times; ++i)
        s += piece;
    return s;
}

std::vector<parse_row> parse_rows()
{
    const std::string src = "--src={d}/x.dmp";
    const std::string dest = "--dest=db";
    const auto with_base = [&](std::vector<std::string> more) {
        more.insert(more.begin(), {src, dest});
        return more;
    };
    std::vector<std::string> strays = with_base({});
    std::string strays_told;
    for (int i = 0; i < 25; ++i) {
        strays.push_back("file" + std::to_string(i));
        strays_told += std::string(i ? "\n" : "") + "velcagent: unexpected argument 'file" + std::to_string(i) + "'";
    }

    std::vector<parse_row> rows = {
        {"defaults", with_base({}), outcome::accepted, "",
         {{"src", "{d}/x.dmp"}, {"dest", "db"}, {"mode", "0"}, {"tab_def", "0"}, {"skip_idx", "0"},
          {"case_sens", "0"}, {"use_schema", "0"}, {"silent", "0"}, {"quiet", "0"}, {"conn", "|||5432"},
          {"tables", ""}}},
        {"flags", with_base({"--case_sense", "--skip_idx", "--tab_def", "--merge_schema"}), outcome::accepted, "",
         {{"case_sens", "1"}, {"skip_idx", "1"}, {"tab_def", "1"}, {"use_schema", "1"}}},
        {"ora_schema_alias", with_base({"--ora_schema"}), outcome::accepted, "", {{"use_schema", "1"}}},
        {"silent_prefix", with_base({"--silentX"}), outcome::accepted, "", {{"silent", "1"}, {"quiet", "1"}}},
        {"later_value_wins", {"--dest=a", src, "--dest=b\xC3\xA9"}, outcome::accepted, "", {{"dest", "b\xC3\xA9"}}},
        {"logfile", with_base({"--logfile={d}/log.txt"}), outcome::accepted, "", {{"log", "{d}/log.txt"}}},
        {"logfile_refused", with_base({"--logfile={d}"}), outcome::failure, tk_messages[10], {}},

        {"src_without_value_is_stray", with_base({"--src"}), outcome::usage,
         "velcagent: unknown option '--src' (the form is --src=FILE)", {}},
        {"each_valued_option_without_its_equals_is_told_its_form",
         {"--dest", "--host", "--mode", "--port", "--user", "--pswd", "--logfile", "--profile", "--tab_file",
},
         outcome::usage,
         "velcagent: unknown option '--dest' (the form is --dest=DATABASE)\n"
         "velcagent: unknown option '--host' (the form is --host=HOST)\n"
         "velcagent: unknown option '--mode' (the form is --mode=MODE)\n"
         "velcagent: unknown option '--port' (the form is --port=PORT)\n"
         "velcagent: unknown option '--user' (the form is --user=USER)\n"
         "velcagent: unknown option '--pswd' (the form is --pswd=PASSWORD)\n"
         "velcagent: unknown option '--logfile' (the form is --logfile=FILE)\n"
         "velcagent: unknown option '--profile' (the form is --profile=FILE)\n"
         "velcagent: unknown option '--tab_file' (the form is --tab_file=FILE)",
         {}},
        {"a_prefix_of_a_valued_option_is_only_unknown", with_base({"--sr", "--src=x=", "src"}), outcome::usage,
         "velcagent: unknown option '--sr'\nvelcagent: unexpected argument 'src'", {}},
        {"capitals_are_stray", {"--SRC={d}/x.dmp", dest}, outcome::usage,
         "velcagent: unknown option '--SRC={d}/x.dmp'", {}},
        {"bare_file_is_stray", with_base({"foo"}), outcome::usage, "velcagent: unexpected argument 'foo'", {}},
        {"a_lone_dash_is_an_argument", with_base({"-"}), outcome::usage, "velcagent: unexpected argument '-'", {}},
        {"stray_before_missing_dest", {"foo", "-x"}, outcome::usage,
         "velcagent: unexpected argument 'foo'\nvelcagent: unknown option '-x'", {}},
        {"strays_25", strays, outcome::usage, strays_told, {}},
        {"silent_strays", {"--silent", "foo"}, outcome::usage, "", {}},

        {"help", {"--help"}, outcome::help, velcagent_usage(), {}},
        {"short_help", {"-h"}, outcome::help, velcagent_usage(), {}},
        {"help_prefix", with_base({"--helpme"}), outcome::help, velcagent_usage(), {}},
        {"silent_before_help", {"--silent", "--help"}, outcome::help, "", {}},
        {"silent_after_help", {"--help", "--silent"}, outcome::help, velcagent_usage(), {}},

        {"mode_2", with_base({"--mode=2"}), outcome::accepted, "", {{"mode", "2"}}},
        {"mode_3", with_base({"--mode=3"}), outcome::accepted, "", {{"mode", "3"}}},
        {"mode_02", with_base({"--mode=02"}), outcome::fatal, mode_refused("02"), {}},
        {"mode_plus_2", with_base({"--mode=+2"}), outcome::fatal, mode_refused("+2"), {}},
        {"mode_4", with_base({"--mode=4"}), outcome::fatal, mode_refused("4"), {}},
        {"mode_empty", with_base({"--mode="}), outcome::fatal, mode_refused(""), {}},
        {"mode_minus_1", with_base({"--mode=-1"}), outcome::fatal, mode_refused("-1"), {}},
        {"mode_huge", with_base({"--mode=99999999999999999999"}), outcome::fatal, mode_refused("99999999999999999999"), {}},
        {"mode_blank", with_base({"--mode= 1"}), outcome::fatal, mode_refused(" 1"), {}},
        // The mode is checked where it stands: before a missing destination.
        {"mode_before_dest_check", {"--mode=9"}, outcome::fatal, mode_refused("9"), {}},

        {"port_empty_names_none", with_base({"--port="}), outcome::accepted, "", {{"conn", "|||0"}}},
        {"port_5433", with_base({"--port=5433"}), outcome::accepted, "", {{"conn", "|||5433"}}},
        {"port_65535", with_base({"--port=65535"}), outcome::accepted, "", {{"conn", "|||65535"}}},
        {"port_abc", with_base({"--port=abc"}), outcome::fatal, bad_port, {}},
        {"port_12x", with_base({"--port=12x"}), outcome::fatal, bad_port, {}},
        {"port_0", with_base({"--port=0"}), outcome::fatal, bad_port, {}},
        {"port_70000", with_base({"--port=70000"}), outcome::fatal, bad_port, {}},
        {"port_65536", with_base({"--port=65536"}), outcome::fatal, bad_port, {}},
        {"port_minus", with_base({"--port=-1"}), outcome::fatal, bad_port, {}},
        {"port_blank", with_base({"--port= 1"}), outcome::fatal, bad_port, {}},
        {"port_huge", with_base({"--port=4294967297"}), outcome::fatal, bad_port, {}},
        {"connection", with_base({"--host=h", "--user=u", "--pswd=p w", "--port=7"}), outcome::accepted, "",
         {{"conn", "h|u|p w|7"}}},

        {"profile", {"--host=h", "--profile={d}/p.velc", "--port=1", "--pswd=x"}, outcome::accepted, "",
         {{"src", "{d}/x.dmp"}, {"dest", "pdest"}, {"mode", "1"}, {"case_sens", "1"},
          {"conn", "phost|puser|ppw|6000"}, {"tables", "DEPT,EMP"}}},
        {"profile_ignores_a_bad_port_option", {"--profile={d}/p.velc", "--port=abc"}, outcome::accepted, "",
         {{"conn", "phost|puser|ppw|6000"}}},
        {"profile_without_pgs_settings", with_base({"--host=h", "--profile={d}/nopgs.velc", "--user=u"}),
         outcome::accepted, "", {{"dest", "nd"}, {"conn", "|||0"}}},
        {"option_after_profile_wins", {"--profile={d}/p.velc", "--dest=later", "--mode=3"}, outcome::accepted, "",
         {{"dest", "later"}, {"mode", "3"}}},
        {"profile_overrides_earlier_option", {"--dest=early", "--mode=2", "--profile={d}/p.velc"},
         outcome::accepted, "", {{"dest", "pdest"}, {"mode", "1"}}},
        {"tab_file_then_profile", {"--tab_file={d}/t.txt", "--profile={d}/p.velc"}, outcome::accepted, "",
         {{"tables", "EMP,NOPE,DEPT,EMP"}}},
        {"profile_then_tab_file", {"--profile={d}/p.velc", "--tab_file={d}/t.txt"}, outcome::accepted, "",
         {{"tables", "EMP,NOPE"}}},
        {"second_tab_file_replaces", with_base({"--tab_file={d}/t.txt", "--tab_file={d}/t2.txt"}),
         outcome::accepted, "", {{"tables", "BONUS"}}},
        {"profile_twice", {"--profile={d}/p.velc", "--profile={d}/p.velc"}, outcome::accepted, "",
         {{"tables", "DEPT,EMP,DEPT,EMP"}}},

        {"profile_with_bom", with_base({"--profile={d}/bom.velc"}), outcome::accepted, "",
         {{"dest", "bd"}, {"mode", "3"}}},
        {"profile_pair_before_header", with_base({"--profile={d}/pair.velc"}), outcome::failure, profile_invalid,
         {{"mode", "0"}}},
        {"profile_missing", with_base({"--profile={d}/none.velc"}), outcome::failure, profile_missing, {}},
        {"profile_bad_mode", with_base({"--profile={d}/badmode.velc"}), outcome::failure, bad_mode,
         {{"dest", "md"}, {"mode", "0"}}},
        {"profile_bad_port", with_base({"--profile={d}/badport.velc"}), outcome::failure, bad_port,
         {{"conn", "bp|||0"}}},
        {"tab_file_missing", with_base({"--tab_file={d}/none.txt"}), outcome::failure,
         "Table names file does not exist.\nPlease verify the correct path/name was given.", {{"tables", ""}}},
        {"tab_file_long_line", with_base({"--tab_file={d}/t2.txt", "--tab_file={d}/long.txt"}), outcome::failure,
         "Table names file: line 2 is longer than 254 bytes.", {{"tables", "BONUS"}}},

        {"dest_missing", {src}, outcome::fatal, no_dest, {}},
        {"dest_empty", {src, "--dest="}, outcome::fatal, no_dest, {}},
        {"dest_missing_silent", {src, "--silent"}, outcome::fatal, "", {}},
        {"src_missing", {dest}, outcome::fatal, no_src, {}},
        {"src_file_absent", {dest, "--src={d}/none.dmp"}, outcome::fatal, src_absent, {}},
        {"src_is_a_folder", {dest, "--src={d}/folder.dmp"}, outcome::fatal,
         "Source is a directory, not a dump file: '{d}/folder.dmp'", {}},
        {"dest_from_profile_only", {"--profile={d}/nopgs.velc", src}, outcome::accepted, "", {{"dest", "nd"}}},

        // The server gets the destination lower-cased unless the case is
        // kept: the user is told the name to look for.
        {"dest_lowered_is_told", {src, "--dest=My\xC3\x89" "DB"}, outcome::accepted,
         "Destination database: my\xC3\x89" "db", {{"dest", "My\xC3\x89" "DB"}}},
        {"dest_kept_with_case_sense", {src, "--dest=MyDB", "--case_sense"}, outcome::accepted, "", {{"dest", "MyDB"}}},
        {"dest_kept_by_the_profiles_case", {"--profile={d}/p.velc", "--dest=MyDB"}, outcome::accepted,
         "", {{"dest", "MyDB"}}},
        {"dest_lowered_silent", {"--silent", src, "--dest=MyDB"}, outcome::accepted, "", {{"dest", "MyDB"}}},
        // The server would cut a longer name to 63 bytes, and the run would
        // drop or fill a database of another name.
        {"dest_of_63_bytes", {src, "--dest=" + std::string(63, 'd')}, outcome::accepted, "", {}},
        {"dest_of_64_bytes", {src, "--dest=" + std::string(64, 'd')}, outcome::fatal,
         "Destination database name '" + std::string(64, 'd') +
             "' is too long: PostgreSQL takes at most 63 bytes, it has 64.",
         {}},
        {"dest_of_63_bytes_in_31_letters_and_x", {src, "--dest=" + repeat("\xC3\xA9", 31) + "x"}, outcome::accepted,
         "", {}},
        {"dest_of_64_bytes_in_32_letters", {src, "--dest=" + repeat("\xC3\xA9", 32)}, outcome::fatal,
         "Destination database name '" + repeat("\xC3\xA9", 32) +
             "' is too long: PostgreSQL takes at most 63 bytes, it has 64.",
         {}},
        {"dest_too_long_after_a_good_src_only", {"--src={d}/none.dmp", "--dest=" + std::string(70, 'd')},
         outcome::fatal, src_absent, {}},
    };
    return rows;
}

// The case's name, in the test list and in failure messages, in place of
// its raw bytes.
void PrintTo(const parse_row& row, std::ostream* os)
{
    *os << row.name;
}

const std::vector<parse_row> all_parse_rows = parse_rows();

class parse_cmd_line_case : public tk_test::home_fixture, public ::testing::WithParamInterface<parse_row> {
protected:
    recording_front_end fe{recording_front_end::mode::console};
    error_handler reporter{error_handler_code_count, error_handler_codes};
    velconv_convertor converter;
};

TEST_P(parse_cmd_line_case, applies_the_options_or_refuses)
{
    const parse_row& row = GetParam();
    const std::string dir = home.path();
    write_inputs(dir);
    std::vector<std::string> args;
    for (const std::string& a : row.args)
        args.push_back(expand(a, dir));
    test_argv a(args);

    std::optional<bool> answer;
    std::optional<int> exit_code;
    std::optional<tk_exception> failure;
    try {
        answer = parse_cmd_line(a.argc(), a.argv());
    } catch (const front_end_exit& e) {
        exit_code = e.code;
    } catch (const tk_exception& e) {
        failure = e;
    }

    std::string out;
    std::string err;
    for (const recording_front_end::call& c : fe.calls) {
        if (c.name == "write_out")
            out += c.text;
        if (c.name == "write_err")
            err += c.text;
    }
    const std::string told = row.text.empty() ? "" : expand(row.text, dir) + "\n";
    EXPECT_EQ(out, row.result == outcome::help || row.result == outcome::accepted ? told : "");

    switch (row.result) {
    case outcome::accepted:
        EXPECT_EQ(answer, std::optional<bool>(true));
        break;
    case outcome::usage:
        EXPECT_EQ(answer, std::optional<bool>(false));
        EXPECT_EQ(err, told);
        break;
    case outcome::help:
        EXPECT_EQ(exit_code, std::optional<int>(0));
        EXPECT_EQ(err, "");
        break;
    case outcome::fatal:
        EXPECT_EQ(exit_code, std::optional<int>(255));
        EXPECT_EQ(err, told);
        break;
    case outcome::failure:
        ASSERT_TRUE(failure.has_value()) << "no failure raised";
        EXPECT_EQ(failure->level, 1);
        EXPECT_EQ(failure->message, row.text);
        break;
    }
    if (row.result == outcome::accepted || row.result == outcome::failure) {
        EXPECT_FALSE(exit_code.has_value());
        EXPECT_EQ(err, "");
    }

    const std::map<std::string, std::string> got = settings_of(converter, reporter);
    for (const auto& [key, value] : row.expect) {
        ASSERT_TRUE(got.count(key)) << key;
        EXPECT_EQ(got.at(key), expand(value, dir)) << key;
    }
}

INSTANTIATE_TEST_SUITE_P(table, parse_cmd_line_case, ::testing::ValuesIn(all_parse_rows),
                         [](const ::testing::TestParamInfo<parse_row>& info) {
                             return std::string(info.param.name);
                         });

// ---------------------------------------------------------------------------
// The program's end, in a child process, through the real console front end:
// the exact status and both streams.

struct ending_row {
    const char* name;
    std::vector<std::string> args;  // "{d}" stands for the test's folder
    int status;
    std::string out;
    std::string err;
};

std::vector<ending_row> ending_rows()
{
    const std::string usage = velcagent_usage() + "\n";
    std::vector<std::string> strays;
    std::string strays_told;
    for (int i = 0; i < 25; ++i) {
        strays.push_back("s" + std::to_string(i));
        strays_told += "velcagent: unexpected argument 's" + std::to_string(i) + "'\n";
    }
    return {
        {"no_argument", {}, 255, "", usage},
        {"help", {"--help"}, 0, usage, ""},
        {"short_help", {"-h"}, 0, usage, ""},
        {"stray", {"--src={d}/x.dmp", "--dest=db", "foo"}, 255, "", "velcagent: unexpected argument 'foo'\n" + usage},
        {"unknown_option", {"--foo"}, 255, "", "velcagent: unknown option '--foo'\n" + usage},
        {"strays_25", strays, 255, "", strays_told + usage},
        {"silent_before_help", {"--silent", "--help"}, 0, "", ""},
        {"silent_after_help", {"--help", "--silent"}, 0, usage, ""},
        {"silent_before_stray", {"--silent", "foo"}, 255, "", ""},
        {"dest_missing", {"--src={d}/x.dmp"}, 255, "", std::string(no_dest) + "\n"},
        {"src_missing", {"--dest=db"}, 255, "", std::string(no_src) + "\n"},
        {"src_file_absent", {"--dest=db", "--src={d}/none.dmp"}, 255, "", std::string(src_absent) + "\n"},
        {"src_is_a_folder", {"--dest=db", "--src={d}"}, 255, "", "Source is a directory, not a dump file: '{d}'\n"},
        {"mode_4", {"--mode=4"}, 255, "", mode_refused("4") + "\n"},
        {"port_abc", {"--dest=db", "--src={d}/x.dmp", "--port=abc"}, 255, "", "Invalid port number\n"},
        // A level-1 failure passes main's guard to the reporter, which ends
        // the program.
        {"profile_not_valid", {"--dest=db", "--src={d}/x.dmp", "--profile={d}/pair.velc"}, 255, "",
         "Error:\nProfile cannot be loaded. Please verify the file is a valid profile.\n"},
        {"profile_not_valid_silent", {"--silent", "--profile={d}/pair.velc"}, 255, "", ""},
        {"accepted", {"--dest=db", "--src={d}/x.dmp"}, 0, "", ""},
    };
}

// The case's name, in the test list and in failure messages, in place of
// its raw bytes.
void PrintTo(const ending_row& row, std::ostream* os)
{
    *os << row.name;
}

const std::vector<ending_row> all_ending_rows = ending_rows();

class cmd_line_ending : public ::testing::TestWithParam<ending_row> {};

// The child of a "threadsafe" death test runs the test again from its start;
// the folder that the parent made reaches it through the environment.
constexpr const char* dir_variable = "CMD_LINE_ENDING_TEST_DIR";

[[noreturn]] void run_command_line(const ending_row& row, const std::string& dir)
{
    FILE* out = std::fopen((dir + "/out.txt").c_str(), "wb");
    FILE* err = std::fopen((dir + "/err.txt").c_str(), "wb");
    if (!out || !err)
        std::_Exit(3);
    std::vector<std::string> args;
    for (const std::string& a : row.args)
        args.push_back(expand(a, dir));
    test_argv a(args);

    console_front_end fe(out, err);
    error_handler reporter(error_handler_code_count, error_handler_codes);
    velconv_convertor converter;
    try {
        apply_cmd_line(a.argc(), a.argv());
    } catch (const tk_exception& e) {
        reporter.handle(e, false);
        std::_Exit(4);  // handle returned: the program did not end
    }
    std::fflush(out);
    std::fflush(err);
    std::_Exit(0);
}

TEST_P(cmd_line_ending, gives_the_status_and_the_exact_output)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const ending_row& row = GetParam();

    tk_test::death_test_dir shared(dir_variable);
    const std::string& dir = shared.path();
    // HOME and the configuration folder inside the test's folder.
    tk_test::scoped_env home("HOME", dir);
    tk_test::scoped_env config("XDG_CONFIG_HOME", dir + "/.config");
    write_inputs(dir);

    EXPECT_EXIT(run_command_line(row, dir), ::testing::ExitedWithCode(row.status), "");
    EXPECT_EQ(tk_test::read_file(dir + "/out.txt"), expand(row.out, dir));
    EXPECT_EQ(tk_test::read_file(dir + "/err.txt"), expand(row.err, dir));
    // velcagent leaves the settings file alone.
    struct stat st {};
    EXPECT_NE(::stat((dir + "/.config/Fennick").c_str(), &st), 0);
}

INSTANTIATE_TEST_SUITE_P(table, cmd_line_ending, ::testing::ValuesIn(all_ending_rows),
                         [](const ::testing::TestParamInfo<ending_row>& info) {
                             return std::string(info.param.name);
                         });

}  // namespace
