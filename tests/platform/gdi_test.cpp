// The GDI-like layer: contexts and their capabilities, handle checks, selection rules, blits,
// device-independent bitmaps in every layout the layer takes, and palettes.
#include "pxlib.h"
#include "platform/gdi.h"
#include "support/canvas.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

using test::Canvas;
using test::PackedDib;

const BITMAPINFO* Info(const std::vector<uint8_t>& dib)
{
    return reinterpret_cast<const BITMAPINFO*>(dib.data());
}

const uint8_t* Bits(const std::vector<uint8_t>& dib)
{
    const auto layout = px::gdi::ParseDib(dib.data(), dib.size());
    return dib.data() + layout.bitsOffset;
}

// A device bitmap made from a packed bitmap on the screen.
HBITMAP FromDib(const std::vector<uint8_t>& dib)
{
    return CreateDIBitmap(nullptr, &Info(dib)->bmiHeader, CBM_INIT, Bits(dib), Info(dib), DIB_RGB_COLORS);
}

// Colours of a device bitmap, read through a memory context.
uint32_t PixelOf(HBITMAP bitmap, int32_t x, int32_t y)
{
    HDC memory = CreateCompatibleDC(nullptr);
    HGDIOBJ old = SelectObject(memory, bitmap);
    const COLORREF colour = GetPixel(memory, x, y);
    SelectObject(memory, old);
    DeleteDC(memory);
    return colour;
}

constexpr COLORREF Ref(uint8_t r, uint8_t g, uint8_t b)
{
    return r | (uint32_t{g} << 8) | (uint32_t{b} << 16);
}

TEST(GdiContexts, ScreenIsTrueColourAt96DotsPerInch)
{
    HDC screen = GetDC(nullptr);
    ASSERT_NE(screen, nullptr);
    EXPECT_EQ(GetDeviceCaps(screen, BITSPIXEL), 32);
    EXPECT_EQ(GetDeviceCaps(screen, PLANES), 1);
    EXPECT_EQ(GetDeviceCaps(screen, LOGPIXELSX), 96);
    EXPECT_EQ(GetDeviceCaps(screen, LOGPIXELSY), 96);
    EXPECT_GT(GetDeviceCaps(screen, HORZRES), 0);
    const auto caps = static_cast<uint32_t>(GetDeviceCaps(screen, RASTERCAPS));
    EXPECT_EQ(caps & (RC_BITBLT | RC_DI_BITMAP | RC_STRETCHDIB), RC_BITBLT | RC_DI_BITMAP | RC_STRETCHDIB);
    EXPECT_EQ(caps & RC_PALETTE, 0u);
    EXPECT_EQ(GetDeviceCaps(screen, SIZEPALETTE), 0);
    EXPECT_EQ(GetDeviceCaps(screen, NUMCOLORS), -1);

    // A memory context takes the device's capabilities.
    HDC memory = CreateCompatibleDC(screen);
    EXPECT_EQ(static_cast<uint32_t>(GetDeviceCaps(memory, RASTERCAPS)), caps);
    EXPECT_EQ(DeleteDC(memory), 1);

    EXPECT_EQ(DeleteDC(screen), 0) << "screen contexts go back through ReleaseDC";
    EXPECT_EQ(ReleaseDC(nullptr, screen), 1);
    EXPECT_EQ(GetDC(reinterpret_cast<HWND>(1)), nullptr) << "there are no windows";
}

TEST(GdiContexts, BufferContextHasTheChosenCapabilitiesAndSize)
{
    std::vector<uint32_t> pixels(6 * 4);
    HDC dc = CreateBufferDC(pixels.data(), 6, 4, 6 * 4, RC_BITBLT | RC_PALETTE);
    ASSERT_NE(dc, nullptr);
    EXPECT_EQ(static_cast<uint32_t>(GetDeviceCaps(dc, RASTERCAPS)), RC_BITBLT | RC_PALETTE);
    EXPECT_EQ(GetDeviceCaps(dc, HORZRES), 6);
    EXPECT_EQ(GetDeviceCaps(dc, VERTRES), 4);
    EXPECT_EQ(GetDeviceCaps(dc, SIZEPALETTE), 256);
    EXPECT_EQ(DeleteDC(dc), 1);

    EXPECT_EQ(CreateBufferDC(nullptr, 6, 4, 24, RC_BITBLT), nullptr);
    EXPECT_EQ(CreateBufferDC(pixels.data(), 6, 4, 23, RC_BITBLT), nullptr) << "stride below width * 4";
    EXPECT_EQ(CreateBufferDC(pixels.data(), 0, 4, 24, RC_BITBLT), nullptr);
}

TEST(GdiHandles, StaleAndForeignHandlesFailInsteadOfBeingUsed)
{
    Canvas canvas(2, 2);
    HDC memory = CreateCompatibleDC(canvas.dc());
    ASSERT_EQ(DeleteDC(memory), 1);
    EXPECT_EQ(DeleteDC(memory), 0);
    EXPECT_EQ(GetDeviceCaps(memory, RASTERCAPS), 0);
    EXPECT_EQ(BitBlt(canvas.dc(), 0, 0, 2, 2, memory, 0, 0, SRCCOPY), 0);
    EXPECT_EQ(CreateCompatibleDC(memory), nullptr);

    int foreign = 0;
    EXPECT_EQ(DeleteObject(&foreign), 0);
    EXPECT_EQ(GetDeviceCaps(reinterpret_cast<HDC>(&foreign), RASTERCAPS), 0);
    EXPECT_EQ(SelectPalette(canvas.dc(), reinterpret_cast<HPALETTE>(&foreign), 0), nullptr);

    HBITMAP bitmap = CreateCompatibleBitmap(nullptr, 2, 2);
    ASSERT_EQ(DeleteObject(bitmap), 1);
    EXPECT_EQ(DeleteObject(bitmap), 0);
    EXPECT_EQ(GetObjectA(bitmap, sizeof(BITMAP), nullptr), 0);
    EXPECT_EQ(DeleteObject(canvas.dc()), 0) << "contexts are not objects to DeleteObject";
    EXPECT_TRUE(canvas.AllUntouched());
}

TEST(GdiSelection, ABitmapLivesInOneMemoryContextAndIsKeptWhileSelected)
{
    Canvas canvas(2, 2);
    HBITMAP bitmap = CreateCompatibleBitmap(canvas.dc(), 3, 3);
    HDC first = CreateCompatibleDC(nullptr);
    HDC second = CreateCompatibleDC(nullptr);

    EXPECT_EQ(SelectObject(canvas.dc(), bitmap), nullptr) << "only memory contexts take bitmaps";
    HGDIOBJ stock = SelectObject(first, bitmap);
    ASSERT_NE(stock, nullptr);
    EXPECT_EQ(SelectObject(second, bitmap), nullptr) << "already selected elsewhere";
    EXPECT_EQ(DeleteObject(bitmap), 0) << "still selected";
    EXPECT_EQ(SelectObject(first, stock), bitmap);
    EXPECT_NE(SelectObject(second, bitmap), nullptr);
    EXPECT_EQ(DeleteDC(second), 1);  // deleting the context lets go of the bitmap
    EXPECT_EQ(DeleteObject(bitmap), 1);
    EXPECT_EQ(DeleteDC(first), 1);
}

TEST(GdiSelection, APaletteIsKeptWhileAnyContextHasItSelected)
{
    Canvas canvas(2, 2);
    HPALETTE stock = static_cast<HPALETTE>(GetStockObject(DEFAULT_PALETTE));
    ASSERT_NE(stock, nullptr);
    EXPECT_EQ(GetPaletteEntries(stock, 0, 0, nullptr), 20u);

    LOGPALETTE logical{0x300, 1, {{10, 20, 30, 0}}};
    HPALETTE palette = CreatePalette(&logical);
    ASSERT_NE(palette, nullptr);
    EXPECT_EQ(SelectPalette(canvas.dc(), palette, 0), stock) << "a new context holds the stock palette";
    EXPECT_EQ(DeleteObject(palette), 0);
    EXPECT_EQ(SelectPalette(canvas.dc(), stock, 0), palette);
    EXPECT_EQ(DeleteObject(palette), 1);
    EXPECT_EQ(DeleteObject(stock), 1) << "stock objects survive a delete";
    EXPECT_EQ(GetPaletteEntries(stock, 0, 0, nullptr), 20u);

    logical.palVersion = 0x200;
    EXPECT_EQ(CreatePalette(&logical), nullptr);
}

TEST(GdiPalettes, SystemPaletteAndRealisingOnlyOnPaletteDevices)
{
    LOGPALETTE logical{0x300, 1, {{10, 20, 30, 0}}};
    HPALETTE palette = CreatePalette(&logical);
    Canvas trueColour(2, 2);
    Canvas paletted(2, 2, RC_BITBLT | RC_PALETTE);
    SelectPalette(trueColour.dc(), palette, 0);
    SelectPalette(paletted.dc(), palette, 0);

    EXPECT_EQ(RealizePalette(trueColour.dc()), 0u);
    EXPECT_EQ(RealizePalette(paletted.dc()), 1u);
    PALETTEENTRY entries[3] = {};
    EXPECT_EQ(GetSystemPaletteEntries(trueColour.dc(), 0, 3, entries), 0u);
    EXPECT_EQ(GetSystemPaletteEntries(paletted.dc(), 0, 3, entries), 3u);
    EXPECT_EQ(entries[0].peRed, 10);
    EXPECT_EQ(entries[0].peBlue, 30);
    EXPECT_EQ(entries[1].peRed | entries[1].peGreen | entries[1].peBlue, 0) << "the rest is black";
    EXPECT_EQ(GetSystemPaletteEntries(paletted.dc(), 255, 3, entries), 1u);

    SelectPalette(trueColour.dc(), static_cast<HPALETTE>(GetStockObject(DEFAULT_PALETTE)), 0);
    SelectPalette(paletted.dc(), static_cast<HPALETTE>(GetStockObject(DEFAULT_PALETTE)), 0);
    EXPECT_EQ(DeleteObject(palette), 1);
}

TEST(GdiBlits, CopiesClipToBothSurfacesAndLeaveTheRest)
{
    // 3 x 2 source, top-down: A B C / D E F
    const std::vector<uint8_t> dib = PackedDib(3, -2, 24, {},
                                               {{3, 2, 1, 6, 5, 4, 9, 8, 7}, {12, 11, 10, 15, 14, 13, 18, 17, 16}});
    HBITMAP bitmap = FromDib(dib);
    ASSERT_NE(bitmap, nullptr);
    HDC memory = CreateCompatibleDC(nullptr);
    HGDIOBJ old = SelectObject(memory, bitmap);

    Canvas canvas(4, 3);
    // Asks for more than either surface has: only the overlap is copied.
    ASSERT_EQ(BitBlt(canvas.dc(), 2, -1, 5, 5, memory, 0, 0, SRCCOPY), 1);
    EXPECT_EQ(canvas.At(2, 0), 0x0A0B0Cu) << "source row 1 lands on row 0";
    EXPECT_EQ(canvas.At(3, 0), 0x0D0E0Fu);
    EXPECT_EQ(canvas.Word(2, 0) >> 24, 0xFFu) << "the spare byte is opaque";
    for (int32_t y = 0; y < 3; ++y)
        for (int32_t x = 0; x < 4; ++x) {
            if (!(y == 0 && x >= 2)) {
                EXPECT_EQ(canvas.At(x, y), test::kUntouched) << x << "," << y;
            }
        }

    // A source origin inside the bitmap.
    ASSERT_EQ(BitBlt(canvas.dc(), 0, 2, 2, 1, memory, 1, 1, SRCCOPY), 1);
    EXPECT_EQ(canvas.At(0, 2), 0x0D0E0Fu);
    EXPECT_EQ(canvas.At(1, 2), 0x101112u);

    EXPECT_EQ(BitBlt(canvas.dc(), 0, 0, -1, 1, memory, 0, 0, SRCCOPY), 0) << "no mirroring";
    EXPECT_EQ(BitBlt(canvas.dc(), 0, 0, 1, 1, memory, 0, 0, 0x00EE0086), 0) << "SRCCOPY only";

    SelectObject(memory, old);
    DeleteDC(memory);
    DeleteObject(bitmap);
}

TEST(GdiBlits, NeedTheDestinationsBitBltCapability)
{
    Canvas source(2, 2);
    Canvas target(2, 2, RC_DI_BITMAP | RC_STRETCHDIB);
    source.Word(0, 0) = 0xFF010203;
    EXPECT_EQ(BitBlt(target.dc(), 0, 0, 2, 2, source.dc(), 0, 0, SRCCOPY), 0);
    EXPECT_TRUE(target.AllUntouched());
}

TEST(GdiBlits, OverlappingCopyWithinOneSurface)
{
    Canvas canvas(4, 1);
    for (int32_t x = 0; x < 4; ++x)
        canvas.Word(x, 0) = 0xFF000000u | uint32_t(x + 1);
    ASSERT_EQ(BitBlt(canvas.dc(), 1, 0, 3, 1, canvas.dc(), 0, 0, SRCCOPY), 1);
    EXPECT_EQ(canvas.At(0, 0), 1u);
    EXPECT_EQ(canvas.At(1, 0), 1u);
    EXPECT_EQ(canvas.At(2, 0), 2u);
    EXPECT_EQ(canvas.At(3, 0), 3u);
}

TEST(GdiBitmaps, DeviceBitmapsFromEveryTakenLayout)
{
    const RGBQUAD black{0, 0, 0, 0}, white{255, 255, 255, 0}, red{0, 0, 255, 0}, blue{255, 0, 0, 0};
    struct Case {
        const char* what;
        std::vector<uint8_t> dib;
    };
    // Each picture is 3 x 2: top row red, white, blue; bottom row blue, black, red.
    const Case cases[] = {
        {"24 bits bottom-up", PackedDib(3, 2, 24, {}, {{0, 0, 255, 255, 255, 255, 255, 0, 0}, {255, 0, 0, 0, 0, 0, 0, 0, 255}})},
        {"24 bits top-down", PackedDib(3, -2, 24, {}, {{0, 0, 255, 255, 255, 255, 255, 0, 0}, {255, 0, 0, 0, 0, 0, 0, 0, 255}})},
        {"32 bits", PackedDib(3, 2, 32, {}, {{0, 0, 255, 0, 255, 255, 255, 0, 255, 0, 0, 0}, {255, 0, 0, 0, 0, 0, 0, 0, 0, 0, 255, 0}})},
        {"8 bits", PackedDib(3, 2, 8, {black, white, red, blue}, {{2, 1, 3}, {3, 0, 2}})},
        {"4 bits", PackedDib(3, 2, 4, {black, white, red, blue}, {{0x21, 0x30}, {0x30, 0x20}})},
        {"2 bits", PackedDib(3, 2, 2, {black, white, red, blue}, {{0b10011100}, {0b11001000}})},
        {"3 bits across bytes", PackedDib(3, 2, 3, {black, white, red, blue}, {{0b01000101, 0b10000000}, {0b01100001, 0b00000000}})},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        HBITMAP bitmap = FromDib(c.dib);
        ASSERT_NE(bitmap, nullptr);
        EXPECT_EQ(PixelOf(bitmap, 0, 0), Ref(255, 0, 0));
        EXPECT_EQ(PixelOf(bitmap, 1, 0), Ref(255, 255, 255));
        EXPECT_EQ(PixelOf(bitmap, 2, 0), Ref(0, 0, 255));
        EXPECT_EQ(PixelOf(bitmap, 0, 1), Ref(0, 0, 255));
        EXPECT_EQ(PixelOf(bitmap, 1, 1), Ref(0, 0, 0));
        EXPECT_EQ(PixelOf(bitmap, 2, 1), Ref(255, 0, 0));
        EXPECT_EQ(PixelOf(bitmap, 3, 1), CLR_INVALID);
        DeleteObject(bitmap);
    }

    // 1 bit: two entries, most significant bit leftmost.
    const std::vector<uint8_t> mono = PackedDib(10, 1, 1, {black, white}, {{0b10000000, 0b01000000}});
    HBITMAP bitmap = FromDib(mono);
    EXPECT_EQ(PixelOf(bitmap, 0, 0), Ref(255, 255, 255));
    EXPECT_EQ(PixelOf(bitmap, 1, 0), Ref(0, 0, 0));
    EXPECT_EQ(PixelOf(bitmap, 9, 0), Ref(255, 255, 255));
    DeleteObject(bitmap);
}

TEST(GdiBitmaps, LayoutsTheLayerDoesNotTakeAreRefused)
{
    std::vector<uint8_t> sixteen = PackedDib(2, 2, 16, {}, {{0, 0, 0, 0}, {0, 0, 0, 0}});
    EXPECT_EQ(px::gdi::ParseDib(sixteen.data(), sixteen.size()).status, px::gdi::DibStatus::Unsupported);
    EXPECT_EQ(FromDib(sixteen), nullptr);

    std::vector<uint8_t> noPlanes = PackedDib(2, 2, 24, {}, {{0, 0, 0, 0, 0, 0}, {0, 0, 0, 0, 0, 0}});
    reinterpret_cast<BITMAPINFOHEADER*>(noPlanes.data())->biPlanes = 0;
    EXPECT_EQ(px::gdi::ParseDib(noPlanes.data(), noPlanes.size()).status, px::gdi::DibStatus::Bad);

    std::vector<uint8_t> truncated = PackedDib(2, 2, 24, {}, {{0, 0, 0, 0, 0, 0}, {0, 0, 0, 0, 0, 0}});
    EXPECT_EQ(px::gdi::ParseDib(truncated.data(), truncated.size() - 1).status, px::gdi::DibStatus::Bad);

    // 32 bits with the usual masks is plain 32 bits; other masks are not taken.
    std::vector<uint8_t> fields(40 + 12 + 4);
    BITMAPINFOHEADER header{40, 1, 1, 1, 32, BI_BITFIELDS, 4, 0, 0, 0, 0};
    const uint32_t masks[3] = {0xFF0000, 0xFF00, 0xFF};
    std::memcpy(fields.data(), &header, 40);
    std::memcpy(fields.data() + 40, masks, 12);
    const uint8_t pixel[4] = {1, 2, 3, 0};
    std::memcpy(fields.data() + 52, pixel, 4);
    HBITMAP bitmap = FromDib(fields);
    ASSERT_NE(bitmap, nullptr);
    EXPECT_EQ(PixelOf(bitmap, 0, 0), Ref(3, 2, 1));
    DeleteObject(bitmap);
    const uint32_t swapped[3] = {0xFF, 0xFF00, 0xFF0000};
    std::memcpy(fields.data() + 40, swapped, 12);
    EXPECT_EQ(px::gdi::ParseDib(fields.data(), fields.size()).status, px::gdi::DibStatus::Unsupported);
}

// 23170 x 23170 at 32 bits is just past the largest block a bitmap may take: refused before
// anything is allocated, as a device bitmap and as a section.
TEST(GdiBitmaps, BitmapsPastTheSizeLimitAreRefused)
{
    EXPECT_EQ(CreateCompatibleBitmap(nullptr, 23170, 23170), nullptr);
    BITMAPINFO info{};
    info.bmiHeader = BITMAPINFOHEADER{40, 23170, 23170, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    void* bits = nullptr;
    EXPECT_EQ(CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0), nullptr);
    EXPECT_EQ(bits, nullptr);
}

TEST(GdiBitmaps, SectionBitsAreThePixels)
{
    BITMAPINFO info{};
    info.bmiHeader = BITMAPINFOHEADER{40, 2, 2, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
    void* bits = nullptr;
    HBITMAP section = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    ASSERT_NE(section, nullptr);
    ASSERT_NE(bits, nullptr);
    auto* bytes = static_cast<uint8_t*>(bits);
    bytes[0] = 0x30, bytes[1] = 0x20, bytes[2] = 0x10;  // first stored row is the bottom one
    EXPECT_EQ(PixelOf(section, 0, 1), Ref(0x10, 0x20, 0x30));

    BITMAP described{};
    ASSERT_EQ(GetObjectA(section, sizeof described, &described), int32_t(sizeof described));
    EXPECT_EQ(described.bmBits, bits);
    EXPECT_EQ(described.bmBitsPixel, 24);
    EXPECT_EQ(described.bmWidthBytes, 8);
    HBITMAP device = CreateCompatibleBitmap(nullptr, 2, 2);
    ASSERT_EQ(GetObjectA(device, sizeof described, &described), int32_t(sizeof described));
    EXPECT_EQ(described.bmBits, nullptr);
    EXPECT_EQ(described.bmBitsPixel, 32);
    DeleteObject(device);

    // Drawing into a section writes its bits.
    Canvas canvas(1, 1);
    canvas.Word(0, 0) = 0xFF405060;
    HDC memory = CreateCompatibleDC(nullptr);
    HGDIOBJ old = SelectObject(memory, section);
    ASSERT_EQ(BitBlt(memory, 1, 0, 1, 1, canvas.dc(), 0, 0, SRCCOPY), 1);
    const uint8_t* topRow = bytes + 8;
    EXPECT_EQ(topRow[3], 0x60);
    EXPECT_EQ(topRow[4], 0x50);
    EXPECT_EQ(topRow[5], 0x40);
    SelectObject(memory, old);
    DeleteDC(memory);
    EXPECT_EQ(CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, &info, 0), nullptr)
        << "no sections over file mappings";
    DeleteObject(section);
}

TEST(GdiBitmaps, IndexedSectionsTakeTheNearestTableEntry)
{
    struct {
        BITMAPINFOHEADER header;
        RGBQUAD table[2];
    } info{{40, 4, 1, 1, 4, BI_RGB, 0, 0, 0, 2, 0}, {{0, 0, 0, 0}, {0, 0, 200, 0}}};
    void* bits = nullptr;
    HBITMAP section = CreateDIBSection(nullptr, reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS, &bits,
                                       nullptr, 0);
    ASSERT_NE(section, nullptr);
    Canvas canvas(4, 1);
    canvas.Word(0, 0) = 0xFFFF0000;  // red: entry 1
    canvas.Word(1, 0) = 0xFF101010;  // dark grey: entry 0
    canvas.Word(2, 0) = 0xFF900000;  // mid red: entry 1
    canvas.Word(3, 0) = 0xFF640000;  // 100 is as near to 0 as to 200: the first wins
    HDC memory = CreateCompatibleDC(nullptr);
    HGDIOBJ old = SelectObject(memory, section);
    ASSERT_EQ(BitBlt(memory, 0, 0, 4, 1, canvas.dc(), 0, 0, SRCCOPY), 1);
    const auto* bytes = static_cast<const uint8_t*>(bits);
    EXPECT_EQ(bytes[0], 0x10);
    EXPECT_EQ(bytes[1], 0x10);
    SelectObject(memory, old);
    DeleteDC(memory);
    DeleteObject(section);
}

TEST(GdiBitmaps, GetDIBitsDescribesAndDeliversScanLines)
{
    const std::vector<uint8_t> dib = PackedDib(2, -2, 24, {}, {{1, 2, 3, 4, 5, 6}, {7, 8, 9, 10, 11, 12}});
    HBITMAP bitmap = FromDib(dib);
    HDC screen = GetDC(nullptr);

    BITMAPINFO info{};
    info.bmiHeader.biSize = 40;
    ASSERT_NE(GetDIBits(screen, bitmap, 0, 2, nullptr, &info, DIB_RGB_COLORS), 0);
    EXPECT_EQ(info.bmiHeader.biWidth, 2);
    EXPECT_EQ(info.bmiHeader.biHeight, 2);
    EXPECT_EQ(info.bmiHeader.biBitCount, 32);
    EXPECT_EQ(info.bmiHeader.biSizeImage, 16u);

    // 24 bits bottom-up: the first scan line is the picture's last row.
    info.bmiHeader.biBitCount = 24;
    std::vector<uint8_t> bits(16, 0xEE);
    ASSERT_EQ(GetDIBits(screen, bitmap, 0, 2, bits.data(), &info, DIB_RGB_COLORS), 2);
    const std::vector<uint8_t> expected = {7, 8, 9, 10, 11, 12, 0xEE, 0xEE, 1, 2, 3, 4, 5, 6, 0xEE, 0xEE};
    EXPECT_EQ(bits, expected);
    // From scan line 1 on: only the top row.
    std::fill(bits.begin(), bits.end(), 0);
    ASSERT_EQ(GetDIBits(screen, bitmap, 1, 5, bits.data(), &info, DIB_RGB_COLORS), 1);
    EXPECT_EQ(bits[0], 1);
    EXPECT_EQ(bits[5], 6);

    info.bmiHeader.biWidth = 3;
    EXPECT_EQ(GetDIBits(screen, bitmap, 0, 2, bits.data(), &info, DIB_RGB_COLORS), 0) << "size must match";
    ReleaseDC(nullptr, screen);
    DeleteObject(bitmap);
}

TEST(GdiBitmaps, GetDIBitsAtEightBitsUsesTheContextsPalette)
{
    const std::vector<uint8_t> dib = PackedDib(3, 1, 24, {}, {{0, 0, 250, 10, 10, 10, 0, 200, 0}});
    HBITMAP bitmap = FromDib(dib);
    HDC screen = GetDC(nullptr);
    struct {
        uint16_t version, count;
        PALETTEENTRY entries[3];
    } logical{0x300, 3, {{0, 0, 0, 0}, {255, 0, 0, 0}, {0, 255, 0, 0}}};
    HPALETTE palette = CreatePalette(reinterpret_cast<LOGPALETTE*>(&logical));
    HPALETTE old = SelectPalette(screen, palette, 0);

    struct {
        BITMAPINFOHEADER header;
        RGBQUAD table[256];
    } info{};
    info.header = BITMAPINFOHEADER{40, 3, 1, 1, 8, BI_RGB, 0, 0, 0, 0, 0};
    uint8_t bits[4] = {9, 9, 9, 9};
    ASSERT_EQ(GetDIBits(screen, bitmap, 0, 1, bits, reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS), 1);
    EXPECT_EQ(bits[0], 1);  // red
    EXPECT_EQ(bits[1], 0);  // near black
    EXPECT_EQ(bits[2], 2);  // green
    EXPECT_EQ(info.table[1].rgbRed, 255);
    EXPECT_EQ(info.table[2].rgbGreen, 255);
    EXPECT_EQ(info.table[200].rgbRed, 0) << "past the palette the table is black";

    SelectPalette(screen, old, 0);
    ReleaseDC(nullptr, screen);
    DeleteObject(palette);
    DeleteObject(bitmap);
}

TEST(GdiStretch, NearestPixelScalingWithTheLowerLeftSourceOrigin)
{
    // 2 x 2 bottom-up: top row A B, bottom row C D.
    const std::vector<uint8_t> dib = PackedDib(2, 2, 24, {}, {{0xA, 0, 0, 0xB, 0, 0}, {0xC, 0, 0, 0xD, 0, 0}});
    Canvas canvas(4, 4);
    ASSERT_EQ(StretchDIBits(canvas.dc(), 0, 0, 4, 4, 0, 0, 2, 2, Bits(dib), Info(dib), DIB_RGB_COLORS, SRCCOPY), 2);
    const uint32_t expected[4][4] = {{0xA, 0xA, 0xB, 0xB}, {0xA, 0xA, 0xB, 0xB}, {0xC, 0xC, 0xD, 0xD}, {0xC, 0xC, 0xD, 0xD}};
    for (int32_t y = 0; y < 4; ++y)
        for (int32_t x = 0; x < 4; ++x)
            EXPECT_EQ(canvas.At(x, y), expected[y][x]) << x << "," << y;

    // Source row 0 of a bottom-up bitmap is its bottom row.
    ASSERT_EQ(StretchDIBits(canvas.dc(), 0, 0, 1, 1, 1, 0, 1, 1, Bits(dib), Info(dib), DIB_RGB_COLORS, SRCCOPY), 1);
    EXPECT_EQ(canvas.At(0, 0), 0xDu);

    Canvas noStretch(4, 4, RC_BITBLT);
    EXPECT_EQ(StretchDIBits(noStretch.dc(), 0, 0, 4, 4, 0, 0, 2, 2, Bits(dib), Info(dib), DIB_RGB_COLORS, SRCCOPY), 0);
    EXPECT_TRUE(noStretch.AllUntouched());
}

}  // namespace
