// Any bytes through the PSD reader at both depths and through the PackBits row decoder.
#include "pxlib.h"

#include <cstddef>
#include <cstdint>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0 || size > (1u << 20))
        return 0;
    if (DataChannel* source = OpenMemorySource(data, static_cast<uint32_t>(size))) {
        uint32_t width = 0, height = 0;
        uint8_t palette[1024];
        GlobalFree(ReadPSD(source, &width, &height, (size & 1) ? 8 : 24, palette));
        CloseSource(source);
    }
    std::vector<uint8_t> row(3 * 64);
    DecodePackBits(row.data(), 64, 3, size % 3, data, static_cast<uint32_t>(size), size & 4 ? PX_PACKBITS_BITMAP : 0);
    return 0;
}
