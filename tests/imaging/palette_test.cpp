// Colour reduction: a plain transcription of the octree search and of both diffusion rules
// compared on random and smooth pictures, the worked examples, stages and refusals.
#include "include/pxlib.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <functional>
#include <random>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;
using Colour = std::array<int, 3>;

int Code15(int r, int g, int b)
{
    int code = 0;
    for (int k = 0; k < 5; ++k)
        code |= ((r >> (3 + k)) & 1) << (3 * k + 2) | ((g >> (3 + k)) & 1) << (3 * k + 1) | ((b >> (3 + k)) & 1)
                                                                                              << (3 * k);
    return code;
}

// The palette search, step by step.
std::vector<Colour> PlainSearch(const Bytes& rgb, uint32_t colours)
{
    colours = std::clamp<uint32_t>(colours, 1, 256);
    struct Node {
        uint64_t sum[3] = {}, count = 0, weight = 0;
        int mask = 0;
    };
    std::vector<std::vector<Node>> tree(6);
    for (int level = 0; level < 6; ++level)
        tree[level].resize(size_t{1} << (3 * level));
    for (size_t i = 0; i < rgb.size(); i += 3) {
        Node& leaf = tree[5][Code15(rgb[i], rgb[i + 1], rgb[i + 2])];
        for (int c = 0; c < 3; ++c)
            leaf.sum[c] += rgb[i + c];
        ++leaf.count;
    }
    std::vector<std::pair<int, int>> heap(1);  // (level, index) from position 1
    for (int code = 0; code < 32768; ++code) {
        Node& leaf = tree[5][code];
        if (!leaf.count)
            continue;
        heap.push_back({5, code});
        leaf.weight = leaf.count;
        for (int level = 4; level >= 0; --level) {
            tree[level][code >> (3 * (5 - level))].weight += leaf.count;
            tree[level][code >> (3 * (5 - level))].mask |= 1 << ((code >> (3 * (4 - level))) & 7);
        }
    }
    auto weight = [&](size_t p) { return tree[heap[p].first][heap[p].second].weight; };
    auto sift = [&](size_t i) {
        const size_t n = heap.size() - 1;
        while (i <= n / 2) {
            size_t c = 2 * i;
            if (c + 1 <= n && weight(c) > weight(c + 1))
                ++c;
            if (weight(i) <= weight(c))
                break;
            std::swap(heap[i], heap[c]);
            i = c;
        }
    };
    for (size_t i = heap.size() - 1; i >= 1; --i)
        sift(i);
    while (heap.size() - 1 > colours) {
        const auto [level, index] = heap[1];
        const std::pair<int, int> parent{std::max(0, level - 1), index >> 3};
        Node& x = tree[level][index];
        Node& p = tree[parent.first][parent.second];
        if (p.count) {
            heap[1] = heap.back();
            heap.pop_back();
        } else {
            heap[1] = parent;
        }
        p.count += x.count;
        for (int c = 0; c < 3; ++c)
            p.sum[c] += x.sum[c];
        p.mask &= ~(1 << (index & 7));
        sift(1);
    }
    std::vector<Colour> palette;
    auto walk = [&](auto&& self, int level, int index) -> void {
        const Node& node = tree[level][index];
        for (int child = 7; child >= 0; --child)
            if (node.mask & (1 << child))
                self(self, level + 1, index * 8 + child);
        if (node.count)
            palette.push_back({int((node.sum[0] + node.count / 2) / node.count),
                               int((node.sum[1] + node.count / 2) / node.count),
                               int((node.sum[2] + node.count / 2) / node.count)});
    };
    walk(walk, 0, 0);
    return palette;
}

// The mapping by picture columns: error planes indexed by x instead of slots.
Bytes PlainMap(const Bytes& rgb, int width, int height, const std::vector<Colour>& palette, bool dither, int limit)
{
    Bytes out(rgb.size() / 3);
    std::vector<int> cache(32768, -1);
    std::vector<Colour> above(width, Colour{}), below(width, Colour{});
    for (int y = 0; y < height; ++y) {
        const int d = y % 2 ? -1 : 1;
        std::fill(below.begin(), below.end(), Colour{});
        Colour carried{};
        for (int p = 0; p < width; ++p) {
            const int x = d > 0 ? p : width - 1 - p;
            Colour v;
            for (int c = 0; c < 3; ++c) {
                const int e = above[x][c] + carried[c];
                v[c] = std::clamp(rgb[(size_t(y) * width + x) * 3 + c] + (dither ? (e + 8) >> 4 : e >> 1), 0, 255);
            }
            int& cell = cache[((v[0] & 0xF8) << 7) | ((v[1] & 0xF8) << 2) | (v[2] >> 3)];
            if (cell < 0) {
                int best = 16581376;
                for (size_t j = 0; j < palette.size(); ++j) {
                    int dist = 0;
                    for (int c = 0; c < 3; ++c)
                        dist += (v[c] - palette[j][c]) * (v[c] - palette[j][c]);
                    if (dist < best) {
                        best = dist;
                        cell = int(j);
                    }
                }
            }
            out[size_t(y) * width + x] = uint8_t(cell);
            for (int c = 0; c < 3; ++c) {
                const int err = std::clamp(v[c] - palette[cell][c], -limit, limit);
                auto add = [&](int at, int amount) {
                    if (at >= 0 && at < width)
                        below[at][c] += amount;
                };
                if (dither) {
                    add(x + d, err);
                    add(x, 5 * err);
                    add(x - d, 3 * err);
                    carried[c] = 7 * err;
                } else {
                    add(x, err);
                    carried[c] = err;
                }
            }
        }
        std::swap(above, below);
    }
    return out;
}

Bytes Quads(const std::vector<Colour>& palette, size_t entries)
{
    Bytes quads(entries * 4, 0xAA);
    for (size_t i = 0; i < palette.size() && i < entries; ++i) {
        quads[i * 4] = uint8_t(palette[i][2]);
        quads[i * 4 + 1] = uint8_t(palette[i][1]);
        quads[i * 4 + 2] = uint8_t(palette[i][0]);
    }
    for (size_t i = palette.size(); i < entries; ++i)
        quads[i * 4] = quads[i * 4 + 1] = quads[i * 4 + 2] = 0;
    return quads;
}

// Uniform noise, or smooth gradients with grain as in a photograph.
Bytes Picture(uint32_t width, uint32_t height, bool smooth, std::mt19937& random)
{
    Bytes rgb(size_t(width) * height * 3);
    for (uint32_t y = 0; y < height; ++y)
        for (uint32_t x = 0; x < width; ++x)
            for (int c = 0; c < 3; ++c) {
                const int base = smooth ? int((x * (c + 1) * 97 + y * (3 - c) * 61) / (width + height)) : 0;
                const int grain = smooth ? int(random() % 9) - 4 : int(random() % 256);
                rgb[(size_t(y) * width + x) * 3 + c] = uint8_t(std::clamp(base + grain, 0, 255));
            }
    return rgb;
}

std::vector<uint32_t> g_stages;
uint32_t g_stopAt = ~0u;

uint32_t Record(uint32_t current, uint32_t total, uint32_t)
{
    g_stages.push_back(current * 100 + total);
    return g_stages.size() - 1 == g_stopAt ? 0 : 1;
}

class Palette : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_stages.clear();
        g_stopAt = ~0u;
    }
    void TearDown() override
    {
        SetProgressCallback(nullptr, 0);
        SetDitherErrorLimit(20);
    }
};

TEST_F(Palette, ReduceMatchesThePlainTranscription)
{
    std::mt19937 random(14);
    struct Size {
        uint32_t width, height;
    };
    const Size sizes[] = {{1, 1}, {1, 9}, {13, 1}, {31, 17}, {96, 64}};
    const uint32_t colourCounts[] = {1, 2, 16, 256};
    const uint32_t limits[] = {0, 20, 127};
    for (const Size& s : sizes)
        for (bool smooth : {false, true}) {
            const Bytes rgb = Picture(s.width, s.height, smooth, random);
            for (uint32_t colours : colourCounts)
                for (uint32_t dither : {0u, 1u})
                    for (uint32_t limit : limits) {
                        SCOPED_TRACE(testing::Message() << s.width << "x" << s.height << " smooth " << smooth
                                                        << " colours " << colours << " dither " << dither
                                                        << " limit " << limit);
                        SetDitherErrorLimit(limit);
                        const std::vector<Colour> palette = PlainSearch(rgb, colours);
                        Bytes indices(size_t(s.width) * s.height, 0xEE);
                        Bytes quads(colours * 4, 0xAA);
                        ASSERT_EQ(ReduceToPalette(rgb.data(), s.width, s.height, indices.data(), colours,
                                                  quads.data(), dither),
                                  1u);
                        EXPECT_EQ(quads, Quads(palette, colours));
                        EXPECT_EQ(indices, PlainMap(rgb, int(s.width), int(s.height), palette, dither, int(limit)));

                        Bytes made(colours * 4, 0xAA);
                        ASSERT_EQ(MakePalette(rgb.data(), s.width, s.height, colours, made.data()), 1u);
                        EXPECT_EQ(made, quads);

                        // The same palette handed back maps to the same indices.
                        Bytes mapped(indices.size());
                        const uint32_t count = uint32_t(std::max<size_t>(palette.size(), 1));
                        ASSERT_EQ(MapToPalette(rgb.data(), s.width, s.height, mapped.data(), count, quads.data(),
                                               dither),
                                  1u);
                        EXPECT_EQ(mapped, indices);
                    }
        }
}

TEST_F(Palette, TenColoursInDistinctCellsGiveExactlyThemInWalkOrder)
{
    const std::vector<Colour> colours = {{0, 0, 0},     {255, 255, 255}, {200, 16, 40},  {16, 200, 40},
                                         {40, 16, 200}, {128, 128, 128}, {64, 192, 8},   {250, 100, 0},
                                         {9, 99, 199},  {180, 180, 60}};
    Bytes rgb;
    for (int repeat = 0; repeat < 3; ++repeat)
        for (const Colour& c : colours)
            rgb.insert(rgb.end(), {uint8_t(c[0]), uint8_t(c[1]), uint8_t(c[2])});
    // The walk visits children from 7 down to 0, leaves before their parents: descending codes.
    std::vector<Colour> expected = colours;
    std::sort(expected.begin(), expected.end(),
              [](const Colour& a, const Colour& b) { return Code15(a[0], a[1], a[2]) > Code15(b[0], b[1], b[2]); });
    Bytes quads(256 * 4, 0xAA);
    ASSERT_EQ(MakePalette(rgb.data(), 10, 3, 256, quads.data()), 1u);
    EXPECT_EQ(quads, Quads(expected, 256));  // byte 3 untouched, entries 10 to 255 black

    // Above 256 acts as 256; 0 as 1: the rounded mean of every pixel.
    Bytes above(256 * 4, 0xAA);
    ASSERT_EQ(MakePalette(rgb.data(), 10, 3, 100000, above.data()), 1u);
    EXPECT_EQ(above, quads);
    Colour mean{};
    for (int c = 0; c < 3; ++c) {
        int sum = 0;
        for (const Colour& colour : colours)
            sum += 3 * colour[c];
        mean[c] = (sum + 15) / 30;
    }
    Bytes one(4, 0xAA);
    ASSERT_EQ(MakePalette(rgb.data(), 10, 3, 0, one.data()), 1u);
    EXPECT_EQ(one, Quads({mean}, 1));

    // Colours that are palette entries map to themselves without error.
    Bytes indices(30);
    ASSERT_EQ(MapToPalette(rgb.data(), 10, 3, indices.data(), 10, quads.data(), 0), 1u);
    for (size_t i = 0; i < indices.size(); ++i)
        EXPECT_EQ(expected[indices[i]], colours[i % 10]);
}

TEST_F(Palette, TiesGoToTheLowerIndex)
{
    // (10, 0, 0) lies halfway between entries 1 and 2; entries 3 and 4 are the same colour.
    const Bytes quads = Quads({{200, 200, 200}, {0, 0, 0}, {20, 0, 0}, {90, 90, 90}, {90, 90, 90}}, 5);
    const Bytes rgb = {10, 0, 0, 90, 90, 90};
    Bytes indices(2, 0xEE);
    ASSERT_EQ(MapToPalette(rgb.data(), 2, 1, indices.data(), 5, quads.data(), 0), 1u);
    EXPECT_EQ(indices, (Bytes{1, 3}));
}

TEST_F(Palette, OneColourBeyondThirtyTwoBitSumsKeepsItsValue)
{
    // 16.9 million white pixels: their red sum no longer fits in 32 bits.
    const uint32_t width = 4200, height = 4011;
    const Bytes rgb(size_t(width) * height * 3, 255);
    Bytes quads(4, 0);
    ASSERT_EQ(MakePalette(rgb.data(), width, height, 1, quads.data()), 1u);
    EXPECT_EQ(quads, (Bytes{255, 255, 255, 0}));
}

TEST_F(Palette, StagesAreReportedAndAStopEndsTheSearch)
{
    std::mt19937 random(3);
    const Bytes rgb = Picture(16, 8, false, random);
    Bytes quads(16 * 4, 0xAA);
    SetProgressCallback(Record, 0);
    ASSERT_EQ(MakePalette(rgb.data(), 16, 8, 16, quads.data()), 1u);
    EXPECT_EQ(g_stages, (std::vector<uint32_t>{4, 104, 204, 304}));  // (stage, 4)

    g_stages.clear();
    g_stopAt = 1;
    Bytes untouched(16 * 4, 0xAA);
    EXPECT_EQ(MakePalette(rgb.data(), 16, 8, 16, untouched.data()), 0u);
    EXPECT_EQ(GetLastLibraryError(), uint32_t{PX_ERR_CANCELLED});
    EXPECT_EQ(g_stages.size(), 2u);
    EXPECT_EQ(untouched, Bytes(16 * 4, 0xAA));

    // The mapping reports rows, the search of ReduceToPalette no stages.
    g_stages.clear();
    g_stopAt = ~0u;
    Bytes indices(16 * 8);
    ASSERT_EQ(ReduceToPalette(rgb.data(), 16, 8, indices.data(), 16, quads.data(), 1), 1u);
    EXPECT_EQ(g_stages, (std::vector<uint32_t>{8, 108, 208, 308, 408, 508, 608, 708}));
    g_stages.clear();
    g_stopAt = 0;
    EXPECT_EQ(MapToPalette(rgb.data(), 16, 8, indices.data(), 16, quads.data(), 0), 0u);
    EXPECT_EQ(GetLastLibraryError(), uint32_t{PX_ERR_CANCELLED});
}

TEST_F(Palette, BadArgumentsAreRefused)
{
    const Bytes rgb(12, 7);
    Bytes indices(4), quads(300 * 4, 0);
    const uint8_t* p = rgb.data();
    uint8_t* i = indices.data();
    uint8_t* q = quads.data();
    struct Case {
        const char* what;
        std::function<uint32_t()> call;
    };
    const Case cases[] = {
        {"MakePalette without a picture", [&] { return MakePalette(nullptr, 2, 2, 4, q); }},
        {"MakePalette without a palette", [&] { return MakePalette(p, 2, 2, 4, nullptr); }},
        {"ReduceToPalette without a picture", [&] { return ReduceToPalette(nullptr, 2, 2, i, 4, q, 0); }},
        {"ReduceToPalette without indices", [&] { return ReduceToPalette(p, 2, 2, nullptr, 4, q, 0); }},
        {"ReduceToPalette without a palette", [&] { return ReduceToPalette(p, 2, 2, i, 4, nullptr, 0); }},
        {"MapToPalette with 300 entries", [&] { return MapToPalette(p, 2, 2, i, 300, q, 1); }},
        {"MapToPalette with no entry", [&] { return MapToPalette(p, 2, 2, i, 0, q, 0); }},
        {"MapToPalette without a palette", [&] { return MapToPalette(p, 2, 2, i, 4, nullptr, 0); }},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.call(), 0u) << c.what;
        EXPECT_EQ(GetLastLibraryError(), uint32_t{PX_ERR_BAD_ARGUMENT}) << c.what;
    }
}

}  // namespace
