// The JPEG format's entries into the registry.
#pragma once

#include "base/channel.h"
#include "base/image.h"
#include "base/view.h"

#include <cstddef>
#include <cstdint>

namespace px::jpeg {

bool Probe(const uint8_t* header, size_t size) noexcept;
bool Info(Channel& channel, uint32_t& width, uint32_t& height);
// At the thread's decode scale; the header's markers become the thread's captured lists.
GlobalBuffer LoadRGB24(Channel& channel, uint32_t& width, uint32_t& height);
// DCT scaling to the coarsest step that covers the aim, then the rows area-averaged as they
// are decoded; the thread's decode scale plays no part.
Picture LoadReduced(Channel& channel, uint32_t aimWidth, uint32_t aimHeight);

}  // namespace px::jpeg
