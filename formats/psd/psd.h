// PSD reading: the composite image of an "8BPS" document, and the PackBits row decoder.
#pragma once

#include "formats/reader.h"

namespace px::psd {

// Writes decoded byte i to destination[i * stride + offset] for i < pixels; the rest of a
// longer row is dropped. False when the source ends inside a run.
bool UnpackRow(uint8_t* destination, uint32_t pixels, uint32_t stride, uint32_t offset,
               const uint8_t* source, uint32_t length) noexcept;

// DecodePackBits's work, with its argument checks.
uint32_t DecodeRow(uint8_t* destination, uint32_t pixels, uint32_t stride, uint32_t offset,
                   const uint8_t* source, uint32_t length, uint32_t options);

// bits 24 (RGB24) or 8 (Index8 with 256 RGBQUAD entries in palette).
GlobalBuffer Read(Channel& channel, uint32_t& width, uint32_t& height, uint32_t bits, uint8_t* palette);

// ReadPSD's work: checks the arguments and the handle, hands the image to the caller.
uint8_t* Decode(DataChannel* source, uint32_t* width, uint32_t* height, uint32_t bits, uint8_t* palette);

reader::Probe Probe;
reader::Info Info;
reader::Load LoadRGB24;
// Rows reduced for the aim while they are read: RGB plane by plane, one-plane modes row by
// row; CMYK whole, then reduced.
reader::ReducedLoad LoadReduced;

}  // namespace px::psd
