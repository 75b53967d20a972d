#pragma once
// Private to the array library (C++ only), beside array_private.h: what the
// subscripting, matrix and range operations share.
//   - numeric: the element arithmetic of each type, IEEE for Real elements and
//     32-bit two's complement that wraps for Integer elements (computed in
//     unsigned arithmetic, so no signed overflow occurs);
//   - CountProduct: an element count built factor by factor in 64 bits and
//     checked before anything is allocated;
//   - overlapping: whether two element blocks share storage.

#include "source/arrays/array_private.h"

#include <cstdint>
#include <functional>

namespace arrays {

namespace numeric {

inline double add(double a, double b) { return a + b; }
inline double sub(double a, double b) { return a - b; }
inline double mul(double a, double b) { return a * b; }
inline double neg(double a) { return -a; }

inline int add(int a, int b) {
  return static_cast<int>(static_cast<std::uint32_t>(a) + static_cast<std::uint32_t>(b));
}
inline int sub(int a, int b) {
  return static_cast<int>(static_cast<std::uint32_t>(a) - static_cast<std::uint32_t>(b));
}
inline int mul(int a, int b) {
  return static_cast<int>(static_cast<std::uint32_t>(a) * static_cast<std::uint32_t>(b));
}
inline int neg(int a) { return static_cast<int>(0u - static_cast<std::uint32_t>(a)); }

} // namespace numeric

// The number of elements of a shape whose sizes arrive one at a time.  The
// product saturates just above the largest count, so it never leaves 64
// bits, and a later size 0 still makes it 0.
class CountProduct {
public:
  // Fails with "Array sizes must not be negative" for a negative size.
  void multiply(std::int64_t size) {
    require(size >= 0, "dim>=0", "Array sizes must not be negative");
    product_ *= size > kMaxElements ? kMaxElements + 1 : size;
    if (product_ > kMaxElements) product_ = kMaxElements + 1;
  }
  // Fails with "Too many array elements" when the product is above
  // 2147483647.
  int count() const { return requireCount(product_); }

private:
  std::int64_t product_ = 1;
};

// True when the n elements at p and the m elements at q share storage.
template <class T> bool overlapping(const T *p, std::int64_t n, const T *q, std::int64_t m) {
  if (n <= 0 || m <= 0) return false;
  const std::less<const T *> below;
  return below(p, q + m) && below(q, p + n);
}

} // namespace arrays
