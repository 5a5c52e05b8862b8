// PSD reading: header and sections, then the merged image plane by plane, raw or PackBits.
#include "formats/psd/psd.h"
#include "formats/psd/psd_internal.h"

#include "base/guard.h"
#include "base/frame.h"

#include <algorithm>
#include <cstring>

namespace px::psd {
namespace {

// PackBits at its best: a two-byte run of 128 bytes.
constexpr uint64_t kPackBitsExpansion = 64;

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

void PutEntry(uint8_t* palette, uint32_t i, uint8_t r, uint8_t g, uint8_t b) noexcept
{
    palette[4 * i] = b;
    palette[4 * i + 1] = g;
    palette[4 * i + 2] = r;
    palette[4 * i + 3] = 0;
}

void ShrinkTo(GlobalBuffer& buffer, size_t bytes) noexcept
{
    if (bytes < buffer.size() && GlobalReAlloc(buffer.get(), bytes, 0)) {
        uint8_t* data = buffer.Release();
        buffer = GlobalBuffer(data, bytes);
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

namespace {

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
