#pragma once
// The runtime's heap for its per-thread records and buffers, behind one seam
// so that tests can make an allocation fail.

#include <cstddef>

namespace platform {

// calloc: count elements of size bytes, zero-filled; null on failure.
void *heapAllocZeroed(std::size_t count, std::size_t size);
void heapFree(void *block);

// Large zero-filled blocks (the per-thread buffers, delay rings) taken from
// the system directly: their pages become resident only when written, and
// the C library's heap, whose thresholds a freed large block would raise for
// the whole process (the host's own blocks included), is not involved.  A
// block goes back through releaseLarge with the size it was taken with.
// Counted by heapFailFrom like heapAllocZeroed.  Under the sanitizers these
// are calloc and free, so that the sanitizers watch them.
void *takeLargeZeroed(std::size_t bytes);
void releaseLarge(void *block, std::size_t bytes);

// Test seam: from the n-th following heapAllocZeroed call on (1 for the next
// one), every call fails; 0 turns failing off.  Process-wide.
void heapFailFrom(int n);

} // namespace platform
