// PNG writing: RGB (colour type 2) or palettised (colour type 3), 8 bits.
#pragma once

#include "formats/reader.h"

namespace px::png {

// bits 24 (colour type 2) or 8 (colour type 3 with 256 RGBQUAD entries).
reader::Save Save;

}  // namespace px::png
