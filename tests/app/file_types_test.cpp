// The application's file types: the extension table and content before extension.
#include "core/file_types.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace quillet {
namespace {

namespace fs = std::filesystem;

TEST(TypeFromExtension, TableRowsInAnyLetterCase)
{
    struct Row {
        const char* path;
        int32_t type;
    };
    const Row rows[] = {
        {"a.bmp", TypeBmp},          {"a.GIF", TypeGif},          {"photo.JpG", TypeJpeg},
        {"photo.jpeg", TypeJpeg},    {"a.png", TypePng},          {"a.pcx", TypePcx},
        {"a.tif", TypeTiff},         {"a.TIFF", TypeTiff},        {"a.wmf", TypeWmf},
        {"a.emf", TypeEmf},          {"a.pax", TypePax},          {"a.psd", TypePsd},
        {"a.tga", TypeTga},          {"/d.jpg/a.bmp.png", TypePng}, {"no extension", TypeNone},
        {"a.", TypeNone},            {"a.jpe", TypeNone},         {"a.jpg ", TypeNone},
        {"/photos.jpg/picture", TypeNone}, {"", TypeNone},
    };
    for (const Row& row : rows)
        EXPECT_EQ(TypeFromExtension(row.path), row.type) << '"' << row.path << '"';
}

class FileTypes : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_dir = fs::temp_directory_path() / ("quillet_types_" + std::to_string(::getpid()));
        fs::create_directories(m_dir);
    }
    void TearDown() override { fs::remove_all(m_dir); }

    // A 64-byte file starting with `start`.
    std::string Write(const std::string& name, const std::string& start, size_t size = 64)
    {
        std::string bytes(size, '\x77');
        bytes.replace(0, start.size(), start);
        const fs::path path = m_dir / name;
        std::ofstream(path, std::ios::binary) << bytes;
        return path.string();
    }

    fs::path m_dir;
};

TEST_F(FileTypes, ContentMapsThroughTheTable)
{
    using namespace std::string_literals;
    EXPECT_EQ(TypeFromContent(Write("a.jpg", "BM")), TypeBmp);
    EXPECT_EQ(TypeFromContent(Write("b.jpg", "\xFF\xD8\xFF\xE1"s)), TypeJpeg);
    EXPECT_EQ(TypeFromContent(Write("c.jpg", "GIF89a")), TypeGif);
    EXPECT_EQ(TypeFromContent(Write("d.jpg", "8BPS")), TypePsd);
    EXPECT_EQ(TypeFromContent(Write("e.jpg", "\xD7\xCD\xC6\x9A"s)), TypeWmf);
    // Kinds the application has no type for, and TGA, which detection reports but the
    // table never maps.
    EXPECT_EQ(TypeFromContent(Write("f.jpg", "TLAU")), TypeNone);
    EXPECT_EQ(TypeFromContent(Write("g.wbmp", "\x00\x00"s)), TypeNone);
    EXPECT_EQ(TypeFromContent(Write("h.tga", "\x00\x00"s)), TypeNone);
    EXPECT_EQ(TypeFromContent(Write("short.png", "\x89PNG\r\n\x1A\n"s, 43)), TypeNone);
    EXPECT_EQ(TypeFromContent((m_dir / "missing.jpg").string()), TypeNone);
}

TEST_F(FileTypes, ContentFirstThenExtension)
{
    using namespace std::string_literals;
    EXPECT_EQ(InputFileType(Write("photo.jpg", "\x89PNG\r\n\x1A\n"s)), TypePng);
    EXPECT_EQ(InputFileType(Write("picture.tga", "\x00\x00"s)), TypeTga);
    EXPECT_EQ(InputFileType(Write("tiny.PCX", "\x0A\x05"s, 10)), TypePcx);
    EXPECT_EQ(InputFileType(Write("unknown.jpg", "????")), TypeJpeg);
    EXPECT_EQ(InputFileType(Write("unknown", "????")), TypeNone);
}

}  // namespace
}  // namespace quillet
