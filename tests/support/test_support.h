// Helpers shared by the tests: debug-output capture and global-memory ownership.
#pragma once

#include "pxlib.hpp"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace test {

// Captures everything sent to the debug output while alive.
class DebugCapture {
public:
    DebugCapture();
    ~DebugCapture();
    DebugCapture(const DebugCapture&) = delete;
    DebugCapture& operator=(const DebugCapture&) = delete;
    const std::string& text() const { return m_text; }
    std::vector<std::string> lines() const;

private:
    static void Sink(const char* text, void* user);
    std::string m_text;
};

using pxlib::GlobalFreer;
using pxlib::GlobalPtr;

// A temporary folder, removed with everything in it.
class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    const std::filesystem::path& path() const { return m_path; }
    std::string operator/(const std::string& name) const { return (m_path / name).string(); }

private:
    std::filesystem::path m_path;
};

// `count` bytes of repeatable noise.
std::vector<uint8_t> RandomBytes(size_t count, uint32_t seed);

// A JPEG file of a few hundred bytes (16 × 16 pixels) whose frame header claims width × height.
std::vector<uint8_t> ClaimingJpeg(uint16_t width, uint16_t height, bool progressive);

// A memory source behind callbacks, counting the reads asked of it. Its size callback answers
// `claimed` when that is not 0.
struct CountedSource {
    std::vector<uint8_t> bytes;
    size_t at = 0;
    uint32_t reads = 0;
    uint32_t claimed = 0;
    bool endless = false;  // past the bytes, reads give zeros without end
    bool unseekable = false;  // every seek fails, as on a pipe
    uint64_t bytesRead = 0;
    DataChannel* Channel();
};

// Caps this process's address space at what it maps now and `extra` bytes more; false when
// that cannot be done.
bool CapAddressSpace(uint64_t extra);

// Where the shared test pictures live, or "" when they are absent.
std::string CorpusDir();

}  // namespace test
