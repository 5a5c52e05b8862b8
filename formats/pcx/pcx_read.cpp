// PCX files: header and palettes, scan-line decoding, plane combination, the entries.
#include "formats/pcx/pcx.h"

#include "formats/byte_source.h"
#include "base/guard.h"
#include "formats/reader.h"
#include "base/frame.h"
#include "imaging/area_reduce.h"

#include <algorithm>
#include <cstring>
#include <memory>

namespace px::pcx {
namespace {

constexpr uint32_t kHeaderSize = 128;
constexpr uint8_t kPaletteMarker = 12;
constexpr int32_t kPaletteTail = 769;  // the marker and 256 triples at the end of the file
// The best a run does: 63 bytes from two.
constexpr uint64_t kBytesPerFileByte = 32;

struct Header {
    uint8_t version = 0;
    uint8_t bitsPerPlane = 0;
    uint8_t planes = 0;
    uint16_t bytesPerLine = 0;
    uint8_t palette16[48] = {};
    uint32_t width = 0;
    uint32_t height = 0;
};

uint16_t U16(const uint8_t* p) noexcept
{
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

bool KnownVersion(uint8_t version) noexcept
{
    return version == 0 || version == 2 || version == 3 || version == 5;
}

// Layouts whose rows split into whole pixels: one plane of 1, 2, 4 or 8 bits, two or four
// planes of 1 bit, three planes of 8 bits, and four of 8 bits (red, green, blue, alpha).
bool Deliverable(const Header& h) noexcept
{
    if (h.planes == 1)
        return h.bitsPerPlane == 1 || h.bitsPerPlane == 2 || h.bitsPerPlane == 4 || h.bitsPerPlane == 8;
    if (h.bitsPerPlane == 1)
        return h.planes == 2 || h.planes == 4;
    return h.bitsPerPlane == 8 && (h.planes == 3 || h.planes == 4);
}

// The header from the start of the channel; false with code 22 when it is not a PCX header.
bool ReadHeader(Channel& channel, Header& header) noexcept
{
    uint8_t raw[kHeaderSize];
    if (!channel.Rewind() || !channel.ReadExact(raw, sizeof raw))
        return Fail(Code::NotPcx);
    if (raw[0] != 10 || !KnownVersion(raw[1]))
        return Fail(Code::NotPcx);
    header.version = raw[1];
    header.bitsPerPlane = raw[3];
    const auto xmin = static_cast<int16_t>(U16(raw + 4));
    const auto ymin = static_cast<int16_t>(U16(raw + 6));
    const auto xmax = static_cast<int16_t>(U16(raw + 8));
    const auto ymax = static_cast<int16_t>(U16(raw + 10));
    std::memcpy(header.palette16, raw + 16, sizeof header.palette16);
    header.planes = raw[65];
    header.bytesPerLine = U16(raw + 66);
    const int32_t width = int32_t{xmax} - xmin + 1;
    const int32_t height = int32_t{ymax} - ymin + 1;
    if (width < 1 || height < 1)
        return Fail(Code::NotPcx);
    header.width = static_cast<uint32_t>(width);
    header.height = static_cast<uint32_t>(height);
    return true;
}

}  // namespace
}  // namespace px::pcx

struct PCXRowReader {
    explicit PCXRowReader(DataChannel* handle) noexcept : channel(handle), source(channel) {}

    px::pcx::Header header;
    bool indexed = false;
    RGBQUAD palette[256] = {};
    uint32_t depth = 0;
    uint32_t rowsDelivered = 0;
    px::Channel channel;
    px::ByteSource source;  // reads the channel from byte 128 on
    std::unique_ptr<uint8_t[]> scanLine;  // bytes per line for each plane, plane after plane
};

namespace px::pcx {
namespace {

void GreyRamp(RGBQUAD* palette) noexcept
{
    for (int i = 0; i < 256; ++i) {
        const auto v = static_cast<uint8_t>(i);
        palette[i] = RGBQUAD{v, v, v, 0};
    }
}

void FillPalette(PCXRowReader& r) noexcept
{
    GreyRamp(r.palette);
    if (r.header.version == 5 && r.depth == 8) {
        uint8_t marker = 0;
        uint8_t triples[768];
        if (r.channel.Seek(-kPaletteTail, 2) && r.channel.ReadExact(&marker, 1) &&
            marker == kPaletteMarker && r.channel.ReadExact(triples, sizeof triples)) {
            for (int i = 0; i < 256; ++i)
                r.palette[i] = RGBQUAD{triples[3 * i + 2], triples[3 * i + 1], triples[3 * i], 0};
        } else {
            GreyRamp(r.palette);  // a failed read may have filled part of it
        }
    }
    if (r.depth < 8) {
        const uint32_t colours = 1u << r.depth;
        for (uint32_t i = 0; i < colours; ++i) {
            const uint8_t* t = r.header.palette16 + 3 * i;
            r.palette[i] = RGBQUAD{t[2], t[1], t[0], 0};
        }
        if (r.depth == 1) {
            r.palette[0] = RGBQUAD{0, 0, 0, 0};
            r.palette[1] = RGBQUAD{255, 255, 255, 0};
        }
        for (uint32_t i = colours; i < 256; ++i)
            r.palette[i] = r.palette[0];
    }
}

// Opens a row reader; with a palette (256 RGBQUAD entries) rows are Index8 and the palette is
// copied out, else they are RGB24.
std::unique_ptr<PCXRowReader> Open(DataChannel* handle, RGBQUAD* palette)
{
    auto reader = std::make_unique<PCXRowReader>(handle);
    PCXRowReader& r = *reader;
    if (!ReadHeader(r.channel, r.header))
        return nullptr;
    const Header& h = r.header;
    r.depth = uint32_t{h.bitsPerPlane} * h.planes;
    if (palette && r.depth > 8)
        return Fail(Code::LayoutUnavailable);
    if (!Deliverable(h))
        return Fail(Code::LayoutUnavailable);
    // Each plane's line must hold the row's pixels.
    if (uint64_t{h.bytesPerLine} * 8 < uint64_t{h.width} * h.bitsPerPlane)
        return Fail(Code::NotPcx);
    const uint64_t lineBytes = uint64_t{h.bytesPerLine} * h.planes;
    if (!GuardClaim(r.channel, lineBytes, h.height, 1, kBytesPerFileByte, Code::NotPcx))
        return nullptr;
    FillPalette(r);
    if (RowBytes(h.width, 24) >= kMaxGlobalBytes)
        return Fail(Code::OutOfMemory);
    r.scanLine = Scratch<uint8_t>(lineBytes);
    if (!r.scanLine)
        return Fail(Code::OutOfMemory);
    // Without data behind the header the source stays empty, and rows decode as zeros.
    r.channel.Seek(static_cast<int32_t>(kHeaderSize), 0);
    r.indexed = palette != nullptr;
    if (palette)
        std::memcpy(palette, r.palette, sizeof r.palette);
    return reader;
}

// Runs are cut at the end of the line; data that has run out decodes as zeros, all at once.
void DecodeScanLine(PCXRowReader& r) noexcept
{
    uint8_t* line = r.scanLine.get();
    const size_t total = size_t{r.header.bytesPerLine} * r.header.planes;
    size_t n = 0;
    while (n < total) {
        uint8_t byte = 0;
        if (!r.source.Next(byte)) {
            std::memset(line + n, 0, total - n);
            return;
        }
        if (byte >= 0xC0) {
            uint8_t value = 0;
            r.source.Next(value);
            const size_t count = std::min<size_t>(byte & 0x3F, total - n);
            std::memset(line + n, value, count);
            n += count;
        } else {
            line[n++] = byte;
        }
    }
}

// Index of pixel x: plane 0 gives the lowest bit when single-bit planes are combined.
uint8_t IndexAt(const PCXRowReader& r, uint32_t x) noexcept
{
    const uint8_t* line = r.scanLine.get();
    const Header& h = r.header;
    if (h.planes == 1) {
        const uint32_t bits = h.bitsPerPlane;
        const uint64_t bitPos = uint64_t{x} * bits;
        const unsigned shift = 8 - bits - (bitPos & 7);
        return static_cast<uint8_t>((line[bitPos >> 3] >> shift) & ((1u << bits) - 1));
    }
    uint8_t index = 0;
    for (uint32_t p = 0; p < h.planes; ++p) {
        const uint8_t* plane = line + size_t{p} * h.bytesPerLine;
        index |= static_cast<uint8_t>(((plane[x >> 3] >> (7 - (x & 7))) & 1) << p);
    }
    return index;
}

void DecodeRow(PCXRowReader& r, uint8_t* row) noexcept
{
    DecodeScanLine(r);
    const Header& h = r.header;
    const uint32_t width = h.width;
    const uint8_t* line = r.scanLine.get();
    if (r.depth == 24) {
        const size_t bpl = h.bytesPerLine;
        for (uint32_t x = 0; x < width; ++x, row += 3) {
            row[0] = line[x];
            row[1] = line[bpl + x];
            row[2] = line[2 * bpl + x];
        }
    } else if (r.depth == 32) {
        // Alpha laid onto black, as the other readers lay transparency.
        const size_t bpl = h.bytesPerLine;
        for (uint32_t x = 0; x < width; ++x, row += 3) {
            const uint32_t alpha = line[3 * bpl + x];
            for (size_t c = 0; c < 3; ++c)
                row[c] = static_cast<uint8_t>((line[c * bpl + x] * alpha + 127) / 255);
        }
    } else if (r.indexed) {
        for (uint32_t x = 0; x < width; ++x)
            row[x] = IndexAt(r, x);
    } else {
        for (uint32_t x = 0; x < width; ++x, row += 3) {
            const RGBQUAD& q = r.palette[IndexAt(r, x)];
            row[0] = q.rgbRed;
            row[1] = q.rgbGreen;
            row[2] = q.rgbBlue;
        }
    }
    ++r.rowsDelivered;
}

// endedEarly, when given, tells whether the data ran out before the last row.
GlobalBuffer ReadWhole(Channel& channel, uint32_t& width, uint32_t& height, uint32_t bits,
                       RGBQUAD* palette, bool* endedEarly = nullptr)
{
    std::unique_ptr<PCXRowReader> reader = Open(channel.handle(), palette);
    if (!reader)
        return {};
    const Header& h = reader->header;
    GlobalBuffer image = AllocateImage(h.width, h.height, bits);
    if (!image)
        return {};
    width = h.width;
    height = h.height;
    const uint64_t stride = RowBytes(h.width, bits);
    for (uint32_t y = 0; y < h.height; ++y) {
        DecodeRow(*reader, image.get() + y * stride);
        if (!Progress(y, h.height))
            break;
    }
    if (endedEarly)
        *endedEarly = reader->source.Exhausted();
    return image;
}

}  // namespace

bool Probe(const uint8_t* header, size_t size) noexcept
{
    return size >= 2 && header[0] == 10 && (header[1] == 0 || header[1] == 2 || header[1] == 3 || header[1] == 5);
}

bool Info(Channel& channel, uint32_t& width, uint32_t& height)
{
    return reader::SizeFromHeader<Header>(width, height, [&](Header& h) { return ReadHeader(channel, h); });
}

Picture LoadRGB24(Channel& channel)
{
    uint32_t width = 0, height = 0;
    bool endedEarly = false;
    GlobalBuffer pixels = ReadWhole(channel, width, height, 24, nullptr, &endedEarly);
    // The entries decode a cut file without complaint; a load tells it, as for other types.
    if (pixels && endedEarly && Current().code == Code::None)
        Fail(Code::ReadError);
    return Picture::RGB24(std::move(pixels), width, height);
}

Picture LoadReduced(Channel& channel, uint32_t aimWidth, uint32_t aimHeight)
{
    std::unique_ptr<PCXRowReader> reader = Open(channel.handle(), nullptr);
    reduce::ReducingRows rows(aimWidth, aimHeight);
    if (!reader || !rows.Begin(reader->header.width, reader->header.height))
        return {};
    const uint32_t height = reader->header.height;
    for (uint32_t y = 0; y < height; ++y) {
        DecodeRow(*reader, rows.Row(y));
        rows.Done(y);
        if (!Progress(y, height))
            return {};
    }
    if (reader->source.Exhausted())
        Fail(Code::ReadError);  // a cut file: the missing rows decode as zeros, as LoadRGB24's
    return rows.Finish();
}

namespace {

// The operations behind the C entries.
uint8_t* Read(DataChannel* handle, uint32_t* width, uint32_t* height, uint32_t bitsPerPixel,
              uint8_t* palette)
{
    if (!reader::AcceptWholeRead(handle, width, height, bitsPerPixel, palette))
        return nullptr;
    Channel channel(handle);
    RGBQUAD* table = bitsPerPixel == 8 ? reinterpret_cast<RGBQUAD*>(palette) : nullptr;
    return ReadWhole(channel, *width, *height, bitsPerPixel, table).Release();
}

PCXRowReader* BeginRows(DataChannel* handle, uint32_t* width, uint32_t* height)
{
    if (!AcceptReader(handle, width, height))
        return nullptr;
    std::unique_ptr<PCXRowReader> reader = Open(handle, nullptr);
    if (!reader)
        return nullptr;
    PCXRowReader* kept = reader::RowReaders<PCXRowReader>::Keep(std::move(reader));
    if (!kept)
        return nullptr;
    *width = kept->header.width;
    *height = kept->header.height;
    return kept;
}

uint32_t ReadRow(PCXRowReader* reader, uint8_t* row, uint32_t* rowNumber)
{
    if (!reader::RowReaders<PCXRowReader>::Usable(reader, row))
        return 0;
    if (reader->rowsDelivered >= reader->header.height)
        return Fail(Code::RowOutOfRange);
    if (rowNumber)
        *rowNumber = reader->rowsDelivered;
    DecodeRow(*reader, row);
    return 1;
}

uint32_t EndRows(PCXRowReader* reader)
{
    return reader::RowReaders<PCXRowReader>::End(reader);
}

}  // namespace
}  // namespace px::pcx

extern "C" uint8_t* ReadPCX(DataChannel* channel, uint32_t* width, uint32_t* height,
                            uint32_t bitsPerPixel, uint8_t* palette)
{
    return px::Entry([&] { return px::pcx::Read(channel, width, height, bitsPerPixel, palette); });
}

extern "C" PCXRowReader* BeginPCXRows(DataChannel* channel, uint32_t* width, uint32_t* height)
{
    return px::Entry([&] { return px::pcx::BeginRows(channel, width, height); });
}

extern "C" uint32_t ReadPCXRow(PCXRowReader* reader, uint8_t* row, uint32_t* rowNumber)
{
    return px::Entry([&] { return px::pcx::ReadRow(reader, row, rowNumber); });
}

extern "C" uint32_t EndPCXRows(PCXRowReader* reader)
{
    return px::Entry([&] { return px::pcx::EndRows(reader); });
}
