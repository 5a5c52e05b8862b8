// Area averaging by whole factors, row by row.
#include "imaging/area_reduce.h"

#include "base/frame.h"

#include <algorithm>
#include <cstring>

namespace px::reduce {

uint32_t Factor(uint32_t source, uint32_t aim) noexcept
{
    if (source == 0 || aim >= source)
        return 1;
    if (aim <= 1)
        return source;
    // ceil(s / f) >= aim  <=>  s > f (aim - 1)
    return std::max<uint32_t>(1, (source - 1) / (aim - 1));
}

bool AreaReducer::Start(uint32_t sourceWidth, uint32_t sourceHeight, uint32_t fx, uint32_t fy, uint32_t samples,
                        const View& destination, uint32_t first, uint32_t step) noexcept
{
    m_width = sourceWidth;
    m_height = sourceHeight;
    m_fx = std::max<uint32_t>(fx, 1);
    m_fy = std::max<uint32_t>(fy, 1);
    m_samples = samples;
    m_step = std::max(step, samples);
    m_first = first;
    m_destination = destination;
    m_pending = false;
    m_sums = Scratch<uint64_t>(CheckedMul(destination.width, samples));
    if (!m_sums)
        return Fail(Code::OutOfMemory);
    std::fill_n(m_sums.get(), size_t{destination.width} * samples, 0);
    return true;
}

namespace {

// Three samples of every Step bytes summed by blocks of fx pixels. Running sums are 32-bit
// over runs of at most 2^24 pixels of 255, then carried into the block's 64-bit sums.
template <uint32_t Step>
void SumThree(const uint8_t* row, uint32_t width, uint32_t fx, uint64_t* sums) noexcept
{
    constexpr uint32_t kRun = 1u << 24;
    for (uint32_t x = 0; x < width; sums += 3) {
        const uint32_t end = width - x > fx ? x + fx : width;
        while (x < end) {
            const uint32_t stop = end - x > kRun ? x + kRun : end;
            const uint8_t* p = row + size_t{x} * Step;
            uint32_t r = 0, g = 0, b = 0;
            for (; x < stop; ++x, p += Step) {
                r += p[0];
                g += p[1];
                b += p[2];
            }
            sums[0] += r, sums[1] += g, sums[2] += b;
        }
    }
}

}  // namespace

void AreaReducer::Add(uint32_t y, const uint8_t* row) noexcept
{
    if (y >= m_height)
        return;
    const uint32_t block = y / m_fy;
    if (m_pending && block != m_block)
        Flush();
    m_block = block;
    m_pending = true;
    uint64_t* sums = m_sums.get();
    if (m_samples == 3 && m_step == 3)
        return SumThree<3>(row, m_width, m_fx, sums);
    if (m_samples == 3 && m_step == 4)
        return SumThree<4>(row, m_width, m_fx, sums);
    const uint32_t samples = m_samples, skip = m_step - m_samples;
    const uint8_t* p = row;
    for (uint32_t x = 0, bx = 0; x < m_width; ++bx) {
        const uint32_t end = std::min(m_width, x + m_fx);
        uint64_t* sum = sums + size_t{bx} * samples;
        for (; x < end; ++x, p += skip)
            for (uint32_t c = 0; c < samples; ++c)
                sum[c] += *p++;
    }
}

void AreaReducer::Flush() noexcept
{
    m_pending = false;
    if (m_block >= m_destination.height)
        return;
    const uint64_t rows = std::min<uint64_t>(m_fy, m_height - uint64_t{m_block} * m_fy);
    uint8_t* out = m_destination.Row(m_block);
    uint64_t* sums = m_sums.get();
    for (uint32_t bx = 0; bx < m_destination.width; ++bx) {
        const uint64_t columns = std::min<uint64_t>(m_fx, m_width - uint64_t{bx} * m_fx);
        const uint64_t divisor = rows * columns;
        uint8_t* pixel = out + size_t{bx} * m_destination.channels + m_first;
        for (uint32_t c = 0; c < m_samples; ++c) {
            uint64_t& sum = sums[size_t{bx} * m_samples + c];
            pixel[c] = static_cast<uint8_t>((sum + divisor / 2) / divisor);
            sum = 0;
        }
    }
}

void AreaReducer::Finish() noexcept
{
    if (m_pending)
        Flush();
}

bool ScatteredReducer::Start(uint32_t sourceWidth, uint32_t sourceHeight, uint32_t fx, uint32_t fy,
                             const View& destination) noexcept
{
    m_width = sourceWidth;
    m_height = sourceHeight;
    m_fx = std::max<uint32_t>(fx, 1);
    m_fy = std::max<uint32_t>(fy, 1);
    m_destination = destination;
    m_patterns = 0;
    const uint64_t sums = CheckedMul(CheckedMul(destination.width, destination.height), 3);
    if (uint64_t{m_fx} * m_fy <= UINT32_MAX / 255) {
        if ((m_small = Scratch<uint32_t>(sums)))
            std::fill_n(m_small.get(), sums, 0u);
    } else if ((m_large = Scratch<uint64_t>(sums))) {
        std::fill_n(m_large.get(), sums, 0u);
    }
    m_rows = Scratch<uint32_t>(CheckedMul(destination.height, kPatterns));
    if ((!m_small && !m_large) || !m_rows)
        return Fail(Code::OutOfMemory);
    std::fill_n(m_rows.get(), size_t{destination.height} * kPatterns, 0u);
    return true;
}

template <class Sum>
void ScatteredReducer::Accumulate(Sum* sums, uint32_t y, uint32_t x0, uint32_t dx, const uint8_t* pixels) noexcept
{
    Sum* line = sums + size_t{y / m_fy} * m_destination.width * 3;
    uint32_t bx = x0 / m_fx;
    uint64_t edge = uint64_t{bx + 1} * m_fx;
    for (uint64_t x = x0; x < m_width; x += dx, pixels += 3) {
        while (x >= edge)
            ++bx, edge += m_fx;
        Sum* sum = line + size_t{bx} * 3;
        sum[0] += pixels[0];
        sum[1] += pixels[1];
        sum[2] += pixels[2];
    }
}

void ScatteredReducer::Add(uint32_t y, uint32_t x0, uint32_t dx, const uint8_t* pixels) noexcept
{
    if (y >= m_height || x0 >= m_width || dx == 0)
        return;
    uint32_t p = 0;
    while (p < m_patterns && !(m_x0[p] == x0 && m_dx[p] == dx))
        ++p;
    if (p == kPatterns)
        return;
    if (p == m_patterns) {
        m_x0[p] = x0;
        m_dx[p] = dx;
        ++m_patterns;
    }
    ++m_rows[size_t{y / m_fy} * kPatterns + p];
    if (m_small)
        Accumulate(m_small.get(), y, x0, dx, pixels);
    else
        Accumulate(m_large.get(), y, x0, dx, pixels);
}

template <class Sum>
void ScatteredReducer::Write(Sum* sums) noexcept
{
    // How many of each pattern's columns fall in each block column.
    const uint32_t width = m_destination.width;
    auto columns = Scratch<uint32_t>(CheckedMul(width, kPatterns));
    if (!columns)
        return;
    std::fill_n(columns.get(), size_t{width} * kPatterns, 0u);
    for (uint32_t p = 0; p < m_patterns; ++p)
        for (uint64_t x = m_x0[p]; x < m_width; x += m_dx[p])
            ++columns[size_t{x / m_fx} * kPatterns + p];
    for (uint32_t by = 0; by < m_destination.height; ++by) {
        const uint32_t* rows = m_rows.get() + size_t{by} * kPatterns;
        uint8_t* out = m_destination.Row(by);
        for (uint32_t bx = 0; bx < width; ++bx, out += m_destination.channels) {
            uint64_t count = 0;
            for (uint32_t p = 0; p < m_patterns; ++p)
                count += uint64_t{rows[p]} * columns[size_t{bx} * kPatterns + p];
            if (count == 0)
                continue;
            const Sum* sum = sums + (size_t{by} * width + bx) * 3;
            for (int c = 0; c < 3; ++c)
                out[c] = static_cast<uint8_t>((sum[c] + count / 2) / count);
        }
    }
}

void ScatteredReducer::Finish() noexcept
{
    if (m_small)
        Write(m_small.get());
    else if (m_large)
        Write(m_large.get());
    m_small.reset();
    m_large.reset();
}

bool WholeRows::Begin(uint32_t width, uint32_t height) noexcept
{
    m_pixels = AllocateImage(width, height, 24);
    m_view = View::RGB24(m_pixels.get(), width, height);
    return static_cast<bool>(m_pixels);
}

bool ReducingRows::Start(uint32_t width, uint32_t height, uint32_t step) noexcept
{
    const uint32_t fx = Factor(width, m_aimWidth), fy = Factor(height, m_aimHeight);
    const uint32_t w = Reduced(width, fx), h = Reduced(height, fy);
    m_pixels = AllocateImage(w, h, 24);
    if (!m_pixels)
        return false;
    m_view = View::RGB24(m_pixels.get(), w, h);
    m_step = step;
    m_direct = fx != 1 || fy != 1;
    return !m_direct || m_reducer.Start(width, height, fx, fy, 3, m_view, 0, step);
}

bool ReducingRows::Begin(uint32_t width, uint32_t height) noexcept
{
    if (!Start(width, height, 3))
        return false;
    if (m_direct && !(m_row = Scratch<uint8_t>(CheckedMul(width, 3))))
        return Fail(Code::OutOfMemory);
    return true;
}

bool ReducingRows::BeginRGBA(uint32_t width, uint32_t height) noexcept
{
    return Start(width, height, 4);
}

void ReducingRows::Put(uint32_t y, const uint8_t* row) noexcept
{
    if (m_direct)
        return m_reducer.Add(y, row);
    if (y >= m_view.height)
        return;
    uint8_t* out = m_view.Row(y);
    if (m_step == 3)
        return static_cast<void>(std::memcpy(out, row, size_t{m_view.width} * 3));
    for (uint32_t x = 0; x < m_view.width; ++x, row += 4, out += 3)
        out[0] = row[0], out[1] = row[1], out[2] = row[2];
}

Picture ReducingRows::Finish() noexcept
{
    m_reducer.Finish();
    m_row.reset();
    return Picture(std::move(m_pixels), m_view);
}

Picture ReducingRows::Adopt(Picture whole) noexcept
{
    return ReducePicture(std::move(whole), m_aimWidth, m_aimHeight);
}

Picture ReducePicture(Picture picture, uint32_t aimWidth, uint32_t aimHeight) noexcept
{
    const View& source = picture.view();
    if (!picture || !source.Usable() || source.channels == 0 || source.layout == Layout::Index8)
        return picture;
    const uint32_t fx = Factor(source.width, aimWidth), fy = Factor(source.height, aimHeight);
    if (fx == 1 && fy == 1)
        return picture;
    const uint32_t w = Reduced(source.width, fx), h = Reduced(source.height, fy);
    GlobalBuffer pixels = AllocateGlobal(ImageBytes(w, h, source.channels * 8));
    if (!pixels)
        return {};
    const View view = View::Dense(pixels.get(), w, h, source.layout, source.channels);
    const Code code = Current().code;
    AreaReducer reducer;
    if (!reducer.Start(source.width, source.height, fx, fy, source.channels, view))
        return {};
    for (uint32_t y = 0; y < source.height; ++y)
        reducer.Add(y, source.Row(y));
    reducer.Finish();
    Current().code = code;
    return Picture(std::move(pixels), view);
}

}  // namespace px::reduce
