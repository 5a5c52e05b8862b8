// File type detection: the signature rows, short content, the TGA name rule, handles, and
// every picture of the shared corpus.
#include "pxlib.h"
#include "support/test_support.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

// 44 bytes of filler that matches no row, with `signature` at `offset`.
Bytes Header(const std::string& signature, size_t offset = 0, size_t size = 44)
{
    Bytes bytes(size, 0x77);
    std::copy(signature.begin(), signature.end(), bytes.begin() + offset);
    return bytes;
}

uint32_t DetectMemory(const Bytes& bytes)
{
    DataChannel* source = OpenMemorySource(bytes.data(), static_cast<uint32_t>(bytes.size()));
    EXPECT_NE(source, nullptr);
    const uint32_t code = DetectFileType(source);
    CloseSource(source);
    return code;
}

fs::path WriteTemp(const std::string& name, const Bytes& bytes)
{
    const fs::path dir = fs::temp_directory_path() / ("quillet_detect_" + std::to_string(::getpid()));
    fs::create_directories(dir);
    const fs::path path = dir / name;
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    return path;
}

uint32_t DetectFile(const fs::path& path)
{
    DataChannel* source = OpenFileSource(path.c_str());
    EXPECT_NE(source, nullptr) << path;
    if (!source)
        return ~0u;
    const uint32_t code = DetectFileType(source);
    CloseSource(source);
    return code;
}

struct Row {
    const char* description;
    Bytes header;
    uint32_t code;
};

TEST(DetectFileType, SignatureRows)
{
    using namespace std::string_literals;
    Bytes emf = Header("\x01\x00\x00\x00"s);
    std::copy_n(" EMF", 4, emf.begin() + 40);
    const Row rows[] = {
        {"BMP", Header("BM"), 1},
        {"PAX", Header("PAX"), 9},
        {"GIF89a", Header("GIF89a"), 2},
        {"GIF87a", Header("GIF87a"), 2},
        {"GIF of another version", Header("GIF88a"), 0},
        {"JFIF JPEG", Header("\xFF\xD8\xFF\xE0"s), 3},
        {"EXIF JPEG by the three-byte row", Header("\xFF\xD8\xFF\xE1"s), 3},
        {"PCX version 0", Header("\x0A\x00"s), 5},
        {"PCX version 2", Header("\x0A\x02"s), 5},
        {"PCX version 3", Header("\x0A\x03"s), 5},
        {"PCX version 5", Header("\x0A\x05"s), 5},
        {"PCX version 1 is no row", Header("\x0A\x01"s), 0},
        {"TIFF big-endian", Header("MM\x00\x2A"s), 6},
        {"TIFF little-endian", Header("II\x2A\x00"s), 6},
        {"PNG", Header("\x89PNG\r\n\x1A\n"s), 4},
        {"PNG with a damaged signature", Header("\x89PNG\r\n\x1A\x0B"s), 0},
        {"WMF", Header("\x01\x00\x09\x00\x00"s), 7},
        {"placeable WMF", Header("\xD7\xCD\xC6\x9A"s), 7},
        {"EMF by its mark at byte 40", emf, 8},
        {"PSD", Header("8BPS"), 10},
        {"TLA 1", Header("TLA\x01"s), 11},
        {"TLAU", Header("TLAU"), 12},
        {"two zero bytes in memory", Header("\x00\x00"s), 13},
        {"HEIC", Header("\x00\x00\x00\x18" "ftypheic\x00\x00\x00\x00" "mif1heic"s), 15},
        {"HEIF under the mif1 brand", Header("\x00\x00\x00\x10" "ftypmif1\x00\x00\x00\x00"s), 15},
        {"AVIF", Header("\x00\x00\x00\x1C" "ftypavif\x00\x00\x00\x00" "avifmif1miaf"s), 16},
        {"AVIF among mif1's compatible brands", Header("\x00\x00\x00\x18" "ftypmif1\x00\x00\x00\x00" "avifmiaf"s), 16},
        {"MP4 video opens with two zero bytes, no HEIF brand", Header("\x00\x00\x00\x18" "ftypisom\x00\x00\x02\x00" "isomiso2"s), 13},
        {"WebP", Header("RIFF\x24\x00\x00\x00WEBPVP8 "s), 17},
        {"WAV is RIFF but no WebP", Header("RIFF\x24\x00\x00\x00WAVEfmt "s), 0},
        {"nothing known", Header(""), 0},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(DetectMemory(row.header), row.code) << row.description;
        EXPECT_EQ(GetLastLibraryError(), 0u) << row.description;
    }
}

TEST(DetectFileType, ShortContentIsNeverRecognised)
{
    EXPECT_EQ(DetectMemory(Header("BM", 0, 43)), 0u);
    EXPECT_EQ(GetLastLibraryError(), 3u);
    EXPECT_EQ(DetectMemory(Header("BM", 0, 44)), 1u);
    EXPECT_EQ(GetLastLibraryError(), 0u);  // success clears the earlier code
}

TEST(DetectFileType, LeavesTheChannelAfterTheHeader)
{
    const Bytes bytes = Header("II", 0, 100);
    DataChannel* source = OpenMemorySource(bytes.data(), 100);
    ASSERT_NE(source, nullptr);
    EXPECT_EQ(DetectFileType(source), 6u);
    EXPECT_EQ(ChannelTell(source), 44u);
    CloseSource(source);
}

TEST(DetectFileType, RefusesMissingAndForeignHandles)
{
    EXPECT_EQ(DetectFileType(nullptr), 0u);
    EXPECT_EQ(GetLastLibraryError(), 5u);
    uint8_t notAChannel[512] = {};
    EXPECT_EQ(DetectFileType(reinterpret_cast<DataChannel*>(notAChannel)), 0u);
    EXPECT_EQ(GetLastLibraryError(), 38u);
}

TEST(DetectFileType, TwoZeroBytesAreTgaOnlyByAFileNamedSo)
{
    using namespace std::string_literals;
    const Bytes zeros = Header("\x00\x00"s);
    EXPECT_EQ(DetectFile(WriteTemp("picture.tga", zeros)), 14u);
    EXPECT_EQ(DetectFile(WriteTemp("PICTURE.TgA", zeros)), 14u);
    EXPECT_EQ(DetectFile(WriteTemp("picture.wbmp", zeros)), 13u);
    EXPECT_EQ(DetectFile(WriteTemp("picture.tga.bak", zeros)), 13u);
    EXPECT_EQ(DetectFile(WriteTemp("tga", zeros)), 13u);
    // The name decides nothing for content that matches another row, or none.
    EXPECT_EQ(DetectFile(WriteTemp("bitmap.tga", Header("BM"))), 1u);
    EXPECT_EQ(DetectFile(WriteTemp("other.tga", Header("\x01\x02"s))), 0u);
    EXPECT_EQ(DetectFile(WriteTemp("short.tga", Header("\x00\x00"s, 0, 20))), 0u);
    fs::remove_all(fs::temp_directory_path() / ("quillet_detect_" + std::to_string(::getpid())));
}

// The code a file of the corpus must give, from its content-detected format; -1 where
// the table says nothing certain (PNM, SVG, G3 and the like are no row).
int ExpectedCode(const std::string& format, const fs::path& path)
{
    static const std::map<std::string, int> kCodes = {
        {"bmp", 1},  {"jpeg", 3}, {"png", 4}, {"tiff", 6}, {"wmf-placeable", 7},
        {"emf", 8},  {"psd", 10}, {"psb", 10}, {"bmp-os2array", 0},
    };
    if (fs::file_size(path) < 44)
        return 0;
    if (format == "tga") {
        // TGA has no signature: a name ending ".tga" helps only content opening with two zero bytes.
        std::ifstream in(path, std::ios::binary);
        char first[2] = {1, 1};
        in.read(first, 2);
        return first[0] == 0 && first[1] == 0 ? 14 : -1;
    }
    const auto found = kCodes.find(format);
    return found == kCodes.end() ? -1 : found->second;
}

TEST(DetectFileType, EveryCorpusPictureByItsContent)
{
    const std::string corpus = test::CorpusDir();
    if (corpus.empty())
        GTEST_SKIP() << "no shared corpus";
    std::ifstream table(fs::path(corpus) / "reference.tsv");
    ASSERT_TRUE(table) << "reference.tsv missing";
    std::string line;
    std::getline(table, line);  // column names
    size_t checked = 0;
    while (std::getline(table, line)) {
        std::istringstream fields(line);
        std::string relative, format;
        std::getline(fields, relative, '\t');
        std::getline(fields, format, '\t');
        const fs::path path = fs::path(corpus) / relative;
        if (!fs::is_regular_file(path))
            continue;
        const int expected = ExpectedCode(format, path);
        if (expected < 0)
            continue;
        EXPECT_EQ(DetectFile(path), static_cast<uint32_t>(expected)) << relative << " (" << format << ")";
        ++checked;
    }
    EXPECT_GT(checked, 800u);
}

}  // namespace
