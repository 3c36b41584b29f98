// velcagent: converts an Oracle export dump into a PostgreSQL database,
// unattended, as its command line (or a profile it names) says. Exits 0
// when every selected table was converted with every record, 1 when the run
// completed but reported tables or records it left out, 255 when it did not
// complete, and 130 or 143 when SIGINT or SIGTERM ended it.

#include "console_front_end.h"
#include "console_interrupt.h"
#include "error_handler.h"
#include "fatal_exit.h"
#include "ora_dump_parser.h"
#include "parse_cmd_line.h"
#include "velconv_convertor.h"

#include "tk_exception.h"
#include "tk_logger.h"

#include <cstdlib>
#include <exception>
#include <string>

int main(int argc, char** argv)
{
    xml_platform_guard xml;
    tk_logger logger(nullptr, false, 3, true);
    console_front_end fe;
    error_handler reporter(error_handler_code_count, error_handler_codes);
    bool completed = false;
    bool all_converted = false;
    int interrupted_by = 0;
    try {
        velconv_convertor converter;
        // Declared after the converter, so that no signal reaches it once it
        // is gone.
        console_interrupt interrupt([&converter](int signal_number) { converter.interrupt(signal_number); });
        apply_cmd_line(argc, argv);
        TK_TRACE(2, "pgs_converter_impl::connect_pgs_server(%s)", "");
        converter.engine.connect(converter.host, converter.user, converter.password, "", converter.port);
        // The run drops a mode-0 destination itself, once the dump has
        // opened: a refused dump must leave the database as it was.
        converter();
        completed = converter.is_completed();
        all_converted = converter.is_all_converted();
        // A signal after the run's normal end interrupted nothing.
        if (!completed && converter.is_interrupted()) {
            const velconv_interrupt_report report = converter.interrupt_report();
            fe.run_interrupted(report);
            interrupted_by = report.signal_number;
        }
    } catch (const tk_exception& e) {
        // Levels 1 and 2 end the program inside the reporter.
        reporter.handle(e, false);
    } catch (const std::exception& e) {
        fatal_exit(e.what());
    }
    if (interrupted_by != 0)
        return 128 + interrupted_by;
    if (!completed) {
        // Not unwound further: an unfinished COPY is rolled back by the
        // server when the connection drops.
        fe.end_program(255);
    }
    return all_converted ? 0 : 1;
}
