// Further operations: plain transcriptions compared on random pictures, the rules at their
// edges, and refusals.
#include "pxlib.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>
#include <random>
#include <set>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

// Pixels drawn from a few hundred colours with some noise: repeats as well as strays.
Bytes Picture(size_t pixels, std::mt19937& random)
{
    std::vector<uint32_t> colours(300);
    for (uint32_t& c : colours)
        c = random() & 0xFFFFFF;
    Bytes rgb(pixels * 3);
    for (size_t i = 0; i < pixels; ++i) {
        const uint32_t c = random() % 4 ? colours[random() % colours.size()] : random() & 0xFFFFFF;
        rgb[i * 3] = uint8_t(c >> 16);
        rgb[i * 3 + 1] = uint8_t(c >> 8);
        rgb[i * 3 + 2] = uint8_t(c);
    }
    return rgb;
}

uint32_t Key(const uint8_t* p)
{
    return uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2];
}

const std::pair<uint32_t, uint32_t> kSizes[] = {{1, 1}, {1, 29}, {37, 1}, {64, 48}, {301, 211}};

TEST(FurtherOps, CountAndCollectColoursMatchPlainSets)
{
    std::mt19937 random(141);
    for (const auto& [width, height] : kSizes) {
        const size_t n = size_t(width) * height;
        const Bytes rgb = Picture(n, random);
        std::vector<uint32_t> order;
        std::set<uint32_t> seen;
        for (size_t i = 0; i < n; ++i)
            if (seen.insert(Key(&rgb[i * 3])).second)
                order.push_back(Key(&rgb[i * 3]));
        for (uint32_t fast : {0u, 1u})
            EXPECT_EQ(CountColours(rgb.data(), width, height, fast), seen.size());

        // A cut below and above the number found; byte 3 and the entries after it stay.
        for (uint32_t max : {uint32_t(order.size() / 2), uint32_t(order.size() + 5)}) {
            Bytes quads(size_t(max + 1) * 4, 0xAA);
            ASSERT_EQ(CollectColours(rgb.data(), width, height, max, quads.data()), 1u);
            Bytes expected(quads.size(), 0xAA);
            for (size_t i = 0; i < std::min<size_t>(max, order.size()); ++i) {
                expected[i * 4] = uint8_t(order[i]);
                expected[i * 4 + 1] = uint8_t(order[i] >> 8);
                expected[i * 4 + 2] = uint8_t(order[i] >> 16);
            }
            EXPECT_EQ(quads, expected);
        }
    }
}

TEST(FurtherOps, MapToNearestMatchesAPlainSearch)
{
    std::mt19937 random(77);
    for (const auto& [width, height] : kSizes)
        for (uint32_t count : {1u, 2u, 17u, 256u}) {
            const Bytes rgb = Picture(size_t(width) * height, random);
            // Entries from a coarse grid, so that ties and repeated entries occur.
            Bytes quads(count * 4);
            for (uint8_t& b : quads)
                b = uint8_t(random() % 8 * 36);
            Bytes indices(size_t(width) * height, 0xEE);
            ASSERT_EQ(MapToNearest(rgb.data(), width, height, indices.data(), count, quads.data()), 1u);
            for (size_t i = 0; i < indices.size(); ++i) {
                int best = std::numeric_limits<int>::max(), found = 0;
                for (uint32_t j = 0; j < count; ++j) {
                    int d = 0;
                    for (int c = 0; c < 3; ++c)
                        d += (rgb[i * 3 + c] - quads[j * 4 + 2 - c]) * (rgb[i * 3 + c] - quads[j * 4 + 2 - c]);
                    if (d < best) {
                        best = d;
                        found = int(j);
                    }
                }
                ASSERT_EQ(indices[i], found) << "pixel " << i << " of " << width << "x" << height;
            }
        }
}

TEST(FurtherOps, ReplaceColourTakesTheToleranceAsASquaredDistance)
{
    const Bytes original = {100, 50, 25, 101, 50, 25, 103, 52, 26, 100, 50, 25};
    const uint32_t from = 0x193264;  // COLORREF (100, 50, 25)
    const uint32_t to = 0x030201;
    struct Row {
        uint32_t tolerance;
        Bytes expected;
    };
    const Row rows[] = {
        {0, {1, 2, 3, 101, 50, 25, 103, 52, 26, 1, 2, 3}},
        {1, {1, 2, 3, 1, 2, 3, 103, 52, 26, 1, 2, 3}},
        {13, {1, 2, 3, 1, 2, 3, 103, 52, 26, 1, 2, 3}},
        {14, {1, 2, 3, 1, 2, 3, 1, 2, 3, 1, 2, 3}},  // 3² + 2² + 1²
    };
    for (const Row& row : rows) {
        Bytes rgb = original;
        ASSERT_EQ(ReplaceColour(rgb.data(), 2, 2, from, to, row.tolerance), 1u);
        EXPECT_EQ(rgb, row.expected) << "tolerance " << row.tolerance;
    }
}

TEST(FurtherOps, HistogramsCountLuminanceAndChannels)
{
    std::mt19937 random(5);
    const Bytes rgb = Picture(64 * 48, random);
    uint32_t expected[4][256] = {};
    for (size_t i = 0; i < rgb.size(); i += 3) {
        ++expected[0][int(0.299 * rgb[i] + 0.587 * rgb[i + 1] + 0.114 * rgb[i + 2])];
        for (int c = 0; c < 3; ++c)
            ++expected[1 + c][rgb[i + c]];
    }
    uint32_t counts[256];
    std::fill(std::begin(counts), std::end(counts), 99u);
    ASSERT_EQ(GreyHistogram(rgb.data(), 64, 48, counts), 1u);
    EXPECT_TRUE(std::equal(counts, counts + 256, expected[0]));
    const uint32_t channels[] = {1, 2, 4};
    for (int c = 0; c < 3; ++c) {
        std::fill(std::begin(counts), std::end(counts), 99u);
        ASSERT_EQ(ChannelHistogram(rgb.data(), 64, 48, channels[c], counts), 1u);
        EXPECT_TRUE(std::equal(counts, counts + 256, expected[1 + c])) << "channel " << channels[c];
    }
}

TEST(FurtherOps, TablesGammaAndEqualisationMatchPlainTranscriptions)
{
    std::mt19937 random(9);
    const Bytes original = Picture(61 * 37, random);
    uint8_t table[256];
    for (int i = 0; i < 256; ++i)
        table[i] = uint8_t(255 - i / 2);
    for (uint8_t mask = 1; mask < 8; ++mask) {
        Bytes rgb = original, expected = original;
        for (size_t i = 0; i < rgb.size(); ++i)
            if (mask & (1 << (i % 3)))
                expected[i] = table[expected[i]];
        ASSERT_EQ(ApplyTable(rgb.data(), 61, 37, mask, table), 1u);
        EXPECT_EQ(rgb, expected) << "mask " << int(mask);
    }

    for (double gamma : {0.0, 0.45, 1.0, 2.2, 1e-3, std::numeric_limits<double>::infinity()}) {
        Bytes rgb = original, expected = original;
        const double g = gamma == 0 ? 1.0 : 1.0 / gamma;
        for (uint8_t& v : expected)  // an infinite gamma makes 256, held to 255
            v = uint8_t(std::min(255.0, std::trunc(std::pow(v / 256.0, g) * 256.0)));
        ASSERT_EQ(Gamma(rgb.data(), 61, 37, gamma), 1u);
        EXPECT_EQ(rgb, expected) << "gamma " << gamma;
    }

    struct Range {
        uint32_t low, high;
        uint8_t mask;
    };
    for (const Range& r : {Range{0, 255, 7}, Range{40, 200, 5}, Range{200, 40, 2}, Range{10, 10, 7}}) {
        Bytes rgb = original, expected = original;
        for (int c = 0; c < 3; ++c) {
            if (!(r.mask & (1 << c)))
                continue;
            const uint32_t low = std::min(r.low, r.high), high = std::max(r.low, r.high);
            int64_t histogram[256] = {}, count = 0, running = 0, map[256];
            for (size_t i = c; i < rgb.size(); i += 3)
                if (low < expected[i] && expected[i] < high) {
                    ++histogram[expected[i]];
                    ++count;
                }
            for (int v = 0; v < 256; ++v) {
                running += histogram[v];
                map[v] = count ? running * 255 / count : 0;
            }
            for (size_t i = c; i < rgb.size(); i += 3)
                if (low < expected[i] && expected[i] < high)
                    expected[i] = uint8_t(map[expected[i]]);
        }
        ASSERT_EQ(EqualizeRGBRange(rgb.data(), 61, 37, r.low, r.high, r.mask), 1u);
        EXPECT_EQ(rgb, expected) << r.low << ".." << r.high << " mask " << int(r.mask);
    }
}

TEST(FurtherOps, CropAndResizeIsACopyThenBilinear)
{
    std::mt19937 random(21);
    const Bytes rgb = Picture(40 * 30, random);
    // Corners included: (3, 4)-(22, 28) is 20 × 25 pixels.
    Bytes crop(20 * 25 * 3), expected(13 * 7 * 3), dst(13 * 7 * 3);
    ASSERT_EQ(CopyRect(rgb.data(), 40, 30, crop.data(), 3, 4, 20, 25, 3), 1u);
    ASSERT_EQ(ResampleBilinear(crop.data(), 20, 25, expected.data(), 13, 7, 3), 1u);
    ASSERT_EQ(CropAndResize(rgb.data(), 40, 30, 3, 4, 22, 28, dst.data(), 13, 7), 1u);
    EXPECT_EQ(dst, expected);
}

uint32_t StopAtFirstRow(uint32_t, uint32_t, uint32_t)
{
    return 0;
}

TEST(FurtherOps, AStopAfterTheFirstRowLeavesTheRestUnchanged)
{
    Bytes rgb(4 * 3 * 3, 10);
    SetProgressCallback(StopAtFirstRow, 0);
    EXPECT_EQ(ReplaceColour(rgb.data(), 4, 3, 0x0A0A0A, 0x141414, 0), 0u);
    EXPECT_EQ(GetLastLibraryError(), uint32_t{PX_ERR_CANCELLED});
    EXPECT_EQ(CountColours(rgb.data(), 4, 3, 1), 0u);
    EXPECT_EQ(GetLastLibraryError(), uint32_t{PX_ERR_CANCELLED});
    SetProgressCallback(nullptr, 0);
    EXPECT_EQ(std::count(rgb.begin(), rgb.end(), 20), 12);
}

TEST(FurtherOps, BadArgumentsAreRefused)
{
    Bytes rgb(4 * 4 * 3, 1), dst(4 * 4 * 3), quads(257 * 4), indices(16);
    uint32_t counts[256];
    uint8_t table[256] = {};
    uint8_t *p = rgb.data(), *d = dst.data(), *i = indices.data(), *q = quads.data();
    const std::pair<const char*, std::function<uint32_t()>> cases[] = {
        {"crop into its own source", [&] { return CropAndResize(p, 4, 4, 0, 0, 2, 2, p, 2, 2); }},
        {"crop corners not ordered", [&] { return CropAndResize(p, 4, 4, 2, 0, 2, 2, d, 2, 2); }},
        {"crop past the right edge", [&] { return CropAndResize(p, 4, 4, 0, 0, 4, 2, d, 2, 2); }},
        {"crop past the bottom", [&] { return CropAndResize(p, 4, 4, 0, 1, 2, 4, d, 2, 2); }},
        {"count without a picture", [&] { return CountColours(nullptr, 4, 4, 1); }},
        {"collect without a palette", [&] { return CollectColours(p, 4, 4, 8, nullptr); }},
        {"nearest of 257 entries", [&] { return MapToNearest(p, 4, 4, i, 257, q); }},
        {"nearest of no entry", [&] { return MapToNearest(p, 4, 4, i, 0, q); }},
        {"nearest without indices", [&] { return MapToNearest(p, 4, 4, nullptr, 4, q); }},
        {"replace without a picture", [&] { return ReplaceColour(nullptr, 4, 4, 0, 0, 0); }},
        {"grey histogram without counters", [&] { return GreyHistogram(p, 4, 4, nullptr); }},
        {"channel 3", [&] { return ChannelHistogram(p, 4, 4, 3, counts); }},
        {"table with mask 0", [&] { return ApplyTable(p, 4, 4, 0, table); }},
        {"negative gamma", [&] { return Gamma(p, 4, 4, -0.5); }},
        {"gamma not a number", [&] { return Gamma(p, 4, 4, std::nan("")); }},
        {"equalise without a picture", [&] { return EqualizeRGBRange(nullptr, 4, 4, 0, 255, 7); }},
    };
    for (const auto& [what, call] : cases) {
        EXPECT_EQ(call(), 0u) << what;
        EXPECT_EQ(GetLastLibraryError(), uint32_t{PX_ERR_BAD_ARGUMENT}) << what;
    }
    EXPECT_EQ(rgb, Bytes(rgb.size(), 1));
}

}  // namespace
