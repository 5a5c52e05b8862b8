// The library's calling frame and its frame-level entries.
#include "base/frame.h"

#include "base/thread_data.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace px {
namespace {

thread_local Context* t_current = nullptr;

struct CodeName {
    Code code;
    const char* text;
};

constexpr CodeName kCodeTexts[] = {
#define PX_CODE_TEXT(name, internal, number, text) {Code::internal, text},
    PX_ERROR_CODES(PX_CODE_TEXT)
#undef PX_CODE_TEXT
};

}  // namespace

const char* CodeText(Code code) noexcept
{
    for (const CodeName& entry : kCodeTexts)
        if (entry.code == code)
            return entry.text;
    return "";
}

LibraryThreadState* ThreadState() noexcept
{
    return PerThread<LibraryThreadState>();
}

Context& Current() noexcept
{
    return *t_current;
}

void SetLastError(LibraryThreadState& state, Code code) noexcept
{
    if (code != Code::None) {
        char line[32];
        std::snprintf(line, sizeof line, "PXLib Error : %d\n", static_cast<int>(code));
        OutputDebugStringA(line);
    }
    state.lastError = static_cast<uint32_t>(code);
}

bool Progress(uint32_t row, uint32_t total) noexcept
{
    LibraryThreadState& state = Current().state;
    if (state.nestingDepth != 1 || !state.progress)
        return true;
    if (state.progress(row, total, state.callbackValue) != 0)
        return true;
    Current().code = Code::Cancelled;
    return false;
}

namespace detail {

Frame::Frame(LibraryThreadState& state, bool countsDepth) noexcept
    : m_context{Code::None, state, t_current}, m_countsDepth(countsDepth)
{
    if (m_countsDepth)
        ++state.nestingDepth;
    t_current = &m_context;
}

Frame::~Frame()
{
    if (m_countsDepth)
        --m_context.state.nestingDepth;
    t_current = m_context.outer;
}

}  // namespace detail
}  // namespace px

using px::LibraryThreadState;

// The frame entries below configure the thread's state and do not touch the last error,
// except GetLastLibraryError, which only reads it.

// The library needs no lock of its own: every state is per thread and the list of them has its
// own. Both stay for callers written against the Windows library.
extern "C" void InitializeLibrary(void)
{
    px::ThreadState();
}

extern "C" void ShutdownLibrary(void) {}

extern "C" void SetProgressCallback(ProgressCallback callback, uint32_t callbackValue)
{
    if (LibraryThreadState* state = px::ThreadState()) {
        state->progress = callback;
        state->callbackValue = callbackValue;
    }
}

extern "C" uint32_t GetLastLibraryError(void)
{
    LibraryThreadState* state = px::ThreadState();
    return state ? state->lastError : static_cast<uint32_t>(px::Code::NoState);
}

extern "C" void GetLibraryVersion(char* buffer)
{
    if (!buffer || !px::ThreadState())
        return;
    static constexpr char kVersion[] = "PX 2.1.3.7";
    std::memset(buffer, 0, 20);
    std::memcpy(buffer, kVersion, sizeof kVersion - 1);
}

extern "C" void DebugTrace(const char* format, ...)
{
    if (!format)
        return;
    char text[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);  // longer output is cut
    va_end(args);
    OutputDebugStringA(text);
}

extern "C" const char* GetLibraryErrorText(uint32_t code)
{
    return px::CodeText(static_cast<px::Code>(code));
}
