// Colour reduction: a plain transcription of the octree search and of both diffusion rules
// compared on random and smooth pictures, the worked examples, stages and refusals.
#include "pxlib.h"

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
        code |= ((r >> (3 + k)) & 1) << (3 * k + 2) | ((g >> (3 + k)) & 1) << (3 * k + 1) |
                ((b >> (3 + k)) & 1) << 3 * k;
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
    std::vector<Node> tree[6];
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
        if (!tree[5][code].count)
            continue;
        heap.push_back({5, code});
        tree[5][code].weight = tree[5][code].count;
        for (int level = 4; level >= 0; --level) {
            tree[level][code >> (3 * (5 - level))].weight += tree[5][code].count;
            tree[level][code >> (3 * (5 - level))].mask |= 1 << ((code >> (3 * (4 - level))) & 7);
        }
    }
    auto weight = [&](size_t p) { return tree[heap[p].first][heap[p].second].weight; };
    auto sift = [&](size_t i) {
        for (size_t n = heap.size() - 1, c; i <= n / 2; i = c) {
            c = 2 * i + (2 * i + 1 <= n && weight(2 * i) > weight(2 * i + 1));
            if (weight(i) <= weight(c))
                break;
            std::swap(heap[i], heap[c]);
        }
    };
    for (size_t i = heap.size() - 1; i >= 1; --i)
        sift(i);
    while (heap.size() - 1 > colours) {
        const auto [level, index] = heap[1];
        const std::pair<int, int> up{std::max(0, level - 1), index >> 3};
        Node &x = tree[level][index], &p = tree[up.first][up.second];
        if (p.count) {
            heap[1] = heap.back();
            heap.pop_back();
        } else {
            heap[1] = up;
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
    std::vector<Colour> above(width, Colour{}), below(width);
    for (int y = 0; y < height; ++y) {
        const int d = y % 2 ? -1 : 1;
        std::fill(below.begin(), below.end(), Colour{});
        Colour carried{}, v;
        for (int p = 0; p < width; ++p) {
            const int x = d > 0 ? p : width - 1 - p;
            for (int c = 0; c < 3; ++c) {
                const int e = above[x][c] + carried[c];
                v[c] = std::clamp(rgb[(size_t(y) * width + x) * 3 + c] + (dither ? (e + 8) >> 4 : e >> 1), 0, 255);
            }
            int& cell = cache[((v[0] & 0xF8) << 7) | ((v[1] & 0xF8) << 2) | (v[2] >> 3)];
            if (cell < 0)
                for (int j = 0, best = 16581376; j < int(palette.size()); ++j) {
                    int dist = 0;
                    for (int c = 0; c < 3; ++c)
                        dist += (v[c] - palette[j][c]) * (v[c] - palette[j][c]);
                    if (dist < best)
                        best = dist, cell = j;
                }
            out[size_t(y) * width + x] = uint8_t(cell);
            for (int c = 0; c < 3; ++c) {
                const int err = std::clamp(v[c] - palette[cell][c], -limit, limit);
                const int weights[3] = {dither ? 1 : 0, dither ? 5 : 1, dither ? 3 : 0};  // ahead, below, behind
                for (int k = 0; k < 3; ++k)
                    if (x + d * (1 - k) >= 0 && x + d * (1 - k) < width)
                        below[x + d * (1 - k)][c] += weights[k] * err;
                carried[c] = (dither ? 7 : 1) * err;
            }
        }
        std::swap(above, below);
    }
    return out;
}

// RGBQUAD entries as the reducer writes them: byte 3 untouched (0xAA), entries past the
// colours found black.
Bytes Quads(const std::vector<Colour>& palette, size_t entries)
{
    Bytes quads(entries * 4, 0xAA);
    for (size_t i = 0; i < entries; ++i)
        for (int c = 0; c < 3; ++c)
            quads[i * 4 + 2 - c] = i < palette.size() ? uint8_t(palette[i][c]) : 0;
    return quads;
}

// Uniform noise, or smooth gradients with grain as in a photograph.
Bytes Picture(uint32_t width, uint32_t height, bool smooth, std::mt19937& random)
{
    Bytes rgb(size_t(width) * height * 3);
    for (size_t i = 0; i < rgb.size(); ++i) {
        const size_t x = i / 3 % width, y = i / 3 / width, c = i % 3;
        const int base = int((x * (c + 1) * 97 + y * (3 - c) * 61) / (width + height));
        rgb[i] = uint8_t(smooth ? std::clamp(base + int(random() % 9) - 4, 0, 255) : random());
    }
    return rgb;
}

std::vector<uint32_t> g_reports;  // current * 100 + total
uint32_t g_stopAt = ~0u;

uint32_t Record(uint32_t current, uint32_t total, uint32_t)
{
    g_reports.push_back(current * 100 + total);
    return g_reports.size() - 1 == g_stopAt ? 0 : 1;
}

class Palette : public ::testing::Test {
protected:
    void TearDown() override
    {
        SetProgressCallback(nullptr, 0);
        SetDitherErrorLimit(20);
    }
};

TEST_F(Palette, ReduceMakeAndMapMatchThePlainTranscription)
{
    std::mt19937 random(14);
    const std::pair<uint32_t, uint32_t> sizes[] = {{1, 1}, {1, 9}, {13, 1}, {31, 17}, {96, 64}};
    for (const auto& [width, height] : sizes)
        for (bool smooth : {false, true}) {
            const Bytes rgb = Picture(width, height, smooth, random);
            for (uint32_t colours : {1u, 2u, 16u, 256u})
                for (uint32_t dither : {0u, 1u})
                    for (uint32_t limit : {0u, 20u, 127u}) {
                        SCOPED_TRACE(testing::Message() << width << "x" << height << " smooth " << smooth << " colours "
                                                        << colours << " dither " << dither << " limit " << limit);
                        SetDitherErrorLimit(limit);
                        const std::vector<Colour> palette = PlainSearch(rgb, colours);
                        const Bytes expected = PlainMap(rgb, int(width), int(height), palette, dither, int(limit));
                        Bytes indices(expected.size(), 0xEE), quads(colours * 4, 0xAA), made = quads;
                        ASSERT_EQ(ReduceToPalette(rgb.data(), width, height, indices.data(), colours,
                                                  quads.data(), dither), 1u);
                        EXPECT_EQ(quads, Quads(palette, colours));
                        EXPECT_EQ(indices, expected);
                        ASSERT_EQ(MakePalette(rgb.data(), width, height, colours, made.data()), 1u);
                        EXPECT_EQ(made, quads);
                        // The palette handed back maps to the same indices.
                        ASSERT_EQ(MapToPalette(rgb.data(), width, height, indices.data(), uint32_t(palette.size()),
                                               quads.data(), dither), 1u);
                        EXPECT_EQ(indices, expected);
                    }
        }
}

TEST_F(Palette, TenColoursInDistinctCellsGiveExactlyThemInWalkOrder)
{
    const std::vector<Colour> colours = {{0, 0, 0},   {255, 255, 255}, {200, 16, 40}, {16, 200, 40}, {40, 16, 200},
                                         {128, 128, 128}, {64, 192, 8}, {250, 100, 0}, {9, 99, 199}, {180, 180, 60}};
    Bytes rgb;
    for (int repeat = 0; repeat < 3; ++repeat)
        for (const Colour& c : colours)
            rgb.insert(rgb.end(), {uint8_t(c[0]), uint8_t(c[1]), uint8_t(c[2])});
    // The walk visits children from 7 down to 0, leaves before their parents: descending codes.
    std::vector<Colour> walked = colours;
    std::sort(walked.begin(), walked.end(),
              [](const Colour& a, const Colour& b) { return Code15(a[0], a[1], a[2]) > Code15(b[0], b[1], b[2]); });
    Bytes quads(256 * 4, 0xAA), above = quads, one(4, 0xAA), indices(30);
    ASSERT_EQ(MakePalette(rgb.data(), 10, 3, 256, quads.data()), 1u);
    EXPECT_EQ(quads, Quads(walked, 256));
    ASSERT_EQ(MakePalette(rgb.data(), 10, 3, 100000, above.data()), 1u);  // acts as 256
    EXPECT_EQ(above, quads);
    // 0 acts as 1: the rounded mean of every pixel.
    Colour mean{};
    for (int c = 0; c < 3; ++c) {
        for (const Colour& colour : colours)
            mean[c] += 3 * colour[c];
        mean[c] = (mean[c] + 15) / 30;
    }
    ASSERT_EQ(MakePalette(rgb.data(), 10, 3, 0, one.data()), 1u);
    EXPECT_EQ(one, Quads({mean}, 1));
    // Colours that are palette entries map to themselves without error.
    ASSERT_EQ(MapToPalette(rgb.data(), 10, 3, indices.data(), 10, quads.data(), 0), 1u);
    for (size_t i = 0; i < indices.size(); ++i)
        EXPECT_EQ(walked[indices[i]], colours[i % 10]);
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
    const Bytes rgb(size_t(4200) * 4011 * 3, 255);
    Bytes quads(4, 0);
    ASSERT_EQ(MakePalette(rgb.data(), 4200, 4011, 1, quads.data()), 1u);
    EXPECT_EQ(quads, (Bytes{255, 255, 255, 0}));
}

TEST_F(Palette, StagesAreReportedAndAStopEndsTheSearch)
{
    std::mt19937 random(3);
    const Bytes rgb = Picture(16, 8, false, random);
    Bytes quads(16 * 4, 0xAA), untouched = quads, indices(16 * 8);
    SetProgressCallback(Record, 0);
    ASSERT_EQ(MakePalette(rgb.data(), 16, 8, 16, quads.data()), 1u);
    EXPECT_EQ(g_reports, (std::vector<uint32_t>{4, 104, 204, 304}));
    g_reports.clear();
    g_stopAt = 1;
    EXPECT_EQ(MakePalette(rgb.data(), 16, 8, 16, untouched.data()), 0u);
    EXPECT_EQ(GetLastLibraryError(), uint32_t{PX_ERR_CANCELLED});
    EXPECT_EQ(g_reports.size(), 2u);
    EXPECT_EQ(untouched, Bytes(16 * 4, 0xAA));
    // ReduceToPalette reports the rows of its mapping, not the stages of its search.
    g_reports.clear();
    g_stopAt = 7;
    EXPECT_EQ(ReduceToPalette(rgb.data(), 16, 8, indices.data(), 16, quads.data(), 1), 0u);
    EXPECT_EQ(g_reports, (std::vector<uint32_t>{8, 108, 208, 308, 408, 508, 608, 708}));
    EXPECT_EQ(GetLastLibraryError(), uint32_t{PX_ERR_CANCELLED});
}

TEST_F(Palette, BadArgumentsAreRefused)
{
    const Bytes rgb(12, 7);
    Bytes indices(4), quads(300 * 4, 0);
    const uint8_t* p = rgb.data();
    uint8_t *i = indices.data(), *q = quads.data();
    const std::pair<const char*, std::function<uint32_t()>> cases[] = {
        {"MakePalette without a picture", [&] { return MakePalette(nullptr, 2, 2, 4, q); }},
        {"MakePalette without a palette", [&] { return MakePalette(p, 2, 2, 4, nullptr); }},
        {"ReduceToPalette without a picture", [&] { return ReduceToPalette(nullptr, 2, 2, i, 4, q, 0); }},
        {"ReduceToPalette without indices", [&] { return ReduceToPalette(p, 2, 2, nullptr, 4, q, 0); }},
        {"ReduceToPalette without a palette", [&] { return ReduceToPalette(p, 2, 2, i, 4, nullptr, 0); }},
        {"MapToPalette with 300 entries", [&] { return MapToPalette(p, 2, 2, i, 300, q, 1); }},
        {"MapToPalette with no entry", [&] { return MapToPalette(p, 2, 2, i, 0, q, 0); }},
        {"MapToPalette without a palette", [&] { return MapToPalette(p, 2, 2, i, 4, nullptr, 0); }},
    };
    for (const auto& [what, call] : cases) {
        EXPECT_EQ(call(), 0u) << what;
        EXPECT_EQ(GetLastLibraryError(), uint32_t{PX_ERR_BAD_ARGUMENT}) << what;
    }
}

}  // namespace
