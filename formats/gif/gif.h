// GIF over giflib: the first frame of a file, on its logical screen.
#pragma once

#include "base/channel.h"
#include "base/view.h"

#include <cstddef>
#include <cstdint>

namespace px::gif {

bool Probe(const uint8_t* header, size_t size) noexcept;
// The canvas: the logical screen, widened to hold the first frame where a writer made it larger.
bool Info(Channel& channel, uint32_t& width, uint32_t& height);
// The first frame as RGB24 on the canvas; transparent pixels and the uncovered canvas are black,
// as other readers lay transparency. Later frames are never read.
Picture LoadRGB24(Channel& channel);

}  // namespace px::gif
