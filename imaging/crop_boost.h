// Crop and colour boost of RGB24 images, the last steps of a thumbnail.
#pragma once

#include "base/view.h"

#include <cstdint>

namespace px::finish {

// The window of dst's size at (left, top) of src into dst (three bytes a pixel, different
// buffers); what lies outside the picture comes out black. Inside an entry; 0 with code 5 for
// wrong arguments.
uint32_t Crop(const ConstView& src, const View& dst, int64_t left, int64_t top);

// Pushes each channel away from the pixel's luminance (integer weights 77, 151, 28) by 15.625 %.
uint32_t BoostColor(const View& rgb);

}  // namespace px::finish
