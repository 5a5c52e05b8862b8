// The provenance record: its bytes, and where it sits in a JPEG, WebP or AVIF file.
#include "core/provenance.h"

#include <fcntl.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <array>
#include <cstdlib>
#include <cstring>

namespace quillet {
namespace {

constexpr uint8_t kSignature[8] = {'Q', 'u', 'i', 'l', 'l', 'e', 't', 0};
constexpr uint8_t kVersion = 1;
constexpr size_t kRecordSize = 8 + 1 + 8 + 8 + 8 + 4 + 8 + 4;  // signature .. checksum
constexpr uint8_t kJpegApp11 = 0xEB;
constexpr char kWebpChunk[] = "QUIL";
// The box type of an AVIF's record: 'uuid' with this extended type.
constexpr uint8_t kAvifUuid[16] = {0x6b, 0x2f, 0x51, 0x75, 0x69, 0x6c, 0x6c, 0x65,
                                   0x74, 0x2d, 0x70, 0x72, 0x6f, 0x76, 0x01, 0x9e};
constexpr size_t kAvifBoxSize = 8 + sizeof kAvifUuid + kRecordSize;
constexpr char kOldMark[] = "user.quillet.thumbnail";

void PutLe(std::vector<uint8_t>& out, uint64_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

uint64_t GetLe(const uint8_t* p, int bytes)
{
    uint64_t value = 0;
    for (int i = bytes - 1; i >= 0; --i)
        value = value << 8 | p[i];
    return value;
}

uint32_t GetBe(const uint8_t* p, int bytes)
{
    uint32_t value = 0;
    for (int i = 0; i < bytes; ++i)
        value = value << 8 | p[i];
    return value;
}

void PutBe32(std::vector<uint8_t>& out, uint32_t value)
{
    for (int i = 3; i >= 0; --i)
        out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

uint32_t Checksum(const uint8_t* data, size_t size)
{
    uint32_t hash = 2166136261u;
    for (size_t i = 0; i < size; ++i)
        hash = (hash ^ data[i]) * 16777619u;
    return hash;
}

// Reads exactly `size` bytes at `offset`.
bool ReadAt(int fd, uint64_t offset, uint8_t* data, size_t size)
{
    while (size > 0) {
        const ssize_t n = pread(fd, data, size, static_cast<off_t>(offset));
        if (n <= 0)
            return false;
        data += n;
        size -= static_cast<size_t>(n);
        offset += static_cast<uint64_t>(n);
    }
    return true;
}

// A file's first bytes read at once, which hold every header of a small thumbnail: a rerun
// reads thousands of them.
struct Reader {
    int fd;
    uint64_t size;
    std::array<uint8_t, 4096> head{};
    size_t headSize = 0;

    bool Load()
    {
        const ssize_t n = pread(fd, head.data(), head.size(), 0);
        headSize = n > 0 ? static_cast<size_t>(n) : 0;
        return headSize > 0;
    }
    bool Read(uint64_t offset, uint8_t* data, size_t count) const
    {
        if (offset <= headSize && count <= headSize - offset) {
            std::memcpy(data, head.data() + offset, count);
            return true;
        }
        return ReadAt(fd, offset, data, count);
    }
};

std::optional<Provenance> DecodeAt(const Reader& file, uint64_t offset)
{
    std::array<uint8_t, kRecordSize> bytes{};
    if (!file.Read(offset, bytes.data(), bytes.size()))
        return std::nullopt;
    return DecodeProvenance(bytes.data(), bytes.size());
}

// A JPEG's record: an APP11 segment among the segments before the first non-APP one.
std::optional<Provenance> JpegRecord(const Reader& file)
{
    const uint64_t fileSize = file.size;
    for (uint64_t pos = 2; pos + 4 <= fileSize;) {
        uint8_t header[4];
        if (!file.Read(pos, header, 4) || header[0] != 0xFF)
            return std::nullopt;
        const uint8_t marker = header[1];
        if (!((marker >= 0xE0 && marker <= 0xEF) || marker == 0xFE))
            return std::nullopt;
        const uint32_t length = GetBe(header + 2, 2);
        if (length < 2)
            return std::nullopt;
        if (marker == kJpegApp11 && length == 2 + kRecordSize) {
            if (auto record = DecodeAt(file, pos + 4))
                return record;
        }
        pos += 2 + length;
    }
    return std::nullopt;
}

std::optional<Provenance> WebpRecord(const Reader& file)
{
    const uint64_t fileSize = file.size;
    for (uint64_t pos = 12; pos + 8 <= fileSize;) {
        uint8_t header[8];
        if (!file.Read(pos, header, 8))
            return std::nullopt;
        const uint64_t size = GetLe(header + 4, 4);
        if (std::memcmp(header, kWebpChunk, 4) == 0 && size == kRecordSize)
            return DecodeAt(file, pos + 8);
        pos += 8 + size + (size & 1);
    }
    return std::nullopt;
}

std::optional<Provenance> AvifRecord(const Reader& file)
{
    const uint64_t fileSize = file.size;
    for (uint64_t pos = 0; pos + 8 <= fileSize;) {
        uint8_t header[8 + sizeof kAvifUuid];
        if (!file.Read(pos, header, 8))
            return std::nullopt;
        uint64_t size = GetBe(header, 4);
        if (size == 1) {
            uint8_t large[8];
            if (!file.Read(pos + 8, large, 8))
                return std::nullopt;
            size = 0;
            for (uint8_t byte : large)
                size = size << 8 | byte;
        } else if (size == 0) {
            size = fileSize - pos;
        }
        if (size < 8)
            return std::nullopt;
        if (std::memcmp(header + 4, "uuid", 4) == 0 && size == kAvifBoxSize &&
            file.Read(pos + 8, header + 8, sizeof kAvifUuid) && std::memcmp(header + 8, kAvifUuid, 16) == 0)
            return DecodeAt(file, pos + 8 + sizeof kAvifUuid);
        pos += size;
    }
    return std::nullopt;
}

enum class Container { None, Jpeg, Webp, Avif };

Container ContainerOf(const uint8_t* head, size_t size)
{
    if (size >= 4 && head[0] == 0xFF && head[1] == 0xD8 && head[2] == 0xFF)
        return Container::Jpeg;
    if (size >= 16 && std::memcmp(head, "RIFF", 4) == 0 && std::memcmp(head + 8, "WEBP", 4) == 0)
        return Container::Webp;
    if (size >= 12 && std::memcmp(head + 4, "ftyp", 4) == 0)
        return Container::Avif;
    return Container::None;
}

// The canvas of a simple WebP file (one VP8 or VP8L chunk), as a VP8X chunk states it.
bool SimpleWebpCanvas(const std::vector<uint8_t>& file, uint32_t& width, uint32_t& height, bool& alpha)
{
    const uint8_t* chunk = file.data() + 12;
    const uint8_t* data = chunk + 8;
    const size_t available = file.size() - 20;
    alpha = false;
    if (std::memcmp(chunk, "VP8L", 4) == 0 && available >= 5 && data[0] == 0x2F) {
        const uint64_t bits = GetLe(data + 1, 4);
        width = static_cast<uint32_t>(bits & 0x3FFF) + 1;
        height = static_cast<uint32_t>(bits >> 14 & 0x3FFF) + 1;
        alpha = (bits >> 28 & 1) != 0;
        return true;
    }
    if (std::memcmp(chunk, "VP8 ", 4) == 0 && available >= 10 && data[3] == 0x9D && data[4] == 0x01 &&
        data[5] == 0x2A) {
        width = static_cast<uint32_t>(GetLe(data + 6, 2) & 0x3FFF);
        height = static_cast<uint32_t>(GetLe(data + 8, 2) & 0x3FFF);
        return width > 0 && height > 0;
    }
    return false;
}

bool StampWebp(std::vector<uint8_t>& file, const std::vector<uint8_t>& record)
{
    if (std::memcmp(file.data() + 12, "VP8X", 4) != 0) {
        uint32_t width = 0, height = 0;
        bool alpha = false;
        if (!SimpleWebpCanvas(file, width, height, alpha))
            return false;
        // A chunk of our own needs the extended layout, which a VP8X chunk announces.
        std::vector<uint8_t> vp8x = {'V', 'P', '8', 'X', 10, 0, 0, 0, static_cast<uint8_t>(alpha ? 0x10 : 0), 0, 0, 0};
        PutLe(vp8x, width - 1, 3);
        PutLe(vp8x, height - 1, 3);
        file.insert(file.begin() + 12, vp8x.begin(), vp8x.end());
    }
    file.insert(file.end(), kWebpChunk, kWebpChunk + 4);
    std::vector<uint8_t> size;
    PutLe(size, record.size(), 4);
    file.insert(file.end(), size.begin(), size.end());
    file.insert(file.end(), record.begin(), record.end());
    if (record.size() & 1)
        file.push_back(0);
    std::vector<uint8_t> riff;
    PutLe(riff, file.size() - 8, 4);
    std::copy(riff.begin(), riff.end(), file.begin() + 4);
    return true;
}

bool StampJpeg(std::vector<uint8_t>& file, const std::vector<uint8_t>& record)
{
    // After the APP segments a JFIF or EXIF reader expects first.
    size_t pos = 2;
    while (pos + 4 <= file.size() && file[pos] == 0xFF &&
           ((file[pos + 1] >= 0xE0 && file[pos + 1] <= 0xEF) || file[pos + 1] == 0xFE))
        pos += 2 + GetBe(&file[pos + 2], 2);
    if (pos > file.size())
        return false;
    std::vector<uint8_t> segment = {0xFF, kJpegApp11, 0, static_cast<uint8_t>(2 + record.size())};
    segment.insert(segment.end(), record.begin(), record.end());
    file.insert(file.begin() + static_cast<std::ptrdiff_t>(pos), segment.begin(), segment.end());
    return true;
}

// A top-level box of our own at the end: it moves no offset the file already holds.
void StampAvif(std::vector<uint8_t>& file, const std::vector<uint8_t>& record)
{
    std::vector<uint8_t> box;
    PutBe32(box, static_cast<uint32_t>(kAvifBoxSize));
    box.insert(box.end(), {'u', 'u', 'i', 'd'});
    box.insert(box.end(), kAvifUuid, kAvifUuid + sizeof kAvifUuid);
    box.insert(box.end(), record.begin(), record.end());
    file.insert(file.end(), box.begin(), box.end());
}

}  // namespace

uint64_t HashBytes(const std::string& bytes)
{
    uint64_t hash = 14695981039346656037ull;
    for (const char c : bytes)
        hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ull;
    return hash;
}

uint64_t ProvenanceSettingsHash(const BatchSettings& s)
{
    // Named fields, so that a setting added later changes every hash only when it is set.
    std::string text = "v1";
    const auto add = [&text](const char* name, int64_t value) {
        text += ';';
        text += name;
        text += '=';
        text += std::to_string(value);
    };
    add("Width", s.Width);
    add("Height", s.Height);
    add("Type", s.Type);
    add("Portrait", s.Portrait);
    add("Middle", s.Middle);
    add("ResType", s.ResType);
    add("Quality", s.Quality);
    add("Sampling", s.Sampling);
    add("Format", s.Format);
    add("CopyExif", s.CopyExif);
    add("StripGPS", s.StripGPS);
    add("ToSRGB", s.ToSRGB);
    add("AutoRotate", s.AutoRotate);
    add("Autolev", s.Autolev);
    add("Sharpen", s.Sharpen);
    add("Boost", s.Boost);
    add("FastDecode", s.FastDecode);
    return HashBytes(text);
}

Provenance ProvenanceOf(const BatchSettings& settings, const std::string& sourcePath, const struct stat& source)
{
    const bool inside = !settings.PathIn.empty() && sourcePath.rfind(settings.PathIn, 0) == 0;
    Provenance record;
    record.pathHash = HashBytes(inside ? sourcePath.substr(settings.PathIn.size()) : sourcePath);
    record.sourceSize = static_cast<uint64_t>(source.st_size);
    record.sourceSeconds = source.st_mtim.tv_sec;
    record.sourceNanoseconds = static_cast<uint32_t>(source.st_mtim.tv_nsec);
    record.settingsHash = ProvenanceSettingsHash(settings);
    return record;
}

std::vector<uint8_t> EncodeProvenance(const Provenance& r)
{
    std::vector<uint8_t> out(kSignature, kSignature + sizeof kSignature);
    out.push_back(kVersion);
    PutLe(out, r.pathHash, 8);
    PutLe(out, r.sourceSize, 8);
    PutLe(out, static_cast<uint64_t>(r.sourceSeconds), 8);
    PutLe(out, r.sourceNanoseconds, 4);
    PutLe(out, r.settingsHash, 8);
    PutLe(out, Checksum(out.data(), out.size()), 4);
    return out;
}

std::optional<Provenance> DecodeProvenance(const uint8_t* data, size_t size)
{
    // A later version may say things this one cannot judge: such a file is not ours to replace.
    if (!data || size != kRecordSize || std::memcmp(data, kSignature, sizeof kSignature) != 0 ||
        data[8] != kVersion || Checksum(data, kRecordSize - 4) != GetLe(data + kRecordSize - 4, 4))
        return std::nullopt;
    Provenance r;
    r.pathHash = GetLe(data + 9, 8);
    r.sourceSize = GetLe(data + 17, 8);
    r.sourceSeconds = static_cast<int64_t>(GetLe(data + 25, 8));
    r.sourceNanoseconds = static_cast<uint32_t>(GetLe(data + 33, 4));
    r.settingsHash = GetLe(data + 37, 8);
    if (r.sourceNanoseconds >= 1000000000u)
        return std::nullopt;
    return r;
}

bool StampProvenance(int fd, const Provenance& record)
{
    // Read whole: a thumbnail file is never larger than the pixels its run already held.
    struct stat info {};
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_size < 16)
        return false;
    std::vector<uint8_t> file(static_cast<size_t>(info.st_size));
    if (!ReadAt(fd, 0, file.data(), file.size()))
        return false;
    const std::vector<uint8_t> bytes = EncodeProvenance(record);
    switch (ContainerOf(file.data(), file.size())) {
    case Container::Jpeg:
        if (!StampJpeg(file, bytes))
            return false;
        break;
    case Container::Webp:
        if (!StampWebp(file, bytes))
            return false;
        break;
    case Container::Avif:
        StampAvif(file, bytes);
        break;
    case Container::None:
        return false;
    }
    size_t done = 0;
    while (done < file.size()) {
        const ssize_t n = pwrite(fd, file.data() + done, file.size() - done, static_cast<off_t>(done));
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

std::optional<Provenance> ReadProvenance(const std::string& path)
{
    const int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    std::optional<Provenance> record;
    struct stat info {};
    if (fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) {
        Reader file{fd, static_cast<uint64_t>(info.st_size)};
        if (file.Load()) {
            switch (ContainerOf(file.head.data(), file.headSize)) {
            case Container::Jpeg: record = JpegRecord(file); break;
            case Container::Webp: record = WebpRecord(file); break;
            case Container::Avif: record = AvifRecord(file); break;
            case Container::None: break;
            }
        }
    }
    close(fd);
    return record;
}

bool HasOldMark(const std::string& path)
{
    char value = 0;
    return std::getenv("QUILLET_NO_XATTR") == nullptr && lgetxattr(path.c_str(), kOldMark, &value, 1) == 1 &&
           value == '1';
}

bool MadeByQuillet(const std::string& path)
{
    return ReadProvenance(path) || HasOldMark(path);
}

}  // namespace quillet
