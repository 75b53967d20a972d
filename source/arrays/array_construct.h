#pragma once
/* Construction, concatenation, promotion, fill and shape operations.
 *
 * Results are new arrays in the calling thread's buffers, except the views:
 * Promote, ToVector and ToMatrix return a new size vector over the argument's
 * elements (writing through the view writes the argument), and FillInPlace
 * returns its argument.  The arrays, scalars and sizes in a variable argument
 * list follow the leading counts: arrays as records by value, Real scalars as
 * doubles, Integer scalars and sizes as ints, String scalars as pointers.
 *
 * This header compiles as C11 and as C++. */

#include "source/arrays/array_records.h"

#ifdef __cplusplus
extern "C" {
#endif

/* {a1, ..., an}, n >= 1 arrays of equal shape: sizes (n, sizes of a1). */
RealArray RealArrayOfArrays(int n, ...);
IntegerArray IntegerArrayOfArrays(int n, ...);
StringArray StringArrayOfArrays(int n, ...);

/* {x1, ..., xn}: a vector of n scalars. */
RealArray RealVectorOfScalars(int n, ...);
IntegerArray IntegerVectorOfScalars(int n, ...);
StringArray StringVectorOfScalars(int n, ...);

/* cat(k, a1, ..., an), n >= 1, along dimension k counted from 1. */
RealArray RealCat(int k, int n, ...);
IntegerArray IntegerCat(int k, int n, ...);
StringArray StringCat(int k, int n, ...);

/* View of a with n dimensions: a's sizes followed by sizes 1. */
RealArray RealPromote(RealArray a, int n);
IntegerArray IntegerPromote(IntegerArray a, int n);
StringArray StringPromote(StringArray a, int n);

/* A new array of one element x with n dimensions of size 1. */
RealArray RealPromoteScalar(double x, int n);
IntegerArray IntegerPromoteScalar(int x, int n);
StringArray StringPromoteScalar(const char *x, int n);

/* Every element of a := value; returns a. */
RealArray RealFillInPlace(RealArray a, double value);
IntegerArray IntegerFillInPlace(IntegerArray a, int value);
StringArray StringFillInPlace(StringArray a, const char *value);

/* fill(value, d1, ..., dn): the value first, then ndims and the sizes. */
RealArray RealFill(double value, int ndims, ...);
IntegerArray IntegerFill(int value, int ndims, ...);
StringArray StringFill(const char *value, int ndims, ...);

/* fill(a, d1, ..., dn): sizes (d1, ..., dn, sizes of a), every block a copy
 * of a. */
RealArray RealFillArray(RealArray a, int n, ...);
IntegerArray IntegerFillArray(IntegerArray a, int n, ...);
StringArray StringFillArray(StringArray a, int n, ...);

/* scalar(a): the only element of a. */
double RealToScalar(RealArray a);
int IntegerToScalar(IntegerArray a);
char *StringToScalar(StringArray a);

/* vector(a): view with one dimension. */
RealArray RealToVector(RealArray a);
IntegerArray IntegerToVector(IntegerArray a);
StringArray StringToVector(StringArray a);

/* matrix(a): view with two dimensions (a 0-dimensional a gives 1x1). */
RealArray RealToMatrix(RealArray a);
IntegerArray IntegerToMatrix(IntegerArray a);
StringArray StringToMatrix(StringArray a);

/* transpose(a): the first two subscripts swapped, the rest kept. */
RealArray RealTranspose(RealArray a);
IntegerArray IntegerTranspose(IntegerArray a);
StringArray StringTranspose(StringArray a);

/* outerProduct(a, b) of two vectors. */
RealArray RealOuterproduct(RealArray a, RealArray b);
IntegerArray IntegerOuterproduct(IntegerArray a, IntegerArray b);

/* symmetric(a): a's diagonal and upper triangle, mirrored below. */
RealArray RealSymmetric(RealArray a);
IntegerArray IntegerSymmetric(IntegerArray a);
StringArray StringSymmetric(StringArray a);

/* floor(x) as an int; NaN and values outside the 32-bit range give
 * -2147483648. */
int RealFloor(double x);

/* The when-test of an array condition: where cond[i] is 0, flags[i] := 1;
 * where cond[i] and eval[i] are non-zero and enable is non-zero, *fired := 1,
 * flags[i] := 0, and the result is 1.  flags holds at least as many elements
 * as cond (its shape is not looked at). */
int IntegerWhen(IntegerArray cond, IntegerArray eval, IntegerArray flags, int enable, int *fired);

#ifdef __cplusplus
}
#endif
