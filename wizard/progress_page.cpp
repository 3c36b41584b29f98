#include "progress_page.h"

#include "wizard_shell.h"

#include "tk_exception.h"
#include "tk_logger.h"

#include <QFontMetrics>
#include <QLabel>
#include <QVBoxLayout>

#include <algorithm>

namespace {
constexpr int finish_page = 116;
}

std::uint64_t conversion_percent(std::uint32_t n_tables, std::uint32_t cur_table, std::uint64_t table_recs,
                                 std::uint64_t cur_rec, int local_progress)
{
    if (n_tables == 0)
        return 0;
    const std::uint64_t n = n_tables;
    std::uint64_t p = std::uint64_t{cur_table} * 100 / n;
    if (table_recs != 0) {
        // In 128 bits: a record count times 100 passes 64 bits only for
        // absurd counts, but a display must not wrap either.
        const auto share = static_cast<unsigned __int128>(cur_rec) * 100 / table_recs / n;
        p += static_cast<std::uint64_t>(std::min<unsigned __int128>(share, 100));
    }
    p += static_cast<std::uint64_t>(std::clamp(local_progress, 0, 100)) / n;
    return p;
}

int progress_bar_value(std::uint64_t percent)
{
    return static_cast<int>(std::min<std::uint64_t>(percent, 100));
}

progress_page::progress_page() : worker_page(L"Step 4 of 4", L"Data conversion is in progress")
{
    TK_TRACE(1, "progress_page::ctor");
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(
        QStringLiteral("Database conversion is in progress. Please wait until wizard completes"), this));
    layout->addWidget(new QLabel(QStringLiteral("migrating your Oracle data to PostgreSQL server."), this));
    add_log_box(*layout);
    status = with_id(new QLabel(this), status_line_id);
    status->setMinimumWidth(1);
    status->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    layout->addWidget(status);
    add_progress_bar(*layout);
}

progress_page::~progress_page() = default;

bool progress_page::page_init()
{
    TK_TRACE(2, "progress_page::page_init");
    status->clear();
    shown_percent = 0;
    return start_worker();
}

void progress_page::on_timer()
{
    TK_TRACE(1, "progress_page::on_timer");
    show_run_progress();
    if (!worker_done())
        return;
    wizard_shell::instance()->set_current(finish_page);
}

void progress_page::on_log()
{
    show_run_progress();
}

void progress_page::show_run_progress()
{
    velconv_convertor* c = velconv_convertor::try_instance();
    if (!c)
        throw tk_mail_assertion("dmx_shel", 370);
    const std::uint64_t p = conversion_percent(c->n_tables.load(), c->cur_table.load(), c->table_recs.load(),
                                               c->cur_rec.load(), c->opener().reader().get_local_progress());
    TK_TRACE(1, "Got progress: %d", p);
    // The run sets its counters back to 0 once its tables are done, and a
    // short run may end between two ticks: the bar keeps the furthest point
    // reached, and a run that reached its end shows it whole.
    shown_percent = std::max(shown_percent, progress_bar_value(p));
    if (c->is_completed())
        shown_percent = 100;
    show_progress(shown_percent);
    show_status(c->current_table.get());
}

void progress_page::show_status(const std::wstring& table)
{
    if (table.empty()) {
        status->clear();
        return;
    }
    // The whole name is kept; one too wide for the line loses its middle.
    const QString head = QStringLiteral("Processing table '");
    const QString tail = QStringLiteral("'");
    const QFontMetrics metrics(status->font());
    const int room = status->contentsRect().width() - metrics.horizontalAdvance(head + tail);
    const QString name = metrics.elidedText(QString::fromStdWString(table), Qt::ElideMiddle, std::max(room, 0));
    status->setText(head + name + tail);
}
