// The application's file types: the type table over the library's registry.
#include "core/file_types.h"

#include "pxlib.h"

#include <sstream>

namespace quillet {
namespace {

std::vector<FormatInfo> ReadFormats()
{
    std::vector<FormatInfo> formats;
    for (uint32_t i = 0, n = GetFileFormatCount(); i < n; ++i) {
        PXFileFormat format{};
        if (!GetFileFormat(i, &format))
            continue;
        FormatInfo info{format.fileType, format.appType, format.signature != 0,
                        format.readable != 0, format.name ? format.name : "", {}};
        std::istringstream words(format.extensions ? format.extensions : "");
        for (std::string extension; words >> extension;)
            info.extensions.push_back(extension);
        formats.push_back(std::move(info));
    }
    return formats;
}

}  // namespace

const std::vector<FormatInfo>& Formats()
{
    static const std::vector<FormatInfo> formats = ReadFormats();
    return formats;
}

uint32_t ReaderFor(int32_t type)
{
    for (const FormatInfo& format : Formats())
        if (type != TypeNone && format.type == type && format.readable)
            return format.libraryCode;
    return PX_FILE_UNKNOWN;
}

std::string UpperExtension(const std::string& path)
{
    const size_t dot = path.rfind('.');
    std::string extension = dot == std::string::npos ? std::string() : path.substr(dot);
    for (char& c : extension)  // ASCII only: the result must not depend on the locale
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return extension;
}

bool IsCollectedName(const std::string& path)
{
    const std::string extension = UpperExtension(path);
    for (const FormatInfo& format : Formats())
        if (format.type == TypeJpeg && !format.extensions.empty())
            return extension == format.extensions.front();
    return false;
}

int32_t TypeFromContent(const std::string& path)
{
    DataChannel* source = OpenFileSource(path.c_str());
    if (!source)
        return TypeNone;
    const uint32_t code = DetectFileType(source);
    CloseSource(source);
    // A type known by its extension alone is never taken from the content.
    for (const FormatInfo& format : Formats())
        if (format.libraryCode == code && format.signature)
            return format.type;
    return TypeNone;
}

int32_t TypeFromExtension(const std::string& path)
{
    const std::string extension = UpperExtension(path);
    for (const FormatInfo& format : Formats())
        for (const std::string& own : format.extensions)
            if (format.type != TypeNone && extension == own)
                return format.type;
    return TypeNone;
}

int32_t InputFileType(const std::string& path)
{
    const int32_t type = TypeFromContent(path);
    return type != TypeNone ? type : TypeFromExtension(path);
}

}  // namespace quillet
