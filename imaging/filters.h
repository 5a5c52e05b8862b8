// The 3 × 3 neighbourhood filters on RGB24 images: sharpen, soften, median.
#pragma once

#include "base/view.h"

#include <cstdint>

namespace px::filters {

enum class Rule : uint32_t {
    Sharpen = 0,  // the pixel minus k times its Laplacian
    Soften = 1,   // the pixel blended with the mean of its eight neighbours
    Median = 2,   // the middle of the nine values
};

// Runs inside an entry: writes every pixel of dst from src (three bytes a pixel, the same
// size, different buffers), replicating the edge pixels for missing neighbours. Level is taken
// as a signed value and held to 0..100. Returns 1, or 0 with the operation's code set.
uint32_t Filter3x3(const ConstView& src, const View& dst, uint32_t level, Rule rule);

}  // namespace px::filters
