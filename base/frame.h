// The library's calling frame: per-thread state (last error, progress, nesting depth), the
// entry wrapper, Fail and Progress.
#pragma once

#include "base/codes.h"
#include "pxlib.h"

#include <cstdint>
#include <exception>
#include <new>
#include <type_traits>
#include <utility>

namespace px {

// One per thread that has called the library; lives until the program ends. Modules keep
// their own per-thread settings beside it (PerThread in base/thread_data.h).
struct LibraryThreadState {
    ProgressCallback progress = nullptr;
    uint32_t nestingDepth = 0;
    uint32_t callbackValue = 0;
    uint32_t lastError = 0;
};

// The calling thread's state, created on first use; null when it cannot be had.
LibraryThreadState* ThreadState() noexcept;

// The running operation's context: its error code, set by Fail.
struct Context {
    Code code = Code::None;
    LibraryThreadState& state;
    Context* outer;
};

// The innermost running operation on this thread. Valid only inside an entry.
Context& Current() noexcept;
inline LibraryThreadState& State() noexcept { return Current().state; }

// Result of Fail: converts to any plain failure value (0, false, null).
struct Failure {
    template <class T>
    constexpr operator T() const noexcept
    {
        return T{};
    }
};

// Records code as the operation's outcome; `return Fail(Code::X);` ends it.
inline Failure Fail(Code code) noexcept
{
    Current().code = code;
    return {};
}

// Runs an inner operation as part of the running one: it counts towards the nesting depth, so
// it reports no progress of its own, and its failure is the running operation's.
template <class Body>
auto Inner(Body&& body) -> decltype(body())
{
    struct Depth {
        LibraryThreadState& state;
        explicit Depth(LibraryThreadState& s) noexcept : state(s) { ++state.nestingDepth; }
        ~Depth() { --state.nestingDepth; }
    } depth(State());
    return body();
}

// True while the operation should go on: calls the thread's callback after row `row` of
// `total`, only at nesting depth 1. A stop records code 14 in the context.
bool Progress(uint32_t row, uint32_t total) noexcept;

// Calls rowOp(y) for every row, then reports progress; false when the callback stopped.
template <class RowOp>
bool EachRow(uint32_t rows, RowOp&& rowOp)
{
    for (uint32_t y = 0; y < rows; ++y) {
        rowOp(y);
        if (!Progress(y, rows))
            return false;
    }
    return true;
}

// Sets the thread's last error, with one debug line for a nonzero code.
void SetLastError(LibraryThreadState& state, Code code) noexcept;

namespace detail {

// Keeps the nesting depth and the context chain for one operation, on every path.
class Frame {
public:
    Frame(LibraryThreadState& state, bool countsDepth) noexcept;
    ~Frame();
    Frame(const Frame&) = delete;
    Frame& operator=(const Frame&) = delete;
    Context& context() noexcept { return m_context; }

private:
    Context m_context;
    bool m_countsDepth;
};

}  // namespace detail

enum class FrameKind {
    Operation,       // counts towards the nesting depth; always sets the last error
    Uncounted,       // the percentile stretches: no nesting depth
    KeepOnSuccess,   // data channel entries: set the last error only when they fail
};

namespace detail {

// Runs work; an escaping C++ exception becomes the context's code.
template <class Work>
void Guarded(Context& context, Work&& work) noexcept
{
    try {
        work();
    } catch (const std::bad_alloc&) {
        context.code = Code::OutOfMemory;
    } catch (...) {
        context.code = Code::BadArgument;
    }
}

}  // namespace detail

// The one entry frame: state, nesting depth, body, last error. With no state the plain
// failure value is returned at once; a C++ exception escaping the body becomes a code and
// never crosses into the caller.
template <class Body>
auto RunEntry(FrameKind kind, Body&& body) noexcept -> decltype(body())
{
    using Result = decltype(body());
    LibraryThreadState* state = ThreadState();
    if (!state) {
        if constexpr (!std::is_void_v<Result>)
            return Result{};
        else
            return;
    }
    detail::Frame frame(*state, kind == FrameKind::Operation);
    Context& context = frame.context();
    if constexpr (std::is_void_v<Result>) {
        detail::Guarded(context, body);
        if (kind != FrameKind::KeepOnSuccess || context.code != Code::None)
            SetLastError(*state, context.code);
    } else {
        Result result{};
        detail::Guarded(context, [&] { result = body(); });
        if (kind != FrameKind::KeepOnSuccess || context.code != Code::None)
            SetLastError(*state, context.code);
        return result;
    }
}

template <class Body>
auto Entry(Body&& body) noexcept
{
    return RunEntry(FrameKind::Operation, std::forward<Body>(body));
}

}  // namespace px
