// The BMP reader: whole pictures as RGB24, Index8 or Mono1, and one row at a time.
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

// The operations behind the C entries.
uint8_t* Read(DataChannel* channel, uint32_t* width, uint32_t* height, uint32_t bitsPerPixel,
              uint8_t* palette);
BMPRowReader* BeginRows(DataChannel* channel, uint32_t* width, uint32_t* height, uint8_t* palette);
uint32_t ReadRow(BMPRowReader* reader, uint8_t* row, uint32_t* rowsLeft);
uint32_t EndRows(BMPRowReader* reader);

}  // namespace px::bmp
