// TIFF's reduced road: a page decoded in bands of strips or tiles, each band's rows handed to
// the reducer as they come, so the whole page is never held.
#include "formats/tiff/tiff.h"
#include "formats/tiff/tiff_deep.h"
#include "formats/tiff/tiff_internal.h"

#include "base/guard.h"
#include "base/frame.h"
#include "imaging/area_reduce.h"

#include <tiffio.h>

#include <algorithm>
#include <bit>
#include <memory>

namespace px::tiff {
namespace {

// libtiff's RGBA reader over one page, ended on every path.
struct RgbaImage {
    TIFFRGBAImage image{};
    bool begun = false;
    ~RgbaImage()
    {
        if (begun)
            TIFFRGBAImageEnd(&image);
    }
};

// Rows decoded in bands of whole strips or tiles, as many as fit in kBandBytes of raster but at
// least one: none is decoded twice, and libtiff inflates each in one go. A strip or tile whose
// raster passes kUnitBytes (a page stored as one strip) is taken in parts of kBandBytes instead,
// so the whole picture is never held. libtiff decodes such a strip again from its start for
// every part: past kMaxParts parts (time growing with the square of the strip's height), the
// page is read whole instead, within the library's limits.
constexpr uint64_t kBandBytes = 16u << 20;
constexpr uint64_t kUnitBytes = 24u << 20;
constexpr uint64_t kMaxParts = 8;

// Plain RGB or grey (black at 0), 8 bits, interleaved, in strips, top row first: what most
// files are, decoded straight into the reducer with no RGBA raster between. The samples a
// pixel, or 0 for any other page.
uint16_t PlainSamples(TIFF* t)
{
    uint16_t photometric = 0, extraCount = 0;
    uint16_t* extra = nullptr;
    TIFFGetFieldDefaulted(t, TIFFTAG_EXTRASAMPLES, &extraCount, &extra);
    if (!TIFFGetField(t, TIFFTAG_PHOTOMETRIC, &photometric) || Defaulted<uint16_t>(t, TIFFTAG_BITSPERSAMPLE) != 8 ||
        extraCount != 0 || Defaulted<uint16_t>(t, TIFFTAG_PLANARCONFIG) != PLANARCONFIG_CONTIG ||
        Defaulted<uint16_t>(t, TIFFTAG_ORIENTATION) != ORIENTATION_TOPLEFT || TIFFIsTiled(t))
        return 0;
    const uint16_t samples = Defaulted<uint16_t>(t, TIFFTAG_SAMPLESPERPIXEL);
    if (photometric == PHOTOMETRIC_RGB && samples == 3)
        return 3;
    return photometric == PHOTOMETRIC_MINISBLACK && samples == 1 ? 1 : 0;
}

// Whole strips where one fits in kUnitBytes (libtiff then inflates each in one go, the
// fastest way); a taller strip a scanline at a time, which libtiff decodes in sequence.
Picture ReducePlain(TIFF* t, uint16_t samples, uint32_t w, uint32_t h, uint32_t aimWidth, uint32_t aimHeight)
{
    const uint64_t line = uint64_t{w} * samples;
    if (static_cast<uint64_t>(TIFFScanlineSize64(t)) != line)
        return Fail(Code::TiffDecode);
    const uint32_t stripRows = std::clamp<uint32_t>(Defaulted<uint32_t>(t, TIFFTAG_ROWSPERSTRIP), 1, h);
    const bool whole = line * stripRows <= kUnitBytes;
    auto buffer = Scratch<uint8_t>(line * (whole ? stripRows : 1));
    reduce::ReducingRows rows(aimWidth, aimHeight);
    if (!buffer)
        return Fail(Code::OutOfMemory);
    if (!rows.Begin(w, h))
        return {};
    for (uint32_t y = 0; y < h;) {
        const uint32_t count = whole ? std::min(stripRows, h - y) : 1;
        const bool read = whole ? TIFFReadEncodedStrip(t, TIFFComputeStrip(t, y, 0), buffer.get(),
                                                       static_cast<tmsize_t>(line * count)) ==
                                      static_cast<tmsize_t>(line * count)
                                : TIFFReadScanline(t, buffer.get(), y, 0) == 1;
        if (!read) {
            // The rows that came stand, as an incomplete picture.
            Fail(Code::TiffDecode);
            return y ? rows.Finish() : Picture{};
        }
        for (uint32_t r = 0; r < count; ++r) {
            const uint8_t* in = buffer.get() + r * line;
            if (samples == 3) {
                rows.Put(y + r, in);
                continue;
            }
            uint8_t* out = rows.Row(y + r);
            for (uint32_t x = 0; x < w; ++x, out += 3)
                out[0] = out[1] = out[2] = in[x];
            rows.Done(y + r);
        }
        y += count;
        if (!Progress(y - 1, h))
            return {};
    }
    return rows.Finish();
}

}  // namespace

Picture LoadReduced(Channel& channel, uint32_t aimWidth, uint32_t aimHeight)
{
    if (!channel.Rewind())
        return Fail(Code::ReadError);
    TiffHandle tif = Open(channel);
    if (!tif)
        return Fail(Code::TiffDecode);
    TIFF* t = tif.get();
    // Deep samples are rounded by our own reader, which holds the page, not truncated by
    // libtiff's raster: such a page is read whole, then reduced.
    if (IsDeep(t)) {
        tif.reset();
        return reduce::ReducePicture(LoadRGB24(channel), aimWidth, aimHeight);
    }
    char message[1024] = {};
    if (!TIFFRGBAImageOK(t, message)) {
        DebugTrace("PXLib TIFF : %s\n", message);
        return Fail(Code::TiffDecode);
    }
    uint32_t w = 0, h = 0;
    if (!PageSize(channel, t, w, h, Code::TiffDecode))
        return {};
    if (const uint16_t samples = PlainSamples(t))
        return ReducePlain(t, samples, w, h, aimWidth, aimHeight);
    // A band is whole strips or tiles where they fit, so none is decoded twice.
    const uint32_t unit = TIFFIsTiled(t) ? Defaulted<uint32_t>(t, TIFFTAG_TILELENGTH)
                                         : Defaulted<uint32_t>(t, TIFFTAG_ROWSPERSTRIP);
    const uint64_t fitting = std::max<uint64_t>(1, kBandBytes / (uint64_t{w} * 4));
    uint64_t band = std::clamp<uint64_t>(unit, 1, h);
    if (band <= fitting) {
        band = fitting / band * band;
    } else if (band * w * 4 > kUnitBytes) {
        if ((std::min<uint64_t>(unit, h) + fitting - 1) / fitting > kMaxParts) {
            tif.reset();
            return reduce::ReducePicture(LoadRGB24(channel), aimWidth, aimHeight);
        }
        band = fitting;
    }
    band = std::min<uint64_t>(band, h);
    RgbaImage rgba;
    if (!TIFFRGBAImageBegin(&rgba.image, t, 1, message)) {
        DebugTrace("PXLib TIFF : %s\n", message);
        return Fail(Code::TiffDecode);
    }
    rgba.begun = true;
    rgba.image.req_orientation = ORIENTATION_TOPLEFT;
    std::unique_ptr<uint32_t[]> raster = Scratch<uint32_t>(CheckedMul(w, band));
    if (!raster)
        return Fail(Code::OutOfMemory);
    reduce::ReducingRows rows(aimWidth, aimHeight);
    if (!rows.BeginRGBA(w, h))
        return {};
    for (uint32_t y = 0; y < h;) {
        const auto count = static_cast<uint32_t>(std::min<uint64_t>(band, h - y));
        rgba.image.row_offset = static_cast<int>(y);
        rgba.image.col_offset = 0;
        if (!TIFFRGBAImageGet(&rgba.image, raster.get(), w, count)) {
            // The rows of earlier bands stand, as an incomplete picture.
            Fail(Code::TiffDecode);
            return y ? rows.Finish() : Picture{};
        }
        for (uint32_t r = 0; r < count; ++r) {
            uint32_t* in = raster.get() + size_t{r} * w;
            // libtiff packs R in the low byte: in memory order that is RGBA only on a
            // little-endian machine.
            if constexpr (std::endian::native != std::endian::little)
                for (uint32_t x = 0; x < w; ++x)
                    in[x] = __builtin_bswap32(in[x]);
            rows.Put(y + r, reinterpret_cast<const uint8_t*>(in));
        }
        y += count;
        if (!Progress(y - 1, h))
            return {};
    }
    return rows.Finish();
}

}  // namespace px::tiff
