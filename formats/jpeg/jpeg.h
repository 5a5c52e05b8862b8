// The JPEG format's entries into the registry.
#pragma once

#include "formats/reader.h"
#include "base/image.h"

namespace px::jpeg {

reader::Probe Probe;
reader::Info Info;
// At the thread's decode scale; the header's markers become the thread's captured lists.
reader::Load LoadRGB24;
// DCT scaling to the coarsest step that covers the aim, then the rows area-averaged as they
// are decoded; the thread's decode scale plays no part.
reader::ReducedLoad LoadReduced;

}  // namespace px::jpeg
