// A device context over pixels the test owns, to look at exactly what was drawn.
#pragma once

#include "pxlib.h"

#include <bit>
#include <cstdint>
#include <cstring>
#include <vector>

namespace test {

static_assert(std::endian::native == std::endian::little, "surface words are read as 0xAARRGGBB");

inline constexpr uint32_t kAllCaps =
    RC_BITBLT | RC_BITMAP64 | RC_DI_BITMAP | RC_DIBTODEV | RC_STRETCHBLT | RC_STRETCHDIB;
inline constexpr uint32_t kUntouched = 0x00ABCDEF;

class Canvas {
public:
    Canvas(int32_t width, int32_t height, uint32_t caps = kAllCaps)
        : m_width(width), m_pixels(size_t(width) * size_t(height), kUntouched),
          m_dc(CreateBufferDC(m_pixels.data(), width, height, width * 4, caps))
    {
    }
    ~Canvas() { DeleteDC(m_dc); }
    Canvas(const Canvas&) = delete;
    Canvas& operator=(const Canvas&) = delete;

    HDC dc() const { return m_dc; }
    uint32_t& Word(int32_t x, int32_t y) { return m_pixels[size_t(y) * m_width + x]; }
    // 0x00RRGGBB of a pixel.
    uint32_t At(int32_t x, int32_t y) const { return m_pixels[size_t(y) * m_width + x] & 0xFFFFFF; }
    bool AllUntouched() const
    {
        for (uint32_t word : m_pixels)
            if (word != kUntouched)
                return false;
        return true;
    }

private:
    int32_t m_width;
    std::vector<uint32_t> m_pixels;
    HDC m_dc;
};

// 0x00RRGGBB of pixel i of an RGB24 buffer.
inline uint32_t RgbAt(const uint8_t* rgb, size_t i)
{
    return (uint32_t{rgb[i * 3]} << 16) | (uint32_t{rgb[i * 3 + 1]} << 8) | rgb[i * 3 + 2];
}

// An RGB24 picture whose every pixel differs from its neighbours.
inline std::vector<uint8_t> Pattern(uint32_t width, uint32_t height)
{
    std::vector<uint8_t> rgb(size_t(width) * height * 3);
    for (uint32_t y = 0; y < height; ++y)
        for (uint32_t x = 0; x < width; ++x) {
            uint8_t* p = &rgb[(size_t(y) * width + x) * 3];
            p[0] = static_cast<uint8_t>(x * 7 + 1);
            p[1] = static_cast<uint8_t>(y * 11 + 2);
            p[2] = static_cast<uint8_t>((x ^ y) * 5 + 3);
        }
    return rgb;
}

// A packed bitmap: header, table, then rows given top row first as raw bytes, stored in the
// order the sign of height asks for and padded to 4 bytes.
inline std::vector<uint8_t> PackedDib(int32_t width, int32_t height, uint16_t bits,
                                      const std::vector<RGBQUAD>& table,
                                      const std::vector<std::vector<uint8_t>>& rowsTopDown)
{
    const size_t stride = (size_t(width) * bits + 31) / 32 * 4;
    const size_t rows = rowsTopDown.size();
    BITMAPINFOHEADER header{};
    header.biSize = sizeof header;
    header.biWidth = width;
    header.biHeight = height;
    header.biPlanes = 1;
    header.biBitCount = bits;
    header.biCompression = BI_RGB;
    header.biSizeImage = static_cast<uint32_t>(stride * rows);
    header.biClrUsed = static_cast<uint32_t>(table.size());
    std::vector<uint8_t> dib(sizeof header + table.size() * 4 + stride * rows, 0);
    std::memcpy(dib.data(), &header, sizeof header);
    if (!table.empty())
        std::memcpy(dib.data() + sizeof header, table.data(), table.size() * 4);
    uint8_t* bitsAt = dib.data() + sizeof header + table.size() * 4;
    for (size_t r = 0; r < rows; ++r) {
        const size_t stored = height < 0 ? r : rows - 1 - r;
        std::memcpy(bitsAt + stored * stride, rowsTopDown[r].data(), rowsTopDown[r].size());
    }
    return dib;
}

}  // namespace test
