// CopyRect and CopyRectMono1: a rectangle of an image into a caller's unpadded buffer.
#include "imaging/rect_copy.h"

#include "base/frame.h"
#include "base/image.h"

#include <cstring>

namespace px::rect {
namespace {

bool Acceptable(const uint8_t* src, uint32_t width, uint32_t height, const uint8_t* dst, uint32_t x,
                uint32_t y, uint32_t rectWidth, uint32_t rectHeight) noexcept
{
    return src && dst && src != dst && RectInside(width, height, x, y, rectWidth, rectHeight);
}

}  // namespace

uint32_t Copy(const uint8_t* src, uint32_t width, uint32_t height, uint8_t* dst, uint32_t x, uint32_t y,
              uint32_t rectWidth, uint32_t rectHeight, uint32_t bytesPerPixel)
{
    if (!Acceptable(src, width, height, dst, x, y, rectWidth, rectHeight) || bytesPerPixel == 0)
        return Fail(Code::BadArgument);
    const uint64_t srcStride = CheckedMul(width, bytesPerPixel);
    const uint64_t rowBytes = CheckedMul(rectWidth, bytesPerPixel);
    if (srcStride == UINT64_MAX || CheckedMul(srcStride, height) == UINT64_MAX)
        return Fail(Code::BadArgument);
    const uint64_t offset = uint64_t{x} * bytesPerPixel;
    // Every source row is walked so that progress counts the whole image.
    for (uint32_t row = 0; row < height; ++row) {
        if (row >= y && row - y < rectHeight)
            std::memcpy(dst + (row - y) * rowBytes, src + row * srcStride + offset, rowBytes);
        if (!Progress(row, height))
            return 0;
    }
    return 1;
}

uint32_t CopyMono1(const uint8_t* src, uint32_t width, uint32_t height, uint8_t* dst, uint32_t x,
                   uint32_t y, uint32_t rectWidth, uint32_t rectHeight)
{
    if (!Acceptable(src, width, height, dst, x, y, rectWidth, rectHeight))
        return Fail(Code::BadArgument);
    const uint64_t srcStride = RowBytes(width, 1);
    const uint64_t dstStride = RowBytes(rectWidth, 1);
    for (uint32_t row = 0; row < height; ++row) {
        if (row >= y && row - y < rectHeight) {
            const uint8_t* from = src + row * srcStride;
            uint8_t* to = dst + (row - y) * dstStride;
            std::memset(to, 0, dstStride);  // bits past the rectangle stay clear
            for (uint32_t i = 0; i < rectWidth; ++i) {
                const uint64_t bit = uint64_t{x} + i;
                if (from[bit >> 3] & (0x80u >> (bit & 7)))
                    to[i >> 3] |= static_cast<uint8_t>(0x80u >> (i & 7));
            }
        }
        if (!Progress(row, height))
            return 0;
    }
    return 1;
}

}  // namespace px::rect

extern "C" uint32_t CopyRect(const uint8_t* src, uint32_t width, uint32_t height, uint8_t* dst, uint32_t x,
                             uint32_t y, uint32_t rectWidth, uint32_t rectHeight, uint32_t bytesPerPixel)
{
    return px::Entry([&] {
        return px::rect::Copy(src, width, height, dst, x, y, rectWidth, rectHeight, bytesPerPixel);
    });
}

extern "C" uint32_t CopyRectMono1(const uint8_t* src, uint32_t width, uint32_t height, uint8_t* dst,
                                  uint32_t x, uint32_t y, uint32_t rectWidth, uint32_t rectHeight)
{
    return px::Entry([&] { return px::rect::CopyMono1(src, width, height, dst, x, y, rectWidth, rectHeight); });
}
