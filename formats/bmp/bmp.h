// The BMP reader's entries in the registry.
#pragma once

#include "formats/reader.h"

namespace px::bmp {

// "BM" at the start.
reader::Probe Probe;
// The picture's size from its headers; false with a code when they are not a readable BMP.
reader::Info Info;
// The picture as RGB24, rows top-down. A file that ends early or a cancel returns the rows
// read so far together with the code, as ReadBMP does.
reader::Load LoadRGB24;
// The rows area-averaged as they are read (RLE pictures whole first); cut files likewise.
reader::ReducedLoad LoadReduced;

}  // namespace px::bmp
