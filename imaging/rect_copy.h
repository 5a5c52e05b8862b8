// Rectangle copies out of an image record.
#pragma once

#include <cstdint>

namespace px::rect {

// The rule every rectangle copy keeps: the rectangle starts inside the image and ends within it.
inline bool RectInside(uint32_t width, uint32_t height, uint32_t x, uint32_t y, uint32_t rectWidth,
                       uint32_t rectHeight) noexcept
{
    return x < width && y < height && uint64_t{x} + rectWidth <= width &&
           uint64_t{y} + rectHeight <= height;
}

// Copies the rectangle at (x, y) of an image with bytesPerPixel bytes a pixel into dst, rows
// of rectWidth pixels. Inside an entry; 0 with the code recorded when the arguments are wrong.
uint32_t Copy(const uint8_t* src, uint32_t width, uint32_t height, uint8_t* dst, uint32_t x, uint32_t y,
              uint32_t rectWidth, uint32_t rectHeight, uint32_t bytesPerPixel);

}  // namespace px::rect
