#pragma once
// Reference results for the matrix tests: plain loops over row-major storage
// (Real: one sum per element from 0 in increasing order; this file's users are
// compiled without floating-point contraction), Integer products reduced
// modulo 2^32 only at the end, and deterministic random operands.
#include "source/arrays/arrays.h"
#include "tests/arrays/support.h"

#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

inline std::vector<double> plainMatMul(const RealArray &a, const RealArray &b) {
  const int rows = a.dims[0], inner = a.dims[1], cols = b.dims[1];
  std::vector<double> r(static_cast<size_t>(rows) * cols);
  for (int i = 0; i < rows; ++i)
    for (int j = 0; j < cols; ++j) {
      double s = 0;
      for (int k = 0; k < inner; ++k) s += a.data[i * inner + k] * b.data[k * cols + j];
      r[i * cols + j] = s;
    }
  return r;
}

inline std::vector<double> plainMatVec(const RealArray &a, const RealArray &x) {
  const int rows = a.dims[0], cols = a.dims[1];
  std::vector<double> r(rows);
  for (int i = 0; i < rows; ++i) {
    double s = 0;
    for (int j = 0; j < cols; ++j) s += a.data[i * cols + j] * x.data[j];
    r[i] = s;
  }
  return r;
}

inline std::vector<double> plainVecMat(const RealArray &y, const RealArray &a) {
  const int rows = a.dims[0], cols = a.dims[1];
  std::vector<double> r(cols);
  for (int j = 0; j < cols; ++j) {
    double s = 0;
    for (int i = 0; i < rows; ++i) s += y.data[i] * a.data[i * cols + j];
    r[j] = s;
  }
  return r;
}

inline double plainDot(const RealArray &x, const RealArray &y) {
  double s = 0;
  for (int i = 0; i < x.dims[0]; ++i) s += x.data[i] * y.data[i];
  return s;
}

// Bit patterns with every NaN as the one default NaN: IEEE arithmetic leaves
// the sign and payload of a NaN result open (x86 returns the first operand's
// NaN, and a compiler may swap the operands of an addition), so products are
// compared bit for bit except for which NaN they hold.
inline std::vector<unsigned long long> productBits(std::vector<double> values) {
  for (double &v : values)
    if (std::isnan(v)) v = std::numeric_limits<double>::quiet_NaN();
  return bitsOf(values);
}

// 32-bit two's complement results of exact integer arithmetic.
inline int low32(std::uint64_t v) { return static_cast<int>(static_cast<std::uint32_t>(v)); }
inline std::uint64_t wide(int v) {
  return static_cast<std::uint64_t>(static_cast<std::int64_t>(v));
}
inline int wrapAdd(int a, int b) { return low32(wide(a) + wide(b)); }
inline int wrapSub(int a, int b) { return low32(wide(a) - wide(b)); }
inline int wrapMul(int a, int b) { return low32(wide(a) * wide(b)); }
inline int wrapPow(int a, int n) {
  std::uint64_t r = 1;
  for (int k = 0; k < n; ++k) r *= wide(a);
  return low32(r);
}

inline std::vector<int> wrappedMatMul(const IntegerArray &a, const IntegerArray &b) {
  const int rows = a.dims[0], inner = a.dims[1], cols = b.dims[1];
  std::vector<int> r(static_cast<size_t>(rows) * cols);
  for (int i = 0; i < rows; ++i)
    for (int j = 0; j < cols; ++j) {
      std::uint64_t s = 0;
      for (int k = 0; k < inner; ++k) s += wide(a.data[i * inner + k]) * wide(b.data[k * cols + j]);
      r[i * cols + j] = low32(s);
    }
  return r;
}

// The shapes (rows, inner, cols) that the products are compared on: empty,
// thin, odd and a few larger ones.
struct Dims {
  int rows, inner, cols;
};
inline std::vector<Dims> productShapes() {
  return {{1, 1, 1}, {0, 3, 2}, {3, 0, 2},    {2, 3, 0},    {1, 7, 1},   {7, 1, 7},
          {3, 5, 4}, {5, 3, 9}, {16, 16, 16}, {17, 31, 13}, {33, 9, 65}, {100, 100, 100}};
}

// Operands in the calling thread's buffers, from a fixed seed: values of
// mixed sign and magnitude, so that rounding differs with the order of
// operations.
class Random {
public:
  explicit Random(unsigned seed) : engine_(seed) {}
  double real() {
    std::uniform_real_distribution<double> mantissa(-1.0, 1.0);
    std::uniform_int_distribution<int> exponent(-20, 20);
    return std::ldexp(mantissa(engine_), exponent(engine_));
  }
  int integer() { return static_cast<int>(engine_()); }
  // A matrix of values in [-1, 1].
  RealArray uniformMatrix(int rows, int cols) {
    std::uniform_real_distribution<double> value(-1.0, 1.0);
    RealArray a = RealAllocMatrix(rows, cols);
    for (int k = 0; k < rows * cols; ++k) a.data[k] = value(engine_);
    return a;
  }
  RealArray matrix(int rows, int cols) {
    RealArray a = RealAllocMatrix(rows, cols);
    for (int k = 0; k < rows * cols; ++k) a.data[k] = real();
    return a;
  }
  RealArray vector(int n) {
    RealArray a = RealAllocVector(n);
    for (int k = 0; k < n; ++k) a.data[k] = real();
    return a;
  }
  IntegerArray integers(int rows, int cols) {
    IntegerArray a = IntegerAllocMatrix(rows, cols);
    for (int k = 0; k < rows * cols; ++k) a.data[k] = integer();
    return a;
  }

private:
  std::mt19937 engine_;
};

// The Real products of random operands (from seed) on every product shape,
// bit for bit against the plain loops; the Into form returns the result it
// was given.
inline void expectRealProductsEqualPlainLoops(unsigned seed) {
  Random random(seed);
  for (const Dims &d : productShapes()) {
    SCOPED_TRACE(::testing::PrintToString(std::vector<int>{d.rows, d.inner, d.cols}));
    const RealArray a = random.matrix(d.rows, d.inner);
    const RealArray b = random.matrix(d.inner, d.cols);
    const RealArray x = random.vector(d.inner);
    const RealArray y = random.vector(d.rows);
    EXPECT_EQ(bitsOf(elementsOf(RealMatMul(a, b))), bitsOf(plainMatMul(a, b)));
    EXPECT_EQ(bitsOf(elementsOf(RealMatVec(a, x))), bitsOf(plainMatVec(a, x)));
    EXPECT_EQ(bitsOf(elementsOf(RealVecMat(y, a))), bitsOf(plainVecMat(y, a)));
    EXPECT_EQ(bitsOf({RealScalarProduct(x, x)}), bitsOf({plainDot(x, x)}));
    const RealArray into = RealAllocMatrix(d.rows, d.cols);
    const RealArray r = RealMatMulInto(into, a, b);
    EXPECT_EQ(r.data, into.data);
    EXPECT_EQ(bitsOf(elementsOf(into)), bitsOf(plainMatMul(a, b)));
  }
}
