#pragma once
/* Array records, allocation and element access.
 *
 * Real, Integer and String arrays of any number of dimensions, stored
 * row-major (the last subscript varies fastest).  Boolean arrays are Integer
 * arrays holding 0 and 1.  The records are small values: every operation takes
 * its arrays by value and returns a new record by value; copying a record
 * copies the three fields only, so two records may share one size vector and
 * one element block.
 *
 * Ownership: the library never frees anything.  Size vectors and element
 * blocks come from the calling thread's evaluation buffers (released in bulk
 * by restoreMark and at the end of an evaluation), the Non forms take them
 * from the persistent buffers (never released), and the WrapData forms put a
 * new size vector around storage that the caller owns.  A new element block is
 * not initialised.
 *
 * Failures: every failed check is a runtime assertion (a model error that
 * unwinds to the evaluation entry and does not return); no operation returns
 * an error code.  Sizes and element counts are computed in 64 bits: a negative
 * number of dimensions, a negative size, or an element count above 2147483647
 * fails before anything is allocated.
 *
 * Conventions: variable argument lists put the count first and then the items
 * (RealAllocDims(ndims, d1, ..., dn)); SetElement takes the value first; the
 * sizes and subscripts in a variable argument list are ints.  All functions
 * have C linkage and may raise; C callers compile with -fexceptions so that a
 * model error unwinds through their frames.
 *
 * This header compiles as C11 and as C++. */

#ifdef __cplusplus
extern "C" {
#endif

/* ---- records ----------------------------------------------------------- */

typedef struct RealArray {
  int ndims;    /* number of dimensions, 0 or more */
  int *dims;    /* ndims sizes, first dimension first */
  double *data; /* the elements, row-major */
} RealArray;

typedef struct IntegerArray {
  int ndims;
  int *dims;
  int *data; /* 32-bit signed elements; Boolean arrays hold 0 and 1 */
} IntegerArray;

typedef struct StringArray {
  int ndims;
  int *dims;
  char **data; /* pointers to terminated strings; the characters are never copied */
} StringArray;

/* ---- constructors ------------------------------------------------------ */
/* Dims forms: the sizes follow ndims as ints.  List forms: a pointer to ndims
 * sizes.  MakeHeader: the size vector only (data left for the caller).  The
 * size vector is taken before the element block. */

RealArray RealAllocDims(int ndims, ...);
RealArray RealAllocList(int ndims, const int *sizes);
RealArray RealMakeHeader(int ndims, const int *sizes);
RealArray RealAllocDimsNon(int ndims, ...);
RealArray RealAllocListNon(int ndims, const int *sizes);
RealArray RealMakeHeaderNon(int ndims, const int *sizes);
RealArray RealAllocMatrix(int rows, int cols);
RealArray RealAllocVector(int n);
/* a's shape, new sizes and new (uninitialised) elements. */
RealArray RealAllocLike(RealArray a);

IntegerArray IntegerAllocDims(int ndims, ...);
IntegerArray IntegerAllocList(int ndims, const int *sizes);
IntegerArray IntegerMakeHeader(int ndims, const int *sizes);
IntegerArray IntegerAllocDimsNon(int ndims, ...);
IntegerArray IntegerAllocListNon(int ndims, const int *sizes);
IntegerArray IntegerMakeHeaderNon(int ndims, const int *sizes);
IntegerArray IntegerAllocMatrix(int rows, int cols);
IntegerArray IntegerAllocVector(int n);
IntegerArray IntegerAllocLike(IntegerArray a);

StringArray StringAllocDims(int ndims, ...);
StringArray StringAllocList(int ndims, const int *sizes);
StringArray StringMakeHeader(int ndims, const int *sizes);
StringArray StringAllocDimsNon(int ndims, ...);
StringArray StringAllocListNon(int ndims, const int *sizes);
StringArray StringMakeHeaderNon(int ndims, const int *sizes);
StringArray StringAllocMatrix(int rows, int cols);
StringArray StringAllocVector(int n);
StringArray StringAllocLike(StringArray a);

/* ---- element access ---------------------------------------------------- */
/* One 1-based int subscript per dimension follows the array. */

int DimsLinearIndex(int n, const int *sizes, const int *subscripts);
double *RealElementAddress(RealArray a, ...);

double RealGetElement(RealArray a, ...);
int IntegerGetElement(IntegerArray a, ...);
char *StringGetElement(StringArray a, ...);

void RealSetElement(double value, RealArray a, ...);
void IntegerSetElement(int value, IntegerArray a, ...);
/* Stores the pointer; the characters stay where they are and are never
 * written through the array. */
void StringSetElement(const char *value, StringArray a, ...);

/* ---- sizes ------------------------------------------------------------- */

/* Product of the n sizes; 1 when n is 0 or less. */
int DimsNrElements(int n, const int *sizes);
/* DimsNrElements(n - 1, sizes): all sizes but the last. */
int DimsNrElementsLeading(int n, const int *sizes);

int RealNrElements(RealArray a);
int IntegerNrElements(IntegerArray a);
int StringNrElements(StringArray a);

/* Size of dimension i, counted from 1. */
int RealSize(RealArray a, int i);
int IntegerSize(IntegerArray a, int i);
int StringSize(StringArray a, int i);

/* A new Integer vector of a's ndims sizes. */
IntegerArray RealSizeVector(RealArray a);
IntegerArray IntegerSizeVector(IntegerArray a);
IntegerArray StringSizeVector(StringArray a);

/* 1 when a and b have the same ndims and sizes, else 0. */
int RealMatchingSizes(RealArray a, RealArray b);
int IntegerMatchingSizes(IntegerArray a, IntegerArray b);
int StringMatchingSizes(StringArray a, StringArray b);

/* ---- copies and caller storage ----------------------------------------- */

/* Copies b's elements into a's storage (a is the destination). */
void RealAssign(RealArray a, RealArray b);
void IntegerAssign(IntegerArray a, IntegerArray b);
void StringAssign(StringArray a, StringArray b);

/* New sizes and new elements (String: the pointers) equal to a's. */
RealArray RealCopy(RealArray a);
IntegerArray IntegerCopy(IntegerArray a);
StringArray StringCopy(StringArray a);

/* Copies a's elements to dest, which holds RealNrElements(a) doubles. */
void RealCopyData(double *dest, RealArray a);

/* A new size vector (from the sizes following ndims) around the caller's
 * data, which stays the caller's. */
RealArray RealWrapData(double *data, int ndims, ...);
IntegerArray IntegerWrapData(int *data, int ndims, ...);
StringArray StringWrapData(char **data, int ndims, ...);

/* A new Integer array of the sizes following ndims whose element k is
 * values[k] truncated toward zero; NaN and values outside the 32-bit range
 * give -2147483648. */
IntegerArray IntegerFromRealData(const double *values, int ndims, ...);

/* ---- printing ---------------------------------------------------------- */
/* Logs the shape and the elements as message lines of level 0. */

void RealPrint(RealArray a);
void IntegerPrint(IntegerArray a);
void StringPrint(StringArray a);

#ifdef __cplusplus
}
#endif
