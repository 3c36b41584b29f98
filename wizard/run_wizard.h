// The start-up of velconv: builds the program's one-instance objects, loads
// a profile named on the command line (quick launch), assembles the pages
// and runs the sheet. main and the tests call it inside their QApplication.
#pragma once

#include <functional>
#include <string>
#include <vector>

class ui_services;
class velconv_convertor;

struct wizard_hooks {
    // Runs right after the converter is built, before the command line is
    // read; tests set the converter's seams here.
    std::function<void(velconv_convertor&)> converter_ready;
};

// args: the arguments after the program name, in UTF-8. Gives the exit
// code: the sheet's result (1 after Finish, 0 after Cancel), or 255 when
// the start-up failed.
int run_wizard(const std::vector<std::string>& args, ui_services& ui, const wizard_hooks& hooks = {});
