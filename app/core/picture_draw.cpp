// Drawing the image object's picture on a device context.
#include "core/picture_draw.h"

#include <algorithm>

namespace quillet {
namespace {

int32_t Extent(int32_t from, int32_t to)
{
    const int64_t extent = int64_t{to} - from;
    return static_cast<int32_t>(std::clamp<int64_t>(extent, INT32_MIN, INT32_MAX));
}

}  // namespace

uint32_t DrawPicture(HDC dc, const uint8_t* rgb, uint32_t width, uint32_t height, int32_t left,
                     int32_t top, int32_t right, int32_t bottom)
{
    if (!rgb)
        return PX_ERR_BAD_ARGUMENT;
    DrawRGB24(dc, rgb, width, height, left, top, Extent(left, right), Extent(top, bottom), nullptr);
    return GetLastLibraryError();
}

}  // namespace quillet
