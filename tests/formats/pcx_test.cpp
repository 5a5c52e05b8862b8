// The PCX reader: plane layouts, both palettes, monochrome, runs cut at the line end, rows.
#include "formats/reader_files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

namespace {

using test::Bytes;
using test::PcxFile;

test::Decoded Decode(const Bytes& file, uint32_t bits = 24, uint8_t* palette = nullptr)
{
    return test::DecodeWith(ReadPCX, file, bits, palette);
}

Bytes Indices(const test::Decoded& d)
{
    return d.pixels ? Bytes(d.pixels.get(), d.pixels.get() + size_t(d.width) * d.height) : Bytes{};
}

TEST(PcxReader, PlanesOfEightBitsAreRedGreenBlueAndAlphaOnBlack)
{
    // Red plane as literals, green as one run of a value that needs one, blue as literals; a
    // fourth plane is alpha.
    const Bytes rgb = PcxFile(2, 1, 8, 3, 2, {10, 20, 0xC2, 0xC8, 50, 60});
    const Bytes rgba = PcxFile(2, 1, 8, 4, 2, {10, 20, 0xC2, 0xC8, 50, 60, 0xC1, 255, 128});
    struct Row {
        const char* what;
        Bytes file;
        Bytes expected;
    } rows[] = {{"three planes", rgb, {10, 0xC8, 50, 20, 0xC8, 60}},
                {"four planes", rgba, {10, 0xC8, 50, 10, 100, 30}}};
    for (const Row& row : rows) {
        const test::Decoded d = Decode(row.file);
        ASSERT_EQ(d.code, 0u) << row.what;
        EXPECT_EQ(d.Rgb(), row.expected) << row.what;
    }
}

TEST(PcxReader, SixteenColoursComeFromTheHeaderPalette)
{
    Bytes palette16(48);
    for (int i = 0; i < 48; ++i)
        palette16[i] = uint8_t(i);
    // Planes 0 to 3 of one byte each (0xC0 is written as a run of one); plane 0 gives the
    // lowest bit of the index.
    const Bytes file = PcxFile(8, 1, 1, 4, 1, {0x80, 0xC1, 0xC0, 0x00, 0x01}, palette16);
    RGBQUAD palette[256];
    const test::Decoded d = Decode(file, 8, reinterpret_cast<uint8_t*>(palette));
    ASSERT_EQ(d.code, 0u);
    EXPECT_EQ(Indices(d), (Bytes{3, 2, 0, 0, 0, 0, 0, 8}));
    EXPECT_EQ(palette[3].rgbRed, 9);
    EXPECT_EQ(palette[3].rgbBlue, 11);
    EXPECT_EQ(palette[16].rgbRed, 0) << "entries past 16 copy entry 0";
    EXPECT_EQ(Bytes(Decode(file).Rgb()).at(21), 24) << "pixel 7 in RGB24 is entry 8";
}

TEST(PcxReader, TheTrailingPaletteNeedsItsMarker)
{
    Bytes tail(769, 0);
    tail[0] = 12;
    tail[1 + 3] = 1, tail[1 + 4] = 2, tail[1 + 5] = 3;
    for (uint8_t marker : {12, 11}) {
        tail[0] = marker;
        Bytes data = {1, 2};
        data.insert(data.end(), tail.begin(), tail.end());
        const test::Decoded d = Decode(PcxFile(2, 1, 8, 1, 2, data));
        ASSERT_EQ(d.code, 0u);
        const Bytes expected = marker == 12 ? Bytes{1, 2, 3, 0, 0, 0} : Bytes{1, 1, 1, 2, 2, 2};
        EXPECT_EQ(d.Rgb(), expected) << "marker " << int(marker);
    }
}

TEST(PcxReader, MonochromeIsBlackAndWhiteToTheLastPixel)
{
    const Bytes redHeaderPalette(48, 0x80);
    const test::Decoded d = Decode(PcxFile(10, 1, 1, 1, 2, {0xA5, 0xC1, 0xC0}, redHeaderPalette));
    ASSERT_EQ(d.code, 0u);
    Bytes levels;
    for (size_t i = 0; i < 30; i += 3)
        levels.push_back(d.Rgb()[i]);
    EXPECT_EQ(levels, (Bytes{255, 0, 255, 0, 0, 255, 0, 255, 255, 255}));
}

TEST(PcxReader, RunsStopAtTheLineEndAndMissingDataIsZero)
{
    RGBQUAD palette[256];
    // A run of five 7s with three bytes left: three are written, the next line starts afresh.
    test::Decoded d = Decode(PcxFile(3, 2, 8, 1, 3, {0xC5, 0x07, 1, 2, 3}), 8, reinterpret_cast<uint8_t*>(palette));
    ASSERT_EQ(d.code, 0u);
    EXPECT_EQ(Indices(d), (Bytes{7, 7, 7, 1, 2, 3}));

    d = Decode(PcxFile(4, 2, 8, 1, 4, {0xC3, 9}), 8, reinterpret_cast<uint8_t*>(palette));
    ASSERT_EQ(d.code, 0u);
    EXPECT_EQ(Indices(d), (Bytes{9, 9, 9, 0, 0, 0, 0, 0}));

    // A file cut at a third: what is missing is zero, as zero bytes would give, and is had at
    // once, without asking the channel again for each missing byte.
    Bytes data(64 * 3 * 64);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = uint8_t(i * 7 % 0xC0);
    const Bytes whole = PcxFile(64, 64, 8, 3, 64, data);
    test::CountedSource cut{Bytes(whole.begin(), whole.begin() + long(whole.size() / 3))};
    Bytes padded = cut.bytes;
    padded.resize(whole.size(), 0);
    const Bytes expected = Decode(padded).Rgb();
    for (const bool byRows : {false, true}) {
        SCOPED_TRACE(byRows);
        cut.reads = 0;
        DataChannel* source = cut.Channel();
        uint32_t width = 0, height = 0;
        Bytes got;
        if (byRows) {
            PCXRowReader* rows = BeginPCXRows(source, &width, &height);
            ASSERT_NE(rows, nullptr);
            Bytes row(64 * 3);
            while (ReadPCXRow(rows, row.data(), nullptr))
                got.insert(got.end(), row.begin(), row.end());
            EndPCXRows(rows);
        } else {
            const test::GlobalPtr<uint8_t> pixels(ReadPCX(source, &width, &height, 24, nullptr));
            EXPECT_EQ(GetLastLibraryError(), 0u);
            ASSERT_NE(pixels, nullptr);
            got.assign(pixels.get(), pixels.get() + expected.size());
        }
        CloseSource(source);
        EXPECT_EQ(got, expected);
        EXPECT_LE(cut.reads, 4u);
    }
}

TEST(PcxReader, Refusals)
{
    RGBQUAD palette[256];
    auto* table = reinterpret_cast<uint8_t*>(palette);
    const Bytes rgb = PcxFile(2, 1, 8, 3, 2, {1, 2, 3, 4, 5, 6});
    Bytes manufacturer = rgb, version = rgb, huge = rgb;
    manufacturer[0] = 11;
    version[1] = 4;
    test::Put16(huge, 8, 29999);
    test::Put16(huge, 10, 29999);
    test::Put16(huge, 66, 30000);
    struct Case {
        const char* what;
        Bytes file;
        uint32_t bits;
        uint8_t* palette;
        uint32_t code;
    };
    const Case cases[] = {
        {"Index8 of 24 bits", rgb, 8, table, 28},
        {"Index8 of four planes of 8 bits", PcxFile(1, 1, 8, 4, 1, {1, 2, 3, 4}), 8, table, 28},
        {"two planes of 4 bits", PcxFile(2, 1, 4, 2, 1, {1, 2}), 24, nullptr, 28},
        {"lines shorter than the width", PcxFile(20, 1, 8, 1, 4, {1, 2, 3, 4}), 24, nullptr, 22},
        {"manufacturer 11", manufacturer, 24, nullptr, 22},
        {"version 4", version, 24, nullptr, 22},
        {"header cut short", Bytes(rgb.begin(), rgb.begin() + 127), 24, nullptr, 22},
        {"claims 30000 x 30000", huge, 24, nullptr, 22},
        {"16 bits asked", rgb, 16, table, 5},
        {"no palette", rgb, 8, nullptr, 5},
    };
    for (const Case& c : cases) {
        const test::Decoded d = Decode(c.file, c.bits, c.palette);
        EXPECT_EQ(d.pixels, nullptr) << c.what;
        EXPECT_EQ(d.code, c.code) << c.what;
    }
}

uint32_t StopAtOnce(uint32_t, uint32_t, uint32_t)
{
    return 0;
}

TEST(PcxReader, RowsAndCancel)
{
    const Bytes file = PcxFile(2, 2, 8, 3, 2, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12});
    DataChannel* source = OpenMemorySource(file.data(), uint32_t(file.size()));
    uint32_t width = 0, height = 0, number = 9;
    PCXRowReader* rows = BeginPCXRows(source, &width, &height);
    ASSERT_NE(rows, nullptr);
    EXPECT_EQ(width, 2u);
    Bytes row(6);
    ASSERT_EQ(ReadPCXRow(rows, row.data(), &number), 1u);
    EXPECT_EQ(number, 0u);
    EXPECT_EQ(row, (Bytes{1, 3, 5, 2, 4, 6}));
    ASSERT_EQ(ReadPCXRow(rows, row.data(), &number), 1u);
    EXPECT_EQ(number, 1u);
    EXPECT_EQ(ReadPCXRow(rows, row.data(), &number), 0u);
    EXPECT_EQ(GetLastLibraryError(), 24u);
    EXPECT_EQ(EndPCXRows(rows), 1u);
    EXPECT_EQ(EndPCXRows(nullptr), 0u);
    EXPECT_EQ(GetLastLibraryError(), 5u);
    CloseSource(source);

    SetProgressCallback(StopAtOnce, 0);
    const test::Decoded d = Decode(file);
    SetProgressCallback(nullptr, 0);
    EXPECT_EQ(d.code, 14u);
    EXPECT_EQ(d.Rgb(), (Bytes{1, 3, 5, 2, 4, 6, 0, 0, 0, 0, 0, 0})) << "the first row was read";
}

}  // namespace
