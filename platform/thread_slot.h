// Per-thread values kept until program end: every value ever made is kept in one list under a
// lock and destroyed when the program ends (not when its thread ends).
#pragma once

namespace px::platform {

using SlotDestroy = void (*)(void*);

// True once the program has begun to end: per-thread values are gone or going.
bool Ending() noexcept;

// Puts value on the list, to be destroyed at program end; false (value still the caller's)
// when the list is gone or cannot grow.
bool KeepUntilExit(void* value, SlotDestroy destroy) noexcept;

}  // namespace px::platform
