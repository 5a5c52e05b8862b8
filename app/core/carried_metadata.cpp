// EXIF, XMP and IPTC read as fields with exiv2 and made true of the thumbnail. The EXIF block
// itself is rewritten by the library's libexif entry, which keeps maker notes and tags it does
// not know byte for byte; exiv2 judges a block that entry refuses.
#include "core/carried_metadata.h"

#include "core/image_object.h"
#include "pxlib.h"

#include <exiv2/exiv2.hpp>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <iterator>
#include <mutex>
#include <string>
#include <string_view>

namespace quillet {
namespace {

constexpr size_t kExifId = 6;  // "Exif\0\0"
constexpr size_t kPhotoshopId = sizeof kPhotoshopIdentifier;
constexpr size_t kMaxApp1Packet = 65533 - sizeof kXmpIdentifier;

// The worst of what exiv2 said on this thread since the last reset.
thread_local int t_worst = -1;

void NoteMessage(int level, const char* text)
{
    t_worst = std::max(t_worst, level);
    std::string line = std::string("Quillet: exiv2: ") + text;
    if (line.empty() || line.back() != '\n')
        line += '\n';
    OutputDebugStringA(line.c_str());
}

void Debug(const char* text)
{
    OutputDebugStringA((std::string("Quillet: ") + text + "\n").c_str());
}

// exiv2's XMP toolkit keeps namespaces and its parser state globally: one user at a time.
std::mutex& XmpLock()
{
    static std::mutex lock;
    return lock;
}

void SetUpOnce()
{
    static std::once_flag once;
    std::call_once(once, [] {
        Exiv2::LogMsg::setHandler(NoteMessage);
        Exiv2::LogMsg::setLevel(Exiv2::LogMsg::warn);
        std::lock_guard guard(XmpLock());
        Exiv2::XmpParser::initialize();
    });
}

// A block whose TIFF structure exiv2 had to read around: loops, entries past its end. Data
// that is not TIFF at all is of a form nobody reads, not damaged.
bool Damaged(const std::vector<uint8_t>& app1)
{
    if (!IsExifPayload(app1))
        return false;
    t_worst = -1;
    try {
        Exiv2::ExifData data;
        Exiv2::ExifParser::decode(data, app1.data() + kExifId, static_cast<uint32_t>(app1.size() - kExifId));
    } catch (const Exiv2::AnyError& error) {
        return error.code() != Exiv2::kerNotAnImage;
    } catch (const std::exception&) {
        return true;
    }
    return t_worst >= Exiv2::LogMsg::error;
}

std::vector<uint8_t> Exif(const std::vector<uint8_t>& block, const ThumbnailFacts& facts)
{
    if (block.empty() || IsXmpPayload(block))
        return {};
    if (IsExifPayload(block)) {
        const uint32_t flags = (facts.upright ? PX_EXIF_UPRIGHT : 0) | (facts.noLocation ? PX_EXIF_NO_GPS : 0) |
                               (facts.srgb ? PX_EXIF_SRGB : 0);
        uint32_t length = 0;
        if (uint8_t* rewritten = RewriteExifBlock(block.data(), static_cast<uint32_t>(block.size()), facts.width,
                                                  facts.height, flags, &length)) {
            std::vector<uint8_t> carried(rewritten, rewritten + length);
            GlobalFree(rewritten);
            return carried;
        }
    }
    // Not rewritten: exiv2 tells a damaged block from one of a form nobody reads (or one that
    // would no longer fit its marker).
    if (Damaged(block)) {
        Debug("EXIF block left out: its directories are damaged");
        return {};
    }
    // As it came: it might hold a position that cannot be taken out.
    if (facts.noLocation)
        return {};
    std::vector<uint8_t> carried = block;
    if (facts.turned && IsExifPayload(carried) && !MarkExifUpright(carried)) {
        Debug("EXIF block left out: its orientation cannot be set upright");
        return {};
    }
    return carried;
}

// A location: EXIF's GPS fields in XMP, the coordinates of IPTC's locations (a struct's GPS
// members) and cameras' own GPS fields; typed place names stay.
bool IsLocation(const std::string& key)
{
    std::string_view name = key;
    const size_t slash = name.rfind('/');
    name.remove_prefix(slash != std::string_view::npos ? slash + 1 : std::min(name.size(), name.find('.', 4) + 1));
    if (const size_t colon = name.rfind(':'); colon != std::string_view::npos)
        name.remove_prefix(colon + 1);
    // Some cameras' own namespaces spell it "Gps" (drones: drone-dji:GpsLatitude).
    auto lower = [](char c) { return std::tolower(static_cast<unsigned char>(c)); };
    return name.size() >= 3 && lower(name[0]) == 'g' && lower(name[1]) == 'p' && lower(name[2]) == 's';
}

bool SetIfPresent(Exiv2::XmpData& data, const char* key, uint32_t value)
{
    const auto at = data.findKey(Exiv2::XmpKey(key));
    return at == data.end() || at->setValue(std::to_string(value)) == 0;
}

// Fields of IPTC that the packet does not have are added to it; a packet's own value wins.
void AddIptc(Exiv2::XmpData& data, const Exiv2::IptcData& iptc)
{
    Exiv2::XmpData converted;
    Exiv2::copyIptcToXmp(iptc, converted);
    for (const Exiv2::Xmpdatum& field : converted)
        if (data.findKey(Exiv2::XmpKey(field.key())) == data.end())
            data.add(field);
}

// The text of an extended packet: the data of its parts, which JPEG files hold in order.
std::string ExtensionText(const std::vector<std::vector<uint8_t>>& parts)
{
    constexpr size_t kHeader = 35 + 32 + 4 + 4;  // identifier, digest, full length, offset
    std::string text;
    for (const std::vector<uint8_t>& part : parts)
        if (part.size() > kHeader)
            text.append(part.begin() + kHeader, part.end());
    return text;
}

// The packet, with the fields of its extension where the format holds one packet only. The
// extension parts travel as they came, since a digest of their text binds them to the packet;
// so `keepParts` is false where that text holds a location that must go.
std::vector<uint8_t> Xmp(const std::vector<uint8_t>& packet, const ThumbnailFacts& facts, const Exiv2::IptcData* iptc,
                         const std::string& extension, bool& keepParts)
{
    keepParts = false;
    if (packet.empty() && !iptc)
        return {};
    std::lock_guard guard(XmpLock());
    std::string text;
    try {
        Exiv2::XmpData data, extended;
        if (!packet.empty() && Exiv2::XmpParser::decode(data, std::string(packet.begin(), packet.end())) != 0) {
            Debug("XMP packet left out: it is not well-formed XMP");
            return {};
        }
        const bool readable = !extension.empty() && Exiv2::XmpParser::decode(extended, extension) == 0;
        const bool located = std::any_of(extended.begin(), extended.end(),
                                         [](const Exiv2::Xmpdatum& field) { return IsLocation(field.key()); });
        if (facts.iptcInXmp) {
            for (const Exiv2::Xmpdatum& field : extended)
                if (data.findKey(Exiv2::XmpKey(field.key())) == data.end())
                    data.add(field);
        } else {
            keepParts = !extension.empty() && !(facts.noLocation && (located || !readable));
        }
        if (iptc)
            AddIptc(data, *iptc);
        if (data.empty())
            return {};
        for (auto at = data.begin(); at != data.end();) {
            const std::string key = at->key();
            const bool drop = key.rfind("Xmp.xmp.Thumbnails", 0) == 0 ||  // a preview of the source
                              (facts.srgb && key == "Xmp.photoshop.ICCProfile") ||
                              (facts.noLocation && IsLocation(key)) ||
                              (!keepParts && key == "Xmp.xmpNote.HasExtendedXMP");
            at = drop ? data.erase(at) : at + 1;
        }
        const bool set = (!facts.upright || SetIfPresent(data, "Xmp.tiff.Orientation", 1)) &&
                         SetIfPresent(data, "Xmp.tiff.ImageWidth", facts.width) &&
                         SetIfPresent(data, "Xmp.tiff.ImageLength", facts.height) &&
                         SetIfPresent(data, "Xmp.exif.PixelXDimension", facts.width) &&
                         SetIfPresent(data, "Xmp.exif.PixelYDimension", facts.height) &&
                         (!facts.srgb || SetIfPresent(data, "Xmp.exif.ColorSpace", 1));
        if (!set || Exiv2::XmpParser::encode(text, data, Exiv2::XmpParser::useCompactFormat, 1) != 0) {
            Debug("XMP packet left out: it cannot be written again");
            return {};
        }
    } catch (const std::exception&) {
        Debug("XMP packet left out: it is not well-formed XMP");
        return {};
    }
    if (!facts.iptcInXmp && text.size() > kMaxApp1Packet) {  // a JPEG thumbnail's one marker
        Debug("XMP packet left out: it no longer fits one marker");
        return {};
    }
    return {text.begin(), text.end()};
}

void AppendBigEndian(std::vector<uint8_t>& out, uint32_t value, int bytes)
{
    for (int i = bytes - 1; i >= 0; --i)
        out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

// The IPTC record of an APP13 payload of Photoshop resources; false, with a debug line, when
// it is damaged. A payload without one gives an empty record.
bool ReadIptc(const std::vector<uint8_t>& app13, Exiv2::IptcData& data)
{
    if (app13.size() <= kPhotoshopId || std::memcmp(app13.data(), kPhotoshopIdentifier, kPhotoshopId) != 0)
        return true;
    const Exiv2::byte* record = nullptr;
    uint32_t header = 0, size = 0;
    t_worst = -1;
    try {
        const int found = Exiv2::Photoshop::locateIptcIrb(app13.data() + kPhotoshopId,
                                                          static_cast<long>(app13.size() - kPhotoshopId), &record,
                                                          &header, &size);
        if (found == 3)
            return true;  // resources without an IPTC record
        if (found == 0 && Exiv2::IptcParser::decode(data, record + header, size) == 0 && t_worst < Exiv2::LogMsg::warn)
            return true;
    } catch (const std::exception&) {
    }
    data.clear();
    Debug("IPTC block left out: its datasets run past its end");
    return false;
}

// Only the IPTC record of Photoshop's resources is carried: the others hold the source's
// preview, its resolution and its editing state.
std::vector<uint8_t> Iptc(const Exiv2::IptcData& data)
{
    if (data.empty())
        return {};
    const Exiv2::DataBuf iim = Exiv2::IptcParser::encode(data);
    std::vector<uint8_t> out(kPhotoshopIdentifier, kPhotoshopIdentifier + kPhotoshopId);
    const uint8_t resource[] = {'8', 'B', 'I', 'M', 0x04, 0x04, 0, 0};  // IPTC, with an empty name
    out.insert(out.end(), resource, resource + sizeof resource);
    AppendBigEndian(out, static_cast<uint32_t>(iim.size_), 4);
    out.insert(out.end(), iim.pData_, iim.pData_ + iim.size_);
    if (iim.size_ % 2)
        out.push_back(0);
    return out;
}

// Fields of a TIFF file's first directory that describe the photograph rather than its storage.
bool Describes(const Exiv2::Exifdatum& field)
{
    static const char* const kImageFields[] = {"Make", "Model", "Orientation", "DateTime", "Artist", "Copyright",
                                               "Software", "ImageDescription"};
    const std::string group = field.groupName();
    if (group == "Photo" || group == "GPSInfo" || group == "Iop")
        return field.tagName() != "MakerNote";  // bound to offsets of the file it came from
    return group == "Image" && std::find(std::begin(kImageFields), std::end(kImageFields), field.tagName()) !=
                                   std::end(kImageFields);
}

}  // namespace

SourceMetadata ReadFileMetadata(const std::string& path)
{
    SetUpOnce();
    SourceMetadata source;
    std::lock_guard guard(XmpLock());  // reading a file decodes its XMP
    t_worst = -1;
    try {
        auto image = Exiv2::ImageFactory::open(path);
        if (!image.get())
            return {};
        image->readMetadata();
        Exiv2::ExifData exif;
        for (const Exiv2::Exifdatum& field : image->exifData())
            if (Describes(field))
                exif.add(field);
        if (!exif.empty()) {
            Exiv2::Blob tiff;
            Exiv2::ExifParser::encode(tiff, Exiv2::littleEndian, exif);
            source.exif = {'E', 'x', 'i', 'f', 0, 0};
            source.exif.insert(source.exif.end(), tiff.begin(), tiff.end());
        }
        source.xmp.assign(image->xmpPacket().begin(), image->xmpPacket().end());
        source.iptc = Iptc(image->iptcData());
    } catch (const std::exception&) {
        Debug("metadata left out: the file's metadata cannot be read");
        return {};
    }
    return source;
}

CarriedMetadata MakeCarriedMetadata(const SourceMetadata& source, const ThumbnailFacts& facts)
{
    SetUpOnce();
    CarriedMetadata carried;
    carried.exif = Exif(source.exif, facts);
    Exiv2::IptcData iptc;
    ReadIptc(source.iptc, iptc);
    bool keepParts = false;
    carried.xmp = Xmp(source.xmp, facts, facts.iptcInXmp && !iptc.empty() ? &iptc : nullptr,
                      ExtensionText(source.xmpExtension), keepParts);
    if (!carried.xmp.empty() && keepParts)
        carried.xmpExtension = source.xmpExtension;
    if (!facts.iptcInXmp)
        carried.iptc = Iptc(iptc);
    return carried;
}

}  // namespace quillet
