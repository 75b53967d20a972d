// Subscripting and subscripted assignment: the five subscript kinds, the
// shapes and elements they select, the order of the walk, the checks and
// their texts, the 64-bit range counts, the capacity of the decoded records,
// and that nothing is allocated or written before every check has passed.
#include "tests/arrays/support.h"

#include <gmock/gmock.h>

#include <climits>
#include <limits>
#include <numeric>

namespace {

using ::testing::ElementsAre;

// Subscript kinds as generated code passes them.
constexpr int C = SubscriptColon;
constexpr int R = SubscriptRange;
constexpr int SR = SubscriptStepRange;
constexpr int V = SubscriptVector;
constexpr int S = SubscriptScalar;
constexpr int E = SubscriptEnd;

std::vector<double> positions(int n) {
  std::vector<double> v(n);
  std::iota(v.begin(), v.end(), 0.0);
  return v;
}

// The 3x4 matrix whose elements are their 0-based storage positions.
RealArray matrix34() { return realArray({3, 4}, positions(12)); }

struct Shaped {
  std::vector<int> sizes;
  std::vector<double> elements;
  bool operator==(const Shaped &) const = default;
};

std::ostream &operator<<(std::ostream &out, const Shaped &s) {
  return out << ::testing::PrintToString(s.sizes) << " " << ::testing::PrintToString(s.elements);
}

Shaped shaped(const RealArray &a) { return {sizesOf(a), elementsOf(a)}; }

// ---- reading ------------------------------------------------------------------

TEST_F(ArraysTest, SubscriptSelectsByEachKindInListOrder) {
  const RealArray a = matrix34();
  const IntegerArray v31 = integerArray({3}, {3, 1, 3});
  const IntegerArray v41 = integerArray({2}, {4, 1});
  const IntegerArray none = integerArray({0}, {});
  struct Case {
    const char *name;
    std::function<RealArray()> read;
    Shaped expected;
  };
  const Case cases[] = {
      {"a[2, :]", [&] { return RealSubscript(a, S, 2, C, E); }, {{4}, {4, 5, 6, 7}}},
      {"a[:, 2]", [&] { return RealSubscript(a, C, S, 2, E); }, {{3}, {1, 5, 9}}},
      {"a[2, 3]", [&] { return RealSubscript(a, S, 2, S, 3, E); }, {{}, {6}}},
      {"a[2]", [&] { return RealSubscript(a, S, 2, E); }, {{4}, {4, 5, 6, 7}}},
      {"a[1:2]", [&] { return RealSubscript(a, R, 1, 2, E); }, {{2, 4}, {0, 1, 2, 3, 4, 5, 6, 7}}},
      {"a[]", [&] { return RealSubscript(a, E); }, {{3, 4}, positions(12)}},
      {"a[3:1]", [&] { return RealSubscript(a, R, 3, 1, E); }, {{0, 4}, {}}},
      {"a[9:-5] (empty: no bound test)",
       [&] { return RealSubscript(a, R, 9, -5, E); },
       {{0, 4}, {}}},
      {"a[3:2:2]", [&] { return RealSubscript(a, SR, 3, 2, 2, E); }, {{0, 4}, {}}},
      {"a[3:-1:1, 1]", [&] { return RealSubscript(a, SR, 3, -1, 1, S, 1, E); }, {{3}, {8, 4, 0}}},
      {"a[1:2:3, 2:3]",
       [&] { return RealSubscript(a, SR, 1, 2, 3, R, 2, 3, E); },
       {{2, 2}, {1, 2, 9, 10}}},
      {"a[{3,1,3}, 4]", [&] { return RealSubscript(a, V, v31, S, 4, E); }, {{3}, {11, 3, 11}}},
      {"a[{3,1,3}]",
       [&] { return RealSubscript(a, V, v31, E); },
       {{3, 4}, {8, 9, 10, 11, 0, 1, 2, 3, 8, 9, 10, 11}}},
      {"a[2:3, {4,1}]",
       [&] { return RealSubscript(a, R, 2, 3, V, v41, E); },
       {{2, 2}, {7, 4, 11, 8}}},
      {"a[{}, :]", [&] { return RealSubscript(a, V, none, C, E); }, {{0, 4}, {}}},
      {"a[:, 4:-2:1]",
       [&] { return RealSubscript(a, C, SR, 4, -2, 1, E); },
       {{3, 2}, {3, 1, 7, 5, 11, 9}}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(shaped(c.read()), c.expected);
  }
}

TEST_F(ArraysTest, SubscriptTakesTheSizeVectorThenTheElementsAndCopiesEvenWithoutSubscripts) {
  const RealArray a = matrix34();
  const BufferPlace before = threadPlace();
  const RealArray r = RealSubscript(a, C, S, 2, E);
  EXPECT_EQ(r.dims, before.Sizebuffer);
  EXPECT_EQ(r.data, before.Realbuffer);
  const RealArray copy = RealSubscript(a, E);
  EXPECT_NE(copy.dims, a.dims);
  EXPECT_NE(copy.data, a.data);
  const RealArray zero = RealSubscript(RealSubscript(a, S, 3, S, 4, E), E);
  EXPECT_EQ(shaped(zero), (Shaped{{}, {11}}));
}

TEST_F(ArraysTest, IntegerAndStringSubscriptsCopyElementsAndPointers) {
  const IntegerArray i = integerArray({2, 3}, {INT_MIN, 2, 3, 4, 5, INT_MAX});
  EXPECT_THAT(elementsOf(IntegerSubscript(i, C, S, 1, E)), ElementsAre(INT_MIN, 4));
  EXPECT_THAT(elementsOf(IntegerSubscript(i, S, 2, SR, 3, -2, 1, E)), ElementsAre(INT_MAX, 4));

  static const char *const names[] = {"a", "b", "c", "d"};
  const StringArray s = stringArray({2, 2}, {names[0], names[1], names[2], names[3]});
  const IntegerArray order = integerArray({2}, {2, 1});
  const StringArray r = StringSubscript(s, V, order, S, 2, E);
  EXPECT_THAT(elementsOf(r), ElementsAre(names[3], names[1])) << "the same pointers";
}

// ---- reading: checks ------------------------------------------------------------

TEST_F(ArraysTest, SubscriptChecksFailWithTheirTexts) {
  const RealArray a = matrix34();
  const IntegerArray v = integerArray({2}, {1, 4});
  const IntegerArray m = integerArray({1, 1}, {1});
  const IntegerArray v0 = integerArray({1}, {0});
  expectFailures({
      {"a[i, j, k] on 2-D", [&] { RealSubscript(a, S, 1, S, 1, S, 1, E); },
       assertionText("Internal error in subscriptring of array", "ndims>0")},
      {"a[:, :, :] on 2-D", [&] { RealSubscript(a, C, C, C, E); },
       assertionText("Too many subscripts for array", "nargs<=a.ndims")},
      {"start 0", [&] { RealSubscript(a, R, 0, 2, E); },
       assertionText("Range subscripting: start out of range",
                     "(start>=1)&&(start<=a.dims[a_dim])")},
      {"stop 4 of 3", [&] { RealSubscript(a, R, 2, 4, E); },
       assertionText("Range subscripting: end out of range", "(stop >=1)&&(stop <=a.dims[a_dim])")},
      {"1:2:4 selects 1 and 3 but tests its stop", [&] { RealSubscript(a, SR, 1, 2, 4, E); },
       assertionText("Range subscripting: end out of range", "(stop >=1)&&(stop <=a.dims[a_dim])")},
      {"step 0", [&] { RealSubscript(a, SR, 1, 0, 3, E); },
       assertionText("Range subscripting: step must not be zero", "step!=0")},
      {"matrix as index", [&] { RealSubscript(a, V, m, E); },
       assertionText("Array subscripting: only vectors (and scalars) allowed as indicies",
                     "v.ndims==1")},
      {"vector index 4 of 3", [&] { RealSubscript(a, V, v, E); },
       assertionText("Array subscripting: vector index out of range",
                     "(v.data[i]>=1)&&(v.data[i]<=a.dims[a_dim])")},
      {"vector index 0", [&] { RealSubscript(a, C, V, v0, E); },
       assertionText("Array subscripting: vector index out of range",
                     "(v.data[i]>=1)&&(v.data[i]<=a.dims[a_dim])")},
      {"scalar 5 of 4", [&] { RealSubscript(a, C, S, 5, E); },
       assertionText("Array subscripting: scalar index out of range",
                     "(i>=1)&&(i<=a.dims[a_dim])")},
      {"scalar INT_MIN",
       [&] {
         IntegerSubscript(integerArray({2}, {1, 2}), S, INT_MIN, E);
       },
       assertionText("Array subscripting: scalar index out of range",
                     "(i>=1)&&(i<=a.dims[a_dim])")},
      {"unknown kind", [&] { StringSubscript(stringArray({1}, {"x"}), 7, E); },
       assertionText("Array subscripting: unknown subscript kind", "(kind>=0)&&(kind<=5)")},
  });
}

// Range counts are formed in 64 bits: bounds far apart neither wrap into a
// wrong count nor divide INT_MIN by -1.
TEST_F(ArraysTest, RangeCountsOfExtremeBoundsNeitherWrapNorTrap) {
  const RealArray a = realArray({3}, {1, 2, 3});
  const std::string endOut =
      assertionText("Range subscripting: end out of range", "(stop >=1)&&(stop <=a.dims[a_dim])");
  const std::string startOut =
      assertionText("Range subscripting: start out of range", "(start>=1)&&(start<=a.dims[a_dim])");
  // The first two have stop - start + step = INT_MIN with a step of -1.
  EXPECT_EQ(failureOf([&] { RealSubscript(a, SR, 0, -1, INT_MIN + 1, E); }), startOut);
  EXPECT_EQ(failureOf([&] { RealSubscript(a, SR, 1, -1, INT_MIN + 2, E); }), endOut);
  EXPECT_EQ(failureOf([&] { RealSubscript(a, R, 1, INT_MAX, E); }), endOut);
  EXPECT_EQ(failureOf([&] { RealSubscript(a, SR, 1, INT_MAX, INT_MAX, E); }), endOut);
  EXPECT_EQ(failureOf([&] { RealSubscript(a, SR, INT_MIN, INT_MAX, INT_MAX, E); }), startOut);
  // Empty in exact arithmetic, though the 32-bit difference wraps positive.
  EXPECT_EQ(shaped(RealSubscript(a, R, INT_MAX, INT_MIN, E)), (Shaped{{0}, {}}));
  EXPECT_EQ(shaped(RealSubscript(a, SR, INT_MIN, -1, INT_MAX, E)), (Shaped{{0}, {}}));
  EXPECT_EQ(shaped(RealSubscript(a, SR, 3, INT_MIN, 1, E)), (Shaped{{1}, {3}}));
  EXPECT_EQ(shaped(RealSubscript(a, SR, 1, INT_MAX, 3, E)), (Shaped{{1}, {1}}));
}

TEST_F(ArraysTest, SubscriptChecksEverythingBeforeItAllocates) {
  const RealArray a = realArray({1, 1}, {5});
  // 46341 * 46341 elements do not fit in an int.
  const IntegerArray ones = IntegerAllocVector(46341);
  std::fill(ones.data, ones.data + 46341, 1);
  const BufferPlace before = threadPlace();
  EXPECT_EQ(failureOf([&] { RealSubscript(a, V, ones, V, ones, E); }),
            assertionText("Too many array elements", "nelements<=2147483647"));
  EXPECT_EQ(threadPlace(), before);
  EXPECT_EQ(
      failureOf([&] { RealSubscript(a, S, 1, S, 2, E); }),
      assertionText("Array subscripting: scalar index out of range", "(i>=1)&&(i<=a.dims[a_dim])"));
  EXPECT_EQ(threadPlace(), before);
}

// ---- the decoded records ----------------------------------------------------------

#define COLONS5 C, C, C, C, C
#define COLONS10 COLONS5, COLONS5
#define COLONS90                                                                                   \
  COLONS10, COLONS10, COLONS10, COLONS10, COLONS10, COLONS10, COLONS10, COLONS10, COLONS10

TEST_F(ArraysTest, AtMostNinetyFiveSubscriptsDecode) {
  const std::vector<int> ones(96, 1);
  const RealArray a = RealAllocList(96, ones.data());
  a.data[0] = 4.5;
  const RealArray r = RealSubscript(a, COLONS90, COLONS5, E);
  EXPECT_EQ(r.ndims, 96);
  EXPECT_EQ(r.data[0], 4.5);
  r.data[0] = 6.5;
  RealSubscriptAssign(r, a, COLONS90, COLONS5, E);
  EXPECT_EQ(a.data[0], 6.5);
  const std::string full = assertionText("Out of memory for va_list", "i+4<num_VA_handler");
  EXPECT_EQ(failureOf([&] { RealSubscript(a, COLONS90, COLONS5, C, E); }), full);
  EXPECT_EQ(failureOf([&] { RealSubscriptAssign(a, a, COLONS90, COLONS5, C, E); }), full);
}

DecodedSubscript *decode(DecodedSubscript *records, int capacity, ...) {
  va_list list;
  va_start(list, capacity);
  DecodedSubscript *r = SubscriptsFromVA(&list, records, capacity);
  va_end(list);
  return r;
}

TEST_F(ArraysTest, SubscriptsFromVADecodesEveryKindUpToTheEnd) {
  const IntegerArray v = integerArray({2}, {2, 1});
  DecodedSubscript records[12] = {};
  records[6].kind = 99;
  EXPECT_EQ(decode(records, 10, C, R, 2, 3, SR, 4, -1, 1, V, v, S, 7, E), records);
  EXPECT_EQ(records[0].kind, C);
  EXPECT_EQ(records[1].kind, R);
  EXPECT_EQ(records[1].range.start, 2);
  EXPECT_EQ(records[1].range.step, 1);
  EXPECT_EQ(records[1].range.stop, 3);
  EXPECT_EQ(records[2].range.step, -1);
  EXPECT_EQ(records[3].vector.data, v.data);
  EXPECT_EQ(records[3].vector.dims, v.dims);
  EXPECT_EQ(records[4].range.start, 7);
  EXPECT_EQ(records[5].kind, E);
  EXPECT_EQ(records[6].kind, 99) << "nothing after the end record";

  records[0].kind = 42;
  decode(records, 0, C, E);
  EXPECT_EQ(records[0].kind, 42) << "a capacity of 0 decodes nothing";
  EXPECT_EQ(failureOf([&] { decode(records, 4, E); }),
            assertionText("Out of memory for va_list", "i+4<num_VA_handler"));
  EXPECT_EQ(failureOf([&] { decode(records, 6, C, C, E); }),
            assertionText("Out of memory for va_list", "i+4<num_VA_handler"));
  decode(records, 6, C, E);
  EXPECT_EQ(records[1].kind, E);
}

TEST_F(ArraysTest, WalksWithoutRecordsDoNothing) {
  const RealArray a = realArray({2}, {1, 2});
  const RealArray b = realArray({2}, {3, 4});
  RealSubscriptGather(a, 0, 0, b, 0, 0, 2, nullptr);
  RealSubscriptScatter(a, 0, 0, b, 0, 0, 2, nullptr);
  EXPECT_THAT(elementsOf(a), ElementsAre(1, 2));
  DecodedSubscript end[1] = {};
  end[0].kind = SubscriptEnd;
  IntegerArray i = integerArray({2}, {1, 2});
  IntegerSubscriptScatter(i, 1, 0, integerArray({2}, {7, 8}), 0, 0, 1, end);
  EXPECT_THAT(elementsOf(i), ElementsAre(1, 7));
}

// ---- writing ------------------------------------------------------------------------

TEST_F(ArraysTest, SubscriptAssignWritesTheSelectedPartOnly) {
  struct Case {
    const char *name;
    std::function<void(RealArray out)> write;
    std::vector<double> expected; // of the 3x4 positions matrix
  };
  const IntegerArray v = integerArray({3}, {4, 1, 4});
  const Case cases[] = {
      {"out[2, :] := {-1..-4}",
       [](RealArray out) {
         RealSubscriptAssign(realArray({4}, {-1, -2, -3, -4}), out, S, 2, E);
       },
       {0, 1, 2, 3, -1, -2, -3, -4, 8, 9, 10, 11}},
      {"out[:, 2] := {-1, -2, -3}",
       [](RealArray out) {
         RealSubscriptAssign(realArray({3}, {-1, -2, -3}), out, C, S, 2, E);
       },
       {0, -1, 2, 3, 4, -2, 6, 7, 8, -3, 10, 11}},
      {"out[3:-2:1, 2:3] := 2x2",
       [](RealArray out) {
         RealSubscriptAssign(realArray({2, 2}, {-1, -2, -3, -4}), out, SR, 3, -2, 1, R, 2, 3, E);
       },
       {0, -3, -4, 3, 4, 5, 6, 7, 8, -1, -2, 11}},
      {"out[1, {4, 1, 4}] := {-1, -2, -3}: the later write stays",
       [&](RealArray out) {
         RealSubscriptAssign(realArray({3}, {-1, -2, -3}), out, S, 1, V, v, E);
       },
       {-2, 1, 2, -3, 4, 5, 6, 7, 8, 9, 10, 11}},
      {"out[2, 3] := -0",
       [](RealArray out) { RealSubscriptAssign(realArray({}, {-0.0}), out, S, 2, S, 3, E); },
       {0, 1, 2, 3, 4, 5, -0.0, 7, 8, 9, 10, 11}},
      {"out[3:1] := empty",
       [](RealArray out) { RealSubscriptAssign(RealAllocDims(2, 0, 4), out, R, 3, 1, E); },
       positions(12)},
      {"out[] := 3x4",
       [](RealArray out) {
         RealSubscriptAssign(realArray({3, 4}, std::vector<double>(12, 1.0)), out, E);
       },
       std::vector<double>(12, 1.0)},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    const RealArray out = matrix34();
    c.write(out);
    EXPECT_EQ(bitsOf(elementsOf(out)), bitsOf(c.expected));
  }
}

TEST_F(ArraysTest, SubscriptAssignOfASharingSourceWritesTheValuesBeforeTheCall) {
  // out[2:4] := out[1:3], the source a record over the same elements.
  const IntegerArray out = integerArray({4}, {1, 2, 3, 4});
  const IntegerArray view{1, out.dims, out.data};
  int three = 3;
  IntegerSubscriptAssign(IntegerArray{1, &three, out.data}, out, R, 2, 4, E);
  EXPECT_THAT(elementsOf(out), ElementsAre(1, 1, 2, 3));
  IntegerSubscriptAssign(view, out, SR, 4, -1, 1, E);
  EXPECT_THAT(elementsOf(out), ElementsAre(3, 2, 1, 1));

  static const char *const names[] = {"x", "y"};
  const StringArray s = stringArray({2}, {names[0], names[1]});
  StringSubscriptAssign(s, s, SR, 2, -1, 1, E);
  EXPECT_THAT(elementsOf(s), ElementsAre(names[1], names[0]));
}

TEST_F(ArraysTest, SubscriptAssignChecksFailWithTheirTextsBeforeAnyWrite) {
  const RealArray out = matrix34();
  const RealArray row4 = realArray({4}, {-1, -2, -3, -4});
  const RealArray col3 = realArray({3}, {-1, -2, -3});
  const RealArray scalar = realArray({}, {-1});
  const IntegerArray m = integerArray({1, 1}, {1});
  const IntegerArray v2 = integerArray({2}, {1, 2});
  const IntegerArray v4 = integerArray({4}, {1, 2, 3, 5});
  const std::string internal = "Internal error in subscripting";
  expectFailures({
      {"out[:, 1] := 4-vector", [&] { RealSubscriptAssign(row4, out, C, S, 1, E); },
       assertionText("Assignment array subscripting: A[:]=B must have identical sizes",
                     "out.dims[out_dim]==a.dims[a_dim]")},
      {"colon beyond the destination", [&] { RealSubscriptAssign(row4, out, S, 1, C, C, E); },
       assertionText("Internal error in subscripting (:)", "out_dim<out.ndims")},
      {"colon beyond the source", [&] { RealSubscriptAssign(scalar, out, S, 1, C, E); },
       assertionText("Internal error in subscripting (:)", "a_dim<a.ndims")},
      {"range beyond the destination",
       [&] { RealSubscriptAssign(row4, out, S, 1, S, 1, R, 1, 2, E); },
       assertionText("Internal error in subscripting: range", "out_dim<out.ndims")},
      {"range beyond the source", [&] { RealSubscriptAssign(scalar, out, S, 1, R, 1, 1, E); },
       assertionText("Internal error in subscripting: range ", "a_dim<a.ndims")},
      {"range start 0", [&] { RealSubscriptAssign(col3, out, R, 0, 2, S, 1, E); },
       assertionText("Assignment array subscripting: start of range out of bounds",
                     "(start>=1)&&(start<=out.dims[out_dim])")},
      {"range stop 4 of 3", [&] { RealSubscriptAssign(col3, out, R, 2, 4, S, 1, E); },
       assertionText("Assignment array subscripting: end of range out of bounds",
                     "(stop>=1)&&(stop<=out.dims[out_dim])")},
      {"range of 2 from 3", [&] { RealSubscriptAssign(col3, out, R, 1, 2, S, 1, E); },
       assertionText("Assignment array subscripting: A[a:b]=B must have identical sizes",
                     "a.dims[a_dim]==num")},
      {"step 0", [&] { RealSubscriptAssign(col3, out, SR, 1, 0, 3, S, 1, E); },
       assertionText("Assignment array subscripting: step of range must not be zero", "step!=0")},
      {"extreme range", [&] { RealSubscriptAssign(col3, out, SR, 1, -1, INT_MIN + 2, S, 1, E); },
       assertionText("Assignment array subscripting: end of range out of bounds",
                     "(stop>=1)&&(stop<=out.dims[out_dim])")},
      {"vector beyond the destination",
       [&] { RealSubscriptAssign(row4, out, S, 1, S, 1, V, v2, E); },
       assertionText("Internal error in vector subscripting", "out_dim<out.ndims")},
      {"vector beyond the source", [&] { RealSubscriptAssign(scalar, out, S, 1, V, v2, E); },
       assertionText("Internal error in vector subscripting", "a_dim<a.ndims")},
      {"matrix as index", [&] { RealSubscriptAssign(col3, out, V, m, S, 1, E); },
       assertionText("Assignment array subscripting: array index must be a vector", "v.ndims==1")},
      {"vector of 2 from 3", [&] { RealSubscriptAssign(col3, out, V, v2, S, 1, E); },
       assertionText("Assignment array subscripting: A[vect]=B must have identical sizes",
                     "a.dims[a_dim]==v.dims[0]")},
      {"vector index 5 of 4", [&] { RealSubscriptAssign(row4, out, S, 1, V, v4, E); },
       assertionText("Assignment array subscripting: vector index out of bounds",
                     "(v.data[i]>=1)&&(v.data[i]<=out.dims[out_dim])")},
      {"scalar beyond the destination",
       [&] { RealSubscriptAssign(scalar, out, S, 1, S, 1, S, 1, E); },
       assertionText("Internal error in scalar subscripting", "out_dim<out.ndims")},
      {"scalar 0", [&] { RealSubscriptAssign(row4, out, S, 0, E); },
       assertionText("Assignment array subscripting: scalar index out of bounds",
                     "(i>=1)&&(i<=out.dims[out_dim])")},
      {"out[1] := scalar", [&] { RealSubscriptAssign(scalar, out, S, 1, E); },
       assertionText("Assignment array subscripting: unequal number of dimensions",
                     "a.ndims-a_dim==out.ndims-out_dim")},
      {"out[1] := 3-vector", [&] { RealSubscriptAssign(col3, out, S, 1, E); },
       assertionText(internal.c_str(), "a.dims[i]==out.dims[(i-a_dim)+out_dim]")},
      {"unknown kind", [&] { RealSubscriptAssign(col3, out, -1, E); },
       assertionText("Array subscripting: unknown subscript kind", "(kind>=0)&&(kind<=5)")},
  });
  EXPECT_EQ(elementsOf(out), positions(12)) << "no failed assignment wrote anything";
}

TEST_F(ArraysTest, IntegerAndStringSubscriptAssignMoveElementsAndPointers) {
  const IntegerArray out = IntegerAllocDims(2, 2, 2);
  std::fill(out.data, out.data + 4, 0);
  IntegerSubscriptAssign(integerArray({2}, {INT_MIN, INT_MAX}), out, C, S, 2, E);
  EXPECT_THAT(elementsOf(out), ElementsAre(0, INT_MIN, 0, INT_MAX));
  EXPECT_EQ(failureOf([&] { IntegerSubscriptAssign(out, out, S, 3, E); }),
            assertionText("Assignment array subscripting: scalar index out of bounds",
                          "(i>=1)&&(i<=out.dims[out_dim])"));

  static const char *const text = "new";
  const StringArray s = stringArray({3}, {"a", "b", "c"});
  StringSubscriptAssign(stringArray({}, {text}), s, S, 2, E);
  EXPECT_EQ(s.data[1], text);
}

} // namespace
