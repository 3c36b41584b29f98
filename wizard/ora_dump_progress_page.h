// The dump-reading page: runs the registered dump opener on a worker and
// follows the reader's progress on the sheet's ticks. It moves on only once
// the worker has ended: to its next page when the dump database is there,
// back to the dump-file page otherwise, or, in quick launch, which has no
// dump-file page, it closes the sheet with 255.
#pragma once

#include "worker_page.h"

#include "ora_dump_opener_t.h"

class ora_dump_progress_page : public worker_page<108, ora_dump_opener_t> {
public:
    // next_page: the table page in the normal wizard, the conversion page
    // in quick launch.
    explicit ora_dump_progress_page(int next_page);
    ~ora_dump_progress_page() override;

    bool page_init() override;
    void on_timer() override;
    // A scan may list its tables faster than the ticks come: the bar keeps
    // up with the lines.
    void on_log() override;

    int next_page() const { return next; }

private:
    // Shows the reader's progress and gives it.
    int show_reader_progress();

    int next;
};
