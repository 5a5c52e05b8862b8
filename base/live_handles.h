// The live-handle registry: handles given out and not yet ended, so a stale or foreign handle
// is refused, never used.
#pragma once

#include <mutex>
#include <unordered_set>

namespace px {

template <class T>
class LiveHandles {
public:
    // False when the registry cannot grow.
    bool Add(const T* handle) noexcept
    {
        std::lock_guard guard(m_lock);
        try {
            return m_handles.insert(handle).second;
        } catch (...) {
            return false;
        }
    }

    // False when the handle is not live.
    bool Remove(const T* handle) noexcept
    {
        std::lock_guard guard(m_lock);
        return m_handles.erase(handle) != 0;
    }

    bool Contains(const T* handle) noexcept
    {
        return Contains(handle, [](const T*) { return true; });
    }

    // Live and accepted by `check`, which runs under the lock so the handle cannot end meanwhile.
    template <class Check>
    bool Contains(const T* handle, Check&& check) noexcept
    {
        std::lock_guard guard(m_lock);
        return m_handles.count(handle) != 0 && check(handle);
    }

private:
    std::mutex m_lock;
    std::unordered_set<const T*> m_handles;
};

// The registry of one kind of handle. Never destroyed: a caller may end handles from its own
// static destructors.
template <class T>
LiveHandles<T>& Live() noexcept
{
    static LiveHandles<T>* registry = new LiveHandles<T>;
    return *registry;
}

}  // namespace px
