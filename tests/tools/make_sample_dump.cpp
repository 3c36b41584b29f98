// Writes the sample dump of the main command where it is told:
//   make_sample_dump PATH     (the committed one is samples/sample.dmp)
//   make_sample_dump --help

#include "sample_dump.h"

#include <cstdio>
#include <fstream>
#include <string>

namespace {

const char* const usage =
    "Usage: make_sample_dump PATH\n"
    "Writes the sample dump of scripts/run.sh to PATH (the committed one is samples/sample.dmp).\n"
    "\n"
    "  -h, --help   display this help and exit\n";

}  // namespace

int main(int argc, char** argv)
{
    const std::string first = argc > 1 ? argv[1] : "";
    if (argc == 2 && (first == "--help" || first == "-h")) {
        std::fputs(usage, stdout);
        return 0;
    }
    // Never a default path: a run without one must not overwrite the
    // committed sample. A path that begins with "-" is written "./-...".
    if (argc != 2 || first.empty() || first[0] == '-') {
        if (argc == 2 && !first.empty())
            std::fprintf(stderr, "make_sample_dump: unknown option '%s'\n", first.c_str());
        std::fputs(usage, stderr);
        return 2;
    }
    const classic_dump::bytes data = sample_dump::bytes();
    std::ofstream out(first, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
    out.close();
    if (!out) {
        std::fprintf(stderr, "make_sample_dump: cannot write %s\n", first.c_str());
        return 1;
    }
    std::printf("%s: %zu bytes\n", first.c_str(), data.size());
    return 0;
}
