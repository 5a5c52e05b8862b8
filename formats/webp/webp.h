// WebP over libwebp: reading the first frame, and writing with EXIF and ICC chunks.
#pragma once

#include "base/channel.h"
#include "base/image.h"
#include "base/view.h"

#include <cstddef>
#include <cstdint>

namespace px::webp {

bool Probe(const uint8_t* header, size_t size) noexcept;
bool Info(Channel& channel, uint32_t& width, uint32_t& height);
GlobalBuffer LoadRGB24(Channel& channel, uint32_t& width, uint32_t& height);
// Scaled by libwebp while it decodes, to the area reducer's size for the aim.
Picture LoadReduced(Channel& channel, uint32_t aimWidth, uint32_t aimHeight);

bool Write(Channel& sink, const uint8_t* rgb, uint32_t width, uint32_t height, uint32_t quality,
           const uint8_t* exif, uint32_t exifSize, const uint8_t* icc, uint32_t iccSize);

}  // namespace px::webp
