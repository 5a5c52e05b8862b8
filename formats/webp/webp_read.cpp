// WebP reading over libwebp; the EXIF and ICCP chunks are kept through the demuxer.
#include "formats/webp/webp.h"

#include "base/frame.h"
#include "base/guard.h"
#include "formats/picture_metadata.h"

#include <webp/decode.h>
#include <webp/demux.h>

#include <cstring>
#include <memory>
#include <vector>

namespace px::webp {
namespace {

struct DemuxCloser {
    void operator()(WebPDemuxer* d) const noexcept { WebPDemuxDelete(d); }
};
struct DecoderBufferCloser {
    void operator()(WebPDecBuffer* b) const noexcept { WebPFreeDecBuffer(b); }
};

// A lossless file codes a flat picture in almost no bits; the gate and libwebp's own
// 16383 × 16383 limit bound what such a file can ask for.
constexpr uint64_t kMaxExpansion = 1u << 16;

bool Features(Channel& channel, const std::vector<uint8_t>& bytes, WebPBitstreamFeatures& features,
              uint32_t& width, uint32_t& height)
{
    if (WebPGetFeatures(bytes.data(), bytes.size(), &features) != VP8_STATUS_OK || features.width <= 0 ||
        features.height <= 0)
        return Fail(Code::WebpDecode);
    channel.Rewind();
    if (!GuardClaim(channel, static_cast<uint32_t>(features.width), static_cast<uint32_t>(features.height), 3,
                    kMaxExpansion, Code::WebpDecode))
        return false;
    width = static_cast<uint32_t>(features.width);
    height = static_cast<uint32_t>(features.height);
    return true;
}

void KeepMetadata(const std::vector<uint8_t>& bytes)
{
    PictureMetadata& metadata = ThreadMetadata();
    metadata = {};
    const WebPData data{bytes.data(), bytes.size()};
    std::unique_ptr<WebPDemuxer, DemuxCloser> demux(WebPDemux(&data));
    if (!demux)
        return;
    WebPChunkIterator chunk;
    if (WebPDemuxGetChunk(demux.get(), "EXIF", 1, &chunk)) {
        metadata.exif = TiffPart(chunk.chunk.bytes, chunk.chunk.size);
        WebPDemuxReleaseChunkIterator(&chunk);
    }
    if (WebPDemuxGetChunk(demux.get(), "ICCP", 1, &chunk)) {
        metadata.icc.assign(chunk.chunk.bytes, chunk.chunk.bytes + chunk.chunk.size);
        WebPDemuxReleaseChunkIterator(&chunk);
    }
}

}  // namespace

bool Probe(const uint8_t* header, size_t size) noexcept
{
    return size >= 12 && std::memcmp(header, "RIFF", 4) == 0 && std::memcmp(header + 8, "WEBP", 4) == 0;
}

bool Info(Channel& channel, uint32_t& width, uint32_t& height)
{
    width = height = 0;
    std::vector<uint8_t> bytes;
    WebPBitstreamFeatures features;
    return ReadWholeChannel(channel, bytes) && Features(channel, bytes, features, width, height);
}

GlobalBuffer LoadRGB24(Channel& channel, uint32_t& width, uint32_t& height)
{
    width = height = 0;
    std::vector<uint8_t> bytes;
    WebPBitstreamFeatures features;
    uint32_t w = 0, h = 0;
    if (!ReadWholeChannel(channel, bytes) || !Features(channel, bytes, features, w, h))
        return {};
    if (ImageBytes(w, h, 32) >= kMaxGlobalBytes)
        return Fail(Code::OutOfMemory);
    KeepMetadata(bytes);

    WebPDecoderConfig config;
    if (!WebPInitDecoderConfig(&config))
        return Fail(Code::WebpDecode);
    config.output.colorspace = MODE_RGBA;
    std::unique_ptr<WebPDecBuffer, DecoderBufferCloser> output(&config.output);
    const VP8StatusCode status = WebPDecode(bytes.data(), bytes.size(), &config);
    if (status != VP8_STATUS_OK)
        return Fail(status == VP8_STATUS_OUT_OF_MEMORY ? Code::OutOfMemory : Code::WebpDecode);
    const WebPRGBABuffer& rgba = config.output.u.RGBA;
    if (static_cast<uint32_t>(config.output.width) != w || static_cast<uint32_t>(config.output.height) != h)
        return Fail(Code::WebpDecode);

    GlobalBuffer pixels = AllocateGlobalForFill(ImageBytes(w, h, 24));
    if (!pixels)
        return {};
    for (uint32_t y = 0; y < h; ++y) {
        const uint8_t* in = rgba.rgba + static_cast<size_t>(y) * static_cast<size_t>(rgba.stride);
        uint8_t* out = pixels.get() + uint64_t{y} * w * 3;
        for (uint32_t x = 0; x < w; ++x, in += 4, out += 3)
            for (int c = 0; c < 3; ++c)
                out[c] = static_cast<uint8_t>((in[c] * uint32_t{in[3]} + 127) / 255);
        if (!Progress(y, h))
            return {};
    }
    width = w;
    height = h;
    return pixels;
}

}  // namespace px::webp

extern "C" uint32_t GetWebPInfo(DataChannel* source, uint32_t* width, uint32_t* height)
{
    return px::Entry([&]() -> uint32_t {
        if (!width || !height)
            return px::Fail(px::Code::BadArgument);
        if (!px::AcceptChannel(source))
            return 0;
        px::Channel channel(source);
        return px::webp::Info(channel, *width, *height) ? 1 : 0;
    });
}

extern "C" uint8_t* ReadWebP(DataChannel* source, uint32_t* width, uint32_t* height)
{
    return px::Entry([&]() -> uint8_t* {
        if (!width || !height)
            return px::Fail(px::Code::BadArgument);
        if (!px::AcceptChannel(source))
            return nullptr;
        px::Channel channel(source);
        return px::webp::LoadRGB24(channel, *width, *height).Release();
    });
}
