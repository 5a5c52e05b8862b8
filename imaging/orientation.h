// Turning and mirroring RGB24 pictures by the eight EXIF orientations.
#pragma once

#include "base/view.h"

#include <cstdint>

namespace px::orient {

// Writes the upright form of a picture stored with `orientation` (1 to 8) into destination,
// which for 5 to 8 is as wide as the source is high. Both three bytes a pixel, not
// overlapping; rows may be padded.
uint32_t Orient(const ConstView& source, const View& destination, uint32_t orientation);

}  // namespace px::orient
