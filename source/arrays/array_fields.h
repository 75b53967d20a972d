#pragma once
/* Record fields, views and dimension reversal.
 *
 * A record array is passed as a RealArray whose data points at the first
 * record and whose last size is the length of one record in 8-byte units:
 * with sizes (d1, ..., dm, L) it holds d1*...*dm records of L*8 bytes, one
 * after the other in row-major order.  A member is named by its byte offset
 * in the record: a scalar member is a double, an int or a string pointer; an
 * array member is an array record (ndims, dims, data) stored in the record,
 * laid out as this platform lays out the record types below.
 *
 * The views share storage with their argument; the reversal turns row-major
 * storage into column-major storage and back.
 *
 * This header compiles as C11 and as C++. */

#include "source/arrays/array_records.h"

#ifdef __cplusplus
extern "C" {
#endif

/* The scalar member at the byte offset of every record: an array of sizes
 * (d1, ..., dm). */
RealArray RealRecordField(RealArray a, int offset);
IntegerArray IntegerRecordField(RealArray a, int offset);
StringArray StringRecordField(RealArray a, int offset);

/* The array member at the byte offset of every record, stacked: sizes
 * (d1, ..., dm, sizes of the member); every record's member has the same
 * shape. */
RealArray RealRecordSlice(RealArray a, int offset);
IntegerArray IntegerRecordSlice(RealArray a, int offset);
StringArray StringRecordSlice(RealArray a, int offset);

/* The Integer vector (d1, ..., dm) of a record array's sizes. */
IntegerArray RealRecordDims(RealArray a);

/* The view of block number `block` (0-based, row-major) of the first k
 * dimensions: the remaining ndims - k dimensions, sharing a's sizes and
 * elements.  Nothing is allocated or tested: 0 <= k <= ndims and
 * 0 <= block < product of the first k sizes. */
RealArray RealSubArray(int k, int block, RealArray a);
IntegerArray IntegerSubArray(int k, int block, IntegerArray a);
StringArray StringSubArray(int k, int block, StringArray a);
/* Second names of RealSubArray and RealSize. */
RealArray RealSubArrayView(int k, int block, RealArray a);
int RealSizeDim(RealArray a, int i);

/* Element (i1, ..., in) of the result is a's (in, ..., i1); an array of 0 or 1
 * dimensions is returned itself. */
RealArray RealReverseDims(RealArray a);
IntegerArray IntegerReverseDims(IntegerArray a);
StringArray StringReverseDims(StringArray a);

/* The reversal into dest, which has src's sizes in reverse order and storage
 * of its own. */
void RealReverseDimsInto(RealArray dest, RealArray src);
void IntegerReverseDimsInto(IntegerArray dest, IntegerArray src);
void StringReverseDimsInto(StringArray dest, StringArray src);

/* One level of the reversal: dest's subscript number `level` (from 0) walks
 * its size while the source position advances by stride. */
void RealReverseDimsStep(RealArray dest, int base, RealArray src, int offset, int stride,
                         int level);
void IntegerReverseDimsStep(IntegerArray dest, int base, IntegerArray src, int offset, int stride,
                            int level);
void StringReverseDimsStep(StringArray dest, int base, StringArray src, int offset, int stride,
                           int level);

#ifdef __cplusplus
}
#endif
