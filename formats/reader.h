// What every reader offers the registry, and the glue its entries share.
#pragma once

#include "base/channel.h"
#include "base/frame.h"
#include "base/live_handles.h"
#include "base/view.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <utility>

namespace px::reader {

// A reader's entries. Each format's header declares its own by these types
// (`reader::Info Info;`), so the promises are written once, in formats/registry.h.
using Probe = bool(const uint8_t* header, size_t size) noexcept;
using Info = bool(Channel& channel, uint32_t& width, uint32_t& height);
using Load = Picture(Channel& channel);
using ReducedLoad = Picture(Channel& channel, uint32_t aimWidth, uint32_t aimHeight);
// A writer's entry, beside them in the format's row.
using Save = bool(Channel& sink, const uint8_t* pixels, uint32_t width, uint32_t height, uint32_t bits,
                  const uint8_t* palette);

// An Info over a parse that fills a header with its width and height: false, and zeros, when
// the parse fails (it records the code).
template <class Header, class Parse>
bool SizeFromHeader(uint32_t& width, uint32_t& height, Parse&& parse)
{
    width = height = 0;
    Header header;
    if (!parse(header))
        return false;
    width = static_cast<uint32_t>(header.width);
    height = static_cast<uint32_t>(header.height);
    return true;
}

// A whole RGB24 load through a read that gives the pixels and sets width and height.
template <class Read>
Picture WholeRGB24(Read&& read)
{
    uint32_t width = 0, height = 0;
    GlobalBuffer pixels = read(width, height);
    return Picture::RGB24(std::move(pixels), width, height);
}

// A C entry's whole read over the handle's channel: the handle and the size's places checked,
// then the read's buffer handed to the caller.
template <class Read>
uint8_t* HandOver(DataChannel* handle, uint32_t* width, uint32_t* height, Read&& read)
{
    if (!AcceptReader(handle, width, height))
        return nullptr;
    Channel channel(handle);
    return read(channel, *width, *height).Release();
}

// A C entry's whole read, RGB24 or Index8 with a palette of 256 entries: false with the code
// when the handle or the layout asked for is not usable.
inline bool AcceptWholeRead(DataChannel* handle, uint32_t* width, uint32_t* height, uint32_t bits,
                            const uint8_t* palette)
{
    if (!AcceptReader(handle, width, height))
        return false;
    if ((bits != 24 && bits != 8) || (bits == 8 && !palette))
        return Fail(Code::BadArgument);
    return true;
}

// The row readers of one kind that are handed out: a reader holds its channel while it lives,
// and every call checks its handle first, so a stale or foreign one is refused, never used.
template <class RowReader>
struct RowReaders {
    // The reader handed out, or null with code OutOfMemory when it cannot be kept.
    static RowReader* Keep(std::unique_ptr<RowReader> reader)
    {
        if (!Live<RowReader>().Add(reader.get()))
            return Fail(Code::OutOfMemory);
        reader->channel.Hold();
        return reader.release();
    }

    // Whether a row may be read: false with the code when the handle, the row or the channel
    // is not usable.
    static bool Usable(RowReader* reader, const void* row)
    {
        if (!reader || !row || !Live<RowReader>().Contains(reader))
            return Fail(Code::BadArgument);
        if (!reader->channel.Held())
            return Fail(Code::BadChannel);
        return true;
    }

    static uint32_t End(RowReader* reader)
    {
        if (!reader || !Live<RowReader>().Remove(reader))
            return Fail(Code::BadArgument);
        delete reader;
        return 1;
    }
};

}  // namespace px::reader
