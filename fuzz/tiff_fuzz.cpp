// Any bytes through the TIFF entries: info, pages, RGBA and bilevel reads.
#include "driver.h"

void FuzzOne(fuzz::Input input)
{
    const pxlib::Channel source = fuzz::OpenSource(input);
    if (!source)
        return;
    const size_t size = input.size();
    uint32_t width = 0, height = 0, bits = 0, resolution[3], kind = 0;
    GetTIFFInfo(source.get(), &width, &height, &bits, resolution);
    const uint16_t page = CountTIFFPages(source.get()) > 1 && (size & 1) ? 1 : 0;
    GlobalFree(ReadTIFF(source.get(), &width, &height, (size & 2) ? 32 : 24, 0, page));
    GetTIFFBilevelCompression(source.get(), page, &kind);
    GlobalFree((size & 4) ? ReadTIFFBilevelMono1(source.get(), &width, &height, page)
                          : ReadTIFFBilevelIndex8(source.get(), &width, &height, page));
}
