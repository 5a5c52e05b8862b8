// The row readers handed out and not yet ended, so a stale or foreign handle is refused.
#pragma once

#include <mutex>
#include <new>
#include <unordered_set>

namespace px {

class LiveHandles {
public:
    bool Add(const void* handle) noexcept  // false when the set cannot grow
    {
        std::lock_guard guard(m_lock);
        try {
            m_handles.insert(handle);
            return true;
        } catch (const std::bad_alloc&) {
            return false;
        }
    }
    bool Remove(const void* handle) noexcept  // false when the handle is not live
    {
        std::lock_guard guard(m_lock);
        return m_handles.erase(handle) != 0;
    }
    bool Contains(const void* handle) noexcept
    {
        std::lock_guard guard(m_lock);
        return m_handles.count(handle) != 0;
    }

private:
    std::mutex m_lock;
    std::unordered_set<const void*> m_handles;
};

}  // namespace px
