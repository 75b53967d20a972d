#include "tests/arrays/heap_count.h"

#include <cstddef>
#include <cstdlib>
#include <new>

extern "C" {
void *__real_malloc(std::size_t size);
void *__real_calloc(std::size_t count, std::size_t size);
void *__real_realloc(void *block, std::size_t size);
void *__real_aligned_alloc(std::size_t alignment, std::size_t size);
int __real_posix_memalign(void **out, std::size_t alignment, std::size_t size);
}

namespace {

thread_local int counting = 0;
thread_local long counted = 0;

void note() {
  if (counting > 0) ++counted;
}

void *allocate(std::size_t size, std::size_t alignment) {
  note();
  void *block = nullptr;
  if (size == 0) size = 1;
  if (alignment <= alignof(std::max_align_t))
    block = __real_malloc(size);
  else if (__real_posix_memalign(&block, alignment, size) != 0)
    block = nullptr;
  if (block == nullptr) throw std::bad_alloc();
  return block;
}

} // namespace

HeapCount::HeapCount() : start_(counted) { ++counting; }
HeapCount::~HeapCount() { --counting; }
long HeapCount::calls() const { return counted - start_; }

extern "C" {
void *__wrap_malloc(std::size_t size) {
  note();
  return __real_malloc(size);
}
void *__wrap_calloc(std::size_t count, std::size_t size) {
  note();
  return __real_calloc(count, size);
}
void *__wrap_realloc(void *block, std::size_t size) {
  note();
  return __real_realloc(block, size);
}
void *__wrap_aligned_alloc(std::size_t alignment, std::size_t size) {
  note();
  return __real_aligned_alloc(alignment, size);
}
int __wrap_posix_memalign(void **out, std::size_t alignment, std::size_t size) {
  note();
  return __real_posix_memalign(out, alignment, size);
}
}

void *operator new(std::size_t size) { return allocate(size, 0); }
void *operator new[](std::size_t size) { return allocate(size, 0); }
void *operator new(std::size_t size, std::align_val_t alignment) {
  return allocate(size, static_cast<std::size_t>(alignment));
}
void *operator new[](std::size_t size, std::align_val_t alignment) {
  return allocate(size, static_cast<std::size_t>(alignment));
}
void operator delete(void *block) noexcept { std::free(block); }
void operator delete[](void *block) noexcept { std::free(block); }
void operator delete(void *block, std::size_t) noexcept { std::free(block); }
void operator delete[](void *block, std::size_t) noexcept { std::free(block); }
void operator delete(void *block, std::align_val_t) noexcept { std::free(block); }
void operator delete[](void *block, std::align_val_t) noexcept { std::free(block); }
void operator delete(void *block, std::size_t, std::align_val_t) noexcept { std::free(block); }
void operator delete[](void *block, std::size_t, std::align_val_t) noexcept { std::free(block); }
