// WebP over libwebp: the registry's entries, reading the first frame.
#pragma once

#include "formats/reader.h"
#include "base/image.h"

namespace px::webp {

reader::Probe Probe;
reader::Info Info;
GlobalBuffer LoadRGB24(Channel& channel, uint32_t& width, uint32_t& height);
// Scaled by libwebp while it decodes, to the area reducer's size for the aim.
reader::ReducedLoad LoadReduced;

}  // namespace px::webp
