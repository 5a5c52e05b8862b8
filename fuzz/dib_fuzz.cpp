// Any bytes as a packed bitmap in a global block: the header must be checked against the
// block's real size before a single pixel is read.
#include "driver.h"

#include <cstring>
#include <vector>

void FuzzOne(fuzz::Input input)
{
    if (input.size() < 40)
        return;
    void* dib = GlobalAlloc(GMEM_FIXED, input.size());
    if (!dib)
        return;
    std::memcpy(dib, input.data(), input.size());
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
}
