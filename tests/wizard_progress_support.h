// A sheet with the real progress and finish pages over the engine's
// one-instance objects, for the tests that need no server: stub pages
// stand in for the dump-file and table pages, a stubbed opening and a
// recording destination for the dump and the server. Also the screenshots
// of the sheet and the dialogs, each checked as it is written.
#pragma once

#include "wizard_test_support.h"

#include "converter_fakes.h"

#include "gui_finish_page.h"
#include "ora_dump_progress_page.h"
#include "progress_page.h"
#include "wizard_front_end.h"

#include "error_handler.h"
#include "velconv_convertor.h"

#include "tk_desktop.h"
#include "tk_logger.h"
#include "tk_unicode.h"

#include <QDir>
#include <QImage>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>
#include <set>
#include <string>
#include <vector>

// The wizard's pictures live in its library; run_wizard registers them the
// same way.
inline void init_wizard_pictures()
{
    Q_INIT_RESOURCE(wizard);
}

namespace wizard_test {

// Saves a picture of the widget as PNG into the screenshot folder, then
// checks that the file loads as an image of the widget's size with more
// than one colour.
inline void screenshot(QWidget& w, const std::string& name)
{
    const QString dir = QStringLiteral(VELC_SCREENSHOT_DIR);
    QDir().mkpath(dir);
    const QString path = dir + "/" + QString::fromStdString(name);
    const QPixmap picture = w.grab();
    ASSERT_TRUE(picture.save(path, "PNG")) << name;
    QImage loaded(path);
    ASSERT_FALSE(loaded.isNull()) << name;
    EXPECT_EQ(loaded.size(), w.size() * w.devicePixelRatio()) << name;
    std::set<QRgb> colours;
    for (int y = 0; y < loaded.height() && colours.size() < 2; y += 3)
        for (int x = 0; x < loaded.width() && colours.size() < 2; x += 3)
            colours.insert(loaded.pixel(x, y));
    EXPECT_GT(colours.size(), 1u) << name;
}

inline void click(QWidget& parent, int id)
{
    auto* b = parent.findChild<QPushButton*>(QString::number(id));
    ASSERT_NE(b, nullptr) << id;
    QTest::mouseClick(b, Qt::LeftButton);
}

class progress_sheet : public fixture {
protected:
    progress_sheet() : logger(nullptr, false, 3, true), reporter(error_handler_code_count, error_handler_codes)
    {
        tk_set_desktop(tk_desktop{
            [this](const std::wstring& text) { wizard_shell::run_on_gui_thread([&] { ui.set_clipboard(text); }); },
            [this](const std::string& url) { wizard_shell::run_on_gui_thread([&] { ui.open_url(url); }); },
        });
        init_wizard_pictures();
        converter = std::make_unique<velconv_convertor>();
        converter->src = L"/nowhere/exp.dmp";
    }
    ~progress_sheet() override
    {
        // The sheet never goes while a worker runs.
        for (wizard_page_base* p : {static_cast<wizard_page_base*>(reading.get()),
                                    static_cast<wizard_page_base*>(conversion.get())})
            if (p)
                wait_for_state([p] { return p->worker_ended(); }, "the worker of page " + std::to_string(p->idd()) + " to end");
        if (shell)
            shell->kill_timer();
        finish.reset();
        conversion.reset();
        tables.reset();
        reading.reset();
        file_page.reset();
        shell.reset();
        converter.reset();
        tk_set_desktop({});
    }

    // The normal sheet (105 stub, 108, 127 stub, 107, 116), not shown yet
    // but with 105 current once shown; quick launch: 108, 107, 116.
    void build(bool quick)
    {
        shell = std::make_unique<wizard_shell>(L"T", 501, 311, 312);
        if (!quick)
            file_page = std::make_unique<stub_page>(105);
        reading = std::make_unique<ora_dump_progress_page>(quick ? 107 : 127);
        if (!quick)
            tables = std::make_unique<stub_page>(127);
        conversion = std::make_unique<progress_page>();
        finish = std::make_unique<gui_finish_page_t<velconv_convertor>>(
            L"Wizard has converted your Oracle dump file into\nPostgreSQL database successfully.\n\n"
            L"Click 'Finish' to exit the wizard.",
            L"There were some errors while converting the database.\nClick 'Finish' to exit the wizard.");
        finish->set_profile_extension(L"velc");
        for (wizard_page_base* p : std::initializer_list<wizard_page_base*>{
                 file_page.get(), reading.get(), tables.get(), conversion.get(), finish.get()})
            if (p)
                shell->add_page(p);
        if (!quick)
            shell->show();
    }
    // Next on the current page.
    void next() { click(*shell, sheet_next_id); }

    QProgressBar* bar(int idd) const { return shell->page(idd)->findChild<QProgressBar*>("1321"); }
    std::string log_text(int idd) const
    {
        return shell->page(idd)->findChild<QPlainTextEdit*>("1016")->toPlainText().toStdString();
    }
    static std::unique_ptr<udb_database> source(std::vector<fake::table_script> t)
    {
        return std::make_unique<fake::script_source>(std::move(t));
    }

    tk_logger logger;
    wizard_front_end fe;
    error_handler reporter;
    fake::call_log dest_log;
    std::unique_ptr<velconv_convertor> converter;
    std::unique_ptr<wizard_shell> shell;
    std::unique_ptr<stub_page> file_page;
    std::unique_ptr<ora_dump_progress_page> reading;
    std::unique_ptr<stub_page> tables;
    std::unique_ptr<progress_page> conversion;
    std::unique_ptr<gui_finish_page_t<velconv_convertor>> finish;
};

}  // namespace wizard_test
