// The progress pages: a page that runs a registered functor it does not own
// (the dump opener, the main converter) on a worker while it shows the
// worker's log and a progress bar. The GUI thread never waits for the
// worker: Cancel asks for the cooperative stop, the sheet's ticks poll the
// progress, and the worker is joined only once it has ended. Log lines come
// from the worker through wizard_shell::write_log, which queues them onto
// the page.
#pragma once

#include "wizard_page.h"

#include <memory>
#include <string>

class QBoxLayout;
class QPlainTextEdit;
class QProgressBar;
class tk_thread_functor;

// The progress bar of both progress pages.
inline constexpr int progress_bar_id = 1321;

class worker_page_base : public wizard_page_base {
public:
    // The functor the worker runs, taken from its registry at each start;
    // none registered is the registry's internal error.
    using functor_source = tk_thread_functor* (*)();

    ~worker_page_base() override;

    void on_help() override;
    // Not left while the worker runs: it would be started a second time.
    bool kill_active() override;
    bool request_worker_stop() override;
    bool worker_ended() override;

protected:
    worker_page_base(int idd, std::wstring title, std::wstring subtitle, functor_source source);

    // The page's log (1016) and progress bar (1321), added to its layout.
    void add_log_box(QBoxLayout& layout);
    void add_progress_bar(QBoxLayout& layout);

    // The start of page_init: no buttons, an empty bar and log, then the
    // worker started. Gives true, the page being shown.
    bool start_worker();
    // The bar's value, already within 0 to 100.
    void show_progress(int percent);
    // The tick's step after the progress is shown: true once the worker has
    // ended and the page is to move on. The timer is stopped then; when the
    // user cancelled meanwhile or the program is ending, the sheet is closed
    // instead and this gives false.
    bool worker_done();

private:
    class worker_thread;

    std::unique_ptr<worker_thread> worker;
    QPlainTextEdit* log = nullptr;
    QProgressBar* bar = nullptr;
};

// A progress page with its id over the registered Functor; both progress
// pages have Back, Next and Help.
template <int IDD, typename Functor>
class worker_page : public worker_page_base {
public:
    static constexpr int page_id = IDD;

protected:
    explicit worker_page(std::wstring title = {}, std::wstring subtitle = {})
        : worker_page_base(IDD, std::move(title), std::move(subtitle),
                           []() -> tk_thread_functor* { return Functor::instance(); })
    {
    }
};
