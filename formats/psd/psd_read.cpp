// PSD reading: header and sections, then the merged image plane by plane, raw or PackBits.
#include "formats/psd/psd.h"

#include "base/guard.h"
#include "base/frame.h"
#include "imaging/area_reduce.h"

#include <algorithm>
#include <cstring>

namespace px::psd {
namespace {

enum Mode : uint16_t { kBitmap = 0, kGrey = 1, kIndexed = 2, kRGB = 3, kCMYK = 4, kDuotone = 8 };

// PackBits at its best: a two-byte run of 128 bytes.
constexpr uint64_t kPackBitsExpansion = 64;

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

// Header fields; 46 when it is not a version 1 "8BPS" file.
bool ReadHeader(Reader& in, Header& h)
{
    uint8_t start[6];
    if (!in.Bytes(start, 6) || std::memcmp(start, "8BPS\0\1", 6) != 0)
        return Fail(Code::NotPsd);
    uint8_t reserved[6];
    if (!in.Bytes(reserved, 6) || !in.U16(h.channels) || !in.U32(h.height) || !in.U32(h.width) ||
        !in.U16(h.depth) || !in.U16(h.mode))
        return Fail(Code::ReadError);
    return true;
}

uint32_t PlanesRead(uint16_t mode) noexcept
{
    return mode == kRGB ? 3 : mode == kCMYK ? 4 : 1;
}

void PutEntry(uint8_t* palette, uint32_t i, uint8_t r, uint8_t g, uint8_t b) noexcept
{
    palette[4 * i] = b;
    palette[4 * i + 1] = g;
    palette[4 * i + 2] = r;
    palette[4 * i + 3] = 0;
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

bool PreparePlanes(Planes& planes)
{
    const Header& h = planes.h;
    const uint64_t rowBytes = CheckedMul(h.width, planes.SampleBytes());
    if (rowBytes > UINT32_MAX)
        return Fail(Code::OutOfMemory);
    if (!planes.packed) {
        planes.row = Scratch<uint8_t>(rowBytes);
        return planes.row ? true : Fail(Code::OutOfMemory);
    }
    if (planes.SampleBytes() > 1 && !(planes.samples = Scratch<uint8_t>(rowBytes)))
        return Fail(Code::OutOfMemory);
    const uint64_t tableBytes = CheckedMul(CheckedMul(h.height, h.channels), 2);
    if (tableBytes > planes.in.Left() || tableBytes > UINT32_MAX)
        return Fail(Code::ReadError);
    planes.counts = Scratch<uint8_t>(tableBytes);
    if (!planes.counts)
        return Fail(Code::OutOfMemory);
    if (!planes.in.Bytes(planes.counts.get(), static_cast<uint32_t>(tableBytes)))
        return Fail(Code::ReadError);
    uint32_t largest = 1;
    for (uint64_t i = 0; i < tableBytes; i += 2)
        largest = std::max(largest, uint32_t{planes.counts[i]} << 8 | planes.counts[i + 1]);
    planes.row = Scratch<uint8_t>(largest);
    return planes.row ? true : Fail(Code::OutOfMemory);
}

void ShrinkTo(GlobalBuffer& buffer, size_t bytes) noexcept
{
    if (bytes < buffer.size() && GlobalReAlloc(buffer.get(), bytes, 0)) {
        uint8_t* data = buffer.Release();
        buffer = GlobalBuffer(data, bytes);
    }
}

// Colours of CMYK pixels, in place or into another row. Stored inks are inverted: 255 is no ink.
void MixInks(const uint8_t* cmyk, uint8_t* rgb, uint64_t count) noexcept
{
    for (uint64_t i = 0; i < count; ++i) {
        const uint32_t c = cmyk[4 * i], m = cmyk[4 * i + 1], y = cmyk[4 * i + 2], k = cmyk[4 * i + 3];
        rgb[3 * i] = static_cast<uint8_t>(c * k / 255);
        rgb[3 * i + 1] = static_cast<uint8_t>(m * k / 255);
        rgb[3 * i + 2] = static_cast<uint8_t>(y * k / 255);
    }
}

GlobalBuffer ReadColour(Planes& planes)
{
    const Header& h = planes.h;
    const uint32_t count = PlanesRead(h.mode);
    GlobalBuffer image = AllocateGlobal(CheckedMul(CheckedMul(h.width, h.height), count));
    if (!image)
        return {};
    for (uint32_t c = 0; c < count; ++c)
        if (!planes.Read(c, image.get(), count, c, c * h.height, count * h.height))
            return {};
    if (h.mode == kCMYK) {
        MixInks(image.get(), image.get(), uint64_t{h.width} * h.height);
        ShrinkTo(image, ImageBytes(h.width, h.height, 24));
    }
    return image;
}

}  // namespace

bool UnpackRow(uint8_t* destination, uint32_t pixels, uint32_t stride, uint32_t offset,
               const uint8_t* source, uint32_t length) noexcept
{
    uint32_t i = 0;
    uint64_t written = 0;
    auto put = [&](const uint8_t* bytes, uint32_t count, bool repeat) {
        const uint64_t room = written < pixels ? pixels - written : 0;
        const auto n = static_cast<uint32_t>(std::min<uint64_t>(count, room));
        for (uint32_t k = 0; k < n; ++k)
            destination[(written + k) * stride + offset] = repeat ? bytes[0] : bytes[k];
        written += count;
    };
    while (i < length) {
        const auto control = static_cast<int8_t>(source[i++]);
        if (control == -128)
            continue;
        if (control < 0) {
            if (i >= length)
                return false;
            put(source + i, static_cast<uint32_t>(1 - control), true);
            i += 1;
        } else {
            const uint32_t count = static_cast<uint32_t>(control) + 1;
            if (count > length - i)
                return false;
            put(source + i, count, false);
            i += count;
        }
    }
    return true;
}

uint32_t DecodeRow(uint8_t* destination, uint32_t pixels, uint32_t stride, uint32_t offset,
                   const uint8_t* source, uint32_t length, uint32_t options)
{
    if (!destination || (!source && length) || stride == 0)
        return Fail(Code::BadArgument);
    if (!(options & PX_PACKBITS_BITMAP))
        return UnpackRow(destination, pixels, stride, offset, source, length) ? 1 : Fail(Code::ReadError);
    const uint32_t bytes = static_cast<uint32_t>((uint64_t{pixels} + 7) / 8);
    auto bits = Scratch<uint8_t>(bytes);
    if (!bits)
        return Fail(Code::OutOfMemory);
    std::memset(bits.get(), 0, bytes);
    if (!UnpackRow(bits.get(), bytes, 1, 0, source, length))
        return Fail(Code::ReadError);
    for (uint32_t x = 0; x < pixels; ++x)
        destination[uint64_t{x} * stride + offset] = (bits[x / 8] >> (7 - x % 8)) & 1;
    return 1;
}

namespace {

// Header, mode data (the colour table into `table`), sections and the claimed-size guard:
// everything before the planes.
bool Prologue(Channel& channel, Reader& in, uint32_t bits, Header& h, uint8_t* table, uint16_t& compression)
{
    if (!ReadHeader(in, h))
        return false;
    // 16 and 32 bits a sample in the modes that have no palette.
    const bool deep = h.depth == 16 || h.depth == 32;
    if ((h.depth != 1 && h.depth != 8 && !deep) || (deep && (h.mode == kBitmap || h.mode == kIndexed)))
        return Fail(Code::UnsupportedMode);
    const bool known = h.mode <= kCMYK || h.mode == kDuotone;
    if (bits == 8 && !(h.mode <= kIndexed || h.mode == kDuotone))
        return Fail(Code::LayoutUnavailable);
    // Bits go with bitmap mode only; a mode needs its planes; an empty picture has none.
    if (!known || (h.depth == 1) != (h.mode == kBitmap) || h.channels < PlanesRead(h.mode) ||
        h.width == 0 || h.height == 0)
        return Fail(Code::UnsupportedMode);

    for (uint32_t i = 0; i < 256; ++i)
        PutEntry(table, i, static_cast<uint8_t>(i), static_cast<uint8_t>(i), static_cast<uint8_t>(i));
    uint32_t modeData = 0;
    if (!in.U32(modeData))
        return Fail(Code::ReadError);
    // A colour table is 768 bytes; a shorter section is not one and keeps the grey ramp.
    if (h.mode <= kIndexed && modeData >= 768) {
        uint8_t rgb[768];
        if (!in.Bytes(rgb, 768))
            return Fail(Code::ReadError);
        for (uint32_t i = 0; i < 256; ++i)
            PutEntry(table, i, rgb[i], rgb[256 + i], rgb[512 + i]);
        modeData -= 768;
    }
    if (h.mode == kBitmap) {
        std::memset(table, 0, 256 * 4);
        PutEntry(table, 0, 255, 255, 255);
        PutEntry(table, 1, 0, 0, 0);
    }
    uint32_t resources = 0, layers = 0;
    if (!in.Skip(modeData) || !in.U32(resources) || !in.Skip(resources) || !in.U32(layers) ||
        !in.Skip(layers) || !in.U16(compression) || compression > 1)
        return Fail(Code::ReadError);
    if (h.mode == kBitmap && compression == 0)
        return Fail(Code::UnsupportedMode);
    const uint64_t expansion = (compression ? kPackBitsExpansion : 1) * (h.mode == kBitmap ? 8 : 1);
    return GuardClaim(channel, h.width, h.height, PlanesRead(h.mode), expansion, Code::ReadError);
}

// Indices to RGB24 through the table's entries.
void Colour(const uint8_t* table, const uint8_t* from, uint8_t* to, uint64_t count) noexcept
{
    for (uint64_t i = 0; i < count; ++i) {
        const uint8_t* entry = table + 4 * from[i];
        to[3 * i] = entry[2];
        to[3 * i + 1] = entry[1];
        to[3 * i + 2] = entry[0];
    }
}

// The whole picture once the prologue is read.
GlobalBuffer ReadWhole(Planes& planes, uint32_t bits, const uint8_t* table, uint8_t* palette)
{
    const Header& h = planes.h;
    if (h.mode == kRGB || h.mode == kCMYK)
        return ReadColour(planes);
    GlobalBuffer indices = AllocateImage(h.width, h.height, 8);
    if (!indices)
        return {};
    if (!(h.mode == kBitmap ? planes.ReadBits([&](uint32_t y) { return indices.get() + uint64_t{y} * h.width; },
                                              [](uint32_t) {})
                            : planes.Read(0, indices.get(), 1, 0, 0, h.height)))
        return {};
    if (bits == 8) {
        std::memcpy(palette, table, 256 * 4);
        return indices;
    }
    GlobalBuffer image = AllocateImage(h.width, h.height, 24);
    if (image)
        Colour(table, indices.get(), image.get(), uint64_t{h.width} * h.height);
    return image;
}

// RGB planes each through an area reducer of its own channel, one after the other: only the
// reduced picture, a row and one channel's sums are held.
Picture ReducePlanes(Planes& planes, uint32_t aimWidth, uint32_t aimHeight)
{
    const Header& h = planes.h;
    const uint32_t fx = reduce::Factor(h.width, aimWidth), fy = reduce::Factor(h.height, aimHeight);
    const uint32_t width = reduce::Reduced(h.width, fx), height = reduce::Reduced(h.height, fy);
    GlobalBuffer pixels = AllocateImage(width, height, 24);
    auto line = Scratch<uint8_t>(h.width);
    if (!pixels || !line) {
        Fail(Code::OutOfMemory);
        return {};
    }
    const View view = View::RGB24(pixels.get(), width, height);
    bool any = false;
    for (uint32_t c = 0; c < 3; ++c) {
        reduce::AreaReducer reducer;
        if (!reducer.Start(h.width, h.height, fx, fy, 1, view, c))
            return {};
        const bool read = planes.Read(
            c, 1, 0, [&](uint32_t) { return line.get(); },
            [&](uint32_t y) { reducer.Add(y, line.get()), any = true; }, c * h.height, 3 * h.height);
        reducer.Finish();
        // A cut file gives the rows that came, the missing samples black.
        if (!read)
            return any && Current().code != Code::Cancelled ? Picture(std::move(pixels), view) : Picture();
    }
    return Picture(std::move(pixels), view);
}

// One-plane documents (grey, indexed, duotone, bitmap) coloured row by row into `rows`.
Picture ReduceIndices(Planes& planes, const uint8_t* table, uint32_t aimWidth, uint32_t aimHeight)
{
    const Header& h = planes.h;
    reduce::ReducingRows rows(aimWidth, aimHeight);
    auto line = Scratch<uint8_t>(h.width);
    if (!line) {
        Fail(Code::OutOfMemory);
        return {};
    }
    if (!rows.Begin(h.width, h.height))
        return {};
    bool any = false;
    auto rowAt = [&](uint32_t) { return line.get(); };
    auto done = [&](uint32_t y) {
        Colour(table, line.get(), rows.Row(y), h.width);
        rows.Done(y);
        any = true;
    };
    const bool read = h.mode == kBitmap ? planes.ReadBits(rowAt, done) : planes.Read(0, 1, 0, rowAt, done, 0, h.height);
    if (!read && (!any || Current().code == Code::Cancelled))
        return {};
    return rows.Finish();
}

// CMYK row by row: each pixel mixes four planes stored one after the other, so row y is read
// from each plane's own place in turn and the four mixed into one row for `rows`. `streamed`
// turns false, nothing read, when the channel cannot seek or the planes lie beyond its reach:
// the caller then reads whole from where it stands.
Picture ReduceInks(Planes& planes, uint32_t aimWidth, uint32_t aimHeight, bool& streamed)
{
    const Header& h = planes.h;
    Reader& in = planes.in;
    streamed = false;
    const uint32_t start = in.Tell();
    // A channel that cannot tell where it is would have us seek to the wrong place.
    if (start == 0 || !in.SeekTo(start))
        return {};
    const uint64_t rowBytes = uint64_t{h.width} * planes.SampleBytes();
    uint64_t at[4] = {start};  // where each plane's next stored row is
    for (uint32_t c = 1; c < 4; ++c) {
        uint64_t plane = 0;
        for (uint32_t y = 0; y < h.height; ++y)
            plane = CheckedAdd(plane, planes.packed ? planes.Count(c - 1, y) : rowBytes);
        at[c] = CheckedAdd(at[c - 1], plane);
    }
    if (at[3] >= UINT32_MAX)
        return {};
    streamed = true;
    reduce::ReducingRows rows(aimWidth, aimHeight);
    auto inks = Scratch<uint8_t>(CheckedMul(h.width, 4));
    if (!inks) {
        Fail(Code::OutOfMemory);
        return {};
    }
    if (!rows.Begin(h.width, h.height))
        return {};
    const uint64_t end = in.End();
    bool read = true;
    uint32_t y = 0;
    for (; y < h.height; ++y) {
        for (uint32_t c = 0; c < 4 && read; ++c) {
            if (!in.SeekTo(at[c])) {
                // Past the end the file was cut; anywhere else the channel failed us, and the
                // whole read from the start is still as good as it was.
                if (at[c] >= end) {
                    read = Fail(Code::ReadError);
                    break;
                }
                streamed = !in.SeekTo(start);
                if (streamed)
                    Fail(Code::ReadError);
                return {};
            }
            read = planes.ReadRow(c, y, inks.get(), 4, c);
            at[c] += planes.packed ? planes.Count(c, y) : rowBytes;
        }
        if (!read)
            break;
        MixInks(inks.get(), rows.Row(y), h.width);
        rows.Done(y);
        if (!Progress(y, h.height))
            return {};
    }
    // A cut file gives the rows that came, the rest black.
    if (!read && y == 0)
        return {};
    return rows.Finish();
}

// bits 24 (RGB24) or 8 (Index8 with 256 RGBQUAD entries in palette).
GlobalBuffer Read(Channel& channel, uint32_t& width, uint32_t& height, uint32_t bits, uint8_t* palette)
{
    width = height = 0;
    if ((bits != 8 && bits != 24) || (bits == 8 && !palette)) {
        Fail(Code::BadArgument);
        return {};
    }
    Reader in(channel);
    Header h;
    uint8_t table[256 * 4];
    uint16_t compression = 0;
    if (!Prologue(channel, in, bits, h, table, compression))
        return {};
    Planes planes{in, h, compression == 1, nullptr, nullptr, nullptr};
    if (!PreparePlanes(planes))
        return {};
    GlobalBuffer image = ReadWhole(planes, bits, table, palette);
    if (image) {
        width = h.width;
        height = h.height;
    }
    return image;
}

// ReadPSD's work: checks the arguments and the handle, hands the image to the caller.
uint8_t* Decode(DataChannel* source, uint32_t* width, uint32_t* height, uint32_t bits, uint8_t* palette)
{
    return reader::HandOver(source, width, height, [&](Channel& channel, uint32_t& w, uint32_t& h) {
        return Read(channel, w, h, bits, palette);
    });
}

}  // namespace

Picture LoadReduced(Channel& channel, uint32_t aimWidth, uint32_t aimHeight)
{
    Reader in(channel);
    Header h;
    uint8_t table[256 * 4];
    uint16_t compression = 0;
    if (!Prologue(channel, in, 24, h, table, compression))
        return {};
    Planes planes{in, h, compression == 1, nullptr, nullptr, nullptr};
    if (!PreparePlanes(planes))
        return {};
    if (h.mode == kRGB)
        return ReducePlanes(planes, aimWidth, aimHeight);
    if (h.mode != kCMYK)
        return ReduceIndices(planes, table, aimWidth, aimHeight);
    bool streamed = false;
    Picture reduced = ReduceInks(planes, aimWidth, aimHeight, streamed);
    if (streamed)
        return reduced;
    GlobalBuffer image = ReadWhole(planes, 24, table, nullptr);
    return reduce::ReducePicture(Picture::RGB24(std::move(image), h.width, h.height), aimWidth, aimHeight);
}

bool Probe(const uint8_t* header, size_t size) noexcept
{
    return size >= 4 && std::memcmp(header, "8BPS", 4) == 0;
}

bool Info(Channel& channel, uint32_t& width, uint32_t& height)
{
    Reader in(channel);
    return reader::SizeFromHeader<Header>(width, height, [&](Header& h) { return ReadHeader(in, h); });
}

Picture LoadRGB24(Channel& channel)
{
    return reader::WholeRGB24([&](uint32_t& w, uint32_t& h) { return Read(channel, w, h, 24, nullptr); });
}

}  // namespace px::psd

extern "C" uint8_t* ReadPSD(DataChannel* source, uint32_t* width, uint32_t* height,
                            uint32_t bitsPerPixel, uint8_t* palette)
{
    return px::Entry([&] { return px::psd::Decode(source, width, height, bitsPerPixel, palette); });
}

extern "C" uint32_t DecodePackBits(uint8_t* destination, uint32_t pixels, uint32_t pixelStride,
                                   uint32_t byteOffset, const uint8_t* source, uint32_t sourceLength,
                                   uint32_t options)
{
    return px::Entry([&] {
        return px::psd::DecodeRow(destination, pixels, pixelStride, byteOffset, source, sourceLength, options);
    });
}
