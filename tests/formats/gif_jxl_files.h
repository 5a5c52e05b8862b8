// GIF and JPEG XL files made in memory with giflib's and libjxl's own encoders.
#pragma once

#include <gif_lib.h>
#include <jxl/encode.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

namespace test {

using Rgb = std::array<uint8_t, 3>;

struct GifFrame {
    int left = 0, top = 0, width = 0, height = 0;
    bool interlace = false;
    std::vector<Rgb> localMap;  // a power of two entries, or none
    int transparent = -1;
    std::vector<uint8_t> indices;  // rows top-down
};

struct GifSpec {
    int width = 0, height = 0;
    std::vector<Rgb> globalMap;  // a power of two entries, or none
    std::vector<GifFrame> frames;
};

inline ColorMapObject* GifMap(const std::vector<Rgb>& colours)
{
    if (colours.empty())
        return nullptr;
    std::vector<GifColorType> entries;
    for (const Rgb& c : colours)
        entries.push_back({c[0], c[1], c[2]});
    return GifMakeMapObject(int(entries.size()), entries.data());
}

// The rows of an interlaced frame in the order they are stored: every 8th from 0, every 8th
// from 4, every 4th from 2, every 2nd from 1.
inline std::vector<int> InterlacedOrder(int height)
{
    std::vector<int> order;
    for (const auto& [start, step] : {std::pair{0, 8}, {4, 8}, {2, 4}, {1, 2}})
        for (int y = start; y < height; y += step)
            order.push_back(y);
    return order;
}

inline std::vector<uint8_t> MakeGif(const GifSpec& spec)
{
    std::vector<uint8_t> out;
    int error = 0;
    GifFileType* gif = EGifOpen(&out, [](GifFileType* g, const GifByteType* data, int size) {
        auto* bytes = static_cast<std::vector<uint8_t>*>(g->UserData);
        bytes->insert(bytes->end(), data, data + size);
        return size;
    }, &error);
    if (!gif)
        return {};
    EGifSetGifVersion(gif, true);
    ColorMapObject* global = GifMap(spec.globalMap);
    bool ok = EGifPutScreenDesc(gif, spec.width, spec.height, 8, 0, global) == GIF_OK;
    for (const GifFrame& f : spec.frames) {
        if (f.transparent >= 0) {
            const uint8_t control[4] = {1, 0, 0, uint8_t(f.transparent)};
            ok = ok && EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, 4, control) == GIF_OK;
        }
        ColorMapObject* local = GifMap(f.localMap);
        ok = ok && EGifPutImageDesc(gif, f.left, f.top, f.width, f.height, f.interlace, local) == GIF_OK;
        GifFreeMapObject(local);
        std::vector<int> rows;
        for (int y = 0; y < f.height; ++y)
            rows.push_back(y);
        if (f.interlace)
            rows = InterlacedOrder(f.height);
        for (int y : rows) {
            std::vector<GifPixelType> line(f.indices.begin() + y * f.width, f.indices.begin() + (y + 1) * f.width);
            ok = ok && EGifPutLine(gif, line.data(), f.width) == GIF_OK;
        }
        // giflib keeps its own copy of a frame's local map and never frees it.
        GifFreeMapObject(gif->Image.ColorMap);
        gif->Image.ColorMap = nullptr;
    }
    GifFreeMapObject(global);
    ok = EGifCloseFile(gif, &error) == GIF_OK && ok;
    return ok ? out : std::vector<uint8_t>{};
}

struct JxlSpec {
    uint32_t width = 0, height = 0;
    uint32_t channels = 3;  // 3 RGB, 4 RGBA
    std::vector<uint8_t> pixels;
    bool container = false;
    std::vector<uint8_t> exif;  // the box's contents: offset word, then TIFF data
    uint32_t orientation = 1;
    bool lossless = true;
};

inline std::vector<uint8_t> MakeJxl(const JxlSpec& spec)
{
    std::unique_ptr<JxlEncoder, decltype(&JxlEncoderDestroy)> owner(JxlEncoderCreate(nullptr), JxlEncoderDestroy);
    JxlEncoder* enc = owner.get();
    JxlBasicInfo info;
    JxlEncoderInitBasicInfo(&info);
    info.xsize = spec.width;
    info.ysize = spec.height;
    info.bits_per_sample = 8;
    info.num_color_channels = 3;
    info.alpha_bits = spec.channels == 4 ? 8 : 0;
    info.num_extra_channels = spec.channels == 4 ? 1 : 0;
    info.uses_original_profile = spec.lossless;
    info.orientation = JxlOrientation(spec.orientation);
    JxlColorEncoding colour;
    JxlColorEncodingSetToSRGB(&colour, JXL_FALSE);
    if (JxlEncoderUseContainer(enc, spec.container || !spec.exif.empty()) != JXL_ENC_SUCCESS ||
        JxlEncoderSetBasicInfo(enc, &info) != JXL_ENC_SUCCESS ||
        JxlEncoderSetColorEncoding(enc, &colour) != JXL_ENC_SUCCESS)
        return {};
    if (!spec.exif.empty() && (JxlEncoderUseBoxes(enc) != JXL_ENC_SUCCESS ||
                               JxlEncoderAddBox(enc, "Exif", spec.exif.data(), spec.exif.size(), JXL_FALSE) !=
                                   JXL_ENC_SUCCESS))
        return {};
    JxlEncoderFrameSettings* settings = JxlEncoderFrameSettingsCreate(enc, nullptr);
    if (spec.lossless)
        JxlEncoderSetFrameLossless(settings, JXL_TRUE);
    const JxlPixelFormat format{spec.channels, JXL_TYPE_UINT8, JXL_NATIVE_ENDIAN, 0};
    if (JxlEncoderAddImageFrame(settings, &format, spec.pixels.data(), spec.pixels.size()) != JXL_ENC_SUCCESS)
        return {};
    JxlEncoderCloseInput(enc);
    std::vector<uint8_t> out(4096);
    uint8_t* next = out.data();
    size_t left = out.size();
    for (;;) {
        const JxlEncoderStatus status = JxlEncoderProcessOutput(enc, &next, &left);
        if (status == JXL_ENC_SUCCESS)
            break;
        if (status != JXL_ENC_NEED_MORE_OUTPUT)
            return {};
        const size_t used = size_t(next - out.data());
        out.resize(out.size() * 2);
        next = out.data() + used;
        left = out.size() - used;
    }
    out.resize(size_t(next - out.data()));
    return out;
}

}  // namespace test
