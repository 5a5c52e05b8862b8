// The debugger output: one process-wide sink, standard error only when PXLIB_DEBUG is set.
#include "pxlib.h"

#include <cstdio>
#include <cstdlib>
#include <mutex>

namespace {

struct Sink {
    std::mutex lock;
    PXDebugSink sink = nullptr;
    void* user = nullptr;
};

Sink& TheSink()
{
    static Sink* sink = new Sink;
    return *sink;
}

void DefaultSink(const char* text)
{
    static const bool enabled = std::getenv("PXLIB_DEBUG") != nullptr;
    if (enabled)
        std::fputs(text, stderr);
}

}  // namespace

extern "C" void SetDebugSink(PXDebugSink sink, void* user)
{
    Sink& s = TheSink();
    std::lock_guard guard(s.lock);
    s.sink = sink;
    s.user = user;
}

extern "C" void OutputDebugStringA(const char* text)
{
    if (!text)
        return;
    Sink& s = TheSink();
    std::lock_guard guard(s.lock);
    if (s.sink)
        s.sink(text, s.user);
    else
        DefaultSink(text);
}
