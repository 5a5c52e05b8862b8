// Rectangle copies: exact rectangles at any pixel size and bit offset, the bounds rule, and
// progress over every source row.
#include "pxlib.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

std::vector<uint8_t> Numbered(size_t bytes)
{
    std::vector<uint8_t> data(bytes);
    for (size_t i = 0; i < bytes; ++i)
        data[i] = static_cast<uint8_t>(i * 13 + 7);
    return data;
}

TEST(CopyRect, CopiesExactlyTheRectangleWithoutPadding)
{
    for (uint32_t bpp : {1u, 3u, 4u}) {
        SCOPED_TRACE(bpp);
        const uint32_t width = 7, height = 5, x = 2, y = 1, rw = 4, rh = 3;
        const std::vector<uint8_t> src = Numbered(size_t(width) * height * bpp);
        std::vector<uint8_t> dst(size_t(rw) * rh * bpp + 1, 0xEE);
        ASSERT_EQ(CopyRect(src.data(), width, height, dst.data(), x, y, rw, rh, bpp), 1u);
        EXPECT_EQ(GetLastLibraryError(), 0u);
        for (uint32_t row = 0; row < rh; ++row)
            for (uint32_t i = 0; i < rw * bpp; ++i)
                ASSERT_EQ(dst[row * rw * bpp + i], src[((y + row) * width + x) * bpp + i]) << row << "," << i;
        EXPECT_EQ(dst.back(), 0xEE) << "nothing written past the rectangle";
    }
    // The whole image and a single corner pixel are both inside.
    const std::vector<uint8_t> src = Numbered(6);
    std::vector<uint8_t> dst(6);
    EXPECT_EQ(CopyRect(src.data(), 2, 1, dst.data(), 0, 0, 2, 1, 3), 1u);
    EXPECT_EQ(dst, src);
    EXPECT_EQ(CopyRect(src.data(), 2, 1, dst.data(), 1, 0, 1, 1, 3), 1u);
    EXPECT_EQ(dst[0], src[3]);
}

TEST(CopyRect, RectanglesOutsideTheImageAndBadBuffersAreRefused)
{
    std::vector<uint8_t> src = Numbered(4 * 3 * 3);
    std::vector<uint8_t> dst(64, 0xEE);
    struct Case {
        const char* what;
        const uint8_t* src;
        uint8_t* dst;
        uint32_t x, y, rw, rh, bpp;
    } cases[] = {
        {"x at the width", src.data(), dst.data(), 4, 0, 0, 1, 3},
        {"y at the height", src.data(), dst.data(), 0, 3, 1, 0, 3},
        {"one column too many", src.data(), dst.data(), 1, 0, 4, 1, 3},
        {"one row too many", src.data(), dst.data(), 0, 1, 1, 3, 3},
        {"a width that wraps around", src.data(), dst.data(), 1, 0, 0xFFFFFFFF, 1, 3},
        {"a height that wraps around", src.data(), dst.data(), 0, 1, 1, 0xFFFFFFFF, 3},
        {"no source", nullptr, dst.data(), 0, 0, 1, 1, 3},
        {"no destination", src.data(), nullptr, 0, 0, 1, 1, 3},
        {"source and destination the same", src.data(), src.data(), 0, 0, 1, 1, 3},
        {"no bytes per pixel", src.data(), dst.data(), 0, 0, 1, 1, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(CopyRect(c.src, 4, 3, c.dst, c.x, c.y, c.rw, c.rh, c.bpp), 0u);
        EXPECT_EQ(GetLastLibraryError(), 5u);
    }
    EXPECT_EQ(dst, std::vector<uint8_t>(64, 0xEE));
    EXPECT_EQ(CopyRectMono1(src.data(), 16, 2, dst.data(), 9, 0, 8, 1), 0u);
    EXPECT_EQ(GetLastLibraryError(), 5u);
}

std::vector<std::pair<uint32_t, uint32_t>> g_calls;
uint32_t g_stopAt = ~0u;
uint32_t Recorder(uint32_t current, uint32_t total, uint32_t)
{
    g_calls.emplace_back(current, total);
    return current == g_stopAt ? 0 : 1;
}

TEST(CopyRect, ReportsProgressForEverySourceRowAndStopsWhenAsked)
{
    const std::vector<uint8_t> src = Numbered(3 * 6);
    std::vector<uint8_t> dst(4, 0xEE);
    g_calls.clear();
    g_stopAt = ~0u;
    SetProgressCallback(&Recorder, 0);
    ASSERT_EQ(CopyRect(src.data(), 3, 6, dst.data(), 1, 2, 2, 2, 1), 1u);
    ASSERT_EQ(g_calls.size(), 6u) << "rows outside the rectangle are walked too";
    for (uint32_t i = 0; i < 6; ++i)
        EXPECT_EQ(g_calls[i], std::make_pair(i, 6u));

    g_stopAt = 2;
    g_calls.clear();
    dst.assign(4, 0xEE);
    EXPECT_EQ(CopyRect(src.data(), 3, 6, dst.data(), 1, 2, 2, 2, 1), 0u);
    SetProgressCallback(nullptr, 0);
    EXPECT_EQ(GetLastLibraryError(), 14u);
    EXPECT_EQ(g_calls.size(), 3u);
    EXPECT_EQ(dst[0], src[2 * 3 + 1]) << "the row before the stop was copied";
    EXPECT_EQ(dst[2], 0xEE) << "the rows after it were not";
}

// One bit at a time, the plain way.
bool Bit(const std::vector<uint8_t>& rows, uint32_t stride, uint32_t x, uint32_t y)
{
    return (rows[y * stride + x / 8] >> (7 - x % 8)) & 1;
}

TEST(CopyRectMono1, CopiesBitsFromAnyOffsetAndClearsThePadding)
{
    const uint32_t width = 21, height = 3, stride = 3;
    const std::vector<uint8_t> src = Numbered(stride * height);
    for (uint32_t x = 0; x < 12; ++x)
        for (uint32_t rw : {1u, 7u, 8u, 9u}) {
            SCOPED_TRACE(testing::Message() << "x " << x << " width " << rw);
            const uint32_t dstStride = (rw + 7) / 8;
            std::vector<uint8_t> dst(dstStride * 2, 0xFF);
            ASSERT_EQ(CopyRectMono1(src.data(), width, height, dst.data(), x, 1, rw, 2), 1u);
            for (uint32_t y = 0; y < 2; ++y)
                for (uint32_t i = 0; i < dstStride * 8; ++i)
                    ASSERT_EQ(Bit(dst, dstStride, i, y), i < rw && Bit(src, stride, x + i, y + 1)) << i;
        }
}

}  // namespace
