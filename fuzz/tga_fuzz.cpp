// Any bytes through the TGA reader in both layouts: every path must end in a code, never a
// crash, a leak or a stray read.
#include "pxlib.h"

#include <cstddef>
#include <cstdint>
#include <initializer_list>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0 || size > (1u << 20))
        return 0;
    DataChannel* source = OpenMemorySource(data, static_cast<uint32_t>(size));
    if (!source)
        return 0;
    uint32_t width = 0, height = 0;
    // Big claims are only measured: allocating them slows the search without finding more.
    const bool small = GetPictureInfo(source, PX_FILE_TGA, &width, &height) &&
                       uint64_t{width} * height <= (2u << 20);
    if (small) {
        uint8_t palette[256 * 4];
        for (uint32_t bits : {24u, 8u}) {
            ChannelSeek(source, 0, 0);
            GlobalFree(ReadTGA(source, &width, &height, bits, palette));
        }
    }
    CloseSource(source);
    return 0;
}
