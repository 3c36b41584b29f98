#include "velconv_usage.h"

#include "velconv_convertor.h"

#include "tk_format.h"

std::string velconv_usage()
{
    return tk_format(
        "velconv v%d.%d\n"
        "Usage: velconv             run the whole wizard\n"
        "       velconv PROFILE     quick launch: convert as the profile saved by the\n"
        "                           wizard says, showing only the progress pages\n"
        "       velconv -h, --help  display this help message and exit\n"
        "\n"
        "velconv needs a desktop session (DISPLAY or WAYLAND_DISPLAY). It ends with 1\n"
        "after Finish, 0 after Cancel and 255 when it cannot start.\n",
        velc_version_major, velc_version_minor);
}

std::optional<int> velconv_early_exit(const std::vector<std::string>& args, std::string& out, std::string& err)
{
    for (const std::string& a : args) {
        if (a == "--help" || a == "-h") {
            out = velconv_usage();
            return 0;
        }
    }
    for (const std::string& a : args) {
        if (!a.empty() && a.front() == '-') {
            err = "velconv: unknown option '" + a + "'\n" + velconv_usage();
            return 255;
        }
    }
    return std::nullopt;
}
