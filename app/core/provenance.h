// The record every thumbnail carries so that Quillet knows it as its own: which source it was
// made from (by a hash of its relative path, its size and time) and with which settings. It
// travels inside the file, so it survives copies and file systems without extended attributes,
// and it holds no clear-text path or user name.
#pragma once

#include "core/settings.h"

#include <sys/stat.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace quillet {

struct Provenance {
    uint64_t pathHash = 0;      // of the source's path relative to the source folder
    uint64_t sourceSize = 0;
    int64_t sourceSeconds = 0;  // modification time
    uint32_t sourceNanoseconds = 0;
    uint64_t settingsHash = 0;  // ProvenanceSettingsHash of the run that made it
    bool operator==(const Provenance&) const = default;
};

// 64-bit FNV-1a of the bytes.
uint64_t HashBytes(const std::string& bytes);

// A hash of every setting that changes a thumbnail's pixels, metadata or format.
uint64_t ProvenanceSettingsHash(const BatchSettings& settings);

// The record of `sourcePath` (relative to the settings' PathIn) as it stands now.
Provenance ProvenanceOf(const BatchSettings& settings, const std::string& sourcePath, const struct stat& source);

// The record's bytes: a fixed signature, the format version, the fields, a checksum.
std::vector<uint8_t> EncodeProvenance(const Provenance& record);

// The record of those bytes; nullopt when they are damaged, truncated or of another version.
std::optional<Provenance> DecodeProvenance(const uint8_t* data, size_t size);

// Puts the record into the JPEG, WebP or AVIF file open at `fd` (read and write), keeping
// everything else as it was. False when the file is none of these or cannot be rewritten.
bool StampProvenance(int fd, const Provenance& record);

// The record of the file at `path`; nullopt when it has none we can trust. Reads only the
// headers it needs and never follows a link.
std::optional<Provenance> ReadProvenance(const std::string& path);

// The extended attribute earlier releases set on their thumbnails. QUILLET_NO_XATTR in the
// environment makes it unreadable, as on a file system without extended attributes.
bool HasOldMark(const std::string& path);

// Our thumbnail: it carries a record or the old mark.
bool MadeByQuillet(const std::string& path);

}  // namespace quillet
