#include "parse_cmd_line.h"

#include "error_handler.h"
#include "fatal_exit.h"
#include "front_end.h"
#include "pgs_validator.h"
#include "velconv_convertor.h"

#include "tk_exception.h"
#include "tk_format.h"
#include "tk_logger.h"
#include "tk_string.h"
#include "tk_unicode.h"
#include "tk_utils.h"

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string_view>
#include <system_error>

const cmd_option velcagent_options[] = {
    {opt_case_sense, "--case_sense"},
    {opt_dest, "--dest="},
    {opt_help, "--help"},
    {opt_logfile, "--logfile="},
    {opt_mode, "--mode="},
    {opt_host, "--host="},
    {opt_merge_schema, "--merge_schema"},
    {opt_merge_schema, "--ora_schema"},
    {opt_port, "--port="},
    {opt_profile, "--profile="},
    {opt_pswd, "--pswd="},
    {opt_silent, "--silent"},
    {opt_skip_idx, "--skip_idx"},
    {opt_src, "--src="},
    {opt_tab_def, "--tab_def"},
    {opt_tab_file, "--tab_file="},
    {opt_user, "--user="},
    {opt_help, "-h"},
    {0, ""},
};

namespace {

const char* const usage_format =
    "velcagent v%d.%d\n"
    "Usage: velcagent OPTIONS\n"
    "\n"
    "   --case_sense   keep the letter case of table, column and index names\n"
    "                  (default is off: the names are lower-cased)\n"
    "   --dest=...     PostgreSQL database name\n"
    "   -h, --help     display this help message and exit\n"
    "   --host=...     PostgreSQL server IP address or network name\n"
    "   --logfile=...  path to the file where execution trace will be written\n"
    "   --mode=...     how to process an existing PostgreSQL database\n"
    "                  (0 - overwrite the entire database, 1 - overwrite existing\n"
    "                  tables only, 2 - skip existing tables, 3 - merge)\n"
    "   --ora_schema   merge schema and table names (also --merge_schema)\n"
    "   --port=...     PostgreSQL port\n"
    "   --profile=...  path to the file to load conversion settings from\n"
    "   --pswd=...     PostgreSQL user password\n"
    "   --silent       disable program output\n"
    "   --skip_idx     skip converting indexes\n"
    "   --src=...      Oracle dump file name\n"
    "   --tab_def      convert table definitions only\n"
    "   --tab_file=... file containing the list of tables to convert\n"
    "                  (one table name per line)\n"
    "   --user=...     PostgreSQL user name\n"
    "\n"
    "NOTES:\n"
    "   1) You can omit 'host' to connect local database server.\n"
    "   2) It is necessary to specify 'port' parameter only if it differs from\n"
    "      the default  port 5432.\n"
    "   3) If you omit 'tab_file' parameter, all database tables will be converted.\n"
    "   4) If you omit 'mode' parameter, default mode 'overwrite the entire\n"
    "      database' will be used.\n"
    "   5) Command line parameters that contain spaces should be enclosed in\n"
    "      quotes (for example --dest=\"my database\")";

// Exactly one digit from 0 to 3: "02", "+2" or "-1" are typing errors, not
// modes, and the default mode 0 drops the whole database.
std::optional<int> read_mode(std::string_view text)
{
    if (text.size() != 1 || text[0] < '0' || text[0] > '3')
        return std::nullopt;
    return text[0] - '0';
}

// Decimal digits only, 1 to 65535; an empty text names no port (0).
std::optional<int> read_port(std::string_view text)
{
    if (text.empty())
        return 0;
    std::uint32_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + static_cast<std::uint32_t>(c - '0');
        if (value > 65535)
            return std::nullopt;
    }
    if (value == 0)
        return std::nullopt;
    return static_cast<int>(value);
}

// The usage on the standard output, unless silent, and the program's end
// with status 0: asking for help is no failure.
[[noreturn]] void help_exit()
{
    front_end* fe = front_end::instance();
    if (!velconv_convertor::instance()->silent)
        fe->write_out(velcagent_usage() + "\n");
    fe->end_program(0);
    // As in fatal_exit: end_program never returns.
    std::_Exit(0);
}

// What the value of an option stands for, in the forms the messages show.
const char* value_word(int id)
{
    switch (id) {
    case opt_dest:
        return "DATABASE";
    case opt_host:
        return "HOST";
    case opt_mode:
        return "MODE";
    case opt_port:
        return "PORT";
    case opt_pswd:
        return "PASSWORD";
    case opt_user:
        return "USER";
    default:
        return "FILE";
    }
}

// What is wrong with an argument that matched no option. An option that
// takes a value, typed with a blank instead of its "=", is told its form.
std::string stray_message(const std::string& argument)
{
    const bool option = argument.size() > 1 && argument[0] == '-';
    std::string text =
        std::string("velcagent: ") + (option ? "unknown option '" : "unexpected argument '") + argument + "'";
    for (const cmd_option* o = velcagent_options; option && *o->name; ++o) {
        if (argument + "=" == o->name) {
            text += std::string(" (the form is ") + o->name + value_word(o->id) + ")";
            break;
        }
    }
    return text;
}

std::string quoted(const std::string& text)
{
    return "'" + text + "'";
}

// A source that is no readable file ends the program with what it is and
// its path, as given: a typing error in the name shows.
void check_source(const std::wstring& src)
{
    const std::string path = tk_wide_to_utf8(src);
    if (tk_is_directory(path))
        fatal_exit("Source is a directory, not a dump file: " + quoted(path));
    const int error = tk_file_read_error(path);
    if (error == 0)
        return;
    if (error != ENOENT && error != ENOTDIR)
        fatal_exit("Source file cannot be read: " + quoted(path) + ": " + std::strerror(error));
    std::string what = quoted(path);
    std::error_code failed;
    const std::filesystem::path target = std::filesystem::read_symlink(path, failed);
    if (!failed)
        what += " (a symbolic link to " + quoted(target.string()) + ", which does not exist)";
    fatal_exit("Source file does not exist: " + what + "\nPlease verify the correct file name was given.");
}

// The destination as the server gets it: a name the server would cut is
// refused, and one that the case setting changes is told on the standard
// output, so that the user looks for the database by its real name.
void check_destination(velconv_convertor& converter)
{
    const std::string given = tk_wide_to_utf8(converter.dest);
    const std::string used = tk_wide_to_utf8(converter.dest_db_name());
    if (used.size() > pgs_validator::max_name_bytes)
        fatal_exit(tk_format("Destination database name %s is too long: PostgreSQL takes at most %d bytes, it has %d.",
                             quoted(given), static_cast<int>(pgs_validator::max_name_bytes),
                             static_cast<int>(used.size())));
    if (used != given && !converter.silent)
        front_end::instance()->write_out("Destination database: " + used + "\n");
}

}  // namespace

std::string velcagent_usage()
{
    return tk_format(usage_format, velc_version_major, velc_version_minor);
}

bool parse_cmd_line(int argc, char** argv)
{
    TK_TRACE(2, "parse_cmd_line");
    for (int i = 0; argv && i < argc; ++i)
        TK_TRACE(1, "parameter #%d: %s", i, argv[i] ? argv[i] : "");

    velconv_convertor* converter = velconv_convertor::instance();
    std::string host;
    std::string user;
    std::string password;
    std::string port = "5432";
    bool profile_loaded = false;

    ansi_cmd_line line(argc, argv, velcagent_options);
    for (; line.has_more(); line.next()) {
        const std::string value = line.get_value();
        switch (line.get_id()) {
        case opt_case_sense:
            TK_TRACE(2, "\tcase sensitive=true");
            converter->set_case_sens(true);
            break;
        case opt_dest:
            TK_TRACE(1, "parse_cmd_line - got dest %s", value);
            converter->dest = tk_to_unicode(value);
            break;
        case opt_help:
            help_exit();
        case opt_host:
            host = value;
            break;
        case opt_logfile:
            TK_TRACE(1, "parse_cmd_line - got logfile %s", value);
            converter->set_logfile(value);
            break;
        case opt_mode: {
            TK_TRACE(2, "\tgot mode %s", value);
            const std::optional<int> mode = read_mode(value);
            if (!mode)
                fatal_exit("Invalid merge/overwrite mode " + quoted(value) +
                           ": --mode= takes 0 (overwrite the entire database), 1 (overwrite existing tables "
                           "only), 2 (skip existing tables) or 3 (merge)");
            TK_TRACE(1, "udb_converter::set_mode(%d)", *mode);
            converter->n_mode = *mode;
            break;
        }
        case opt_merge_schema:
            TK_TRACE(2, "\tmerge schema and table names");
            converter->set_use_schema(true);
            break;
        case opt_port:
            port = value;
            break;
        case opt_profile:
            TK_TRACE(1, "parse_cmd_line - got profile %s", value);
            // Going on with the command line's settings instead could drop
            // a database that the profile meant to merge into.
            if (!converter->load_profile_file(tk_to_unicode(value)))
                throw tk_exception("Profile cannot be loaded. Please verify the file is a valid profile.", 1);
            profile_loaded = true;
            break;
        case opt_pswd:
            password = value;
            break;
        case opt_silent:
            TK_TRACE(1, "parse_cmd_line - silent mode is ON");
            converter->set_silent(true);
            error_handler::instance()->set_quiet(true);
            break;
        case opt_skip_idx:
            TK_TRACE(2, "\tskip converting indexes");
            converter->skip_idx = 1;
            break;
        case opt_src:
            TK_TRACE(1, "parse_cmd_line - got src %s", value);
            converter->src = tk_to_unicode(value);
            break;
        case opt_tab_def:
            TK_TRACE(2, "\tconvert table definitions only");
            converter->tab_def = 1;
            break;
        case opt_tab_file:
            TK_TRACE(2, "\tparse_cmd_line - got tab_file %s", value);
            converter->process_tab_file(value);
            break;
        case opt_user:
            user = value;
            break;
        default:
            // A stray argument: the cursor keeps it.
            break;
        }
    }
    if (!line.get_strays().empty()) {
        if (!converter->silent) {
            for (const std::string& stray : line.get_strays())
                front_end::instance()->write_err(stray_message(stray) + "\n");
        }
        return false;
    }

    if (converter->dest.empty())
        fatal_exit("You should enter destination PostgreSQL database (--dest=DATABASE)");
    if (converter->src.empty())
        fatal_exit("You should enter Oracle dump file name (--src=FILE)");
    check_source(converter->src);
    check_destination(*converter);

    // A loaded profile decides the connection, wherever the connection
    // options stand.
    if (!profile_loaded) {
        const std::optional<int> number = read_port(port);
        if (!number)
            fatal_exit("Invalid port number");
        converter->set_connection(host, user, password, *number);
    }
    return true;
}

void apply_cmd_line(int argc, char** argv)
{
    if (argc <= 1 || !parse_cmd_line(argc, argv))
        fatal_exit(velcagent_usage());
}
