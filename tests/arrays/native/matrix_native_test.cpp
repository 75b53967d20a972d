// Real products of the library built with -march=native against plain loops
// compiled here: bit for bit, on shapes that exercise the vector loops, their
// tails and the empty cases, with values whose rounding depends on the order
// of the operations, and with special values (where only the sign and payload
// of a NaN, which IEEE arithmetic leaves open, may differ).
#include "tests/arrays/matrix_reference.h"
#include "tests/arrays/support.h"

#include <limits>

namespace {

using NativeTest = ArraysTest;

TEST_F(NativeTest, RealProductsEqualPlainLoopsBitForBit) {
  expectRealProductsEqualPlainLoops(2024);
}

TEST_F(NativeTest, RealProductsWithSpecialValuesEqualPlainLoops) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  const double values[] = {-0.0, 0.0, inf, -inf, nan, 1e308, -1e308, 5e-324, 1.0, -1.0};
  const int n = 10;
  RealArray a = RealAllocMatrix(n, n);
  RealArray b = RealAllocMatrix(n, n);
  for (int i = 0; i < n * n; ++i) {
    a.data[i] = values[i % n];
    b.data[i] = values[(i * 7 + 3) % n];
  }
  EXPECT_EQ(productBits(elementsOf(RealMatMul(a, b))), productBits(plainMatMul(a, b)));
  EXPECT_EQ(productBits(elementsOf(RealPower(a, 2))), productBits(plainMatMul(a, a)));
  const RealArray x = RealSubscript(a, SubscriptScalar, 3, SubscriptEnd);
  EXPECT_EQ(productBits(elementsOf(RealMatVec(b, x))), productBits(plainMatVec(b, x)));
  EXPECT_EQ(productBits(elementsOf(RealVecMat(x, b))), productBits(plainVecMat(x, b)));
}

TEST_F(NativeTest, PowerIsTheProductsByRepeatedSquaring) {
  Random random(5);
  const RealArray a = random.matrix(9, 9);
  const RealArray a2 = realArray({9, 9}, plainMatMul(a, a));
  const RealArray a4 = realArray({9, 9}, plainMatMul(a2, a2));
  EXPECT_EQ(bitsOf(elementsOf(RealPower(a, 5))), bitsOf(plainMatMul(a4, a)));
}

} // namespace
