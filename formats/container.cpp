// The parts the HEIF and WebP readers and writers have in common.
#include "formats/container.h"

#include <cstring>

#include "base/frame.h"
#include "formats/picture_metadata.h"
#include "formats/reader.h"

namespace px {

uint32_t InfoEntry(DataChannel* source, uint32_t* width, uint32_t* height, InfoFunction info)
{
    if (!AcceptReader(source, width, height))
        return 0;
    Channel channel(source);
    return info(channel, *width, *height) ? 1 : 0;
}

uint8_t* ReadEntry(DataChannel* source, uint32_t* width, uint32_t* height, LoadFunction load)
{
    return reader::HandOver(source, width, height, load);
}

uint32_t WriteEntry(DataChannel* sink, const uint8_t* rgb, uint32_t width, uint32_t height, uint32_t quality,
                    const uint8_t* exif, uint32_t exifSize, const uint8_t* icc, uint32_t iccSize,
                    WriteFunction write)
{
    if (!rgb || quality < 1 || quality > 100 || (!exif && exifSize) || (!icc && iccSize))
        return Fail(Code::BadArgument);
    if (!AcceptChannel(sink))
        return 0;
    Channel channel(sink);
    return write(channel, rgb, width, height, quality, exif, exifSize, icc, iccSize) ? 1 : 0;
}

bool DecodableSize(uint32_t width, uint32_t height)
{
    return ImageBytes(width, height, 32) < kMaxGlobalBytes || Fail(Code::OutOfMemory);
}

void FlattenRow(const uint8_t* in, bool alpha, uint32_t width, uint8_t* out) noexcept
{
    if (!alpha) {
        std::memcpy(out, in, size_t{width} * 3);
        return;
    }
    for (uint32_t x = 0; x < width; ++x, in += 4, out += 3)
        for (int c = 0; c < 3; ++c)
            out[c] = static_cast<uint8_t>((in[c] * uint32_t{in[3]} + 127) / 255);
}

GlobalBuffer FlattenToRGB24(const uint8_t* plane, size_t stride, bool alpha, uint32_t width, uint32_t height)
{
    GlobalBuffer pixels = AllocateGlobalForFill(ImageBytes(width, height, 24));
    if (!pixels)
        return {};
    for (uint32_t y = 0; y < height; ++y) {
        FlattenRow(plane + static_cast<size_t>(y) * stride, alpha, width, pixels.get() + uint64_t{y} * width * 3);
        if (!Progress(y, height))
            return {};
    }
    return pixels;
}

void KeepMetadata(const uint8_t* exif, size_t exifSize, const uint8_t* icc, size_t iccSize, const uint8_t* xmp,
                  size_t xmpSize)
{
    PictureMetadata& metadata = ThreadMetadata();
    metadata.exif.clear();
    metadata.icc.clear();
    metadata.xmp.clear();
    if (exif && exifSize)
        metadata.exif = TiffPart(exif, exifSize);
    if (icc && iccSize)
        metadata.icc.assign(icc, icc + iccSize);
    if (xmp && xmpSize)
        metadata.xmp.assign(xmp, xmp + xmpSize);
}

std::vector<uint8_t> ExifToWrite(const uint8_t* exif, uint32_t exifSize)
{
    return exif && exifSize ? TiffPart(exif, exifSize) : std::vector<uint8_t>{};
}

}  // namespace px
