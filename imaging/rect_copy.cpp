// CopyRect and CopyRectMono1: a rectangle of an image into a caller's unpadded buffer.
#include "imaging/rect_copy.h"

#include "base/frame.h"
#include "base/image.h"

#include <cstring>

namespace px::rect {
namespace {

// dst is the rectangle at (x, y): inside src, and a different buffer.
bool Acceptable(const ConstView& src, const View& dst, uint32_t x, uint32_t y) noexcept
{
    return src.data && dst.data && src.data != dst.data &&
           RectInside(src.width, src.height, x, y, dst.width, dst.height);
}

}  // namespace

uint32_t Copy(const ConstView& src, const View& dst, uint32_t x, uint32_t y)
{
    const uint32_t bytesPerPixel = src.channels;
    if (!Acceptable(src, dst, x, y) || bytesPerPixel == 0 || dst.channels != bytesPerPixel)
        return Fail(Code::BadArgument);
    const uint64_t rowBytes = CheckedMul(dst.width, bytesPerPixel);
    if (src.stride < src.RowBytes() || src.Bytes() == UINT64_MAX || dst.stride < rowBytes)
        return Fail(Code::BadArgument);
    const uint64_t offset = uint64_t{x} * bytesPerPixel;
    // Every source row is walked so that progress counts the whole image.
    for (uint32_t row = 0; row < src.height; ++row) {
        if (row >= y && row - y < dst.height)
            std::memcpy(dst.Row(row - y), src.Row(row) + offset, rowBytes);
        if (!Progress(row, src.height))
            return 0;
    }
    return 1;
}

uint32_t CopyMono1(const ConstView& src, const View& dst, uint32_t x, uint32_t y)
{
    if (!Acceptable(src, dst, x, y))
        return Fail(Code::BadArgument);
    const uint64_t dstStride = dst.RowBytes();
    for (uint32_t row = 0; row < src.height; ++row) {
        if (row >= y && row - y < dst.height) {
            const uint8_t* from = src.Row(row);
            uint8_t* to = dst.Row(row - y);
            std::memset(to, 0, dstStride);  // bits past the rectangle stay clear
            for (uint32_t i = 0; i < dst.width; ++i) {
                const uint64_t bit = uint64_t{x} + i;
                if (from[bit >> 3] & (0x80u >> (bit & 7)))
                    to[i >> 3] |= static_cast<uint8_t>(0x80u >> (i & 7));
            }
        }
        if (!Progress(row, src.height))
            return 0;
    }
    return 1;
}

}  // namespace px::rect

extern "C" uint32_t CopyRect(const uint8_t* src, uint32_t width, uint32_t height, uint8_t* dst, uint32_t x,
                             uint32_t y, uint32_t rectWidth, uint32_t rectHeight, uint32_t bytesPerPixel)
{
    return px::Entry([&] {
        return px::rect::Copy(px::ConstView::Dense(src, width, height, px::Layout::Samples, bytesPerPixel),
                              px::View::Dense(dst, rectWidth, rectHeight, px::Layout::Samples, bytesPerPixel), x, y);
    });
}

extern "C" uint32_t CopyRectMono1(const uint8_t* src, uint32_t width, uint32_t height, uint8_t* dst,
                                  uint32_t x, uint32_t y, uint32_t rectWidth, uint32_t rectHeight)
{
    return px::Entry([&] {
        return px::rect::CopyMono1(px::ConstView::Dense(src, width, height, px::Layout::Mono1),
                                   px::View::Dense(dst, rectWidth, rectHeight, px::Layout::Mono1), x, y);
    });
}
