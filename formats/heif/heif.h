// HEIF and AVIF over libheif: reading the primary image upright, and writing AVIF.
#pragma once

#include "base/channel.h"
#include "base/image.h"
#include "base/view.h"

#include <cstddef>
#include <cstdint>

namespace px::heif {

bool ProbeHeif(const uint8_t* header, size_t size) noexcept;
bool ProbeAvif(const uint8_t* header, size_t size) noexcept;
bool Info(Channel& channel, uint32_t& width, uint32_t& height);
GlobalBuffer LoadRGB24(Channel& channel, uint32_t& width, uint32_t& height);
// The file's own thumbnail when it covers the aim, else the whole decode; then area-averaged.
Picture LoadReduced(Channel& channel, uint32_t aimWidth, uint32_t aimHeight);

// RGB24 to AVIF through the sink; exif and icc may be empty.
bool WriteAvif(Channel& sink, const uint8_t* rgb, uint32_t width, uint32_t height, uint32_t quality,
               const uint8_t* exif, uint32_t exifSize, const uint8_t* icc, uint32_t iccSize);

}  // namespace px::heif
