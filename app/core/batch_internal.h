// What the parts of the batch run share: file identity, the safe writer, the guards, the
// metadata a thumbnail carries and the thumbnail of one file. Not for use outside app/core.
#pragma once

#include "core/batch.h"
#include "core/carried_metadata.h"
#include "core/image_object.h"
#include "core/provenance.h"

#include <dirent.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace quillet {

// A file known by what it is, not by how it is spelt.
struct FileId {
    dev_t device = 0;
    ino_t inode = 0;
    bool operator<(const FileId& o) const { return device != o.device ? device < o.device : inode < o.inode; }
    bool operator==(const FileId& o) const { return device == o.device && inode == o.inode; }
};


inline FileId IdOf(const struct stat& info)
{
    return {info.st_dev, info.st_ino};
}

struct FdCloser {
    int fd;
    ~FdCloser()
    {
        if (fd >= 0)
            close(fd);
    }
};

struct DirCloser {
    void operator()(DIR* dir) const { closedir(dir); }
};

// The folder open at `folderFd`, which it takes over: null, and the descriptor closed, when it
// cannot be listed.
inline std::unique_ptr<DIR, DirCloser> ListFolder(int folderFd)
{
    DIR* dir = fdopendir(folderFd);
    if (!dir)
        close(folderFd);
    return std::unique_ptr<DIR, DirCloser>(dir);
}

// A file in the destination that becomes the thumbnail only when it is complete. It is
// locked while it lives, so that a run starting meanwhile knows it is not stale.
class TemporaryOutput {
public:
    explicit TemporaryOutput(const std::string& outputPath);
    ~TemporaryOutput();
    TemporaryOutput(const TemporaryOutput&) = delete;
    TemporaryOutput& operator=(const TemporaryOutput&) = delete;

    const std::string& path() const { return m_path; }
    const std::string& error() const { return m_error; }
    int fd() const { return m_fd; }

    // Replaces `outputPath` with the finished file; empty on success, else the reason. A
    // replaced thumbnail keeps its mode, a new one gets what the umask gives a new file.
    std::string CommitTo(const std::string& outputPath, mode_t newFileMode);

private:
    void Unregister();

    int m_fd = -1;
    int m_slot = -1;
    std::string m_path;
    std::string m_error;
};

// Temporaries of our own pattern that no live run holds locked: left by a killed run.
void RemoveStaleTemporaries(const std::string& folder);

// The mode a new file gets: 0666 less the umask, read without changing it where possible.
mode_t NewFileMode();

// A folder that exists and can be written to.
bool DestinationUsable(const std::string& folder);

// What every file of a run is checked against.
struct RunGuards {
    std::map<FileId, std::string> sources;  // files no thumbnail may replace
    mode_t newFileMode = 0644;
};


// The files no thumbnail of this run may replace: its sources, and with sub-folders the
// pictures of a destination inside the source tree, which the scan left out, unless an
// earlier run made them.
RunGuards GuardsFor(const BatchSettings& settings, const std::vector<std::string>& files);

// The reason the thumbnail at outputPath may not be written, or empty.
std::string WouldReplaceSource(const RunGuards& guards, const std::string& sourcePath, const std::string& outputPath);

// What holds a thumbnail's name before it is written.
struct ExistingFile {
    bool present = false;
    bool ours = false;  // it carries our record or the mark of an earlier release
    std::optional<Provenance> record;
};
ExistingFile LookAt(const std::string& outputPath);

// The replace rule: a file may be replaced only when Quillet made it, or under Overwrite.
inline bool InTheWay(const BatchSettings& settings, const ExistingFile& existing)
{
    return existing.present && !existing.ours && !settings.Overwrite;
}

uint32_t ExifOrientation(const std::vector<uint8_t>& block);

// What a thumbnail carries of its source's EXIF, XMP and IPTC, true of it (see
// MakeCarriedMetadata); `turned`: the pixels were turned or mirrored by the orientation tag.
// A PNG or TIFF source's metadata is read from the file at `path`, of application type `type`.
CarriedMetadata CarryMetadata(const CImageObject& image, const BatchSettings& s, bool madeSrgb, bool turned,
                              const std::string& path, int32_t type);

// The carried blocks as the JPEG thumbnail's markers: EXIF, then XMP, then IPTC.
void QueueMetadata(const CarriedMetadata& carried);

// The profile a thumbnail carries: the RGB pixels' one (a grey profile's RGB equivalent); none
// for a profile of another kind (a CMYK source's), which would misdescribe them.
std::vector<uint8_t> CarriedProfile(const std::vector<uint8_t>& profile);

struct Outcome {
    std::string reason;  // empty when the thumbnail was written or is up to date
    bool kept = false;   // a file Quillet did not make is in the way
    uint32_t code = 0;   // the library's code behind a reason that does not show it
    bool incomplete = false;
    bool upToDate = false;
    uint64_t bytes = 0;
    double milliseconds = 0;
};

// The thumbnail of one source file into `outputPath`. Thread-safe: uses only the calling
// thread's library state.
Outcome MakeThumbnail(const BatchSettings& s, const RunGuards& guards, const std::string& sourcePath,
                      const std::string& outputPath);

}  // namespace quillet
