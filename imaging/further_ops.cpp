// Further operations on RGB24 images: crop and resize, colour counting and exact palettes,
// colour replacement, histograms, tables, gamma and per-channel equalisation.
#include "base/frame.h"
#include "base/image.h"
#include "imaging/conversions.h"
#include "imaging/levels.h"
#include "imaging/resample.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace px::further {
namespace {

constexpr uint32_t kColourSpace = 1u << 24;

inline uint32_t Key(const uint8_t* p) noexcept
{
    return uint32_t{p[0]} << 16 | uint32_t{p[1]} << 8 | p[2];
}

uint32_t CropResize(const ConstView& src, uint32_t x0, uint32_t y0, uint32_t x1, uint32_t y1, const View& dst)
{
    if (!src.data || !dst.data || src.data == dst.data || !(x0 < x1 && x1 < src.width) ||
        !(y0 < y1 && y1 < src.height))
        return Fail(Code::BadArgument);
    if (!convert::Addressable(src.width, src.height, 3))
        return 0;
    // The window read in place: its rows keep the picture's stride.
    const ConstView window{src.Row(y0) + size_t{x0} * 3, x1 - x0 + 1, y1 - y0 + 1, src.stride, src.layout, 3};
    return resample::Bilinear(window, dst);
}

// A set of 2^24 / passes colours marked in each of `passes` walks over the image; the
// count is the sum of the marks.
uint32_t Count(const ConstView& rgb, uint32_t fast)
{
    const uint32_t width = rgb.width, height = rgb.height;
    if (!rgb.data)
        return Fail(Code::BadArgument);
    if (!convert::Addressable(width, height, 3))
        return 0;
    const uint32_t passes = fast ? 2 : 4;
    const uint32_t span = kColourSpace / passes;
    const uint32_t shift = std::countr_zero(span);
    auto set = Scratch<uint64_t>(span / 64);
    if (!set)
        return Fail(Code::OutOfMemory);
    uint32_t total = 0;
    for (uint32_t pass = 0; pass < passes; ++pass) {
        std::memset(set.get(), 0, span / 8);
        uint64_t* bits = set.get();
        const bool done = EachRow(height, [&](uint32_t y) {
            const uint8_t* p = rgb.Row(y);
            // Four bytes at a time where a fourth byte exists: red, green and blue as one
            // little-endian number, a different order of the same colours, so the same count.
            const uint32_t whole = y + 1 < height ? width : width - 1;
            uint32_t x = 0;
            for (; x < whole; ++x, p += 3) {
                uint32_t word;
                std::memcpy(&word, p, 4);
                const uint32_t key = word & 0xFFFFFF;
                // Every pixel writes; a pixel of another pass adds no bit.
                bits[(key & (span - 1)) >> 6] |= uint64_t{(key >> shift) == pass} << (key & 63);
            }
            for (; x < width; ++x, p += 3) {
                const uint32_t key = uint32_t{p[2]} << 16 | uint32_t{p[1]} << 8 | p[0];
                bits[(key & (span - 1)) >> 6] |= uint64_t{(key >> shift) == pass} << (key & 63);
            }
        });
        if (!done)
            return 0;
        for (uint32_t i = 0; i < span / 64; ++i)
            total += static_cast<uint32_t>(std::popcount(bits[i]));
    }
    return total;
}

uint32_t Collect(const ConstView& rgb, uint32_t maxColours, uint8_t* palette)
{
    const uint32_t width = rgb.width, height = rgb.height;
    if (!rgb.data || !palette)
        return Fail(Code::BadArgument);
    if (!convert::Addressable(width, height, 3))
        return 0;
    auto seen = Scratch<uint64_t>(kColourSpace / 64);
    if (!seen)
        return Fail(Code::OutOfMemory);
    std::memset(seen.get(), 0, kColourSpace / 8);
    uint32_t found = 0;
    for (uint32_t y = 0; y < height && found < maxColours; ++y) {
        const uint8_t* p = rgb.Row(y);
        for (uint32_t x = 0; x < width && found < maxColours; ++x, p += 3) {
            const uint32_t key = Key(p);
            uint64_t& word = seen[key >> 6];
            const uint64_t bit = uint64_t{1} << (key & 63);
            if (word & bit)
                continue;
            word |= bit;
            uint8_t* entry = palette + size_t{found++} * 4;
            entry[0] = p[2];
            entry[1] = p[1];
            entry[2] = p[0];
        }
        if (!Progress(y, height))
            return 0;
    }
    return 1;
}

// Exact nearest palette entries, each distinct colour searched once. Colours are remembered
// in Morton order, so that the similar colours of neighbouring pixels share cache lines;
// the search looks only at the entries that can be nearest anywhere in the colour's
// 8 × 8 × 8 cell.
class NearestSearch {
public:
    bool Prepare(const uint8_t* palette, uint32_t count) noexcept
    {
        m_count = count;
        for (uint32_t j = 0; j < count; ++j) {
            m_blue[j] = palette[j * 4];
            m_green[j] = palette[j * 4 + 1];
            m_red[j] = palette[j * 4 + 2];
        }
        for (uint32_t v = 0; v < 256; ++v) {
            uint32_t spread = 0;
            for (uint32_t k = 0; k < 8; ++k)
                spread |= ((v >> k) & 1u) << (3 * k);
            m_spread[v] = spread;
        }
        // Pages of the memo are zeroed by the system when first touched, so a small picture
        // pays only for the colours it has.
        m_memo.reset(static_cast<uint16_t*>(std::calloc(kColourSpace, sizeof(uint16_t))));
        m_candidates = Scratch<uint8_t>(kCells * 256);
        m_candidateCount = Scratch<uint16_t>(kCells);
        if (!m_memo || !m_candidates || !m_candidateCount)
            return false;
        std::fill(m_candidateCount.get(), m_candidateCount.get() + kCells, kUnbuilt);
        return true;
    }

    uint8_t Find(const uint8_t* p) noexcept
    {
        const uint32_t morton = m_spread[p[0]] << 2 | m_spread[p[1]] << 1 | m_spread[p[2]];
        uint16_t& memo = m_memo.get()[morton];
        if (memo == 0)
            memo = static_cast<uint16_t>(Search(p[0], p[1], p[2], morton >> 9) + 1);
        return static_cast<uint8_t>(memo - 1);
    }

private:
    static constexpr uint32_t kCells = 32768;
    static constexpr uint16_t kUnbuilt = 0xFFFF;

    struct Free {
        void operator()(void* block) const noexcept { std::free(block); }
    };

    static uint32_t Square(int d) noexcept { return static_cast<uint32_t>(d * d); }

    // Squared distance from v to the nearest and the farthest point of [low, low + 7].
    static uint32_t Near(int v, int low) noexcept
    {
        return v < low ? Square(low - v) : v > low + 7 ? Square(v - low - 7) : 0;
    }
    static uint32_t Far(int v, int low) noexcept { return std::max(Square(v - low), Square(low + 7 - v)); }

    // Every entry whose nearest point of the cell is no farther than the farthest point of
    // the best entry: the nearest entry of any colour in the cell, ties included, is among
    // them, kept in index order.
    void Build(uint32_t cell) noexcept
    {
        // A cell's Morton bits are red, green, blue from the top, five of each.
        int low[3] = {0, 0, 0};
        for (uint32_t k = 0; k < 5; ++k)
            for (int c = 0; c < 3; ++c)
                low[c] |= static_cast<int>(((cell >> (3 * k + 2 - c)) & 1u) << (3 + k));
        uint32_t bound = UINT32_MAX;
        for (uint32_t j = 0; j < m_count; ++j)
            bound = std::min(bound, Far(m_red[j], low[0]) + Far(m_green[j], low[1]) + Far(m_blue[j], low[2]));
        uint8_t* list = m_candidates.get() + size_t{cell} * 256;
        uint16_t n = 0;
        for (uint32_t j = 0; j < m_count; ++j)
            if (Near(m_red[j], low[0]) + Near(m_green[j], low[1]) + Near(m_blue[j], low[2]) <= bound)
                list[n++] = static_cast<uint8_t>(j);
        m_candidateCount[cell] = n;
    }

    uint8_t Search(int red, int green, int blue, uint32_t cell) noexcept
    {
        if (m_candidateCount[cell] == kUnbuilt)
            Build(cell);
        const uint8_t* list = m_candidates.get() + size_t{cell} * 256;
        uint32_t best = UINT32_MAX;
        uint8_t found = 0;
        for (uint16_t i = 0; i < m_candidateCount[cell]; ++i) {
            const uint8_t j = list[i];
            const uint32_t d = Square(red - m_red[j]) + Square(green - m_green[j]) + Square(blue - m_blue[j]);
            if (d < best) {
                best = d;
                found = j;
                if (d == 0)
                    break;
            }
        }
        return found;
    }

    uint32_t m_count = 0;
    uint8_t m_red[256] = {};
    uint8_t m_green[256] = {};
    uint8_t m_blue[256] = {};
    uint32_t m_spread[256] = {};
    std::unique_ptr<uint16_t, Free> m_memo;  // index + 1 per colour, 0 while unknown
    std::unique_ptr<uint8_t[]> m_candidates;
    std::unique_ptr<uint16_t[]> m_candidateCount;
};

// Onto the palette the indices view carries.
uint32_t MapNearest(const ConstView& rgb, const View& indices)
{
    const uint32_t width = rgb.width, height = rgb.height;
    const uint32_t count = indices.paletteCount;
    const uint8_t* palette = indices.palette;
    // An empty palette has no nearest entry.
    if (!rgb.data || !indices.data || !palette || count == 0 || count > 256)
        return Fail(Code::BadArgument);
    if (!convert::Addressable(width, height, 3))
        return 0;
    NearestSearch search;
    if (!search.Prepare(palette, count))
        return Fail(Code::OutOfMemory);
    return EachRow(height, [&](uint32_t y) {
        const uint8_t* p = rgb.Row(y);
        uint8_t* out = indices.Row(y);
        for (uint32_t x = 0; x < width; ++x, p += 3)
            out[x] = search.Find(p);
    });
}

uint32_t Replace(const View& rgb, uint32_t from, uint32_t to, uint32_t tolerance)
{
    const uint32_t width = rgb.width, height = rgb.height;
    if (!rgb.data)
        return Fail(Code::BadArgument);
    if (!convert::Addressable(width, height, 3))
        return 0;
    const int fromRgb[3] = {static_cast<int>(from & 0xFF), static_cast<int>((from >> 8) & 0xFF),
                            static_cast<int>((from >> 16) & 0xFF)};
    const uint8_t toRgb[3] = {static_cast<uint8_t>(to), static_cast<uint8_t>(to >> 8),
                              static_cast<uint8_t>(to >> 16)};
    return EachRow(height, [&](uint32_t y) {
        uint8_t* p = rgb.Row(y);
        for (uint32_t x = 0; x < width; ++x, p += 3) {
            const int dr = p[0] - fromRgb[0], dg = p[1] - fromRgb[1], db = p[2] - fromRgb[2];
            const bool equal = dr == 0 && dg == 0 && db == 0;
            if (equal || (tolerance != 0 && tolerance >= static_cast<uint32_t>(dr * dr + dg * dg + db * db)))
                std::memcpy(p, toRgb, 3);
        }
    });
}

uint32_t GreyCounts(const ConstView& rgb, uint32_t* counts)
{
    const uint32_t width = rgb.width, height = rgb.height;
    if (!rgb.data || !counts)
        return Fail(Code::BadArgument);
    if (!convert::Addressable(width, height, 3))
        return 0;
    std::fill(counts, counts + 256, 0u);
    return EachRow(height, [&](uint32_t y) {
        const uint8_t* p = rgb.Row(y);
        for (uint32_t x = 0; x < width; ++x, p += 3)
            ++counts[convert::Luminance(p[0], p[1], p[2])];
    });
}

uint32_t ChannelCounts(const ConstView& rgb, uint32_t channel, uint32_t* counts)
{
    const uint32_t width = rgb.width, height = rgb.height;
    if (!rgb.data || !counts || (channel != 1 && channel != 2 && channel != 4))
        return Fail(Code::BadArgument);
    if (!convert::Addressable(width, height, 3))
        return 0;
    const uint32_t offset = channel == 1 ? 0 : channel == 2 ? 1 : 2;
    std::fill(counts, counts + 256, 0u);
    return EachRow(height, [&](uint32_t y) {
        const uint8_t* p = rgb.Row(y) + offset;
        for (uint32_t x = 0; x < width; ++x, p += 3)
            ++counts[*p];
    });
}

// One table per channel; rows stay changed up to a stop.
uint32_t ApplyTables(const View& rgb, const uint8_t* const tables[3])
{
    return EachRow(rgb.height, [&](uint32_t y) {
        uint8_t* p = rgb.Row(y);
        for (uint32_t x = 0; x < rgb.width; ++x, p += 3)
            for (int c = 0; c < 3; ++c)
                if (tables[c])
                    p[c] = tables[c][p[c]];
    });
}

uint32_t Apply(const View& rgb, uint8_t channelMask, const uint8_t* table)
{
    if (!rgb.data || !table || channelMask == 0)
        return Fail(Code::BadArgument);
    if (!convert::Addressable(rgb.width, rgb.height, 3))
        return 0;
    const uint8_t* tables[3];
    for (int c = 0; c < 3; ++c)
        tables[c] = (channelMask & (1u << c)) ? table : nullptr;
    return ApplyTables(rgb, tables);
}

uint32_t GammaCurve(const View& rgb, double gamma)
{
    // NaN has no curve.
    if (!rgb.data || gamma < 0.0 || std::isnan(gamma))
        return Fail(Code::BadArgument);
    const double g = gamma == 0.0 ? 1.0 : 1.0 / gamma;
    uint8_t table[256];
    for (int i = 0; i < 256; ++i) {
        // An infinite gamma makes every exponent 0 and every value 256: held to 255.
        const double v = std::trunc(std::pow(i / 256.0, g) * 256.0);
        table[i] = static_cast<uint8_t>(std::min(v, 255.0));
    }
    return Apply(rgb, 7, table);
}

uint32_t EqualizeChannels(const View& rgb, uint32_t low, uint32_t high, uint8_t channelMask)
{
    if (!rgb.data)
        return Fail(Code::BadArgument);
    if (!convert::Addressable(rgb.width, rgb.height, 3))
        return 0;
    levels::Histogram histograms[3] = {};
    for (uint32_t y = 0; y < rgb.height; ++y) {
        const uint8_t* p = rgb.Row(y);
        for (uint32_t x = 0; x < rgb.width; ++x, p += 3) {
            ++histograms[0][p[0]];
            ++histograms[1][p[1]];
            ++histograms[2][p[2]];
        }
    }
    levels::LevelMap maps[3];
    const uint8_t* tables[3] = {};
    for (int c = 0; c < 3; ++c)
        if (channelMask & (1u << c)) {
            levels::EqualizeMap(histograms[c], low, high, maps[c]);
            tables[c] = maps[c];
        }
    return ApplyTables(rgb, tables);
}

}  // namespace
}  // namespace px::further

namespace further = px::further;

extern "C" uint32_t CropAndResize(const uint8_t* src, uint32_t width, uint32_t height, uint32_t x0, uint32_t y0,
                                  uint32_t x1, uint32_t y1, uint8_t* dst, uint32_t dstWidth, uint32_t dstHeight)
{
    return px::Entry(
        [&] { return further::CropResize(px::ConstView::RGB24(src, width, height), x0, y0, x1, y1,
                                             px::View::RGB24(dst, dstWidth, dstHeight)); });
}

extern "C" uint32_t CountColours(const uint8_t* rgb, uint32_t width, uint32_t height, uint32_t fast)
{
    return px::Entry([&] { return further::Count(px::ConstView::RGB24(rgb, width, height), fast); });
}

extern "C" uint32_t CollectColours(const uint8_t* rgb, uint32_t width, uint32_t height, uint32_t maxColours,
                                   uint8_t* palette)
{
    return px::Entry([&] { return further::Collect(px::ConstView::RGB24(rgb, width, height), maxColours, palette); });
}

extern "C" uint32_t MapToNearest(const uint8_t* rgb, uint32_t width, uint32_t height, uint8_t* indices,
                                 uint32_t count, const uint8_t* palette)
{
    return px::Entry([&] {
        return further::MapNearest(px::ConstView::RGB24(rgb, width, height),
                                   px::View::Indexed(indices, width, height, palette, count));
    });
}

extern "C" uint32_t ReplaceColour(uint8_t* rgb, uint32_t width, uint32_t height, uint32_t from, uint32_t to,
                                  uint32_t tolerance)
{
    return px::Entry([&] { return further::Replace(px::View::RGB24(rgb, width, height), from, to, tolerance); });
}

extern "C" uint32_t GreyHistogram(const uint8_t* rgb, uint32_t width, uint32_t height, uint32_t counts[256])
{
    return px::Entry([&] { return further::GreyCounts(px::ConstView::RGB24(rgb, width, height), counts); });
}

extern "C" uint32_t ChannelHistogram(const uint8_t* rgb, uint32_t width, uint32_t height, uint32_t channel,
                                     uint32_t counts[256])
{
    return px::Entry([&] { return further::ChannelCounts(px::ConstView::RGB24(rgb, width, height), channel, counts); });
}

extern "C" uint32_t ApplyTable(uint8_t* rgb, uint32_t width, uint32_t height, uint8_t channelMask,
                               const uint8_t table[256])
{
    return px::Entry([&] { return further::Apply(px::View::RGB24(rgb, width, height), channelMask, table); });
}

extern "C" uint32_t Gamma(uint8_t* rgb, uint32_t width, uint32_t height, double gamma)
{
    return px::Entry([&] { return further::GammaCurve(px::View::RGB24(rgb, width, height), gamma); });
}

extern "C" uint32_t EqualizeRGBRange(uint8_t* rgb, uint32_t width, uint32_t height, uint32_t low, uint32_t high,
                                     uint8_t channelMask)
{
    return px::Entry([&] { return further::EqualizeChannels(px::View::RGB24(rgb, width, height), low, high, channelMask); });
}
