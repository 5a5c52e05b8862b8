// The PCX reader: run-length PCX files as RGB24 or Index8, whole or one row at a time.
#pragma once

#include "base/channel.h"
#include "base/view.h"

#include <cstddef>
#include <cstdint>

namespace px::pcx {

// Manufacturer byte 10 and a known version.
bool Probe(const uint8_t* header, size_t size) noexcept;
bool Info(Channel& channel, uint32_t& width, uint32_t& height);
// The picture as RGB24, rows top-down. A cancel returns the rows read so far with code 14.
Picture LoadRGB24(Channel& channel);
// The rows area-averaged as they are decoded.
Picture LoadReduced(Channel& channel, uint32_t aimWidth, uint32_t aimHeight);

uint8_t* Read(DataChannel* channel, uint32_t* width, uint32_t* height, uint32_t bitsPerPixel,
              uint8_t* palette);
PCXRowReader* BeginRows(DataChannel* channel, uint32_t* width, uint32_t* height);
uint32_t ReadRow(PCXRowReader* reader, uint8_t* row, uint32_t* rowNumber);
uint32_t EndRows(PCXRowReader* reader);

}  // namespace px::pcx
