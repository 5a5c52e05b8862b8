// TIFF pages that libtiff's RGBA interface does not take or reduces by truncating: samples of 12,
// 16 and 32 bits and floating point, grey, RGB or CMYK inks.
#pragma once

#include "base/image.h"

#include <tiffio.h>

namespace px::tiff {

// True for a page this file reads rather than libtiff's RGBA interface.
bool IsDeep(TIFF* tif) noexcept;

// Such a page of strips or tiles, grey, RGB or CMYK with an optional alpha sample, as RGB24 or
// RGBA (bits 24 or 32): floats scaled by the file's own sample range or else 0 to 1, integers by
// their full range, rounded; unassociated alpha laid onto black; orientation flips as libtiff's
// RGBA interface makes them. Empty with a code when the layout is not one of these.
GlobalBuffer ReadDeep(TIFF* tif, uint32_t width, uint32_t height, uint32_t bits);

// Bytes a strip or tile may hold beyond the page's own when the page is smaller.
inline constexpr uint64_t kBlockSlackBytes = uint64_t{4} << 20;

}  // namespace px::tiff
