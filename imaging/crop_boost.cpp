// Crop and colour boost of RGB24 images.
#include "imaging/crop_boost.h"

#include "base/frame.h"
#include "base/image.h"

#include <algorithm>
#include <cstring>

namespace px::finish {

uint32_t Crop(const uint8_t* src, uint32_t width, uint32_t height, uint8_t* dst, int64_t left,
              int64_t top, uint32_t cropWidth, uint32_t cropHeight)
{
    if (!src || !dst || src == dst || width == 0 || height == 0 || cropWidth == 0 || cropHeight == 0)
        return Fail(Code::BadArgument);
    if (ImageBytes(width, height, 24) == UINT64_MAX || ImageBytes(cropWidth, cropHeight, 24) == UINT64_MAX)
        return Fail(Code::BadArgument);
    const size_t rowBytes = size_t{cropWidth} * 3;
    // The columns the window shares with the picture, the same for every row.
    const int64_t first = std::max<int64_t>(left, 0);
    const int64_t last = std::min<int64_t>(left + cropWidth, width);
    for (uint32_t r = 0; r < cropHeight; ++r) {
        uint8_t* out = dst + r * rowBytes;
        const int64_t sourceRow = top + r;
        if (sourceRow < 0 || sourceRow >= int64_t{height} || first >= last) {
            std::memset(out, 0, rowBytes);
            continue;
        }
        const size_t before = static_cast<size_t>(first - left) * 3;
        const size_t shared = static_cast<size_t>(last - first) * 3;
        std::memset(out, 0, before);
        std::memcpy(out + before, src + (static_cast<size_t>(sourceRow) * width + static_cast<size_t>(first)) * 3, shared);
        std::memset(out + before + shared, 0, rowBytes - before - shared);
    }
    return 1;
}

uint32_t BoostColor(uint8_t* rgb, uint32_t width, uint32_t height)
{
    if (!rgb || ImageBytes(width, height, 24) == UINT64_MAX)
        return Fail(Code::BadArgument);
    const size_t pixels = size_t{width} * height;
    for (size_t i = 0; i < pixels; ++i, rgb += 3) {
        const int y = (77 * rgb[0] + 151 * rgb[1] + 28 * rgb[2]) >> 8;
        for (int c = 0; c < 3; ++c) {
            const int v = (296 * rgb[c] - 40 * y + 127) / 256;
            rgb[c] = static_cast<uint8_t>(std::clamp(v, 0, 255));
        }
    }
    return 1;
}

}  // namespace px::finish

extern "C" uint32_t CropRGB24(const uint8_t* src, uint32_t width, uint32_t height, uint8_t* dst,
                              int32_t left, int32_t top, uint32_t cropWidth, uint32_t cropHeight)
{
    return px::Entry([&] { return px::finish::Crop(src, width, height, dst, left, top, cropWidth, cropHeight); });
}

extern "C" uint32_t BoostColorRGB24(uint8_t* rgb, uint32_t width, uint32_t height)
{
    return px::Entry([&] { return px::finish::BoostColor(rgb, width, height); });
}
