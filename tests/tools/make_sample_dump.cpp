// Writes the sample dump of the main command: make_sample_dump [PATH]
// (samples/sample.dmp of the source tree when no path is given).

#include "sample_dump.h"

#include <cstdio>
#include <fstream>
#include <string>

int main(int argc, char** argv)
{
    const std::string path = argc > 1 ? argv[1] : VELC_SAMPLE_DUMP;
    const classic_dump::bytes data = sample_dump::bytes();
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
    out.close();
    if (!out) {
        std::fprintf(stderr, "make_sample_dump: cannot write %s\n", path.c_str());
        return 1;
    }
    std::printf("%s: %zu bytes\n", path.c_str(), data.size());
    return 0;
}
