// WebP reading over libwebp; the EXIF, ICCP and XMP chunks are kept through the demuxer.
#include "formats/webp/webp.h"

#include "base/frame.h"
#include "base/guard.h"
#include "formats/container.h"
#include "formats/picture_metadata.h"

#include <webp/decode.h>
#include <webp/demux.h>

#include <algorithm>
#include <cstring>
#include <vector>

namespace px::webp {
namespace {

using DemuxPtr = COwner<WebPDemuxer, WebPDemuxDelete>;
using DecoderBufferPtr = COwner<WebPDecBuffer, WebPFreeDecBuffer>;

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

// The chunks point into `bytes`, which the demuxer does not copy.
void GatherMetadata(const std::vector<uint8_t>& bytes)
{
    const WebPData data{bytes.data(), bytes.size()};
    DemuxPtr demux(WebPDemux(&data));
    WebPData exif{}, icc{};
    WebPChunkIterator chunk;
    if (demux && WebPDemuxGetChunk(demux.get(), "EXIF", 1, &chunk)) {
        exif = chunk.chunk;
        WebPDemuxReleaseChunkIterator(&chunk);
    }
    if (demux && WebPDemuxGetChunk(demux.get(), "ICCP", 1, &chunk)) {
        icc = chunk.chunk;
        WebPDemuxReleaseChunkIterator(&chunk);
    }
    WebPData xmp{};
    if (demux && WebPDemuxGetChunk(demux.get(), "XMP ", 1, &chunk)) {
        xmp = chunk.chunk;
        WebPDemuxReleaseChunkIterator(&chunk);
    }
    KeepMetadata(exif.bytes, exif.size, icc.bytes, icc.size, xmp.bytes, xmp.size);
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
    // The metadata too: a caller may want the orientation before it decides how to load.
    if (!ReadWholeChannel(channel, bytes) || !Features(channel, bytes, features, width, height))
        return false;
    GatherMetadata(bytes);
    return true;
}

namespace {

// The picture decoded whole (scaledWidth 0) or scaled by libwebp's own rescaler as it decodes.
GlobalBuffer Decode(Channel& channel, uint32_t& width, uint32_t& height, uint32_t aimWidth, uint32_t aimHeight,
                    bool scaled)
{
    width = height = 0;
    std::vector<uint8_t> bytes;
    WebPBitstreamFeatures features;
    uint32_t w = 0, h = 0;
    if (!ReadWholeChannel(channel, bytes) || !Features(channel, bytes, features, w, h))
        return {};
    // libwebp's rescaler averages areas, so it goes to the aim itself: nothing is left to
    // resample after it.
    if (scaled) {
        w = std::max<uint32_t>(1, std::min(w, aimWidth));
        h = std::max<uint32_t>(1, std::min(h, aimHeight));
    }
    if (!DecodableSize(w, h))
        return {};
    GatherMetadata(bytes);

    WebPDecoderConfig config;
    if (!WebPInitDecoderConfig(&config))
        return Fail(Code::WebpDecode);
    config.output.colorspace = MODE_RGBA;
    if (scaled && (w != static_cast<uint32_t>(features.width) || h != static_cast<uint32_t>(features.height))) {
        config.options.use_scaling = 1;
        config.options.scaled_width = static_cast<int>(w);
        config.options.scaled_height = static_cast<int>(h);
    }
    // libwebp's own second thread for the loop filter, as other thumbnailers let it run.
    if (scaled)
        config.options.use_threads = 1;
    DecoderBufferPtr output(&config.output);
    const VP8StatusCode status = WebPDecode(bytes.data(), bytes.size(), &config);
    if (status != VP8_STATUS_OK)
        return Fail(status == VP8_STATUS_OUT_OF_MEMORY ? Code::OutOfMemory : Code::WebpDecode);
    const WebPRGBABuffer& rgba = config.output.u.RGBA;
    if (static_cast<uint32_t>(config.output.width) != w || static_cast<uint32_t>(config.output.height) != h ||
        rgba.stride <= 0)
        return Fail(Code::WebpDecode);
    GlobalBuffer pixels = FlattenToRGB24(rgba.rgba, static_cast<size_t>(rgba.stride), true, w, h);
    if (!pixels)
        return {};
    width = w;
    height = h;
    return pixels;
}

}  // namespace

GlobalBuffer LoadRGB24(Channel& channel, uint32_t& width, uint32_t& height)
{
    return Decode(channel, width, height, 0, 0, false);
}

Picture LoadReduced(Channel& channel, uint32_t aimWidth, uint32_t aimHeight)
{
    return reader::WholeRGB24(
        [&](uint32_t& width, uint32_t& height) { return Decode(channel, width, height, aimWidth, aimHeight, true); });
}

}  // namespace px::webp

extern "C" uint32_t GetWebPInfo(DataChannel* source, uint32_t* width, uint32_t* height)
{
    return px::Entry([&] { return px::InfoEntry(source, width, height, px::webp::Info); });
}

extern "C" uint8_t* ReadWebP(DataChannel* source, uint32_t* width, uint32_t* height)
{
    return px::Entry([&] { return px::ReadEntry(source, width, height, px::webp::LoadRGB24); });
}
