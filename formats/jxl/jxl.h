// JPEG XL over libjxl: the first frame of a bare code stream or a container, upright, with the
// file's EXIF block and colour profile kept as HEIF's are.
#pragma once

#include "formats/reader.h"

namespace px::jxl {

// The bare code stream (FF 0A) or the container's signature box.
reader::Probe Probe;
reader::Info Info;
reader::Load LoadRGB24;

}  // namespace px::jxl
