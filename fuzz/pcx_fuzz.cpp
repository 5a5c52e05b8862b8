// Any bytes through the PCX reader, whole in both layouts and row by row: every path must end
// in a code, never a crash, a leak or a stray read.
#include "pxlib.h"

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0 || size > (1u << 20))
        return 0;
    DataChannel* source = OpenMemorySource(data, static_cast<uint32_t>(size));
    if (!source)
        return 0;
    uint32_t width = 0, height = 0;
    // Big claims are only measured: allocating them slows the search without finding more.
    const bool small = GetPictureInfo(source, PX_FILE_PCX, &width, &height) &&
                       uint64_t{width} * height <= (2u << 20);
    if (small) {
        uint8_t palette[256 * 4];
        for (uint32_t bits : {24u, 8u}) {
            ChannelSeek(source, 0, 0);
            GlobalFree(ReadPCX(source, &width, &height, bits, palette));
        }
        if (PCXRowReader* rows = BeginPCXRows(source, &width, &height)) {
            std::vector<uint8_t> row(size_t{width} * 3);
            uint32_t number = 0;
            while (ReadPCXRow(rows, row.data(), &number)) {
            }
            EndPCXRows(rows);
        }
    }
    CloseSource(source);
    return 0;
}
