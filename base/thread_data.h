// One value per thread for each module that keeps per-thread settings, made on the thread's
// first use and kept until the program ends (not when the thread ends).
#pragma once

#include "platform/thread_slot.h"

#include <new>

namespace px {

// The calling thread's T, value-initialised on first use; null when it cannot be made or the
// program has begun to end.
template <class T>
T* PerThread() noexcept
{
    thread_local T* t_value = nullptr;
    if (platform::Ending())
        return nullptr;
    if (t_value)
        return t_value;
    T* made = new (std::nothrow) T{};
    if (!made)
        return nullptr;
    if (!platform::KeepUntilExit(made, [](void* value) { delete static_cast<T*>(value); })) {
        delete made;
        return nullptr;
    }
    t_value = made;
    return made;
}

// The calling thread's T for code that may throw: std::bad_alloc when it cannot be made.
template <class T>
T& ThreadValue()
{
    T* value = PerThread<T>();
    if (!value)
        throw std::bad_alloc();
    return *value;
}

}  // namespace px
