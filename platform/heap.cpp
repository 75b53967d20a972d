#include "platform/heap.h"

#include <atomic>
#include <cstdlib>

namespace platform {
namespace {

// Calls left before failing starts; negative while failing is off.
std::atomic<int> callsBeforeFailing{-1};

} // namespace

void *heapAllocZeroed(std::size_t count, std::size_t size) {
  if (callsBeforeFailing.load(std::memory_order_relaxed) >= 0) {
    int left = callsBeforeFailing.load(std::memory_order_relaxed);
    if (left == 0) return nullptr;
    callsBeforeFailing.store(left - 1, std::memory_order_relaxed);
  }
  return std::calloc(count, size);
}

void heapFree(void *block) { std::free(block); }

void heapFailFrom(int n) { callsBeforeFailing.store(n > 0 ? n - 1 : -1, std::memory_order_relaxed); }

} // namespace platform
