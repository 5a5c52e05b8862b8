// TIFF writing: one page, RGB or palettised, LZW.
#pragma once

#include "formats/reader.h"

namespace px::tiff {

// bits 24 (RGB) or 8 (palette of 256 RGBQUAD entries).
reader::Save Save;

}  // namespace px::tiff
