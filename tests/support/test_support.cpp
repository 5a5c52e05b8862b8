#include "support/test_support.h"

#include <cstdlib>
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

std::string CorpusDir()
{
#ifdef QUILLET_CORPUS_DIR
    if (std::filesystem::is_directory(QUILLET_CORPUS_DIR))
        return QUILLET_CORPUS_DIR;
#endif
    return "";
}

}  // namespace test

// Fontconfig keeps its configuration for the life of the process and never frees it; text drawn
// through cairo (metafiles) would otherwise end every sanitizer run with its report.
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:libfontconfig.so\n";
}
