// SIGINT and SIGTERM turned into a call on an ordinary thread. The signal
// handler only records the signal and writes a byte to a pipe; a watcher
// thread reads the byte and calls the handler given here, where taking a
// lock or cancelling a server statement is allowed. A second signal of
// either kind ends the program at once, as it would have done without this.
#pragma once

#include <atomic>
#include <functional>
#include <thread>

class console_interrupt {
public:
    // Installs the handlers and starts the watcher; on_signal runs on the
    // watcher, once, for the first signal.
    explicit console_interrupt(std::function<void(int)> on_signal);
    // Puts the earlier handlers back and ends the watcher.
    ~console_interrupt();
    console_interrupt(const console_interrupt&) = delete;
    console_interrupt& operator=(const console_interrupt&) = delete;

    // The first signal that came, 0 while none has.
    static int signal_number() { return received.load(std::memory_order_acquire); }

private:
    static void handle(int signal_number);
    void watch();

    static std::atomic<int> received;
    static std::atomic<int> pipe_write;
    std::function<void(int)> on_signal;
    int pipe_fds[2] = {-1, -1};
    std::thread watcher;
    bool installed = false;
};
