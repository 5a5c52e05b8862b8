// HEIF and AVIF reading over libheif: the primary image with its transformations applied.
#include "formats/heif/heif.h"

#include "base/frame.h"
#include "base/guard.h"
#include "formats/container.h"
#include "formats/heif/heif_owners.h"
#include "formats/picture_metadata.h"
#include "imaging/area_reduce.h"

#include <libheif/heif.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

namespace px::heif {
namespace {

using OptionsPtr = COwner<heif_decoding_options, heif_decoding_options_free>;

// HEVC and AV1 can code a flat picture in a few bits per block: a generous ratio keeps
// genuine files passing while a forged size on a tiny file is refused.
constexpr uint64_t kMaxExpansion = 1u << 16;

constexpr const char* kHeifBrands[] = {"heic", "heix", "hevc", "hevx", "heim", "heis", "mif1", "msf1"};
constexpr const char* kAvifBrands[] = {"avif", "avis"};

bool HasBrand(const uint8_t* header, size_t size, const char* const* brands, size_t count) noexcept
{
    if (size < 12 || std::memcmp(header + 4, "ftyp", 4) != 0)
        return false;
    // The major brand, then the compatible brands the header still holds.
    const uint32_t boxSize = uint32_t{header[0]} << 24 | uint32_t{header[1]} << 16 | uint32_t{header[2]} << 8 | header[3];
    const size_t end = boxSize < size ? boxSize : size;
    for (size_t at = 8; at + 4 <= end; at += at == 8 ? 8 : 4)
        for (size_t i = 0; i < count; ++i)
            if (std::memcmp(header + at, brands[i], 4) == 0)
                return true;
    return false;
}

// The file parsed and its primary image, held open for the caller.
struct Opened {
    std::vector<uint8_t> bytes;
    ContextPtr context;
    HandlePtr handle;
};

bool Open(Channel& channel, Opened& file)
{
    if (!ReadWholeChannel(channel, file.bytes))
        return false;
    file.context.reset(heif_context_alloc());
    if (!file.context)
        return Fail(Code::OutOfMemory);
    heif_error error = heif_context_read_from_memory_without_copy(file.context.get(), file.bytes.data(),
                                                                   file.bytes.size(), nullptr);
    if (error.code != heif_error_Ok)
        return Fail(Code::HeifDecode);
    heif_image_handle* handle = nullptr;
    error = heif_context_get_primary_image_handle(file.context.get(), &handle);
    file.handle.reset(handle);
    if (error.code != heif_error_Ok || !handle)
        return Fail(Code::HeifDecode);
    return true;
}

bool Size(Opened& file, Channel& channel, uint32_t& width, uint32_t& height)
{
    // The handle's size is the turned one: libheif applies rotation and cropping to it.
    const int w = heif_image_handle_get_width(file.handle.get());
    const int h = heif_image_handle_get_height(file.handle.get());
    if (w <= 0 || h <= 0)
        return Fail(Code::HeifDecode);
    // A derived picture (an overlay or a grid) is decoded on a canvas of its own stated size, which
    // the handle does not show: libheif is held to the handle's longer side, with room for a
    // clean-aperture crop, and the claim guard counts that square.
    const uint32_t side = static_cast<uint32_t>(std::max(w, h)) + 256;
    heif_context_set_maximum_image_size_limit(file.context.get(), static_cast<int>(std::min<uint32_t>(side, INT32_MAX)));
    channel.Rewind();
    if (!GuardClaim(channel, side, side, 3, kMaxExpansion, Code::HeifDecode))
        return false;
    width = static_cast<uint32_t>(w);
    height = static_cast<uint32_t>(h);
    return true;
}

void GatherMetadata(heif_image_handle* handle)
{
    std::vector<uint8_t> exif, icc;
    heif_item_id id = 0;
    if (heif_image_handle_get_list_of_metadata_block_IDs(handle, "Exif", &id, 1) == 1) {
        exif.resize(heif_image_handle_get_metadata_size(handle, id));
        if (!exif.empty() && heif_image_handle_get_metadata(handle, id, exif.data()).code != heif_error_Ok)
            exif.clear();
    }
    icc.resize(heif_image_handle_get_raw_color_profile_size(handle));
    if (!icc.empty() && heif_image_handle_get_raw_color_profile(handle, icc.data()).code != heif_error_Ok)
        icc.clear();
    // XMP is a "mime" item of its own content type; the first such one counts.
    std::vector<uint8_t> xmp;
    heif_item_id ids[8] = {};
    const int count = heif_image_handle_get_list_of_metadata_block_IDs(handle, "mime", ids, 8);
    for (int i = 0; i < count && xmp.empty(); ++i) {
        const char* type = heif_image_handle_get_metadata_content_type(handle, ids[i]);
        if (!type || std::strcmp(type, "application/rdf+xml") != 0)
            continue;
        xmp.resize(heif_image_handle_get_metadata_size(handle, ids[i]));
        if (!xmp.empty() && heif_image_handle_get_metadata(handle, ids[i], xmp.data()).code != heif_error_Ok)
            xmp.clear();
    }
    KeepMetadata(exif.data(), exif.size(), icc.data(), icc.size(), xmp.data(), xmp.size());
}

}  // namespace

bool ProbeHeif(const uint8_t* header, size_t size) noexcept
{
    return HasBrand(header, size, kHeifBrands, std::size(kHeifBrands)) && !ProbeAvif(header, size);
}

bool ProbeAvif(const uint8_t* header, size_t size) noexcept
{
    return HasBrand(header, size, kAvifBrands, std::size(kAvifBrands));
}

bool Info(Channel& channel, uint32_t& width, uint32_t& height)
{
    width = height = 0;
    Opened file;
    if (!Open(channel, file) || !Size(file, channel, width, height))
        return false;
    GatherMetadata(file.handle.get());
    return true;
}

namespace {

// An image of the file (the primary one or a thumbnail) decoded, turned as stored: its
// interleaved RGB or RGBA plane, checked to have the size expected.
struct Decoded {
    ImagePtr image;
    const uint8_t* plane = nullptr;
    size_t stride = 0;
    bool alpha = false;
};

Decoded DecodePlane(heif_image_handle* handle, uint32_t w, uint32_t h)
{
    Decoded out;
    out.alpha = heif_image_handle_has_alpha_channel(handle);
    OptionsPtr options(heif_decoding_options_alloc());
    if (!options) {
        Fail(Code::OutOfMemory);
        return {};
    }
    heif_image* decoded = nullptr;
    const heif_error error = heif_decode_image(handle, &decoded, heif_colorspace_RGB,
                                               out.alpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB,
                                               options.get());
    out.image.reset(decoded);
    if (error.code != heif_error_Ok || !out.image) {
        // A canvas past the limit set from the handle is the file's fault, not the machine's.
        Fail(error.code == heif_error_Memory_allocation_error && error.subcode != heif_suberror_Security_limit_exceeded
                 ? Code::OutOfMemory
                 : Code::HeifDecode);
        return {};
    }
    int stride = 0;
    out.plane = heif_image_get_plane_readonly(out.image.get(), heif_channel_interleaved, &stride);
    if (!out.plane || stride <= 0 ||
        heif_image_get_width(out.image.get(), heif_channel_interleaved) != static_cast<int>(w) ||
        heif_image_get_height(out.image.get(), heif_channel_interleaved) != static_cast<int>(h)) {
        Fail(Code::HeifDecode);
        return {};
    }
    out.stride = static_cast<size_t>(stride);
    return out;
}

GlobalBuffer DecodeImage(heif_image_handle* handle, uint32_t w, uint32_t h)
{
    const Decoded decoded = DecodePlane(handle, w, h);
    return decoded.plane ? FlattenToRGB24(decoded.plane, decoded.stride, decoded.alpha, w, h) : GlobalBuffer{};
}

// The decoded plane's rows area-averaged straight away: no RGB24 copy of the whole picture.
Picture DecodeReduced(heif_image_handle* handle, uint32_t w, uint32_t h, uint32_t aimWidth, uint32_t aimHeight)
{
    const Decoded decoded = DecodePlane(handle, w, h);
    reduce::ReducingRows rows(aimWidth, aimHeight);
    if (!decoded.plane || !rows.Begin(w, h))
        return {};
    for (uint32_t y = 0; y < h; ++y) {
        FlattenRow(decoded.plane + y * decoded.stride, decoded.alpha, w, rows.Row(y));
        rows.Done(y);
        if (!Progress(y, h))
            return {};
    }
    return rows.Finish();
}

// The file's own thumbnail when it covers the aim and shows the whole picture (its sides in
// the picture's proportion); an empty picture, with no code, when there is none such.
Picture CoveringThumbnail(heif_image_handle* primary, uint32_t width, uint32_t height, uint32_t aimWidth,
                          uint32_t aimHeight)
{
    heif_item_id ids[8] = {};
    const int count = heif_image_handle_get_list_of_thumbnail_IDs(primary, ids, 8);
    for (int i = 0; i < count && i < 8; ++i) {
        heif_image_handle* found = nullptr;
        if (heif_image_handle_get_thumbnail(primary, ids[i], &found).code != heif_error_Ok || !found)
            continue;
        HandlePtr thumbnail(found);
        const int tw = heif_image_handle_get_width(found), th = heif_image_handle_get_height(found);
        if (tw <= 0 || th <= 0 || static_cast<uint32_t>(tw) < aimWidth || static_cast<uint32_t>(th) < aimHeight)
            continue;
        const uint64_t across = uint64_t(tw) * height, down = uint64_t(th) * width;
        if ((across > down ? across - down : down - across) * 100 > across)
            continue;
        const Code before = Current().code;
        GlobalBuffer pixels = DecodeImage(found, static_cast<uint32_t>(tw), static_cast<uint32_t>(th));
        if (pixels)
            return Picture::RGB24(std::move(pixels), static_cast<uint32_t>(tw), static_cast<uint32_t>(th));
        Current().code = before;  // the primary image may still decode
    }
    return {};
}

}  // namespace

GlobalBuffer LoadRGB24(Channel& channel, uint32_t& width, uint32_t& height)
{
    width = height = 0;
    Opened file;
    uint32_t w = 0, h = 0;
    if (!Open(channel, file) || !Size(file, channel, w, h))
        return {};
    if (!DecodableSize(w, h))
        return {};
    GatherMetadata(file.handle.get());
    GlobalBuffer pixels = DecodeImage(file.handle.get(), w, h);
    if (!pixels)
        return {};
    width = w;
    height = h;
    return pixels;
}

Picture LoadReduced(Channel& channel, uint32_t aimWidth, uint32_t aimHeight)
{
    Opened file;
    uint32_t w = 0, h = 0;
    if (!Open(channel, file) || !Size(file, channel, w, h))
        return {};
    GatherMetadata(file.handle.get());
    Picture picture = CoveringThumbnail(file.handle.get(), w, h, aimWidth, aimHeight);
    if (picture)
        return reduce::ReducePicture(std::move(picture), aimWidth, aimHeight);
    // libheif decodes whole pictures only.
    if (!DecodableSize(w, h))
        return {};
    return DecodeReduced(file.handle.get(), w, h, aimWidth, aimHeight);
}

}  // namespace px::heif

extern "C" uint32_t GetHEIFInfo(DataChannel* source, uint32_t* width, uint32_t* height)
{
    return px::Entry([&] { return px::InfoEntry(source, width, height, px::heif::Info); });
}

extern "C" uint8_t* ReadHEIF(DataChannel* source, uint32_t* width, uint32_t* height)
{
    return px::Entry([&] { return px::ReadEntry(source, width, height, px::heif::LoadRGB24); });
}
