#include "formats/tiff/tiff_client.h"

#include "base/frame.h"

#include <cstdarg>
#include <cstdint>
#include <cstdio>

namespace px::tiff {
namespace {

void Report(const char* kind, const char* module, const char* format, va_list args) noexcept
{
    char text[900];
    std::vsnprintf(text, sizeof text, format, args);
    DebugTrace("PXLib TIFF %s : %s: %s\n", kind, module ? module : "", text);
}

// Returning 1 keeps libtiff from passing the message on to its own handlers (stderr).
int OnError(TIFF*, void*, const char* module, const char* format, va_list args) noexcept
{
    Report("Error", module, format, args);
    return 1;
}

int OnWarning(TIFF*, void*, const char* module, const char* format, va_list args) noexcept
{
    Report("Warning", module, format, args);
    return 1;
}

void OnGlobalError(const char* module, const char* format, va_list args) noexcept
{
    Report("Error", module, format, args);
}

void OnGlobalWarning(const char* module, const char* format, va_list args) noexcept
{
    Report("Warning", module, format, args);
}

// Messages libtiff raises without a handle go through its process-wide handlers.
void RouteGlobalHandlers() noexcept
{
    static const bool routed = [] {
        TIFFSetErrorHandler(OnGlobalError);
        TIFFSetWarningHandler(OnGlobalWarning);
        return true;
    }();
    (void)routed;
}

// libtiff takes (toff_t)-1 as a failed seek: 0 would be a valid position.
toff_t SeekProc(thandle_t handle, toff_t offset, int whence) noexcept
{
    const uint32_t origin = whence == SEEK_CUR ? 1 : whence == SEEK_END ? 2 : 0;
    const auto signedOffset = static_cast<int64_t>(offset);  // relative seeks may go back
    if (signedOffset < INT32_MIN || signedOffset > INT32_MAX ||
        !Of(handle)->Seek(static_cast<int32_t>(signedOffset), origin))
        return static_cast<toff_t>(-1);
    return Of(handle)->Tell();
}

int CloseProc(thandle_t) noexcept
{
    return 0;  // the caller closes the channel
}

toff_t SizeProc(thandle_t handle) noexcept
{
    return Of(handle)->Size();
}

int MapProc(thandle_t, void**, toff_t*) noexcept
{
    return 0;
}

void UnmapProc(thandle_t, void*, toff_t) noexcept {}

}  // namespace

TiffHandle OpenClient(Channel& channel, const char* mode, TIFFReadWriteProc read, TIFFReadWriteProc write,
                      tmsize_t maxSingleAlloc) noexcept
{
    RouteGlobalHandlers();
    TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
    if (!options)
        return nullptr;
    TIFFOpenOptionsSetErrorHandlerExtR(options, OnError, nullptr);
    TIFFOpenOptionsSetWarningHandlerExtR(options, OnWarning, nullptr);
    if (maxSingleAlloc > 0)
        TIFFOpenOptionsSetMaxSingleMemAlloc(options, maxSingleAlloc);
    const char* path = FileChannelPath(channel.handle());
    TIFF* tif = TIFFClientOpenExt(path ? path : "", mode, &channel, read, write, SeekProc, CloseProc, SizeProc,
                                  MapProc, UnmapProc, options);
    TIFFOpenOptionsFree(options);
    return TiffHandle(tif);
}

}  // namespace px::tiff
