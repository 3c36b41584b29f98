#include "run_wizard.h"

#include "dmx_sel_tables_page.h"
#include "gui_finish_page.h"
#include "ora_dump_progress_page.h"
#include "pgs_settings_page.h"
#include "progress_page.h"
#include "sel_file_page.h"
#include "ui_services.h"
#include "welcome_page.h"
#include "wizard_front_end.h"
#include "wizard_page.h"
#include "wizard_shell.h"

#include "error_handler.h"
#include "ora_dump_parser.h"
#include "velconv_convertor.h"

#include "tk_desktop.h"
#include "tk_exception.h"
#include "tk_logger.h"
#include "tk_unicode.h"

#include <QtGlobal>

#include <exception>
#include <memory>

// Outside any namespace, as the resource initialisation requires.
static void init_wizard_resources()
{
    Q_INIT_RESOURCE(wizard);
}

namespace {

// The sheet's pages, destroyed in the reverse order of their making.
class page_list {
public:
    page_list() = default;
    page_list(const page_list&) = delete;
    page_list& operator=(const page_list&) = delete;
    page_list(page_list&&) = default;
    ~page_list()
    {
        while (!pages.empty())
            pages.pop_back();
    }
    void add(std::unique_ptr<wizard_page_base> page) { pages.push_back(std::move(page)); }
    const std::vector<std::unique_ptr<wizard_page_base>>& all() const { return pages; }

private:
    std::vector<std::unique_ptr<wizard_page_base>> pages;
};

// The pages in the sheet's order: 103, 134, 105, 108, 127, 107, 116 in the
// normal wizard, 108, 107, 116 in quick launch.
page_list make_pages(velconv_convertor& converter, bool quick_launch)
{
    (void)converter;
    page_list pages;
    if (!quick_launch) {
        auto welcome = std::make_unique<welcome_page>();
        welcome->set_profile_extension(L"velc");
        pages.add(std::move(welcome));
        pages.add(std::make_unique<pgs_settings_page>());
        pages.add(std::make_unique<sel_file_page>());
    }
    pages.add(std::make_unique<ora_dump_progress_page>(quick_launch ? progress_page::page_id
                                                                    : dmx_sel_tables_page::page_id));
    if (!quick_launch)
        pages.add(std::make_unique<dmx_sel_tables_page>());
    pages.add(std::make_unique<progress_page>());
    auto finish = std::make_unique<gui_finish_page_t<velconv_convertor>>(
        L"Wizard has converted your Oracle dump file into\nPostgreSQL database successfully.\n\n"
        L"Click 'Finish' to exit the wizard.",
        L"There were some errors while converting the database.\nClick 'Finish' to exit the wizard.");
    finish->set_profile_extension(L"velc");
    pages.add(std::move(finish));
    return pages;
}

std::string join_args(const std::vector<std::string>& args)
{
    std::string line;
    for (const std::string& a : args) {
        if (!line.empty())
            line += ' ';
        line += a;
    }
    return line;
}

// A path in quotes, as a launcher passes a path with blanks: one pair of
// enclosing quotes goes, nothing else.
std::string strip_quotes(std::string line)
{
    if (line.size() >= 2 && line.front() == '"' && line.back() == '"')
        return line.substr(1, line.size() - 2);
    return line;
}

// The reader's lines for the log box: some come without their line end,
// and each stands on a line of its own there.
std::string log_line(const std::string& text)
{
    if (!text.empty() && text.back() == '\n')
        return text;
    return text + '\n';
}

struct desktop_hooks {
    explicit desktop_hooks(ui_services& ui)
    {
        tk_set_desktop(tk_desktop{
            [&ui](const std::wstring& text) { wizard_shell::run_on_gui_thread([&] { ui.set_clipboard(text); }); },
            [&ui](const std::string& url) { wizard_shell::run_on_gui_thread([&] { ui.open_url(url); }); },
        });
    }
    ~desktop_hooks() { tk_set_desktop({}); }
    desktop_hooks(const desktop_hooks&) = delete;
    desktop_hooks& operator=(const desktop_hooks&) = delete;
};

}  // namespace

int run_wizard(const std::vector<std::string>& args, ui_services& ui, const wizard_hooks& hooks)
{
    xml_platform_guard xml;
    tk_logger logger(nullptr, false, 3, true);
    wizard_front_end fe;
    error_handler reporter(error_handler_code_count, error_handler_codes);
    init_wizard_resources();
    desktop_hooks desktop(ui);

    int result = 0;
    try {
        try {
            velconv_convertor converter;
            converter.opener().reader().set_log_sink(
                [](ora_log_kind, const std::string& text) { wizard_shell::write_log_ansi(log_line(text)); });
            if (hooks.converter_ready)
                hooks.converter_ready(converter);

            bool quick_launch = false;
            const std::string line = join_args(args);
            if (!line.empty()) {
                const std::string path = strip_quotes(line);
                TK_TRACE(2, "QUICK LAUNCH: profile=%s", path);
                quick_launch = converter.load_profile_file(tk_utf8_to_wide(path));
                if (quick_launch)
                    converter.settle_name_settings();
            }

            wizard_shell shell(make_title(), 501, 311, 312);
            page_list pages = make_pages(converter, quick_launch);
            for (const auto& p : pages.all())
                shell.add_page(p.get());

            if (quick_launch) {
                // Only the connection: the run drops a mode-0 destination
                // itself, once the dump has opened.
                TK_TRACE(2, "pgs_converter_impl::connect_pgs_server(%s)", "");
                try {
                    converter.engine.connect(converter.host, converter.user, converter.password, "",
                                             converter.port);
                } catch (const tk_exception& e) {
                    // No run to continue or abort yet: a refused connection
                    // ends the start-up with its error box.
                    tk_exception failure(e);
                    failure.message = connection_box_text(failure.message);
                    if (failure.level < 1)
                        failure.level = 1;
                    throw failure;
                }
            }
            result = ui.exec_dialog(shell);
            if (fe.program_ending())
                result = 255;
        } catch (const tk_exception& e) {
            // The shell is gone: the box has the bare caption and no owner.
            result = 255;
            reporter.handle(e, true);
        } catch (const std::exception& e) {
            result = 255;
            wizard_shell::error_ansi(e.what());
        }
    } catch (...) {
        // The program's end by unwinding (a test's front end) passes here;
        // anything else is not ours to swallow.
        if (!fe.program_ending())
            throw;
        result = 255;
    }
    return result;
}
