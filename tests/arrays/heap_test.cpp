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

} // namespace
