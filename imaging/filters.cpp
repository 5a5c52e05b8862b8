// The 3 × 3 filter engine, its three pixel rules, and the filter entries.
#include "imaging/filters.h"

#include "base/frame.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <type_traits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace px::filters {
namespace {

// Each rule sees one channel's nine values: the rows above, at and below the pixel, each
// as (left, centre, right).
struct Sharpen {
    double k;
    uint8_t operator()(int nw, int n, int ne, int w, int p, int e, int sw, int s, int se) const
    {
        const int laplacian = nw + n + ne + w + e + sw + s + se - 8 * p;
        double v = p - k * laplacian;
        if (v < 0)
            v = 0;
        if (v > 255)
            v = 255;
        return static_cast<uint8_t>(static_cast<int>(v));
    }
};

struct Soften {
    double k;
    double keep;  // 1 − k
    uint8_t operator()(int nw, int n, int ne, int w, int p, int e, int sw, int s, int se) const
    {
        const int mean = (nw + n + ne + w + e + sw + s + se) >> 3;
        // A convex blend of two values in 0..255 cannot leave that range: no clamp.
        return static_cast<uint8_t>(static_cast<int>(p * keep + mean * k));
    }
};

struct Median {
    static void Order(int& a, int& b)
    {
        const int low = std::min(a, b);
        b = std::max(a, b);
        a = low;
    }
    static int Middle(int a, int b, int c)
    {
        return std::max(std::min(a, b), std::min(std::max(a, b), c));
    }
    // With each column sorted, the median of nine is the middle of: the largest column
    // minimum, the middle column middle and the smallest column maximum. Branch-free.
    uint8_t operator()(int nw, int n, int ne, int w, int p, int e, int sw, int s, int se) const
    {
        Order(nw, w), Order(w, sw), Order(nw, w);
        Order(n, p), Order(p, s), Order(n, p);
        Order(ne, e), Order(e, se), Order(ne, e);
        const int lows = std::max(std::max(nw, n), ne);
        const int middles = Middle(w, p, e);
        const int highs = std::min(std::min(sw, s), se);
        return static_cast<uint8_t>(Middle(lows, middles, highs));
    }
};

#if defined(__SSE2__)
// The median rule on 16 bytes at once: the same comparisons on unsigned bytes, so the same
// result as the scalar rule. Returns where the scalar loop has to go on.
size_t MedianBlocks(const uint8_t* up, const uint8_t* mid, const uint8_t* down, uint8_t* out,
                    size_t begin, size_t end)
{
    auto load = [](const uint8_t* p) {
        return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    };
    auto order = [](__m128i& a, __m128i& b) {
        const __m128i low = _mm_min_epu8(a, b);
        b = _mm_max_epu8(a, b);
        a = low;
    };
    auto middle = [](__m128i a, __m128i b, __m128i c) {
        return _mm_max_epu8(_mm_min_epu8(a, b), _mm_min_epu8(_mm_max_epu8(a, b), c));
    };
    size_t i = begin;
    for (; i + 16 <= end; i += 16) {
        __m128i nw = load(up + i - 3), n = load(up + i), ne = load(up + i + 3);
        __m128i w = load(mid + i - 3), p = load(mid + i), e = load(mid + i + 3);
        __m128i sw = load(down + i - 3), s = load(down + i), se = load(down + i + 3);
        order(nw, w), order(w, sw), order(nw, w);
        order(n, p), order(p, s), order(n, p);
        order(ne, e), order(e, se), order(ne, e);
        const __m128i lows = _mm_max_epu8(_mm_max_epu8(nw, n), ne);
        const __m128i highs = _mm_min_epu8(_mm_min_epu8(sw, s), se);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), middle(lows, middle(w, p, e), highs));
    }
    return i;
}
#endif

// One row of RGB24 pixels. The first and last pixels see themselves in place of their
// missing left and right neighbours; the inner ones run without a branch.
template <class Rule>
void FilterRow(const uint8_t* __restrict up, const uint8_t* __restrict mid,
               const uint8_t* __restrict down, uint8_t* __restrict out, size_t width,
               const Rule& rule)
{
    if (width == 0)
        return;
    const size_t last = (width - 1) * 3;
    const size_t right = width > 1 ? 3 : 0;
    for (size_t i = 0; i < 3; ++i)
        out[i] = rule(up[i], up[i], up[i + right], mid[i], mid[i], mid[i + right], down[i],
                      down[i], down[i + right]);
    size_t i = 3;
#if defined(__SSE2__)
    if constexpr (std::is_same_v<Rule, Median>)
        i = MedianBlocks(up, mid, down, out, i, last);
#endif
    for (; i < last; ++i)
        out[i] = rule(up[i - 3], up[i], up[i + 3], mid[i - 3], mid[i], mid[i + 3], down[i - 3],
                      down[i], down[i + 3]);
    if (width > 1)
        for (size_t i = last; i < last + 3; ++i)
            out[i] = rule(up[i - 3], up[i], up[i], mid[i - 3], mid[i], mid[i], down[i - 3],
                          down[i], down[i]);
}

// Plain pointers and sizes rather than views, and a function of its own for each rule: read
// through a view's fields or inlined into the entry, the rows cost more instructions.
template <class Rule>
[[gnu::noinline]] uint32_t FilterRows(const uint8_t* src, size_t stride, uint8_t* dst, size_t dstStride, uint32_t width,
                    uint32_t height, const Rule& rule)
{
    for (uint32_t y = 0; y < height; ++y) {
        const uint8_t* mid = src + y * stride;
        const uint8_t* up = y > 0 ? mid - stride : mid;
        const uint8_t* down = y + 1 < height ? mid + stride : mid;
        FilterRow(up, mid, down, dst + y * dstStride, width, rule);
        if (!Progress(y, height))
            return 0;
    }
    return 1;
}

}  // namespace

uint32_t Filter3x3(const ConstView& src, const View& dst, uint32_t level, Rule rule)
{
    // Any three-byte layout: the rules treat every channel alike.
    if (!src.data || !dst.data || src.data == dst.data || src.channels != 3 || dst.channels != 3 ||
        src.width != dst.width || src.height != dst.height || src.stride < src.RowBytes() ||
        dst.stride < dst.RowBytes())
        return Fail(Code::BadArgument);
    const int32_t held = std::clamp(static_cast<int32_t>(level), 0, 100);
    const uint8_t* in = src.data;
    uint8_t* out = dst.data;
    const size_t inStride = src.stride, outStride = dst.stride;
    const uint32_t width = src.width, height = src.height;
    switch (rule) {
    case Rule::Sharpen:
        return FilterRows(in, inStride, out, outStride, width, height, Sharpen{held * 0.005});
    case Rule::Soften: {
        const double k = held * 0.01;
        return FilterRows(in, inStride, out, outStride, width, height, Soften{k, 1 - k});
    }
    case Rule::Median:
        return FilterRows(in, inStride, out, outStride, width, height, Median{});
    }
    return Fail(Code::BadArgument);
}

}  // namespace px::filters

extern "C" uint32_t SharpenRGB24(const uint8_t* src, uint32_t width, uint32_t height,
                                 uint8_t* dst, uint32_t level)
{
    return px::Entry([&] {
        return px::filters::Filter3x3(px::ConstView::RGB24(src, width, height), px::View::RGB24(dst, width, height),
                                      level, px::filters::Rule::Sharpen);
    });
}

extern "C" uint32_t SoftenRGB24(const uint8_t* src, uint32_t width, uint32_t height,
                                uint8_t* dst, uint32_t level)
{
    return px::Entry([&] {
        return px::filters::Filter3x3(px::ConstView::RGB24(src, width, height), px::View::RGB24(dst, width, height),
                                      level, px::filters::Rule::Soften);
    });
}

extern "C" uint32_t MedianRGB24(const uint8_t* src, uint32_t width, uint32_t height,
                                uint8_t* dst)
{
    return px::Entry([&] {
        return px::filters::Filter3x3(px::ConstView::RGB24(src, width, height), px::View::RGB24(dst, width, height),
                                      0, px::filters::Rule::Median);
    });
}
