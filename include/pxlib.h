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

/* Every code the library can leave as the last error, in one list: public name, internal name,
 * number, short text. It makes the PX_ names below, the library's internal codes and the texts
 * of GetLibraryErrorText; a format adds its codes here. */
#define PX_ERROR_CODES(X)                                                                       \
    X(PX_OK, None, 0, "no error")                                                                \
    X(PX_ERR_OUT_OF_MEMORY, OutOfMemory, 1, "out of memory")                                     \
    X(PX_ERR_OPEN, OpenFailed, 2, "file cannot be opened")                                       \
    X(PX_ERR_READ, ReadError, 3, "read error")                                                   \
    X(PX_ERR_WRITE, WriteError, 4, "write error")                                                \
    X(PX_ERR_BAD_ARGUMENT, BadArgument, 5, "bad argument")                                       \
    X(PX_ERR_BMP_FORMAT, NotBmp, 6, "not a BMP file, or a layout the reader does not take")      \
    X(PX_ERR_BMP_COMPRESSION, BmpCompression, 7, "compression not taken by this BMP decoder")    \
    X(PX_ERR_JPEG_DECODE, JpegDecode, 9, "JPEG data cannot be decoded")                          \
    X(PX_ERR_CREATE_CONTEXT, CreateContext, 10, "device context cannot be created")              \
    X(PX_ERR_RESOURCE_NOT_FOUND, ResourceNotFound, 13, "resource not found")                     \
    X(PX_ERR_CANCELLED, Cancelled, 14, "cancelled")                                              \
    X(PX_ERR_PNG_DECODE, PngDecode, 15, "PNG data cannot be decoded")                            \
    X(PX_ERR_PNG_CREATE, PngCreate, 16, "PNG decoder cannot be created")                         \
    X(PX_ERR_ROW_SIZE, RowSizeMismatch, 17, "decoded rows do not fit the layout")                \
    X(PX_ERR_TIFF_DECODE, TiffDecode, 20, "TIFF data cannot be opened or decoded")               \
    X(PX_ERR_PCX_FORMAT, NotPcx, 22, "not a PCX file")                                           \
    X(PX_ERR_METAFILE_BITMAP, MetafileBitmap, 23, "the picture's bitmap cannot be created")      \
    X(PX_ERR_NO_MORE_ROWS, RowOutOfRange, 24, "no more rows")                                    \
    X(PX_ERR_DEVICE_CAPS, DeviceCaps, 26, "device lacks a needed capability")                    \
    X(PX_ERR_NO_METAFILE, NoMetafile, 27, "no usable metafile")                                  \
    X(PX_ERR_LAYOUT, LayoutUnavailable, 28, "layout cannot be delivered")                        \
    X(PX_ERR_BLIT, BlitFailed, 29, "bit block transfer failed")                                  \
    X(PX_ERR_TGA_UNSUPPORTED, UnsupportedTga, 32, "TGA depth, type or colour map not supported") \
    X(PX_ERR_CREATE_BITMAP, CreateBitmap, 35, "device bitmap cannot be created")                 \
    X(PX_ERR_SELECT_BITMAP, SelectBitmap, 37, "bitmap cannot be selected")                       \
    X(PX_ERR_BAD_CHANNEL, BadChannel, 38, "data channel handle is not valid")                    \
    X(PX_ERR_DIB_SECTION, DibSection, 40, "bitmap section cannot be created")                    \
    X(PX_ERR_PLACEABLE_METAFILE, PlaceableMetafile, 41, "placeable metafile cannot be converted") \
    X(PX_ERR_NOT_PSD, NotPsd, 46, "not a PSD file")                                              \
    X(PX_ERR_UNSUPPORTED, UnsupportedMode, 47, "unsupported depth or colour mode")               \
    X(PX_ERR_NO_STATE, NoState, 55, "library state cannot be had")                              \
    X(PX_ERR_TOO_LARGE, TooLarge, 60, "picture too large")                                       \
    X(PX_ERR_EXIF_UNREADABLE, ExifUnreadable, 70, "EXIF block cannot be parsed")                 \
    X(PX_ERR_ICC_PROFILE, ProfileUnusable, 71, "colour profile is damaged or cannot be used") \
    X(PX_ERR_HEIF_DECODE, HeifDecode, 80, "HEIF or AVIF data cannot be decoded")                 \
    X(PX_ERR_WEBP_DECODE, WebpDecode, 81, "WebP data cannot be decoded")                         \
    X(PX_ERR_ENCODE, EncodeFailed, 82, "picture cannot be encoded")                             \
    X(PX_ERR_GIF_DECODE, GifDecode, 83, "GIF data cannot be decoded")                            \
    X(PX_ERR_JXL_DECODE, JxlDecode, 84, "JPEG XL data cannot be decoded")

#define PX_DECLARE_ERROR_CODE(name, internal, number, text) name = number,
enum { PX_ERROR_CODES(PX_DECLARE_ERROR_CODE) };
#undef PX_DECLARE_ERROR_CODE

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
/* 1 when the last decode begun on this thread ran out of data and was finished as if an
 * end marker stood there: the picture's missing part is filled in, not decoded. */
uint32_t GetJPGInputEndedEarly(void);
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
/* The picture resampled to width x height RGB24 while it is decoded, never whole in memory:
 * byte for byte ReadJPG at 24 bits followed by ResampleBilinear (method 0) or ResampleBicubic
 * (method 1). sourceWidth and sourceHeight receive the decoded size (at the decode scale).
 * A partly decoded picture comes with a nonzero last error, as from ReadJPG. */
uint8_t* ReadJPGResampled(DataChannel* source, uint32_t width, uint32_t height, uint32_t method,
                          uint32_t* sourceWidth, uint32_t* sourceHeight);
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


/* ---- EXIF blocks, XMP packets and colour profiles ---------------------------------------- */

/* Code 70: the EXIF block cannot be parsed or rewritten faithfully; 71: the colour profile is
 * damaged or of no use here. */

/* Flags of RewriteExifBlock. */
#define PX_EXIF_UPRIGHT 0x1u /* the pixels are upright: orientation becomes 1 */
#define PX_EXIF_NO_GPS 0x2u  /* the location (the GPS directory) is removed */
#define PX_EXIF_SRGB 0x4u    /* the pixels were converted to sRGB: a ColorSpace tag says 1 */

/* The orientation (1 to 8) an APP1 payload ("Exif\0\0" and a TIFF structure) records; 1
 * when the block, the tag or its value is missing, unreadable or out of range. */
uint32_t GetExifOrientation(const uint8_t* block, uint32_t length);
/* A new APP1 payload (global block, caller frees) that describes a thumbnail of width x
 * height: those pixel dimensions, no embedded preview (IFD1 and its JPEG), and the flags'
 * changes; every other tag is kept. Null with code 70 when the block cannot be parsed
 * without loss (the caller then carries it unchanged, or not at all), 5 for bad arguments. */
uint8_t* RewriteExifBlock(const uint8_t* block, uint32_t length, uint32_t width, uint32_t height,
                          uint32_t flags, uint32_t* newLength);
/* Sets an XMP packet's tiff:Orientation to 1 in place (the text keeps its length); 1 when
 * it held one, else 0 with code 0. */
uint32_t SetXMPUpright(uint8_t* packet, uint32_t length);

/* The ICC profile of the JPEG header read last on this thread, from its APP2 "ICC_PROFILE"
 * chunks in sequence order: a new global block (caller frees), or null. Null with code 0 when
 * there is none, with code 71 when the chunks do not fit together or the profile's own size
 * disagrees with them. */
uint8_t* GetJPGICCProfile(uint32_t* length);
/* Queues the profile as APP2 "ICC_PROFILE" chunks behind the other queued markers. Code 5
 * for a profile that needs more than 255 chunks. */
uint32_t AddJPGOutputICCProfile(const uint8_t* profile, uint32_t length);
/* A profile for RGB24 pixels decoded from a picture with this profile: an RGB profile comes
 * back unchanged; a grey one becomes an RGB profile with its tone curve, so that equal red,
 * green and blue mean what its grey meant. Any other kind (CMYK, Lab ...): null, code 71. */
uint8_t* MakeRGBICCProfile(const uint8_t* profile, uint32_t length, uint32_t* newLength);
/* Converts RGB24 pixels in place from the profile's colours (RGB, or grey applied to the red
 * channel) to sRGB, with Little CMS, perceptual intent. Code 71 when the profile cannot be
 * used. */
uint32_t ConvertRGB24ToSRGB(uint8_t* rgb, uint32_t width, uint32_t height, const uint8_t* profile,
                            uint32_t length);


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

/* Luminance Y = 0.299 R + 0.587 G + 0.114 B in double precision, truncated. */
uint32_t RGBToGrey8(const uint8_t* rgb, uint32_t width, uint32_t height, uint8_t* grey);
uint32_t GreyscaleRGB24(uint8_t* rgb, uint32_t width, uint32_t height);
uint32_t SwapRedBlue(uint8_t* rgb, uint32_t width, uint32_t height);
/* Index i takes RGBQUAD entry i of palette; count is not looked at. */
uint32_t ExpandIndex8(const uint8_t* indices, uint8_t* rgbOut, uint32_t width, uint32_t height,
                      uint32_t count, const uint8_t* palette);
uint32_t RGB24ToRGBA32(const uint8_t* rgb, uint32_t width, uint32_t height, uint8_t alpha,
                       uint8_t* rgbaOut);
/* Either output may be null, not both. */
uint32_t SplitRGBA32(const uint8_t* rgba, uint32_t width, uint32_t height, uint8_t* rgbOut,
                     uint8_t* alphaOut);
/* A null alpha plane gives every pixel constantAlpha. */
uint32_t JoinAlpha(const uint8_t* rgb, const uint8_t* alpha, uint32_t width, uint32_t height,
                   uint8_t* rgbaOut, uint8_t constantAlpha);
uint32_t SetAlpha(uint8_t* rgba, uint32_t width, uint32_t height, const uint8_t* alpha);
uint32_t SplitPlanes(const uint8_t* rgb, uint32_t width, uint32_t height, uint8_t* red,
                     uint8_t* green, uint8_t* blue);
uint32_t JoinPlanes(uint8_t* rgb, uint32_t width, uint32_t height, const uint8_t* red,
                    const uint8_t* green, const uint8_t* blue);
/* Copies min(srcStride, dstStride) bytes of each row. */
uint32_t CopyRows(const uint8_t* src, uint32_t srcStride, uint32_t rows, uint32_t dstStride,
                  uint8_t* dst);
/* Keeps the low `bits` (1 to 8) of each byte, most significant first: one continuous bit
 * stream when rowAligned is 0, else each row on its own at row * outStride. */
uint32_t PackBits(const uint8_t* bytes, uint32_t width, uint32_t rows, uint8_t* out,
                  uint32_t bits, uint32_t rowAligned, uint32_t outStride);
/* The reverse of the continuous form of PackBits. */
uint32_t UnpackBits(const uint8_t* packed, uint32_t width, uint32_t rows, uint32_t bits,
                    uint8_t* out);
uint32_t FlipVertical(uint8_t* pixels, uint32_t rowBytes, uint32_t rows);
uint32_t MirrorHorizontal(uint8_t* pixels, uint32_t width, uint32_t rows, uint32_t bytesPerPixel);
uint32_t MirrorMono1(uint8_t* pixels, uint32_t width, uint32_t rows);

/* ---- Crop and colour boost --------------------------------------------------------------- */

/* The cropWidth x cropHeight window at (left, top) of an RGB24 image into dst (a different
 * buffer of cropWidth x cropHeight x 3 bytes); what lies outside the picture comes out black. */
uint32_t CropRGB24(const uint8_t* src, uint32_t width, uint32_t height, uint8_t* dst,
                   int32_t left, int32_t top, uint32_t cropWidth, uint32_t cropHeight);
/* In place: each channel pushed away from the pixel's luminance (weights 77, 151, 28 / 256)
 * by 15.625 %, rounded and held to 0..255. */
uint32_t BoostColorRGB24(uint8_t* rgb, uint32_t width, uint32_t height);

/* ---- Orientation -------------------------------------------------------------------------- */

/* The upright form of an RGB24 picture stored with EXIF orientation 1 to 8, into the caller's
 * destination of width x height x 3 bytes (not overlapping the source). For 5 to 8 the result
 * is height pixels wide and width pixels high. 1 on success; 0 with code 5 (null buffer, zero
 * size, overlap, orientation outside 1..8). */
uint32_t OrientRGB24(const uint8_t* source, uint32_t width, uint32_t height, uint8_t* destination,
                     uint32_t orientation);

/* ---- Auto brightness and levels ---------------------------------------------------------- */

/* In place on RGB24. Mode 1: low and high are grey thresholds for EqualizeGreyRange; any other
 * mode turns them into clip percentages for StretchGreyLevels. */
uint32_t AutoBrightness(uint8_t* rgb, uint32_t width, uint32_t height, uint32_t low,
                        uint32_t high, uint32_t mode);
/* In place on a grey Index8 image. When both clip points fall on one level (a flat image)
 * there is no scale, and the image stays as it is. */
uint32_t StretchGreyLevels(uint8_t* grey, uint32_t width, uint32_t height, double lowPercent,
                           double highPercent);
uint32_t EqualizeGreyRange(uint8_t* grey, uint32_t width, uint32_t height, uint32_t low,
                           uint32_t high);
/* channelMask: bit 0 red, bit 1 green, bit 2 blue. */
uint32_t StretchRGBLevels(uint8_t* rgb, uint32_t width, uint32_t height, double lowPercent,
                          double highPercent, uint8_t channelMask);

/* ---- File type detection ----------------------------------------------------------------- */

enum {
    PX_FILE_UNKNOWN = 0,
    PX_FILE_BMP = 1,
    PX_FILE_GIF = 2,
    PX_FILE_JPEG = 3,
    PX_FILE_PNG = 4,
    PX_FILE_PCX = 5,
    PX_FILE_TIFF = 6,
    PX_FILE_WMF = 7,
    PX_FILE_EMF = 8,
    PX_FILE_PAX = 9,
    PX_FILE_PSD = 10,
    PX_FILE_TLA1 = 11,
    PX_FILE_TLAU = 12,
    PX_FILE_WBMP = 13,
    PX_FILE_TGA = 14,
    PX_FILE_HEIF = 15,
    PX_FILE_AVIF = 16,
    PX_FILE_WEBP = 17,
    PX_FILE_JXL = 18
};

/* The kind of the content, from its first 44 bytes; the channel is left after them.
 * Shorter content gives 0 with code 3. */
uint32_t DetectFileType(DataChannel* channel);

/* ---- Reader registry ---------------------------------------------------------------------- */

/* One record per file type the library knows, in detection order. */
typedef struct PXFileFormat {
    uint32_t fileType;      /* the PX_FILE_ code */
    int32_t appType;        /* the application's type code; 0 when the application has none */
    uint32_t signature;     /* 0: no content signature; the type is known by its extension */
    uint32_t readable;      /* 1: GetPictureInfo and LoadPictureRGB24 read it */
    const char* name;       /* "JPEG" */
    const char* extensions; /* upper case, space separated, the type's own first: ".JPG .JPEG" */
    uint32_t writable;      /* 1: SavePicture writes it */
} PXFileFormat;

uint32_t GetFileFormatCount(void);
/* 1 with *format filled; 0 with code 5 for an index at or past the count. */
uint32_t GetFileFormat(uint32_t index, PXFileFormat* format);
/* The full picture size from the header of a readable type; code 5 for a type without a reader,
 * else the reader's code. The channel is left wherever the reader stopped. */
uint32_t GetPictureInfo(DataChannel* source, uint32_t fileType, uint32_t* width, uint32_t* height);
/* The whole picture as RGB24 through the type's reader (JPEG at the thread's decode scale). A
 * non-null result with a nonzero last error is a partly decoded picture; the caller frees it. */
uint8_t* LoadPictureRGB24(DataChannel* source, uint32_t fileType, uint32_t* width,
                          uint32_t* height);
/* The picture reduced for a thumbnail, as RGB24: no smaller than aimWidth x aimHeight (the whole
 * picture when it is smaller) and at most about twice that per side, by the cheapest faithful
 * means of the type (a reduced decode, or rows area-averaged as they are decoded), so pictures
 * far beyond the allocation limit are read as long as the reduced one fits. Types without a
 * reduced decode of their own are loaded whole and then area-averaged. JPEG ignores the
 * thread's decode scale here. Area-averaged blocks start at the top left, so a side reduced by
 * a whole factor F covers side / F of its pixels, the last block partial; WebP's scaled decode
 * and metafiles drawn at the aimed size cover their whole size. Codes as LoadPictureRGB24's; a
 * non-null result with a nonzero last error holds the rows that could be read, the rest black.
 * The caller frees it. */
uint8_t* LoadPictureReduced(DataChannel* source, uint32_t fileType, uint32_t aimWidth,
                            uint32_t aimHeight, uint32_t* width, uint32_t* height);
/* The picture into the sink in a writable type's own format: bits 24 (RGB24) or 8 (Index8 with
 * palette, 256 RGBQUAD entries). 1 when written; 0 with code 5 for a type without a writer or a
 * bad argument, 4 when the sink refused the data. */
uint32_t SavePicture(DataChannel* sink, uint32_t fileType, const uint8_t* pixels, uint32_t width,
                     uint32_t height, uint32_t bitsPerPixel, const uint8_t* palette);

/* ---- PNG, TIFF and PSD readers ------------------------------------------------------------ */

/* bits 24 (RGB24, transparency composited onto the file's background colour, else black),
 * 32 (RGBA32) or 8 (Index8; palette receives 256 RGBQUAD entries). 16-bit samples arrive as
 * 8 bits. Codes: 5, 38, 1, 14, 15 (libpng error), 16 (no decoder), 17 (the file's colours do
 * not fit the layout, e.g. an RGB file at 8 bits). */
uint8_t* ReadPNG(DataChannel* source, uint32_t* width, uint32_t* height, uint32_t bitsPerPixel,
                 uint8_t* palette);
/* The calling thread's display gamma for ReadPNG (2.9 until set): 1, or 0 with code 5 for a
 * value that is not a positive finite number. Neither call changes the last error on success. */
uint32_t SetPNGDisplayGamma(double gamma);
double GetPNGDisplayGamma(void);

/* Size and bits per pixel (samples x bits per sample) of the first page; resolution, when
 * not null, receives x and y resolution (truncated) and the resolution unit. Code 20 when the
 * data is not TIFF. */
uint32_t GetTIFFInfo(DataChannel* source, uint32_t* width, uint32_t* height,
                     uint32_t* bitsPerPixel, uint32_t* resolution);
/* Number of pages; 0 with code 20 when the data is not TIFF. */
uint16_t CountTIFFPages(DataChannel* source);
/* Page `page` (0 = first) as RGB24 (bits 24) or RGBA32 (bits 32), any photometric and
 * compression libtiff decodes. Codes: 3 (no rewind), 5 (bits, no such page), 1, 14, 20. */
uint8_t* ReadTIFF(DataChannel* source, uint32_t* width, uint32_t* height, uint32_t bitsPerPixel,
                  uint32_t reserved, uint16_t page);
/* A one-bit page stored in strips, rows top-down, value 1 = white, 0 = black whatever the
 * page's photometric. Codes: 2 (not TIFF), 5 (no such page), 28 (not bilevel or tiled),
 * 1, 3 (a strip cannot be decoded). */
uint8_t* ReadTIFFBilevelIndex8(DataChannel* source, uint32_t* width, uint32_t* height, uint16_t page);
uint8_t* ReadTIFFBilevelMono1(DataChannel* source, uint32_t* width, uint32_t* height, uint16_t page);
/* 1 when the page is bilevel in strips and fax or run-length coded; kind: 1 Group 3,
 * 2 Group 4, 3 modified Huffman, 4 word-aligned run length. */
uint32_t GetTIFFBilevelCompression(DataChannel* source, uint16_t page, uint32_t* kind);

/* The composite image of a PSD file: bits 24 (RGB24) from bitmap, grey, indexed, RGB, CMYK
 * and duotone files, 8 (Index8 with 256 RGBQUAD entries in palette) from bitmap, grey,
 * indexed and duotone ones. Codes: 5, 38, 1, 3, 14, 28, 46 (not PSD), 47 (unsupported). */
uint8_t* ReadPSD(DataChannel* source, uint32_t* width, uint32_t* height, uint32_t bitsPerPixel,
                 uint8_t* palette);

/* ---- HEIF, AVIF and WebP ------------------------------------------------------------------ */

/* The primary image of a HEIF (HEVC) or AVIF (AV1) file, upright: the file's rotation and
 * mirror properties are applied, so the size is the turned one; its EXIF orientation is only
 * a note and is not applied again. Alpha is composited onto black. Codes: 5, 38, 1, 3, 80. */
uint32_t GetHEIFInfo(DataChannel* source, uint32_t* width, uint32_t* height);
uint8_t* ReadHEIF(DataChannel* source, uint32_t* width, uint32_t* height);
/* A WebP file (lossy or lossless, first frame), RGB24 with alpha composited onto black.
 * Codes: 5, 38, 1, 3, 81. */
uint32_t GetWebPInfo(DataChannel* source, uint32_t* width, uint32_t* height);
uint8_t* ReadWebP(DataChannel* source, uint32_t* width, uint32_t* height);
/* The EXIF block (TIFF data, without the "Exif\0\0" prefix) and ICC profile of the last HEIF,
 * AVIF, WebP or JPEG XL file this thread read, as new global blocks (null and size 0 when it had none). */
uint32_t GetPictureMetadata(uint8_t** exif, uint32_t* exifSize, uint8_t** icc, uint32_t* iccSize);
/* The XMP packet of the last HEIF, AVIF or WebP file this thread read, as a new global block;
 * null with *length 0 when it had none (last error 0) or on failure. Codes: 5, 1. */
uint8_t* GetPictureXMP(uint32_t* length);

/* The XMP packet (the XML alone) that the WebP and AVIF files this thread writes from now on
 * carry; copied. Null or length 0: none. Codes: 1. */
uint32_t SetPictureOutputXMP(const uint8_t* packet, uint32_t length);

/* RGB24 to a WebP or AVIF file at quality 1..100 (the encoder's own scale); exif (TIFF data,
 * with or without the "Exif\0\0" prefix) and icc may be null; the XMP packet set above is
 * added. Codes: 5, 38, 1, 4, 82. */
uint32_t WriteWebP(DataChannel* sink, const uint8_t* rgb, uint32_t width, uint32_t height,
                   uint32_t quality, const uint8_t* exif, uint32_t exifSize, const uint8_t* icc,
                   uint32_t iccSize);
uint32_t WriteAVIF(DataChannel* sink, const uint8_t* rgb, uint32_t width, uint32_t height,
                   uint32_t quality, const uint8_t* exif, uint32_t exifSize, const uint8_t* icc,
                   uint32_t iccSize);

/* Expand each packed byte to one byte a pixel (0 or 1), most significant bit first. */
#define PX_PACKBITS_BITMAP 1u
/* Decodes one PackBits row into destination[i * pixelStride + byteOffset] for i < pixels;
 * excess pixels are dropped. 0 when the source ends inside a run. */
uint32_t DecodePackBits(uint8_t* destination, uint32_t pixels, uint32_t pixelStride,
                        uint32_t byteOffset, const uint8_t* source, uint32_t sourceLength,
                        uint32_t options);


/* ---- BMP, PCX and TGA readers -------------------------------------------------------------- */

typedef struct BMPRowReader BMPRowReader;
typedef struct PCXRowReader PCXRowReader;

/* bitsPerPixel 24 (RGB24), 8 (Index8) or 1 (Mono1, from 1-bit files only); for 8 and 1 palette
 * receives the file's 256 RGBQUAD entries. A non-null result with a nonzero last error (3, 14)
 * holds the rows read before the file ended or the read was cancelled. */
uint8_t* ReadBMP(DataChannel* channel, uint32_t* width, uint32_t* height, uint32_t bitsPerPixel,
                 uint8_t* palette);
/* Uncompressed and bit-field files; rows come in file order (bottom row first unless the
 * stored height is negative). With a palette (room for 256 RGBQUAD) rows are Index8 and the
 * file's palette is copied out; without one they are RGB24. */
BMPRowReader* BeginBMPRows(DataChannel* channel, uint32_t* width, uint32_t* height, uint8_t* palette);
/* rowsLeft (may be null) receives the rows still to come; 0 with code 24 when none are left. */
uint32_t ReadBMPRow(BMPRowReader* reader, uint8_t* row, uint32_t* rowsLeft);
uint32_t EndBMPRows(BMPRowReader* reader);

/* bitsPerPixel 24 (RGB24) or 8 (Index8 with the file's 256 RGBQUAD entries in palette). The
 * image comes back also when a read was cancelled (rows not read stay zero). */
uint8_t* ReadPCX(DataChannel* channel, uint32_t* width, uint32_t* height, uint32_t bitsPerPixel,
                 uint8_t* palette);
/* RGB24 rows from the top; rowNumber (may be null) receives the 0-based row delivered. */
PCXRowReader* BeginPCXRows(DataChannel* channel, uint32_t* width, uint32_t* height);
uint32_t ReadPCXRow(PCXRowReader* reader, uint8_t* row, uint32_t* rowNumber);
uint32_t EndPCXRows(PCXRowReader* reader);

/* bitsPerPixel 24 (RGB24) or 8 (Index8 of a colour-mapped file, its map in palette). Nothing
 * partial is returned: on any failure the result is null and the sizes 0. */
uint8_t* ReadTGA(DataChannel* channel, uint32_t* width, uint32_t* height, uint32_t bitsPerPixel,
                 uint8_t* palette);

/* ---- Device contexts, bitmaps and palettes (platform) ------------------------------------ */

/* A small stand-in for the Windows GDI, under the same names. Every device is true colour:
 * a surface of 32-bit pixels, rows top-down, bytes blue, green, red, 0xFF (0xFFRRGGBB as a
 * little-endian word). Palettes are kept, selected and realised, but never change a pixel;
 * RC_PALETTE in a context's capabilities only changes which paths a caller takes.
 * Handles are checked against the live objects: a stale or foreign handle fails. */

typedef struct HDC__* HDC;
typedef struct HBITMAP__* HBITMAP;
typedef struct HPALETTE__* HPALETTE;
typedef void* HGDIOBJ;
typedef void* HWND;
typedef void* HMODULE;
typedef uint32_t COLORREF; /* red in bits 0-7, green 8-15, blue 16-23 */

typedef struct RGBQUAD {
    uint8_t rgbBlue;
    uint8_t rgbGreen;
    uint8_t rgbRed;
    uint8_t rgbReserved;
} RGBQUAD;

typedef struct BITMAPINFOHEADER {
    uint32_t biSize;
    int32_t biWidth;
    int32_t biHeight; /* positive: rows bottom-up; negative: top-down */
    uint16_t biPlanes;
    uint16_t biBitCount;
    uint32_t biCompression;
    uint32_t biSizeImage;
    int32_t biXPelsPerMeter;
    int32_t biYPelsPerMeter;
    uint32_t biClrUsed;
    uint32_t biClrImportant;
} BITMAPINFOHEADER;

typedef struct BITMAPINFO {
    BITMAPINFOHEADER bmiHeader;
    RGBQUAD bmiColors[1];
} BITMAPINFO;

typedef struct PALETTEENTRY {
    uint8_t peRed;
    uint8_t peGreen;
    uint8_t peBlue;
    uint8_t peFlags;
} PALETTEENTRY;

typedef struct LOGPALETTE {
    uint16_t palVersion;
    uint16_t palNumEntries;
    PALETTEENTRY palPalEntry[1];
} LOGPALETTE;

typedef struct BITMAP {
    int32_t bmType;
    int32_t bmWidth;
    int32_t bmHeight;
    int32_t bmWidthBytes;
    uint16_t bmPlanes;
    uint16_t bmBitsPixel;
    void* bmBits; /* the bits of a DIB section; null for a device bitmap */
} BITMAP;

/* GetDeviceCaps indexes */
#define HORZSIZE 4
#define VERTSIZE 6
#define HORZRES 8
#define VERTRES 10
#define BITSPIXEL 12
#define PLANES 14
#define NUMCOLORS 24
#define RASTERCAPS 38
#define LOGPIXELSX 88
#define LOGPIXELSY 90
#define SIZEPALETTE 104

/* Raster capabilities */
#define RC_BITBLT 0x0001u
#define RC_BANDING 0x0002u
#define RC_SCALING 0x0004u
#define RC_BITMAP64 0x0008u
#define RC_DI_BITMAP 0x0080u
#define RC_PALETTE 0x0100u
#define RC_DIBTODEV 0x0200u
#define RC_STRETCHBLT 0x0800u
#define RC_STRETCHDIB 0x2000u

#define BI_RGB 0u
#define BI_BITFIELDS 3u
#define DIB_RGB_COLORS 0u
#define DIB_PAL_COLORS 1u
#define CBM_INIT 4u
#define SRCCOPY 0x00CC0020u
#define DEFAULT_PALETTE 15
#define GDI_ERROR 0xFFFFFFFFu
#define CLR_INVALID 0xFFFFFFFFu

/* The screen: window null only (there are no windows); 32-bit colour, 96 pixels per inch. */
HDC GetDC(HWND window);
int32_t ReleaseDC(HWND window, HDC dc);
/* A context that draws into the caller's pixels (layout above), which it never frees.
 * strideBytes is at least width * 4. */
HDC CreateBufferDC(void* pixels, int32_t width, int32_t height, int32_t strideBytes,
                   uint32_t rasterCaps);
/* The raster capabilities of every screen context; returns the previous ones. */
uint32_t SetScreenRasterCaps(uint32_t rasterCaps);

int32_t GetDeviceCaps(HDC dc, int32_t index);
/* A memory context with the device's capabilities and a 1 x 1 bitmap selected. */
HDC CreateCompatibleDC(HDC dc);
int32_t DeleteDC(HDC dc);
/* Bitmaps go only into memory contexts, and into one at a time. Palettes need SelectPalette. */
HGDIOBJ SelectObject(HDC dc, HGDIOBJ object);
HPALETTE SelectPalette(HDC dc, HPALETTE palette, int32_t forceBackground);
/* Entries of the selected palette on a palette-based device, else 0; GDI_ERROR for a bad dc. */
uint32_t RealizePalette(HDC dc);
/* Device bitmaps are always 32 bits and start black; a null dc means the screen. */
HBITMAP CreateCompatibleBitmap(HDC dc, int32_t width, int32_t height);
HBITMAP CreateDIBitmap(HDC dc, const BITMAPINFOHEADER* header, uint32_t init, const void* bits,
                       const BITMAPINFO* info, uint32_t usage);
/* section must be null: the bits are always the layer's own, zero-filled. */
HBITMAP CreateDIBSection(HDC dc, const BITMAPINFO* info, uint32_t usage, void** bits,
                         void* section, uint32_t offset);
/* Scan lines in the header's layout (1 to 8, 24 or 32 bits). A table for 8 bits or fewer is
 * the dc's selected palette (the rest black); each pixel takes its nearest entry. With bits
 * null only the header is filled in (all of it when biBitCount is 0). */
int32_t GetDIBits(HDC dc, HBITMAP bitmap, uint32_t start, uint32_t lines, void* bits,
                  BITMAPINFO* info, uint32_t usage);
/* SRCCOPY only; needs RC_BITBLT on dst; clipped to both surfaces; negative sizes fail. */
int32_t BitBlt(HDC dst, int32_t x, int32_t y, int32_t cx, int32_t cy, HDC src, int32_t srcX,
               int32_t srcY, uint32_t rop);
/* Nearest-pixel scaling; needs RC_STRETCHDIB; sizes must be positive (no mirroring). The
 * source origin is the lower left corner for a bottom-up bitmap. Returns the source lines. */
int32_t StretchDIBits(HDC dc, int32_t x, int32_t y, int32_t cx, int32_t cy, int32_t srcX,
                      int32_t srcY, int32_t srcCx, int32_t srcCy, const void* bits,
                      const BITMAPINFO* info, uint32_t usage, uint32_t rop);
COLORREF GetPixel(HDC dc, int32_t x, int32_t y);
HPALETTE CreatePalette(const LOGPALETTE* palette);
uint32_t GetPaletteEntries(HPALETTE palette, uint32_t start, uint32_t count, PALETTEENTRY* entries);
/* A palette-based device's system palette is the palette selected into it; 0 elsewhere. */
uint32_t GetSystemPaletteEntries(HDC dc, uint32_t start, uint32_t count, PALETTEENTRY* entries);
/* DEFAULT_PALETTE only (the 20 static colours); other indexes give null. */
HGDIOBJ GetStockObject(int32_t index);
/* A bitmap or palette still selected into a context is not deleted; stock objects stay. */
int32_t DeleteObject(HGDIOBJ object);
/* BITMAP for a bitmap, a uint16_t entry count for a palette; bytes written, 0 on failure. */
int32_t GetObjectA(HGDIOBJ object, int32_t size, void* out);

/* Bitmap resources of a module (null: the program). The packed bitmap is copied. */
int32_t RegisterBitmapResource(HMODULE module, const char* name, const void* dib, uint32_t bytes);

/* Solid brushes and rectangle fills, enough for a background. */
typedef struct HBRUSH__* HBRUSH;
typedef struct RECT {
    int32_t left;
    int32_t top;
    int32_t right;
    int32_t bottom;
} RECT;
HBRUSH CreateSolidBrush(COLORREF colour);
/* Fills left..right-1 x top..bottom-1, clipped to the surface; DeleteObject releases a brush. */
int32_t FillRect(HDC dc, const RECT* rect, HBRUSH brush);

/* ---- Metafiles (platform) ----------------------------------------------------------------- */

/* Plain (WMF) and enhanced (EMF) metafiles, built from their public record formats and played
 * with cairo. A plain metafile turned into an enhanced one keeps its own records and is played
 * as such. Handles are checked against the live metafiles. */

typedef struct HENHMETAFILE__* HENHMETAFILE;
typedef struct HMETAFILE__* HMETAFILE;

typedef struct SIZEL {
    int32_t cx;
    int32_t cy;
} SIZEL;

/* The first 100 bytes of the header record. */
typedef struct ENHMETAHEADER {
    uint32_t iType;
    uint32_t nSize;
    RECT rclBounds; /* device units of the reference device */
    RECT rclFrame;  /* 0.01 mm */
    uint32_t dSignature;
    uint32_t nVersion;
    uint32_t nBytes;
    uint32_t nRecords;
    uint16_t nHandles;
    uint16_t sReserved;
    uint32_t nDescription;
    uint32_t offDescription;
    uint32_t nPalEntries;
    SIZEL szlDevice;      /* the reference device in pixels */
    SIZEL szlMillimeters; /* and in millimetres */
    uint32_t cbPixelFormat;
    uint32_t offPixelFormat;
    uint32_t bOpenGL;
} ENHMETAHEADER;

/* The picture description of a plain metafile: mapping mode and extents in 0.01 mm. */
typedef struct METAFILEPICT {
    int32_t mm;
    int32_t xExt;
    int32_t yExt;
    HMETAFILE hMF;
} METAFILEPICT;

#define MM_ANISOTROPIC 8
#define ENHMETA_SIGNATURE 0x464D4520u

/* Null unless the file holds an enhanced metafile whose records all lie inside it. */
HENHMETAFILE GetEnhMetaFileA(const char* fileName);
/* The same for bytes in memory, which are copied. */
HENHMETAFILE SetEnhMetaFileBits(uint32_t size, const uint8_t* data);
/* A plain metafile without a placeable header. */
HMETAFILE GetMetaFileA(const char* fileName);
/* The bytes of a plain metafile: its size when data is null, else the bytes copied (at most
 * size), 0 on failure. */
uint32_t GetMetaFileBitsEx(HMETAFILE metafile, uint32_t size, void* data);
/* An enhanced metafile of plain records; the description gives its frame (mapping mode 8 and
 * positive extents only). The dc is the reference device (null: the screen). */
HENHMETAFILE SetWinMetaFileBits(uint32_t size, const uint8_t* data, HDC dc, const METAFILEPICT* picture);
/* Bytes copied (size bytes at most, a null header gives the size); 0 on failure. */
uint32_t GetEnhMetaFileHeader(HENHMETAFILE metafile, uint32_t size, ENHMETAHEADER* header);
/* Draws the picture so that its frame fills rect. 1 when every record was taken (records this
 * layer does not draw are skipped with a debug line); 0 for a bad handle or context. */
int32_t PlayEnhMetaFile(HDC dc, HENHMETAFILE metafile, const RECT* rect);
int32_t DeleteEnhMetaFile(HENHMETAFILE metafile);
int32_t DeleteMetaFile(HMETAFILE metafile);

/* ---- Windows bitmaps and drawing --------------------------------------------------------- */

/* Packed bitmaps (header, colour table, bits) come back as global blocks the caller frees. */
uint32_t DrawRGB24(HDC dc, const uint8_t* rgb, uint32_t width, uint32_t height, int32_t x, int32_t y,
                   int32_t cx, int32_t cy, HPALETTE palette);
uint32_t DrawDDB(HDC dc, HBITMAP bitmap, int32_t x, int32_t y, int32_t cx, int32_t cy, HPALETTE palette);
uint32_t DrawDDBPart(HDC dc, HBITMAP bitmap, int32_t x, int32_t y, int32_t srcX, int32_t srcY,
                     int32_t cx, int32_t cy, HPALETTE palette);
HBITMAP RGB24ToDDB(const uint8_t* rgb, uint32_t width, uint32_t height, HPALETTE palette, HDC dc);
HBITMAP DIBToDDB(const void* dib, HPALETTE palette, HDC dc);
uint32_t StretchDrawRGB24(HDC dc, const uint8_t* rgb, uint32_t width, uint32_t height, int32_t x,
                          int32_t y, int32_t cx, int32_t cy);
uint8_t* RGB24ToDIB(const uint8_t* rgb, uint32_t width, uint32_t height);
/* bits 1 to 8; colours 1 to 2^bits entries of palette (RGBQUAD). */
uint8_t* Index8ToDIB(const uint8_t* indices, uint32_t width, uint32_t height, uint32_t colours,
                     uint32_t bits, const uint8_t* palette);
/* 256 colours at 8 bits. */
uint8_t* Index8ToDIB256(const uint8_t* indices, uint32_t width, uint32_t height, const uint8_t* palette);
/* palette: the two RGBQUAD entries of the table. */
uint8_t* Mono1ToDIB(const uint8_t* pixels, uint32_t width, uint32_t height, const uint8_t* palette);
uint8_t* DIBToRGB24(const void* dib, uint32_t* width, uint32_t* height);
/* bits 8 (Index8) from a bitmap of 8 bits or fewer, or 1 (Mono1) from a 1-bit one. colours and
 * palette (room for 256 RGBQUAD) may be null. */
uint8_t* DIBToIndexed(const void* dib, uint32_t bits, uint32_t* width, uint32_t* height,
                      uint32_t* colours, uint8_t* palette);
/* A 24-bit packed bitmap. */
uint8_t* DDBToDIB(HBITMAP bitmap, HPALETTE palette);
uint8_t* DDBToRGB24(HBITMAP bitmap, uint32_t* width, uint32_t* height, HPALETTE palette);
/* Index8 of the nearest entries of palette (else the device's own, else the default one);
 * colourTable receives 256 RGBQUAD entries, colours their count (256). */
uint8_t* DDBToIndex8(HBITMAP bitmap, uint32_t* width, uint32_t* height, HPALETTE palette,
                     uint32_t* colours, uint8_t* colourTable);
HBITMAP CaptureDC(HDC dc, int32_t x, int32_t y, int32_t width, int32_t height);
HBITMAP LoadBitmapResource(HMODULE module, const char* name, HPALETTE palette);
uint32_t DrawDIB(HDC dc, const void* dib, int32_t x, int32_t y, int32_t cx, int32_t cy);
/* count RGBQUAD entries, 1 to 256. */
HPALETTE MakeLogicalPalette(const uint8_t* palette, uint32_t count);
uint32_t DrawRGB24Part(HDC dc, const uint8_t* rgb, uint32_t width, uint32_t height, int32_t x,
                       int32_t y, uint32_t srcX, uint32_t srcY, uint32_t cx, uint32_t cy,
                       HPALETTE palette);
uint32_t StretchDrawRGB24Part(HDC dc, const uint8_t* rgb, uint32_t width, uint32_t height, int32_t x,
                              int32_t y, int32_t cx, int32_t cy, uint32_t srcX, uint32_t srcY,
                              uint32_t srcWidth, uint32_t srcHeight);

/* ---- Metafile rendering ------------------------------------------------------------------ */

/* Codes: 10 a device context or the background brush cannot be had, 23 the picture's bitmap
 * (also a picture too large to draw), 27 no usable metafile, 41 a placeable metafile that
 * cannot be converted. */
/* A WMF, placeable WMF or EMF file drawn into a new RGB24 image on the background colour
 * (red in the low byte), at the picture's own size on the screen. default_width and
 * default_height (0.01 mm) size plain records that carry no size of their own. */
uint8_t* RenderMetafile(const char* path, uint32_t* width, uint32_t* height, uint32_t defaultWidth,
                        uint32_t defaultHeight, COLORREF background);
/* The same for an enhanced metafile the caller holds and keeps. */
uint8_t* RenderMetafileHandle(HENHMETAFILE metafile, uint32_t* width, uint32_t* height,
                              uint32_t defaultWidth, uint32_t defaultHeight, COLORREF background);

/* ---- Rectangle copies -------------------------------------------------------------------- */

uint32_t CopyRect(const uint8_t* src, uint32_t width, uint32_t height, uint8_t* dst, uint32_t x,
                  uint32_t y, uint32_t rectWidth, uint32_t rectHeight, uint32_t bytesPerPixel);
uint32_t CopyRectMono1(const uint8_t* src, uint32_t width, uint32_t height, uint8_t* dst, uint32_t x,
                       uint32_t y, uint32_t rectWidth, uint32_t rectHeight);
/* The rectangle (x0, y0)-(x1, y1), corners included, scaled bilinearly into dst. Needs
 * x0 < x1 < width, y0 < y1 < height and src != dst. */
uint32_t CropAndResize(const uint8_t* src, uint32_t width, uint32_t height, uint32_t x0, uint32_t y0,
                       uint32_t x1, uint32_t y1, uint8_t* dst, uint32_t dstWidth, uint32_t dstHeight);

/* ---- Colour reduction -------------------------------------------------------------------- */

/* colours is held to 1..256; palette receives that many RGBQUAD entries (byte 3 untouched),
 * those past the colours found black. dither nonzero: Floyd-Steinberg in serpentine order;
 * 0: half of the errors from above and from the previous pixel. Diffused errors are held to
 * the thread's dither error limit. */
uint32_t MakePalette(const uint8_t* rgb, uint32_t width, uint32_t height, uint32_t colours,
                     uint8_t* palette);
uint32_t ReduceToPalette(const uint8_t* rgb, uint32_t width, uint32_t height, uint8_t* indices,
                         uint32_t colours, uint8_t* palette, uint32_t dither);
/* count RGBQUAD entries, 1 to 256. */
uint32_t MapToPalette(const uint8_t* rgb, uint32_t width, uint32_t height, uint8_t* indices,
                      uint32_t count, const uint8_t* palette, uint32_t dither);

/* ---- Further image operations ------------------------------------------------------------ */

/* The number of distinct colours (0 with a code on failure). */
uint32_t CountColours(const uint8_t* rgb, uint32_t width, uint32_t height, uint32_t fast);
/* The distinct colours in order of first appearance, at most maxColours RGBQUAD entries
 * (byte 3 untouched); entries past the last colour found keep their bytes. */
uint32_t CollectColours(const uint8_t* rgb, uint32_t width, uint32_t height, uint32_t maxColours,
                        uint8_t* palette);
/* The nearest of count (1 to 256) RGBQUAD entries for every pixel, the first on ties. */
uint32_t MapToNearest(const uint8_t* rgb, uint32_t width, uint32_t height, uint8_t* indices,
                      uint32_t count, const uint8_t* palette);
/* from and to are COLORREF values; a nonzero tolerance is a squared distance. */
uint32_t ReplaceColour(uint8_t* rgb, uint32_t width, uint32_t height, uint32_t from, uint32_t to,
                       uint32_t tolerance);
uint32_t GreyHistogram(const uint8_t* rgb, uint32_t width, uint32_t height, uint32_t counts[256]);
/* channel: 1 red, 2 green, 4 blue. */
uint32_t ChannelHistogram(const uint8_t* rgb, uint32_t width, uint32_t height, uint32_t channel,
                          uint32_t counts[256]);
/* channelMask: bit 0 red, bit 1 green, bit 2 blue; 0 is refused. */
uint32_t ApplyTable(uint8_t* rgb, uint32_t width, uint32_t height, uint8_t channelMask,
                    const uint8_t table[256]);
/* Every channel v becomes trunc((v / 256)^(1 / gamma) x 256); gamma 0 leaves the picture as
 * it is, a negative gamma is refused. */
uint32_t Gamma(uint8_t* rgb, uint32_t width, uint32_t height, double gamma);
/* EqualizeGreyRange on each channel selected by channelMask, each on its own. */
uint32_t EqualizeRGBRange(uint8_t* rgb, uint32_t width, uint32_t height, uint32_t low, uint32_t high,
                          uint8_t channelMask);


#ifdef __cplusplus
}
#endif

#endif /* PXLIB_H */
