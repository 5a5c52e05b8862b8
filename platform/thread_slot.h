// Per-thread state slot: each thread sees its own value; every value ever stored is kept in
// one list under a lock and destroyed at program end (not when its thread ends).
#pragma once

namespace px::platform {

using SlotDestroy = void (*)(void*);

// The calling thread's value, or null. Null also once the program has begun to end.
void* GetThreadSlot() noexcept;

// Stores value for the calling thread and puts it on the list; false (nothing stored, value
// still the caller's) when the list is gone or cannot grow.
bool SetThreadSlot(void* value, SlotDestroy destroy) noexcept;

}  // namespace px::platform
