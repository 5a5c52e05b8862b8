// WebP writing over libwebp; EXIF, ICC and XMP go in as chunks through the muxer.
#include "formats/webp/webp.h"

#include "base/frame.h"
#include "formats/container.h"
#include "formats/picture_metadata.h"

#include <webp/encode.h>
#include <webp/mux.h>

#include <vector>

namespace px::webp {
namespace {

using PictureOwner = COwner<WebPPicture, WebPPictureFree>;
using MemoryWriterOwner = COwner<WebPMemoryWriter, WebPMemoryWriterClear>;
using MuxPtr = COwner<WebPMux, WebPMuxDelete>;
using DataOwner = COwner<WebPData, WebPDataClear>;

bool Write(Channel& sink, const uint8_t* rgb, uint32_t width, uint32_t height, uint32_t quality,
           const uint8_t* exif, uint32_t exifSize, const uint8_t* icc, uint32_t iccSize)
{
    if (width == 0 || height == 0 || width > WEBP_MAX_DIMENSION || height > WEBP_MAX_DIMENSION)
        return Fail(Code::BadArgument);
    WebPConfig config;
    if (!WebPConfigPreset(&config, WEBP_PRESET_PHOTO, static_cast<float>(quality)) || !WebPValidateConfig(&config))
        return Fail(Code::EncodeFailed);
    WebPPicture picture;
    if (!WebPPictureInit(&picture))
        return Fail(Code::EncodeFailed);
    PictureOwner pictureOwner(&picture);
    picture.width = static_cast<int>(width);
    picture.height = static_cast<int>(height);
    if (!WebPPictureImportRGB(&picture, rgb, static_cast<int>(width * 3)))
        return Fail(Code::OutOfMemory);
    WebPMemoryWriter encoded;
    WebPMemoryWriterInit(&encoded);
    MemoryWriterOwner encodedOwner(&encoded);
    picture.writer = WebPMemoryWrite;
    picture.custom_ptr = &encoded;
    if (!WebPEncode(&config, &picture))
        return Fail(picture.error_code == VP8_ENC_ERROR_OUT_OF_MEMORY ? Code::OutOfMemory : Code::EncodeFailed);

    const std::vector<uint8_t> tiff = ExifToWrite(exif, exifSize);
    const std::vector<uint8_t>& xmp = ThreadMetadata().outputXmp;
    if (tiff.empty() && iccSize == 0 && xmp.empty())
        return sink.Write(encoded.mem, static_cast<uint32_t>(encoded.size)) || Fail(Code::WriteError);

    MuxPtr mux(WebPMuxNew());
    if (!mux)
        return Fail(Code::OutOfMemory);
    const WebPData image{encoded.mem, encoded.size};
    const WebPData exifChunk{tiff.data(), tiff.size()};
    const WebPData iccChunk{icc, iccSize};
    const WebPData xmpChunk{xmp.data(), xmp.size()};
    if (WebPMuxSetImage(mux.get(), &image, 0) != WEBP_MUX_OK ||
        (!tiff.empty() && WebPMuxSetChunk(mux.get(), "EXIF", &exifChunk, 1) != WEBP_MUX_OK) ||
        (icc && iccSize && WebPMuxSetChunk(mux.get(), "ICCP", &iccChunk, 1) != WEBP_MUX_OK) ||
        (!xmp.empty() && WebPMuxSetChunk(mux.get(), "XMP ", &xmpChunk, 1) != WEBP_MUX_OK))
        return Fail(Code::EncodeFailed);
    WebPData assembled;
    WebPDataInit(&assembled);
    DataOwner assembledOwner(&assembled);
    if (WebPMuxAssemble(mux.get(), &assembled) != WEBP_MUX_OK)
        return Fail(Code::EncodeFailed);
    return sink.Write(assembled.bytes, static_cast<uint32_t>(assembled.size)) || Fail(Code::WriteError);
}

}  // namespace
}  // namespace px::webp

extern "C" uint32_t WriteWebP(DataChannel* sink, const uint8_t* rgb, uint32_t width, uint32_t height,
                              uint32_t quality, const uint8_t* exif, uint32_t exifSize, const uint8_t* icc,
                              uint32_t iccSize)
{
    return px::Entry([&] {
        return px::WriteEntry(sink, rgb, width, height, quality, exif, exifSize, icc, iccSize, px::webp::Write);
    });
}
