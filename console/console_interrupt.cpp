#include "console_interrupt.h"

#include "tk_logger.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <utility>

// The handler touches these only: a lock-free atomic is safe there.
static_assert(std::atomic<int>::is_always_lock_free);
std::atomic<int> console_interrupt::received{0};
std::atomic<int> console_interrupt::pipe_write{-1};

namespace {

constexpr char signal_byte = 's';
constexpr char quit_byte = 'q';
constexpr int watched[] = {SIGINT, SIGTERM};
struct sigaction earlier[2];
// A signal ignored when the program started (a job started in the
// background by a shell without job control) stays ignored.
bool caught[2] = {false, false};

void set_default_actions()
{
    struct sigaction dfl {};
    dfl.sa_handler = SIG_DFL;
    sigemptyset(&dfl.sa_mask);
    for (std::size_t i = 0; i < std::size(watched); ++i)
        if (caught[i])
            ::sigaction(watched[i], &dfl, nullptr);
}

}  // namespace

void console_interrupt::handle(int signal_number)
{
    const int saved = errno;
    int none = 0;
    received.compare_exchange_strong(none, signal_number);
    const int fd = pipe_write.load();
    if (fd >= 0) {
        const char byte = signal_byte;
        // A full pipe already holds a byte that wakes the watcher.
        [[maybe_unused]] const ssize_t n = ::write(fd, &byte, 1);
    }
    errno = saved;
}

console_interrupt::console_interrupt(std::function<void(int)> handler) : on_signal(std::move(handler))
{
    if (::pipe2(pipe_fds, O_CLOEXEC) != 0) {
        tk_trace(3, "No pipe for the interrupt watcher: SIGINT and SIGTERM keep their default action");
        return;
    }
    // The handler never blocks on the pipe.
    ::fcntl(pipe_fds[1], F_SETFL, O_NONBLOCK);
    pipe_write.store(pipe_fds[1]);
    watcher = std::thread([this] { watch(); });

    struct sigaction action {};
    action.sa_handler = &console_interrupt::handle;
    sigemptyset(&action.sa_mask);
    for (int s : watched)
        sigaddset(&action.sa_mask, s);
    action.sa_flags = SA_RESTART;
    for (std::size_t i = 0; i < std::size(watched); ++i) {
        if (::sigaction(watched[i], nullptr, &earlier[i]) != 0 || earlier[i].sa_handler == SIG_IGN)
            continue;
        caught[i] = ::sigaction(watched[i], &action, nullptr) == 0;
    }
    installed = true;
}

console_interrupt::~console_interrupt()
{
    if (installed) {
        for (std::size_t i = 0; i < std::size(watched); ++i)
            if (caught[i])
                ::sigaction(watched[i], &earlier[i], nullptr);
    }
    if (watcher.joinable()) {
        pipe_write.store(-1);
        const char byte = quit_byte;
        while (::write(pipe_fds[1], &byte, 1) < 0 && errno == EINTR) {
        }
        watcher.join();
    }
    for (int& fd : pipe_fds) {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
}

void console_interrupt::watch()
{
    bool told = false;
    for (;;) {
        char byte = 0;
        const ssize_t n = ::read(pipe_fds[0], &byte, 1);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0 || byte == quit_byte)
            return;
        if (told)
            continue;
        told = true;
        // From now on a signal has its default action: whoever asks twice
        // does not wait for the run to wind down.
        set_default_actions();
        if (on_signal)
            on_signal(received.load(std::memory_order_acquire));
    }
}
