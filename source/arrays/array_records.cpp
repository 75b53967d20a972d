// Array records: construction from the evaluation buffers, element access,
// sizes, copies, caller storage and printing.  Each operation is written once
// for the three element types (templates over the record) and exported under
// its three C names.
#include "source/arrays/array_records.h"

#include "source/arrays/array_private.h"

#include <climits>
#include <cmath>
#include <cstdlib>

static_assert(sizeof(int) == 4, "array sizes and Integer elements are 32-bit ints");

namespace arrays {

// ---- shared helpers ------------------------------------------------------------

void fail(const char *condition, const char *message) {
  runtimeAssert(0, condition, message);
  std::abort(); // not reached: a failed assertion unwinds
}

void requireNdims(int ndims) {
  require(ndims >= 0, "ndims>=0", "Number of dimensions must not be negative");
}

void requireSize(std::int64_t size) {
  require(size >= 0, "dim>=0", "Array sizes must not be negative");
}

int requireCount(std::int64_t count) {
  require(count >= 0 && count <= kMaxElements, "nelements<=2147483647", "Too many array elements");
  return static_cast<int>(count);
}

int countOf(int n, const int *sizes) {
  ElementCount product;
  for (int k = 0; k < n; ++k) product.multiply(sizes[k]);
  return product.count();
}

int countOfVa(int n, std::va_list &sizes) {
  ElementCount product;
  for (int k = 0; k < n; ++k) product.multiply(va_arg(sizes, int));
  return product.count();
}

int *sizeSlots(int n, Storage s) {
  return s == Storage::Thread ? allocSizebuffer(n) : allocSizebufferNon(n);
}

int wholeToInt(double whole) {
  if (whole >= -2147483648.0 && whole <= 2147483647.0) return static_cast<int>(whole);
  return INT_MIN;
}

} // namespace arrays

using namespace arrays;

namespace {

// ---- element access --------------------------------------------------------------

// The element of a at the subscripts that follow in the list (consumed).
template <class A> Element<A> &elementAt(const A &a, std::va_list &subscripts) {
  return a.data[linearIndex(a.ndims, a.dims, [&] { return va_arg(subscripts, int); })];
}

// ---- sizes -------------------------------------------------------------------------

template <class A> int sizeOf(const A &a, int i) {
  require(i >= 1 && i <= a.ndims, "(i>=1)&&(i<=a.ndims)",
          "Size must be between 1 and ndims of array");
  return a.dims[i - 1];
}

// The size vector's own size (a's ndims) is taken before its elements.
template <class A> IntegerArray sizeVector(const A &a) {
  IntegerArray v{1, allocSizebuffer(1), nullptr};
  v.dims[0] = a.ndims;
  v.data = allocIntegerbuffer(a.ndims);
  copyForward(v.data, a.dims, a.ndims);
  return v;
}

// ---- copies ------------------------------------------------------------------------

template <class A> void assign(const A &a, const A &b) {
  const int n = count(a);
  require(
      sameShape(a, b),
      typed<A>("RealMatchingSizes(a,b)", "IntegerMatchingSizes(a,b)", "StringMatchingSizes(a,b)"),
      "Array dimensions did not match");
  copyForward(a.data, b.data, n);
}

template <class A> A copyOf(const A &a) {
  A r = allocateLike(a);
  copyForward(r.data, a.data, count(a));
  return r;
}

// ---- printing ----------------------------------------------------------------------

void printElement(const double *data, int k) { logMatrixElement("", k, 1, data[k]); }
void printElement(const int *data, int k) { logMatrixElement("", k, 1, data[k]); }
void printElement(char *const *data, int k) { logText(data[k]); }

template <class A> void print(const A &a) {
  logTextInt("Dims: ", a.ndims);
  for (int k = 0; k < a.ndims; ++k) logTextInt(" ", a.dims[k]);
  const int n = count(a);
  for (int k = 0; k < n; ++k) printElement(a.data, k);
}

} // namespace

// ---- constructors ----------------------------------------------------------------------

RealArray RealAllocDims(int ndims, ...) {
  std::va_list sizes;
  va_start(sizes, ndims);
  VaEnd end(sizes);
  return allocateVa<RealArray>(ndims, sizes);
}
IntegerArray IntegerAllocDims(int ndims, ...) {
  std::va_list sizes;
  va_start(sizes, ndims);
  VaEnd end(sizes);
  return allocateVa<IntegerArray>(ndims, sizes);
}
StringArray StringAllocDims(int ndims, ...) {
  std::va_list sizes;
  va_start(sizes, ndims);
  VaEnd end(sizes);
  return allocateVa<StringArray>(ndims, sizes);
}

RealArray RealAllocList(int ndims, const int *sizes) { return allocate<RealArray>(ndims, sizes); }
IntegerArray IntegerAllocList(int ndims, const int *sizes) {
  return allocate<IntegerArray>(ndims, sizes);
}
StringArray StringAllocList(int ndims, const int *sizes) {
  return allocate<StringArray>(ndims, sizes);
}

RealArray RealMakeHeader(int ndims, const int *sizes) {
  return header<RealArray>(ndims, sizes, Storage::Thread);
}
IntegerArray IntegerMakeHeader(int ndims, const int *sizes) {
  return header<IntegerArray>(ndims, sizes, Storage::Thread);
}
StringArray StringMakeHeader(int ndims, const int *sizes) {
  return header<StringArray>(ndims, sizes, Storage::Thread);
}

RealArray RealAllocDimsNon(int ndims, ...) {
  std::va_list sizes;
  va_start(sizes, ndims);
  VaEnd end(sizes);
  return allocateVa<RealArray>(ndims, sizes, Storage::Persistent);
}
IntegerArray IntegerAllocDimsNon(int ndims, ...) {
  std::va_list sizes;
  va_start(sizes, ndims);
  VaEnd end(sizes);
  return allocateVa<IntegerArray>(ndims, sizes, Storage::Persistent);
}
StringArray StringAllocDimsNon(int ndims, ...) {
  std::va_list sizes;
  va_start(sizes, ndims);
  VaEnd end(sizes);
  return allocateVa<StringArray>(ndims, sizes, Storage::Persistent);
}

RealArray RealAllocListNon(int ndims, const int *sizes) {
  return allocate<RealArray>(ndims, sizes, Storage::Persistent);
}
IntegerArray IntegerAllocListNon(int ndims, const int *sizes) {
  return allocate<IntegerArray>(ndims, sizes, Storage::Persistent);
}
StringArray StringAllocListNon(int ndims, const int *sizes) {
  return allocate<StringArray>(ndims, sizes, Storage::Persistent);
}

RealArray RealMakeHeaderNon(int ndims, const int *sizes) {
  return header<RealArray>(ndims, sizes, Storage::Persistent);
}
IntegerArray IntegerMakeHeaderNon(int ndims, const int *sizes) {
  return header<IntegerArray>(ndims, sizes, Storage::Persistent);
}
StringArray StringMakeHeaderNon(int ndims, const int *sizes) {
  return header<StringArray>(ndims, sizes, Storage::Persistent);
}

RealArray RealAllocMatrix(int rows, int cols) { return allocateMatrix<RealArray>(rows, cols); }
IntegerArray IntegerAllocMatrix(int rows, int cols) {
  return allocateMatrix<IntegerArray>(rows, cols);
}
StringArray StringAllocMatrix(int rows, int cols) {
  return allocateMatrix<StringArray>(rows, cols);
}

RealArray RealAllocVector(int n) { return allocateVector<RealArray>(n); }
IntegerArray IntegerAllocVector(int n) { return allocateVector<IntegerArray>(n); }
StringArray StringAllocVector(int n) { return allocateVector<StringArray>(n); }

RealArray RealAllocLike(RealArray a) { return allocateLike(a); }
IntegerArray IntegerAllocLike(IntegerArray a) { return allocateLike(a); }
StringArray StringAllocLike(StringArray a) { return allocateLike(a); }

// ---- element access ----------------------------------------------------------------------

int DimsLinearIndex(int n, const int *sizes, const int *subscripts) {
  return static_cast<int>(linearIndex(n, sizes, [&] { return *subscripts++; }));
}

double *RealElementAddress(RealArray a, ...) {
  std::va_list subscripts;
  va_start(subscripts, a);
  VaEnd end(subscripts);
  return &elementAt(a, subscripts);
}

// A one-dimensional Real array checks its subscript itself, with a condition
// text of its own.
double RealGetElement(RealArray a, ...) {
  std::va_list subscripts;
  va_start(subscripts, a);
  VaEnd end(subscripts);
  if (a.ndims == 1) {
    const int j = va_arg(subscripts, int);
    require(j >= 1 && j <= a.dims[0], "(j >= 1) && (j <= a.dims[0])", "Index out of bounds");
    return a.data[j - 1];
  }
  return elementAt(a, subscripts);
}
int IntegerGetElement(IntegerArray a, ...) {
  std::va_list subscripts;
  va_start(subscripts, a);
  VaEnd end(subscripts);
  return elementAt(a, subscripts);
}
char *StringGetElement(StringArray a, ...) {
  std::va_list subscripts;
  va_start(subscripts, a);
  VaEnd end(subscripts);
  return elementAt(a, subscripts);
}

void RealSetElement(double value, RealArray a, ...) {
  std::va_list subscripts;
  va_start(subscripts, a);
  VaEnd end(subscripts);
  elementAt(a, subscripts) = value;
}
void IntegerSetElement(int value, IntegerArray a, ...) {
  std::va_list subscripts;
  va_start(subscripts, a);
  VaEnd end(subscripts);
  elementAt(a, subscripts) = value;
}
void StringSetElement(const char *value, StringArray a, ...) {
  std::va_list subscripts;
  va_start(subscripts, a);
  VaEnd end(subscripts);
  elementAt(a, subscripts) = const_cast<char *>(value);
}

// ---- sizes -------------------------------------------------------------------------------

int DimsNrElements(int n, const int *sizes) { return countOf(n, sizes); }
int DimsNrElementsLeading(int n, const int *sizes) { return countOf(n - 1, sizes); }

int RealNrElements(RealArray a) { return count(a); }
int IntegerNrElements(IntegerArray a) { return count(a); }
int StringNrElements(StringArray a) { return count(a); }

int RealSize(RealArray a, int i) { return sizeOf(a, i); }
int IntegerSize(IntegerArray a, int i) { return sizeOf(a, i); }
int StringSize(StringArray a, int i) { return sizeOf(a, i); }

IntegerArray RealSizeVector(RealArray a) { return sizeVector(a); }
IntegerArray IntegerSizeVector(IntegerArray a) { return sizeVector(a); }
IntegerArray StringSizeVector(StringArray a) { return sizeVector(a); }

int RealMatchingSizes(RealArray a, RealArray b) { return sameShape(a, b) ? 1 : 0; }
int IntegerMatchingSizes(IntegerArray a, IntegerArray b) { return sameShape(a, b) ? 1 : 0; }
int StringMatchingSizes(StringArray a, StringArray b) { return sameShape(a, b) ? 1 : 0; }

// ---- copies and caller storage -------------------------------------------------------------

void RealAssign(RealArray a, RealArray b) { assign(a, b); }
void IntegerAssign(IntegerArray a, IntegerArray b) { assign(a, b); }
void StringAssign(StringArray a, StringArray b) { assign(a, b); }

RealArray RealCopy(RealArray a) { return copyOf(a); }
IntegerArray IntegerCopy(IntegerArray a) { return copyOf(a); }
StringArray StringCopy(StringArray a) { return copyOf(a); }

void RealCopyData(double *dest, RealArray a) { copyForward(dest, a.data, count(a)); }

RealArray RealWrapData(double *data, int ndims, ...) {
  std::va_list sizes;
  va_start(sizes, ndims);
  VaEnd end(sizes);
  RealArray a = headerVa<RealArray>(ndims, sizes, Storage::Thread);
  a.data = data;
  return a;
}
IntegerArray IntegerWrapData(int *data, int ndims, ...) {
  std::va_list sizes;
  va_start(sizes, ndims);
  VaEnd end(sizes);
  IntegerArray a = headerVa<IntegerArray>(ndims, sizes, Storage::Thread);
  a.data = data;
  return a;
}
StringArray StringWrapData(char **data, int ndims, ...) {
  std::va_list sizes;
  va_start(sizes, ndims);
  VaEnd end(sizes);
  StringArray a = headerVa<StringArray>(ndims, sizes, Storage::Thread);
  a.data = data;
  return a;
}

IntegerArray IntegerFromRealData(const double *values, int ndims, ...) {
  std::va_list sizes;
  va_start(sizes, ndims);
  VaEnd end(sizes);
  const IntegerArray a = allocateVa<IntegerArray>(ndims, sizes);
  const int n = count(a);
  for (int k = 0; k < n; ++k) a.data[k] = wholeToInt(std::trunc(values[k]));
  return a;
}

// ---- printing ------------------------------------------------------------------------------

void RealPrint(RealArray a) { print(a); }
void IntegerPrint(IntegerArray a) { print(a); }
void StringPrint(StringArray a) { print(a); }
