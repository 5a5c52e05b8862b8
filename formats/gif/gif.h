// GIF over giflib: the first frame of a file, on its logical screen.
#pragma once

#include "formats/reader.h"

namespace px::gif {

reader::Probe Probe;
// The canvas: the logical screen, widened to hold the first frame where a writer made it larger.
reader::Info Info;
// The first frame as RGB24 on the canvas; transparent pixels and the uncovered canvas are black,
// as other readers lay transparency. Later frames are never read.
reader::Load LoadRGB24;

}  // namespace px::gif
