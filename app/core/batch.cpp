// The thumbnail of one source file: read, resized, turned, cropped, coloured and written.
#include "core/batch_internal.h"

#include "core/file_types.h"
#include "core/geometry.h"

#include <fcntl.h>
#include <sys/statvfs.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

namespace quillet {
namespace {

std::string CodeReason(const std::string& what, uint32_t code)
{
    return what + ": " + GetLibraryErrorText(code) + " (code " + std::to_string(code) + ")";
}

const char* KindOf(mode_t mode)
{
    if (S_ISFIFO(mode))
        return "a named pipe";
    if (S_ISSOCK(mode))
        return "a socket";
    if (S_ISCHR(mode) || S_ISBLK(mode))
        return "a device";
    if (S_ISDIR(mode))
        return "a folder";
    return "not a plain file";
}

// A file that is not a picture of a type Quillet recognised by its content, with the reader's code.
Outcome NotAPicture(uint32_t code)
{
    Outcome notPicture{"not a picture"};
    notPicture.code = code;
    return notPicture;
}

// What a dry run can tell without decoding: whether the picture's header reads.
Outcome WouldMake(const std::string& readPath, int32_t type, bool recognised)
{
    uint32_t width = 0, height = 0, code = 5;  // the library's "no picture"
    if (DataChannel* source = type != TypeNone ? OpenFileSource(readPath.c_str()) : nullptr) {
        code = GetPictureInfo(source, ReaderFor(type), &width, &height) ? 0 : GetLastLibraryError();
        CloseSource(source);
    }
    if (code == 0)
        return {};
    return recognised ? Outcome{CodeReason("cannot be read", code)} : NotAPicture(code);
}

Outcome Kept()
{
    Outcome kept;
    kept.reason = kKeptReason;
    kept.kept = true;
    return kept;
}


}  // namespace

// The thumbnail of one source file into `outputPath`. Thread-safe: uses only the calling
// thread's library state.
Outcome MakeThumbnail(const BatchSettings& s, const RunGuards& guards, const std::string& sourcePath,
                      const std::string& outputPath)
{
    if (std::string clash = WouldReplaceSource(guards, sourcePath, outputPath); !clash.empty())
        return {clash};
    const ExistingFile existing = LookAt(outputPath);
    if (InTheWay(s, existing))
        return Kept();
    // Only a plain file is read: a pipe would block the run for ever, a device may never end.
    // Opened without blocking and checked again, in case the name changed since the scan.
    const int fd = open(sourcePath.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return {std::string("cannot be opened: ") + std::strerror(errno)};
    FdCloser closer{fd};
    struct stat info {};
    if (fstat(fd, &info) != 0)
        return {std::string("cannot be opened: ") + std::strerror(errno)};
    if (!S_ISREG(info.st_mode))
        return {std::string("not a regular file: ") + KindOf(info.st_mode)};
    // Up to date: made from this source as it is now, with these settings. A source restored
    // from an older copy has another time, so it is made again.
    const Provenance provenance = ProvenanceOf(s, sourcePath, info);
    if (s.OnlyNew && existing.record && *existing.record == provenance) {
        Outcome upToDate;
        upToDate.upToDate = true;
        return upToDate;
    }
    // Read through the checked descriptor: the name may meanwhile stand for a pipe.
    std::string readPath = "/proc/self/fd/" + std::to_string(fd);
    if (access(readPath.c_str(), R_OK) != 0)
        readPath = sourcePath;  // no /proc: the name it is
    int32_t type = TypeFromContent(readPath);
    const bool recognised = type != TypeNone;
    if (!recognised)
        type = TypeFromExtension(sourcePath);
    if (type != TypeNone && ReaderFor(type) == PX_FILE_UNKNOWN)
        return {"cannot be read: Quillet has no reader for " + TypeName(type) + " pictures"};
    if (s.DryRun)
        return WouldMake(readPath, type, recognised);

    CImageObject image;
    // Thumbnails are for sRGB screens, which is what a PNG's gAMA 1/2.2 or sRGB chunk says.
    image.SetPngDisplayGamma(2.2);
    image.SetLoadRule([&s](uint32_t width, uint32_t height, uint32_t orientation) {
        return ThumbnailLoadAim(width, height, orientation, s);
    });
    if (const uint32_t code = image.LoadFileAs(readPath, type)) {
        // Content of no known type tried by its name: a text file or an empty ".jpg". What the
        // reader said helps nobody but a developer, so the code goes to the report only.
        if (!recognised)
            return NotAPicture(code);
        return {CodeReason("cannot be read", code)};
    }
    if (!image.HasPicture())
        return {"not a picture Quillet can read"};
    const uint32_t orientation = s.AutoRotate ? ExifOrientation(image.ExifBlock()) : 1;
    const bool turned = orientation >= 5;

    // The rules see the picture upright, at its stored size, so a reduced load gives the
    // thumbnail a whole one gives; the pixels are turned once resized. From a reduced load the
    // resampling below covers the last factor of two at most, with its kernel widened by it,
    // so it does not alias; --exact resamples the whole picture as the library does.
    const auto plan = turned ? ThumbnailGeometry(image.StoredHeight(), image.StoredWidth(), s)
                             : ThumbnailGeometry(image.StoredWidth(), image.StoredHeight(), s);
    if (!plan)
        return {"the desired size is empty"};
    const auto width = static_cast<uint32_t>(plan->width), height = static_cast<uint32_t>(plan->height);
    // A step that fails skips the file: nothing is written that is not the thumbnail asked for.
    if (s.Autolev) {
        if (const uint32_t code = image.ApplyLevels(2, 2, 1))
            return {CodeReason("auto brightness failed", code)};
    }
    const uint32_t resizedWidth = turned ? height : width, resizedHeight = turned ? width : height;
    const int32_t method = s.ResType == 0 ? 0 : 1;
    if (const uint32_t code = s.Exact ? image.ResizeTo(resizedWidth, resizedHeight, method)
                                      : image.ResizeSmoothly(resizedWidth, resizedHeight, method))
        return {CodeReason("cannot be resized to " + std::to_string(plan->width) + " x " +
                               std::to_string(plan->height), code)};
    if (const uint32_t code = image.Orient(orientation))
        return {CodeReason("cannot be turned upright", code)};
    if (plan->crop) {
        const uint32_t code = image.CropToBox(plan->crop->boxWidth, plan->crop->boxHeight, plan->crop->position);
        if (code != 0 && code != 2)  // 2: the picture already fits the box
            return {CodeReason("cannot be cropped", code)};
    }
    // A profile of another kind than RGB or grey (a CMYK source's) is refused by both calls.
    const bool converted = s.ToSRGB && !image.IccProfile().empty() &&
                           ConvertRGB24ToSRGB(image.Pixels(), image.Width(), image.Height(), image.IccProfile().data(),
                                              static_cast<uint32_t>(image.IccProfile().size()));
    if (s.Boost)
        BoostColor(image.Pixels(), image.Width(), image.Height());
    if (s.Sharpen) {
        if (const uint32_t code = image.SharpenImage(10))
            return {CodeReason("cannot be sharpened", code)};
    }

    ClearJPGOutputMarkers();
    const CarriedMetadata carried =
        s.CopyExif ? CarryMetadata(image, s, converted, orientation != 1, readPath, type) : CarriedMetadata{};
    QueueMetadata(carried);
    // A profile describes the colours, so it always travels, in every format, unless they were
    // made sRGB; EXIF only when asked.
    const std::vector<uint8_t> profile = s.ToSRGB ? std::vector<uint8_t>{} : CarriedProfile(image.IccProfile());
    if (!profile.empty())
        AddJPGOutputICCProfile(profile.data(), static_cast<uint32_t>(profile.size()));
    image.SetCarriedMetadata(carried.exif, profile, carried.xmp);
    image.SetJpegQuality(static_cast<int32_t>(s.Quality));
    image.SetFullChroma(static_cast<int32_t>(s.Sampling));
    if (s.KeepFolders) {
        std::error_code error;
        std::filesystem::create_directories(std::filesystem::path(outputPath).parent_path(), error);
        if (error)
            return {"cannot be written: " + error.message()};
    }
    TemporaryOutput temporary(outputPath);
    if (temporary.path().empty())
        return {"cannot be written: " + temporary.error()};
    if (const uint32_t code = image.SaveFile(temporary.path(), s.Format == FormatWebp  ? TypeWebp
                                                                    : s.Format == FormatAvif ? TypeAvif
                                                                    : s.Format == FormatPng  ? TypePng
                                                                                             : TypeJpeg)) {
        struct statvfs space {};
        if (statvfs(temporary.path().c_str(), &space) == 0 && space.f_bavail == 0)
            return {"cannot be written: the disk is full"};
        return {CodeReason("cannot be written", code)};
    }
    // A PNG is made only for a file manager, which names and owns it.
    if (s.Format != FormatPng && !StampProvenance(temporary.fd(), provenance))
        return {"cannot be written: its provenance record could not be added"};
    // Checked again: the name may have been taken while the picture was made.
    if (std::string clash = WouldReplaceSource(guards, sourcePath, outputPath); !clash.empty())
        return {clash};
    if (InTheWay(s, LookAt(outputPath)))
        return Kept();
    struct stat written {};
    const uint64_t bytes = fstat(temporary.fd(), &written) == 0 ? static_cast<uint64_t>(written.st_size) : 0;
    if (std::string failure = temporary.CommitTo(outputPath, guards.newFileMode); !failure.empty())
        return {"cannot be written: " + failure};
    Outcome made;
    made.incomplete = image.IncompleteSource();
    made.bytes = bytes;
    return made;
}

CImageObject::LoadAim ThumbnailLoadAim(uint32_t width, uint32_t height, uint32_t orientation, const BatchSettings& s)
{
    // The literal road: the whole picture, resampled from its full size.
    if (s.Exact)
        return {};
    const bool turned = s.AutoRotate && orientation >= 5;
    // The rules see the picture upright; the size is asked for as stored, since the pixels
    // are turned once resized.
    const auto plan = turned ? ThumbnailGeometry(height, width, s) : ThumbnailGeometry(width, height, s);
    if (!plan)
        return {};
    return {turned ? plan->height : plan->width, turned ? plan->width : plan->height};
}

void BoostColor(uint8_t* rgb, uint32_t width, uint32_t height)
{
    if (rgb)
        BoostColorRGB24(rgb, width, height);
}

}  // namespace quillet
