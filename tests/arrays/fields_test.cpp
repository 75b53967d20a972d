// Record fields, views and dimension reversal.
#include "tests/arrays/support.h"

#include <gmock/gmock.h>

#include <climits>
#include <cstddef>

namespace {

using ::testing::ElementsAre;

// A record of 32 bytes (4 units of 8 bytes) with one member of each scalar
// type.
struct Scalars {
  double first;
  double second; // at byte 8
  int count;     // at byte 16
  const char *name;
};
static_assert(sizeof(Scalars) == 32);

// A record with an array member.
struct WithVector {
  double weight;
  RealArray values;
};
static_assert(sizeof(WithVector) % 8 == 0);
constexpr int kUnits = sizeof(WithVector) / 8;

// The record array over records: sizes (leading..., length in units).
template <class Record>
RealArray recordArray(Record *records, std::vector<int> leading, int units) {
  leading.push_back(units);
  RealArray a = RealMakeHeader(static_cast<int>(leading.size()), leading.data());
  a.data = reinterpret_cast<double *>(records);
  return a;
}

// ---- record arrays ---------------------------------------------------------------

TEST_F(ArraysTest, RecordFieldReadsOneScalarMemberOfEveryRecord) {
  Scalars records[3] = {{1, 10, -1, "a"}, {2, 20, INT_MIN, "b"}, {3, 30, 7, "c"}};
  const RealArray a = recordArray(records, {3}, 4);
  const BufferPlace before = threadPlace();
  const RealArray second = RealRecordField(a, offsetof(Scalars, second));
  EXPECT_EQ(second.dims, before.Sizebuffer);
  EXPECT_EQ(sizesOf(second), std::vector<int>{3});
  EXPECT_EQ(elementsOf(second), (std::vector<double>{10, 20, 30}));
  EXPECT_THAT(elementsOf(IntegerRecordField(a, offsetof(Scalars, count))),
              ElementsAre(-1, INT_MIN, 7));
  EXPECT_THAT(elementsOf(StringRecordField(a, offsetof(Scalars, name))),
              ElementsAre(records[0].name, records[1].name, records[2].name));

  const RealArray grid = recordArray(records, {1, 3}, 4);
  EXPECT_EQ(sizesOf(RealRecordField(grid, 0)), (std::vector<int>{1, 3}));
  EXPECT_EQ(failureOf([] { RealRecordField(RealAllocDims(0), 0); }),
            assertionText("Number of dimensions must not be negative", "ndims>=0"));
}

TEST_F(ArraysTest, RecordSliceStacksTheArrayMembers) {
  std::vector<WithVector> records(10);
  std::vector<double> storage(30);
  for (int r = 0; r < 10; ++r) {
    for (int k = 0; k < 3; ++k) storage[3 * r + k] = 100 * r + k;
    records[r] = {0, RealWrapData(storage.data() + 3 * r, 1, 3)};
  }
  const RealArray a = recordArray(records.data(), {2, 5}, kUnits);
  const RealArray s = RealRecordSlice(a, offsetof(WithVector, values));
  EXPECT_EQ(sizesOf(s), (std::vector<int>{2, 5, 3}));
  EXPECT_EQ(elementsOf(s), storage);
  EXPECT_EQ(RealGetElement(s, 2, 4, 3), 100 * (5 + 3) + 2);

  records[7].values = RealWrapData(storage.data(), 1, 4);
  EXPECT_EQ(
      failureOf([&] { RealRecordSlice(a, offsetof(WithVector, values)); }),
      assertionText("Can only slice homogenous record arrays", "RealMatchingSizes(elemi,elem)"));
  EXPECT_EQ(
      failureOf([&] {
        RealRecordSlice(recordArray(records.data(), {2, 0}, kUnits), 8);
      }),
      assertionText("Can only make record slices of non-empty arrays", "RealNrElements(a)>0"));
}

TEST_F(ArraysTest, RecordSliceOfIntegerAndStringMembers) {
  struct WithIntegers {
    IntegerArray values;
  };
  struct WithStrings {
    double pad;
    StringArray names;
  };
  int numbers[4] = {1, 2, 3, 4};
  WithIntegers ints[2] = {{IntegerWrapData(numbers, 1, 2)}, {IntegerWrapData(numbers + 2, 1, 2)}};
  const RealArray ia = recordArray(ints, {2}, sizeof(WithIntegers) / 8);
  EXPECT_THAT(elementsOf(IntegerRecordSlice(ia, 0)), ElementsAre(1, 2, 3, 4));

  char *names[2] = {const_cast<char *>("x"), const_cast<char *>("y")};
  WithStrings strs[2] = {{0, StringWrapData(names, 1, 1)}, {0, StringWrapData(names, 2, 1, 1)}};
  const RealArray sa = recordArray(strs, {2}, sizeof(WithStrings) / 8);
  EXPECT_EQ(
      failureOf([&] { StringRecordSlice(sa, offsetof(WithStrings, names)); }),
      assertionText("Can only slice homogenous record arrays", "StringMatchingSizes(elemi,elem)"));
  strs[1].names = StringWrapData(names + 1, 1, 1);
  EXPECT_THAT(elementsOf(StringRecordSlice(sa, offsetof(WithStrings, names))),
              ElementsAre(names[0], names[1]));
  ints[1].values = IntegerWrapData(numbers, 0);
  EXPECT_EQ(
      failureOf([&] { IntegerRecordSlice(ia, 0); }),
      assertionText("Can only slice homogenous record arrays", "IntegerMatchingSizes(elemi,elem)"));
}

// Element counts that only overflow in 32 bits fail as the consistency check,
// before anything is allocated.
TEST_F(ArraysTest, RecordSliceOfTooManyElementsFailsBeforeAllocating) {
  int huge[] = {65536, 32768}; // 2^31 elements: a record built by hand
  WithVector records[2] = {{0, {2, huge, nullptr}}, {0, {2, huge, nullptr}}};
  const RealArray a = recordArray(records, {2}, kUnits);
  const BufferPlace before = threadPlace();
  EXPECT_EQ(failureOf([&] { RealRecordSlice(a, offsetof(WithVector, values)); }),
            assertionText("Too many array elements", "nelements<=2147483647"));
  EXPECT_EQ(threadPlace(), before);
  int half[] = {65536, 16384}; // 2^30 elements, two records
  records[0].values = records[1].values = RealArray{2, half, nullptr};
  EXPECT_EQ(failureOf([&] { RealRecordSlice(a, offsetof(WithVector, values)); }),
            assertionText("Consistency", "lenTemp==lenA*lenElem"));
  EXPECT_EQ(threadPlace(), before);
}

TEST_F(ArraysTest, RecordDimsDropsTheRecordLength) {
  EXPECT_THAT(elementsOf(RealRecordDims(RealAllocDims(3, 2, 5, 4))), ElementsAre(2, 5));
  const IntegerArray none = RealRecordDims(RealAllocDims(1, 4));
  EXPECT_EQ(sizesOf(none), std::vector<int>{0});
  EXPECT_EQ(failureOf([] { RealRecordDims(RealAllocDims(0)); }),
            assertionText("Error in record logic", "b.ndims>0 && b.dims[0]>0"));
}

// ---- views -------------------------------------------------------------------------

TEST_F(ArraysTest, SubArrayIsAViewIntoTheArraysOwnStorage) {
  const RealArray a = realArray({4, 3}, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12});
  const BufferPlace before = threadPlace();
  const RealArray row = RealSubArray(1, 2, a);
  EXPECT_EQ(threadPlace(), before);
  EXPECT_EQ(row.ndims, 1);
  EXPECT_EQ(row.dims, a.dims + 1);
  EXPECT_EQ(elementsOf(row), (std::vector<double>{7, 8, 9}));
  RealSetElement(-1, row, 1);
  EXPECT_EQ(RealGetElement(a, 3, 1), -1);

  const RealArray same = RealSubArrayView(0, 0, a);
  EXPECT_EQ(same.data, a.data);
  EXPECT_EQ(same.ndims, 2);
  const RealArray element = RealSubArray(2, 5, a);
  EXPECT_EQ(element.ndims, 0);
  EXPECT_EQ(element.data, a.data + 5);

  const IntegerArray cube = integerArray({2, 2, 2}, {1, 2, 3, 4, 5, 6, 7, 8});
  EXPECT_THAT(elementsOf(IntegerSubArray(2, 3, cube)), ElementsAre(7, 8));
  EXPECT_EQ(StringSubArray(1, 1, stringArray({2, 1}, {"a", "b"})).data[0][0], 'b');
  EXPECT_EQ(RealSizeDim(a, 2), 3);
}

// ---- reversal ----------------------------------------------------------------------

TEST_F(ArraysTest, ReverseDimsTurnsRowMajorIntoColumnMajor) {
  const RealArray m = realArray({2, 3}, {1, 2, 3, 4, 5, 6});
  const RealArray r = RealReverseDims(m);
  EXPECT_EQ(sizesOf(r), (std::vector<int>{3, 2}));
  EXPECT_EQ(elementsOf(r), (std::vector<double>{1, 4, 2, 5, 3, 6}));
  const RealArray back = RealReverseDims(r);
  EXPECT_EQ(sizesOf(back), sizesOf(m));
  EXPECT_EQ(elementsOf(back), elementsOf(m));

  std::vector<int> values(24);
  for (int k = 0; k < 24; ++k) values[k] = k;
  const IntegerArray a = integerArray({2, 3, 4}, values);
  const IntegerArray t = IntegerReverseDims(a);
  EXPECT_EQ(sizesOf(t), (std::vector<int>{4, 3, 2}));
  for (int i = 1; i <= 2; ++i)
    for (int j = 1; j <= 3; ++j)
      for (int l = 1; l <= 4; ++l)
        EXPECT_EQ(IntegerGetElement(t, l, j, i), IntegerGetElement(a, i, j, l));

  const StringArray v = stringArray({2}, {"a", "b"});
  const StringArray same = StringReverseDims(v);
  EXPECT_EQ(same.dims, v.dims);
  EXPECT_EQ(same.data, v.data);
  const RealArray scalar = RealPromoteScalar(1, 0);
  EXPECT_EQ(RealReverseDims(scalar).data, scalar.data);
  EXPECT_EQ(sizesOf(RealReverseDims(RealAllocDims(3, 65536, 65536, 0))),
            (std::vector<int>{0, 65536, 65536}));
}

TEST_F(ArraysTest, ReverseDimsIntoAndItsStepFillGivenStorage) {
  const StringArray src = stringArray({2, 2}, {"a", "b", "c", "d"});
  const StringArray dest = StringAllocDims(2, 2, 2);
  StringReverseDimsInto(dest, src);
  EXPECT_STREQ(dest.data[1], "c");
  EXPECT_STREQ(dest.data[2], "b");

  // The innermost level of a 2x3 source fills one row of the 3x2 result:
  // row 2 is the source's column 2, read with the stride of a source row.
  const RealArray m = realArray({2, 3}, {1, 2, 3, 4, 5, 6});
  const RealArray out = realArray({3, 2}, {0, 0, 0, 0, 0, 0});
  RealReverseDimsStep(out, 1, m, 1, 3, 1);
  EXPECT_EQ(elementsOf(out), (std::vector<double>{0, 0, 2, 5, 0, 0}));

  const IntegerArray one = integerArray({}, {5});
  const IntegerArray into = integerArray({}, {0});
  IntegerReverseDimsInto(into, one);
  EXPECT_EQ(into.data[0], 5);
  IntegerReverseDimsStep(integerArray({2}, {0, 0}), 0, integerArray({2}, {1, 2}), 0, 1, 0);
}

} // namespace
