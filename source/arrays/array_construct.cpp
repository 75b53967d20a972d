// Construction, concatenation, promotion, fill and shape operations, each
// written once over the three records and exported under its C names.
//
// Where a result's element count depends on the arguments (array
// constructor, concatenation, fill with an array) the count is checked in 64
// bits before the result takes any storage.
#include "source/arrays/array_construct.h"

#include "source/arrays/array_private.h"

#include <cmath>

using namespace arrays;

namespace {

// The next scalar of a variable argument list, as the element type.
template <class A> Element<A> nextScalar(std::va_list &list);
template <> double nextScalar<RealArray>(std::va_list &list) { return va_arg(list, double); }
template <> int nextScalar<IntegerArray>(std::va_list &list) { return va_arg(list, int); }
template <> char *nextScalar<StringArray>(std::va_list &list) {
  return const_cast<char *>(va_arg(list, const char *));
}

// A String element refers to characters that the library never writes.
char *stringElement(const char *x) { return const_cast<char *>(x); }

// ---- array constructor -----------------------------------------------------------
// The result's storage is taken first; each argument is compared with the
// first just before it is copied into its block.

template <class A> A arrayOfArrays(int n, std::va_list &arrays) {
  require(n >= 1, "n>=1", "Array constructor requires at least one array");
  const A first = va_arg(arrays, A);
  const int block = count(first);
  ElementCount total;
  total.multiply(n);
  total.multiply(block);
  const int size = total.count();
  A r{requireCount(std::int64_t{first.ndims} + 1), nullptr, nullptr};
  r.dims = sizeSlots(r.ndims, Storage::Thread);
  r.dims[0] = n;
  copyForward(r.dims + 1, first.dims, first.ndims);
  r.data = elements<A>(size);
  for (int k = 0; k < n; ++k) {
    const A next = k == 0 ? first : va_arg(arrays, A);
    require(sameShape(first, next),
            typed<A>("RealMatchingSizes(first,next)", "IntegerMatchingSizes(first,next)",
                     "StringMatchingSizes(first,next)"),
            "Arrays in array must be of equal sizes");
    copyForward(r.data + std::int64_t{k} * block, next.data, block);
  }
  return r;
}

template <class A> A vectorOfScalars(int n, std::va_list &scalars) {
  const A r = allocateVector<A>(n);
  for (int k = 0; k < n; ++k) r.data[k] = nextScalar<A>(scalars);
  return r;
}

// ---- concatenation -----------------------------------------------------------------
// A first pass over a copy of the list checks every argument and the result's
// count; then the result takes its sizes and elements, and a second pass
// copies each argument's blocks into place.

template <class A> A cat(int k, int n, std::va_list &arrays) {
  require(n >= 1, "n>=1", "Concatenation requires at least one array");
  std::int64_t joined = 0;
  A first{};
  {
    VaCopy check(arrays);
    first = va_arg(check.list(), A);
    require(k >= 1 && k <= first.ndims, "(k>=1)&&(k<=first.ndims)",
            "Dimension of cat out of range");
    joined = first.dims[k - 1];
    for (int m = 1; m < n; ++m) {
      const A a = va_arg(check.list(), A);
      require(a.ndims == first.ndims, "a.ndims==first.ndims",
              "Number of dimensions must match for cat");
      for (int j = 0; j < first.ndims; ++j)
        if (j != k - 1)
          require(first.dims[j] == a.dims[j], "first.dims[j]==a.dims[j]",
                  "Sizes must match for cat");
      joined += a.dims[k - 1];
    }
  }
  requireCount(joined);
  ElementCount total;
  std::int64_t outer = 1, inner = 1;
  for (int j = 0; j < first.ndims; ++j) {
    const std::int64_t size = j == k - 1 ? joined : first.dims[j];
    total.multiply(size);
    if (j < k - 1) outer *= size;
    if (j > k - 1) inner *= size;
  }
  const int size = total.count();
  A r{first.ndims, sizeSlots(first.ndims, Storage::Thread), nullptr};
  copyForward(r.dims, first.dims, first.ndims);
  r.dims[k - 1] = static_cast<int>(joined);
  r.data = elements<A>(size);
  if (size == 0) return r;
  std::int64_t offset = 0;
  for (int m = 0; m < n; ++m) {
    const A a = va_arg(arrays, A);
    const std::int64_t run = std::int64_t{a.dims[k - 1]} * inner;
    for (std::int64_t e = 0; e < outer; ++e)
      copyForward(r.data + (e * joined + offset) * inner, a.data + e * run, run);
    offset += a.dims[k - 1];
  }
  return r;
}

// ---- promotion -----------------------------------------------------------------------

template <class A> A promote(const A &a, int n) {
  require(n >= a.ndims, "n>=a.ndims", "Promote cannot decrease number of dimensions");
  A r{n, sizeSlots(n, Storage::Thread), a.data};
  copyForward(r.dims, a.dims, a.ndims);
  for (int k = a.ndims; k < n; ++k) r.dims[k] = 1;
  return r;
}

// The element slot is taken before the size slots.
template <class A> A promoteScalar(Element<A> x, int n) {
  requireNdims(n);
  A r{n, nullptr, elements<A>(1)};
  r.data[0] = x;
  r.dims = sizeSlots(n, Storage::Thread);
  for (int k = 0; k < n; ++k) r.dims[k] = 1;
  return r;
}

// ---- fill ------------------------------------------------------------------------------

template <class A> A fillInPlace(const A &a, Element<A> value) {
  const int n = count(a);
  for (int k = 0; k < n; ++k) a.data[k] = value;
  return a;
}

template <class A> A fill(Element<A> value, int ndims, std::va_list &sizes) {
  return fillInPlace(allocateVa<A>(ndims, sizes), value);
}

// Sizes (d1, ..., dn, sizes of a), taken before the elements.
template <class A> A fillArray(const A &a, int n, std::va_list &sizes) {
  requireNdims(n);
  const int block = count(a);
  ElementCount total;
  {
    VaCopy check(sizes);
    total.multiply(countOfVa(n, check.list()));
  }
  total.multiply(block);
  const int size = total.count();
  A r{requireCount(std::int64_t{n} + a.ndims), nullptr, nullptr};
  r.dims = sizeSlots(r.ndims, Storage::Thread);
  for (int k = 0; k < n; ++k) r.dims[k] = va_arg(sizes, int);
  copyForward(r.dims + n, a.dims, a.ndims);
  r.data = elements<A>(size);
  if (block == 0) return r;
  for (std::int64_t b = 0; b < size / block; ++b) copyForward(r.data + b * block, a.data, block);
  return r;
}

// ---- conversions of shape ----------------------------------------------------------------

template <class A> Element<A> toScalar(const A &a) {
  require(count(a) == 1,
          typed<A>("RealNrElements(a)==1", "IntegerNrElements(a)==1", "StringNrElements(a)==1"),
          "scalar requires exactly one element");
  return a.data[0];
}

template <class A> A toVector(const A &a) {
  bool found_non_one = false;
  for (int k = 0; k < a.ndims; ++k) {
    if (a.dims[k] <= 1) continue;
    require(!found_non_one, "!found_non_one",
            "vector requires exactly one vector non-unit dimension");
    found_non_one = true;
  }
  A r{1, sizeSlots(1, Storage::Thread), a.data};
  r.dims[0] = count(a);
  return r;
}

// A dimension that a does not have counts as size 1, so that a
// 0-dimensional array gives a 1x1 matrix.  The size slots are taken before
// the counts are compared.
template <class A> A toMatrix(const A &a) {
  A r{2, sizeSlots(2, Storage::Thread), a.data};
  r.dims[0] = a.ndims >= 1 ? a.dims[0] : 1;
  r.dims[1] = a.ndims >= 2 ? a.dims[1] : 1;
  require(count(a) == count(r),
          typed<A>("RealNrElements(a)==RealNrElements(res)",
                   "IntegerNrElements(a)==IntegerNrElements(res)",
                   "StringNrElements(a)==StringNrElements(res)"),
          "matrix requires size(x,i)=1 for i>2");
  return r;
}

// Element (j, i, l) of the result is a's (i, j, l): runs of the trailing
// sizes move whole.
template <class A> A transpose(const A &a) {
  require(a.ndims >= 2, "a.ndims>=2", "transpose requires ndims>=2");
  A r{a.ndims, sizeSlots(a.ndims, Storage::Thread), nullptr};
  copyForward(r.dims, a.dims, a.ndims);
  r.dims[0] = a.dims[1];
  r.dims[1] = a.dims[0];
  r = withElements(r);
  const std::int64_t d1 = a.dims[0], d2 = a.dims[1];
  const std::int64_t m = countOf(a.ndims - 2, a.dims + 2);
  if (m == 0) return r;
  for (std::int64_t i = 0; i < d1; ++i)
    for (std::int64_t j = 0; j < d2; ++j)
      copyForward(r.data + (j * d1 + i) * m, a.data + (i * d2 + j) * m, m);
  return r;
}

template <class A> A outerproduct(const A &a, const A &b) {
  require(a.ndims == 1, "a.ndims==1", "Outerproduct require a vector as first argument");
  require(b.ndims == 1, "b.ndims==1", "Outerproduct require a vector as second argument");
  const A r = allocateMatrix<A>(a.dims[0], b.dims[0]);
  const std::int64_t rows = a.dims[0], cols = b.dims[0];
  for (std::int64_t i = 0; i < rows; ++i)
    for (std::int64_t j = 0; j < cols; ++j)
      r.data[i * cols + j] = numeric::mul(a.data[i], b.data[j]);
  return r;
}

template <class A> A symmetric(const A &a) {
  require(a.ndims == 2, "a.ndims==2", "symmetric requires ndims==2");
  require(a.dims[0] == a.dims[1], "a.dims[0]==a.dims[1]", "symmetric requires square matrix");
  const A r = allocateMatrix<A>(a.dims[0], a.dims[0]);
  const std::int64_t n = a.dims[0];
  for (std::int64_t i = 0; i < n; ++i)
    for (std::int64_t j = 0; j < n; ++j)
      r.data[i * n + j] = j <= i ? a.data[j * n + i] : a.data[i * n + j];
  return r;
}

} // namespace

// ---- array constructor and vector of scalars ---------------------------------------------

RealArray RealArrayOfArrays(int n, ...) {
  std::va_list arrays;
  va_start(arrays, n);
  VaEnd end(arrays);
  return arrayOfArrays<RealArray>(n, arrays);
}
IntegerArray IntegerArrayOfArrays(int n, ...) {
  std::va_list arrays;
  va_start(arrays, n);
  VaEnd end(arrays);
  return arrayOfArrays<IntegerArray>(n, arrays);
}
StringArray StringArrayOfArrays(int n, ...) {
  std::va_list arrays;
  va_start(arrays, n);
  VaEnd end(arrays);
  return arrayOfArrays<StringArray>(n, arrays);
}

RealArray RealVectorOfScalars(int n, ...) {
  std::va_list scalars;
  va_start(scalars, n);
  VaEnd end(scalars);
  return vectorOfScalars<RealArray>(n, scalars);
}
IntegerArray IntegerVectorOfScalars(int n, ...) {
  std::va_list scalars;
  va_start(scalars, n);
  VaEnd end(scalars);
  return vectorOfScalars<IntegerArray>(n, scalars);
}
StringArray StringVectorOfScalars(int n, ...) {
  std::va_list scalars;
  va_start(scalars, n);
  VaEnd end(scalars);
  return vectorOfScalars<StringArray>(n, scalars);
}

// ---- concatenation -----------------------------------------------------------------------

RealArray RealCat(int k, int n, ...) {
  std::va_list arrays;
  va_start(arrays, n);
  VaEnd end(arrays);
  return cat<RealArray>(k, n, arrays);
}
IntegerArray IntegerCat(int k, int n, ...) {
  std::va_list arrays;
  va_start(arrays, n);
  VaEnd end(arrays);
  return cat<IntegerArray>(k, n, arrays);
}
StringArray StringCat(int k, int n, ...) {
  std::va_list arrays;
  va_start(arrays, n);
  VaEnd end(arrays);
  return cat<StringArray>(k, n, arrays);
}

// ---- promotion -----------------------------------------------------------------------------

RealArray RealPromote(RealArray a, int n) { return promote(a, n); }
IntegerArray IntegerPromote(IntegerArray a, int n) { return promote(a, n); }
StringArray StringPromote(StringArray a, int n) { return promote(a, n); }

RealArray RealPromoteScalar(double x, int n) { return promoteScalar<RealArray>(x, n); }
IntegerArray IntegerPromoteScalar(int x, int n) { return promoteScalar<IntegerArray>(x, n); }
StringArray StringPromoteScalar(const char *x, int n) {
  return promoteScalar<StringArray>(stringElement(x), n);
}

// ---- fill ------------------------------------------------------------------------------------

RealArray RealFillInPlace(RealArray a, double value) { return fillInPlace(a, value); }
IntegerArray IntegerFillInPlace(IntegerArray a, int value) { return fillInPlace(a, value); }
StringArray StringFillInPlace(StringArray a, const char *value) {
  return fillInPlace(a, stringElement(value));
}

RealArray RealFill(double value, int ndims, ...) {
  std::va_list sizes;
  va_start(sizes, ndims);
  VaEnd end(sizes);
  return fill<RealArray>(value, ndims, sizes);
}
IntegerArray IntegerFill(int value, int ndims, ...) {
  std::va_list sizes;
  va_start(sizes, ndims);
  VaEnd end(sizes);
  return fill<IntegerArray>(value, ndims, sizes);
}
StringArray StringFill(const char *value, int ndims, ...) {
  std::va_list sizes;
  va_start(sizes, ndims);
  VaEnd end(sizes);
  return fill<StringArray>(stringElement(value), ndims, sizes);
}

RealArray RealFillArray(RealArray a, int n, ...) {
  std::va_list sizes;
  va_start(sizes, n);
  VaEnd end(sizes);
  return fillArray(a, n, sizes);
}
IntegerArray IntegerFillArray(IntegerArray a, int n, ...) {
  std::va_list sizes;
  va_start(sizes, n);
  VaEnd end(sizes);
  return fillArray(a, n, sizes);
}
StringArray StringFillArray(StringArray a, int n, ...) {
  std::va_list sizes;
  va_start(sizes, n);
  VaEnd end(sizes);
  return fillArray(a, n, sizes);
}

// ---- conversions of shape --------------------------------------------------------------------

double RealToScalar(RealArray a) { return toScalar(a); }
int IntegerToScalar(IntegerArray a) { return toScalar(a); }
char *StringToScalar(StringArray a) { return toScalar(a); }

RealArray RealToVector(RealArray a) { return toVector(a); }
IntegerArray IntegerToVector(IntegerArray a) { return toVector(a); }
StringArray StringToVector(StringArray a) { return toVector(a); }

RealArray RealToMatrix(RealArray a) { return toMatrix(a); }
IntegerArray IntegerToMatrix(IntegerArray a) { return toMatrix(a); }
StringArray StringToMatrix(StringArray a) { return toMatrix(a); }

RealArray RealTranspose(RealArray a) { return transpose(a); }
IntegerArray IntegerTranspose(IntegerArray a) { return transpose(a); }
StringArray StringTranspose(StringArray a) { return transpose(a); }

RealArray RealOuterproduct(RealArray a, RealArray b) { return outerproduct(a, b); }
IntegerArray IntegerOuterproduct(IntegerArray a, IntegerArray b) { return outerproduct(a, b); }

RealArray RealSymmetric(RealArray a) { return symmetric(a); }
IntegerArray IntegerSymmetric(IntegerArray a) { return symmetric(a); }
StringArray StringSymmetric(StringArray a) { return symmetric(a); }

// ---- small functions ---------------------------------------------------------------------------

int RealFloor(double x) { return wholeToInt(std::floor(x)); }

int IntegerWhen(IntegerArray cond, IntegerArray eval, IntegerArray flags, int enable, int *fired) {
  require(sameShape(cond, eval), "IntegerMatchingSizes(cond,eval)",
          "Internal error in array when.");
  const int n = count(cond);
  int result = 0;
  for (int i = 0; i < n; ++i) {
    if (cond.data[i] == 0) {
      flags.data[i] = 1;
    } else if (enable != 0 && eval.data[i] != 0) {
      if (fired != nullptr) *fired = 1;
      flags.data[i] = 0;
      result = 1;
    }
  }
  return result;
}
