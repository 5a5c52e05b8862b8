// Palettes, stock objects, brushes, bitmap resources, and deleting and describing objects.
#include "platform/gdi_internal.h"

using namespace px::gdi;
using namespace px::gdi::detail;

extern "C" HPALETTE CreatePalette(const LOGPALETTE* logical)
{
    return Locked(HPALETTE{}, [&]() -> HPALETTE {
        if (!logical || logical->palVersion != 0x300 || logical->palNumEntries == 0)
            return nullptr;
        auto palette = std::make_unique<Palette>();
        palette->entries.assign(logical->palPalEntry, logical->palPalEntry + logical->palNumEntries);
        return HandleOf<HPALETTE>(Register(std::move(palette)));
    });
}

namespace {

uint32_t CopyEntries(const std::vector<PALETTEENTRY>& from, size_t total, uint32_t start,
                     uint32_t count, PALETTEENTRY* entries)
{
    if (!entries)
        return static_cast<uint32_t>(total);
    if (start >= total)
        return 0;
    const uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(count, total - start));
    for (uint32_t i = 0; i < n; ++i)
        entries[i] = start + i < from.size() ? from[start + i] : PALETTEENTRY{0, 0, 0, 0};
    return n;
}

}  // namespace

extern "C" uint32_t GetPaletteEntries(HPALETTE handle, uint32_t start, uint32_t count, PALETTEENTRY* entries)
{
    return Locked(uint32_t{0}, [&]() -> uint32_t {
        Palette* palette = FindPalette(handle);
        if (!palette)
            return 0;
        return CopyEntries(palette->entries, palette->entries.size(), start, count, entries);
    });
}

extern "C" uint32_t GetSystemPaletteEntries(HDC handle, uint32_t start, uint32_t count, PALETTEENTRY* entries)
{
    return Locked(uint32_t{0}, [&]() -> uint32_t {
        Dc* dc = FindDc(handle);
        if (!dc || !PaletteDevice(*dc))
            return 0;
        return CopyEntries(dc->palette->entries, 256, start, count, entries);
    });
}

extern "C" HGDIOBJ GetStockObject(int32_t index)
{
    return Locked(HGDIOBJ{}, [&]() -> HGDIOBJ {
        return index == DEFAULT_PALETTE ? HandleOf<HGDIOBJ>(DefaultPalette()) : nullptr;
    });
}

extern "C" int32_t DeleteObject(HGDIOBJ handle)
{
    return Locked(int32_t{0}, [&]() -> int32_t {
        if (Bitmap* bitmap = FindBitmap(handle)) {
            if (bitmap->stock)
                return 1;
            if (bitmap->selectedInto)
                return 0;
            Destroy(bitmap);
            return 1;
        }
        if (Palette* palette = FindPalette(handle)) {
            if (palette->stock)
                return 1;
            if (palette->selections != 0)
                return 0;
            Destroy(palette);
            return 1;
        }
        if (Brush* brush = FindBrush(handle)) {
            Destroy(brush);
            return 1;
        }
        return 0;
    });
}

extern "C" int32_t GetObjectA(HGDIOBJ handle, int32_t size, void* out)
{
    return Locked(int32_t{0}, [&]() -> int32_t {
        if (Bitmap* bitmap = FindBitmap(handle)) {
            if (!out)
                return sizeof(BITMAP);
            if (size < int32_t(sizeof(BITMAP)))
                return 0;
            BITMAP info{};
            info.bmWidth = bitmap->width;
            info.bmHeight = bitmap->height;
            info.bmPlanes = 1;
            if (bitmap->section) {
                info.bmBitsPixel = bitmap->layout.bits;
                info.bmWidthBytes = static_cast<int32_t>(bitmap->layout.stride);
                info.bmBits = bitmap->sectionBits.data();
            } else {
                info.bmBitsPixel = 32;
                info.bmWidthBytes = bitmap->width * 4;
            }
            std::memcpy(out, &info, sizeof info);
            return sizeof(BITMAP);
        }
        if (Palette* palette = FindPalette(handle)) {
            if (!out)
                return sizeof(uint16_t);
            if (size < int32_t(sizeof(uint16_t)))
                return 0;
            const auto count = static_cast<uint16_t>(palette->entries.size());
            std::memcpy(out, &count, sizeof count);
            return sizeof(uint16_t);
        }
        return 0;
    });
}

extern "C" int32_t RegisterBitmapResource(HMODULE module, const char* name, const void* dib, uint32_t bytes)
{
    return Locked(int32_t{0}, [&]() -> int32_t {
        if (!name || !dib || bytes < sizeof(BITMAPINFOHEADER))
            return 0;
        const auto* first = static_cast<const uint8_t*>(dib);
        Reg().resources[ResourceKey{module, name}].assign(first, first + bytes);
        return 1;
    });
}

extern "C" HBRUSH CreateSolidBrush(COLORREF colour)
{
    return Locked(HBRUSH{}, [&]() -> HBRUSH {
        auto brush = std::make_unique<Brush>();
        brush->rgb = Rgb(colour & 0xFF, (colour >> 8) & 0xFF, (colour >> 16) & 0xFF);
        return HandleOf<HBRUSH>(Register(std::move(brush)));
    });
}
