#pragma once
/* Matrix operations, ranges and Boolean operations.
 *
 * Matrices are two-dimensional arrays in row-major order, vectors are
 * one-dimensional arrays.  Real and Integer arrays have the same matrix
 * operations with the same checks and messages; Real arithmetic is IEEE
 * double, Integer arithmetic is 32-bit two's complement and wraps on overflow.
 * Boolean arrays are Integer arrays: the Boolean operations read any non-zero
 * element as true and write 1 for true, 0 for false.
 *
 * Products: every element of a Real product is a sum that starts at 0 and
 * adds the products of its terms in increasing order, so it equals a plain
 * loop bit for bit (no fused multiply-adds, no reassociation).  The Into forms
 * write into a result the caller gives (returned); it may share storage with
 * an operand, in which case the product is formed in a temporary first.  The
 * plain forms allocate the result from the calling thread's buffers after
 * every check has passed.
 *
 * Every result is a new array in the calling thread's buffers, except that
 * Power(a, 1) returns a itself.  A failed check is a runtime assertion (a
 * model error that does not return); element counts are checked in 64 bits
 * before anything is allocated.
 *
 * This header compiles as C11 and as C++; all functions have C linkage. */

#include "source/arrays/array_records.h"

#ifdef __cplusplus
extern "C" {
#endif

/* ---- special matrices ------------------------------------------------- */

/* The n x n matrix with the n elements of the vector v on its diagonal. */
RealArray RealDiagonal(RealArray v);
IntegerArray IntegerDiagonal(IntegerArray v);

/* The n x n identity matrix. */
RealArray RealIdentity(int n);
IntegerArray IntegerIdentity(int n);

/* Cross product of two 3-vectors. */
RealArray RealCross(RealArray x, RealArray y);
IntegerArray IntegerCross(IntegerArray x, IntegerArray y);

/* The skew-symmetric 3 x 3 matrix of the 3-vector x: Skew(x) * y equals
 * Cross(x, y). */
RealArray RealSkew(RealArray x);
IntegerArray IntegerSkew(IntegerArray x);

/* ---- products ---------------------------------------------------------- */

/* res := a * b (matrix times matrix, matrix times vector, vector times
 * matrix); returns res. */
RealArray RealMatMulInto(RealArray res, RealArray a, RealArray b);
RealArray RealMatVecInto(RealArray res, RealArray a, RealArray b);
RealArray RealVecMatInto(RealArray res, RealArray a, RealArray b);
IntegerArray IntegerMatMulInto(IntegerArray res, IntegerArray a, IntegerArray b);
IntegerArray IntegerMatVecInto(IntegerArray res, IntegerArray a, IntegerArray b);
IntegerArray IntegerVecMatInto(IntegerArray res, IntegerArray a, IntegerArray b);

/* The same products into a new result. */
RealArray RealMatMul(RealArray a, RealArray b);
RealArray RealMatVec(RealArray a, RealArray b);
RealArray RealVecMat(RealArray a, RealArray b);
IntegerArray IntegerMatMul(IntegerArray a, IntegerArray b);
IntegerArray IntegerMatVec(IntegerArray a, IntegerArray b);
IntegerArray IntegerVecMat(IntegerArray a, IntegerArray b);

/* Sum of a(i) * b(i) over two vectors of equal length. */
double RealScalarProduct(RealArray a, RealArray b);
int IntegerScalarProduct(IntegerArray a, IntegerArray b);

/* The square matrix a raised to the power n >= 0: a itself for n = 1 (the
 * same record, sharing a's storage), the identity for n = 0, else products
 * by repeated squaring (a^3 = (a*a)*a). */
RealArray RealPower(RealArray a, int n);
IntegerArray IntegerPower(IntegerArray a, int n);

/* ---- ranges ------------------------------------------------------------- */

/* The vector first, first + step, ... up to last (downward for a negative
 * step); a step of 0 fails.  Real ranges include a last point that the steps
 * reach only within rounding (0:0.1:0.3 has four elements); element i is
 * i * step + first.  A range with more than 2147483647 elements fails; a NaN
 * bound or step gives an empty range. */
RealArray RealRange(double first, double last, double step);
IntegerArray IntegerRange(int first, int last, int step);

/* n >= 2 points from x1 to x2 with equal spacing; the last is x2 exactly. */
RealArray RealLinspace(double x1, double x2, int n);

/* ---- inverse ------------------------------------------------------------- */

/* The inverse of the square matrix A (A is not changed), row by row from the
 * runtime's dense linear solver on its QR path with equilibration, one
 * factorisation for all rows; the solver's work arrays are released when the
 * inverse is complete.  A row that the solver does not accept fails with
 * "Inverse failed", except for a 1 x 1 matrix, whose inverse is then (0); a
 * row that a singular matrix admits as an accepted minimum-norm solution is
 * kept without an error.  Not the tool to decide whether a matrix is
 * invertible. */
RealArray RealInverse(RealArray A);

/* ---- Boolean operations -------------------------------------------------- */

/* Element-wise not, and, or; and/or need arguments of the same shape. */
IntegerArray IntegerNot(IntegerArray a);
IntegerArray IntegerAnd(IntegerArray a, IntegerArray b);
IntegerArray IntegerOr(IntegerArray a, IntegerArray b);

#ifdef __cplusplus
}
#endif
