// Packed bitmap layouts, pixel views over every bit depth, and device surfaces.
#include "platform/gdi_internal.h"

namespace px::gdi {
using namespace detail;

uint64_t DibStride(uint32_t width, uint32_t bitsPerPixel) noexcept
{
    return bmp::StoredRowBytes(width, bitsPerPixel);
}

DibLayout ParseDib(const void* info, uint64_t available) noexcept
{
    DibLayout layout;
    if (!info)
        return layout;
    bmp::BitmapInfo h;
    const size_t size = available != 0 && available < SIZE_MAX ? size_t(available) : SIZE_MAX;
    if (bmp::ParseBitmapInfo(static_cast<const uint8_t*>(info), size, h) != bmp::HeaderStatus::Ok)
        return layout;
    if (h.headerSize < bmp::kInfoHeaderSize || h.width <= 0 || h.height == 0 ||
        h.height > INT32_MAX || h.planes != 1)
        return layout;
    const uint16_t bits = h.bits;
    const bool indexed = bits >= 1 && bits <= 8;
    if (!indexed && bits != 24 && bits != 32) {
        if (bits == 0 || bits == 16)
            layout.status = DibStatus::Unsupported;
        return layout;
    }
    if (h.compression == bmp::kBitFields) {
        if (bits != 32 || std::memcmp(h.masks, kStandardMasks, sizeof h.masks) != 0) {
            layout.status = DibStatus::Unsupported;
            return layout;
        }
    } else if (h.compression != bmp::kRgb) {
        layout.status = DibStatus::Unsupported;
        return layout;
    }
    const uint32_t colours = h.tableEntries;
    if ((indexed && colours > (1u << bits)) || colours > 256)
        return layout;

    layout.width = h.width;
    layout.height = static_cast<int32_t>(h.height);
    layout.topDown = h.topDown;
    layout.bits = bits;
    layout.colours = colours;
    layout.tableOffset = h.tableOffset;
    layout.bitsOffset = h.tableOffset + size_t{colours} * 4;
    layout.stride = DibStride(uint32_t(layout.width), bits);
    layout.imageBytes = Mul(layout.stride, uint32_t(layout.height));
    if (layout.imageBytes >= kMaxBitmapBytes)
        return layout;
    if (available != 0 && layout.bitsOffset + layout.imageBytes > available)
        return layout;
    layout.status = DibStatus::Ok;
    return layout;
}

PixelView::PixelView(uint8_t* top, ptrdiff_t stride, int32_t width, int32_t height, uint16_t bits,
                     const RGBQUAD* table, uint32_t tableSize, uint8_t fourth) noexcept
    : m_top(top), m_stride(stride), m_width(width), m_height(height), m_bits(bits), m_table(table),
      m_tableSize(table ? tableSize : 0), m_fourth(fourth)
{
}

PixelView PixelView::OfDib(const DibLayout& layout, const void* bits, const RGBQUAD* table,
                           uint32_t tableSize) noexcept
{
    auto* base = static_cast<uint8_t*>(const_cast<void*>(bits));
    const auto stride = static_cast<ptrdiff_t>(layout.stride);
    if (layout.topDown)
        return PixelView(base, stride, layout.width, layout.height, layout.bits, table, tableSize);
    return PixelView(base + (layout.height - 1) * stride, -stride, layout.width, layout.height,
                     layout.bits, table, tableSize);
}

uint32_t PixelView::Index(int32_t x, int32_t y) const noexcept
{
    const uint8_t* row = Row(y);
    const uint64_t bitPos = uint64_t(x) * m_bits;
    const size_t byte = bitPos >> 3;
    const unsigned offset = bitPos & 7;
    uint32_t window = uint32_t{row[byte]} << 8;
    if (offset + m_bits > 8)
        window |= row[byte + 1];
    return (window >> (16 - offset - m_bits)) & ((1u << m_bits) - 1);
}

void PixelView::PutIndex(int32_t x, int32_t y, uint32_t index) noexcept
{
    uint8_t* row = Row(y);
    const uint64_t bitPos = uint64_t(x) * m_bits;
    const size_t byte = bitPos >> 3;
    const unsigned offset = bitPos & 7;
    const bool spans = offset + m_bits > 8;
    const unsigned shift = 16 - offset - m_bits;
    const uint32_t mask = ((1u << m_bits) - 1) << shift;
    uint32_t window = (uint32_t{row[byte]} << 8) | (spans ? row[byte + 1] : 0);
    window = (window & ~mask) | ((index << shift) & mask);
    row[byte] = static_cast<uint8_t>(window >> 8);
    if (spans)
        row[byte + 1] = static_cast<uint8_t>(window);
}

uint32_t PixelView::Get(int32_t x, int32_t y) const noexcept
{
    if (m_bits <= 8) {
        const uint32_t index = Index(x, y);
        if (index >= m_tableSize)
            return 0;
        const RGBQUAD& q = m_table[index];
        return Rgb(q.rgbRed, q.rgbGreen, q.rgbBlue);
    }
    const uint8_t* p = Row(y) + size_t(x) * (m_bits / 8);
    return Rgb(p[2], p[1], p[0]);
}

uint32_t PixelView::Nearest(uint32_t rgb) noexcept
{
    if (rgb == m_lastRgb)
        return m_lastIndex;
    const int r = (rgb >> 16) & 0xFF, g = (rgb >> 8) & 0xFF, b = rgb & 0xFF;
    uint32_t best = 0;
    int bestDistance = INT_MAX;
    for (uint32_t i = 0; i < m_tableSize && bestDistance != 0; ++i) {
        const RGBQUAD& q = m_table[i];
        const int dr = q.rgbRed - r, dg = q.rgbGreen - g, db = q.rgbBlue - b;
        const int distance = dr * dr + dg * dg + db * db;
        if (distance < bestDistance) {
            bestDistance = distance;
            best = i;
        }
    }
    m_lastRgb = rgb;
    m_lastIndex = best;
    return best;
}

void PixelView::Set(int32_t x, int32_t y, uint32_t rgb) noexcept
{
    if (m_bits <= 8) {
        PutIndex(x, y, Nearest(rgb));
        return;
    }
    uint8_t* p = Row(y) + size_t(x) * (m_bits / 8);
    p[0] = static_cast<uint8_t>(rgb);
    p[1] = static_cast<uint8_t>(rgb >> 8);
    p[2] = static_cast<uint8_t>(rgb >> 16);
    if (m_bits == 32)
        p[3] = m_fourth;
}

std::optional<Surface32> DeviceSurface(HDC handle)
{
    return Locked(std::optional<Surface32>{}, [&]() -> std::optional<Surface32> {
        Dc* dc = FindDc(handle);
        if (!dc)
            return std::nullopt;
        if (dc->dcKind != DcKind::Memory)
            return Surface32{dc->pixels, dc->width, dc->height, dc->stride};
        Bitmap& bitmap = *dc->bitmap;
        if (bitmap.section) {
            if (bitmap.layout.bits != 32 || !bitmap.layout.topDown)
                return std::nullopt;
            return Surface32{bitmap.sectionBits.data(), bitmap.width, bitmap.height,
                             static_cast<int32_t>(bitmap.layout.stride)};
        }
        return Surface32{bitmap.pixels.data(), bitmap.width, bitmap.height, bitmap.width * 4};
    });
}

std::optional<std::vector<uint8_t>> FindBitmapResource(HMODULE module, const char* name)
{
    if (!name)
        return std::nullopt;
    return Locked(std::optional<std::vector<uint8_t>>{}, [&]() -> std::optional<std::vector<uint8_t>> {
        auto& resources = Reg().resources;
        auto it = resources.find(ResourceKey{module, name});
        if (it == resources.end())
            return std::nullopt;
        return it->second;
    });
}

}  // namespace px::gdi
