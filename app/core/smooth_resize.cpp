// Separable resampling with a kernel as wide as the reduction: weights in 14-bit fixed point,
// rows first into an 8-bit band, then columns.
#include "core/smooth_resize.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <new>
#include <vector>

namespace quillet {
namespace {

constexpr int kShift = 14;
constexpr int32_t kOne = 1 << kShift;

double Triangle(double x)
{
    x = std::fabs(x);
    return x < 1.0 ? 1.0 - x : 0.0;
}

// Keys' cubic with a = -0.5, the usual bicubic.
double Cubic(double x)
{
    x = std::fabs(x);
    if (x < 1.0)
        return (1.5 * x - 2.5) * x * x + 1.0;
    if (x < 2.0)
        return ((-0.5 * x + 2.5) * x - 4.0) * x + 2.0;
    return 0.0;
}

// For every destination index, the first source index and its taps' weights, which sum to
// kOne; taps that would fall outside the source are left out and the rest renormalised.
struct Taps {
    std::vector<uint32_t> first;
    std::vector<uint32_t> count;
    std::vector<int32_t> weights;  // `span` a destination index
    uint32_t span = 0;
};

bool MakeTaps(uint32_t size, double extent, uint32_t target, bool cubic, Taps& taps)
{
    const double scale = extent / target;
    const double widen = std::max(1.0, scale);
    const double support = (cubic ? 2.0 : 1.0) * widen;
    taps.span = static_cast<uint32_t>(std::ceil(support)) * 2 + 1;
    try {
        taps.first.resize(target);
        taps.count.resize(target);
        taps.weights.assign(static_cast<size_t>(target) * taps.span, 0);
    } catch (const std::bad_alloc&) {
        return false;
    }
    std::vector<double> w(taps.span);
    for (uint32_t i = 0; i < target; ++i) {
        const double centre = (i + 0.5) * scale;
        auto lo = static_cast<int64_t>(std::floor(centre - support));
        auto hi = static_cast<int64_t>(std::ceil(centre + support));
        lo = std::max<int64_t>(lo, 0);
        hi = std::min<int64_t>(hi, static_cast<int64_t>(size));
        hi = std::min<int64_t>(hi, lo + taps.span);
        double sum = 0;
        uint32_t n = 0;
        for (int64_t j = lo; j < hi; ++j, ++n) {
            const double x = (static_cast<double>(j) + 0.5 - centre) / widen;
            w[n] = cubic ? Cubic(x) : Triangle(x);
            sum += w[n];
        }
        if (n == 0 || sum == 0.0) {  // a centre past the edge: the nearest pixel
            lo = std::min<int64_t>(static_cast<int64_t>(centre), static_cast<int64_t>(size) - 1);
            n = 1;
            w[0] = sum = 1.0;
        }
        int32_t* out = &taps.weights[static_cast<size_t>(i) * taps.span];
        int32_t total = 0;
        for (uint32_t k = 0; k < n; ++k)
            total += out[k] = static_cast<int32_t>(std::lround(w[k] / sum * kOne));
        // The rounding remainder goes to the largest tap, so flat areas stay flat.
        const auto largest = std::max_element(out, out + n) - out;
        out[largest] += kOne - total;
        taps.first[i] = static_cast<uint32_t>(lo);
        taps.count[i] = n;
    }
    return true;
}

uint8_t Clamp(int64_t sum)
{
    const int64_t v = (sum + (kOne >> 1)) >> kShift;
    return static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v);
}

}  // namespace

double ReducedExtent(uint32_t stored, uint32_t loaded) noexcept
{
    if (loaded == 0 || stored <= loaded)
        return loaded;
    // F = ceil(stored / loaded) is the smallest factor that can give `loaded`.
    const uint64_t factor = (static_cast<uint64_t>(stored) + loaded - 1) / loaded;
    if ((stored + factor - 1) / factor != loaded)
        return loaded;
    return static_cast<double>(stored) / static_cast<double>(factor);
}

bool SmoothResize(const uint8_t* source, uint32_t width, uint32_t height, double extentX, double extentY,
                  uint8_t* destination, uint32_t targetWidth, uint32_t targetHeight, bool cubic) noexcept
{
    if (!source || !destination || width == 0 || height == 0 || targetWidth == 0 || targetHeight == 0)
        return false;
    extentX = std::clamp(extentX, 1.0, static_cast<double>(width));
    extentY = std::clamp(extentY, 1.0, static_cast<double>(height));
    Taps across, down;
    if (!MakeTaps(width, extentX, targetWidth, cubic, across) || !MakeTaps(height, extentY, targetHeight, cubic, down))
        return false;

    // Only the source rows some destination row reads are resized across.
    const uint32_t firstRow = down.first[0];
    const uint32_t lastRow = down.first[targetHeight - 1] + down.count[targetHeight - 1];
    const size_t bandStride = static_cast<size_t>(targetWidth) * 3;
    std::unique_ptr<uint8_t[]> band(new (std::nothrow) uint8_t[bandStride * (lastRow - firstRow)]);
    std::unique_ptr<int32_t[]> sums(new (std::nothrow) int32_t[bandStride]);
    if (!band || !sums)
        return false;

    const size_t sourceStride = static_cast<size_t>(width) * 3;
    for (uint32_t y = firstRow; y < lastRow; ++y) {
        const uint8_t* row = source + y * sourceStride;
        uint8_t* out = band.get() + (y - firstRow) * bandStride;
        for (uint32_t x = 0; x < targetWidth; ++x) {
            const int32_t* w = &across.weights[static_cast<size_t>(x) * across.span];
            const uint8_t* p = row + static_cast<size_t>(across.first[x]) * 3;
            int32_t r = 0, g = 0, b = 0;
            for (uint32_t k = 0; k < across.count[x]; ++k, p += 3) {
                r += w[k] * p[0];
                g += w[k] * p[1];
                b += w[k] * p[2];
            }
            out[x * 3] = Clamp(r);
            out[x * 3 + 1] = Clamp(g);
            out[x * 3 + 2] = Clamp(b);
        }
    }
    for (uint32_t y = 0; y < targetHeight; ++y) {
        const int32_t* w = &down.weights[static_cast<size_t>(y) * down.span];
        const uint8_t* rows = band.get() + (down.first[y] - firstRow) * bandStride;
        std::fill(sums.get(), sums.get() + bandStride, 0);
        for (uint32_t k = 0; k < down.count[y]; ++k) {
            const uint8_t* row = rows + k * bandStride;
            const int32_t weight = w[k];
            for (size_t i = 0; i < bandStride; ++i)
                sums[i] += weight * row[i];
        }
        uint8_t* out = destination + y * bandStride;
        for (size_t i = 0; i < bandStride; ++i)
            out[i] = Clamp(sums[i]);
    }
    return true;
}

}  // namespace quillet
