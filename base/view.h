// Image views: where a picture's pixels are and how they are laid out, with no ownership; and
// Picture, a view over a global block of its own, which is what readers produce.
#pragma once

#include "base/checked.h"
#include "base/image.h"

#include <cstddef>
#include <cstdint>
#include <limits>
#include <type_traits>
#include <utility>

namespace px {

enum class Layout : uint8_t {
    Grey8,    // one luminance byte a pixel
    Index8,   // one palette index a pixel; the palette is RGBQUAD entries (blue, green, red, 0)
    Mono1,    // one bit a pixel, most significant first
    RGB24,    // red, green, blue
    BGR24,    // blue, green, red: device bitmaps
    RGBA32,
    BGRA32,
    Samples,  // `channels` bytes a pixel with no colour meaning (resampling, rectangle copies)
};

// Bytes a pixel of a layout with whole-byte pixels; 0 for Mono1 and Samples, whose size the
// view carries.
constexpr uint32_t LayoutBytes(Layout layout) noexcept
{
    switch (layout) {
    case Layout::Grey8:
    case Layout::Index8:
        return 1;
    case Layout::RGB24:
    case Layout::BGR24:
        return 3;
    case Layout::RGBA32:
    case Layout::BGRA32:
        return 4;
    case Layout::Mono1:
    case Layout::Samples:
        break;
    }
    return 0;
}

template <class Byte>
struct BasicView {
    static_assert(std::is_same_v<std::remove_const_t<Byte>, uint8_t>);

    Byte* data = nullptr;
    uint32_t width = 0;
    uint32_t height = 0;
    size_t stride = 0;              // bytes from the start of one row to the next
    Layout layout = Layout::RGB24;
    uint32_t channels = 3;          // bytes a pixel (0 for Mono1)
    const uint8_t* palette = nullptr;  // Index8 and Mono1: RGBQUAD entries, or null
    uint32_t paletteCount = 0;

    // Rows of width × pixel bytes, one right after the other. A width whose rows do not fit in
    // memory gives stride SIZE_MAX, which no buffer can match.
    static BasicView Dense(Byte* data, uint32_t width, uint32_t height, Layout layout,
                           uint32_t channels = 0) noexcept
    {
        if (!channels)
            channels = LayoutBytes(layout);
        const uint64_t rowBytes = layout == Layout::Mono1 ? (uint64_t{width} + 7) / 8
                                                          : CheckedMul(width, channels);
        const size_t stride = rowBytes > std::numeric_limits<size_t>::max()
                                  ? std::numeric_limits<size_t>::max()
                                  : static_cast<size_t>(rowBytes);
        return {data, width, height, stride, layout, channels, nullptr, 0};
    }

    static BasicView RGB24(Byte* data, uint32_t width, uint32_t height) noexcept
    {
        return Dense(data, width, height, Layout::RGB24);
    }

    static BasicView Indexed(Byte* data, uint32_t width, uint32_t height, const uint8_t* palette,
                             uint32_t paletteCount) noexcept
    {
        BasicView view = Dense(data, width, height, Layout::Index8);
        view.palette = palette;
        view.paletteCount = paletteCount;
        return view;
    }

    Byte* Row(uint32_t y) const noexcept { return data + static_cast<size_t>(y) * stride; }

    // Pixels and size present: what every operation asks of its arguments first.
    bool Usable() const noexcept { return data && width && height; }

    // Bytes the pixels of one row take (without any padding up to the stride).
    uint64_t RowBytes() const noexcept
    {
        return layout == Layout::Mono1 ? (uint64_t{width} + 7) / 8 : CheckedMul(width, channels);
    }

    // Bytes from the first pixel to the last, SIZE_MAX-like when they cannot be addressed.
    uint64_t Bytes() const noexcept
    {
        return height ? CheckedAdd(CheckedMul(height - 1, stride), RowBytes()) : 0;
    }

    // A mutable view reads as a constant one.
    operator BasicView<const uint8_t>() const noexcept
        requires(!std::is_const_v<Byte>)
    {
        return {data, width, height, stride, layout, channels, palette, paletteCount};
    }
};

using View = BasicView<uint8_t>;
using ConstView = BasicView<const uint8_t>;

// A picture in a global block of its own: what a reader returns. Release() hands the block to
// the caller; until then the picture frees it.
class Picture {
public:
    Picture() noexcept = default;
    Picture(GlobalBuffer buffer, View view) noexcept : m_buffer(std::move(buffer)), m_view(view) {}

    // A dense RGB24 picture in `buffer`, which holds at least width × height × 3 bytes.
    static Picture RGB24(GlobalBuffer buffer, uint32_t width, uint32_t height) noexcept
    {
        const View view = View::RGB24(buffer.get(), width, height);
        return Picture(std::move(buffer), view);
    }

    const View& view() const noexcept { return m_view; }
    uint32_t width() const noexcept { return m_view.width; }
    uint32_t height() const noexcept { return m_view.height; }
    explicit operator bool() const noexcept { return static_cast<bool>(m_buffer); }

    uint8_t* Release() noexcept
    {
        m_view.data = nullptr;
        return m_buffer.Release();
    }

private:
    GlobalBuffer m_buffer;
    View m_view;
};

}  // namespace px
