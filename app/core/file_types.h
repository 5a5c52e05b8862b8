// The application's file types: which reader an input file goes to.
#pragma once

#include <cstdint>
#include <string>

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
};

// The type the file's content shows, or 0 when the file cannot be opened or its content
// maps to no application type.
int32_t TypeFromContent(const std::string& path);

// The type of the file name's extension (any letter case), or 0.
int32_t TypeFromExtension(const std::string& path);

// The type of an input file: by content, else by extension.
int32_t InputFileType(const std::string& path);

}  // namespace quillet
