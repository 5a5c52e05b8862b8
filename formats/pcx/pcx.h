// The PCX reader's entries in the registry: run-length PCX files as RGB24.
#pragma once

#include "formats/reader.h"

namespace px::pcx {

// Manufacturer byte 10 and a known version.
reader::Probe Probe;
reader::Info Info;
// The picture as RGB24, rows top-down. A cancel returns the rows read so far with code 14.
reader::Load LoadRGB24;
// The rows area-averaged as they are decoded.
reader::ReducedLoad LoadReduced;

}  // namespace px::pcx
