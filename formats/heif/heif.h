// HEIF and AVIF over libheif: the registry's entries, reading the primary image upright.
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

}  // namespace px::heif
