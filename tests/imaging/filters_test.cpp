// The sharpen, soften and median filters: worked examples, levels, edges, arguments, progress
// stops, and a byte-for-byte comparison with a plain per-pixel transcription.
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

// The plain transcription: nine neighbours gathered per pixel and channel, clamped indices.
Bytes PlainFilter(const Bytes& src, uint32_t width, uint32_t height, int64_t level, int rule)
{
    level = std::clamp<int64_t>(static_cast<int32_t>(level), 0, 100);
    const double k = rule == 0 ? level * 0.005 : level * 0.01;
    Bytes dst(src.size());
    for (uint32_t y = 0; y < height; ++y) {
        const uint32_t rows[3] = {y == 0 ? y : y - 1, y, y == height - 1 ? y : y + 1};
        for (uint32_t x = 0; x < width; ++x) {
            const uint32_t cols[3] = {x == 0 ? x : x - 1, x, x == width - 1 ? x : x + 1};
            for (uint32_t c = 0; c < 3; ++c) {
                int values[9], sum = 0;
                for (int i = 0; i < 9; ++i) {
                    values[i] = src[(size_t{rows[i / 3]} * width + cols[i % 3]) * 3 + c];
                    if (i != 4)
                        sum += values[i];
                }
                const int p = values[4];
                uint8_t out;
                if (rule == 0) {
                    double v = p - k * (sum - 8 * p);
                    v = std::min(std::max(v, 0.0), 255.0);
                    out = static_cast<uint8_t>(v);
                } else if (rule == 1) {
                    out = static_cast<uint8_t>(p * (1 - k) + (sum / 8) * k);
                } else {
                    std::sort(values, values + 9);
                    out = static_cast<uint8_t>(values[4]);
                }
                dst[(size_t{y} * width + x) * 3 + c] = out;
            }
        }
    }
    return dst;
}

uint32_t Median(const uint8_t* src, uint32_t width, uint32_t height, uint8_t* dst, uint32_t)
{
    return MedianRGB24(src, width, height, dst);
}

using Entry = uint32_t (*)(const uint8_t*, uint32_t, uint32_t, uint8_t*, uint32_t);
constexpr Entry kRules[3] = {SharpenRGB24, SoftenRGB24, Median};

Bytes Filtered(int rule, const Bytes& src, uint32_t width, uint32_t height, uint32_t level)
{
    Bytes dst(src.size(), 0xA5);
    EXPECT_EQ(kRules[rule](src.data(), width, height, dst.data(), level), 1u);
    EXPECT_EQ(GetLastLibraryError(), 0u);
    return dst;
}

// A 3 × 3 RGB24 image whose channels all hold the given nine values.
Bytes Square(std::initializer_list<uint8_t> nine)
{
    Bytes out;
    for (uint8_t v : nine)
        out.insert(out.end(), 3, v);
    return out;
}

TEST(Filters, SharpenWorkedExamples)
{
    // Level 10: a white dot stays white (357 held at 255); its black neighbours stay black.
    const Bytes dot = Square({0, 0, 0, 0, 255, 0, 0, 0, 0});
    EXPECT_EQ(Filtered(0, dot, 3, 3, 10), dot);
    // Level 100: 100 − 0.5 × (8 × 110 − 8 × 100) = 60 at the centre.
    const Bytes dip = Square({110, 110, 110, 110, 100, 110, 110, 110, 110});
    const Bytes sharpened = Filtered(0, dip, 3, 3, 100);
    EXPECT_EQ(Bytes(sharpened.begin() + 12, sharpened.begin() + 15), Bytes(3, 60));
}

TEST(Filters, UniformImagesAndSinglePixelsComeOutUnchanged)
{
    const Bytes uniform(6 * 4 * 3, 201);
    const Bytes pixel = {9, 130, 255};
    for (int rule = 0; rule < 3; ++rule)
        for (uint32_t level : {0u, 10u, 55u, 100u}) {
            EXPECT_EQ(Filtered(rule, uniform, 6, 4, level), uniform) << rule << " " << level;
            EXPECT_EQ(Filtered(rule, pixel, 1, 1, level), pixel) << rule << " " << level;
        }
}

TEST(Filters, LevelIsHeldToZeroToHundredAsASignedValue)
{
    const Bytes src = test::RandomBytes(11 * 7 * 3, 5);
    for (int rule = 0; rule < 2; ++rule) {
        EXPECT_EQ(Filtered(rule, src, 11, 7, 0), src);
        EXPECT_EQ(Filtered(rule, src, 11, 7, 0xFFFFFFFFu), src);  // −1
        EXPECT_EQ(Filtered(rule, src, 11, 7, 0x80000000u), src);
        EXPECT_EQ(Filtered(rule, src, 11, 7, 250), Filtered(rule, src, 11, 7, 100));
        EXPECT_NE(Filtered(rule, src, 11, 7, 100), src);
    }
}

TEST(Filters, MedianIsExactForEveryNeighbourhoodOfTwoValues)
{
    // A comparison network that picks the median of every 0/1 input picks it of any input.
    for (uint32_t bits = 0; bits < 512; ++bits) {
        Bytes src;
        int ones = 0;
        for (int i = 0; i < 9; ++i) {
            const bool one = bits >> i & 1;
            ones += one;
            src.insert(src.end(),
                       {uint8_t(one ? 255 : 0), uint8_t(one ? 0 : 255), uint8_t(one ? 7 : 3)});
        }
        const Bytes dst = Filtered(2, src, 3, 3, 0);
        const bool one = ones >= 5;
        ASSERT_EQ(Bytes(dst.begin() + 12, dst.begin() + 15),
                  (Bytes{uint8_t(one ? 255 : 0), uint8_t(one ? 0 : 255), uint8_t(one ? 7 : 3)}))
            << "neighbourhood " << bits;
    }
}

TEST(Filters, EveryRuleMatchesThePlainTranscriptionByteForByte)
{
    const uint32_t sizes[][2] = {{1, 1}, {1, 9}, {9, 1}, {2, 2}, {2, 5}, {5, 2},
                                 {3, 3}, {13, 7}, {31, 17}, {64, 3}, {211, 157}};
    uint32_t seed = 100;
    for (const auto& size : sizes) {
        const uint32_t w = size[0], h = size[1];
        // Noise drives sharpening into both clamps at high levels and stays in range at low.
        const Bytes src = test::RandomBytes(size_t{w} * h * 3, seed++);
        for (int rule = 0; rule < 3; ++rule)
            for (uint32_t level : {0u, 1u, 10u, 37u, 99u, 100u})
                EXPECT_EQ(Filtered(rule, src, w, h, level), PlainFilter(src, w, h, level, rule))
                    << w << "x" << h << " rule " << rule << " level " << level;
    }
}

TEST(Filters, BadArgumentsFailWithCodeFiveAndWriteNothing)
{
    Bytes src = test::RandomBytes(4 * 4 * 3, 8);
    const Bytes original = src;
    Bytes dst(src.size(), 0x5A);
    for (Entry entry : kRules) {
        EXPECT_EQ(entry(nullptr, 4, 4, dst.data(), 10), 0u);
        EXPECT_EQ(GetLastLibraryError(), 5u);
        EXPECT_EQ(entry(src.data(), 4, 4, nullptr, 10), 0u);
        EXPECT_EQ(GetLastLibraryError(), 5u);
        EXPECT_EQ(entry(src.data(), 4, 4, src.data(), 10), 0u);
        EXPECT_EQ(GetLastLibraryError(), 5u);
    }
    EXPECT_EQ(src, original);
    EXPECT_EQ(dst, Bytes(src.size(), 0x5A));
}

uint32_t g_stopAt;
uint32_t g_calls;

uint32_t StopAt(uint32_t current, uint32_t total, uint32_t)
{
    EXPECT_EQ(current, g_calls++);
    EXPECT_EQ(total, 6u);
    return current == g_stopAt ? 0 : 1;
}

TEST(Filters, AStopLeavesTheLaterRowsAsTheyWere)
{
    const uint32_t w = 5, h = 6;
    const Bytes src = test::RandomBytes(w * h * 3, 9);
    for (int rule = 0; rule < 3; ++rule) {
        const Bytes expected = PlainFilter(src, w, h, 50, rule);
        g_stopAt = 2;
        g_calls = 0;
        SetProgressCallback(StopAt, 0);
        Bytes dst(src.size(), 0xA5);
        EXPECT_EQ(kRules[rule](src.data(), w, h, dst.data(), 50), 0u);
        SetProgressCallback(nullptr, 0);
        EXPECT_EQ(GetLastLibraryError(), 14u);
        EXPECT_EQ(g_calls, 3u);
        const size_t written = 3 * w * 3;
        EXPECT_TRUE(std::equal(dst.begin(), dst.begin() + written, expected.begin()));
        EXPECT_EQ(Bytes(dst.begin() + written, dst.end()), Bytes(dst.size() - written, 0xA5));
    }
}

}  // namespace
