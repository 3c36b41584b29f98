// One live instance per class, reachable from anywhere without owning it.
#pragma once

#include "tk_exception.h"

#include <atomic>

template <typename T>
class tk_singleton {
public:
    tk_singleton(const tk_singleton&) = delete;
    tk_singleton& operator=(const tk_singleton&) = delete;

    static T* get_instance()
    {
        T* p = try_instance();
        if (!p)
            throw tk_mail_assertion("tk_singl", 59);
        return p;
    }

    static T* instance()
    {
        T* p = try_instance();
        if (!p)
            throw tk_mail_assertion("tk_singl", 66);
        return p;
    }

    // Null when none is registered; for callers that must not raise, such as
    // the trace functions (an internal error traces, which would recurse).
    static T* try_instance()
    {
        tk_singleton* p = slot().load(std::memory_order_acquire);
        return p ? static_cast<T*>(p) : nullptr;
    }

protected:
    tk_singleton()
    {
        tk_singleton* expected = nullptr;
        if (!slot().compare_exchange_strong(expected, this, std::memory_order_acq_rel))
            throw tk_mail_assertion("tk_singl", 35);
    }

    virtual ~tk_singleton()
    {
        tk_singleton* expected = this;
        if (!slot().compare_exchange_strong(expected, nullptr, std::memory_order_acq_rel))
            tk_internal_error("tk_singl", 46);
    }

private:
    static std::atomic<tk_singleton*>& slot()
    {
        static std::atomic<tk_singleton*> p{nullptr};
        return p;
    }
};
