// TIFF reading: libtiff opened on a data channel through client procedures, pages decoded by its
// RGBA interface, bilevel pages strip by strip.
#include "formats/tiff/tiff.h"
#include "formats/tiff/tiff_client.h"
#include "formats/tiff/tiff_deep.h"
#include "formats/tiff/tiff_internal.h"

#include "base/guard.h"
#include "base/frame.h"

#include <tiffio.h>

#include <algorithm>
#include <bit>
#include <cstring>
#include <memory>

namespace px::tiff {
namespace {

tmsize_t ReadProc(thandle_t handle, void* buffer, tmsize_t size) noexcept
{
    if (size < 0)
        return -1;
    const auto count = static_cast<uint32_t>(std::min<tmsize_t>(size, INT32_MAX));
    return Of(handle)->Read(buffer, count);
}

tmsize_t WriteProc(thandle_t handle, void* buffer, tmsize_t size) noexcept
{
    if (size < 0 || size > INT32_MAX)
        return 0;
    return Of(handle)->Write(buffer, static_cast<uint32_t>(size)) ? size : 0;
}

// A strip or tile codec's best ratio of samples to stored bytes, for the claimed-size guard.
uint64_t MaxExpansion(TIFF* tif, uint32_t width) noexcept
{
    const auto bits = std::max<uint16_t>(Defaulted<uint16_t>(tif, TIFFTAG_BITSPERSAMPLE), 1);
    const uint64_t perByte = bits < 8 ? 8 / bits : 1;
    switch (Defaulted<uint16_t>(tif, TIFFTAG_COMPRESSION)) {
    case COMPRESSION_NONE:
        return perByte;
    case COMPRESSION_PACKBITS:
        return 128 * perByte;
    case COMPRESSION_ADOBE_DEFLATE:
    case COMPRESSION_DEFLATE:
        return 1032 * perByte;
    case COMPRESSION_LZW:
        return 4096 * perByte;
    case COMPRESSION_CCITTRLE:
    case COMPRESSION_CCITTFAX3:
    case COMPRESSION_CCITTFAX4:
    case COMPRESSION_CCITTRLEW:
        return std::max<uint64_t>(uint64_t{width} * 8, 65536);  // a blank row takes about a bit
    default:
        return 65536;
    }
}

// The guard counts the bytes from the start: a page's data may lie anywhere in the file.
bool GuardPage(Channel& channel, TIFF* tif, uint32_t width, uint32_t height, Code refusal) noexcept
{
    const auto samples = std::max<uint16_t>(Defaulted<uint16_t>(tif, TIFFTAG_SAMPLESPERPIXEL), 1);
    // A tile is decoded whole, so one far larger than its page would take memory the page never
    // needs: refused beyond the page's own raster or 64 MB, whichever is more.
    if (TIFFIsTiled(tif)) {
        const uint64_t page = CheckedMul(CheckedMul(width, height), uint64_t{samples} * 8);
        if (TIFFTileSize64(tif) > std::max<uint64_t>(page, uint64_t{64} << 20))
            return Fail(refusal);
    }
    if (!channel.Rewind())
        return Fail(Code::ReadError);
    return GuardClaim(channel, width, height, samples, MaxExpansion(tif, width), refusal);
}

}  // namespace

TiffHandle Open(Channel& channel) noexcept
{
    if (!channel.Rewind())
        return nullptr;
    return OpenClient(channel, "r", ReadProc, WriteProc, kMaxGlobalBytes);
}

bool PageSize(Channel& channel, TIFF* tif, uint32_t& width, uint32_t& height, Code refusal) noexcept
{
    TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &width);
    TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &height);
    if (width == 0 || height == 0)
        return Fail(refusal);
    return GuardPage(channel, tif, width, height, refusal);
}

namespace {

// The file opened at `page`: null with `openFailure`, or BadArgument when there is no such page.
TiffHandle OpenPage(Channel& channel, uint16_t page, Code openFailure) noexcept
{
    TiffHandle tif = Open(channel);
    if (!tif) {
        Fail(openFailure);
        return nullptr;
    }
    if (!TIFFSetDirectory(tif.get(), page)) {
        Fail(Code::BadArgument);
        return nullptr;
    }
    return tif;
}

uint32_t Truncated(float value) noexcept
{
    if (!(value >= 0.0f))
        return 0;
    if (value >= 4294967295.0f)
        return UINT32_MAX;
    return static_cast<uint32_t>(value);
}

void ShrinkTo(GlobalBuffer& buffer, size_t bytes) noexcept
{
    if (bytes < buffer.size() && GlobalReAlloc(buffer.get(), bytes, 0)) {
        uint8_t* data = buffer.Release();
        buffer = GlobalBuffer(data, bytes);
    }
}

bool InfoOf(Channel& channel, uint32_t& width, uint32_t& height, uint32_t& bitsPerPixel,
            uint32_t* resolution)
{
    width = height = bitsPerPixel = 0;
    if (resolution)
        std::fill_n(resolution, 3, 0u);
    TiffHandle tif = Open(channel);
    if (!tif)
        return Fail(Code::TiffDecode);
    TIFFGetField(tif.get(), TIFFTAG_IMAGEWIDTH, &width);
    TIFFGetField(tif.get(), TIFFTAG_IMAGELENGTH, &height);
    bitsPerPixel = uint32_t{Defaulted<uint16_t>(tif.get(), TIFFTAG_SAMPLESPERPIXEL)} *
                   Defaulted<uint16_t>(tif.get(), TIFFTAG_BITSPERSAMPLE);
    if (resolution) {
        float x = 0, y = 0;
        uint16_t unit = 0;
        TIFFGetField(tif.get(), TIFFTAG_XRESOLUTION, &x);
        TIFFGetField(tif.get(), TIFFTAG_YRESOLUTION, &y);
        TIFFGetField(tif.get(), TIFFTAG_RESOLUTIONUNIT, &unit);
        resolution[0] = Truncated(x);
        resolution[1] = Truncated(y);
        resolution[2] = unit;
    }
    return true;
}

// Rows of packed bits, one a pixel (1 = white) for Index8 or packed for Mono1.
struct BilevelRows {
    uint32_t width;
    bool invert;   // min-is-white data: a set bit is black
    bool mirror;   // orientation puts column 0 on the right
    bool mono;
    uint8_t table[256][8];

    void Put(const uint8_t* packed, uint8_t* out) const noexcept
    {
        const uint32_t bytes = (width + 7) / 8;
        const uint8_t flip = invert ? 0xFF : 0x00;
        if (!mirror && !mono) {
            for (uint32_t i = 0; i < bytes; ++i) {
                const uint32_t count = std::min<uint32_t>(8, width - 8 * i);
                std::memcpy(out + 8 * i, table[packed[i] ^ flip], count);
            }
            return;
        }
        if (!mirror) {
            for (uint32_t i = 0; i < bytes; ++i)
                out[i] = packed[i] ^ flip;
        } else {
            if (mono)
                std::memset(out, 0, bytes);
            for (uint32_t x = 0; x < width; ++x) {
                const uint32_t from = width - 1 - x;
                const uint8_t bit = ((packed[from / 8] ^ flip) >> (7 - from % 8)) & 1;
                if (mono)
                    out[x / 8] |= static_cast<uint8_t>(bit << (7 - x % 8));
                else
                    out[x] = bit;
            }
        }
        if (mono && width % 8)
            out[bytes - 1] &= static_cast<uint8_t>(0xFF << (8 - width % 8));  // no stray padding bits
    }
};

GlobalBuffer BilevelOf(Channel& channel, uint32_t& width, uint32_t& height, uint16_t page, bool mono)
{
    width = height = 0;
    TiffHandle tif = OpenPage(channel, page, Code::OpenFailed);
    if (!tif)
        return {};
    TIFF* t = tif.get();
    uint16_t photometric = PHOTOMETRIC_MINISWHITE;  // what fax pages without the tag mean
    TIFFGetField(t, TIFFTAG_PHOTOMETRIC, &photometric);
    if (Defaulted<uint16_t>(t, TIFFTAG_BITSPERSAMPLE) != 1 ||
        Defaulted<uint16_t>(t, TIFFTAG_SAMPLESPERPIXEL) != 1 ||
        (photometric != PHOTOMETRIC_MINISWHITE && photometric != PHOTOMETRIC_MINISBLACK) ||
        TIFFIsTiled(t)) {
        Fail(Code::LayoutUnavailable);
        return {};
    }
    uint32_t w = 0, h = 0;
    if (!PageSize(channel, t, w, h, Code::ReadError))
        return {};
    const tmsize_t scanline = TIFFScanlineSize(t);
    const uint32_t packedBytes = (w + 7) / 8;
    const uint32_t rowsPerStrip = std::min(std::max<uint32_t>(Defaulted<uint32_t>(t, TIFFTAG_ROWSPERSTRIP), 1), h);
    const tmsize_t stripSize = TIFFStripSize(t);
    if (scanline < static_cast<tmsize_t>(packedBytes) || stripSize < scanline) {
        Fail(Code::ReadError);
        return {};
    }
    auto strip = Scratch<uint8_t>(static_cast<uint64_t>(stripSize));
    if (!strip) {
        TIFFErrorExtR(t, TIFFFileName(t), "No space for strip buffer");
        Fail(Code::OutOfMemory);
        return {};
    }
    GlobalBuffer image = AllocateImage(w, h, mono ? 1 : 8);
    if (!image)
        return {};

    auto rows = std::make_unique<BilevelRows>();
    rows->width = w;
    rows->invert = photometric == PHOTOMETRIC_MINISWHITE;
    rows->mono = mono;
    const uint16_t orientation = Defaulted<uint16_t>(t, TIFFTAG_ORIENTATION);
    rows->mirror = orientation == ORIENTATION_TOPRIGHT || orientation == ORIENTATION_BOTRIGHT;
    const bool bottomUp = orientation == ORIENTATION_BOTRIGHT || orientation == ORIENTATION_BOTLEFT;
    for (int byte = 0; byte < 256; ++byte)
        for (int bit = 0; bit < 8; ++bit)
            rows->table[byte][bit] = (byte >> (7 - bit)) & 1;

    const uint64_t stride = RowBytes(w, mono ? 1 : 8);
    for (uint32_t first = 0; first < h; first += rowsPerStrip) {
        const uint32_t count = std::min(rowsPerStrip, h - first);
        const tmsize_t wanted = static_cast<tmsize_t>(count) * scanline;
        if (TIFFReadEncodedStrip(t, TIFFComputeStrip(t, first, 0), strip.get(), wanted) != wanted) {
            Fail(Code::ReadError);
            return {};
        }
        for (uint32_t r = 0; r < count; ++r) {
            const uint32_t y = bottomUp ? h - 1 - (first + r) : first + r;
            rows->Put(strip.get() + r * scanline, image.get() + y * stride);
        }
    }
    width = w;
    height = h;
    return image;
}

uint32_t CompressionOf(Channel& channel, uint16_t page, uint32_t& kind)
{
    kind = 0;
    TiffHandle tif = OpenPage(channel, page, Code::OpenFailed);
    if (!tif)
        return 0;
    TIFF* t = tif.get();
    if (Defaulted<uint16_t>(t, TIFFTAG_BITSPERSAMPLE) != 1 || TIFFIsTiled(t))
        return 0;
    uint16_t extraCount = 0;
    uint16_t* extra = nullptr;
    TIFFGetFieldDefaulted(t, TIFFTAG_EXTRASAMPLES, &extraCount, &extra);
    const int samples = Defaulted<uint16_t>(t, TIFFTAG_SAMPLESPERPIXEL) - extraCount;
    if (Defaulted<uint16_t>(t, TIFFTAG_PLANARCONFIG) == PLANARCONFIG_SEPARATE && samples > 1)
        return Fail(Code::LayoutUnavailable);
    const uint16_t compression = Defaulted<uint16_t>(t, TIFFTAG_COMPRESSION);
    DebugTrace("%d\n", static_cast<int>(compression));
    switch (compression) {
    case COMPRESSION_CCITTRLE:
        kind = 3;
        break;
    case COMPRESSION_CCITTFAX3:
        kind = 1;
        break;
    case COMPRESSION_CCITTFAX4:
        kind = 2;
        break;
    case COMPRESSION_CCITTRLEW:
        kind = 4;
        break;
    default:
        return 0;
    }
    uint16_t photometric = 0;
    if (!TIFFGetField(t, TIFFTAG_PHOTOMETRIC, &photometric))
        return samples == 1 ? 1 : 0;
    return 1;
}

}  // namespace

GlobalBuffer Read(Channel& channel, uint32_t& width, uint32_t& height, uint32_t bits, uint16_t page)
{
    width = height = 0;
    if (bits != 24 && bits != 32) {
        Fail(Code::BadArgument);
        return {};
    }
    if (!channel.Rewind()) {
        Fail(Code::ReadError);
        return {};
    }
    TiffHandle tif = OpenPage(channel, page, Code::TiffDecode);
    if (!tif)
        return {};
    TIFF* t = tif.get();
    uint32_t w = 0, h = 0;
    if (!PageSize(channel, t, w, h, Code::TiffDecode))
        return {};
    if (IsDeep(t)) {
        GlobalBuffer image = ReadDeep(t, w, h, bits);
        if (image) {
            width = w;
            height = h;
        }
        return image;
    }
    char message[1024] = {};
    if (!TIFFRGBAImageOK(t, message)) {
        DebugTrace("PXLib TIFF : %s\n", message);
        Fail(Code::TiffDecode);
        return {};
    }
    // libtiff writes every pixel of the raster or fails, and a failure drops the block.
    GlobalBuffer image = AllocateGlobalForFill(ImageBytes(w, h, 32));
    if (!image)
        return {};
    auto* raster = reinterpret_cast<uint32_t*>(image.get());
    // Top-down straight away: the same rows as reversing libtiff's bottom-up raster afterwards.
    if (!TIFFReadRGBAImageOriented(t, w, h, raster, ORIENTATION_TOPLEFT, 1)) {
        Fail(Code::TiffDecode);
        return {};
    }
    if constexpr (std::endian::native == std::endian::big) {
        // The raster holds words A B G R; the layouts want bytes R G B A.
        for (uint64_t i = 0, n = uint64_t{w} * h; i < n; ++i)
            raster[i] = __builtin_bswap32(raster[i]);
    }
    if (bits == 24) {
        uint8_t* pixels = image.get();
        for (uint32_t y = 0; y < h; ++y) {
            const uint8_t* in = pixels + uint64_t{y} * w * 4;
            uint8_t* out = pixels + uint64_t{y} * w * 3;
            for (uint32_t x = 0; x < w; ++x) {
                out[3 * x] = in[4 * x];
                out[3 * x + 1] = in[4 * x + 1];
                out[3 * x + 2] = in[4 * x + 2];
            }
            if (!Progress(y, h))
                return {};
        }
        ShrinkTo(image, ImageBytes(w, h, 24));
    }
    width = w;
    height = h;
    return image;
}

// Detection goes by the byte-order mark alone; opening the file checks the rest.
bool Probe(const uint8_t* header, size_t size) noexcept
{
    return size >= 2 && (std::memcmp(header, "II", 2) == 0 || std::memcmp(header, "MM", 2) == 0);
}

bool Info(Channel& channel, uint32_t& width, uint32_t& height)
{
    uint32_t bits = 0;
    return InfoOf(channel, width, height, bits, nullptr);
}

Picture LoadRGB24(Channel& channel)
{
    uint32_t width = 0, height = 0;
    GlobalBuffer pixels = Read(channel, width, height, 24, 0);
    return Picture::RGB24(std::move(pixels), width, height);
}

uint32_t GetInfo(DataChannel* source, uint32_t* width, uint32_t* height, uint32_t* bitsPerPixel,
                 uint32_t* resolution)
{
    if (!width || !height || !bitsPerPixel)
        return Fail(Code::BadArgument);
    if (!AcceptChannel(source))
        return 0;
    Channel channel(source);
    return InfoOf(channel, *width, *height, *bitsPerPixel, resolution) ? 1 : 0;
}

uint16_t CountPages(DataChannel* source)
{
    if (!AcceptChannel(source))
        return 0;
    Channel channel(source);
    TiffHandle tif = Open(channel);
    if (!tif)
        return Fail(Code::TiffDecode);
    return static_cast<uint16_t>(std::min<tdir_t>(TIFFNumberOfDirectories(tif.get()), UINT16_MAX));
}

uint8_t* ReadPage(DataChannel* source, uint32_t* width, uint32_t* height, uint32_t bits, uint16_t page)
{
    if (!AcceptReader(source, width, height))
        return nullptr;
    Channel channel(source);
    return Read(channel, *width, *height, bits, page).Release();
}

uint8_t* ReadBilevel(DataChannel* source, uint32_t* width, uint32_t* height, uint16_t page, bool mono)
{
    if (!AcceptReader(source, width, height))
        return nullptr;
    Channel channel(source);
    return BilevelOf(channel, *width, *height, page, mono).Release();
}

uint32_t BilevelCompression(DataChannel* source, uint16_t page, uint32_t* kind)
{
    if (!kind)
        return Fail(Code::BadArgument);
    if (!AcceptChannel(source))
        return 0;
    Channel channel(source);
    return CompressionOf(channel, page, *kind);
}

}  // namespace px::tiff

extern "C" uint32_t GetTIFFInfo(DataChannel* source, uint32_t* width, uint32_t* height,
                                uint32_t* bitsPerPixel, uint32_t* resolution)
{
    return px::Entry([&] { return px::tiff::GetInfo(source, width, height, bitsPerPixel, resolution); });
}

extern "C" uint16_t CountTIFFPages(DataChannel* source)
{
    return px::Entry([&] { return px::tiff::CountPages(source); });
}

extern "C" uint8_t* ReadTIFF(DataChannel* source, uint32_t* width, uint32_t* height,
                             uint32_t bitsPerPixel, uint32_t, uint16_t page)
{
    return px::Entry([&] { return px::tiff::ReadPage(source, width, height, bitsPerPixel, page); });
}

extern "C" uint8_t* ReadTIFFBilevelIndex8(DataChannel* source, uint32_t* width, uint32_t* height,
                                          uint16_t page)
{
    return px::Entry([&] { return px::tiff::ReadBilevel(source, width, height, page, false); });
}

extern "C" uint8_t* ReadTIFFBilevelMono1(DataChannel* source, uint32_t* width, uint32_t* height,
                                         uint16_t page)
{
    return px::Entry([&] { return px::tiff::ReadBilevel(source, width, height, page, true); });
}

extern "C" uint32_t GetTIFFBilevelCompression(DataChannel* source, uint16_t page, uint32_t* kind)
{
    return px::Entry([&] { return px::tiff::BilevelCompression(source, page, kind); });
}
