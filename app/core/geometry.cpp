// Thumbnail geometry, in the exact arithmetic thumbnails have always been made with:
// double ratios, every conversion to pixels truncated toward zero.
#include "core/geometry.h"

#include <algorithm>
#include <cmath>

namespace quillet {
namespace {

// Scales w × h by the ratio the rule picked; a ratio of 0 or less gives the box itself.
void ApplyRatio(double r, int64_t w, int64_t h, int32_t bw, int32_t bh, int64_t& nw, int64_t& nh)
{
    if (r > 0) {
        nw = static_cast<int64_t>(std::trunc(static_cast<double>(w) / r));
        nh = static_cast<int64_t>(std::trunc(static_cast<double>(h) / r));
    } else {
        nw = bw;
        nh = bh;
    }
}

}  // namespace

std::optional<ThumbnailPlan> ThumbnailGeometry(uint32_t width, uint32_t height, const BatchSettings& s)
{
    const int64_t w = width;
    const int64_t h = height;
    const bool portrait = w < h;
    int32_t bw = static_cast<int32_t>(s.Width);
    int32_t bh = static_cast<int32_t>(s.Height);
    if (portrait && s.Portrait == ReverseBox)
        std::swap(bw, bh);
    if (bw < 1 || bh < 1)
        return std::nullopt;

    int64_t nw = w;
    int64_t nh = h;
    const bool exceeds = bw < w || bh < h;
    const double rw = static_cast<double>(w) / bw;
    const double rh = static_cast<double>(h) / bh;
    const bool contain = s.Type == FitInside || s.Portrait == FitInsideAll;
    const bool cover = !contain && (s.Type == PerfectFit || s.Type == FitOutside);
    if (exceeds && contain)
        ApplyRatio(std::max(rw, rh), w, h, bw, bh, nw, nh);
    else if (exceeds && cover)
        ApplyRatio(std::min(rw, rh), w, h, bw, bh, nw, nh);

    // An extreme aspect ratio can truncate a side to nothing; a thumbnail keeps one pixel.
    nw = std::clamp<int64_t>(nw, 1, INT32_MAX);
    nh = std::clamp<int64_t>(nh, 1, INT32_MAX);

    ThumbnailPlan plan{static_cast<int32_t>(nw), static_cast<int32_t>(nh), bw, bh, std::nullopt};
    const bool larger = nw > bw || nh > bh;
    if (portrait && s.Portrait == CropLandscape) {
        if (larger)
            plan.crop = CropRequest{bw, bh, static_cast<double>(s.Middle) * 0.01};
    } else if (s.Type == PerfectFit && larger) {
        plan.crop = CropRequest{bw, bh, 0.5};
    }
    return plan;
}

std::optional<CropWindow> CropToBoxWindow(uint32_t width, uint32_t height, const CropRequest& r)
{
    const int64_t w = width;
    const int64_t h = height;
    const int64_t dx = std::max<int64_t>((w - r.boxWidth) / 2, 0);
    const int64_t dy = std::max<int64_t>((h - r.boxHeight) / 2, 0);
    int64_t shift = 0;
    if (r.position != 0.5) {
        const double d = static_cast<double>(dy);
        shift = static_cast<int64_t>(std::trunc(d - (2.0 * d) * r.position));
    }
    const int64_t ow = std::min<int64_t>(r.boxWidth, w);
    const int64_t oh = std::min<int64_t>(r.boxHeight, h);
    if (ow < 1 || oh < 1 || (ow == w && oh == h))
        return std::nullopt;
    return CropWindow{dx, dy + shift, static_cast<uint32_t>(ow), static_cast<uint32_t>(oh)};
}

}  // namespace quillet
