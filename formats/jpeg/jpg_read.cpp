// JPEG reading: the source manager over a data channel, marker capture, and the read entries.
#include "base/channel.h"
#include "base/frame.h"
#include "base/live_handles.h"
#include "base/guard.h"
#include "base/image.h"
#include "base/thread_data.h"
#include "formats/jpeg/jpeg.h"
#include "formats/jpeg/jpg_glue.h"
#include "formats/jpeg/jpg_settings.h"
#include "imaging/area_reduce.h"
#include "imaging/conversions.h"
#include "imaging/resample.h"

#include <jerror.h>

#include <cstring>
#include <memory>
#include <new>

// One row-by-row decode; the public handle is its address. Destroying it destroys the
// decompressor, so every path that drops the owner releases libjpeg's memory too.
struct JPGReadState {
    jpeg_decompress_struct cinfo;
    px::jpg::JPGErrorManager error;
    px::Channel channel{nullptr};
    std::unique_ptr<uint8_t[]> rowBuffer;
    bool grey = false;
    bool broken = false;  // libjpeg failed mid-decode; it must not be called again but to destroy

    ~JPGReadState() { jpeg_destroy_decompress(&cinfo); }  // harmless on a zeroed cinfo
};

namespace px::jpg {
namespace {

// libjpeg-turbo decodes an MCU on its fast Huffman path only while the buffer holds 512 bytes
// per block of it (3 KB for 4:2:0), so a 4 KB buffer kept most of a file on the slow path.
constexpr uint32_t kInputBytes = 65536;

// Every 8 × 8 block of every component takes at least one bit (its DC code), so a byte backs
// at most 512 samples; the guard allows four times that and a margin of its own, which keeps
// genuine files cut short after real data decodable as partial pictures.
constexpr uint64_t kMaxSamplesPerByte = 4 * 512;

// libjpeg's own memory (progressive coefficient buffers, row buffers); beyond it a picture is
// refused as too large instead of being given to the allocator.
constexpr long kDecoderMemory = 1024L << 20;

struct JPGChannelSource {
    jpeg_source_mgr pub;
    Channel* channel;
    JOCTET* buffer;
    boolean atStartOfFile;
};

JPGChannelSource* Source(j_decompress_ptr cinfo) noexcept
{
    return reinterpret_cast<JPGChannelSource*>(cinfo->src);
}

void InitSource(j_decompress_ptr cinfo) noexcept
{
    Source(cinfo)->atStartOfFile = TRUE;
}

boolean FillInputBuffer(j_decompress_ptr cinfo) noexcept
{
    JPGChannelSource* source = Source(cinfo);
    uint32_t count = source->channel->Read(source->buffer, kInputBytes);
    if (count == 0) {
        if (source->atStartOfFile)
            ERREXIT(cinfo, JERR_INPUT_EMPTY);
        // A cut file ends as if it were complete; libjpeg fills the missing part.
        if (JPGSettings* settings = PerThread<JPGSettings>())  // set up before the decode
            settings->inputEndedEarly = true;
        WARNMS(cinfo, JWRN_JPEG_EOF);
        source->buffer[0] = 0xFF;
        source->buffer[1] = JPEG_EOI;
        count = 2;
    }
    source->pub.next_input_byte = source->buffer;
    source->pub.bytes_in_buffer = count;
    source->atStartOfFile = FALSE;
    return TRUE;  // never suspends
}

void SkipInputData(j_decompress_ptr cinfo, long count) noexcept
{
    if (count <= 0)
        return;
    jpeg_source_mgr* source = cinfo->src;
    while (count > static_cast<long>(source->bytes_in_buffer)) {
        count -= static_cast<long>(source->bytes_in_buffer);
        FillInputBuffer(cinfo);
    }
    source->next_input_byte += count;
    source->bytes_in_buffer -= static_cast<size_t>(count);
}

void TermSource(j_decompress_ptr) noexcept {}

// Called on a decompressor that has just been created; libjpeg's pool owns the manager.
void InstallSource(j_decompress_ptr cinfo, Channel* channel) noexcept
{
    if (!cinfo->src) {
        auto common = reinterpret_cast<j_common_ptr>(cinfo);
        auto* source = static_cast<JPGChannelSource*>(
            (*cinfo->mem->alloc_small)(common, JPOOL_PERMANENT, sizeof(JPGChannelSource)));
        source->buffer = static_cast<JOCTET*>(
            (*cinfo->mem->alloc_small)(common, JPOOL_PERMANENT, kInputBytes));
        cinfo->src = &source->pub;
    }
    JPGChannelSource* source = Source(cinfo);
    source->pub.init_source = InitSource;
    source->pub.fill_input_buffer = FillInputBuffer;
    source->pub.skip_input_data = SkipInputData;
    source->pub.resync_to_restart = jpeg_resync_to_restart;
    source->pub.term_source = TermSource;
    source->pub.bytes_in_buffer = 0;
    source->pub.next_input_byte = nullptr;
    source->channel = channel;
}

// The islands below arm the jump target and call into libjpeg. They hold only plain data;
// the caller owns the state and releases it when one returns false.

bool OpenDecoder(JPGReadState* s) noexcept
{
    s->cinfo.err = InstallErrorManager(s->error);
    if (setjmp(s->error.jump))
        return false;
    jpeg_create_decompress(&s->cinfo);
    s->cinfo.mem->max_memory_to_use = kDecoderMemory;
    InstallSource(&s->cinfo, &s->channel);
    // COM and APP1..APP14 whole; libjpeg reads APP0 (JFIF) and APP14 (Adobe) itself anyway.
    jpeg_save_markers(&s->cinfo, JPEG_COM, 0xFFFF);
    for (int marker = JPEG_APP0 + 1; marker <= JPEG_APP0 + 14; ++marker)
        jpeg_save_markers(&s->cinfo, marker, 0xFFFF);
    return jpeg_read_header(&s->cinfo, TRUE) == JPEG_HEADER_OK;
}

bool CalcOutputDimensions(JPGReadState* s) noexcept
{
    if (setjmp(s->error.jump))
        return false;
    jpeg_calc_output_dimensions(&s->cinfo);
    return true;
}

bool StartDecoder(JPGReadState* s) noexcept
{
    if (setjmp(s->error.jump))
        return false;
    return jpeg_start_decompress(&s->cinfo) == TRUE;
}

bool ReadLine(JPGReadState* s, JSAMPROW row) noexcept
{
    if (setjmp(s->error.jump))
        return false;
    return jpeg_read_scanlines(&s->cinfo, &row, 1) == 1;
}

bool FinishDecoder(JPGReadState* s) noexcept
{
    if (setjmp(s->error.jump))
        return false;
    jpeg_finish_decompress(&s->cinfo);
    return true;
}

// True when libjpeg stopped because the picture needs more than its memory limit.
bool OutOfDecoderMemory(const jpeg_decompress_struct& cinfo) noexcept
{
    const int code = cinfo.err->msg_code;
    return code == JERR_OUT_OF_MEMORY || code == JERR_NO_BACKING_STORE || code == JERR_TFILE_CREATE;
}

// libjpeg 6b scales only by 1/8, 1/4, 1/2 and 1/1; libjpeg-turbo would take other eighths,
// so the fraction is reduced to the largest of those steps that does not exceed it.
unsigned ScaleDenominator(uint32_t numerator, uint32_t denominator) noexcept
{
    if (denominator == 0)
        return 1;
    const uint64_t n = numerator;
    for (unsigned step : {8u, 4u, 2u})
        if (n * step <= denominator)
            return step;
    return 1;
}

void ClearCaptured(JPGSettings& settings) noexcept
{
    settings.capturedComments.clear();
    settings.capturedMarkers.clear();
}

// Copies the saved markers into the thread's captured lists, in file order. A marker that
// cannot be copied is left out; the decode goes on.
void CaptureMarkers(const jpeg_decompress_struct& cinfo, JPGSettings& settings) noexcept
{
    for (jpeg_saved_marker_ptr m = cinfo.marker_list; m; m = m->next) {
        try {
            if (m->marker == JPEG_COM) {
                if (!m->data)
                    continue;
                const auto* bytes = reinterpret_cast<const char*>(m->data);
                std::string text(bytes, strnlen(bytes, m->data_length));  // a text ends at a zero
                DebugTrace("PXLib JPG comment : %s\n", text.c_str());
                settings.capturedComments.push_back(std::move(text));
            } else if (m->data && m->data_length > 0) {
                settings.capturedMarkers.push_back(
                    JPGMarkerItem{m->marker, std::vector<uint8_t>(m->data, m->data + m->data_length)});
                DebugTrace("PXLib JPG marker # %d, len: %d\n", static_cast<int>(m->marker),
                           static_cast<int>(m->data_length));
            }
        } catch (const std::bad_alloc&) {
        }
    }
}

uint32_t GetDimensions(DataChannel* handle, uint32_t* width, uint32_t* height, uint32_t* bits,
                       JPGDensity* density)
{
    if (!AcceptReader(handle, width, height))
        return 0;
    JPGSettings& settings = ThreadSettings();
    ClearCaptured(settings);

    JPGReadState decoder{};
    decoder.channel = Channel(handle);
    if (!OpenDecoder(&decoder) || !CalcOutputDimensions(&decoder))
        return Fail(Code::JpegDecode);
    const jpeg_decompress_struct& c = decoder.cinfo;
    *width = c.image_width;
    *height = c.image_height;
    if (bits)
        *bits = static_cast<uint32_t>(c.output_components) * 8;
    CaptureMarkers(c, settings);
    // Without a JFIF header these are libjpeg's defaults (1, 1, 0).
    if (density)
        *density = JPGDensity{c.X_density, c.Y_density, c.density_unit};
    return 1;
}

using ReadOwner = std::unique_ptr<JPGReadState>;

// The DCT scale of a reduced decode: the coarsest step whose output still covers the aim.
unsigned AimedDenominator(uint32_t width, uint32_t height, uint32_t aimWidth, uint32_t aimHeight) noexcept
{
    for (unsigned step : {8u, 4u, 2u})
        if (reduce::Reduced(width, step) >= aimWidth && reduce::Reduced(height, step) >= aimHeight)
            return step;
    return 1;
}

struct Aim {
    uint32_t width = 0, height = 0;
};

// A decode at the thread's scale, or, given an aim, at the scale that aim allows.
ReadOwner BeginRead(DataChannel* handle, uint32_t* width, uint32_t* height, bool grey, const Aim* aim = nullptr)
{
    if (!AcceptReader(handle, width, height))
        return nullptr;
    ReadOwner s(new (std::nothrow) JPGReadState{});
    if (!s) {
        Fail(Code::OutOfMemory);
        return nullptr;
    }
    s->grey = grey;
    s->channel = Channel(handle);
    s->channel.Hold();
    JPGSettings& settings = ThreadSettings();
    ClearCaptured(settings);
    settings.inputEndedEarly = false;

    if (!OpenDecoder(s.get())) {
        Fail(Code::JpegDecode);
        return nullptr;
    }
    s->cinfo.scale_num = 1;
    s->cinfo.scale_denom = aim ? AimedDenominator(s->cinfo.image_width, s->cinfo.image_height, aim->width, aim->height)
                               : ScaleDenominator(settings.scaleNum, settings.scaleDenom);
    CaptureMarkers(s->cinfo, settings);
    // Before the start call, which for a progressive file allocates and clears coefficient
    // buffers for the whole picture.
    if (!GuardClaim(s->channel, s->cinfo.image_width, s->cinfo.image_height,
                    static_cast<uint32_t>(s->cinfo.num_components), kMaxSamplesPerByte,
                    Code::JpegDecode, s->cinfo.src->bytes_in_buffer))
        return nullptr;
    if (!StartDecoder(s.get())) {
        Fail(OutOfDecoderMemory(s->cinfo) ? Code::TooLarge : Code::JpegDecode);
        return nullptr;
    }
    const jpeg_decompress_struct& c = s->cinfo;
    const uint64_t rowBytes =
        CheckedMul(CheckedMul(c.output_width, static_cast<uint64_t>(c.output_components)), 2);
    if (rowBytes < kMaxGlobalBytes)
        s->rowBuffer.reset(new (std::nothrow) uint8_t[rowBytes]);
    if (!s->rowBuffer) {
        Fail(Code::OutOfMemory);
        return nullptr;
    }
    *width = c.output_width;
    *height = c.output_height;
    return s;
}

enum class RowAction { Direct, GreyToRGB, CMYKToRGB, RGBToGrey };

uint32_t ReadRow(JPGReadState& s, uint8_t* row, uint32_t* rowIndex)
{
    if (!row)
        return Fail(Code::BadArgument);
    const jpeg_decompress_struct& c = s.cinfo;
    if (s.broken)
        return Fail(Code::ReadError);
    if (c.output_scanline >= c.output_height)
        return Fail(Code::RowOutOfRange);

    const int components = c.output_components;
    const bool cmykFile = c.jpeg_color_space == JCS_CMYK || c.jpeg_color_space == JCS_YCCK;
    RowAction action;
    if (!s.grey && components == 3)
        action = RowAction::Direct;
    else if (!s.grey && components == 1)
        action = RowAction::GreyToRGB;
    else if (!s.grey && components == 4 && cmykFile)
        action = RowAction::CMYKToRGB;
    else if (s.grey && components == 1)
        action = RowAction::Direct;
    else if (s.grey && components == 3)
        action = RowAction::RGBToGrey;
    else
        return Fail(Code::LayoutUnavailable);

    uint8_t* target = action == RowAction::Direct ? row : s.rowBuffer.get();
    if (!ReadLine(&s, target)) {
        s.broken = true;
        return Fail(Code::ReadError);
    }

    const uint8_t* in = s.rowBuffer.get();
    const uint32_t width = c.output_width;
    switch (action) {
    case RowAction::Direct:
        break;
    case RowAction::GreyToRGB:
        for (uint32_t x = 0; x < width; ++x)
            row[3 * x] = row[3 * x + 1] = row[3 * x + 2] = in[x];
        break;
    case RowAction::CMYKToRGB:
        // Inverted CMYK as Adobe writes it: 255 means no ink.
        for (uint32_t x = 0; x < width; ++x) {
            const uint32_t k = in[4 * x + 3];
            row[3 * x] = static_cast<uint8_t>(in[4 * x] * k / 255);
            row[3 * x + 1] = static_cast<uint8_t>(in[4 * x + 1] * k / 255);
            row[3 * x + 2] = static_cast<uint8_t>(in[4 * x + 2] * k / 255);
        }
        break;
    case RowAction::RGBToGrey:
        convert::LuminanceRow(in, width, row);
        break;
    }
    if (rowIndex)
        *rowIndex = c.output_scanline - 1;
    return 1;
}

uint32_t EndRead(ReadOwner s)
{
    // Finishing reads on to the end of the data, which a closed channel no longer has.
    if (!s->channel.Held())
        return Fail(Code::BadChannel);
    const bool finished = !s->broken && FinishDecoder(s.get());
    s.reset();
    return finished ? 1 : Fail(Code::ReadError);
}

uint8_t* ReadWhole(DataChannel* handle, uint32_t* width, uint32_t* height, uint32_t bits)
{
    if (bits != 8 && bits != 24)
        return Fail(Code::BadArgument);
    ReadOwner s = BeginRead(handle, width, height, bits == 8);
    if (!s)
        return nullptr;
    const uint32_t w = *width;
    const uint32_t h = *height;
    if (ImageBytes(w, h, bits) >= kMaxGlobalBytes)
        return Fail(Code::TooLarge);
    // Every row is decoded into place or cleared below, so the block need not be cleared first.
    GlobalBuffer pixels = AllocateGlobalForFill(ImageBytes(w, h, bits));
    if (!pixels)
        return nullptr;
    const uint64_t stride = RowBytes(w, bits);
    // On a failed or cancelled row the decode is dropped without finishing: libjpeg would only
    // complain about the rows not read. The caller gets the rows decoded so far, the rest zero.
    auto partial = [&](uint32_t firstMissing) {
        std::memset(pixels.get() + firstMissing * stride, 0, (h - firstMissing) * stride);
        return pixels.Release();
    };
    for (uint32_t y = 0; y < h; ++y) {
        if (!ReadRow(*s, pixels.get() + y * stride, nullptr))
            return partial(y);
        if (!Progress(y, h))
            return partial(y + 1);
    }
    // Every row is there: a complaint while finishing does not spoil the image.
    FinishDecoder(s.get());
    return pixels.Release();
}

// The rows of a running decode, decoded as the resampler asks for them. A row that cannot be
// decoded and every row after it are zero, as ReadWhole leaves them.
class DecodedRows final : public resample::RowSource {
public:
    DecodedRows(JPGReadState& state, uint8_t* row, size_t rowBytes, uint32_t height)
        : m_state(state), m_row(row), m_rowBytes(rowBytes), m_height(height)
    {
    }

    const uint8_t* Row(uint32_t index) override
    {
        if (m_next > index + 1)
            m_outOfOrder = true;  // the row is gone; the read fails rather than guess
        for (; m_next <= index && m_next < m_height; ++m_next) {
            if (!m_failed && !ReadRow(m_state, m_row, nullptr))
                m_failed = true;
            if (m_failed)
                std::memset(m_row, 0, m_rowBytes);
        }
        return m_row;
    }

    bool Failed() const { return m_failed || m_outOfOrder; }
    bool OutOfOrder() const { return m_outOfOrder; }

private:
    JPGReadState& m_state;
    uint8_t* m_row;
    size_t m_rowBytes;
    uint32_t m_height;
    uint32_t m_next = 0;
    bool m_failed = false;
    bool m_outOfOrder = false;
};

uint8_t* ReadResampled(DataChannel* handle, uint32_t width, uint32_t height, uint32_t method,
                       uint32_t* sourceWidth, uint32_t* sourceHeight)
{
    if (!width || !height || method > 1 || !sourceWidth || !sourceHeight)
        return Fail(Code::BadArgument);
    ReadOwner s = BeginRead(handle, sourceWidth, sourceHeight, false);
    if (!s)
        return nullptr;
    const uint32_t w = *sourceWidth;
    const uint32_t h = *sourceHeight;
    // Refused where ReadWhole refuses it, though the whole picture is never held here.
    if (ImageBytes(w, h, 24) >= kMaxGlobalBytes)
        return Fail(Code::TooLarge);
    GlobalBuffer pixels = AllocateGlobalForFill(ImageBytes(width, height, 24));
    const size_t rowBytes = static_cast<size_t>(RowBytes(w, 24));
    std::unique_ptr<uint8_t[]> row(pixels ? new (std::nothrow) uint8_t[rowBytes] : nullptr);
    if (!row)
        return pixels ? Fail(Code::OutOfMemory) : nullptr;
    DecodedRows rows(*s, row.get(), rowBytes, h);
    if (!resample::FromRows(rows, w, h, pixels.get(), width, height, 3, method == 1))
        return nullptr;
    if (rows.OutOfOrder())
        return Fail(Code::ReadError);
    // The rows below the last one used are decoded too: a file cut there is still told.
    rows.Row(h - 1);
    if (rows.Failed())
        Fail(Code::ReadError);  // a partly decoded picture, as from ReadWhole
    else
        FinishDecoder(s.get());
    return pixels.Release();
}

// DCT scaling down to the coarsest step that covers the aim, then rows area-averaged as they
// are decoded: neither the full nor the scaled picture is ever held.
Picture ReadReduced(DataChannel* handle, uint32_t aimWidth, uint32_t aimHeight)
{
    uint32_t w = 0, h = 0;
    const Aim aim{aimWidth, aimHeight};
    ReadOwner s = BeginRead(handle, &w, &h, false, &aim);
    if (!s)
        return {};
    reduce::ReducingRows rows;
    if (!rows.Begin(w, h, aimWidth, aimHeight))
        return {};
    for (uint32_t y = 0; y < h; ++y) {
        if (!ReadRow(*s, rows.Row(y), nullptr)) {
            // The rows that came make an incomplete picture.
            Fail(Code::ReadError);
            return y ? rows.Finish() : Picture{};
        }
        rows.Done(y);
        if (!Progress(y, h))
            return {};
    }
    FinishDecoder(s.get());
    if (ThreadSettings().inputEndedEarly)
        Fail(Code::ReadError);
    return rows.Finish();
}

}  // namespace
}  // namespace px::jpg

namespace px::jpeg {

bool Probe(const uint8_t* header, size_t size) noexcept
{
    return size >= 3 && header[0] == 0xFF && header[1] == 0xD8 && header[2] == 0xFF;
}

bool Info(Channel& channel, uint32_t& width, uint32_t& height)
{
    return jpg::GetDimensions(channel.handle(), &width, &height, nullptr, nullptr) != 0;
}

Picture LoadRGB24(Channel& channel)
{
    return reader::WholeRGB24([&](uint32_t& width, uint32_t& height) {
        uint8_t* pixels = jpg::ReadWhole(channel.handle(), &width, &height, 24);
        // ReadJPG finishes a cut file without a code; a load tells it, as for other types.
        if (pixels && Current().code == Code::None && jpg::ThreadSettings().inputEndedEarly)
            Fail(Code::ReadError);
        return GlobalBuffer(pixels, pixels ? GlobalSize(pixels) : 0);
    });
}

Picture LoadReduced(Channel& channel, uint32_t aimWidth, uint32_t aimHeight)
{
    return jpg::ReadReduced(channel.handle(), aimWidth, aimHeight);
}

}  // namespace px::jpeg

extern "C" uint32_t GetJPGDimensions(DataChannel* source, uint32_t* width, uint32_t* height,
                                     uint32_t* bitsPerPixel, JPGDensity* density)
{
    return px::Entry([&] { return px::jpg::GetDimensions(source, width, height, bitsPerPixel, density); });
}

extern "C" uint8_t* ReadJPG(DataChannel* source, uint32_t* width, uint32_t* height, uint32_t bitsPerPixel)
{
    return px::Entry([&] { return px::jpg::ReadWhole(source, width, height, bitsPerPixel); });
}

extern "C" uint8_t* ReadJPGResampled(DataChannel* source, uint32_t width, uint32_t height, uint32_t method,
                                     uint32_t* sourceWidth, uint32_t* sourceHeight)
{
    return px::Entry([&] { return px::jpg::ReadResampled(source, width, height, method, sourceWidth, sourceHeight); });
}

extern "C" JPGReadState* BeginJPGRead(DataChannel* source, uint32_t* width, uint32_t* height, uint32_t grey)
{
    return px::Entry([&]() -> JPGReadState* {
        px::jpg::ReadOwner s = px::jpg::BeginRead(source, width, height, grey != 0);
        if (!s)
            return nullptr;
        if (!px::Live<JPGReadState>().Add(s.get()))
            return px::Fail(px::Code::OutOfMemory);
        return s.release();
    });
}

extern "C" uint32_t ReadJPGRow(JPGReadState* state, uint8_t* row, uint32_t* rowIndex)
{
    return px::Entry([&]() -> uint32_t {
        if (!state || !px::Live<JPGReadState>().Contains(state))
            return px::Fail(px::Code::BadArgument);
        if (!state->channel.Held())
            return px::Fail(px::Code::BadChannel);
        return px::jpg::ReadRow(*state, row, rowIndex);
    });
}

extern "C" uint32_t EndJPGRead(JPGReadState* state)
{
    return px::Entry([&]() -> uint32_t {
        if (!state || !px::Live<JPGReadState>().Remove(state))
            return px::Fail(px::Code::BadArgument);
        return px::jpg::EndRead(px::jpg::ReadOwner(state));
    });
}
