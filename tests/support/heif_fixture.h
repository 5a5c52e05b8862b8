// HEIC and AVIF files made in memory with libheif's own encoders, for the tests that read them.
#pragma once

#include <libheif/heif.h>

#include <cstdint>
#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

namespace test {

struct HeifSpec {
    heif_compression_format format = heif_compression_HEVC;
    bool lossless = false;
    bool alpha = false;                                   // pixels are RGBA, else RGB
    heif_orientation orientation = heif_orientation_normal;  // the file's rotation and mirror properties
    std::vector<uint8_t> exif;                            // TIFF data; empty: none
    std::vector<uint8_t> icc;                             // empty: none
    int bitDepth = 8;                                     // above 8: 4:2:0 YCbCr of that depth
};

inline std::vector<uint8_t> WriteHeif(heif_context* context)
{
    std::vector<uint8_t> bytes;
    heif_writer writer{};
    writer.writer_api_version = 1;
    writer.write = [](heif_context*, const void* data, size_t size, void* user) {
        auto* out = static_cast<std::vector<uint8_t>*>(user);
        out->insert(out->end(), static_cast<const uint8_t*>(data), static_cast<const uint8_t*>(data) + size);
        return heif_error{heif_error_Ok, heif_suberror_Unspecified, ""};
    };
    if (heif_context_write(context, &writer, &bytes).code != heif_error_Ok)
        return {};
    return bytes;
}

// Deep pictures go in as 4:2:0 YCbCr (full-range BT.601), as cameras store them: aom in
// Debian 12 trips an assertion on deep RGB. RGB only, no metadata.
inline std::vector<uint8_t> EncodeDeep(const uint8_t* rgb, uint32_t width, uint32_t height, const HeifSpec& spec,
                                       heif_context* context, heif_encoder* encoder)
{
    heif_encoder_set_lossy_quality(encoder, 90);
    heif_image* image = nullptr;
    heif_image_create(static_cast<int>(width), static_cast<int>(height), heif_colorspace_YCbCr, heif_chroma_420,
                      &image);
    std::unique_ptr<heif_image, decltype(&heif_image_release)> imageOwner(image, heif_image_release);
    const uint32_t cw = (width + 1) / 2, ch = (height + 1) / 2;
    const heif_channel channels[] = {heif_channel_Y, heif_channel_Cb, heif_channel_Cr};
    for (const heif_channel channel : channels) {
        const bool luma = channel == heif_channel_Y;
        heif_image_add_plane(image, channel, static_cast<int>(luma ? width : cw), static_cast<int>(luma ? height : ch),
                             spec.bitDepth);
    }
    const double top = (1u << spec.bitDepth) - 1;
    auto sample = [&](heif_channel channel, uint32_t x, uint32_t y) {
        const uint8_t* p = rgb + (size_t{y} * width + x) * 3;
        const double r = p[0] / 255.0, g = p[1] / 255.0, b = p[2] / 255.0;
        const double luma = 0.299 * r + 0.587 * g + 0.114 * b;
        const double v = channel == heif_channel_Y    ? luma
                         : channel == heif_channel_Cb ? (b - luma) / 1.772 + 0.5
                                                      : (r - luma) / 1.402 + 0.5;
        return static_cast<uint16_t>(v * top + 0.5);
    };
    for (const heif_channel channel : channels) {
        int stride = 0;
        uint8_t* plane = heif_image_get_plane(image, channel, &stride);
        if (!plane)
            return {};
        const bool luma = channel == heif_channel_Y;
        for (uint32_t y = 0; y < (luma ? height : ch); ++y)
            for (uint32_t x = 0; x < (luma ? width : cw); ++x) {
                const uint16_t v = luma ? sample(channel, x, y) : sample(channel, std::min(2 * x, width - 1),
                                                                         std::min(2 * y, height - 1));
                plane[size_t{y} * static_cast<size_t>(stride) + 2 * x] = static_cast<uint8_t>(v);
                plane[size_t{y} * static_cast<size_t>(stride) + 2 * x + 1] = static_cast<uint8_t>(v >> 8);
            }
    }
    std::unique_ptr<heif_color_profile_nclx, decltype(&heif_nclx_color_profile_free)> nclx(
        heif_nclx_color_profile_alloc(), heif_nclx_color_profile_free);
    nclx->matrix_coefficients = heif_matrix_coefficients_ITU_R_BT_601_6;
    nclx->full_range_flag = 1;
    heif_image_set_nclx_color_profile(image, nclx.get());
    heif_image_handle* handle = nullptr;
    if (heif_context_encode_image(context, image, encoder, nullptr, &handle).code != heif_error_Ok)
        return {};
    heif_image_handle_release(handle);
    return WriteHeif(context);
}

// The file's bytes, or nothing when this libheif cannot encode it.
inline std::vector<uint8_t> EncodeHeif(const uint8_t* pixels, uint32_t width, uint32_t height, const HeifSpec& spec)
{
    if (!heif_have_encoder_for_format(spec.format))
        return {};
    std::unique_ptr<heif_context, decltype(&heif_context_free)> context(heif_context_alloc(), heif_context_free);
    heif_encoder* encoder = nullptr;
    if (heif_context_get_encoder_for_format(context.get(), spec.format, &encoder).code != heif_error_Ok)
        return {};
    std::unique_ptr<heif_encoder, decltype(&heif_encoder_release)> encoderOwner(encoder, heif_encoder_release);
    if (spec.lossless)
        heif_encoder_set_lossless(encoder, 1);
    else
        heif_encoder_set_lossy_quality(encoder, 90);
    if (spec.bitDepth > 8)
        return EncodeDeep(pixels, width, height, spec, context.get(), encoder);
    heif_image* image = nullptr;
    heif_image_create(static_cast<int>(width), static_cast<int>(height), heif_colorspace_RGB,
                      spec.alpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB, &image);
    std::unique_ptr<heif_image, decltype(&heif_image_release)> imageOwner(image, heif_image_release);
    heif_image_add_plane(image, heif_channel_interleaved, static_cast<int>(width), static_cast<int>(height), 8);
    int stride = 0;
    uint8_t* plane = heif_image_get_plane(image, heif_channel_interleaved, &stride);
    if (!plane)
        return {};
    const size_t row = size_t{width} * (spec.alpha ? 4 : 3);
    for (uint32_t y = 0; y < height; ++y)
        std::memcpy(plane + size_t{y} * static_cast<size_t>(stride), pixels + y * row, row);
    if (!spec.icc.empty())
        heif_image_set_raw_color_profile(image, "prof", spec.icc.data(), spec.icc.size());
    std::unique_ptr<heif_encoding_options, decltype(&heif_encoding_options_free)> options(heif_encoding_options_alloc(),
                                                                                          heif_encoding_options_free);
    options->image_orientation = spec.orientation;
    heif_image_handle* handle = nullptr;
    if (heif_context_encode_image(context.get(), image, encoder, options.get(), &handle).code != heif_error_Ok)
        return {};
    std::unique_ptr<heif_image_handle, decltype(&heif_image_handle_release)> handleOwner(handle,
                                                                                         heif_image_handle_release);
    if (!spec.exif.empty() &&
        heif_context_add_exif_metadata(context.get(), handle, spec.exif.data(), static_cast<int>(spec.exif.size()))
                .code != heif_error_Ok)
        return {};
    return WriteHeif(context.get());
}

}  // namespace test
