#include "core/smooth_resize.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

namespace quillet {
namespace {

std::vector<uint8_t> Resized(const std::vector<uint8_t>& source, uint32_t width, uint32_t height, uint32_t toWidth,
                             uint32_t toHeight, bool cubic, double extentX = 0, double extentY = 0)
{
    std::vector<uint8_t> out(size_t{toWidth} * toHeight * 3, 7);
    EXPECT_TRUE(SmoothResize(source.data(), width, height, extentX ? extentX : width, extentY ? extentY : height,
                             out.data(), toWidth, toHeight, cubic));
    return out;
}

TEST(SmoothResize, ExtentOfAReducedSideIsTheStoredSideOverItsFactor)
{
    struct Row {
        uint32_t stored, loaded;
        double extent;
    } rows[] = {
        {4000, 667, 4000.0 / 6},             // area averaging by 6, last block partial
        {4000, 500, 500},                    // an exact factor
        {6001, 94, 6001.0 / 64},             // DCT 1/8 then averaging by 8: ceil(ceil(6001 / 8) / 8)
        {24000, 707, 707},                   // no whole factor gives it: a format's own scaling
        {640, 640, 640}, {100, 300, 300},    // not reduced
    };
    for (const Row& r : rows)
        EXPECT_DOUBLE_EQ(ReducedExtent(r.stored, r.loaded), r.extent) << r.stored << " -> " << r.loaded;
}

TEST(SmoothResize, FlatStaysFlatAndDetailFinerThanATargetPixelAverages)
{
    for (bool cubic : {false, true}) {
        // Flat, with a partial last block (extent under the size).
        std::vector<uint8_t> flat(size_t{301} * 211 * 3);
        for (size_t i = 0; i < flat.size(); ++i)
            flat[i] = static_cast<uint8_t>(40 + 50 * (i % 3));
        for (uint8_t v : Resized(flat, 301, 211, 160, 120, cubic, 300.4, 210.2))
            ASSERT_TRUE(v == 40 || v == 90 || v == 140) << int(v) << " cubic " << cubic;
        // A one-pixel checkerboard halved: point sampling keeps one colour, the widened
        // kernel averages both.
        std::vector<uint8_t> board(size_t{128} * 96 * 3);
        for (size_t i = 0; i < board.size(); ++i)
            board[i] = ((i / 3) % 128 + (i / 3) / 128) % 2 ? 255 : 0;
        const auto halved = Resized(board, 128, 96, 64, 48, cubic);
        for (uint32_t y = 2; y < 46; ++y)  // the edges, with taps left out, average unevenly
            for (uint32_t x = 2; x < 62; ++x)
                ASSERT_NEAR(halved[(y * 64 + x) * 3], 127.5, cubic ? 4.5 : 1.5) << "cubic " << cubic;
    }
}

TEST(SmoothResize, PixelCentresStayInPlace)
{
    // Black left half, white right half: the result is symmetric about the middle, as the
    // source is, at every ratio.
    for (bool cubic : {false, true})
        for (uint32_t width : {30u, 64u, 1000u, 2000u}) {
            std::vector<uint8_t> edge(size_t{width} * 2 * 3);
            for (uint32_t x = 0; x < width; ++x)
                for (uint32_t y = 0; y < 2; ++y)
                    for (uint32_t c = 0; c < 3; ++c)
                        edge[(y * width + x) * 3 + c] = 2 * x < width ? 0 : 255;
            const auto out = Resized(edge, width, 2, 10, 2, cubic);
            for (uint32_t x = 0; x < 10; ++x)
                EXPECT_NEAR(out[x * 3] + out[(9 - x) * 3], 255, 1) << width << " x " << x << " cubic " << cubic;
        }
}

}  // namespace
}  // namespace quillet
