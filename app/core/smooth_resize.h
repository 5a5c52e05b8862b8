// The last step of the batch's default road: from a picture already area-averaged to within
// about twice the target, the chosen method's kernel widened by the reduction that remains, so
// no detail finer than a target pixel folds back into the thumbnail. Pixel centres map onto
// pixel centres, so the thumbnail does not shift against its source.
#pragma once

#include <cstdint>

namespace quillet {

// The whole picture's extent in the reduced picture's pixels along one side: a reduced side
// of `loaded` pixels from `stored` ones by a whole factor F (ceil(stored / F) == loaded, also
// for a DCT scale followed by area averaging) covers stored / F of them; the last block is
// partial. `loaded` when no whole factor gives that side (a format's own scaled decode).
double ReducedExtent(uint32_t stored, uint32_t loaded) noexcept;

// RGB24 rows of `width` x `height` (stride width x 3), of which `extentX` x `extentY` pixels
// (at most the size) hold the picture, resized into `destination` (stride targetWidth x 3)
// with a triangle (bilinear) or a cubic (bicubic, a = -0.5) kernel. False when the scratch
// rows cannot be had or a size is 0.
bool SmoothResize(const uint8_t* source, uint32_t width, uint32_t height, double extentX, double extentY,
                  uint8_t* destination, uint32_t targetWidth, uint32_t targetHeight, bool cubic) noexcept;

}  // namespace quillet
