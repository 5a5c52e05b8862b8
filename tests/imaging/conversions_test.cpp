// Layout conversions: luminance against a plain transcription, round trips, bit packing and
// mirrors against bit-by-bit versions, arguments and progress.
#include "pxlib.h"

#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <random>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

uint8_t PlainLuminance(uint8_t r, uint8_t g, uint8_t b)
{
    const double y = 0.299 * r + 0.587 * g + 0.114 * b;
    return static_cast<uint8_t>(static_cast<int>(y));
}

struct Size {
    uint32_t width, height;
};
const Size kOddSizes[] = {{1, 1}, {1, 9}, {13, 1}, {7, 5}, {31, 17}, {64, 3}};

std::vector<uint32_t> g_rows;
uint32_t g_stopAt = ~0u;

uint32_t RecordRow(uint32_t current, uint32_t total, uint32_t)
{
    g_rows.push_back(current);
    EXPECT_GT(total, current);
    return current == g_stopAt ? 0 : 1;
}

class Conversions : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_rows.clear();
        g_stopAt = ~0u;
    }
    void TearDown() override { SetProgressCallback(nullptr, 0); }
};

TEST_F(Conversions, LuminanceTruncatesTheDoubleSum)
{
    struct Case {
        uint8_t r, g, b, grey;
    };
    const Case cases[] = {
        {255, 0, 0, 76},     {0, 255, 0, 149},    {0, 0, 255, 29}, {255, 255, 255, 255},
        {100, 100, 100, 100}, {128, 128, 128, 127}, {1, 1, 1, 0},
    };
    for (const Case& c : cases) {
        const uint8_t rgb[3] = {c.r, c.g, c.b};
        uint8_t grey = 0xAA;
        ASSERT_EQ(RGBToGrey8(rgb, 1, 1, &grey), 1u);
        EXPECT_EQ(grey, c.grey) << int(c.r) << "," << int(c.g) << "," << int(c.b);
    }
}

TEST_F(Conversions, GreyOfEveryColourMatchesThePlainFormula)
{
    constexpr uint32_t kSide = 4096;  // 4096 × 4096 pixels: every RGB colour once
    Bytes rgb(static_cast<size_t>(kSide) * kSide * 3);
    for (uint32_t i = 0; i < kSide * kSide; ++i) {
        rgb[i * 3] = static_cast<uint8_t>(i >> 16);
        rgb[i * 3 + 1] = static_cast<uint8_t>(i >> 8);
        rgb[i * 3 + 2] = static_cast<uint8_t>(i);
    }
    Bytes grey(static_cast<size_t>(kSide) * kSide);
    ASSERT_EQ(RGBToGrey8(rgb.data(), kSide, kSide, grey.data()), 1u);
    size_t mismatches = 0;
    for (uint32_t i = 0; i < kSide * kSide; ++i)
        mismatches += grey[i] != PlainLuminance(rgb[i * 3], rgb[i * 3 + 1], rgb[i * 3 + 2]);
    EXPECT_EQ(mismatches, 0u);

    // The in-place form agrees with the grey one.
    Bytes inPlace(rgb.begin(), rgb.begin() + 3 * 100003);
    ASSERT_EQ(GreyscaleRGB24(inPlace.data(), 100003, 1), 1u);
    for (size_t i = 0; i < 100003; ++i) {
        ASSERT_EQ(inPlace[i * 3], grey[i]);
        ASSERT_EQ(inPlace[i * 3 + 1], grey[i]);
        ASSERT_EQ(inPlace[i * 3 + 2], grey[i]);
    }
}

TEST_F(Conversions, ProgressIsPerRowAndAStopKeepsTheRowsDone)
{
    const Bytes original = test::RandomBytes(4 * 3 * 3, 1);
    Bytes rgb = original;
    SetProgressCallback(RecordRow, 0);
    g_stopAt = 0;
    EXPECT_EQ(GreyscaleRGB24(rgb.data(), 4, 3), 0u);
    EXPECT_EQ(GetLastLibraryError(), 14u);
    EXPECT_EQ(g_rows, std::vector<uint32_t>{0});
    for (size_t i = 0; i < 12; i += 3)
        EXPECT_EQ(rgb[i], PlainLuminance(original[i], original[i + 1], original[i + 2]));
    EXPECT_TRUE(std::equal(rgb.begin() + 12, rgb.end(), original.begin() + 12));

    g_rows.clear();
    g_stopAt = ~0u;
    Bytes grey(12);
    EXPECT_EQ(RGBToGrey8(original.data(), 4, 3, grey.data()), 1u);
    EXPECT_EQ(GetLastLibraryError(), 0u);
    EXPECT_EQ(g_rows, (std::vector<uint32_t>{0, 1, 2}));
}

TEST_F(Conversions, ChannelOrderPalettesAndAlpha)
{
    for (const Size& s : kOddSizes) {
        const size_t n = static_cast<size_t>(s.width) * s.height;
        const Bytes rgb = test::RandomBytes(n * 3, s.width * 100 + s.height);
        const Bytes alpha = test::RandomBytes(n, 5);

        Bytes swapped = rgb;
        ASSERT_EQ(SwapRedBlue(swapped.data(), s.width, s.height), 1u);
        for (size_t i = 0; i < n; ++i) {
            EXPECT_EQ(swapped[i * 3], rgb[i * 3 + 2]);
            EXPECT_EQ(swapped[i * 3 + 1], rgb[i * 3 + 1]);
            EXPECT_EQ(swapped[i * 3 + 2], rgb[i * 3]);
        }

        Bytes rgba(n * 4), back(n * 3), alphaBack(n);
        ASSERT_EQ(RGB24ToRGBA32(rgb.data(), s.width, s.height, 0x5A, rgba.data()), 1u);
        for (size_t i = 0; i < n; ++i)
            EXPECT_EQ(rgba[i * 4 + 3], 0x5A);
        ASSERT_EQ(SetAlpha(rgba.data(), s.width, s.height, alpha.data()), 1u);
        ASSERT_EQ(SplitRGBA32(rgba.data(), s.width, s.height, back.data(), alphaBack.data()), 1u);
        EXPECT_EQ(back, rgb);
        EXPECT_EQ(alphaBack, alpha);
        Bytes alphaOnly(n);
        ASSERT_EQ(SplitRGBA32(rgba.data(), s.width, s.height, nullptr, alphaOnly.data()), 1u);
        EXPECT_EQ(alphaOnly, alpha);

        Bytes joined(n * 4), joinedConstant(n * 4);
        ASSERT_EQ(JoinAlpha(rgb.data(), alpha.data(), s.width, s.height, joined.data(), 0), 1u);
        EXPECT_EQ(joined, rgba);
        ASSERT_EQ(JoinAlpha(rgb.data(), nullptr, s.width, s.height, joinedConstant.data(), 0x11), 1u);
        for (size_t i = 0; i < n; ++i) {
            EXPECT_EQ(joinedConstant[i * 4 + 3], 0x11);
            EXPECT_EQ(std::memcmp(&joinedConstant[i * 4], &rgb[i * 3], 3), 0);
        }

        Bytes red(n), green(n), blue(n), rejoined(n * 3);
        ASSERT_EQ(SplitPlanes(rgb.data(), s.width, s.height, red.data(), green.data(), blue.data()), 1u);
        for (size_t i = 0; i < n; ++i)
            EXPECT_TRUE(red[i] == rgb[i * 3] && green[i] == rgb[i * 3 + 1] && blue[i] == rgb[i * 3 + 2]);
        ASSERT_EQ(JoinPlanes(rejoined.data(), s.width, s.height, red.data(), green.data(), blue.data()), 1u);
        EXPECT_EQ(rejoined, rgb);
    }
}

TEST_F(Conversions, ExpandIndex8ReadsRgbQuadsBackwards)
{
    Bytes palette(256 * 4);
    for (int i = 0; i < 256; ++i) {
        palette[i * 4] = static_cast<uint8_t>(i);            // blue
        palette[i * 4 + 1] = static_cast<uint8_t>(255 - i);  // green
        palette[i * 4 + 2] = static_cast<uint8_t>(i ^ 0x55); // red
        palette[i * 4 + 3] = 0xEE;
    }
    const uint8_t indices[6] = {0, 1, 128, 255, 7, 7};
    Bytes rgb(18);
    ASSERT_EQ(ExpandIndex8(indices, rgb.data(), 3, 2, 2 /* not looked at */, palette.data()), 1u);
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(rgb[i * 3], indices[i] ^ 0x55);
        EXPECT_EQ(rgb[i * 3 + 1], 255 - indices[i]);
        EXPECT_EQ(rgb[i * 3 + 2], indices[i]);
    }
}

TEST_F(Conversions, CopyRowsCopiesTheShorterStride)
{
    const Bytes src = test::RandomBytes(3 * 7, 3);
    Bytes narrow(3 * 4, 0xCC);
    ASSERT_EQ(CopyRows(src.data(), 7, 3, 4, narrow.data()), 1u);
    for (int y = 0; y < 3; ++y)
        EXPECT_EQ(std::memcmp(&narrow[y * 4], &src[y * 7], 4), 0);

    Bytes wide(3 * 9, 0xCC);
    ASSERT_EQ(CopyRows(src.data(), 7, 3, 9, wide.data()), 1u);
    for (int y = 0; y < 3; ++y) {
        EXPECT_EQ(std::memcmp(&wide[y * 9], &src[y * 7], 7), 0);
        EXPECT_EQ(wide[y * 9 + 7], 0xCC);
        EXPECT_EQ(wide[y * 9 + 8], 0xCC);
    }
}

// Bit by bit: value bit b of pixel i lands at stream bit i * bits + (bits - 1 - b).
void PlainPack(const uint8_t* in, size_t count, uint32_t bits, uint8_t* out)
{
    for (size_t i = 0; i < count; ++i)
        for (uint32_t b = 0; b < bits; ++b)
            if (in[i] & (1u << (bits - 1 - b))) {
                const size_t bit = i * bits + b;
                out[bit / 8] |= static_cast<uint8_t>(0x80 >> (bit % 8));
            }
}

TEST_F(Conversions, PackBitsMatchesABitByBitPackingInBothForms)
{
    for (uint32_t bits = 1; bits <= 8; ++bits) {
        for (const Size& s : kOddSizes) {
            const size_t n = static_cast<size_t>(s.width) * s.height;
            const Bytes values = test::RandomBytes(n, bits * 31 + s.width);
            const uint8_t mask = static_cast<uint8_t>((1u << bits) - 1);
            Bytes low(n);
            for (size_t i = 0; i < n; ++i)
                low[i] = values[i] & mask;

            // Continuous: one stream, then each value back.
            const size_t streamBytes = (n * bits + 7) / 8;
            Bytes packed(streamBytes + 2, 0xEE), expected(streamBytes, 0);
            PlainPack(low.data(), n, bits, expected.data());
            ASSERT_EQ(PackBits(values.data(), s.width, s.height, packed.data(), bits, 0, 0), 1u);
            EXPECT_TRUE(std::equal(expected.begin(), expected.end(), packed.begin())) << bits << " bits";
            EXPECT_EQ(packed[streamBytes], 0xEE);  // nothing past the stream
            Bytes unpacked(n);
            ASSERT_EQ(UnpackBits(packed.data(), s.width, s.height, bits, unpacked.data()), 1u);
            EXPECT_EQ(unpacked, low) << bits << " bits";

            // Row-aligned: each row on its own at its stride; the stride's slack untouched.
            const size_t rowBytes = (static_cast<size_t>(s.width) * bits + 7) / 8;
            const uint32_t stride = static_cast<uint32_t>(rowBytes + 1);
            Bytes rows(stride * s.height, 0xEE);
            ASSERT_EQ(PackBits(values.data(), s.width, s.height, rows.data(), bits, 1, stride), 1u);
            for (uint32_t y = 0; y < s.height; ++y) {
                Bytes row(rowBytes, 0);
                PlainPack(low.data() + y * s.width, s.width, bits, row.data());
                EXPECT_EQ(std::memcmp(&rows[y * stride], row.data(), rowBytes), 0) << bits << " bits, row " << y;
                EXPECT_EQ(rows[y * stride + rowBytes], 0xEE);
            }
        }
    }
}

TEST_F(Conversions, BitCountsOutsideOneToEightWriteNothing)
{
    const uint8_t values[4] = {1, 2, 3, 4};
    for (uint32_t bits : {0u, 9u}) {
        uint8_t out[8] = {};
        EXPECT_EQ(PackBits(values, 4, 1, out, bits, 0, 0), 0u);
        EXPECT_EQ(GetLastLibraryError(), 5u);
        EXPECT_EQ(UnpackBits(values, 4, 1, bits, out), 0u);
        EXPECT_EQ(GetLastLibraryError(), 5u);
        for (uint8_t b : out)
            EXPECT_EQ(b, 0);
    }
}

TEST_F(Conversions, FlipsAndMirrors)
{
    for (uint32_t rows : {1u, 4u, 5u}) {
        const Bytes original = test::RandomBytes(rows * 6, rows);
        Bytes flipped = original;
        ASSERT_EQ(FlipVertical(flipped.data(), 6, rows), 1u);
        for (uint32_t y = 0; y < rows; ++y)
            EXPECT_EQ(std::memcmp(&flipped[y * 6], &original[(rows - 1 - y) * 6], 6), 0) << rows << " rows";
    }

    for (uint32_t bpp : {1u, 3u, 4u}) {
        for (const Size& s : kOddSizes) {
            const Bytes original = test::RandomBytes(static_cast<size_t>(s.width) * s.height * bpp, bpp + s.width);
            Bytes mirrored = original;
            ASSERT_EQ(MirrorHorizontal(mirrored.data(), s.width, s.height, bpp), 1u);
            for (uint32_t y = 0; y < s.height; ++y)
                for (uint32_t x = 0; x < s.width; ++x)
                    ASSERT_EQ(std::memcmp(&mirrored[(y * s.width + x) * bpp],
                                          &original[(y * s.width + s.width - 1 - x) * bpp], bpp),
                              0);
        }
    }
}

TEST_F(Conversions, MirrorMono1ReversesTheBitsOfEachRow)
{
    auto bit = [](const uint8_t* row, uint32_t x) { return (row[x / 8] >> (7 - x % 8)) & 1; };
    for (uint32_t width : {1u, 7u, 8u, 9u, 13u, 16u, 33u}) {
        const uint32_t rowBytes = (width + 7) / 8;
        const Bytes original = test::RandomBytes(rowBytes * 3, width);
        Bytes mirrored = original;
        ASSERT_EQ(MirrorMono1(mirrored.data(), width, 3), 1u);
        for (uint32_t y = 0; y < 3; ++y) {
            const uint8_t* in = &original[y * rowBytes];
            const uint8_t* out = &mirrored[y * rowBytes];
            for (uint32_t x = 0; x < width; ++x)
                ASSERT_EQ(bit(out, x), bit(in, width - 1 - x)) << "width " << width << " x " << x;
            for (uint32_t x = width; x < rowBytes * 8; ++x)
                EXPECT_EQ(bit(out, x), 0) << "padding bit " << x;
        }
    }
}

TEST_F(Conversions, NullBuffersAndUnaddressableSizesFailWithCode5)
{
    uint8_t b[64] = {};
    const std::vector<std::pair<const char*, std::function<uint32_t()>>> calls = {
        {"RGBToGrey8 image", [&] { return RGBToGrey8(nullptr, 1, 1, b); }},
        {"RGBToGrey8 grey", [&] { return RGBToGrey8(b, 1, 1, nullptr); }},
        {"GreyscaleRGB24", [&] { return GreyscaleRGB24(nullptr, 1, 1); }},
        {"SwapRedBlue", [&] { return SwapRedBlue(nullptr, 1, 1); }},
        {"ExpandIndex8 palette", [&] { return ExpandIndex8(b, b, 1, 1, 1, nullptr); }},
        {"RGB24ToRGBA32 output", [&] { return RGB24ToRGBA32(b, 1, 1, 0, nullptr); }},
        {"SplitRGBA32 input", [&] { return SplitRGBA32(nullptr, 1, 1, b, b); }},
        {"SplitRGBA32 both outputs", [&] { return SplitRGBA32(b, 1, 1, nullptr, nullptr); }},
        {"JoinAlpha output", [&] { return JoinAlpha(b, b, 1, 1, nullptr, 0); }},
        {"SetAlpha plane", [&] { return SetAlpha(b, 1, 1, nullptr); }},
        {"SplitPlanes plane", [&] { return SplitPlanes(b, 1, 1, b, nullptr, b); }},
        {"JoinPlanes plane", [&] { return JoinPlanes(b, 1, 1, b, b, nullptr); }},
        {"CopyRows", [&] { return CopyRows(nullptr, 1, 1, 1, b); }},
        {"PackBits", [&] { return PackBits(b, 1, 1, nullptr, 1, 0, 0); }},
        {"UnpackBits", [&] { return UnpackBits(nullptr, 1, 1, 1, b); }},
        {"FlipVertical", [&] { return FlipVertical(nullptr, 1, 1); }},
        {"MirrorHorizontal", [&] { return MirrorHorizontal(nullptr, 1, 1, 1); }},
        {"MirrorHorizontal no bytes per pixel", [&] { return MirrorHorizontal(b, 1, 1, 0); }},
        {"MirrorMono1", [&] { return MirrorMono1(nullptr, 1, 1); }},
        {"GreyscaleRGB24 of 2^64 bytes", [&] { return GreyscaleRGB24(b, ~0u, ~0u); }},
        {"MirrorHorizontal of 2^64 bytes", [&] { return MirrorHorizontal(b, 1u << 31, 1u << 31, 4); }},
    };
    for (const auto& [name, call] : calls) {
        EXPECT_EQ(call(), 0u) << name;
        EXPECT_EQ(GetLastLibraryError(), 5u) << name;
    }
}

}  // namespace
