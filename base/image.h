// The image record's sizes and the one allocator of every buffer handed to a caller.
#pragma once

#include "base/checked.h"
#include "pxlib.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <utility>

namespace px {

// Heap scratch of `count` elements for use inside an operation; null when the size overflows
// or the heap refuses (the caller decides what that costs).
template <class T>
std::unique_ptr<T[]> Scratch(uint64_t count) noexcept
{
    const uint64_t bytes = CheckedMul(count, sizeof(T));
    if (bytes > static_cast<uint64_t>(PTRDIFF_MAX))
        return nullptr;
    return std::unique_ptr<T[]>(new (std::nothrow) T[static_cast<size_t>(count)]);
}

// Bytes of one row in the library's layouts (bits 1, 8, 24, 32; others as packed bits).
uint64_t RowBytes(uint32_t width, uint32_t bitsPerPixel) noexcept;

// Bytes of a whole image in the library's layouts.
uint64_t ImageBytes(uint32_t width, uint32_t height, uint32_t bitsPerPixel) noexcept;

// A zero-filled global memory block owned until Release() hands it to the caller.
class GlobalBuffer {
public:
    GlobalBuffer() noexcept = default;
    explicit GlobalBuffer(uint8_t* data, size_t size) noexcept : m_data(data), m_size(size) {}
    GlobalBuffer(GlobalBuffer&& other) noexcept
        : m_data(std::exchange(other.m_data, nullptr)), m_size(std::exchange(other.m_size, 0)) {}
    GlobalBuffer& operator=(GlobalBuffer&& other) noexcept
    {
        if (this != &other) {
            reset();
            m_data = std::exchange(other.m_data, nullptr);
            m_size = std::exchange(other.m_size, 0);
        }
        return *this;
    }
    GlobalBuffer(const GlobalBuffer&) = delete;
    GlobalBuffer& operator=(const GlobalBuffer&) = delete;
    ~GlobalBuffer() { reset(); }

    uint8_t* get() const noexcept { return m_data; }
    size_t size() const noexcept { return m_size; }
    explicit operator bool() const noexcept { return m_data != nullptr; }
    uint8_t* Release() noexcept
    {
        m_size = 0;
        return std::exchange(m_data, nullptr);
    }
    void reset() noexcept
    {
        if (m_data)
            GlobalFree(m_data);
        m_data = nullptr;
        m_size = 0;
    }

private:
    uint8_t* m_data = nullptr;
    size_t m_size = 0;
};

// Zero-filled global memory of `bytes`; an empty buffer (and code 1 in the running
// operation's context) when the request reaches the gate or the allocation fails.
// Must be called inside an entry.
GlobalBuffer AllocateGlobal(uint64_t bytes) noexcept;

// The same without clearing it first, for a caller that writes every byte or clears what it
// did not write before handing the block out.
GlobalBuffer AllocateGlobalForFill(uint64_t bytes) noexcept;

// The same for an image of the given layout.
inline GlobalBuffer AllocateImage(uint32_t width, uint32_t height, uint32_t bitsPerPixel) noexcept
{
    return AllocateGlobal(ImageBytes(width, height, bitsPerPixel));
}

}  // namespace px
