// The console program's end on a refused command line.
#pragma once

#include <string>

// Traces the text, writes it with an end of line to the standard error
// unless the converter is silent, and ends the program with status 255
// through the front end (the objects of main are not unwound). Needs the
// registered converter.
[[noreturn]] void fatal_exit(const std::string& text);
