// Windows bitmaps and drawing: packed bitmaps from and to image records, device bitmaps with
// and without sections, drawing and its capability codes.
#include "pxlib.h"
#include "support/canvas.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

using test::Canvas;
using test::GlobalPtr;
using test::PackedDib;
using test::Pattern;
using test::RgbAt;

BITMAPINFOHEADER HeaderOf(const void* dib)
{
    BITMAPINFOHEADER header;
    std::memcpy(&header, dib, sizeof header);
    return header;
}

// Restores the thread's section flag and the screen's capabilities whatever a test does.
class GdiState : public ::testing::Test {
protected:
    void TearDown() override
    {
        SetBitmapSectionMode(0);
        SetScreenRasterCaps(test::kAllCaps);
    }
};

using Bitmaps = GdiState;

TEST(PackedBitmaps, RowsArePaddedToFourBytesAndStoredLastRowFirst)
{
    const std::vector<uint8_t> rgb = Pattern(5, 3);
    GlobalPtr<uint8_t> dib(RGB24ToDIB(rgb.data(), 5, 3));
    ASSERT_NE(dib, nullptr);
    EXPECT_EQ(GetLastLibraryError(), 0u);
    const BITMAPINFOHEADER h = HeaderOf(dib.get());
    EXPECT_EQ(h.biSize, 40u);
    EXPECT_EQ(h.biWidth, 5);
    EXPECT_EQ(h.biHeight, 3) << "positive: bottom-up";
    EXPECT_EQ(h.biPlanes, 1);
    EXPECT_EQ(h.biBitCount, 24);
    EXPECT_EQ(h.biCompression, BI_RGB);
    EXPECT_EQ(h.biSizeImage, 16u * 3) << "15 bytes of pixels become a 16-byte row";
    EXPECT_EQ(h.biClrUsed, 0u);
    EXPECT_EQ(GlobalSize(dib.get()), 40u + 16 * 3);

    const uint8_t* bits = dib.get() + 40;
    for (uint32_t y = 0; y < 3; ++y) {
        const uint8_t* row = bits + (2 - y) * 16;
        for (uint32_t x = 0; x < 5; ++x) {
            const uint8_t* p = &rgb[(y * 5 + x) * 3];
            EXPECT_EQ(row[x * 3], p[2]);
            EXPECT_EQ(row[x * 3 + 1], p[1]);
            EXPECT_EQ(row[x * 3 + 2], p[0]);
        }
        EXPECT_EQ(row[15], 0);
    }

    const uint8_t one[3] = {10, 20, 30};
    GlobalPtr<uint8_t> narrow(RGB24ToDIB(one, 1, 1));
    ASSERT_NE(narrow, nullptr);
    EXPECT_EQ(HeaderOf(narrow.get()).biSizeImage, 4u);
    const uint8_t expected[4] = {30, 20, 10, 0};
    EXPECT_EQ(std::memcmp(narrow.get() + 40, expected, 4), 0);

    EXPECT_EQ(RGB24ToDIB(nullptr, 1, 1), nullptr);
    EXPECT_EQ(GetLastLibraryError(), 5u);
    EXPECT_EQ(RGB24ToDIB(one, 0, 1), nullptr);
    EXPECT_EQ(GetLastLibraryError(), 5u);
    EXPECT_EQ(RGB24ToDIB(one, 0x10000, 0x10000), nullptr) << "past the size gate";
    EXPECT_EQ(GetLastLibraryError(), 1u);
}

TEST(PackedBitmaps, TopDownAndBottomUpGiveTheSameImage)
{
    const std::vector<std::vector<uint8_t>> rows = {{1, 2, 3, 4, 5, 6, 7, 8, 9}, {10, 11, 12, 13, 14, 15, 16, 17, 18}};
    const std::vector<uint8_t> bottomUp = PackedDib(3, 2, 24, {}, rows);
    const std::vector<uint8_t> topDown = PackedDib(3, -2, 24, {}, rows);
    uint32_t w1 = 0, h1 = 0, w2 = 0, h2 = 0;
    GlobalPtr<uint8_t> a(DIBToRGB24(bottomUp.data(), &w1, &h1));
    GlobalPtr<uint8_t> b(DIBToRGB24(topDown.data(), &w2, &h2));
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(w1, 3u);
    EXPECT_EQ(h1, 2u);
    EXPECT_EQ(h2, 2u) << "the height is given back positive";
    EXPECT_EQ(std::memcmp(a.get(), b.get(), 18), 0);
    EXPECT_EQ(RgbAt(a.get(), 0), 0x030201u) << "top row first, red first";
    EXPECT_EQ(RgbAt(a.get(), 5), 0x121110u);
}

TEST(PackedBitmaps, RoundTripsAndRefusals)
{
    const std::vector<uint8_t> rgb = Pattern(7, 5);
    GlobalPtr<uint8_t> dib(RGB24ToDIB(rgb.data(), 7, 5));
    uint32_t w = 0, h = 0;
    GlobalPtr<uint8_t> back(DIBToRGB24(dib.get(), &w, &h));
    ASSERT_NE(back, nullptr);
    ASSERT_EQ(w * h, 35u);
    EXPECT_EQ(std::memcmp(back.get(), rgb.data(), rgb.size()), 0);

    // An indexed bitmap comes out in its table's colours.
    const RGBQUAD table[2] = {{0, 0, 0, 0}, {30, 20, 10, 0}};
    const uint8_t mono[1] = {0b01000000};
    GlobalPtr<uint8_t> monoDib(Mono1ToDIB(mono, 2, 1, reinterpret_cast<const uint8_t*>(table)));
    GlobalPtr<uint8_t> monoRgb(DIBToRGB24(monoDib.get(), &w, &h));
    ASSERT_NE(monoRgb, nullptr);
    EXPECT_EQ(RgbAt(monoRgb.get(), 0), 0u);
    EXPECT_EQ(RgbAt(monoRgb.get(), 1), 0x0A141Eu);

    const std::vector<uint8_t> sixteen = PackedDib(1, 1, 16, {}, {{0, 0}});
    EXPECT_EQ(DIBToRGB24(sixteen.data(), &w, &h), nullptr);
    EXPECT_EQ(GetLastLibraryError(), 28u);
    EXPECT_EQ(w, 0u);
    EXPECT_EQ(DIBToRGB24(nullptr, &w, &h), nullptr);
    EXPECT_EQ(GetLastLibraryError(), 5u);

    // A global block too short for what its header claims is refused, not read past.
    BITMAPINFOHEADER bigger = HeaderOf(dib.get());
    bigger.biHeight = 6;
    std::memcpy(dib.get(), &bigger, sizeof bigger);
    EXPECT_EQ(DIBToRGB24(dib.get(), &w, &h), nullptr);
    EXPECT_EQ(GetLastLibraryError(), 5u);
}

TEST(PackedBitmaps, IndexedBitmapsPackTheLowBitsMostSignificantFirst)
{
    const uint8_t indices[2 * 3] = {1, 2, 0xF3, 3, 0, 1};  // 0xF3 keeps only its low bits
    const RGBQUAD palette[4] = {{0, 0, 0, 0}, {1, 1, 1, 0}, {2, 2, 2, 0}, {3, 3, 3, 0}};
    const auto* table = reinterpret_cast<const uint8_t*>(palette);
    GlobalPtr<uint8_t> dib(Index8ToDIB(indices, 3, 2, 4, 4, table));
    ASSERT_NE(dib, nullptr);
    const BITMAPINFOHEADER h = HeaderOf(dib.get());
    EXPECT_EQ(h.biBitCount, 4);
    EXPECT_EQ(h.biClrUsed, 4u);
    EXPECT_EQ(h.biClrImportant, 4u);
    EXPECT_EQ(h.biSizeImage, 8u);
    EXPECT_EQ(std::memcmp(dib.get() + 40, palette, 16), 0);
    const uint8_t* bits = dib.get() + 40 + 16;
    EXPECT_EQ(bits[0], 0x30);  // bottom row 3 0 1
    EXPECT_EQ(bits[1], 0x10);
    EXPECT_EQ(bits[4], 0x12);  // top row 1 2 3
    EXPECT_EQ(bits[5], 0x30);

    // Odd depths run across byte boundaries and come back the same.
    std::vector<uint8_t> many(11 * 3);
    for (size_t i = 0; i < many.size(); ++i)
        many[i] = static_cast<uint8_t>(i * 5 % 8);
    std::vector<RGBQUAD> eight(8);
    for (uint32_t bits : {3u, 5u, 7u}) {
        SCOPED_TRACE(bits);
        GlobalPtr<uint8_t> odd(Index8ToDIB(many.data(), 11, 3, 8, bits, reinterpret_cast<uint8_t*>(eight.data())));
        ASSERT_NE(odd, nullptr);
        uint32_t w = 0, h = 0, colours = 0;
        GlobalPtr<uint8_t> back(DIBToIndexed(odd.get(), 8, &w, &h, &colours, nullptr));
        ASSERT_NE(back, nullptr);
        EXPECT_EQ(colours, 8u);
        EXPECT_EQ(std::memcmp(back.get(), many.data(), many.size()), 0);
    }

    GlobalPtr<uint8_t> fixed(Index8ToDIB256(indices, 3, 2, std::vector<uint8_t>(1024).data()));
    ASSERT_NE(fixed, nullptr);
    EXPECT_EQ(HeaderOf(fixed.get()).biClrUsed, 256u);
    EXPECT_EQ(HeaderOf(fixed.get()).biBitCount, 8);

    EXPECT_EQ(Index8ToDIB(indices, 3, 2, 4, 9, table), nullptr);
    EXPECT_EQ(GetLastLibraryError(), 5u);
    EXPECT_EQ(Index8ToDIB(indices, 3, 2, 4, 0, table), nullptr);
    EXPECT_EQ(Index8ToDIB(indices, 3, 2, 5, 2, table), nullptr) << "more colours than the depth holds";
    EXPECT_EQ(GetLastLibraryError(), 5u);
}

TEST(PackedBitmaps, MonoBitmapsAndIndexedImagesOutOfThem)
{
    // 10 x 2 Mono1 with junk in the unused low bits of each row's last byte.
    const uint8_t pixels[4] = {0b10110000, 0b01111111, 0b00000001, 0b11000000};
    const uint8_t palette[8] = {0, 0, 0, 0, 255, 255, 255, 0};
    GlobalPtr<uint8_t> dib(Mono1ToDIB(pixels, 10, 2, palette));
    ASSERT_NE(dib, nullptr);
    const BITMAPINFOHEADER h = HeaderOf(dib.get());
    EXPECT_EQ(h.biBitCount, 1);
    EXPECT_EQ(h.biClrUsed, 0u);
    EXPECT_EQ(std::memcmp(dib.get() + 40, palette, 8), 0);
    EXPECT_EQ(dib.get()[48], 0b00000001) << "bottom row first";
    EXPECT_EQ(dib.get()[52], 0b10110000);

    uint32_t w = 0, h2 = 0, colours = 0;
    uint8_t table[1024] = {};
    GlobalPtr<uint8_t> mono(DIBToIndexed(dib.get(), 1, &w, &h2, &colours, table));
    ASSERT_NE(mono, nullptr);
    EXPECT_EQ(w, 10u);
    EXPECT_EQ(colours, 2u);
    EXPECT_EQ(table[4], 255);
    const uint8_t expected[4] = {0b10110000, 0b01000000, 0b00000001, 0b11000000};
    EXPECT_EQ(std::memcmp(mono.get(), expected, 4), 0) << "bits past the width are cleared";

    GlobalPtr<uint8_t> index8(DIBToIndexed(dib.get(), 8, &w, &h2, nullptr, nullptr));
    ASSERT_NE(index8, nullptr);
    const uint8_t firstRow[10] = {1, 0, 1, 1, 0, 0, 0, 0, 0, 1};
    EXPECT_EQ(std::memcmp(index8.get(), firstRow, 10), 0);

    const std::vector<uint8_t> eightBit = PackedDib(2, 1, 8, {{0, 0, 0, 0}, {1, 1, 1, 0}}, {{0, 1}});
    EXPECT_EQ(DIBToIndexed(eightBit.data(), 1, &w, &h2, nullptr, nullptr), nullptr);
    EXPECT_EQ(GetLastLibraryError(), 28u);
    EXPECT_EQ(DIBToIndexed(eightBit.data(), 4, &w, &h2, nullptr, nullptr), nullptr);
    EXPECT_EQ(GetLastLibraryError(), 28u);
    GlobalPtr<uint8_t> rgbDib(RGB24ToDIB(pixels, 1, 1));
    EXPECT_EQ(DIBToIndexed(rgbDib.get(), 8, &w, &h2, nullptr, nullptr), nullptr);
    EXPECT_EQ(GetLastLibraryError(), 28u);
}

TEST_F(Bitmaps, DrawRGB24PaintsOneToOneAndClips)
{
    const std::vector<uint8_t> rgb = Pattern(4, 3);
    Canvas canvas(8, 6);
    ASSERT_EQ(DrawRGB24(canvas.dc(), rgb.data(), 4, 3, 3, 2, 4, 3, nullptr), 1u);
    EXPECT_EQ(GetLastLibraryError(), 0u);
    for (int32_t y = 0; y < 6; ++y)
        for (int32_t x = 0; x < 8; ++x) {
            const bool inside = x >= 3 && x < 7 && y >= 2 && y < 5;
            const uint32_t want = inside ? RgbAt(rgb.data(), size_t(y - 2) * 4 + (x - 3)) : test::kUntouched;
            ASSERT_EQ(canvas.At(x, y), want) << x << "," << y;
        }

    // A larger rectangle leaves the rest as it was; a smaller one cuts the picture.
    Canvas small(8, 6);
    ASSERT_EQ(DrawRGB24(small.dc(), rgb.data(), 4, 3, 0, 0, 2, 1, nullptr), 1u);
    EXPECT_EQ(small.At(1, 0), RgbAt(rgb.data(), 1));
    EXPECT_EQ(small.At(2, 0), test::kUntouched);
    EXPECT_EQ(small.At(0, 1), test::kUntouched);
}

TEST_F(Bitmaps, DrawingFailsWithTheCapabilityCodes)
{
    const std::vector<uint8_t> rgb = Pattern(2, 2);
    Canvas noBlit(4, 4, test::kAllCaps & ~RC_BITBLT);
    EXPECT_EQ(DrawRGB24(noBlit.dc(), rgb.data(), 2, 2, 0, 0, 2, 2, nullptr), 0u);
    EXPECT_EQ(GetLastLibraryError(), 26u);
    EXPECT_TRUE(noBlit.AllUntouched());

    EXPECT_EQ(DrawRGB24(noBlit.dc(), nullptr, 2, 2, 0, 0, 2, 2, nullptr), 0u);
    EXPECT_EQ(GetLastLibraryError(), 5u);
    EXPECT_EQ(DrawDDB(noBlit.dc(), nullptr, 0, 0, 2, 2, nullptr), 0u);
    EXPECT_EQ(GetLastLibraryError(), 5u);

    // A bitmap held by another memory context cannot be selected: 37 on a device that
    // claims large bitmaps, 26 on one that does not.
    HBITMAP bitmap = RGB24ToDDB(rgb.data(), 2, 2, nullptr, nullptr);
    ASSERT_NE(bitmap, nullptr);
    HDC holder = CreateCompatibleDC(nullptr);
    HGDIOBJ old = SelectObject(holder, bitmap);
    Canvas large(4, 4, test::kAllCaps);
    EXPECT_EQ(DrawDDB(large.dc(), bitmap, 0, 0, 2, 2, nullptr), 0u);
    EXPECT_EQ(GetLastLibraryError(), 37u);
    Canvas plain(4, 4, test::kAllCaps & ~RC_BITMAP64);
    EXPECT_EQ(DrawDDB(plain.dc(), bitmap, 0, 0, 2, 2, nullptr), 0u);
    EXPECT_EQ(GetLastLibraryError(), 26u);
    SelectObject(holder, old);
    DeleteDC(holder);

    const uint8_t quad[4] = {1, 2, 3, 0};
    HPALETTE palette = MakeLogicalPalette(quad, 1);
    EXPECT_EQ(DrawDDB(large.dc(), bitmap, 0, 0, -2, 2, palette), 0u) << "a blit the device refuses";
    EXPECT_EQ(GetLastLibraryError(), 29u);
    EXPECT_TRUE(large.AllUntouched());

    // Nothing is left selected anywhere: the context has its old palette back, and the
    // palette and the bitmap can go.
    HPALETTE stock = static_cast<HPALETTE>(GetStockObject(DEFAULT_PALETTE));
    EXPECT_EQ(SelectPalette(large.dc(), stock, 0), stock);
    EXPECT_EQ(DeleteObject(palette), 1);
    EXPECT_EQ(DeleteObject(bitmap), 1);
}

TEST_F(Bitmaps, DrawDDBPartTakesTheSourceOrigin)
{
    const std::vector<uint8_t> rgb = Pattern(4, 4);
    HBITMAP bitmap = RGB24ToDDB(rgb.data(), 4, 4, nullptr, nullptr);
    Canvas canvas(3, 3);
    ASSERT_EQ(DrawDDBPart(canvas.dc(), bitmap, 1, 1, 2, 3, 2, 2, nullptr), 1u);
    EXPECT_EQ(canvas.At(1, 1), RgbAt(rgb.data(), 3 * 4 + 2));
    EXPECT_EQ(canvas.At(2, 1), RgbAt(rgb.data(), 3 * 4 + 3));
    EXPECT_EQ(canvas.At(1, 2), test::kUntouched) << "source row 4 does not exist";
    DeleteObject(bitmap);
}

TEST_F(Bitmaps, WithTheSectionFlagDeviceBitmapsAreSectionsMadeWithoutCreateDIBitmap)
{
    const std::vector<uint8_t> rgb = Pattern(5, 2);
    // A screen that cannot take device-independent bitmaps: the CreateDIBitmap road fails.
    SetScreenRasterCaps(test::kAllCaps & ~RC_DI_BITMAP);
    SetBitmapSectionMode(0);
    EXPECT_EQ(RGB24ToDDB(rgb.data(), 5, 2, nullptr, nullptr), nullptr);
    EXPECT_EQ(GetLastLibraryError(), 26u);

    SetBitmapSectionMode(1);
    HBITMAP section = RGB24ToDDB(rgb.data(), 5, 2, nullptr, nullptr);
    ASSERT_NE(section, nullptr);
    EXPECT_EQ(GetLastLibraryError(), 0u);
    BITMAP info{};
    ASSERT_EQ(GetObjectA(section, sizeof info, &info), int32_t(sizeof info));
    ASSERT_NE(info.bmBits, nullptr) << "a DIB section";
    EXPECT_EQ(info.bmBitsPixel, 24);
    GlobalPtr<uint8_t> dib(RGB24ToDIB(rgb.data(), 5, 2));
    EXPECT_EQ(std::memcmp(info.bmBits, dib.get() + 40, 32), 0) << "the same rows as a packed bitmap";

    // The section draws like any device bitmap.
    Canvas canvas(5, 2);
    ASSERT_EQ(DrawDDB(canvas.dc(), section, 0, 0, 5, 2, nullptr), 1u);
    EXPECT_EQ(canvas.At(4, 1), RgbAt(rgb.data(), 9));
    DeleteObject(section);
}

TEST_F(Bitmaps, DIBToDDBWithSectionsCopiesAllBitsWhenTheImageSizeIsLeftZero)
{
    std::vector<uint8_t> dib = PackedDib(2, 2, 24, {}, {{1, 2, 3, 4, 5, 6}, {7, 8, 9, 10, 11, 12}});
    reinterpret_cast<BITMAPINFOHEADER*>(dib.data())->biSizeImage = 0;
    SetBitmapSectionMode(1);
    HBITMAP section = DIBToDDB(dib.data(), nullptr, nullptr);
    ASSERT_NE(section, nullptr);
    BITMAP info{};
    GetObjectA(section, sizeof info, &info);
    EXPECT_EQ(std::memcmp(info.bmBits, dib.data() + 40, 16), 0);
    DeleteObject(section);

    Canvas noDi(2, 2, RC_BITBLT);
    EXPECT_EQ(DIBToDDB(dib.data(), nullptr, noDi.dc()), nullptr);
    EXPECT_EQ(GetLastLibraryError(), 26u);
    EXPECT_EQ(DIBToDDB(nullptr, nullptr, nullptr), nullptr);
    EXPECT_EQ(GetLastLibraryError(), 5u);
}

TEST_F(Bitmaps, DeviceBitmapsComeBackAsImages)
{
    const std::vector<uint8_t> rgb = Pattern(6, 4);
    HBITMAP bitmap = RGB24ToDDB(rgb.data(), 6, 4, nullptr, nullptr);
    ASSERT_NE(bitmap, nullptr);

    GlobalPtr<uint8_t> dib(DDBToDIB(bitmap, nullptr));
    ASSERT_NE(dib, nullptr);
    EXPECT_EQ(HeaderOf(dib.get()).biBitCount, 24);
    EXPECT_EQ(HeaderOf(dib.get()).biHeight, 4);

    uint32_t w = 0, h = 0;
    GlobalPtr<uint8_t> back(DDBToRGB24(bitmap, &w, &h, nullptr));
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(w, 6u);
    EXPECT_EQ(h, 4u);
    EXPECT_EQ(std::memcmp(back.get(), rgb.data(), rgb.size()), 0);

    // The palettised form: each pixel becomes the nearest entry of the palette.
    const uint8_t two[8] = {0, 0, 0, 0, 255, 255, 255, 0};
    HPALETTE blackWhite = MakeLogicalPalette(two, 2);
    uint32_t colours = 0;
    uint8_t table[1024];
    GlobalPtr<uint8_t> indices(DDBToIndex8(bitmap, &w, &h, blackWhite, &colours, table));
    ASSERT_NE(indices, nullptr);
    EXPECT_EQ(colours, 256u);
    EXPECT_EQ(table[4], 255);
    for (size_t i = 0; i < 24; ++i) {
        const uint32_t c = RgbAt(rgb.data(), i);
        const int r = c >> 16, g = (c >> 8) & 0xFF, b = c & 0xFF;
        const int toBlack = r * r + g * g + b * b;
        const int toWhite = (255 - r) * (255 - r) + (255 - g) * (255 - g) + (255 - b) * (255 - b);
        ASSERT_EQ(indices.get()[i], toWhite < toBlack ? 1 : 0) << i;
    }
    DeleteObject(blackWhite);

    SetScreenRasterCaps(test::kAllCaps & ~RC_DI_BITMAP);
    EXPECT_EQ(DDBToRGB24(bitmap, &w, &h, nullptr), nullptr);
    EXPECT_EQ(GetLastLibraryError(), 26u);
    EXPECT_EQ(w, 0u);
    SetScreenRasterCaps(test::kAllCaps);

    DeleteObject(bitmap);
    EXPECT_EQ(DDBToRGB24(bitmap, &w, &h, nullptr), nullptr) << "a deleted bitmap";
    EXPECT_EQ(GetLastLibraryError(), 5u);
}

TEST_F(Bitmaps, PaletteDevicesReadWithTheirSystemPalette)
{
    SetScreenRasterCaps(test::kAllCaps | RC_PALETTE);
    const uint8_t rgb[6] = {250, 0, 0, 0, 0, 250};
    HBITMAP bitmap = RGB24ToDDB(rgb, 2, 1, nullptr, nullptr);
    ASSERT_NE(bitmap, nullptr);
    uint32_t w = 0, h = 0;
    GlobalPtr<uint8_t> back(DDBToRGB24(bitmap, &w, &h, nullptr));
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(RgbAt(back.get(), 0), 0xFA0000u) << "the device stays true colour underneath";
    // The screen's palette is the stock one: pure red and blue are its entries 13 and 16.
    GlobalPtr<uint8_t> indices(DDBToIndex8(bitmap, &w, &h, nullptr, nullptr, nullptr));
    ASSERT_NE(indices, nullptr);
    EXPECT_EQ(indices.get()[0], 13);
    EXPECT_EQ(indices.get()[1], 16);
    DeleteObject(bitmap);
}

TEST_F(Bitmaps, StretchDrawingScalesToTheRectangle)
{
    const uint8_t rgb[6] = {1, 2, 3, 4, 5, 6};
    Canvas canvas(4, 2);
    ASSERT_EQ(StretchDrawRGB24(canvas.dc(), rgb, 2, 1, 0, 0, 4, 2), 1u);
    EXPECT_EQ(canvas.At(0, 0), 0x010203u);
    EXPECT_EQ(canvas.At(1, 1), 0x010203u);
    EXPECT_EQ(canvas.At(2, 0), 0x040506u);
    EXPECT_EQ(canvas.At(3, 1), 0x040506u);

    Canvas noStretch(4, 2, RC_BITBLT | RC_DI_BITMAP);
    EXPECT_EQ(StretchDrawRGB24(noStretch.dc(), rgb, 2, 1, 0, 0, 4, 2), 0u);
    EXPECT_EQ(GetLastLibraryError(), 26u);
    EXPECT_EQ(StretchDrawRGB24(nullptr, rgb, 2, 1, 0, 0, 4, 2), 0u);
    EXPECT_EQ(GetLastLibraryError(), 5u);

    GlobalPtr<uint8_t> dib(RGB24ToDIB(rgb, 2, 1));
    Canvas other(2, 2);
    ASSERT_EQ(DrawDIB(other.dc(), dib.get(), 0, 0, 2, 2), 1u);
    EXPECT_EQ(other.At(1, 1), 0x040506u);
    EXPECT_EQ(DrawDIB(noStretch.dc(), dib.get(), 0, 0, 2, 2), 0u);
    EXPECT_EQ(GetLastLibraryError(), 26u);
    EXPECT_TRUE(noStretch.AllUntouched());
}

TEST_F(Bitmaps, CaptureDCCopiesARectangleOfTheDevice)
{
    Canvas canvas(5, 4);
    for (int32_t y = 0; y < 4; ++y)
        for (int32_t x = 0; x < 5; ++x)
            canvas.Word(x, y) = 0xFF000000u | uint32_t(y * 16 + x);
    HBITMAP captured = CaptureDC(canvas.dc(), 1, 2, 3, 2);
    ASSERT_NE(captured, nullptr);
    uint32_t w = 0, h = 0;
    GlobalPtr<uint8_t> rgb(DDBToRGB24(captured, &w, &h, nullptr));
    ASSERT_EQ(w, 3u);
    ASSERT_EQ(h, 2u);
    EXPECT_EQ(RgbAt(rgb.get(), 0), 0x21u);
    EXPECT_EQ(RgbAt(rgb.get(), 5), 0x33u);
    EXPECT_EQ(DeleteObject(captured), 1) << "handed back deselected";

    EXPECT_EQ(CaptureDC(nullptr, 0, 0, 1, 1), nullptr);
    EXPECT_EQ(GetLastLibraryError(), 5u);
    Canvas noBlit(2, 2, RC_DI_BITMAP);
    EXPECT_EQ(CaptureDC(noBlit.dc(), 0, 0, 1, 1), nullptr);
    EXPECT_EQ(GetLastLibraryError(), 26u);
}

TEST_F(Bitmaps, BitmapResourcesAndLogicalPalettes)
{
    EXPECT_EQ(LoadBitmapResource(nullptr, "NOT THERE", nullptr), nullptr);
    EXPECT_EQ(GetLastLibraryError(), 13u);

    const std::vector<uint8_t> dib = PackedDib(2, 1, 4, {{0, 0, 0, 0}, {0, 128, 255, 0}}, {{0x10}});
    ASSERT_EQ(RegisterBitmapResource(nullptr, "ORANGE", dib.data(), uint32_t(dib.size())), 1);
    HBITMAP bitmap = LoadBitmapResource(nullptr, "ORANGE", nullptr);
    ASSERT_NE(bitmap, nullptr);
    uint32_t w = 0, h = 0;
    GlobalPtr<uint8_t> rgb(DDBToRGB24(bitmap, &w, &h, nullptr));
    EXPECT_EQ(RgbAt(rgb.get(), 0), 0xFF8000u);
    EXPECT_EQ(RgbAt(rgb.get(), 1), 0u);
    DeleteObject(bitmap);

    // RGBQUAD order (blue, green, red) becomes palette order (red, green, blue).
    const uint8_t quads[8] = {1, 2, 3, 0, 4, 5, 6, 0};
    HPALETTE palette = MakeLogicalPalette(quads, 2);
    ASSERT_NE(palette, nullptr);
    PALETTEENTRY entries[2];
    ASSERT_EQ(GetPaletteEntries(palette, 0, 2, entries), 2u);
    EXPECT_EQ(entries[1].peRed, 6);
    EXPECT_EQ(entries[1].peGreen, 5);
    EXPECT_EQ(entries[1].peBlue, 4);
    EXPECT_EQ(entries[1].peFlags, 0);
    DeleteObject(palette);
    EXPECT_EQ(MakeLogicalPalette(quads, 0), nullptr);
    EXPECT_EQ(GetLastLibraryError(), 5u);
    EXPECT_EQ(MakeLogicalPalette(quads, 257), nullptr);
}

std::vector<uint32_t> g_progress;
uint32_t Record(uint32_t current, uint32_t, uint32_t)
{
    g_progress.push_back(current);
    return 1;
}

TEST_F(Bitmaps, PartsOfAnImageAreCutOutThenDrawn)
{
    const std::vector<uint8_t> rgb = Pattern(6, 5);
    Canvas canvas(4, 4);
    g_progress.clear();
    SetProgressCallback(&Record, 0);
    ASSERT_EQ(DrawRGB24Part(canvas.dc(), rgb.data(), 6, 5, 1, 1, 3, 2, 2, 3, nullptr), 1u);
    SetProgressCallback(nullptr, 0);
    EXPECT_TRUE(g_progress.empty()) << "the inner copy reports no progress of its own";
    EXPECT_EQ(canvas.At(1, 1), RgbAt(rgb.data(), 2 * 6 + 3));
    EXPECT_EQ(canvas.At(2, 3), RgbAt(rgb.data(), 4 * 6 + 4));
    EXPECT_EQ(canvas.At(3, 1), test::kUntouched);

    Canvas untouched(4, 4);
    EXPECT_EQ(DrawRGB24Part(untouched.dc(), rgb.data(), 6, 5, 0, 0, 5, 0, 2, 1, nullptr), 0u);
    EXPECT_EQ(GetLastLibraryError(), 5u) << "the rectangle leaves the image";
    EXPECT_EQ(StretchDrawRGB24Part(untouched.dc(), rgb.data(), 6, 5, 0, 0, 2, 2, 0, 4, 1, 2), 0u);
    EXPECT_EQ(GetLastLibraryError(), 5u);
    // A part of 2 GB would be cut out of pixels the caller never had: refused before that.
    EXPECT_EQ(DrawRGB24Part(untouched.dc(), rgb.data(), 26755, 26755, 0, 0, 0, 0, 26755, 26755, nullptr), 0u);
    EXPECT_EQ(GetLastLibraryError(), 1u);
    EXPECT_TRUE(untouched.AllUntouched());

    ASSERT_EQ(StretchDrawRGB24Part(canvas.dc(), rgb.data(), 6, 5, 0, 0, 2, 2, 5, 4, 1, 1), 1u);
    EXPECT_EQ(canvas.At(1, 1), RgbAt(rgb.data(), 4 * 6 + 5));
}

}  // namespace
