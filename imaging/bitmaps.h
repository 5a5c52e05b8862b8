// Bitmap conversions other parts of the library use from inside an entry.
#pragma once

#include "pxlib.h"

#include <cstdint>

namespace px::bitmaps {

// DDBToRGB24 without the frame: a new RGB24 image of a device bitmap, or null with the code
// recorded in the running operation.
uint8_t* DdbToRgb24Image(HBITMAP bitmap, uint32_t* width, uint32_t* height, HPALETTE palette);

}  // namespace px::bitmaps
