// The hostile-input samples: a few small files a reader, one per branch worth attacking
// (palette, run-length, 16 bits, alpha, planes, pages).
#include "formats/hostile_samples.h"

#include "formats/gif_jxl_files.h"
#include "formats/jpeg/jpg_test_support.h"
#include "formats/metafile/metafile_files.h"
#include "formats/png_files.h"
#include "formats/psd_files.h"
#include "formats/reader_files.h"
#include "formats/tiff_files.h"
#include "pxlib.h"

#include <libheif/heif.h>
#include <webp/encode.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>

namespace test {
namespace {

// Our own writer of `fileType` through the registry, 24 bits or 8 with a 256-entry palette.
Bytes Saved(uint32_t fileType, const Bytes& pixels, uint32_t width, uint32_t height, uint32_t bits)
{
    std::vector<RGBQUAD> palette(256);
    for (size_t i = 0; i < palette.size(); ++i)
        palette[i] = {uint8_t(i), uint8_t(255 - i), uint8_t(i * 7), 0};
    return jpgtest::IntoMemory([&](DataChannel* sink) {
        SavePicture(sink, fileType, pixels.data(), width, height, bits, reinterpret_cast<uint8_t*>(palette.data()));
    }, 1 << 16);
}

// A picture of smooth rows and noisy ones, so compressors meet both runs and literals.
Bytes Photo(uint32_t width, uint32_t height)
{
    Bytes pixels = jpgtest::Gradient(width, height);
    const Bytes noise = jpgtest::Noise(pixels.size(), 3);
    const size_t row = size_t{width} * 3;
    for (size_t y = 1; y < height; y += 3)
        std::copy(noise.begin() + long(y * row), noise.begin() + long((y + 1) * row), pixels.begin() + long(y * row));
    return pixels;
}

Bytes Indices(size_t count)
{
    Bytes pixels(count);
    for (size_t i = 0; i < count; ++i)
        pixels[i] = uint8_t(i * 37 % 256);
    return pixels;
}

// One of the library's own WebP or AVIF writers.
using Writer = uint32_t (*)(DataChannel*, const uint8_t*, uint32_t, uint32_t, uint32_t, const uint8_t*, uint32_t,
                            const uint8_t*, uint32_t);

Bytes Encoded(Writer write, const Bytes& rgb, uint32_t width, uint32_t height, uint32_t quality)
{
    return jpgtest::IntoMemory([&](DataChannel* sink) {
        write(sink, rgb.data(), width, height, quality, nullptr, 0, nullptr, 0);
    }, 1 << 16);
}

Bytes WebpLosslessAlpha()
{
    Bytes rgba = jpgtest::Gradient(8, 6);
    for (size_t i = 0; i < 8 * 6; ++i)  // widen to RGBA, alpha falling along the row
        rgba.insert(rgba.begin() + long(i * 4 + 3), uint8_t(255 - (i % 8) * 30));
    uint8_t* out = nullptr;
    const size_t size = WebPEncodeLosslessRGBA(rgba.data(), 8, 6, 8 * 4, &out);
    Bytes file(out, out + size);
    WebPFree(out);
    return file;
}

// HEVC through libheif, when this libheif has an encoder for it.
Bytes Heic()
{
    if (!heif_have_encoder_for_format(heif_compression_HEVC))
        return {};
    std::unique_ptr<heif_context, decltype(&heif_context_free)> context(heif_context_alloc(), heif_context_free);
    heif_encoder* encoder = nullptr;
    if (heif_context_get_encoder_for_format(context.get(), heif_compression_HEVC, &encoder).code != heif_error_Ok)
        return {};
    std::unique_ptr<heif_encoder, decltype(&heif_encoder_release)> encoderOwner(encoder, heif_encoder_release);
    heif_encoder_set_lossy_quality(encoder, 50);
    heif_image* image = nullptr;
    if (heif_image_create(16, 16, heif_colorspace_RGB, heif_chroma_interleaved_RGB, &image).code != heif_error_Ok)
        return {};
    std::unique_ptr<heif_image, decltype(&heif_image_release)> imageOwner(image, heif_image_release);
    heif_image_add_plane(image, heif_channel_interleaved, 16, 16, 8);
    int stride = 0;
    uint8_t* plane = heif_image_get_plane(image, heif_channel_interleaved, &stride);
    const Bytes source = jpgtest::Gradient(16, 16);
    for (size_t y = 0; y < 16; ++y)
        std::memcpy(plane + y * size_t(stride), &source[y * 48], 48);
    heif_image_handle* handle = nullptr;
    if (heif_context_encode_image(context.get(), image, encoder, nullptr, &handle).code != heif_error_Ok)
        return {};
    heif_image_handle_release(handle);
    heif_writer writer{};
    writer.writer_api_version = 1;
    writer.write = [](heif_context*, const void* data, size_t size, void* user) {
        auto* out = static_cast<Bytes*>(user);
        out->insert(out->end(), static_cast<const uint8_t*>(data), static_cast<const uint8_t*>(data) + size);
        return heif_error{heif_error_Ok, heif_suberror_Unspecified, ""};
    };
    Bytes file;
    heif_context_write(context.get(), &writer, &file);
    return file;
}

PngSpec PngPalette()
{
    PngSpec s;
    s.width = 3;
    s.colorType = PNG_COLOR_TYPE_PALETTE;
    s.palette = {{10, 20, 30}, {200, 100, 50}, {0, 255, 0}};
    s.transparency = {0, 128};
    s.background = png_color_16{1, 0, 0, 0, 0};
    s.rows = {0, 1, 2, 2, 1, 0};
    s.texts = {{"k", "v", true, false}};
    return s;
}

PngSpec PngRgba16Interlaced()
{
    PngSpec s;
    s.width = s.height = 3;
    s.colorType = PNG_COLOR_TYPE_RGB_ALPHA;
    s.bitDepth = 16;
    s.interlaced = true;
    s.gamma = 0.45455;
    s.rows = jpgtest::Noise(3 * 3 * 8, 5);
    return s;
}

PngSpec PngGrey2()
{
    PngSpec s;
    s.width = 7;
    s.colorType = PNG_COLOR_TYPE_GRAY;
    s.bitDepth = 2;
    s.transparency = {2};
    s.rows = {0b00011011, 0b11100100, 0b01010101, 0b10101010};
    return s;
}

Page TiffPalettePage()
{
    Page p;
    p.width = 3;
    p.samples = 1;
    p.photometric = PHOTOMETRIC_PALETTE;
    p.compression = COMPRESSION_PACKBITS;
    p.colours.assign(768, 0x1234);
    p.colours[1] = 0xFFFF;
    p.data = {1, 2, 0, 1, 1, 1};
    return p;
}

Page TiffGrey16()
{
    Page p;
    p.samples = 1;
    p.bits = 16;
    p.photometric = PHOTOMETRIC_MINISBLACK;
    p.compression = COMPRESSION_ADOBE_DEFLATE;
    p.data = {0, 0, 0x80, 0x80, 0xFF, 0x00, 0x12, 0x34};
    return p;
}

Page TiffRgbaPage()
{
    Page p;
    p.samples = 4;
    p.extraSamples = 1;
    p.compression = COMPRESSION_LZW;
    p.resolution = 72;
    p.data = {255, 0, 0, 255, 0, 255, 0, 128, 0, 0, 255, 0, 10, 20, 30, 40};
    return p;
}

Psd PsdPlanes(uint16_t mode, uint16_t channels, uint16_t compression)
{
    Psd p;
    p.mode = mode;
    p.channels = channels;
    p.width = 3;
    p.compression = compression;
    for (uint16_t c = 0; c < channels; ++c)
        p.planes.push_back({uint8_t(c * 40), 7, 7, 200, uint8_t(255 - c), 0});
    if (mode == 2) {
        p.modeData.assign(768, 0);
        p.modeData[1] = 255;
        p.modeData[512 + 200] = 9;
    }
    return p;
}

Psd PsdPhoto()
{
    constexpr uint32_t kWidth = 96, kHeight = 64;
    const Bytes rgb = Photo(kWidth, kHeight);
    Psd p;
    p.width = kWidth;
    p.height = kHeight;
    p.compression = 1;
    p.planes.assign(3, Bytes(kWidth * kHeight));
    for (size_t i = 0; i < kWidth * kHeight; ++i)
        for (size_t c = 0; c < 3; ++c)
            p.planes[c][i] = rgb[i * 3 + c];
    return p;
}

Psd PsdBitmap()
{
    Psd p;
    p.mode = 0;
    p.depth = 1;
    p.channels = 1;
    p.width = 10;
    p.compression = 1;
    p.planes = {{0b10000000, 0b01000000, 0b00000000, 0b11111111}};
    return p;
}

// EMF and WMF record numbers the drawings use.
enum : int32_t {
    kEmrPolyline = 4, kEmrSelect = 37, kEmrCreateBrush = 39, kEmrEllipse = 42, kEmrRectangle = 43,
    kWmfSetWindowExt = 0x020C, kWmfCreateBrush = 0x02FC, kWmfSelect = 0x012D, kWmfRectangle = 0x041B,
    kNullPen = int32_t(0x80000008),
};

const std::vector<RGBQUAD> kTable = {{0, 0, 0, 0}, {255, 255, 255, 0}, {0, 0, 255, 0}, {255, 0, 0, 0}};

TgaHeader Tga(uint8_t type, uint8_t depth, uint8_t descriptor = 0)
{
    TgaHeader h;
    h.type = type;
    h.depth = depth;
    h.descriptor = descriptor;
    return h;
}

TgaHeader TgaMapped()
{
    TgaHeader h = Tga(9, 8);
    h.mapType = 1;
    h.mapFirst = 1;
    h.mapLength = 3;
    h.mapBits = 16;
    return h;
}

Bytes Pcx256()
{
    Bytes data = {0xC3, 1, 2, 3, 0xC2, 4};
    Bytes tail(769, 7);
    tail[0] = 12;
    data.insert(data.end(), tail.begin(), tail.end());
    return PcxFile(3, 2, 8, 1, 3, data);
}

// A first frame with a transparent index that leaves part of a wider screen uncovered, and a
// second frame with its own table: every branch of the GIF reader.
Bytes GifTwoFrames(bool interlace)
{
    GifSpec spec;
    spec.width = 6;
    spec.height = 10;
    spec.globalMap = {{0, 0, 0}, {255, 0, 0}, {0, 255, 0}, {0, 0, 255}};
    GifFrame first{1, 0, 4, 9, interlace, {}, 3, Indices(36)};
    for (uint8_t& i : first.indices)
        i %= 4;
    GifFrame second{0, 0, 2, 2, false, {{9, 9, 9}, {7, 7, 7}}, -1, {0, 1, 1, 0}};
    spec.frames = {first, second};
    return MakeGif(spec);
}

// A small JPEG carrying one damaged metadata block: the reader keeps it as it came, the
// thumbnail's metadata step must leave it out.
Bytes JpegCarrying(const Bytes& payload, uint32_t code)
{
    ClearJPGOutputMarkers();
    AddJPGOutputMarker(payload.data(), static_cast<uint32_t>(payload.size()), code);
    Bytes file = jpgtest::Write(jpgtest::Gradient(16, 12), 16, 12, 75);
    ClearJPGOutputMarkers();
    return file;
}

// "Exif\0\0" and a small TIFF structure, IFD0 (Make, EXIF pointer) then the EXIF IFD (a date),
// with the 32 bits at TIFF offset `at` set to `value`.
Bytes DamagedExif(size_t at, uint32_t value)
{
    Bytes b = {'E', 'x', 'i', 'f', 0, 0, 'I', 'I', 42, 0, 8, 0, 0, 0, 2, 0, 0x0F, 1, 2, 0, 4, 0, 0, 0, 'Q', 'C', 0, 0,
               0x69, 0x87, 4, 0, 1, 0, 0, 0, 38, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0x03, 0x90, 2, 0, 20, 0, 0, 0, 60, 0, 0, 0};
    b.resize(6 + 80, '1');
    for (int i = 0; i < 4; ++i)
        b[6 + at + i] = static_cast<uint8_t>(value >> (8 * i));
    return JpegCarrying(b, 0xE1);
}

Bytes DamagedXmp(const std::string& text)
{
    const std::string id("http://ns.adobe.com/xap/1.0/", 29);
    const std::string payload = id + text;
    return JpegCarrying(Bytes(payload.begin(), payload.end()), 0xE1);
}

// Photoshop resources holding one IPTC record that claims `claimed` bytes.
Bytes DamagedIptc(const Bytes& iim, uint32_t claimed)
{
    Bytes b = {'P', 'h', 'o', 't', 'o', 's', 'h', 'o', 'p', ' ', '3', '.', '0', 0, '8', 'B', 'I', 'M', 4, 4, 0, 0,
               uint8_t(claimed >> 24), uint8_t(claimed >> 16), uint8_t(claimed >> 8), uint8_t(claimed)};
    b.insert(b.end(), iim.begin(), iim.end());
    return JpegCarrying(b, 0xED);
}

const HostileSample kSamples[] = {
    {"jpeg_baseline", PX_FILE_JPEG, "reader", [] { return jpgtest::Write(jpgtest::Gradient(24, 16), 24, 16, 75); }},
    {"jpeg_progressive", PX_FILE_JPEG, "reader", [] { return jpgtest::Write(jpgtest::Gradient(17, 9), 17, 9, 75, 24, 1); }},
    {"jpeg_grey", PX_FILE_JPEG, "reader", [] { return jpgtest::Write(Bytes(8 * 8, 90), 8, 8, 75, 8); }},
    {"jpeg_photo", PX_FILE_JPEG, "reader", [] { return jpgtest::Write(jpgtest::Noise(160 * 120 * 3, 9), 160, 120, 80); }},
    // Metadata blocks a thumbnail must refuse (names "jpeg_meta_<block>_..."): EXIF directories
    // that loop, claim 60000 entries or place a value past the block; XML that is not well
    // formed or expands entities; IPTC datasets and resources longer than their block.
    {"jpeg_meta_exif_loop", PX_FILE_JPEG, "reader", [] { return DamagedExif(30, 8); }},
    {"jpeg_meta_exif_count", PX_FILE_JPEG, "reader", [] { return DamagedExif(8, 60000); }},
    {"jpeg_meta_exif_offset", PX_FILE_JPEG, "reader", [] { return DamagedExif(48, 100000); }},
    {"jpeg_meta_xmp_mangled", PX_FILE_JPEG, "reader",
     [] { return DamagedXmp("<x:xmpmeta xmlns:x='adobe:ns:meta/'><rdf:RDF"); }},
    {"jpeg_meta_xmp_entities", PX_FILE_JPEG, "reader", [] {
         return DamagedXmp("<!DOCTYPE x [<!ENTITY a 'aaaaaaaaaa'><!ENTITY b '&a;&a;&a;&a;&a;&a;&a;&a;'>"
                           "<!ENTITY c '&b;&b;&b;&b;&b;&b;&b;&b;'><!ENTITY d '&c;&c;&c;&c;&c;&c;&c;&c;'>]>"
                           "<x:xmpmeta xmlns:x='adobe:ns:meta/'>&d;&d;&d;&d;&d;&d;&d;&d;</x:xmpmeta>");
     }},
    {"jpeg_meta_iptc_dataset", PX_FILE_JPEG, "reader", [] { return DamagedIptc({0x1C, 2, 25, 0, 40, 'x', 'y'}, 7); }},
    {"jpeg_meta_iptc_resource", PX_FILE_JPEG, "reader",
     [] { return DamagedIptc({0x1C, 2, 25, 0, 1, 'x'}, 0x7FFFFFF0); }},

    {"bmp_24", PX_FILE_BMP, "bmp", [] { return Saved(PX_FILE_BMP, jpgtest::Gradient(5, 3), 5, 3, 24); }},
    {"bmp_8", PX_FILE_BMP, "bmp", [] { return Saved(PX_FILE_BMP, Indices(5 * 3), 5, 3, 8); }},
    {"bmp_1_top_down", PX_FILE_BMP, "bmp",
     [] { return BmpFile(9, -2, 1, {kTable[0], kTable[1]}, StoredRows({{0xA5, 0x80}, {0x5A, 0}}, true)); }},
    {"bmp_16_fields", PX_FILE_BMP, "bmp",
     [] { return BmpFile(2, 2, 16, {}, StoredRows({{1, 2, 3, 4}, {5, 6, 7, 8}}), 3, {0xF800, 0x7E0, 0x1F}); }},
    {"bmp_rle8", PX_FILE_BMP, "bmp",
     [] { return BmpFile(4, 3, 8, kTable, {3, 1, 0, 0, 0, 2, 3, 0, 2, 2, 0, 0, 0, 3, 3, 3, 3, 0, 0, 1}, 1); }},
    {"bmp_rle4", PX_FILE_BMP, "bmp",
     [] { return BmpFile(8, 2, 4, kTable, {4, 0x12, 0, 3, 0x30, 0x10, 0, 0, 8, 0x33, 0, 1}, 2); }},

    {"gif_two_frames", PX_FILE_GIF, "gif", [] { return GifTwoFrames(false); }},
    {"gif_interlaced", PX_FILE_GIF, "gif", [] { return GifTwoFrames(true); }},
    {"jxl_lossless_rgba", PX_FILE_JXL, "jxl",
     [] { return MakeJxl({6, 4, 4, jpgtest::Noise(6 * 4 * 4, 7), false, {}, 1, true}); }},
    {"jxl_container_exif", PX_FILE_JXL, "jxl",
     [] {
         const Bytes exif = {0, 0, 0, 0, 'I', 'I', 42, 0, 8, 0, 0, 0, 0, 0, 0, 0, 0, 0};
         return MakeJxl({8, 8, 3, jpgtest::Gradient(8, 8), true, exif, 6, false});
     }},

    {"pcx_24", PX_FILE_PCX, "pcx", [] { return PcxFile(2, 2, 8, 3, 2, {1, 2, 0xC2, 3, 4, 5, 6, 7, 8, 9, 0xC4, 10}); }},
    {"pcx_4_planes", PX_FILE_PCX, "pcx", [] { return PcxFile(9, 1, 1, 4, 2, {0x80, 1, 0xC2, 0xC1, 0, 0, 1, 0}); }},
    {"pcx_256", PX_FILE_PCX, "pcx", Pcx256},
    // Every cut of it leaves rows whose data has run out: they are zeros at once.
    {"pcx_photo_rows", PX_FILE_PCX, "pcx",
     [] {
         Bytes data;
         for (uint8_t v : Photo(20, 12)) {
             if (v >= 0xC0)
                 data.push_back(0xC1);
             data.push_back(v);
         }
         return PcxFile(20, 12, 8, 3, 20, data);
     }},

    {"tga_24", PX_FILE_TGA, "tga", [] { return TgaFile(2, 2, Tga(2, 24, 0x20), jpgtest::Gradient(2, 2)); }},
    {"tga_rle24", PX_FILE_TGA, "tga",
     [] {
         TgaHeader h = Tga(10, 24);
         h.idLength = 2;
         return TgaFile(3, 2, h, {1, 1, 2, 3, 4, 5, 6, 0x83, 7, 8, 9});
     }},
    {"tga_mapped_rle", PX_FILE_TGA, "tga", [] { return TgaFile(2, 2, TgaMapped(), {1, 2, 3, 4, 5, 6, 0x81, 1, 1, 3, 2}); }},
    {"tga_grey_rle", PX_FILE_TGA, "tga", [] { return TgaFile(4, 2, Tga(11, 8), {0x83, 9, 2, 1, 2, 3, 0x80, 4}); }},

    {"png_rgb", PX_FILE_PNG, "png", [] { return Saved(PX_FILE_PNG, jpgtest::Gradient(6, 4), 6, 4, 24); }},
    {"png_8", PX_FILE_PNG, "png", [] { return Saved(PX_FILE_PNG, Indices(6 * 4), 6, 4, 8); }},
    {"png_palette_transparent", PX_FILE_PNG, "png", [] { return MakePng(PngPalette()); }},
    {"png_rgba16_interlaced", PX_FILE_PNG, "png", [] { return MakePng(PngRgba16Interlaced()); }},
    {"png_grey2", PX_FILE_PNG, "png", [] { return MakePng(PngGrey2()); }},
    {"png_photo", PX_FILE_PNG, "png", [] { return Saved(PX_FILE_PNG, Photo(96, 64), 96, 64, 24); }},

    {"tiff_rgb", PX_FILE_TIFF, "tiff", [] { return Saved(PX_FILE_TIFF, jpgtest::Gradient(4, 3), 4, 3, 24); }},
    {"tiff_8", PX_FILE_TIFF, "tiff", [] { return Saved(PX_FILE_TIFF, Indices(4 * 3), 4, 3, 8); }},
    {"tiff_palette_packbits", PX_FILE_TIFF, "tiff", [] { return MakeTiff({TiffPalettePage()}); }},
    {"tiff_grey16_deflate", PX_FILE_TIFF, "tiff", [] { return MakeTiff({TiffGrey16()}); }},
    {"tiff_rgba12_tiled", PX_FILE_TIFF, "tiff", [] { return MakeTiff({test::Rgba12TiledPage()}); }},
    {"tiff_rgba_and_fax_pages", PX_FILE_TIFF, "tiff", [] { return MakeTiff({TiffRgbaPage(), BilevelPage(COMPRESSION_CCITTFAX4)}); }},
    {"tiff_photo", PX_FILE_TIFF, "tiff", [] { return Saved(PX_FILE_TIFF, Photo(96, 64), 96, 64, 24); }},

    {"psd_rgb_raw", PX_FILE_PSD, "psd", [] { return MakePsd(PsdPlanes(3, 3, 0)); }},
    {"psd_cmyk_packed", PX_FILE_PSD, "psd", [] { return MakePsd(PsdPlanes(4, 4, 1)); }},
    {"psd_indexed_packed", PX_FILE_PSD, "psd", [] { return MakePsd(PsdPlanes(2, 1, 1)); }},
    {"psd_grey_alpha", PX_FILE_PSD, "psd", [] { return MakePsd(PsdPlanes(1, 2, 1)); }},
    {"psd_bitmap_packed", PX_FILE_PSD, "psd", [] { return MakePsd(PsdBitmap()); }},
    {"psd_photo", PX_FILE_PSD, "psd", [] { return MakePsd(PsdPhoto()); }},
    {"psd_rgb16_packed", PX_FILE_PSD, "psd", [] { return MakePsd(Deep(PsdPlanes(3, 3, 1), 16)); }},
    {"psd_cmyk16_raw", PX_FILE_PSD, "psd", [] { return MakePsd(Deep(PsdPlanes(4, 4, 0), 16)); }},
    {"psd_grey32_raw", PX_FILE_PSD, "psd", [] { return MakePsd(Deep(PsdPlanes(1, 1, 0), 32)); }},

    {"heic", PX_FILE_HEIF, "heif_webp", Heic},
    {"avif", PX_FILE_AVIF, "heif_webp", [] { return Encoded(WriteAVIF, jpgtest::Gradient(16, 12), 16, 12, 60); }},
    {"webp", PX_FILE_WEBP, "heif_webp", [] { return Encoded(WriteWebP, jpgtest::Gradient(16, 12), 16, 12, 60); }},
    {"webp_lossless_alpha", PX_FILE_WEBP, "heif_webp", WebpLosslessAlpha},
    {"webp_photo", PX_FILE_WEBP, "heif_webp",
     [] { return Encoded(WriteWebP, Photo(96, 64), 96, 64, 80); }},

    {"emf_shapes", PX_FILE_EMF, "metafile",
     [] {
         return Emf()
             .Rec(kEmrCreateBrush, {1, 0, 0x0000FF, 0})
             .Rec(kEmrSelect, {1})
             .Rec(kEmrSelect, {kNullPen})
             .Rec(kEmrEllipse, {10, 10, 90, 90})
             .Rec(kEmrPolyline, {0, 0, 0, 0, 2, 1, 1, 50, 50})
             .Rec(kEmrRectangle, {20, 20, 60, 40})
             .Done();
     }},
    {"wmf_placeable", PX_FILE_WMF, "metafile",
     [] {
         return Wmf()
             .Rec(kWmfSetWindowExt, {100, 100})
             .Rec(kWmfCreateBrush, {0, 0xFF, 0, 0})
             .Rec(kWmfSelect, {0})
             .Rec(kWmfRectangle, {50, 50, 0, 0})
             .Done(true, 100, 100, 1440);
     }},
};

}  // namespace

std::span<const HostileSample> HostileSamples()
{
    return kSamples;
}

}  // namespace test
