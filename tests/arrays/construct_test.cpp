// Construction, concatenation, promotion, fill and shape operations.
#include "tests/arrays/support.h"

#include <gmock/gmock.h>

#include <climits>
#include <cmath>
#include <limits>

namespace {

using ::testing::ElementsAre;

const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();

std::vector<double> iota(int n, double first = 1) {
  std::vector<double> v(n);
  for (int k = 0; k < n; ++k) v[k] = first + k;
  return v;
}

// ---- array constructor -------------------------------------------------------

TEST_F(ArraysTest, ArrayOfArraysStacksEqualShapesAlongANewFirstDimension) {
  const RealArray m1 = realArray({2, 2}, {1, 2, 3, 4});
  const RealArray m2 = realArray({2, 2}, {5, 6, 7, 8});
  const RealArray m3 = realArray({2, 2}, {9, 10, 11, 12});
  const BufferPlace before = threadPlace();
  const RealArray r = RealArrayOfArrays(3, m1, m2, m3);
  EXPECT_EQ(r.dims, before.Sizebuffer);
  EXPECT_EQ(r.data, before.Realbuffer);
  EXPECT_EQ(sizesOf(r), (std::vector<int>{3, 2, 2}));
  EXPECT_EQ(elementsOf(r), iota(12));
  EXPECT_EQ(RealGetElement(r, 2, 1, 2), 6);

  const IntegerArray v = IntegerArrayOfArrays(2, integerArray({}, {7}), integerArray({}, {-8}));
  EXPECT_EQ(sizesOf(v), std::vector<int>{2});
  EXPECT_THAT(elementsOf(v), ElementsAre(7, -8));

  const StringArray s = StringArrayOfArrays(2, stringArray({1}, {"a"}), stringArray({1}, {"b"}));
  EXPECT_EQ(sizesOf(s), (std::vector<int>{2, 1}));
  EXPECT_STREQ(s.data[1], "b");
}

TEST_F(ArraysTest, ArrayOfArraysOfUnequalShapesFails) {
  EXPECT_EQ(
      failureOf([] { RealArrayOfArrays(2, RealAllocDims(2, 2, 2), RealAllocDims(2, 2, 3)); }),
      assertionText("Arrays in array must be of equal sizes", "RealMatchingSizes(first,next)"));
  EXPECT_EQ(
      failureOf([] {
        IntegerArrayOfArrays(3, IntegerAllocDims(1, 2), IntegerAllocDims(1, 2),
                             IntegerAllocDims(2, 1, 2));
      }),
      assertionText("Arrays in array must be of equal sizes", "IntegerMatchingSizes(first,next)"));
  EXPECT_EQ(
      failureOf([] { StringArrayOfArrays(2, StringAllocDims(0), StringAllocDims(1, 1)); }),
      assertionText("Arrays in array must be of equal sizes", "StringMatchingSizes(first,next)"));
  EXPECT_EQ(failureOf([] { RealArrayOfArrays(0); }),
            assertionText("Array constructor requires at least one array", "n>=1"));
}

TEST_F(ArraysTest, VectorOfScalarsTakesDoublesIntsOrPointers) {
  const RealArray r = RealVectorOfScalars(4, 1.5, -0.0, kNaN, kInf);
  EXPECT_EQ(sizesOf(r), std::vector<int>{4});
  EXPECT_EQ(bitsOf(elementsOf(r)), bitsOf({1.5, -0.0, kNaN, kInf}));
  EXPECT_THAT(elementsOf(IntegerVectorOfScalars(3, INT_MIN, 0, INT_MAX)),
              ElementsAre(INT_MIN, 0, INT_MAX));
  const char *text = "shared";
  EXPECT_THAT(elementsOf(StringVectorOfScalars(2, text, "x")), ElementsAre(text, ::testing::_));
  EXPECT_EQ(sizesOf(RealVectorOfScalars(0)), std::vector<int>{0});
}

// ---- concatenation -----------------------------------------------------------

TEST_F(ArraysTest, CatJoinsAlongOneDimension) {
  const RealArray a = realArray({2, 3}, {1, 2, 3, 4, 5, 6});
  const RealArray b = realArray({2, 4}, {7, 8, 9, 10, 11, 12, 13, 14});
  const BufferPlace before = threadPlace();
  const RealArray r = RealCat(2, 2, a, b);
  EXPECT_EQ(r.dims, before.Sizebuffer);
  EXPECT_EQ(r.data, before.Realbuffer);
  EXPECT_EQ(sizesOf(r), (std::vector<int>{2, 7}));
  EXPECT_EQ(elementsOf(r), (std::vector<double>{1, 2, 3, 7, 8, 9, 10, 4, 5, 6, 11, 12, 13, 14}));

  const IntegerArray v =
      IntegerCat(1, 3, integerArray({2}, {1, 2}), integerArray({0}, {}), integerArray({1}, {3}));
  EXPECT_EQ(sizesOf(v), std::vector<int>{3});
  EXPECT_THAT(elementsOf(v), ElementsAre(1, 2, 3));

  // Along the middle dimension of 2x1x2 and 2x2x2 arrays.
  const IntegerArray m = IntegerCat(2, 2, integerArray({2, 1, 2}, {1, 2, 3, 4}),
                                    integerArray({2, 2, 2}, {5, 6, 7, 8, 9, 10, 11, 12}));
  EXPECT_EQ(sizesOf(m), (std::vector<int>{2, 3, 2}));
  EXPECT_THAT(elementsOf(m), ElementsAre(1, 2, 5, 6, 7, 8, 3, 4, 9, 10, 11, 12));

  const StringArray s =
      StringCat(1, 2, stringArray({1, 2}, {"a", "b"}), stringArray({1, 2}, {"c", "d"}));
  EXPECT_EQ(sizesOf(s), (std::vector<int>{2, 2}));
  EXPECT_STREQ(s.data[2], "c");

  const RealArray alone = RealCat(1, 1, a);
  EXPECT_NE(alone.data, a.data);
  EXPECT_EQ(elementsOf(alone), elementsOf(a));
}

TEST_F(ArraysTest, CatChecksEveryArgumentBeforeTakingStorage) {
  const std::string sizes = assertionText("Sizes must match for cat", "first.dims[j]==a.dims[j]");
  const std::string ndims =
      assertionText("Number of dimensions must match for cat", "a.ndims==first.ndims");
  const std::string range =
      assertionText("Dimension of cat out of range", "(k>=1)&&(k<=first.ndims)");
  const std::string tooMany = assertionText("Too many array elements", "nelements<=2147483647");
  const RealArray a23 = RealAllocDims(2, 2, 3);
  const RealArray a24 = RealAllocDims(2, 2, 4);
  const RealArray a345 = RealAllocDims(3, 3, 4, 5);
  const RealArray a31 = RealAllocDims(2, 3, 1);
  const StringArray s2 = StringAllocDims(1, 2);
  const StringArray s12 = StringAllocDims(2, 1, 2);
  const int big[] = {INT_MAX};
  const int emptyBig[] = {0, INT_MAX};
  const IntegerArray huge = IntegerMakeHeader(1, big);
  const IntegerArray emptyHuge = IntegerMakeHeader(2, emptyBig);
  struct Case {
    const char *name;
    std::function<void()> body;
    std::string text;
  };
  const Case cases[] = {
      {"2x3 and 2x4 along 1", [&] { RealCat(1, 2, a23, a24); }, sizes},
      {"2 and 3 dimensions", [&] { RealCat(1, 2, a23, a345); }, ndims},
      {"later argument", [&] { RealCat(2, 3, a23, a24, a31); }, sizes},
      {"k 0", [&] { RealCat(0, 2, a23, a23); }, range},
      {"k beyond ndims", [&] { RealCat(3, 1, a23); }, range},
      {"no arrays", [] { RealCat(1, 0); },
       assertionText("Concatenation requires at least one array", "n>=1")},
      {"joined size beyond int", [&] { IntegerCat(1, 2, huge, huge); }, tooMany},
      {"joined size beyond int, empty", [&] { IntegerCat(2, 2, emptyHuge, emptyHuge); }, tooMany},
      {"String ndims", [&] { StringCat(1, 2, s2, s12); }, ndims},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    const BufferPlace before = threadPlace();
    EXPECT_EQ(failureOf(c.body), c.text);
    EXPECT_EQ(threadPlace(), before);
  }
}

// ---- promotion and fill --------------------------------------------------------

TEST_F(ArraysTest, PromoteAddsTrailingUnitSizesOverTheSameElements) {
  const RealArray v = realArray({3}, {1, 2, 3});
  const RealArray p = RealPromote(v, 3);
  EXPECT_EQ(sizesOf(p), (std::vector<int>{3, 1, 1}));
  EXPECT_EQ(p.data, v.data);
  EXPECT_NE(p.dims, v.dims);
  EXPECT_EQ(IntegerPromote(integerArray({2}, {1, 2}), 1).ndims, 1);
  EXPECT_EQ(failureOf([] { StringPromote(StringAllocDims(2, 1, 1), 1); }),
            assertionText("Promote cannot decrease number of dimensions", "n>=a.ndims"));

  const BufferPlace before = threadPlace();
  const RealArray s = RealPromoteScalar(2.5, 2);
  EXPECT_EQ(s.data, before.Realbuffer);
  EXPECT_EQ(s.dims, before.Sizebuffer);
  EXPECT_EQ(sizesOf(s), (std::vector<int>{1, 1}));
  EXPECT_EQ(s.data[0], 2.5);
  EXPECT_EQ(IntegerPromoteScalar(4, 0).ndims, 0);
  EXPECT_STREQ(StringToScalar(StringPromoteScalar("z", 1)), "z");

  const BufferPlace unchanged = threadPlace();
  EXPECT_EQ(failureOf([] { RealPromoteScalar(1, -1); }),
            assertionText("Number of dimensions must not be negative", "ndims>=0"));
  EXPECT_EQ(threadPlace(), unchanged);
}

TEST_F(ArraysTest, FillTakesTheValueFirstAndTheSizesLast) {
  const RealArray r = RealFill(-0.0, 2, 2, 3);
  EXPECT_EQ(sizesOf(r), (std::vector<int>{2, 3}));
  EXPECT_EQ(bitsOf(elementsOf(r)), bitsOf(std::vector<double>(6, -0.0)));
  const IntegerArray scalar = IntegerFill(7, 0);
  EXPECT_EQ(scalar.ndims, 0);
  EXPECT_THAT(elementsOf(scalar), ElementsAre(7));
  EXPECT_EQ(RealNrElements(RealFill(1, 2, 3, 0)), 0);
  const char *text = "same pointer";
  EXPECT_THAT(elementsOf(StringFill(text, 1, 2)), ElementsAre(text, text));

  const IntegerArray a = integerArray({3}, {1, 2, 3});
  const IntegerArray same = IntegerFillInPlace(a, INT_MIN);
  EXPECT_EQ(same.data, a.data);
  EXPECT_EQ(same.dims, a.dims);
  EXPECT_THAT(elementsOf(a), ElementsAre(INT_MIN, INT_MIN, INT_MIN));
  EXPECT_EQ(failureOf([] { RealFill(1, 1, -2); }),
            assertionText("Array sizes must not be negative", "dim>=0"));
}

TEST_F(ArraysTest, FillArrayRepeatsTheArrayInBlocks) {
  const RealArray v = realArray({2}, {1, 2});
  const BufferPlace before = threadPlace();
  const RealArray r = RealFillArray(v, 1, 3);
  EXPECT_EQ(r.dims, before.Sizebuffer);
  EXPECT_EQ(sizesOf(r), (std::vector<int>{3, 2}));
  EXPECT_EQ(elementsOf(r), (std::vector<double>{1, 2, 1, 2, 1, 2}));

  const RealArray copy = RealFillArray(v, 0);
  EXPECT_NE(copy.data, v.data);
  EXPECT_EQ(elementsOf(copy), elementsOf(v));

  const IntegerArray i = IntegerFillArray(integerArray({1, 2}, {5, 6}), 2, 2, 1);
  EXPECT_EQ(sizesOf(i), (std::vector<int>{2, 1, 1, 2}));
  EXPECT_THAT(elementsOf(i), ElementsAre(5, 6, 5, 6));
  EXPECT_EQ(StringNrElements(StringFillArray(stringArray({0}, {}), 1, 4)), 0);
  EXPECT_EQ(RealNrElements(RealFillArray(v, 2, 0, 5)), 0);

  const BufferPlace unchanged = threadPlace();
  EXPECT_EQ(failureOf([&] { RealFillArray(v, 2, 65536, 16384); }),
            assertionText("Too many array elements", "nelements<=2147483647"));
  EXPECT_EQ(failureOf([&] { RealFillArray(v, 1, -1); }),
            assertionText("Array sizes must not be negative", "dim>=0"));
  EXPECT_EQ(threadPlace(), unchanged);
}

// ---- conversions of shape --------------------------------------------------------

TEST_F(ArraysTest, ToScalarNeedsExactlyOneElement) {
  EXPECT_EQ(RealToScalar(realArray({1, 1, 1}, {4.5})), 4.5);
  EXPECT_EQ(IntegerToScalar(integerArray({}, {-3})), -3);
  EXPECT_EQ(failureOf([] { RealToScalar(RealAllocDims(1, 2)); }),
            assertionText("scalar requires exactly one element", "RealNrElements(a)==1"));
  EXPECT_EQ(failureOf([] { IntegerToScalar(IntegerAllocDims(2, 0, 1)); }),
            assertionText("scalar requires exactly one element", "IntegerNrElements(a)==1"));
  EXPECT_EQ(failureOf([] { StringToScalar(StringAllocDims(1, 3)); }),
            assertionText("scalar requires exactly one element", "StringNrElements(a)==1"));
}

TEST_F(ArraysTest, ToVectorIsAViewWithOneDimension) {
  const RealArray a = realArray({1, 4, 1}, {1, 2, 3, 4});
  const RealArray v = RealToVector(a);
  EXPECT_EQ(sizesOf(v), std::vector<int>{4});
  EXPECT_EQ(v.data, a.data);
  EXPECT_EQ(sizesOf(IntegerToVector(IntegerAllocDims(2, 1, 0))), std::vector<int>{0});
  EXPECT_EQ(sizesOf(StringToVector(StringAllocDims(0))), std::vector<int>{1});
  EXPECT_EQ(sizesOf(RealToVector(RealAllocDims(3, 0, 5, 1))), std::vector<int>{0});
  EXPECT_EQ(
      failureOf([] { RealToVector(RealAllocDims(2, 2, 3)); }),
      assertionText("vector requires exactly one vector non-unit dimension", "!found_non_one"));
  EXPECT_EQ(
      failureOf([] {
        IntegerToVector(IntegerMakeHeader(3, std::vector{1, 2, 2}.data()));
      }),
      assertionText("vector requires exactly one vector non-unit dimension", "!found_non_one"));
}

TEST_F(ArraysTest, ToMatrixIsAViewWithTwoDimensions) {
  const RealArray v = realArray({5}, iota(5));
  const RealArray m = RealToMatrix(v);
  EXPECT_EQ(sizesOf(m), (std::vector<int>{5, 1}));
  EXPECT_EQ(m.data, v.data);
  EXPECT_EQ(sizesOf(IntegerToMatrix(IntegerAllocDims(3, 2, 3, 1))), (std::vector<int>{2, 3}));
  EXPECT_EQ(sizesOf(StringToMatrix(StringAllocDims(0))), (std::vector<int>{1, 1}));
  EXPECT_EQ(failureOf([] { RealToMatrix(RealAllocDims(3, 2, 3, 2)); }),
            assertionText("matrix requires size(x,i)=1 for i>2",
                          "RealNrElements(a)==RealNrElements(res)"));
  EXPECT_EQ(failureOf([] { IntegerToMatrix(IntegerAllocDims(3, 2, 3, 0)); }),
            assertionText("matrix requires size(x,i)=1 for i>2",
                          "IntegerNrElements(a)==IntegerNrElements(res)"));
  EXPECT_EQ(failureOf([] { StringToMatrix(StringAllocDims(4, 1, 1, 1, 2)); }),
            assertionText("matrix requires size(x,i)=1 for i>2",
                          "StringNrElements(a)==StringNrElements(res)"));
}

TEST_F(ArraysTest, TransposeSwapsTheFirstTwoSubscripts) {
  const RealArray a = realArray({2, 3, 4}, iota(24, 0));
  const RealArray t = RealTranspose(a);
  EXPECT_EQ(sizesOf(t), (std::vector<int>{3, 2, 4}));
  for (int i = 1; i <= 2; ++i)
    for (int j = 1; j <= 3; ++j)
      for (int l = 1; l <= 4; ++l)
        EXPECT_EQ(RealGetElement(t, j, i, l), RealGetElement(a, i, j, l));
  EXPECT_THAT(elementsOf(IntegerTranspose(integerArray({2, 2}, {1, 2, 3, 4}))),
              ElementsAre(1, 3, 2, 4));
  EXPECT_EQ(sizesOf(StringTranspose(StringAllocDims(2, 0, 3))), (std::vector<int>{3, 0}));
  EXPECT_EQ(failureOf([] { RealTranspose(RealAllocDims(1, 3)); }),
            assertionText("transpose requires ndims>=2", "a.ndims>=2"));
}

TEST_F(ArraysTest, OuterproductOfTwoVectors) {
  const RealArray r = RealOuterproduct(realArray({2}, {1, -2}), realArray({3}, {3, 4, 0.5}));
  EXPECT_EQ(sizesOf(r), (std::vector<int>{2, 3}));
  EXPECT_EQ(elementsOf(r), (std::vector<double>{3, 4, 0.5, -6, -8, -1}));
  const IntegerArray i =
      IntegerOuterproduct(integerArray({2}, {65536, -1}), integerArray({2}, {65536, INT_MIN}));
  EXPECT_THAT(elementsOf(i), ElementsAre(0, 0, -65536, INT_MIN)) << "products wrap in 32 bits";
  EXPECT_EQ(failureOf([] { RealOuterproduct(RealAllocDims(2, 1, 1), RealAllocDims(1, 1)); }),
            assertionText("Outerproduct require a vector as first argument", "a.ndims==1"));
  EXPECT_EQ(failureOf([] { IntegerOuterproduct(IntegerAllocDims(1, 1), IntegerAllocDims(0)); }),
            assertionText("Outerproduct require a vector as second argument", "b.ndims==1"));
}

TEST_F(ArraysTest, SymmetricMirrorsTheUpperTriangle) {
  EXPECT_EQ(elementsOf(RealSymmetric(realArray({2, 2}, {1, 2, 3, 4}))),
            (std::vector<double>{1, 2, 2, 4}));
  EXPECT_THAT(elementsOf(IntegerSymmetric(integerArray({3, 3}, {1, 2, 3, 4, 5, 6, 7, 8, 9}))),
              ElementsAre(1, 2, 3, 2, 5, 6, 3, 6, 9));
  const StringArray s = StringSymmetric(stringArray({2, 2}, {"a", "b", "c", "d"}));
  EXPECT_STREQ(s.data[2], "b");
  EXPECT_EQ(sizesOf(RealSymmetric(RealAllocDims(2, 0, 0))), (std::vector<int>{0, 0}));
  EXPECT_EQ(failureOf([] { RealSymmetric(RealAllocDims(1, 2)); }),
            assertionText("symmetric requires ndims==2", "a.ndims==2"));
  EXPECT_EQ(failureOf([] { StringSymmetric(StringAllocDims(2, 2, 3)); }),
            assertionText("symmetric requires square matrix", "a.dims[0]==a.dims[1]"));
}

// ---- small functions ---------------------------------------------------------------

TEST_F(ArraysTest, RealFloorFloorsIntoTheIntRange) {
  struct Case {
    double x;
    int expected;
  };
  const Case cases[] = {
      {2.5, 2},
      {-0.5, -1},
      {-0.0, 0},
      {-2147483648.0, INT_MIN},
      {2147483647.9, INT_MAX},
      {2147483648.0, INT_MIN},
      {-2147483648.5, INT_MIN},
      {kNaN, INT_MIN},
      {kInf, INT_MIN},
      {-kInf, INT_MIN},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.x);
    EXPECT_EQ(RealFloor(c.x), c.expected);
  }
}

TEST_F(ArraysTest, IntegerWhenFiresWhereConditionAndEvaluationHold) {
  const IntegerArray cond = integerArray({4}, {0, 1, 1, 2});
  const IntegerArray eval = integerArray({4}, {1, 0, 1, 3});
  const IntegerArray flags = integerArray({4}, {9, 9, 9, 9});
  int fired = 0;
  EXPECT_EQ(IntegerWhen(cond, eval, flags, 0, &fired), 0);
  EXPECT_EQ(fired, 0);
  EXPECT_THAT(elementsOf(flags), ElementsAre(1, 9, 9, 9));
  EXPECT_EQ(IntegerWhen(cond, eval, flags, 1, &fired), 1);
  EXPECT_EQ(fired, 1);
  EXPECT_THAT(elementsOf(flags), ElementsAre(1, 9, 0, 0));
  EXPECT_EQ(IntegerWhen(integerArray({2}, {1, 1}), integerArray({2}, {0, 0}), flags, 1, &fired), 0);
  EXPECT_EQ(fired, 1) << "fired is never cleared";
  EXPECT_EQ(failureOf([&] { IntegerWhen(cond, IntegerAllocDims(2, 2, 2), flags, 1, &fired); }),
            assertionText("Internal error in array when.", "IntegerMatchingSizes(cond,eval)"));
}

} // namespace
