// Per-thread options of the imaging operations.
#pragma once

#include <cstdint>

namespace px {

struct ImagingOptions {
    uint32_t bitmapSectionFlag = 0;  // 1: device bitmaps are made through a DIB section
    uint32_t ditherErrorLimit = 20;  // largest error per channel the colour reduction diffuses
};

// The calling thread's options; null only when they cannot be had.
ImagingOptions* ThreadImagingOptions() noexcept;

}  // namespace px
