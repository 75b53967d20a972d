#pragma once
// Per-thread slot of the runtime: one value per thread, released by a
// caller-given function when the thread ends, and for every value still held
// when the slot is closed (library unload).  This replaces the thread-local
// storage index and the thread/process detach notifications of a DLL.
//
// The slot itself is created lazily and exactly once per process (safe
// against a first use from two threads at once).  A value is only ever set by
// its own thread; the set of live values is kept in a registry so that
// closing the slot can release the records of threads that are still alive.
// The registry lock is taken only when a thread's value is first set, when
// the thread ends and at close, never while a thread uses its value.

namespace platform {

// Releases one thread's value.  Called at most once per value set.
using ThreadValueRelease = void (*)(void *value);

// Installs the release function.  Has an effect only before the slot's first
// use; later calls are ignored.  Returns whether the slot is usable.
[[nodiscard]] bool threadSlotOpen(ThreadValueRelease release);

// The calling thread's value, or null when it has none (or the slot is closed
// or could not be created).
void *threadSlotGet();

// Stores the calling thread's value (null clears it without releasing the old
// value; the caller owns it again).  Returns false when the slot is closed or
// could not be created; nothing is stored then.
[[nodiscard]] bool threadSlotSet(void *value);

// Releases the values of all threads (the calling thread's included) through
// the release function and closes the slot: from then on threadSlotGet
// returns null and threadSlotSet fails, and no thread's end calls the release
// function any more.
void threadSlotClose();

// Number of values currently held by live threads (for tests).
int threadSlotCount();

} // namespace platform
