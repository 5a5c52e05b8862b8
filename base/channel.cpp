// Data channels over files, caller memory and caller callbacks.
#include "base/channel.h"

#include "base/frame.h"
#include "base/live_handles.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <new>
#include <string>

namespace {

constexpr uint32_t kHeadGuard = 0x03031996;
constexpr uint32_t kTailGuard = 0x09241996;

enum class Kind : uint32_t { File = 1, Memory = 2, Callbacks = 3 };

}  // namespace

struct DataChannel {
    uint32_t headGuard = 0;
    FILE* stream = nullptr;
    Kind kind = Kind::File;
    uint8_t* buffer = nullptr;
    uint32_t capacity = 0;
    uint32_t position = 0;
    uint32_t highWater = 0;
    std::string path;  // the whole name, however long
    bool isSink = false;
    bool writeFailed = false;  // a file sink lost bytes: its close must not report success
    ChannelOpenFn open = nullptr;
    ChannelReadFn read = nullptr;
    ChannelWriteFn write = nullptr;
    ChannelSeekFn seek = nullptr;
    ChannelTellFn tell = nullptr;
    ChannelSizeFn size = nullptr;
    ChannelAtEndFn atEnd = nullptr;
    ChannelCloseFn close = nullptr;
    uintptr_t user = 0;
    uint32_t tailGuard = 0;
};

namespace px {
namespace {

bool GuardsIntact(const DataChannel& c) noexcept
{
    if (c.headGuard != kHeadGuard || c.tailGuard != kTailGuard)
        return false;
    switch (c.kind) {
    case Kind::File:
        return c.stream != nullptr;
    case Kind::Memory:
        return c.buffer != nullptr && c.capacity != 0;
    case Kind::Callbacks:
        return true;
    }
    return false;
}

// Live channels with the serial of their opening, which no later opening repeats.
LiveHandles<DataChannel, uint64_t>& Channels() noexcept
{
    return Live<DataChannel, uint64_t>();
}

std::atomic<uint64_t> g_lastSerial{0};

// Owns a channel block until it is published as a live handle.
struct PendingChannel {
    DataChannel* channel = nullptr;

    PendingChannel() noexcept
    {
        void* block = GlobalAlloc(GPTR, sizeof(DataChannel));
        if (block)
            channel = new (block) DataChannel;
    }
    ~PendingChannel()
    {
        if (!channel)
            return;
        if (channel->stream)
            std::fclose(channel->stream);
        channel->~DataChannel();
        GlobalFree(channel);
    }
    PendingChannel(const PendingChannel&) = delete;
    PendingChannel& operator=(const PendingChannel&) = delete;

    // Writes the guards and registers the handle; the block then belongs to the caller.
    DataChannel* Publish()
    {
        channel->headGuard = kHeadGuard;
        channel->tailGuard = kTailGuard;
        if (!Channels().Add(channel, ++g_lastSerial))
            return Fail(Code::OutOfMemory);
        return std::exchange(channel, nullptr);
    }
};

// Unregisters and frees a channel whose stream or callback has been closed.
void Destroy(DataChannel* channel) noexcept
{
    Channels().Remove(channel);
    channel->headGuard = 0;
    channel->tailGuard = 0;
    channel->~DataChannel();
    GlobalFree(channel);
}

DataChannel* OpenFile(const char* fileName, bool sink)
{
    if (!fileName || !*fileName)
        return Fail(Code::OpenFailed);
    PendingChannel pending;
    if (!pending.channel)
        return Fail(Code::OutOfMemory);
    DataChannel& c = *pending.channel;
    c.kind = Kind::File;
    c.path = fileName;
    c.stream = std::fopen(fileName, sink ? "wb+" : "rb");
    if (!c.stream)
        return Fail(Code::OpenFailed);
    c.isSink = sink;
    return pending.Publish();
}

DataChannel* OpenMemory(uint8_t* buffer, uint32_t size, bool sink)
{
    if (!buffer || size == 0)
        return Fail(Code::BadArgument);
    PendingChannel pending;
    if (!pending.channel)
        return Fail(Code::OutOfMemory);
    DataChannel& c = *pending.channel;
    c.kind = Kind::Memory;
    c.buffer = buffer;
    c.capacity = size;
    c.isSink = sink;
    return pending.Publish();
}

struct Callbacks {
    ChannelOpenFn open;
    ChannelReadFn read;
    ChannelWriteFn write;
    ChannelSeekFn seek;
    ChannelTellFn tell;
    ChannelSizeFn size;
    ChannelAtEndFn atEnd;
    ChannelCloseFn close;
};

DataChannel* OpenCallbacks(const Callbacks& f, uintptr_t user, bool sink)
{
    const bool transfer = sink ? f.write != nullptr : f.read != nullptr;
    if (!f.open || !transfer || !f.seek || !f.tell || !f.size || !f.atEnd || !f.close)
        return Fail(Code::BadArgument);
    PendingChannel pending;
    if (!pending.channel)
        return Fail(Code::OutOfMemory);
    DataChannel& c = *pending.channel;
    c.kind = Kind::Callbacks;
    c.open = f.open;
    c.read = f.read;
    c.write = f.write;
    c.seek = f.seek;
    c.tell = f.tell;
    c.size = f.size;
    c.atEnd = f.atEnd;
    c.close = f.close;
    c.user = user;
    c.isSink = sink;
    if (c.open(user) == 0)
        return Fail(Code::BadArgument);
    return pending.Publish();
}

// Where a memory channel's data ends: the capacity of a source, the high-water mark of a sink.
uint32_t MemoryEnd(const DataChannel& c) noexcept
{
    return c.isSink ? c.highWater : c.capacity;
}

bool MemorySeek(DataChannel& c, int32_t offset, uint32_t origin) noexcept
{
    int64_t target = 0;
    switch (origin) {
    case 0:
        target = offset;
        break;
    case 1:
        target = int64_t{c.position} + offset;
        break;
    case 2:
        if (offset > 0)
            return false;
        target = int64_t{MemoryEnd(c)} + offset;
        break;
    default:
        return false;
    }
    // Nothing lies before the buffer or at or past its capacity, but the end itself may be
    // reached from the end, as reading everything reaches it.
    const int64_t limit = origin == 2 ? int64_t{MemoryEnd(c)} + 1 : int64_t{c.capacity};
    if (target < 0 || target >= limit)
        return false;
    c.position = static_cast<uint32_t>(target);
    if (c.isSink && origin != 2)
        c.highWater = std::max(c.highWater, c.position);
    return true;
}

// Flushes and closes a file sink's stream; true only when every byte reached the file
// system. fsync matters because callers rename the file into place afterwards.
bool CloseFileSink(DataChannel& c) noexcept
{
    bool complete = !c.writeFailed && std::ferror(c.stream) == 0 && std::fflush(c.stream) == 0;
    // Devices and pipes cannot be synced; that is not a lost write.
    if (complete && fsync(fileno(c.stream)) != 0 && errno != EINVAL && errno != EROFS)
        complete = false;
    if (std::fclose(c.stream) != 0)
        complete = false;
    c.stream = nullptr;
    return complete;
}

// Runs a channel operation on a handle: code 5 for null, 38 for anything not live.
template <class Op>
auto OnChannel(DataChannel* channel, Op&& op) noexcept
{
    return RunEntry(FrameKind::KeepOnSuccess, [&]() -> decltype(op(*channel)) {
        if (!channel)
            return Fail(Code::BadArgument);
        if (!IsLiveChannel(channel))
            return Fail(Code::BadChannel);
        return op(*channel);
    });
}

}  // namespace

bool IsLiveChannel(const DataChannel* channel) noexcept
{
    if (!channel)
        return false;
    return Channels().Contains(channel, [](const DataChannel* live) {
        return GlobalSize(const_cast<DataChannel*>(live)) >= sizeof(DataChannel) && GuardsIntact(*live);
    });
}

bool AcceptChannel(DataChannel* channel) noexcept
{
    if (!channel) {
        Fail(Code::BadArgument);
        return false;
    }
    if (!IsLiveChannel(channel)) {
        Fail(Code::BadChannel);
        return false;
    }
    return true;
}

bool AcceptReader(DataChannel* channel, uint32_t* width, uint32_t* height) noexcept
{
    if (!width || !height) {
        Fail(Code::BadArgument);
        return false;
    }
    if (!AcceptChannel(channel))
        return false;
    *width = 0;
    *height = 0;
    return true;
}

const char* FileChannelPath(const DataChannel* channel) noexcept
{
    return channel->kind == Kind::File ? channel->path.c_str() : nullptr;
}

void Channel::Hold() noexcept
{
    m_serial = Channels().Find(m_channel).value_or(0);
}

bool Channel::Held() const noexcept
{
    return m_serial != 0 && Channels().Find(m_channel) == m_serial && IsLiveChannel(m_channel);
}

uint32_t Channel::Read(void* buffer, uint32_t count) noexcept
{
    DataChannel& c = *m_channel;
    if (!buffer || count == 0)
        return 0;
    switch (c.kind) {
    case Kind::File:
        return static_cast<uint32_t>(std::fread(buffer, 1, count, c.stream));
    case Kind::Memory: {
        const uint32_t end = MemoryEnd(c);
        if (c.position >= end)
            return 0;
        const uint32_t n = std::min(count, end - c.position);
        std::copy_n(c.buffer + c.position, n, static_cast<uint8_t*>(buffer));
        c.position += n;
        return n;
    }
    case Kind::Callbacks:
        return c.read ? c.read(buffer, count, c.user) : 0;
    }
    return 0;
}

bool Channel::Write(const void* buffer, uint32_t count) noexcept
{
    DataChannel& c = *m_channel;
    if (!c.isSink || (!buffer && count != 0))
        return false;
    switch (c.kind) {
    case Kind::File:
        if (std::fwrite(buffer, 1, count, c.stream) == count)
            return true;
        c.writeFailed = true;
        return false;
    case Kind::Memory:
        // A write never reaches the buffer's last byte.
        if (uint64_t{c.position} + count >= c.capacity)
            return false;
        std::copy_n(static_cast<const uint8_t*>(buffer), count, c.buffer + c.position);
        c.position += count;
        c.highWater = std::max(c.highWater, c.position);
        return true;
    case Kind::Callbacks:
        return c.write && c.write(buffer, count, c.user) != 0;
    }
    return false;
}

bool Channel::Seek(int32_t offset, uint32_t origin) noexcept
{
    DataChannel& c = *m_channel;
    switch (c.kind) {
    case Kind::File:
        return origin <= 2 && std::fseek(c.stream, offset, static_cast<int>(origin)) == 0;
    case Kind::Memory:
        return MemorySeek(c, offset, origin);
    case Kind::Callbacks:
        return c.seek(offset, origin, c.user) != 0;
    }
    return false;
}

uint32_t Channel::Tell() noexcept
{
    DataChannel& c = *m_channel;
    switch (c.kind) {
    case Kind::File: {
        const long position = std::ftell(c.stream);
        return position < 0 ? 0 : static_cast<uint32_t>(position);
    }
    case Kind::Memory:
        return c.position;
    case Kind::Callbacks:
        return c.tell(c.user);
    }
    return 0;
}

uint32_t Channel::Size() noexcept
{
    DataChannel& c = *m_channel;
    switch (c.kind) {
    case Kind::File: {
        if (c.isSink && std::fflush(c.stream) != 0)
            c.writeFailed = true;
        struct stat info {};
        if (fstat(fileno(c.stream), &info) != 0)
            return 0;
        return static_cast<uint32_t>(info.st_size);
    }
    case Kind::Memory:
        return MemoryEnd(c);
    case Kind::Callbacks:
        return c.size(c.user);
    }
    return 0;
}

bool Channel::AtEnd() noexcept
{
    DataChannel& c = *m_channel;
    switch (c.kind) {
    case Kind::File:
        return std::feof(c.stream) != 0;
    case Kind::Memory:
        return uint64_t{c.position} + 1 >= c.capacity;
    case Kind::Callbacks:
        return c.atEnd(c.user) != 0;
    }
    return false;
}

}  // namespace px

using px::Callbacks;
using px::Channel;
using px::OnChannel;

extern "C" DataChannel* OpenFileSource(const char* fileName)
{
    return px::RunEntry(px::FrameKind::KeepOnSuccess, [&] { return px::OpenFile(fileName, false); });
}

extern "C" DataChannel* OpenFileSink(const char* fileName)
{
    return px::RunEntry(px::FrameKind::KeepOnSuccess, [&] { return px::OpenFile(fileName, true); });
}

extern "C" DataChannel* OpenMemorySource(const void* buffer, uint32_t size)
{
    // A source never writes through its buffer.
    auto* bytes = const_cast<uint8_t*>(static_cast<const uint8_t*>(buffer));
    return px::RunEntry(px::FrameKind::KeepOnSuccess, [&] { return px::OpenMemory(bytes, size, false); });
}

extern "C" DataChannel* OpenMemorySink(void* buffer, uint32_t capacity)
{
    auto* bytes = static_cast<uint8_t*>(buffer);
    return px::RunEntry(px::FrameKind::KeepOnSuccess, [&] { return px::OpenMemory(bytes, capacity, true); });
}

extern "C" DataChannel* OpenCallbackSource(ChannelOpenFn open, ChannelReadFn read, ChannelSeekFn seek,
                                           ChannelTellFn tell, ChannelSizeFn size, ChannelAtEndFn atEnd,
                                           ChannelCloseFn close, uintptr_t user)
{
    const Callbacks f{open, read, nullptr, seek, tell, size, atEnd, close};
    return px::RunEntry(px::FrameKind::KeepOnSuccess, [&] { return px::OpenCallbacks(f, user, false); });
}

extern "C" DataChannel* OpenCallbackSink(ChannelOpenFn open, ChannelWriteFn write, ChannelSeekFn seek,
                                         ChannelTellFn tell, ChannelSizeFn size, ChannelAtEndFn atEnd,
                                         ChannelCloseFn close, uintptr_t user)
{
    const Callbacks f{open, nullptr, write, seek, tell, size, atEnd, close};
    return px::RunEntry(px::FrameKind::KeepOnSuccess, [&] { return px::OpenCallbacks(f, user, true); });
}

extern "C" uint32_t ChannelRead(DataChannel* channel, void* buffer, uint32_t count)
{
    return OnChannel(channel, [&](DataChannel& c) { return Channel(&c).Read(buffer, count); });
}

extern "C" uint32_t ChannelWrite(DataChannel* channel, const void* buffer, uint32_t count)
{
    return OnChannel(channel, [&](DataChannel& c) -> uint32_t { return Channel(&c).Write(buffer, count); });
}

extern "C" uint32_t ChannelSeek(DataChannel* channel, int32_t offset, uint32_t origin)
{
    return OnChannel(channel, [&](DataChannel& c) -> uint32_t { return Channel(&c).Seek(offset, origin); });
}

extern "C" uint32_t ChannelTell(DataChannel* channel)
{
    return OnChannel(channel, [](DataChannel& c) { return Channel(&c).Tell(); });
}

extern "C" uint32_t ChannelSize(DataChannel* channel)
{
    return OnChannel(channel, [](DataChannel& c) { return Channel(&c).Size(); });
}

extern "C" uint32_t ChannelAtEnd(DataChannel* channel)
{
    return OnChannel(channel, [](DataChannel& c) -> uint32_t { return Channel(&c).AtEnd(); });
}

extern "C" uint32_t CloseSource(DataChannel* channel)
{
    return OnChannel(channel, [](DataChannel& c) {
        const uint32_t position = Channel(&c).Tell();
        if (c.stream)
            std::fclose(c.stream);
        else if (c.kind == Kind::Callbacks)
            c.close(c.user);
        px::Destroy(&c);
        return position;
    });
}

extern "C" uint32_t CloseSink(DataChannel* channel)
{
    return OnChannel(channel, [](DataChannel& c) {
        const uint32_t size = Channel(&c).Size();
        bool flushed = true;
        if (c.stream)
            flushed = px::CloseFileSink(c);
        else if (c.kind == Kind::Callbacks)
            c.close(c.user);
        px::Destroy(&c);
        // A file whose last bytes could not be written is not a finished file.
        if (!flushed)
            return static_cast<uint32_t>(px::Fail(px::Code::WriteError));
        return size;
    });
}

extern "C" uint32_t ValidateChannel(DataChannel* channel)
{
    return px::IsLiveChannel(channel) ? 1 : 0;
}
