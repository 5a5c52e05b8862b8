// Any bytes through the PNG reader at each depth: every path must end in a code, never a crash,
// a leak or a stray read.
#include "pxlib.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0 || size > (1u << 20))
        return 0;
    if (DataChannel* source = OpenMemorySource(data, static_cast<uint32_t>(size))) {
        uint32_t width = 0, height = 0;
        uint8_t palette[1024];
        const uint32_t bits = size % 3 == 0 ? 8 : size % 3 == 1 ? 24 : 32;
        GlobalFree(ReadPNG(source, &width, &height, bits, palette));
        CloseSource(source);
    }
    return 0;
}
