// Drawing the image object's picture on a device context, 1:1 from its top left corner.
#pragma once

#include "pxlib.h"

#include <cstdint>

namespace quillet {

// Draws rgb (width x height, RGB24) at (left, top), clipped to the rectangle up to
// (right, bottom), with no palette. 5 without a picture, else the library's last error
// (0 when drawn).
uint32_t DrawPicture(HDC dc, const uint8_t* rgb, uint32_t width, uint32_t height, int32_t left,
                     int32_t top, int32_t right, int32_t bottom);

}  // namespace quillet
