// The worker of a progress page: a thread over a registered functor that
// the page does not own (the dump opener, the main converter). The GUI
// thread never waits for it: it asks for the cooperative stop, and joins
// only once the worker has ended.
#pragma once

#include "wizard_shell.h"

#include "front_end.h"

#include "tk_thread.h"

// The progress bar of both progress pages.
inline constexpr int progress_bar_id = 1321;

template <typename Functor>
class page_worker : public tk_thread {
public:
    page_worker() : tk_thread(false) {}

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
    // The registered object; none registered is the registry's internal
    // error. Ownership stays with its owner, so the base is not called.
    tk_thread_functor* get_functor() override { return Functor::instance(); }
};

// The tick's step once a page's worker has ended: the timer stops, and the
// sheet closes when the user cancelled meanwhile or the program is ending.
// False when the page is to move on.
inline bool close_after_worker(wizard_shell& shell)
{
    shell.kill_timer();
    const front_end* fe = front_end::try_instance();
    if (shell.close_pending() || (fe && fe->program_ending())) {
        shell.close_sheet(0);
        return true;
    }
    return false;
}
