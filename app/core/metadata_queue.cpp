// The metadata a thumbnail carries: its EXIF block, XMP packets and colour profile.
#include "core/batch_internal.h"

#include <string_view>

namespace quillet {
namespace {

void QueueApp1(const std::vector<uint8_t>& payload)
{
    AddJPGOutputMarker(payload.data(), static_cast<uint32_t>(payload.size()), 225);
}

}  // namespace

uint32_t ExifOrientation(const std::vector<uint8_t>& block)
{
    return block.empty() ? 1 : GetExifOrientation(block.data(), static_cast<uint32_t>(block.size()));
}

std::vector<uint8_t> CarriedExif(const CImageObject& image, const BatchSettings& s, bool madeSrgb, bool turned)
{
    const std::vector<uint8_t>& exif = image.ExifBlock();
    if (!IsExifPayload(exif))
        return !exif.empty() && !IsXmpPayload(exif) ? exif : std::vector<uint8_t>{};
    const uint32_t flags = (s.AutoRotate ? PX_EXIF_UPRIGHT : 0) | (s.StripGPS ? PX_EXIF_NO_GPS : 0) |
                           (madeSrgb ? PX_EXIF_SRGB : 0);
    uint32_t length = 0;
    if (uint8_t* rewritten = RewriteExifBlock(exif.data(), static_cast<uint32_t>(exif.size()), image.Width(),
                                              image.Height(), flags, &length)) {
        std::vector<uint8_t> block(rewritten, rewritten + length);
        GlobalFree(rewritten);
        return block;
    }
    if (s.StripGPS)
        return {};
    std::vector<uint8_t> block = exif;
    if (turned && !MarkExifUpright(block)) {
        OutputDebugStringA("Quillet: EXIF block left out: its orientation cannot be set upright\n");
        return {};
    }
    return block;
}

void QueueMetadata(const CImageObject& image, const std::vector<uint8_t>& exif, const BatchSettings& s,
                   bool pixelsTurned)
{
    if (!exif.empty())
        QueueApp1(exif);
    for (std::vector<uint8_t> packet : image.XmpPackets()) {
        const std::string_view text(reinterpret_cast<const char*>(packet.data()), packet.size());
        if (s.StripGPS && text.find("GPS") != std::string_view::npos)
            continue;  // its location cannot be taken out of the text reliably
        if (pixelsTurned)
            SetXMPUpright(packet.data(), static_cast<uint32_t>(packet.size()));
        QueueApp1(packet);
    }
}

std::vector<uint8_t> CarriedProfile(const std::vector<uint8_t>& profile)
{
    uint32_t length = 0;
    uint8_t* rgb = profile.empty() ? nullptr
                                   : MakeRGBICCProfile(profile.data(), static_cast<uint32_t>(profile.size()), &length);
    if (!rgb)
        return {};
    std::vector<uint8_t> carried(rgb, rgb + length);
    GlobalFree(rgb);
    return carried;
}

}  // namespace quillet
