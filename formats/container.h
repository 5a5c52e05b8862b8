// What the HEIF and WebP readers and writers share: their entries' argument checks, owners for
// C library handles, the plane copy into RGB24 and the metadata they keep.
#pragma once

#include "base/c_owner.h"
#include "base/channel.h"
#include "base/image.h"
#include "pxlib.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace px {

using InfoFunction = bool (*)(Channel& channel, uint32_t& width, uint32_t& height);
using LoadFunction = GlobalBuffer (*)(Channel& channel, uint32_t& width, uint32_t& height);
using WriteFunction = bool (*)(Channel& sink, const uint8_t* rgb, uint32_t width, uint32_t height, uint32_t quality,
                               const uint8_t* exif, uint32_t exifSize, const uint8_t* icc, uint32_t iccSize);

// The info, read and write entries of these formats: code 5 for missing or inconsistent
// arguments (a quality outside 1 to 100, a size without its block), then the operation.
uint32_t InfoEntry(DataChannel* source, uint32_t* width, uint32_t* height, InfoFunction info);
uint8_t* ReadEntry(DataChannel* source, uint32_t* width, uint32_t* height, LoadFunction load);
uint32_t WriteEntry(DataChannel* sink, const uint8_t* rgb, uint32_t width, uint32_t height, uint32_t quality,
                    const uint8_t* exif, uint32_t exifSize, const uint8_t* icc, uint32_t iccSize,
                    WriteFunction write);

// False with code 1 when the decoder's RGBA picture of width × height could not be held.
bool DecodableSize(uint32_t width, uint32_t height);

// One interleaved RGB or RGBA row into RGB24, alpha laid onto black.
void FlattenRow(const uint8_t* in, bool alpha, uint32_t width, uint8_t* out) noexcept;

// Interleaved RGB or RGBA rows into a new RGB24 buffer, alpha laid onto black, with progress.
GlobalBuffer FlattenToRGB24(const uint8_t* plane, size_t stride, bool alpha, uint32_t width, uint32_t height);

// Records the picture's EXIF block (in any of the containers' framings), ICC profile and XMP
// packet as the thread's metadata, in place of the last picture's.
void KeepMetadata(const uint8_t* exif, size_t exifSize, const uint8_t* icc, size_t iccSize,
                  const uint8_t* xmp = nullptr, size_t xmpSize = 0);

// The EXIF block to write: the TIFF data of `exif`, or nothing.
std::vector<uint8_t> ExifToWrite(const uint8_t* exif, uint32_t exifSize);

}  // namespace px
