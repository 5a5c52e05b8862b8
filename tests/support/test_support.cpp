#include "support/test_support.h"

#include <filesystem>
#include <sstream>

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

std::string CorpusDir()
{
#ifdef QUILLET_CORPUS_DIR
    if (std::filesystem::is_directory(QUILLET_CORPUS_DIR))
        return QUILLET_CORPUS_DIR;
#endif
    return "";
}

}  // namespace test
