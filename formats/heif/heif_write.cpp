// AVIF writing over libheif's AV1 encoder, with the EXIF block, XMP packet and ICC profile attached.
#include "formats/heif/heif.h"

#include "base/frame.h"
#include "formats/container.h"
#include "formats/heif/heif_owners.h"
#include "formats/picture_metadata.h"

#include <libheif/heif.h>

#include <cstring>
#include <vector>

namespace px::heif {
namespace {

using EncoderPtr = COwner<heif_encoder, heif_encoder_release>;

// A thumbnail is small; aom's default speed spends seconds on what speed 6 does in a fraction.
constexpr int kEncoderSpeed = 6;

heif_error WriteToChannel(heif_context*, const void* data, size_t size, void* user) noexcept
{
    auto* sink = static_cast<Channel*>(user);
    if (size > UINT32_MAX || !sink->Write(data, static_cast<uint32_t>(size)))
        return {heif_error_Encoding_error, heif_suberror_Cannot_write_output_data, "write error"};
    return {heif_error_Ok, heif_suberror_Unspecified, "ok"};
}

// RGB24 to AVIF through the sink; exif and icc may be empty.
bool WriteAvif(Channel& sink, const uint8_t* rgb, uint32_t width, uint32_t height, uint32_t quality,
               const uint8_t* exif, uint32_t exifSize, const uint8_t* icc, uint32_t iccSize)
{
    if (width == 0 || height == 0 || width > 65535 || height > 65535)
        return Fail(Code::BadArgument);
    ContextPtr context(heif_context_alloc());
    if (!context)
        return Fail(Code::OutOfMemory);
    heif_encoder* rawEncoder = nullptr;
    if (heif_context_get_encoder_for_format(context.get(), heif_compression_AV1, &rawEncoder).code != heif_error_Ok)
        return Fail(Code::EncodeFailed);
    EncoderPtr encoder(rawEncoder);
    heif_encoder_set_lossy_quality(encoder.get(), static_cast<int>(quality));
    heif_encoder_set_parameter_integer(encoder.get(), "speed", kEncoderSpeed);

    heif_image* rawImage = nullptr;
    if (heif_image_create(static_cast<int>(width), static_cast<int>(height), heif_colorspace_RGB,
                          heif_chroma_interleaved_RGB, &rawImage).code != heif_error_Ok)
        return Fail(Code::OutOfMemory);
    ImagePtr image(rawImage);
    if (heif_image_add_plane(image.get(), heif_channel_interleaved, static_cast<int>(width),
                             static_cast<int>(height), 8).code != heif_error_Ok)
        return Fail(Code::OutOfMemory);
    int stride = 0;
    uint8_t* plane = heif_image_get_plane(image.get(), heif_channel_interleaved, &stride);
    if (!plane)
        return Fail(Code::EncodeFailed);
    for (uint32_t y = 0; y < height; ++y)
        std::memcpy(plane + static_cast<size_t>(y) * static_cast<size_t>(stride), rgb + uint64_t{y} * width * 3,
                    size_t{width} * 3);
    if (icc && iccSize &&
        heif_image_set_raw_color_profile(image.get(), "prof", icc, iccSize).code != heif_error_Ok)
        return Fail(Code::EncodeFailed);

    heif_image_handle* rawHandle = nullptr;
    const heif_error encoded = heif_context_encode_image(context.get(), image.get(), encoder.get(), nullptr, &rawHandle);
    HandlePtr handle(rawHandle);
    if (encoded.code != heif_error_Ok)
        return Fail(encoded.code == heif_error_Memory_allocation_error ? Code::OutOfMemory : Code::EncodeFailed);
    const std::vector<uint8_t> tiff = ExifToWrite(exif, exifSize);
    if (!tiff.empty() &&
        heif_context_add_exif_metadata(context.get(), handle.get(), tiff.data(), static_cast<int>(tiff.size())).code !=
            heif_error_Ok)
        return Fail(Code::EncodeFailed);
    const std::vector<uint8_t>& xmp = ThreadMetadata().outputXmp;
    if (!xmp.empty() &&
        heif_context_add_XMP_metadata(context.get(), handle.get(), xmp.data(), static_cast<int>(xmp.size())).code !=
            heif_error_Ok)
        return Fail(Code::EncodeFailed);

    heif_writer writer{};
    writer.writer_api_version = 1;
    writer.write = WriteToChannel;
    if (heif_context_write(context.get(), &writer, &sink).code != heif_error_Ok)
        return Fail(Code::WriteError);
    return true;
}

}  // namespace
}  // namespace px::heif

extern "C" uint32_t WriteAVIF(DataChannel* sink, const uint8_t* rgb, uint32_t width, uint32_t height,
                              uint32_t quality, const uint8_t* exif, uint32_t exifSize, const uint8_t* icc,
                              uint32_t iccSize)
{
    return px::Entry([&] {
        return px::WriteEntry(sink, rgb, width, height, quality, exif, exifSize, icc, iccSize, px::heif::WriteAvif);
    });
}
