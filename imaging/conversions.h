// Pixel layout conversions: the luminance rule and the helpers other operations share.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>

namespace px::convert {

// Y = 0.299 R + 0.587 G + 0.114 B in double precision, truncated: the one luminance rule.
uint8_t Luminance(uint8_t red, uint8_t green, uint8_t blue) noexcept;

// Luminance of `count` RGB24 pixels into `count` grey bytes. Reports no progress.
void LuminanceRow(const uint8_t* rgb, size_t count, uint8_t* grey) noexcept;

// False (and code 5) when width × height × bytesPerPixel does not fit in 64 bits: no
// buffer of that size can exist, so the arguments are wrong.
bool Addressable(uint32_t width, uint32_t height, uint64_t bytesPerPixel) noexcept;

// Ordinary-heap scratch memory, uninitialised; null (and code 1) when it cannot be had.
// Must be called inside an entry.
std::unique_ptr<uint8_t[]> ScratchOrFail(uint64_t bytes) noexcept;

}  // namespace px::convert
