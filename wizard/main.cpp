// velconv: the interactive wizard that converts an Oracle export dump into a
// PostgreSQL database. "velconv profile.velc" runs it from a saved profile
// (quick launch). The exit code is 1 after Finish, 0 after Cancel, 255 when
// the start-up failed.

#include "qt_ui_services.h"
#include "run_wizard.h"

#include <QApplication>
#include <QStringList>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

int main(int argc, char** argv)
{
    // Without a display Qt would abort; say so plainly instead.
    if (!std::getenv("QT_QPA_PLATFORM") && !std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY")) {
        std::fputs("Failed to initialize GUI library\n", stderr);
        return 255;
    }
    QApplication app(argc, argv);
    qt_ui_services ui;
    std::vector<std::string> args;
    const QStringList arguments = QCoreApplication::arguments();
    for (qsizetype i = 1; i < arguments.size(); ++i)
        args.push_back(arguments[i].toStdString());
    const int code = run_wizard(args, ui);
    ui.end_program(code);
}
