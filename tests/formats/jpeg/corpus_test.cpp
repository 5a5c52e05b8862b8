// The JPEG files of the shared picture corpus: valid ones decode, the rest fail with a code.
#include "pxlib.h"
#include "formats/reader_support.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

test::Decoded Decode(const std::string& path)
{
    return test::DecodeFile(path, [](DataChannel* source, uint32_t* width, uint32_t* height, uint8_t*) {
        return ReadJPG(source, width, height, 24);
    });
}

class JpegCorpus : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_dir = test::CorpusDir();
        if (m_dir.empty())
            GTEST_SKIP() << "shared picture corpus not present";
    }
    std::string m_dir;
};

TEST_F(JpegCorpus, ValidFilesDecodeAtTheirSize)
{
    for (const char* name : {"libjpeg-turbo/testorig.jpg", "libjpeg-turbo/testimgint.jpg",
                             "libjpeg-turbo/testimgari.jpg", "bmpsuite/html/rgb24.jpg"}) {
        const test::Decoded d = Decode(m_dir + "/" + name);
        ASSERT_NE(d.pixels, nullptr) << name;
        EXPECT_EQ(d.code, 0u) << name;
        if (std::strstr(name, "rgb24"))
            EXPECT_EQ(d.width, 127u);
        else
            EXPECT_EQ(d.width, 227u) << name;
    }
}

TEST_F(JpegCorpus, ArithmeticAndHuffmanCodingOfOnePictureDecodeAlike)
{
    const test::Decoded huffman = Decode(m_dir + "/libjpeg-turbo/testimgint.jpg");
    const test::Decoded arithmetic = Decode(m_dir + "/libjpeg-turbo/testimgari.jpg");
    ASSERT_TRUE(huffman.pixels && arithmetic.pixels);
    ASSERT_EQ(huffman.width * huffman.height, arithmetic.width * arithmetic.height);
    EXPECT_EQ(std::memcmp(huffman.pixels.get(), arithmetic.pixels.get(), size_t{huffman.width} * huffman.height * 3), 0);
}

TEST_F(JpegCorpus, TwelveBitFileIsRefusedWithCode9)
{
    const test::Decoded d = Decode(m_dir + "/libjpeg-turbo/monkey12.jpg");
    EXPECT_EQ(d.pixels, nullptr);
    EXPECT_EQ(d.code, 9u);
}

}  // namespace
