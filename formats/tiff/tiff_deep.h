// TIFF samples that libtiff's RGBA interface does not take: floating point and 32-bit integers.
#pragma once

#include "base/image.h"

#include <tiffio.h>

namespace px::tiff {

// True for a page of floating-point samples or 32-bit integers.
bool IsDeep(TIFF* tif) noexcept;

// Such a page of strips, grey or RGB (further samples dropped), as RGB24 or opaque RGBA (bits 24
// or 32): floats scaled by the file's own sample range or else 0 to 1, integers by their full
// range, rounded. Empty with a code when the layout is not one of these.
GlobalBuffer ReadDeep(TIFF* tif, uint32_t width, uint32_t height, uint32_t bits);

}  // namespace px::tiff
