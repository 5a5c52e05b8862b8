// The TGA reader: raw and run-length TGA files as RGB24, colour-mapped ones also as Index8.
#pragma once

#include "base/channel.h"
#include "base/view.h"

#include <cstddef>
#include <cstdint>

namespace px::tga {

// TGA has no signature: the registry knows its files by their extension alone.
bool Info(Channel& channel, uint32_t& width, uint32_t& height);
// The picture as RGB24, rows top-down; nothing partial on failure.
Picture LoadRGB24(Channel& channel);
// The rows area-averaged as they are decoded; a cut file gives the rows that came.
Picture LoadReduced(Channel& channel, uint32_t aimWidth, uint32_t aimHeight);

uint8_t* Read(DataChannel* channel, uint32_t* width, uint32_t* height, uint32_t bitsPerPixel,
              uint8_t* palette);

}  // namespace px::tga
