// TGA files: header, identifier and colour map, raw and run-length pixels, the entry.
#include "formats/tga/tga.h"

#include "formats/byte_source.h"
#include "base/guard.h"
#include "base/frame.h"
#include "imaging/area_reduce.h"

#include <algorithm>
#include <cstring>

namespace px::tga {
namespace {

constexpr uint32_t kHeaderSize = 18;
// The best a repeat packet does: 128 pixels of 8 bits from two bytes.
constexpr uint64_t kRlePixelsPerByte = 64;

struct Header {
    uint8_t idLength = 0;
    uint8_t mapType = 0;
    uint8_t imageType = 0;
    uint16_t mapFirst = 0;
    uint16_t mapLength = 0;
    uint8_t mapEntryBits = 0;
    uint16_t width = 0;
    uint16_t height = 0;
    uint8_t depth = 0;
    uint8_t descriptor = 0;

    bool HasMap() const noexcept { return mapType != 0; }
    bool ColourMapped() const noexcept { return imageType == 1 || imageType == 9; }
    bool RunLength() const noexcept { return imageType >= 9; }
    bool TopRowFirst() const noexcept { return descriptor & 0x20; }
    bool RightToLeft() const noexcept { return descriptor & 0x10; }
};

uint16_t U16(const uint8_t* p) noexcept
{
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

bool KnownValueBits(uint32_t bits) noexcept
{
    return bits == 8 || bits == 15 || bits == 16 || bits == 24 || bits == 32;
}

bool ReadHeader(Channel& channel, Header& h) noexcept
{
    uint8_t raw[kHeaderSize];
    if (!channel.ReadExact(raw, sizeof raw))
        return Fail(Code::ReadError);
    h.idLength = raw[0];
    h.mapType = raw[1];
    h.imageType = raw[2];
    h.mapFirst = U16(raw + 3);
    h.mapLength = U16(raw + 5);
    h.mapEntryBits = raw[7];
    h.width = U16(raw + 12);
    h.height = U16(raw + 14);
    h.depth = raw[16];
    h.descriptor = raw[17];
    const uint8_t type = h.imageType;
    if (!KnownValueBits(h.depth) || !(type == 1 || type == 2 || type == 3 || type == 9 || type == 10 || type == 11))
        return Fail(Code::UnsupportedTga);
    // An empty picture, a colour-mapped one without its map or a map of unknown entries
    // cannot be read.
    if (h.width == 0 || h.height == 0 || (h.ColourMapped() && !h.HasMap()) ||
        (h.HasMap() && !KnownValueBits(h.mapEntryBits)))
        return Fail(Code::UnsupportedTga);
    return true;
}

struct Colour {
    uint8_t red, green, blue;
};

// One value of `bits` as a colour, or as an index where the raw value is wanted.
class ValueReader {
public:
    ValueReader(ByteSource& source, uint32_t bits) noexcept : m_source(source), m_bytes((bits + 7) / 8) {}

    bool Read() noexcept { return m_source.Read(m_raw, m_bytes); }
    Colour AsColour() const noexcept
    {
        switch (m_bytes) {
        case 1:
            return {m_raw[0], m_raw[0], m_raw[0]};
        case 2: {
            const uint32_t v = U16(m_raw);
            return {static_cast<uint8_t>(((v >> 10) & 31) * 8), static_cast<uint8_t>(((v >> 5) & 31) * 8),
                    static_cast<uint8_t>((v & 31) * 8)};
        }
        default:
            return {m_raw[2], m_raw[1], m_raw[0]};
        }
    }
    // Indices beyond the 256-entry palette are held at its last entry.
    uint8_t AsIndex() const noexcept
    {
        return m_bytes == 1 ? m_raw[0] : static_cast<uint8_t>(std::min<uint32_t>(U16(m_raw), 255));
    }

private:
    ByteSource& m_source;
    uint32_t m_bytes;
    uint8_t m_raw[4] = {};
};

// Pixels in file order; run-length packets run on across rows.
class PixelReader {
public:
    PixelReader(ByteSource& source, const Header& h) noexcept
        : m_source(source), m_value(source, h.depth), m_runLength(h.RunLength()) {}

    bool Next() noexcept
    {
        if (!m_runLength)
            return m_value.Read();
        if (m_left == 0) {
            uint8_t packet = 0;
            if (!m_source.Next(packet))
                return false;
            m_repeat = packet & 0x80;
            m_left = (packet & 0x7F) + 1u;
            --m_left;
            return m_value.Read();
        }
        --m_left;
        return m_repeat || m_value.Read();
    }
    const ValueReader& Value() const noexcept { return m_value; }

private:
    ByteSource& m_source;
    ValueReader m_value;
    bool m_runLength;
    bool m_repeat = false;
    uint32_t m_left = 0;
};

// After the header: skips the identifier and reads the colour map into palette (entries
// beyond index 255 are read and dropped), leaving source at the first pixel.
bool ReadPrologue(ByteSource& source, const Header& h, RGBQUAD* palette) noexcept
{
    uint8_t id[255];
    if (!source.Read(id, h.idLength))
        return Fail(Code::ReadError);
    if (!h.HasMap())
        return true;
    ValueReader entry(source, h.mapEntryBits);
    for (uint32_t i = 0; i < h.mapLength; ++i) {
        if (!entry.Read())
            return Fail(Code::ReadError);
        const uint32_t index = uint32_t{h.mapFirst} + i;
        if (index < 256) {
            const Colour c = entry.AsColour();
            palette[index] = RGBQUAD{c.blue, c.green, c.red, 0};
        }
    }
    return true;
}

// Decodes every pixel into rowAt(y) (RGB24, or indices when `indices`), calling done(y) after
// each row and reporting rows. False with a code when a pixel cannot be read or the read is
// cancelled.
template <class RowAt, class Done>
bool DecodePixels(ByteSource& source, const Header& h, const RGBQUAD* palette, bool indices, RowAt&& rowAt,
                  Done&& done) noexcept
{
    PixelReader pixels(source, h);
    const uint32_t width = h.width;
    const uint32_t height = h.height;
    const bool mapped = h.ColourMapped();
    for (uint32_t r = 0; r < height; ++r) {
        const uint32_t y = h.TopRowFirst() ? r : height - 1 - r;
        uint8_t* row = rowAt(y);
        for (uint32_t i = 0; i < width; ++i) {
            if (!pixels.Next())
                return Fail(Code::ReadError);
            const uint32_t x = h.RightToLeft() ? width - 1 - i : i;
            const ValueReader& v = pixels.Value();
            if (indices) {
                row[x] = v.AsIndex();
                continue;
            }
            uint8_t* out = row + x * 3;
            if (mapped) {
                const RGBQUAD& q = palette[v.AsIndex()];
                out[0] = q.rgbRed;
                out[1] = q.rgbGreen;
                out[2] = q.rgbBlue;
            } else {
                const Colour c = v.AsColour();
                out[0] = c.red;
                out[1] = c.green;
                out[2] = c.blue;
            }
        }
        done(y);
        if (!Progress(r, height))
            return false;
    }
    return true;
}

// Header, claimed-size guard and the parts before the pixels.
bool Prologue(Channel& channel, ByteSource& source, Header& h, bool indices, RGBQUAD* map)
{
    if (!ReadHeader(channel, h))
        return false;
    if (indices && (h.depth > 8 || !h.ColourMapped()))
        return Fail(Code::LayoutUnavailable);
    const uint64_t expansion = h.RunLength() ? kRlePixelsPerByte : 1;
    if (!GuardClaim(channel, h.width, h.height, 1, expansion, Code::ReadError))
        return false;
    return ReadPrologue(source, h, map);
}

// Index8 of a colour-mapped file with its map in palette.
GlobalBuffer ReadIndices(Channel& channel, uint32_t& width, uint32_t& height, RGBQUAD* palette)
{
    Header h;
    RGBQUAD map[256] = {};
    ByteSource source(channel);
    if (!Prologue(channel, source, h, true, map))
        return {};
    GlobalBuffer image = AllocateImage(h.width, h.height, 8);
    if (!image ||
        !DecodePixels(source, h, map, true, [&](uint32_t y) { return image.get() + uint64_t{y} * h.width; },
                      [](uint32_t) {}))
        return {};
    std::memcpy(palette, map, sizeof map);
    width = h.width;
    height = h.height;
    return image;
}

// RGB24 into `rows`. A whole load that fails gives nothing; a reduced one the rows that came.
Picture ReadRGB24(Channel& channel, reduce::RgbRows& rows, bool partial)
{
    Header h;
    RGBQUAD map[256] = {};
    ByteSource source(channel);
    if (!Prologue(channel, source, h, false, map) || !rows.Begin(h.width, h.height))
        return {};
    bool any = false;
    const bool decoded = DecodePixels(source, h, map, false, [&](uint32_t y) { return rows.Row(y); },
                                      [&](uint32_t y) { rows.Done(y), any = true; });
    if (!decoded && (!partial || !any || Current().code == Code::Cancelled))
        return {};
    return rows.Finish();
}

}  // namespace

bool Info(Channel& channel, uint32_t& width, uint32_t& height)
{
    return reader::SizeFromHeader<Header>(width, height, [&](Header& h) { return ReadHeader(channel, h); });
}

Picture LoadRGB24(Channel& channel)
{
    reduce::WholeRows rows;
    return ReadRGB24(channel, rows, false);
}

Picture LoadReduced(Channel& channel, uint32_t aimWidth, uint32_t aimHeight)
{
    reduce::ReducingRows rows(aimWidth, aimHeight);
    return ReadRGB24(channel, rows, true);
}

uint8_t* Read(DataChannel* handle, uint32_t* width, uint32_t* height, uint32_t bitsPerPixel,
              uint8_t* palette)
{
    if (!reader::AcceptWholeRead(handle, width, height, bitsPerPixel, palette))
        return nullptr;
    Channel channel(handle);
    if (bitsPerPixel == 8)
        return ReadIndices(channel, *width, *height, reinterpret_cast<RGBQUAD*>(palette)).Release();
    Picture picture = LoadRGB24(channel);
    *width = picture.width();
    *height = picture.height();
    return picture.Release();
}

}  // namespace px::tga

extern "C" uint8_t* ReadTGA(DataChannel* channel, uint32_t* width, uint32_t* height,
                            uint32_t bitsPerPixel, uint8_t* palette)
{
    return px::Entry([&] { return px::tga::Read(channel, width, height, bitsPerPixel, palette); });
}
