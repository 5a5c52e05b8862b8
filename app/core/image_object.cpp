// The application's picture over the library's entries.
#include "core/image_object.h"

#include "core/file_types.h"
#include "core/geometry.h"
#include "core/picture_draw.h"
#include "core/smooth_resize.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <string_view>
#include <new>
#include <optional>
#include <tuple>

namespace quillet {
namespace {

constexpr uint32_t kNoPicture = 5;
constexpr uint32_t kOutOfMemory = 1;
constexpr JPGDensity kDensity{1, 1, 0};  // thumbnails carry no resolution of their own

constexpr uint32_t kApp1 = 225;
constexpr uint32_t kApp13 = 237;
constexpr std::string_view kPhotoshop("Photoshop 3.0\0", 14);
// The XMP packet, and the parts of one too large for a single marker.
constexpr std::string_view kXmpMain("http://ns.adobe.com/xap/1.0/\0", 29);
constexpr std::string_view kXmpExtension("http://ns.adobe.com/xmp/extension/\0", 35);

bool StartsWith(const std::vector<uint8_t>& payload, std::string_view id)
{
    return payload.size() > id.size() && std::equal(id.begin(), id.end(), payload.begin());
}


}  // namespace

bool MarkExifUpright(std::vector<uint8_t>& app1)
{
    constexpr size_t kTiff = 6;  // behind "Exif\0\0"
    if (app1.size() < kTiff + 8 || !IsExifPayload(app1))
        return false;
    const bool little = app1[kTiff] == 'I' && app1[kTiff + 1] == 'I';
    if (!little && !(app1[kTiff] == 'M' && app1[kTiff + 1] == 'M'))
        return false;
    auto at16 = [&](size_t i) -> uint32_t {
        return little ? app1[i] | app1[i + 1] << 8 : app1[i] << 8 | app1[i + 1];
    };
    auto at32 = [&](size_t i) {
        return little ? at16(i) | at16(i + 2) << 16 : at16(i) << 16 | at16(i + 2);
    };
    if (at16(kTiff + 2) != 42)
        return false;
    const uint64_t ifd = kTiff + uint64_t{at32(kTiff + 4)};
    if (ifd + 2 > app1.size())
        return false;
    const uint64_t count = at16(static_cast<size_t>(ifd));
    if (ifd + 2 + 12 * count > app1.size())
        return false;
    for (uint64_t i = 0; i < count; ++i) {
        const size_t entry = static_cast<size_t>(ifd + 2 + 12 * i);
        // A short's value sits in the first two bytes of the entry's value field.
        if (at16(entry) == 0x0112 && at16(entry + 2) == 3) {
            app1[entry + 8] = little ? 1 : 0;
            app1[entry + 9] = little ? 0 : 1;
        }
    }
    return true;
}

bool IsExifPayload(const std::vector<uint8_t>& payload)
{
    return StartsWith(payload, std::string_view("Exif\0\0", 6));
}

bool IsXmpPayload(const std::vector<uint8_t>& payload)
{
    return StartsWith(payload, kXmpMain) || StartsWith(payload, kXmpExtension);
}

void CImageObject::Release()
{
    m_pixels.reset();
    m_width = m_height = 0;
}

void CImageObject::Adopt(pxlib::Picture picture)
{
    Release();
    if (!picture || picture.width == 0 || picture.height == 0)
        return;
    m_pixels = std::move(picture.pixels);
    m_width = picture.width;
    m_height = picture.height;
}

void CImageObject::SetPreviewAim(int32_t width, int32_t height)
{
    m_aimWidth = width;
    m_aimHeight = height;
}

uint32_t CImageObject::LoadFile(const std::string& path)
{
    return LoadFileAs(path, InputFileType(path));
}

uint32_t CImageObject::LoadFileAs(const std::string& path, int32_t type)
{
    Release();
    m_incomplete = false;
    m_storedWidth = m_storedHeight = 0;
    m_reducedByBlocks = false;
    const pxlib::Channel source = pxlib::Channel::Source(OpenFileSource(path.c_str()));
    if (!source)
        return GetLastLibraryError();
    const uint32_t fileType = ReaderFor(type);
    if (fileType == PX_FILE_UNKNOWN) {
        // No reader: the object stays empty; the result is what the library last said.
        return GetLastLibraryError();
    }
    return Load(source.get(), fileType);
}

uint32_t CImageObject::Load(DataChannel* source, uint32_t fileType)
{
    // No type may inherit the metadata of the last file this thread read.
    ClearJPGMarkers();
    uint32_t width = 0, height = 0;
    GetPictureInfo(source, fileType, &width, &height);
    LoadAim aim{m_aimWidth, m_aimHeight};
    if (m_loadRule)
        aim = width && height ? m_loadRule(width, height, HeaderOrientation(fileType)) : LoadAim{};
    bool reduced = aim.width > 0 && aim.height > 0 && width && height;
    const double threadGamma = GetPNGDisplayGamma();
    const bool ownGamma = fileType == PX_FILE_PNG && m_pngDisplayGamma > 0 && SetPNGDisplayGamma(m_pngDisplayGamma);
    pxlib::Picture picture;
    auto load = [&] {
        ChannelSeek(source, 0, 0);
        ClearJPGMarkers();
        picture.pixels.reset(reduced ? LoadPictureReduced(source, fileType, static_cast<uint32_t>(aim.width),
                                                          static_cast<uint32_t>(aim.height), &picture.width,
                                                          &picture.height)
                                     : LoadPictureRGB24(source, fileType, &picture.width, &picture.height));
        return GetLastLibraryError();
    };
    uint32_t code = load();
    // A reduced load that fails is no worse than the whole one: that is tried in its place.
    if (reduced && !picture && code != PX_ERR_CANCELLED) {
        reduced = false;
        code = load();
    }
    if (ownGamma)
        SetPNGDisplayGamma(threadGamma);
    // A load that ended early says so itself.
    m_incomplete = picture && code != 0;
    KeepMetadata();
    KeepContainerMetadata(fileType);
    // A partly decoded picture is still a picture.
    const uint32_t result = picture ? 0 : code;
    Adopt(std::move(picture));
    m_storedWidth = reduced ? width : m_width;
    m_storedHeight = reduced ? height : m_height;
    m_reducedByBlocks = reduced && fileType != PX_FILE_WEBP && fileType != PX_FILE_WMF && fileType != PX_FILE_EMF;
    return result;
}

// The orientation tag of the EXIF block that reading the header captured.
uint32_t CImageObject::HeaderOrientation(uint32_t fileType)
{
    KeepMetadata();
    KeepContainerMetadata(fileType);
    return m_exif.empty() ? 1 : GetExifOrientation(m_exif.data(), static_cast<uint32_t>(m_exif.size()));
}

void CImageObject::KeepMetadata()
{
    // The EXIF block is the last APP1 that is one; only without any, the last APP1 at all.
    m_exif.clear();
    m_xmp.clear();
    m_icc.clear();
    m_iptc.clear();
    std::vector<uint8_t> lastApp1;
    std::vector<uint8_t> mainXmp;
    std::vector<std::vector<uint8_t>> xmpParts;
    for (uint32_t i = 0, n = GetJPGMarkerCount(); i < n; ++i) {
        uint8_t* data = nullptr;
        uint32_t length = 0, code = 0;
        if (!GetJPGMarker(i, &data, &length, &code))
            continue;
        std::vector<uint8_t> payload(data, data + length);
        GlobalFree(data);
        if (code == kApp13 && StartsWith(payload, kPhotoshop))
            m_iptc = payload;
        if (code != kApp1)
            continue;
        if (IsExifPayload(payload))
            m_exif = payload;
        else if (StartsWith(payload, kXmpMain))
            mainXmp = payload;
        else if (IsXmpPayload(payload))
            xmpParts.push_back(payload);
        lastApp1 = std::move(payload);
    }
    if (m_exif.empty())
        m_exif = std::move(lastApp1);
    if (!mainXmp.empty())
        m_xmp.push_back(std::move(mainXmp));
    for (auto& part : xmpParts)
        m_xmp.push_back(std::move(part));
    uint32_t length = 0;
    if (uint8_t* profile = GetJPGICCProfile(&length)) {
        m_icc.assign(profile, profile + length);
        GlobalFree(profile);
    }
}

void CImageObject::KeepContainerMetadata(uint32_t fileType)
{
    m_readerTurned = false;
    if (fileType != PX_FILE_HEIF && fileType != PX_FILE_AVIF && fileType != PX_FILE_WEBP && fileType != PX_FILE_JXL)
        return;
    // The HEIF and JPEG XL readers applied the file's own rotation; a carried tag would turn
    // the picture again.
    m_readerTurned = fileType != PX_FILE_WEBP;
    uint32_t xmpSize = 0;
    if (uint8_t* xmp = GetPictureXMP(&xmpSize)) {
        std::vector<uint8_t> payload(kXmpMain.begin(), kXmpMain.end());
        payload.insert(payload.end(), xmp, xmp + xmpSize);
        m_xmp.push_back(std::move(payload));
        GlobalFree(xmp);
    }
    uint8_t* exif = nullptr;
    uint8_t* icc = nullptr;
    uint32_t exifSize = 0, iccSize = 0;
    if (!GetPictureMetadata(&exif, &exifSize, &icc, &iccSize))
        return;
    if (exifSize) {
        static const uint8_t kPrefix[] = {'E', 'x', 'i', 'f', 0, 0};
        m_exif.assign(kPrefix, kPrefix + sizeof kPrefix);
        m_exif.insert(m_exif.end(), exif, exif + exifSize);
        if (m_readerTurned)
            MarkExifUpright(m_exif);
    }
    m_icc.assign(icc, icc + iccSize);
    GlobalFree(exif);
    GlobalFree(icc);
}

uint32_t CImageObject::SaveFile(const std::string& path, int32_t type)
{
    const bool jpeg = type == TypeJpeg || type == TypeJpegGrey;
    const bool web = type == TypeWebp || type == TypeAvif;
    const std::optional<SaveTarget> target = WriterFor(type);
    // A code without a writer creates no file: an empty file would pass for a thumbnail.
    if (!jpeg && !web && !target)
        return kNoPicture;
    if (type == TypeJpeg)
        SetJPGDCTMethod(1);
    DataChannel* sink = OpenFileSink(path.c_str());
    if (!sink)
        return GetLastLibraryError();
    if (m_pixels && (type == TypeWebp || type == TypeAvif)) {
        auto write = type == TypeWebp ? WriteWebP : WriteAVIF;
        const uint32_t quality = static_cast<uint32_t>(std::clamp(m_jpegQuality, 1, 100));
        if (!SetPictureOutputXMP(m_carriedXmp.data(), static_cast<uint32_t>(m_carriedXmp.size()))) {
            CloseSink(sink);
            return kOutOfMemory;
        }
        const uint32_t written = write(sink, m_pixels.get(), m_width, m_height, quality,
                                       m_carriedExif.empty() ? nullptr : m_carriedExif.data(),
                                       static_cast<uint32_t>(m_carriedExif.size()),
                                       m_carriedIcc.empty() ? nullptr : m_carriedIcc.data(),
                                       static_cast<uint32_t>(m_carriedIcc.size()));
        const uint32_t writeCode = GetLastLibraryError();
        SetPictureOutputXMP(nullptr, 0);
        const uint32_t closed = CloseSink(sink);
        if (!written)
            return writeCode ? writeCode : 4;
        return closed ? 0 : 4;
    }
    if (!m_pixels) {
        CloseSink(sink);
        return kNoPicture;
    }
    const bool grey = type == TypeJpegGrey || (target && target->reduction == SaveTarget::Grey);
    const bool reduced = grey || (target && target->reduction == SaveTarget::Palette);
    std::unique_ptr<uint8_t[]> indices;
    uint8_t palette[256 * 4] = {};
    if (reduced) {
        indices.reset(new (std::nothrow) uint8_t[size_t{m_width} * m_height]);
        if (!indices) {
            CloseSink(sink);
            return kOutOfMemory;
        }
        const uint32_t made = grey ? RGBToGrey8(m_pixels.get(), m_width, m_height, indices.get())
                                   : ReduceToPalette(m_pixels.get(), m_width, m_height, indices.get(), 256, palette, 0);
        if (!made) {
            const uint32_t code = GetLastLibraryError();
            CloseSink(sink);
            return code ? code : kOutOfMemory;
        }
        if (grey)
            for (int i = 0; i < 256; ++i)
                palette[i * 4] = palette[i * 4 + 1] = palette[i * 4 + 2] = static_cast<uint8_t>(i);
    }
    uint32_t written = 0;
    if (jpeg) {
        if (m_fullChroma) {
            uint32_t ones[10] = {1, 1, 1, 1, 1, 1, 1, 1, 1, 1};
            SetJPGSampling(ones, ones);
        } else {
            SetJPGSampling(nullptr, nullptr);
        }
        written = WriteJPG(sink, grey ? indices.get() : m_pixels.get(), m_width, m_height,
                           static_cast<uint32_t>(m_jpegQuality), 0, grey ? 8 : 24, &kDensity);
    } else {
        written = SavePicture(sink, target->libraryCode, reduced ? indices.get() : m_pixels.get(), m_width,
                              m_height, reduced ? 8 : 24, reduced ? palette : nullptr);
    }
    const uint32_t writeCode = GetLastLibraryError();
    // The file is complete only once its last bytes reached the disk.
    const uint32_t closed = CloseSink(sink);
    if (!written)
        return writeCode ? writeCode : 4;
    if (!closed)
        return 4;
    return 0;
}

uint32_t CImageObject::Allocate(uint32_t width, uint32_t height)
{
    Release();
    const uint64_t bytes = uint64_t{width} * height * 3;
    if (width == 0 || height == 0 || uint64_t{width} * height > UINT32_MAX || bytes >= 0x7FFDEFFF)
        return width == 0 || height == 0 ? kNoPicture : kOutOfMemory;
    pxlib::Picture picture{pxlib::GlobalPtr<uint8_t>(static_cast<uint8_t*>(GlobalAlloc(GPTR, bytes))),
                           width, height};
    if (!picture)
        return kOutOfMemory;
    Adopt(std::move(picture));
    return 0;
}

uint32_t CImageObject::CopyFrom(const CImageObject& other)
{
    if (&other == this)
        return m_pixels ? 0 : kOutOfMemory;
    Release();
    if (!other.m_pixels)
        return kOutOfMemory;
    if (const uint32_t code = Allocate(other.m_width, other.m_height))
        return code;
    std::memcpy(m_pixels.get(), other.m_pixels.get(), size_t{m_width} * m_height * 3);
    return 0;
}

// A new picture of the size, filled by resize(from, to), takes the place of this one.
template <class Resize>
uint32_t CImageObject::ResizeWith(uint32_t width, uint32_t height, Resize&& resize)
{
    if (m_pixels && width == m_width && height == m_height)
        return 0;  // either method gives back every byte at the same size
    CImageObject target;
    if (const uint32_t code = target.Allocate(width, height))
        return code == kNoPicture ? kNoPicture : kOutOfMemory;
    if (!m_pixels)
        return kNoPicture;
    if (const uint32_t code = resize(m_pixels.get(), target.m_pixels.get()))
        return code;
    m_pixels = std::move(target.m_pixels);
    m_width = width;
    m_height = height;
    return 0;
}

uint32_t CImageObject::ResizeTo(uint32_t width, uint32_t height, int32_t method)
{
    return ResizeWith(width, height, [&](uint8_t* from, uint8_t* to) {
        if (method == 1)
            ResampleBicubic(from, m_width, m_height, to, width, height, 3);
        else
            ResampleBilinear(from, m_width, m_height, to, width, height, 3);
        return GetLastLibraryError();
    });
}

uint32_t CImageObject::ResizeSmoothly(uint32_t width, uint32_t height, int32_t method)
{
    return ResizeWith(width, height, [&](uint8_t* from, uint8_t* to) {
        const double extentX = m_reducedByBlocks ? ReducedExtent(m_storedWidth, m_width) : m_width;
        const double extentY = m_reducedByBlocks ? ReducedExtent(m_storedHeight, m_height) : m_height;
        return SmoothResize(from, m_width, m_height, extentX, extentY, to, width, height, method == 1) ? 0u
                                                                                                      : kOutOfMemory;
    });
}

uint32_t CImageObject::CropToBox(int32_t boxWidth, int32_t boxHeight, double position)
{
    if (!m_pixels)
        return kNoPicture;
    const auto window = CropToBoxWindow(m_width, m_height, CropRequest{boxWidth, boxHeight, position});
    if (!window)
        return 2;
    if (window->left < INT32_MIN || window->left > INT32_MAX || window->top < INT32_MIN ||
        window->top > INT32_MAX)
        return kNoPicture;
    CImageObject cut;
    if (const uint32_t code = cut.Allocate(window->width, window->height))
        return code;
    if (!CropRGB24(m_pixels.get(), m_width, m_height, cut.m_pixels.get(), static_cast<int32_t>(window->left),
                   static_cast<int32_t>(window->top), window->width, window->height))
        return GetLastLibraryError();
    m_pixels = std::move(cut.m_pixels);
    m_width = window->width;
    m_height = window->height;
    return 0;
}

uint32_t CImageObject::ApplyLevels(double darkPercent, double lightPercent, int32_t percentile)
{
    if (!m_pixels)
        return kNoPicture;
    const auto low = static_cast<uint32_t>(std::trunc(darkPercent * 0.01 * 255));
    const auto high = 255 - static_cast<uint32_t>(std::trunc(lightPercent * 0.01 * 255));
    AutoBrightness(m_pixels.get(), m_width, m_height, low, high, percentile != 0 ? 0 : 1);
    return GetLastLibraryError();
}

uint32_t CImageObject::SharpenImage(uint32_t level)
{
    if (!m_pixels)
        return kNoPicture;
    const size_t bytes = size_t{m_width} * m_height * 3;
    std::unique_ptr<uint8_t[]> scratch(new (std::nothrow) uint8_t[bytes]);
    if (!scratch)
        return kOutOfMemory;
    if (SharpenRGB24(m_pixels.get(), m_width, m_height, scratch.get(), level))
        std::memcpy(m_pixels.get(), scratch.get(), bytes);
    return GetLastLibraryError();
}

uint32_t CImageObject::Orient(uint32_t orientation)
{
    if (!m_pixels)
        return kNoPicture;
    if (orientation == 1)
        return 0;
    const bool turned = orientation >= 5 && orientation <= 8;
    CImageObject upright;
    if (const uint32_t code = upright.Allocate(turned ? m_height : m_width, turned ? m_width : m_height))
        return code;
    if (!OrientRGB24(m_pixels.get(), m_width, m_height, upright.m_pixels.get(), orientation))
        return GetLastLibraryError();
    m_pixels = std::move(upright.m_pixels);
    m_width = upright.m_width;
    m_height = upright.m_height;
    return 0;
}

uint32_t CImageObject::Draw(HDC dc, int32_t left, int32_t top, int32_t right, int32_t bottom) const
{
    return DrawPicture(dc, m_pixels.get(), m_width, m_height, left, top, right, bottom);
}

uint32_t CImageObject::GetPixel(uint32_t x, uint32_t y) const
{
    if (!m_pixels || x >= m_width || y >= m_height)
        return 0xFFFFFFFF;
    const uint8_t* p = m_pixels.get() + (size_t{y} * m_width + x) * 3;
    return p[0] | (p[1] << 8) | (uint32_t{p[2]} << 16);
}

bool CImageObject::SetPixel(uint32_t x, uint32_t y, uint32_t value)
{
    if (!m_pixels || x >= m_width || y >= m_height)
        return false;
    uint8_t* p = m_pixels.get() + (size_t{y} * m_width + x) * 3;
    p[0] = value & 0xFF;
    p[1] = (value >> 8) & 0xFF;
    p[2] = (value >> 16) & 0xFF;
    return true;
}

}  // namespace quillet
