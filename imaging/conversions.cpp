// Pixel layout conversions: grey, channel order, alpha, planes, bit packing, flips, mirrors.
#include "imaging/conversions.h"

#include "base/frame.h"
#include "base/image.h"
#include "base/view.h"

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

uint32_t ToGrey(const ConstView& rgb, const View& grey)
{
    if (!rgb.data || !grey.data)
        return Fail(Code::BadArgument);
    if (!Addressable(rgb.width, rgb.height, 3))
        return 0;
    return EachRow(rgb.height, [&](uint32_t y) { LuminanceRow(rgb.Row(y), rgb.width, grey.Row(y)); });
}

// Every pixel of an RGB24 picture changed in place.
template <class Change>
uint32_t EachPixel(const View& rgb, Change&& change)
{
    if (!rgb.data)
        return Fail(Code::BadArgument);
    if (!Addressable(rgb.width, rgb.height, 3))
        return 0;
    return EachRow(rgb.height, [&](uint32_t y) {
        uint8_t* p = rgb.Row(y);
        for (uint32_t x = 0; x < rgb.width; ++x, p += 3)
            change(p);
    });
}

uint32_t Greyscale(const View& rgb)
{
    return EachPixel(rgb, [](uint8_t* p) { p[0] = p[1] = p[2] = Luminance(p[0], p[1], p[2]); });
}

uint32_t SwapRB(const View& rgb)
{
    return EachPixel(rgb, [](uint8_t* p) { std::swap(p[0], p[2]); });
}

// Index8 through its palette (RGBQUAD entries; the count is not looked at) into RGB24.
uint32_t Expand(const ConstView& indices, const View& rgb)
{
    if (!indices.data || !rgb.data || !indices.palette)
        return Fail(Code::BadArgument);
    if (!Addressable(indices.width, indices.height, 3))
        return 0;
    return EachRow(indices.height, [&](uint32_t y) {
        const uint8_t* in = indices.Row(y);
        uint8_t* out = rgb.Row(y);
        for (uint32_t x = 0; x < indices.width; ++x, out += 3) {
            const uint8_t* entry = indices.palette + in[x] * 4;  // RGBQUAD: blue, green, red, 0
            out[0] = entry[2];
            out[1] = entry[1];
            out[2] = entry[0];
        }
    });
}

// RGBA32 from RGB24 with the alpha of each pixel taken from the `alpha` plane, or
// `constantAlpha` when the plane has no data.
uint32_t ToRGBA(const ConstView& rgb, const ConstView& alpha, const View& rgba, uint8_t constantAlpha)
{
    if (!rgb.data || !rgba.data)
        return Fail(Code::BadArgument);
    if (!Addressable(rgb.width, rgb.height, 4))
        return 0;
    return EachRow(rgb.height, [&](uint32_t y) {
        const uint8_t* in = rgb.Row(y);
        const uint8_t* a = alpha.data ? alpha.Row(y) : nullptr;
        uint8_t* out = rgba.Row(y);
        for (uint32_t x = 0; x < rgb.width; ++x, in += 3, out += 4) {
            out[0] = in[0];
            out[1] = in[1];
            out[2] = in[2];
            out[3] = a ? a[x] : constantAlpha;
        }
    });
}

// Either output may have no data, not both.
uint32_t SplitAlpha(const ConstView& rgba, const View& rgb, const View& alpha)
{
    if (!rgba.data || (!rgb.data && !alpha.data))
        return Fail(Code::BadArgument);
    if (!Addressable(rgba.width, rgba.height, 4))
        return 0;
    return EachRow(rgba.height, [&](uint32_t y) {
        const uint8_t* in = rgba.Row(y);
        uint8_t* out = rgb.data ? rgb.Row(y) : nullptr;
        uint8_t* a = alpha.data ? alpha.Row(y) : nullptr;
        for (uint32_t x = 0; x < rgba.width; ++x, in += 4) {
            if (out) {
                out[0] = in[0];
                out[1] = in[1];
                out[2] = in[2];
                out += 3;
            }
            if (a)
                a[x] = in[3];
        }
    });
}

uint32_t SetAlphaPlane(const View& rgba, const ConstView& alpha)
{
    if (!rgba.data || !alpha.data)
        return Fail(Code::BadArgument);
    if (!Addressable(rgba.width, rgba.height, 4))
        return 0;
    return EachRow(rgba.height, [&](uint32_t y) {
        uint8_t* p = rgba.Row(y);
        const uint8_t* a = alpha.Row(y);
        for (uint32_t x = 0; x < rgba.width; ++x, p += 4)
            p[3] = a[x];
    });
}

// A picture and its three planes may be converted: BadArgument when one has no data, false
// when the picture cannot be addressed.
bool PlanesUsable(const ConstView& rgb, const ConstView& red, const ConstView& green, const ConstView& blue)
{
    if (!rgb.data || !red.data || !green.data || !blue.data)
        return Fail(Code::BadArgument);
    return Addressable(rgb.width, rgb.height, 3);
}

uint32_t Split(const ConstView& rgb, const View& red, const View& green, const View& blue)
{
    if (!PlanesUsable(rgb, red, green, blue))
        return 0;
    return EachRow(rgb.height, [&](uint32_t y) {
        const uint8_t* in = rgb.Row(y);
        uint8_t *r = red.Row(y), *g = green.Row(y), *b = blue.Row(y);
        for (uint32_t x = 0; x < rgb.width; ++x, in += 3) {
            r[x] = in[0];
            g[x] = in[1];
            b[x] = in[2];
        }
    });
}

uint32_t Join(const View& rgb, const ConstView& red, const ConstView& green, const ConstView& blue)
{
    if (!PlanesUsable(rgb, red, green, blue))
        return 0;
    return EachRow(rgb.height, [&](uint32_t y) {
        uint8_t* out = rgb.Row(y);
        const uint8_t *r = red.Row(y), *g = green.Row(y), *b = blue.Row(y);
        for (uint32_t x = 0; x < rgb.width; ++x, out += 3) {
            out[0] = r[x];
            out[1] = g[x];
            out[2] = b[x];
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

// Rows of any layout swapped top for bottom, whole strides at a time.
uint32_t Flip(const View& pixels)
{
    if (!pixels.data)
        return Fail(Code::BadArgument);
    const size_t rowBytes = pixels.stride;
    const uint32_t rows = pixels.height;
    auto scratch = ScratchOrFail(rowBytes);
    if (!scratch)
        return 0;
    return EachRow((rows + 1) / 2, [&](uint32_t k) {
        const uint32_t other = rows - 1 - k;
        if (other == k)
            return;  // the middle row of an odd count stays
        uint8_t* a = pixels.Row(k);
        uint8_t* b = pixels.Row(other);
        std::memcpy(scratch.get(), a, rowBytes);
        std::memcpy(a, b, rowBytes);
        std::memcpy(b, scratch.get(), rowBytes);
    });
}

uint32_t Mirror(const View& pixels)
{
    const uint32_t bytesPerPixel = pixels.channels;
    if (!pixels.data || bytesPerPixel == 0)
        return Fail(Code::BadArgument);
    if (!Addressable(pixels.width, pixels.height, bytesPerPixel))
        return 0;
    const size_t rowBytes = static_cast<size_t>(pixels.width) * bytesPerPixel;
    auto scratch = ScratchOrFail(rowBytes);
    if (!scratch)
        return 0;
    return EachRow(pixels.height, [&](uint32_t y) {
        uint8_t* row = pixels.Row(y);
        std::memcpy(scratch.get(), row, rowBytes);
        const uint8_t* from = scratch.get() + rowBytes;
        for (uint32_t x = 0; x < pixels.width; ++x, row += bytesPerPixel) {
            from -= bytesPerPixel;
            std::memcpy(row, from, bytesPerPixel);
        }
    });
}

uint32_t MirrorBits(const View& pixels)
{
    if (!pixels.data)
        return Fail(Code::BadArgument);
    const uint32_t width = pixels.width;
    const size_t rowBytes = (static_cast<size_t>(width) + 7) / 8;
    auto scratch = ScratchOrFail(rowBytes);
    if (!scratch)
        return 0;
    return EachRow(pixels.height, [&](uint32_t y) {
        uint8_t* row = pixels.Row(y);
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

namespace {

// One byte a pixel: grey images, alpha and colour planes.
template <class Byte>
px::BasicView<Byte> Plane(Byte* data, uint32_t width, uint32_t height)
{
    return px::BasicView<Byte>::Dense(data, width, height, px::Layout::Grey8);
}

template <class Byte>
px::BasicView<Byte> RGBA(Byte* data, uint32_t width, uint32_t height)
{
    return px::BasicView<Byte>::Dense(data, width, height, px::Layout::RGBA32);
}

}  // namespace

extern "C" uint32_t RGBToGrey8(const uint8_t* rgb, uint32_t width, uint32_t height, uint8_t* grey)
{
    return px::Entry([&] { return convert::ToGrey(px::ConstView::RGB24(rgb, width, height), Plane(grey, width, height)); });
}

extern "C" uint32_t GreyscaleRGB24(uint8_t* rgb, uint32_t width, uint32_t height)
{
    return px::Entry([&] { return convert::Greyscale(px::View::RGB24(rgb, width, height)); });
}

extern "C" uint32_t SwapRedBlue(uint8_t* rgb, uint32_t width, uint32_t height)
{
    return px::Entry([&] { return convert::SwapRB(px::View::RGB24(rgb, width, height)); });
}

extern "C" uint32_t ExpandIndex8(const uint8_t* indices, uint8_t* rgbOut, uint32_t width, uint32_t height,
                                 uint32_t count, const uint8_t* palette)
{
    return px::Entry([&] { return convert::Expand(px::ConstView::Indexed(indices, width, height, palette, count),
                                                  px::View::RGB24(rgbOut, width, height)); });
}

extern "C" uint32_t RGB24ToRGBA32(const uint8_t* rgb, uint32_t width, uint32_t height, uint8_t alpha,
                                  uint8_t* rgbaOut)
{
    return px::Entry([&] { return convert::ToRGBA(px::ConstView::RGB24(rgb, width, height), px::ConstView{},
                                                  RGBA(rgbaOut, width, height), alpha); });
}

extern "C" uint32_t SplitRGBA32(const uint8_t* rgba, uint32_t width, uint32_t height, uint8_t* rgbOut,
                                uint8_t* alphaOut)
{
    return px::Entry([&] { return convert::SplitAlpha(RGBA(rgba, width, height), px::View::RGB24(rgbOut, width, height),
                                                      Plane(alphaOut, width, height)); });
}

extern "C" uint32_t JoinAlpha(const uint8_t* rgb, const uint8_t* alpha, uint32_t width, uint32_t height,
                              uint8_t* rgbaOut, uint8_t constantAlpha)
{
    return px::Entry([&] { return convert::ToRGBA(px::ConstView::RGB24(rgb, width, height), Plane(alpha, width, height),
                                                  RGBA(rgbaOut, width, height), constantAlpha); });
}

extern "C" uint32_t SetAlpha(uint8_t* rgba, uint32_t width, uint32_t height, const uint8_t* alpha)
{
    return px::Entry([&] { return convert::SetAlphaPlane(RGBA(rgba, width, height), Plane(alpha, width, height)); });
}

extern "C" uint32_t SplitPlanes(const uint8_t* rgb, uint32_t width, uint32_t height, uint8_t* red, uint8_t* green,
                                uint8_t* blue)
{
    return px::Entry([&] { return convert::Split(px::ConstView::RGB24(rgb, width, height), Plane(red, width, height),
                                                 Plane(green, width, height), Plane(blue, width, height)); });
}

extern "C" uint32_t JoinPlanes(uint8_t* rgb, uint32_t width, uint32_t height, const uint8_t* red,
                               const uint8_t* green, const uint8_t* blue)
{
    return px::Entry([&] { return convert::Join(px::View::RGB24(rgb, width, height), Plane(red, width, height),
                                                Plane(green, width, height), Plane(blue, width, height)); });
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
    return px::Entry([&] { return convert::Flip(px::View::Dense(pixels, rowBytes, rows, px::Layout::Samples, 1)); });
}

extern "C" uint32_t MirrorHorizontal(uint8_t* pixels, uint32_t width, uint32_t rows, uint32_t bytesPerPixel)
{
    return px::Entry([&] { return convert::Mirror(px::View::Dense(pixels, width, rows, px::Layout::Samples, bytesPerPixel)); });
}

extern "C" uint32_t MirrorMono1(uint8_t* pixels, uint32_t width, uint32_t rows)
{
    return px::Entry([&] { return convert::MirrorBits(px::View::Dense(pixels, width, rows, px::Layout::Mono1)); });
}
