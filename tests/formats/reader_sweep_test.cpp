// Hostile input for the BMP, PCX and TGA readers: every truncation and every single-byte flip
// of small valid files, through every entry and layout. Each call must end in a picture of the
// size it reports or in a code; the sanitizer build catches any stray access.
#include "formats/reader_files.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

namespace {

using test::Bytes;

struct Sample {
    const char* name;
    Bytes file;
};

std::vector<Sample> Samples()
{
    const std::vector<RGBQUAD> table = {{0, 0, 0, 0}, {255, 255, 255, 0}, {0, 0, 255, 0}, {255, 0, 0, 0}};
    test::TgaHeader rle24;
    rle24.type = 10;
    rle24.idLength = 2;
    test::TgaHeader mapped;
    mapped.type = 9;
    mapped.depth = 8;
    mapped.mapType = 1;
    mapped.mapFirst = 1;
    mapped.mapLength = 3;
    mapped.mapBits = 16;
    Bytes tail(769, 7);
    tail[0] = 12;
    Bytes pcx8 = {0xC3, 1, 2, 3, 0xC2, 4};
    pcx8.insert(pcx8.end(), tail.begin(), tail.end());
    return {
        {"bmp 8", test::BmpFile(3, 2, 8, table, test::StoredRows({{1, 2, 3}, {0, 3, 1}}))},
        {"bmp 1 top-down", test::BmpFile(9, -2, 1, {table[0], table[1]}, test::StoredRows({{0xA5, 0x80}, {0x5A, 0}}, true))},
        {"bmp 16 fields", test::BmpFile(2, 2, 16, {}, test::StoredRows({{1, 2, 3, 4}, {5, 6, 7, 8}}), 3, {0xF800, 0x7E0, 0x1F})},
        {"bmp rle8", test::BmpFile(4, 3, 8, table, {3, 1, 0, 0, 0, 2, 3, 0, 2, 2, 0, 0, 0, 3, 3, 3, 3, 0, 0, 1}, 1)},
        {"bmp rle4", test::BmpFile(8, 2, 4, table, {4, 0x12, 0, 3, 0x30, 0x10, 0, 0, 8, 0x33, 0, 1}, 2)},
        {"pcx 24", test::PcxFile(2, 2, 8, 3, 2, {1, 2, 0xC2, 3, 4, 5, 6, 7, 8, 9, 0xC4, 10})},
        {"pcx 4 planes", test::PcxFile(9, 1, 1, 4, 2, {0x80, 1, 0xC2, 0xC1, 0, 0, 1, 0})},
        {"pcx 256", test::PcxFile(3, 2, 8, 1, 3, pcx8)},
        {"tga rle24", test::TgaFile(3, 2, rle24, {1, 1, 2, 3, 4, 5, 6, 0x83, 7, 8, 9})},
        {"tga mapped rle", test::TgaFile(2, 2, mapped, {1, 2, 3, 4, 5, 6, 0x81, 1, 1, 3, 2})},
    };
}

// Every entry and layout that takes the file; checks each result against its code.
void ReadEveryWay(const Bytes& file, const std::string& what)
{
    DataChannel* source = OpenMemorySource(file.data(), uint32_t(file.size()));
    ASSERT_NE(source, nullptr);
    RGBQUAD palette[256];
    auto* table = reinterpret_cast<uint8_t*>(palette);
    struct Way {
        test::WholeReader read;
        uint32_t bits;
    };
    for (const Way way : {Way{ReadBMP, 24}, Way{ReadBMP, 8}, Way{ReadBMP, 1}, Way{ReadPCX, 24}, Way{ReadPCX, 8},
                          Way{ReadTGA, 24}, Way{ReadTGA, 8}}) {
        ChannelSeek(source, 0, 0);
        uint32_t width = 7, height = 7;
        test::GlobalPtr<uint8_t> pixels(way.read(source, &width, &height, way.bits, table));
        const uint32_t code = GetLastLibraryError();
        if (!pixels) {
            EXPECT_NE(code, 0u) << what << " bits " << way.bits;
            continue;
        }
        const size_t stride = way.bits == 24 ? size_t(width) * 3 : way.bits == 8 ? width : (width + 7) / 8;
        EXPECT_EQ(GlobalSize(pixels.get()), stride * height) << what << " bits " << way.bits;
    }

    for (bool indexed : {false, true}) {
        ChannelSeek(source, 0, 0);
        uint32_t width = 0, height = 0, left = 0;
        if (BMPRowReader* rows = BeginBMPRows(source, &width, &height, indexed ? table : nullptr)) {
            std::vector<uint8_t> row(size_t(width) * 3);
            while (ReadBMPRow(rows, row.data(), &left)) {
            }
            EXPECT_NE(GetLastLibraryError(), 0u) << what;
            EXPECT_EQ(EndBMPRows(rows), 1u);
        }
    }
    ChannelSeek(source, 0, 0);
    uint32_t width = 0, height = 0, number = 0;
    if (PCXRowReader* rows = BeginPCXRows(source, &width, &height)) {
        std::vector<uint8_t> row(size_t(width) * 3);
        uint32_t count = 0;
        while (ReadPCXRow(rows, row.data(), &number))
            ++count;
        EXPECT_EQ(count, height) << what;
        EXPECT_EQ(EndPCXRows(rows), 1u);
    }
    CloseSource(source);
}

TEST(ReaderSweep, SamplesDecodeCleanly)
{
    for (const Sample& s : Samples()) {
        DataChannel* source = OpenMemorySource(s.file.data(), uint32_t(s.file.size()));
        uint32_t width = 0, height = 0;
        const auto read = s.name[0] == 'b' ? ReadBMP : s.name[0] == 'p' ? ReadPCX : ReadTGA;
        test::GlobalPtr<uint8_t> pixels(read(source, &width, &height, 24, nullptr));
        EXPECT_NE(pixels, nullptr) << s.name;
        EXPECT_EQ(GetLastLibraryError(), 0u) << s.name;
        CloseSource(source);
    }
}

TEST(ReaderSweep, EveryTruncationEndsInACode)
{
    for (const Sample& s : Samples())
        for (size_t length = 1; length < s.file.size(); ++length)
            ReadEveryWay(Bytes(s.file.begin(), s.file.begin() + length), std::string(s.name) + " cut at " + std::to_string(length));
}

TEST(ReaderSweep, EverySingleByteFlipEndsInACode)
{
    for (const Sample& s : Samples()) {
        for (size_t at = 0; at < std::min<size_t>(s.file.size(), 200); ++at) {
            for (uint8_t flip : {0xFF, 0x80, 0x01}) {
                Bytes file = s.file;
                file[at] ^= flip;
                ReadEveryWay(file, std::string(s.name) + " byte " + std::to_string(at));
            }
        }
    }
}

}  // namespace
