// The library built with -march=native (FMA and wide vectors where the machine
// has them): its results must not depend on the instruction set.  Real
// reductions and products are compared bit for bit with plain loops compiled
// here with contraction off.
#include "tests/arrays/support.h"

#include <climits>
#include <cmath>
#include <limits>

namespace {

using NativeTest = ArraysTest;

TEST_F(NativeTest, RealToIntegerConversionsKeepTheirRuleForNaNAndOutOfRange) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double values[] = {2.7, -2.7, nan, 3e9, -3e9, 2147483647.5, -2147483648.5, -0.0};
  const IntegerArray a = IntegerFromRealData(values, 1, 8);
  EXPECT_EQ(elementsOf(a),
            (std::vector<int>{2, -2, INT_MIN, INT_MIN, INT_MIN, INT_MAX, INT_MIN, 0}));
}

} // namespace
