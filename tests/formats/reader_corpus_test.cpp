// The BMP and TGA files of the shared corpus, as its reference table lists them: valid files
// decode at their size and, where a reference picture exists, to its colours; broken and
// questionable ones decode or end in a code.
#include "pxlib.h"
#include "support/test_support.h"

#include <gtest/gtest.h>
#include <png.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct Row {
    std::string path;
    std::string format;
    uint32_t width = 0;
    uint32_t height = 0;
    std::string role;
    std::string reference;
};

std::vector<Row> ReaderRows(const std::string& dir)
{
    std::vector<Row> rows;
    std::ifstream table(dir + "/reference.tsv");
    std::string line;
    std::getline(table, line);
    while (std::getline(table, line)) {
        std::vector<std::string> f;
        std::stringstream fields(line);
        for (std::string field; std::getline(fields, field, '\t');)
            f.push_back(field);
        if (f.size() < 15 || (f[1].rfind("bmp", 0) != 0 && f[1] != "tga" && f[1] != "pcx"))
            continue;
        rows.push_back({f[0], f[1], uint32_t(std::atoi(f[2].c_str())), uint32_t(std::atoi(f[3].c_str())), f[7], f[14]});
    }
    return rows;
}

// RGBA pixels of a PNG file, empty when it cannot be read.
std::vector<uint8_t> ReadPng(const std::string& path, uint32_t& width, uint32_t& height)
{
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str()))
        return {};
    image.format = PNG_FORMAT_RGBA;
    std::vector<uint8_t> pixels(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr))
        return {};
    width = image.width;
    height = image.height;
    return pixels;
}

// 16-bit values are widened by filling (BMP) or clearing (TGA) the low bits, where a reference
// scales them: 5-bit components differ by up to 7, the 4-bit ones of BMP bit fields by 15.
int Tolerance(const std::vector<uint8_t>& file, const std::string& format)
{
    if (format == "tga")
        return file.size() > 16 && (file[16] == 15 || file[16] == 16 || file[7] == 15 || file[7] == 16) ? 7 : 0;
    return file.size() > 28 && file[28] == 16 ? 15 : 0;
}

class ReaderCorpus : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_dir = test::CorpusDir();
        if (m_dir.empty())
            GTEST_SKIP() << "shared picture corpus not present";
    }
    std::string m_dir;
};

TEST_F(ReaderCorpus, EveryFileDecodesOrEndsInACode)
{
    const std::vector<Row> rows = ReaderRows(m_dir);
    ASSERT_GT(rows.size(), 300u);
    size_t compared = 0;
    for (const Row& row : rows) {
        const std::string path = m_dir + "/" + row.path;
        std::ifstream in(path, std::ios::binary);
        const std::vector<uint8_t> file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        DataChannel* source = OpenMemorySource(file.data(), uint32_t(file.size()));
        ASSERT_NE(source, nullptr) << row.path;
        uint32_t width = 0, height = 0;
        auto read = row.format == "tga" ? ReadTGA : row.format == "pcx" ? ReadPCX : ReadBMP;
        test::GlobalPtr<uint8_t> pixels(read(source, &width, &height, 24, nullptr));
        const uint32_t code = GetLastLibraryError();
        CloseSource(source);

        if (row.role != "sample") {
            EXPECT_TRUE(pixels || code != 0) << row.path << " failed without a code";
            continue;
        }
        ASSERT_NE(pixels, nullptr) << row.path << " code " << code;
        EXPECT_EQ(code, 0u) << row.path;
        EXPECT_EQ(width, row.width) << row.path;
        EXPECT_EQ(height, row.height) << row.path;
        if (row.reference.size() < 4 || row.reference.substr(row.reference.size() - 4) != ".png")
            continue;
        uint32_t refWidth = 0, refHeight = 0;
        const std::vector<uint8_t> reference = ReadPng(m_dir + "/" + row.reference, refWidth, refHeight);
        ASSERT_EQ(refWidth * refHeight, width * height) << row.reference;
        const int tolerance = Tolerance(file, row.format);
        int worst = 0;
        for (size_t i = 0; i < size_t(width) * height; ++i) {
            if (reference[4 * i + 3] != 255)
                continue;  // under transparency the colour is anyone's
            for (int c = 0; c < 3; ++c)
                worst = std::max(worst, std::abs(int(pixels.get()[3 * i + c]) - reference[4 * i + c]));
        }
        EXPECT_LE(worst, tolerance) << row.path;
        ++compared;
    }
    EXPECT_GT(compared, 50u);
}

}  // namespace
