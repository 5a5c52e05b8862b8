// Any bytes through type detection, the JPEG reader (whole and row by row) and every reader of
// the registry: every path must end in a code, never a crash, a leak or a stray read.
#include "pxlib.h"

#include <cstddef>
#include <cstdint>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0 || size > (1u << 20))
        return 0;
    const auto bytes = static_cast<uint32_t>(size);

    if (DataChannel* source = OpenMemorySource(data, bytes)) {
        DetectFileType(source);
        ChannelSeek(source, 0, 0);
        uint32_t width = 0, height = 0, bits = 0;
        JPGDensity density{};
        // Pictures claiming more than 2 megapixels are read only for their header here: the
        // decoder is not ours, and big pictures only slow the search down.
        const bool small = GetJPGDimensions(source, &width, &height, &bits, &density) &&
                           uint64_t{width} * height <= (2u << 20);
        ChannelSeek(source, 0, 0);
        if (small) {
            SetJPGDecodeScale(1, (size & 3) == 0 ? 8 : 1);
            GlobalFree(ReadJPG(source, &width, &height, (size & 1) ? 8 : 24));
            SetJPGDecodeScale(1, 1);
            ChannelSeek(source, 0, 0);
            if (JPGReadState* state = BeginJPGRead(source, &width, &height, size & 2)) {
                std::vector<uint8_t> row(size_t{width} * 3);
                for (uint32_t y = 0; y <= height && ReadJPGRow(state, row.data(), nullptr); ++y) {
                }
                EndJPGRead(state);
            }
        }
        // Every reader of the registry, as the image object reaches it.
        for (uint32_t i = 0, n = GetFileFormatCount(); i < n; ++i) {
            PXFileFormat format{};
            if (!GetFileFormat(i, &format) || !format.readable)
                continue;
            ChannelSeek(source, 0, 0);
            const bool fits = GetPictureInfo(source, format.fileType, &width, &height) &&
                              uint64_t{width} * height <= (2u << 20);
            ChannelSeek(source, 0, 0);
            if (fits)
                GlobalFree(LoadPictureRGB24(source, format.fileType, &width, &height));
        }
        for (uint32_t i = 0, n = GetJPGMarkerCount(); i < n; ++i) {
            uint8_t* payload = nullptr;
            uint32_t length = 0, code = 0;
            if (GetJPGMarker(i, &payload, &length, &code))
                GlobalFree(payload);
        }
        CloseSource(source);
    }
    return 0;
}
