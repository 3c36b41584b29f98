// The command line of velconv before the GUI starts: --help (or -h) prints
// the usage, any other argument that starts with '-' is refused, and
// everything else is left to the wizard (no argument: the whole wizard; a
// profile's path: quick launch).
#pragma once

#include <optional>
#include <string>
#include <vector>

std::string velconv_usage();

// The exit code when the arguments end the program before the GUI starts
// (0 after the usage on out, 255 after the refusal and the usage on err);
// nothing when the wizard is to run.
std::optional<int> velconv_early_exit(const std::vector<std::string>& args, std::string& out, std::string& err);
