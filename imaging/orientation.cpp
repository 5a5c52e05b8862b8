// Turning and mirroring RGB24 pictures by the eight EXIF orientations, and its entry.
#include "imaging/orientation.h"

#include "base/frame.h"
#include "base/image.h"

#include <algorithm>
#include <cstring>

namespace px::orient {
namespace {

// Where output pixel (x, y) comes from: source byte offset = base + x × stepX + y × stepY.
struct Walk {
    int64_t base;
    int64_t stepX;
    int64_t stepY;
};

Walk WalkFor(uint32_t orientation, int64_t w, int64_t h, int64_t stride)
{
    const int64_t last = (h - 1) * stride;
    const int64_t right = (w - 1) * 3;
    switch (orientation) {
    case 2: return {right, -3, stride};               // mirrored left to right
    case 3: return {last + right, -3, -stride};       // turned half way
    case 4: return {last, 3, -stride};                // mirrored top to bottom
    case 5: return {0, stride, 3};                    // mirrored along the main diagonal
    case 6: return {last, -stride, 3};                // needs a quarter turn clockwise
    case 7: return {last + right, -stride, -3};       // mirrored along the other diagonal
    case 8: return {right, stride, -3};               // needs a quarter turn anticlockwise
    default: return {0, 3, stride};
    }
}

// Tiles keep both the rows read and the rows written in cache when the walk crosses rows.
constexpr uint32_t kTile = 64;

}  // namespace

uint32_t Orient(const ConstView& source, const View& destination, uint32_t orientation)
{
    if (!source.Usable() || !destination.data || orientation < 1 || orientation > 8 ||
        source.channels != 3 || destination.channels != 3)
        return Fail(Code::BadArgument);
    const uint32_t width = source.width, height = source.height;
    const bool turned = orientation >= 5;
    const uint32_t outWidth = turned ? height : width;
    const uint32_t outHeight = turned ? width : height;
    if (destination.width != outWidth || destination.height != outHeight)
        return Fail(Code::BadArgument);
    const uint64_t bytes = source.Bytes();
    const uint64_t outBytes = destination.Bytes();
    if (bytes >= kMaxGlobalBytes || outBytes >= kMaxGlobalBytes || source.stride < width * size_t{3} ||
        destination.stride < outWidth * size_t{3})
        return Fail(Code::BadArgument);
    if (source.data < destination.data + outBytes && destination.data < source.data + bytes)
        return Fail(Code::BadArgument);  // overlapping buffers would read what was written
    if (orientation == 1) {
        // Row by row, so that the padding of padded rows stays as it was.
        const size_t rowBytes = size_t{width} * 3;
        if (source.stride == rowBytes && destination.stride == rowBytes)
            std::memcpy(destination.data, source.data, bytes);
        else
            for (uint32_t y = 0; y < height; ++y)
                std::memcpy(destination.Row(y), source.Row(y), rowBytes);
        return 1;
    }
    const Walk walk = WalkFor(orientation, width, height, static_cast<int64_t>(source.stride));
    for (uint32_t ty = 0; ty < outHeight; ty += kTile) {
        const uint32_t yEnd = std::min(outHeight, ty + kTile);
        for (uint32_t tx = 0; tx < outWidth; tx += kTile) {
            const uint32_t xEnd = std::min(outWidth, tx + kTile);
            for (uint32_t y = ty; y < yEnd; ++y) {
                uint8_t* out = destination.Row(y) + size_t{tx} * 3;
                int64_t at = walk.base + int64_t{tx} * walk.stepX + int64_t{y} * walk.stepY;
                for (uint32_t x = tx; x < xEnd; ++x, out += 3, at += walk.stepX) {
                    const uint8_t* in = source.data + at;
                    out[0] = in[0];
                    out[1] = in[1];
                    out[2] = in[2];
                }
            }
        }
    }
    return 1;
}

}  // namespace px::orient

extern "C" uint32_t OrientRGB24(const uint8_t* source, uint32_t width, uint32_t height,
                                uint8_t* destination, uint32_t orientation)
{
    const bool turned = orientation >= 5 && orientation <= 8;
    return px::Entry([&] {
        return px::orient::Orient(px::ConstView::RGB24(source, width, height),
                                  px::View::RGB24(destination, turned ? height : width, turned ? width : height),
                                  orientation);
    });
}
