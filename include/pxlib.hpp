// Small owners over pxlib.h for C++ callers: global blocks, channels and decoded pictures.
#pragma once

#include "pxlib.h"

#include <cstdint>
#include <memory>
#include <utility>

namespace pxlib {

// Frees a global block the library handed out.
struct GlobalFreer {
    void operator()(void* block) const noexcept { GlobalFree(block); }
};

template <class T>
using GlobalPtr = std::unique_ptr<T, GlobalFreer>;

// An open source or sink, closed when the owner goes. Close() gives the close call's result
// (a sink's size, or 0 when its last bytes could not be written).
class Channel {
public:
    Channel() noexcept = default;
    static Channel Source(DataChannel* channel) noexcept { return Channel(channel, false); }
    static Channel Sink(DataChannel* channel) noexcept { return Channel(channel, true); }
    Channel(Channel&& other) noexcept
        : m_channel(std::exchange(other.m_channel, nullptr)), m_sink(other.m_sink) {}
    Channel& operator=(Channel&& other) noexcept
    {
        if (this != &other) {
            Close();
            m_channel = std::exchange(other.m_channel, nullptr);
            m_sink = other.m_sink;
        }
        return *this;
    }
    Channel(const Channel&) = delete;
    Channel& operator=(const Channel&) = delete;
    ~Channel() { Close(); }

    DataChannel* get() const noexcept { return m_channel; }
    explicit operator bool() const noexcept { return m_channel != nullptr; }
    uint32_t Close() noexcept
    {
        DataChannel* channel = std::exchange(m_channel, nullptr);
        if (!channel)
            return 0;
        return m_sink ? CloseSink(channel) : CloseSource(channel);
    }

private:
    Channel(DataChannel* channel, bool sink) noexcept : m_channel(channel), m_sink(sink) {}

    DataChannel* m_channel = nullptr;
    bool m_sink = false;
};

// A decoded picture: its pixels (RGB24 unless said otherwise) and size.
struct Picture {
    GlobalPtr<uint8_t> pixels;
    uint32_t width = 0;
    uint32_t height = 0;

    explicit operator bool() const noexcept { return pixels != nullptr; }
};

}  // namespace pxlib
