// Deep TIFF samples read a scan line at a time: libtiff undoes the compression and any
// predictor, this file scales the samples to bytes.
#include "formats/tiff/tiff_deep.h"

#include "base/frame.h"

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

// The sample at `index` of a decoded line, as a double.
double SampleAt(const uint8_t* line, uint32_t index, uint16_t bits, uint16_t format) noexcept
{
    if (format == SAMPLEFORMAT_IEEEFP && bits == 64) {
        double v;
        std::memcpy(&v, line + size_t{index} * 8, 8);
        return v;
    }
    uint32_t word;
    std::memcpy(&word, line + size_t{index} * 4, 4);
    if (format == SAMPLEFORMAT_IEEEFP) {
        float v;
        std::memcpy(&v, &word, 4);
        return v;
    }
    return format == SAMPLEFORMAT_INT ? double(int32_t(word)) : double(word);
}

}  // namespace

bool IsDeep(TIFF* tif) noexcept
{
    const auto format = Field<uint16_t>(tif, TIFFTAG_SAMPLEFORMAT);
    const auto bits = Field<uint16_t>(tif, TIFFTAG_BITSPERSAMPLE);
    return format == SAMPLEFORMAT_IEEEFP || bits == 32;
}

GlobalBuffer ReadDeep(TIFF* tif, uint32_t width, uint32_t height, uint32_t bits)
{
    const uint32_t step = bits / 8;
    const auto depth = Field<uint16_t>(tif, TIFFTAG_BITSPERSAMPLE);
    const auto format = Field<uint16_t>(tif, TIFFTAG_SAMPLEFORMAT);
    const auto samples = Field<uint16_t>(tif, TIFFTAG_SAMPLESPERPIXEL);
    const auto photometric = Field<uint16_t>(tif, TIFFTAG_PHOTOMETRIC);
    const bool separate = Field<uint16_t>(tif, TIFFTAG_PLANARCONFIG) == PLANARCONFIG_SEPARATE;
    const bool grey = photometric == PHOTOMETRIC_MINISBLACK || photometric == PHOTOMETRIC_MINISWHITE;
    const uint32_t colours = grey ? 1 : 3;
    const bool known = format == SAMPLEFORMAT_IEEEFP ? depth == 32 || depth == 64
                                                     : depth == 32 && format != SAMPLEFORMAT_COMPLEXINT;
    if (!known || TIFFIsTiled(tif) || samples < colours || (!grey && photometric != PHOTOMETRIC_RGB))
        return Fail(Code::TiffDecode);

    // The range the samples span: the file's own for floats when it gives one.
    double low = 0, high = 1;
    if (format != SAMPLEFORMAT_IEEEFP)
        high = format == SAMPLEFORMAT_INT ? 2147483647.0 : 4294967295.0;
    double fileLow = 0, fileHigh = 0;
    if (format == SAMPLEFORMAT_IEEEFP && TIFFGetField(tif, TIFFTAG_SMINSAMPLEVALUE, &fileLow) &&
        TIFFGetField(tif, TIFFTAG_SMAXSAMPLEVALUE, &fileHigh) && std::isfinite(fileLow) &&
        std::isfinite(fileHigh) && fileHigh > fileLow) {
        low = fileLow;
        high = fileHigh;
    }
    const tmsize_t lineBytes = TIFFScanlineSize(tif);
    const uint64_t needed = uint64_t{width} * (separate ? 1 : samples) * (depth / 8);
    if (lineBytes <= 0 || uint64_t(lineBytes) < needed)
        return Fail(Code::TiffDecode);
    auto line = Scratch<uint8_t>(uint64_t(lineBytes));
    GlobalBuffer image = AllocateGlobalForFill(ImageBytes(width, height, bits));
    if (!line || !image)
        return Fail(Code::OutOfMemory);
    const double scale = 255.0 / (high - low);
    for (uint32_t plane = 0; plane < (separate ? colours : 1); ++plane)
        for (uint32_t y = 0; y < height; ++y) {
            if (TIFFReadScanline(tif, line.get(), y, static_cast<uint16_t>(plane)) < 0)
                return Fail(Code::TiffDecode);
            uint8_t* out = image.get() + uint64_t{y} * width * step;
            for (uint32_t x = 0; x < width; ++x)
                for (uint32_t c = separate ? plane : 0; c < (separate ? plane + 1 : colours); ++c) {
                    const uint32_t index = separate ? x : x * samples + c;
                    const double v = (SampleAt(line.get(), index, depth, format) - low) * scale;
                    // Written as !(v > 0) so that NaN is black too.
                    uint8_t byte = !(v > 0) ? 0 : v >= 255 ? 255 : static_cast<uint8_t>(v + 0.5);
                    if (photometric == PHOTOMETRIC_MINISWHITE)
                        byte = static_cast<uint8_t>(255 - byte);
                    for (uint32_t k = grey ? 0 : c; k < (grey ? 3 : c + 1); ++k)
                        out[x * step + k] = byte;
                    if (step == 4)
                        out[x * step + 3] = 255;
                }
            if (!Progress(plane * height + y, (separate ? colours : 1) * height))
                return {};
        }
    return image;
}

}  // namespace px::tiff
