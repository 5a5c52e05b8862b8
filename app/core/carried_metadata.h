// What a thumbnail carries of its source's EXIF, XMP and IPTC, read as fields and made true of
// the thumbnail.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace quillet {

// The source's metadata blocks as its file held them.
struct SourceMetadata {
    std::vector<uint8_t> exif;  // an APP1 payload: "Exif\0\0" and TIFF data (or an unknown APP1)
    std::vector<uint8_t> xmp;   // the XMP packet itself
    std::vector<std::vector<uint8_t>> xmpExtension;  // APP1 payloads of an extended packet's parts
    std::vector<uint8_t> iptc;  // an APP13 payload: "Photoshop 3.0\0" and its resources
};

// What the metadata must say of the thumbnail.
struct ThumbnailFacts {
    uint32_t width = 0;
    uint32_t height = 0;
    bool upright = false;     // the orientation becomes 1: the pixels are as they are to be seen
    bool turned = false;      // the pixels were turned or mirrored: no tag may turn them again
    bool srgb = false;        // the colours were converted to sRGB
    bool noLocation = false;  // "Remove location"
    bool iptcInXmp = false;   // the format has no place for IPTC: its fields go into the XMP packet
};

// The blocks to write, each empty when none is carried.
struct CarriedMetadata {
    std::vector<uint8_t> exif;  // an APP1 payload
    std::vector<uint8_t> xmp;   // the packet, without the JPEG identifier
    std::vector<std::vector<uint8_t>> xmpExtension;
    std::vector<uint8_t> iptc;  // an APP13 payload
};

// The EXIF, XMP and IPTC of a PNG or TIFF file as the blocks above, read from the whole file;
// of a TIFF file's own directory only the fields that describe the photograph, not its
// storage. Parts it does not have, or that cannot be read (with a debug line), are empty.
SourceMetadata ReadFileMetadata(const std::string& path);

// Thread-safe. A block that is damaged (directories that loop or run past its end, XML that is
// not well formed, datasets longer than the block) is left out with a debug line; a block of no
// known form is carried as it came, except under noLocation, since it might hold a position.
CarriedMetadata MakeCarriedMetadata(const SourceMetadata& source, const ThumbnailFacts& facts);

// The identifier of an XMP packet's APP1 marker, and of an APP13 marker of Photoshop resources.
inline constexpr char kXmpIdentifier[] = "http://ns.adobe.com/xap/1.0/";  // with its terminating 0
inline constexpr char kPhotoshopIdentifier[] = "Photoshop 3.0";        // likewise

}  // namespace quillet
