#include "tk_cmdli.h"

#include "tk_exception.h"

#include <cstring>

TCmdLine::TCmdLine(const cmd_option* options_) : options(options_) {}

TCmdLine::~TCmdLine() = default;

void TCmdLine::parse_argument(const char* argument)
{
    if (!has_more())
        throw tk_mail_assertion("tk_cmdli", 19);
    const char* arg = argument ? argument : "";
    if (options) {
        for (const cmd_option* o = options; o->name && *o->name; ++o) {
            const std::size_t n = std::strlen(o->name);
            if (std::strncmp(arg, o->name, n) == 0) {
                id = o->id;
                value = arg + n;
                return;
            }
        }
    }
    id = -1;
    value = arg;
    strays.emplace_back(arg);
}

ansi_cmd_line::ansi_cmd_line(int argc, char** argv, const cmd_option* options)
    : TCmdLine(options), cursor(argv && argc > 0 ? argv + 1 : nullptr), remaining(argv && argc > 1 ? argc - 1 : 0)
{
    if (has_more())
        parse_argument(*cursor);
}

ansi_cmd_line::~ansi_cmd_line() = default;

void ansi_cmd_line::next()
{
    if (!has_more())
        throw tk_mail_assertion("tk_cmdli", 60);
    ++cursor;
    --remaining;
    if (has_more())
        parse_argument(*cursor);
}
