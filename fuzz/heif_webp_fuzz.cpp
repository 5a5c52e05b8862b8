// Any bytes through the HEIF/AVIF and WebP readers and their info entries.
#include "pxlib.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0 || size > (1u << 20))
        return 0;
    if (DataChannel* source = OpenMemorySource(data, static_cast<uint32_t>(size))) {
        uint32_t width = 0, height = 0;
        GetHEIFInfo(source, &width, &height);
        GlobalFree(ReadHEIF(source, &width, &height));
        GetWebPInfo(source, &width, &height);
        GlobalFree(ReadWebP(source, &width, &height));
        CloseSource(source);
    }
    return 0;
}
