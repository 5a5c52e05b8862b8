// Where each thumbnail of a run goes.
#include "core/batch.h"

#include "core/file_types.h"

#include <set>
#include <utility>

namespace quillet {
namespace {

// `name` with its extension (from the last '.', a leading one excepted) replaced by `extension`.
std::string WithExtension(const std::string& name, const char* extension)
{
    const size_t dot = name.rfind('.');
    return (dot == std::string::npos || dot == 0 ? name : name.substr(0, dot)) + extension;
}

// A WebP or AVIF thumbnail takes its format's extension in place of ".jpg".
std::string InFormat(const BatchSettings& settings, std::string name)
{
    if (settings.Format != FormatWebp && settings.Format != FormatAvif)
        return name;
    return WithExtension(name, settings.Format == FormatWebp ? ".webp" : ".avif");
}

}  // namespace

std::string ThumbnailName(const std::string& sourcePath)
{
    const size_t slash = sourcePath.find_last_of(kFolderSeparator);
    const std::string name = slash == std::string::npos ? sourcePath : sourcePath.substr(slash + 1);
    // A thumbnail is a JPEG file: a JPEG name stays, any other takes ".jpg".
    return TypeFromExtension(name) == TypeJpeg ? name : WithExtension(name, ".jpg");
}

std::string OutputPathFor(const BatchSettings& settings, const std::string& sourcePath)
{
    return WithSeparator(settings.PathOut) + InFormat(settings, ThumbnailName(sourcePath));
}

std::vector<std::string> OutputPathsFor(const BatchSettings& settings, const std::vector<std::string>& files)
{
    std::set<std::pair<std::string, std::string>> taken;  // source folder, thumbnail name
    std::vector<std::string> outputs;
    outputs.reserve(files.size());
    for (const std::string& file : files) {
        const size_t slash = file.find_last_of(kFolderSeparator);
        const std::string folder = slash == std::string::npos ? std::string() : file.substr(0, slash + 1);
        // Clashes are judged on the final name: "a.jpg" and "a.JPG" both give "a.webp".
        std::string name = InFormat(settings, ThumbnailName(file));
        if (!taken.insert({folder, name}).second) {
            // a.png and a.tif of one folder: the later keeps its extension, "a.tif.jpg".
            const std::string whole = file.substr(folder.size());
            std::string suffix = ".jpg";
            while (!taken.insert({folder, name = InFormat(settings, whole + suffix)}).second)
                suffix += ".jpg";
        }
        outputs.push_back(WithSeparator(settings.PathOut) + name);
    }
    return outputs;
}

}  // namespace quillet
