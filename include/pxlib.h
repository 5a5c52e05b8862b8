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

/* Per-thread options and lists. Captured lists hold the COM and APP1..APP14 markers of the
 * last JPEG header read on this thread; queued lists are written behind the JFIF header of
 * every later JPEG write on this thread until cleared. */
uint32_t GetJPGCommentCount(void);
/* A new zero-terminated global block (caller frees); null with code 5 for a bad index. */
char* GetJPGComment(uint32_t index);
uint32_t ClearJPGComments(void);
/* Copies text; an empty text is queued but writes no COM marker. Texts longer than 65533
 * bytes cannot be one marker and are refused with code 5. */
uint32_t AddJPGOutputComment(const char* text);
uint32_t ClearJPGOutputComments(void);
uint32_t GetJPGMarkerCount(void);
/* 1 on success: *data is a new global block of *length payload bytes (caller frees). */
uint32_t GetJPGMarker(uint32_t index, uint8_t** data, uint32_t* length, uint32_t* code);
uint32_t ClearJPGMarkers(void);
/* Queues a copy of the payload (without the length bytes). Length 0 queues nothing and
 * succeeds; more than 65533 bytes is refused with code 5. */
uint32_t AddJPGOutputMarker(const uint8_t* data, uint32_t length, uint32_t code);
uint32_t ClearJPGOutputMarkers(void);
/* 1 accurate integer, 2 fast integer, 3 floating point, other values libjpeg's default. */
uint32_t SetJPGDCTMethod(uint32_t method);
/* Stored as min(factor, 100). */
uint32_t SetJPGSmoothing(uint32_t factor);
/* Ten factors each, limited to 1..4; either array null restores libjpeg's sampling. */
uint32_t SetJPGSampling(const uint32_t* horizontal, const uint32_t* vertical);
/* For the next reads on this thread; decoded at 1/8, 1/4, 1/2 or full size, the largest
 * reduction not beyond the fraction. Leaves the last error untouched. */
void SetJPGDecodeScale(uint32_t numerator, uint32_t denominator);

/* ---- JPEG reading ------------------------------------------------------------------------ */

enum {
    PX_ERR_JPEG_DECODE = 9,  /* libjpeg failed while opening or reading the header */
    PX_ERR_NO_MORE_ROWS = 24
};

/* The values of the JFIF header: density unit 0 none (aspect ratio only), 1 dpi, 2 dpcm. */
typedef struct JPGDensity {
    uint32_t xDensity;
    uint32_t yDensity;
    uint32_t unit;
} JPGDensity;

typedef struct JPGReadState JPGReadState;

/* Full image size; bits is 8, 24 or 32 (CMYK). bits and density may be null. Leaves the
 * channel wherever libjpeg stopped: rewind before decoding it. */
uint32_t GetJPGDimensions(DataChannel* source, uint32_t* width, uint32_t* height,
                          uint32_t* bitsPerPixel, JPGDensity* density);
/* bits 24 (RGB24) or 8 (grey). A non-null result with a nonzero last error is a partly
 * decoded image; the caller frees the buffer in every case. */
uint8_t* ReadJPG(DataChannel* source, uint32_t* width, uint32_t* height, uint32_t bitsPerPixel);
/* Nonzero grey: rows of one byte a pixel; otherwise RGB24 rows. */
JPGReadState* BeginJPGRead(DataChannel* source, uint32_t* width, uint32_t* height, uint32_t grey);
/* rowIndex (may be null) receives the 0-based index of the row delivered. */
uint32_t ReadJPGRow(JPGReadState* state, uint8_t* row, uint32_t* rowIndex);
/* Ends the read in every case; 0 with code 3 when libjpeg failed on the way. */
uint32_t EndJPGRead(JPGReadState* state);

/* ---- JPEG writing ------------------------------------------------------------------------ */

typedef struct JPGWriteState JPGWriteState;

/* bits 24 (RGB24) or 8 (grey); quality as libjpeg takes it (limited to 1..100); a null
 * density writes (1, 1, 0). Returns the sink's position after the file, or 0. */
uint32_t WriteJPG(DataChannel* sink, const uint8_t* pixels, uint32_t width, uint32_t height,
                  uint32_t quality, uint32_t progressive, uint32_t bitsPerPixel,
                  const JPGDensity* density);
/* Writes SOI, the JFIF header and the queued comments and markers. */
JPGWriteState* BeginJPGWrite(DataChannel* sink, uint32_t width, uint32_t height, uint32_t quality,
                             uint32_t progressive, uint32_t grey, const JPGDensity* density);
uint32_t WriteJPGRow(JPGWriteState* state, const uint8_t* row);
/* Ends the write in every case; 0 with code 4 when the file could not be finished. */
uint32_t EndJPGWrite(JPGWriteState* state);



/* ---- Resampling ---------------------------------------------------------------------------- */



/* ---- Sharpen, soften and median filters -------------------------------------------------- */



/* ---- Pixel layout conversions ------------------------------------------------------------ */



/* ---- Auto brightness and levels ---------------------------------------------------------- */



/* ---- File type detection ----------------------------------------------------------------- */




#ifdef __cplusplus
}
#endif

#endif /* PXLIB_H */
