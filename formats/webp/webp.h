// WebP over libwebp: reading the first frame, and writing with EXIF and ICC chunks.
#pragma once

#include "base/channel.h"
#include "base/image.h"

#include <cstddef>
#include <cstdint>

namespace px::webp {

bool Probe(const uint8_t* header, size_t size) noexcept;
bool Info(Channel& channel, uint32_t& width, uint32_t& height);
GlobalBuffer LoadRGB24(Channel& channel, uint32_t& width, uint32_t& height);

bool Write(Channel& sink, const uint8_t* rgb, uint32_t width, uint32_t height, uint32_t quality,
           const uint8_t* exif, uint32_t exifSize, const uint8_t* icc, uint32_t iccSize);

}  // namespace px::webp
