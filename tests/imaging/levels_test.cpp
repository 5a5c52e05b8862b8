// Auto brightness and levels: a plain transcription compared on random images, the worked
// examples, flat images, and which phases report progress.
#include "pxlib.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

uint8_t PlainLuminance(uint8_t r, uint8_t g, uint8_t b)
{
    const double y = 0.299 * r + 0.587 * g + 0.114 * b;
    return static_cast<uint8_t>(static_cast<int>(y));
}

uint8_t Clamp(int v)
{
    return static_cast<uint8_t>(std::clamp(v, 0, 255));
}

// The percentile stretch step by step. Clips must add up to less than 100 %.
void PlainStretch(uint8_t* grey, size_t n, double lowPercent, double highPercent)
{
    lowPercent = std::clamp(lowPercent, 0.0, 100.0);
    highPercent = std::clamp(highPercent, 0.0, 100.0);
    uint64_t histogram[256] = {};
    for (size_t i = 0; i < n; ++i)
        ++histogram[grey[i]];
    const auto lowCount = static_cast<uint64_t>(n * lowPercent / 100);
    const auto highCount = static_cast<uint64_t>(n * (1 - highPercent / 100));
    int lo = 0, hi = 0;
    bool loFound = false;
    uint64_t total = 0;
    for (int v = 0; v < 256; ++v) {
        total += histogram[v];
        if (!loFound && total >= lowCount) {
            lo = v;
            loFound = true;
        }
        if (total >= highCount) {
            hi = v;
            break;
        }
    }
    if (lo > hi)
        std::swap(lo, hi);
    const int range = hi - lo;
    if (range == 0)
        return;  // no scale: the chosen behaviour is to leave the levels alone
    const int target = static_cast<int>(range + (255 - range) * 1.0);
    const double scale = static_cast<double>(target) / range;
    for (size_t i = 0; i < n; ++i)
        grey[i] = Clamp(static_cast<int>((grey[i] - lo) * scale));
}

void PlainEqualize(uint8_t* grey, size_t n, uint32_t low, uint32_t high)
{
    if (low > high)
        std::swap(low, high);
    uint64_t histogram[256] = {};
    uint64_t count = 0;
    for (size_t i = 0; i < n; ++i)
        if (low < grey[i] && grey[i] < high) {
            ++histogram[grey[i]];
            ++count;
        }
    int64_t table[256];
    uint64_t running = 0;
    for (int v = 0; v < 256; ++v) {
        running += histogram[v];
        table[v] = count ? static_cast<int64_t>(running * 255) / static_cast<int64_t>(count) : 0;
    }
    for (size_t i = 0; i < n; ++i)
        if (low < grey[i] && grey[i] < high)
            grey[i] = static_cast<uint8_t>(table[grey[i]]);
}

void PlainAutoBrightness(Bytes& rgb, uint32_t low, uint32_t high, uint32_t mode)
{
    const size_t n = rgb.size() / 3;
    Bytes grey(n);
    for (size_t i = 0; i < n; ++i)
        grey[i] = PlainLuminance(rgb[i * 3], rgb[i * 3 + 1], rgb[i * 3 + 2]);
    if (mode == 1)
        PlainEqualize(grey.data(), n, low, high);
    else
        PlainStretch(grey.data(), n, low * 100.0 / 255, (255.0 - high) * 100 / 255);
    for (size_t i = 0; i < n; ++i) {
        uint8_t* p = &rgb[i * 3];
        const int d = PlainLuminance(p[0], p[1], p[2]) - grey[i];
        for (int c = 0; c < 3; ++c)
            p[c] = Clamp(p[c] - d);
    }
}

// Random pixels within a random band of levels, so that the stretch has work to do.
Bytes RandomPicture(size_t pixels, std::mt19937& random)
{
    const int from = static_cast<int>(random() % 120);
    const int span = 20 + static_cast<int>(random() % (236 - from));
    Bytes rgb(pixels * 3);
    for (uint8_t& b : rgb)
        b = static_cast<uint8_t>(from + random() % span);
    return rgb;
}

struct Size {
    uint32_t width, height;
};
const Size kSizes[] = {{1, 1}, {1, 17}, {23, 1}, {7, 5}, {61, 37}, {257, 11}};

std::vector<uint32_t> g_rows;
uint32_t g_calls = 0;
uint32_t g_stopAtCall = ~0u;

uint32_t Record(uint32_t current, uint32_t, uint32_t)
{
    g_rows.push_back(current);
    return g_calls++ == g_stopAtCall ? 0 : 1;
}

class Levels : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_rows.clear();
        g_calls = 0;
        g_stopAtCall = ~0u;
    }
    void TearDown() override { SetProgressCallback(nullptr, 0); }
};

TEST_F(Levels, AutoBrightnessMatchesThePlainTranscription)
{
    std::mt19937 random(2024);
    struct Arguments {
        uint32_t low, high, mode;
    };
    const Arguments arguments[] = {{5, 250, 0}, {0, 255, 0}, {30, 200, 0}, {90, 160, 0},
                                   {0, 255, 1}, {40, 180, 1}, {200, 60, 1}};
    for (const Size& s : kSizes) {
        for (const Arguments& a : arguments) {
            for (int round = 0; round < 3; ++round) {
                Bytes rgb = RandomPicture(static_cast<size_t>(s.width) * s.height, random);
                Bytes expected = rgb;
                PlainAutoBrightness(expected, a.low, a.high, a.mode);
                ASSERT_EQ(AutoBrightness(rgb.data(), s.width, s.height, a.low, a.high, a.mode), 1u);
                EXPECT_EQ(GetLastLibraryError(), 0u);
                ASSERT_EQ(rgb, expected) << s.width << "x" << s.height << " low " << a.low << " high " << a.high
                                         << " mode " << a.mode;
            }
        }
    }
}

TEST_F(Levels, GreyOperationsMatchThePlainTranscription)
{
    std::mt19937 random(77);
    for (const Size& s : kSizes) {
        const size_t n = static_cast<size_t>(s.width) * s.height;
        for (int round = 0; round < 4; ++round) {
            Bytes grey = RandomPicture(n, random);
            grey.resize(n);
            const double lowPercent = (random() % 400) / 10.0;
            const double highPercent = (random() % 400) / 10.0;
            Bytes expected = grey;
            PlainStretch(expected.data(), n, lowPercent, highPercent);
            Bytes stretched = grey;
            ASSERT_EQ(StretchGreyLevels(stretched.data(), s.width, s.height, lowPercent, highPercent), 1u);
            EXPECT_EQ(stretched, expected) << "stretch " << lowPercent << " " << highPercent;

            const uint32_t low = random() % 200, high = random() % 300;
            expected = grey;
            PlainEqualize(expected.data(), n, low, high);
            ASSERT_EQ(EqualizeGreyRange(grey.data(), s.width, s.height, low, high), 1u);
            EXPECT_EQ(grey, expected) << "equalize " << low << " " << high;
        }
    }
}

TEST_F(Levels, WorkedStretchExamples)
{
    // Half 50, half 200, 2 % clipped at both ends: 50 and 200 become the extremes.
    Bytes twoLevels(100, 50);
    std::fill(twoLevels.begin() + 50, twoLevels.end(), 200);
    ASSERT_EQ(StretchGreyLevels(twoLevels.data(), 10, 10, 2, 2), 1u);
    EXPECT_EQ(std::count(twoLevels.begin(), twoLevels.end(), 0), 50);
    EXPECT_EQ(std::count(twoLevels.begin(), twoLevels.end(), 255), 50);

    // No clipping and a largest level of 255: nothing changes.
    Bytes full = {0, 17, 128, 254, 255, 3};
    const Bytes fullBefore = full;
    ASSERT_EQ(StretchGreyLevels(full.data(), 3, 2, 0, 0), 1u);
    EXPECT_EQ(full, fullBefore);

    // 255 / 100 × 100 comes out just below 255 in double precision; 255 / 150 × 150 does not.
    Bytes range100 = {0, 100, 50};
    ASSERT_EQ(StretchGreyLevels(range100.data(), 3, 1, 0, 0), 1u);
    EXPECT_EQ(range100, (Bytes{0, 254, 127}));
    Bytes range150 = {0, 150};
    ASSERT_EQ(StretchGreyLevels(range150.data(), 2, 1, 0, 0), 1u);
    EXPECT_EQ(range150[1], 255);

    // Clips adding up to more than 100 %: both points are found and put in order.
    Bytes ramp(100);
    for (int i = 0; i < 100; ++i)
        ramp[i] = static_cast<uint8_t>(i);
    ASSERT_EQ(StretchGreyLevels(ramp.data(), 100, 1, 70, 70), 1u);  // lo 29, hi 69
    EXPECT_EQ(ramp[29], 0);
    EXPECT_EQ(ramp[49], 127);
    EXPECT_EQ(ramp[69], 255);
}

TEST_F(Levels, CoincidingClipPointsLeaveTheLevelsAlone)
{
    Bytes flat(100, 90);
    ASSERT_EQ(StretchGreyLevels(flat.data(), 10, 10, 2, 2), 1u);
    EXPECT_EQ(GetLastLibraryError(), 0u);
    EXPECT_EQ(flat, Bytes(100, 90));

    // 98 of 100 pixels at 100: both 2 % clip points land on 100.
    Bytes mostly(100, 100);
    mostly[0] = 10;
    mostly[99] = 240;
    const Bytes mostlyBefore = mostly;
    ASSERT_EQ(StretchGreyLevels(mostly.data(), 100, 1, 2, 2), 1u);
    EXPECT_EQ(mostly, mostlyBefore);

    Bytes flatRgb(100 * 3, 60);
    ASSERT_EQ(AutoBrightness(flatRgb.data(), 10, 10, 5, 250, 0), 1u);
    EXPECT_EQ(flatRgb, Bytes(300, 60));
    ASSERT_EQ(StretchRGBLevels(flatRgb.data(), 10, 10, 2, 2, 7), 1u);
    EXPECT_EQ(flatRgb, Bytes(300, 60));
}

TEST_F(Levels, PureRedMovesByTheLuminanceChange)
{
    // Luminance 76 (red) and 192: without clipping 76 maps to trunc(76 × 255 / 192) = 100.
    Bytes rgb = {255, 0, 0, 192, 192, 192};
    uint8_t grey[2];
    ASSERT_EQ(RGBToGrey8(rgb.data(), 2, 1, grey), 1u);
    ASSERT_EQ(grey[0], 76);
    ASSERT_EQ(grey[1], 192);
    ASSERT_EQ(AutoBrightness(rgb.data(), 2, 1, 0, 255, 0), 1u);
    EXPECT_EQ(rgb, (Bytes{255, 24, 24, 255, 255, 255}));
}

TEST_F(Levels, EqualizationEdges)
{
    Bytes grey = {5, 10, 11, 200};
    const Bytes before = grey;
    ASSERT_EQ(EqualizeGreyRange(grey.data(), 2, 2, 10, 10), 1u);
    EXPECT_EQ(grey, before);

    // 9 million pixels: running × 255 no longer fits in 32 bits.
    const uint32_t side = 3000;
    Bytes big(static_cast<size_t>(side) * side, 100);
    std::fill(big.begin() + big.size() / 2, big.end(), 150);
    ASSERT_EQ(EqualizeGreyRange(big.data(), side, side, 0, 255), 1u);
    EXPECT_EQ(big.front(), 127);
    EXPECT_EQ(big.back(), 255);
}

TEST_F(Levels, StretchRGBLevelsIsTheGreyStretchPerSelectedChannel)
{
    std::mt19937 random(5);
    const uint32_t w = 45, h = 19;
    const size_t n = static_cast<size_t>(w) * h;
    for (uint8_t mask = 0; mask < 8; ++mask) {
        Bytes rgb(n * 3);
        for (size_t i = 0; i < n * 3; ++i)  // each channel its own band
            rgb[i] = static_cast<uint8_t>(30 * (i % 3) + random() % 120);
        Bytes planes[3] = {Bytes(n), Bytes(n), Bytes(n)};
        ASSERT_EQ(SplitPlanes(rgb.data(), w, h, planes[0].data(), planes[1].data(), planes[2].data()), 1u);
        for (int c = 0; c < 3; ++c) {
            if (mask & (1 << c)) {
                ASSERT_EQ(StretchGreyLevels(planes[c].data(), w, h, 3, 4), 1u);
            }
        }
        Bytes expected(n * 3);
        ASSERT_EQ(JoinPlanes(expected.data(), w, h, planes[0].data(), planes[1].data(), planes[2].data()), 1u);
        ASSERT_EQ(StretchRGBLevels(rgb.data(), w, h, 3, 4, mask), 1u);
        EXPECT_EQ(rgb, expected) << "mask " << int(mask);
    }
}

TEST_F(Levels, ArgumentsAndEmptyImages)
{
    EXPECT_EQ(AutoBrightness(nullptr, 2, 2, 5, 250, 0), 0u);
    EXPECT_EQ(GetLastLibraryError(), 5u);
    EXPECT_EQ(StretchGreyLevels(nullptr, 2, 2, 1, 1), 0u);
    EXPECT_EQ(GetLastLibraryError(), 5u);
    EXPECT_EQ(EqualizeGreyRange(nullptr, 2, 2, 1, 100), 0u);
    EXPECT_EQ(GetLastLibraryError(), 5u);
    EXPECT_EQ(StretchRGBLevels(nullptr, 2, 2, 1, 1, 7), 0u);
    EXPECT_EQ(GetLastLibraryError(), 5u);

    uint8_t pixel[3] = {9, 9, 9};
    EXPECT_EQ(StretchGreyLevels(pixel, 0, 5, 1, 1), 1u);
    EXPECT_EQ(GetLastLibraryError(), 0u);
    EXPECT_EQ(StretchRGBLevels(pixel, 1, 0, 1, 1, 7), 1u);
    EXPECT_EQ(AutoBrightness(pixel, 0, 1, 5, 250, 0), 1u);
    EXPECT_EQ(pixel[0], 9);
}

TEST_F(Levels, ProgressComesFromTheStretchAndTheColourPass)
{
    std::mt19937 random(3);
    const uint32_t w = 6, h = 4;
    const Bytes original = RandomPicture(w * h, random);
    Bytes expected = original;
    PlainAutoBrightness(expected, 5, 250, 0);
    SetProgressCallback(Record, 0);

    Bytes rgb = original;
    ASSERT_EQ(AutoBrightness(rgb.data(), w, h, 5, 250, 0), 1u);
    EXPECT_EQ(g_rows, (std::vector<uint32_t>{0, 1, 2, 3, 0, 1, 2, 3}));

    // Equalisation runs as a counted inner operation: only the colour pass reports.
    g_rows.clear();
    rgb = original;
    ASSERT_EQ(AutoBrightness(rgb.data(), w, h, 40, 200, 1), 1u);
    EXPECT_EQ(g_rows, (std::vector<uint32_t>{0, 1, 2, 3}));

    // A stop during the stretch leaves the picture as it was.
    SetUp();
    g_stopAtCall = 1;
    rgb = original;
    EXPECT_EQ(AutoBrightness(rgb.data(), w, h, 5, 250, 0), 0u);
    EXPECT_EQ(GetLastLibraryError(), 14u);
    EXPECT_EQ(rgb, original);

    // A stop at the first colour row leaves exactly that row changed.
    SetUp();
    g_stopAtCall = h;
    rgb = original;
    EXPECT_EQ(AutoBrightness(rgb.data(), w, h, 5, 250, 0), 0u);
    EXPECT_EQ(GetLastLibraryError(), 14u);
    EXPECT_TRUE(std::equal(rgb.begin(), rgb.begin() + w * 3, expected.begin()));
    EXPECT_TRUE(std::equal(rgb.begin() + w * 3, rgb.end(), original.begin() + w * 3));

    // Called on their own, the stretches are outside the nesting count and never report.
    SetUp();
    Bytes grey(w * h, 0);
    grey[3] = 200;
    ASSERT_EQ(StretchGreyLevels(grey.data(), w, h, 0, 0), 1u);
    rgb = original;
    ASSERT_EQ(StretchRGBLevels(rgb.data(), w, h, 1, 1, 7), 1u);
    EXPECT_TRUE(g_rows.empty());
    ASSERT_EQ(EqualizeGreyRange(grey.data(), w, h, 0, 255), 1u);
    EXPECT_EQ(g_rows, (std::vector<uint32_t>{0, 1, 2, 3}));
}

}  // namespace
