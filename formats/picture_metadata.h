// Whole-file input for the container readers and the metadata they found, kept per thread.
#pragma once

#include "base/channel.h"

#include <cstdint>
#include <vector>

namespace px {

// The rest of the channel into `bytes`, from its start. False with Fail(code) when the channel
// cannot be rewound or read, code 1 past the allocation gate.
bool ReadWholeChannel(Channel& channel, std::vector<uint8_t>& bytes);

// EXIF (TIFF data), ICC profile and XMP packet of the last HEIF, AVIF or WebP picture read on
// this thread.
// With the XMP packet the thread's WebP and AVIF writers add.
struct PictureMetadata {
    std::vector<uint8_t> exif;
    std::vector<uint8_t> icc;
    std::vector<uint8_t> xmp;
    std::vector<uint8_t> outputXmp;
};

// The calling thread's record; throws std::bad_alloc when it cannot be made.
PictureMetadata& ThreadMetadata();

// The bytes from the TIFF header on: drops an "Exif\0\0" prefix or a HEIF offset word.
std::vector<uint8_t> TiffPart(const uint8_t* data, size_t size);

}  // namespace px
