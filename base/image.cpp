// Image sizes and the global-memory allocator of returned buffers.
#include "base/image.h"

#include "base/frame.h"

#include <limits>

namespace px {

uint64_t RowBytes(uint32_t width, uint32_t bitsPerPixel) noexcept
{
    const uint64_t bits = CheckedMul(width, bitsPerPixel);
    return bits == std::numeric_limits<uint64_t>::max() ? bits : (bits + 7) / 8;
}

uint64_t ImageBytes(uint32_t width, uint32_t height, uint32_t bitsPerPixel) noexcept
{
    return CheckedMul(RowBytes(width, bitsPerPixel), height);
}

namespace {

GlobalBuffer Allocate(uint64_t bytes, uint32_t flags) noexcept
{
    if (bytes >= kMaxGlobalBytes) {
        Fail(Code::OutOfMemory);
        return {};
    }
    auto* data = static_cast<uint8_t*>(GlobalAlloc(flags, static_cast<size_t>(bytes)));
    if (!data) {
        Fail(Code::OutOfMemory);
        return {};
    }
    return GlobalBuffer(data, static_cast<size_t>(bytes));
}

}  // namespace

GlobalBuffer AllocateGlobal(uint64_t bytes) noexcept
{
    return Allocate(bytes, GPTR);
}

GlobalBuffer AllocateGlobalForFill(uint64_t bytes) noexcept
{
    return Allocate(bytes, GMEM_FIXED);
}

}  // namespace px
