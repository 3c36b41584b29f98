#include "ora_dump_progress_page.h"

#include "wizard_shell.h"

#include "tk_exception.h"
#include "tk_logger.h"

#include <QLabel>
#include <QVBoxLayout>

#include <algorithm>

namespace {
constexpr int dump_file_page = 105;
}

ora_dump_progress_page::ora_dump_progress_page(int next_page)
    : worker_page(L"Reading dump file", L"Reading dump file is in progress"), next(next_page)
{
    TK_TRACE(1, "ora_dump_progress_page::ctor");
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(QStringLiteral("Please wait until wizard reads Oracle dump file."), this));
    add_log_box(*layout);
    layout->addWidget(new QLabel(QStringLiteral("Reading Oracle dump file..."), this));
    add_progress_bar(*layout);
}

ora_dump_progress_page::~ora_dump_progress_page() = default;

bool ora_dump_progress_page::page_init()
{
    TK_TRACE(2, "ora_dump_progress_page::page_init");
    return start_worker();
}

int ora_dump_progress_page::show_reader_progress()
{
    ora_dump_opener_t* opener = ora_dump_opener_t::try_instance();
    if (!opener)
        throw tk_mail_assertion("dmx_shel", 255);
    const int progress = opener->reader().get_progress();
    TK_TRACE(1, "Open progress=%d", progress);
    show_progress(std::clamp(progress, 0, 100));
    return progress;
}

void ora_dump_progress_page::on_log()
{
    show_reader_progress();
}

void ora_dump_progress_page::on_timer()
{
    TK_TRACE(1, "ora_dump_progress_page::on_timer");
    const int progress = show_reader_progress();
    ora_dump_opener_t* opener = ora_dump_opener_t::instance();
    // The reader shows its end state before the opener has finished: the
    // refusal's box may still be open, the database not yet handed over.
    // Only the worker's end settles it.
    if (!worker_done())
        return;
    const bool read = progress != -1 && static_cast<unsigned>(progress) >= 100 && opener->database() != nullptr;
    wizard_shell* shell = wizard_shell::instance();
    if (read) {
        shell->set_current(next);
        return;
    }
    // Quick launch has no dump-file page to go back to: the refusal's box
    // has been shown, and the start-up has failed.
    if (!shell->page(dump_file_page)) {
        shell->close_sheet(sheet_start_failed);
        return;
    }
    shell->set_current(dump_file_page);
}
