#include "support/test_support.h"

#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <sstream>
#include <stdexcept>

namespace test {

DebugCapture::DebugCapture() { SetDebugSink(&DebugCapture::Sink, this); }
DebugCapture::~DebugCapture() { SetDebugSink(nullptr, nullptr); }

void DebugCapture::Sink(const char* text, void* user)
{
    static_cast<DebugCapture*>(user)->m_text += text;
}

std::vector<std::string> DebugCapture::lines() const
{
    std::vector<std::string> result;
    std::istringstream in(m_text);
    for (std::string line; std::getline(in, line);)
        result.push_back(line);
    return result;
}

TempFolder::TempFolder()
{
    char pattern[] = "/tmp/quillet-test-XXXXXX";
    if (!mkdtemp(pattern))
        throw std::runtime_error("mkdtemp failed");
    m_path = pattern;
}

TempFolder::~TempFolder()
{
    std::error_code error;
    std::filesystem::permissions(m_path, std::filesystem::perms::owner_all, std::filesystem::perm_options::add,
                                 error);
    std::filesystem::remove_all(m_path, error);
}

std::vector<uint8_t> RandomBytes(size_t count, uint32_t seed)
{
    std::mt19937 random(seed);
    std::vector<uint8_t> bytes(count);
    for (uint8_t& b : bytes)
        b = static_cast<uint8_t>(random());
    return bytes;
}

std::vector<uint8_t> ClaimingJpeg(uint16_t width, uint16_t height, bool progressive)
{
    const std::vector<uint8_t> pixels = RandomBytes(16 * 16 * 3, 7);
    std::vector<uint8_t> file(64 * 1024);
    DataChannel* sink = OpenMemorySink(file.data(), static_cast<uint32_t>(file.size()));
    WriteJPG(sink, pixels.data(), 16, 16, 50, progressive ? 1 : 0, 24, nullptr);
    file.resize(CloseSink(sink));
    // SOF0 or SOF2: marker, length (2), precision (1), height (2), width (2).
    for (size_t i = 2; i + 9 <= file.size(); ++i) {
        if (file[i] == 0xFF && (file[i + 1] == 0xC0 || file[i + 1] == 0xC2)) {
            file[i + 5] = static_cast<uint8_t>(height >> 8);
            file[i + 6] = static_cast<uint8_t>(height);
            file[i + 7] = static_cast<uint8_t>(width >> 8);
            file[i + 8] = static_cast<uint8_t>(width);
            return file;
        }
    }
    throw std::runtime_error("no frame header written");
}

namespace {

CountedSource& Of(uintptr_t user) { return *reinterpret_cast<CountedSource*>(user); }
uint32_t Open(uintptr_t) { return 1; }
uint32_t Read(void* buffer, uint32_t count, uintptr_t user)
{
    CountedSource& s = Of(user);
    ++s.reads;
    if (s.endless && s.at >= s.bytes.size()) {
        std::memset(buffer, 0, count);
        s.at += count;
        s.bytesRead += count;
        return count;
    }
    const size_t n = std::min<size_t>(count, s.bytes.size() - s.at);
    std::memcpy(buffer, s.bytes.data() + s.at, n);
    s.at += n;
    s.bytesRead += n;
    return uint32_t(n);
}
uint32_t Seek(int32_t offset, uint32_t origin, uintptr_t user)
{
    CountedSource& s = Of(user);
    if (s.unseekable)
        return 0;
    const int64_t base = origin == 0 ? 0 : origin == 1 ? int64_t(s.at) : int64_t(s.bytes.size());
    if (base + offset < 0 || base + offset > int64_t(s.bytes.size()))
        return 0;
    s.at = size_t(base + offset);
    return 1;
}
uint32_t Tell(uintptr_t user) { return uint32_t(Of(user).at); }
uint32_t Size(uintptr_t user) { return Of(user).claimed ? Of(user).claimed : uint32_t(Of(user).bytes.size()); }
uint32_t End(uintptr_t user) { return Of(user).at >= Of(user).bytes.size(); }
uint32_t Close(uintptr_t) { return 1; }

}  // namespace

DataChannel* CountedSource::Channel()
{
    return OpenCallbackSource(Open, Read, Seek, Tell, Size, End, Close, reinterpret_cast<uintptr_t>(this));
}

bool CapAddressSpace(uint64_t extra)
{
    unsigned long pages = 0;
    if (FILE* statm = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(statm, "%lu", &pages) != 1)
            pages = 0;
        std::fclose(statm);
    }
    const rlim_t limit = rlim_t(pages) * 4096 + extra;
    const rlimit cap{limit, limit};
    return pages != 0 && setrlimit(RLIMIT_AS, &cap) == 0;
}

std::string CorpusDir()
{
#ifdef QUILLET_CORPUS_DIR
    if (std::filesystem::is_directory(QUILLET_CORPUS_DIR))
        return QUILLET_CORPUS_DIR;
#endif
    return "";
}

}  // namespace test

// Leaks of the libraries underneath, not ours to free: fontconfig keeps its configuration for
// the life of the process (text drawn through cairo in metafiles); libheif 1.15 drops the dav1d
// buffer of an AV1 item that dav1d refuses (an empty one, as a damaged file can give); x265
// keeps a little of every encoder the HEIC tests make.
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:libfontconfig.so\nleak:libdav1d.so\nleak:libx265.so\n";
}
