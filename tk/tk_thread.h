// Worker threads that run a functor's job, stopped cooperatively: a stop is a
// request that the job honours at its next record or table boundary, so what
// it holds (files, a server transaction) is always released properly.
#pragma once

#include <atomic>
#include <mutex>
#include <thread>
#include <utility>

class tk_thread_functor {
public:
    tk_thread_functor() = default;
    tk_thread_functor(const tk_thread_functor&) = delete;
    tk_thread_functor& operator=(const tk_thread_functor&) = delete;
    virtual ~tk_thread_functor() = default;

    // The body the thread runs: waits until ready, then runs, unless a stop
    // is requested first.
    virtual void operator()();
    virtual bool is_ready() { return false; }
    virtual void wait();
    virtual void run() {}

    void request_stop()
    {
        stop_flag.store(true, std::memory_order_release);
        on_stop_requested();
    }
    bool stop_requested() const { return stop_flag.load(std::memory_order_acquire); }
    void clear_stop() { stop_flag.store(false, std::memory_order_release); }

protected:
    // Called on the requesting thread; a job blocked in a call it cannot poll
    // from (a server statement) cancels that call here.
    virtual void on_stop_requested() {}

private:
    std::atomic<bool> stop_flag{false};
};

class tk_thread {
public:
    explicit tk_thread(bool owns_functor = true);
    tk_thread(const tk_thread&) = delete;
    tk_thread& operator=(const tk_thread&) = delete;
    virtual ~tk_thread();

    void start();
    // Requests the stop, waits for the worker to end, and releases it.
    void kill();
    void release();
    bool is_running() const;
    tk_thread_functor* get_current_functor() const { return functor; }

protected:
    virtual tk_thread_functor* get_functor();

private:
    static void routine(tk_thread* self, tk_thread_functor* f);
    void join_and_release() noexcept;

    std::thread thread;
    bool owns_functor;
    tk_thread_functor* functor = nullptr;
    std::atomic<bool> done{false};
};

// A value read and written from several threads, such as the name of the
// table being converted.
template <typename T>
class tk_guarded {
public:
    tk_guarded() = default;
    explicit tk_guarded(T v) : value(std::move(v)) {}
    void set(T v)
    {
        std::lock_guard<std::mutex> lock(mutex);
        value = std::move(v);
    }
    T get() const
    {
        std::lock_guard<std::mutex> lock(mutex);
        return value;
    }

private:
    mutable std::mutex mutex;
    T value{};
};
