// Rectangle copies out of an image record.
#pragma once

#include "base/view.h"

#include <cstdint>

namespace px::rect {

// The rule every rectangle copy keeps: the rectangle starts inside the image and ends within it.
inline bool RectInside(uint32_t width, uint32_t height, uint32_t x, uint32_t y, uint32_t rectWidth,
                       uint32_t rectHeight) noexcept
{
    return x < width && y < height && uint64_t{x} + rectWidth <= width &&
           uint64_t{y} + rectHeight <= height;
}

// Copies the rectangle of dst's size at (x, y) of src into dst; both have the same bytes a
// pixel. Inside an entry; 0 with the code recorded when the arguments are wrong.
uint32_t Copy(const ConstView& src, const View& dst, uint32_t x, uint32_t y);

// The same for Mono1 pixels; bits past the rectangle in dst's rows come out clear.
uint32_t CopyMono1(const ConstView& src, const View& dst, uint32_t x, uint32_t y);

}  // namespace px::rect
