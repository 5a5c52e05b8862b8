/* PXLib: Quillet's imaging library. The one public header: every entry has C linkage,
 * fixed-width types, and reports its outcome as the calling thread's last error code. */
#ifndef PXLIB_H
#define PXLIB_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Platform: global memory and debug output ------------------------------------------ */

/* Buffers handed out by the library are fixed global blocks: the handle is the pointer. */
typedef void* HGLOBAL;

#define GMEM_FIXED 0x0000u
#define GMEM_MOVEABLE 0x0002u
#define GMEM_ZEROINIT 0x0040u
#define GPTR (GMEM_FIXED | GMEM_ZEROINIT)

HGLOBAL GlobalAlloc(uint32_t flags, size_t bytes);
/* Returns 0 on success, the handle itself when it is not a live block. */
HGLOBAL GlobalFree(HGLOBAL block);
/* 0 for anything that is not a live block. */
size_t GlobalSize(HGLOBAL block);
/* Grows or shrinks a live block; it may move only with GMEM_MOVEABLE. 0 on failure, the
 * old block then stays valid. */
HGLOBAL GlobalReAlloc(HGLOBAL block, size_t bytes, uint32_t flags);

void OutputDebugStringA(const char* text);
/* Where debug text goes. The default sink writes to standard error when the environment
 * variable PXLIB_DEBUG is set, and drops it otherwise. A null sink restores the default. */
typedef void (*PXDebugSink)(const char* text, void* user);
void SetDebugSink(PXDebugSink sink, void* user);

/* ---- Library frame and error state -------------------------------------------------------- */

/* Error codes shared by the library's entries; the format readers add their own. */
enum {
    PX_OK = 0,
    PX_ERR_OUT_OF_MEMORY = 1,
    PX_ERR_OPEN = 2,
    PX_ERR_READ = 3,
    PX_ERR_WRITE = 4,
    PX_ERR_BAD_ARGUMENT = 5,
    PX_ERR_CANCELLED = 14,
    PX_ERR_DEVICE_CAPS = 26,
    PX_ERR_LAYOUT = 28,
    PX_ERR_BAD_CHANNEL = 38,
    PX_ERR_NO_STATE = 55
};

/* Return 0 to stop the running operation (it then fails with code 14). */
typedef uint32_t (*ProgressCallback)(uint32_t current, uint32_t total, uint32_t callbackValue);

void InitializeLibrary(void);
void ShutdownLibrary(void);
void SetProgressCallback(ProgressCallback callback, uint32_t callbackValue);
uint32_t GetLastLibraryError(void);
/* Copies the version text into buffer, zero-filled to 20 bytes. */
void GetLibraryVersion(char* buffer);
void SetDitherErrorLimit(uint32_t limit);
void SetBitmapSectionMode(uint32_t mode);
void DebugTrace(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

/* Short text for a library error code ("" for an unknown code). */
const char* GetLibraryErrorText(uint32_t code);

/* ---- Data source and sink ----------------------------------------------------------------- */

typedef struct DataChannel DataChannel;

/* The user value is pointer-sized so that it can carry a caller's context. */
typedef uint32_t (*ChannelOpenFn)(uintptr_t user);
typedef uint32_t (*ChannelReadFn)(void* buffer, uint32_t count, uintptr_t user);
typedef uint32_t (*ChannelWriteFn)(const void* buffer, uint32_t count, uintptr_t user);
typedef uint32_t (*ChannelSeekFn)(int32_t offset, uint32_t origin, uintptr_t user);
typedef uint32_t (*ChannelTellFn)(uintptr_t user);
typedef uint32_t (*ChannelSizeFn)(uintptr_t user);
typedef uint32_t (*ChannelAtEndFn)(uintptr_t user);
typedef uint32_t (*ChannelCloseFn)(uintptr_t user);

DataChannel* OpenFileSource(const char* fileName);
DataChannel* OpenMemorySource(const void* buffer, uint32_t size);
DataChannel* OpenCallbackSource(ChannelOpenFn open, ChannelReadFn read, ChannelSeekFn seek,
                                ChannelTellFn tell, ChannelSizeFn size, ChannelAtEndFn atEnd,
                                ChannelCloseFn close, uintptr_t user);
DataChannel* OpenFileSink(const char* fileName);
DataChannel* OpenMemorySink(void* buffer, uint32_t capacity);
DataChannel* OpenCallbackSink(ChannelOpenFn open, ChannelWriteFn write, ChannelSeekFn seek,
                              ChannelTellFn tell, ChannelSizeFn size, ChannelAtEndFn atEnd,
                              ChannelCloseFn close, uintptr_t user);
uint32_t ChannelRead(DataChannel* channel, void* buffer, uint32_t count);
uint32_t ChannelWrite(DataChannel* channel, const void* buffer, uint32_t count);
uint32_t ChannelSeek(DataChannel* channel, int32_t offset, uint32_t origin);
uint32_t ChannelTell(DataChannel* channel);
uint32_t ChannelSize(DataChannel* channel);
uint32_t ChannelAtEnd(DataChannel* channel);
uint32_t CloseSource(DataChannel* channel);
uint32_t CloseSink(DataChannel* channel);
/* 1 when the handle is a channel the library issued and has not closed. */
uint32_t ValidateChannel(DataChannel* channel);

/* ---- JPEG options and marker lists ------------------------------------------------------- */



/* ---- JPEG reading ------------------------------------------------------------------------ */



/* ---- JPEG writing ------------------------------------------------------------------------ */



/* ---- Resampling ---------------------------------------------------------------------------- */

/* Scale interleaved 8-bit pixels (bytesPerPixel channels; 3 for RGB24) to any size, into the
 * caller's destination of destinationWidth x destinationHeight x bytesPerPixel bytes. Source
 * and destination must not overlap. Bilinear truncates; bicubic (a = -1) rounds and clamps.
 * 1 on success; 0 with code 5 (null buffer, zero size; bilinear also zero bytesPerPixel,
 * bicubic also source == destination), 1 (no work memory, bilinear) or 14 (stopped by the
 * progress callback after a row; the rows up to it stay written). */
uint32_t ResampleBilinear(const uint8_t* source, uint32_t sourceWidth, uint32_t sourceHeight,
                          uint8_t* destination, uint32_t destinationWidth,
                          uint32_t destinationHeight, uint32_t bytesPerPixel);
uint32_t ResampleBicubic(const uint8_t* source, uint32_t sourceWidth, uint32_t sourceHeight,
                         uint8_t* destination, uint32_t destinationWidth,
                         uint32_t destinationHeight, uint32_t bytesPerPixel);


/* ---- Sharpen, soften and median filters -------------------------------------------------- */

/* 3 x 3 filters from one RGB24 image into another of the same size (a different buffer);
 * edge pixels stand in for their missing neighbours. level is read as signed and held to
 * 0..100. 1 on success; 0 with code 5 (null buffer, src == dst) or 14 (stopped by the
 * progress callback after a row; the rows up to it stay written). */
uint32_t SharpenRGB24(const uint8_t* src, uint32_t width, uint32_t height, uint8_t* dst,
                      uint32_t level);
uint32_t SoftenRGB24(const uint8_t* src, uint32_t width, uint32_t height, uint8_t* dst,
                     uint32_t level);
uint32_t MedianRGB24(const uint8_t* src, uint32_t width, uint32_t height, uint8_t* dst);


/* ---- Pixel layout conversions ------------------------------------------------------------ */



/* ---- Auto brightness and levels ---------------------------------------------------------- */



/* ---- File type detection ----------------------------------------------------------------- */




#ifdef __cplusplus
}
#endif

#endif /* PXLIB_H */
