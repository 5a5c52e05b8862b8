// WebP over libwebp: reading the first frame, and writing with EXIF and ICC chunks.
#pragma once

#include "formats/reader.h"
#include "base/image.h"

namespace px::webp {

reader::Probe Probe;
reader::Info Info;
GlobalBuffer LoadRGB24(Channel& channel, uint32_t& width, uint32_t& height);
// Scaled by libwebp while it decodes, to the area reducer's size for the aim.
reader::ReducedLoad LoadReduced;

bool Write(Channel& sink, const uint8_t* rgb, uint32_t width, uint32_t height, uint32_t quality,
           const uint8_t* exif, uint32_t exifSize, const uint8_t* icc, uint32_t iccSize);

}  // namespace px::webp
