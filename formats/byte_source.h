// Buffered bytes from a channel for the run-length decoders, which read a byte at a time.
#pragma once

#include "base/channel.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace px {

// Never hands out more than the channel delivered. The channel's position runs ahead of
// what was consumed, so a decoder owns the channel until it is done. Once a read comes back
// empty the data has ended: the channel is not asked again, so a decoder that goes on
// wanting bytes costs nothing more.
class ByteSource {
public:
    explicit ByteSource(Channel& channel) noexcept : m_channel(channel) {}
    ByteSource(const ByteSource&) = delete;
    ByteSource& operator=(const ByteSource&) = delete;

    bool Next(uint8_t& byte) noexcept
    {
        if (m_next == m_end && !Refill())
            return false;
        byte = m_buffer[m_next++];
        return true;
    }

    // True only when all `count` bytes were there.
    bool Read(uint8_t* out, size_t count) noexcept
    {
        while (count > 0) {
            if (m_next == m_end && !Refill())
                return false;
            const size_t n = std::min(count, m_end - m_next);
            std::memcpy(out, m_buffer + m_next, n);
            m_next += n;
            out += n;
            count -= n;
        }
        return true;
    }

    // A byte was wanted after the data ended.
    bool Exhausted() const noexcept { return m_exhausted; }

private:
    bool Refill() noexcept
    {
        m_next = 0;
        m_end = m_exhausted ? 0 : m_channel.Read(m_buffer, sizeof m_buffer);
        m_exhausted = m_end == 0;
        return m_end > 0;
    }

    Channel& m_channel;
    uint8_t m_buffer[16384];
    size_t m_next = 0;
    size_t m_end = 0;
    bool m_exhausted = false;
};

}  // namespace px
