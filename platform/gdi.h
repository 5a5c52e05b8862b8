// Inside the GDI-like layer: packed-bitmap layouts, pixel access in any bitmap layout, and a
// context's drawing surface for code that renders into it directly.
#pragma once

#include "pxlib.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace px::gdi {

// Bytes of one bitmap row: padded to a multiple of 4.
uint64_t DibStride(uint32_t width, uint32_t bitsPerPixel) noexcept;

enum class DibStatus {
    Ok,
    Bad,          // a header no bitmap can have
    Unsupported,  // a real layout this layer does not take (16 bits, compressed, odd masks)
};

// Where the parts of a bitmap lie, worked out from its header (and the masks after it).
struct DibLayout {
    DibStatus status = DibStatus::Bad;
    int32_t width = 0;
    int32_t height = 0;  // always positive
    bool topDown = false;
    uint16_t bits = 0;  // 1 to 8, 24 or 32
    uint32_t colours = 0;  // colour-table entries present
    size_t tableOffset = 0;  // from the start of the header
    size_t bitsOffset = 0;  // for a packed bitmap
    uint64_t stride = 0;
    uint64_t imageBytes = 0;
};

// info points at a header followed by its masks and colour table. available, when not 0, is
// the size of the block, which must then hold all of the packed bitmap.
DibLayout ParseDib(const void* info, uint64_t available = 0) noexcept;

// Pixels of one bitmap layout, read and written as 0x00RRGGBB. Tables serve layouts of 8 bits
// or fewer: reading looks an index up, writing takes the nearest entry (the first on ties).
class PixelView {
public:
    // top is the first byte of picture row 0; stride may be negative (bottom-up bitmaps).
    // fourth is what writing puts into the spare byte of a 32-bit pixel.
    PixelView(uint8_t* top, ptrdiff_t stride, int32_t width, int32_t height, uint16_t bits,
              const RGBQUAD* table = nullptr, uint32_t tableSize = 0, uint8_t fourth = 0) noexcept;

    // The view of a bitmap whose bits start at bits and whose layout is known.
    static PixelView OfDib(const DibLayout& layout, const void* bits, const RGBQUAD* table,
                           uint32_t tableSize) noexcept;

    int32_t Width() const noexcept { return m_width; }
    int32_t Height() const noexcept { return m_height; }
    uint16_t Bits() const noexcept { return m_bits; }
    uint8_t* Row(int32_t y) const noexcept { return m_top + y * m_stride; }

    uint32_t Get(int32_t x, int32_t y) const noexcept;
    void Set(int32_t x, int32_t y, uint32_t rgb) noexcept;
    // The raw index of a pixel of a layout of 8 bits or fewer.
    uint32_t Index(int32_t x, int32_t y) const noexcept;

private:
    uint32_t Nearest(uint32_t rgb) noexcept;
    void PutIndex(int32_t x, int32_t y, uint32_t index) noexcept;

    uint8_t* m_top;
    ptrdiff_t m_stride;
    int32_t m_width;
    int32_t m_height;
    uint16_t m_bits;
    const RGBQUAD* m_table;
    uint32_t m_tableSize;
    uint8_t m_fourth;
    uint32_t m_lastRgb = 0xFFFFFFFFu;  // one-colour cache for Nearest
    uint32_t m_lastIndex = 0;
};

// The 32-bit surface a context draws into (for a memory context, its selected bitmap when that
// is 32 bits). The pointer stays valid while the context and its selection are unchanged.
struct Surface32 {
    uint8_t* pixels;
    int32_t width;
    int32_t height;
    int32_t stride;
};
std::optional<Surface32> DeviceSurface(HDC dc);

// A copy of the packed bitmap registered under module and name.
std::optional<std::vector<uint8_t>> FindBitmapResource(HMODULE module, const char* name);

}  // namespace px::gdi
