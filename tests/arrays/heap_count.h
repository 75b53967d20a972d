#pragma once
// Counts the heap allocations of the calling thread while a HeapCount lives:
// every operator new of the test binary (replaced in heap_count.cpp) and every
// call of the malloc family from the statically linked code (the library, the
// runtime and the tests; wrapped at link time with --wrap).  Allocations made
// inside the C library itself are not seen.
class HeapCount {
public:
  HeapCount();
  ~HeapCount();
  HeapCount(const HeapCount &) = delete;
  HeapCount &operator=(const HeapCount &) = delete;
  long calls() const;

private:
  long start_;
};
