// What the PSD reader's whole and reduced roads share: the header, big-endian fields from the
// channel, and the merged image's planes read row by row.
#pragma once

#include "formats/psd/psd.h"

#include "base/guard.h"
#include "base/frame.h"

#include <algorithm>
#include <cstring>
#include <memory>

namespace px::psd {

enum Mode : uint16_t { kBitmap = 0, kGrey = 1, kIndexed = 2, kRGB = 3, kCMYK = 4, kDuotone = 8 };

struct Header {
    uint16_t channels = 0;
    uint32_t height = 0;
    uint32_t width = 0;
    uint16_t depth = 0;
    uint16_t mode = 0;
};

// Big-endian fields from the channel; lengths are checked against the bytes that remain.
class Reader {
public:
    explicit Reader(Channel& channel) noexcept : m_channel(channel) {}

    bool Bytes(void* out, uint32_t count) noexcept { return m_channel.ReadExact(out, count); }
    bool U16(uint16_t& value) noexcept
    {
        uint8_t b[2];
        if (!Bytes(b, 2))
            return false;
        value = static_cast<uint16_t>(b[0] << 8 | b[1]);
        return true;
    }
    bool U32(uint32_t& value) noexcept
    {
        uint8_t b[4];
        if (!Bytes(b, 4))
            return false;
        value = uint32_t{b[0]} << 24 | uint32_t{b[1]} << 16 | uint32_t{b[2]} << 8 | b[3];
        return true;
    }
    // Unknown (0) for a channel that cannot tell its size; reads then decide.
    uint64_t Left() noexcept
    {
        const uint64_t size = End();
        const uint32_t position = m_channel.Tell();
        if (size == UINT64_MAX)
            return size;
        return position > size ? 0 : size - position;
    }
    uint64_t End() noexcept
    {
        const uint32_t size = m_channel.Size();
        return size == 0 ? UINT64_MAX : size;
    }
    uint32_t Tell() noexcept { return m_channel.Tell(); }
    // An offset from the start; one past a 32-bit seek's reach is taken in two steps.
    bool SeekTo(uint64_t offset) noexcept
    {
        if (offset >= UINT32_MAX)
            return false;
        const uint64_t first = std::min<uint64_t>(offset, INT32_MAX);
        return m_channel.Seek(static_cast<int32_t>(first), 0) &&
               (offset == first || m_channel.Seek(static_cast<int32_t>(offset - first), 1));
    }
    bool Skip(uint32_t count) noexcept
    {
        if (count == 0)
            return true;
        if (count > Left() || count > INT32_MAX)
            return false;
        return m_channel.Seek(static_cast<int32_t>(count), 1);
    }

private:
    Channel& m_channel;
};

// The planes a mode's pixels are made of.
inline uint32_t PlanesRead(uint16_t mode) noexcept
{
    return mode == kRGB ? 3 : mode == kCMYK ? 4 : 1;
}

// The merged image data: where the planes' rows are and how they are stored.
struct Planes {
    Reader& in;
    const Header& h;
    bool packed;
    std::unique_ptr<uint8_t[]> counts;  // big-endian u16 per row of every channel
    std::unique_ptr<uint8_t[]> row;     // one stored row
    std::unique_ptr<uint8_t[]> samples; // one unpacked row of a deep document

    uint32_t Count(uint32_t plane, uint32_t y) const noexcept
    {
        const uint64_t i = (uint64_t{plane} * h.height + y) * 2;
        return uint32_t{counts[i]} << 8 | counts[i + 1];
    }

    // Bytes a stored sample takes: 1, or 2 and 4 for 16-bit and 32-bit documents.
    uint32_t SampleBytes() const noexcept { return h.depth == 1 ? 1 : h.depth / 8u; }

    // Reads row y of plane `plane`, stored where the channel stands, into target (stride,
    // offset). Deeper samples arrive reduced to 8 bits by rounding.
    bool ReadRow(uint32_t plane, uint32_t y, uint8_t* target, uint32_t stride, uint32_t offset) noexcept
    {
        const uint32_t size = SampleBytes();
        const uint64_t rowBytes = uint64_t{h.width} * size;
        uint8_t* stored = size == 1 ? target : samples.get();
        const uint32_t step = size == 1 ? stride : 1, at = size == 1 ? offset : 0;
        if (packed) {
            const uint32_t count = Count(plane, y);
            if (size > 1)
                std::memset(stored, 0, rowBytes);
            if (!in.Bytes(row.get(), count) ||
                !UnpackRow(stored, static_cast<uint32_t>(rowBytes), step, at, row.get(), count))
                return Fail(Code::ReadError);
        } else {
            if (!in.Bytes(row.get(), static_cast<uint32_t>(rowBytes)))
                return Fail(Code::ReadError);
            if (size == 1)
                for (uint32_t x = 0; x < h.width; ++x)
                    target[uint64_t{x} * stride + offset] = row[x];
            else
                stored = row.get();
        }
        if (size > 1)
            ReduceRow(stored, size, target, stride, offset);
        return true;
    }

    // Reads plane `plane`: row y into rowAt(y) (stride, offset), then done(y); progress (base
    // + row, total).
    template <class RowAt, class Done>
    bool Read(uint32_t plane, uint32_t stride, uint32_t offset, RowAt&& rowAt, Done&& done,
              uint32_t progressBase, uint32_t progressTotal) noexcept
    {
        for (uint32_t y = 0; y < h.height; ++y) {
            if (!ReadRow(plane, y, rowAt(y), stride, offset))
                return false;
            done(y);
            if (!Progress(progressBase + y, progressTotal))
                return false;
        }
        return true;
    }

    // The plane into a whole picture of `stride` bytes a pixel.
    bool Read(uint32_t plane, uint8_t* destination, uint32_t stride, uint32_t offset,
              uint32_t progressBase, uint32_t progressTotal) noexcept
    {
        return Read(
            plane, stride, offset, [&](uint32_t y) { return destination + uint64_t{y} * h.width * stride; },
            [](uint32_t) {}, progressBase, progressTotal);
    }

    // Big-endian 16-bit integers or 32-bit floats (0 to 1) to bytes.
    void ReduceRow(const uint8_t* stored, uint32_t size, uint8_t* target, uint32_t stride,
                   uint32_t offset) const noexcept
    {
        for (uint32_t x = 0; x < h.width; ++x, stored += size) {
            uint8_t value = 0;
            if (size == 2) {
                value = static_cast<uint8_t>(((stored[0] << 8 | stored[1]) * 255u + 32767) / 65535);
            } else {
                const uint32_t bits = uint32_t{stored[0]} << 24 | uint32_t{stored[1]} << 16 |
                                      uint32_t{stored[2]} << 8 | stored[3];
                float f = 0;
                std::memcpy(&f, &bits, sizeof f);
                // Written as !(f > 0) so that NaN is black too.
                value = !(f > 0) ? 0 : f >= 1 ? 255 : static_cast<uint8_t>(f * 255 + 0.5f);
            }
            target[uint64_t{x} * stride + offset] = value;
        }
    }

    // Bitmap rows: packed bits, one byte a pixel after decoding (1 = black), row y into
    // rowAt(y), then done(y).
    template <class RowAt, class Done>
    bool ReadBits(RowAt&& rowAt, Done&& done) noexcept
    {
        const uint32_t rowBytes = (h.width + 7) / 8;
        auto bits = Scratch<uint8_t>(rowBytes);
        if (!bits)
            return Fail(Code::OutOfMemory);
        for (uint32_t y = 0; y < h.height; ++y) {
            const uint32_t count = Count(0, y);
            std::memset(bits.get(), 0, rowBytes);
            if (!in.Bytes(row.get(), count) || !UnpackRow(bits.get(), rowBytes, 1, 0, row.get(), count))
                return Fail(Code::ReadError);
            uint8_t* target = rowAt(y);
            for (uint32_t x = 0; x < h.width; ++x)
                target[x] = (bits[x / 8] >> (7 - x % 8)) & 1;
            done(y);
            if (!Progress(y, h.height))
                return false;
        }
        return true;
    }
};

// The row-count table and row buffers, for packed or raw planes where the channel stands.
bool PreparePlanes(Planes& planes);

// Header, mode data (the colour table into `table`), sections and the claimed-size guard:
// everything before the planes.
bool Prologue(Channel& channel, Reader& in, uint32_t bits, Header& h, uint8_t* table, uint16_t& compression);

// The whole picture once the prologue is read: bits 24, or 8 with the table copied to `palette`.
GlobalBuffer ReadWhole(Planes& planes, uint32_t bits, const uint8_t* table, uint8_t* palette);

// Colours of CMYK pixels, in place or into another row. Stored inks are inverted: 255 is no ink.
inline void MixInks(const uint8_t* cmyk, uint8_t* rgb, uint64_t count) noexcept
{
    for (uint64_t i = 0; i < count; ++i) {
        const uint32_t c = cmyk[4 * i], m = cmyk[4 * i + 1], y = cmyk[4 * i + 2], k = cmyk[4 * i + 3];
        rgb[3 * i] = static_cast<uint8_t>(c * k / 255);
        rgb[3 * i + 1] = static_cast<uint8_t>(m * k / 255);
        rgb[3 * i + 2] = static_cast<uint8_t>(y * k / 255);
    }
}

// Indices to RGB24 through the table's entries.
inline void Colour(const uint8_t* table, const uint8_t* from, uint8_t* to, uint64_t count) noexcept
{
    for (uint64_t i = 0; i < count; ++i) {
        const uint8_t* entry = table + 4 * from[i];
        to[3 * i] = entry[2];
        to[3 * i + 1] = entry[1];
        to[3 * i + 2] = entry[0];
    }
}

}  // namespace px::psd
