// Hostile input for the BMP, PCX and TGA readers: every truncation and single-byte flips of the
// shared small samples, through every entry and layout. Each call must end in a picture of the
// size it reports or in a code; the sanitizer build catches any stray access.
#include "formats/hostile_samples.h"
#include "formats/reader_files.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

namespace {

using test::Bytes;

struct Sample {
    std::string name;
    uint32_t fileType;
    Bytes file;
};

// The BMP, PCX and TGA files of the hostile-input samples.
std::vector<Sample> Samples()
{
    std::vector<Sample> samples;
    for (const test::HostileSample& s : test::HostileSamples())
        if (s.fileType == PX_FILE_BMP || s.fileType == PX_FILE_PCX || s.fileType == PX_FILE_TGA)
            samples.push_back({s.name, s.fileType, s.make()});
    return samples;
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
        const auto read = s.fileType == PX_FILE_BMP ? ReadBMP : s.fileType == PX_FILE_PCX ? ReadPCX : ReadTGA;
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
            ReadEveryWay(Bytes(s.file.begin(), s.file.begin() + length), s.name + " cut at " + std::to_string(length));
}

TEST(ReaderSweep, EverySingleByteFlipEndsInACode)
{
    for (const Sample& s : Samples()) {
        for (size_t at = 0; at < std::min<size_t>(s.file.size(), 200); ++at) {
            for (uint8_t flip : {0xFF, 0x80, 0x01}) {
                Bytes file = s.file;
                file[at] ^= flip;
                ReadEveryWay(file, s.name + " byte " + std::to_string(at));
            }
        }
    }
}

}  // namespace
