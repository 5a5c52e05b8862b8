// Turning and mirroring RGB24 pictures by the eight EXIF orientations.
#pragma once

#include <cstdint>

namespace px::orient {

// Writes the upright form of a picture stored with `orientation` (1 to 8) into destination,
// which holds width × height × 3 bytes; for 5 to 8 the result is height wide.
uint32_t Orient(const uint8_t* source, uint32_t width, uint32_t height, uint8_t* destination,
                uint32_t orientation);

}  // namespace px::orient
