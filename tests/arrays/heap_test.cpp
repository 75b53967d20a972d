// Once the calling thread's buffers exist, no array operation calls the heap.
// Each area of the library adds its operations to the table below.
#include "tests/arrays/heap_count.h"
#include "tests/arrays/support.h"

#include <cstdlib>

namespace {

void *volatile sink;

TEST(HeapCount, SeesOperatorNewAndTheMallocFamily) {
  HeapCount heap;
  sink = ::operator new(16);
  ::operator delete(sink);
  sink = std::malloc(8);
  std::free(sink);
  sink = std::calloc(2, 8);
  std::free(sink);
  EXPECT_EQ(heap.calls(), 3);
}

TEST_F(ArraysTest, RecordOperationsDoNotCallTheHeap) {
  initThreadBuffers();
  setRuntimeMessageHook(nullptr); // the capturing hook itself allocates
  double reals[6] = {1, 2, 3, 4, 5, 6};
  const int sizes[] = {2, 3};
  const int subscripts[] = {2, 3};
  HeapCount heap;
  RealArray r = RealAllocDims(2, 2, 3);
  IntegerArray i = IntegerAllocList(2, sizes);
  StringArray s = StringAllocMatrix(2, 3);
  RealAllocDimsNon(1, 2);
  IntegerMakeHeaderNon(2, sizes);
  StringAllocVector(3);
  for (int k = 0; k < 6; ++k) {
    r.data[k] = k;
    i.data[k] = k;
    s.data[k] = const_cast<char *>("x");
  }
  RealSetElement(1.5, r, 1, 2);
  IntegerSetElement(3, i, 2, 1);
  StringSetElement("y", s, 1, 1);
  sink = RealElementAddress(r, 2, 2);
  sink = StringGetElement(s, 2, 3);
  const double got = RealGetElement(r, 1, 2) + IntegerGetElement(i, 2, 1);
  const int n = DimsLinearIndex(2, sizes, subscripts) + RealSize(r, 1) + IntegerNrElements(i) +
                StringMatchingSizes(s, s);
  RealAssign(RealAllocLike(r), r);
  IntegerCopy(i);
  StringCopy(s);
  RealSizeVector(r);
  RealCopyData(reals, r);
  RealWrapData(reals, 2, 3, 2);
  IntegerFromRealData(reals, 1, 6);
  RealPrint(r);
  IntegerPrint(i);
  StringPrint(s);
  EXPECT_EQ(heap.calls(), 0);
  EXPECT_EQ(got, 4.5);
  EXPECT_EQ(n, 5 + 2 + 6 + 1);
}

TEST_F(ArraysTest, ConstructionAndShapeOperationsDoNotCallTheHeap) {
  initThreadBuffers();
  setRuntimeMessageHook(nullptr);
  HeapCount heap;
  const RealArray v = RealVectorOfScalars(3, 1.0, 2.0, 3.0);
  const IntegerArray iv = IntegerVectorOfScalars(2, 1, 2);
  const StringArray sv = StringVectorOfScalars(2, "a", "b");
  const RealArray m = RealArrayOfArrays(2, v, v);
  IntegerArrayOfArrays(2, iv, iv);
  StringCat(1, 2, sv, sv);
  RealCat(2, 2, m, m);
  RealPromote(v, 3);
  IntegerPromoteScalar(1, 2);
  RealFillInPlace(m, 0.5);
  StringFill("x", 2, 2, 2);
  IntegerFillArray(iv, 1, 3);
  RealToScalar(RealPromoteScalar(1, 0));
  RealToVector(RealPromote(v, 2));
  StringToMatrix(sv);
  RealTranspose(m);
  IntegerOuterproduct(iv, iv);
  RealSymmetric(RealOuterproduct(v, v));
  int fired = 0;
  const int whenResult = IntegerWhen(iv, iv, IntegerAllocLike(iv), 1, &fired) + RealFloor(2.5);
  EXPECT_EQ(heap.calls(), 0);
  EXPECT_EQ(whenResult, 3);
}

TEST_F(ArraysTest, FieldViewAndReversalOperationsDoNotCallTheHeap) {
  initThreadBuffers();
  setRuntimeMessageHook(nullptr);
  double records[2][2] = {{1, 2}, {3, 4}};
  HeapCount heap;
  const RealArray a = RealWrapData(&records[0][0], 2, 2, 2);
  RealRecordField(a, 8);
  IntegerRecordField(a, 0);
  RealRecordDims(a);
  const IntegerArray cube = IntegerFill(1, 3, 2, 3, 4);
  IntegerSubArray(1, 1, cube);
  const IntegerArray reversed = IntegerReverseDims(cube);
  IntegerReverseDimsInto(reversed, cube);
  StringReverseDims(StringFill("s", 2, 2, 3));
  EXPECT_EQ(heap.calls(), 0);
}

} // namespace
