// The PCX reader: run-length PCX files as RGB24 or Index8, whole or one row at a time.
#pragma once

#include "formats/reader.h"

namespace px::pcx {

// Manufacturer byte 10 and a known version.
reader::Probe Probe;
reader::Info Info;
// The picture as RGB24, rows top-down. A cancel returns the rows read so far with code 14.
reader::Load LoadRGB24;
// The rows area-averaged as they are decoded.
reader::ReducedLoad LoadReduced;

uint8_t* Read(DataChannel* channel, uint32_t* width, uint32_t* height, uint32_t bitsPerPixel,
              uint8_t* palette);
PCXRowReader* BeginRows(DataChannel* channel, uint32_t* width, uint32_t* height);
uint32_t ReadRow(PCXRowReader* reader, uint8_t* row, uint32_t* rowNumber);
uint32_t EndRows(PCXRowReader* reader);

}  // namespace px::pcx
