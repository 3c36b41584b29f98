// The bytes, split at NUL bytes, as velcagent's arguments after the
// program's name, through parse_cmd_line into a fresh main converter.

#include "fuzz_support.h"

#include "error_handler.h"
#include "parse_cmd_line.h"
#include "velconv_convertor.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace {

// Options whose value names a file: the file must stay inside the private
// folder (the harness may run with every right), so a "/" in the value
// becomes "_" and the name is taken in the private working folder.
void confine_path(std::string& arg)
{
    for (std::string_view option : {"--logfile=", "--profile=", "--tab_file=", "--src="}) {
        if (arg.compare(0, option.size(), option) == 0) {
            std::string name = arg.substr(option.size());
            for (char& c : name)
                if (c == '/')
                    c = '_';
            arg = std::string(option) + fuzz::home() + "/work/" + name;
            return;
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    fuzz::front(true);
    // Files an argument may name, so that the options that read them read
    // something: a table list, a profile and a dump.
    const std::string work = fuzz::home() + "/work/";
    const std::string tabs = "EMP\r\nDEPT\n\n\xEF\xBB\xBFSALGRADE\n";
    fuzz::write_file(work + "tabs.txt", reinterpret_cast<const std::uint8_t*>(tabs.data()), tabs.size());
    const std::string profile = "[Generic settings]\r\nmode=1\r\n[pgs settings]\r\nport=5433\r\n"
                                "[Selected Tables]\r\nEMP\r\n[Available Queries]\r\n";
    fuzz::write_file(work + "p.velc", reinterpret_cast<const std::uint8_t*>(profile.data()), profile.size());
    fuzz::write_file(work + "a.dmp", reinterpret_cast<const std::uint8_t*>("EXPORT:V10.02.01"), 16);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::vector<std::string> args{"velcagent"};
    std::string current;
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] == 0) {
            args.push_back(current);
            current.clear();
        } else {
            current.push_back(static_cast<char>(data[i]));
        }
    }
    if (size > 0)
        args.push_back(current);
    for (std::string& a : args)
        confine_path(a);
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    fuzz::run([&] {
        error_handler::instance()->set_quiet(false);
        velconv_convertor converter;
        (void)parse_cmd_line(static_cast<int>(args.size()), argv.data());
    });
    return 0;
}
