// Crop and colour boost of RGB24 images.
#include "imaging/crop_boost.h"

#include "base/frame.h"
#include "base/image.h"
#include "base/view.h"

#include <algorithm>
#include <cstring>

namespace px::finish {

uint32_t Crop(const ConstView& src, const View& dst, int64_t left, int64_t top)
{
    if (!src.Usable() || !dst.Usable() || src.data == dst.data || src.channels != 3 || dst.channels != 3)
        return Fail(Code::BadArgument);
    if (src.Bytes() == UINT64_MAX || dst.Bytes() == UINT64_MAX)
        return Fail(Code::BadArgument);
    const uint32_t width = src.width, height = src.height;
    const size_t rowBytes = size_t{dst.width} * 3;
    // The columns the window shares with the picture, the same for every row.
    const int64_t first = std::max<int64_t>(left, 0);
    const int64_t last = std::min<int64_t>(left + dst.width, width);
    for (uint32_t r = 0; r < dst.height; ++r) {
        uint8_t* out = dst.Row(r);
        const int64_t sourceRow = top + r;
        if (sourceRow < 0 || sourceRow >= int64_t{height} || first >= last) {
            std::memset(out, 0, rowBytes);
            continue;
        }
        const size_t before = static_cast<size_t>(first - left) * 3;
        const size_t shared = static_cast<size_t>(last - first) * 3;
        std::memset(out, 0, before);
        std::memcpy(out + before, src.Row(static_cast<uint32_t>(sourceRow)) + static_cast<size_t>(first) * 3, shared);
        std::memset(out + before + shared, 0, rowBytes - before - shared);
    }
    return 1;
}

uint32_t BoostColor(const View& rgb)
{
    if (!rgb.data || rgb.channels != 3 || rgb.Bytes() == UINT64_MAX)
        return Fail(Code::BadArgument);
    for (uint32_t row = 0; row < rgb.height; ++row) {
        uint8_t* p = rgb.Row(row);
        for (uint32_t x = 0; x < rgb.width; ++x, p += 3) {
            const int y = (77 * p[0] + 151 * p[1] + 28 * p[2]) >> 8;
            for (int c = 0; c < 3; ++c) {
                const int v = (296 * p[c] - 40 * y + 127) / 256;
                p[c] = static_cast<uint8_t>(std::clamp(v, 0, 255));
            }
        }
    }
    return 1;
}

}  // namespace px::finish

extern "C" uint32_t CropRGB24(const uint8_t* src, uint32_t width, uint32_t height, uint8_t* dst,
                              int32_t left, int32_t top, uint32_t cropWidth, uint32_t cropHeight)
{
    return px::Entry([&] {
        return px::finish::Crop(px::ConstView::RGB24(src, width, height),
                                px::View::RGB24(dst, cropWidth, cropHeight), left, top);
    });
}

extern "C" uint32_t BoostColorRGB24(uint8_t* rgb, uint32_t width, uint32_t height)
{
    return px::Entry([&] { return px::finish::BoostColor(px::View::RGB24(rgb, width, height)); });
}
