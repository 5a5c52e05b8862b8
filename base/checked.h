// Checked size arithmetic: one set of helpers and the one size limit of returned buffers.
#pragma once

#include <cstdint>
#include <limits>

namespace px {

// Requests of this many bytes or more are refused before the allocator is called.
inline constexpr uint64_t kMaxGlobalBytes = 0x7FFDEFFF;

// Saturating 64-bit product: an overflow gives UINT64_MAX, which every gate refuses.
constexpr uint64_t CheckedMul(uint64_t a, uint64_t b) noexcept
{
    uint64_t product = 0;
    if (__builtin_mul_overflow(a, b, &product))
        return std::numeric_limits<uint64_t>::max();
    return product;
}

// Saturating 64-bit sum, for the same gates.
constexpr uint64_t CheckedAdd(uint64_t a, uint64_t b) noexcept
{
    uint64_t sum = 0;
    if (__builtin_add_overflow(a, b, &sum))
        return std::numeric_limits<uint64_t>::max();
    return sum;
}

}  // namespace px
