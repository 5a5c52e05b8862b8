// Bilinear and bicubic resampling of interleaved 8-bit pixels.
#pragma once

#include "base/view.h"

#include <cstdint>

namespace px::resample {

// Both run inside an entry and return 1, or 0 with the operation's code set. Source and
// destination have the same bytes a pixel (any layout but Mono1; Samples for no meaning) and
// may have padded rows.
uint32_t Bilinear(const ConstView& source, const View& destination);
uint32_t Bicubic(const ConstView& source, const View& destination);

// Bicubic without any scratch memory, byte for byte the same result; Bicubic falls back to
// it when its tables cannot be had, so that it never fails for lack of memory. Arguments
// must already be checked.
uint32_t BicubicUnbuffered(const ConstView& source, const View& destination);

}  // namespace px::resample
