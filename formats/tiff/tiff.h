// TIFF reading over libtiff through a data channel: page info, RGBA pages, bilevel pages.
#pragma once

#include "formats/reader.h"

namespace px::tiff {

// The work of the public entries; each checks its arguments and the handle itself.
uint32_t GetInfo(DataChannel* source, uint32_t* width, uint32_t* height, uint32_t* bitsPerPixel,
                 uint32_t* resolution);
uint16_t CountPages(DataChannel* source);
uint8_t* ReadPage(DataChannel* source, uint32_t* width, uint32_t* height, uint32_t bits, uint16_t page);
uint8_t* ReadBilevel(DataChannel* source, uint32_t* width, uint32_t* height, uint16_t page, bool mono);
uint32_t BilevelCompression(DataChannel* source, uint16_t page, uint32_t* kind);

// bits 24 or 32.
GlobalBuffer Read(Channel& channel, uint32_t& width, uint32_t& height, uint32_t bits, uint16_t page);

reader::Probe Probe;
reader::Info Info;
reader::Load LoadRGB24;
// The first page's rows, in bands of strips or tiles, area-averaged as they are decoded.
reader::ReducedLoad LoadReduced;

}  // namespace px::tiff
