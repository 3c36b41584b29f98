#include "worker_page.h"

#include "wizard_shell.h"

#include "front_end.h"

#include "tk_thread.h"

#include <QBoxLayout>
#include <QCoreApplication>
#include <QEvent>
#include <QPlainTextEdit>
#include <QProgressBar>

#include <utility>

// The worker over a functor that the page does not own, so the base's
// ownership is never used.
class worker_page_base::worker_thread : public tk_thread {
public:
    explicit worker_thread(functor_source source) : tk_thread(false), source(source) {}

    // Asks a running worker to stop; true when one was running.
    bool request_stop()
    {
        if (!is_running())
            return false;
        if (tk_thread_functor* f = get_current_functor())
            f->request_stop();
        return true;
    }
    // True once the worker has ended (or none was started); joins it then.
    bool ended()
    {
        if (is_running())
            return false;
        release();
        return true;
    }

protected:
    tk_thread_functor* get_functor() override { return source(); }

private:
    functor_source source;
};

worker_page_base::worker_page_base(int idd, std::wstring title, std::wstring subtitle, functor_source source)
    : wizard_page_base(idd, wiz_back | wiz_next, page_has_help, std::move(title), std::move(subtitle)),
      worker(std::make_unique<worker_thread>(source))
{
}

worker_page_base::~worker_page_base() = default;

void worker_page_base::on_help()
{
    wizard_shell::display_help();
}

bool worker_page_base::kill_active()
{
    return !worker->is_running();
}

bool worker_page_base::request_worker_stop()
{
    return worker->request_stop();
}

bool worker_page_base::worker_ended()
{
    return worker->ended();
}

void worker_page_base::add_log_box(QBoxLayout& layout)
{
    log = with_id(new QPlainTextEdit(this), log_box_id);
    log->setReadOnly(true);
    log->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    layout.addWidget(log, 1);
}

void worker_page_base::add_progress_bar(QBoxLayout& layout)
{
    bar = with_id(new QProgressBar(this), progress_bar_id);
    bar->setRange(0, 100);
    layout.addWidget(bar);
}

bool worker_page_base::start_worker()
{
    wizard_shell::instance()->set_buttons(0);
    bar->setValue(0);
    log->clear();
    log->setReadOnly(true);
    worker->start();
    return true;
}

void worker_page_base::show_progress(int percent)
{
    bar->setValue(percent);
}

bool worker_page_base::worker_done()
{
    if (!worker->ended())
        return false;
    // The worker's last lines may still wait in the queue behind this tick;
    // they belong on this page before it gives way to the next.
    QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
    wizard_shell* shell = wizard_shell::instance();
    shell->kill_timer();
    const front_end* fe = front_end::try_instance();
    if (shell->close_pending() || (fe && fe->program_ending())) {
        shell->close_sheet(0);
        return false;
    }
    return true;
}
