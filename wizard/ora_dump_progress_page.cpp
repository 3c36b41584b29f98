#include "ora_dump_progress_page.h"

#include "wizard_shell.h"

#include "tk_exception.h"
#include "tk_logger.h"

#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QVBoxLayout>

#include <algorithm>

namespace {
constexpr int dump_file_page = 105;
}

ora_dump_progress_page::ora_dump_progress_page(int next_page)
    : wizard_page(L"Reading dump file", L"Reading dump file is in progress"), next(next_page)
{
    TK_TRACE(1, "ora_dump_progress_page::ctor");
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(QStringLiteral("Please wait until wizard reads Oracle dump file."), this));
    log = with_id(new QPlainTextEdit(this), log_box_id);
    log->setReadOnly(true);
    log->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    layout->addWidget(log, 1);
    layout->addWidget(new QLabel(QStringLiteral("Reading Oracle dump file..."), this));
    bar = with_id(new QProgressBar(this), progress_bar_id);
    bar->setRange(0, 100);
    layout->addWidget(bar);
}

ora_dump_progress_page::~ora_dump_progress_page() = default;

bool ora_dump_progress_page::page_init()
{
    TK_TRACE(2, "ora_dump_progress_page::page_init");
    wizard_shell::instance()->set_buttons(0);
    bar->setValue(0);
    log->clear();
    log->setReadOnly(true);
    worker.start();
    return true;
}

void ora_dump_progress_page::on_timer()
{
    TK_TRACE(1, "ora_dump_progress_page::on_timer");
    ora_dump_opener_t* opener = ora_dump_opener_t::try_instance();
    if (!opener)
        throw tk_mail_assertion("dmx_shel", 255);
    const int progress = opener->reader().get_progress();
    TK_TRACE(1, "Open progress=%d", progress);
    bar->setValue(std::clamp(progress, 0, 100));
    // The reader shows its end state before the opener has finished: the
    // refusal's box may still be open, the database not yet handed over.
    // Only the worker's end settles it.
    if (!worker.ended())
        return;
    wizard_shell* shell = wizard_shell::instance();
    if (close_after_worker(*shell))
        return;
    const bool read = progress != -1 && static_cast<unsigned>(progress) >= 100 && opener->database() != nullptr;
    shell->set_current(read ? next : dump_file_page);
}

void ora_dump_progress_page::on_help()
{
    wizard_shell::display_help();
}
