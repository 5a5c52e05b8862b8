// BMP writing: uncompressed 24-bit and 8-bit palettised files.
#pragma once

#include "base/channel.h"

#include <cstdint>

namespace px::bmp {

bool Save(Channel& sink, const uint8_t* pixels, uint32_t width, uint32_t height, uint32_t bits,
          const uint8_t* palette);

}  // namespace px::bmp
