// Data channels: the handle every reader and writer does its input and output through.
#pragma once

#include "pxlib.h"

#include <cstdint>

namespace px {

// True when the handle is a channel the library issued and has not closed. Never
// dereferences anything else.
bool IsLiveChannel(const DataChannel* channel) noexcept;

// For reader and writer entries: records 5 for a null handle and 38 for one that is not a
// live channel; true when the handle may be used.
bool AcceptChannel(DataChannel* channel) noexcept;

// For reader entries with size outputs: records 5 when either is null, else accepts the
// handle as AcceptChannel does and, once accepted, starts both sizes at 0.
bool AcceptReader(DataChannel* channel, uint32_t* width, uint32_t* height) noexcept;

// The name a file channel was opened with; null for the other kinds. On an accepted handle.
const char* FileChannelPath(const DataChannel* channel) noexcept;

// The operations readers and writers use, on a handle already accepted. Owns nothing.
class Channel {
public:
    explicit Channel(DataChannel* channel) noexcept : m_channel(channel) {}

    uint32_t Read(void* buffer, uint32_t count) noexcept;
    bool Write(const void* buffer, uint32_t count) noexcept;
    bool Seek(int32_t offset, uint32_t origin) noexcept;
    uint32_t Tell() noexcept;
    uint32_t Size() noexcept;
    bool AtEnd() noexcept;

    // True only when exactly count bytes were delivered.
    bool ReadExact(void* buffer, uint32_t count) noexcept { return Read(buffer, count) == count; }
    bool Rewind() noexcept { return Seek(0, 0); }

    DataChannel* handle() const noexcept { return m_channel; }

    // For a handle that keeps its channel from call to call: remembers which opening of the
    // channel it holds, so that Held turns false once that channel is closed, also when a new
    // channel has been given its address.
    void Hold() noexcept;
    bool Held() const noexcept;

private:
    DataChannel* m_channel;
    uint64_t m_serial = 0;  // of the opening held; 0 when none is
};

}  // namespace px
