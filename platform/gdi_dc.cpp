// Device contexts: the screen, memory and buffer contexts, their capabilities and selections.
#include "platform/gdi_internal.h"

using namespace px::gdi;
using namespace px::gdi::detail;

extern "C" HDC GetDC(HWND window)
{
    return Locked(HDC{}, [&]() -> HDC {
        if (window)
            return nullptr;  // there are no windows to draw in
        return HandleOf<HDC>(NewScreenDc());
    });
}

extern "C" int32_t ReleaseDC(HWND window, HDC handle)
{
    return Locked(int32_t{0}, [&]() -> int32_t {
        Dc* dc = FindDc(handle);
        if (window || !dc || dc->dcKind != DcKind::Screen)
            return 0;
        DestroyDc(dc);
        return 1;
    });
}

extern "C" HDC CreateBufferDC(void* pixels, int32_t width, int32_t height, int32_t strideBytes,
                              uint32_t rasterCaps)
{
    return Locked(HDC{}, [&]() -> HDC {
        if (!pixels || width <= 0 || height <= 0 || int64_t{strideBytes} < int64_t{width} * 4)
            return nullptr;
        Dc* dc = NewDc(DcKind::Buffer);
        dc->caps = rasterCaps;
        dc->horzRes = dc->width = width;
        dc->vertRes = dc->height = height;
        dc->stride = strideBytes;
        dc->pixels = static_cast<uint8_t*>(pixels);
        return HandleOf<HDC>(dc);
    });
}

extern "C" uint32_t SetScreenRasterCaps(uint32_t rasterCaps)
{
    return Locked(uint32_t{0}, [&] { return std::exchange(Reg().screenCaps, rasterCaps); });
}

extern "C" int32_t GetDeviceCaps(HDC handle, int32_t index)
{
    return Locked(int32_t{0}, [&]() -> int32_t {
        Dc* dc = FindDc(handle);
        if (!dc)
            return 0;
        switch (index) {
        case RASTERCAPS:
            return static_cast<int32_t>(Caps(*dc));
        case BITSPIXEL:
            return 32;
        case PLANES:
            return 1;
        case HORZRES:
            return dc->horzRes;
        case VERTRES:
            return dc->vertRes;
        case HORZSIZE:
            return dc->horzRes * 254 / (kPixelsPerInch * 10);
        case VERTSIZE:
            return dc->vertRes * 254 / (kPixelsPerInch * 10);
        case LOGPIXELSX:
        case LOGPIXELSY:
            return kPixelsPerInch;
        case NUMCOLORS:
            return PaletteDevice(*dc) ? 20 : -1;
        case SIZEPALETTE:
            return PaletteDevice(*dc) ? 256 : 0;
        default:
            return 0;
        }
    });
}

extern "C" HDC CreateCompatibleDC(HDC handle)
{
    return Locked(HDC{}, [&]() -> HDC {
        Dc* reference = nullptr;
        if (!DeviceOrScreen(handle, reference))
            return nullptr;
        Dc* dc = NewDc(DcKind::Memory);
        dc->caps = reference ? Caps(*reference) : Reg().screenCaps;
        dc->horzRes = reference ? reference->horzRes : kScreenWidth;
        dc->vertRes = reference ? reference->vertRes : kScreenHeight;
        Select(*dc, DefaultBitmap());
        return HandleOf<HDC>(dc);
    });
}

extern "C" int32_t DeleteDC(HDC handle)
{
    return Locked(int32_t{0}, [&]() -> int32_t {
        Dc* dc = FindDc(handle);
        if (!dc || dc->dcKind == DcKind::Screen)  // screen contexts go back through ReleaseDC
            return 0;
        DestroyDc(dc);
        return 1;
    });
}

extern "C" HGDIOBJ SelectObject(HDC handle, HGDIOBJ object)
{
    return Locked(HGDIOBJ{}, [&]() -> HGDIOBJ {
        Dc* dc = FindDc(handle);
        Bitmap* bitmap = FindBitmap(object);
        if (!dc || !bitmap || dc->dcKind != DcKind::Memory)
            return nullptr;
        if (!bitmap->stock && bitmap->selectedInto && bitmap->selectedInto != dc)
            return nullptr;
        Bitmap* old = dc->bitmap;
        Select(*dc, bitmap);
        return HandleOf<HGDIOBJ>(old);
    });
}

extern "C" HPALETTE SelectPalette(HDC handle, HPALETTE paletteHandle, int32_t)
{
    return Locked(HPALETTE{}, [&]() -> HPALETTE {
        Dc* dc = FindDc(handle);
        Palette* palette = FindPalette(paletteHandle);
        if (!dc || !palette)
            return nullptr;
        Palette* old = dc->palette;
        Select(*dc, palette);
        return HandleOf<HPALETTE>(old);
    });
}

extern "C" uint32_t RealizePalette(HDC handle)
{
    return Locked(GDI_ERROR, [&]() -> uint32_t {
        Dc* dc = FindDc(handle);
        if (!dc)
            return GDI_ERROR;
        return PaletteDevice(*dc) ? static_cast<uint32_t>(dc->palette->entries.size()) : 0;
    });
}
