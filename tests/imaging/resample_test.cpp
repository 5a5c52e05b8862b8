// Resampling: worked examples, arguments, progress stops, and a byte-for-byte comparison with
// a plain per-byte transcription of both methods.
#include "base/frame.h"
#include "imaging/resample.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

// ---- The plain transcription: no tables, no caching, one destination byte at a time.
namespace plain {

double Position(uint32_t i, uint32_t sourceSize, uint32_t destinationSize)
{
    const double ratio = static_cast<double>(sourceSize) / static_cast<double>(destinationSize);
    double s = i * ratio;
    if (s > sourceSize - 1.0)
        s = sourceSize - 1.0;
    if (s < 0)
        s = 0;
    return s;
}

Bytes Bilinear(const Bytes& src, uint32_t sw, uint32_t sh, uint32_t dw, uint32_t dh,
               uint32_t bpp)
{
    Bytes dst(size_t{dw} * dh * bpp);
    std::vector<double> work(2 * size_t{dw} * bpp);
    for (uint32_t y = 0; y < dh; ++y) {
        const double sy = Position(y, sh, dh);
        const uint32_t y0 = static_cast<uint32_t>(sy);
        const uint32_t y1 = std::min(y0 + 1, sh - 1);
        for (int r = 0; r < 2; ++r) {
            const uint8_t* row = &src[size_t{r == 0 ? y0 : y1} * sw * bpp];
            for (uint32_t x = 0; x < dw; ++x) {
                const double sx = Position(x, sw, dw);
                const uint32_t x0 = static_cast<uint32_t>(sx);
                const uint32_t x1 = std::min(x0 + 1, sw - 1);
                for (uint32_t c = 0; c < bpp; ++c)
                    work[(r * size_t{dw} + x) * bpp + c] =
                        row[x0 * bpp + c] * ((x0 + 1) - sx) + row[x1 * bpp + c] * (sx - x0);
            }
        }
        for (size_t i = 0; i < size_t{dw} * bpp; ++i) {
            const double a0 = work[i], a1 = work[size_t{dw} * bpp + i];
            dst[size_t{y} * dw * bpp + i] =
                static_cast<uint8_t>(static_cast<int>(a0 * ((y0 + 1) - sy) + a1 * (sy - y0)));
        }
    }
    return dst;
}

void Indices(double s, uint32_t size, int64_t (&r)[4])
{
    const int64_t n = size, whole = static_cast<int64_t>(s);
    r[0] = s >= 1.0 ? whole - 1 : 0;
    r[1] = s < n - 1 ? whole : n - 1;
    r[2] = s < n - 2 ? whole + 1 : r[1];
    r[3] = s < n - 3 ? whole + 2 : r[2];
}

void Weights(double t, double (&w)[4])
{
    w[0] = -t * (1 - t) * (1 - t);
    w[1] = 1 - 2 * t * t + t * t * t;
    w[2] = (1 + t - t * t) * t;
    w[3] = -t * t * (1 - t);
}

Bytes Bicubic(const Bytes& src, uint32_t sw, uint32_t sh, uint32_t dw, uint32_t dh,
              uint32_t bpp)
{
    Bytes dst;
    for (uint32_t y = 0; y < dh; ++y) {
        const double sy = Position(y, sh, dh);
        int64_t r[4];
        Indices(sy, sh, r);
        for (uint32_t x = 0; x < dw; ++x) {
            const double sx = Position(x, sw, dw);
            int64_t c[4];
            Indices(sx, sw, c);
            for (uint32_t k = 0; k < bpp; ++k) {
                double w[4], s[4], h[4];
                Weights(sx - static_cast<int64_t>(sx), w);
                auto p = [&](int64_t row, int64_t col) { return src[(row * sw + col) * bpp + k]; };
                for (int i = 0; i < 4; ++i)
                    h[i] = w[0] * p(r[i], c[0]) + w[1] * p(r[i], c[1]) + w[2] * p(r[i], c[2]) +
                           w[3] * p(r[i], c[3]);
                Weights(sy - static_cast<int64_t>(sy), s);
                const double value = s[0] * h[0] + s[1] * h[1] + s[2] * h[2] + s[3] * h[3];
                const int rounded = static_cast<int>(value + 0.5);
                dst.push_back(static_cast<uint8_t>(std::clamp(rounded, 0, 255)));
            }
        }
    }
    return dst;
}

}  // namespace plain

using Entry = uint32_t (*)(const uint8_t*, uint32_t, uint32_t, uint8_t*, uint32_t, uint32_t,
                           uint32_t);

Bytes Resampled(Entry entry, const Bytes& src, uint32_t sw, uint32_t sh, uint32_t dw, uint32_t dh,
          uint32_t bpp)
{
    Bytes dst(size_t{dw} * dh * bpp, 0xA5);
    EXPECT_EQ(entry(src.data(), sw, sh, dst.data(), dw, dh, bpp), 1u);
    EXPECT_EQ(GetLastLibraryError(), 0u);
    return dst;
}

TEST(Resample, BilinearTwoPixelsToFourTruncatesAndRepeatsTheEdge)
{
    const Bytes src = {0, 255};
    EXPECT_EQ(Resampled(ResampleBilinear, src, 2, 1, 4, 1, 1), (Bytes{0, 127, 255, 255}));
    // The same along the other axis.
    EXPECT_EQ(Resampled(ResampleBilinear, src, 1, 2, 1, 4, 1), (Bytes{0, 127, 255, 255}));
}

TEST(Resample, BicubicRowIndicesFallBackOneStepEarly)
{
    // Positions 0, 0.5, ..., 3.5 (held at 3). At 1.5 the fourth column is the third one
    // again (40, not 80); at 2.5 column 3 is not used at all.
    const Bytes src = {10, 20, 40, 80};
    const Bytes expected = {10, 13, 20, 31, 40, 43, 80, 80};
    EXPECT_EQ(Resampled(ResampleBicubic, src, 4, 1, 8, 1, 1), expected);
    EXPECT_EQ(Resampled(ResampleBicubic, src, 1, 4, 1, 8, 1), expected);
}

TEST(Resample, SameSizeAndUniformImagesComeOutUnchanged)
{
    for (Entry entry : {ResampleBilinear, ResampleBicubic}) {
        const Bytes src = test::RandomBytes(23 * 17 * 3, 7);
        EXPECT_EQ(Resampled(entry, src, 23, 17, 23, 17, 3), src);

        const Bytes grey(9 * 5 * 3, 77);
        EXPECT_EQ(Resampled(entry, grey, 9, 5, 31, 2, 3), Bytes(31 * 2 * 3, 77));
        EXPECT_EQ(Resampled(entry, grey, 9, 5, 2, 4, 3), Bytes(2 * 4 * 3, 77));
    }
    const Bytes pixel = {12, 200, 99};
    const Bytes filled = Resampled(ResampleBicubic, pixel, 1, 1, 100, 100, 3);
    for (size_t i = 0; i < filled.size(); i += 3)
        ASSERT_EQ(Bytes(filled.begin() + i, filled.begin() + i + 3), pixel) << "pixel " << i / 3;
}

TEST(Resample, BicubicOvershootAtASharpEdgeIsClampedNotWrapped)
{
    // Black then white: the negative lobes undershoot below 0 and overshoot above 255.
    const Bytes src = {0, 0, 0, 0, 255, 255, 255, 255};
    const Bytes up = Resampled(ResampleBicubic, src, 8, 1, 57, 1, 1);
    EXPECT_TRUE(std::is_sorted(up.begin(), up.end()));
    EXPECT_EQ(up.front(), 0);
    EXPECT_EQ(up.back(), 255);
    EXPECT_EQ(up, plain::Bicubic(src, 8, 1, 57, 1, 1));
}

struct Case {
    uint32_t sw, sh, dw, dh, bpp;
};

TEST(Resample, BothMethodsMatchThePlainTranscriptionByteForByte)
{
    const Case cases[] = {
        {1, 1, 1, 1, 3},     {1, 1, 7, 5, 3},      {5, 3, 1, 1, 3},      {1, 13, 1, 5, 3},
        {1, 5, 1, 13, 3},    {13, 1, 5, 1, 3},     {5, 1, 13, 1, 3},     {1, 9, 11, 3, 3},
        {2, 2, 3, 3, 3},     {3, 2, 5, 7, 3},      {13, 7, 31, 17, 3},   {97, 89, 11, 13, 3},
        {101, 7, 17, 29, 3}, {7, 101, 29, 17, 3},  {640, 480, 211, 157, 3}, {37, 41, 37, 40, 3},
        {29, 23, 61, 53, 1}, {53, 61, 23, 19, 1},  {29, 23, 61, 53, 4},  {53, 61, 23, 19, 4},
        {17, 13, 23, 7, 2},  {11, 19, 5, 31, 5},   {3, 4, 200, 3, 3},    {400, 3, 3, 200, 3},
        // Whole-number ratios put many values exactly on an integer, where a weight one
        // unit in the last place off changes the truncated byte.
        {8, 6, 16, 12, 3},   {5, 5, 20, 20, 3},    {24, 16, 6, 4, 3},    {9, 9, 27, 27, 1},
    };
    uint32_t seed = 1;
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.sw << "x" << c.sh << " -> " << c.dw << "x" << c.dh
                                        << " bpp " << c.bpp);
        const Bytes src = test::RandomBytes(size_t{c.sw} * c.sh * c.bpp, seed++);
        EXPECT_EQ(Resampled(ResampleBilinear, src, c.sw, c.sh, c.dw, c.dh, c.bpp),
                  plain::Bilinear(src, c.sw, c.sh, c.dw, c.dh, c.bpp));
        const Bytes bicubic = plain::Bicubic(src, c.sw, c.sh, c.dw, c.dh, c.bpp);
        EXPECT_EQ(Resampled(ResampleBicubic, src, c.sw, c.sh, c.dw, c.dh, c.bpp), bicubic);

        Bytes unbuffered(bicubic.size(), 0xA5);
        EXPECT_EQ(px::Entry([&] {
                      return px::resample::BicubicUnbuffered(
                          px::ConstView::Dense(src.data(), c.sw, c.sh, px::Layout::Samples, c.bpp),
                          px::View::Dense(unbuffered.data(), c.dw, c.dh, px::Layout::Samples, c.bpp));
                  }),
                  1u);
        EXPECT_EQ(unbuffered, bicubic);
    }
}

// Views with padded rows (a window of a larger picture into a window of another) give the
// pixels of the dense result, and the padding is left alone.
TEST(Resample, PaddedRowsGiveTheDenseResult)
{
    const uint32_t sw = 37, sh = 23, dw = 11, dh = 29, bpp = 3, pad = 7;
    const Bytes dense = test::RandomBytes(size_t{sw} * sh * bpp, 41);
    Bytes padded((sw * bpp + pad) * sh, 0);
    for (uint32_t y = 0; y < sh; ++y)
        std::copy_n(dense.begin() + y * sw * bpp, sw * bpp, padded.begin() + y * (sw * bpp + pad));
    using Op = uint32_t (*)(const px::ConstView&, const px::View&);
    const struct {
        Op op;
        Bytes expected;
    } rows[] = {{px::resample::Bilinear, plain::Bilinear(dense, sw, sh, dw, dh, bpp)},
                {px::resample::Bicubic, plain::Bicubic(dense, sw, sh, dw, dh, bpp)},
                {px::resample::BicubicUnbuffered, plain::Bicubic(dense, sw, sh, dw, dh, bpp)}};
    for (const auto& row : rows) {
        Bytes out((dw * bpp + pad) * dh, 0xA5);
        const px::ConstView source{padded.data(), sw, sh, sw * bpp + pad, px::Layout::RGB24, bpp};
        const px::View destination{out.data(), dw, dh, dw * bpp + pad, px::Layout::RGB24, bpp};
        ASSERT_EQ(px::Entry([&] { return row.op(source, destination); }), 1u);
        for (uint32_t y = 0; y < dh; ++y) {
            const auto at = out.begin() + y * (dw * bpp + pad);
            EXPECT_TRUE(std::equal(at, at + dw * bpp, row.expected.begin() + y * dw * bpp)) << y;
            EXPECT_EQ(std::count(at + dw * bpp, at + dw * bpp + pad, 0xA5), pad) << y;
        }
    }
}

TEST(Resample, BadArgumentsFailWithCodeFiveAndWriteNothing)
{
    const Bytes src = test::RandomBytes(4 * 4 * 3, 3);
    Bytes dst(4 * 4 * 3, 0x5A);
    const Bytes untouched = dst;
    for (Entry entry : {ResampleBilinear, ResampleBicubic}) {
        EXPECT_EQ(entry(nullptr, 4, 4, dst.data(), 4, 4, 3), 0u);
        EXPECT_EQ(GetLastLibraryError(), 5u);
        EXPECT_EQ(entry(src.data(), 4, 4, nullptr, 4, 4, 3), 0u);
        EXPECT_EQ(GetLastLibraryError(), 5u);
        for (int zero = 0; zero < 4; ++zero) {
            const uint32_t s[4] = {zero == 0 ? 0u : 4u, zero == 1 ? 0u : 4u, zero == 2 ? 0u : 4u,
                                   zero == 3 ? 0u : 4u};
            EXPECT_EQ(entry(src.data(), s[0], s[1], dst.data(), s[2], s[3], 3), 0u);
            EXPECT_EQ(GetLastLibraryError(), 5u);
        }
    }
    EXPECT_EQ(ResampleBilinear(src.data(), 4, 4, dst.data(), 4, 4, 0), 0u);
    EXPECT_EQ(GetLastLibraryError(), 5u);
    Bytes same = src;
    EXPECT_EQ(ResampleBicubic(same.data(), 4, 4, same.data(), 4, 4, 3), 0u);
    EXPECT_EQ(GetLastLibraryError(), 5u);
    EXPECT_EQ(same, src);
    EXPECT_EQ(dst, untouched);
}

TEST(Resample, BilinearWithoutWorkMemoryFailsWithCodeOne)
{
    // Work rows of 2 × width × channels doubles cannot be had; nothing is written.
    Bytes src(3, 9), dst(16, 0x5A);
    EXPECT_EQ(ResampleBilinear(src.data(), 1, 1, dst.data(), 0xFFFFFFFFu, 1, 0xFFFFFFFFu), 0u);
    EXPECT_EQ(GetLastLibraryError(), 1u);
    EXPECT_EQ(dst, Bytes(16, 0x5A));
}

std::vector<uint32_t> g_rows;
uint32_t g_stopAt;

uint32_t StopAt(uint32_t current, uint32_t total, uint32_t)
{
    g_rows.push_back(current * 1000 + total);
    return current == g_stopAt ? 0 : 1;
}

TEST(Resample, AStopLeavesExactlyTheRowsUpToItWritten)
{
    const uint32_t sw = 19, sh = 11, dw = 7, dh = 9;
    const Bytes src = test::RandomBytes(sw * sh * 3, 11);
    struct Method {
        Entry entry;
        Bytes expected;
    } methods[] = {{ResampleBilinear, plain::Bilinear(src, sw, sh, dw, dh, 3)},
                   {ResampleBicubic, plain::Bicubic(src, sw, sh, dw, dh, 3)}};
    const size_t stride = dw * 3;
    for (const Method& method : methods) {
        for (uint32_t stop : {0u, 4u}) {
            g_rows.clear();
            g_stopAt = stop;
            SetProgressCallback(StopAt, 0);
            Bytes dst(stride * dh, 0xA5);
            EXPECT_EQ(method.entry(src.data(), sw, sh, dst.data(), dw, dh, 3), 0u);
            SetProgressCallback(nullptr, 0);
            EXPECT_EQ(GetLastLibraryError(), 14u);

            std::vector<uint32_t> rows;
            for (uint32_t y = 0; y <= stop; ++y)
                rows.push_back(y * 1000 + dh);
            EXPECT_EQ(g_rows, rows);
            const size_t written = (stop + 1) * stride;
            EXPECT_TRUE(std::equal(dst.begin(), dst.begin() + written, method.expected.begin()));
            EXPECT_EQ(Bytes(dst.begin() + written, dst.end()), Bytes(dst.size() - written, 0xA5));
        }
    }
}

}  // namespace
