// TIFF files written page by page with libtiff, for the TIFF reader's tests and the
// hostile-input samples.
#pragma once

#include "support/test_support.h"

#include <tiffio.h>

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
};

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
        TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
        TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, 1u);
        if (p.sampleFormat != SAMPLEFORMAT_UINT)
            TIFFSetField(tif, TIFFTAG_SAMPLEFORMAT, p.sampleFormat);
        if (p.predictor != PREDICTOR_NONE)
            TIFFSetField(tif, TIFFTAG_PREDICTOR, p.predictor);
        if (p.sampleMin != p.sampleMax) {
            TIFFSetField(tif, TIFFTAG_SMINSAMPLEVALUE, p.sampleMin);
            TIFFSetField(tif, TIFFTAG_SMAXSAMPLEVALUE, p.sampleMax);
        }
        if (p.extraSamples) {
            const uint16_t kind = EXTRASAMPLE_UNASSALPHA;
            TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, 1, &kind);
        }
        if (!p.colours.empty())
            TIFFSetField(tif, TIFFTAG_COLORMAP, p.colours.data(), p.colours.data() + 256, p.colours.data() + 512);
        if (p.resolution > 0) {
            TIFFSetField(tif, TIFFTAG_XRESOLUTION, p.resolution);
            TIFFSetField(tif, TIFFTAG_YRESOLUTION, p.resolution * 2);
            TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, RESUNIT_CENTIMETER);
        }
        const tmsize_t stride = TIFFScanlineSize(tif);
        for (uint32_t y = 0; y < p.height; ++y)
            TIFFWriteScanline(tif, const_cast<uint8_t*>(p.data.data() + y * stride), y, 0);
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
