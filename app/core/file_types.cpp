// The application's file types: the type table over the library's registry.
#include "core/file_types.h"

#include "pxlib.h"

#include <algorithm>
#include <iterator>
#include <sstream>
#include <utility>

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
                        format.readable != 0, format.writable != 0, format.name ? format.name : "", {}};
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

std::optional<SaveTarget> WriterFor(int32_t type)
{
    // These formats have an 8-bit pair of codes right after their own: 256 colours, grey.
    constexpr int32_t kWithVariants[] = {TypePng, TypeBmp, TypePcx, TypeTiff, TypeTga};
    for (const FormatInfo& format : Formats()) {
        if (!format.writable || format.type == TypeNone || format.type == TypeJpeg)
            continue;
        if (type == format.type)
            return SaveTarget{format.libraryCode, SaveTarget::None};
        if (std::find(std::begin(kWithVariants), std::end(kWithVariants), format.type) == std::end(kWithVariants))
            continue;
        if (type == format.type + 1)
            return SaveTarget{format.libraryCode, SaveTarget::Palette};
        if (type == format.type + 2)
            return SaveTarget{format.libraryCode, SaveTarget::Grey};
    }
    return std::nullopt;
}

std::string TypeName(int32_t type)
{
    for (const FormatInfo& format : Formats())
        if (type != TypeNone && format.type == type)
            return format.name;
    return {};
}

bool IsReadableName(const std::string& path)
{
    // Other spellings of a type's files, collected but never used to type one: the content
    // decides, as for any name.
    static const std::pair<const char*, int32_t> kAliases[] = {{".JPE", TypeJpeg}};
    const std::string extension = UpperExtension(path);
    if (extension.empty())
        return false;
    for (const auto& [alias, type] : kAliases)
        if (extension == alias && ReaderFor(type) != PX_FILE_UNKNOWN)
            return true;
    for (const FormatInfo& format : Formats())
        if (format.readable && format.type != TypeNone)
            for (const std::string& own : format.extensions)
                if (extension == own)
                    return true;
    return false;
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
