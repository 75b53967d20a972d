// The library built with -march=native (FMA and wide vectors where the machine
// has them): its results must not depend on the instruction set.  Real
// reductions and element-wise operations are compared bit for bit with plain
// loops compiled here (with the project's flags: no contraction, no
// fast-math), over lengths that leave vector tails and values whose sums
// depend on their order.
#include "tests/arrays/support.h"

#include <climits>
#include <cmath>
#include <limits>
#include <random>

namespace {

using NativeTest = ArraysTest;

const int kLengths[] = {1, 3, 7, 8, 9, 31, 1000, 1001};

// Values of both signs over many orders of magnitude.
std::vector<double> spread(int n, unsigned seed) {
  std::mt19937_64 random(seed);
  std::uniform_real_distribution<double> mantissa(-1, 1);
  std::uniform_int_distribution<int> exponent(-30, 30);
  std::vector<double> v(n);
  for (double &x : v) x = std::ldexp(mantissa(random), exponent(random));
  return v;
}

// Values near 1, so that long products stay finite.
std::vector<double> nearOne(int n, unsigned seed) {
  std::mt19937_64 random(seed);
  std::uniform_real_distribution<double> delta(-0.01, 0.01);
  std::vector<double> v(n);
  for (double &x : v) x = 1 + delta(random);
  return v;
}

RealArray vectorOf(const std::vector<double> &v) {
  return realArray({static_cast<int>(v.size())}, v);
}

TEST_F(NativeTest, RealReductionsEqualPlainLoopsBitForBit) {
  for (const int n : kLengths) {
    SCOPED_TRACE(n);
    const std::vector<double> x = spread(n, 1 + n), y = spread(n, 2 + n), p = nearOne(n, 3 + n);
    double sum = 0, sumAbs = 0, product = 1, diff = 0;
    double max = -std::numeric_limits<double>::max(), min = std::numeric_limits<double>::max();
    for (int k = 0; k < n; ++k) {
      sum = sum + x[k];
      sumAbs = x[k] > 0 ? sumAbs + x[k] : sumAbs - x[k];
      product = product * p[k];
      if (x[k] > max) max = x[k];
      if (x[k] < min) min = x[k];
      const double c = (x[k] - y[k]) / (std::fabs(x[k]) + 1);
      diff = c > 0 ? diff + c : diff - c;
    }
    const RealArray a = vectorOf(x);
    EXPECT_EQ(bitsOf({RealSum(a), RealSumAbs(a), RealProduct(vectorOf(p)), RealMax(a), RealMin(a),
                      RealDiff(a, vectorOf(y))}),
              bitsOf({sum, sumAbs, product, max, min, diff}));
  }
}

TEST_F(NativeTest, RealElementWiseOperationsEqualPlainLoopsBitForBit) {
  for (const int n : kLengths) {
    SCOPED_TRACE(n);
    const std::vector<double> x = spread(n, 4 + n), y = spread(n, 5 + n);
    const double t = 0.7, d = 3.0;
    std::vector<double> sum(n), difference(n), scaled(n), negated(n), divided(n);
    for (int k = 0; k < n; ++k) {
      sum[k] = x[k] + y[k];
      difference[k] = x[k] - y[k];
      scaled[k] = x[k] * t;
      negated[k] = -x[k];
      divided[k] = x[k] * (1 / d);
    }
    const RealArray a = vectorOf(x), b = vectorOf(y);
    EXPECT_EQ(bitsOf(elementsOf(RealAdd(a, b))), bitsOf(sum));
    EXPECT_EQ(bitsOf(elementsOf(RealSubtract(a, b))), bitsOf(difference));
    EXPECT_EQ(bitsOf(elementsOf(RealScale(a, t))), bitsOf(scaled));
    EXPECT_EQ(bitsOf(elementsOf(RealNegate(a))), bitsOf(negated));
    EXPECT_EQ(bitsOf(elementsOf(RealScaleDiv(a, d))), bitsOf(divided));
  }
}

TEST_F(NativeTest, IntegerReductionsWrapWhateverTheVectorWidth) {
  for (const int n : kLengths) {
    SCOPED_TRACE(n);
    std::vector<int> v(n);
    unsigned sum = 0, sumAbs = 0, product = 1;
    int max = INT_MIN, min = INT_MAX;
    for (int k = 0; k < n; ++k) {
      v[k] = k % 2 == 0 ? INT_MAX - k : INT_MIN + 3 * k;
      sum += static_cast<unsigned>(v[k]);
      sumAbs =
          v[k] > 0 ? sumAbs + static_cast<unsigned>(v[k]) : sumAbs - static_cast<unsigned>(v[k]);
      product *= static_cast<unsigned>(v[k]) | 1u;
      if (v[k] > max) max = v[k];
      if (v[k] < min) min = v[k];
    }
    const IntegerArray a = integerArray({n}, v);
    EXPECT_EQ(IntegerSum(a), static_cast<int>(sum));
    EXPECT_EQ(IntegerSumAbs(a), static_cast<int>(sumAbs));
    EXPECT_EQ(IntegerMax(a), max);
    EXPECT_EQ(IntegerMin(a), min);
    for (int &x : v) x |= 1;
    EXPECT_EQ(IntegerProduct(integerArray({n}, v)), static_cast<int>(product));
  }
}

TEST_F(NativeTest, RealToIntegerConversionsKeepTheirRuleForNaNAndOutOfRange) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double values[] = {2.7, -2.7, nan, 3e9, -3e9, 2147483647.5, -2147483648.5, -0.0};
  EXPECT_EQ(elementsOf(IntegerFromRealData(values, 1, 8)),
            (std::vector<int>{2, -2, INT_MIN, INT_MIN, INT_MIN, INT_MAX, INT_MIN, 0}));
  EXPECT_EQ(elementsOf(RealToInteger(realArray({8}, std::vector<double>(values, values + 8)))),
            (std::vector<int>{2, -3, INT_MIN, INT_MIN, INT_MIN, INT_MAX, INT_MIN, 0}));
}

} // namespace
