// The BMP reader: every depth, bit fields, both row orders, RLE, Index8 and Mono1, row by row,
// and headers that claim what the file does not hold.
#include "formats/bmp/bitmap_info.h"
#include "formats/reader_files.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>

namespace {

using test::Bytes;
using test::BmpFile;
using test::StoredRows;

test::Decoded Decode(const Bytes& file, uint32_t bits = 24, uint8_t* palette = nullptr)
{
    return test::DecodeWith(ReadBMP, file, bits, palette);
}

const std::vector<RGBQUAD> kTable = {{0, 0, 0, 0}, {255, 255, 255, 0}, {0, 0, 255, 0}, {255, 0, 0, 0}};

TEST(BmpReader, RowOrderFollowsTheSignOfTheHeight)
{
    const Bytes top = {1, 2, 3, 4, 5, 6};  // blue, green, red as stored
    const Bytes bottom = {7, 8, 9, 10, 11, 12};
    const Bytes expected = {3, 2, 1, 6, 5, 4, 9, 8, 7, 12, 11, 10};
    for (bool topDown : {false, true}) {
        const test::Decoded d = Decode(BmpFile(2, topDown ? -2 : 2, 24, {}, StoredRows({top, bottom}, topDown)));
        ASSERT_EQ(d.code, 0u) << topDown;
        EXPECT_EQ(d.width, 2u);
        EXPECT_EQ(d.height, 2u);
        EXPECT_EQ(d.Rgb(), expected) << "each output row is 6 bytes, top row first; topDown " << topDown;
    }
}

// One picture of 3 x 2 pixels in every depth: white, red, blue / black, blue, white.
TEST(BmpReader, EveryDepthGivesTheSamePictureWholeAndRowByRow)
{
    const Bytes expected = {255, 255, 255, 255, 0, 0, 0, 0, 255, 0, 0, 0, 0, 0, 255, 255, 255, 255};
    struct Case {
        uint16_t bits;
        std::vector<Bytes> rows;
        uint32_t compression;
        std::initializer_list<uint32_t> masks;
    };
    const Case cases[] = {
        {4, {{0x12, 0x30}, {0x03, 0x10}}, 0, {}},  // table: black, white, red, blue
        {8, {{1, 2, 3}, {0, 3, 1}}, 0, {}},
        {16, {{0xFF, 0x7F, 0x00, 0x7C, 0x1F, 0x00}, {0, 0, 0x1F, 0, 0xFF, 0x7F}}, 0, {}},
        {16, {{0xFF, 0xFF, 0x00, 0xF8, 0x1F, 0x00}, {0, 0, 0x1F, 0, 0xFF, 0xFF}}, 3, {0xF800, 0x07E0, 0x001F}},
        {24, {{255, 255, 255, 0, 0, 255, 255, 0, 0}, {0, 0, 0, 255, 0, 0, 255, 255, 255}}, 0, {}},
        {32, {{255, 255, 255, 9, 0, 0, 255, 9, 255, 0, 0, 9}, {0, 0, 0, 9, 255, 0, 0, 9, 255, 255, 255, 9}}, 0, {}},
        // Channels in another order: red in the low byte.
        {32, {{255, 255, 255, 0, 255, 0, 0, 0, 0, 0, 255, 0}, {0, 0, 0, 0, 0, 0, 255, 0, 255, 255, 255, 0}},
         3, {0x0000FF, 0x00FF00, 0xFF0000}},
    };
    for (const Case& c : cases) {
        const std::vector<RGBQUAD> table = c.bits <= 8 ? kTable : std::vector<RGBQUAD>{};
        const Bytes file = BmpFile(3, 2, c.bits, table, StoredRows(c.rows), c.compression, c.masks);
        const std::string what = "bits " + std::to_string(c.bits) + " compression " + std::to_string(c.compression);
        test::Decoded d = Decode(file);
        ASSERT_EQ(d.code, 0u) << what;
        Bytes got = d.Rgb();
        if (c.bits == 16) {  // the bits a 5-bit component cannot fill are set
            for (uint8_t& v : got)
                v = v == 7 || v == 3 ? 0 : v;
        }
        EXPECT_EQ(got, expected) << what;

        // Row by row, in file order: the bottom row comes first.
        DataChannel* source = OpenMemorySource(file.data(), uint32_t(file.size()));
        uint32_t width = 0, height = 0, left = 9;
        BMPRowReader* rows = BeginBMPRows(source, &width, &height, nullptr);
        ASSERT_NE(rows, nullptr) << what;
        Bytes row(9);
        ASSERT_EQ(ReadBMPRow(rows, row.data(), &left), 1u);
        EXPECT_EQ(left, 1u);
        EXPECT_TRUE(std::equal(row.begin(), row.end(), d.pixels.get() + 9)) << what;
        ASSERT_EQ(ReadBMPRow(rows, row.data(), &left), 1u);
        EXPECT_TRUE(std::equal(row.begin(), row.end(), d.pixels.get())) << what;
        EXPECT_EQ(ReadBMPRow(rows, row.data(), &left), 0u);
        EXPECT_EQ(GetLastLibraryError(), 24u);
        EXPECT_EQ(EndBMPRows(rows), 1u);
        CloseSource(source);
    }
}

TEST(BmpReader, FiveSixFiveBitFieldsFillTheLowBits)
{
    const Bytes pixels = {0xFF, 0xFF, 0xE0, 0x07, 0x00, 0x00, 0x00, 0x00};
    const test::Decoded d = Decode(BmpFile(3, 1, 16, {}, pixels, 3, {0xF800, 0x07E0, 0x001F}));
    ASSERT_EQ(d.code, 0u);
    EXPECT_EQ(d.Rgb(), (Bytes{255, 255, 255, 7, 255, 7, 7, 3, 7}));
}

TEST(BmpReader, PixelsAreReadFromTheirOffset)
{
    // The table is followed by 8 bytes of something else; the offset points past them.
    Bytes file = BmpFile(1, 1, 24, {}, {0, 0, 0, 0, 0, 0, 0, 0, 3, 2, 1, 0});
    test::Put32(file, 10, 54 + 8);
    EXPECT_EQ(Decode(file).Rgb(), (Bytes{1, 2, 3}));

    // An offset inside the table: RGB24 goes back to it, Index8 refuses the file.
    Bytes back = BmpFile(1, 1, 8, kTable, {2, 0, 0, 0});
    test::Put32(back, 10, 54 + 4 * 4 - 4);  // the last table entry doubles as the pixels
    EXPECT_EQ(Decode(back).Rgb(), (Bytes{0, 0, 0}));  // index 255 is past the table: black
    RGBQUAD palette[256];
    const test::Decoded indexed = Decode(back, 8, reinterpret_cast<uint8_t*>(palette));
    EXPECT_EQ(indexed.pixels, nullptr);
    EXPECT_EQ(indexed.code, 6u);
}

TEST(BmpReader, SmallSixteenBitFileNeedsNoTable)
{
    const test::Decoded d = Decode(BmpFile(2, 2, 16, {}, StoredRows({{0x1F, 0, 0, 0}, {0, 0x7C, 0, 0}})));
    ASSERT_EQ(d.code, 0u);
    EXPECT_EQ(d.Rgb(), (Bytes{7, 7, 255, 7, 7, 7, 255, 7, 7, 7, 7, 7}));
}

TEST(BmpReader, IndexedAndMonochromeLayouts)
{
    const Bytes eight = BmpFile(3, 1, 8, kTable, {3, 0, 2, 0});
    RGBQUAD palette[256];
    std::memset(palette, 0xEE, sizeof palette);
    test::Decoded d = Decode(eight, 8, reinterpret_cast<uint8_t*>(palette));
    ASSERT_EQ(d.code, 0u);
    EXPECT_EQ(Bytes(d.pixels.get(), d.pixels.get() + 3), (Bytes{3, 0, 2}));
    EXPECT_EQ(palette[3].rgbBlue, 255);
    EXPECT_EQ(palette[200].rgbBlue, 0) << "entries past the table copy entry 0";

    const Bytes mono = BmpFile(10, 1, 1, {{0, 0, 0, 0}, {255, 255, 255, 0}}, {0xA5, 0xC0, 0, 0});
    d = Decode(mono, 1, reinterpret_cast<uint8_t*>(palette));
    ASSERT_EQ(d.code, 0u);
    EXPECT_EQ(GlobalSize(d.pixels.get()), 2u);
    EXPECT_EQ(Bytes(d.pixels.get(), d.pixels.get() + 2), (Bytes{0xA5, 0xC0}));
    const Bytes monoRgb = Decode(mono).Rgb();
    ASSERT_EQ(monoRgb.size(), 30u);
    EXPECT_EQ(monoRgb[3 * 9], 255) << "the last pixel of a 10-pixel row";
    d = Decode(mono, 8, reinterpret_cast<uint8_t*>(palette));
    EXPECT_EQ(Bytes(d.pixels.get(), d.pixels.get() + 10), (Bytes{1, 0, 1, 0, 0, 1, 0, 1, 1, 1}));

    struct Refusal {
        const char* what;
        Bytes file;
        uint32_t bits;
        bool palette;
        uint32_t code;
    };
    Bytes notBmp = eight;
    notBmp[1] = 'A';
    const Refusal refusals[] = {
        {"Mono1 from 8 bits", eight, 1, true, 28},
        {"Index8 from 24 bits", BmpFile(1, 1, 24, {}, {0, 0, 0, 0}), 8, true, 28},
        {"4 bits asked", eight, 4, true, 5},
        {"no palette", eight, 8, false, 5},
        {"\"BA\"", notBmp, 24, false, 6},
        {"2 bits", BmpFile(1, 1, 2, kTable, {0, 0, 0, 0}), 24, false, 6},
        {"zero width", BmpFile(0, 1, 24, {}, {0, 0, 0, 0}), 24, false, 6},
        {"header cut short", Bytes(eight.begin(), eight.begin() + 40), 24, false, 3},
    };
    for (const Refusal& r : refusals) {
        d = Decode(r.file, r.bits, r.palette ? reinterpret_cast<uint8_t*>(palette) : nullptr);
        EXPECT_EQ(d.pixels, nullptr) << r.what;
        EXPECT_EQ(d.code, r.code) << r.what;
    }
}

TEST(BmpReader, RunLengthStreams)
{
    // 4 x 3, RLE8: bottom row a run of 3 then absolute (2 pixels, no pad), middle row a delta
    // past one pixel, top row an absolute run of 3 (padded) cut at the row's end.
    const std::vector<RGBQUAD> table = {{9, 9, 9, 0}, {0, 0, 255, 0}, {0, 255, 0, 0}, {255, 0, 0, 0}};
    const Bytes rle8 = {3, 1, 0, 0,        // three reds, end of line
                        0, 2, 3, 0,        // delta to column 3
                        2, 2, 0, 0,        // two greens at column 3 are cut to one
                        0, 3, 3, 3, 3, 0,  // three blues, padded
                        0, 1};
    test::Decoded d = Decode(BmpFile(4, 3, 8, table, rle8, 1));
    ASSERT_EQ(d.code, 0u);
    const Bytes red = {255, 0, 0}, green = {0, 255, 0}, blue = {0, 0, 255}, fill = {9, 9, 9};
    auto pixel = [&](uint32_t x, uint32_t y) {
        const uint8_t* p = d.pixels.get() + (y * 4 + x) * 3;
        return Bytes(p, p + 3);
    };
    EXPECT_EQ(pixel(0, 2), red);
    EXPECT_EQ(pixel(2, 2), red);
    EXPECT_EQ(pixel(3, 2), fill) << "pixels not written keep the colour of entry 0";
    EXPECT_EQ(pixel(3, 1), green);
    EXPECT_EQ(pixel(2, 1), fill);
    EXPECT_EQ(pixel(0, 0), blue);
    EXPECT_EQ(pixel(2, 0), blue);
    EXPECT_EQ(pixel(3, 0), fill);

    // RLE4 indices, an absolute run of 3 (two bytes, so no pad); no end of bitmap: code 3.
    const Bytes rle4 = {4, 0x12, 0, 3, 0x30, 0x10};
    RGBQUAD palette[256];
    d = Decode(BmpFile(8, 1, 4, table, rle4, 2), 8, reinterpret_cast<uint8_t*>(palette));
    ASSERT_NE(d.pixels, nullptr);
    EXPECT_EQ(d.code, 3u);
    EXPECT_EQ(Bytes(d.pixels.get(), d.pixels.get() + 8), (Bytes{1, 2, 1, 2, 3, 0, 1, 0}));

    // A delta below the bottom row: nothing more is written, the end code still ends it.
    d = Decode(BmpFile(2, 2, 8, table, {0, 2, 0, 5, 2, 1, 0, 1}, 1));
    EXPECT_EQ(d.code, 0u);
    EXPECT_EQ(d.Rgb(), Bytes(12, 9));

    // Long runs and deltas far outside the picture never write past it.
    d = Decode(BmpFile(2, 2, 8, table, {255, 1, 0, 2, 255, 0, 255, 3, 0, 0, 255, 2, 0, 1}, 1));
    EXPECT_EQ(d.code, 0u);
    EXPECT_EQ(d.Rgb(), (Bytes{0, 255, 0, 0, 255, 0, 255, 0, 0, 255, 0, 0}));

    // The longest absolute run, 255 pixels and a pad byte.
    Bytes longest = {0, 255};
    for (int i = 0; i < 256; ++i)
        longest.push_back(uint8_t(i % 4));
    longest.insert(longest.end(), {0, 1});
    d = Decode(BmpFile(255, 1, 8, table, longest, 1));
    EXPECT_EQ(d.code, 0u);
    EXPECT_EQ(d.Rgb()[254 * 3 + 1], 255) << "pixel 254 has index 2, green";

    // A top-down RLE file, and RLE asked of the row reader, are refused.
    EXPECT_EQ(Decode(BmpFile(2, -2, 8, table, {0, 1}, 1)).code, 6u);
    const Bytes rle = BmpFile(2, 2, 8, table, {0, 1}, 1);
    DataChannel* source = OpenMemorySource(rle.data(), uint32_t(rle.size()));
    uint32_t width = 0, height = 0;
    EXPECT_EQ(BeginBMPRows(source, &width, &height, nullptr), nullptr);
    EXPECT_EQ(GetLastLibraryError(), 7u);
    CloseSource(source);
}

uint32_t g_calls = 0;
uint32_t StopAtSecondRow(uint32_t, uint32_t, uint32_t)
{
    return ++g_calls < 2;
}

TEST(BmpReader, CancelKeepsTheRowsRead)
{
    const Bytes file = BmpFile(1, 3, 24, {}, StoredRows({{1, 1, 1}, {2, 2, 2}, {3, 3, 3}}));
    g_calls = 0;
    SetProgressCallback(StopAtSecondRow, 0);
    const test::Decoded d = Decode(file);
    SetProgressCallback(nullptr, 0);
    ASSERT_NE(d.pixels, nullptr);
    EXPECT_EQ(d.code, 14u);
    EXPECT_EQ(d.Rgb(), (Bytes{0, 0, 0, 0, 0, 0, 3, 3, 3})) << "only the bottom row was read";
}

TEST(BmpReader, ClaimsBeyondTheFileAndTablesBeyond256AreSafe)
{
    // 30000 x 30000 claimed over four bytes of pixels, through each path that allocates.
    auto huge = [](uint32_t bits, uint32_t compression) {
        Bytes file = BmpFile(1, 1, bits, std::vector<RGBQUAD>(bits == 8 ? 2 : 0), {0, 0, 0, 1}, compression);
        test::Put32(file, 18, 30000);
        test::Put32(file, 22, 30000);
        return file;
    };
    const struct {
        const char* what;
        Bytes file;
        uint32_t bits;
    } claims[] = {
        {"24-bit", huge(24, 0), 24},
        {"RLE8", huge(8, 1), 24},
        {"8-bit into indices", huge(8, 0), 8},
    };
    RGBQUAD indices[256];
    for (const auto& c : claims) {
        test::DebugCapture debug;
        const test::Decoded d = Decode(c.file, c.bits, reinterpret_cast<uint8_t*>(indices));
        EXPECT_EQ(d.pixels, nullptr) << c.what;
        EXPECT_EQ(d.code, 3u) << c.what;
        EXPECT_NE(debug.text().find("header claims"), std::string::npos) << c.what << ": refused before allocating";
    }
    DataChannel* source = OpenMemorySource(claims[0].file.data(), uint32_t(claims[0].file.size()));
    uint32_t width = 0, height = 0;
    EXPECT_EQ(BeginBMPRows(source, &width, &height, nullptr), nullptr) << "row by row too";
    EXPECT_EQ(GetLastLibraryError(), 3u);
    CloseSource(source);

    // 300 table entries: 256 are kept, the rest skipped on the way to the pixels.
    std::vector<RGBQUAD> table(300, RGBQUAD{1, 2, 3, 0});
    RGBQUAD palette[256];
    const test::Decoded many = Decode(BmpFile(1, 1, 8, table, {255, 0, 0, 0}), 8, reinterpret_cast<uint8_t*>(palette));
    EXPECT_EQ(many.code, 0u);
    EXPECT_EQ(palette[255].rgbRed, 3);
}

// A header of 41 to 51 bytes with bit fields has no room for the masks it says it holds, and
// nothing says they follow it: refused, not read past its end (found by fuzzing).
TEST(BmpReader, BitFieldHeadersWithoutRoomForTheirMasksAreRefused)
{
    Bytes header(42, 0);
    test::Put32(header, 0, 42);
    test::Put32(header, 4, 1);
    test::Put32(header, 8, 1);
    test::Put32(header, 12, 1 | 16 << 16);  // one plane of 16 bits
    test::Put32(header, 16, 3);             // BI_BITFIELDS
    px::bmp::BitmapInfo info;
    EXPECT_EQ(px::bmp::ParseBitmapInfo(header.data(), header.size(), info), px::bmp::HeaderStatus::Bad);
}

TEST(BmpReader, CoreAndV5HeadersPlaceTheirTables)
{
    // A 12-byte core header with 3-byte table entries.
    Bytes core = {'B', 'M', 0, 0, 0, 0, 0, 0, 0, 0, 32, 0, 0, 0, 12, 0, 0, 0, 1, 0, 1, 0, 1, 0, 1, 0,
                  0, 0, 0, 10, 20, 30, 0x80, 0, 0, 0};
    EXPECT_EQ(Decode(core).Rgb(), (Bytes{30, 20, 10}));

    // A 124-byte header: the table starts after all of it.
    Bytes v5 = BmpFile(1, 1, 8, {{0, 0, 0, 0}, {10, 20, 30, 0}}, {1, 0, 0, 0});
    v5.insert(v5.begin() + 54, 124 - 40, 0);
    test::Put32(v5, 14, 124);
    test::Put32(v5, 10, 14 + 124 + 8);
    EXPECT_EQ(Decode(v5).Rgb(), (Bytes{30, 20, 10}));
}

}  // namespace

namespace {

// A clipboard bitmap saved without its file header: read only from a file named .dib, with the
// pixels right behind the header, its masks and its table.
TEST(BmpReader, HeaderlessDibFilesReadByTheirName)
{
    struct Row {
        const char* what;
        Bytes file;  // with the file header, which is cut off
        Bytes rgb;
    } rows[] = {
        {"24 bits", BmpFile(2, 1, 24, {}, StoredRows({{1, 2, 3, 4, 5, 6}})), {3, 2, 1, 6, 5, 4}},
        {"8 bits with a table", BmpFile(3, 1, 8, kTable, StoredRows({{3, 2, 1}})), {0, 0, 255, 255, 0, 0, 255, 255, 255}},
        {"bit fields", BmpFile(1, 1, 16, {}, StoredRows({{0x00, 0xF8}}), 3, {0xF800, 0x7E0, 0x1F}), {255, 3, 7}},
    };
    test::TempFolder folder;
    for (const Row& row : rows) {
        const Bytes dib(row.file.begin() + 14, row.file.end());
        for (const char* name : {"clip.DIB", "clip.bmp"}) {
            const std::string path = folder / name;
            std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(dib.data()), std::streamsize(dib.size()));
            DataChannel* source = OpenFileSource(path.c_str());
            uint32_t width = 0, height = 0;
            test::GlobalPtr<uint8_t> pixels(LoadPictureRGB24(source, PX_FILE_BMP, &width, &height));
            const uint32_t code = GetLastLibraryError();
            CloseSource(source);
            if (std::string(name) == "clip.bmp") {
                EXPECT_EQ(code, uint32_t(PX_ERR_BMP_FORMAT)) << row.what << ": only a .dib goes without its header";
                continue;
            }
            ASSERT_EQ(code, 0u) << row.what;
            ASSERT_EQ(width * height * 3, row.rgb.size()) << row.what;
            EXPECT_EQ(Bytes(pixels.get(), pixels.get() + row.rgb.size()), row.rgb) << row.what;
        }
    }
}

}  // namespace
