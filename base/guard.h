// The claimed-size guard every reader calls right after its header, before allocating.
#pragma once

#include "base/channel.h"
#include "base/frame.h"

#include <cstdint>

namespace px {

// False (with `refusal` recorded and a debug line) when the bytes still readable from the
// channel could not encode width × height × components samples even at `maxExpansion` samples
// per byte: a header claiming far more than its file holds. A channel whose size is unknown
// (0) passes. `maxExpansion` is the format's best possible ratio, so genuine files, even ones
// cut short after real data, always pass. `buffered` counts bytes a decoder has already read
// from the channel and not yet used.
bool GuardClaim(Channel& channel, uint64_t width, uint64_t height, uint32_t components,
                uint64_t maxExpansion, Code refusal, uint64_t buffered = 0) noexcept;

}  // namespace px
