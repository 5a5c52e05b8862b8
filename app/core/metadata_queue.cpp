// The metadata a thumbnail carries: its EXIF block, XMP packet, IPTC record and colour profile.
#include "core/batch_internal.h"

#include <algorithm>
#include <string_view>

namespace quillet {
namespace {

void QueueMarker(const std::vector<uint8_t>& payload, uint32_t code)
{
    if (!payload.empty())
        AddJPGOutputMarker(payload.data(), static_cast<uint32_t>(payload.size()), code);
}

// What every thumbnail's metadata must say, whatever its source: size, colours, location.
ThumbnailFacts CommonFacts(const CImageObject& image, const BatchSettings& s, bool madeSrgb)
{
    ThumbnailFacts facts;
    facts.width = image.Width();
    facts.height = image.Height();
    facts.srgb = madeSrgb;
    facts.noLocation = s.StripGPS;
    facts.iptcInXmp = s.Format == FormatWebp || s.Format == FormatAvif;
    return facts;
}

}  // namespace

uint32_t ExifOrientation(const std::vector<uint8_t>& block)
{
    return block.empty() ? 1 : GetExifOrientation(block.data(), static_cast<uint32_t>(block.size()));
}

CarriedMetadata CarryMetadata(const CImageObject& image, const BatchSettings& s, bool madeSrgb, bool turned,
                              const std::string& path, int32_t type)
{
    ThumbnailFacts facts = CommonFacts(image, s, madeSrgb);
    const uint32_t reader = ReaderFor(type);
    if (reader == PX_FILE_PNG || reader == PX_FILE_TIFF) {
        // Their readers take none of it, and show the pixels as stored or turn them by the
        // file's own tag: what is carried says orientation 1.
        facts.upright = facts.turned = true;
        return MakeCarriedMetadata(ReadFileMetadata(path), facts);
    }
    SourceMetadata source;
    source.exif = image.ExifBlock();
    const std::string_view id(kXmpIdentifier, sizeof kXmpIdentifier);
    for (const std::vector<uint8_t>& payload : image.XmpPackets()) {
        if (payload.size() > id.size() && std::equal(id.begin(), id.end(), payload.begin()))
            source.xmp.assign(payload.begin() + static_cast<long>(id.size()), payload.end());
        else
            source.xmpExtension.push_back(payload);
    }
    source.iptc = image.IptcBlock();
    // An AVIF file is shown by its own transform boxes, never by the tag: its pixels are as seen.
    facts.upright = s.AutoRotate || s.Format == FormatAvif || image.ReaderTurned();
    facts.turned = turned || s.Format == FormatAvif;
    return MakeCarriedMetadata(source, facts);
}

void QueueMetadata(const CarriedMetadata& carried)
{
    QueueMarker(carried.exif, 225);
    if (!carried.xmp.empty()) {
        std::vector<uint8_t> payload(kXmpIdentifier, kXmpIdentifier + sizeof kXmpIdentifier);
        payload.insert(payload.end(), carried.xmp.begin(), carried.xmp.end());
        QueueMarker(payload, 225);
    }
    for (const std::vector<uint8_t>& part : carried.xmpExtension)
        QueueMarker(part, 225);
    QueueMarker(carried.iptc, 237);
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
