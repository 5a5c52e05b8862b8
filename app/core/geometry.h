// Thumbnail geometry: the size a picture is resampled to, and the window cut out of it.
#pragma once

#include "core/settings.h"

#include <cstdint>
#include <optional>

namespace quillet {

struct CropRequest {
    int32_t boxWidth;
    int32_t boxHeight;
    double position;  // share of the spare rows cut away at the bottom
};

struct ThumbnailPlan {
    int32_t width;   // resampled size
    int32_t height;
    int32_t boxWidth;
    int32_t boxHeight;
    std::optional<CropRequest> crop;
};

// The plan for a w × h source (both at least 1). nullopt when the desired box has a side
// below 1 (as the rules see it, signed): such a box describes no thumbnail at all.
std::optional<ThumbnailPlan> ThumbnailGeometry(uint32_t width, uint32_t height, const BatchSettings& settings);

struct CropWindow {
    int64_t left;
    int64_t top;     // may lie outside the picture; those rows come out black
    uint32_t width;
    uint32_t height;
};

// The window CropToBox cuts from a w × h picture, or nullopt when there is nothing to do.
std::optional<CropWindow> CropToBoxWindow(uint32_t width, uint32_t height, const CropRequest& request);

}  // namespace quillet
