// Array records: constructors and where their storage comes from, element
// access and its bound checks, sizes, copies, caller storage, printing, and
// the 64-bit checks of sizes and element counts.
#include "tests/arrays/support.h"

#include <gmock/gmock.h>

#include <climits>
#include <cmath>
#include <limits>

namespace {

using ::testing::ElementsAre;

const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();

// ---- constructors ------------------------------------------------------------

// Slots taken from each thread buffer between two places.
struct Taken {
  long reals, integers, sizes, strings;
  bool operator==(const Taken &) const = default;
};

Taken takenBetween(const BufferPlace &before, const BufferPlace &after) {
  return {after.Realbuffer - before.Realbuffer, after.Integerbuffer - before.Integerbuffer,
          after.Sizebuffer - before.Sizebuffer, after.Stringbuffer - before.Stringbuffer};
}

std::ostream &operator<<(std::ostream &out, const Taken &t) {
  return out << "{reals " << t.reals << ", integers " << t.integers << ", sizes " << t.sizes
             << ", strings " << t.strings << "}";
}

struct Header {
  int ndims;
  const int *dims;
};
template <class A> Header headerOf(const A &a) { return {a.ndims, a.dims}; }

TEST_F(ArraysTest, ConstructorsTakeTheSizeVectorFirstThenTheElementsFromTheirBuffer) {
  const int sizes[] = {2, 3, 4};
  const RealArray like = realArray({3, 5}, {});
  struct Case {
    const char *name;
    std::function<Header()> make;
    std::vector<int> sizes;
    Taken taken;
  };
  const Case cases[] = {
      {"RealAllocDims",
       [] { return headerOf(RealAllocDims(3, 2, 3, 4)); },
       {2, 3, 4},
       {24, 0, 3, 0}},
      {"IntegerAllocDims",
       [] { return headerOf(IntegerAllocDims(2, 5, 1)); },
       {5, 1},
       {0, 5, 2, 0}},
      {"StringAllocDims", [] { return headerOf(StringAllocDims(1, 7)); }, {7}, {0, 0, 1, 7}},
      {"RealAllocList",
       [&] { return headerOf(RealAllocList(3, sizes)); },
       {2, 3, 4},
       {24, 0, 3, 0}},
      {"IntegerAllocList",
       [&] { return headerOf(IntegerAllocList(2, sizes)); },
       {2, 3},
       {0, 6, 2, 0}},
      {"StringAllocList", [&] { return headerOf(StringAllocList(1, sizes)); }, {2}, {0, 0, 1, 2}},
      {"RealMakeHeader",
       [&] { return headerOf(RealMakeHeader(3, sizes)); },
       {2, 3, 4},
       {0, 0, 3, 0}},
      {"IntegerMakeHeader",
       [&] { return headerOf(IntegerMakeHeader(2, sizes)); },
       {2, 3},
       {0, 0, 2, 0}},
      {"StringMakeHeader", [&] { return headerOf(StringMakeHeader(0, sizes)); }, {}, {0, 0, 0, 0}},
      {"RealAllocMatrix", [] { return headerOf(RealAllocMatrix(2, 5)); }, {2, 5}, {10, 0, 2, 0}},
      {"IntegerAllocMatrix",
       [] { return headerOf(IntegerAllocMatrix(0, 5)); },
       {0, 5},
       {0, 0, 2, 0}},
      {"StringAllocMatrix", [] { return headerOf(StringAllocMatrix(3, 1)); }, {3, 1}, {0, 0, 2, 3}},
      {"RealAllocVector", [] { return headerOf(RealAllocVector(4)); }, {4}, {4, 0, 1, 0}},
      {"IntegerAllocVector", [] { return headerOf(IntegerAllocVector(0)); }, {0}, {0, 0, 1, 0}},
      {"StringAllocVector", [] { return headerOf(StringAllocVector(2)); }, {2}, {0, 0, 1, 2}},
      {"RealAllocLike", [&] { return headerOf(RealAllocLike(like)); }, {3, 5}, {15, 0, 2, 0}},
      {"RealAllocDims(0)", [] { return headerOf(RealAllocDims(0)); }, {}, {1, 0, 0, 0}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    const BufferPlace before = threadPlace();
    const Header h = c.make();
    EXPECT_EQ(sizesOf(h.ndims, h.dims), c.sizes);
    EXPECT_EQ(h.dims, before.Sizebuffer) << "the size vector comes first, from the Sizebuffer";
    EXPECT_EQ(takenBetween(before, threadPlace()), c.taken);
  }
}

TEST_F(ArraysTest, ElementBlockFollowsTheSizeVectorAndLikeCopiesOnlyTheSizes) {
  RealArray a = realArray({2, 2}, {1, 2, 3, 4});
  const BufferPlace before = threadPlace();
  const RealArray b = RealAllocLike(a);
  EXPECT_EQ(b.dims, before.Sizebuffer);
  EXPECT_EQ(b.data, before.Realbuffer);
  EXPECT_NE(b.dims, a.dims);
  a.dims[0] = 7;
  EXPECT_EQ(b.dims[0], 2) << "the sizes are a copy";
}

TEST_F(ArraysTest, PersistentConstructorsTakeOnlyFromThePersistentBuffers) {
  const int sizes[] = {2, 3};
  const BufferPlace thread = threadPlace();
  const BufferPlace before = persistentPlace();
  const RealArray r = RealAllocDimsNon(2, 2, 3);
  const IntegerArray i = IntegerAllocListNon(2, sizes);
  const StringArray s = StringAllocDimsNon(1, 4);
  const RealArray h = RealMakeHeaderNon(1, sizes);
  const IntegerArray ih = IntegerMakeHeaderNon(2, sizes);
  const StringArray sh = StringMakeHeaderNon(1, sizes);
  const RealArray rl = RealAllocListNon(1, sizes);
  const IntegerArray id = IntegerAllocDimsNon(0);
  const StringArray sl = StringAllocListNon(2, sizes);
  EXPECT_EQ(threadPlace(), thread);
  EXPECT_EQ(r.dims, before.Sizebuffer);
  EXPECT_EQ(r.data, before.Realbuffer);
  EXPECT_EQ(i.data, before.Integerbuffer);
  EXPECT_EQ(s.data, before.Stringbuffer);
  EXPECT_EQ(sizesOf(h), std::vector<int>{2});
  EXPECT_EQ(sizesOf(ih), (std::vector<int>{2, 3}));
  EXPECT_EQ(sizesOf(sh), std::vector<int>{2});
  EXPECT_EQ(sizesOf(rl), std::vector<int>{2});
  EXPECT_EQ(id.ndims, 0);
  EXPECT_EQ(sizesOf(sl), (std::vector<int>{2, 3}));
  const Taken taken = takenBetween(before, persistentPlace());
  EXPECT_EQ(taken, (Taken{6 + 2, 6 + 1, 2 + 2 + 1 + 1 + 2 + 1 + 1 + 0 + 2, 4 + 6}));
}

// ---- element access ------------------------------------------------------------

TEST_F(ArraysTest, ElementsAreRowMajorAndSetTakesTheValueFirst) {
  const RealArray r = RealAllocDims(2, 2, 3);
  const IntegerArray i = IntegerAllocDims(3, 2, 3, 4);
  const StringArray s = StringAllocDims(2, 2, 2);
  for (int row = 1; row <= 2; ++row)
    for (int col = 1; col <= 3; ++col) RealSetElement(10 * row + col, r, row, col);
  EXPECT_EQ(elementsOf(r), (std::vector<double>{11, 12, 13, 21, 22, 23}));
  EXPECT_EQ(RealGetElement(r, 2, 1), 21);
  EXPECT_EQ(RealElementAddress(r, 2, 3), r.data + 5);

  IntegerSetElement(-7, i, 2, 3, 4);
  IntegerSetElement(5, i, 1, 2, 3);
  EXPECT_EQ(i.data[23], -7);
  EXPECT_EQ(i.data[(0 * 3 + 1) * 4 + 2], 5);
  EXPECT_EQ(IntegerGetElement(i, 2, 3, 4), -7);

  const char *text = "pointer only";
  StringSetElement(text, s, 2, 1);
  EXPECT_EQ(s.data[2], text);
  EXPECT_EQ(StringGetElement(s, 2, 1), text);

  const int sizes[] = {2, 3, 4};
  const int subscripts[] = {2, 1, 3};
  EXPECT_EQ(DimsLinearIndex(3, sizes, subscripts), (1 * 3 + 0) * 4 + 2);
  EXPECT_EQ(DimsLinearIndex(0, sizes, subscripts), 0);
}

TEST_F(ArraysTest, ZeroDimensionalArrayHasOneElementAndTakesNoSizeSlot) {
  const BufferPlace before = threadPlace();
  const RealArray a = RealAllocDims(0);
  EXPECT_EQ(takenBetween(before, threadPlace()), (Taken{1, 0, 0, 0}));
  EXPECT_EQ(RealNrElements(a), 1);
  RealSetElement(2.5, a);
  EXPECT_EQ(RealGetElement(a), 2.5);
  const IntegerArray i = IntegerAllocDims(0);
  IntegerSetElement(3, i);
  EXPECT_EQ(IntegerGetElement(i), 3);
}

TEST_F(ArraysTest, SubscriptsOutsideTheirSizeFail) {
  const RealArray r1 = RealAllocDims(1, 3);
  const RealArray r2 = RealAllocDims(2, 2, 3);
  const IntegerArray i1 = IntegerAllocDims(1, 3);
  const StringArray s2 = StringAllocDims(2, 2, 3);
  const std::string general = assertionText("Index out of bounds", "(j>=1)&&(j<=dim)");
  const std::string realVector =
      assertionText("Index out of bounds", "(j >= 1) && (j <= a.dims[0])");
  const int sizes[] = {2, 3};
  const int outside[] = {2, 4};
  struct Case {
    const char *name;
    std::function<void()> body;
    std::string text;
  };
  const Case cases[] = {
      {"RealGetElement 1-D, 0", [&] { RealGetElement(r1, 0); }, realVector},
      {"RealGetElement 1-D, size+1", [&] { RealGetElement(r1, 4); }, realVector},
      {"RealGetElement 2-D", [&] { RealGetElement(r2, 3, 1); }, general},
      {"RealSetElement 1-D, 0", [&] { RealSetElement(1, r1, 0); }, general},
      {"RealSetElement 1-D, size+1", [&] { RealSetElement(1, r1, 4); }, general},
      {"RealElementAddress", [&] { RealElementAddress(r2, 1, 0); }, general},
      {"IntegerGetElement 1-D", [&] { IntegerGetElement(i1, 4); }, general},
      {"IntegerSetElement 1-D", [&] { IntegerSetElement(1, i1, 0); }, general},
      {"StringGetElement", [&] { StringGetElement(s2, 1, 4); }, general},
      {"StringSetElement", [&] { StringSetElement("x", s2, 0, 1); }, general},
      {"DimsLinearIndex", [&] { DimsLinearIndex(2, sizes, outside); }, general},
      {"INT_MIN", [&] { IntegerGetElement(i1, INT_MIN); }, general},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(failureOf(c.body), c.text);
  }
}

// ---- sizes ---------------------------------------------------------------------

TEST_F(ArraysTest, SizeCountsDimensionsFromOne) {
  const RealArray r = RealAllocDims(3, 2, 0, 4);
  EXPECT_EQ(RealSize(r, 1), 2);
  EXPECT_EQ(RealSize(r, 2), 0);
  EXPECT_EQ(RealSize(r, 3), 4);
  EXPECT_EQ(RealNrElements(r), 0);
  EXPECT_EQ(IntegerSize(IntegerAllocDims(1, 5), 1), 5);
  EXPECT_EQ(StringSize(StringAllocDims(2, 1, 6), 2), 6);
  const std::string text =
      assertionText("Size must be between 1 and ndims of array", "(i>=1)&&(i<=a.ndims)");
  EXPECT_EQ(failureOf([&] { RealSize(r, 0); }), text);
  EXPECT_EQ(failureOf([&] { RealSize(r, 4); }), text);
  EXPECT_EQ(failureOf([] { IntegerSize(IntegerAllocDims(0), 1); }), text);
  EXPECT_EQ(failureOf([] { StringSize(StringAllocDims(1, 2), 2); }), text);
}

TEST_F(ArraysTest, NrElementsIsTheProductOfTheSizes) {
  const int sizes[] = {2, 3, 4};
  EXPECT_EQ(DimsNrElements(3, sizes), 24);
  EXPECT_EQ(DimsNrElements(0, sizes), 1);
  EXPECT_EQ(DimsNrElements(-1, sizes), 1);
  EXPECT_EQ(DimsNrElementsLeading(3, sizes), 6);
  EXPECT_EQ(DimsNrElementsLeading(1, sizes), 1);
  EXPECT_EQ(IntegerNrElements(IntegerAllocDims(2, 3, 5)), 15);
  EXPECT_EQ(StringNrElements(StringAllocDims(0)), 1);
}

TEST_F(ArraysTest, SizeVectorTakesItsSizeSlotFirstAndHoldsTheSizes) {
  const RealArray r = RealAllocDims(3, 2, 0, 4);
  const BufferPlace before = threadPlace();
  const IntegerArray v = RealSizeVector(r);
  EXPECT_EQ(v.dims, before.Sizebuffer);
  EXPECT_EQ(v.data, before.Integerbuffer);
  EXPECT_EQ(sizesOf(v), std::vector<int>{3});
  EXPECT_EQ(elementsOf(v), (std::vector<int>{2, 0, 4}));
  EXPECT_EQ(takenBetween(before, threadPlace()), (Taken{0, 3, 1, 0}));

  const IntegerArray empty = StringSizeVector(StringAllocDims(0));
  EXPECT_EQ(sizesOf(empty), std::vector<int>{0});
  EXPECT_EQ(elementsOf(IntegerSizeVector(IntegerAllocDims(1, 9))), std::vector<int>{9});
}

TEST_F(ArraysTest, MatchingSizesComparesNdimsAndEverySizeOnly) {
  struct Case {
    std::vector<int> a, b;
    int matching;
  };
  const Case cases[] = {
      {{}, {}, 1},   {{2, 3}, {2, 3}, 1}, {{2, 3}, {3, 2}, 0}, {{6}, {2, 3}, 0},
      {{0}, {0}, 1}, {{2, 0}, {2, 1}, 0}, {{1}, {}, 0},        {{2, 3, 4}, {2, 3, 4}, 1},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.a) + " vs " + ::testing::PrintToString(c.b));
    const int na = static_cast<int>(c.a.size()), nb = static_cast<int>(c.b.size());
    EXPECT_EQ(RealMatchingSizes(RealMakeHeader(na, c.a.data()), RealMakeHeader(nb, c.b.data())),
              c.matching);
    EXPECT_EQ(
        IntegerMatchingSizes(IntegerMakeHeader(na, c.a.data()), IntegerMakeHeader(nb, c.b.data())),
        c.matching);
    EXPECT_EQ(
        StringMatchingSizes(StringMakeHeader(na, c.a.data()), StringMakeHeader(nb, c.b.data())),
        c.matching);
  }
}

// ---- copies and caller storage ---------------------------------------------------

TEST_F(ArraysTest, AssignCopiesIntoTheDestinationWithoutAllocating) {
  const RealArray a = realArray({2, 3}, {0, 0, 0, 0, 0, 0});
  const RealArray b = realArray({2, 3}, {1, -0.0, kNaN, 4, 5, 6});
  const BufferPlace before = threadPlace();
  RealAssign(a, b);
  EXPECT_EQ(threadPlace(), before);
  EXPECT_EQ(bitsOf(elementsOf(a)), bitsOf(elementsOf(b)));

  const IntegerArray ia = integerArray({0, 4}, {});
  IntegerAssign(ia, integerArray({0, 4}, {}));
  const StringArray sa = stringArray({2}, {"a", "b"});
  StringAssign(sa, stringArray({2}, {"c", "d"}));
  EXPECT_STREQ(sa.data[0], "c");
  EXPECT_STREQ(sa.data[1], "d");
}

TEST_F(ArraysTest, AssignOfAnotherShapeFailsThoughTheCountsAgree) {
  EXPECT_EQ(failureOf([] { RealAssign(RealAllocDims(2, 3, 2), RealAllocDims(2, 2, 3)); }),
            assertionText("Array dimensions did not match", "RealMatchingSizes(a,b)"));
  EXPECT_EQ(failureOf([] { IntegerAssign(IntegerAllocDims(1, 6), IntegerAllocDims(2, 2, 3)); }),
            assertionText("Array dimensions did not match", "IntegerMatchingSizes(a,b)"));
  EXPECT_EQ(failureOf([] { StringAssign(StringAllocDims(1, 2), StringAllocDims(1, 3)); }),
            assertionText("Array dimensions did not match", "StringMatchingSizes(a,b)"));
}

TEST_F(ArraysTest, CopyHasItsOwnSizesAndElementsButSharesStringCharacters) {
  const RealArray a = realArray({2, 2}, {1, 2, 3, 4});
  const BufferPlace before = threadPlace();
  const RealArray c = RealCopy(a);
  EXPECT_EQ(c.dims, before.Sizebuffer);
  EXPECT_EQ(c.data, before.Realbuffer);
  EXPECT_EQ(sizesOf(c), sizesOf(a));
  EXPECT_EQ(elementsOf(c), elementsOf(a));

  const IntegerArray i = IntegerCopy(integerArray({3}, {INT_MIN, 0, INT_MAX}));
  EXPECT_THAT(elementsOf(i), ElementsAre(INT_MIN, 0, INT_MAX));

  const StringArray s = stringArray({2}, {"one", "two"});
  const StringArray sc = StringCopy(s);
  EXPECT_NE(sc.data, s.data);
  EXPECT_EQ(elementsOf(sc), elementsOf(s)) << "equal pointers: the characters are shared";
}

TEST_F(ArraysTest, CallerStorageIsCopiedOutOrWrappedInPlace) {
  double out[4] = {};
  RealCopyData(out, realArray({2, 2}, {1, 2, 3, 4}));
  EXPECT_THAT(out, ElementsAre(1, 2, 3, 4));

  double reals[6] = {1, 2, 3, 4, 5, 6};
  const BufferPlace before = threadPlace();
  const RealArray r = RealWrapData(reals, 2, 3, 2);
  EXPECT_EQ(takenBetween(before, threadPlace()), (Taken{0, 0, 2, 0}));
  EXPECT_EQ(r.data, reals);
  EXPECT_EQ(sizesOf(r), (std::vector<int>{3, 2}));
  EXPECT_EQ(RealGetElement(r, 3, 1), 5);

  int integers[2] = {7, 8};
  EXPECT_EQ(IntegerWrapData(integers, 1, 2).data, integers);
  char *strings[1] = {const_cast<char *>("s")};
  const StringArray s = StringWrapData(strings, 0);
  EXPECT_EQ(s.data, strings);
  EXPECT_EQ(s.ndims, 0);
}

TEST_F(ArraysTest, IntegerFromRealDataTruncatesTowardZero) {
  struct Case {
    double value;
    int expected;
  };
  const Case cases[] = {
      {2.7, 2},
      {-2.7, -2},
      {-0.0, 0},
      {-0.5, 0},
      {2147483647.9, INT_MAX},
      {-2147483648.9, INT_MIN},
      {2147483648.0, INT_MIN}, // outside the 32-bit range
      {-2147483649.0, INT_MIN},
      {1e300, INT_MIN},
      {kInf, INT_MIN},
      {-kInf, INT_MIN},
      {kNaN, INT_MIN},
  };
  std::vector<double> values;
  for (const Case &c : cases) values.push_back(c.value);
  const IntegerArray a = IntegerFromRealData(values.data(), 2, 2, 6);
  EXPECT_EQ(sizesOf(a), (std::vector<int>{2, 6}));
  for (size_t k = 0; k < values.size(); ++k) {
    SCOPED_TRACE(values[k]);
    EXPECT_EQ(a.data[k], cases[k].expected);
  }
}

// ---- printing --------------------------------------------------------------------

TEST_F(ArraysTest, PrintLogsTheShapeThenOneLinePerElement) {
  RealPrint(realArray({2, 1}, {1.5, -0.0}));
  EXPECT_EQ(capturedTexts(), (std::vector<std::string>{"Dims:  2", "  2", "  1", "  [0, 1] = 1.5",
                                                       "  [1, 1] = -0"}));
  clearMessages();
  IntegerPrint(integerArray({3}, {INT_MIN, 0, 7}));
  EXPECT_EQ(capturedTexts(), (std::vector<std::string>{"Dims:  1", "  3", "  [0, 1] = -2.14748E+09",
                                                       "  [1, 1] = 0", "  [2, 1] = 7"}));
  clearMessages();
  StringPrint(stringArray({2}, {"alpha", "beta"}));
  EXPECT_EQ(capturedTexts(), (std::vector<std::string>{"Dims:  1", "  2", "alpha", "beta"}));
  clearMessages();
  RealPrint(RealAllocDims(2, 3, 0));
  EXPECT_EQ(capturedTexts(), (std::vector<std::string>{"Dims:  2", "  3", "  0"}));
  for (const CapturedMessage &m : capturedMessages()) EXPECT_EQ(m.level, 0);
}

// ---- sizes and counts in 64 bits ---------------------------------------------------

// A negative size or number of dimensions and an element count beyond the
// int range fail before anything is taken from any buffer.
TEST_F(ArraysTest, BadSizesFailBeforeAnyBufferMoves) {
  const std::string negativeSize = assertionText("Array sizes must not be negative", "dim>=0");
  const std::string negativeNdims =
      assertionText("Number of dimensions must not be negative", "ndims>=0");
  const std::string tooMany = assertionText("Too many array elements", "nelements<=2147483647");
  const int negative[] = {3, -1};
  const int huge[] = {65536, 32768};
  const int limit[] = {65536, 32767};
  double reals[1];
  struct Case {
    const char *name;
    std::function<void()> body;
    std::string text;
  };
  const Case cases[] = {
      {"RealAllocDims negative size", [] { RealAllocDims(2, 4, -1); }, negativeSize},
      {"IntegerAllocDims INT_MIN", [] { IntegerAllocDims(1, INT_MIN); }, negativeSize},
      {"StringAllocList negative", [&] { StringAllocList(2, negative); }, negativeSize},
      {"RealMakeHeader negative", [&] { RealMakeHeader(2, negative); }, negativeSize},
      {"RealAllocVector(-1)", [] { RealAllocVector(-1); }, negativeSize},
      {"IntegerAllocMatrix(2, -3)", [] { IntegerAllocMatrix(2, -3); }, negativeSize},
      {"RealAllocDims negative ndims", [] { RealAllocDims(-1); }, negativeNdims},
      {"StringMakeHeader negative ndims", [&] { StringMakeHeader(-2, huge); }, negativeNdims},
      {"RealAllocMatrix 2^31", [] { RealAllocMatrix(65536, 32768); }, tooMany},
      {"IntegerAllocList 2^31", [&] { IntegerAllocList(2, huge); }, tooMany},
      {"RealAllocDims 2^93", [] { RealAllocDims(3, INT_MAX, INT_MAX, INT_MAX); }, tooMany},
      {"RealWrapData negative", [&] { RealWrapData(reals, 1, -1); }, negativeSize},
      {"RealWrapData too many", [&] { RealWrapData(reals, 2, 65536, 32768); }, tooMany},
      {"IntegerFromRealData too many", [&] { IntegerFromRealData(reals, 2, 65536, 32768); },
       tooMany},
      {"DimsNrElements too many", [&] { DimsNrElements(2, huge); }, tooMany},
      {"DimsNrElements negative", [&] { DimsNrElements(2, negative); }, negativeSize},
      {"RealAllocDimsNon negative", [] { RealAllocDimsNon(1, -5); }, negativeSize},
      {"IntegerAllocListNon too many", [&] { IntegerAllocListNon(2, huge); }, tooMany},
      {"StringMakeHeaderNon negative ndims", [&] { StringMakeHeaderNon(-1, huge); }, negativeNdims},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    const BufferPlace thread = threadPlace();
    const BufferPlace persistent = persistentPlace();
    EXPECT_EQ(failureOf(c.body), c.text);
    EXPECT_EQ(threadPlace(), thread);
    EXPECT_EQ(persistentPlace(), persistent);
  }
  // The largest count passes the check and reaches the allocator, which
  // reports the buffer as exhausted.
  EXPECT_EQ(DimsNrElements(2, limit), 2147418112);
  EXPECT_NE(failureOf([] { RealAllocMatrix(65536, 32767); }).find("Out of memory for reals"),
            std::string::npos);
}

TEST_F(ArraysTest, ASizeZeroMakesAnyProductEmpty) {
  const RealArray a = RealAllocDims(4, INT_MAX, INT_MAX, INT_MAX, 0);
  EXPECT_EQ(RealNrElements(a), 0);
  const int sizes[] = {0, INT_MAX, INT_MAX};
  EXPECT_EQ(DimsNrElements(3, sizes), 0);
  EXPECT_EQ(DimsNrElementsLeading(3, sizes), 0);
}

} // namespace
