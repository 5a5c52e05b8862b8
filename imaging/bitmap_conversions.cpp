// Image records to and from Windows bitmaps: packed bitmaps, device bitmaps and sections.
#include "imaging/bitmaps.h"
#include "imaging/bitmaps_internal.h"

namespace px::bitmaps {
namespace detail {

// ---- Packed bitmaps from image records ----

uint8_t* Rgb24ToDib(const ConstView& rgb)
{
    if (!rgb.data || rgb.channels != 3)
        return Fail(Code::BadArgument);
    GlobalBuffer dib = NewDib(rgb.width, rgb.height, 24, 0, 0);
    if (!dib)
        return nullptr;
    FillBgrRows(rgb, dib.get() + kHeaderBytes);
    return dib.Release();
}

// The indices' palette (paletteCount entries) goes into the bitmap's table.
uint8_t* Index8ToDib(const ConstView& indices, uint32_t bits)
{
    const uint32_t width = indices.width, height = indices.height, colours = indices.paletteCount;
    const uint8_t* palette = indices.palette;
    if (!indices.data || !palette || bits < 1 || bits > 8 || colours == 0 || colours > (1u << bits))
        return Fail(Code::BadArgument);
    GlobalBuffer dib = NewDib(width, height, static_cast<uint16_t>(bits), colours, colours);
    if (!dib)
        return nullptr;
    std::memcpy(dib.get() + kHeaderBytes, palette, size_t{colours} * 4);
    uint8_t* rows = dib.get() + kHeaderBytes + size_t{colours} * 4;
    const uint64_t stride = gdi::DibStride(width, bits);
    for (uint32_t y = 0; y < height; ++y)
        PackRow(indices.Row(y), width, bits, rows + (height - 1 - y) * stride);
    return dib.Release();
}

// With the pixels' two palette entries as the bitmap's table.
uint8_t* Mono1ToDib(const ConstView& pixels)
{
    const uint32_t width = pixels.width, height = pixels.height;
    const uint8_t* palette = pixels.palette;
    if (!pixels.data || !palette)
        return Fail(Code::BadArgument);
    GlobalBuffer dib = NewDib(width, height, 1, 2, 0);
    if (!dib)
        return nullptr;
    std::memcpy(dib.get() + kHeaderBytes, palette, 8);
    uint8_t* rows = dib.get() + kHeaderBytes + 8;
    const uint64_t rowBytes = RowBytes(width, 1);
    const uint64_t stride = gdi::DibStride(width, 1);
    for (uint32_t y = 0; y < height; ++y)
        std::memcpy(rows + (height - 1 - y) * stride, pixels.Row(y), rowBytes);
    return dib.Release();
}

// ---- Image records from packed bitmaps ----

uint8_t* DibToRgb24(const void* dib, uint32_t* width, uint32_t* height)
{
    if (!dib || !width || !height)
        return Fail(Code::BadArgument);
    *width = *height = 0;
    const DibLayout layout = LayoutOf(dib);
    if (layout.status != DibStatus::Ok)
        return LayoutFailure(layout);
    GlobalBuffer out = AllocateImage(uint32_t(layout.width), uint32_t(layout.height), 24);
    if (!out)
        return nullptr;
    const auto* base = static_cast<const uint8_t*>(dib);
    const PixelView view = PixelView::OfDib(layout, base + layout.bitsOffset,
                                            reinterpret_cast<const RGBQUAD*>(base + layout.tableOffset),
                                            layout.colours);
    uint8_t* to = out.get();
    for (int32_t y = 0; y < layout.height; ++y)
        for (int32_t x = 0; x < layout.width; ++x, to += 3) {
            const uint32_t rgb = view.Get(x, y);
            to[0] = static_cast<uint8_t>(rgb >> 16);
            to[1] = static_cast<uint8_t>(rgb >> 8);
            to[2] = static_cast<uint8_t>(rgb);
        }
    *width = uint32_t(layout.width);
    *height = uint32_t(layout.height);
    return out.Release();
}

uint8_t* DibToIndexed(const void* dib, uint32_t bits, uint32_t* width, uint32_t* height,
                      uint32_t* colours, uint8_t* palette)
{
    if (!dib || !width || !height)
        return Fail(Code::BadArgument);
    *width = *height = 0;
    if (bits != 1 && bits != 8)
        return Fail(Code::LayoutUnavailable);
    const DibLayout layout = LayoutOf(dib);
    if (layout.status != DibStatus::Ok)
        return LayoutFailure(layout);
    if (layout.bits > 8 || (bits == 1 && layout.bits != 1))
        return Fail(Code::LayoutUnavailable);
    const auto w = uint32_t(layout.width);
    GlobalBuffer out = AllocateImage(w, uint32_t(layout.height), bits);
    if (!out)
        return nullptr;
    const auto* base = static_cast<const uint8_t*>(dib);
    const PixelView view = PixelView::OfDib(layout, base + layout.bitsOffset, nullptr, 0);
    const uint64_t rowBytes = RowBytes(w, bits);
    for (int32_t y = 0; y < layout.height; ++y) {
        uint8_t* to = out.get() + y * rowBytes;
        if (bits == 8) {
            for (uint32_t x = 0; x < w; ++x)
                to[x] = static_cast<uint8_t>(view.Index(int32_t(x), y));
        } else {
            std::memcpy(to, view.Row(y), rowBytes);
            if (w % 8)
                to[rowBytes - 1] &= static_cast<uint8_t>(0xFF00u >> (w % 8));  // no stray bits past the width
        }
    }
    if (colours)
        *colours = layout.colours;
    if (palette)
        std::memcpy(palette, base + layout.tableOffset, size_t{layout.colours} * 4);
    *width = w;
    *height = uint32_t(layout.height);
    return out.Release();
}

// ---- Device bitmaps ----

HBITMAP DibToDdb(const void* dib, HPALETTE palette, HDC dc)
{
    if (!dib)
        return Fail(Code::BadArgument);
    TargetDc target(dc);
    if (!target.get())
        return Fail(Code::CreateContext);
    const uint32_t caps = target.Caps();
    if (!(caps & RC_DI_BITMAP))
        return Fail(Code::DeviceCaps);
    const DibLayout layout = LayoutOf(dib);
    if (layout.status != DibStatus::Ok)
        return LayoutFailure(layout);
    const auto* base = static_cast<const uint8_t*>(dib);
    const uint8_t* bits = base + layout.bitsOffset;

    GdiObject madePalette;  // declared first: deleted after the scope gives the old one back
    PaletteScope scope(target.get());
    if (palette) {
        scope.Select(palette);
    } else if (layout.colours > 0 && (caps & RC_PALETTE)) {
        HPALETTE made = PaletteFromTable(base + layout.tableOffset, layout.colours);
        if (!made)
            return Fail(Code::OutOfMemory);
        madePalette.Reset(made);
        scope.Select(made);
    }

    const auto* info = static_cast<const BITMAPINFO*>(dib);
    if (SectionMode()) {
        void* sectionBits = nullptr;
        HBITMAP section = CreateDIBSection(target.get(), info, DIB_RGB_COLORS, &sectionBits, nullptr, 0);
        if (!section)
            return Fail(Code::DibSection);
        // A zero image size is allowed in uncompressed headers: the layout knows the real one.
        uint64_t bytes = info->bmiHeader.biSizeImage;
        if (bytes == 0 || bytes > layout.imageBytes)
            bytes = layout.imageBytes;
        std::memcpy(sectionBits, bits, bytes);
        return section;
    }
    HBITMAP bitmap = CreateDIBitmap(target.get(), &info->bmiHeader, CBM_INIT, bits, info, DIB_RGB_COLORS);
    if (!bitmap)
        return Fail(Code::CreateBitmap);
    return bitmap;
}

HBITMAP Rgb24ToDdb(const ConstView& rgb, HPALETTE palette, HDC dc)
{
    const uint32_t width = rgb.width, height = rgb.height;
    if (!rgb.data || rgb.channels != 3)
        return Fail(Code::BadArgument);
    if (!SectionMode()) {
        GlobalBuffer dib = Own(Rgb24ToDib(rgb));
        if (!dib)
            return nullptr;
        return DibToDdb(dib.get(), palette, dc);
    }
    if (width == 0 || height == 0 || width > INT32_MAX || height > INT32_MAX)
        return Fail(Code::BadArgument);
    TargetDc target(dc);
    if (!target.get())
        return Fail(Code::CreateContext);
    PaletteScope scope(target.get());
    if (palette)
        scope.Select(palette);
    BITMAPINFO info{};
    info.bmiHeader.biSize = kHeaderBytes;
    info.bmiHeader.biWidth = static_cast<int32_t>(width);
    info.bmiHeader.biHeight = static_cast<int32_t>(height);
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP section = CreateDIBSection(target.get(), &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (!section || !bits)
        return Fail(Code::DibSection);
    FillBgrRows(rgb, static_cast<uint8_t*>(bits));
    return section;
}

// A device bitmap's pixels as a packed bitmap of `bits` per pixel, read through the screen.
GlobalBuffer DdbToDib(HBITMAP bitmap, HPALETTE palette, uint16_t bits)
{
    if (!bitmap) {
        Fail(Code::BadArgument);
        return {};
    }
    TargetDc screen(nullptr);
    if (!screen.get()) {
        Fail(Code::CreateContext);
        return {};
    }
    if (!(screen.Caps() & RC_DI_BITMAP)) {
        Fail(Code::DeviceCaps);
        return {};
    }
    BITMAP info{};
    if (GetObjectA(bitmap, sizeof info, &info) != int32_t(sizeof info)) {
        Fail(Code::BadArgument);
        return {};
    }
    PaletteScope scope(screen.get());
    scope.Select(palette ? palette : StockPalette());
    const uint32_t tableEntries = bits <= 8 ? 1u << bits : 0;
    GlobalBuffer dib = NewDib(uint32_t(info.bmWidth), uint32_t(info.bmHeight), bits, tableEntries, 0);
    if (!dib)
        return dib;
    const int32_t lines = GetDIBits(screen.get(), bitmap, 0, uint32_t(info.bmHeight),
                                    dib.get() + kHeaderBytes + size_t{tableEntries} * 4,
                                    reinterpret_cast<BITMAPINFO*>(dib.get()), DIB_RGB_COLORS);
    if (lines != info.bmHeight) {
        Fail(Code::LayoutUnavailable);
        return {};
    }
    return dib;
}

uint8_t* DdbToDibEntry(HBITMAP bitmap, HPALETTE palette)
{
    return DdbToDib(bitmap, palette, 24).Release();
}

// The screen and the palette to read a device bitmap with: the caller's, else on a
// palette-based screen one made from its system palette (owned by `made`). The caller's size
// is zeroed first.
struct Reading {
    HPALETTE palette = nullptr;
    bool ok = false;
};

Reading PrepareReading(HBITMAP bitmap, HPALETTE palette, uint32_t* width, uint32_t* height, GdiObject& made)
{
    if (!width || !height)
        return {nullptr, Fail(Code::BadArgument)};
    *width = *height = 0;
    if (!bitmap)
        return {nullptr, Fail(Code::BadArgument)};
    TargetDc screen(nullptr);
    if (!screen.get())
        return {nullptr, Fail(Code::CreateContext)};
    const uint32_t caps = screen.Caps();
    if (!(caps & RC_DI_BITMAP))
        return {nullptr, Fail(Code::DeviceCaps)};
    if (!palette && (caps & RC_PALETTE)) {
        palette = SystemPalette(screen.get());
        if (!palette)
            return {nullptr, Fail(Code::OutOfMemory)};
        made.Reset(palette);
    }
    return {palette, true};
}

uint8_t* DdbToRgb24(HBITMAP bitmap, uint32_t* width, uint32_t* height, HPALETTE palette)
{
    GdiObject made;
    const Reading reading = PrepareReading(bitmap, palette, width, height, made);
    if (!reading.ok)
        return nullptr;
    GlobalBuffer dib = Own(DdbToDibEntry(bitmap, reading.palette));
    if (!dib)
        return nullptr;
    return DibToRgb24(dib.get(), width, height);
}

uint8_t* DdbToIndex8(HBITMAP bitmap, uint32_t* width, uint32_t* height, HPALETTE palette,
                     uint32_t* colours, uint8_t* colourTable)
{
    GdiObject made;
    const Reading reading = PrepareReading(bitmap, palette, width, height, made);
    if (!reading.ok)
        return nullptr;
    GlobalBuffer dib = DdbToDib(bitmap, reading.palette, 8);
    if (!dib)
        return nullptr;
    return DibToIndexed(dib.get(), 8, width, height, colours, colourTable);
}

HBITMAP CaptureRect(HDC dc, int32_t x, int32_t y, int32_t width, int32_t height)
{
    if (!dc || width <= 0 || height <= 0)
        return Fail(Code::BadArgument);
    if (!(static_cast<uint32_t>(GetDeviceCaps(dc, RASTERCAPS)) & RC_BITBLT))
        return Fail(Code::DeviceCaps);
    GdiObject bitmap;  // declared first: the memory context lets go of it before any delete
    MemoryDc memory(dc);
    if (!memory.get())
        return Fail(Code::CreateContext);
    bitmap.Reset(CreateCompatibleBitmap(dc, width, height));
    if (!bitmap.get())
        return Fail(Code::CreateBitmap);
    if (!memory.SelectBitmap(static_cast<HBITMAP>(bitmap.get())))
        return Fail(Code::SelectBitmap);
    if (!BitBlt(memory.get(), 0, 0, width, height, dc, x, y, SRCCOPY))
        return Fail(Code::BlitFailed);
    return static_cast<HBITMAP>(bitmap.Release());
}

HBITMAP LoadResourceBitmap(HMODULE module, const char* name, HPALETTE palette)
{
    if (!name)
        return Fail(Code::BadArgument);
    const auto resource = gdi::FindBitmapResource(module, name);
    if (!resource)
        return Fail(Code::ResourceNotFound);
    const DibLayout layout = gdi::ParseDib(resource->data(), resource->size());
    if (layout.status != DibStatus::Ok)
        return LayoutFailure(layout);
    TargetDc screen(nullptr);
    if (!screen.get())
        return Fail(Code::CreateContext);
    GdiObject madePalette;
    PaletteScope scope(screen.get());
    if (palette) {
        scope.Select(palette);
    } else if (layout.colours > 0) {
        HPALETTE made = PaletteFromTable(resource->data() + layout.tableOffset, layout.colours);
        if (!made)
            return Fail(Code::OutOfMemory);
        madePalette.Reset(made);
        scope.Select(made);
    }
    const auto* info = reinterpret_cast<const BITMAPINFO*>(resource->data());
    HBITMAP bitmap = CreateDIBitmap(screen.get(), &info->bmiHeader, CBM_INIT,
                                    resource->data() + layout.bitsOffset, info, DIB_RGB_COLORS);
    return bitmap ? bitmap : Fail(Code::CreateBitmap);
}

HPALETTE MakePalette(const uint8_t* palette, uint32_t count)
{
    if (!palette || count == 0 || count > 256)
        return Fail(Code::BadArgument);
    HPALETTE made = PaletteFromTable(palette, count);
    return made ? made : Fail(Code::OutOfMemory);
}

}  // namespace detail

Picture DdbToRgb24Image(HBITMAP bitmap, HPALETTE palette)
{
    uint32_t width = 0, height = 0;
    uint8_t* rgb = detail::DdbToRgb24(bitmap, &width, &height, palette);
    return Picture::RGB24(detail::Own(rgb), width, height);
}

}  // namespace px::bitmaps

namespace b = px::bitmaps::detail;

extern "C" HBITMAP RGB24ToDDB(const uint8_t* rgb, uint32_t width, uint32_t height, HPALETTE palette, HDC dc)
{
    return px::Entry([&] { return b::Rgb24ToDdb(px::ConstView::RGB24(rgb, width, height), palette, dc); });
}

extern "C" HBITMAP DIBToDDB(const void* dib, HPALETTE palette, HDC dc)
{
    return px::Entry([&] { return b::DibToDdb(dib, palette, dc); });
}

extern "C" uint8_t* RGB24ToDIB(const uint8_t* rgb, uint32_t width, uint32_t height)
{
    return px::Entry([&] { return b::Rgb24ToDib(px::ConstView::RGB24(rgb, width, height)); });
}

extern "C" uint8_t* Index8ToDIB(const uint8_t* indices, uint32_t width, uint32_t height, uint32_t colours,
                                uint32_t bits, const uint8_t* palette)
{
    return px::Entry([&] { return b::Index8ToDib(px::ConstView::Indexed(indices, width, height, palette, colours), bits); });
}

extern "C" uint8_t* Index8ToDIB256(const uint8_t* indices, uint32_t width, uint32_t height,
                                   const uint8_t* palette)
{
    return px::Entry([&] { return b::Index8ToDib(px::ConstView::Indexed(indices, width, height, palette, 256), 8); });
}

extern "C" uint8_t* Mono1ToDIB(const uint8_t* pixels, uint32_t width, uint32_t height, const uint8_t* palette)
{
    return px::Entry([&] {
        px::ConstView mono = px::ConstView::Dense(pixels, width, height, px::Layout::Mono1);
        mono.palette = palette;
        mono.paletteCount = 2;
        return b::Mono1ToDib(mono);
    });
}

extern "C" uint8_t* DIBToRGB24(const void* dib, uint32_t* width, uint32_t* height)
{
    return px::Entry([&] { return b::DibToRgb24(dib, width, height); });
}

extern "C" uint8_t* DIBToIndexed(const void* dib, uint32_t bits, uint32_t* width, uint32_t* height,
                                 uint32_t* colours, uint8_t* palette)
{
    return px::Entry([&] { return b::DibToIndexed(dib, bits, width, height, colours, palette); });
}

extern "C" uint8_t* DDBToDIB(HBITMAP bitmap, HPALETTE palette)
{
    return px::Entry([&] { return b::DdbToDibEntry(bitmap, palette); });
}

extern "C" uint8_t* DDBToRGB24(HBITMAP bitmap, uint32_t* width, uint32_t* height, HPALETTE palette)
{
    return px::Entry([&] { return b::DdbToRgb24(bitmap, width, height, palette); });
}

extern "C" uint8_t* DDBToIndex8(HBITMAP bitmap, uint32_t* width, uint32_t* height, HPALETTE palette,
                                uint32_t* colours, uint8_t* colourTable)
{
    return px::Entry([&] { return b::DdbToIndex8(bitmap, width, height, palette, colours, colourTable); });
}

extern "C" HBITMAP CaptureDC(HDC dc, int32_t x, int32_t y, int32_t width, int32_t height)
{
    return px::Entry([&] { return b::CaptureRect(dc, x, y, width, height); });
}

extern "C" HBITMAP LoadBitmapResource(HMODULE module, const char* name, HPALETTE palette)
{
    return px::Entry([&] { return b::LoadResourceBitmap(module, name, palette); });
}

extern "C" HPALETTE MakeLogicalPalette(const uint8_t* palette, uint32_t count)
{
    return px::Entry([&] { return b::MakePalette(palette, count); });
}
