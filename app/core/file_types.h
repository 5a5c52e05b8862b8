// The application's file types: which reader an input file goes to.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace quillet {

// Application type codes (those the image object loads and saves by).
enum FileType : int32_t {
    TypeNone = 0,
    TypeJpeg = 1,
    TypeJpegGrey = 2,
    TypePng = 3,
    TypePng256 = 4,
    TypePngGrey = 5,
    TypeBmp = 6,
    TypeBmp256 = 7,
    TypeBmpGrey = 8,
    TypePcx = 9,
    TypePcx256 = 10,
    TypePcxGrey = 11,
    TypeTiff = 12,
    TypeTiff256 = 13,
    TypeTiffGrey = 14,
    TypeGif = 15,
    TypeTga = 16,
    TypeTga256 = 17,
    TypeTgaGrey = 18,
    TypeWmf = 19,
    TypeEmf = 20,
    TypePax = 21,
    TypePsd = 22,
    TypeHeif = 23,
    TypeAvif = 24,
    TypeWebp = 25,
    TypeJxl = 26,
};

// A file type as the library's registry describes it.
struct FormatInfo {
    uint32_t libraryCode;     // PX_FILE_ code
    int32_t type;             // application type code; 0: none
    bool signature;           // false: known by its extension alone
    bool readable;            // the library has a reader for it
    bool writable;            // the library has a writer for it
    std::string name;
    std::vector<std::string> extensions;  // upper case, the type's own first
};

// Every type the library knows, in its detection order.
const std::vector<FormatInfo>& Formats();

// The library file-type code that reads pictures of an application type; 0 when no reader does.
uint32_t ReaderFor(int32_t type);

// How a save code reaches a library writer.
struct SaveTarget {
    enum Reduction { None, Palette, Grey };
    uint32_t libraryCode;  // PX_FILE_ code of the writer
    Reduction reduction;   // None: 24 bits; else 8 bits with 256 colours or the grey ramp
};

// The writer of a save code other than the JPEG ones; nullopt when the library has none.
std::optional<SaveTarget> WriterFor(int32_t type);

// True when the name's extension is one of a readable type's (any letter case).
bool IsReadableName(const std::string& path);

// The name of an application type's format ("GIF"); "" for a code the library does not know.
std::string TypeName(int32_t type);

// The extension of a file name from its last '.', ASCII letters upper-cased ("" without '.').
std::string UpperExtension(const std::string& path);

// True for the names a run collects: the JPEG type's own extension, in any letter case.
bool IsCollectedName(const std::string& path);

// The type the file's content shows, or 0 when the file cannot be opened or its content
// maps to no application type.
int32_t TypeFromContent(const std::string& path);

// The type of the file name's extension (any letter case), or 0.
int32_t TypeFromExtension(const std::string& path);

// The type of an input file: by content, else by extension.
int32_t InputFileType(const std::string& path);

}  // namespace quillet
