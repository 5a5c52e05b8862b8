// Helpers shared by the tests: debug-output capture and global-memory ownership.
#pragma once

#include "include/pxlib.h"

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

// Frees a global block returned by the library.
struct GlobalFreer {
    void operator()(void* block) const { GlobalFree(block); }
};
template <class T>
using GlobalPtr = std::unique_ptr<T, GlobalFreer>;

// Where the shared test pictures live, or "" when they are absent.
std::string CorpusDir();

}  // namespace test
