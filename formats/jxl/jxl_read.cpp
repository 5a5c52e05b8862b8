// JPEG XL reading over libjxl's event loop, from the whole file in memory: the basic info, the
// boxes before the code stream (EXIF), the colour profile and the first frame.
#include "formats/jxl/jxl.h"

#include "base/frame.h"
#include "base/guard.h"
#include "formats/container.h"
#include "formats/picture_metadata.h"

#include <jxl/decode.h>

#include <cstring>
#include <vector>

namespace px::jxl {
namespace {

using DecoderPtr = COwner<JxlDecoder, JxlDecoderDestroy>;

// A flat picture codes in a few bits per group, as in HEIF: a generous ratio still stops a
// forged size on a small file.
constexpr uint64_t kMaxExpansion = 1u << 16;
// An EXIF block is at most 64 KiB in JPEG; a box past this is not kept (a compressed one could
// otherwise unpack without end).
constexpr size_t kMaxExifBytes = 1u << 20;

constexpr uint8_t kContainer[] = {0, 0, 0, 0x0C, 'J', 'X', 'L', ' ', 0x0D, 0x0A, 0x87, 0x0A};

struct Decoder {
    std::vector<uint8_t> bytes;
    DecoderPtr decoder;
    JxlBasicInfo info{};
};

// The file in memory and a decoder over it, subscribed to `events`.
bool Open(Channel& channel, Decoder& d, int events)
{
    if (!ReadWholeChannel(channel, d.bytes))
        return false;
    d.decoder.reset(JxlDecoderCreate(nullptr));
    JxlDecoder* dec = d.decoder.get();
    if (!dec)
        return Fail(Code::OutOfMemory);
    if (JxlDecoderSubscribeEvents(dec, events | JXL_DEC_BASIC_INFO) != JXL_DEC_SUCCESS ||
        JxlDecoderSetInput(dec, d.bytes.data(), d.bytes.size()) != JXL_DEC_SUCCESS)
        return Fail(Code::JxlDecode);
    JxlDecoderCloseInput(dec);
    return true;
}

// After the basic info event: the size, checked against the bytes that must code it.
bool Measure(Channel& channel, Decoder& d, uint32_t& width, uint32_t& height)
{
    if (JxlDecoderGetBasicInfo(d.decoder.get(), &d.info) != JXL_DEC_SUCCESS || d.info.xsize == 0 ||
        d.info.ysize == 0)
        return Fail(Code::JxlDecode);
    channel.Rewind();
    if (!GuardClaim(channel, d.info.xsize, d.info.ysize, 3, kMaxExpansion, Code::JxlDecode))
        return false;
    width = d.info.xsize;
    height = d.info.ysize;
    return true;
}

// The EXIF box being read: its buffer grows as the decoder asks, up to kMaxExifBytes.
struct ExifBox {
    std::vector<uint8_t> data;
    bool open = false;
    bool dropped = false;

    void Start(JxlDecoder* dec)
    {
        dropped = false;
        data.resize(4096);
        open = JxlDecoderSetBoxBuffer(dec, data.data(), data.size()) == JXL_DEC_SUCCESS;
    }
    bool Grow(JxlDecoder* dec)
    {
        const size_t unused = JxlDecoderReleaseBoxBuffer(dec);
        const size_t used = data.size() - unused;
        if (dropped || data.size() * 2 > kMaxExifBytes) {
            // The rest of the box runs through the same bytes and is thrown away.
            dropped = true;
            return JxlDecoderSetBoxBuffer(dec, data.data(), data.size()) == JXL_DEC_SUCCESS;
        }
        data.resize(data.size() * 2);
        return JxlDecoderSetBoxBuffer(dec, data.data() + used, data.size() - used) == JXL_DEC_SUCCESS;
    }
    void Finish(JxlDecoder* dec)
    {
        if (!open)
            return;
        data.resize(data.size() - JxlDecoderReleaseBoxBuffer(dec));
        open = false;
        if (dropped)
            data.clear();
    }
};

std::vector<uint8_t> Profile(JxlDecoder* dec)
{
    size_t size = 0;
    std::vector<uint8_t> icc;
    if (JxlDecoderGetICCProfileSize(dec, nullptr, JXL_COLOR_PROFILE_TARGET_DATA, &size) == JXL_DEC_SUCCESS && size) {
        icc.resize(size);
        if (JxlDecoderGetColorAsICCProfile(dec, nullptr, JXL_COLOR_PROFILE_TARGET_DATA, icc.data(), size) !=
            JXL_DEC_SUCCESS)
            icc.clear();
    }
    return icc;
}

}  // namespace

bool Probe(const uint8_t* header, size_t size) noexcept
{
    return (size >= 2 && header[0] == 0xFF && header[1] == 0x0A) ||
           (size >= sizeof kContainer && std::memcmp(header, kContainer, sizeof kContainer) == 0);
}

bool Info(Channel& channel, uint32_t& width, uint32_t& height)
{
    width = height = 0;
    Decoder d;
    if (!Open(channel, d, 0))
        return false;
    if (JxlDecoderProcessInput(d.decoder.get()) != JXL_DEC_BASIC_INFO)
        return Fail(Code::JxlDecode);
    return Measure(channel, d, width, height);
}

Picture LoadRGB24(Channel& channel)
{
    Decoder d;
    if (!Open(channel, d, JXL_DEC_BOX | JXL_DEC_COLOR_ENCODING | JXL_DEC_FULL_IMAGE))
        return {};
    JxlDecoder* dec = d.decoder.get();
    JxlDecoderSetUnpremultiplyAlpha(dec, JXL_TRUE);
    JxlDecoderSetDecompressBoxes(dec, JXL_TRUE);
    const JxlPixelFormat format{4, JXL_TYPE_UINT8, JXL_NATIVE_ENDIAN, 0};
    uint32_t width = 0, height = 0;
    std::vector<uint8_t> rgba, icc;
    ExifBox exif;
    for (;;) {
        const JxlDecoderStatus status = JxlDecoderProcessInput(dec);
        if (status == JXL_DEC_BOX) {
            exif.Finish(dec);
            JxlBoxType type{};
            if (exif.data.empty() && JxlDecoderGetBoxType(dec, type, JXL_TRUE) == JXL_DEC_SUCCESS &&
                std::memcmp(type, "Exif", 4) == 0)
                exif.Start(dec);
        } else if (status == JXL_DEC_BOX_NEED_MORE_OUTPUT) {
            if (!exif.Grow(dec))
                return Fail(Code::JxlDecode);
        } else if (status == JXL_DEC_BASIC_INFO) {
            if (!Measure(channel, d, width, height) || !DecodableSize(width, height))
                return {};
        } else if (status == JXL_DEC_COLOR_ENCODING) {
            icc = Profile(dec);
        } else if (status == JXL_DEC_NEED_IMAGE_OUT_BUFFER) {
            exif.Finish(dec);
            size_t size = 0;
            if (JxlDecoderImageOutBufferSize(dec, &format, &size) != JXL_DEC_SUCCESS ||
                size != uint64_t{width} * height * 4)
                return Fail(Code::JxlDecode);
            rgba.resize(size);
            if (JxlDecoderSetImageOutBuffer(dec, &format, rgba.data(), rgba.size()) != JXL_DEC_SUCCESS)
                return Fail(Code::JxlDecode);
        } else if (status == JXL_DEC_FULL_IMAGE) {
            break;  // the first frame; later ones of an animation are never decoded
        } else {
            // An error, data that ends early, or a file without a frame.
            return Fail(Code::JxlDecode);
        }
    }
    KeepMetadata(exif.data.data(), exif.data.size(), icc.data(), icc.size());
    // Always four samples a pixel: a picture without alpha comes opaque.
    GlobalBuffer pixels = FlattenToRGB24(rgba.data(), size_t{width} * 4, true, width, height);
    if (!pixels)
        return {};
    return Picture::RGB24(std::move(pixels), width, height);
}

}  // namespace px::jxl
