// PNG writing over libpng: RGB (colour type 2) or palettised (colour type 3), 8 bits.
#include "formats/png/png_write.h"

#include "base/frame.h"

#include <png.h>

#include <csetjmp>

namespace px::png {
namespace {

void OnWriteError(png_structp png, png_const_charp message) noexcept
{
    DebugTrace("PXLib PNG Error : %s\n", message);
    png_longjmp(png, 1);
}

void OnWriteWarning(png_structp, png_const_charp message) noexcept
{
    DebugTrace("PXLib PNG Warning : %s\n", message);
}

void WriteData(png_structp png, png_bytep data, size_t length) noexcept
{
    auto* sink = static_cast<Channel*>(png_get_io_ptr(png));
    if (length > UINT32_MAX || !sink->Write(data, static_cast<uint32_t>(length)))
        png_error(png, "the sink refused the data");
}

void FlushData(png_structp) noexcept {}

// Owns libpng's write and info structures; the islands below only borrow them.
class Encoder {
public:
    Encoder() noexcept
    {
        m_png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, OnWriteError, OnWriteWarning);
        if (m_png)
            m_info = png_create_info_struct(m_png);
    }
    ~Encoder()
    {
        if (m_png)
            png_destroy_write_struct(&m_png, m_info ? &m_info : nullptr);
    }
    Encoder(const Encoder&) = delete;
    Encoder& operator=(const Encoder&) = delete;
    bool ok() const noexcept { return m_png && m_info; }
    png_structp png() const noexcept { return m_png; }
    png_infop info() const noexcept { return m_info; }

private:
    png_structp m_png = nullptr;
    png_infop m_info = nullptr;
};

// The islands that libpng may leave by longjmp hold plain data only.
bool WriteHeader(png_structp png, png_infop info, Channel* sink, uint32_t width, uint32_t height,
                 const png_color* palette) noexcept
{
    if (setjmp(png_jmpbuf(png)))
        return false;
    png_set_write_fn(png, sink, WriteData, FlushData);
    png_set_IHDR(png, info, width, height, 8, palette ? PNG_COLOR_TYPE_PALETTE : PNG_COLOR_TYPE_RGB,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (palette)
        png_set_PLTE(png, info, palette, 256);
    png_write_info(png, info);
    return true;
}

bool WriteRow(png_structp png, const uint8_t* row) noexcept
{
    if (setjmp(png_jmpbuf(png)))
        return false;
    png_write_row(png, row);
    return true;
}

bool WriteEnd(png_structp png, png_infop info) noexcept
{
    if (setjmp(png_jmpbuf(png)))
        return false;
    png_write_end(png, info);
    return true;
}

}  // namespace

bool Save(Channel& sink, const uint8_t* pixels, uint32_t width, uint32_t height, uint32_t bits,
          const uint8_t* palette)
{
    // PNG allows at most 2^31 - 1 a side.
    if (!pixels || width == 0 || height == 0 || width > INT32_MAX || height > INT32_MAX ||
        (bits != 24 && bits != 8) || (bits == 8 && !palette))
        return Fail(Code::BadArgument);
    png_color colours[256];
    if (bits == 8)
        for (int i = 0; i < 256; ++i)  // RGBQUAD: blue, green, red
            colours[i] = {palette[i * 4 + 2], palette[i * 4 + 1], palette[i * 4]};
    Encoder encoder;
    if (!encoder.ok())
        return Fail(Code::OutOfMemory);
    if (!WriteHeader(encoder.png(), encoder.info(), &sink, width, height, bits == 8 ? colours : nullptr))
        return Fail(Code::WriteError);
    const size_t stride = size_t{width} * (bits / 8);
    for (uint32_t y = 0; y < height; ++y)
        if (!WriteRow(encoder.png(), pixels + y * stride))
            return Fail(Code::WriteError);
    if (!WriteEnd(encoder.png(), encoder.info()))
        return Fail(Code::WriteError);
    return true;
}

}  // namespace px::png
