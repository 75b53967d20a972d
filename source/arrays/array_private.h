#pragma once
// Private to the array library (C++ only): what every area of the library
// shares.
//   - fail / require: a failed check as a runtime assertion, which does not
//     return;
//   - Traits<A>: the element type of each record and the buffer its elements
//     come from; typed<A>(...) picks the text of a message that names the
//     element type;
//   - sizes: the number of dimensions, every size and every element count is
//     checked in 64 bits before anything is allocated (ElementCount, countOf),
//     so that a negative size or a count that does not fit in an int never
//     reaches an allocator and never moves a buffer position;
//   - construction: the size vector first, then the element block, from the
//     calling thread's buffers or from the persistent ones;
//   - variable argument lists of sizes and subscripts, read twice where the
//     check must come before the allocation (VaCopy);
//   - whether two element blocks share storage (overlapping);
//   - the element arithmetic of each type (numeric::add, mul, ...): IEEE for
//     Real elements, 32-bit two's complement that wraps for Integer elements;
//     and the conversion of a whole double to an int (wholeToInt).
//
// The element loops run in ascending storage order over contiguous storage;
// copies tolerate a destination that overlaps the source at the same or a
// lower position.

#include "source/arrays/array_records.h"
#include "source/runtime_services.h"

#include <cstdarg>
#include <cstdint>
#include <functional>
#include <type_traits>

namespace arrays {

// ---- failures ----------------------------------------------------------------

// runtimeAssert with a false condition: reports "  message\n  Failed condition:
// condition" as a model error and unwinds; never returns.
[[noreturn]] void fail(const char *condition, const char *message);

inline void require(bool ok, const char *condition, const char *message) {
  if (!ok) fail(condition, message);
}

// ---- element types -----------------------------------------------------------

enum class Storage {
  Thread,     // the calling thread's buffers, released by marks
  Persistent, // the Non buffers, never released
};

template <class A> struct Traits;

template <> struct Traits<RealArray> {
  using Element = double;
  static double *allocate(int n, Storage s) {
    return s == Storage::Thread ? allocRealbuffer(n) : allocRealbufferNon(n);
  }
};

template <> struct Traits<IntegerArray> {
  using Element = int;
  static int *allocate(int n, Storage s) {
    return s == Storage::Thread ? allocIntegerbuffer(n) : allocIntegerbufferNon(n);
  }
};

template <> struct Traits<StringArray> {
  using Element = char *;
  static char **allocate(int n, Storage s) {
    return s == Storage::Thread ? allocStringbuffer(n) : allocStringbufferNon(n);
  }
};

template <class A> using Element = typename Traits<A>::Element;

// The one of three texts that names A's element type (condition texts such as
// "RealMatchingSizes(a,b)").
template <class A>
constexpr const char *typed(const char *real, const char *integer, const char *string) {
  if constexpr (std::is_same_v<A, RealArray>)
    return real;
  else if constexpr (std::is_same_v<A, IntegerArray>)
    return integer;
  else
    return string;
}

// ---- sizes -------------------------------------------------------------------

inline constexpr std::int64_t kMaxElements = 2147483647;

// Fails with "Number of dimensions must not be negative" for ndims < 0.
void requireNdims(int ndims);
// Fails with "Array sizes must not be negative" for size < 0.
void requireSize(std::int64_t size);
// Fails with "Too many array elements" unless 0 <= count <= 2147483647;
// returns the count as an int.
int requireCount(std::int64_t count);

// The running product of sizes, saturated just above the largest count so
// that it never leaves 64 bits; a later size 0 still makes it 0.
class ElementCount {
public:
  // Fails with "Array sizes must not be negative" for size < 0.
  void multiply(std::int64_t size) {
    requireSize(size);
    product_ *= size > kMaxElements ? kMaxElements + 1 : size;
    if (product_ > kMaxElements) product_ = kMaxElements + 1;
  }
  // Fails with "Too many array elements" when the product does not fit.
  int count() const { return requireCount(product_); }

private:
  std::int64_t product_ = 1;
};

// Product of n sizes (1 for n <= 0), each size checked.
int countOf(int n, const int *sizes);

template <class A> int count(const A &a) { return countOf(a.ndims, a.dims); }

// The same shape: equal ndims and equal sizes.
template <class A, class B> bool sameShape(const A &a, const B &b) {
  if (a.ndims != b.ndims) return false;
  for (int k = 0; k < a.ndims; ++k)
    if (a.dims[k] != b.dims[k]) return false;
  return true;
}

// ---- variable argument lists -------------------------------------------------

// A copy of a va_list for a first pass over the arguments, ended on every
// exit (the error path included).
class VaCopy {
public:
  explicit VaCopy(std::va_list &from) { va_copy(list_, from); }
  ~VaCopy() { va_end(list_); }
  VaCopy(const VaCopy &) = delete;
  VaCopy &operator=(const VaCopy &) = delete;
  std::va_list &list() { return list_; }

private:
  std::va_list list_;
};

// va_end of a va_start'ed list on every exit.
class VaEnd {
public:
  explicit VaEnd(std::va_list &list) : list_(list) {}
  ~VaEnd() { va_end(list_); }
  VaEnd(const VaEnd &) = delete;
  VaEnd &operator=(const VaEnd &) = delete;

private:
  std::va_list &list_;
};

// Reads n int sizes from the list, checking each and their product.
int countOfVa(int n, std::va_list &sizes);

// ---- construction ------------------------------------------------------------

// n slots of the size buffer of the storage.
int *sizeSlots(int n, Storage s);

// A record with ndims and a new size vector holding the sizes; data unset.
// Everything is checked before the size vector is taken.
template <class A> A header(int ndims, const int *sizes, Storage s) {
  requireNdims(ndims);
  countOf(ndims, sizes);
  A a{ndims, sizeSlots(ndims, s), nullptr};
  for (int k = 0; k < ndims; ++k) a.dims[k] = sizes[k];
  return a;
}

// header over sizes that follow in a variable argument list (consumed).
template <class A> A headerVa(int ndims, std::va_list &sizes, Storage s) {
  requireNdims(ndims);
  {
    VaCopy check(sizes);
    countOfVa(ndims, check.list());
  }
  A a{ndims, sizeSlots(ndims, s), nullptr};
  for (int k = 0; k < ndims; ++k) a.dims[k] = va_arg(sizes, int);
  return a;
}

// An element block of n elements of the storage.
template <class A> Element<A> *elements(int n, Storage s = Storage::Thread) {
  return Traits<A>::allocate(n, s);
}

// A record with the header of a and a new element block of its size.
template <class A> A withElements(A a, Storage s = Storage::Thread) {
  a.data = elements<A>(count(a), s);
  return a;
}

template <class A> A allocate(int ndims, const int *sizes, Storage s = Storage::Thread) {
  return withElements(header<A>(ndims, sizes, s), s);
}

template <class A> A allocateVa(int ndims, std::va_list &sizes, Storage s = Storage::Thread) {
  return withElements(headerVa<A>(ndims, sizes, s), s);
}

// A vector of n elements.
template <class A> A allocateVector(int n) { return allocate<A>(1, &n); }

// A rows x cols matrix.
template <class A> A allocateMatrix(int rows, int cols) {
  const int sizes[2] = {rows, cols};
  return allocate<A>(2, sizes);
}

// a's shape with new sizes and new elements.
template <class A> A allocateLike(const A &a) { return allocate<A>(a.ndims, a.dims); }

// ---- element loops -----------------------------------------------------------

// Copies n elements in ascending order (overlap allowed when to <= from).
template <class T> void copyForward(T *to, const T *from, std::int64_t n) {
  for (std::int64_t k = 0; k < n; ++k) to[k] = from[k];
}

// Position of the subscripts (read through next(), one per dimension) in the
// row-major storage of the sizes; each subscript outside 1..size fails with
// "Index out of bounds".
template <class Next> std::int64_t linearIndex(int n, const int *sizes, Next next) {
  std::int64_t r = 0;
  for (int k = 0; k < n; ++k) {
    const int v = next();
    require(v >= 1 && v <= sizes[k], "(j>=1)&&(j<=dim)", "Index out of bounds");
    r = r * sizes[k] + (v - 1);
  }
  return r;
}

// True when the n elements at p and the m elements at q share storage.
template <class T> bool overlapping(const T *p, std::int64_t n, const T *q, std::int64_t m) {
  if (n <= 0 || m <= 0) return false;
  const std::less<const T *> below;
  return below(p, q + m) && below(q, p + n);
}

// ---- element arithmetic ------------------------------------------------------
// The same four operations for each element type: IEEE for Real elements; for
// Integer elements 32-bit two's complement that wraps on overflow, computed in
// unsigned arithmetic so that no signed overflow occurs.

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

// ---- conversions ---------------------------------------------------------------

// A double that is already whole, as an int; NaN and values outside the
// 32-bit range give -2147483648 (the x86 "integer indefinite" value).
int wholeToInt(double whole);

} // namespace arrays
