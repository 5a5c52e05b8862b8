// PNG reading: libpng fed from a data channel, its transformations chosen per requested layout.
#include "formats/png/png.h"

#include "base/guard.h"
#include "base/thread_data.h"
#include "base/frame.h"
#include "imaging/area_reduce.h"

#include <png.h>

#include <algorithm>
#include <cmath>
#include <csetjmp>
#include <cstring>
#include <new>

namespace px::png {
namespace {

// Deflate's best ratio, in filtered bytes per compressed byte.
constexpr uint64_t kDeflateExpansion = 1032;

// libpng's own limit for an ancillary chunk when the channel cannot tell its size.
constexpr png_alloc_size_t kChunkLimit = 8000000;

void OnError(png_structp png, png_const_charp message) noexcept
{
    DebugTrace("PXLib PNG Error : %s\n", message ? message : "");
    png_longjmp(png, 1);
}

void OnWarning(png_structp, png_const_charp message) noexcept
{
    DebugTrace("PXLib PNG Warning : %s\n", message ? message : "");
}

void ReadData(png_structp png, png_bytep data, size_t length) noexcept
{
    auto* channel = static_cast<Channel*>(png_get_io_ptr(png));
    if (length > UINT32_MAX || !channel->ReadExact(data, static_cast<uint32_t>(length)))
        png_error(png, "read Error");
}

// Owns libpng's read and info structures; the islands below only borrow them.
class Decoder {
public:
    Decoder() noexcept
    {
        m_png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, OnError, OnWarning);
        if (m_png)
            m_info = png_create_info_struct(m_png);
    }
    ~Decoder()
    {
        if (m_png)
            png_destroy_read_struct(&m_png, m_info ? &m_info : nullptr, nullptr);
    }
    Decoder(const Decoder&) = delete;
    Decoder& operator=(const Decoder&) = delete;

    bool ok() const noexcept { return m_png && m_info; }
    png_structp png() const noexcept { return m_png; }
    png_infop info() const noexcept { return m_info; }

private:
    png_structp m_png = nullptr;
    png_infop m_info = nullptr;
};

struct Header {
    png_uint_32 width = 0;
    png_uint_32 height = 0;
    int bitDepth = 0;
    int colorType = 0;
    int interlace = 0;
    int channels = 0;
    bool hasTransparency = false;
    png_color_16p background = nullptr;  // the file's bKGD, owned by libpng
    bool hasGamma = false;
    double fileGamma = 0;
    png_colorp palette = nullptr;        // the file's PLTE, owned by libpng
    int paletteCount = 0;
};

// The transformations for one read, decided before libpng is asked to apply them.
struct Plan {
    bool paletteToRGB = false;
    bool expandGrey = false;
    bool greyToRGB = false;
    bool packing = false;
    bool transparencyToAlpha = false;
    bool strip16 = false;
    bool filler = false;
    png_color_16 background{};
    int backgroundMode = 0;  // 0 none, else libpng's PNG_BACKGROUND_GAMMA_* code
    bool needExpand = false;
    bool gamma = false;
    double screenGamma = 0;
    double fileGamma = 0;
    bool passesApart = false;  // an interlaced picture's passes as libpng stores them
};

// The islands below arm libpng's jump target. They hold only plain data: the jump skips
// destructors, so every owner lives in the caller.

bool ReadHeader(png_structp png, png_infop info, Channel* channel, Header* h) noexcept
{
    if (setjmp(png_jmpbuf(png)))
        return false;
    png_set_read_fn(png, channel, ReadData);
    // No chunk is longer than the file. libpng only warns about a longer claim and then
    // allocates and clears it anyway, so its "benign" complaints end the read.
    const uint32_t size = channel->Size();
    png_set_chunk_malloc_max(png, size ? std::max<png_alloc_size_t>(size, 4096) : kChunkLimit);
    png_set_benign_errors(png, 0);
    png_read_info(png, info);
    png_get_IHDR(png, info, &h->width, &h->height, &h->bitDepth, &h->colorType, &h->interlace,
                 nullptr, nullptr);
    h->channels = png_get_channels(png, info);
    h->hasTransparency = png_get_valid(png, info, PNG_INFO_tRNS) != 0;
    if (!png_get_bKGD(png, info, &h->background))
        h->background = nullptr;
    h->hasGamma = png_get_gAMA(png, info, &h->fileGamma) != 0;
    if (!png_get_PLTE(png, info, &h->palette, &h->paletteCount))
        h->palette = nullptr;
    return true;
}

bool Configure(png_structp png, png_infop info, const Plan* plan, size_t* rowBytes, int* passes) noexcept
{
    if (setjmp(png_jmpbuf(png)))
        return false;
    if (plan->paletteToRGB)
        png_set_palette_to_rgb(png);
    if (plan->expandGrey)
        png_set_expand_gray_1_2_4_to_8(png);
    if (plan->transparencyToAlpha)
        png_set_tRNS_to_alpha(png);
    if (plan->greyToRGB)
        png_set_gray_to_rgb(png);
    if (plan->packing)
        png_set_packing(png);
    if (plan->strip16)
        png_set_strip_16(png);
    if (plan->backgroundMode != 0)
        png_set_background(png, &plan->background, plan->backgroundMode, plan->needExpand, 1.0);
    if (plan->gamma)
        png_set_gamma(png, plan->screenGamma, plan->fileGamma);
    if (plan->filler)
        png_set_filler(png, 0xFF, PNG_FILLER_AFTER);
    *passes = plan->passesApart ? 7 : png_set_interlace_handling(png);
    png_read_update_info(png, info);
    *rowBytes = png_get_rowbytes(png, info);
    return true;
}

bool ReadRow(png_structp png, png_bytep row) noexcept
{
    if (setjmp(png_jmpbuf(png)))
        return false;
    png_read_row(png, row, nullptr);
    return true;
}

bool ReadEnd(png_structp png, png_infop info) noexcept
{
    if (setjmp(png_jmpbuf(png)))
        return false;
    png_read_end(png, info);
    return true;
}

Plan MakePlan(const Header& h, uint32_t bits, const PngSettings& settings) noexcept
{
    Plan plan;
    const bool grey = h.colorType == PNG_COLOR_TYPE_GRAY || h.colorType == PNG_COLOR_TYPE_GRAY_ALPHA;
    plan.strip16 = h.bitDepth == 16;
    if (bits == 32) {
        plan.paletteToRGB = h.colorType == PNG_COLOR_TYPE_PALETTE;
        plan.expandGrey = h.colorType == PNG_COLOR_TYPE_GRAY && h.bitDepth < 8;
        plan.transparencyToAlpha = h.hasTransparency;
        plan.greyToRGB = grey;
        plan.filler = (h.colorType & PNG_COLOR_MASK_ALPHA) == 0;
    } else {
        if (bits == 24) {
            plan.paletteToRGB = h.colorType == PNG_COLOR_TYPE_PALETTE;
            plan.expandGrey = h.colorType == PNG_COLOR_TYPE_GRAY && h.bitDepth < 8;
            plan.greyToRGB = grey;
        } else {
            plan.packing = h.bitDepth < 8;
        }
        if (h.background) {
            plan.background = *h.background;
            plan.backgroundMode = PNG_BACKGROUND_GAMMA_FILE;
            plan.needExpand = true;
        } else {
            plan.background.index = settings.backgroundIndex;
            plan.background.red = settings.backgroundRed;
            plan.background.green = settings.backgroundGreen;
            plan.background.blue = settings.backgroundBlue;
            plan.background.gray = settings.backgroundGrey;
            plan.backgroundMode = PNG_BACKGROUND_GAMMA_SCREEN;
        }
    }
    if (settings.gammaCorrection) {
        plan.gamma = true;
        plan.screenGamma = settings.displayGamma;
        plan.fileGamma = h.hasGamma ? h.fileGamma : 1.0 / settings.displayGamma;
    }
    return plan;
}

// The Index8 palette: the file's colours, or the grey levels the samples stand for; entries
// past those repeat entry 0. Other colour types leave it alone (their rows will not fit).
void FillPalette(const Header& h, uint8_t* palette) noexcept
{
    int count = 0;
    auto put = [&](int i, uint8_t r, uint8_t g, uint8_t b) {
        palette[4 * i] = b;
        palette[4 * i + 1] = g;
        palette[4 * i + 2] = r;
        palette[4 * i + 3] = 0;
    };
    if (h.colorType == PNG_COLOR_TYPE_PALETTE && h.palette) {
        count = h.paletteCount < 256 ? h.paletteCount : 256;
        for (int i = 0; i < count; ++i)
            put(i, h.palette[i].red, h.palette[i].green, h.palette[i].blue);
    } else if (h.colorType == PNG_COLOR_TYPE_GRAY || h.colorType == PNG_COLOR_TYPE_GRAY_ALPHA ||
               h.colorType == PNG_COLOR_TYPE_PALETTE) {
        // 16-bit grey arrives as 8 bits, so it takes the 8-bit levels.
        const int depth = h.colorType == PNG_COLOR_TYPE_PALETTE || h.bitDepth > 8 ? 8 : h.bitDepth;
        count = 1 << depth;
        for (int i = 0; i < count; ++i) {
            const auto level = static_cast<uint8_t>(i * 255 / (count - 1));
            put(i, level, level, level);
        }
    } else {
        return;
    }
    for (int i = count; i < 256; ++i)
        std::memcpy(palette + 4 * i, palette, 4);
}

void KeepTexts(png_structp png, png_infop info, PngSettings& settings)
{
    png_textp texts = nullptr;
    int count = 0;
    png_get_text(png, info, &texts, &count);
    for (int i = 0; i < count; ++i) {
        const png_text& t = texts[i];
        settings.texts.push_back(PngText{t.key ? t.key : "", t.text ? t.text : "",
                                         t.compression == PNG_TEXT_COMPRESSION_zTXt ||
                                             t.compression == PNG_ITXT_COMPRESSION_zTXt});
    }
}

}  // namespace

PngSettings& ThreadSettings()
{
    return ThreadValue<PngSettings>();
}

namespace {

// What a read knows once libpng is ready for the first row.
struct Started {
    Header h;
    size_t rowBytes = 0;
    int passes = 1;
};

// Header, claimed-size guard, palette and transformations: everything before the first row.
bool Start(Decoder& decoder, Channel& channel, uint32_t bits, uint8_t* palette, const PngSettings& settings,
           Started& s, bool passesApart = false)
{
    if (!decoder.ok())
        return Fail(Code::PngCreate);
    Header& h = s.h;
    if (!ReadHeader(decoder.png(), decoder.info(), &channel, &h))
        return Fail(Code::PngDecode);
    const uint64_t samplesPerByte = h.bitDepth < 8 ? 8 / h.bitDepth : 1;
    if (!GuardClaim(channel, h.width, h.height, h.channels, kDeflateExpansion * samplesPerByte,
                    Code::PngDecode))
        return false;
    if (bits == 8)
        FillPalette(h, palette);
    Plan plan = MakePlan(h, bits, settings);
    plan.passesApart = passesApart && h.interlace != PNG_INTERLACE_NONE;
    if (!Configure(decoder.png(), decoder.info(), &plan, &s.rowBytes, &s.passes))
        return Fail(Code::PngDecode);
    if (s.rowBytes != RowBytes(h.width, bits))
        return Fail(Code::RowSizeMismatch);
    return true;
}

// Every row of every pass: into rowAt(y), then done(y). The number of rows delivered in the
// last pass, or -1 when the callback stopped the read. Fails with PngDecode at a bad row.
template <class RowAt, class Done>
int64_t ReadRows(png_structp png, const Started& s, RowAt&& rowAt, Done&& done)
{
    uint64_t rowsRead = 0;
    uint32_t reported = UINT32_MAX;
    const uint32_t height = s.h.height;
    for (int pass = 0; pass < s.passes; ++pass) {
        for (uint32_t y = 0; y < height; ++y) {
            if (!ReadRow(png, rowAt(y))) {
                Fail(Code::PngDecode);
                return pass + 1 == s.passes ? y : 0;
            }
            done(y);
            const auto value = static_cast<uint32_t>(rowsRead++ / static_cast<uint64_t>(s.passes));
            if (value != reported) {
                reported = value;
                if (!Progress(value, height))
                    return -1;
            }
        }
    }
    return height;
}

// bits 8, 24 or 32; palette (256 RGBQUAD entries) is needed for 8 only.
GlobalBuffer Read(Channel& channel, uint32_t& width, uint32_t& height, uint32_t bits, uint8_t* palette)
{
    PngSettings& settings = ThreadSettings();
    settings.texts.clear();
    width = 0;
    height = 0;
    if ((bits != 8 && bits != 24 && bits != 32) || (bits == 8 && !palette)) {
        Fail(Code::BadArgument);
        return {};
    }
    Decoder decoder;
    Started s;
    if (!Start(decoder, channel, bits, palette, settings, s))
        return {};
    const Header& h = s.h;
    // A single pass writes every byte; interlaced passes combine into what is already there.
    GlobalBuffer image = s.passes > 1 ? AllocateImage(h.width, h.height, bits)
                                      : AllocateGlobalForFill(ImageBytes(h.width, h.height, bits));
    if (!image)
        return {};
    const int64_t rows = ReadRows(
        decoder.png(), s, [&](uint32_t y) { return image.get() + y * s.rowBytes; }, [](uint32_t) {});
    if (rows != h.height)
        return {};
    if (!ReadEnd(decoder.png(), decoder.info())) {
        Fail(Code::PngDecode);
        return {};
    }
    KeepTexts(decoder.png(), decoder.info(), settings);
    width = h.width;
    height = h.height;
    return image;
}

// An interlaced picture's passes as they are stored, each pass row's pixels added where they
// belong in the reduced grid: the whole picture is never held. A cut stream gives the pixels
// that came.
Picture ReducePasses(Decoder& decoder, const Started& s, uint32_t aimWidth, uint32_t aimHeight)
{
    png_structp png = decoder.png();
    const uint32_t width = s.h.width, height = s.h.height;
    const uint32_t fx = reduce::Factor(width, aimWidth), fy = reduce::Factor(height, aimHeight);
    const uint32_t w = reduce::Reduced(width, fx), h = reduce::Reduced(height, fy);
    GlobalBuffer pixels = AllocateImage(w, h, 24);
    auto row = Scratch<uint8_t>(s.rowBytes);
    if (!pixels || !row) {
        Fail(Code::OutOfMemory);
        return {};
    }
    const View view = View::RGB24(pixels.get(), w, h);
    reduce::ScatteredReducer reducer;
    if (!reducer.Start(width, height, fx, fy, view))
        return {};
    // libpng skips the passes that hold no pixel of a small picture.
    uint64_t total = 0;
    for (int pass = 0; pass < 7; ++pass)
        if (PNG_PASS_COLS(width, pass) != 0 && PNG_PASS_ROWS(height, pass) != 0)
            total += PNG_PASS_ROWS(height, pass);
    uint64_t came = 0;
    uint32_t reported = UINT32_MAX;
    for (; came < total; ++came) {
        const int pass = png_get_current_pass_number(png);
        const uint32_t y = PNG_ROW_FROM_PASS_ROW(png_get_current_row_number(png), pass);
        if (!ReadRow(png, row.get())) {
            Fail(Code::PngDecode);
            break;
        }
        reducer.Add(y, PNG_PASS_START_COL(pass), 1u << PNG_PASS_COL_SHIFT(pass), row.get());
        const auto value = static_cast<uint32_t>(came * height / total);
        if (value != reported && !Progress(reported = value, height))
            return {};
    }
    if (came == 0)
        return {};
    reducer.Finish();
    if (came == total) {
        if (ReadEnd(png, decoder.info()))
            KeepTexts(png, decoder.info(), ThreadSettings());
        else
            Fail(Code::PngDecode);
    }
    return Picture(std::move(pixels), view);
}

}  // namespace

Picture LoadReduced(Channel& channel, uint32_t aimWidth, uint32_t aimHeight)
{
    PngSettings& settings = ThreadSettings();
    settings.texts.clear();
    Decoder decoder;
    Started s;
    if (!Start(decoder, channel, 24, nullptr, settings, s, true))
        return {};
    if (s.passes > 1)
        return ReducePasses(decoder, s, aimWidth, aimHeight);
    reduce::ReducingRows rows;
    if (!rows.Begin(s.h.width, s.h.height, aimWidth, aimHeight))
        return {};
    const int64_t came = ReadRows(
        decoder.png(), s, [&](uint32_t y) { return rows.Row(y); }, [&](uint32_t y) { rows.Done(y); });
    // A stream that ends early gives the rows that came, with the decode's code.
    if (came <= 0)
        return {};
    if (came == s.h.height) {
        if (ReadEnd(decoder.png(), decoder.info()))
            KeepTexts(decoder.png(), decoder.info(), settings);
        else
            Fail(Code::PngDecode);  // every row is there, but not the file's end
    }
    return rows.Finish();
}

bool Probe(const uint8_t* header, size_t size) noexcept
{
    return size >= 8 && png_sig_cmp(header, 0, 8) == 0;
}

bool Info(Channel& channel, uint32_t& width, uint32_t& height)
{
    width = 0;
    height = 0;
    Decoder decoder;
    if (!decoder.ok())
        return Fail(Code::PngCreate);
    Header h;
    if (!ReadHeader(decoder.png(), decoder.info(), &channel, &h))
        return Fail(Code::PngDecode);
    width = h.width;
    height = h.height;
    return true;
}

Picture LoadRGB24(Channel& channel)
{
    return reader::WholeRGB24([&](uint32_t& w, uint32_t& h) { return Read(channel, w, h, 24, nullptr); });
}

namespace {

// ReadPNG's work: checks the arguments and the handle, hands the image to the caller.
uint8_t* Decode(DataChannel* source, uint32_t* width, uint32_t* height, uint32_t bits, uint8_t* palette)
{
    return reader::HandOver(source, width, height, [&](Channel& channel, uint32_t& w, uint32_t& h) {
        return Read(channel, w, h, bits, palette);
    });
}

}  // namespace
}  // namespace px::png

extern "C" uint8_t* ReadPNG(DataChannel* source, uint32_t* width, uint32_t* height,
                            uint32_t bitsPerPixel, uint8_t* palette)
{
    return px::Entry([&] { return px::png::Decode(source, width, height, bitsPerPixel, palette); });
}

extern "C" uint32_t SetPNGDisplayGamma(double gamma)
{
    return px::RunEntry(px::FrameKind::KeepOnSuccess, [&]() -> uint32_t {
        if (!std::isfinite(gamma) || gamma <= 0)
            return px::Fail(px::Code::BadArgument);
        px::png::ThreadSettings().displayGamma = gamma;
        return 1;
    });
}

extern "C" double GetPNGDisplayGamma(void)
{
    return px::RunEntry(px::FrameKind::KeepOnSuccess, [] { return px::png::ThreadSettings().displayGamma; });
}
