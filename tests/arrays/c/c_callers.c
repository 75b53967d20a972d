/* Generated model code is C: these callers use the array library as such code
 * does, through the C names with records by value and variable argument
 * lists of sizes and subscripts. */
#include "tests/arrays/c/c_callers.h"

#include "source/arrays/arrays.h"

int cReachedAfterError = 0;

int cRecordOperations(double *values, int capacity) {
  int n = 0;
  double caller[4] = {1.0, 2.0, 3.0, 4.0};
  static const double truncated[2] = {2.7, -2.7};
  RealArray r = RealAllocDims(2, 2, 3);
  IntegerArray i = IntegerAllocDims(3, 2, 2, 2);
  StringArray s = StringAllocDimsNon(1, 2);
  RealArray wrapped = RealWrapData(caller, 2, 2, 2);
  IntegerArray fromReal = IntegerFromRealData(truncated, 1, 2);
  IntegerArray sizes;
  RealSetElement(1.5, r, 2, 3);
  IntegerSetElement(-4, i, 2, 1, 2);
  StringSetElement("text", s, 2);
  *RealElementAddress(r, 1, 1) = 0.25;
  sizes = RealSizeVector(r);
  if (capacity < 10) return 0;
  values[n++] = RealGetElement(r, 2, 3);
  values[n++] = r.data[0];
  values[n++] = IntegerGetElement(i, 2, 1, 2);
  values[n++] = StringGetElement(s, 2)[0];
  values[n++] = RealGetElement(wrapped, 2, 1);
  values[n++] = fromReal.data[0];
  values[n++] = fromReal.data[1];
  values[n++] = IntegerGetElement(sizes, 2);
  values[n++] = RealNrElements(r) + IntegerSize(i, 3);
  values[n++] = StringMatchingSizes(s, StringAllocVector(2));
  return n;
}

int cConstructOperations(double *values, int capacity) {
  int n = 0;
  RealArray v = RealVectorOfScalars(3, 1.0, 2.0, 3.0);
  IntegerArray iv = IntegerVectorOfScalars(2, -1, 7);
  StringArray sv = StringVectorOfScalars(2, "first", "second");
  RealArray rows = RealArrayOfArrays(2, v, RealFill(0.5, 1, 3));
  IntegerArray joined = IntegerCat(1, 2, iv, IntegerFill(9, 1, 1));
  StringArray blocks = StringFillArray(sv, 1, 2);
  if (capacity < 8) return 0;
  values[n++] = RealSize(rows, 1) * 10 + RealSize(rows, 2);
  values[n++] = RealGetElement(rows, 2, 3);
  values[n++] = IntegerNrElements(joined);
  values[n++] = IntegerGetElement(joined, 3);
  values[n++] = StringGetElement(blocks, 2, 2)[0];
  values[n++] = RealToScalar(RealPromoteScalar(4.0, 2));
  values[n++] = RealFloor(-0.5);
  values[n++] = IntegerToScalar(IntegerFill(6, 0));
  return n;
}

static double readFourth(RealArray v) { return RealGetElement(v, 4); }

void cReadOutsideTheArray(void) {
  RealArray v = RealAllocVector(3);
  double x = readFourth(v);
  cReachedAfterError = 1;
  (void)x;
}
