// The dump-reading page: runs the registered dump opener on a worker and
// follows the reader's progress on the sheet's ticks. It moves on only once
// the worker has ended: to its next page when the dump database is there,
// back to the dump-file page otherwise.
#pragma once

#include "page_worker.h"
#include "wizard_page.h"

#include "ora_dump_opener_t.h"

class QPlainTextEdit;
class QProgressBar;


class ora_dump_progress_page : public wizard_page<108, wiz_back | wiz_next, page_has_help> {
public:
    // next_page: the table page in the normal wizard, the conversion page
    // in quick launch.
    explicit ora_dump_progress_page(int next_page);
    ~ora_dump_progress_page() override;

    bool page_init() override;
    void on_timer() override;
    void on_help() override;
    // Not left while the worker runs: it would be started a second time.
    bool kill_active() override { return !worker.is_running(); }
    bool request_worker_stop() override { return worker.request_stop(); }
    bool worker_ended() override { return worker.ended(); }

    int next_page() const { return next; }

private:
    int next;
    page_worker<ora_dump_opener_t> worker;
    QPlainTextEdit* log = nullptr;
    QProgressBar* bar = nullptr;
};
