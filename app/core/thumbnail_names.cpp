// Where each thumbnail of a run goes.
#include "core/batch.h"

#include "core/file_types.h"
#include "core/provenance.h"

#include <algorithm>
#include <cstdio>
#include <set>
#include <string_view>
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

// The longest file name most file systems take, in bytes.
constexpr size_t kLongestName = 255;

// `path` relative to the source folder, or as it is when it lies elsewhere.
std::string RelativeToSource(const BatchSettings& settings, const std::string& path)
{
    const std::string& base = settings.PathIn;
    return !base.empty() && path.rfind(base, 0) == 0 ? path.substr(base.size()) : path;
}

// The words a clashing name carries for its source's folder: "b/c/" gives "b, c", the
// source folder itself "top". Bytes that are not UTF-8 stay as they are.
std::string FolderLabel(const std::string& relativeFolder)
{
    std::string label;
    for (const char c : relativeFolder) {
        if (c == kFolderSeparator)
            label += ", ";
        else
            label += c;
    }
    while (label.size() >= 2 && label.compare(label.size() - 2, 2, ", ") == 0)
        label.resize(label.size() - 2);
    while (label.rfind(", ", 0) == 0)
        label.erase(0, 2);
    return label.empty() ? "top" : label;
}

std::string HexHash(const std::string& text)
{
    char hex[17];
    std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(HashBytes(text)));
    return hex;
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

void SortForRun(const BatchSettings& settings, std::vector<std::string>& files)
{
    // std::string compares as unsigned bytes; files under the source share its prefix.
    const std::string_view base = settings.PathIn;
    const auto relative = [base](const std::string& path) {
        const std::string_view view = path;
        return !base.empty() && view.substr(0, base.size()) == base ? view.substr(base.size()) : view;
    };
    std::stable_sort(files.begin(), files.end(), [&relative](const std::string& a, const std::string& b) {
        return relative(a) < relative(b);
    });
}

std::vector<std::string> OutputPathsFor(const BatchSettings& settings, const std::vector<std::string>& files)
{
    std::set<std::pair<std::string, std::string>> inFolder;  // source folder, thumbnail name
    std::set<std::string> taken;                              // relative to PathOut
    std::vector<std::string> outputs;
    outputs.reserve(files.size());
    for (const std::string& file : files) {
        const size_t slash = file.find_last_of(kFolderSeparator);
        const std::string folder = slash == std::string::npos ? std::string() : file.substr(0, slash + 1);
        // Clashes are judged on the final name: "a.jpg" and "a.JPG" both give "a.webp".
        std::string name = InFormat(settings, ThumbnailName(file));
        if (!inFolder.insert({folder, name}).second) {
            // a.png and a.tif of one folder: the later keeps its extension, "a.tif.jpg".
            const std::string whole = file.substr(folder.size());
            std::string suffix = ".jpg";
            while (!inFolder.insert({folder, name = InFormat(settings, whole + suffix)}).second)
                suffix += ".jpg";
        }
        const std::string relativeFolder = RelativeToSource(settings, folder);
        const bool mirrored = settings.KeepFolders && relativeFolder.size() < folder.size();
        std::string output = (mirrored ? relativeFolder : std::string()) + name;
        if (taken.count(output)) {
            const size_t dot = name.rfind('.');
            const bool hasExtension = dot != std::string::npos && dot != 0;
            const std::string stem = hasExtension ? name.substr(0, dot) : name;
            const std::string extension = hasExtension ? name.substr(dot) : std::string();
            std::string label = FolderLabel(relativeFolder);
            if (stem.size() + label.size() + extension.size() + 3 + 12 > kLongestName)
                label = HexHash(relativeFolder);
            output = stem + " (" + label + ")" + extension;
            for (size_t n = 2; taken.count(output); ++n)
                output = stem + " (" + label + " " + std::to_string(n) + ")" + extension;
        }
        taken.insert(output);
        outputs.push_back(WithSeparator(settings.PathOut) + output);
    }
    return outputs;
}

}  // namespace quillet
