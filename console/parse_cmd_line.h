// The command line of velcagent: the option table, the usage text, and the
// parsing that turns the options into the main converter's settings.
#pragma once

#include "tk_cmdli.h"

#include <string>

enum velcagent_option_id {
    opt_case_sense = 0,
    opt_dest = 1,
    opt_help = 2,
    opt_host = 3,
    opt_logfile = 4,
    opt_mode = 5,
    opt_merge_schema = 6,
    opt_pswd = 7,
    opt_port = 8,
    opt_profile = 9,
    opt_silent = 10,
    opt_skip_idx = 11,
    opt_src = 12,
    opt_tab_def = 13,
    opt_tab_file = 14,
    opt_user = 15,
};

// In matching order, ended by an empty name. "--ora_schema", the spelling
// the usage text shows, is an alias of "--merge_schema"; "-h" one of
// "--help".
extern const cmd_option velcagent_options[];

// The usage text, "velcagent v3.1" first; its last line has no line end.
std::string velcagent_usage();

// Applies the options, in command-line order, to the registered converter
// (and the reporter's quiet flag), then checks the result and stores the
// connection settings. False when any argument was stray, after one line
// on the standard error for each (unless silent): the caller prints the
// usage. "--help" prints the usage on the standard output and ends the
// program with status 0; a missing or invalid value ends it through
// fatal_exit; a profile, table-list file or log file that cannot be used
// raises level 1.
bool parse_cmd_line(int argc, char** argv);

// The command line as main takes it: no argument or a stray one ends the
// program with the usage text; otherwise the options are applied.
void apply_cmd_line(int argc, char** argv);
