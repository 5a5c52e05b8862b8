// Any bytes through type detection, the JPEG reader (whole and row by row) and every reader of
// the registry, whole and reduced for a small aim (the batch's road).
#include "driver.h"

#include <vector>

namespace {

// The JPEG entries themselves; bigger claims than fuzz::kMaxPixels are only measured.
void ReadJpeg(const pxlib::Channel& source, size_t size)
{
    uint32_t width = 0, height = 0, bits = 0;
    JPGDensity density{};
    if (!GetJPGDimensions(fuzz::Rewound(source), &width, &height, &bits, &density) ||
        uint64_t{width} * height > fuzz::kMaxPixels)
        return;
    SetJPGDecodeScale(1, (size & 3) == 0 ? 8 : 1);
    GlobalFree(ReadJPG(fuzz::Rewound(source), &width, &height, (size & 1) ? 8 : 24));
    SetJPGDecodeScale(1, 1);
    if (JPGReadState* state = BeginJPGRead(fuzz::Rewound(source), &width, &height, size & 2)) {
        std::vector<uint8_t> row(size_t{width} * 3);
        for (uint32_t y = 0; y <= height && ReadJPGRow(state, row.data(), nullptr); ++y) {
        }
        EndJPGRead(state);
    }
}

}  // namespace

void FuzzOne(fuzz::Input input)
{
    const pxlib::Channel source = fuzz::OpenSource(input);
    if (!source)
        return;
    DetectFileType(source.get());
    ReadJpeg(source, input.size());
    // Every reader of the registry, as the image object reaches it.
    for (uint32_t i = 0, n = GetFileFormatCount(); i < n; ++i) {
        PXFileFormat format{};
        uint32_t width = 0, height = 0;
        if (!GetFileFormat(i, &format) || !format.readable ||
            !fuzz::Decodable(source, format.fileType, &width, &height))
            continue;
        GlobalFree(LoadPictureRGB24(fuzz::Rewound(source), format.fileType, &width, &height));
        const auto aim = static_cast<uint32_t>(1 + input.size() % 7);
        GlobalFree(LoadPictureReduced(fuzz::Rewound(source), format.fileType, aim, aim + 1, &width, &height));
    }
    for (uint32_t i = 0, n = GetJPGMarkerCount(); i < n; ++i) {
        uint8_t* payload = nullptr;
        uint32_t length = 0, code = 0;
        if (GetJPGMarker(i, &payload, &length, &code))
            GlobalFree(payload);
    }
}
