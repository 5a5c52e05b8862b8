// Device bitmaps and DIB sections: their layouts, the pixel views over every bit depth that
// reading, blitting and filling go through (one file, so the per-pixel calls inline), and the
// entries that create, read, blit and fill them.
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

using namespace px::gdi;
using namespace px::gdi::detail;

extern "C" HBITMAP CreateCompatibleBitmap(HDC handle, int32_t width, int32_t height)
{
    return Locked(HBITMAP{}, [&]() -> HBITMAP {
        Dc* dc = nullptr;
        if (!DeviceOrScreen(handle, dc))
            return nullptr;
        return HandleOf<HBITMAP>(NewDeviceBitmap(width, height));
    });
}

extern "C" HBITMAP CreateDIBitmap(HDC handle, const BITMAPINFOHEADER* header, uint32_t init,
                                  const void* bits, const BITMAPINFO* info, uint32_t usage)
{
    return Locked(HBITMAP{}, [&]() -> HBITMAP {
        Dc* dc = nullptr;
        if (!DeviceOrScreen(handle, dc) || !header)
            return nullptr;
        const int64_t height = header->biHeight < 0 ? -int64_t{header->biHeight} : header->biHeight;
        if (height > INT32_MAX)
            return nullptr;
        DibLayout source;
        if (init & CBM_INIT) {
            source = ParseDib(info);
            if (!bits || usage != DIB_RGB_COLORS || source.status != DibStatus::Ok)
                return nullptr;
        }
        Bitmap* bitmap = NewDeviceBitmap(header->biWidth, static_cast<int32_t>(height));
        if (!bitmap)
            return nullptr;
        if (init & CBM_INIT) {
            const PixelView from = PixelView::OfDib(source, bits, TableOf(info, source), source.colours);
            PixelView to = bitmap->View();
            const int32_t w = std::min(from.Width(), to.Width());
            const int32_t h = std::min(from.Height(), to.Height());
            for (int32_t y = 0; y < h; ++y)
                for (int32_t x = 0; x < w; ++x)
                    to.Set(x, y, from.Get(x, y));
        }
        return HandleOf<HBITMAP>(bitmap);
    });
}

extern "C" HBITMAP CreateDIBSection(HDC handle, const BITMAPINFO* info, uint32_t usage, void** bits,
                                    void* section, uint32_t)
{
    return Locked(HBITMAP{}, [&]() -> HBITMAP {
        Dc* dc = nullptr;
        if (!DeviceOrScreen(handle, dc) || !info || section || usage != DIB_RGB_COLORS)
            return nullptr;
        const DibLayout layout = ParseDib(info);
        if (layout.status != DibStatus::Ok)
            return nullptr;
        auto bitmap = std::make_unique<Bitmap>();
        bitmap->section = true;
        bitmap->width = layout.width;
        bitmap->height = layout.height;
        bitmap->layout = layout;
        const RGBQUAD* table = TableOf(info, layout);
        bitmap->table.assign(table, table + layout.colours);
        bitmap->sectionBits.assign(layout.imageBytes, 0);
        if (bits)
            *bits = bitmap->sectionBits.data();
        return HandleOf<HBITMAP>(Register(std::move(bitmap)));
    });
}

extern "C" int32_t GetDIBits(HDC handle, HBITMAP bitmapHandle, uint32_t start, uint32_t lines,
                             void* bits, BITMAPINFO* info, uint32_t usage)
{
    return Locked(int32_t{0}, [&]() -> int32_t {
        Dc* dc = FindDc(handle);
        Bitmap* bitmap = FindBitmap(bitmapHandle);
        if (!dc || !bitmap || !info || usage != DIB_RGB_COLORS)
            return 0;
        BITMAPINFOHEADER& header = info->bmiHeader;
        if (!bits && header.biBitCount == 0) {
            header = BITMAPINFOHEADER{};
            header.biSize = sizeof header;
            header.biWidth = bitmap->width;
            header.biHeight = bitmap->height;
            header.biPlanes = 1;
            header.biBitCount = bitmap->section ? bitmap->layout.bits : 32;
            header.biCompression = BI_RGB;
        }
        const DibLayout layout = ParseDib(info);
        if (layout.status != DibStatus::Ok || layout.width != bitmap->width ||
            layout.height != bitmap->height)
            return 0;
        if (!bits) {
            header.biSizeImage = static_cast<uint32_t>(layout.imageBytes);
            return layout.height;
        }
        if (start >= uint32_t(layout.height))
            return 0;
        lines = std::min(lines, uint32_t(layout.height) - start);

        // An indexed layout gets the context's palette as its table.
        std::vector<RGBQUAD> table;
        uint32_t usable = 0;
        if (layout.bits <= 8) {
            table = TableFromPalette(*dc->palette, layout.colours);
            std::memcpy(reinterpret_cast<uint8_t*>(info) + layout.tableOffset, table.data(),
                        table.size() * sizeof(RGBQUAD));
            usable = static_cast<uint32_t>(std::min<size_t>(table.size(), dc->palette->entries.size()));
        }
        const PixelView from = bitmap->View();
        auto* out = static_cast<uint8_t*>(bits);
        for (uint32_t line = start; line < start + lines; ++line) {
            const int32_t row = layout.topDown ? int32_t(line) : layout.height - 1 - int32_t(line);
            PixelView to(out + (line - start) * layout.stride, 0, layout.width, 1, layout.bits,
                         table.data(), usable);
            for (int32_t x = 0; x < layout.width; ++x)
                to.Set(x, 0, from.Get(x, row));
        }
        return static_cast<int32_t>(lines);
    });
}

extern "C" int32_t BitBlt(HDC dstHandle, int32_t x, int32_t y, int32_t cx, int32_t cy, HDC srcHandle,
                          int32_t srcX, int32_t srcY, uint32_t rop)
{
    return Locked(int32_t{0}, [&]() -> int32_t {
        Dc* dst = FindDc(dstHandle);
        Dc* src = FindDc(srcHandle);
        if (!dst || !src || rop != SRCCOPY || !(Caps(*dst) & RC_BITBLT) || cx < 0 || cy < 0)
            return 0;
        PixelView to = SurfaceView(*dst);
        const PixelView from = SurfaceView(*src);
        // Clip in 64 bits against both surfaces; what lies outside either is left alone.
        int64_t left = std::max<int64_t>({0, -int64_t{x}, -int64_t{srcX}});
        int64_t top = std::max<int64_t>({0, -int64_t{y}, -int64_t{srcY}});
        int64_t right = std::min<int64_t>({cx, int64_t{to.Width()} - x, int64_t{from.Width()} - srcX});
        int64_t bottom = std::min<int64_t>({cy, int64_t{to.Height()} - y, int64_t{from.Height()} - srcY});
        const bool same = dst == src;
        std::vector<uint32_t> staged;  // a context copied onto itself may overlap
        if (same && right > left && bottom > top)
            staged.resize(size_t(right - left) * size_t(bottom - top));
        for (int64_t j = top; j < bottom; ++j)
            for (int64_t i = left; i < right; ++i) {
                const uint32_t rgb = from.Get(int32_t(srcX + i), int32_t(srcY + j));
                if (same)
                    staged[size_t(j - top) * size_t(right - left) + size_t(i - left)] = rgb;
                else
                    to.Set(int32_t(x + i), int32_t(y + j), rgb);
            }
        if (same)
            for (int64_t j = top; j < bottom; ++j)
                for (int64_t i = left; i < right; ++i)
                    to.Set(int32_t(x + i), int32_t(y + j),
                           staged[size_t(j - top) * size_t(right - left) + size_t(i - left)]);
        return 1;
    });
}

extern "C" int32_t StretchDIBits(HDC handle, int32_t x, int32_t y, int32_t cx, int32_t cy, int32_t srcX,
                                 int32_t srcY, int32_t srcCx, int32_t srcCy, const void* bits,
                                 const BITMAPINFO* info, uint32_t usage, uint32_t rop)
{
    return Locked(int32_t{0}, [&]() -> int32_t {
        Dc* dc = FindDc(handle);
        if (!dc || !bits || !info || usage != DIB_RGB_COLORS || rop != SRCCOPY ||
            !(Caps(*dc) & RC_STRETCHDIB) || cx <= 0 || cy <= 0 || srcCx <= 0 || srcCy <= 0)
            return 0;
        const DibLayout layout = ParseDib(info);
        if (layout.status != DibStatus::Ok)
            return 0;
        const PixelView from = PixelView::OfDib(layout, bits, TableOf(info, layout), layout.colours);
        PixelView to = SurfaceView(*dc);
        // The source rectangle's top row in picture rows; bottom-up bitmaps count from below.
        const int64_t sourceTop = layout.topDown ? int64_t{srcY} : int64_t{layout.height} - srcY - srcCy;
        for (int64_t j = 0; j < cy; ++j) {
            const int64_t ty = int64_t{y} + j;
            const int64_t sy = sourceTop + (2 * j + 1) * srcCy / (2 * int64_t{cy});
            if (ty < 0 || ty >= to.Height() || sy < 0 || sy >= from.Height())
                continue;
            for (int64_t i = 0; i < cx; ++i) {
                const int64_t tx = int64_t{x} + i;
                const int64_t sx = int64_t{srcX} + (2 * i + 1) * srcCx / (2 * int64_t{cx});
                if (tx < 0 || tx >= to.Width() || sx < 0 || sx >= from.Width())
                    continue;
                to.Set(int32_t(tx), int32_t(ty), from.Get(int32_t(sx), int32_t(sy)));
            }
        }
        return srcCy;
    });
}

extern "C" COLORREF GetPixel(HDC handle, int32_t x, int32_t y)
{
    return Locked(COLORREF{CLR_INVALID}, [&]() -> COLORREF {
        Dc* dc = FindDc(handle);
        if (!dc)
            return CLR_INVALID;
        const PixelView view = SurfaceView(*dc);
        if (x < 0 || y < 0 || x >= view.Width() || y >= view.Height())
            return CLR_INVALID;
        const uint32_t rgb = view.Get(x, y);
        return ((rgb >> 16) & 0xFF) | (rgb & 0xFF00) | ((rgb & 0xFF) << 16);
    });
}

extern "C" int32_t FillRect(HDC handle, const RECT* rect, HBRUSH brushHandle)
{
    return Locked(int32_t{0}, [&]() -> int32_t {
        Dc* dc = FindDc(handle);
        Brush* brush = FindBrush(brushHandle);
        if (!dc || !brush || !rect)
            return 0;
        PixelView to = SurfaceView(*dc);
        const int32_t left = std::max(rect->left, 0), top = std::max(rect->top, 0);
        const int32_t right = std::min(rect->right, to.Width()), bottom = std::min(rect->bottom, to.Height());
        for (int32_t y = top; y < bottom; ++y)
            for (int32_t x = left; x < right; ++x)
                to.Set(x, y, brush->rgb);
        return 1;
    });
}
