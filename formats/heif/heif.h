// HEIF and AVIF over libheif: reading the primary image upright, and writing AVIF.
#pragma once

#include "formats/reader.h"
#include "base/image.h"

namespace px::heif {

reader::Probe ProbeHeif;
reader::Probe ProbeAvif;
reader::Info Info;
GlobalBuffer LoadRGB24(Channel& channel, uint32_t& width, uint32_t& height);
// The file's own thumbnail when it covers the aim, else the whole decode; then area-averaged.
reader::ReducedLoad LoadReduced;

// RGB24 to AVIF through the sink; exif and icc may be empty.
bool WriteAvif(Channel& sink, const uint8_t* rgb, uint32_t width, uint32_t height, uint32_t quality,
               const uint8_t* exif, uint32_t exifSize, const uint8_t* icc, uint32_t iccSize);

}  // namespace px::heif
