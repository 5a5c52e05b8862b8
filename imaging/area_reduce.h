// Area averaging by whole factors, fed row by row: a reader hands its rows over as it decodes
// them and only the reduced picture and one row's sums are ever held.
#pragma once

#include "base/view.h"

#include <cstdint>
#include <memory>

namespace px::reduce {

// The largest factor f (at least 1) whose reduced side ceil(source / f) is still no smaller
// than `aim`: the reduced side is at least the aim and under about twice it. Aim 0 gives the
// largest factor, a side of 1.
uint32_t Factor(uint32_t source, uint32_t aim) noexcept;

// The side that factor f leaves of `source`: the last block may be partial.
constexpr uint32_t Reduced(uint32_t source, uint32_t factor) noexcept
{
    return source / factor + (source % factor != 0 ? 1 : 0);
}

// Averages blocks of fx × fy source pixels; a partial last block averages the pixels it has.
// Rows arrive with their index, in increasing or in decreasing order, each once; a block's
// mean is written once a row of another block arrives, or at Finish. A row that never comes
// counts as black, as a whole load leaves it, and a block no row reached stays as it was.
class AreaReducer {
public:
    // `samples` bytes a source pixel; they go to `destination`'s pixels from byte `first` on
    // (a planar reader reduces one plane into one byte of each pixel). Source pixels are `step`
    // bytes apart (RGBA rows give 3 samples of every 4 bytes), `samples` when less. False with
    // code 1 when the sums cannot be had. The destination must have the reduced size.
    bool Start(uint32_t sourceWidth, uint32_t sourceHeight, uint32_t fx, uint32_t fy, uint32_t samples,
               const View& destination, uint32_t first = 0, uint32_t step = 0) noexcept;
    void Add(uint32_t y, const uint8_t* row) noexcept;
    void Finish() noexcept;

private:
    void Flush() noexcept;

    uint32_t m_width = 0, m_height = 0, m_fx = 1, m_fy = 1, m_samples = 3, m_step = 3, m_first = 0;
    View m_destination;
    std::unique_ptr<uint64_t[]> m_sums;
    uint32_t m_block = 0;
    bool m_pending = false;
};

// Area averaging of RGB24 pixels that come scattered, as an interlaced picture's passes bring
// them: rows of every dx-th pixel from x0, in any order. The sums of the whole reduced grid are
// held; a block's mean is of the pixels that came into it (a cut stream misses its last passes'
// detail, not whole rows), and a block none reached stays as it was.
class ScatteredReducer {
public:
    // False with code 1 when the sums cannot be had. The destination must have the reduced size.
    bool Start(uint32_t sourceWidth, uint32_t sourceHeight, uint32_t fx, uint32_t fy, const View& destination) noexcept;
    // Pixels x0, x0 + dx, ... (under the source width) of row y. At most eight (x0, dx) pairs
    // in one picture; rows of a ninth are dropped.
    void Add(uint32_t y, uint32_t x0, uint32_t dx, const uint8_t* pixels) noexcept;
    void Finish() noexcept;

private:
    template <class Sum>
    void Accumulate(Sum* sums, uint32_t y, uint32_t x0, uint32_t dx, const uint8_t* pixels) noexcept;
    template <class Sum>
    void Write(Sum* sums) noexcept;

    static constexpr uint32_t kPatterns = 8;
    uint32_t m_width = 0, m_height = 0, m_fx = 1, m_fy = 1;
    View m_destination;
    std::unique_ptr<uint32_t[]> m_small;  // sums while a block's cannot pass 32 bits
    std::unique_ptr<uint64_t[]> m_large;
    uint32_t m_x0[kPatterns] = {}, m_dx[kPatterns] = {}, m_patterns = 0;
    std::unique_ptr<uint32_t[]> m_rows;  // rows added, by block row and pattern
};

// A whole picture (any whole-byte layout but Index8) reduced for an aim into a new dense
// picture of the same layout; one the aim needs whole comes back as it is. A partly decoded
// picture keeps the operation's code.
Picture ReducePicture(Picture picture, uint32_t aimWidth, uint32_t aimHeight) noexcept;

// Where a reader puts its RGB24 rows as it decodes them: the whole picture, or the reducer.
// Rows come in increasing or in decreasing order, each once.
class RgbRows {
public:
    // After the header and its claimed-size guard. False with the operation's code set.
    virtual bool Begin(uint32_t width, uint32_t height) noexcept = 0;
    // The buffer for row y (width × 3 bytes), valid until Done(y).
    virtual uint8_t* Row(uint32_t y) noexcept = 0;
    virtual void Done(uint32_t y) noexcept = 0;
    // The picture; rows that never came are black.
    virtual Picture Finish() noexcept = 0;
    // In place of Begin to Finish, for a reader that must hold a picture whole anyway.
    virtual Picture Adopt(Picture whole) noexcept = 0;

protected:
    ~RgbRows() = default;
};

// Every row in place in the whole picture.
class WholeRows final : public RgbRows {
public:
    bool Begin(uint32_t width, uint32_t height) noexcept override;
    uint8_t* Row(uint32_t y) noexcept override { return m_view.Row(y); }
    void Done(uint32_t) noexcept override {}
    Picture Finish() noexcept override { return Picture(std::move(m_pixels), m_view); }
    Picture Adopt(Picture whole) noexcept override { return whole; }

private:
    GlobalBuffer m_pixels;
    View m_view;
};

// Rows reduced for an aim as they come: one row buffer, the reducer, the reduced picture.
// When the aim needs every pixel, rows go straight into the picture.
class ReducingRows final : public RgbRows {
public:
    ReducingRows(uint32_t aimWidth = 0, uint32_t aimHeight = 0) noexcept : m_aimWidth(aimWidth), m_aimHeight(aimHeight) {}
    bool Begin(uint32_t width, uint32_t height) noexcept override;
    bool Begin(uint32_t width, uint32_t height, uint32_t aimWidth, uint32_t aimHeight) noexcept
    {
        m_aimWidth = aimWidth;
        m_aimHeight = aimHeight;
        return Begin(width, height);
    }
    uint8_t* Row(uint32_t y) noexcept override { return m_row ? m_row.get() : m_view.Row(y); }
    void Done(uint32_t y) noexcept override
    {
        if (m_row)
            m_reducer.Add(y, m_row.get());
    }
    Picture Finish() noexcept override;
    Picture Adopt(Picture whole) noexcept override;
    // In place of Row and Done: a whole row of the caller's, which the reducer reads where it
    // is. After BeginRGBA, rows are RGBA bytes, alpha passed over.
    bool BeginRGBA(uint32_t width, uint32_t height) noexcept;
    void Put(uint32_t y, const uint8_t* row) noexcept;

private:
    bool Start(uint32_t width, uint32_t height, uint32_t step) noexcept;

    uint32_t m_aimWidth, m_aimHeight;
    uint32_t m_step = 3;    // bytes a pixel of the rows given
    bool m_direct = false;  // rows go to the reducer, not into the picture
    GlobalBuffer m_pixels;
    View m_view;
    std::unique_ptr<uint8_t[]> m_row;
    AreaReducer m_reducer;
};

}  // namespace px::reduce
