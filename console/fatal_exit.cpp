#include "fatal_exit.h"

#include "front_end.h"
#include "velconv_convertor.h"

#include "tk_logger.h"

#include <cstdlib>

void fatal_exit(const std::string& text)
{
    velconv_convertor* converter = velconv_convertor::instance();
    // As an argument, never as the format: the text may hold a "%".
    tk_trace(3, "%s", text);
    front_end* fe = front_end::instance();
    if (!converter->silent)
        fe->write_err(text + "\n");
    fe->end_program(255);
    // end_program never returns; this keeps the promise of the declaration
    // should a front end break it.
    std::_Exit(255);
}
