// The table of formats. A new format is one folder under formats/ and one row here.
#include "formats/registry.h"

#include "formats/bmp/bmp.h"
#include "formats/bmp/bmp_write.h"
#include "formats/gif/gif.h"
#include "formats/heif/heif.h"
#include "formats/jpeg/jpeg.h"
#include "formats/jxl/jxl.h"
#include "formats/metafile/metafile.h"
#include "formats/pcx/pcx.h"
#include "formats/png/png.h"
#include "formats/png/png_write.h"
#include "formats/psd/psd.h"
#include "formats/tga/tga.h"
#include "formats/tiff/tiff.h"
#include "formats/tiff/tiff_write.h"
#include "formats/webp/webp.h"
#include "imaging/area_reduce.h"

#include <cstring>
#include <utility>

namespace px::registry {
namespace {

// A signature as a template argument, so a row can name its bytes in place.
template <size_t N>
struct Bytes {
    uint8_t data[N - 1]{};
    constexpr Bytes(const char (&text)[N])
    {
        for (size_t i = 0; i + 1 < N; ++i)
            data[i] = static_cast<uint8_t>(text[i]);
    }
};

// Probe of a format whose reader is still to come: any of `signatures` at `offset`.
template <size_t Offset, Bytes... signatures>
bool SignatureAt(const uint8_t* header, size_t size) noexcept
{
    return ((size >= Offset + sizeof signatures.data &&
             std::memcmp(header + Offset, signatures.data, sizeof signatures.data) == 0) || ...);
}

template <Bytes... signatures>
bool Signature(const uint8_t* header, size_t size) noexcept
{
    return SignatureAt<0, signatures...>(header, size);
}

// A reader that still hands back a bare buffer and its size, as a picture.
template <GlobalBuffer (*Load)(Channel&, uint32_t&, uint32_t&)>
Picture AsPicture(Channel& channel)
{
    return reader::WholeRGB24([&](uint32_t& width, uint32_t& height) { return Load(channel, width, height); });
}

// In detection order: the first probe that matches gives the type.
const Format kFormats[] = {
    {PX_FILE_BMP, 6, "BMP", ".BMP .DIB", bmp::Probe, bmp::Info, bmp::LoadRGB24, false, bmp::Save,
     bmp::LoadReduced},
    {PX_FILE_PAX, 21, "PAX", ".PAX", Signature<"PAX">, nullptr, nullptr},
    {PX_FILE_GIF, 15, "GIF", ".GIF", gif::Probe, gif::Info, gif::LoadRGB24},
    {PX_FILE_JPEG, 1, "JPEG", ".JPG .JPEG", jpeg::Probe, jpeg::Info, jpeg::LoadRGB24,
     false, nullptr, jpeg::LoadReduced},
    {PX_FILE_PCX, 9, "PCX", ".PCX", pcx::Probe, pcx::Info, pcx::LoadRGB24, false, nullptr,
     pcx::LoadReduced},
    {PX_FILE_TIFF, 12, "TIFF", ".TIF .TIFF", tiff::Probe, tiff::Info, tiff::LoadRGB24, false, tiff::Save, tiff::LoadReduced},
    {PX_FILE_PNG, 3, "PNG", ".PNG", png::Probe, png::Info, png::LoadRGB24, false, png::Save, png::LoadReduced},
    {PX_FILE_WMF, 19, "WMF", ".WMF", metafile::ProbeWmf, metafile::Info, metafile::LoadRGB24, false, nullptr,
     metafile::LoadReduced},
    {PX_FILE_EMF, 20, "EMF", ".EMF", metafile::ProbeEmf, metafile::Info, metafile::LoadRGB24, false, nullptr,
     metafile::LoadReduced},
    {PX_FILE_PSD, 22, "PSD", ".PSD", psd::Probe, psd::Info, psd::LoadRGB24, false, nullptr,
     psd::LoadReduced},
    {PX_FILE_HEIF, 23, "HEIF", ".HEIC .HEIF", heif::ProbeHeif, heif::Info, AsPicture<heif::LoadRGB24>,
     false, nullptr, heif::LoadReduced},
    {PX_FILE_AVIF, 24, "AVIF", ".AVIF", heif::ProbeAvif, heif::Info, AsPicture<heif::LoadRGB24>,
     false, nullptr, heif::LoadReduced},
    {PX_FILE_WEBP, 25, "WebP", ".WEBP", webp::Probe, webp::Info, AsPicture<webp::LoadRGB24>,
     false, nullptr, webp::LoadReduced},
    {PX_FILE_JXL, 26, "JPEG XL", ".JXL", jxl::Probe, jxl::Info, jxl::LoadRGB24},
    {PX_FILE_TLA1, 0, "TLA", "", Signature<"TLA\x01">, nullptr, nullptr},
    {PX_FILE_TLAU, 0, "TLAU", "", Signature<"TLAU">, nullptr, nullptr},
    // Two zero bytes open both WBMP and many TGA files; only the name tells them apart.
    {PX_FILE_WBMP, 0, "WBMP", ".WBMP .WBM", Signature<"\x00\x00">, nullptr, nullptr, true},
    {PX_FILE_TGA, 16, "TGA", ".TGA", nullptr, tga::Info, tga::LoadRGB24, false, nullptr,
     tga::LoadReduced},
};

bool UpperEquals(const char* a, const char* b, size_t length) noexcept
{
    for (size_t i = 0; i < length; ++i) {
        char c = a[i];
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
        if (c != b[i])
            return false;
    }
    return true;
}

}  // namespace

std::span<const Format> Formats() noexcept
{
    return kFormats;
}

Picture LoadReduced(const Format& format, Channel& channel, uint32_t aimWidth, uint32_t aimHeight)
{
    if (format.reducedLoad)
        return format.reducedLoad(channel, aimWidth, aimHeight);
    return reduce::ReducePicture(format.load(channel), aimWidth, aimHeight);
}

const Format* Find(uint32_t fileType) noexcept
{
    for (const Format& format : kFormats)
        if (format.fileType == fileType)
            return &format;
    return nullptr;
}

bool HasExtension(const Format& format, const char* path) noexcept
{
    const char* dot = path ? std::strrchr(path, '.') : nullptr;
    if (!dot)
        return false;
    const size_t length = std::strlen(dot);
    for (const char* at = format.extensions; *at;) {
        const char* end = std::strchr(at, ' ');
        const size_t size = end ? static_cast<size_t>(end - at) : std::strlen(at);
        if (size == length && UpperEquals(dot, at, length))
            return true;
        at += size;
        while (*at == ' ')
            ++at;
    }
    return false;
}

uint32_t Classify(const uint8_t* header, size_t size, const char* path) noexcept
{
    for (const Format& format : kFormats) {
        if (!format.probe || !format.probe(header, size))
            continue;
        if (format.weakSignature)
            for (const Format& named : kFormats)
                if (!named.probe && HasExtension(named, path))
                    return named.fileType;
        return format.fileType;
    }
    return PX_FILE_UNKNOWN;
}

}  // namespace px::registry
