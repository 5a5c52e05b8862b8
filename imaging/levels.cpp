// Auto brightness and levels: percentile stretches, range equalisation, luminance remapping.
#include "imaging/levels.h"

#include "imaging/conversions.h"
#include "base/frame.h"
#include "base/view.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace px::levels {
namespace {

// How far the stretch widens the range towards 0..255; 1 makes it the full span.
constexpr double kStrength = 1.0;

// NaN counts as 0, so that the counts below stay defined.
double ClampPercent(double percent) noexcept
{
    if (!(percent > 0.0))
        return 0.0;
    return percent > 100.0 ? 100.0 : percent;
}

uint8_t ClampByte(int value) noexcept
{
    return static_cast<uint8_t>(value < 0 ? 0 : value > 255 ? 255 : value);
}

// A histogram of bytes, counted in four interleaved parts so that runs of equal values do
// not stall on one counter.
class Counter {
public:
    void Add(const uint8_t* bytes, size_t count) noexcept
    {
        size_t i = 0;
        for (; i + 4 <= count; i += 4) {
            ++m_parts[0][bytes[i]];
            ++m_parts[1][bytes[i + 1]];
            ++m_parts[2][bytes[i + 2]];
            ++m_parts[3][bytes[i + 3]];
        }
        for (; i < count; ++i)
            ++m_parts[0][bytes[i]];
    }
    void Total(Histogram histogram) const noexcept
    {
        for (int v = 0; v < 256; ++v)
            histogram[v] = m_parts[0][v] + m_parts[1][v] + m_parts[2][v] + m_parts[3][v];
    }

private:
    uint64_t m_parts[4][256] = {};
};

// Applies map to every grey byte, row by row with progress; false when stopped.
bool RemapGrey(const View& grey, const LevelMap map)
{
    const uint32_t width = grey.width, height = grey.height;
    for (uint32_t y = 0; y < height; ++y) {
        uint8_t* row = grey.Row(y);
        for (uint32_t x = 0; x < width; ++x)
            row[x] = map[row[x]];
        if (!Progress(y, height))
            return false;
    }
    return true;
}

// The histogram of a one-byte view, in one run when its rows are dense.
void CountGrey(Counter& counter, const View& grey) noexcept
{
    if (grey.stride == grey.width) {
        counter.Add(grey.data, static_cast<size_t>(grey.width) * grey.height);
        return;
    }
    for (uint32_t y = 0; y < grey.height; ++y)
        counter.Add(grey.Row(y), grey.width);
}

// Arguments every operation checks: pixels present and `channels` bytes each; false with
// the code set.
bool Check(const View& view, uint32_t channels)
{
    if (!view.data || view.channels != channels || view.stride < view.RowBytes())
        return Fail(Code::BadArgument);
    return convert::Addressable(view.width, view.height, channels);
}

uint32_t StretchGrey(const View& grey, double lowPercent, double highPercent)
{
    if (!grey.data)
        return Fail(Code::BadArgument);
    if (grey.width == 0 || grey.height == 0)
        return 1;
    if (!Check(grey, 1))
        return 0;
    const uint64_t count = static_cast<uint64_t>(grey.width) * grey.height;
    Counter counter;
    CountGrey(counter, grey);
    Histogram histogram;
    counter.Total(histogram);
    LevelMap map;
    StretchMap(histogram, count, lowPercent, highPercent, map);
    return RemapGrey(grey, map);
}

uint32_t StretchRGB(const View& rgb, double lowPercent, double highPercent, uint8_t channelMask)
{
    if (!rgb.data)
        return Fail(Code::BadArgument);
    const uint32_t width = rgb.width, height = rgb.height;
    if (width == 0 || height == 0)
        return 1;
    if (!Check(rgb, 3))
        return 0;
    const uint64_t count = static_cast<uint64_t>(width) * height;
    Histogram histograms[3] = {};
    for (uint32_t y = 0; y < height; ++y) {
        const uint8_t* p = rgb.Row(y);
        for (uint32_t x = 0; x < width; ++x, p += 3) {
            ++histograms[0][p[0]];
            ++histograms[1][p[1]];
            ++histograms[2][p[2]];
        }
    }
    LevelMap maps[3];
    for (int c = 0; c < 3; ++c) {
        if (channelMask & (1u << c))
            StretchMap(histograms[c], count, lowPercent, highPercent, maps[c]);
        else
            for (int v = 0; v < 256; ++v)
                maps[c][v] = static_cast<uint8_t>(v);
    }
    for (uint32_t y = 0; y < height; ++y) {
        uint8_t* p = rgb.Row(y);
        for (uint32_t x = 0; x < width; ++x, p += 3) {
            p[0] = maps[0][p[0]];
            p[1] = maps[1][p[1]];
            p[2] = maps[2][p[2]];
        }
        if (!Progress(y, height))
            return 0;
    }
    return 1;
}

uint32_t EqualizeGrey(const View& grey, uint32_t low, uint32_t high)
{
    if (!Check(grey, 1))
        return 0;
    Counter counter;
    CountGrey(counter, grey);
    Histogram histogram;
    counter.Total(histogram);
    LevelMap map;
    EqualizeMap(histogram, low, high, map);
    return RemapGrey(grey, map);
}

uint32_t Brighten(const View& rgb, uint32_t low, uint32_t high, uint32_t mode)
{
    if (!Check(rgb, 3))
        return 0;
    const uint32_t width = rgb.width, height = rgb.height;
    // One scratch block: the grey image, then the table of moved channel values.
    constexpr size_t kMovedBytes = 256 * 256;
    const size_t count = static_cast<size_t>(width) * height;
    auto grey = convert::ScratchOrFail(count + kMovedBytes);
    if (!grey)
        return 0;

    // The luminance of every pixel and its histogram, in one pass. As an inner operation
    // the grey conversion reports no progress of its own.
    Counter counter;
    for (uint32_t y = 0; y < height; ++y) {
        const size_t row = static_cast<size_t>(y) * width;
        convert::LuminanceRow(rgb.Row(y), width, grey.get() + row);
        counter.Add(grey.get() + row, width);
    }
    Histogram histogram;
    counter.Total(histogram);

    // The remapped grey level of a pixel depends on its old level alone, so one table
    // stands for the remapped scratch image.
    LevelMap map;
    if (mode == 1) {
        // Equalisation runs as an inner counted operation: no progress either.
        EqualizeMap(histogram, low, high, map);
    } else {
        const double lowPercent = low * 100.0 / 255.0;
        const double highPercent = (255.0 - high) * 100.0 / 255.0;
        if (count != 0) {
            StretchMap(histogram, count, lowPercent, highPercent, map);
            // The stretch is uncounted and so reports its rows; a stop leaves the picture
            // as it was.
            for (uint32_t y = 0; y < height; ++y)
                if (!Progress(y, height))
                    return 0;
        } else {
            for (int v = 0; v < 256; ++v)
                map[v] = static_cast<uint8_t>(v);
        }
    }

    // Every channel moves by the change of its pixel's luminance, held to 0..255: one table
    // row per luminance gives the new channel value without arithmetic.
    uint8_t* moved = grey.get() + count;
    for (int v = 0; v < 256; ++v) {
        uint8_t* row = moved + v * 256;
        const int shift = map[v] - v;
        for (int c = 0; c < 256; ++c)
            row[c] = ClampByte(c + shift);
    }
    for (uint32_t y = 0; y < height; ++y) {
        uint8_t* p = rgb.Row(y);
        const uint8_t* g = grey.get() + static_cast<size_t>(y) * width;
        for (uint32_t x = 0; x < width; ++x, p += 3) {
            const uint8_t* to = moved + g[x] * 256;
            p[0] = to[p[0]];
            p[1] = to[p[1]];
            p[2] = to[p[2]];
        }
        if (!Progress(y, height))
            return 0;
    }
    return 1;
}

}  // namespace

void StretchMap(const Histogram histogram, uint64_t count, double lowPercent, double highPercent, LevelMap map) noexcept
{
    lowPercent = ClampPercent(lowPercent);
    highPercent = ClampPercent(highPercent);
    const double n = static_cast<double>(count);
    const uint64_t lowCount = static_cast<uint64_t>(n * lowPercent / 100.0);
    const uint64_t highCount = static_cast<uint64_t>(n * (1.0 - highPercent / 100.0));

    // Both clip points are searched for in full: with clips that add up to more than 100 %
    // the high one comes first, and the two are put in order below.
    int lo = -1;
    int hi = -1;
    uint64_t running = 0;
    for (int v = 0; v < 256 && (lo < 0 || hi < 0); ++v) {
        running += histogram[v];
        if (lo < 0 && running >= lowCount)
            lo = v;
        if (hi < 0 && running >= highCount)
            hi = v;
    }
    lo = std::max(lo, 0);  // only an empty histogram leaves them unset
    hi = std::max(hi, 0);
    if (lo > hi)
        std::swap(lo, hi);

    const int range = hi - lo;
    if (range == 0) {
        // No scale exists (a flat image, or clip counts so small that both points land on
        // one level): the levels stay as they are.
        for (int v = 0; v < 256; ++v)
            map[v] = static_cast<uint8_t>(v);
        return;
    }
    const int target = static_cast<int>(range + (255 - range) * kStrength);
    const double scale = static_cast<double>(target) / range;
    for (int v = 0; v < 256; ++v)
        map[v] = ClampByte(static_cast<int>((v - lo) * scale));
}

void EqualizeMap(const Histogram histogram, uint32_t low, uint32_t high, LevelMap map) noexcept
{
    if (low > high)
        std::swap(low, high);
    auto inside = [&](uint32_t v) { return low < v && v < high; };
    uint64_t count = 0;
    for (uint32_t v = 0; v < 256; ++v)
        if (inside(v))
            count += histogram[v];
    // 64-bit running totals: running × 255 overflows 32 bits from 8.4 million pixels on.
    uint64_t running = 0;
    for (uint32_t v = 0; v < 256; ++v) {
        if (!inside(v)) {
            map[v] = static_cast<uint8_t>(v);
            continue;
        }
        running += histogram[v];
        map[v] = count ? static_cast<uint8_t>(running * 255 / count) : 0;
    }
}

}  // namespace px::levels

namespace levels = px::levels;

namespace {

px::View Grey(uint8_t* grey, uint32_t width, uint32_t height)
{
    return px::View::Dense(grey, width, height, px::Layout::Grey8);
}

}  // namespace

extern "C" uint32_t AutoBrightness(uint8_t* rgb, uint32_t width, uint32_t height, uint32_t low, uint32_t high,
                                   uint32_t mode)
{
    return px::Entry([&] { return levels::Brighten(px::View::RGB24(rgb, width, height), low, high, mode); });
}

extern "C" uint32_t StretchGreyLevels(uint8_t* grey, uint32_t width, uint32_t height, double lowPercent,
                                      double highPercent)
{
    return px::RunEntry(px::FrameKind::Uncounted,
                        [&] { return levels::StretchGrey(Grey(grey, width, height), lowPercent, highPercent); });
}

extern "C" uint32_t EqualizeGreyRange(uint8_t* grey, uint32_t width, uint32_t height, uint32_t low, uint32_t high)
{
    return px::Entry([&] { return levels::EqualizeGrey(Grey(grey, width, height), low, high); });
}

extern "C" uint32_t StretchRGBLevels(uint8_t* rgb, uint32_t width, uint32_t height, double lowPercent,
                                     double highPercent, uint8_t channelMask)
{
    return px::RunEntry(px::FrameKind::Uncounted, [&] {
        return levels::StretchRGB(px::View::RGB24(rgb, width, height), lowPercent, highPercent, channelMask);
    });
}
