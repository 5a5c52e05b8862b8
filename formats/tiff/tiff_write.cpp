// TIFF writing over libtiff: one page, RGB or palettised, 8 bits a sample, LZW.
#include "formats/tiff/tiff_write.h"
#include "formats/tiff/tiff_client.h"

#include "base/frame.h"

#include <tiffio.h>

#include <algorithm>
#include <memory>
#include <vector>

namespace px::tiff {
namespace {

// A sink is written and re-read only where libtiff wrote it; reading it back is refused.
tmsize_t NoRead(thandle_t, void*, tmsize_t) noexcept
{
    return 0;
}

tmsize_t WriteProc(thandle_t handle, void* buffer, tmsize_t size) noexcept
{
    if (size < 0 || size > INT32_MAX)
        return -1;
    return Of(handle)->Write(buffer, static_cast<uint32_t>(size)) ? size : -1;
}

}  // namespace

bool Save(Channel& sink, const uint8_t* pixels, uint32_t width, uint32_t height, uint32_t bits,
          const uint8_t* palette)
{
    if (!pixels || width == 0 || height == 0 || (bits != 24 && bits != 8) || (bits == 8 && !palette))
        return Fail(Code::BadArgument);
    TiffHandle tif = OpenClient(sink, "w", NoRead, WriteProc, 0);
    if (!tif)
        return Fail(Code::WriteError);
    TIFF* t = tif.get();
    const uint16_t samples = bits == 24 ? 3 : 1;
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, width);
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, height);
    TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, samples);
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_LZW);
    TIFFSetField(t, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT);
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC, bits == 24 ? PHOTOMETRIC_RGB : PHOTOMETRIC_PALETTE);
    const size_t stride = size_t{width} * samples;
    TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(t, 0));
    if (bits == 8) {
        std::vector<uint16_t> map(3 * 256);
        for (int i = 0; i < 256; ++i) {  // RGBQUAD: blue, green, red; the map holds 16 bits
            map[i] = static_cast<uint16_t>(palette[i * 4 + 2] * 257);
            map[256 + i] = static_cast<uint16_t>(palette[i * 4 + 1] * 257);
            map[512 + i] = static_cast<uint16_t>(palette[i * 4] * 257);
        }
        TIFFSetField(t, TIFFTAG_COLORMAP, map.data(), map.data() + 256, map.data() + 512);
    }
    // libtiff takes rows as writable buffers; it does not change them without a predictor.
    std::vector<uint8_t> row(stride);
    for (uint32_t y = 0; y < height; ++y) {
        std::copy_n(pixels + y * stride, stride, row.begin());
        if (TIFFWriteScanline(t, row.data(), y, 0) < 0)
            return Fail(Code::WriteError);
    }
    // Writes the directory too; a failure here would otherwise be lost in TIFFClose.
    if (!TIFFFlush(t))
        return Fail(Code::WriteError);
    return true;
}

}  // namespace px::tiff
