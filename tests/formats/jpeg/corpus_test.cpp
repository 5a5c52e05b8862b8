// The JPEG files of the shared picture corpus: valid ones decode, the rest fail with a code.
#include "pxlib.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

struct Decoded {
    test::GlobalPtr<uint8_t> pixels;
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t code = 0;
};

Decoded Decode(const std::string& path)
{
    Decoded d;
    DataChannel* source = OpenFileSource(path.c_str());
    if (!source) {
        d.code = GetLastLibraryError();
        return d;
    }
    d.pixels.reset(ReadJPG(source, &d.width, &d.height, 24));
    d.code = GetLastLibraryError();
    CloseSource(source);
    return d;
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
        const Decoded d = Decode(m_dir + "/" + name);
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
    const Decoded huffman = Decode(m_dir + "/libjpeg-turbo/testimgint.jpg");
    const Decoded arithmetic = Decode(m_dir + "/libjpeg-turbo/testimgari.jpg");
    ASSERT_TRUE(huffman.pixels && arithmetic.pixels);
    ASSERT_EQ(huffman.width * huffman.height, arithmetic.width * arithmetic.height);
    EXPECT_EQ(std::memcmp(huffman.pixels.get(), arithmetic.pixels.get(), size_t{huffman.width} * huffman.height * 3), 0);
}

TEST_F(JpegCorpus, TwelveBitFileIsRefusedWithCode9)
{
    const Decoded d = Decode(m_dir + "/libjpeg-turbo/monkey12.jpg");
    EXPECT_EQ(d.pixels, nullptr);
    EXPECT_EQ(d.code, 9u);
}

}  // namespace
