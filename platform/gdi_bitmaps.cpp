// Device bitmaps and DIB sections: creating them, reading their bits, and blitting.
#include "platform/gdi_internal.h"

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
