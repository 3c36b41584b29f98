#include "test_support.h"
#include "tk_logger.h"
#include "tk_singleton.h"
#include "tk_thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>

namespace {

struct registered : tk_singleton<registered> {
    int value = 7;
};

std::string code_of(const char* file, int line)
{
    return make_err_meggase(file, line);
}

template <typename F>
std::string internal_error_of(F&& f)
{
    try {
        f();
    } catch (const tk_mail_assertion& e) {
        return e.message;
    }
    return "no internal error";
}

}  // namespace

TEST(TkSingleton, OneLiveInstance)
{
    EXPECT_EQ(internal_error_of([] { registered::get_instance(); }), code_of("tk_singl", 59));
    EXPECT_EQ(internal_error_of([] { registered::instance(); }), code_of("tk_singl", 66));
    EXPECT_EQ(registered::try_instance(), nullptr);
    {
        registered one;
        EXPECT_EQ(registered::get_instance(), &one);
        EXPECT_EQ(registered::instance()->value, 7);
        EXPECT_EQ(internal_error_of([] { registered second; }), code_of("tk_singl", 35));
        // The refused second one must not have unregistered the first.
        EXPECT_EQ(registered::try_instance(), &one);
    }
    EXPECT_EQ(internal_error_of([] { registered::get_instance(); }), code_of("tk_singl", 59));
    EXPECT_EQ(internal_error_of([] { registered::instance(); }), code_of("tk_singl", 66));
    registered again;
    EXPECT_EQ(registered::try_instance(), &again);
}

namespace {

struct counting_functor : tk_thread_functor {
    int ready_after = 3;
    std::atomic<int> waits{0};
    std::atomic<int> runs{0};
    bool is_ready() override { return waits.load() >= ready_after; }
    void wait() override { ++waits; }
    void run() override { ++runs; }
};

struct counting_thread : tk_thread {
    counting_thread() : tk_thread(false) {}
    tk_thread_functor* next = nullptr;
    int asked = 0;
    tk_thread_functor* get_functor() override
    {
        ++asked;
        return next;
    }
};

void wait_until_done(tk_thread& t)
{
    for (int i = 0; i < 5000 && t.is_running(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ASSERT_FALSE(t.is_running());
}

struct blocking_functor : tk_thread_functor {
    std::atomic<bool> started{false};
    std::atomic<bool> cleaned_up{false};
    std::atomic<int> stop_hooks{0};
    void operator()() override
    {
        started = true;
        while (!stop_requested())
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        cleaned_up = true;
    }

protected:
    void on_stop_requested() override { ++stop_hooks; }
};

// Waits for the functor to begin, up to the limit: a thread that never
// starts fails the test instead of hanging it.
bool started_within(const blocking_functor& f, std::chrono::milliseconds limit = std::chrono::seconds(10))
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!f.started) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

struct throwing_functor : tk_thread_functor {
    int kind;
    explicit throwing_functor(int k) : kind(k) {}
    void operator()() override
    {
        if (kind == 0)
            throw tk_exception(std::string("table failure"), 0);
        if (kind == 1)
            throw std::runtime_error("runtime failure");
        throw 42;
    }
};

}  // namespace

TEST(TkThread, WaitsUntilReadyThenRunsOnce)
{
    counting_functor f;
    counting_thread t;
    t.next = &f;
    t.start();
    wait_until_done(t);
    EXPECT_EQ(f.waits.load(), 3);
    EXPECT_EQ(f.runs.load(), 1);
}

TEST(TkThread, StartWhileRunningAndRestart)
{
    blocking_functor busy;
    counting_thread t;
    t.next = &busy;
    t.start();
    ASSERT_TRUE(started_within(busy)) << "the thread never started";
    EXPECT_EQ(internal_error_of([&] { t.start(); }), code_of("tk_threa", 92));
    EXPECT_EQ(internal_error_of([&] { t.release(); }), code_of("tk_threa", 71));
    t.kill();
    EXPECT_EQ(internal_error_of([&] { t.kill(); }), code_of("tk_threa", 55));

    counting_functor second;
    second.ready_after = 0;
    t.next = &second;
    t.start();
    wait_until_done(t);
    EXPECT_EQ(t.asked, 2);
    EXPECT_EQ(second.runs.load(), 1);

    t.next = nullptr;
    EXPECT_EQ(internal_error_of([&] { t.start(); }), code_of("tk_threa", 105));
}

TEST(TkThread, KillStopsCooperatively)
{
    blocking_functor f;
    counting_thread t;
    t.next = &f;
    t.start();
    ASSERT_TRUE(started_within(f)) << "the thread never started";
    t.kill();
    EXPECT_TRUE(f.cleaned_up.load());
    EXPECT_EQ(f.stop_hooks.load(), 1);
    EXPECT_FALSE(t.is_running());
}

TEST(TkThread, DestroyingRunningOrEndedThreadNeverTerminates)
{
    blocking_functor f;
    {
        counting_thread t;
        t.next = &f;
        t.start();
        ASSERT_TRUE(started_within(f)) << "the thread never started";
    }
    EXPECT_TRUE(f.cleaned_up.load());

    counting_functor done;
    done.ready_after = 0;
    {
        counting_thread t;
        t.next = &done;
        t.start();
        wait_until_done(t);
    }
    EXPECT_EQ(done.runs.load(), 1);
}

TEST(TkThread, StartWaitIsBounded)
{
    blocking_functor never_run;
    const auto before = std::chrono::steady_clock::now();
    EXPECT_FALSE(started_within(never_run, std::chrono::milliseconds(20)));
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(5));
}

TEST(TkThread, DefaultFunctorIsOwnedAndStops)
{
    // The default functor never becomes ready; kill must end its wait loop.
    tk_thread t;
    t.start();
    EXPECT_TRUE(t.is_running());
    t.kill();
    EXPECT_FALSE(t.is_running());
}

class TkThreadFailures : public tk_test::logger_fixture {};

TEST_F(TkThreadFailures, EscapingFailuresAreTracedAndEndTheThread)
{
    const char* expected[] = {"Internal error:\ntable failure\r\n", "Internal error:\nruntime failure\r\n",
                              "Internal error:\nUnknown exception\r\n"};
    std::string all;
    for (int kind = 0; kind < 3; ++kind) {
        throwing_functor f(kind);
        counting_thread t;
        t.next = &f;
        t.start();
        wait_until_done(t);
        all += expected[kind];
    }
    EXPECT_EQ(log_text(), all);
}

TEST(TkGuarded, SetAndGetFromTwoThreads)
{
    tk_guarded<std::wstring> name(L"start");
    std::thread writer([&] {
        for (int i = 0; i < 1000; ++i)
            name.set(i % 2 ? L"EMP" : L"DEPT");
    });
    for (int i = 0; i < 1000; ++i) {
        std::wstring v = name.get();
        EXPECT_TRUE(v == L"EMP" || v == L"DEPT" || v == L"start");
    }
    writer.join();
}
