// What the bitmap conversions and drawing share: scoped device contexts, palettes and GDI
// objects, and the packed bitmap's layout and rows.
#pragma once

#include "base/frame.h"
#include "base/image.h"
#include "base/view.h"
#include "imaging/imaging_options.h"
#include "platform/gdi.h"

#include <climits>
#include <cstring>
#include <optional>
#include <utility>
#include <vector>

namespace px::bitmaps::detail {

using gdi::DibLayout;
using gdi::DibStatus;
using gdi::PixelView;

inline constexpr size_t kHeaderBytes = sizeof(BITMAPINFOHEADER);

// True when device bitmaps are to be made through a DIB section on this thread.
inline bool SectionMode() noexcept
{
    const ImagingOptions* options = ThreadImagingOptions();
    return options && options->bitmapSectionFlag;
}

// A packed bitmap handed over by an inner entry, freed at the end of the scope.
inline GlobalBuffer Own(uint8_t* block) noexcept
{
    return GlobalBuffer(block, GlobalSize(block));
}

// The caller's context, or the screen's when it gave none; the screen's is released.
class TargetDc {
public:
    explicit TargetDc(HDC dc) : m_dc(dc ? dc : GetDC(nullptr)), m_owned(!dc) {}
    ~TargetDc()
    {
        if (m_owned && m_dc)
            ReleaseDC(nullptr, m_dc);
    }
    TargetDc(const TargetDc&) = delete;
    TargetDc& operator=(const TargetDc&) = delete;
    HDC get() const noexcept { return m_dc; }
    uint32_t Caps() const noexcept { return static_cast<uint32_t>(GetDeviceCaps(m_dc, RASTERCAPS)); }

private:
    HDC m_dc;
    bool m_owned;
};

// A palette selected as the foreground palette and realised; the old one comes back at the end.
class PaletteScope {
public:
    explicit PaletteScope(HDC dc) : m_dc(dc) {}
    ~PaletteScope()
    {
        if (m_old)
            SelectPalette(m_dc, m_old, 0);
    }
    PaletteScope(const PaletteScope&) = delete;
    PaletteScope& operator=(const PaletteScope&) = delete;
    void Select(HPALETTE palette)
    {
        HPALETTE old = SelectPalette(m_dc, palette, 0);
        if (!m_old)
            m_old = old;
        RealizePalette(m_dc);
    }

private:
    HDC m_dc;
    HPALETTE m_old = nullptr;
};

// A bitmap or palette deleted at the end of the scope unless handed on.
class GdiObject {
public:
    explicit GdiObject(HGDIOBJ object = nullptr) : m_object(object) {}
    ~GdiObject()
    {
        if (m_object)
            DeleteObject(m_object);
    }
    GdiObject(const GdiObject&) = delete;
    GdiObject& operator=(const GdiObject&) = delete;
    void Reset(HGDIOBJ object)
    {
        if (m_object)
            DeleteObject(m_object);
        m_object = object;
    }
    HGDIOBJ get() const noexcept { return m_object; }
    HGDIOBJ Release() noexcept { return std::exchange(m_object, nullptr); }

private:
    HGDIOBJ m_object;
};

// A memory context; whatever was selected out of it goes back in before it is deleted.
class MemoryDc {
public:
    explicit MemoryDc(HDC compatibleWith) : m_dc(CreateCompatibleDC(compatibleWith)) {}
    ~MemoryDc()
    {
        if (m_oldBitmap)
            SelectObject(m_dc, m_oldBitmap);
        if (m_dc)
            DeleteDC(m_dc);
    }
    MemoryDc(const MemoryDc&) = delete;
    MemoryDc& operator=(const MemoryDc&) = delete;
    HDC get() const noexcept { return m_dc; }
    bool SelectBitmap(HBITMAP bitmap)
    {
        HGDIOBJ old = SelectObject(m_dc, bitmap);
        if (old && !m_oldBitmap)
            m_oldBitmap = old;
        return old != nullptr;
    }

private:
    HDC m_dc;
    HGDIOBJ m_oldBitmap = nullptr;
};

inline HPALETTE StockPalette()
{
    return static_cast<HPALETTE>(GetStockObject(DEFAULT_PALETTE));
}

// A logical palette from RGBQUAD entries (blue, green, red, reserved).
inline HPALETTE PaletteFromTable(const uint8_t* table, uint32_t count)
{
    std::vector<uint8_t> bytes(4 + size_t{count} * sizeof(PALETTEENTRY));
    const uint16_t header[2] = {0x300, static_cast<uint16_t>(count)};
    std::memcpy(bytes.data(), header, sizeof header);
    for (uint32_t i = 0; i < count; ++i) {
        const uint8_t* quad = table + i * 4;
        const PALETTEENTRY entry{quad[2], quad[1], quad[0], 0};
        std::memcpy(bytes.data() + 4 + i * sizeof entry, &entry, sizeof entry);
    }
    return CreatePalette(reinterpret_cast<const LOGPALETTE*>(bytes.data()));
}

// The palette a palette-based device shows now.
inline HPALETTE SystemPalette(HDC dc)
{
    const int32_t size = GetDeviceCaps(dc, SIZEPALETTE);
    if (size <= 0)
        return nullptr;
    std::vector<PALETTEENTRY> entries(static_cast<size_t>(size));
    const uint32_t count = GetSystemPaletteEntries(dc, 0, static_cast<uint32_t>(size), entries.data());
    if (count == 0)
        return nullptr;
    std::vector<uint8_t> table(size_t{count} * 4);
    for (uint32_t i = 0; i < count; ++i) {
        table[i * 4] = entries[i].peBlue;
        table[i * 4 + 1] = entries[i].peGreen;
        table[i * 4 + 2] = entries[i].peRed;
    }
    return PaletteFromTable(table.data(), count);
}

inline Failure LayoutFailure(const DibLayout& layout) noexcept
{
    return Fail(layout.status == DibStatus::Unsupported ? Code::LayoutUnavailable : Code::BadArgument);
}

// A packed bitmap's layout, checked against its block when it is one of ours.
inline DibLayout LayoutOf(const void* dib) noexcept
{
    return gdi::ParseDib(dib, GlobalSize(const_cast<void*>(dib)));
}

// A zero-filled packed bitmap with its header written; the table and the bits follow it.
inline GlobalBuffer NewDib(uint32_t width, uint32_t height, uint16_t bits, uint32_t tableEntries,
                    uint32_t coloursUsed) noexcept
{
    if (width == 0 || height == 0 || width > INT32_MAX || height > INT32_MAX) {
        Fail(Code::BadArgument);
        return {};
    }
    const uint64_t image = CheckedMul(gdi::DibStride(width, bits), height);
    const uint64_t total = image >= kMaxGlobalBytes ? image : image + kHeaderBytes + uint64_t{tableEntries} * 4;
    GlobalBuffer block = AllocateGlobal(total);
    if (!block)
        return block;
    BITMAPINFOHEADER header{};
    header.biSize = kHeaderBytes;
    header.biWidth = static_cast<int32_t>(width);
    header.biHeight = static_cast<int32_t>(height);
    header.biPlanes = 1;
    header.biBitCount = bits;
    header.biCompression = BI_RGB;
    header.biSizeImage = static_cast<uint32_t>(image);
    header.biClrUsed = coloursUsed;
    header.biClrImportant = coloursUsed;
    std::memcpy(block.get(), &header, sizeof header);
    return block;
}

// Writes RGB24 rows as bitmap rows: last row first, blue-green-red, padded.
inline void FillBgrRows(const ConstView& rgb, uint8_t* bits) noexcept
{
    const uint32_t height = rgb.height;
    const uint64_t stride = gdi::DibStride(rgb.width, 24);
    const uint64_t rowBytes = uint64_t{rgb.width} * 3;
    for (uint32_t y = 0; y < height; ++y) {
        const uint8_t* from = rgb.Row(y);
        uint8_t* to = bits + (height - 1 - y) * stride;
        for (uint64_t i = 0; i < rowBytes; i += 3) {
            to[i] = from[i + 2];
            to[i + 1] = from[i + 1];
            to[i + 2] = from[i];
        }
    }
}

// Keeps the low `bits` bits of each byte, packed most significant first, into a clear row.
inline void PackRow(const uint8_t* from, uint32_t width, uint32_t bits, uint8_t* to) noexcept
{
    const uint32_t mask = (1u << bits) - 1;
    for (uint32_t x = 0; x < width; ++x) {
        const uint64_t bitPos = uint64_t{x} * bits;
        const unsigned offset = bitPos & 7;
        const uint32_t shifted = (from[x] & mask) << (16 - offset - bits);
        to[bitPos >> 3] |= static_cast<uint8_t>(shifted >> 8);
        if (offset + bits > 8)
            to[(bitPos >> 3) + 1] |= static_cast<uint8_t>(shifted);
    }
}

// Shared by the conversions and the drawing.
uint8_t* Rgb24ToDib(const ConstView& rgb);
HBITMAP Rgb24ToDdb(const ConstView& rgb, HPALETTE palette, HDC dc);

}  // namespace px::bitmaps::detail
