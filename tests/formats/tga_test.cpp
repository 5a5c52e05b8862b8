// The TGA reader: row orders, run-length twins, value encodings, colour maps, refusals.
#include "formats/reader_files.h"

#include <gtest/gtest.h>

namespace {

using test::Bytes;
using test::TgaFile;
using test::TgaHeader;

test::Decoded Decode(const Bytes& file, uint32_t bits = 24, uint8_t* palette = nullptr)
{
    return test::DecodeWith(ReadTGA, file, bits, palette);
}

// 3 x 2 pixels of 24 bits, stored blue, green, red, in file order.
const Bytes kRaw = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18};

TEST(TgaReader, RowOrderFollowsTheDescriptor)
{
    struct Case {
        uint8_t descriptor;
        Bytes expected;
    };
    const Case cases[] = {
        {0x00, {12, 11, 10, 15, 14, 13, 18, 17, 16, 3, 2, 1, 6, 5, 4, 9, 8, 7}},
        {0x20, {3, 2, 1, 6, 5, 4, 9, 8, 7, 12, 11, 10, 15, 14, 13, 18, 17, 16}},
        {0x30, {9, 8, 7, 6, 5, 4, 3, 2, 1, 18, 17, 16, 15, 14, 13, 12, 11, 10}},  // right to left
    };
    for (const Case& c : cases) {
        TgaHeader h;
        h.descriptor = c.descriptor;
        h.idLength = 5;
        const test::Decoded d = Decode(TgaFile(3, 2, h, kRaw));
        ASSERT_EQ(d.code, 0u) << int(c.descriptor);
        EXPECT_EQ(d.Rgb(), c.expected) << int(c.descriptor);
    }
}

TEST(TgaReader, RunLengthPacketsRunAcrossRows)
{
    // Pixels 0..5 as: raw packet of 2, repeat packet of 3 (crossing the row end), raw of 1.
    const Bytes rle = {1, 1, 2, 3, 4, 5, 6, 0x82, 7, 8, 9, 0, 10, 11, 12};
    const Bytes raw = {1, 2, 3, 4, 5, 6, 7, 8, 9, 7, 8, 9, 7, 8, 9, 10, 11, 12};
    TgaHeader h;
    const test::Decoded plain = Decode(TgaFile(3, 2, h, raw));
    h.type = 10;
    const test::Decoded packed = Decode(TgaFile(3, 2, h, rle));
    ASSERT_EQ(packed.code, 0u);
    EXPECT_EQ(packed.Rgb(), plain.Rgb());
}

TEST(TgaReader, ValueEncodings)
{
    TgaHeader h;
    h.depth = 16;
    EXPECT_EQ(Decode(TgaFile(1, 1, h, {0xFF, 0x7F})).Rgb(), (Bytes{248, 248, 248}));
    EXPECT_EQ(Decode(TgaFile(1, 1, h, {0x1F, 0x7C})).Rgb(), (Bytes{248, 0, 248}));
    h.depth = 8;
    h.type = 3;
    EXPECT_EQ(Decode(TgaFile(1, 1, h, {77})).Rgb(), (Bytes{77, 77, 77}));
    h.depth = 32;
    h.type = 2;
    EXPECT_EQ(Decode(TgaFile(1, 1, h, {1, 2, 3, 0})).Rgb(), (Bytes{3, 2, 1})) << "alpha is dropped";
}

TEST(TgaReader, ColourMapsStartAtTheirFirstIndex)
{
    Bytes map;
    for (uint8_t i = 0; i < 16; ++i)
        map.insert(map.end(), {i, uint8_t(i + 100), uint8_t(i + 200)});
    TgaHeader h;
    h.type = 1;
    h.depth = 8;
    h.mapType = 1;
    h.mapLength = 16;
    h.mapBits = 24;
    Bytes data = map;
    data.push_back(3);
    EXPECT_EQ(Decode(TgaFile(1, 1, h, data)).Rgb(), (Bytes{203, 103, 3}));

    // First index 250: entries beyond 255 are dropped, indices past the map are black.
    h.mapFirst = 250;
    data = map;
    data.insert(data.end(), {252, 2});
    RGBQUAD palette[256];
    test::Decoded d = Decode(TgaFile(2, 1, h, data));
    EXPECT_EQ(d.Rgb(), (Bytes{202, 102, 2, 0, 0, 0}));
    d = Decode(TgaFile(2, 1, h, data), 8, reinterpret_cast<uint8_t*>(palette));
    ASSERT_EQ(d.code, 0u);
    EXPECT_EQ(Bytes(d.pixels.get(), d.pixels.get() + 2), (Bytes{252, 2}));
    EXPECT_EQ(palette[255].rgbBlue, 5);

    // 16-bit indices above 255 are held at the last entry.
    h.mapFirst = 255;
    h.mapLength = 1;
    h.depth = 16;
    EXPECT_EQ(Decode(TgaFile(1, 1, h, {9, 8, 7, 0x00, 0x10})).Rgb(), (Bytes{7, 8, 9}));
}

uint32_t StopAtOnce(uint32_t, uint32_t, uint32_t)
{
    return 0;
}

TEST(TgaReader, FailuresReturnNothing)
{
    TgaHeader h;
    TgaHeader type32 = h, depth4 = h, mapped = h, grey = h;
    type32.type = 32;
    depth4.depth = 4;
    mapped.type = 1;
    mapped.depth = 8;
    grey.type = 3;
    grey.depth = 8;
    RGBQUAD palette[256];
    auto* table = reinterpret_cast<uint8_t*>(palette);
    struct Case {
        const char* what;
        Bytes file;
        uint32_t bits;
        uint8_t* palette;
        uint32_t code;
    };
    const Case cases[] = {
        {"image type 32", TgaFile(1, 1, type32, {1, 2, 3}), 24, nullptr, 32},
        {"pixel depth 4", TgaFile(1, 1, depth4, {1, 2, 3}), 24, nullptr, 32},
        {"colour-mapped without a map", TgaFile(1, 1, mapped, {1}), 24, nullptr, 32},
        {"zero width", TgaFile(0, 1, h, {}), 24, nullptr, 32},
        {"pixels cut short", TgaFile(2, 2, h, {1, 2, 3, 4, 5, 6, 7}), 24, nullptr, 3},
        {"header cut short", Bytes(17, 0), 24, nullptr, 3},
        {"claims 60000 x 60000", TgaFile(60000, 60000, h, {1, 2, 3}), 24, nullptr, 3},
        {"Index8 of true colour", TgaFile(1, 1, h, {1, 2, 3}), 8, table, 28},
        {"Index8 of grey", TgaFile(1, 1, grey, {1}), 8, table, 28},
        {"Index8 without palette", TgaFile(1, 1, grey, {1}), 8, nullptr, 5},
        {"1 bit asked", TgaFile(1, 1, h, {1, 2, 3}), 1, table, 5},
    };
    for (const Case& c : cases) {
        const test::Decoded d = Decode(c.file, c.bits, c.palette);
        EXPECT_EQ(d.pixels, nullptr) << c.what;
        EXPECT_EQ(d.code, c.code) << c.what;
        EXPECT_EQ(d.width + d.height, 0u) << c.what;
    }

    SetProgressCallback(StopAtOnce, 0);
    const test::Decoded cancelled = Decode(TgaFile(3, 2, h, kRaw));
    SetProgressCallback(nullptr, 0);
    EXPECT_EQ(cancelled.pixels, nullptr);
    EXPECT_EQ(cancelled.code, 14u);
}

}  // namespace
