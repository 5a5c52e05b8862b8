// JPEG writing: the destination manager over a data channel, the encoder parameters, the
// queued comments and markers, and the write entries.
#include "base/channel.h"
#include "base/frame.h"
#include "base/live_handles.h"
#include "base/image.h"
#include "formats/jpeg/jpg_glue.h"
#include "formats/jpeg/jpg_settings.h"

#include <jerror.h>

#include <algorithm>
#include <memory>
#include <new>

// One encode; the public handle is its address. Destroying it destroys the compressor.
struct JPGWriteState {
    jpeg_compress_struct cinfo;
    px::jpg::JPGErrorManager error;
    px::Channel channel{nullptr};
    bool broken = false;  // libjpeg failed mid-encode; it must not be called again but to destroy

    ~JPGWriteState() { jpeg_destroy_compress(&cinfo); }  // harmless on a zeroed cinfo
};

namespace px::jpg {
namespace {

constexpr uint32_t kOutputBytes = 4096;

struct JPGChannelDestination {
    jpeg_destination_mgr pub;
    Channel* channel;
    JOCTET* buffer;
};

JPGChannelDestination* Destination(j_compress_ptr cinfo) noexcept
{
    return reinterpret_cast<JPGChannelDestination*>(cinfo->dest);
}

void InitDestination(j_compress_ptr cinfo) noexcept
{
    JPGChannelDestination* destination = Destination(cinfo);
    destination->buffer = static_cast<JOCTET*>(
        (*cinfo->mem->alloc_small)(reinterpret_cast<j_common_ptr>(cinfo), JPOOL_IMAGE, kOutputBytes));
    destination->pub.next_output_byte = destination->buffer;
    destination->pub.free_in_buffer = kOutputBytes;
}

boolean EmptyOutputBuffer(j_compress_ptr cinfo) noexcept
{
    JPGChannelDestination* destination = Destination(cinfo);
    if (!destination->channel->Write(destination->buffer, kOutputBytes))
        ERREXIT(cinfo, JERR_FILE_WRITE);
    destination->pub.next_output_byte = destination->buffer;
    destination->pub.free_in_buffer = kOutputBytes;
    return TRUE;  // never suspends
}

void TermDestination(j_compress_ptr cinfo) noexcept
{
    JPGChannelDestination* destination = Destination(cinfo);
    const auto pending = static_cast<uint32_t>(kOutputBytes - destination->pub.free_in_buffer);
    if (pending > 0 && !destination->channel->Write(destination->buffer, pending))
        ERREXIT(cinfo, JERR_FILE_WRITE);
}

// Called on a compressor that has just been created; libjpeg's pool owns the manager.
void InstallDestination(j_compress_ptr cinfo, Channel* channel) noexcept
{
    if (!cinfo->dest)
        cinfo->dest = static_cast<jpeg_destination_mgr*>((*cinfo->mem->alloc_small)(
            reinterpret_cast<j_common_ptr>(cinfo), JPOOL_PERMANENT, sizeof(JPGChannelDestination)));
    JPGChannelDestination* destination = Destination(cinfo);
    destination->pub.init_destination = InitDestination;
    destination->pub.empty_output_buffer = EmptyOutputBuffer;
    destination->pub.term_destination = TermDestination;
    destination->channel = channel;
    destination->buffer = nullptr;
}

struct EncodeParams {
    uint32_t width;
    uint32_t height;
    uint32_t quality;
    bool progressive;
    bool grey;
    JPGDensity density;
};

// The islands below arm the jump target and call into libjpeg. They hold only plain data;
// the caller owns the state and releases it when one returns false.

bool StartEncoder(JPGWriteState* s, const EncodeParams* p, const JPGSettings* options) noexcept
{
    s->cinfo.err = InstallErrorManager(s->error);
    if (setjmp(s->error.jump))
        return false;
    j_compress_ptr c = &s->cinfo;
    jpeg_create_compress(c);
    InstallDestination(c, &s->channel);
    c->image_width = p->width;
    c->image_height = p->height;
    c->input_components = p->grey ? 1 : 3;
    c->in_color_space = p->grey ? JCS_GRAYSCALE : JCS_RGB;
    jpeg_set_defaults(c);
    // Baseline forcing keeps every quantisation value within 8 bits whatever the quality.
    jpeg_set_quality(c, static_cast<int>(std::min<uint32_t>(p->quality, 100)), TRUE);
    if (options->customSampling) {
        // jpeg_set_defaults made all ten component slots; unused ones are ignored.
        for (uint32_t i = 0; i < kSamplingSlots; ++i) {
            c->comp_info[i].h_samp_factor = static_cast<int>(options->horizontalSampling[i]);
            c->comp_info[i].v_samp_factor = static_cast<int>(options->verticalSampling[i]);
        }
    }
    if (p->progressive)
        jpeg_simple_progression(c);
    c->density_unit = static_cast<UINT8>(p->density.unit);
    c->X_density = static_cast<UINT16>(p->density.xDensity);
    c->Y_density = static_cast<UINT16>(p->density.yDensity);
    switch (options->dctMethod) {
    case 1:
        c->dct_method = JDCT_ISLOW;
        break;
    case 2:
        c->dct_method = JDCT_IFAST;
        break;
    case 3:
        c->dct_method = JDCT_FLOAT;
        break;
    default:
        break;
    }
    c->smoothing_factor = static_cast<int>(options->smoothing);
    jpeg_start_compress(c, TRUE);  // writes SOI and the JFIF header

    for (const std::string& text : options->queuedComments)
        if (!text.empty())
            jpeg_write_marker(c, JPEG_COM, reinterpret_cast<const JOCTET*>(text.data()),
                              static_cast<unsigned>(text.size()));
    for (const JPGMarkerItem& item : options->queuedMarkers)
        jpeg_write_marker(c, static_cast<int>(item.code), item.payload.data(),
                          static_cast<unsigned>(item.payload.size()));
    return true;
}

bool WriteLine(JPGWriteState* s, JSAMPROW row) noexcept
{
    if (setjmp(s->error.jump))
        return false;
    return jpeg_write_scanlines(&s->cinfo, &row, 1) == 1;
}

bool FinishEncoder(JPGWriteState* s) noexcept
{
    if (setjmp(s->error.jump))
        return false;
    jpeg_finish_compress(&s->cinfo);
    return true;
}

using WriteOwner = std::unique_ptr<JPGWriteState>;

WriteOwner BeginWrite(DataChannel* handle, const EncodeParams& params)
{
    if (params.width == 0 || params.height == 0) {
        Fail(Code::BadArgument);
        return nullptr;
    }
    if (!AcceptChannel(handle))
        return nullptr;
    WriteOwner s(new (std::nothrow) JPGWriteState{});
    if (!s) {
        Fail(Code::OutOfMemory);
        return nullptr;
    }
    s->channel = Channel(handle);
    s->channel.Hold();
    if (!StartEncoder(s.get(), &params, &ThreadSettings())) {
        Fail(Code::WriteError);
        return nullptr;
    }
    return s;
}

EncodeParams Params(uint32_t width, uint32_t height, uint32_t quality, bool progressive, bool grey,
                    const JPGDensity* density) noexcept
{
    return EncodeParams{width, height, quality, progressive, grey,
                        density ? *density : JPGDensity{1, 1, 0}};
}

uint32_t WriteRow(JPGWriteState& s, const uint8_t* row)
{
    if (!row)
        return Fail(Code::BadArgument);
    if (s.broken)
        return Fail(Code::WriteError);
    if (s.cinfo.next_scanline >= s.cinfo.image_height)
        return Fail(Code::RowOutOfRange);
    // libjpeg takes rows as writable pointers but only reads them.
    if (!WriteLine(&s, const_cast<JSAMPROW>(row))) {
        s.broken = true;
        return Fail(Code::WriteError);
    }
    return 1;
}

uint32_t EndWrite(WriteOwner s)
{
    // Finishing writes the rest of the file, which a closed channel can no longer take.
    if (!s->channel.Held())
        return Fail(Code::BadChannel);
    const bool finished = !s->broken && FinishEncoder(s.get());
    s.reset();
    return finished ? 1 : Fail(Code::WriteError);
}

uint32_t WriteWhole(DataChannel* handle, const uint8_t* pixels, uint32_t width, uint32_t height,
                    uint32_t quality, bool progressive, uint32_t bits, const JPGDensity* density)
{
    if (bits != 8 && bits != 24)
        return Fail(Code::BadArgument);
    if (!pixels)
        return Fail(Code::BadArgument);
    WriteOwner s = BeginWrite(handle, Params(width, height, quality, progressive, bits == 8, density));
    if (!s)
        return 0;
    const uint64_t stride = RowBytes(width, bits);
    // A failed or cancelled row drops the encode without finishing: libjpeg would only
    // complain about the missing rows. The sink keeps what was written so far.
    for (uint32_t y = 0; y < height; ++y) {
        if (!WriteRow(*s, pixels + y * stride))
            return 0;
        if (!Progress(y, height))
            return 0;
    }
    if (!EndWrite(std::move(s)))
        return 0;
    return Channel(handle).Tell();
}

}  // namespace
}  // namespace px::jpg

extern "C" uint32_t WriteJPG(DataChannel* sink, const uint8_t* pixels, uint32_t width, uint32_t height,
                             uint32_t quality, uint32_t progressive, uint32_t bitsPerPixel,
                             const JPGDensity* density)
{
    return px::Entry([&] {
        return px::jpg::WriteWhole(sink, pixels, width, height, quality, progressive != 0, bitsPerPixel,
                                   density);
    });
}

extern "C" JPGWriteState* BeginJPGWrite(DataChannel* sink, uint32_t width, uint32_t height, uint32_t quality,
                                        uint32_t progressive, uint32_t grey, const JPGDensity* density)
{
    return px::Entry([&]() -> JPGWriteState* {
        px::jpg::WriteOwner s = px::jpg::BeginWrite(
            sink, px::jpg::Params(width, height, quality, progressive != 0, grey != 0, density));
        if (!s)
            return nullptr;
        if (!px::Live<JPGWriteState>().Add(s.get()))
            return px::Fail(px::Code::OutOfMemory);
        return s.release();
    });
}

extern "C" uint32_t WriteJPGRow(JPGWriteState* state, const uint8_t* row)
{
    return px::Entry([&]() -> uint32_t {
        if (!state || !px::Live<JPGWriteState>().Contains(state))
            return px::Fail(px::Code::BadArgument);
        if (!state->channel.Held())
            return px::Fail(px::Code::BadChannel);
        return px::jpg::WriteRow(*state, row);
    });
}

extern "C" uint32_t EndJPGWrite(JPGWriteState* state)
{
    return px::Entry([&]() -> uint32_t {
        if (!state || !px::Live<JPGWriteState>().Remove(state))
            return px::Fail(px::Code::BadArgument);
        return px::jpg::EndWrite(px::jpg::WriteOwner(state));
    });
}
