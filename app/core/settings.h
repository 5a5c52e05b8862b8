// The settings record of a batch run and its per-user store.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace quillet {

enum SizingRule : int32_t { PerfectFit = 0, FitOutside = 1, FitInside = 2 };
enum PortraitRule : int32_t { ReverseBox = 0, FitInsideAll = 1, CropLandscape = 2, RulesOnly = 3 };
enum ResampleMethod : int32_t { Bilinear = 0, Bicubic = 1 };

// Switches are 0 or 1, as a check box reports them.
struct BatchSettings {
    uint32_t Sampling = 1;
    uint32_t CopyExif = 0;
    uint32_t Width = 640;
    uint32_t Height = 480;
    uint32_t Sharpen = 0;
    std::string PathIn;   // followed by one separator when not empty
    std::string PathOut;  // the same form
    int32_t Type = PerfectFit;
    int32_t Portrait = FitInsideAll;
    uint32_t Middle = 65;
    uint32_t FileCount = 0;
    uint32_t Autolev = 0;
    int32_t ResType = Bilinear;
    uint32_t Quality = 80;
    uint32_t Boost = 0;
    uint32_t SubDirs = 0;
    uint32_t AutoRotate = 1;  // turn each picture upright by its EXIF orientation
    uint32_t StripGPS = 0;    // with CopyExif: leave the location out of the carried block
    uint32_t ToSRGB = 0;      // convert to sRGB and carry no profile; no dialog control
    uint32_t Format = 0;  // OutputFormat of the thumbnails
    uint32_t AllTypes = 0;  // every type the library reads, not only ".jpg" files
    uint32_t FastDecode = 0;  // decode JPEGs at 1/2, 1/4 or 1/8 when the thumbnail is still covered
    uint32_t OnlyNew = 0;     // skip a source whose thumbnail's record says it is up to date
    uint32_t KeepFolders = 0;  // mirror the source's sub-folders in the destination
    uint32_t Overwrite = 0;    // replace files in the way that Quillet did not make; no dialog control
    uint32_t Jobs = 0;        // files the desktop program makes at once; 0: one per core
    uint32_t DryRun = 0;       // tell what a run would do, write nothing; never stored
};

// The most files made at once: each holds a picture in memory.
inline constexpr uint32_t kMaxJobs = 4096;

// The jobs a run takes for a stored Jobs value: 0 means one per core, and no more than kMaxJobs.
unsigned JobCount(uint32_t jobs);

// The thumbnails' file format; JPEG unless asked otherwise.
// PNG is for the file manager's thumbnailer only: no run stores or offers it.
enum OutputFormat : uint32_t { FormatJpeg = 0, FormatWebp = 1, FormatAvif = 2, FormatPng = 3 };

// The separator that follows a stored folder in PathIn and PathOut.
inline constexpr char kFolderSeparator = '/';

// The folder followed by one separator; empty stays empty, and the root "/" keeps its one.
std::string WithSeparator(const std::string& folder);

// A per-user key-value store: 32-bit integers and strings in named sections.
class SettingsStore {
public:
    virtual ~SettingsStore() = default;
    // nullopt when the value is missing or cannot be read as the asked type.
    virtual std::optional<uint32_t> ReadInt(const std::string& section, const std::string& name) = 0;
    virtual std::optional<std::string> ReadString(const std::string& section, const std::string& name) = 0;
    virtual void WriteInt(const std::string& section, const std::string& name, uint32_t value) = 0;
    virtual void WriteString(const std::string& section, const std::string& name, const std::string& value) = 0;
};

// A store that lives in memory; tests and the command line use it.
class MemoryStore : public SettingsStore {
public:
    std::optional<uint32_t> ReadInt(const std::string& section, const std::string& name) override;
    std::optional<std::string> ReadString(const std::string& section, const std::string& name) override;
    void WriteInt(const std::string& section, const std::string& name, uint32_t value) override;
    void WriteString(const std::string& section, const std::string& name, const std::string& value) override;

    // Every write, in order, as "name=value" (integers in decimal).
    const std::vector<std::string>& writes() const { return m_writes; }
    void Erase(const std::string& section, const std::string& name);

private:
    struct Entry {
        bool isInt = false;
        uint32_t number = 0;
        std::string text;
    };
    std::map<std::string, Entry> m_values;  // "section/name"
    std::vector<std::string> m_writes;
};

inline constexpr const char* kSettingsSection = "Settings";

enum class Folder { In, Out };

// Fills the record from the store: missing or unreadable values give the defaults; the
// quality and the sub-folder switch always start at theirs.
void LoadSettings(SettingsStore& store, BatchSettings& settings);

// Writes the stored integers from the record as it stands; never the folders.
void SaveSettings(SettingsStore& store, const BatchSettings& settings);

// Writes a picked folder (without a trailing separator) and sets the field to it plus one
// separator.
void StoreFolder(SettingsStore& store, BatchSettings& settings, Folder which, const std::string& path);

}  // namespace quillet
