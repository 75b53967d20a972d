// Matrix operations, ranges and Boolean operations.  The Real and Integer
// members of one operation are one template over the record; the element
// arithmetic (numeric::add, mul, ...) is IEEE for doubles and wrapping 32-bit
// two's complement for ints.
//
// The products run the loops in the order i, k, j over row-major storage: the
// innermost loop walks a row of b and a row of the result, so it is
// contiguous and vectorises, and still every result element receives its
// terms one by one in increasing k, starting from 0 - the same operations in
// the same order as the plain triple loop, hence the same bits.  This file is
// compiled without floating-point contraction (no fused multiply-adds).
#include "source/arrays/array_matrix.h"

#include "source/arrays/array_private.h"

#include <cmath>
#include <cstdint>

using namespace arrays;
using std::int64_t;

namespace {

// ---- special matrices ----------------------------------------------------------

template <class A> A diagonal(const A &v) {
  require(v.ndims == 1, "a.ndims==1", "diagonal requires vector input");
  const int64_t n = v.dims[0];
  const A r = allocateMatrix<A>(v.dims[0], v.dims[0]);
  for (int64_t i = 0; i < n; ++i)
    for (int64_t j = 0; j < n; ++j) r.data[i * n + j] = i == j ? v.data[i] : Element<A>(0);
  return r;
}

template <class A> A identity(int n) {
  const A r = allocateMatrix<A>(n, n);
  for (int64_t i = 0; i < n; ++i)
    for (int64_t j = 0; j < n; ++j) r.data[i * n + j] = Element<A>(i == j ? 1 : 0);
  return r;
}

template <class A> A cross(const A &x, const A &y) {
  using namespace numeric;
  const A r = allocateVector<A>(3);
  require(x.ndims == 1 && y.ndims == 1, "(x.ndims==1)&&(y.ndims==1)",
          "cross requires vector input");
  require(x.dims[0] == 3, "x.dims[0]==3", "cross requires 3-vector input for first argument");
  require(y.dims[0] == 3, "y.dims[0]==3", "cross requires 3-vector input for second argument");
  const auto *a = x.data;
  const auto *b = y.data;
  r.data[0] = sub(mul(a[1], b[2]), mul(a[2], b[1]));
  r.data[1] = sub(mul(a[2], b[0]), mul(a[0], b[2]));
  r.data[2] = sub(mul(a[0], b[1]), mul(a[1], b[0]));
  return r;
}

template <class A> A skew(const A &x) {
  using numeric::neg;
  const A r = allocateMatrix<A>(3, 3);
  require(x.ndims == 1, "x.ndims==1", "skew requires vector input");
  require(x.dims[0] == 3, "x.dims[0]==3", "skew requires 3-vector input");
  const auto *v = x.data;
  const Element<A> zero(0);
  const Element<A> rows[9] = {zero, neg(v[2]), v[1], v[2], zero, neg(v[0]), neg(v[1]), v[0], zero};
  copyForward(r.data, rows, 9);
  return r;
}

// ---- product kernels -----------------------------------------------------------
// The result never overlaps an operand here (see into()).

template <class T>
void matMul(T *__restrict r, const T *__restrict a, const T *__restrict b, int64_t rows,
            int64_t inner, int64_t cols) {
  using namespace numeric;
  for (int64_t i = 0; i < rows; ++i) {
    T *__restrict ri = r + i * cols;
    const T *ai = a + i * inner;
    for (int64_t j = 0; j < cols; ++j) ri[j] = T(0);
    for (int64_t k = 0; k < inner; ++k) {
      const T aik = ai[k];
      const T *bk = b + k * cols;
      for (int64_t j = 0; j < cols; ++j) ri[j] = add(ri[j], mul(aik, bk[j]));
    }
  }
}

template <class T> T dot(const T *a, const T *b, int64_t n) {
  using namespace numeric;
  T s(0);
  for (int64_t i = 0; i < n; ++i) s = add(s, mul(a[i], b[i]));
  return s;
}

template <class T>
void matVec(T *__restrict r, const T *__restrict a, const T *__restrict b, int64_t rows,
            int64_t cols) {
  for (int64_t i = 0; i < rows; ++i) r[i] = dot(a + i * cols, b, cols);
}

template <class T>
void vecMat(T *__restrict r, const T *__restrict a, const T *__restrict b, int64_t rows,
            int64_t cols) {
  using namespace numeric;
  for (int64_t j = 0; j < cols; ++j) r[j] = T(0);
  for (int64_t i = 0; i < rows; ++i) {
    const T ai = a[i];
    const T *bi = b + i * cols;
    for (int64_t j = 0; j < cols; ++j) r[j] = add(r[j], mul(ai, bi[j]));
  }
}

// Runs kernel(destination) for the result res of operands a and b: straight
// into res, or, when res shares storage with an operand, into a temporary of
// the thread's buffers that is then copied to res and released.
template <class A, class Kernel> A into(const A &res, const A &a, const A &b, Kernel kernel) {
  const int n = count(res);
  if (!overlapping(res.data, n, a.data, count(a)) && !overlapping(res.data, n, b.data, count(b))) {
    kernel(res.data);
    return res;
  }
  MarkGuard temporary;
  Element<A> *t = elements<A>(n);
  kernel(t);
  copyForward(res.data, t, n);
  return res;
}

// ---- products: checks ------------------------------------------------------------

template <class A> void checkMatMul(const A &res, const A &a, const A &b) {
  require(res.ndims == 2, "res.ndims==2", "Matrix multiply gives a matrix as result");
  require(a.ndims == 2, "a.ndims==2", "Matrix multiply requires that first operand is a matrix");
  require(b.ndims == 2, "b.ndims==2", "Matrix multiply requires that second operand is a matrix");
  require(res.dims[0] == a.dims[0], "res.dims[0]==a.dims[0]",
          "Matrix multiply requires that first dimension of result and first argument match");
  require(res.dims[1] == b.dims[1], "res.dims[1]==b.dims[1]",
          "Matrix multiply requires that second dimension of result and second argument match");
  require(a.dims[1] == b.dims[0], "a.dims[1]==b.dims[0]",
          "Matrix multiply requires that inner dimensions of operands match");
}

template <class A> void checkMatVec(const A &res, const A &a, const A &b) {
  require(a.ndims == 2, "a.ndims==2", "Matrix times vector requires a matrix as first operand");
  require(b.ndims == 1, "b.ndims==1", "Matrix times vector requires a vector as second operand");
  require(res.ndims == 1, "res.ndims==1", "Matrix times vector gives a vector result");
  require(res.dims[0] == a.dims[0], "res.dims[0]==a.dims[0]",
          "Matrix times vector: requires size(M*v,1)=size(M,1)");
  require(a.dims[1] == b.dims[0], "a.dims[1]==b.dims[0]",
          "Matrix times vector: requires size(M,2)==size(v,1)");
}

template <class A> void checkVecMat(const A &res, const A &a, const A &b) {
  require(a.ndims == 1, "a.ndims==1", "Vector times matrix requires a vector as first operand");
  require(b.ndims == 2, "b.ndims==2", "Vector times matrix requires a matrix as second operand");
  require(res.ndims == 1, "res.ndims==1", "Vector times matrix gives a vector result");
  require(res.dims[0] == b.dims[1], "res.dims[0]==b.dims[1]",
          "Vector times matrix: requires size(v*M,1)=size(M,2)");
  require(a.dims[0] == b.dims[0], "a.dims[0]==b.dims[0]",
          "Vector times matrix: requires size(v,1)=size(M,1)");
}

// ---- products ----------------------------------------------------------------------

template <class A> A matMulInto(const A &res, const A &a, const A &b) {
  checkMatMul(res, a, b);
  return into(res, a, b,
              [&](Element<A> *r) { matMul(r, a.data, b.data, a.dims[0], a.dims[1], b.dims[1]); });
}

template <class A> A matVecInto(const A &res, const A &a, const A &b) {
  checkMatVec(res, a, b);
  return into(res, a, b, [&](Element<A> *r) { matVec(r, a.data, b.data, a.dims[0], a.dims[1]); });
}

template <class A> A vecMatInto(const A &res, const A &a, const A &b) {
  checkVecMat(res, a, b);
  return into(res, a, b, [&](Element<A> *r) { vecMat(r, a.data, b.data, b.dims[0], b.dims[1]); });
}

// The plain forms check with the shape of the result they will allocate (the
// operands' ranks first, so that only sizes the operands have are read), then
// allocate it.

template <class A> A matMul(const A &a, const A &b) {
  require(a.ndims == 2, "a.ndims==2", "Matrix multiply requires that first operand is a matrix");
  require(b.ndims == 2, "b.ndims==2", "Matrix multiply requires that second operand is a matrix");
  int sizes[2] = {a.dims[0], b.dims[1]};
  checkMatMul(A{2, sizes, nullptr}, a, b);
  const A res = allocateMatrix<A>(sizes[0], sizes[1]);
  matMul(res.data, a.data, b.data, a.dims[0], a.dims[1], b.dims[1]);
  return res;
}

template <class A> A matVec(const A &a, const A &b) {
  require(a.ndims == 2, "a.ndims==2", "Matrix times vector requires a matrix as first operand");
  int size = a.dims[0];
  checkMatVec(A{1, &size, nullptr}, a, b);
  const A res = allocateVector<A>(size);
  matVec(res.data, a.data, b.data, a.dims[0], a.dims[1]);
  return res;
}

template <class A> A vecMat(const A &a, const A &b) {
  require(a.ndims == 1, "a.ndims==1", "Vector times matrix requires a vector as first operand");
  require(b.ndims == 2, "b.ndims==2", "Vector times matrix requires a matrix as second operand");
  int size = b.dims[1];
  checkVecMat(A{1, &size, nullptr}, a, b);
  const A res = allocateVector<A>(size);
  vecMat(res.data, a.data, b.data, b.dims[0], b.dims[1]);
  return res;
}

template <class A> Element<A> scalarProduct(const A &a, const A &b) {
  require(a.ndims == 1, "a.ndims==1", "Scalar product requires vector as first operand");
  require(b.ndims == 1, "b.ndims==1", "Scalar product requires vector as second operand");
  require(a.dims[0] == b.dims[0], "a.dims[0]==b.dims[0]",
          "Scalar product requires vectors of matching size");
  return dot(a.data, b.data, a.dims[0]);
}

// a^n of a checked square matrix: a itself for 1, the identity for 0, else
// (a^(n-1))*a for odd n and (a^(n/2))^2 for even n, every product a new
// matrix.
template <class A> A powerOf(const A &a, int n) {
  if (n == 1) return a;
  if (n == 0) return identity<A>(a.dims[0]);
  if (n % 2 != 0) return matMul(powerOf(a, n - 1), a);
  const A t = powerOf(a, n / 2);
  return matMul(t, t);
}

template <class A> A power(const A &a, int n) {
  require(n >= 0, "n>=0", "Matrices can only be raised to positive integer");
  require(a.ndims == 2, "a.ndims==2",
          "Matrix raised to a positive integer requires a matrix as first operand");
  require(a.dims[0] == a.dims[1], "a.dims[0]==a.dims[1]",
          "Matrix raised to a positive integer requires a square matrix as first operand");
  return powerOf(a, n);
}

// ---- ranges ------------------------------------------------------------------------

// Tolerance of a Real range's last point: the double nearest to
// 1.11022302462516e-16 (bits 0x3CA000000000000E), a little above 2^-53.
constexpr double kRangeTolerance = 1.11022302462516e-16;

// floor(x) + 1 elements for a floor f, 0 when that is not positive or f is
// NaN; more than 2147483647 fail with "Too many array elements".
int rangeLength(double f) {
  if (!(f >= 0)) return 0;
  return requireCount(f >= static_cast<double>(kMaxElements) ? kMaxElements + 1
                                                             : static_cast<int64_t>(f) + 1);
}

void requireStride(bool nonZero) {
  require(nonZero, "stride!=0", "range requires non-zero stride");
}

// ---- Boolean operations -----------------------------------------------------------

template <class Op>
IntegerArray booleanOf(const IntegerArray &a, const IntegerArray &b, const char *message, Op op) {
  const IntegerArray r = allocateLike(a);
  require(sameShape(a, b), "IntegerMatchingSizes(a,b)", message);
  const int n = count(a);
  for (int k = 0; k < n; ++k) r.data[k] = op(a.data[k] != 0, b.data[k] != 0) ? 1 : 0;
  return r;
}

} // namespace

// ---- exported names ------------------------------------------------------------------

RealArray RealDiagonal(RealArray v) { return diagonal(v); }
IntegerArray IntegerDiagonal(IntegerArray v) { return diagonal(v); }

RealArray RealIdentity(int n) { return identity<RealArray>(n); }
IntegerArray IntegerIdentity(int n) { return identity<IntegerArray>(n); }

RealArray RealCross(RealArray x, RealArray y) { return cross(x, y); }
IntegerArray IntegerCross(IntegerArray x, IntegerArray y) { return cross(x, y); }

RealArray RealSkew(RealArray x) { return skew(x); }
IntegerArray IntegerSkew(IntegerArray x) { return skew(x); }

RealArray RealMatMulInto(RealArray res, RealArray a, RealArray b) { return matMulInto(res, a, b); }
RealArray RealMatVecInto(RealArray res, RealArray a, RealArray b) { return matVecInto(res, a, b); }
RealArray RealVecMatInto(RealArray res, RealArray a, RealArray b) { return vecMatInto(res, a, b); }
IntegerArray IntegerMatMulInto(IntegerArray res, IntegerArray a, IntegerArray b) {
  return matMulInto(res, a, b);
}
IntegerArray IntegerMatVecInto(IntegerArray res, IntegerArray a, IntegerArray b) {
  return matVecInto(res, a, b);
}
IntegerArray IntegerVecMatInto(IntegerArray res, IntegerArray a, IntegerArray b) {
  return vecMatInto(res, a, b);
}

RealArray RealMatMul(RealArray a, RealArray b) { return matMul(a, b); }
RealArray RealMatVec(RealArray a, RealArray b) { return matVec(a, b); }
RealArray RealVecMat(RealArray a, RealArray b) { return vecMat(a, b); }
IntegerArray IntegerMatMul(IntegerArray a, IntegerArray b) { return matMul(a, b); }
IntegerArray IntegerMatVec(IntegerArray a, IntegerArray b) { return matVec(a, b); }
IntegerArray IntegerVecMat(IntegerArray a, IntegerArray b) { return vecMat(a, b); }

double RealScalarProduct(RealArray a, RealArray b) { return scalarProduct(a, b); }
int IntegerScalarProduct(IntegerArray a, IntegerArray b) { return scalarProduct(a, b); }

RealArray RealPower(RealArray a, int n) { return power(a, n); }
IntegerArray IntegerPower(IntegerArray a, int n) { return power(a, n); }

// The count x is the distance over the step plus a tolerance that admits a
// last point reached only within rounding: none when both the distance and
// the step are whole, the distance itself when the step is fractional, the
// magnitudes of the bounds when the distance is fractional.
RealArray RealRange(double first, double last, double step) {
  requireStride(step != 0);
  double d = last - first;
  double s = step;
  if (step < 0) {
    d = -d;
    s = -step;
  }
  const double m = s != std::floor(s) ? std::fabs(d) : 0.0;
  const double M = d == std::floor(d) ? m : std::fabs(first) + std::fabs(last) + m;
  const double x = (d + M * kRangeTolerance) / s;
  const RealArray r = allocateVector<RealArray>(rangeLength(std::floor(x)));
  const int n = r.dims[0];
  for (int i = 0; i < n; ++i) r.data[i] = static_cast<double>(i) * step + first;
  return r;
}

// The count is floor((last - first) / step) + 1 in 64-bit integers, where
// the distance of any two 32-bit bounds is exact (-2e9:1e9:2e9 has 5
// elements) and no division can trap.
IntegerArray IntegerRange(int first, int last, int step) {
  requireStride(step != 0);
  const int64_t d = static_cast<int64_t>(last) - first;
  int64_t q = d / step;
  if (d % step != 0 && (d < 0) != (step < 0)) --q;
  const IntegerArray r = allocateVector<IntegerArray>(requireCount(q + 1 > 0 ? q + 1 : 0));
  const int n = r.dims[0];
  int value = first;
  for (int i = 0; i < n; ++i) {
    r.data[i] = value;
    value = numeric::add(value, step);
  }
  return r;
}

RealArray RealLinspace(double x1, double x2, int n) {
  require(n >= 2, "n>=2", "Linspace number of point>=2");
  const RealArray r = allocateVector<RealArray>(n);
  const double h = (x2 - x1) / (n - 1);
  for (int i = 0; i < n - 1; ++i) r.data[i] = static_cast<double>(i) * h + x1;
  r.data[n - 1] = x2;
  return r;
}

// Row i of the inverse solves A^T x = e_i: the solver reads the row-major
// block of A as a column-major matrix, that is A^T, and x is then row i of
// A^-1.  The first solve factorises, the others reuse the factors through the
// state word.  The result is taken before the mark, the work arrays after it;
// the mark is restored when every row is solved and kept (with the work
// arrays) when the inverse fails.
RealArray RealInverse(RealArray A) {
  require(A.ndims == 2, "A.ndims==2", "Can only invert matrices");
  require(A.dims[0] == A.dims[1], "A.dims[0]==A.dims[1]", "Can only invert square matrices");
  const int n = A.dims[0];
  const int64_t wide = n;
  const int workCount = requireCount(wide * (wide + 6) + 4);
  const int iworkCount = requireCount(2 * wide + 1);
  const RealArray result = allocateLike(A);
  MarkGuard workArrays;
  double *work = allocRealbuffer(workCount);
  int *iwork = allocIntegerbuffer(iworkCount);
  int solverState = 0;
  int systemNumber = 0;
  const int options = 3; // QR at once, equilibrated
  const double time = 0;
  const int printLevel = 0;
  const int printFlags = 0;
  for (int64_t i = 0; i < n; ++i) {
    double *row = result.data + i * n;
    for (int64_t j = 0; j < n; ++j) row[j] = j == i ? 1.0 : 0.0;
    int failed = 0;
    solveLinearSystem(&systemNumber, &options, A.data, &n, &n, row, &time, &printLevel, &printFlags,
                      work, iwork, &solverState, &failed);
    if (failed != 0 && n == 1) {
      row[0] = 0;
      failed = 0;
    }
    require(failed == 0, "IError==0", "Inverse failed");
  }
  return result;
}

IntegerArray IntegerNot(IntegerArray a) {
  const IntegerArray r = allocateLike(a);
  const int n = count(a);
  for (int k = 0; k < n; ++k) r.data[k] = a.data[k] == 0 ? 1 : 0;
  return r;
}

IntegerArray IntegerAnd(IntegerArray a, IntegerArray b) {
  return booleanOf(a, b, "and of arrays require arguments of matching size",
                   [](bool x, bool y) { return x && y; });
}

IntegerArray IntegerOr(IntegerArray a, IntegerArray b) {
  return booleanOf(a, b, "or of arrays require arguments of matching size",
                   [](bool x, bool y) { return x || y; });
}
