#pragma once
// The runtime's heap for its per-thread records and buffers, behind one seam
// so that tests can make an allocation fail.

#include <cstddef>

namespace platform {

// calloc: count elements of size bytes, zero-filled; null on failure.
void *heapAllocZeroed(std::size_t count, std::size_t size);
void heapFree(void *block);

// Test seam: from the n-th following heapAllocZeroed call on (1 for the next
// one), every call fails; 0 turns failing off.  Process-wide.
void heapFailFrom(int n);

} // namespace platform
