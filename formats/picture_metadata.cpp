// Whole-file input and the per-thread metadata of the container readers.
#include "formats/picture_metadata.h"

#include "base/frame.h"
#include "base/image.h"
#include "base/thread_data.h"

#include <cstring>
#include <new>

namespace px {

bool ReadWholeChannel(Channel& channel, std::vector<uint8_t>& bytes)
{
    bytes.clear();
    if (!channel.Rewind())
        return Fail(Code::ReadError);
    const uint32_t size = channel.Size();
    if (size >= kMaxGlobalBytes)
        return Fail(Code::OutOfMemory);
    // Callback channels may not know their size: read in steps until the end.
    uint32_t step = size ? size : 1u << 16;
    for (;;) {
        const size_t have = bytes.size();
        if (have + step >= kMaxGlobalBytes)
            return Fail(Code::OutOfMemory);
        bytes.resize(have + step);
        const uint32_t got = channel.Read(bytes.data() + have, step);
        bytes.resize(have + got);
        if (got < step || (size && bytes.size() >= size))
            break;
    }
    if (bytes.empty())
        return Fail(Code::ReadError);
    return true;
}

PictureMetadata& ThreadMetadata()
{
    return ThreadValue<PictureMetadata>();
}

std::vector<uint8_t> TiffPart(const uint8_t* data, size_t size)
{
    auto isTiff = [&](size_t at) {
        return at + 4 <= size && (std::memcmp(data + at, "II*\0", 4) == 0 || std::memcmp(data + at, "MM\0*", 4) == 0);
    };
    size_t start = 0;
    if (size >= 6 && std::memcmp(data, "Exif\0\0", 6) == 0)
        start = 6;
    else if (!isTiff(0) && size >= 4) {
        // HEIF stores a big-endian offset to the TIFF header before the block.
        const uint32_t offset = uint32_t{data[0]} << 24 | uint32_t{data[1]} << 16 | uint32_t{data[2]} << 8 | data[3];
        start = offset <= size - 4 ? 4 + offset : size;
    }
    if (!isTiff(start))
        return {};
    return {data + start, data + size};
}

}  // namespace px

extern "C" uint32_t GetPictureMetadata(uint8_t** exif, uint32_t* exifSize, uint8_t** icc, uint32_t* iccSize)
{
    return px::Entry([&]() -> uint32_t {
        if (!exif || !exifSize || !icc || !iccSize)
            return px::Fail(px::Code::BadArgument);
        *exif = *icc = nullptr;
        *exifSize = *iccSize = 0;
        const px::PictureMetadata& metadata = px::ThreadMetadata();
        px::GlobalBuffer exifBlock, iccBlock;
        if (!metadata.exif.empty() && !(exifBlock = px::AllocateGlobal(metadata.exif.size())))
            return 0;
        if (!metadata.icc.empty() && !(iccBlock = px::AllocateGlobal(metadata.icc.size())))
            return 0;
        if (exifBlock)
            std::memcpy(exifBlock.get(), metadata.exif.data(), metadata.exif.size());
        if (iccBlock)
            std::memcpy(iccBlock.get(), metadata.icc.data(), metadata.icc.size());
        *exifSize = static_cast<uint32_t>(metadata.exif.size());
        *iccSize = static_cast<uint32_t>(metadata.icc.size());
        *exif = exifBlock.Release();
        *icc = iccBlock.Release();
        return 1;
    });
}

extern "C" uint32_t SetPictureOutputXMP(const uint8_t* packet, uint32_t length)
{
    return px::Entry([&]() -> uint32_t {
        std::vector<uint8_t>& xmp = px::ThreadMetadata().outputXmp;
        if (packet && length)
            xmp.assign(packet, packet + length);
        else
            xmp.clear();
        return 1;
    });
}

extern "C" uint8_t* GetPictureXMP(uint32_t* length)
{
    return px::Entry([&]() -> uint8_t* {
        if (!length)
            return px::Fail(px::Code::BadArgument);
        *length = 0;
        const std::vector<uint8_t>& xmp = px::ThreadMetadata().xmp;
        if (xmp.empty())
            return nullptr;
        px::GlobalBuffer packet = px::AllocateGlobal(xmp.size());
        if (!packet)
            return nullptr;
        std::memcpy(packet.get(), xmp.data(), xmp.size());
        *length = static_cast<uint32_t>(xmp.size());
        return packet.Release();
    });
}
