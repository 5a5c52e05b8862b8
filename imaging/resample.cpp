// Bilinear and bicubic resampling, and their library entries.
//
// The output is fixed to the last bit: every double below is computed with the same
// operands in the same order as a plain per-byte evaluation would, only hoisted into
// per-column tables and per-source-row work rows so that nothing is computed twice.
#include "imaging/resample.h"

#include "base/frame.h"
#include "base/image.h"
#include "base/view.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>

namespace px::resample {
namespace {

// Destination index i samples source position i × ratio, with no half-pixel offset,
// limited to the last source index first and to 0 second.
double SourcePosition(uint32_t i, double ratio, uint32_t sourceSize)
{
    double position = static_cast<double>(i) * ratio;
    const double last = static_cast<double>(sourceSize) - 1.0;
    if (position > last)
        position = last;
    if (position < 0.0)
        position = 0.0;
    return position;
}

double Ratio(uint32_t sourceSize, uint32_t destinationSize)
{
    return static_cast<double>(sourceSize) / static_cast<double>(destinationSize);
}

// Work rows tagged with the source row they hold. When enlarging, neighbouring
// destination rows share source rows, which are then interpolated only once.
template <int Slots>
class WorkRows {
public:
    WorkRows(double* storage, size_t rowLength) : m_storage(storage), m_rowLength(rowLength)
    {
        for (int64_t& tag : m_tags)
            tag = -1;
    }

    // The work row holding source row `row`, filled by fill(row, out) when not yet held.
    // A row listed in `needed` (the rows of the current destination row) is never evicted.
    template <class Fill>
    const double* Get(int64_t row, const int64_t (&needed)[Slots], Fill&& fill)
    {
        for (int slot = 0; slot < Slots; ++slot)
            if (m_tags[slot] == row)
                return Row(slot);
        int free = 0;
        while (IsNeeded(m_tags[free], needed))
            ++free;  // at most Slots rows are needed, and `row` is not held: one is free
        m_tags[free] = row;
        fill(row, Row(free));
        return Row(free);
    }

private:
    static bool IsNeeded(int64_t tag, const int64_t (&needed)[Slots])
    {
        for (int64_t row : needed)
            if (tag == row)
                return true;
        return false;
    }
    double* Row(int slot) { return m_storage + static_cast<size_t>(slot) * m_rowLength; }

    double* m_storage;
    size_t m_rowLength;
    int64_t m_tags[Slots];
};

// ---- Bilinear

struct LinearTap {
    size_t first;   // byte offset of x0 within a source row
    size_t second;  // byte offset of x1
    double w0;      // (x0 + 1) − sx
    double w1;      // sx − x0
};

// Interpolates one source row horizontally into a work row. Channels is N when N is not 0.
template <uint32_t N>
void LinearRow(const uint8_t* __restrict row, const LinearTap* __restrict taps, uint32_t width,
               uint32_t channels, double* __restrict out)
{
    if constexpr (N != 0)
        channels = N;
    for (uint32_t x = 0; x < width; ++x) {
        const LinearTap& tap = taps[x];
        const uint8_t* a = row + tap.first;
        const uint8_t* b = row + tap.second;
        for (uint32_t c = 0; c < channels; ++c)
            out[c] = a[c] * tap.w0 + b[c] * tap.w1;
        out += channels;
    }
}

// The weights are non-negative and sum to 1, so the value stays within 0..255: no clamp.
void LinearColumn(const double* __restrict a0, const double* __restrict a1, double v0, double v1,
                  size_t count, uint8_t* __restrict out)
{
    for (size_t i = 0; i < count; ++i)
        out[i] = static_cast<uint8_t>(static_cast<int>(a0[i] * v0 + a1[i] * v1));
}

// Plain pointers and sizes rather than views: read through a view's fields, the inner loops
// cost more instructions. rowAt(r) gives source row r; see RowSource for the order rows are
// asked for in.
template <uint32_t N, class RowAt>
uint32_t BilinearRows(RowAt&& rowAt, uint32_t sourceWidth, uint32_t sourceHeight,
                      uint8_t* destination, size_t outStride, uint32_t destinationWidth,
                      uint32_t destinationHeight, uint32_t bytesPerPixel)
{
    const uint32_t channels = N != 0 ? N : bytesPerPixel;  // a constant where it can be
    const size_t rowLength = static_cast<size_t>(destinationWidth) * channels;
    // The work rows first: their size is the one that can overflow.
    auto storage = Scratch<double>(CheckedMul(2, rowLength));
    auto taps = storage ? Scratch<LinearTap>(destinationWidth) : nullptr;
    if (!taps)
        return Fail(Code::OutOfMemory);

    const double rx = Ratio(sourceWidth, destinationWidth);
    for (uint32_t x = 0; x < destinationWidth; ++x) {
        const double sx = SourcePosition(x, rx, sourceWidth);
        const uint32_t x0 = static_cast<uint32_t>(sx);
        const uint32_t x1 = x0 + 1 < sourceWidth ? x0 + 1 : sourceWidth - 1;
        taps[x] = {static_cast<size_t>(x0) * channels, static_cast<size_t>(x1) * channels,
                   static_cast<double>(x0 + 1) - sx, sx - static_cast<double>(x0)};
    }

    WorkRows<2> work(storage.get(), rowLength);
    auto fill = [&](int64_t row, double* out) {
        LinearRow<N>(rowAt(static_cast<uint32_t>(row)), taps.get(), destinationWidth, channels, out);
    };
    const double ry = Ratio(sourceHeight, destinationHeight);
    uint8_t* out = destination;
    for (uint32_t y = 0; y < destinationHeight; ++y) {
        const double sy = SourcePosition(y, ry, sourceHeight);
        const uint32_t y0 = static_cast<uint32_t>(sy);
        const uint32_t y1 = y0 + 1 < sourceHeight ? y0 + 1 : sourceHeight - 1;
        const int64_t needed[2] = {y0, y1};
        const double* a0 = work.Get(y0, needed, fill);
        const double* a1 = work.Get(y1, needed, fill);
        LinearColumn(a0, a1, static_cast<double>(y0 + 1) - sy, sy - static_cast<double>(y0),
                     rowLength, out);
        out += outStride;
        if (!Progress(y, destinationHeight))
            return 0;
    }
    return 1;
}

// ---- Bicubic

// Rows (or columns) r0..r3 around a position. Each falls back to the previous one as
// soon as the position reaches size − 1, − 2, − 3 respectively, one step earlier than
// the far edge strictly needs; small images simply fail the comparisons.
void CubicIndices(double position, uint32_t size, int64_t (&index)[4])
{
    const int64_t whole = static_cast<int64_t>(position);
    const int64_t n = size;
    index[0] = position >= 1.0 ? whole - 1 : 0;
    index[1] = position < static_cast<double>(n - 1) ? whole : n - 1;
    index[2] = position < static_cast<double>(n - 2) ? whole + 1 : index[1];
    index[3] = position < static_cast<double>(n - 3) ? whole + 2 : index[2];
}

// Cubic convolution weights with a = −1 for the fraction t.
void CubicWeights(double t, double (&w)[4])
{
    w[0] = -t * (1 - t) * (1 - t);
    w[1] = 1 - 2 * t * t + t * t * t;
    w[2] = (1 + t - t * t) * t;
    w[3] = -t * t * (1 - t);
}

void CubicTaps(double position, uint32_t size, int64_t (&index)[4], double (&w)[4])
{
    CubicIndices(position, size, index);
    CubicWeights(position - static_cast<double>(static_cast<int64_t>(position)), w);
}

// Rounded to nearest, then held to 0..255: the negative lobes overshoot.
inline uint8_t RoundClamp(double value)
{
    int v = static_cast<int>(value + 0.5);
    if (v > 255)
        v = 255;
    if (v < 0)
        v = 0;
    return static_cast<uint8_t>(v);
}

struct CubicTap {
    size_t offset[4];  // byte offsets of c0..c3 within a source row
    double w[4];
};

template <uint32_t N>
void CubicRow(const uint8_t* __restrict row, const CubicTap* __restrict taps, uint32_t width,
              uint32_t channels, double* __restrict out)
{
    if constexpr (N != 0)
        channels = N;
    for (uint32_t x = 0; x < width; ++x) {
        const CubicTap& tap = taps[x];
        const uint8_t* p0 = row + tap.offset[0];
        const uint8_t* p1 = row + tap.offset[1];
        const uint8_t* p2 = row + tap.offset[2];
        const uint8_t* p3 = row + tap.offset[3];
        for (uint32_t c = 0; c < channels; ++c)
            out[c] = tap.w[0] * p0[c] + tap.w[1] * p1[c] + tap.w[2] * p2[c] + tap.w[3] * p3[c];
        out += channels;
    }
}

void CubicColumn(const double* __restrict h0, const double* __restrict h1,
                 const double* __restrict h2, const double* __restrict h3, const double (&s)[4],
                 size_t count, uint8_t* __restrict out)
{
    const double s0 = s[0], s1 = s[1], s2 = s[2], s3 = s[3];
    for (size_t i = 0; i < count; ++i)
        out[i] = RoundClamp(s0 * h0[i] + s1 * h1[i] + s2 * h2[i] + s3 * h3[i]);
}

// As BilinearRows; without scratch memory it gives up with OutOfMemory, where the caller
// holding the whole source can fall back to BicubicUnbuffered.
template <uint32_t N, class RowAt>
uint32_t BicubicRows(RowAt&& rowAt, uint32_t sourceWidth, uint32_t sourceHeight,
                     uint8_t* destination, size_t outStride, uint32_t destinationWidth,
                     uint32_t destinationHeight, uint32_t channels)
{
    const size_t rowLength = static_cast<size_t>(destinationWidth) * channels;
    auto storage = Scratch<double>(CheckedMul(4, rowLength));
    auto taps = storage ? Scratch<CubicTap>(destinationWidth) : nullptr;
    if (!taps)
        return Fail(Code::OutOfMemory);

    const double rx = Ratio(sourceWidth, destinationWidth);
    for (uint32_t x = 0; x < destinationWidth; ++x) {
        int64_t columns[4];
        CubicTaps(SourcePosition(x, rx, sourceWidth), sourceWidth, columns, taps[x].w);
        for (int i = 0; i < 4; ++i)
            taps[x].offset[i] = static_cast<size_t>(columns[i]) * channels;
    }

    WorkRows<4> work(storage.get(), rowLength);
    auto fill = [&](int64_t row, double* out) {
        CubicRow<N>(rowAt(static_cast<uint32_t>(row)), taps.get(), destinationWidth, channels, out);
    };
    const double ry = Ratio(sourceHeight, destinationHeight);
    uint8_t* out = destination;
    for (uint32_t y = 0; y < destinationHeight; ++y) {
        int64_t rows[4];
        double s[4];
        CubicTaps(SourcePosition(y, ry, sourceHeight), sourceHeight, rows, s);
        const double* h0 = work.Get(rows[0], rows, fill);
        const double* h1 = work.Get(rows[1], rows, fill);
        const double* h2 = work.Get(rows[2], rows, fill);
        const double* h3 = work.Get(rows[3], rows, fill);
        CubicColumn(h0, h1, h2, h3, s, rowLength, out);
        out += outStride;
        if (!Progress(y, destinationHeight))
            return 0;
    }
    return 1;
}

// Runs rows<N>() with N fixed for the common pixel sizes, 0 for any other.
template <class Rows>
uint32_t ForPixelSize(uint32_t bytesPerPixel, Rows&& rows)
{
    switch (bytesPerPixel) {
    case 1:
        return rows.template operator()<1>();
    case 3:
        return rows.template operator()<3>();
    case 4:
        return rows.template operator()<4>();
    default:
        return rows.template operator()<0>();
    }
}

// Pixels on both sides, and as many bytes a pixel on each: the rows may be padded, the pixels
// not reinterpreted.
bool Matching(const ConstView& source, const View& destination)
{
    return source.Usable() && destination.Usable() && source.channels == destination.channels &&
           source.layout != Layout::Mono1 && destination.layout != Layout::Mono1 &&
           source.stride >= source.RowBytes() && destination.stride >= destination.RowBytes();
}

}  // namespace

uint32_t Bilinear(const ConstView& source, const View& destination)
{
    if (!Matching(source, destination) || !source.channels)
        return Fail(Code::BadArgument);
    const auto rowAt = [pixels = source.data, stride = source.stride](uint32_t row) {
        return pixels + static_cast<size_t>(row) * stride;
    };
    return ForPixelSize(source.channels, [&]<uint32_t N>() {
        return BilinearRows<N>(rowAt, source.width, source.height, destination.data, destination.stride,
                               destination.width, destination.height, source.channels);
    });
}

uint32_t Bicubic(const ConstView& source, const View& destination)
{
    if (!Matching(source, destination) || source.data == destination.data)
        return Fail(Code::BadArgument);
    const auto rowAt = [pixels = source.data, stride = source.stride](uint32_t row) {
        return pixels + static_cast<size_t>(row) * stride;
    };
    const uint32_t done = ForPixelSize(source.channels, [&]<uint32_t N>() {
        return BicubicRows<N>(rowAt, source.width, source.height, destination.data, destination.stride,
                              destination.width, destination.height, N != 0 ? N : source.channels);
    });
    if (done || Current().code != Code::OutOfMemory)
        return done;
    Current().code = Code::None;  // the tables could not be had: the same bytes without them
    return BicubicUnbuffered(source, destination);
}

uint32_t FromRows(RowSource& rows, uint32_t sourceWidth, uint32_t sourceHeight, uint8_t* destination,
                  uint32_t destinationWidth, uint32_t destinationHeight, uint32_t bytesPerPixel, bool bicubic)
{
    if (!destination || !sourceWidth || !sourceHeight || !destinationWidth || !destinationHeight ||
        !bytesPerPixel)
        return Fail(Code::BadArgument);
    const auto rowAt = [&](uint32_t row) { return rows.Row(row); };
    const size_t outStride = static_cast<size_t>(destinationWidth) * bytesPerPixel;
    return ForPixelSize(bytesPerPixel, [&]<uint32_t N>() {
        const uint32_t channels = N != 0 ? N : bytesPerPixel;
        return bicubic ? BicubicRows<N>(rowAt, sourceWidth, sourceHeight, destination, outStride,
                                        destinationWidth, destinationHeight, channels)
                       : BilinearRows<N>(rowAt, sourceWidth, sourceHeight, destination, outStride,
                                         destinationWidth, destinationHeight, channels);
    });
}

uint32_t BicubicUnbuffered(const ConstView& source, const View& destination)
{
    const uint32_t sourceWidth = source.width, sourceHeight = source.height;
    const uint32_t destinationWidth = destination.width, destinationHeight = destination.height;
    const uint32_t bytesPerPixel = source.channels;
    const size_t stride = source.stride;
    const double rx = Ratio(sourceWidth, destinationWidth);
    const double ry = Ratio(sourceHeight, destinationHeight);
    for (uint32_t y = 0; y < destinationHeight; ++y) {
        uint8_t* out = destination.Row(y);
        int64_t rows[4];
        double s[4];
        CubicTaps(SourcePosition(y, ry, sourceHeight), sourceHeight, rows, s);
        for (uint32_t x = 0; x < destinationWidth; ++x) {
            int64_t columns[4];
            double w[4];
            CubicTaps(SourcePosition(x, rx, sourceWidth), sourceWidth, columns, w);
            for (uint32_t c = 0; c < bytesPerPixel; ++c) {
                double h[4];
                for (int i = 0; i < 4; ++i) {
                    const uint8_t* row = source.data + static_cast<size_t>(rows[i]) * stride + c;
                    const size_t bpp = bytesPerPixel;
                    h[i] = w[0] * row[columns[0] * bpp] + w[1] * row[columns[1] * bpp] +
                           w[2] * row[columns[2] * bpp] + w[3] * row[columns[3] * bpp];
                }
                *out++ = RoundClamp(s[0] * h[0] + s[1] * h[1] + s[2] * h[2] + s[3] * h[3]);
            }
        }
        if (!Progress(y, destinationHeight))
            return 0;
    }
    return 1;
}

}  // namespace px::resample

extern "C" uint32_t ResampleBilinear(const uint8_t* source, uint32_t sourceWidth,
                                     uint32_t sourceHeight, uint8_t* destination,
                                     uint32_t destinationWidth, uint32_t destinationHeight,
                                     uint32_t bytesPerPixel)
{
    return px::Entry([&] {
        return px::resample::Bilinear(
            px::ConstView::Dense(source, sourceWidth, sourceHeight, px::Layout::Samples, bytesPerPixel),
            px::View::Dense(destination, destinationWidth, destinationHeight, px::Layout::Samples, bytesPerPixel));
    });
}

extern "C" uint32_t ResampleBicubic(const uint8_t* source, uint32_t sourceWidth,
                                    uint32_t sourceHeight, uint8_t* destination,
                                    uint32_t destinationWidth, uint32_t destinationHeight,
                                    uint32_t bytesPerPixel)
{
    return px::Entry([&] {
        return px::resample::Bicubic(
            px::ConstView::Dense(source, sourceWidth, sourceHeight, px::Layout::Samples, bytesPerPixel),
            px::View::Dense(destination, destinationWidth, destinationHeight, px::Layout::Samples, bytesPerPixel));
    });
}
