// BMP writing: uncompressed 24-bit and 8-bit palettised files.
#pragma once

#include "formats/reader.h"

namespace px::bmp {

reader::Save Save;

}  // namespace px::bmp
