// Deep TIFF pages read a strip or tile at a time: libtiff undoes the compression and any
// predictor, this file scales the samples to bytes and converts inks.
#include "formats/tiff/tiff_deep.h"

#include "base/frame.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>

namespace px::tiff {
namespace {

template <class T>
T Field(TIFF* tif, uint32_t tag) noexcept
{
    T value{};
    TIFFGetFieldDefaulted(tif, tag, &value);
    return value;
}

struct Layout {
    uint16_t depth = 0;
    uint16_t format = 0;
    uint16_t samples = 0;     // in one pixel of a contiguous block
    uint16_t photometric = 0;
    uint32_t colours = 0;     // 1 grey, 3 RGB, 4 CMYK
    int alpha = -1;           // the alpha sample, when there is one
    bool unassociated = false;
    bool separate = false;
    double low = 0, high = 1;

    // The sample at `index` of a decoded row, as read from the file.
    double At(const uint8_t* row, uint64_t index) const noexcept
    {
        switch (depth) {
        case 12: {  // two samples in three bytes, first byte highest
            const uint8_t* p = row + index * 3 / 2;
            return index % 2 ? double(((p[0] & 0x0F) << 8) | p[1]) : double((p[0] << 4) | (p[1] >> 4));
        }
        case 16: {
            uint16_t v;
            std::memcpy(&v, row + index * 2, 2);
            return format == SAMPLEFORMAT_INT ? double(int16_t(v)) : double(v);
        }
        case 64: {
            double v;
            std::memcpy(&v, row + index * 8, 8);
            return v;
        }
        default: {
            uint32_t word;
            std::memcpy(&word, row + index * 4, 4);
            if (format == SAMPLEFORMAT_IEEEFP) {
                float v;
                std::memcpy(&v, &word, 4);
                return v;
            }
            return format == SAMPLEFORMAT_INT ? double(int32_t(word)) : double(word);
        }
        }
    }

    // A sample scaled to 0..1; NaN is 0.
    double Unit(double v) const noexcept
    {
        const double u = (v - low) / (high - low);
        return !(u > 0) ? 0 : u > 1 ? 1 : u;
    }
};

uint8_t Byte(double unit) noexcept
{
    return static_cast<uint8_t>(unit * 255 + 0.5);
}

bool IsInks(TIFF* tif) noexcept
{
    return Field<uint16_t>(tif, TIFFTAG_PHOTOMETRIC) == PHOTOMETRIC_SEPARATED &&
           Field<uint16_t>(tif, TIFFTAG_INKSET) == INKSET_CMYK;
}

// The page's layout, or false with a code when this file does not read it.
bool LayoutOf(TIFF* tif, Layout& l)
{
    l.depth = Field<uint16_t>(tif, TIFFTAG_BITSPERSAMPLE);
    l.format = Field<uint16_t>(tif, TIFFTAG_SAMPLEFORMAT);
    const uint16_t samples = Field<uint16_t>(tif, TIFFTAG_SAMPLESPERPIXEL);
    l.photometric = Field<uint16_t>(tif, TIFFTAG_PHOTOMETRIC);
    l.separate = Field<uint16_t>(tif, TIFFTAG_PLANARCONFIG) == PLANARCONFIG_SEPARATE;
    l.samples = l.separate ? 1 : samples;
    const bool grey = l.photometric == PHOTOMETRIC_MINISBLACK || l.photometric == PHOTOMETRIC_MINISWHITE;
    l.colours = grey ? 1 : IsInks(tif) ? 4 : l.photometric == PHOTOMETRIC_RGB ? 3 : 0;
    // libtiff's JPEG codec here is built on an 8-bit libjpeg: deeper JPEG samples cannot be decoded.
    if (Field<uint16_t>(tif, TIFFTAG_COMPRESSION) == COMPRESSION_JPEG)
        return Fail(Code::UnsupportedMode);
    const bool known = l.format == SAMPLEFORMAT_IEEEFP
                           ? l.depth == 32 || l.depth == 64
                           : (l.depth == 12 || l.depth == 16 || l.depth == 32) &&
                                 l.format != SAMPLEFORMAT_COMPLEXINT && l.format != SAMPLEFORMAT_COMPLEXIEEEFP;
    uint16_t extraCount = 0;
    uint16_t* extra = nullptr;
    TIFFGetFieldDefaulted(tif, TIFFTAG_EXTRASAMPLES, &extraCount, &extra);
    if (!known || l.colours == 0 || samples < l.colours || extraCount > samples)
        return Fail(Code::TiffDecode);
    // As libtiff: the first extra sample is alpha when marked so.
    if (extraCount > 0 && samples - extraCount >= int(l.colours) &&
        (extra[0] == EXTRASAMPLE_ASSOCALPHA || extra[0] == EXTRASAMPLE_UNASSALPHA)) {
        l.alpha = samples - extraCount;
        l.unassociated = extra[0] == EXTRASAMPLE_UNASSALPHA;
    }
    // The range the samples span: the file's own for floats when it gives one.
    if (l.format == SAMPLEFORMAT_IEEEFP) {
        double fileLow = 0, fileHigh = 0;
        if (TIFFGetField(tif, TIFFTAG_SMINSAMPLEVALUE, &fileLow) && TIFFGetField(tif, TIFFTAG_SMAXSAMPLEVALUE, &fileHigh) &&
            std::isfinite(fileLow) && std::isfinite(fileHigh) && fileHigh > fileLow) {
            l.low = fileLow;
            l.high = fileHigh;
        }
    } else {
        l.high = std::ldexp(1.0, l.format == SAMPLEFORMAT_INT ? l.depth - 1 : l.depth) - 1;
    }
    return true;
}

}  // namespace

bool IsDeep(TIFF* tif) noexcept
{
    const auto format = Field<uint16_t>(tif, TIFFTAG_SAMPLEFORMAT);
    const auto bits = Field<uint16_t>(tif, TIFFTAG_BITSPERSAMPLE);
    const auto photometric = Field<uint16_t>(tif, TIFFTAG_PHOTOMETRIC);
    const bool plain = photometric == PHOTOMETRIC_MINISBLACK || photometric == PHOTOMETRIC_MINISWHITE ||
                       photometric == PHOTOMETRIC_RGB || IsInks(tif);
    return format == SAMPLEFORMAT_IEEEFP || bits == 32 || (plain && (bits == 12 || bits == 16));
}

GlobalBuffer ReadDeep(TIFF* tif, uint32_t width, uint32_t height, uint32_t bits)
{
    Layout l;
    if (!LayoutOf(tif, l))
        return {};
    const bool tiled = TIFFIsTiled(tif);
    uint32_t blockWidth = width, blockHeight = 0;
    if (tiled) {
        TIFFGetField(tif, TIFFTAG_TILEWIDTH, &blockWidth);
        TIFFGetField(tif, TIFFTAG_TILELENGTH, &blockHeight);
    } else {
        blockHeight = std::min(Field<uint32_t>(tif, TIFFTAG_ROWSPERSTRIP), height);
    }
    const uint64_t rowBytes = (uint64_t{blockWidth} * l.samples * l.depth + 7) / 8;
    const uint64_t pageBytes = (uint64_t{width} * l.samples * l.depth + 7) / 8 * height;
    const tmsize_t blockBytes = tiled ? TIFFTileSize(tif) : TIFFStripSize(tif);
    // A block is at most the page or a little more: tiles of a small page need not fill it, but a
    // claim of huge tiles on a page of a few pixels would allocate for nothing.
    if (blockWidth == 0 || blockHeight == 0 || blockBytes <= 0 ||
        uint64_t(blockBytes) < rowBytes * blockHeight ||
        uint64_t(blockBytes) > std::max(pageBytes, kBlockSlackBytes))
        return Fail(Code::TiffDecode);

    // One block buffer for contiguous samples; one a used plane for separate ones.
    std::array<uint32_t, 5> planeOf{};
    uint32_t used = l.colours;
    for (uint32_t c = 0; c < l.colours; ++c)
        planeOf[c] = c;
    if (l.alpha >= 0)
        planeOf[used++] = uint32_t(l.alpha);
    std::array<decltype(Scratch<uint8_t>(1)), 5> blocks;
    for (uint32_t c = 0; c < (l.separate ? used : 1); ++c)
        if (!(blocks[c] = Scratch<uint8_t>(uint64_t(blockBytes))))
            return Fail(Code::OutOfMemory);
    const uint32_t step = bits / 8;
    GlobalBuffer image = AllocateGlobalForFill(ImageBytes(width, height, bits));
    if (!image)
        return Fail(Code::OutOfMemory);

    const uint16_t orientation = Field<uint16_t>(tif, TIFFTAG_ORIENTATION);
    const bool mirror = orientation == ORIENTATION_TOPRIGHT || orientation == ORIENTATION_BOTRIGHT ||
                        orientation == ORIENTATION_RIGHTTOP || orientation == ORIENTATION_RIGHTBOT;
    const bool flip = orientation == ORIENTATION_BOTRIGHT || orientation == ORIENTATION_BOTLEFT ||
                      orientation == ORIENTATION_RIGHTBOT || orientation == ORIENTATION_LEFTBOT;
    for (uint32_t top = 0; top < height; top += blockHeight) {
        const uint32_t rows = std::min(blockHeight, height - top);
        for (uint32_t left = 0; left < width; left += blockWidth) {
            for (uint32_t c = 0; c < (l.separate ? used : 1); ++c) {
                const uint16_t plane = static_cast<uint16_t>(l.separate ? planeOf[c] : 0);
                const tmsize_t got = tiled ? TIFFReadEncodedTile(tif, TIFFComputeTile(tif, left, top, 0, plane),
                                                                 blocks[c].get(), blockBytes)
                                           : TIFFReadEncodedStrip(tif, TIFFComputeStrip(tif, top, plane),
                                                                  blocks[c].get(), blockBytes);
                if (got < 0 || uint64_t(got) < rowBytes * rows)
                    return Fail(Code::TiffDecode);
            }
            const uint32_t columns = std::min(blockWidth, width - left);
            for (uint32_t r = 0; r < rows; ++r) {
                const uint32_t y = flip ? height - 1 - (top + r) : top + r;
                uint8_t* out = image.get() + uint64_t{y} * width * step;
                for (uint32_t i = 0; i < columns; ++i) {
                    std::array<double, 5> unit{};
                    for (uint32_t c = 0; c < used; ++c) {
                        const uint8_t* row = blocks[l.separate ? c : 0].get() + r * rowBytes;
                        const uint64_t index = l.separate ? i : uint64_t{i} * l.samples + planeOf[c];
                        unit[c] = l.Unit(l.At(row, index));
                    }
                    std::array<double, 3> rgb{unit[0], unit[1], unit[2]};
                    if (l.colours == 1)
                        rgb.fill(l.photometric == PHOTOMETRIC_MINISWHITE ? 1 - unit[0] : unit[0]);
                    else if (l.colours == 4)
                        for (int k = 0; k < 3; ++k)
                            rgb[k] = (1 - unit[k]) * (1 - unit[3]);
                    const double alpha = l.alpha >= 0 ? unit[l.colours] : 1;
                    const uint32_t x = mirror ? width - 1 - (left + i) : left + i;
                    for (int k = 0; k < 3; ++k)
                        out[uint64_t{x} * step + k] = Byte(l.unassociated ? rgb[k] * alpha : rgb[k]);
                    if (step == 4)
                        out[uint64_t{x} * step + 3] = Byte(alpha);
                }
            }
        }
        if (!Progress(top + rows - 1, height))
            return {};
    }
    return image;
}

}  // namespace px::tiff
