// JPEG XL over libjxl: the first frame of a bare code stream or a container, upright, with the
// file's EXIF block and colour profile kept as HEIF's are.
#pragma once

#include "base/channel.h"
#include "base/view.h"

#include <cstddef>
#include <cstdint>

namespace px::jxl {

// The bare code stream (FF 0A) or the container's signature box.
bool Probe(const uint8_t* header, size_t size) noexcept;
bool Info(Channel& channel, uint32_t& width, uint32_t& height);
Picture LoadRGB24(Channel& channel);

}  // namespace px::jxl
