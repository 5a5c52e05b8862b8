// OrientRGB24: the eight orientations on a labelled picture, round trips across tiles, refusals.
#include "base/frame.h"
#include "base/view.h"
#include "imaging/orientation.h"
#include "pxlib.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

// A picture whose pixels are letters, so that a result reads as rows of text.
std::vector<uint8_t> Letters(const std::string& text)
{
    std::vector<uint8_t> rgb;
    for (char c : text)
        rgb.insert(rgb.end(), {static_cast<uint8_t>(c), 0, static_cast<uint8_t>(c)});
    return rgb;
}

std::string Text(const std::vector<uint8_t>& rgb, uint32_t width)
{
    std::string text;
    for (size_t i = 0; i < rgb.size(); i += 3) {
        if (i > 0 && (i / 3) % width == 0)
            text += '/';
        text += static_cast<char>(rgb[i]);
    }
    return text;
}

struct Row {
    uint32_t orientation;
    const char* upright;  // the stored picture ABC/DEF as a viewer shows it
    const char* what;
};

constexpr Row kRows[] = {
    {1, "ABC/DEF", "as stored"},
    {2, "CBA/FED", "mirrored left to right"},
    {3, "FED/CBA", "half turn"},
    {4, "DEF/ABC", "mirrored top to bottom"},
    {5, "AD/BE/CF", "transposed"},
    {6, "DA/EB/FC", "quarter turn clockwise"},
    {7, "FC/EB/DA", "transversed"},
    {8, "CF/BE/AD", "quarter turn anticlockwise"},
};

TEST(OrientRGB24, EveryOrientationComesOutUpright)
{
    const std::vector<uint8_t> stored = Letters("ABCDEF");
    for (const Row& row : kRows) {
        std::vector<uint8_t> out(stored.size());
        ASSERT_EQ(OrientRGB24(stored.data(), 3, 2, out.data(), row.orientation), 1u) << row.what;
        EXPECT_EQ(Text(out, row.orientation >= 5 ? 2 : 3), row.upright) << row.what;
    }
}

TEST(OrientRGB24, InverseTurnRestoresPicturesLargerThanATile)
{
    const uint32_t w = 131, h = 70;
    std::vector<uint8_t> picture(w * h * 3);
    for (size_t i = 0; i < picture.size(); ++i)
        picture[i] = static_cast<uint8_t>(i * 2654435761u >> 24);
    const uint32_t inverse[9] = {0, 1, 2, 3, 4, 5, 8, 7, 6};
    for (uint32_t o = 1; o <= 8; ++o) {
        std::vector<uint8_t> once(picture.size()), back(picture.size());
        ASSERT_EQ(OrientRGB24(picture.data(), w, h, once.data(), o), 1u);
        const bool turned = o >= 5;
        ASSERT_EQ(OrientRGB24(once.data(), turned ? h : w, turned ? w : h, back.data(), inverse[o]), 1u);
        EXPECT_EQ(back, picture) << "orientation " << o;
    }
}

TEST(OrientRGB24, RefusesBadArgumentsWithCode5)
{
    std::vector<uint8_t> a(12), b(12);
    uint8_t apart[12];  // on the stack, far from `a`: only the size check can refuse the 2 GB picture
    const struct {
        const uint8_t* source;
        uint32_t width;
        uint8_t* destination;
        uint32_t orientation;
        const char* what;
    } cases[] = {
        {nullptr, 2, b.data(), 1, "no source"},       {a.data(), 2, nullptr, 6, "no destination"},
        {a.data(), 0, b.data(), 6, "zero width"},     {a.data(), 2, b.data(), 0, "orientation 0"},
        {a.data(), 2, b.data(), 9, "orientation 9"},  {a.data(), 2, a.data() + 3, 6, "overlap"},
        {a.data(), 357913942, apart, 6, "2 GB"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(OrientRGB24(c.source, c.width, 2, c.destination, c.orientation), 0u) << c.what;
        EXPECT_EQ(GetLastLibraryError(), 5u) << c.what;
    }
}

// Views with padded rows (a window of a larger picture into one of another) turn like the
// dense picture and leave the padding alone.
TEST(OrientRGB24, PaddedRowsTurnLikeDenseOnes)
{
    const uint32_t width = 70, height = 5, pad = 5;  // wider than a tile
    std::vector<uint8_t> dense(width * height * 3);
    for (size_t i = 0; i < dense.size(); ++i)
        dense[i] = static_cast<uint8_t>(i * 7 + i / 3);
    std::vector<uint8_t> padded((width * 3 + pad) * height, 0);
    for (uint32_t y = 0; y < height; ++y)
        std::copy_n(dense.begin() + y * width * 3, width * 3, padded.begin() + y * (width * 3 + pad));
    for (uint32_t orientation = 1; orientation <= 8; ++orientation) {
        std::vector<uint8_t> expected(dense.size());
        ASSERT_EQ(OrientRGB24(dense.data(), width, height, expected.data(), orientation), 1u);
        const bool turned = orientation >= 5;
        const uint32_t outWidth = turned ? height : width, outHeight = turned ? width : height;
        const size_t outStride = outWidth * 3 + pad;
        std::vector<uint8_t> out(outStride * outHeight, 0xA5);
        const px::ConstView source{padded.data(), width, height, width * 3 + pad, px::Layout::RGB24, 3};
        const px::View destination{out.data(), outWidth, outHeight, outStride, px::Layout::RGB24, 3};
        ASSERT_EQ(px::Entry([&] { return px::orient::Orient(source, destination, orientation); }), 1u);
        for (uint32_t y = 0; y < outHeight; ++y) {
            const auto at = out.begin() + y * outStride;
            EXPECT_TRUE(std::equal(at, at + outWidth * 3, expected.begin() + y * outWidth * 3))
                << "orientation " << orientation << " row " << y;
            EXPECT_EQ(std::count(at + outWidth * 3, at + outStride, 0xA5), pad);
        }
    }
}

}  // namespace
