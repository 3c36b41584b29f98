// Shared pieces of the wizard's tests: the fixture with a temporary home
// and help folder and the scripted desktop services, and a stub page whose
// answers a test sets.
#pragma once

#include "scripted_ui_services.h"
#include "test_support.h"
#include "wizard_page.h"
#include "wizard_shell.h"

#include <QPlainTextEdit>
#include <QTest>
#include <QVBoxLayout>

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <concepts>
#include <functional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace wizard_test {

// A TCP port on 127.0.0.1 where nothing listens: bound, never listening, so
// a connection is refused at once.
class dead_port {
public:
    dead_port()
    {
        fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
        socklen_t len = sizeof a;
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
        number = ntohs(a.sin_port);
    }
    ~dead_port() { ::close(fd); }
    dead_port(const dead_port&) = delete;
    dead_port& operator=(const dead_port&) = delete;
    int port() const { return number; }

private:
    int fd = -1;
    int number = 0;
};

// How long a test waits for one state: a third of the test's own timeout,
// so that a state that never comes fails the test with what it waited for
// (and the steps after it, which leave promptly) before the test is killed.
inline constexpr int state_wait_ms = VELC_TEST_TIMEOUT_S * 1000 / 3;

// Handles events until the state holds; gives false after state_wait_ms
// (or ms) and fails the test, naming what it waited for.
template <typename Holds>
bool wait_for_state(Holds&& holds, const std::string& what, int ms = state_wait_ms)
{
    if (QTest::qWaitFor(std::forward<Holds>(holds), ms))
        return true;
    ADD_FAILURE() << "timed out after " << ms << " ms waiting for " << what;
    return false;
}

// A worker's wait for the test's go-ahead: it gives up after state_wait_ms,
// so that a test that failed before it let the worker go still ends.
template <std::invocable Go>
void hold_until(Go&& go)
{
    const auto limit = std::chrono::steady_clock::now() + std::chrono::milliseconds(state_wait_ms);
    while (!go() && std::chrono::steady_clock::now() < limit)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
}
inline void hold_until(const std::atomic<bool>& go)
{
    hold_until([&go] { return go.load(); });
}

class stub_page : public wizard_page_base {
public:
    stub_page(int idd, int buttons = wiz_back | wiz_next, int flags = page_has_help, bool log_box = true)
        : wizard_page_base(idd, buttons, flags, L"Title " + std::to_wstring(idd), L"Subtitle")
    {
        if (log_box) {
            auto* layout = new QVBoxLayout(this);
            log = with_id(new QPlainTextEdit(this), log_box_id);
            log->setReadOnly(true);
            layout->addWidget(log);
        }
    }

    bool page_init() override
    {
        ++inits;
        return init ? init() : true;
    }
    bool kill_active() override { return allow_leave; }
    bool on_finish() override { return allow_finish; }
    void on_help() override { ++helps; }
    int on_next() override { return next_fn ? next_fn() : next_result; }
    int on_back() override { return back_result; }
    void on_timer() override
    {
        ++ticks;
        if (timer_fn)
            timer_fn();
    }

    std::function<bool()> init;
    std::function<int()> next_fn;
    std::function<void()> timer_fn;
    int next_result = 0;
    int back_result = 0;
    bool allow_leave = true;
    bool allow_finish = true;
    int inits = 0;
    int helps = 0;
    int ticks = 0;
    QPlainTextEdit* log = nullptr;
};

class fixture : public tk_test::home_fixture {
protected:
    fixture() : ui(help.path()) {}
    tk_test::temp_dir help;
    tk_test::temp_dir work;
    scripted_ui_services ui;
};

inline std::string utf8(const std::wstring& w)
{
    return QString::fromStdWString(w).toStdString();
}

}  // namespace wizard_test
