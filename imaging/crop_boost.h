// Crop and colour boost of RGB24 images, the last steps of a thumbnail.
#pragma once

#include <cstdint>

namespace px::finish {

// The cropWidth × cropHeight window at (left, top) of src into dst; what lies outside the
// picture comes out black. Inside an entry; 0 with code 5 for wrong arguments.
uint32_t Crop(const uint8_t* src, uint32_t width, uint32_t height, uint8_t* dst, int64_t left,
              int64_t top, uint32_t cropWidth, uint32_t cropHeight);

// Pushes each channel away from the pixel's luminance (integer weights 77, 151, 28) by 15.625 %.
uint32_t BoostColor(uint8_t* rgb, uint32_t width, uint32_t height);

}  // namespace px::finish
