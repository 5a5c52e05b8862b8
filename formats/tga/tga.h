// The TGA reader: raw and run-length TGA files as RGB24, colour-mapped ones also as Index8.
#pragma once

#include "formats/reader.h"

namespace px::tga {

// TGA has no signature: the registry knows its files by their extension alone.
reader::Info Info;
// The picture as RGB24, rows top-down; nothing partial on failure.
reader::Load LoadRGB24;
// The rows area-averaged as they are decoded; a cut file gives the rows that came.
reader::ReducedLoad LoadReduced;

uint8_t* Read(DataChannel* channel, uint32_t* width, uint32_t* height, uint32_t bitsPerPixel,
              uint8_t* palette);

}  // namespace px::tga
