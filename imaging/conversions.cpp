// Pixel layout conversions: grey, channel order, alpha, planes, bit packing, flips, mirrors.
#include "imaging/conversions.h"

#include "base/frame.h"
#include "base/image.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace px::convert {
namespace {

// The three products of every byte value. Looking them up gives the same doubles as
// multiplying in place, and no multiply-add can be fused into the sum.
struct LuminanceTables {
    double red[256];
    double green[256];
    double blue[256];
};

const LuminanceTables& Tables() noexcept
{
    static const LuminanceTables tables = [] {
        LuminanceTables t{};
        for (int v = 0; v < 256; ++v) {
            t.red[v] = 0.299 * v;
            t.green[v] = 0.587 * v;
            t.blue[v] = 0.114 * v;
        }
        return t;
    }();
    return tables;
}

// Calls rowOp(y) for every row, then reports progress; false when the callback stopped.
template <class RowOp>
bool EachRow(uint32_t rows, RowOp&& rowOp)
{
    for (uint32_t y = 0; y < rows; ++y) {
        rowOp(y);
        if (!Progress(y, rows))
            return false;
    }
    return true;
}

uint32_t ToGrey(const uint8_t* rgb, uint32_t width, uint32_t height, uint8_t* grey)
{
    if (!rgb || !grey)
        return Fail(Code::BadArgument);
    if (!Addressable(width, height, 3))
        return 0;
    return EachRow(height, [&](uint32_t y) {
        const size_t row = static_cast<size_t>(y) * width;
        LuminanceRow(rgb + row * 3, width, grey + row);
    });
}

uint32_t Greyscale(uint8_t* rgb, uint32_t width, uint32_t height)
{
    if (!rgb)
        return Fail(Code::BadArgument);
    if (!Addressable(width, height, 3))
        return 0;
    return EachRow(height, [&](uint32_t y) {
        uint8_t* p = rgb + static_cast<size_t>(y) * width * 3;
        for (uint32_t x = 0; x < width; ++x, p += 3)
            p[0] = p[1] = p[2] = Luminance(p[0], p[1], p[2]);
    });
}

uint32_t SwapRB(uint8_t* rgb, uint32_t width, uint32_t height)
{
    if (!rgb)
        return Fail(Code::BadArgument);
    if (!Addressable(width, height, 3))
        return 0;
    return EachRow(height, [&](uint32_t y) {
        uint8_t* p = rgb + static_cast<size_t>(y) * width * 3;
        for (uint32_t x = 0; x < width; ++x, p += 3)
            std::swap(p[0], p[2]);
    });
}

uint32_t Expand(const uint8_t* indices, uint8_t* rgbOut, uint32_t width, uint32_t height, const uint8_t* palette)
{
    if (!indices || !rgbOut || !palette)
        return Fail(Code::BadArgument);
    if (!Addressable(width, height, 3))
        return 0;
    return EachRow(height, [&](uint32_t y) {
        const size_t row = static_cast<size_t>(y) * width;
        const uint8_t* in = indices + row;
        uint8_t* out = rgbOut + row * 3;
        for (uint32_t x = 0; x < width; ++x, out += 3) {
            const uint8_t* entry = palette + in[x] * 4;  // RGBQUAD: blue, green, red, 0
            out[0] = entry[2];
            out[1] = entry[1];
            out[2] = entry[0];
        }
    });
}

// RGBA32 from RGB24 with the alpha of each pixel taken from `alpha`, or `constantAlpha`
// when the plane is null.
uint32_t ToRGBA(const uint8_t* rgb, const uint8_t* alpha, uint32_t width, uint32_t height, uint8_t* rgbaOut,
                uint8_t constantAlpha)
{
    if (!rgb || !rgbaOut)
        return Fail(Code::BadArgument);
    if (!Addressable(width, height, 4))
        return 0;
    return EachRow(height, [&](uint32_t y) {
        const size_t row = static_cast<size_t>(y) * width;
        const uint8_t* in = rgb + row * 3;
        uint8_t* out = rgbaOut + row * 4;
        for (uint32_t x = 0; x < width; ++x, in += 3, out += 4) {
            out[0] = in[0];
            out[1] = in[1];
            out[2] = in[2];
            out[3] = alpha ? alpha[row + x] : constantAlpha;
        }
    });
}

uint32_t SplitAlpha(const uint8_t* rgba, uint32_t width, uint32_t height, uint8_t* rgbOut, uint8_t* alphaOut)
{
    if (!rgba || (!rgbOut && !alphaOut))
        return Fail(Code::BadArgument);
    if (!Addressable(width, height, 4))
        return 0;
    return EachRow(height, [&](uint32_t y) {
        const size_t row = static_cast<size_t>(y) * width;
        const uint8_t* in = rgba + row * 4;
        for (uint32_t x = 0; x < width; ++x, in += 4) {
            if (rgbOut) {
                uint8_t* out = rgbOut + (row + x) * 3;
                out[0] = in[0];
                out[1] = in[1];
                out[2] = in[2];
            }
            if (alphaOut)
                alphaOut[row + x] = in[3];
        }
    });
}

uint32_t SetAlphaPlane(uint8_t* rgba, uint32_t width, uint32_t height, const uint8_t* alpha)
{
    if (!rgba || !alpha)
        return Fail(Code::BadArgument);
    if (!Addressable(width, height, 4))
        return 0;
    return EachRow(height, [&](uint32_t y) {
        const size_t row = static_cast<size_t>(y) * width;
        uint8_t* p = rgba + row * 4;
        for (uint32_t x = 0; x < width; ++x, p += 4)
            p[3] = alpha[row + x];
    });
}

uint32_t Split(const uint8_t* rgb, uint32_t width, uint32_t height, uint8_t* red, uint8_t* green, uint8_t* blue)
{
    if (!rgb || !red || !green || !blue)
        return Fail(Code::BadArgument);
    if (!Addressable(width, height, 3))
        return 0;
    return EachRow(height, [&](uint32_t y) {
        const size_t row = static_cast<size_t>(y) * width;
        const uint8_t* in = rgb + row * 3;
        for (size_t i = row; i < row + width; ++i, in += 3) {
            red[i] = in[0];
            green[i] = in[1];
            blue[i] = in[2];
        }
    });
}

uint32_t Join(uint8_t* rgb, uint32_t width, uint32_t height, const uint8_t* red, const uint8_t* green,
              const uint8_t* blue)
{
    if (!rgb || !red || !green || !blue)
        return Fail(Code::BadArgument);
    if (!Addressable(width, height, 3))
        return 0;
    return EachRow(height, [&](uint32_t y) {
        const size_t row = static_cast<size_t>(y) * width;
        uint8_t* out = rgb + row * 3;
        for (size_t i = row; i < row + width; ++i, out += 3) {
            out[0] = red[i];
            out[1] = green[i];
            out[2] = blue[i];
        }
    });
}

uint32_t Copy(const uint8_t* src, uint32_t srcStride, uint32_t rows, uint32_t dstStride, uint8_t* dst)
{
    if (!src || !dst)
        return Fail(Code::BadArgument);
    const size_t count = std::min(srcStride, dstStride);
    return EachRow(rows, [&](uint32_t y) {
        // memmove: nothing forbids a caller from copying within one buffer.
        std::memmove(dst + static_cast<size_t>(y) * dstStride, src + static_cast<size_t>(y) * srcStride, count);
    });
}

// Collects values of `bits` bits, most significant first, and writes whole bytes.
class BitWriter {
public:
    explicit BitWriter(uint8_t* out) noexcept : m_out(out) {}
    void Put(uint32_t value, uint32_t bits) noexcept
    {
        m_acc = (m_acc << bits) | value;
        m_count += bits;
        if (m_count >= 8) {
            m_count -= 8;
            *m_out++ = static_cast<uint8_t>(m_acc >> m_count);
            m_acc &= (1u << m_count) - 1;
        }
    }
    // Writes a started byte with zero bits after the last value.
    void Flush() noexcept
    {
        if (m_count > 0)
            *m_out++ = static_cast<uint8_t>(m_acc << (8 - m_count));
        m_acc = 0;
        m_count = 0;
    }

private:
    uint8_t* m_out;
    uint32_t m_acc = 0;
    uint32_t m_count = 0;
};

uint32_t Pack(const uint8_t* bytes, uint32_t width, uint32_t rows, uint8_t* out, uint32_t bits, uint32_t rowAligned,
              uint32_t outStride)
{
    if (!bytes || !out || bits < 1 || bits > 8)
        return Fail(Code::BadArgument);
    if (!Addressable(width, rows, 1))
        return 0;
    const uint32_t mask = (1u << bits) - 1;
    if (rowAligned) {
        return EachRow(rows, [&](uint32_t y) {
            const uint8_t* in = bytes + static_cast<size_t>(y) * width;
            BitWriter writer(out + static_cast<size_t>(y) * outStride);
            for (uint32_t x = 0; x < width; ++x)
                writer.Put(in[x] & mask, bits);
            writer.Flush();
        });
    }
    BitWriter writer(out);
    return EachRow(rows, [&](uint32_t y) {
        const uint8_t* in = bytes + static_cast<size_t>(y) * width;
        for (uint32_t x = 0; x < width; ++x)
            writer.Put(in[x] & mask, bits);
        if (y + 1 == rows)
            writer.Flush();
    });
}

uint32_t Unpack(const uint8_t* packed, uint32_t width, uint32_t rows, uint32_t bits, uint8_t* out)
{
    if (!packed || !out || bits < 1 || bits > 8)
        return Fail(Code::BadArgument);
    if (!Addressable(width, rows, 1))
        return 0;
    const uint32_t mask = (1u << bits) - 1;
    uint32_t acc = 0;
    uint32_t count = 0;
    return EachRow(rows, [&](uint32_t y) {
        uint8_t* o = out + static_cast<size_t>(y) * width;
        for (uint32_t x = 0; x < width; ++x) {
            if (count < bits) {  // reads a byte only when a value needs it: never past the stream
                acc = (acc << 8) | *packed++;
                count += 8;
            }
            count -= bits;
            o[x] = static_cast<uint8_t>((acc >> count) & mask);
            acc &= (1u << count) - 1;
        }
    });
}

uint32_t Flip(uint8_t* pixels, uint32_t rowBytes, uint32_t rows)
{
    if (!pixels)
        return Fail(Code::BadArgument);
    auto scratch = ScratchOrFail(rowBytes);
    if (!scratch)
        return 0;
    return EachRow((rows + 1) / 2, [&](uint32_t k) {
        const uint32_t other = rows - 1 - k;
        if (other == k)
            return;  // the middle row of an odd count stays
        uint8_t* a = pixels + static_cast<size_t>(k) * rowBytes;
        uint8_t* b = pixels + static_cast<size_t>(other) * rowBytes;
        std::memcpy(scratch.get(), a, rowBytes);
        std::memcpy(a, b, rowBytes);
        std::memcpy(b, scratch.get(), rowBytes);
    });
}

uint32_t Mirror(uint8_t* pixels, uint32_t width, uint32_t rows, uint32_t bytesPerPixel)
{
    if (!pixels || bytesPerPixel == 0)
        return Fail(Code::BadArgument);
    if (!Addressable(width, rows, bytesPerPixel))
        return 0;
    const size_t rowBytes = static_cast<size_t>(width) * bytesPerPixel;
    auto scratch = ScratchOrFail(rowBytes);
    if (!scratch)
        return 0;
    return EachRow(rows, [&](uint32_t y) {
        uint8_t* row = pixels + y * rowBytes;
        std::memcpy(scratch.get(), row, rowBytes);
        const uint8_t* from = scratch.get() + rowBytes;
        for (uint32_t x = 0; x < width; ++x, row += bytesPerPixel) {
            from -= bytesPerPixel;
            std::memcpy(row, from, bytesPerPixel);
        }
    });
}

uint32_t MirrorBits(uint8_t* pixels, uint32_t width, uint32_t rows)
{
    if (!pixels)
        return Fail(Code::BadArgument);
    const size_t rowBytes = (static_cast<size_t>(width) + 7) / 8;
    auto scratch = ScratchOrFail(rowBytes);
    if (!scratch)
        return 0;
    return EachRow(rows, [&](uint32_t y) {
        uint8_t* row = pixels + y * rowBytes;
        uint8_t* mirrored = scratch.get();
        std::memset(mirrored, 0, rowBytes);  // the bits past the last pixel come out 0
        for (uint32_t x = 0; x < width; ++x) {
            if (row[x >> 3] & (0x80u >> (x & 7))) {
                const uint32_t to = width - 1 - x;
                mirrored[to >> 3] |= static_cast<uint8_t>(0x80u >> (to & 7));
            }
        }
        std::memcpy(row, mirrored, rowBytes);
    });
}

}  // namespace

uint8_t Luminance(uint8_t red, uint8_t green, uint8_t blue) noexcept
{
    const LuminanceTables& t = Tables();
    return static_cast<uint8_t>(static_cast<int>((t.red[red] + t.green[green]) + t.blue[blue]));
}

void LuminanceRow(const uint8_t* rgb, size_t count, uint8_t* grey) noexcept
{
    const LuminanceTables& t = Tables();
    for (size_t i = 0; i < count; ++i, rgb += 3)
        grey[i] = static_cast<uint8_t>(static_cast<int>((t.red[rgb[0]] + t.green[rgb[1]]) + t.blue[rgb[2]]));
}

bool Addressable(uint32_t width, uint32_t height, uint64_t bytesPerPixel) noexcept
{
    if (CheckedMul(CheckedMul(width, height), bytesPerPixel) == std::numeric_limits<uint64_t>::max()) {
        Fail(Code::BadArgument);
        return false;
    }
    return true;
}

std::unique_ptr<uint8_t[]> ScratchOrFail(uint64_t bytes) noexcept
{
    auto block = Scratch<uint8_t>(bytes);
    if (!block)
        Fail(Code::OutOfMemory);
    return block;
}

}  // namespace px::convert

namespace convert = px::convert;

extern "C" uint32_t RGBToGrey8(const uint8_t* rgb, uint32_t width, uint32_t height, uint8_t* grey)
{
    return px::Entry([&] { return convert::ToGrey(rgb, width, height, grey); });
}

extern "C" uint32_t GreyscaleRGB24(uint8_t* rgb, uint32_t width, uint32_t height)
{
    return px::Entry([&] { return convert::Greyscale(rgb, width, height); });
}

extern "C" uint32_t SwapRedBlue(uint8_t* rgb, uint32_t width, uint32_t height)
{
    return px::Entry([&] { return convert::SwapRB(rgb, width, height); });
}

extern "C" uint32_t ExpandIndex8(const uint8_t* indices, uint8_t* rgbOut, uint32_t width, uint32_t height,
                                 uint32_t /*count*/, const uint8_t* palette)
{
    return px::Entry([&] { return convert::Expand(indices, rgbOut, width, height, palette); });
}

extern "C" uint32_t RGB24ToRGBA32(const uint8_t* rgb, uint32_t width, uint32_t height, uint8_t alpha,
                                  uint8_t* rgbaOut)
{
    return px::Entry([&] { return convert::ToRGBA(rgb, nullptr, width, height, rgbaOut, alpha); });
}

extern "C" uint32_t SplitRGBA32(const uint8_t* rgba, uint32_t width, uint32_t height, uint8_t* rgbOut,
                                uint8_t* alphaOut)
{
    return px::Entry([&] { return convert::SplitAlpha(rgba, width, height, rgbOut, alphaOut); });
}

extern "C" uint32_t JoinAlpha(const uint8_t* rgb, const uint8_t* alpha, uint32_t width, uint32_t height,
                              uint8_t* rgbaOut, uint8_t constantAlpha)
{
    return px::Entry([&] { return convert::ToRGBA(rgb, alpha, width, height, rgbaOut, constantAlpha); });
}

extern "C" uint32_t SetAlpha(uint8_t* rgba, uint32_t width, uint32_t height, const uint8_t* alpha)
{
    return px::Entry([&] { return convert::SetAlphaPlane(rgba, width, height, alpha); });
}

extern "C" uint32_t SplitPlanes(const uint8_t* rgb, uint32_t width, uint32_t height, uint8_t* red, uint8_t* green,
                                uint8_t* blue)
{
    return px::Entry([&] { return convert::Split(rgb, width, height, red, green, blue); });
}

extern "C" uint32_t JoinPlanes(uint8_t* rgb, uint32_t width, uint32_t height, const uint8_t* red,
                               const uint8_t* green, const uint8_t* blue)
{
    return px::Entry([&] { return convert::Join(rgb, width, height, red, green, blue); });
}

extern "C" uint32_t CopyRows(const uint8_t* src, uint32_t srcStride, uint32_t rows, uint32_t dstStride, uint8_t* dst)
{
    return px::Entry([&] { return convert::Copy(src, srcStride, rows, dstStride, dst); });
}

extern "C" uint32_t PackBits(const uint8_t* bytes, uint32_t width, uint32_t rows, uint8_t* out, uint32_t bits,
                             uint32_t rowAligned, uint32_t outStride)
{
    return px::Entry([&] { return convert::Pack(bytes, width, rows, out, bits, rowAligned, outStride); });
}

extern "C" uint32_t UnpackBits(const uint8_t* packed, uint32_t width, uint32_t rows, uint32_t bits, uint8_t* out)
{
    return px::Entry([&] { return convert::Unpack(packed, width, rows, bits, out); });
}

extern "C" uint32_t FlipVertical(uint8_t* pixels, uint32_t rowBytes, uint32_t rows)
{
    return px::Entry([&] { return convert::Flip(pixels, rowBytes, rows); });
}

extern "C" uint32_t MirrorHorizontal(uint8_t* pixels, uint32_t width, uint32_t rows, uint32_t bytesPerPixel)
{
    return px::Entry([&] { return convert::Mirror(pixels, width, rows, bytesPerPixel); });
}

extern "C" uint32_t MirrorMono1(uint8_t* pixels, uint32_t width, uint32_t rows)
{
    return px::Entry([&] { return convert::MirrorBits(pixels, width, rows); });
}
