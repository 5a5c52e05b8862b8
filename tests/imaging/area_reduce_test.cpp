// The area reducer: the size it picks for an aim, and its means against a direct average.
#include "base/frame.h"
#include "imaging/area_reduce.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using px::reduce::Factor;
using px::reduce::Reduced;

TEST(AreaReduce, TheReducedSideCoversTheAimAndStaysUnderTwiceIt)
{
    for (uint32_t source : {1u, 2u, 7u, 157u, 640u, 4000u, 60000u, 4294967295u})
        for (uint32_t aim : {1u, 2u, 3u, 100u, 639u, 640u, 641u, 4000u, 70000u}) {
            const uint32_t side = Reduced(source, Factor(source, aim));
            if (aim >= source) {
                EXPECT_EQ(side, source) << source << " for " << aim;
                continue;
            }
            EXPECT_GE(side, aim) << source << " for " << aim;
            EXPECT_LE(side, 2 * aim) << source << " for " << aim;
            // The factor is the largest that covers the aim.
            if (aim > 1) {
                EXPECT_LT(Reduced(source, Factor(source, aim) + 1), aim) << source << " for " << aim;
            }
        }
}

TEST(AreaReduce, BlockMeansInEitherRowOrderWithMissingRowsBlack)
{
    constexpr uint32_t w = 7, h = 5, fx = 3, fy = 2, rw = 3, rh = 3;
    std::vector<uint8_t> source(w * h * 3);
    for (size_t i = 0; i < source.size(); ++i)
        source[i] = uint8_t(i * 37 % 251);
    // A direct mean of every block, partial blocks over the pixels they have; row 3 left out.
    auto expected = [&](bool rowThreeMissing) {
        std::vector<uint8_t> out(rw * rh * 3);
        for (uint32_t by = 0; by < rh; ++by)
            for (uint32_t bx = 0; bx < rw; ++bx)
                for (uint32_t c = 0; c < 3; ++c) {
                    double sum = 0;
                    int count = 0;
                    for (uint32_t y = by * fy; y < std::min(h, by * fy + fy); ++y)
                        for (uint32_t x = bx * fx; x < std::min(w, bx * fx + fx); ++x, ++count)
                            sum += rowThreeMissing && y == 3 ? 0 : source[(y * w + x) * 3 + c];
                    out[(by * rw + bx) * 3 + c] = uint8_t(sum / count + 0.5);
                }
        return out;
    };
    for (const bool upward : {false, true})
        for (const bool missing : {false, true}) {
            std::vector<uint8_t> out(rw * rh * 3, 0);
            px::Entry([&] {
                px::reduce::AreaReducer reducer;
                EXPECT_TRUE(reducer.Start(w, h, fx, fy, 3, px::View::RGB24(out.data(), rw, rh)));
                for (uint32_t i = 0; i < h; ++i) {
                    const uint32_t y = upward ? h - 1 - i : i;
                    if (!(missing && y == 3))
                        reducer.Add(y, &source[y * w * 3]);
                }
                reducer.Finish();
                return 1;
            });
            EXPECT_EQ(out, expected(missing)) << (upward ? "bottom-up" : "top-down") << (missing ? ", a row missing" : "");
        }
}

// A block row wider than 32-bit running sums of 255 can count (16.8 million pixels), in RGB and in
// RGBA rows, still averages right.
TEST(AreaReduce, RowSumsOfHugeBlocksDoNotOverflow)
{
    constexpr uint32_t width = 17000000;  // 255 x width passes 2^32
    for (const uint32_t step : {3u, 4u}) {
        const std::vector<uint8_t> white(size_t{width} * step, 255);
        uint8_t pixel[3] = {};
        px::Entry([&] {
            px::reduce::AreaReducer reducer;
            EXPECT_TRUE(reducer.Start(width, 1, width, 1, 3, px::View::RGB24(pixel, 1, 1), 0, step));
            reducer.Add(0, white.data());
            reducer.Finish();
            return 1;
        });
        EXPECT_EQ(pixel[0] + pixel[1] + pixel[2], 3 * 255) << step << " bytes a pixel";
    }
}

// Pixels that come scattered (an interlaced picture's passes) are summed over the whole
// reduced grid: a block of more pixels than 32-bit sums of 255 can count still averages right.
TEST(AreaReduce, ScatteredSumsOfHugeBlocksDoNotOverflow)
{
    constexpr uint32_t side = 4200;
    const std::vector<uint8_t> white(side * 3, 255);
    uint8_t pixel[3] = {};
    px::Entry([&] {
        px::reduce::ScatteredReducer reducer;
        EXPECT_TRUE(reducer.Start(side, side, side, side, px::View::RGB24(pixel, 1, 1)));
        for (uint32_t y = 0; y < side; ++y)
            reducer.Add(y, 0, 1, white.data());
        reducer.Finish();
        return 1;
    });
    EXPECT_EQ(pixel[0] + pixel[1] + pixel[2], 3 * 255);
}

}  // namespace
