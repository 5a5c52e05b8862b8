// Auto brightness and levels: the level tables of the percentile stretch and equalisation.
#pragma once

#include <cstdint>

namespace px::levels {

using Histogram = uint64_t[256];
using LevelMap = uint8_t[256];

// The percentile stretch of a histogram of `count` values, as a table from old level to
// new. Both percentages are limited to 0..100 first.
void StretchMap(const Histogram histogram, uint64_t count, double lowPercent, double highPercent, LevelMap map) noexcept;

// The equalisation of the levels strictly between low and high; other levels map to
// themselves.
void EqualizeMap(const Histogram histogram, uint32_t low, uint32_t high, LevelMap map) noexcept;

}  // namespace px::levels
