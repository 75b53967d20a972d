// Once the calling thread's buffers exist, subscripting, the matrix, range
// and inverse operations and the string conversions do not call the heap.
#include "tests/arrays/heap_count.h"
#include "tests/arrays/support.h"

namespace {

TEST_F(ArraysTest, SubscriptMatrixAndStringOperationsDoNotCallTheHeap) {
  initThreadBuffers();
  realToString(1.5, 0, 0);        // the "C" locale object exists from here on
  setRuntimeMessageHook(nullptr); // the capturing hook itself allocates
  const StringArray names = StringAllocVector(2);
  names.data[0] = const_cast<char *>("one");
  names.data[1] = const_cast<char *>("two");
  HeapCount heap;
  const RealArray a = RealIdentity(4);
  const IntegerArray ia = IntegerIdentity(3);
  const IntegerArray v = IntegerRange(3, 1, -1);
  RealSubscript(a, SubscriptRange, 1, 2, SubscriptVector, v, SubscriptEnd);
  IntegerSubscript(ia, SubscriptColon, SubscriptScalar, 2, SubscriptEnd);
  StringSubscript(names, SubscriptStepRange, 2, -1, 1, SubscriptEnd);
  RealSubscriptAssign(RealRange(0, 1, 0.5), a, SubscriptScalar, 1, SubscriptVector, v,
                      SubscriptEnd);
  IntegerSubscriptAssign(ia, ia, SubscriptEnd);
  StringSubscriptAssign(names, names, SubscriptColon, SubscriptEnd);
  const RealArray x = RealLinspace(0, 1, 3);
  RealMatMul(a, RealPower(a, 5));
  RealMatMulInto(a, a, a);
  RealInverse(RealDiagonal(RealRange(1, 4, 1)));
  RealInverse(RealPower(a, 2));
  RealMatVec(RealSkew(x), RealCross(x, x));
  IntegerVecMat(IntegerRange(1, 3, 1), IntegerDiagonal(v));
  const double dot = RealScalarProduct(x, x) + IntegerScalarProduct(v, v);
  IntegerOr(IntegerNot(v), IntegerAnd(v, v));
  concatStrings(realToStringFormat(2.0, ".3f"), integerToStringDigits(7, 4, 3));
  realToStringJustified(-0.0, 1, 5, 3);
  integerToString(-1, 0, 3);
  booleanToString(1, 1, 8);
  enumerationToString(2, 0, 6, names);
  EXPECT_EQ(heap.calls(), 0);
  EXPECT_EQ(dot, 1.25 + 14);
}

} // namespace
