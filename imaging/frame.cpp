// The library's calling frame and its frame-level entries.
#include "imaging/frame.h"

#include "platform/thread_slot.h"

#include <algorithm>
#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace px {
namespace {

thread_local Context* t_current = nullptr;

// Created by InitializeLibrary, deleted by ShutdownLibrary; nothing else uses it.
std::atomic<bool> g_libraryLock{false};

void DestroyState(void* state)
{
    delete static_cast<LibraryThreadState*>(state);
}

struct CodeName {
    Code code;
    const char* text;
};

constexpr CodeName kCodeTexts[] = {
    {Code::None, "no error"},
    {Code::OutOfMemory, "out of memory"},
    {Code::OpenFailed, "file cannot be opened"},
    {Code::ReadError, "read error"},
    {Code::WriteError, "write error"},
    {Code::BadArgument, "bad argument"},
    {Code::JpegDecode, "JPEG data cannot be decoded"},
    {Code::CreateContext, "device context cannot be created"},
    {Code::ResourceNotFound, "resource not found"},
    {Code::Cancelled, "cancelled"},
    {Code::RowOutOfRange, "no more rows"},
    {Code::DeviceCaps, "device lacks a needed capability"},
    {Code::LayoutUnavailable, "layout cannot be delivered"},
    {Code::BlitFailed, "bit block transfer failed"},
    {Code::CreateBitmap, "device bitmap cannot be created"},
    {Code::SelectBitmap, "bitmap cannot be selected"},
    {Code::BadChannel, "data channel handle is not valid"},
    {Code::DibSection, "bitmap section cannot be created"},
    {Code::NoState, "library state cannot be had"},
    {Code::ExifUnreadable, "EXIF block cannot be parsed"},
    {Code::ProfileUnusable, "colour profile is damaged or cannot be used"},
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
    if (void* existing = platform::GetThreadSlot())
        return static_cast<LibraryThreadState*>(existing);
    auto* state = new (std::nothrow) LibraryThreadState;
    if (!state)
        return nullptr;
    if (!platform::SetThreadSlot(state, DestroyState)) {
        delete state;
        return nullptr;
    }
    return state;
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

extern "C" void InitializeLibrary(void)
{
    px::ThreadState();
    px::g_libraryLock = true;
}

extern "C" void ShutdownLibrary(void)
{
    px::g_libraryLock = false;
}

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

extern "C" void SetDitherErrorLimit(uint32_t limit)
{
    if (LibraryThreadState* state = px::ThreadState())
        state->ditherErrorLimit = std::min<uint32_t>(limit, 127);
}

extern "C" void SetBitmapSectionMode(uint32_t mode)
{
    if (LibraryThreadState* state = px::ThreadState())
        state->bitmapSectionFlag = mode == 1 ? 1 : 0;
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
