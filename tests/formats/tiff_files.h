// TIFF files written page by page with libtiff, for the TIFF reader's tests and the
// hostile-input samples.
#pragma once

#include "support/test_support.h"

#include <tiffio.h>

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace test {

struct Page {
    uint32_t width = 2;
    uint32_t height = 2;
    uint16_t samples = 3;
    uint16_t bits = 8;
    uint16_t photometric = PHOTOMETRIC_RGB;
    uint16_t compression = COMPRESSION_LZW;
    uint16_t orientation = ORIENTATION_TOPLEFT;
    std::vector<uint8_t> data;      // packed rows, top-down as stored
    std::vector<uint16_t> colours;  // red, green, blue maps for a palette page
    uint16_t extraSamples = 0;
    float resolution = 0;
    uint16_t sampleFormat = SAMPLEFORMAT_UINT;
    uint16_t predictor = PREDICTOR_NONE;
    double sampleMin = 0, sampleMax = 0;  // written when they differ
    uint16_t extraKind = EXTRASAMPLE_UNASSALPHA;
    uint32_t tile = 0;      // tiles of this side instead of strips (contiguous samples)
    uint32_t rowsPerStrip = 0;  // 0: one row a strip (JPEG: the whole page)
    bool separate = false;  // data holds one plane after another
};

// Cuts a page's rows into tiles of side p.tile, padding with zeros.
inline void WriteTiles(TIFF* tif, const Page& p)
{
    const size_t rowBytes = (size_t{p.width} * p.samples * p.bits + 7) / 8;
    const size_t tileRow = size_t{p.tile} * p.samples * p.bits / 8;
    for (uint32_t top = 0; top < p.height; top += p.tile)
        for (uint32_t left = 0; left < p.width; left += p.tile) {
            std::vector<uint8_t> block(static_cast<size_t>(TIFFTileSize(tif)), 0);
            const size_t from = size_t{left} * p.samples * p.bits / 8;
            for (uint32_t r = 0; r < p.tile && top + r < p.height; ++r)
                std::copy_n(p.data.data() + (top + r) * rowBytes + from, std::min(tileRow, rowBytes - from),
                            block.data() + r * tileRow);
            TIFFWriteEncodedTile(tif, TIFFComputeTile(tif, left, top, 0, 0), block.data(), tmsize_t(block.size()));
        }
}

inline std::vector<uint8_t> MakeTiff(const std::vector<Page>& pages)
{
    TempFolder folder;
    const std::string path = folder / "made.tif";
    TIFF* tif = TIFFOpen(path.c_str(), "w");
    for (const Page& p : pages) {
        TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, p.width);
        TIFFSetField(tif, TIFFTAG_IMAGELENGTH, p.height);
        TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, p.samples);
        TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, p.bits);
        TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, p.photometric);
        TIFFSetField(tif, TIFFTAG_COMPRESSION, p.compression);
        TIFFSetField(tif, TIFFTAG_ORIENTATION, p.orientation);
        TIFFSetField(tif, TIFFTAG_PLANARCONFIG, p.separate ? PLANARCONFIG_SEPARATE : PLANARCONFIG_CONTIG);
        if (p.tile) {
            TIFFSetField(tif, TIFFTAG_TILEWIDTH, p.tile);
            TIFFSetField(tif, TIFFTAG_TILELENGTH, p.tile);
        } else {
            // JPEG strips hold whole blocks of eight rows.
            TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP,
                         p.rowsPerStrip ? p.rowsPerStrip : p.compression == COMPRESSION_JPEG ? p.height : 1u);
        }
        if (p.compression == COMPRESSION_JPEG)
            TIFFSetField(tif, TIFFTAG_JPEGQUALITY, 100);
        if (p.sampleFormat != SAMPLEFORMAT_UINT)
            TIFFSetField(tif, TIFFTAG_SAMPLEFORMAT, p.sampleFormat);
        if (p.predictor != PREDICTOR_NONE)
            TIFFSetField(tif, TIFFTAG_PREDICTOR, p.predictor);
        if (p.sampleMin != p.sampleMax) {
            TIFFSetField(tif, TIFFTAG_SMINSAMPLEVALUE, p.sampleMin);
            TIFFSetField(tif, TIFFTAG_SMAXSAMPLEVALUE, p.sampleMax);
        }
        if (p.extraSamples) {
            TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, 1, &p.extraKind);
        }
        if (!p.colours.empty())
            TIFFSetField(tif, TIFFTAG_COLORMAP, p.colours.data(), p.colours.data() + 256, p.colours.data() + 512);
        if (p.resolution > 0) {
            TIFFSetField(tif, TIFFTAG_XRESOLUTION, p.resolution);
            TIFFSetField(tif, TIFFTAG_YRESOLUTION, p.resolution * 2);
            TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, RESUNIT_CENTIMETER);
        }
        const tmsize_t stride = TIFFScanlineSize(tif);
        if (p.tile)
            WriteTiles(tif, p);
        for (uint16_t plane = 0; !p.tile && plane < (p.separate ? p.samples : 1); ++plane)
            for (uint32_t y = 0; y < p.height; ++y)
                TIFFWriteScanline(tif, const_cast<uint8_t*>(p.data.data() + (plane * p.height + y) * stride), y, plane);
        TIFFWriteDirectory(tif);
    }
    TIFFClose(tif);
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

inline Page RGBPage()
{
    Page p;
    p.data = {255, 0, 0, 0, 255, 0, 0, 0, 255, 10, 20, 30};
    return p;
}

// 12-bit samples packed two in three bytes, highest bits first.
inline std::vector<uint8_t> Pack12(std::initializer_list<uint16_t> values)
{
    std::vector<uint8_t> out;
    uint32_t pending = 0, bits = 0;
    for (uint16_t v : values) {
        pending = (pending << 12) | (v & 0xFFFu);
        for (bits += 12; bits >= 8; bits -= 8)
            out.push_back(static_cast<uint8_t>(pending >> (bits - 8)));
    }
    if (bits)
        out.push_back(static_cast<uint8_t>(pending << (8 - bits)));
    return out;
}

// 2 x 2 RGBA at 12 bits in one 16 x 16 tile, stored bottom-up and mirrored: red, green at half
// alpha; transparent blue, white.
inline Page Rgba12TiledPage()
{
    Page p;
    p.samples = 4;
    p.bits = 12;
    p.extraSamples = 1;
    p.tile = 16;
    p.orientation = ORIENTATION_BOTRIGHT;
    p.data = Pack12({4095, 0, 0, 4095, 0, 4095, 0, 2048, 0, 0, 4095, 0, 4095, 4095, 4095, 4095});
    return p;
}

inline Page BilevelPage(uint16_t compression, uint16_t orientation = ORIENTATION_TOPLEFT)
{
    Page p;
    p.width = 10;
    p.samples = 1;
    p.bits = 1;
    p.photometric = PHOTOMETRIC_MINISWHITE;
    p.compression = compression;
    p.orientation = orientation;
    p.data = {0b10000000, 0b01000000, 0b00000000, 0b11000000};  // black: row 0 at 0 and 9, row 1 at 8 and 9
    return p;
}

}  // namespace test
