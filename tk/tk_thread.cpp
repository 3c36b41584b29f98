#include "tk_thread.h"

#include "tk_exception.h"
#include "tk_logger.h"

#include <chrono>
#include <system_error>

void tk_thread_functor::operator()()
{
    while (!is_ready()) {
        if (stop_requested())
            return;
        wait();
    }
    if (stop_requested())
        return;
    run();
}

void tk_thread_functor::wait()
{
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
}

tk_thread::tk_thread(bool owns) : owns_functor(owns) {}

tk_thread::~tk_thread()
{
    // Never raises: a running worker is asked to stop and waited for.
    try {
        if (is_running())
            kill();
        else
            join_and_release();
    } catch (...) {
        join_and_release();
    }
}

bool tk_thread::is_running() const
{
    return thread.joinable() && !done.load(std::memory_order_acquire);
}

tk_thread_functor* tk_thread::get_functor()
{
    owns_functor = true;
    return new tk_thread_functor;
}

void tk_thread::start()
{
    TK_CHECK(!is_running(), "tk_threa", 92);
    release();
    TK_CHECK(functor == nullptr, "tk_threa", 100);
    functor = get_functor();
    TK_CHECK(functor != nullptr, "tk_threa", 105);
    functor->clear_stop();
    done.store(false, std::memory_order_release);
    try {
        thread = std::thread(&tk_thread::routine, this, functor);
    } catch (const std::system_error& e) {
        // No thread: it counts as not running.
        tk_trace(3, "Internal error:\n%s", e.what());
    }
}

void tk_thread::routine(tk_thread* self, tk_thread_functor* f)
{
    // Nothing escapes the thread: an escaped failure would end the program.
    try {
        TK_CHECK(f != nullptr, "tk_threa", 149);
        (*f)();
    } catch (const tk_exception& e) {
        tk_trace(3, "Internal error:\n%s", e.message);
    } catch (const std::exception& e) {
        tk_trace(3, "Internal error:\n%s", e.what());
    } catch (...) {
        tk_trace(3, "Internal error:\n%s", tk_messages[2]);
    }
    self->done.store(true, std::memory_order_release);
}

void tk_thread::release()
{
    TK_CHECK(!is_running(), "tk_threa", 71);
    join_and_release();
}

void tk_thread::join_and_release() noexcept
{
    if (thread.joinable()) {
        try {
            thread.join();
        } catch (...) {
        }
    }
    if (owns_functor)
        delete functor;
    functor = nullptr;
}

void tk_thread::kill()
{
    TK_CHECK(is_running(), "tk_threa", 55);
    if (functor)
        functor->request_stop();
    join_and_release();
}
