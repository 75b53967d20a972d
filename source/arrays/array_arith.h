#pragma once
/* Element-wise arithmetic and reductions of Real and Integer arrays.
 *
 * An Into form writes into the result the caller gives (which may be the very
 * array a or b) and returns that record; the plain form allocates a result of
 * a's shape first and then calls the Into form.  Integer arithmetic is 32-bit
 * two's complement and wraps; Real arithmetic is IEEE.  Real reductions run
 * strictly in storage order, so they equal a plain left-to-right loop bit for
 * bit.
 *
 * This header compiles as C11 and as C++. */

#include "source/arrays/array_records.h"

#ifdef __cplusplus
extern "C" {
#endif

/* res := a + b */
RealArray RealAddInto(RealArray res, RealArray a, RealArray b);
IntegerArray IntegerAddInto(IntegerArray res, IntegerArray a, IntegerArray b);
RealArray RealAdd(RealArray a, RealArray b);
IntegerArray IntegerAdd(IntegerArray a, IntegerArray b);

/* res := a - b */
RealArray RealSubtractInto(RealArray res, RealArray a, RealArray b);
IntegerArray IntegerSubtractInto(IntegerArray res, IntegerArray a, IntegerArray b);
RealArray RealSubtract(RealArray a, RealArray b);
IntegerArray IntegerSubtract(IntegerArray a, IntegerArray b);

/* res := a * t */
RealArray RealScaleInto(RealArray res, RealArray a, double t);
IntegerArray IntegerScaleInto(IntegerArray res, IntegerArray a, int t);
RealArray RealScale(RealArray a, double t);
IntegerArray IntegerScale(IntegerArray a, int t);

/* res := -a (Real: the sign bit inverted, so 0 gives -0) */
RealArray RealNegateInto(RealArray res, RealArray a);
IntegerArray IntegerNegateInto(IntegerArray res, IntegerArray a);
RealArray RealNegate(RealArray a);
IntegerArray IntegerNegate(IntegerArray a);

/* a * (1/t) as a new array; t equal to 0 fails. */
RealArray RealScaleDiv(RealArray a, double t);

/* Reductions; an empty array gives the seed: 0 for the sums, 1 for the
 * product, the most negative value for the maximum and the most positive one
 * for the minimum.  A NaN element never becomes the maximum or minimum. */
double RealSum(RealArray a);
int IntegerSum(IntegerArray a);
double RealSumAbs(RealArray a);
int IntegerSumAbs(IntegerArray a);
double RealMax(RealArray a);
int IntegerMax(IntegerArray a);
double RealMin(RealArray a);
int IntegerMin(IntegerArray a);
double RealProduct(RealArray a);
int IntegerProduct(IntegerArray a);

/* The sum of |(a[k] - b[k]) / (|a[k]| + 1)| over arrays of equal element
 * counts. */
double RealDiff(RealArray a, RealArray b);

/* Conversions with new elements that share a's size vector.  RealToInteger
 * floors; NaN and values outside the 32-bit range give -2147483648. */
RealArray RealFromInteger(IntegerArray a);
IntegerArray RealToInteger(RealArray a);

#ifdef __cplusplus
}
#endif
