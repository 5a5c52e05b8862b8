// The PNG reader: colour types into each layout, compositing, gamma, texts, refusals.
#include "formats/png/png.h"
#include "formats/png_files.h"
#include "formats/reader_support.h"

#include <gtest/gtest.h>
#include <png.h>
#include <zlib.h>

#include <cmath>
#include <cstring>
#include <optional>

namespace {

using test::MakePng;
using test::PngSpec;

test::Decoded ReadPng(const std::vector<uint8_t>& file, uint32_t bits)
{
    return test::DecodeBytes(file, [bits](DataChannel* c, uint32_t* w, uint32_t* h, uint8_t* p) {
        return ReadPNG(c, w, h, bits, p);
    });
}

std::vector<uint8_t> Pixels(const test::Decoded& d, size_t bytes)
{
    return d.pixels ? std::vector<uint8_t>(d.pixels.get(), d.pixels.get() + bytes) : std::vector<uint8_t>{};
}

PngSpec PaletteImage()
{
    PngSpec s;
    s.colorType = PNG_COLOR_TYPE_PALETTE;
    s.palette = {{10, 20, 30}, {200, 100, 50}, {0, 255, 0}};
    s.rows = {0, 1, 2, 1};
    return s;
}

TEST(PngReader, EachColourTypeArrivesInTheRequestedLayout)
{
    PngSpec rgb16;
    rgb16.bitDepth = 16;
    rgb16.width = 1;
    rgb16.height = 1;
    rgb16.rows = {0x12, 0x34, 0xAB, 0xCD, 0xFF, 0x00};
    PngSpec grey2;
    grey2.colorType = PNG_COLOR_TYPE_GRAY;
    grey2.bitDepth = 2;
    grey2.width = 4;
    grey2.height = 1;
    grey2.rows = {0b00011011};
    PngSpec rgb;
    rgb.width = 1;
    rgb.height = 1;
    rgb.rows = {1, 2, 3};

    struct Row {
        const char* what;
        PngSpec spec;
        uint32_t bits;
        std::vector<uint8_t> pixels;
    } rows[] = {
        {"palette as RGB24", PaletteImage(), 24, {10, 20, 30, 200, 100, 50, 0, 255, 0, 200, 100, 50}},
        {"palette as Index8", PaletteImage(), 8, {0, 1, 2, 1}},
        {"16-bit RGB keeps the high bytes", rgb16, 24, {0x12, 0xAB, 0xFF}},
        {"2-bit grey as RGB24", grey2, 24, {0, 0, 0, 85, 85, 85, 170, 170, 170, 255, 255, 255}},
        {"2-bit grey as Index8 levels", grey2, 8, {0, 1, 2, 3}},
        {"RGB gets opaque alpha", rgb, 32, {1, 2, 3, 255}},
    };
    for (const Row& row : rows) {
        const test::Decoded d = ReadPng(MakePng(row.spec), row.bits);
        EXPECT_EQ(d.code, 0u) << row.what;
        EXPECT_EQ(Pixels(d, row.pixels.size()), row.pixels) << row.what;
    }
}

TEST(PngReader, Index8PaletteRepeatsEntryZeroPastTheFilesColours)
{
    const test::Decoded palette = ReadPng(MakePng(PaletteImage()), 8);
    ASSERT_TRUE(palette.pixels);
    const uint8_t second[4] = {50, 100, 200, 0};  // blue, green, red, reserved
    EXPECT_EQ(std::memcmp(palette.palette.data() + 4, second, 4), 0);
    for (int i = 3; i < 256; ++i)
        EXPECT_EQ(std::memcmp(palette.palette.data() + 4 * i, palette.palette.data(), 4), 0) << i;

    PngSpec grey16;
    grey16.colorType = PNG_COLOR_TYPE_GRAY;
    grey16.bitDepth = 16;
    grey16.width = 1;
    grey16.height = 1;
    grey16.rows = {0x80, 0x01};
    const test::Decoded grey = ReadPng(MakePng(grey16), 8);
    ASSERT_TRUE(grey.pixels);
    EXPECT_EQ(grey.pixels.get()[0], 0x80);
    // 16-bit grey arrives as 8 bits, so its palette is the full grey ramp.
    EXPECT_EQ(grey.palette[4 * 0x80 + 2], 0x80);
    EXPECT_EQ(grey.palette[4 * 255 + 1], 255);
}

TEST(PngReader, AlphaIsCompositedOntoTheFilesBackgroundElseBlack)
{
    PngSpec s;
    s.colorType = PNG_COLOR_TYPE_RGB_ALPHA;
    s.width = 3;
    s.height = 1;
    s.rows = {200, 100, 50, 255, 200, 100, 50, 0, 200, 0, 0, 128};
    const test::Decoded black = ReadPng(MakePng(s), 24);
    ASSERT_TRUE(black.pixels);
    const std::vector<uint8_t> onBlack = Pixels(black, 9);
    EXPECT_EQ(std::vector<uint8_t>(onBlack.begin(), onBlack.begin() + 6),
              (std::vector<uint8_t>{200, 100, 50, 0, 0, 0}));
    // Mixed in linear light: the file's samples count as 1 / 2.9 gamma, as the display's.
    EXPECT_NEAR(onBlack[6], 255 * std::pow(std::pow(200 / 255.0, 2.9) * 128 / 255, 1 / 2.9), 1);

    s.background = png_color_16{0, 0, 0, 255, 0};
    const test::Decoded blue = ReadPng(MakePng(s), 24);
    EXPECT_EQ(Pixels(blue, 6), (std::vector<uint8_t>{200, 100, 50, 0, 0, 255}));

    const test::Decoded keep = ReadPng(MakePng(s), 32);
    EXPECT_EQ(Pixels(keep, 12), s.rows);
}

TEST(PngReader, RGBFileAtIndex8IsRefusedWith17)
{
    PngSpec s;
    s.rows.assign(12, 7);
    const test::Decoded d = ReadPng(MakePng(s), 8);
    EXPECT_EQ(d.pixels, nullptr);
    EXPECT_EQ(d.code, 17u);
}

TEST(PngReader, GammaChunkIsHonouredAndItsAbsenceChangesNothing)
{
    PngSpec s;
    s.colorType = PNG_COLOR_TYPE_GRAY;
    s.width = 1;
    s.height = 1;
    s.rows = {64};
    EXPECT_EQ(Pixels(ReadPng(MakePng(s), 24), 3), (std::vector<uint8_t>{64, 64, 64}));
    s.gamma = 1.0;  // linear samples shown on the default display gamma of 2.9
    const test::Decoded linear = ReadPng(MakePng(s), 24);
    ASSERT_TRUE(linear.pixels);
    EXPECT_NEAR(linear.pixels.get()[0], 255 * std::pow(64 / 255.0, 1 / 2.9), 2);

    px::png::PngSettings& settings = px::png::ThreadSettings();
    settings.gammaCorrection = false;
    const test::Decoded plain = ReadPng(MakePng(s), 24);
    settings.gammaCorrection = true;
    ASSERT_TRUE(plain.pixels);
    EXPECT_EQ(plain.pixels.get()[0], 64);

    // A thread may read for another display; what is not a positive finite gamma is refused.
    ASSERT_EQ(SetPNGDisplayGamma(2.2), 1u);
    const test::Decoded srgb = ReadPng(MakePng(s), 24);
    for (const double bad : {0.0, -2.2, std::nan(""), HUGE_VAL}) {
        EXPECT_EQ(SetPNGDisplayGamma(bad), 0u) << bad;
        EXPECT_EQ(GetLastLibraryError(), static_cast<uint32_t>(PX_ERR_BAD_ARGUMENT)) << bad;
    }
    EXPECT_EQ(GetPNGDisplayGamma(), 2.2);
    SetPNGDisplayGamma(2.9);
    ASSERT_TRUE(srgb.pixels);
    EXPECT_NEAR(srgb.pixels.get()[0], 255 * std::pow(64 / 255.0, 1 / 2.2), 2);
}

TEST(PngReader, InterlacedFileGivesItsTwinsPixelsAndRowProgress)
{
    PngSpec s;
    s.width = 9;
    s.height = 11;
    s.rows = test::RandomBytes(9 * 11 * 3, 5);
    const test::Decoded plain = ReadPng(MakePng(s), 24);
    s.interlaced = true;

    static std::vector<uint32_t> seen;
    seen.clear();
    SetProgressCallback([](uint32_t row, uint32_t total, uint32_t) -> uint32_t {
        seen.push_back(row);
        return total == 11;
    }, 0);
    const test::Decoded interlaced = ReadPng(MakePng(s), 24);
    SetProgressCallback(nullptr, 0);
    EXPECT_EQ(Pixels(interlaced, s.rows.size()), Pixels(plain, s.rows.size()));
    std::vector<uint32_t> expected(11);
    for (uint32_t i = 0; i < 11; ++i)
        expected[i] = i;
    EXPECT_EQ(seen, expected);
}

TEST(PngReader, CancelAndBrokenDataReturnNothing)
{
    PngSpec s;
    s.width = 64;
    s.height = 64;
    s.rows = test::RandomBytes(64 * 64 * 3, 9);
    const std::vector<uint8_t> file = MakePng(s);

    SetProgressCallback([](uint32_t row, uint32_t, uint32_t) -> uint32_t { return row < 3; }, 0);
    const test::Decoded cancelled = ReadPng(file, 24);
    SetProgressCallback(nullptr, 0);
    EXPECT_EQ(cancelled.pixels, nullptr);
    EXPECT_EQ(cancelled.code, 14u);

    const std::vector<uint8_t> cut(file.begin(), file.begin() + static_cast<ptrdiff_t>(file.size() / 2));
    const test::Decoded truncated = ReadPng(cut, 24);
    EXPECT_EQ(truncated.pixels, nullptr);
    EXPECT_EQ(truncated.code, 15u);

    EXPECT_EQ(ReadPng(file, 16).code, 5u);
    EXPECT_EQ(ReadPNG(nullptr, nullptr, nullptr, 24, nullptr), nullptr);
    EXPECT_EQ(GetLastLibraryError(), 5u);
}

TEST(PngReader, TextChunksBeforeAndAfterTheImageAreKept)
{
    PngSpec s = PaletteImage();
    s.texts = {{"Title", "Pond", false, false}, {"Comment", "long text", true, true}};
    ASSERT_TRUE(ReadPng(MakePng(s), 24).pixels);
    const auto& texts = px::png::ThreadSettings().texts;
    ASSERT_EQ(texts.size(), 2u);
    EXPECT_EQ(texts[0].keyword, "Title");
    EXPECT_EQ(texts[0].text, "Pond");
    EXPECT_FALSE(texts[0].compressed);
    EXPECT_EQ(texts[1].text, "long text");
    EXPECT_TRUE(texts[1].compressed);
    ReadPng({1, 2, 3}, 24);
    EXPECT_TRUE(px::png::ThreadSettings().texts.empty());
}

// A header claiming 60000 x 60000 RGB pixels over a few bytes of image data.
std::vector<uint8_t> Bomb()
{
    std::vector<uint8_t> file = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    auto chunk = [&](const char* type, std::vector<uint8_t> data) {
        const uint32_t n = static_cast<uint32_t>(data.size());
        std::vector<uint8_t> body(type, type + 4);
        body.insert(body.end(), data.begin(), data.end());
        const uint32_t crc = static_cast<uint32_t>(crc32(0, body.data(), static_cast<uInt>(body.size())));
        for (uint32_t v : {n}) file.insert(file.end(), {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)});
        file.insert(file.end(), body.begin(), body.end());
        file.insert(file.end(), {uint8_t(crc >> 24), uint8_t(crc >> 16), uint8_t(crc >> 8), uint8_t(crc)});
    };
    chunk("IHDR", {0, 0, 0xEA, 0x60, 0, 0, 0xEA, 0x60, 8, 2, 0, 0, 0});
    chunk("IDAT", {0x78, 0x9C, 0x03, 0x00, 0x00, 0x00, 0x00, 0x01});
    chunk("IEND", {});
    return file;
}

TEST(PngReader, ClaimFarBeyondTheDataIsRefusedBeforeAllocating)
{
    const test::Decoded d = ReadPng(Bomb(), 24);
    EXPECT_EQ(d.pixels, nullptr);
    EXPECT_EQ(d.code, 15u);
}

TEST(PngReader, HostileVariantsOfSmallFilesEndInACode)
{
    PngSpec s = PaletteImage();
    s.transparency = {0, 128};
    s.texts = {{"k", "v", true, false}};
    for (uint32_t bits : {24u, 8u})
        test::SweepHostileVariants(MakePng(s), [bits](DataChannel* c, uint32_t* w, uint32_t* h, uint8_t* p) {
            return ReadPNG(c, w, h, bits, p);
        });
    PngSpec rgba;
    rgba.colorType = PNG_COLOR_TYPE_RGB_ALPHA;
    rgba.interlaced = true;
    rgba.width = rgba.height = 3;
    rgba.rows = test::RandomBytes(36, 3);
    test::SweepHostileVariants(MakePng(rgba), [](DataChannel* c, uint32_t* w, uint32_t* h, uint8_t* p) {
        return ReadPNG(c, w, h, 32, p);
    });
}

}  // namespace
