// The live-handle registry: handles given out and not yet ended, so a stale or foreign handle
// is refused, never used. A kind of handle may keep a small value with each (its size, say).
#pragma once

#include <mutex>
#include <optional>
#include <unordered_map>

namespace px {

struct NoHandleInfo {};

template <class T, class Info = NoHandleInfo>
class LiveHandles {
public:
    // False when the registry cannot grow, or the handle is live already.
    bool Add(const T* handle, Info info = {}) noexcept
    {
        std::lock_guard guard(m_lock);
        try {
            return m_handles.emplace(handle, info).second;
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

    // Ends the handle and gives back its value; nothing when the handle is not live.
    std::optional<Info> Take(const T* handle) noexcept
    {
        std::lock_guard guard(m_lock);
        auto it = m_handles.find(handle);
        if (it == m_handles.end())
            return std::nullopt;
        const Info info = it->second;
        m_handles.erase(it);
        return info;
    }

    // The handle's value; nothing when the handle is not live.
    std::optional<Info> Find(const T* handle) noexcept
    {
        std::lock_guard guard(m_lock);
        auto it = m_handles.find(handle);
        if (it == m_handles.end())
            return std::nullopt;
        return it->second;
    }

    // Runs change(info) on a live handle's value under the lock; false when it is not live.
    template <class Change>
    bool Update(const T* handle, Change&& change) noexcept
    {
        std::lock_guard guard(m_lock);
        auto it = m_handles.find(handle);
        if (it == m_handles.end())
            return false;
        change(it->second);
        return true;
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
    std::unordered_map<const T*, Info> m_handles;
};

// The registry of one kind of handle. Never destroyed: a caller may end handles from its own
// static destructors.
template <class T, class Info = NoHandleInfo>
LiveHandles<T, Info>& Live() noexcept
{
    static auto* registry = new LiveHandles<T, Info>;
    return *registry;
}

}  // namespace px
