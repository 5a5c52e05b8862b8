// PNG files made with libpng from a description, for the PNG reader's tests and the
// hostile-input samples.
#pragma once

#include <png.h>

#include <cstdint>
#include <cstring>
#include <optional>
#include <vector>

namespace test {

struct PngText {
    const char* key;
    const char* text;
    bool compressed;
    bool afterImage;
};

struct PngSpec {
    uint32_t width = 2;
    uint32_t height = 2;
    int colorType = PNG_COLOR_TYPE_RGB;
    int bitDepth = 8;
    bool interlaced = false;
    std::vector<uint8_t> rows;  // raw rows as the file stores them, top-down
    std::vector<png_color> palette;
    std::vector<uint8_t> transparency;
    std::optional<png_color_16> background;
    std::optional<double> gamma;
    bool srgb = false;  // an sRGB chunk
    std::vector<PngText> texts;
};

inline void AppendPng(png_structp png, png_bytep data, size_t length)
{
    auto* out = static_cast<std::vector<uint8_t>*>(png_get_io_ptr(png));
    out->insert(out->end(), data, data + length);
}

inline std::vector<uint8_t> MakePng(const PngSpec& s)
{
    std::vector<uint8_t> out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_set_write_fn(png, &out, AppendPng, nullptr);
    png_set_IHDR(png, info, s.width, s.height, s.bitDepth, s.colorType,
                 s.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    if (!s.palette.empty())
        png_set_PLTE(png, info, s.palette.data(), static_cast<int>(s.palette.size()));
    if (!s.transparency.empty()) {
        png_color_16 grey{0, 0, 0, 0, s.transparency[0]};
        png_set_tRNS(png, info, s.transparency.data(), static_cast<int>(s.transparency.size()),
                     s.colorType == PNG_COLOR_TYPE_PALETTE ? nullptr : &grey);
    }
    if (s.background)
        png_set_bKGD(png, info, &*s.background);
    if (s.gamma)
        png_set_gAMA(png, info, *s.gamma);
    if (s.srgb)
        png_set_sRGB(png, info, PNG_sRGB_INTENT_PERCEPTUAL);
    auto texts = [&](bool after) {
        std::vector<png_text> chunk;
        for (const PngText& t : s.texts)
            if (t.afterImage == after) {
                png_text text{};
                text.compression = t.compressed ? PNG_TEXT_COMPRESSION_zTXt : PNG_TEXT_COMPRESSION_NONE;
                text.key = const_cast<char*>(t.key);
                text.text = const_cast<char*>(t.text);
                text.text_length = std::strlen(t.text);
                chunk.push_back(text);
            }
        if (!chunk.empty())
            png_set_text(png, info, chunk.data(), static_cast<int>(chunk.size()));
    };
    texts(false);
    png_write_info(png, info);
    const size_t stride = png_get_rowbytes(png, info);
    std::vector<png_bytep> rows(s.height);
    for (uint32_t y = 0; y < s.height; ++y)
        rows[y] = const_cast<png_bytep>(s.rows.data() + y * stride);
    png_write_image(png, rows.data());
    texts(true);
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return out;
}

}  // namespace test
