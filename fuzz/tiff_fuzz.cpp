// Any bytes through the TIFF entries: info, pages, RGBA and bilevel reads must end in a code.
#include "pxlib.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0 || size > (1u << 20))
        return 0;
    if (DataChannel* source = OpenMemorySource(data, static_cast<uint32_t>(size))) {
        uint32_t width = 0, height = 0, bits = 0, resolution[3], kind = 0;
        GetTIFFInfo(source, &width, &height, &bits, resolution);
        const uint16_t page = CountTIFFPages(source) > 1 && (size & 1) ? 1 : 0;
        GlobalFree(ReadTIFF(source, &width, &height, (size & 2) ? 32 : 24, 0, page));
        GetTIFFBilevelCompression(source, page, &kind);
        GlobalFree((size & 4) ? ReadTIFFBilevelMono1(source, &width, &height, page)
                              : ReadTIFFBilevelIndex8(source, &width, &height, page));
        CloseSource(source);
    }
    return 0;
}
