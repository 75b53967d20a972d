#include "platform/heap.h"

#include <sys/mman.h>

#include <atomic>
#include <cstdlib>

namespace platform {
namespace {

// Calls left before failing starts; negative while failing is off.
std::atomic<int> callsBeforeFailing{-1};

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif

// False when the test seam makes this call fail.
bool mayAllocate() {
  if (callsBeforeFailing.load(std::memory_order_relaxed) >= 0) {
    int left = callsBeforeFailing.load(std::memory_order_relaxed);
    if (left == 0) return false;
    callsBeforeFailing.store(left - 1, std::memory_order_relaxed);
  }
  return true;
}

} // namespace

void *heapAllocZeroed(std::size_t count, std::size_t size) {
  if (!mayAllocate()) return nullptr;
  return std::calloc(count, size);
}

void heapFree(void *block) { std::free(block); }

void *takeLargeZeroed(std::size_t bytes) {
  if (!mayAllocate()) return nullptr;
  if (kSanitized || bytes == 0) return std::calloc(bytes == 0 ? 1 : bytes, 1);
  void *block = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  return block == MAP_FAILED ? nullptr : block;
}

void releaseLarge(void *block, std::size_t bytes) {
  if (block == nullptr) return;
  if (kSanitized || bytes == 0) {
    std::free(block);
    return;
  }
  munmap(block, bytes);
}

void heapFailFrom(int n) {
  callsBeforeFailing.store(n > 0 ? n - 1 : -1, std::memory_order_relaxed);
}

} // namespace platform
