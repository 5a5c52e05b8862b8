// Drawing image records and bitmaps into device contexts, whole, in part and stretched.
#include "imaging/bitmaps_internal.h"
#include "imaging/rect_copy.h"

namespace px::bitmaps {
namespace {
using namespace detail;

// ---- Drawing ----

uint32_t DrawBitmap(HDC dc, HBITMAP bitmap, int32_t x, int32_t y, int32_t srcX, int32_t srcY, int32_t cx,
                    int32_t cy, HPALETTE palette)
{
    if (!bitmap)
        return Fail(Code::BadArgument);
    const auto caps = static_cast<uint32_t>(GetDeviceCaps(dc, RASTERCAPS));
    if (!(caps & RC_BITBLT))
        return Fail(Code::DeviceCaps);
    const HPALETTE use = palette ? palette : StockPalette();
    PaletteScope dcPalette(dc);
    dcPalette.Select(use);
    MemoryDc memory(dc);
    if (!memory.get())
        return Fail(Code::CreateContext);
    SelectPalette(memory.get(), use, 0);
    if (!memory.SelectBitmap(bitmap))
        return Fail((caps & RC_BITMAP64) ? Code::SelectBitmap : Code::DeviceCaps);
    if (!BitBlt(dc, x, y, cx, cy, memory.get(), srcX, srcY, SRCCOPY))
        return Fail(Code::BlitFailed);
    return 1;
}

uint32_t DrawRgb24(HDC dc, const ConstView& rgb, int32_t x, int32_t y, int32_t cx, int32_t cy, HPALETTE palette)
{
    if (!rgb.data)
        return Fail(Code::BadArgument);
    GdiObject bitmap(Rgb24ToDdb(rgb, palette, dc));
    if (!bitmap.get())
        return 0;
    return DrawBitmap(dc, static_cast<HBITMAP>(bitmap.get()), x, y, 0, 0, cx, cy, palette);
}

uint32_t StretchDraw(HDC dc, const ConstView& rgb, int32_t x, int32_t y, int32_t cx, int32_t cy)
{
    const uint32_t width = rgb.width, height = rgb.height;
    if (!rgb.data || !dc)
        return Fail(Code::BadArgument);
    if (!(static_cast<uint32_t>(GetDeviceCaps(dc, RASTERCAPS)) & RC_STRETCHDIB))
        return Fail(Code::DeviceCaps);
    GlobalBuffer dib = Own(Rgb24ToDib(rgb));
    if (!dib)
        return 0;
    const int32_t lines = StretchDIBits(dc, x, y, cx, cy, 0, 0, int32_t(width), int32_t(height),
                                        dib.get() + kHeaderBytes,
                                        reinterpret_cast<const BITMAPINFO*>(dib.get()), DIB_RGB_COLORS,
                                        SRCCOPY);
    return lines == int32_t(height) ? 1 : Fail(Code::BlitFailed);
}

uint32_t DrawPackedDib(HDC dc, const void* dib, int32_t x, int32_t y, int32_t cx, int32_t cy)
{
    if (!dc || !dib)
        return Fail(Code::BadArgument);
    if (!(static_cast<uint32_t>(GetDeviceCaps(dc, RASTERCAPS)) & RC_STRETCHDIB))
        return Fail(Code::DeviceCaps);
    const DibLayout layout = LayoutOf(dib);
    if (layout.status != DibStatus::Ok)
        return LayoutFailure(layout);
    const int32_t lines = StretchDIBits(dc, x, y, cx, cy, 0, 0, layout.width, layout.height,
                                        static_cast<const uint8_t*>(dib) + layout.bitsOffset,
                                        static_cast<const BITMAPINFO*>(dib), DIB_RGB_COLORS, SRCCOPY);
    return lines == layout.height ? 1 : Fail(Code::BlitFailed);
}

// The rectangle as a scratch RGB24 image; nothing, with the code recorded, when it cannot be had.
std::optional<std::vector<uint8_t>> CutOut(const uint8_t* rgb, uint32_t width, uint32_t height,
                                           uint32_t srcX, uint32_t srcY, uint32_t cx, uint32_t cy)
{
    if (!rgb || !rect::RectInside(width, height, srcX, srcY, cx, cy)) {
        Fail(Code::BadArgument);
        return std::nullopt;
    }
    const uint64_t bytes = ImageBytes(cx, cy, 24);
    if (bytes >= kMaxGlobalBytes) {
        Fail(Code::OutOfMemory);
        return std::nullopt;
    }
    std::vector<uint8_t> scratch(static_cast<size_t>(bytes));
    if (!Inner([&] {
            return rect::Copy(ConstView::RGB24(rgb, width, height), View::RGB24(scratch.data(), cx, cy), srcX, srcY);
        }))
        return std::nullopt;
    return scratch;
}

uint32_t DrawPart(HDC dc, const uint8_t* rgb, uint32_t width, uint32_t height, int32_t x, int32_t y,
                  uint32_t srcX, uint32_t srcY, uint32_t cx, uint32_t cy, HPALETTE palette)
{
    const auto part = CutOut(rgb, width, height, srcX, srcY, cx, cy);
    if (!part)
        return 0;
    return DrawRgb24(dc, ConstView::RGB24(part->data(), cx, cy), x, y, int32_t(cx), int32_t(cy), palette);
}

uint32_t StretchDrawPart(HDC dc, const uint8_t* rgb, uint32_t width, uint32_t height, int32_t x, int32_t y,
                         int32_t cx, int32_t cy, uint32_t srcX, uint32_t srcY, uint32_t srcWidth,
                         uint32_t srcHeight)
{
    const auto part = CutOut(rgb, width, height, srcX, srcY, srcWidth, srcHeight);
    if (!part)
        return 0;
    return StretchDraw(dc, ConstView::RGB24(part->data(), srcWidth, srcHeight), x, y, cx, cy);
}

}  // namespace
}  // namespace px::bitmaps

namespace b = px::bitmaps;

extern "C" uint32_t DrawRGB24(HDC dc, const uint8_t* rgb, uint32_t width, uint32_t height, int32_t x,
                              int32_t y, int32_t cx, int32_t cy, HPALETTE palette)
{
    return px::Entry([&] { return b::DrawRgb24(dc, px::ConstView::RGB24(rgb, width, height), x, y, cx, cy, palette); });
}

extern "C" uint32_t DrawDDB(HDC dc, HBITMAP bitmap, int32_t x, int32_t y, int32_t cx, int32_t cy,
                            HPALETTE palette)
{
    return px::Entry([&] { return b::DrawBitmap(dc, bitmap, x, y, 0, 0, cx, cy, palette); });
}

extern "C" uint32_t DrawDDBPart(HDC dc, HBITMAP bitmap, int32_t x, int32_t y, int32_t srcX, int32_t srcY,
                                int32_t cx, int32_t cy, HPALETTE palette)
{
    return px::Entry([&] { return b::DrawBitmap(dc, bitmap, x, y, srcX, srcY, cx, cy, palette); });
}

extern "C" uint32_t StretchDrawRGB24(HDC dc, const uint8_t* rgb, uint32_t width, uint32_t height, int32_t x,
                                     int32_t y, int32_t cx, int32_t cy)
{
    return px::Entry([&] { return b::StretchDraw(dc, px::ConstView::RGB24(rgb, width, height), x, y, cx, cy); });
}

extern "C" uint32_t DrawDIB(HDC dc, const void* dib, int32_t x, int32_t y, int32_t cx, int32_t cy)
{
    return px::Entry([&] { return b::DrawPackedDib(dc, dib, x, y, cx, cy); });
}

extern "C" uint32_t DrawRGB24Part(HDC dc, const uint8_t* rgb, uint32_t width, uint32_t height, int32_t x,
                                  int32_t y, uint32_t srcX, uint32_t srcY, uint32_t cx, uint32_t cy,
                                  HPALETTE palette)
{
    return px::Entry([&] { return b::DrawPart(dc, rgb, width, height, x, y, srcX, srcY, cx, cy, palette); });
}

extern "C" uint32_t StretchDrawRGB24Part(HDC dc, const uint8_t* rgb, uint32_t width, uint32_t height,
                                         int32_t x, int32_t y, int32_t cx, int32_t cy, uint32_t srcX,
                                         uint32_t srcY, uint32_t srcWidth, uint32_t srcHeight)
{
    return px::Entry([&] {
        return b::StretchDrawPart(dc, rgb, width, height, x, y, cx, cy, srcX, srcY, srcWidth, srcHeight);
    });
}
