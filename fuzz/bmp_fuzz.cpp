// Any bytes through the BMP reader, whole in every layout and row by row: every path must end
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
    const bool small = GetPictureInfo(source, PX_FILE_BMP, &width, &height) &&
                       uint64_t{width} * height <= (2u << 20);
    if (small) {
        uint8_t palette[256 * 4];
        for (uint32_t bits : {24u, 8u, 1u}) {
            ChannelSeek(source, 0, 0);
            GlobalFree(ReadBMP(source, &width, &height, bits, palette));
        }
        ChannelSeek(source, 0, 0);
        if (BMPRowReader* rows = BeginBMPRows(source, &width, &height, (size & 1) ? palette : nullptr)) {
            std::vector<uint8_t> row(size_t{width} * 3);
            uint32_t left = 0;
            while (ReadBMPRow(rows, row.data(), &left)) {
            }
            EndBMPRows(rows);
        }
    }
    CloseSource(source);
    return 0;
}
