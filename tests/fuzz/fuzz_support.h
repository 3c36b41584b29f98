// What the fuzz harnesses share: a private home for the process (HOME, the
// XDG folders and the documents folder all inside one temporary folder),
// the program's reporter, a recording front end and the XML library set up
// once, and
// the rule that tells an expected refusal from a finding.
//
// A finding aborts the process with a line on stderr, so that libFuzzer
// keeps the input as a reproducer.
#pragma once

#include "udb_database.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class recording_front_end;

namespace fuzz {

// The private folder of this process; made, and the environment pointed
// into it, on the first call.
const std::string& home();

// The front end of the harnesses, registered with the reporter on the
// first call, whose console flag decides its kind for the process: the
// wizard's by default, so that the reporter asks whether to go on and the
// harness goes on; the console's for the command line and the settings,
// which the wizard would also keep in the settings file. Its record of
// calls is cleared by run().
recording_front_end& front(bool console = false);

// Stops the process as a finding, naming what was found.
[[noreturn]] void finding(const std::string& what);

// Runs one input's work. The project's own refusals end it quietly: level 0
// and 1 failures, the user's stop (tk_final_exception) and the front end's
// end of the program. Anything else is a finding: a level-2 failure, an
// internal error reported to the front end or traced, a foreign exception,
// or running out of memory.
void run(const std::function<void()>& work);

// Checks a failure caught inside the work: a level-2 one is a finding.
void check_level(int level, const char* where);

// Writes bytes to a file, replacing it.
void write_file(const std::string& path, const std::uint8_t* data, std::size_t size);

// Reads every table of the database as a conversion run does (the run's
// opening flag, every row, every value as text), at most max_rows rows in
// all. A table may take no more steps than the bytes the caller allows it
// (bytes_of gives them for a table name); the reporter hears each failure.
void read_tables(udb_database& db, const std::function<std::int64_t(const std::wstring&)>& bytes_of,
                 std::int64_t max_rows = 100000);

// Removes the context files of a dump, beside it and in the documents
// folder.
void remove_context_files(const std::string& dump_path);

}  // namespace fuzz
