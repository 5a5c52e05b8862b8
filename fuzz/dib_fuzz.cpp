// Any bytes as a packed bitmap in a global block: the header must be checked against the
// block's real size before a single pixel is read.
#include "pxlib.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 40 || size > (1u << 20))
        return 0;
    void* dib = GlobalAlloc(GMEM_FIXED, size);
    if (!dib)
        return 0;
    std::memcpy(dib, data, size);
    uint32_t width = 0, height = 0, colours = 0;
    uint8_t palette[256 * 4];
    GlobalFree(DIBToRGB24(dib, &width, &height));
    GlobalFree(DIBToIndexed(dib, 8, &width, &height, &colours, palette));
    GlobalFree(DIBToIndexed(dib, 1, &width, &height, &colours, palette));

    std::vector<uint32_t> surface(64 * 48);
    if (HDC dc = CreateBufferDC(surface.data(), 64, 48, 64 * 4, RC_BITBLT | RC_DI_BITMAP | RC_STRETCHDIB)) {
        DrawDIB(dc, dib, 3, 2, 40, 30);
        if (HBITMAP bitmap = DIBToDDB(dib, nullptr, dc))
            DeleteObject(bitmap);
        DeleteDC(dc);
    }
    GlobalFree(dib);
    return 0;
}
