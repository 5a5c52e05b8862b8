// File type detection over the registry's probes, and the entries that reach a format's
// reader by its file-type code.
#include "formats/detect.h"

#include "base/channel.h"
#include "base/frame.h"
#include "formats/registry.h"

namespace px::detect {
namespace {

uint32_t Detect(DataChannel* channel)
{
    if (!AcceptChannel(channel))
        return 0;
    uint8_t header[kHeaderBytes] = {};
    if (!Channel(channel).ReadExact(header, kHeaderBytes))
        return Fail(Code::ReadError);
    return registry::Classify(header, kHeaderBytes, FileChannelPath(channel));
}

uint32_t Describe(uint32_t index, PXFileFormat* out)
{
    const auto formats = registry::Formats();
    if (!out || index >= formats.size())
        return Fail(Code::BadArgument);
    const registry::Format& format = formats[index];
    *out = PXFileFormat{format.fileType, format.appType, format.probe ? 1u : 0u,
                        format.load ? 1u : 0u, format.name, format.extensions,
                        format.save ? 1u : 0u};
    return 1;
}

// The format's reader for a file-type code; code 5 when there is none.
const registry::Format* Reader(uint32_t fileType, uint32_t* width, uint32_t* height)
{
    if (!width || !height)
        return Fail(Code::BadArgument);
    *width = 0;
    *height = 0;
    const registry::Format* format = registry::Find(fileType);
    if (!format || !format->info || !format->load)
        return Fail(Code::BadArgument);
    return format;
}

uint32_t Info(DataChannel* handle, uint32_t fileType, uint32_t* width, uint32_t* height)
{
    const registry::Format* format = Reader(fileType, width, height);
    if (!format || !AcceptChannel(handle))
        return 0;
    Channel channel(handle);
    return format->info(channel, *width, *height) ? 1 : 0;
}

uint8_t* Load(DataChannel* handle, uint32_t fileType, uint32_t* width, uint32_t* height)
{
    const registry::Format* format = Reader(fileType, width, height);
    if (!format || !AcceptChannel(handle))
        return nullptr;
    Channel channel(handle);
    Picture picture = format->load(channel);
    *width = picture.width();
    *height = picture.height();
    return picture.Release();
}

uint8_t* LoadReduced(DataChannel* handle, uint32_t fileType, uint32_t aimWidth, uint32_t aimHeight,
                     uint32_t* width, uint32_t* height)
{
    const registry::Format* format = Reader(fileType, width, height);
    if (!format || !AcceptChannel(handle))
        return nullptr;
    Channel channel(handle);
    Picture picture = registry::LoadReduced(*format, channel, aimWidth, aimHeight);
    *width = picture.width();
    *height = picture.height();
    return picture.Release();
}

uint32_t Save(DataChannel* handle, uint32_t fileType, const uint8_t* pixels, uint32_t width,
              uint32_t height, uint32_t bits, const uint8_t* palette)
{
    const registry::Format* format = registry::Find(fileType);
    if (!format || !format->save)
        return Fail(Code::BadArgument);
    if (!AcceptChannel(handle))
        return 0;
    Channel channel(handle);
    return format->save(channel, pixels, width, height, bits, palette) ? 1 : 0;
}

}  // namespace
}  // namespace px::detect

extern "C" uint32_t DetectFileType(DataChannel* channel)
{
    return px::Entry([&] { return px::detect::Detect(channel); });
}

extern "C" uint32_t GetFileFormatCount(void)
{
    return px::Entry([] { return static_cast<uint32_t>(px::registry::Formats().size()); });
}

extern "C" uint32_t GetFileFormat(uint32_t index, PXFileFormat* format)
{
    return px::Entry([&] { return px::detect::Describe(index, format); });
}

extern "C" uint32_t GetPictureInfo(DataChannel* source, uint32_t fileType, uint32_t* width,
                                   uint32_t* height)
{
    return px::Entry([&] { return px::detect::Info(source, fileType, width, height); });
}

extern "C" uint8_t* LoadPictureRGB24(DataChannel* source, uint32_t fileType, uint32_t* width,
                                     uint32_t* height)
{
    return px::Entry([&] { return px::detect::Load(source, fileType, width, height); });
}

extern "C" uint8_t* LoadPictureReduced(DataChannel* source, uint32_t fileType, uint32_t aimWidth,
                                       uint32_t aimHeight, uint32_t* width, uint32_t* height)
{
    return px::Entry([&] { return px::detect::LoadReduced(source, fileType, aimWidth, aimHeight, width, height); });
}

extern "C" uint32_t SavePicture(DataChannel* sink, uint32_t fileType, const uint8_t* pixels,
                                uint32_t width, uint32_t height, uint32_t bitsPerPixel,
                                const uint8_t* palette)
{
    return px::Entry([&] { return px::detect::Save(sink, fileType, pixels, width, height, bitsPerPixel, palette); });
}
