// Turning and mirroring RGB24 pictures by the eight EXIF orientations, and its entry.
#include "imaging/orientation.h"

#include "base/frame.h"
#include "base/image.h"

#include <algorithm>
#include <cstring>

namespace px::orient {
namespace {

// Where output pixel (x, y) comes from: source index = base + x × stepX + y × stepY.
struct Walk {
    int64_t base;
    int64_t stepX;
    int64_t stepY;
};

Walk WalkFor(uint32_t orientation, int64_t w, int64_t h)
{
    const int64_t last = (h - 1) * w;
    switch (orientation) {
    case 2: return {w - 1, -1, w};             // mirrored left to right
    case 3: return {last + w - 1, -1, -w};     // turned half way
    case 4: return {last, 1, -w};              // mirrored top to bottom
    case 5: return {0, w, 1};                  // mirrored along the main diagonal
    case 6: return {last, -w, 1};              // needs a quarter turn clockwise
    case 7: return {last + w - 1, -w, -1};     // mirrored along the other diagonal
    case 8: return {w - 1, w, -1};             // needs a quarter turn anticlockwise
    default: return {0, 1, w};
    }
}

// Tiles keep both the rows read and the rows written in cache when the walk crosses rows.
constexpr uint32_t kTile = 64;

}  // namespace

uint32_t Orient(const uint8_t* source, uint32_t width, uint32_t height, uint8_t* destination,
                uint32_t orientation)
{
    if (!source || !destination || width == 0 || height == 0 || orientation < 1 || orientation > 8)
        return Fail(Code::BadArgument);
    const uint64_t bytes = ImageBytes(width, height, 24);
    if (bytes >= kMaxGlobalBytes)
        return Fail(Code::BadArgument);
    if (source < destination + bytes && destination < source + bytes)
        return Fail(Code::BadArgument);  // overlapping buffers would read what was written
    if (orientation == 1) {
        std::memcpy(destination, source, bytes);
        return 1;
    }
    const bool turned = orientation >= 5;
    const uint32_t outWidth = turned ? height : width;
    const uint32_t outHeight = turned ? width : height;
    const Walk walk = WalkFor(orientation, width, height);
    for (uint32_t ty = 0; ty < outHeight; ty += kTile) {
        const uint32_t yEnd = std::min(outHeight, ty + kTile);
        for (uint32_t tx = 0; tx < outWidth; tx += kTile) {
            const uint32_t xEnd = std::min(outWidth, tx + kTile);
            for (uint32_t y = ty; y < yEnd; ++y) {
                uint8_t* out = destination + (uint64_t{y} * outWidth + tx) * 3;
                int64_t at = walk.base + int64_t{tx} * walk.stepX + int64_t{y} * walk.stepY;
                for (uint32_t x = tx; x < xEnd; ++x, out += 3, at += walk.stepX) {
                    const uint8_t* in = source + at * 3;
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
    return px::Entry([&] { return px::orient::Orient(source, width, height, destination, orientation); });
}
