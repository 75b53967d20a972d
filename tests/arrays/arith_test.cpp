// Element-wise arithmetic, reductions and the conversions between Real and
// Integer arrays.
#include "tests/arrays/support.h"

#include <gmock/gmock.h>

#include <cfloat>
#include <climits>
#include <cmath>
#include <limits>

namespace {

using ::testing::ElementsAre;

const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();

// ---- element-wise --------------------------------------------------------------

TEST_F(ArraysTest, PlainFormsAllocateAResultOfTheFirstOperandsShape) {
  const RealArray a = realArray({2, 2}, {1, 2, 3, 4});
  const RealArray b = realArray({2, 2}, {0.5, -2, kInf, -0.0});
  const BufferPlace before = threadPlace();
  const RealArray sum = RealAdd(a, b);
  EXPECT_EQ(sum.dims, before.Sizebuffer);
  EXPECT_EQ(sum.data, before.Realbuffer);
  EXPECT_EQ(sizesOf(sum), (std::vector<int>{2, 2}));
  EXPECT_EQ(elementsOf(sum), (std::vector<double>{1.5, 0, kInf, 4}));
  EXPECT_EQ(elementsOf(RealSubtract(a, b)), (std::vector<double>{0.5, 4, -kInf, 4}));
  EXPECT_EQ(elementsOf(RealScale(a, -0.5)), (std::vector<double>{-0.5, -1, -1.5, -2}));
  EXPECT_EQ(bitsOf(elementsOf(RealNegate(realArray({3}, {0, -0.0, 1})))), bitsOf({-0.0, 0.0, -1}));
  const std::vector<double> negatedNaN = elementsOf(RealNegate(realArray({1}, {kNaN})));
  EXPECT_TRUE(std::isnan(negatedNaN[0]));
  EXPECT_TRUE(std::signbit(negatedNaN[0])) << "the sign bit is inverted";

  const IntegerArray i = integerArray({3}, {INT_MAX, INT_MIN, 5});
  const IntegerArray one = integerArray({3}, {1, 1, 1});
  EXPECT_THAT(elementsOf(IntegerAdd(i, one)), ElementsAre(INT_MIN, INT_MIN + 1, 6));
  EXPECT_THAT(elementsOf(IntegerSubtract(i, one)), ElementsAre(INT_MAX - 1, INT_MAX, 4));
  EXPECT_THAT(elementsOf(IntegerScale(i, 2)), ElementsAre(-2, 0, 10));
  EXPECT_THAT(elementsOf(IntegerScale(i, -1)), ElementsAre(-INT_MAX, INT_MIN, -5));
  EXPECT_THAT(elementsOf(IntegerNegate(i)), ElementsAre(-INT_MAX, INT_MIN, -5));
}

TEST_F(ArraysTest, IntoFormsWriteTheGivenResultEvenWhenItIsAnOperand) {
  const RealArray a = realArray({3}, {1, 2, 3});
  const RealArray b = realArray({3}, {10, 20, 30});
  const BufferPlace before = threadPlace();
  const RealArray r = RealAddInto(a, a, b);
  EXPECT_EQ(threadPlace(), before) << "nothing is allocated";
  EXPECT_EQ(r.data, a.data);
  EXPECT_EQ(r.dims, a.dims);
  EXPECT_EQ(elementsOf(a), (std::vector<double>{11, 22, 33}));
  RealSubtractInto(b, a, b);
  EXPECT_EQ(elementsOf(b), (std::vector<double>{1, 2, 3}));
  RealScaleInto(a, a, 2);
  EXPECT_EQ(elementsOf(a), (std::vector<double>{22, 44, 66}));
  RealNegateInto(a, a);
  EXPECT_EQ(elementsOf(a), (std::vector<double>{-22, -44, -66}));

  const IntegerArray i = integerArray({2}, {3, INT_MIN});
  IntegerAddInto(i, i, i);
  EXPECT_THAT(elementsOf(i), ElementsAre(6, 0));
  IntegerSubtractInto(i, i, integerArray({2}, {7, 1}));
  IntegerScaleInto(i, i, 3);
  IntegerNegateInto(i, i);
  EXPECT_THAT(elementsOf(i), ElementsAre(3, 3));
}

TEST_F(ArraysTest, ShapeTestsComeInOrderWithTheMessageOfEachOperation) {
  const RealArray r23 = RealAllocDims(2, 2, 3);
  const RealArray r32 = RealAllocDims(2, 3, 2);
  const RealArray r6 = RealAllocDims(1, 6);
  const IntegerArray i23 = IntegerAllocDims(2, 2, 3);
  const IntegerArray i32 = IntegerAllocDims(2, 3, 2);
  const auto text = [](const char *message, const char *condition) {
    return assertionText(message, condition);
  };
  struct Case {
    const char *name;
    std::function<void()> body;
    std::string text;
  };
  const Case cases[] = {
      {"RealAdd", [&] { RealAdd(r23, r32); },
       text("Add of arrays require arguments of matching size", "RealMatchingSizes(a,b)")},
      {"RealAddInto arguments", [&] { RealAddInto(r6, r23, r32); },
       text("Add of arrays require arguments of matching size", "RealMatchingSizes(a,b)")},
      {"RealAddInto result", [&] { RealAddInto(r32, r23, r23); },
       text("Add of arrays require result of matching size", "RealMatchingSizes(res,a)")},
      {"IntegerAdd", [&] { IntegerAdd(i23, i32); },
       text("Add of arrays require arguments of matching size", "IntegerMatchingSizes(a,b)")},
      {"IntegerAddInto result", [&] { IntegerAddInto(i32, i23, i23); },
       text("Add of arrays require result of matching size", "IntegerMatchingSizes(res,a)")},
      {"RealSubtract", [&] { RealSubtract(r23, r6); },
       text("Subtract of arrays require arguments of matching size", "RealMatchingSizes(a,b)")},
      {"IntegerSubtractInto result", [&] { IntegerSubtractInto(i32, i23, i23); },
       text("Subtract of arrays require result of matching size", "IntegerMatchingSizes(res,a)")},
      {"RealScaleInto", [&] { RealScaleInto(r32, r23, 2); },
       text("Array times scalar require result of matching size", "RealMatchingSizes(res,a)")},
      {"IntegerScaleInto", [&] { IntegerScaleInto(i32, i23, 2); },
       text("Array times scalar require result of matching size", "IntegerMatchingSizes(res,a)")},
      {"RealNegateInto", [&] { RealNegateInto(r6, r23); },
       text("Negating a matrix require result of matching size", "RealMatchingSizes(res,a)")},
      {"IntegerNegateInto", [&] { IntegerNegateInto(i32, i23); },
       text("Negating a matrix require result of matching size", "IntegerMatchingSizes(res,a)")},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(failureOf(c.body), c.text);
  }
}

TEST_F(ArraysTest, ScaleDivMultipliesByTheReciprocal) {
  const RealArray a = realArray({3}, {1, 3, 10});
  const std::vector<double> r = elementsOf(RealScaleDiv(a, 3));
  EXPECT_EQ(r, (std::vector<double>{1 * (1.0 / 3), 3 * (1.0 / 3), 10 * (1.0 / 3)}));
  EXPECT_NE(r[2], 10.0 / 3) << "a[k]*(1/t) differs from a[k]/t here in the last bit";
  EXPECT_TRUE(std::isnan(elementsOf(RealScaleDiv(a, kNaN))[0]));
  const std::string zero = assertionText("Division by zero in function RealScaleDiv", "t!=0");
  const BufferPlace before = threadPlace();
  EXPECT_EQ(failureOf([&] { RealScaleDiv(a, 0.0); }), zero);
  EXPECT_EQ(failureOf([&] { RealScaleDiv(a, -0.0); }), zero);
  EXPECT_EQ(threadPlace(), before) << "the divisor is tested before the result is taken";
}

// ---- reductions -------------------------------------------------------------------

TEST_F(ArraysTest, ReductionsOfEmptyArraysGiveTheirSeeds) {
  const RealArray r = RealAllocDims(2, 0, 3);
  EXPECT_EQ(RealSum(r), 0);
  EXPECT_FALSE(std::signbit(RealSum(r)));
  EXPECT_EQ(RealSumAbs(r), 0);
  EXPECT_EQ(RealProduct(r), 1);
  EXPECT_EQ(RealMax(r), -DBL_MAX);
  EXPECT_EQ(RealMin(r), DBL_MAX);
  const IntegerArray i = IntegerAllocDims(1, 0);
  EXPECT_EQ(IntegerSum(i), 0);
  EXPECT_EQ(IntegerSumAbs(i), 0);
  EXPECT_EQ(IntegerProduct(i), 1);
  EXPECT_EQ(IntegerMax(i), INT_MIN);
  EXPECT_EQ(IntegerMin(i), INT_MAX);
}

TEST_F(ArraysTest, RealReductionsFollowIEEEInStorageOrder) {
  struct Case {
    std::vector<double> values;
    double sum, sumAbs, product, max, min;
  };
  const Case cases[] = {
      {{1, -2, 3.5}, 2.5, 6.5, -7, 3.5, -2},
      {{kNaN, 1}, kNaN, kNaN, kNaN, 1, 1},
      {{kNaN}, kNaN, kNaN, kNaN, -DBL_MAX, DBL_MAX},
      {{-0.0}, 0.0, 0.0, -0.0, -0.0, -0.0},
      {{1e308, 1e308, -1e308}, kInf, kInf, -kInf, 1e308, -1e308},
      {{1, 0x1p100, -0x1p100}, 0, 0x1p101, -0x1p200, 0x1p100, -0x1p100},
      {{-DBL_MAX}, -DBL_MAX, DBL_MAX, -DBL_MAX, -DBL_MAX, -DBL_MAX},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.values));
    const RealArray a = realArray({static_cast<int>(c.values.size())}, c.values);
    EXPECT_EQ(bitsOf({RealSum(a), RealSumAbs(a), RealProduct(a), RealMax(a), RealMin(a)}),
              bitsOf({c.sum, c.sumAbs, c.product, c.max, c.min}));
  }
}

TEST_F(ArraysTest, IntegerReductionsWrap) {
  struct Case {
    std::vector<int> values;
    int sum, sumAbs, product, max, min;
  };
  const Case cases[] = {
      {{2147483647, 1}, INT_MIN, INT_MIN, INT_MAX, INT_MAX, 1},
      {{INT_MIN}, INT_MIN, INT_MIN, INT_MIN, INT_MIN, INT_MIN},
      {{-3, 4, 0}, 1, 7, 0, 4, -3},
      {{65536, 65536}, 131072, 131072, 0, 65536, 65536},
      {{INT_MIN, -1}, INT_MAX, INT_MIN + 1, INT_MIN, -1, INT_MIN},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.values));
    const IntegerArray a = integerArray({static_cast<int>(c.values.size())}, c.values);
    EXPECT_EQ(IntegerSum(a), c.sum);
    EXPECT_EQ(IntegerSumAbs(a), c.sumAbs);
    EXPECT_EQ(IntegerProduct(a), c.product);
    EXPECT_EQ(IntegerMax(a), c.max);
    EXPECT_EQ(IntegerMin(a), c.min);
  }
}

TEST_F(ArraysTest, DiffIsRelativeToTheFirstArgumentAndComparesOnlyCounts) {
  EXPECT_EQ(RealDiff(realArray({2}, {1, -1}), realArray({2}, {0, 0})), 1);
  EXPECT_EQ(RealDiff(realArray({1}, {0}), realArray({1}, {2})), 2);
  EXPECT_EQ(RealDiff(realArray({2, 3}, {1, 2, 3, 4, 5, 6}), realArray({6}, {1, 2, 3, 4, 5, 6})), 0);
  EXPECT_TRUE(std::isnan(RealDiff(realArray({2}, {kNaN, 1}), realArray({2}, {0, 0}))));
  EXPECT_EQ(RealDiff(RealAllocDims(1, 0), RealAllocDims(2, 0, 4)), 0);
  EXPECT_EQ(failureOf([] { RealDiff(RealAllocDims(1, 3), RealAllocDims(1, 2)); }),
            assertionText("Diff", "max_elem==RealNrElements(b)"));
}

// ---- conversions ------------------------------------------------------------------

TEST_F(ArraysTest, ConversionsShareTheSizeVectorAndTakeNewElements) {
  const IntegerArray i = integerArray({2, 2}, {INT_MIN, -1, 0, INT_MAX});
  const BufferPlace before = threadPlace();
  const RealArray r = RealFromInteger(i);
  EXPECT_EQ(r.dims, i.dims);
  EXPECT_EQ(r.ndims, 2);
  EXPECT_EQ(r.data, before.Realbuffer);
  EXPECT_EQ(elementsOf(r), (std::vector<double>{-2147483648.0, -1, 0, 2147483647.0}));

  const RealArray values = realArray({10}, {-0.5, 2.5, -0.0, 2147483647.9, -2147483648.0,
                                            -2147483648.5, 2147483648.0, kNaN, kInf, -kInf});
  const IntegerArray floored = RealToInteger(values);
  EXPECT_EQ(floored.dims, values.dims);
  EXPECT_THAT(elementsOf(floored),
              ElementsAre(-1, 2, 0, INT_MAX, INT_MIN, INT_MIN, INT_MIN, INT_MIN, INT_MIN, INT_MIN));
  const IntegerArray scalar = RealToInteger(RealPromoteScalar(3.99, 0));
  EXPECT_EQ(scalar.ndims, 0);
  EXPECT_THAT(elementsOf(scalar), ElementsAre(3));
}

} // namespace
