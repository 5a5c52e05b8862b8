// Operations on views with padded rows (windows of larger pictures): the same pixels as on a
// dense picture, and the padding left as it was.
#include "base/frame.h"
#include "base/view.h"
#include "imaging/crop_boost.h"
#include "imaging/filters.h"
#include "imaging/rect_copy.h"
#include "pxlib.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;
constexpr uint32_t kPad = 5;
constexpr uint8_t kPadByte = 0xA5;

// A dense RGB24 picture laid out with kPad bytes after each row.
struct Padded {
    Bytes bytes;
    uint32_t width, height;
    size_t stride;

    Padded(const Bytes& dense, uint32_t w, uint32_t h)
        : bytes((w * 3 + kPad) * size_t{h}, kPadByte), width(w), height(h), stride(w * 3 + kPad)
    {
        for (uint32_t y = 0; y < h; ++y)
            std::copy_n(dense.begin() + y * w * 3, w * 3, bytes.begin() + y * stride);
    }
    px::View view() { return {bytes.data(), width, height, stride, px::Layout::RGB24, 3}; }

    // The pixels equal `dense` and every padding byte is still kPadByte.
    void Expect(const Bytes& dense, const char* what) const
    {
        for (uint32_t y = 0; y < height; ++y) {
            const auto at = bytes.begin() + y * stride;
            EXPECT_TRUE(std::equal(at, at + width * 3, dense.begin() + y * width * 3)) << what << " row " << y;
            EXPECT_EQ(std::count(at + width * 3, at + stride, kPadByte), kPad) << what << " row " << y;
        }
    }
};

TEST(PaddedViews, OperationsGiveTheDenseResult)
{
    const uint32_t w = 23, h = 11, cw = 9, ch = 6;
    const Bytes picture = test::RandomBytes(w * h * 3, 7);
    using Dense = std::function<uint32_t(Bytes& out)>;
    using OnViews = std::function<uint32_t(const px::ConstView& in, const px::View& out)>;
    const struct {
        const char* what;
        uint32_t outWidth, outHeight;
        Dense dense;
        OnViews views;
    } rows[] = {
        {"sharpen", w, h, [&](Bytes& out) { return SharpenRGB24(picture.data(), w, h, out.data(), 40); },
         [](auto& in, auto& out) { return px::filters::Filter3x3(in, out, 40, px::filters::Rule::Sharpen); }},
        {"soften", w, h, [&](Bytes& out) { return SoftenRGB24(picture.data(), w, h, out.data(), 60); },
         [](auto& in, auto& out) { return px::filters::Filter3x3(in, out, 60, px::filters::Rule::Soften); }},
        {"median", w, h, [&](Bytes& out) { return MedianRGB24(picture.data(), w, h, out.data()); },
         [](auto& in, auto& out) { return px::filters::Filter3x3(in, out, 0, px::filters::Rule::Median); }},
        {"crop across the edge", cw, ch,
         [&](Bytes& out) { return CropRGB24(picture.data(), w, h, out.data(), 17, -2, cw, ch); },
         [](auto& in, auto& out) { return px::finish::Crop(in, out, 17, -2); }},
        {"rectangle copy", cw, ch,
         [&](Bytes& out) { return CopyRect(picture.data(), w, h, out.data(), 3, 4, cw, ch, 3); },
         [](auto& in, auto& out) { return px::rect::Copy(in, out, 3, 4); }},
    };
    for (const auto& row : rows) {
        Bytes expected(row.outWidth * row.outHeight * 3);
        ASSERT_EQ(row.dense(expected), 1u) << row.what;
        Padded in(picture, w, h);
        Padded out(Bytes(expected.size(), 0), row.outWidth, row.outHeight);
        ASSERT_EQ(px::Entry([&] { return row.views(in.view(), out.view()); }), 1u) << row.what;
        out.Expect(expected, row.what);
        in.Expect(picture, row.what);
    }

    Bytes boosted = picture;
    ASSERT_EQ(BoostColorRGB24(boosted.data(), w, h), 1u);
    Padded inPlace(picture, w, h);
    ASSERT_EQ(px::Entry([&] { return px::finish::BoostColor(inPlace.view()); }), 1u);
    inPlace.Expect(boosted, "boost");
}

}  // namespace
