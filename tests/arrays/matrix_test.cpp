// Matrix operations, ranges and Boolean operations: results (Real products
// bit for bit against plain loops, Integer results wrapping), the checks and
// their texts in their order, what is allocated before a check, and the
// counts of ranges at the ends of the 32-bit range.
#include "tests/arrays/matrix_reference.h"
#include "tests/arrays/support.h"

#include <gmock/gmock.h>

#include <climits>
#include <cmath>
#include <limits>

namespace {

using ::testing::ElementsAre;

const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();

// ---- special matrices -------------------------------------------------------------

TEST_F(ArraysTest, DiagonalAndIdentityMatrices) {
  const RealArray d = RealDiagonal(realArray({3}, {1.5, -0.0, kNaN}));
  EXPECT_EQ(sizesOf(d), (std::vector<int>{3, 3}));
  EXPECT_EQ(bitsOf(elementsOf(d)), bitsOf({1.5, 0, 0, 0, -0.0, 0, 0, 0, kNaN}));
  EXPECT_THAT(elementsOf(IntegerDiagonal(integerArray({2}, {INT_MIN, 7}))),
              ElementsAre(INT_MIN, 0, 0, 7));
  EXPECT_EQ(sizesOf(RealDiagonal(RealAllocVector(0))), (std::vector<int>{0, 0}));

  EXPECT_EQ(elementsOf(RealIdentity(2)), (std::vector<double>{1, 0, 0, 1}));
  EXPECT_THAT(elementsOf(IntegerIdentity(3)), ElementsAre(1, 0, 0, 0, 1, 0, 0, 0, 1));
  const RealArray empty = RealIdentity(0);
  EXPECT_EQ(sizesOf(empty), (std::vector<int>{0, 0}));
  EXPECT_EQ(RealNrElements(empty), 0);
}

TEST_F(ArraysTest, DiagonalAndIdentityCheckBeforeTheyAllocate) {
  const RealArray big = RealAllocVector(46341); // 46341^2 elements do not fit in an int
  const RealArray m = RealAllocDims(2, 1, 1);
  const BufferPlace before = threadPlace();
  expectFailures({
      {"Diagonal of a matrix", [&] { RealDiagonal(m); },
       assertionText("diagonal requires vector input", "a.ndims==1")},
      {"Diagonal too large", [&] { RealDiagonal(big); },
       assertionText("Too many array elements", "nelements<=2147483647")},
      {"Identity(-1)", [] { IntegerIdentity(-1); },
       assertionText("Array sizes must not be negative", "dim>=0")},
      {"Identity(INT_MAX)", [] { RealIdentity(INT_MAX); },
       assertionText("Too many array elements", "nelements<=2147483647")},
  });
  EXPECT_EQ(threadPlace().Realbuffer, before.Realbuffer);
  EXPECT_EQ(threadPlace().Integerbuffer, before.Integerbuffer);
}

TEST_F(ArraysTest, CrossAndSkewAgreeAndWrapForIntegers) {
  EXPECT_EQ(elementsOf(RealCross(realArray({3}, {1, 0, 0}), realArray({3}, {0, 1, 0}))),
            (std::vector<double>{0, 0, 1}));
  const RealArray x = realArray({3}, {0.3, -1.7, 2.9});
  const RealArray y = realArray({3}, {-4.1, 0.25, 1e-3});
  EXPECT_EQ(bitsOf(elementsOf(RealMatVec(RealSkew(x), y))), bitsOf(elementsOf(RealCross(x, y))));
  EXPECT_EQ(elementsOf(RealSkew(realArray({3}, {1, 2, 3}))),
            (std::vector<double>{0, -3, 2, 3, 0, -1, -2, 1, 0}));

  const IntegerArray ix = integerArray({3}, {INT_MIN, INT_MAX, 3});
  const IntegerArray iy = integerArray({3}, {2, -1, INT_MIN});
  const std::vector<int> wrapped = {
      wrapSub(wrapMul(INT_MAX, INT_MIN), wrapMul(3, -1)),
      wrapSub(wrapMul(3, 2), wrapMul(INT_MIN, INT_MIN)),
      wrapSub(wrapMul(INT_MIN, -1), wrapMul(INT_MAX, 2)),
  };
  EXPECT_EQ(elementsOf(IntegerCross(ix, iy)), wrapped);
  EXPECT_EQ(elementsOf(IntegerMatVec(IntegerSkew(ix), iy)), wrapped);
  EXPECT_THAT(elementsOf(IntegerSkew(ix)),
              ElementsAre(0, -3, INT_MAX, 3, 0, INT_MIN, -INT_MAX, INT_MIN, 0));
}

TEST_F(ArraysTest, CrossAndSkewAllocateTheirResultBeforeTheirChecks) {
  const RealArray v2 = realArray({2}, {1, 2});
  const RealArray v3 = realArray({3}, {1, 2, 3});
  const RealArray m = RealAllocDims(2, 3, 1);
  expectFailures({
      {"cross of a matrix", [&] { RealCross(v3, m); },
       assertionText("cross requires vector input", "(x.ndims==1)&&(y.ndims==1)")},
      {"cross, first of 2", [&] { RealCross(v2, v3); },
       assertionText("cross requires 3-vector input for first argument", "x.dims[0]==3")},
      {"cross, second of 2", [&] { IntegerCross(integerArray({3}, {}), integerArray({2}, {})); },
       assertionText("cross requires 3-vector input for second argument", "y.dims[0]==3")},
      {"skew of a matrix", [&] { RealSkew(m); },
       assertionText("skew requires vector input", "x.ndims==1")},
      {"skew of 2", [&] { IntegerSkew(integerArray({2}, {})); },
       assertionText("skew requires 3-vector input", "x.dims[0]==3")},
  });
  const BufferPlace before = threadPlace();
  failureOf([&] { RealSkew(v2); });
  EXPECT_EQ(threadPlace().Realbuffer, before.Realbuffer + 9);
}

// ---- products --------------------------------------------------------------------

TEST_F(ArraysTest, ProductsHaveTheirShapesAndValues) {
  const RealArray a = realArray({2, 3}, {1, 2, 3, 4, 5, 6});
  const RealArray b = realArray({3, 4}, {1, 0, 0, 1, 0, 1, 0, 1, 0, 0, 1, 1});
  const RealArray ab = RealMatMul(a, b);
  EXPECT_EQ(sizesOf(ab), (std::vector<int>{2, 4}));
  EXPECT_EQ(elementsOf(ab), (std::vector<double>{1, 2, 3, 6, 4, 5, 6, 15}));
  EXPECT_EQ(elementsOf(RealMatVec(a, realArray({3}, {1, 1, 1}))), (std::vector<double>{6, 15}));
  EXPECT_EQ(elementsOf(RealVecMat(realArray({2}, {1, -1}), a)), (std::vector<double>{-3, -3, -3}));
  EXPECT_EQ(RealScalarProduct(realArray({3}, {1, 2, 3}), realArray({3}, {4, 5, 6})), 32);
  EXPECT_EQ(IntegerScalarProduct(integerArray({2}, {INT_MAX, 2}), integerArray({2}, {2, 1})),
            wrapAdd(wrapMul(INT_MAX, 2), 2));

  // An inner size of 0 gives zeros (+0: every sum starts at 0).
  const RealArray zeros = RealMatMul(RealAllocDims(2, 2, 0), RealAllocDims(2, 0, 3));
  EXPECT_EQ(bitsOf(elementsOf(zeros)), bitsOf(std::vector<double>(6, 0.0)));
  EXPECT_EQ(RealScalarProduct(RealAllocVector(0), RealAllocVector(0)), 0);
  EXPECT_THAT(elementsOf(IntegerMatVec(IntegerAllocDims(2, 2, 0), IntegerAllocVector(0))),
              ElementsAre(0, 0));
}

TEST_F(ArraysTest, RealProductsEqualPlainLoopsBitForBit) { expectRealProductsEqualPlainLoops(7); }

TEST_F(ArraysTest, RealProductsKeepSpecialValuesAsPlainLoopsDo) {
  const RealArray a = realArray({2, 3}, {-0.0, kInf, 1, kNaN, -0.0, 1e308});
  const RealArray b = realArray({3, 2}, {-0.0, 0.0, 0.0, -1, 1e308, -0.0});
  EXPECT_EQ(productBits(elementsOf(RealMatMul(a, b))), productBits(plainMatMul(a, b)));
  const RealArray v = realArray({3}, {-0.0, -0.0, -0.0});
  EXPECT_EQ(bitsOf({RealScalarProduct(v, realArray({3}, {1, 1, 1}))}), bitsOf({0.0}))
      << "0 + (-0) + (-0) + (-0) is +0";
}

TEST_F(ArraysTest, IntegerProductsWrap) {
  Random random(11);
  const IntegerArray a = random.integers(4, 5);
  const IntegerArray b = random.integers(5, 3);
  const IntegerArray x = random.integers(5, 1);
  const IntegerArray y = random.integers(1, 4);
  EXPECT_EQ(elementsOf(IntegerMatMul(a, b)), wrappedMatMul(a, b));
  const IntegerArray xv{1, x.dims, x.data};
  EXPECT_EQ(elementsOf(IntegerMatVec(a, xv)), wrappedMatMul(a, x));
  const IntegerArray yv{1, y.dims + 1, y.data};
  EXPECT_EQ(elementsOf(IntegerVecMat(yv, a)), wrappedMatMul(y, a));
  int column[] = {4, 1};
  EXPECT_EQ(IntegerScalarProduct(yv, yv), wrappedMatMul(y, IntegerArray{2, column, y.data})[0]);
}

TEST_F(ArraysTest, IntoFormsMayShareStorageWithAnOperand) {
  const RealArray a = realArray({2, 2}, {1, 2, 3, 4});
  const RealArray b = realArray({2, 2}, {0.5, -1, 2, 0.25});
  const std::vector<double> expected = plainMatMul(a, b);
  RealMatMulInto(a, a, b);
  EXPECT_EQ(bitsOf(elementsOf(a)), bitsOf(expected));
  const RealArray v = realArray({2}, {1, -2});
  const std::vector<double> mv = plainMatVec(b, v);
  RealMatVecInto(v, b, v);
  EXPECT_EQ(bitsOf(elementsOf(v)), bitsOf(mv));
  const IntegerArray ia = integerArray({2, 2}, {1, 2, 3, 4});
  IntegerMatMulInto(ia, ia, ia);
  EXPECT_THAT(elementsOf(ia), ElementsAre(7, 10, 15, 22));
  const IntegerArray iv = integerArray({2}, {1, 1});
  IntegerVecMatInto(iv, iv, integerArray({2, 2}, {1, 2, 3, 4}));
  EXPECT_THAT(elementsOf(iv), ElementsAre(4, 6));
}

TEST_F(ArraysTest, ProductChecksRunInOrderWithTheirTexts) {
  const RealArray m23 = RealAllocDims(2, 2, 3);
  const RealArray m34 = RealAllocDims(2, 3, 4);
  const RealArray m24 = RealAllocDims(2, 2, 4);
  const RealArray v2 = RealAllocVector(2);
  const RealArray v3 = RealAllocVector(3);
  const RealArray v4 = RealAllocVector(4);
  const RealArray s = RealAllocDims(0);
  expectFailures({
      {"MatMulInto res", [&] { RealMatMulInto(v2, s, s); },
       assertionText("Matrix multiply gives a matrix as result", "res.ndims==2")},
      {"MatMulInto a", [&] { RealMatMulInto(m24, v2, s); },
       assertionText("Matrix multiply requires that first operand is a matrix", "a.ndims==2")},
      {"MatMulInto b", [&] { RealMatMulInto(m24, m23, v3); },
       assertionText("Matrix multiply requires that second operand is a matrix", "b.ndims==2")},
      {"MatMulInto rows", [&] { RealMatMulInto(m34, m23, m34); },
       assertionText("Matrix multiply requires that first dimension of result and first argument "
                     "match",
                     "res.dims[0]==a.dims[0]")},
      {"MatMulInto cols", [&] { RealMatMulInto(m23, m23, m34); },
       assertionText("Matrix multiply requires that second dimension of result and second "
                     "argument match",
                     "res.dims[1]==b.dims[1]")},
      {"MatMulInto inner", [&] { RealMatMulInto(m23, m23, m23); },
       assertionText("Matrix multiply requires that inner dimensions of operands match",
                     "a.dims[1]==b.dims[0]")},
      {"MatMul 2x3 * 2x3", [&] { RealMatMul(m23, m23); },
       assertionText("Matrix multiply requires that inner dimensions of operands match",
                     "a.dims[1]==b.dims[0]")},
      {"MatMul of a vector", [&] { IntegerMatMul(IntegerAllocVector(2), IntegerAllocDims(0)); },
       assertionText("Matrix multiply requires that first operand is a matrix", "a.ndims==2")},
      {"MatMul by a scalar", [&] { RealMatMul(m23, s); },
       assertionText("Matrix multiply requires that second operand is a matrix", "b.ndims==2")},
      {"MatVecInto a", [&] { RealMatVecInto(s, v2, s); },
       assertionText("Matrix times vector requires a matrix as first operand", "a.ndims==2")},
      {"MatVecInto b", [&] { RealMatVecInto(s, m23, m23); },
       assertionText("Matrix times vector requires a vector as second operand", "b.ndims==1")},
      {"MatVecInto res", [&] { RealMatVecInto(s, m23, v3); },
       assertionText("Matrix times vector gives a vector result", "res.ndims==1")},
      {"MatVecInto rows", [&] { RealMatVecInto(v3, m23, v3); },
       assertionText("Matrix times vector: requires size(M*v,1)=size(M,1)",
                     "res.dims[0]==a.dims[0]")},
      {"MatVecInto inner", [&] { RealMatVecInto(v2, m23, v2); },
       assertionText("Matrix times vector: requires size(M,2)==size(v,1)", "a.dims[1]==b.dims[0]")},
      {"MatVec of a scalar", [&] { RealMatVec(s, v2); },
       assertionText("Matrix times vector requires a matrix as first operand", "a.ndims==2")},
      {"MatVec inner", [&] { IntegerMatVec(IntegerAllocDims(2, 2, 3), IntegerAllocVector(2)); },
       assertionText("Matrix times vector: requires size(M,2)==size(v,1)", "a.dims[1]==b.dims[0]")},
      {"VecMatInto a", [&] { RealVecMatInto(s, m23, s); },
       assertionText("Vector times matrix requires a vector as first operand", "a.ndims==1")},
      {"VecMatInto b", [&] { RealVecMatInto(s, v2, v2); },
       assertionText("Vector times matrix requires a matrix as second operand", "b.ndims==2")},
      {"VecMatInto res", [&] { RealVecMatInto(m23, v2, m23); },
       assertionText("Vector times matrix gives a vector result", "res.ndims==1")},
      {"VecMatInto cols", [&] { RealVecMatInto(v2, v2, m23); },
       assertionText("Vector times matrix: requires size(v*M,1)=size(M,2)",
                     "res.dims[0]==b.dims[1]")},
      {"VecMatInto inner", [&] { RealVecMatInto(v4, v2, m34); },
       assertionText("Vector times matrix: requires size(v,1)=size(M,1)", "a.dims[0]==b.dims[0]")},
      {"VecMat of a matrix", [&] { RealVecMat(m23, s); },
       assertionText("Vector times matrix requires a vector as first operand", "a.ndims==1")},
      {"VecMat by a vector", [&] { RealVecMat(v2, v2); },
       assertionText("Vector times matrix requires a matrix as second operand", "b.ndims==2")},
      {"ScalarProduct a", [&] { RealScalarProduct(m23, v2); },
       assertionText("Scalar product requires vector as first operand", "a.ndims==1")},
      {"ScalarProduct b", [&] { RealScalarProduct(v2, s); },
       assertionText("Scalar product requires vector as second operand", "b.ndims==1")},
      {"ScalarProduct sizes",
       [&] { IntegerScalarProduct(IntegerAllocVector(2), IntegerAllocVector(3)); },
       assertionText("Scalar product requires vectors of matching size", "a.dims[0]==b.dims[0]")},
  });
}

TEST_F(ArraysTest, PlainProductsAllocateOnlyAfterEveryCheck) {
  // 100000 x 1 times 2 x 100000: the result would not fit, but the inner sizes
  // differ, and that is what is reported; nothing is allocated.
  const int tallSizes[] = {100000, 1}, wideSizes[] = {2, 100000}, two = 2;
  const RealArray tall = RealMakeHeader(2, tallSizes);
  const RealArray wide = RealMakeHeader(2, wideSizes);
  const RealArray v2 = RealMakeHeader(1, &two);
  const BufferPlace before = threadPlace();
  EXPECT_EQ(failureOf([&] { RealMatMul(tall, wide); }),
            assertionText("Matrix multiply requires that inner dimensions of operands match",
                          "a.dims[1]==b.dims[0]"));
  EXPECT_EQ(
      failureOf([&] { RealMatVec(tall, v2); }),
      assertionText("Matrix times vector: requires size(M,2)==size(v,1)", "a.dims[1]==b.dims[0]"));
  EXPECT_EQ(threadPlace(), before);
}

TEST_F(ArraysTest, PowerMultipliesBySquaring) {
  const RealArray a = realArray({2, 2}, {0.5, 1.25, -0.75, 2});
  const RealArray one = RealPower(a, 1);
  EXPECT_EQ(one.dims, a.dims);
  EXPECT_EQ(one.data, a.data) << "a itself";
  EXPECT_EQ(elementsOf(RealPower(a, 0)), (std::vector<double>{1, 0, 0, 1}));
  const RealArray a2 = realArray({2, 2}, plainMatMul(a, a));
  const RealArray a4 = realArray({2, 2}, plainMatMul(a2, a2));
  EXPECT_EQ(bitsOf(elementsOf(RealPower(a, 5))), bitsOf(plainMatMul(a4, a)));
  const RealArray a3 = realArray({2, 2}, plainMatMul(a2, a));
  EXPECT_EQ(bitsOf(elementsOf(RealPower(a, 3))), bitsOf(elementsOf(a3)));
  EXPECT_EQ(bitsOf(elementsOf(RealPower(a, 6))), bitsOf(plainMatMul(a3, a3)));
  const IntegerArray i = integerArray({1, 1}, {3});
  EXPECT_EQ(elementsOf(IntegerPower(i, 21)), (std::vector<int>{wrapPow(3, 21)}));
  EXPECT_EQ(elementsOf(IntegerPower(IntegerAllocDims(2, 0, 0), 3)), std::vector<int>{});
  expectFailures({
      {"n = -1", [&] { RealPower(a, -1); },
       assertionText("Matrices can only be raised to positive integer", "n>=0")},
      {"vector", [&] { RealPower(RealAllocVector(2), 2); },
       assertionText("Matrix raised to a positive integer requires a matrix as first operand",
                     "a.ndims==2")},
      {"2x3", [&] { IntegerPower(IntegerAllocDims(2, 2, 3), 1); },
       assertionText("Matrix raised to a positive integer requires a square matrix as first "
                     "operand",
                     "a.dims[0]==a.dims[1]")},
      {"vector, n = -1", [&] { RealPower(RealAllocVector(2), -1); },
       assertionText("Matrices can only be raised to positive integer", "n>=0")},
  });
}

// ---- ranges ------------------------------------------------------------------------------

TEST_F(ArraysTest, RealRangesIncludeALastPointReachedWithinRounding) {
  struct Case {
    double first, last, step;
    std::vector<double> expected;
  };
  const Case cases[] = {
      {0, 0.3, 0.1, {0, 0.1, 0.2, 3 * 0.1}},
      {1, 0, 1, {}},
      {3, 1, -1, {3, 2, 1}},
      {1, 2, 0.5, {1, 1.5, 2}},
      {0, 1, 0.1, {0, 0.1, 0.2, 3 * 0.1, 0.4, 0.5, 6 * 0.1, 7 * 0.1, 0.8, 9 * 0.1, 10 * 0.1}},
      {1, 1, 1, {1}},
      {-0.5, 1.5, 1, {-0.5, 0.5, 1.5}},
      {0.1, 0.3, 0.125, {0.1, 0.125 + 0.1}},
      {5, 5.5, -1, {}},
      {kNaN, 1, 1, {}},
      {0, kNaN, 1, {}},
      {0, 1, kNaN, {}},
      {0, -kInf, 1, {}},
      {1e300, 1e300, 1e300, {1e300}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(::testing::PrintToString(std::vector<double>{c.first, c.last, c.step}));
    const RealArray r = RealRange(c.first, c.last, c.step);
    EXPECT_EQ(r.ndims, 1);
    EXPECT_EQ(bitsOf(elementsOf(r)), bitsOf(c.expected));
  }
}

TEST_F(ArraysTest, IntegerRangesCountIn64Bits) {
  struct Case {
    int first, last, step;
    std::vector<int> expected;
  };
  const Case cases[] = {
      {1, 10, 3, {1, 4, 7, 10}},
      {5, 1, 2, {}},
      {5, 1, -2, {5, 3, 1}},
      {-2000000000, 2000000000, 1000000000, {-2000000000, -1000000000, 0, 1000000000, 2000000000}},
      {2000000000, -2000000000, -1000000000, {2000000000, 1000000000, 0, -1000000000, -2000000000}},
      {INT_MAX - 1, INT_MAX, 1, {INT_MAX - 1, INT_MAX}},
      {INT_MIN, INT_MIN + 1, 1, {INT_MIN, INT_MIN + 1}},
      {INT_MIN, INT_MAX, INT_MAX, {INT_MIN, -1, INT_MAX - 1}},
      {INT_MAX, INT_MIN, INT_MIN, {INT_MAX, -1}},
      {INT_MAX, INT_MIN, 1, {}},
      {0, INT_MIN, INT_MIN, {0, INT_MIN}},
      {-7, -3, 2, {-7, -5, -3}},
      {-3, -8, -2, {-3, -5, -7}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(::testing::PrintToString(std::vector<int>{c.first, c.last, c.step}));
    EXPECT_EQ(elementsOf(IntegerRange(c.first, c.last, c.step)), c.expected);
  }
}

TEST_F(ArraysTest, RangesOfStepZeroOrTooManyElementsFailBeforeTheyAllocate) {
  const std::string zero = assertionText("range requires non-zero stride", "stride!=0");
  const std::string tooMany = assertionText("Too many array elements", "nelements<=2147483647");
  const BufferPlace before = threadPlace();
  expectFailures({
      {"RealRange step 0", [] { RealRange(0, 1, 0); }, zero},
      {"RealRange step -0", [] { RealRange(0, 1, -0.0); }, zero},
      {"IntegerRange step 0", [] { IntegerRange(0, 1, 0); }, zero},
      {"RealRange(0, 3e9, 1)", [] { RealRange(0, 3e9, 1); }, tooMany},
      {"RealRange(0, inf, 1)", [] { RealRange(0, kInf, 1); }, tooMany},
      {"RealRange(0, 1, 1e-300)", [] { RealRange(0, 1, 1e-300); }, tooMany},
      {"RealRange(1, 2147483648, 1)", [] { RealRange(1, 2147483648.0, 1); }, tooMany},
      // INT_MIN / -1 in 32 bits: 2^31 + 1 elements in 64.
      {"IntegerRange(0, INT_MIN, -1)", [] { IntegerRange(0, INT_MIN, -1); }, tooMany},
      {"IntegerRange(INT_MIN, INT_MAX, 1)", [] { IntegerRange(INT_MIN, INT_MAX, 1); }, tooMany},
      {"IntegerRange(-1, INT_MAX, 1)", [] { IntegerRange(-1, INT_MAX, 1); }, tooMany},
      {"RealLinspace(0, 1, 1)", [] { RealLinspace(0, 1, 1); },
       assertionText("Linspace number of point>=2", "n>=2")},
      {"RealLinspace(0, 1, INT_MIN)", [] { RealLinspace(0, 1, INT_MIN); },
       assertionText("Linspace number of point>=2", "n>=2")},
  });
  EXPECT_EQ(threadPlace(), before);
}

TEST_F(ArraysTest, LinspaceEndsExactlyAtItsLastPoint) {
  EXPECT_EQ(elementsOf(RealLinspace(0, 1, 3)), (std::vector<double>{0, 0.5, 1}));
  const RealArray r = RealLinspace(0.1, 0.7, 7);
  EXPECT_EQ(r.data[6], 0.7);
  for (int i = 0; i < 6; ++i) EXPECT_EQ(r.data[i], i * ((0.7 - 0.1) / 6) + 0.1);
  EXPECT_EQ(elementsOf(RealLinspace(2, 2, 2)), (std::vector<double>{2, 2}));
  EXPECT_EQ(bitsOf(elementsOf(RealLinspace(-0.0, -0.0, 2))), bitsOf({0.0, -0.0}));
}

// ---- inverse ------------------------------------------------------------------------------

// max |A*X - I| over the elements, from the plain product.
double distanceFromIdentity(const std::vector<double> &product, int n) {
  double d = 0;
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j) d = std::max(d, std::fabs(product[i * n + j] - (i == j ? 1 : 0)));
  return d;
}

RealArray transposed(const RealArray &x) {
  const int n = x.dims[0];
  RealArray t = RealAllocMatrix(n, n);
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j) t.data[j * n + i] = x.data[i * n + j];
  return t;
}

TEST_F(ArraysTest, InverseOfWellConditionedMatricesIsTheInverseNotItsTranspose) {
  Random random(3);
  for (int n = 1; n <= 30; ++n) {
    SCOPED_TRACE(n);
    const RealArray a = random.uniformMatrix(n, n);
    for (int i = 0; i < n; ++i) a.data[i * n + i] += n; // diagonally dominant
    const std::vector<double> before = elementsOf(a);
    const RealArray x = RealInverse(a);
    EXPECT_EQ(sizesOf(x), (std::vector<int>{n, n}));
    EXPECT_LE(distanceFromIdentity(plainMatMul(a, x), n), 1e-10);
    EXPECT_LE(distanceFromIdentity(plainMatMul(x, a), n), 1e-10);
    if (n > 1) {
      EXPECT_GT(distanceFromIdentity(plainMatMul(a, transposed(x)), n), 1e-3);
    }
    EXPECT_EQ(bitsOf(elementsOf(a)), bitsOf(before)) << "A is not changed";
  }
}

TEST_F(ArraysTest, InverseOfSmallMatrices) {
  const RealArray d = RealInverse(realArray({2, 2}, {2, 0, 0, 4}));
  const std::vector<double> expected = {0.5, 0, 0, 0.25};
  for (int k = 0; k < 4; ++k) EXPECT_NEAR(d.data[k], expected[k], 1e-15);
  const RealArray x = RealInverse(realArray({2, 2}, {1, 2, 3, 4}));
  const std::vector<double> inverse = {-2, 1, 1.5, -0.5};
  for (int k = 0; k < 4; ++k) EXPECT_NEAR(x.data[k], inverse[k], 4e-15) << k;
  EXPECT_EQ(elementsOf(RealInverse(realArray({1, 1}, {4}))), std::vector<double>{0.25});
  EXPECT_EQ(sizesOf(RealInverse(RealAllocMatrix(0, 0))), (std::vector<int>{0, 0}));
}

TEST_F(ArraysTest, InverseReleasesItsWorkArraysAndKeepsTheResult) {
  const RealArray a = realArray({3, 3}, {4, 1, 0, 1, 4, 1, 0, 1, 4});
  const BufferPlace before = threadPlace();
  const RealArray x = RealInverse(a);
  EXPECT_EQ(x.dims, before.Sizebuffer);
  EXPECT_EQ(x.data, before.Realbuffer);
  const BufferPlace after = threadPlace();
  EXPECT_EQ(after.Realbuffer, before.Realbuffer + 9);
  EXPECT_EQ(after.Integerbuffer, before.Integerbuffer);
  EXPECT_EQ(after.Sizebuffer, before.Sizebuffer + 2);
}

TEST_F(ArraysTest, InverseOfZeroOneByOneIsZeroAndOfASingularMatrixFails) {
  clearMessages();
  EXPECT_EQ(bitsOf(elementsOf(RealInverse(realArray({1, 1}, {0})))), bitsOf({0.0}));
  for (const CapturedMessage &m : capturedMessages()) EXPECT_NE(m.level, 2) << m.text;

  const RealArray singular = realArray({2, 2}, {1, 2, 2, 4});
  const BufferPlace before = threadPlace();
  EXPECT_EQ(failureOf([&] { RealInverse(singular); }),
            assertionText("Inverse failed", "IError==0"));
  EXPECT_EQ(elementsOf(singular), (std::vector<double>{1, 2, 2, 4}));
  EXPECT_GT(threadPlace().Integerbuffer, before.Integerbuffer)
      << "the work arrays stay until the evaluation ends";
  EXPECT_EQ(failureOf([] {
              RealInverse(realArray({3, 3}, {1, 2, 3, 4, 5, 6, 7, 8, 9}));
            }),
            assertionText("Inverse failed", "IError==0"));
  EXPECT_EQ(failureOf([] {
              RealInverse(realArray({2, 2}, {kNaN, 0, 0, 1}));
            }),
            assertionText("Inverse failed", "IError==0"));
}

TEST_F(ArraysTest, InverseChecksItsArgumentBeforeItAllocates) {
  const int huge[] = {46340, 46340}; // n*(n+6)+4 work elements do not fit in an int
  const RealArray big = RealMakeHeader(2, huge);
  const RealArray vector = RealAllocVector(4);
  const RealArray wide = RealAllocMatrix(2, 3);
  const BufferPlace before = threadPlace();
  expectFailures({
      {"vector", [&] { RealInverse(vector); },
       assertionText("Can only invert matrices", "A.ndims==2")},
      {"2x3", [&] { RealInverse(wide); },
       assertionText("Can only invert square matrices", "A.dims[0]==A.dims[1]")},
      {"too large", [&] { RealInverse(big); },
       assertionText("Too many array elements", "nelements<=2147483647")},
  });
  EXPECT_EQ(threadPlace(), before);
}

// ---- Boolean operations -------------------------------------------------------------------

TEST_F(ArraysTest, BooleanOperationsReadNonZeroAsTrue) {
  EXPECT_THAT(elementsOf(IntegerNot(integerArray({3}, {0, 5, -1}))), ElementsAre(1, 0, 0));
  EXPECT_THAT(elementsOf(IntegerAnd(integerArray({2}, {2, 0}), integerArray({2}, {3, 3}))),
              ElementsAre(1, 0));
  const IntegerArray a = integerArray({2, 2}, {0, INT_MIN, 0, 1});
  const IntegerArray b = integerArray({2, 2}, {0, 0, -7, 1});
  EXPECT_THAT(elementsOf(IntegerOr(a, b)), ElementsAre(0, 1, 1, 1));
  EXPECT_THAT(elementsOf(IntegerAnd(a, b)), ElementsAre(0, 0, 0, 1));
  EXPECT_EQ(sizesOf(IntegerNot(IntegerAllocDims(2, 0, 3))), (std::vector<int>{0, 3}));

  const BufferPlace before = threadPlace();
  expectFailures({
      {"or",
       [] {
         IntegerOr(integerArray({2}, {}), integerArray({1, 2}, {}));
       },
       assertionText("or of arrays require arguments of matching size",
                     "IntegerMatchingSizes(a,b)")},
      {"and", [] { IntegerAnd(integerArray({2}, {}), integerArray({3}, {})); },
       assertionText("and of arrays require arguments of matching size",
                     "IntegerMatchingSizes(a,b)")},
  });
  EXPECT_GT(threadPlace().Integerbuffer, before.Integerbuffer)
      << "the result is taken before the check";
}

} // namespace
