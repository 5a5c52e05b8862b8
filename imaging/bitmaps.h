// Bitmap conversions other parts of the library use from inside an entry.
#pragma once

#include "base/view.h"
#include "pxlib.h"

#include <cstdint>

namespace px::bitmaps {

// DDBToRGB24 without the frame: the device bitmap as a new dense RGB24 picture; empty, with
// the code recorded in the running operation, when it cannot be had.
Picture DdbToRgb24Image(HBITMAP bitmap, HPALETTE palette);

}  // namespace px::bitmaps
