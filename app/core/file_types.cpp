// The application's file types: the type table over content detection and extensions.
#include "app/core/file_types.h"

#include "include/pxlib.h"


namespace quillet {
namespace {

struct TypeRow {
    int32_t type;
    int32_t libraryCode;  // -1: detection never reports it
    const char* extension;
};

// Searched from the first row.
constexpr TypeRow kTypeTable[] = {
    {TypeNone, PX_FILE_UNKNOWN, ""},
    {TypeBmp, PX_FILE_BMP, ".BMP"},
    {TypeGif, PX_FILE_GIF, ".GIF"},
    {TypeJpeg, PX_FILE_JPEG, ".JPG"},
    {TypeJpeg, PX_FILE_JPEG, ".JPEG"},
    {TypePng, PX_FILE_PNG, ".PNG"},
    {TypePcx, PX_FILE_PCX, ".PCX"},
    {TypeTiff, PX_FILE_TIFF, ".TIF"},
    {TypeTiff, PX_FILE_TIFF, ".TIFF"},
    {TypeWmf, PX_FILE_WMF, ".WMF"},
    {TypeEmf, PX_FILE_EMF, ".EMF"},
    {TypePax, PX_FILE_PAX, ".PAX"},
    {TypePsd, PX_FILE_PSD, ".PSD"},
    {TypeTga, -1, ".TGA"},  // so a TGA file is always typed by its name
};

static_assert(sizeof kTypeTable / sizeof kTypeTable[0] == 14);

}  // namespace

int32_t TypeFromContent(const std::string& path)
{
    DataChannel* source = OpenFileSource(path.c_str());
    if (!source)
        return TypeNone;
    const auto code = static_cast<int32_t>(DetectFileType(source));
    CloseSource(source);
    for (const TypeRow& row : kTypeTable)
        if (row.libraryCode == code)
            return row.type;
    return TypeNone;
}

int32_t TypeFromExtension(const std::string& path)
{
    const size_t dot = path.rfind('.');
    std::string extension = dot == std::string::npos ? std::string() : path.substr(dot);
    for (char& c : extension)  // ASCII only: the result must not depend on the locale
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    for (const TypeRow& row : kTypeTable)
        if (extension == row.extension)
            return row.type;
    return TypeNone;
}

int32_t InputFileType(const std::string& path)
{
    const int32_t type = TypeFromContent(path);
    return type != TypeNone ? type : TypeFromExtension(path);
}

}  // namespace quillet
