// velconv: the interactive wizard that converts an Oracle export dump into a
// PostgreSQL database. "velconv profile.velc" runs it from a saved profile
// (quick launch). The exit code is 1 after Finish, 0 after Cancel, 255 when
// the start-up failed.

#include "gui_platform.h"
#include "qt_ui_services.h"
#include "run_wizard.h"
#include "velconv_usage.h"

#include <QApplication>

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

int main(int argc, char** argv)
{
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i)
        args.emplace_back(argv[i]);
    std::string out;
    std::string err;
    if (const std::optional<int> code = velconv_early_exit(args, out, err)) {
        std::fputs(out.c_str(), stdout);
        std::fputs(err.c_str(), stderr);
        return *code;
    }
    // Qt would abort where no platform starts; say so plainly instead.
    std::optional<std::string> platform = usable_gui_platform();
    if (!platform) {
        std::fputs(no_gui_text, stderr);
        return 255;
    }
    // Qt sees only the platform: none of the user's arguments is taken for
    // one of its own options.
    std::string program = argc > 0 && argv[0] ? argv[0] : "velconv";
    std::string platform_option = "-platform";
    char* qt_argv[] = {program.data(), platform_option.data(), platform->data(), nullptr};
    int qt_argc = 3;
    QApplication app(qt_argc, qt_argv);
    qt_ui_services ui;
    const int code = run_wizard(args, ui);
    ui.end_program(code);
}
