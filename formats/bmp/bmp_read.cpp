// BMP files: headers, the RLE decoder, the whole-picture and row entries.
#include "formats/bmp/bmp.h"

#include "formats/bmp/bitmap_info.h"
#include "formats/bmp/row_converter.h"
#include "formats/byte_source.h"
#include "base/guard.h"
#include "formats/reader.h"
#include "base/frame.h"
#include "imaging/area_reduce.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <strings.h>

namespace px::bmp {
namespace {

constexpr uint32_t kFileHeaderSize = 14;
// The best an RLE stream does: a run of 255 pixels from two bytes.
constexpr uint64_t kRlePixelsPerByte = 128;

struct Headers {
    BitmapInfo info;
    uint32_t dataOffset = 0;
    uint64_t consumed = 0;  // bytes read from the start of the file
};

// A bitmap without its file header, as clipboard ".dib" files are: taken only from a file of
// that name whose first bytes are an information header a bitmap could have.
bool HeaderlessDib(Channel& channel, const uint8_t* start) noexcept
{
    const char* path = FileChannelPath(channel.handle());
    const char* dot = path ? std::strrchr(path, '.') : nullptr;
    if (!dot || strcasecmp(dot, ".dib") != 0)
        return false;
    const uint32_t size = DeclaredHeaderSize(start);
    const uint16_t planes = static_cast<uint16_t>(start[12] | start[13] << 8);
    return (size == kInfoHeaderSize || size == 108 || size == kLargestHeaderSize) && planes == 1;
}

// The file header, the information header and the masks behind a 40-byte header.
bool ReadHeaders(Channel& channel, Headers& headers) noexcept
{
    uint8_t file[kFileHeaderSize];
    if (!channel.ReadExact(file, sizeof file))
        return Fail(Code::ReadError);
    uint8_t header[kLargestHeaderSize + kMaskBytes] = {};
    const bool headerless = !(file[0] == 'B' && file[1] == 'M') && HeaderlessDib(channel, file);
    if (!headerless && (file[0] != 'B' || file[1] != 'M'))
        return Fail(Code::NotBmp);
    if (headerless)
        std::memcpy(header, file, sizeof file);
    else
        headers.dataOffset = U32(file + 10);
    const uint32_t fileHeader = headerless ? 0 : kFileHeaderSize;

    if (!headerless && !channel.ReadExact(header, 4))
        return Fail(Code::ReadError);
    const uint32_t size = DeclaredHeaderSize(header);
    if (size != kCoreHeaderSize && (size < kInfoHeaderSize || size > kLargestHeaderSize))
        return Fail(Code::NotBmp);
    const uint32_t have4 = headerless ? kFileHeaderSize : 4;
    if (!channel.ReadExact(header + have4, size - have4))
        return Fail(Code::ReadError);
    size_t have = size;
    HeaderStatus status = ParseBitmapInfo(header, have, headers.info);
    if (status == HeaderStatus::Short) {
        if (!channel.ReadExact(header + have, kMaskBytes))
            return Fail(Code::ReadError);
        have += kMaskBytes;
        status = ParseBitmapInfo(header, have, headers.info);
    }
    if (status != HeaderStatus::Ok)
        return Fail(Code::NotBmp);
    if (headers.info.width < 1 || headers.info.height == 0)
        return Fail(Code::NotBmp);
    headers.consumed = fileHeader + have;
    // Without a file header the pixels follow the colour table at once.
    if (headerless)
        headers.dataOffset = static_cast<uint32_t>(
            std::min<uint64_t>(CheckedAdd(headers.info.tableOffset,
                                          CheckedMul(headers.info.tableEntries, headers.info.entryBytes)),
                               UINT32_MAX));
    return true;
}

// Reads min(256, entries) table entries into table; the rest of table stays as it is.
bool ReadTable(Channel& channel, Headers& headers, uint32_t entries, RGBQUAD* table) noexcept
{
    uint8_t raw[256 * 4];
    const uint32_t count = std::min(entries, 256u);
    const uint32_t bytes = count * headers.info.entryBytes;
    if (!channel.ReadExact(raw, bytes))
        return Fail(Code::ReadError);
    CopyColourTable(raw, count, headers.info.entryBytes, table);
    headers.consumed += bytes;
    return true;
}

// Moves to the pixel data. Bytes before it are read and dropped; an offset that lies behind
// what was read is sought only where the reader allows it.
bool SkipToPixels(Channel& channel, Headers& headers, bool mayGoBack) noexcept
{
    if (headers.dataOffset < headers.consumed) {
        if (!mayGoBack || headers.dataOffset > INT32_MAX ||
            !channel.Seek(static_cast<int32_t>(headers.dataOffset), 0))
            return Fail(Code::NotBmp);
        return true;
    }
    uint64_t gap = headers.dataOffset - headers.consumed;
    uint8_t discard[4096];
    while (gap > 0) {
        const auto n = static_cast<uint32_t>(std::min<uint64_t>(gap, sizeof discard));
        if (!channel.ReadExact(discard, n))
            return Fail(Code::NotBmp);
        gap -= n;
    }
    return true;
}

// Moves to the pixel data and guards the stored rows against the file's size: a stored row's
// bytes, or 0 with the code.
uint64_t StartRows(Channel& channel, Headers& headers, bool mayGoBack) noexcept
{
    if (!SkipToPixels(channel, headers, mayGoBack))
        return 0;
    const BitmapInfo& info = headers.info;
    const uint64_t stride = StoredRowBytes(static_cast<uint32_t>(info.width), info.bits);
    if (!GuardClaim(channel, stride, info.height, 1, 1, Code::ReadError))
        return 0;
    return stride;
}

bool IsIndexed(uint16_t bits) noexcept
{
    return bits == 1 || bits == 4 || bits == 8;
}

bool IsRle(const BitmapInfo& info) noexcept
{
    return (info.compression == kRle8 && info.bits == 8) ||
           (info.compression == kRle4 && info.bits == 4);
}


// What an RLE stream needs before its first pair: the checks, the pixels' place and the
// claimed-size guard.
bool StartRle(Channel& channel, Headers& headers) noexcept
{
    const BitmapInfo& info = headers.info;
    if (!IsRle(info))
        return Fail(Code::BmpCompression);
    if (info.topDown)
        return Fail(Code::NotBmp);  // RLE rows are bottom-up by definition
    if (!SkipToPixels(channel, headers, false))
        return false;
    return GuardClaim(channel, static_cast<uint32_t>(info.width), info.height, 1, kRlePixelsPerByte,
                      Code::ReadError);
}

// RLE4 and RLE8 pixels of `pixelBytes` bytes (1: indices, 3: colours[index]), row by row from
// the bottom: each row is opened as rowAt(y), filled with the pixel of index 0, written, then
// handed to done(y). Rows passed by a delta, by the end of the bitmap or after a cut stream
// are handed over as the fill alone, so a whole picture needs no prefill. False with the
// code reached when the stream ends early or the read is stopped.
template <class RowAt, class Done>
bool DecodeRle(Channel& channel, const BitmapInfo& info, uint32_t pixelBytes, const uint8_t (*colours)[3],
               RowAt&& rowAt, Done&& done)
{
    const auto w = static_cast<uint32_t>(info.width);
    const uint32_t h = info.height;
    const bool rle4 = info.bits == 4;
    int64_t row = int64_t{h} - 1;
    uint64_t column = 0;
    int64_t reported = -1;
    uint8_t* out = nullptr;  // the open row
    auto open = [&] {
        if (out || row < 0)
            return;
        out = rowAt(static_cast<uint32_t>(row));
        if (pixelBytes == 1)
            std::memset(out, 0, w);
        else
            for (uint32_t x = 0; x < w; ++x)
                std::memcpy(out + 3 * x, colours[0], 3);
    };
    // Closes the open row (opening it first) and moves `rows` up.
    auto down = [&](uint64_t rows) {
        for (; rows > 0 && row >= 0; --rows, --row) {
            open();
            done(static_cast<uint32_t>(row));
            out = nullptr;
        }
    };
    auto finish = [&](bool ok) {
        down(UINT64_MAX);
        return ok;
    };
    // Writes `count` pixels whose indices come from index(i), cut at the row's end.
    auto emit = [&](uint32_t count, auto index) {
        if (row < 0 || column >= w)
            return;
        open();
        const auto n = static_cast<uint32_t>(std::min<uint64_t>(count, w - column));
        uint8_t* at = out + column * pixelBytes;
        if (pixelBytes == 1) {
            for (uint32_t i = 0; i < n; ++i)
                at[i] = index(i);
        } else {
            for (uint32_t i = 0; i < n; ++i, at += 3)
                std::memcpy(at, colours[index(i)], 3);
        }
        column += n;
    };

    ByteSource source(channel);
    uint8_t data[256];  // an absolute run of up to 255 bytes and its pad
    for (;;) {
        if (row >= 0 && row != reported) {
            reported = row;
            if (!Progress(static_cast<uint32_t>(h - 1 - row), h))
                return false;
        }
        uint8_t count = 0, value = 0;
        if (!source.Next(count) || !source.Next(value))
            return finish(Fail(Code::ReadError));
        if (count != 0) {
            if (rle4) {
                const uint8_t pair[2] = {static_cast<uint8_t>(value >> 4), static_cast<uint8_t>(value & 15)};
                emit(count, [&](uint32_t i) { return pair[i & 1]; });
            } else {
                emit(count, [&](uint32_t) { return value; });
            }
            continue;
        }
        switch (value) {
        case 0:  // end of line
            down(1);
            column = 0;
            break;
        case 1:  // end of bitmap
            return finish(true);
        case 2: {  // delta
            uint8_t dx = 0, dy = 0;
            if (!source.Next(dx) || !source.Next(dy))
                return finish(Fail(Code::ReadError));
            column += dx;
            down(dy);
            break;
        }
        default: {  // absolute run, padded to an even number of bytes
            const uint32_t bytes = rle4 ? (value + 1u) / 2 : value;
            if (!source.Read(data, bytes) || ((bytes & 1) && !source.Next(data[bytes])))
                return finish(Fail(Code::ReadError));
            if (rle4)
                emit(value, [&](uint32_t i) { return static_cast<uint8_t>((data[i >> 1] >> ((i & 1) ? 0 : 4)) & 15); });
            else
                emit(value, [&](uint32_t i) { return data[i]; });
            break;
        }
        }
    }
}

// RGB24 into `rows`. A stream that ends early gives the rows that came (and the fill below
// them), with the code reached.
Picture ReadRGB24(Channel& channel, reduce::RgbRows& rows)
{
    Headers headers;
    if (!ReadHeaders(channel, headers))
        return {};
    const BitmapInfo& info = headers.info;
    RGBQUAD table[256] = {};
    if (IsIndexed(info.bits)) {
        if (!ReadTable(channel, headers, info.tableEntries, table))
            return {};
    } else if (info.bits != 16 && info.bits != 24 && info.bits != 32) {
        return Fail(Code::NotBmp);
    }
    if (IsRle(info)) {
        if (!StartRle(channel, headers) || !rows.Begin(static_cast<uint32_t>(info.width), info.height))
            return {};
        uint8_t colours[256][3];
        for (int i = 0; i < 256; ++i) {
            colours[i][0] = table[i].rgbRed;
            colours[i][1] = table[i].rgbGreen;
            colours[i][2] = table[i].rgbBlue;
        }
        DecodeRle(channel, info, 3, colours, [&](uint32_t y) { return rows.Row(y); }, [&](uint32_t y) { rows.Done(y); });
        return rows.Finish();
    }
    if (info.compression != kRgb && info.compression != kBitFields)
        return Fail(Code::NotBmp);
    const uint64_t stride = StartRows(channel, headers, true);
    if (!stride)
        return {};

    const auto w = static_cast<uint32_t>(info.width);
    const uint32_t h = info.height;
    if (!rows.Begin(w, h))
        return {};
    // The guard keeps a stored row below the file's size.
    auto row = Scratch<uint8_t>(stride);
    if (!row)
        return Fail(Code::OutOfMemory);
    const RowConverter converter(info, table);
    for (uint32_t i = 0; i < h; ++i) {
        const uint32_t out = info.topDown ? i : h - 1 - i;
        if (!Progress(h - 1 - out, h))
            return rows.Finish();
        if (!channel.ReadExact(row.get(), static_cast<uint32_t>(stride))) {
            Fail(Code::ReadError);
            return rows.Finish();
        }
        converter.ToRGB24(row.get(), rows.Row(out), w);
        rows.Done(out);
    }
    return rows.Finish();
}

// Index8 from files of 8 bits or fewer, Mono1 from 1-bit files, with the file's palette.
GlobalBuffer ReadIndexed(Channel& channel, uint32_t& width, uint32_t& height, uint32_t bits,
                         RGBQUAD* palette)
{
    Headers headers;
    if (!ReadHeaders(channel, headers))
        return {};
    const BitmapInfo& info = headers.info;
    const auto w = static_cast<uint32_t>(info.width);
    const uint32_t h = info.height;
    if (info.bits > 8 || info.bits > bits)
        return Fail(Code::LayoutUnavailable);
    if (!IsIndexed(info.bits))
        return Fail(Code::NotBmp);
    const uint32_t entries = std::min(info.tableEntries, 256u);
    if (!ReadTable(channel, headers, info.tableEntries, palette))
        return {};
    for (uint32_t i = std::max(entries, 1u); i < 256; ++i)
        palette[i] = palette[0];
    if (IsRle(info)) {
        if (bits != 8)
            return Fail(Code::LayoutUnavailable);
        if (!StartRle(channel, headers))
            return {};
        GlobalBuffer image = AllocateImage(w, h, 8);
        if (!image)
            return {};
        width = w;
        height = h;
        DecodeRle(channel, info, 1, nullptr, [&](uint32_t y) { return image.get() + uint64_t{y} * w; },
                  [](uint32_t) {});
        return image;
    }
    if (info.compression != kRgb)
        return Fail(Code::NotBmp);
    const uint64_t stride = StartRows(channel, headers, false);
    if (!stride)
        return {};
    GlobalBuffer image = AllocateImage(w, h, bits);
    if (!image)
        return {};
    auto row = Scratch<uint8_t>(stride);
    if (!row)
        return Fail(Code::OutOfMemory);
    width = w;
    height = h;
    const RowConverter converter(info, palette);
    const uint64_t outStride = RowBytes(w, bits);
    for (uint32_t i = 0; i < h; ++i) {
        const uint32_t out = info.topDown ? i : h - 1 - i;
        if (!Progress(h - 1 - out, h))
            return image;
        if (!channel.ReadExact(row.get(), static_cast<uint32_t>(stride))) {
            Fail(Code::ReadError);
            return image;
        }
        uint8_t* target = image.get() + uint64_t{out} * outStride;
        if (bits == 1)
            std::memcpy(target, row.get(), outStride);
        else
            converter.ToIndex8(row.get(), target, w);
    }
    return image;
}

}  // namespace
}  // namespace px::bmp

struct BMPRowReader {
    RGBQUAD palette[256] = {};
    px::bmp::BitmapInfo info;
    bool indexed = false;
    px::Channel channel{nullptr};
    uint32_t width = 0;
    uint32_t height = 0;
    uint64_t stride = 0;
    uint32_t rowsLeft = 0;
    std::unique_ptr<uint8_t[]> row;
};

namespace px::bmp {

bool Probe(const uint8_t* header, size_t size) noexcept
{
    return size >= 2 && header[0] == 'B' && header[1] == 'M';
}

bool Info(Channel& channel, uint32_t& width, uint32_t& height)
{
    Headers headers;
    if (!ReadHeaders(channel, headers))
        return false;
    width = static_cast<uint32_t>(headers.info.width);
    height = headers.info.height;
    return true;
}

Picture LoadRGB24(Channel& channel)
{
    reduce::WholeRows rows;
    return ReadRGB24(channel, rows);
}

Picture LoadReduced(Channel& channel, uint32_t aimWidth, uint32_t aimHeight)
{
    reduce::ReducingRows rows(aimWidth, aimHeight);
    return ReadRGB24(channel, rows);
}

namespace {

// The operations behind the C entries.
uint8_t* Read(DataChannel* handle, uint32_t* width, uint32_t* height, uint32_t bitsPerPixel,
              uint8_t* palette)
{
    if (!AcceptReader(handle, width, height))
        return nullptr;
    if (bitsPerPixel != 24 && bitsPerPixel != 8 && bitsPerPixel != 1)
        return Fail(Code::BadArgument);
    if (bitsPerPixel != 24 && !palette)
        return Fail(Code::BadArgument);
    Channel channel(handle);
    if (bitsPerPixel == 24) {
        Picture picture = LoadRGB24(channel);
        *width = picture.width();
        *height = picture.height();
        return picture.Release();
    }
    return ReadIndexed(channel, *width, *height, bitsPerPixel, reinterpret_cast<RGBQUAD*>(palette)).Release();
}

BMPRowReader* BeginRows(DataChannel* handle, uint32_t* width, uint32_t* height, uint8_t* palette)
{
    if (!AcceptReader(handle, width, height))
        return nullptr;
    auto reader = std::make_unique<BMPRowReader>();
    reader->channel = Channel(handle);
    Headers headers;
    if (!ReadHeaders(reader->channel, headers))
        return nullptr;
    const BitmapInfo& info = headers.info;
    if (info.compression != kRgb && info.compression != kBitFields)
        return Fail(Code::BmpCompression);
    if (palette && info.bits > 8)
        return Fail(Code::LayoutUnavailable);  // indices cannot be had from true colour
    if (IsIndexed(info.bits)) {
        if (!ReadTable(reader->channel, headers, info.tableEntries, reader->palette))
            return nullptr;
    } else if (info.bits != 16 && info.bits != 24 && info.bits != 32) {
        return Fail(Code::NotBmp);
    }
    reader->stride = StartRows(reader->channel, headers, true);
    if (!reader->stride)
        return nullptr;
    reader->info = info;
    reader->indexed = palette != nullptr;
    reader->width = static_cast<uint32_t>(info.width);
    reader->height = info.height;
    reader->rowsLeft = info.height;
    // Within the row size an RGB24 image of the width may have.
    if (RowBytes(reader->width, 24) >= kMaxGlobalBytes)
        return Fail(Code::OutOfMemory);
    reader->row = Scratch<uint8_t>(reader->stride);
    if (!reader->row)
        return Fail(Code::OutOfMemory);
    BMPRowReader* kept = reader::RowReaders<BMPRowReader>::Keep(std::move(reader));
    if (!kept)
        return nullptr;
    if (palette)
        std::memcpy(palette, kept->palette, sizeof kept->palette);
    *width = kept->width;
    *height = kept->height;
    return kept;
}

uint32_t ReadRow(BMPRowReader* reader, uint8_t* row, uint32_t* rowsLeft)
{
    if (!reader::RowReaders<BMPRowReader>::Usable(reader, row))
        return 0;
    if (reader->rowsLeft == 0)
        return Fail(Code::RowOutOfRange);
    if (!reader->channel.ReadExact(reader->row.get(), static_cast<uint32_t>(reader->stride)))
        return Fail(Code::ReadError);
    const RowConverter converter(reader->info, reader->palette);
    if (reader->indexed)
        converter.ToIndex8(reader->row.get(), row, reader->width);
    else
        converter.ToRGB24(reader->row.get(), row, reader->width);
    --reader->rowsLeft;
    if (rowsLeft)
        *rowsLeft = reader->rowsLeft;
    return 1;
}

uint32_t EndRows(BMPRowReader* reader)
{
    return reader::RowReaders<BMPRowReader>::End(reader);
}

}  // namespace
}  // namespace px::bmp

extern "C" uint8_t* ReadBMP(DataChannel* channel, uint32_t* width, uint32_t* height,
                            uint32_t bitsPerPixel, uint8_t* palette)
{
    return px::Entry([&] { return px::bmp::Read(channel, width, height, bitsPerPixel, palette); });
}

extern "C" BMPRowReader* BeginBMPRows(DataChannel* channel, uint32_t* width, uint32_t* height,
                                      uint8_t* palette)
{
    return px::Entry([&] { return px::bmp::BeginRows(channel, width, height, palette); });
}

extern "C" uint32_t ReadBMPRow(BMPRowReader* reader, uint8_t* row, uint32_t* rowsLeft)
{
    return px::Entry([&] { return px::bmp::ReadRow(reader, row, rowsLeft); });
}

extern "C" uint32_t EndBMPRows(BMPRowReader* reader)
{
    return px::Entry([&] { return px::bmp::EndRows(reader); });
}
