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

reader::Probe Probe;
reader::Info Info;
reader::Load LoadRGB24;
// Rows reduced for the aim while they are read: RGB plane by plane, one-plane modes row by
// row; CMYK whole, then reduced.
reader::ReducedLoad LoadReduced;

}  // namespace px::psd
