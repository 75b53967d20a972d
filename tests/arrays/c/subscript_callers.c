/* Generated model code is C: these callers use subscripting, the matrix
 * operations and the string conversions as such code does, with records by
 * value and tagged variable argument lists that carry index vectors by
 * value. */
#include "tests/arrays/c/subscript_callers.h"

#include <string.h>

#include "source/arrays/arrays.h"

int cReachedAfterAssign = 0;

int cSubscriptAndMatrixOperations(double *values, int capacity) {
  int n = 0;
  RealArray a = RealAllocMatrix(3, 4);
  IntegerArray order = IntegerRange(3, 1, -2); /* {3, 1} */
  RealArray part;
  RealArray column;
  RealArray product;
  IntegerArray flags;
  int k;
  for (k = 0; k < 12; ++k) a.data[k] = k;
  part = RealSubscript(a, SubscriptVector, order, SubscriptStepRange, 4, -3, 1, SubscriptEnd);
  column = RealSubscript(a, SubscriptColon, SubscriptScalar, 2, SubscriptEnd);
  RealSubscriptAssign(RealLinspace(-1, -2, 3), a, SubscriptColon, SubscriptScalar, 4, SubscriptEnd);
  product = RealMatVec(a, RealRange(1, 4, 1));
  flags = IntegerOr(IntegerNot(order), IntegerRange(0, 1, 1)); /* {0, 1} */
  if (capacity < 13) return 0;
  values[n++] = part.ndims;
  values[n++] = part.dims[0] * 10 + part.dims[1];
  values[n++] = part.data[0]; /* a(3, 4) */
  values[n++] = part.data[1]; /* a(3, 1) */
  values[n++] = part.data[2]; /* a(1, 4) */
  values[n++] = part.data[3]; /* a(1, 1) */
  values[n++] = column.data[2];
  values[n++] = a.data[7];
  values[n++] = product.data[0];
  values[n++] = product.data[2];
  values[n++] = flags.dims[0];
  values[n++] = flags.data[1];
  values[n++] = IntegerScalarProduct(IntegerRange(1, 3, 1), IntegerRange(3, 1, -1));
  return n;
}

void cStringConversions(char *text, int capacity) {
  StringArray names = StringAllocVector(2);
  char *joined;
  names.data[0] = (char *)"low";
  names.data[1] = (char *)"high";
  joined = concatStrings(realToString(0.25, 1, 6), "|");
  joined = concatStrings(joined, realToStringFormat(3.0, "+.2e"));
  joined = concatStrings(joined, "|");
  joined = concatStrings(joined, enumerationToString(2, 0, 5, names));
  joined = concatStrings(joined, booleanToString(0, 1, 0));
  if ((int)strlen(joined) < capacity) strcpy(text, joined);
}

static void assignThirdRow(RealArray out, IntegerArray where) {
  RealSubscriptAssign(RealAllocVector(2), out, SubscriptScalar, 3, SubscriptVector, where,
                      SubscriptEnd);
}

void cAssignOutsideTheArray(void) {
  RealArray out = RealAllocMatrix(3, 2);
  IntegerArray where = IntegerRange(2, 3, 1);
  assignThirdRow(out, where);
  cReachedAfterAssign = 1;
}
